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
#include "bulk/Prompter.h"

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
    // Questions, messages and failures before the check go through `prompter`.
    VerifyTool(const QString& databaseFile, const QString& recordSource, Progress& progress,
               Prompter& prompter = userPrompter());

    // A renumbering the engine refuses is skipped without a word and the run goes on. Reported, it
    // goes through the prompter's runStep instead (tabulon-cli: an error unless --on-error ignore).
    void setReportRefused(bool report) { reportRefused_ = report; }

    // `fieldName` the field chosen; `checked` the "Make Numeric ID unique" box.
    VerifyResult run(const QString& fieldName, bool checked);

    // Whether Verify renumbers a field of this type: numbers and text; not Yes/No, dates, binary
    // data or GUIDs. Other types are refused with error 3464 and notRenumberedMessage.
    static bool renumbers(int fieldType);
    static QString notRenumberedMessage(const QString& fieldName);

    static QString nothingChosenMessage();
    static QString textFieldQuestion();
    static QString caption();

private:
    QString file_;
    QString source_;
    Progress& progress_;
    Prompter& prompts_;
    bool reportRefused_ = false;
};

}  // namespace bulk
