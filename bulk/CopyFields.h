#pragma once

// Copy between fields: for every record, the source field's value goes into the destination field of
// the same record. Sources whose text equals the exclude text are skipped (an empty exclude text skips
// empty sources; Null sources are never copied); "keep existing" leaves destinations whose text is not
// empty; "erase source" clears a copied source (empty text for text fields, 0 for the others).

#include <QString>
#include <functional>
#include <optional>

#include "Progress.h"
#include "Prompter.h"
#include "platform/dao/Error.h"

namespace dao {
class Recordset;
}

namespace bulk {

class CopyFields {
public:
    struct Inputs {
        QString from;  // field names, looked up in the recordset
        QString to;
        QString exclude;
        bool keepExisting = false;
        bool eraseSource = false;
    };
    struct Result {
        bool sameField = false;  // refused before anything happened
        qint64 copied = 0;
        qint64 skipped = 0;
        std::optional<dao::Error> error;  // the failure that ended the copy
        bool stopped = false;             // the user stopped it between two records
    };
    using ReadInputs = std::function<Inputs()>;

    static QString caption();
    static QString sameFieldMessage();
    // The "Error in process" box's text: the error, and how many records were copied before it.
    static QString errorText(const dao::Error& error, qint64 copied);
    static QString errorTitle();

    // The progress runs from 10 to n + 10. A failure ends the copy; records copied before it stay
    // copied. With `reportErrors` the failure is shown in the "Error in process" box, else only
    // returned. Leaves the recordset past its last record (or on the record that failed).
    static Result run(dao::Recordset& rs, const ReadInputs& inputs, Progress& progress = noProgress(),
                      Prompter& prompts = userPrompter(), bool reportErrors = true);
    static Result run(dao::Recordset& rs, const Inputs& inputs, Progress& progress = noProgress(),
                      Prompter& prompts = userPrompter(), bool reportErrors = true);
};

}  // namespace bulk
