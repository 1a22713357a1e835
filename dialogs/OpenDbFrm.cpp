#include "OpenDbFrm.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <utility>

#include "browser/SearchSql.h"
#include "common/StandarFunctions.h"
#include "platform/DataControl.h"
#include "platform/GridModel.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace dialogs {

namespace {
constexpr int ObjectDoesNotSupport = 438;
constexpr int PictureSize = 720;
}  // namespace

OpenDbFrm::OpenDbFrm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("OpenDbFrm"));
    setWindowTitle(QStringLiteral("xxx"));
    datPrimaryRS = new platform::DataControl(this);
    datPrimaryRS->setObjectName(QStringLiteral("datPrimaryRS"));
    listModel_ = new platform::GridModel(this);
    listModel_->setDataControl(datPrimaryRS);

    // The image store: 1 delete, 2 open, 3 view, 4 find.
    const int px = platform::twipsToPixelsX(PictureSize);
    for (QStyle::StandardPixmap sp : {QStyle::SP_TrashIcon, QStyle::SP_DialogOpenButton,
                                      QStyle::SP_FileDialogDetailedView, QStyle::SP_FileDialogContentsView})
        Images.push_back(style()->standardIcon(sp).pixmap(px, px));

    FormPicture = new QLabel(this);
    FormPicture->setObjectName(QStringLiteral("FormPicture"));
    FormPicture->setFixedSize(px, px);
    ComboFrame = new QGroupBox(this);
    ComboFrame->setObjectName(QStringLiteral("ComboFrame"));
    ComboList = new QComboBox(ComboFrame);
    ComboList->setObjectName(QStringLiteral("ComboList"));
    ComboList->setEditable(true);
    ComboList->setInsertPolicy(QComboBox::NoInsert);
    ComboList->setModel(listModel_);
    ComboList->setModelColumn(0);
    ComboList->setMaxVisibleItems(12);
    auto* frameLayout = new QVBoxLayout(ComboFrame);
    frameLayout->addWidget(ComboList);

    Okbtn = new QPushButton(QStringLiteral("&OK"), this);
    Okbtn->setObjectName(QStringLiteral("Okbtn"));
    Okbtn->setAutoDefault(false);
    CancelBtn = new QPushButton(QStringLiteral("&Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->addWidget(FormPicture, 0, Qt::AlignTop);
    top->addWidget(ComboFrame, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Okbtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    const int margin = platform::twipsToPixelsX(240);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addLayout(top);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(Okbtn, &QPushButton::clicked, this, &OpenDbFrm::OpenCurrentRecord);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::close);
    // A pick in the list part (the popup); Enter in the text part is taken by the event filter. The
    // editable combo also reports "activated" when its typed text matches an item and merely loses
    // the focus (a message box taking it counts): only a click or Enter in the popup's list acts.
    connect(ComboList, &QComboBox::activated, this, [this](int) {
        if (!std::exchange(pickedInList_, false)) return;
        if (!NotOneClickOpen) actWithPointer();
    });
    ComboList->lineEdit()->installEventFilter(this);
    ComboList->view()->installEventFilter(this);
    ComboList->view()->viewport()->installEventFilter(this);
    resize(platform::twipsToPixelsX(5400), platform::twipsToPixelsY(2700));
}

void OpenDbFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loaded_ && !event->spontaneous()) loadForm();
}

void OpenDbFrm::closeEvent(QCloseEvent* event) {
    loaded_ = false;
    QDialog::closeEvent(event);
}

void OpenDbFrm::done(int result) {
    loaded_ = false;
    QDialog::done(result);
}

void OpenDbFrm::unloadLater() {
    // Closing from inside the show would leave a modal show waiting for nothing.
    QMetaObject::invokeMethod(this, &QDialog::close, Qt::QueuedConnection);
}

void OpenDbFrm::loadForm() {
    loaded_ = true;
    if (ErrorState) {
        unloadLater();
        return;
    }
    try {
        const int picture = PicType != 0 ? PicType : FormMode;
        shownPicture_ = picture >= 1 && picture <= int(Images.size()) ? picture : 0;
        FormPicture->setPixmap(shownPicture_ ? Images[size_t(shownPicture_ - 1)] : QPixmap());
        ComboFrame->setTitle(ComboCaption);

        // The table name is quoted as the browser quotes it, so any name opens.
        datPrimaryRS->setDatabaseName(DBFileName);
        datPrimaryRS->setRecordSource(
            browser::recordSourceSql(browser::fieldRef(DBiField) + QStringLiteral(",*"), DBTable));
        datPrimaryRS->Refresh();
        common::SortDataControl(datPrimaryRS, browser::sortExpression(DBiField));

        refreshList();
        common::CenterForm(this);
    } catch (const dao::Error& e) {
        platform::MsgBox(QStringLiteral("Could not open the database due to the following error: ") +
                             e.description() + QStringLiteral(" #") + QString::number(e.number()),
                         platform::vbCritical);
        unloadLater();
        return;
    }
    if (MyIdiom == 0)
        QuestionString = QStringLiteral("Esta seguro que desea borrar este record?");
    else if (MyIdiom == 1)
        QuestionString = QStringLiteral("Are you sure you want to erase this record?");
    else
        QuestionString.clear();
}

void OpenDbFrm::refreshList() {
    listModel_->reload();
    ComboList->setCurrentIndex(-1);
    ComboList->clearEditText();
}

bool OpenDbFrm::moveToPicked() {
    // The item picked; a typed text counts when it is one of the listed values.
    const QString text = ComboList->currentText();
    int index = ComboList->currentIndex();
    if (index < 0 || ComboList->itemText(index) != text) index = ComboList->findText(text, Qt::MatchFixedString);
    if (index < 0) return false;
    datPrimaryRS->Recordset()->setAbsolutePosition(index);
    datPrimaryRS->notifyReposition();
    return true;
}

void OpenDbFrm::OpenCurrentRecord() {
    const auto rs = datPrimaryRS->Recordset();
    bool picked = false;
    try {
        picked = rs && rs->isOpen() && rs->RecordCount() >= 1 && rs->AbsolutePosition() >= 0 &&
                 !ComboList->currentText().isEmpty() && moveToPicked();
    } catch (const dao::Error&) {
        picked = false;
    }
    if (!picked) {
        if (MyIdiom == 0)
            platform::MsgBox(QStringLiteral("Seleccione un record de la lista."), platform::vbExclamation);
        else if (MyIdiom == 1)
            platform::MsgBox(QStringLiteral("Please select a record from the list."), platform::vbExclamation);
        return;
    }
    try {
        if (FormMode == 1) {
            if (platform::MsgBox(QuestionString, platform::vbQuestion + platform::vbYesNo) == platform::vbYes) {
                if (!SAVE_DATA_FIELD.isEmpty()) {
                    const dao::Variant v = rs->Fields().Item(SAVE_DATA_FIELD).Value();
                    SavedData = v.isNull() ? QString() : dao::valueToText(v);
                }
                rs->Delete();
                datPrimaryRS->notifyRecordsChanged();
            }
        } else if (FormMode == 2 || FormMode == 3) {
            if (!FormToLoad) dao::raise(91, QStringLiteral("Object variable not set"));
            const QMetaObject* meta = FormToLoad->metaObject();
            for (const char* name : {"Mode", "SORT_FIELD", "GotoRecord"})
                if (meta->indexOfProperty(name) < 0)
                    dao::raise(ObjectDoesNotSupport, QStringLiteral("Object doesn't support this property or method"));
            FormToLoad->setProperty("Mode", QVariant::fromValue(qint16(FormMode)));
            FormToLoad->setProperty("SORT_FIELD", DBiField);
            FormToLoad->setProperty("GotoRecord", QVariant::fromValue(qint32(rs->AbsolutePosition())));
            FormToLoad->show();
        }
        if (UnloadUponShow) {
            // After a delete whose data the caller reads, the picker only hides.
            if (FormMode == 1 && !SAVE_DATA_FIELD.isEmpty())
                hide();
            else
                close();
        } else {
            datPrimaryRS->Refresh();
            common::SortDataControl(datPrimaryRS, browser::sortExpression(DBiField));
            refreshList();
        }
    } catch (const dao::Error& e) {
        platform::MsgBox(e.description() + QStringLiteral(" - ") + QString::number(e.number()), platform::vbCritical);
    }
}

void OpenDbFrm::actWithPointer() {
    pickedInList_ = false;
    setCursor(Qt::WaitCursor);
    OpenCurrentRecord();
    unsetCursor();
}

bool OpenDbFrm::eventFilter(QObject* watched, QEvent* event) {
    // Seen before the popup itself takes the pick and reports it as "activated".
    if (watched == ComboList->view()->viewport() && event->type() == QEvent::MouseButtonRelease) pickedInList_ = true;
    if (watched == ComboList->view() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) pickedInList_ = true;
    }
    if (watched == ComboList->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            actWithPointer();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void OpenDbFrm::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // The decorative border: a double frame with quarter arcs set into its corners.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor dark = palette().color(QPalette::Shadow);
    const QColor accent = palette().color(QPalette::Highlight);
    const qreal m = platform::twipsToPixelsX(60);
    const QRectF outer = QRectF(rect()).adjusted(m, m, -m, -m);
    const QRectF inner = outer.adjusted(m, m, -m, -m);
    p.setPen(QPen(dark, 1.5));
    p.drawRect(outer);
    p.setPen(QPen(accent, 1));
    p.drawRect(inner);
    const qreal a = platform::twipsToPixelsX(480);
    p.setPen(QPen(accent, 1.5));
    p.drawArc(QRectF(inner.left() - a / 2, inner.top() - a / 2, a, a), 270 * 16, 90 * 16);
    p.drawArc(QRectF(inner.right() - a / 2, inner.top() - a / 2, a, a), 180 * 16, 90 * 16);
    p.drawArc(QRectF(inner.left() - a / 2, inner.bottom() - a / 2, a, a), 0, 90 * 16);
    p.drawArc(QRectF(inner.right() - a / 2, inner.bottom() - a / 2, a, a), 90 * 16, 90 * 16);
}

}  // namespace dialogs
