#pragma once

#include <QString>

// `tabulon-cli report FILE REPORTFILE OUT.pdf`: a report file (see platform/ReportFile.h) run over
// the database FILE into a PDF file.
namespace cli {

// Whether the report argument names a report file rather than a table or a select.
bool isReportFile(const QString& source);

// Runs the report file; engine and file errors raise dao::Error.
int runReportFile(const QString& database, const QString& reportFile, const QString& out);

}  // namespace cli
