#pragma once

// The list search window: a grid over one table with search-as-you-type on the order field, first
// and last record, ordering by a chosen field, deleting the current record, and adding records
// through the data-entry host window (optionally with the next identifier preset in the first
// field). The caller sets the four public fields, calls StartData, then shows the window.

#include <QDialog>
#include <QString>
#include <functional>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace platform {
class DataControl;
class DataGrid;
}  // namespace platform

namespace dialogs {

// What Add asks of the data-entry host window.
struct DataEntryRequest {
    QString caption;
    QString database;
    QString table;
    // With presetId, the control gets for field 0: SetDefault(identifier, 0), SetIncrement(1, 0),
    // SetInvisible(True, 0) and SetDisabled(0): the window numbers the records, by one per record
    // added while the host stays open, and the user types only the other fields. Without it none
    // of the four. Either way UnloadParent and AutoResize are set to True, so the host's Close
    // closes it and it takes the height of its rows.
    bool presetId = false;
    QString identifier;
};

class FrmListSearch : public QDialog {
    Q_OBJECT
public:
    explicit FrmListSearch(QWidget* parent = nullptr);
    ~FrmListSearch() override;

    QString SELECTED_TABLE;
    QString ORDER_FIELD;
    QString DATABASE_FILE;
    bool FIRST_FIELD_IS_ID = false;

    // Centres the window and loads the table, ordered by ORDER_FIELD when it is given.
    void StartData();

    // Shows the data-entry host window modally for one Add (see DataEntryRequest) and releases it
    // when it has closed. The default is the program's DataEntryFrm; tests put another in its place.
    // Engine errors raised here reach Add's Abort/Retry/Ignore box.
    using DataEntryHost = std::function<void(QWidget* parent, const DataEntryRequest& request)>;
    static DataEntryHost showDataEntry;

    // The identifier the next record gets: one more than the first field's value in the last
    // record, ordered by that field ("0" for an empty table; a value that is not a number counts
    // as 0). Re-sorts the data control by the first field, as Add does.
    QString NextIdentifier();

    platform::DataControl* dataControl() const { return datPrimaryRS; }
    platform::DataGrid* grid() const { return grdDataGrid; }
    QString statusHint() const;

public slots:
    void searchChanged(const QString& text);
    void orderBy(const QString& field);
    void moveFirst();
    void moveLast();
    void eraseRecord();
    void addRecord();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void layoutControls();
    void fillFieldLists();
    void restorePointer();
    void setHint(const QString& hint);

    platform::DataControl* datPrimaryRS;
    platform::DataGrid* grdDataGrid;
    QFrame* ControlPanel;
    QLabel* SearchLbl;
    QLineEdit* SearchTxT;
    QLabel* OrderByLbl;
    QComboBox* OrderByBox;
    QComboBox* RangeCombo;
    QLabel* FromLbl;
    QLineEdit* FromTxT;
    QLabel* ToLbl;
    QLineEdit* ToTxT;
    QPushButton* MoveFirstBtn;
    QPushButton* MoveLastBtn;
    QPushButton* EraseRecords;
    QPushButton* MenuButton;
    QPushButton* cmdClose;
    QStatusBar* StatusBar;
    QLabel* statusPanel1_;
};

}  // namespace dialogs
