#pragma once

// The table browser's record commands: adding records through the data-entry window, deleting the
// current record after a question, narrowing the grid to the current record, and the listing report
// of the records shown. The browser dispatches its buttons, menu and grid events here.

#include <QObject>
#include <QString>

namespace dao {
class Variant;
}
namespace platform {
class ReportControl;
}

namespace browser {

class AdvanceViewForm;

class RecordCommands : public QObject {
    Q_OBJECT
public:
    // Wires the "Records" and "Reports" buttons and the grid's double click of the browser.
    explicit RecordCommands(AdvanceViewForm* form);

    // Adds records through the shared data-entry window, shown modally over the browser.
    void AddNewRecord();
    // The "Add" button: column widths kept, records added, the grid refreshed.
    void AddRecordBtn();
    // Asks, then deletes the current record. A delete the engine refuses is reported and changes nothing.
    void DeleteCurrentRecord();
    // Shows only the records whose first field equals that of the current record.
    void SelectThisRecordOnly();
    // No action: the data-entry window only adds records.
    void OpenCurrentRecord() {}
    void EditCurrentRecord() {}
    // The "&Listing" button: the report of the records of datPrimaryRS in a preview window.
    void ReportsBtn();

    platform::ReportControl* reportControl() const { return ReportC; }

    // The record source of SelectThisRecordOnly: every field of the table, where the first field
    // equals the value. Numbers are written as numbers (with '.' as decimal sign), anything else as
    // quoted text with apostrophes doubled; a Null value selects the records whose field is Null.
    static QString selectThisRecordSql(const QString& table, const QString& field, int fieldType,
                                       const dao::Variant& value);

private:
    void onGridDoubleClick();
    bool hasRecords() const;

    AdvanceViewForm* form_;
    platform::ReportControl* ReportC;
};

}  // namespace browser
