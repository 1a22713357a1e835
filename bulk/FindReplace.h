#pragma once

// Find and replace: sets one field of every record whose value equals the search text (as text,
// whole value, case-sensitive) to the replacement, or of every record when the search text is "*".
// A text or memo field takes the replacement as it is. On any other field both texts are read as
// values of the field's type, as a cell of the grid reads what is typed into it (a date as a date,
// Yes/No as True/False/Yes/No/-1/0, a GUID as its text; empty is Null), and a record matches when
// its value is that value; a text that is not a value of the type raises the conversion error
// naming the field before anything changes.

#include <QString>
#include <functional>

#include "Progress.h"
#include "Prompter.h"

namespace dao {
class Recordset;
}

namespace bulk {

class FindReplace {
public:
    struct Inputs {
        int field = -1;  // position of the field in the recordset; -1 = none chosen
        QString find;
        QString change;
    };
    struct Result {
        bool ran = false;    // there were records and a field
        qint64 visited = 0;  // records passed
        qint64 changed = 0;  // records written
        bool aborted = false;
        bool stopped = false;  // the user stopped it between two records
    };

    // The inputs are read again for every record (the panel stays usable while the tool runs).
    using ReadInputs = std::function<Inputs()>;

    // Caption of the working display.
    static QString caption();

    // Runs over every record from the first; leaves the recordset past its last record (or on the
    // record where the user chose Abort). Failed steps go to the prompter (Abort/Retry/Ignore).
    static Result run(dao::Recordset& rs, const ReadInputs& inputs, Progress& progress = noProgress(),
                      Prompter& prompts = userPrompter());
    static Result run(dao::Recordset& rs, const Inputs& inputs, Progress& progress = noProgress(),
                      Prompter& prompts = userPrompter());
};

}  // namespace bulk
