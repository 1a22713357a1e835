#pragma once

// Verify: makes the values of one field unique across the records of a record source. In every
// group of records sharing a value all but the last (in record-source order) receive new values,
// consecutive from the highest value plus one; Nulls are never changed. It works on a connection of
// its own to the database file; the caller re-queries its view afterwards.
//
// One pass counts the values, a second renumbers: n log n at most, not a comparison of every pair.
// When the record source reads one table, the new values start above the highest value of the
// whole table, so that a filtered view cannot hand out values held by records it does not show.

#include <QString>

#include "bulk/Progress.h"
#include "bulk/StepRunner.h"
#include "platform/dao/Error.h"

namespace bulk {

struct VerifyResult {
    bool nothingChosen = false;  // no field, or the check box not checked: the message only
    bool declined = false;       // No to the text-field question: nothing changed
    bool failed = false;         // the file, the record source or the field could not be opened
    bool aborted = false;        // a refused update ended the run (tabulon-cli)
    long long records = 0;       // records checked
    long long renumbered = 0;    // records that received a new value
    long long refused = 0;       // renumberings the engine refused (skipped)
};

class VerifyTool {
public:
    VerifyTool(const QString& databaseFile, const QString& recordSource, Progress& progress);

    // Failures before the records are checked (default: the operation error box; any answer but
    // Retry ends the run).
    void setStepRunner(StepRunner runner) { setup_ = std::move(runner); }
    // A renumbering the engine refuses (default: skipped without a word, and the run goes on).
    void setUpdateRunner(StepRunner runner) { update_ = std::move(runner); }

    // `fieldName` the field chosen; `checked` the "Make Numeric ID unique" box.
    VerifyResult run(const QString& fieldName, bool checked);

    static QString nothingChosenMessage();
    static QString textFieldQuestion();
    static QString caption();

private:
    QString file_;
    QString source_;
    Progress& progress_;
    StepRunner setup_ = operationErrorBox();
    StepRunner update_ = [](const std::function<void()>& step) {
        try {
            step();
            return common::StepResult::Done;
        } catch (const dao::Error&) {
            return common::StepResult::Ignored;
        }
    };
};

}  // namespace bulk
