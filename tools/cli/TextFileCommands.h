#pragma once

// tabulon-cli verify, export and import: the browser's units over FILE and SOURCE.

#include <QString>
#include <QStringList>

namespace cli {

bool isTextFileCommand(const QString& command);

// Runs the command with the arguments after its name. `printed` receives the line for stdout (a
// count). Returns the exit status; engine errors are thrown as dao::Error, wrong usage as
// CliUsageError.
int runTextFileCommand(const QString& command, const QStringList& args, QString& printed);

}  // namespace cli
