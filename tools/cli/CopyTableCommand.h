#pragma once

#include <QStringList>
#include <functional>

namespace cli {

// tabulon-cli copy-table SOURCE TABLE DEST [--as NAME] [--append]: makes TABLE of SOURCE (any
// database name) in DEST (a PostgreSQL URI or an SQLite file, created when missing) and copies its
// records; prints the number copied. Wrong usage raises CliUsageError.
int runCopyTable(QStringList args, const std::function<void(const QString&)>& line);

}  // namespace cli
