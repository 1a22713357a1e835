#include "InputBoxDBFrm.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include "LikePattern.h"
#include "browser/SearchSql.h"
#include "common/StandarFunctions.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/GridModel.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace dialogs {

namespace {
constexpr int FormWidth = 7200;
constexpr int FormHeight = 5400;
constexpr int ButtonWidth = 1095;
constexpr int ButtonHeight = 375;

const QString ErrorAnswer = QStringLiteral("Error");

// A field name as a criteria takes it; a caller's name that is bracketed already stays as it is.
QString criteriaField(const QString& field) {
    if (field.startsWith(QLatin1Char('[')) && field.endsWith(QLatin1Char(']'))) return field;
    return browser::fieldRef(field);
}
}  // namespace

InputBoxDBFrm::InputBoxDBFrm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("InputBoxDBFrm"));
    setWindowTitle(QStringLiteral("xxx"));
    buildControls();
    resize(platform::twipsToPixelsX(FormWidth), platform::twipsToPixelsY(FormHeight));
}

void InputBoxDBFrm::buildControls() {
    FormData = new platform::DataControl(this);
    FormData->setObjectName(QStringLiteral("FormData"));

    SSPanel1 = new QFrame(this);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    SSPanel1->setFrameShape(QFrame::StyledPanel);
    Picture1 = new QLabel(SSPanel1);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    const int icon = platform::twipsToPixelsX(480);
    Picture1->setPixmap(style()->standardIcon(QStyle::SP_FileDialogContentsView).pixmap(icon, icon));
    Label1 = new QLabel(QStringLiteral("Make your selection"), SSPanel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    SearchTitleLbl = new QLabel(QStringLiteral("sSearchTitle:"), SSPanel1);
    SearchTitleLbl->setObjectName(QStringLiteral("SearchTitleLbl"));
    SearchTitleTxT = new QLineEdit(SSPanel1);
    SearchTitleTxT->setObjectName(QStringLiteral("SearchTitleTxT"));
    InfoFieldLbl = new QLabel(QStringLiteral("sInfoFieldCap"), SSPanel1);
    InfoFieldLbl->setObjectName(QStringLiteral("InfoFieldLbl"));
    InfoFieldTxT = new QLineEdit(SSPanel1);
    InfoFieldTxT->setObjectName(QStringLiteral("InfoFieldTxT"));

    // No header row inside the grid, one fixed column on the left (the row header); the column
    // titles are in the header control above it.
    GridDisplay = new platform::DataGrid(SSPanel1);
    GridDisplay->setObjectName(QStringLiteral("GridDisplay"));
    GridDisplay->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridDisplay->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridDisplay->setSelectionMode(QAbstractItemView::SingleSelection);
    GridDisplay->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    GridDisplay->setDataSource(FormData);
    Header = GridDisplay->horizontalHeader();
    Header->setObjectName(QStringLiteral("Header"));

    auto makeButton = [&](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setMinimumSize(platform::twipsToPixelsX(ButtonWidth), platform::twipsToPixelsY(ButtonHeight));
        b->setAutoDefault(false);
        return b;
    };
    SSCommand1 = makeButton("SSCommand1", QStringLiteral("&OK"));
    SSCommand2 = makeButton("SSCommand2", QStringLiteral("&Cancel"));

    auto* title = new QHBoxLayout;
    title->addWidget(Picture1);
    title->addWidget(Label1, 1);
    auto* search = new QHBoxLayout;
    search->addWidget(SearchTitleLbl);
    search->addWidget(SearchTitleTxT, 1);
    search->addWidget(InfoFieldLbl);
    search->addWidget(InfoFieldTxT, 1);
    auto* panel = new QVBoxLayout(SSPanel1);
    panel->addLayout(title);
    panel->addLayout(search);
    panel->addWidget(GridDisplay, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SSCommand1);
    buttons->addWidget(SSCommand2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SSPanel1, 1);
    layout->addLayout(buttons);

    connect(SearchTitleTxT, &QLineEdit::textChanged, this, &InputBoxDBFrm::searchChanged);
    connect(GridDisplay, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { gridClicked(index.row()); });
    connect(GridDisplay, &QAbstractItemView::doubleClicked, this, [this] { ok(); });
    connect(SSCommand1, &QPushButton::clicked, this, &InputBoxDBFrm::ok);
    connect(SSCommand2, &QPushButton::clicked, this, &InputBoxDBFrm::cancel);
}

void InputBoxDBFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!centred_ && !event->spontaneous()) {
        centred_ = true;
        common::CenterForm(this);
    }
}

bool InputBoxDBFrm::event(QEvent* event) {
    const bool done = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate) {
        activateForm();
        if (SearchTitleTxT->isVisible()) SearchTitleTxT->setFocus();
    }
    return done;
}

void InputBoxDBFrm::activateForm() {
    const auto rs = FormData->Recordset();
    if (UNIQUE_FIELD != -1 && !SearchField.isEmpty() && rs && rs->isOpen()) {
        QString name = SearchField;
        if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']'))) name = name.mid(1, name.size() - 2);
        const int index = rs->Fields().indexOf(name);
        // An unknown search field leaves no search column: the grid does not scroll.
        UNIQUE_FIELD = qint16(index < 0 ? -1 : index + 1);
    }
    // The cache is read afresh, row by row as searches reach them.
    cache_.clear();
    cacheColumn_ = SearchField.isEmpty() ? -1 : UNIQUE_FIELD;
}

QString InputBoxDBFrm::cachedText(int row) {
    platform::GridModel* model = GridDisplay->gridModel();
    while (int(cache_.size()) <= row) {
        const QModelIndex index = model->index(int(cache_.size()), cacheColumn_ - 1);
        cache_.push_back(model->data(index, Qt::DisplayRole).toString());
    }
    return cache_[size_t(row)];
}

void InputBoxDBFrm::searchChanged(const QString& text) {
    if (SearchField.isEmpty()) return;
    // The engine's search, which ignores case, moves the data control. A criteria the engine
    // refuses leaves the current record where it was.
    if (const auto rs = FormData->Recordset()) {
        try {
            rs->FindFirst(criteriaField(SearchField) + QStringLiteral(" like '") + browser::quoteText(text) +
                          QStringLiteral("*'"));
            if (!rs->NoMatch()) FormData->notifyReposition();
        } catch (const dao::Error&) {
        }
    }
    // The program's own, case-sensitive search scrolls the grid to the first row it matches.
    if (cacheColumn_ < 1) return;
    const QString pattern = text + QLatin1Char('*');
    const int rows = GridDisplay->gridModel()->rowCount();
    for (int r = 0; r < rows; ++r) {
        if (likeMatch(cachedText(r), pattern)) {
            GridDisplay->verticalScrollBar()->setValue(r);
            return;
        }
    }
}

void InputBoxDBFrm::gridClicked(int row) {
    if (row >= 0) SSCommand1->setDefault(true);
    try {
        if (const auto rs = FormData->Recordset()) {
            rs->MoveFirst();
            rs->Move(row);
            FormData->notifyReposition();
        }
    } catch (const dao::Error&) {
    }
}

void InputBoxDBFrm::ok() {
    const auto shown = FormData->Recordset();
    long long count = 0;
    try {
        count = shown && shown->isOpen() ? shown->RecordCount() : 0;
    } catch (const dao::Error&) {
        count = 0;
    }
    if (count < 1) {
        platform::MsgBox(QStringLiteral("No records to select from."), platform::vbExclamation);
        return;
    }
    try {
        auto db = dao::OpenDatabase(FormData->DatabaseName());
        QString answer;
        {
            auto rs = db->OpenRecordset(sRecordSource);
            const long long position = shown->AbsolutePosition();
            if (position == count - 1) {
                rs->MoveLast();
            } else {
                rs->MoveFirst();
                rs->Move(position);
            }
            const dao::Variant value = rs->Fields().Item(AnswerField).Value();
            if (value.isNull()) dao::raise(dao::err::InvalidUseOfNull);
            answer = dao::valueToText(value);
            rs->Close();
        }
        db->Close();
        finish(answer);
    } catch (const dao::Error&) {
        finish(ErrorAnswer);
    }
}

void InputBoxDBFrm::cancel() {
    finish(ErrorAnswer);
}

void InputBoxDBFrm::reject() {
    finish(ErrorAnswer);
}

void InputBoxDBFrm::finish(const QString& answer) {
    Answer = answer;
    hide();
}

}  // namespace dialogs
