#pragma once

// tabulon-cli's bulk commands: replace, copy, total, operate, erase. Each runs the same unit of
// bulk/ as the browser's tool, over SOURCE (a table name or a select), with the prompts answered by
// flags, and prints what it did.

#include <QString>
#include <QStringList>
#include <functional>

namespace cli {

bool isBulkCommand(const QString& command);

// Runs the command on its arguments (the command word taken off). Prints its result through
// `print`, one line per call. Returns the exit status; engine errors are thrown (dao::Error), wrong
// usage as CliUsageError.
int runBulkCommand(const QString& command, const QStringList& args,
                   const std::function<void(const QString&)>& print);

}  // namespace cli
