#include "FrmListSearch.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <cmath>

#include "browser/SearchSql.h"
#include "common/OperationErrorBox.h"
#include "dataentry/DataEntryForm.h"
#include "dataentry/host/DataEntryFrm.h"
#include "common/StandarFunctions.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace dialogs {

namespace {
constexpr int FormWidth = 9600;
constexpr int FormHeight = 6600;
constexpr int GridGap = 30;  // twips between the grid and the panel
constexpr int ButtonHeight = 375;

// The identifier as trimmed text, always with '.' as the decimal separator.
QString identifierText(double d) {
    return dao::shortestNumberText(d);
}
}  // namespace

// The program's data-entry host window, one shared instance, released when it closes.
FrmListSearch::DataEntryHost FrmListSearch::showDataEntry = [](QWidget* parent, const DataEntryRequest& r) {
    struct Release {
        ~Release() { dataentry::DataEntryFrm::releaseShared(); }
    } release;
    dataentry::DataEntryFrm* host = dataentry::DataEntryFrm::shared(parent);
    host->DB_DATABASENAME = r.database;
    host->DB_SELECTED_TABLE = r.table;
    host->setCaption(r.caption);  // loads the window
    dataentry::DataEntryForm* control = host->dataEntryForm();
    if (r.presetId) {
        control->SetDefault(r.identifier, 0);
        control->SetIncrement(1, 0);
        control->SetInvisible(true, 0);
        control->SetDisabled(0);
    }
    control->setUnloadParent(true);
    control->setAutoResize(true);
    host->exec();
};

FrmListSearch::FrmListSearch(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmListSearch"));
    setWindowTitle(QStringLiteral("Search"));
    setSizeGripEnabled(true);
    buildControls();
    resize(platform::twipsToPixelsX(FormWidth), platform::twipsToPixelsY(FormHeight));
}

FrmListSearch::~FrmListSearch() {
    restorePointer();
}

void FrmListSearch::buildControls() {
    datPrimaryRS = new platform::DataControl(this);
    datPrimaryRS->setObjectName(QStringLiteral("datPrimaryRS"));
    grdDataGrid = new platform::DataGrid(this);
    grdDataGrid->setObjectName(QStringLiteral("grdDataGrid"));
    grdDataGrid->setDataSource(datPrimaryRS);

    ControlPanel = new QFrame(this);
    ControlPanel->setObjectName(QStringLiteral("ControlPanel"));
    ControlPanel->setFrameShape(QFrame::StyledPanel);
    auto label = [&](const char* name, const QString& caption) {
        auto* l = new QLabel(caption, ControlPanel);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    auto button = [&](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, ControlPanel);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        b->setMinimumHeight(platform::twipsToPixelsY(ButtonHeight));
        return b;
    };
    SearchLbl = label("SearchLbl", QStringLiteral("Search:"));
    SearchTxT = new QLineEdit(ControlPanel);
    SearchTxT->setObjectName(QStringLiteral("SearchTxT"));
    OrderByLbl = label("OrderByLbl", QStringLiteral("Ordenar por:"));
    OrderByBox = new QComboBox(ControlPanel);
    OrderByBox->setObjectName(QStringLiteral("OrderByBox"));
    RangeCombo = new QComboBox(ControlPanel);
    RangeCombo->setObjectName(QStringLiteral("RangeCombo"));
    FromLbl = label("FromLbl", QStringLiteral("Desde"));
    FromTxT = new QLineEdit(ControlPanel);
    FromTxT->setObjectName(QStringLiteral("FromTxT"));
    ToLbl = label("ToLbl", QStringLiteral("Hasta"));
    ToTxT = new QLineEdit(ControlPanel);
    ToTxT->setObjectName(QStringLiteral("ToTxT"));
    MoveFirstBtn = button("MoveFirstBtn", QStringLiteral("Primer Record"));
    MoveLastBtn = button("MoveLastBtn", QStringLiteral("Ultimo Record"));
    EraseRecords = button("EraseRecords", QStringLiteral("&Delete"));
    MenuButton = button("MenuButton", QStringLiteral("&Add"));
    cmdClose = button("cmdClose", QStringLiteral("&Close"));

    auto* grid = new QGridLayout(ControlPanel);
    grid->addWidget(SearchLbl, 0, 0);
    grid->addWidget(SearchTxT, 0, 1, 1, 3);
    grid->addWidget(OrderByLbl, 0, 4);
    grid->addWidget(OrderByBox, 0, 5);
    grid->addWidget(RangeCombo, 1, 0, 1, 2);
    grid->addWidget(FromLbl, 1, 2);
    grid->addWidget(FromTxT, 1, 3);
    grid->addWidget(ToLbl, 1, 4);
    grid->addWidget(ToTxT, 1, 5);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(MoveFirstBtn);
    buttons->addWidget(MoveLastBtn);
    buttons->addStretch(1);
    buttons->addWidget(EraseRecords);
    buttons->addWidget(MenuButton);
    buttons->addWidget(cmdClose);
    grid->addLayout(buttons, 2, 0, 1, 6);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(5, 1);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    statusPanel1_ = new QLabel(StatusBar);
    statusPanel1_->setObjectName(QStringLiteral("StatusBarPanel(1)"));
    StatusBar->addWidget(statusPanel1_, 1);

    connect(SearchTxT, &QLineEdit::textChanged, this, &FrmListSearch::searchChanged);
    connect(OrderByBox, &QComboBox::activated, this, [this](int) { orderBy(OrderByBox->currentText()); });
    connect(MoveFirstBtn, &QPushButton::clicked, this, &FrmListSearch::moveFirst);
    connect(MoveLastBtn, &QPushButton::clicked, this, &FrmListSearch::moveLast);
    connect(EraseRecords, &QPushButton::clicked, this, &FrmListSearch::eraseRecord);
    connect(MenuButton, &QPushButton::clicked, this, &FrmListSearch::addRecord);
    connect(cmdClose, &QPushButton::clicked, this, [this] {
        restorePointer();
        close();
    });
    connect(datPrimaryRS, &platform::DataControl::reposition, this, &FrmListSearch::restorePointer);
    connect(datPrimaryRS, &platform::DataControl::error, this,
            [](int, const QString& description, bool* handled) {
                platform::MsgBox(QStringLiteral("Data error event hit err:") + description);
                *handled = true;
            });

    for (QWidget* w : {static_cast<QWidget*>(cmdClose), static_cast<QWidget*>(EraseRecords),
                       static_cast<QWidget*>(MenuButton), static_cast<QWidget*>(SearchTxT),
                       static_cast<QWidget*>(ControlPanel)})
        w->installEventFilter(this);
    RangeCombo->installEventFilter(this);
    FromTxT->installEventFilter(this);
}

void FrmListSearch::StartData() {
    try {
        const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        if (screen) common::CenterForm(this);
        datPrimaryRS->setDatabaseName(DATABASE_FILE);
        datPrimaryRS->setRecordSource(browser::recordSourceSql(QStringLiteral("*"), SELECTED_TABLE));
        datPrimaryRS->Refresh();
        fillFieldLists();
        if (!ORDER_FIELD.isEmpty()) common::SortDataControl(datPrimaryRS, browser::sortExpression(ORDER_FIELD));
    } catch (const dao::Error& e) {
        platform::MsgBox(QStringLiteral("ERROR: ") + e.description(), platform::vbCritical);
    }
}

void FrmListSearch::fillFieldLists() {
    OrderByBox->clear();
    RangeCombo->clear();
    const auto rs = datPrimaryRS->Recordset();
    if (!rs) return;
    const dao::Fields fields = rs->Fields();
    for (int i = 0; i < fields.Count(); ++i) {
        const dao::Field f = fields.Item(i);
        OrderByBox->addItem(f.Name());
        if (dao::isNumericField(f.Type())) RangeCombo->addItem(f.Name());
    }
    OrderByBox->setCurrentIndex(OrderByBox->findText(ORDER_FIELD, Qt::MatchFixedString));
}

void FrmListSearch::searchChanged(const QString& text) {
    // Without an order field there is nothing to search in.
    if (ORDER_FIELD.isEmpty()) return;
    const auto rs = datPrimaryRS->Recordset();
    if (!rs) return;
    try {
        rs->FindFirst(browser::fieldRef(ORDER_FIELD) + QStringLiteral(" like '") + browser::quoteText(text) +
                      QStringLiteral("*'"));
        if (!rs->NoMatch()) datPrimaryRS->notifyReposition();
    } catch (const dao::Error&) {
    }
}

void FrmListSearch::orderBy(const QString& field) {
    if (field.isEmpty()) return;
    common::SortDataControl(datPrimaryRS, browser::sortExpression(field));
}

void FrmListSearch::moveFirst() {
    try {
        datPrimaryRS->MoveFirst();
    } catch (const dao::Error& e) {
        if (!datPrimaryRS->raiseError(e)) platform::MsgBox(e.description(), platform::vbExclamation);
    }
}

void FrmListSearch::moveLast() {
    try {
        datPrimaryRS->MoveLast();
    } catch (const dao::Error& e) {
        if (!datPrimaryRS->raiseError(e)) platform::MsgBox(e.description(), platform::vbExclamation);
    }
}

void FrmListSearch::eraseRecord() {
    try {
        const auto rs = datPrimaryRS->Recordset();
        if (!rs) return;
        const int answer =
            platform::MsgBox(QStringLiteral("Are you sure you want to erase this record?"),
                             platform::vbYesNo + platform::vbExclamation + platform::vbDefaultButton2);
        if (answer == platform::vbYes) {
            rs->Delete();
            datPrimaryRS->notifyRecordsChanged();
        }
        if (rs->RecordCount() >= 1) datPrimaryRS->MoveFirst();
    } catch (const dao::Error&) {
    }
}

QString FrmListSearch::NextIdentifier() {
    const auto rs = datPrimaryRS->Recordset();
    if (!rs || rs->RecordCount() < 1) return QStringLiteral("0");
    common::SortDataControl(datPrimaryRS, browser::sortExpression(rs->Fields().Item(0).Name()));
    const auto sorted = datPrimaryRS->Recordset();
    sorted->MoveLast();
    const dao::Variant last = sorted->Fields().Item(0).Value();
    double value = 0;
    if (last.type() != dao::Variant::Type::Date && last.isNumeric())
        value = last.asDouble();
    else if (last.type() == dao::Variant::Type::String)
        value = dao::leadingNumber(last.asString());
    return identifierText(value + 1);
}

void FrmListSearch::addRecord() {
    setCursor(Qt::WaitCursor);
    DataEntryRequest request;
    request.caption = SELECTED_TABLE;
    request.database = DATABASE_FILE;
    request.table = SELECTED_TABLE;
    request.presetId = FIRST_FIELD_IS_ID;
    // Each step asks Abort, Retry or Ignore when it fails; Abort leaves the add.
    using common::StepResult;
    if (FIRST_FIELD_IS_ID &&
        common::runOperationStep([&] { request.identifier = NextIdentifier(); }) == StepResult::Aborted) {
        restorePointer();
        return;
    }
    if (common::runOperationStep([&] {
            if (showDataEntry) showDataEntry(this, request);
        }) == StepResult::Aborted) {
        restorePointer();
        return;
    }
    common::runOperationStep([&] {
        datPrimaryRS->Refresh();
        if (!ORDER_FIELD.isEmpty()) common::SortDataControl(datPrimaryRS, browser::sortExpression(ORDER_FIELD));
        if (const auto rs = datPrimaryRS->Recordset(); rs && rs->RecordCount() > 0) datPrimaryRS->MoveFirst();
    });
    restorePointer();
}

void FrmListSearch::restorePointer() {
    unsetCursor();
}

void FrmListSearch::setHint(const QString& hint) {
    statusPanel1_->setText(hint);
}

QString FrmListSearch::statusHint() const {
    return statusPanel1_->text();
}

void FrmListSearch::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    layoutControls();
}

void FrmListSearch::layoutControls() {
    const QRect inner = contentsRect();
    const int panelH = ControlPanel->sizeHint().height();
    const int barH = StatusBar->sizeHint().height();
    const int gap = platform::twipsToPixelsY(GridGap);
    const int gridH = std::max(0, inner.height() - panelH - barH - gap);
    grdDataGrid->setGeometry(inner.x(), inner.y(), inner.width(), gridH);
    ControlPanel->setGeometry(inner.x(), inner.y() + gridH + gap, inner.width(), panelH);
    StatusBar->setGeometry(inner.x(), inner.bottom() + 1 - barH, inner.width(), barH);
}

void FrmListSearch::closeEvent(QCloseEvent* event) {
    restorePointer();
    QDialog::closeEvent(event);
}

bool FrmListSearch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter) {
        if (watched == cmdClose)
            setHint(QStringLiteral("Close this screen"));
        else if (watched == EraseRecords)
            setHint(QStringLiteral("Delete the selected record"));
        else if (watched == MenuButton)
            setHint(QStringLiteral("Add a record to the database"));
        else if (watched == SearchTxT)
            setHint(QStringLiteral("Perform a search in the list"));
        else if (watched == ControlPanel)
            setHint(QString());
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (enter && watched == RangeCombo) {
            FromTxT->setFocus();
            return true;
        }
        if (enter && watched == FromTxT) {
            ToTxT->setFocus();
            return true;
        }
    } else if (event->type() == QEvent::FocusIn && watched == FromTxT) {
        FromTxT->selectAll();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace dialogs
