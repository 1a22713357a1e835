#pragma once

#include <QString>
#include <functional>

namespace cli {

// tabulon-cli check FILE: prints what the consistency check of a Jet 4 / ACE file looked at, one
// line per part; returns 0 when it found no fault, 3 when it did, 1 when the file could not be
// checked at all.
int runCheck(const QString& file, const std::function<void(const QString&)>& line);

constexpr int kExitFaults = 3;

}  // namespace cli
