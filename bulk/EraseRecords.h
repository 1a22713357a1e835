#pragma once

// Erase shown records: after one confirmation, deletes every record of the browser's record source,
// each deletion committed by itself. A record the engine refuses to delete (related records depend
// on it, a rule forbids it) is skipped and stays. A file that cannot be changed at all (read-only)
// stops the run at its first refusal instead of failing a million times in silence; the user is told
// once, with the engine's error. Whenever records stay, the user is told how many were erased and
// how many stayed.

#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "Progress.h"
#include "Prompter.h"
#include "platform/dao/Error.h"

namespace dao {
class Recordset;
}

namespace bulk {

class EraseRecords {
public:
    struct Result {
        bool confirmed = false;
        qint64 erased = 0;
        qint64 kept = 0;                    // records that stayed
        std::optional<dao::Error> stopped;  // the file refused every change
        bool interrupted = false;           // the user stopped it between two records
    };
    // The records to erase, opened afresh once the user has said Yes (the browser re-queries its
    // record source here, so the deletion works on what the source selects now).
    using Records = std::function<std::shared_ptr<dao::Recordset>()>;

    static QString question();
    static QString caption();
    // Whether a refused deletion is about that one record (the run goes on) rather than the file.
    static bool refusesOnlyThisRecord(const dao::Error& e);
    // The closing message ("" when every record was erased).
    static QString outcomeText(const Result& r);

    // Asks first (No is the default button). With `reportOutcome` the closing message is shown
    // through the prompter when records stayed.
    static Result run(const Records& records, Progress& progress = noProgress(),
                      Prompter& prompts = userPrompter(), bool reportOutcome = true);
};

}  // namespace bulk
