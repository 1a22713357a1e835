#pragma once

// The table browser: one table of a database file in a grid bound to the data control datPrimaryRS,
// with the search rows and options on the left, the bottom bar with the slide-up menu panels, and the
// status bar showing the current SQL text. The opener assigns DB_DATABASEFILE, DB_SELECTED_RECORDS and
// DB_SELECTED_TABLE, then shows the window modally; the table is loaded when the window is first shown.
// Each window serves one table; its settings are written when it closes (only when the table loaded).

#include <QDialog>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <vector>

#include "PanelControls.h"
#include "ToolCommands.h"
#include "common/WorkingDisplay.h"
#include "platform/dao/Variant.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace dao {
class Error;
class Recordset;
}  // namespace dao
namespace platform {
class DataControl;
class DataGrid;
}  // namespace platform

namespace browser {

class MenuPanels;
class RecordCommands;
class SearchRowArea;
struct SearchRow;

class AdvanceViewForm : public QDialog {
    Q_OBJECT
public:
    explicit AdvanceViewForm(QWidget* parent = nullptr);
    ~AdvanceViewForm() override;

    // A fresh browser with its members assigned in the openers' order, ready to be shown modally.
    static QDialog* create(QWidget* parent, const QString& dbFile, const QString& records, const QString& table);

    QString DB_SELECTED_TABLE;
    QString DB_SELECTED_RECORDS;
    QString DB_DATABASEFILE;

    // Re-opens the recordset ordered by the sort expression and hands the new one back; a failure is
    // reported and leaves the reference as it was.
    void DataSortR(std::shared_ptr<dao::Recordset>& datRecord, const QString& strCriteria);
    // The highest value of the field at lFieldIndex (the last one in ascending order), or 0 when there
    // is none, it is Null, or anything fails. The caller's recordset is not moved.
    dao::Variant GetLastID(std::shared_ptr<dao::Recordset> theRecordSet, long lFieldIndex);

    // Loads the table: record source, search rows, field lists, remembered order, operator, automatic
    // search and last query. Errors before the last query reach the caller.
    void LoadDatabase();
    void SelectThisRecordOnly();
    // Re-queries the record source, re-applies the order and returns to the same position.
    void RefreshTable();
    void OpenCurrentRecord();
    void EditCurrentRecord();
    void AddNewRecord();
    void DeleteCurrentRecord();
    // Back to every record of the table, ordered, first record current.
    void SelectAllRecords();
    void ResetMenus();
    // The filled search rows under the chosen operator, joined by " and ", ordered by OrderByBox.
    void SearchRecords();
    void SetColumsWidth();
    void SaveColumnsWidth();
    void ToggleMenu(int selTab);

    platform::DataControl* dataControl() const { return datPrimaryRS; }
    MenuPanels* menuPanels() const { return panels_; }
    RecordCommands* recordCommands() const { return commands_; }
    // The text of StatusBar panel 1: the record source last seen by the reposition handler.
    QString statusText() const;
    // Writes StatusBar panel 1; the reposition handler puts the record source back on the next change.
    void setStatusText(const QString& text);

    // For the tool commands: the panels' controls, the working display and the grid.
    const PanelControls& controls() const { return controls_; }
    common::WorkingWidgets workingWidgets() const;
    platform::DataGrid* grid() const { return grdDataGrid; }
    // Runs a tool command unless one is running already (a tool lets events through while it works).
    // Clicks on a tool's button while it runs, and those still queued when it ends, do nothing.
    // Automatic searches typed meanwhile run after it.
    void runTool(ToolRun run);
    bool toolRunning() const { return toolRunning_; }
    // Asks the running tool to stop at its next record boundary (Cancel, Escape).
    void requestToolStop();
    // Whether a browser of the process runs a tool over `table` of `file` (a second browser on that
    // table must wait for it).
    static bool toolRunsOn(const QString& file, const QString& table);
    // Tells in the status bar what a tool did.
    void showToolOutcome(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void buildSearchPanel();
    void buildControlPanel();
    void wireToolCommands();
    void loadStep();
    void fillFieldLists();
    void layoutOnResize();
    // The smallest size at which every control can still be reached.
    QSize minimumClientSize() const;
    void unload();

    void onReposition();
    void onDataError(int number, const QString& description, bool* handled);
    void onSearchBoxChanged();
    // Runs automatic searches while one is due (a keystroke came after the last one).
    void searchWhileDue();
    // One automatic search for the boxes as they are now, run on a worker thread while the window
    // goes on taking keystrokes; a newer keystroke abandons it.
    void runAutoSearch();
    std::vector<SearchRow> currentSearchRows() const;
    // A value the automatic search cannot take, told in the status bar (no box while typing).
    void reportInStatusBar(const QString& what, const dao::Error& e);
    void onClear(int row);
    void onOrderBySelected(int index);
    void showRange();
    void moveFirst();
    void moveLast();

    // Opens `source` ordered by the current sort field (when there is one) and shows it; on any
    // failure the window keeps the records and record source it had and the user is told why.
    bool showRecordSource(const QString& source, bool ordered, const QString& what);
    void reportRejected(const QString& what, const dao::Error& e);
    QString sortField() const;
    QString baseSql() const;

    platform::DataControl* datPrimaryRS;
    platform::DataGrid* grdDataGrid;
    QGroupBox* SearchPanel;
    SearchRowArea* searchRows_;
    QGroupBox* SSPanel2;
    QComboBox* OrderByBox;
    QComboBox* OperatorCombo;
    QCheckBox* FastSearchChk;
    QGroupBox* StatusPanel;
    QLabel* StatusLbl;
    QProgressBar* ProgBar;
    QPushButton* SearchBtn;
    QPushButton* SelectAllRecordsBtn;
    QPushButton* SaveBtn;
    QPushButton* ImportBtn;
    QFrame* Separator;
    QFrame* ControlPanel;
    QPushButton* MoveFirstBtn;
    QPushButton* MoveLastBtn;
    QPushButton* cmdClose;
    QStatusBar* StatusBar;
    QLabel* statusPanel1_;
    QFrame* WorkingPanel;
    QMenu* MenuOptions;
    MenuPanels* panels_ = nullptr;
    RecordCommands* commands_ = nullptr;
    PanelControls controls_;
    QPushButton* CancelToolBtn = nullptr;
    bool toolRunning_ = false;
    common::ToolStop toolStop_;
    bool closeAfterTool_ = false;
    bool toolFinishing_ = false;   // the tool has returned; input queued during it is being taken  // the user closed the window while a tool ran and chose to stop it
    int toolRuns_ = 0;             // tools run so far (a search that waited across one is stale)

    // The table's fields as loaded: names in field order and their engine type codes.
    QStringList fieldNames_;
    std::vector<int> fieldTypes_;
    bool loaded_ = false;
    // The table's load ran to its end; a window whose load failed or was abandoned shows defaults,
    // and closing it must not write them over the table's remembered settings.
    bool tableLoaded_ = false;
    bool unloaded_ = false;
    // Automatic search: one runs at a time; a keystroke meanwhile marks it due again and raises the
    // running one's cancel flag.
    bool autoSearching_ = false;
    bool autoSearchDue_ = false;
    std::shared_ptr<std::atomic<bool>> autoSearchCancel_;
};

}  // namespace browser
