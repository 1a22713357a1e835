#pragma once

// Export: every record of the browser's recordset, in its order and field order, to a table text
// file (see TableTextFormat). The file is written to a temporary file beside the target and put in
// place at the end, so that a value with a line break can still be refused before anything is
// written, and a cancelled run leaves an existing file as it was.

#include <QString>
#include <memory>

#include "bulk/Progress.h"
#include "bulk/Prompter.h"

namespace dao {
class Recordset;
}

namespace bulk {

struct ExportResult {
    bool cancelled = false;   // the file dialog was cancelled (error 32755): nothing was done
    bool declined = false;    // No to the line-break question: nothing was written
    bool aborted = false;     // Abort in the operation error box
    long long written = 0;    // records written
    long long valuesWithLineBreaks = 0;
};

class ExportTool {
public:
    // Questions, messages and refused steps go through `prompter`.
    ExportTool(std::shared_ptr<dao::Recordset> recordset, Progress& progress, Prompter& prompter = userPrompter());

    // The whole command: the save dialog (initial name: the table's name + ".txt"), then writeTo().
    ExportResult run(const QString& tableName);
    // Writes the file at `path`, replacing a file of that name.
    ExportResult writeTo(const QString& path);

    static QString dialogTitle();
    static QString caption();
    // The question asked when values hold line breaks.
    static QString lineBreakQuestion(long long count);

private:
    std::shared_ptr<dao::Recordset> rs_;
    Progress& progress_;
    Prompter& prompts_;
};

}  // namespace bulk
