#include "AdvanceViewForm.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "BrowserSettings.h"
#include "MenuPanels.h"
#include "RecordCommands.h"
#include "SearchRowArea.h"
#include "SearchSql.h"
#include "common/OperationErrorBox.h"
#include "common/StandarFunctions.h"
#include "bulk/VerifyTool.h"
#include "platform/dao/JetSql.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Dao.h"

namespace browser {

namespace {

using platform::pixelsToTwipsX;
using platform::pixelsToTwipsY;
using platform::twipsToPixelsX;
using platform::twipsToPixelsY;

// Design size of the client area and the margins of the resize rules, in twips.
constexpr double kClientWidth = 12900, kClientHeight = 10950;
constexpr double kGridMargin = 200, kBarMargin = 700, kGridToBar = 50;
constexpr double kStatusBarHeight = 300;

void place(QWidget* w, double left, double top, double width, double height) {
    w->setGeometry(twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(width), twipsToPixelsY(height));
}

template <class W>
W* named(QWidget* parent, const char* name) {
    auto* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
    auto* b = named<QPushButton>(parent, name);
    b->setText(caption);
    return b;
}

QLabel* label(QWidget* parent, const QString& text, double l, double t, double w, double h) {
    auto* lbl = new QLabel(text, parent);
    place(lbl, l, t, w, h);
    return lbl;
}

// A label placed in twips keeps its whole text at a larger font: it grows to its text (wider, and
// taller around the same middle), and the box to its right gives up the room.
void fitBeside(QLabel* lbl, QWidget* box) {
    const QSize need = lbl->sizeHint();
    QRect r = lbl->geometry();
    if (need.height() > r.height()) r.adjust(0, -(need.height() - r.height()) / 2, 0, (need.height() - r.height() + 1) / 2);
    if (need.width() > r.width()) r.setWidth(need.width());
    lbl->setGeometry(r);
    const int gap = 4;
    if (box->x() < r.right() + gap) {
        const int right = box->geometry().right();
        const int left = r.right() + gap;
        box->setGeometry(left, box->y(), std::max(24, right - left + 1), box->height());
    }
}

// The hourglass on the window for one command.
class WaitCursor {
public:
    explicit WaitCursor(QWidget* w) : w_(w) { w_->setCursor(Qt::WaitCursor); }
    ~WaitCursor() { w_->unsetCursor(); }

private:
    QWidget* w_;
};

// The screen's pointer back to the default arrow.
void defaultPointer() {
    while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
}

}  // namespace

AdvanceViewForm::AdvanceViewForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AdvanceViewForm"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(false);

    datPrimaryRS = new platform::DataControl(this);
    datPrimaryRS->setObjectName(QStringLiteral("datPrimaryRS"));
    buildControls();
    commands_ = new RecordCommands(this);

    grdDataGrid->setDataSource(datPrimaryRS);
    // After the grid's own connection, so the grid has its new columns when widths are applied.
    connect(datPrimaryRS, &platform::DataControl::reposition, this, &AdvanceViewForm::onReposition);
    connect(datPrimaryRS, &platform::DataControl::error, this, &AdvanceViewForm::onDataError);

    // Enter in a search box or an input must not press a button of the dialog.
    for (QPushButton* b : findChildren<QPushButton*>()) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    setMinimumSize(minimumClientSize());
    resize(twipsToPixelsX(kClientWidth), twipsToPixelsY(kClientHeight));
}

QDialog* AdvanceViewForm::create(QWidget* parent, const QString& dbFile, const QString& records,
                                 const QString& table) {
    // A window whose tool still runs (closed, waiting for its tool to stop) keeps its table.
    if (toolRunsOn(dbFile, table)) {
        platform::MsgBox(QStringLiteral("A tool is still working on table ") + table +
                             QStringLiteral(". Open it again when the tool has ended."),
                         platform::vbInformation);
        return nullptr;
    }
    auto* w = new AdvanceViewForm(parent);
    w->DB_DATABASEFILE = dbFile;
    w->DB_SELECTED_RECORDS = records;
    w->DB_SELECTED_TABLE = table;
    return w;
}

AdvanceViewForm::~AdvanceViewForm() = default;

QSize AdvanceViewForm::minimumClientSize() const {
    // Tall enough for the search panel's lowest control above the status bar, and for the tallest
    // menu panel above the bar; wide enough for the bar's rightmost button and the widest panel.
    const int margin = twipsToPixelsY(60);
    int height = 0;
    for (const QWidget* w : SearchPanel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        height = std::max(height, SearchPanel->y() + w->geometry().bottom() + 1);
    int width = 0;
    for (const QWidget* w : ControlPanel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        width = std::max(width, ControlPanel->x() + w->geometry().right() + 1);
    int tallestPanel = 0;
    for (int i = 0; i < MenuPanels::PanelCount; ++i) {
        const QWidget* p = findChild<QWidget*>(QStringLiteral("MenuPanel(%1)").arg(i));
        if (!p) continue;
        tallestPanel = std::max(tallestPanel, p->height());
        width = std::max(width, twipsToPixelsX(MenuPanels::PanelLeftTwips) + p->width());
    }
    const int statusBar = twipsToPixelsY(kStatusBarHeight);
    height = std::max(height + margin, tallestPanel + ControlPanel->height() + margin) + statusBar;
    return {width + twipsToPixelsX(60), height};
}

// ---- controls ------------------------------------------------------------------------------------

void AdvanceViewForm::buildControls() {
    buildSearchPanel();

    Separator = named<QFrame>(this, "Separator");
    Separator->setFrameShape(QFrame::VLine);
    Separator->setFrameShadow(QFrame::Raised);
    place(Separator, 3330, 0, 60, 10650);

    grdDataGrid = named<platform::DataGrid>(this, "grdDataGrid");
    place(grdDataGrid, 3495, 45, 12615, 7320);
    grdDataGrid->setAccessibleName(QStringLiteral("Records"));
    grdDataGrid->viewport()->installEventFilter(this);

    buildControlPanel();

    StatusBar = named<QStatusBar>(this, "StatusBar");
    StatusBar->setSizeGripEnabled(true);
    statusPanel1_ = named<QLabel>(StatusBar, "Panel1");
    statusPanel1_->setTextFormat(Qt::PlainText);
    StatusBar->addWidget(statusPanel1_, 1);
    place(StatusBar, 0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);

    WorkingPanel = named<QFrame>(this, "WorkingPanel");
    WorkingPanel->setFrameShape(QFrame::Panel);
    WorkingPanel->setFrameShadow(QFrame::Raised);
    WorkingPanel->setLineWidth(2);
    WorkingPanel->setAutoFillBackground(true);
    auto* working = label(WorkingPanel, QStringLiteral("Working..."), 0, 0, 1740, 705);
    working->setAlignment(Qt::AlignCenter);
    place(WorkingPanel, 0, 0, 1740, 705);
    WorkingPanel->hide();
    WorkingPanel->raise();

    MenuOptions = new QMenu(QStringLiteral("Record"), this);
    MenuOptions->setObjectName(QStringLiteral("MenuOptions"));
    QAction* del =
        MenuOptions->addAction(QStringLiteral("&Delete"), this, &AdvanceViewForm::DeleteCurrentRecord);
    del->setObjectName(QStringLiteral("MenuBorrarRecord"));
    MenuOptions->addSeparator();
    MenuOptions->addAction(QStringLiteral("Add &New"), this, &AdvanceViewForm::AddNewRecord)
        ->setObjectName(QStringLiteral("MenuAddNew"));
    MenuOptions->addSeparator();
    MenuOptions->addAction(QStringLiteral("View &All"), this, &AdvanceViewForm::SelectAllRecords)
        ->setObjectName(QStringLiteral("MenuViewALl"));
    MenuOptions->setDefaultAction(del);
}

void AdvanceViewForm::buildSearchPanel() {
    SearchPanel = named<QGroupBox>(this, "SearchPanel");
    SearchPanel->setTitle(QStringLiteral("Search Query"));
    place(SearchPanel, 0, 0, 3330, 10650);

    searchRows_ = new SearchRowArea(SearchPanel);
    place(searchRows_, 150, 240, 3060, 4065);
    connect(searchRows_, &SearchRowArea::valueChanged, this, &AdvanceViewForm::onSearchBoxChanged);
    connect(searchRows_, &SearchRowArea::clearClicked, this, &AdvanceViewForm::onClear);

    SSPanel2 = named<QGroupBox>(SearchPanel, "SSPanel2");
    SSPanel2->setTitle(QStringLiteral("Search Options"));
    place(SSPanel2, 105, 4395, 3135, 1590);
    QLabel* orderByLabel = label(SSPanel2, QStringLiteral("&Order by:"), 120, 330, 1000, 285);
    OrderByBox = named<QComboBox>(SSPanel2, "OrderByBox");
    place(OrderByBox, 1110, 300, 1890, 345);
    fitBeside(orderByLabel, OrderByBox);
    orderByLabel->setBuddy(OrderByBox);
    QLabel* operatorLabel = label(SSPanel2, QStringLiteral("O&perator:"), 120, 765, 1000, 285);
    OperatorCombo = named<QComboBox>(SSPanel2, "OperatorCombo");
    place(OperatorCombo, 1110, 735, 1890, 345);
    fitBeside(operatorLabel, OperatorCombo);
    operatorLabel->setBuddy(OperatorCombo);
    FastSearchChk = named<QCheckBox>(SSPanel2, "FastSearchChk");
    FastSearchChk->setText(QStringLiteral("Auto Search"));
    FastSearchChk->setToolTip(
        QStringLiteral("Iniciar búsqueda cada vez que cambie alguno de los campos de búsqueda"));
    place(FastSearchChk, 120, 1170, 2880, 300);
    // Chosen by the user (the program's selections order the grid where they are made).
    connect(OrderByBox, &QComboBox::activated, this, &AdvanceViewForm::onOrderBySelected);

    StatusPanel = named<QGroupBox>(SearchPanel, "StatusPanel");
    StatusPanel->setTitle(QStringLiteral("Status"));
    place(StatusPanel, 90, 6090, 3135, 1140);
    StatusLbl = named<QLabel>(StatusPanel, "StatusLbl");
    place(StatusLbl, 120, 300, 2895, 285);
    ProgBar = named<QProgressBar>(StatusPanel, "ProgBar");
    place(ProgBar, 120, 660, 1965, 330);
    CancelToolBtn = button(StatusPanel, "CancelToolBtn", QStringLiteral("Cancel"));
    CancelToolBtn->setToolTip(QStringLiteral("Stop the tool after the record it is working on (Esc)"));
    place(CancelToolBtn, 2145, 630, 870, 390);
    CancelToolBtn->hide();
    connect(CancelToolBtn, &QPushButton::clicked, this, &AdvanceViewForm::requestToolStop);
    StatusPanel->hide();

    SearchBtn = button(SearchPanel, "SearchBtn", QStringLiteral("&Search"));
    place(SearchBtn, 420, 7380, 1170, 870);
    SelectAllRecordsBtn = button(SearchPanel, "SelectAllRecordsBtn", QStringLiteral("Show &All"));  // Alt+S is Search's
    place(SelectAllRecordsBtn, 1680, 7380, 1170, 870);
    SaveBtn = button(SearchPanel, "SaveBtn", QStringLiteral("Export"));
    place(SaveBtn, 435, 8370, 1170, 870);
    ImportBtn = button(SearchPanel, "ImportBtn", QStringLiteral("Import"));
    place(ImportBtn, 1695, 8370, 1170, 870);
    connect(SearchBtn, &QPushButton::clicked, this, &AdvanceViewForm::SearchRecords);
    connect(SelectAllRecordsBtn, &QPushButton::clicked, this, &AdvanceViewForm::SelectAllRecords);
}

void AdvanceViewForm::buildControlPanel() {
    ControlPanel = named<QFrame>(this, "ControlPanel");
    ControlPanel->setFrameShape(QFrame::Panel);
    ControlPanel->setFrameShadow(QFrame::Raised);
    ControlPanel->setAutoFillBackground(true);
    place(ControlPanel, 3405, 8625, 9390, 870);

    MoveFirstBtn = button(ControlPanel, "MoveFirstBtn", QStringLiteral("<--"));
    MoveFirstBtn->setToolTip(QStringLiteral("First Record"));
    place(MoveFirstBtn, 7335, 555, 810, 270);
    MoveLastBtn = button(ControlPanel, "MoveLastBtn", QStringLiteral("-->"));
    MoveLastBtn->setToolTip(QStringLiteral("Last Record"));
    place(MoveLastBtn, 8175, 555, 810, 270);
    cmdClose = button(ControlPanel, "cmdClose", QStringLiteral("&Close"));
    place(cmdClose, 7530, 90, 1170, 360);
    connect(MoveFirstBtn, &QPushButton::clicked, this, &AdvanceViewForm::moveFirst);
    connect(MoveLastBtn, &QPushButton::clicked, this, &AdvanceViewForm::moveLast);
    connect(cmdClose, &QPushButton::clicked, this, [this] {
        defaultPointer();
        close();
    });

    panels_ = new MenuPanels(this, ControlPanel);
    panels_->watchHover(SearchPanel, grdDataGrid);
    controls_ = panels_->controls();
    controls_.SaveBtn = SaveBtn;
    controls_.ImportBtn = ImportBtn;
    connect(controls_.ShowRecords, &QPushButton::clicked, this, &AdvanceViewForm::showRange);
    wireToolCommands();
}

void AdvanceViewForm::wireToolCommands() {
    for (const ToolCommand& command : toolCommands())
        if (QPushButton* b = controls_.*command.button)
            connect(b, &QPushButton::clicked, this, [this, run = command.run] { runTool(run); });
    // Choosing a field computes its total at once.
    connect(controls_.SummaryFields, &QComboBox::activated, this, [this] { runTool(runTotals); });
}

namespace {

// The tables tools are running on, as "file|table": a second browser on one must wait.
QStringList& tablesWithTools() {
    static QStringList running;
    return running;
}

}  // namespace

bool AdvanceViewForm::toolRunsOn(const QString& file, const QString& table) {
    return tablesWithTools().contains(file + QLatin1Char('|') + table, Qt::CaseInsensitive);
}

void AdvanceViewForm::runTool(ToolRun run) {
    if (toolRunning_ || !run || unloaded_) return;
    toolRunning_ = true;
    toolStop_ = {};
    ++toolRuns_;
    const QString key = DB_DATABASEFILE + QLatin1Char('|') + DB_SELECTED_TABLE;
    tablesWithTools().append(key);
    QPointer<AdvanceViewForm> self(this);
    struct Reset {
        QPointer<AdvanceViewForm>& self;
        QString key;
        ~Reset() {
            tablesWithTools().removeOne(key);
            if (self) self->toolRunning_ = false;
        }
    } reset{self, key};
    run(*this);
    if (!self) return;
    // Input that queued up while the tool ran (the second click of a double click) is taken now,
    // with the tool still marked running: its clicks do nothing, its keystrokes wait as above.
    toolFinishing_ = true;
    QCoreApplication::processEvents();
    if (!self) return;
    toolFinishing_ = false;
    toolRunning_ = false;
    if (closeAfterTool_) {
        QTimer::singleShot(0, this, [this] { close(); });
        return;
    }
    if (autoSearchDue_) QTimer::singleShot(0, this, &AdvanceViewForm::searchWhileDue);
}

void AdvanceViewForm::requestToolStop() {
    if (!toolRunning_ || toolStop_.requested) return;
    toolStop_.requested = true;
    if (CancelToolBtn) CancelToolBtn->setEnabled(false);
    StatusLbl->setText(QStringLiteral("Stopping..."));
}

void AdvanceViewForm::showToolOutcome(const QString& text) {
    StatusBar->showMessage(text);
}

common::WorkingWidgets AdvanceViewForm::workingWidgets() const {
    common::WorkingWidgets w{ProgBar, StatusPanel, StatusLbl, grdDataGrid, WorkingPanel};
    w.cancelButton = CancelToolBtn;
    w.stop = const_cast<common::ToolStop*>(&toolStop_);
    return w;
}

void AdvanceViewForm::setStatusText(const QString& text) {
    statusPanel1_->setText(text);
    statusPanel1_->setToolTip(text);
}

QString AdvanceViewForm::statusText() const {
    return statusPanel1_->text();
}

// ---- loading -------------------------------------------------------------------------------------

void AdvanceViewForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (loaded_) return;
    loaded_ = true;
    loadStep();
}

void AdvanceViewForm::loadStep() {
    const std::vector<std::function<void()>> steps = {
        [this] {
            OperatorCombo->clear();
            OperatorCombo->addItems(
                {QStringLiteral("Like"), QStringLiteral("="), QStringLiteral(">"), QStringLiteral("<")});
            OperatorCombo->setCurrentIndex(-1);
        },
        [this] {
            if (!DB_DATABASEFILE.isEmpty()) LoadDatabase();
        },
        [this] {
            if (OperatorCombo->currentIndex() < 0) OperatorCombo->setCurrentIndex(0);
        },
        [this] { SetColumsWidth(); },
    };
    for (const auto& step : steps)
        if (common::runOperationStep(step) == common::StepResult::Aborted) break;
}

void AdvanceViewForm::LoadDatabase() {
    datPrimaryRS->setDatabaseName(DB_DATABASEFILE);
    datPrimaryRS->setRecordSource(baseSql());
    datPrimaryRS->Refresh();

    const dao::Fields fields = datPrimaryRS->Recordset()->Fields();
    const int n = fields.Count();
    fieldNames_.clear();
    fieldTypes_.clear();
    for (int k = 0; k < n; ++k) {
        fieldNames_ << fields.Item(k).Name();
        fieldTypes_.push_back(fields.Item(k).Type());
    }

    searchRows_->ensureRows(std::max(1, n));
    for (int j = 0; j < searchRows_->rowCount(); ++j) {
        QComboBox* select = searchRows_->select(j);
        select->clear();
        select->addItems(fieldNames_);
        // Row j starts on field j.
        select->setCurrentIndex(j == 0 ? 0 : std::min(searchRows_->select(j - 1)->currentIndex() + 1, n - 1));
    }
    fillFieldLists();

    // The order field is chosen here and applied once below (step 10 sorts by it in any case).
    OrderByBox->setCurrentIndex(n > 0 ? 0 : -1);
    setWindowTitle(QStringLiteral("Records para ") + DB_SELECTED_TABLE);

    const TableSettings s = readTableSettings(DB_SELECTED_TABLE);
    if (s.orderByBox >= 0 && s.orderByBox < OrderByBox->count()) OrderByBox->setCurrentIndex(s.orderByBox);
    if (s.operatorCombo >= 0 && s.operatorCombo < OperatorCombo->count())
        OperatorCombo->setCurrentIndex(s.operatorCombo);
    // A check box is off or on; any other stored value is not one of ours.
    FastSearchChk->setChecked(s.fastSearch == 0 ? false : true);
    if (!sortField().isEmpty()) common::SortDataControl(datPrimaryRS, sortExpression(sortField()));

    searchRows_->setAreaHeightTwips(10000);

    // A stored query that no longer works is skipped silently; the grid keeps what it has.
    if (!s.lastQuery.isEmpty()) {
        const QString before = datPrimaryRS->RecordSource();
        try {
            datPrimaryRS->setRecordSource(s.lastQuery);
            datPrimaryRS->Refresh();
        } catch (const dao::Error&) {
            datPrimaryRS->setRecordSource(before);
        }
    }
    tableLoaded_ = true;
}

void AdvanceViewForm::fillFieldLists() {
    const PanelControls& c = controls_;
    for (QComboBox* combo : {c.CopyCombo1, c.CopyCombo2, c.OpFieldsCombo, OrderByBox, c.RemplaceCombo}) {
        combo->clear();
        combo->addItems(fieldNames_);
    }
    c.VerifyFields->clear();
    for (int k = 0; k < fieldNames_.size(); ++k)
        if (bulk::VerifyTool::renumbers(fieldTypes_[k])) c.VerifyFields->addItem(fieldNames_[k]);
    for (QComboBox* combo : {c.RangeCombo, c.SummaryFields}) {
        combo->clear();
        for (int k = 0; k < fieldNames_.size(); ++k)
            if (isNumericFieldType(fieldTypes_[k])) combo->addItem(fieldNames_[k]);
    }
    // A combo box selects its first item when items are added; a tool must not act on a field the
    // user never chose.
    for (QComboBox* combo : {c.CopyCombo1, c.CopyCombo2, c.OpFieldsCombo, c.RemplaceCombo, c.VerifyFields,
                             c.SummaryFields})
        combo->setCurrentIndex(-1);
}

// ---- data control events -------------------------------------------------------------------------

void AdvanceViewForm::onReposition() {
    // A tool re-querying the records keeps its hourglass until it ends.
    if (!toolRunning_) defaultPointer();
    const QString source = datPrimaryRS->RecordSource();
    if (statusPanel1_->text() != source) {
        statusPanel1_->setText(source);
        statusPanel1_->setToolTip(source);
        SetColumsWidth();
    }
}

void AdvanceViewForm::onDataError(int number, const QString& description, bool* handled) {
    const QString text = dao::describe(number);
    platform::MsgBox(QStringLiteral("Data error event hit err:") + (text.isEmpty() ? description : text),
                     platform::vbOKOnly);
    if (handled) *handled = true;
}

// ---- column widths -------------------------------------------------------------------------------

void AdvanceViewForm::SetColumsWidth() {
    std::shared_ptr<dao::Recordset> rs;
    try {
        rs = datPrimaryRS->Recordset();
    } catch (const dao::Error&) {
    }
    for (int c = 0; c < grdDataGrid->ColumnCount(); ++c) {
        // A date-time column not sized before would be cut at the default width: it takes its
        // content's width, which closing the window then remembers like any other.
        bool isDate = false;
        try {
            isDate = rs && rs->isOpen() && c < rs->Fields().Count() && rs->Fields().Item(c).Type() == dao::dbDate;
        } catch (const dao::Error&) {
        }
        if (isDate && !hasColumnWidth(DB_SELECTED_TABLE, c)) {
            grdDataGrid->resizeColumnToContents(c);
            if (grdDataGrid->ColumnWidthTwips(c) < DefaultColumnWidthTwips)
                grdDataGrid->setColumnWidthTwips(c, DefaultColumnWidthTwips);
            continue;
        }
        grdDataGrid->setColumnWidthTwips(c, readColumnWidth(DB_SELECTED_TABLE, c));
    }
}

void AdvanceViewForm::SaveColumnsWidth() {
    for (int c = 0; c < grdDataGrid->ColumnCount(); ++c)
        writeColumnWidth(DB_SELECTED_TABLE, c, grdDataGrid->ColumnWidthTwips(c));
}

// ---- layout --------------------------------------------------------------------------------------

void AdvanceViewForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    layoutOnResize();
}

void AdvanceViewForm::layoutOnResize() {
    const double innerWidth = pixelsToTwipsX(width());
    const double innerHeight = pixelsToTwipsY(height());
    // The outer size: the frame is known only once a window manager has decorated the window.
    const double outerWidth = pixelsToTwipsX(std::max(width(), frameGeometry().width()));
    const double outerHeight = pixelsToTwipsY(std::max(height(), frameGeometry().height()));
    const double panelsWidth = pixelsToTwipsX(SearchPanel->width()) + pixelsToTwipsX(Separator->width());

    place(StatusBar, 0, innerHeight - kStatusBarHeight, innerWidth, kStatusBarHeight);

    // A value the platform cannot take (a negative size) leaves that control as it was.
    const double gridWidth = innerWidth - panelsWidth - kGridMargin;
    if (gridWidth >= 0) grdDataGrid->resize(twipsToPixelsX(gridWidth), grdDataGrid->height());
    const double barWidth = innerWidth - panelsWidth;
    if (barWidth >= 0) ControlPanel->resize(twipsToPixelsX(barWidth), ControlPanel->height());
    const double barHeight = pixelsToTwipsY(ControlPanel->height());
    // A thick window frame must not push the bar under the status bar.
    const double barTop =
        std::min(outerHeight - barHeight - kBarMargin, innerHeight - kStatusBarHeight - barHeight);
    if (barTop >= 0) ControlPanel->move(ControlPanel->x(), twipsToPixelsY(barTop));
    ResetMenus();
    const double gridHeight = pixelsToTwipsY(ControlPanel->y()) - kGridToBar;
    if (gridHeight >= 0) grdDataGrid->resize(grdDataGrid->width(), twipsToPixelsY(gridHeight));

    const double workH = pixelsToTwipsY(WorkingPanel->height()),
                 workW = pixelsToTwipsX(WorkingPanel->width());
    WorkingPanel->move(twipsToPixelsX(outerWidth / 2 - workW / 2),
                       twipsToPixelsY(outerHeight / 2 - workH / 2));
}

void AdvanceViewForm::ResetMenus() {
    if (panels_) panels_->ResetMenus();
}

void AdvanceViewForm::ToggleMenu(int selTab) {
    if (panels_) panels_->ToggleMenu(selTab);
}

// ---- closing -------------------------------------------------------------------------------------

void AdvanceViewForm::closeEvent(QCloseEvent* event) {
    if (toolRunning_) {
        // The window goes only once its tool has stopped; what the tool committed stays.
        event->ignore();
        if (closeAfterTool_) return;
        if (toolFinishing_) {
            // Queued while the tool ran, which has ended meanwhile: nothing to ask.
            closeAfterTool_ = true;
            return;
        }
        if (platform::MsgBox(QStringLiteral("A tool is still working on this table.") + QChar(13) +
                                 QStringLiteral("Stop it and close the window? The records it has done "
                                                "stay changed."),
                             platform::vbQuestion | platform::vbYesNo | platform::vbDefaultButton2) !=
            platform::vbYes)
            return;
        closeAfterTool_ = true;
        requestToolStop();
        return;
    }
    unload();
    QDialog::closeEvent(event);
}

void AdvanceViewForm::done(int result) {
    if (toolRunning_) {
        // Only the close path above ends a window whose tool runs.
        QTimer::singleShot(0, this, [this] { close(); });
        return;
    }
    unload();
    QDialog::done(result);
}

void AdvanceViewForm::unload() {
    if (unloaded_) return;
    unloaded_ = true;
    try {
        if (tableLoaded_ && !DB_SELECTED_TABLE.isEmpty()) {
            TableSettings s;
            s.orderByBox = OrderByBox->currentIndex();
            s.operatorCombo = OperatorCombo->currentIndex();
            s.fastSearch = FastSearchChk->isChecked() ? 1 : 0;
            s.lastQuery = statusPanel1_->text();
            writeTableSettings(DB_SELECTED_TABLE, s);
            SaveColumnsWidth();
        }
    } catch (...) {
        // Closing never reports anything.
    }
    defaultPointer();
}

// ---- events --------------------------------------------------------------------------------------

bool AdvanceViewForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grdDataGrid->viewport() && event->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton) {
            ResetMenus();
        } else if (me->button() == Qt::RightButton && !DB_DATABASEFILE.isEmpty()) {
            const auto rs = datPrimaryRS->Recordset();
            bool any = false;
            try {
                any = rs && rs->RecordCount() > 0;
            } catch (const dao::Error&) {
            }
            if (any) MenuOptions->popup(me->globalPosition().toPoint());
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AdvanceViewForm::keyPressEvent(QKeyEvent* event) {
    // Escape does not close the browser; only Close and the close box do. While a tool runs it
    // stops the tool, as the working display's Cancel does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        if (toolRunning_) requestToolStop();
        return;
    }
    QDialog::keyPressEvent(event);
}

void AdvanceViewForm::moveFirst() {
    try {
        const auto rs = datPrimaryRS->Recordset();
        if (rs && rs->RecordCount() > 0) datPrimaryRS->MoveFirst();
    } catch (const dao::Error&) {
        // Nowhere to move: the grid stays where it is.
    }
}

void AdvanceViewForm::moveLast() {
    try {
        const auto rs = datPrimaryRS->Recordset();
        if (rs && rs->RecordCount() > 0) datPrimaryRS->MoveLast();
    } catch (const dao::Error&) {
    }
}

// ---- search, range, show all, ordering -----------------------------------------------------------

QString AdvanceViewForm::baseSql() const {
    return recordSourceSql(DB_SELECTED_RECORDS, DB_SELECTED_TABLE);
}

QString AdvanceViewForm::sortField() const {
    return OrderByBox->currentText();
}

void AdvanceViewForm::reportRejected(const QString& what, const dao::Error& e) {
    defaultPointer();
    platform::MsgBox(what + QChar(13) + e.description() + QStringLiteral(" - ") + QString::number(e.number()),
                     platform::vbExclamation);
}

bool AdvanceViewForm::showRecordSource(const QString& source, bool ordered, const QString& what) {
    const QString previousSource = datPrimaryRS->RecordSource();
    const std::shared_ptr<dao::Recordset> previous = datPrimaryRS->Recordset();
    const QString sort = ordered ? sortField() : QString();
    const auto db = datPrimaryRS->Database();
    try {
        if (!sort.isEmpty() && db && fieldNames_.contains(sort, Qt::CaseInsensitive)) {
            // The filtered and ordered records in one query: the same records, in the same order, as
            // a refresh followed by a sort, for half the work.
            auto rs = db->OpenRecordset(source + QStringLiteral(" order by ") + sortExpression(sort),
                                        dao::dbOpenDynaset);
            datPrimaryRS->setRecordSource(source);
            datPrimaryRS->setRecordset(std::move(rs));
            return true;
        }
        datPrimaryRS->setRecordSource(source);
        datPrimaryRS->Refresh();
    } catch (const dao::Error& e) {
        // The window goes on with the records it showed before.
        datPrimaryRS->setRecordSource(previousSource);
        if (datPrimaryRS->Recordset() != previous) datPrimaryRS->setRecordset(previous);
        reportRejected(what, e);
        return false;
    }
    // An order field the records don't have is reported by the sort itself.
    if (!sort.isEmpty()) common::SortDataControl(datPrimaryRS, sortExpression(sort));
    return true;
}

std::vector<SearchRow> AdvanceViewForm::currentSearchRows() const {
    std::vector<SearchRow> rows;
    for (int i = 0; i < searchRows_->rowCount(); ++i) {
        const int k = searchRows_->select(i)->currentIndex();
        SearchRow row;
        row.field = searchRows_->select(i)->currentText();
        row.fieldType = k >= 0 && k < int(fieldTypes_.size()) ? fieldTypes_[k] : 0;
        row.value = searchRows_->box(i)->text();
        rows.push_back(row);
    }
    return rows;
}

void AdvanceViewForm::reportInStatusBar(const QString& what, const dao::Error& e) {
    StatusBar->showMessage(what + QLatin1Char(' ') + e.description() + QStringLiteral(" - ") +
                           QString::number(e.number()));
}

void AdvanceViewForm::SearchRecords() {
    if (DB_DATABASEFILE.isEmpty()) return;
    WaitCursor busy(this);
    const QString op = OperatorCombo->currentText();
    if (op.isEmpty()) {
        platform::MsgBox(QStringLiteral("Favor de seleccionar un operador de la lista de operadores,") +
                             QChar(13) + QStringLiteral("es necesario para hacer la busqueda."),
                         platform::vbInformation);
        return;
    }

    const QString what = QStringLiteral("The search could not be done:");
    QString where;
    try {
        where = searchWhere(op, currentSearchRows());
    } catch (const dao::Error& e) {
        reportRejected(what, e);
        return;
    }

    if (!where.isEmpty()) {
        // Only an empty table stops the search here; asking for one record tells.
        bool empty = true;
        try {
            const auto db = datPrimaryRS->Database();
            if (!db) throw dao::Error(dao::err::ObjectClosed, dao::describe(dao::err::ObjectClosed));
            empty = db->OpenRecordset(QStringLiteral("select top 1 * from ") + sqlName(DB_SELECTED_TABLE))
                        ->RecordCount() <= 0;
        } catch (const dao::Error&) {
            empty = false;  // the search itself will say what is wrong
        }
        if (!empty) {
            showRecordSource(baseSql() + QStringLiteral(" where ") + where, true, what);
            return;
        }
    }
    // All records of the table, ordered unless there are none.
    if (!showRecordSource(baseSql(), false, what)) return;
    const auto rs = datPrimaryRS->Recordset();
    if (!rs || rs->RecordCount() <= 0) return;
    if (!sortField().isEmpty()) common::SortDataControl(datPrimaryRS, sortExpression(sortField()));
}

void AdvanceViewForm::onSearchBoxChanged() {
    if (!FastSearchChk->isChecked()) return;
    autoSearchDue_ = true;
    if (autoSearching_ || toolRunning_) {
        // Called again from the wait below, or from a tool's progress: the running search gives way
        // to the newer text, and no search starts under a tool (it runs when the tool ends).
        if (autoSearchCancel_) autoSearchCancel_->store(true);
        return;
    }
    searchWhileDue();
}

void AdvanceViewForm::searchWhileDue() {
    if (autoSearching_ || toolRunning_ || unloaded_ || !autoSearchDue_) return;
    // Every change searches, but keystrokes that arrive while a search runs merge into the next one.
    autoSearching_ = true;
    const QPointer<AdvanceViewForm> self(this);
    while (self && autoSearchDue_ && !unloaded_) {
        // Keystrokes already queued join this search instead of each starting one.
        QCoreApplication::processEvents();
        if (!self || unloaded_) break;
        autoSearchDue_ = false;
        runAutoSearch();
    }
    if (self) autoSearching_ = false;
}

void AdvanceViewForm::runAutoSearch() {
    const QString op = OperatorCombo->currentText();
    const auto db = datPrimaryRS->Database();
    if (DB_DATABASEFILE.isEmpty() || op.isEmpty()) {
        // Nothing to run in the background: the Search button's own path says what is missing.
        SearchRecords();
        return;
    }
    const QString what = QStringLiteral("The search could not be done:");
    if (!db) {
        // The table never loaded (its load failed and was ignored).
        reportInStatusBar(what, dao::Error(dao::err::ObjectClosed, dao::describe(dao::err::ObjectClosed)));
        return;
    }
    QString where;
    try {
        where = searchWhere(op, currentSearchRows());
    } catch (const dao::Error& e) {
        reportInStatusBar(what, e);
        return;
    }

    // The same records, in the same order, as the Search button shows (see SearchRecords), opened
    // in one query on the worker.
    const QString base = baseSql();
    const QString table = sqlName(DB_SELECTED_TABLE);
    const QString sort = sortField();
    const QString orderBy = !sort.isEmpty() && fieldNames_.contains(sort, Qt::CaseInsensitive)
                                ? QStringLiteral(" order by ") + sortExpression(sort)
                                : QString();
    struct Outcome {
        QString source;
        std::shared_ptr<dao::Recordset> records;
        std::optional<dao::Error> error;
    };
    auto outcome = std::make_shared<Outcome>();
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    autoSearchCancel_ = cancel;

    const int toolRunsBefore = toolRuns_;
    QEventLoop wait;
    std::thread worker([=, &wait] {
        try {
            QString source = where.isEmpty() ? base : base + QStringLiteral(" where ") + where;
            if (!where.isEmpty()) {
                // Only an empty table stops the search here; asking for one record tells.
                bool empty = false;
                try {
                    empty = db->OpenRecordset(QStringLiteral("select top 1 * from ") + table, 0, *cancel)
                                ->RecordCount() <= 0;
                } catch (const dao::Error& e) {
                    if (e.number() == dao::err::Cancelled) throw;
                }
                if (empty) source = base;
            }
            outcome->records = db->OpenRecordset(source + orderBy, dao::dbOpenDynaset, *cancel);
            outcome->source = source;
        } catch (const dao::Error& e) {
            outcome->error = e;
        }
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Keystrokes keep coming in meanwhile (onSearchBoxChanged above), and the window keeps painting.
    wait.exec();
    worker.join();
    autoSearchCancel_.reset();
    // A tool started meanwhile (its button clicked while the search read) changed what was read.
    if (toolRuns_ != toolRunsBefore) autoSearchDue_ = true;

    // A newer text searches next; a closed window shows nothing more.
    if (autoSearchDue_ || unloaded_) return;
    if (outcome->error) {
        if (outcome->error->number() != dao::err::Cancelled) reportInStatusBar(what, *outcome->error);
        return;
    }
    StatusBar->clearMessage();
    datPrimaryRS->setRecordSource(outcome->source);
    datPrimaryRS->setRecordset(outcome->records);
}

void AdvanceViewForm::onClear(int row) {
    QLineEdit* box = searchRows_->box(row);
    box->clear();  // runs the automatic search when it is on
    box->setFocus(Qt::OtherFocusReason);
}

void AdvanceViewForm::showRange() {
    QComboBox* range = controls_.RangeCombo;
    QLineEdit* from = controls_.FromTxT;
    QLineEdit* to = controls_.ToTxT;
    const QString what = QStringLiteral("The range could not be shown:");
    try {
        // No text without a field and both bounds: the grid stays as it is.
        if (const auto sql = rangeSql(DB_SELECTED_RECORDS, DB_SELECTED_TABLE, range->currentText(),
                                      from->text(), to->text()))
            showRecordSource(*sql, false, what);
    } catch (const dao::Error& e) {
        reportRejected(what, e);
    }
    from->setFocus(Qt::OtherFocusReason);
}

void AdvanceViewForm::SelectAllRecords() {
    // All records, ordered, first record current: the refresh and the re-order as one query.
    showRecordSource(baseSql(), true, QStringLiteral("The records could not be shown:"));
}

void AdvanceViewForm::RefreshTable() {
    long long position = -1;
    try {
        if (const auto rs = datPrimaryRS->Recordset()) position = rs->AbsolutePosition();
    } catch (const dao::Error&) {
    }
    try {
        datPrimaryRS->Refresh();
    } catch (const dao::Error&) {
    }
    if (!sortField().isEmpty()) common::SortDataControl(datPrimaryRS, sortExpression(sortField()));
    try {
        const auto rs = datPrimaryRS->Recordset();
        if (rs && position >= 0 && position < rs->RecordCount()) {
            rs->setAbsolutePosition(position);
            datPrimaryRS->notifyReposition();
        }
    } catch (const dao::Error&) {
    }
}

void AdvanceViewForm::onOrderBySelected(int index) {
    if (index < 0 || sortField().isEmpty()) return;
    common::SortDataControl(datPrimaryRS, sortExpression(sortField()));
}

// ---- record commands (RecordCommands) -----------------------------------------------

void AdvanceViewForm::DataSortR(std::shared_ptr<dao::Recordset>& datRecord, const QString& strCriteria) {
    common::SortRecordset(datRecord, strCriteria);
}

dao::Variant AdvanceViewForm::GetLastID(std::shared_ptr<dao::Recordset> theRecordSet, long lFieldIndex) {
    // The copy is sorted; the caller's recordset stays as it is. Every failure gives 0.
    const dao::Variant zero = dao::Variant::fromInteger(0);
    try {
        if (!theRecordSet) return zero;
        const std::shared_ptr<dao::Recordset> unsorted = theRecordSet;
        const QString name = theRecordSet->Fields().Item(int(lFieldIndex)).Name();
        DataSortR(theRecordSet, dao::jetName(name, dao::NameQuoting::Always));
        if (theRecordSet == unsorted) return zero;  // the sort failed and said so
        if (theRecordSet->RecordCount() < 1) return zero;
        theRecordSet->MoveLast();
        const dao::Variant v = theRecordSet->Fields().Item(int(lFieldIndex)).Value();
        return v.isNull() ? zero : v;
    } catch (const dao::Error&) {
        return zero;
    }
}

void AdvanceViewForm::SelectThisRecordOnly() { commands_->SelectThisRecordOnly(); }
void AdvanceViewForm::OpenCurrentRecord() { commands_->OpenCurrentRecord(); }
void AdvanceViewForm::EditCurrentRecord() { commands_->EditCurrentRecord(); }
void AdvanceViewForm::AddNewRecord() { commands_->AddNewRecord(); }
void AdvanceViewForm::DeleteCurrentRecord() { commands_->DeleteCurrentRecord(); }

}  // namespace browser
