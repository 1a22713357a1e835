#pragma once

// Import: appends the records of a table text file (see TableTextFormat) to the browser's
// recordset, the values assigned to the fields by position. The file is accepted only when its
// header names exactly as many fields as the recordset has. Each record is committed by itself;
// the added records stand at the end of the recordset.

#include <QString>
#include <memory>

#include "bulk/Progress.h"
#include "bulk/Prompter.h"

namespace dao {
class Recordset;
}

namespace bulk {

struct ImportResult {
    bool cancelled = false;     // the file dialog was cancelled (error 32755): nothing was read
    bool rejected = false;      // the header does not fit the recordset: the format message
    bool aborted = false;       // Abort in the operation error box, or the file could not be read
    long long added = 0;        // records committed
    bool stopped = false;       // the user stopped it between two records
    long long cutAtLine = 0;    // the file ended inside a record, after this line: it was not added
};

class ImportTool {
public:
    // Questions, messages and refused steps go through `prompter`.
    ImportTool(std::shared_ptr<dao::Recordset> recordset, Progress& progress, Prompter& prompter = userPrompter());

    // The whole command: the open dialog (initial name: the table's name + ".txt"), then readFrom().
    ImportResult run(const QString& tableName);
    // Appends the records of the file at `path`.
    ImportResult readFrom(const QString& path);

    static QString dialogTitle();
    static QString caption();
    static QString formatMessage();
    static QString cutMessage(long long line);

private:
    std::shared_ptr<dao::Recordset> rs_;
    Progress& progress_;
    Prompter& prompts_;
};

}  // namespace bulk
