#include "DataEntryForm.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QFocusEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>
#include <algorithm>
#include <limits>

#include "LookupHint.h"
#include "PropertyBag.h"
#include "TwipsGeometry.h"
#include "common/BFolder.h"
#include "common/OperationErrorBox.h"
#include "common/StandarFunctions.h"
#include "platform/DataControl.h"
#include "platform/MaskedEdit.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace dataentry {

const QString DataEntryForm::DefaultDatabaseName = QStringLiteral("C:\\vorn.mdb");
const QString DataEntryForm::DatabaseNameWriteDefault = QStringLiteral("C:\\Dalmo\\PROJECTS\\Velloset\\SmallDB.mdb");

namespace {

// Layout constants, twips.
constexpr double kRowPitch = 780;
constexpr double kYesNoLift = 300;
constexpr double kHintBelow = 320;
constexpr double kHiddenRowTop = -600;
constexpr double kResizeBelowLastRow = 2000;
constexpr double kContainerExtra = 700;
constexpr double kParkedBox = -3000;
// Room kept below the last row inside the scrolled area, and the least height a clamped form keeps.
constexpr double kRowsMargin = 120;
constexpr double kLeastFormHeight = 2000;
// A window not shown yet has no frame to measure: its title bar and borders are taken as this many
// pixels when the window is kept within the screen.
constexpr int kAssumedFramePixels = 40;

const QColor kRow0Colour(192, 192, 255);
const QColor kFailedColour(255, 0, 0);  // colour 12 of the classic palette

const QString kDefaultOkCaption = QStringLiteral("&Ok");
const QString kDefaultCloseCaption = QStringLiteral("&Close");

QString arrayName(const char* array, int i) {
    return QString::fromLatin1(array) + u'(' + QString::number(i) + u')';
}

void setBackColour(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::Base, c);
    w->setPalette(p);
}

QColor windowBackground() {
    return QApplication::palette().color(QPalette::Base);
}

QByteArray pngBytes(const QPixmap& picture) {
    if (picture.isNull()) return QByteArray();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return bytes;
}

QPixmap pictureFrom(const QVariant& v) {
    QPixmap p;
    if (v.typeId() == QMetaType::QPixmap) return v.value<QPixmap>();
    const QByteArray bytes = v.toByteArray();
    if (!bytes.isEmpty() && !p.loadFromData(bytes, "PNG"))
        throw dao::Error(dao::err::TypeMismatch, QStringLiteral("The picture in the property bag cannot be read"));
    return p;
}

const QString kErrorsText = QStringLiteral("There are erros on the data entered.");

bool isValidatedType(int type) {
    switch (type) {
        case dao::dbInteger:
        case dao::dbLong:
        case dao::dbBigInt:
        case dao::dbFloat:
        case dao::dbDecimal:
        case dao::dbDate:
        case dao::dbCurrency:
        case dao::dbNumeric:
            return true;
        default:
            return false;
    }
}

// The tallest outer height, in pixels, that keeps the window within its screen's available area.
int availableWindowHeight(const QWidget* win) {
    const QScreen* screen = win->screen() ? win->screen() : QGuiApplication::primaryScreen();
    if (!screen) return std::numeric_limits<int>::max();
    const int frame = win->frameGeometry().height() - win->height();
    return screen->availableGeometry().height() - (frame > 0 ? frame : kAssumedFramePixels);
}

// Whether an input stores Null: nothing typed in a field that is neither text nor Yes/No (an empty
// text is a text; a Yes/No input always holds its box's state).
bool storesNull(int type, const platform::MaskedEdit* input) {
    if (type == dao::dbText || type == dao::dbMemo || type == dao::dbBoolean) return false;
    return input->ClipText().trimmed().isEmpty();
}

// The value a field gets from its input's text when the record is saved: a validated input by the
// very conversion that validated it (the locale's form), so "1234,56" under a comma locale is
// 1234.56; other inputs go to the field as text, which the field reads in the locale's form and
// refuses when it is no value of its type (letters in a Single field as in a Double one).
dao::Variant valueForField(int type, const QString& text) {
    switch (type) {
        case dao::dbText:
        case dao::dbMemo:
            return dao::Variant::fromString(text);
        case dao::dbInteger:
        case dao::dbLong:
        case dao::dbCurrency:
        case dao::dbNumeric:
            if (text.trimmed().isEmpty()) return dao::Variant::fromDouble(0);
            return dao::convertForType(text, type);
        case dao::dbSingle:
            if (text.trimmed().isEmpty()) return dao::Variant::fromDouble(0);
            return dao::Variant::fromString(text);
        case dao::dbBoolean:
            return dao::Variant::fromBool(dao::leadingNumber(text) != 0);
        default:
            return dao::Variant::fromString(text);
    }
}

}  // namespace

// ---- construction --------------------------------------------------------------------------------

DataEntryForm::DataEntryForm(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("DataEntryForm"));
    datPrimaryRS = new platform::DataControl(this);
    datPrimaryRS->setObjectName(QStringLiteral("datPrimaryRS"));
    // The data control's design-time database; the bag's write default is the same path, so a
    // freshly placed control stores no database name.
    datPrimaryRS->setDatabaseName(DatabaseNameWriteDefault);
    buildDesign();
    InitProperties();
    placeTwips(this, 0, 0, DesignWidth, DesignHeight);
}

DataEntryForm::~DataEntryForm() = default;

void DataEntryForm::buildDesign() {
    // The rows stand on a canvas that scrolls above the buttons, so that a table with more fields
    // than the screen has room for still fits on it (the focused row is scrolled into view).
    rowsArea_ = new QScrollArea(this);
    rowsArea_->setObjectName(QStringLiteral("RowsArea"));
    rowsArea_->setFrameShape(QFrame::NoFrame);
    rowsArea_->setFocusPolicy(Qt::NoFocus);
    rowsArea_->setWidgetResizable(false);
    rows_ = new QWidget;
    rows_->setObjectName(QStringLiteral("Rows"));
    rowsArea_->setWidget(rows_);
    rows_->setAutoFillBackground(false);
    rowsArea_->viewport()->setAutoFillBackground(false);

    Box = new QFrame(rows_);
    Box->setObjectName(QStringLiteral("Box"));
    Box->setFrameShape(QFrame::Box);
    Box->setAttribute(Qt::WA_TransparentForMouseEvents);
    {
        QPalette p = Box->palette();
        p.setColor(QPalette::WindowText, p.color(QPalette::Highlight));
        Box->setPalette(p);
    }
    placeTwips(Box, 60, 180, 1590, 285);

    auto* name0 = new QLabel(QStringLiteral("xxx:"), rows_);
    name0->setObjectName(arrayName("FieldNames", 0));
    name0->setToolTip(QStringLiteral("Double Click to set Mask of this field"));
    name0->installEventFilter(this);
    placeTwips(name0, 165, 210, 1965, 210);
    FieldNames.push_back(name0);

    auto* input0 = new platform::MaskedEdit(rows_);
    input0->setObjectName(arrayName("TxTFields", 0));
    setBackColour(input0, kRow0Colour);
    input0->installEventFilter(this);
    connect(input0, &QLineEdit::textChanged, this, [this, input0] { inputChanged(rowOf(input0, "TxTFields")); });
    placeTwips(input0, 1800, 180, 2970, 255);
    TxTFields.push_back(input0);

    auto* tip0 = new QLabel(rows_);
    tip0->setObjectName(arrayName("QuickTips", 0));
    {
        QFont f = tip0->font();
        f.setPointSizeF(f.pointSizeF() * 0.85);
        f.setItalic(true);
        tip0->setFont(f);
        QPalette p = tip0->palette();
        p.setColor(QPalette::WindowText, p.color(QPalette::PlaceholderText));
        tip0->setPalette(p);
    }
    placeTwips(tip0, 1815, 495, 2940, 225);
    tip0->hide();
    QuickTips.push_back(tip0);

    auto* browse0 = new QPushButton(QStringLiteral("Browse"), rows_);
    browse0->setObjectName(arrayName("Button", 0));
    browse0->setAutoDefault(false);
    connect(browse0, &QPushButton::clicked, this, [this, browse0] { browse(rowOf(browse0, "Button")); });
    placeTwips(browse0, 4830, 180, 720, 240);
    browse0->hide();
    Button.push_back(browse0);

    auto* check0 = new QCheckBox(rows_);
    check0->setObjectName(arrayName("CheckField", 0));
    check0->installEventFilter(this);
    connect(check0, &QCheckBox::clicked, this, [this, check0] { checkClicked(rowOf(check0, "CheckField")); });
    placeTwips(check0, 1800, 60, 2925, 255);
    check0->hide();
    CheckField.push_back(check0);

    auto graphical = [this](const char* name, const QString& caption) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(caption);
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setFocusPolicy(Qt::StrongFocus);
        b->setIconSize(QSize(24, 24));
        return b;
    };
    cmdUpdate = graphical("cmdUpdate", kDefaultOkCaption);
    placeTwips(cmdUpdate, 3330, 2595, 975, 840);
    connect(cmdUpdate, &QToolButton::clicked, this, &DataEntryForm::pressUpdate);
    cmdClose = graphical("cmdClose", kDefaultCloseCaption);
    placeTwips(cmdClose, 4470, 2595, 975, 840);
    connect(cmdClose, &QToolButton::clicked, this, &DataEntryForm::pressClose);
    // Enter on a focused button presses it, as Space does (Enter in the last row leads here).
    cmdUpdate->installEventFilter(this);
    cmdClose->installEventFilter(this);
    refreshButtonLook();

    ErrorBox = new QFrame(this);
    ErrorBox->setObjectName(QStringLiteral("ErrorBox"));
    ErrorBox->setFrameShape(QFrame::Panel);
    ErrorBox->setFrameShadow(QFrame::Sunken);
    placeTwips(ErrorBox, 135, 2580, 2160, 780);
    Image1 = new QLabel(ErrorBox);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(24, 24));
    placeTwips(Image1, 90, 150, 480, 480);
    Label4 = new QLabel(kErrorsText, ErrorBox);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setWordWrap(true);
    // Two lines of the message fit whole (a shorter label cut the first line at its top).
    Label4->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    placeTwips(Label4, 660, 45, 1455, 690);
    ErrorBox->hide();

    Label1 = new QLabel(QStringLiteral("DATA ENTRY CONTROL"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    placeTwips(Label1, 60, 750, 5490, 180);
    notice1_ = new QLabel(QStringLiteral("Velloform data-entry control"), this);
    placeTwips(notice1_, 60, 1050, 5490, 180);
    notice2_ = new QLabel(QStringLiteral("Set DatabaseName and SelectedTable"), this);
    placeTwips(notice2_, 60, 1290, 5490, 180);
    for (QLabel* l : {Label1, notice1_, notice2_}) {
        l->setAlignment(Qt::AlignCenter);
        l->raise();
    }

    Box->lower();
    tabOrder_ = {input0, check0, browse0, cmdUpdate, cmdClose};
}

void DataEntryForm::refreshButtonLook() {
    // A button without a picture of its own shows the style's, so it still reads as a graphical button.
    cmdUpdate->setIcon(okPicture_.isNull() ? style()->standardIcon(QStyle::SP_DialogApplyButton) : QIcon(okPicture_));
    cmdClose->setIcon(closePicture_.isNull() ? style()->standardIcon(QStyle::SP_DialogCloseButton)
                                             : QIcon(closePicture_));
}

// ---- properties ----------------------------------------------------------------------------------

QString DataEntryForm::DatabaseName() const {
    return datPrimaryRS->DatabaseName();
}

void DataEntryForm::setDatabaseName(const QString& name) {
    datPrimaryRS->setDatabaseName(name);
    notify("DatabaseName");
}

void DataEntryForm::setSelectedTable(const QString& table) {
    selectedTable_ = table;
    notify("SelectedTable");
}

void DataEntryForm::setUnloadParent(bool on) {
    unloadParent_ = on;
    notify("UnloadParent");
}

void DataEntryForm::setEnableQuickTips(bool on) {
    enableQuickTips_ = on;
    notify("EnableQuickTips");
}

void DataEntryForm::setOK_PICTURE(const QPixmap& picture) {
    okPicture_ = picture;
    refreshButtonLook();
    notify("OK_PICTURE");
}

void DataEntryForm::setCLOSE_PICTURE(const QPixmap& picture) {
    closePicture_ = picture;
    refreshButtonLook();
    notify("CLOSE_PICTURE");
}

QString DataEntryForm::OK_CAPTION() const {
    return cmdUpdate->text();
}

void DataEntryForm::setOK_CAPTION(const QString& caption) {
    cmdUpdate->setText(caption);
    notify("OK_CAPTION");
}

QString DataEntryForm::CLOSE_CAPTION() const {
    return cmdClose->text();
}

void DataEntryForm::setCLOSE_CAPTION(const QString& caption) {
    cmdClose->setText(caption);
    notify("CLOSE_CAPTION");
}

void DataEntryForm::setCloseOnOK(bool on) {
    closeOnOK_ = on;
    notify("CloseOnOK");
}

void DataEntryForm::setShowPrevData(bool on) {
    showPrevData_ = on;
    notify("ShowPrevData");
}

void DataEntryForm::setAutoResize(bool on) {
    autoResize_ = on;
    notify("AutoResize");
}

// ---- persistence ---------------------------------------------------------------------------------

void DataEntryForm::InitProperties() {
    unloadParent_ = false;
    enableQuickTips_ = true;
    closeOnOK_ = false;
    showPrevData_ = true;
    autoResize_ = true;
    selectedTable_.clear();
}

void DataEntryForm::ReadProperties(const PropertyBag& bag) {
    datPrimaryRS->setDatabaseName(bag.ReadProperty(QStringLiteral("DatabaseName"), DefaultDatabaseName).toString());
    selectedTable_ = bag.ReadProperty(QStringLiteral("SelectedTable"), QString()).toString();
    unloadParent_ = bag.ReadProperty(QStringLiteral("UnloadParent"), false).toBool();
    enableQuickTips_ = bag.ReadProperty(QStringLiteral("EnableQuickTips"), true).toBool();
    okPicture_ = pictureFrom(bag.ReadProperty(QStringLiteral("OK_PICTURE"), QByteArray()));
    closePicture_ = pictureFrom(bag.ReadProperty(QStringLiteral("CLOSE_PICTURE"), QByteArray()));
    refreshButtonLook();
    cmdUpdate->setText(bag.ReadProperty(QStringLiteral("OK_CAPTION"), kDefaultOkCaption).toString());
    cmdClose->setText(bag.ReadProperty(QStringLiteral("CLOSE_CAPTION"), kDefaultCloseCaption).toString());
    closeOnOK_ = bag.ReadProperty(QStringLiteral("CloseOnOK"), false).toBool();
    showPrevData_ = bag.ReadProperty(QStringLiteral("ShowPrevData"), true).toBool();
    autoResize_ = bag.ReadProperty(QStringLiteral("AutoResize"), true).toBool();
}

void DataEntryForm::WriteProperties(PropertyBag& bag) const {
    bag.WriteProperty(QStringLiteral("DatabaseName"), DatabaseName(), DatabaseNameWriteDefault);
    bag.WriteProperty(QStringLiteral("SelectedTable"), selectedTable_, QString());
    bag.WriteProperty(QStringLiteral("UnloadParent"), unloadParent_, false);
    bag.WriteProperty(QStringLiteral("EnableQuickTips"), enableQuickTips_, true);
    bag.WriteProperty(QStringLiteral("OK_PICTURE"), pngBytes(okPicture_), QByteArray());
    bag.WriteProperty(QStringLiteral("CLOSE_PICTURE"), pngBytes(closePicture_), QByteArray());
    bag.WriteProperty(QStringLiteral("OK_CAPTION"), OK_CAPTION(), kDefaultOkCaption);
    bag.WriteProperty(QStringLiteral("CLOSE_CAPTION"), CLOSE_CAPTION(), kDefaultCloseCaption);
    bag.WriteProperty(QStringLiteral("CloseOnOK"), closeOnOK_, false);
    bag.WriteProperty(QStringLiteral("ShowPrevData"), showPrevData_, true);
    bag.WriteProperty(QStringLiteral("AutoResize"), autoResize_, true);
}

QString DataEntryForm::ReadPropertiesFile(const QString& path) {
    try {
        const PropertyBag bag = PropertyBag::load(path);
        // Read into a scratch control first, so a bad value leaves this one as it was.
        DataEntryForm probe;
        probe.ReadProperties(bag);
        ReadProperties(bag);
        return QString();
    } catch (const dao::Error& e) {
        return common::operationErrorText(e);
    }
}

QString DataEntryForm::WritePropertiesFile(const QString& path) const {
    try {
        // Keys of the host's own (its size, say) stay in the file.
        PropertyBag bag = PropertyBag::load(path);
        WriteProperties(bag);
        bag.save(path);
        return QString();
    } catch (const dao::Error& e) {
        return common::operationErrorText(e);
    }
}

// ---- settings methods ----------------------------------------------------------------------------

void DataEntryForm::ShowBrowseButton(int lControlIndex) {
    settings_.at(lControlIndex).HasBrowse = true;  // raises 9 outside the table
}

void DataEntryForm::SetInvisible(bool sxInVisible, int CtrlIndex) {
    if (!FieldSettings::inRange(CtrlIndex)) {
        platform::MsgBox(QStringLiteral("Control ") + QString::number(CtrlIndex) +
                             QStringLiteral(" does not exist, the first control is 0 and the last is ") +
                             QString::number(int(TxTFields.size()) - 1),
                         platform::vbExclamation | platform::vbOKOnly);
        return;
    }
    settings_.at(CtrlIndex).IsInvisible = sxInVisible;
}

void DataEntryForm::SetDefault(const QString& sText, int controlx) {
    if (FieldSettings::inRange(controlx)) settings_.at(controlx).DefaultValue = sText;
}

void DataEntryForm::SetIncrement(int lIncrement, int ControlIndex) {
    if (FieldSettings::inRange(ControlIndex)) settings_.at(ControlIndex).IncrementStep = lIncrement;
}

void DataEntryForm::SetDisabled(int controlx) {
    if (FieldSettings::inRange(controlx)) settings_.at(controlx).IsDisabled = true;
}

void DataEntryForm::SetMask(const QString& sMask, int controlx) {
    if (FieldSettings::inRange(controlx)) settings_.at(controlx).MaskText = sMask;
}

void DataEntryForm::SetText(const QString& sText, int controlx) {
    if (controlx >= 0 && controlx < int(TxTFields.size())) TxTFields[size_t(controlx)]->setText(sText);
}

void DataEntryForm::Clear() {
    settings_.clear();
    TxTFields[0]->show();
    TxTFields[0]->setEnabled(true);
}

// ---- building the form ---------------------------------------------------------------------------

bool DataEntryForm::isYesNo(int i) const {
    return i >= 0 && i < int(fieldTypes_.size()) && fieldTypes_[size_t(i)] == dao::dbBoolean;
}

QWidget* DataEntryForm::container() const {
    QWidget* w = window();
    return w == this ? nullptr : w;
}

void DataEntryForm::setTabIndex(QWidget* w, int position) {
    if (!w) dao::raise(dao::err::ObjectClosed, QStringLiteral("Object variable not set"));
    tabOrder_.erase(std::remove(tabOrder_.begin(), tabOrder_.end(), w), tabOrder_.end());
    position = std::clamp(position, 0, int(tabOrder_.size()));
    tabOrder_.insert(tabOrder_.begin() + position, w);
}

void DataEntryForm::applyTabOrder() {
    for (size_t k = 1; k < tabOrder_.size(); ++k) QWidget::setTabOrder(tabOrder_[k - 1], tabOrder_[k]);
}

void DataEntryForm::resizeToRow(int i) {
    double h = twipsTop(TxTFields[size_t(i)]) + kResizeBelowLastRow;
    QWidget* c = container();
    // A window taller than its screen puts its title bar, rows and buttons out of reach: it keeps
    // within the screen's available area, and the rows scroll instead.
    const double extra = c ? kContainerExtra : 0;
    const double room = platform::pixelsToTwipsY(availableWindowHeight(c ? c : this));
    if (h + extra > room) h = std::max(room - extra, kLeastFormHeight);
    setTwipsHeight(this, h);
    if (c) c->resize(c->width(), platform::twipsToPixelsY(h + kContainerExtra));
}

void DataEntryForm::fitRows() {
    // The scrolled area reaches from the top to just above the buttons; the canvas is as tall as
    // the rows shown on it.
    const int bottom = std::max(0, std::min(cmdUpdate->y(), cmdClose->y()) - 2);
    rowsArea_->setGeometry(0, 0, width(), bottom);
    int contentBottom = 0, contentRight = 0;
    for (QObject* o : rows_->children()) {
        const auto* w = qobject_cast<QWidget*>(o);
        if (!w || w->isHidden()) continue;
        contentBottom = std::max(contentBottom, w->geometry().bottom());
        contentRight = std::max(contentRight, w->geometry().right());
    }
    const int margin = platform::twipsToPixelsY(kRowsMargin);
    const QSize view = rowsArea_->maximumViewportSize();
    const bool scrolls = contentBottom + margin > view.height();
    const int width = view.width() - (scrolls ? rowsArea_->verticalScrollBar()->sizeHint().width() : 0);
    rows_->resize(std::max(width, contentRight + 1), std::max(view.height(), contentBottom + margin));
}

void DataEntryForm::scrollIntoView(QWidget* w, int row) {
    // The row's hint below its input comes into view with it.
    const QLabel* hint = row >= 0 && row < int(QuickTips.size()) ? QuickTips[size_t(row)] : nullptr;
    const int below = hint && !hint->isHidden() ? std::max(0, hint->geometry().bottom() - w->geometry().bottom()) : 0;
    rowsArea_->ensureWidgetVisible(w, 0, below + platform::twipsToPixelsY(kRowsMargin) / 2);
}

void DataEntryForm::destroyRows() {
    for (size_t i = 1; i < TxTFields.size(); ++i) {
        for (QWidget* w : std::initializer_list<QWidget*>{TxTFields[i], FieldNames[i], QuickTips[i], Button[i],
                                                          CheckField[i]}) {
            if (!w) continue;
            tabOrder_.erase(std::remove(tabOrder_.begin(), tabOrder_.end(), w), tabOrder_.end());
            w->removeEventFilter(this);
            w->hide();
            w->deleteLater();
            w->setObjectName(QString());  // gone for look-ups by name at once
        }
    }
    TxTFields.resize(1);
    FieldNames.resize(1);
    QuickTips.resize(1);
    Button.resize(1);
    CheckField.resize(1);
    fieldTypes_.clear();

    // Row 0 back to its design state, so that every build starts from the same place.
    placeTwips(FieldNames[0], 165, 210, 1965, 210);
    placeTwips(TxTFields[0], 1800, 180, 2970, 255);
    placeTwips(QuickTips[0], 1815, 495, 2940, 225);
    placeTwips(Button[0], 4830, 180, 720, 240);
    placeTwips(CheckField[0], 1800, 60, 2925, 255);
    FieldNames[0]->show();
    Button[0]->hide();
    CheckField[0]->hide();
    setBackColour(TxTFields[0], kRow0Colour);
}

void DataEntryForm::createRow(int i) {
    // Each new element starts as a copy of element 0 as it stands now, hidden.
    platform::MaskedEdit* t0 = TxTFields[0];
    auto* t = new platform::MaskedEdit(rows_);
    t->setObjectName(arrayName("TxTFields", i));
    t->setFont(t0->font());
    t->setPalette(t0->palette());
    t->setMask(t0->Mask());
    placeTwips(t, twipsGeometry(t0));
    t->hide();
    t->installEventFilter(this);
    connect(t, &QLineEdit::textChanged, this, [this, t] { inputChanged(rowOf(t, "TxTFields")); });
    TxTFields.push_back(t);

    QLabel* n0 = FieldNames[0];
    auto* n = new QLabel(n0->text(), rows_);
    n->setObjectName(arrayName("FieldNames", i));
    n->setFont(n0->font());
    n->setToolTip(n0->toolTip());
    placeTwips(n, twipsGeometry(n0));
    n->hide();
    n->installEventFilter(this);
    FieldNames.push_back(n);

    QLabel* q0 = QuickTips[0];
    auto* q = new QLabel(rows_);
    q->setObjectName(arrayName("QuickTips", i));
    q->setFont(q0->font());
    q->setPalette(q0->palette());
    placeTwips(q, twipsGeometry(q0));
    q->hide();
    QuickTips.push_back(q);

    QPushButton* b0 = Button[0];
    auto* b = new QPushButton(b0->text(), rows_);
    b->setObjectName(arrayName("Button", i));
    b->setFont(b0->font());
    b->setAutoDefault(false);
    placeTwips(b, twipsGeometry(b0));
    b->hide();
    connect(b, &QPushButton::clicked, this, [this, b] { browse(rowOf(b, "Button")); });
    Button.push_back(b);

    CheckField.push_back(nullptr);
    tabOrder_.push_back(t);
    tabOrder_.push_back(b);
}

DataEntryForm::Flow DataEntryForm::loadStep(const std::function<void()>& step) {
    for (;;) {
        try {
            step();
            return Flow::Next;
        } catch (const dao::Error& e) {
            if (!handlingOn_) throw;
            if (e.number() == dao::err::FileNotFound) {
                platform::MsgBox(QStringLiteral("The table selected: [") + selectedTable_ +
                                     QStringLiteral("] on database: [") + DatabaseName() +
                                     QStringLiteral("] could not be loaded, on module LoadFields()"),
                                 platform::vbCritical | platform::vbOKOnly);
                return Flow::End;
            }
            const int answer =
                platform::MsgBox(common::operationErrorText(e, QStringLiteral(" on module LoadFields()")) +
                                     QStringLiteral(" - Section: ") + QString::number(double(loadSection_), 'g', 7),
                                 platform::vbCritical | platform::vbAbortRetryIgnore);
            if (answer == platform::vbAbort) return Flow::End;
            if (answer == platform::vbRetry) continue;
            return Flow::Next;
        }
    }
}

void DataEntryForm::LoadFields() {
    handlingOn_ = true;
    tooManyFields_ = false;
    loadFieldsBody();
    applyTabOrder();
    fitRows();
}

void DataEntryForm::loadFieldsBody() {
    loadSection_ = 1;
    if (selectedTable_.isEmpty()) {
        cmdUpdate->setEnabled(false);
        cmdClose->setEnabled(true);
        return;
    }

    bool opened = false;
    if (loadStep([&] {
            datPrimaryRS->setRecordSource(selectedQuery_.isEmpty()
                                              ? QStringLiteral("select * from ") + tableNameSql(selectedTable_)
                                              : selectedQuery_);
            datPrimaryRS->Refresh();
            opened = true;
        }) == Flow::End)
        return;
    // A source that did not open this time is not built from the one of an earlier call.
    if (!opened || !common::IsRecordsetOpen(datPrimaryRS->Recordset())) return;
    const std::shared_ptr<dao::Recordset> rs = datPrimaryRS->Recordset();

    loadSection_ = 2;
    try {
        destroyRows();
        TxTFields[0]->setText(QString());
        QuickTips[0]->hide();
    } catch (const dao::Error&) {
    }

    int fieldCount = 0;
    std::vector<QString> names;
    std::vector<int> sizes;
    if (loadStep([&] {
            const dao::Fields fields = rs->Fields();
            fieldCount = fields.Count();
            names.clear();
            sizes.clear();
            fieldTypes_.clear();
            for (int k = 0; k < fieldCount; ++k) {
                const dao::Field f = fields.Item(k);
                names.push_back(f.Name());
                fieldTypes_.push_back(f.Type());
                sizes.push_back(f.Size());
            }
        }) == Flow::End)
        return;
    if (fieldCount > FieldSettings::Size) {
        // Refused before any row is made: a half-built form would offer to save into some fields only.
        tooManyFields_ = true;
        fieldTypes_.clear();
        cmdUpdate->setEnabled(false);
        cmdClose->setEnabled(true);
        platform::MsgBox(QStringLiteral("The table [") + selectedTable_ + QStringLiteral("] has ") +
                             QString::number(fieldCount) + QStringLiteral(" fields; the form holds at most ") +
                             QString::number(FieldSettings::Size) + QStringLiteral(" fields."),
                         platform::vbCritical | platform::vbOKOnly);
        return;
    }

    const auto isText = [&](int i) { return fieldTypes_[size_t(i)] == dao::dbText; };

    // First pass: one row per field.
    for (int i = 0; i < fieldCount; ++i) {
        if (i == 0) {
            if (settings_.at(0).IsInvisible) {
                loadSection_ = 5;
                TxTFields[0]->hide();
                FieldNames[0]->hide();
                setTwipsTop(TxTFields[0], kHiddenRowTop);
                setTwipsTop(FieldNames[0], kHiddenRowTop);
                setTwipsTop(Button[0], twipsTop(Button[0]) - kRowPitch);
                continue;
            }
            FieldNames[0]->setText(names[0]);
            loadSection_ = 3;
            if (isYesNo(0)) {
                loadSection_ = 3.1f;
                if (loadStep([&] {
                        CheckField[0]->setText(names[0]);
                        CheckField[0]->setChecked(false);
                        CheckField[0]->show();
                        setTabIndex(CheckField[0], 0);
                        TxTFields[0]->setText(QStringLiteral("0"));
                        TxTFields[0]->hide();
                    }) == Flow::End)
                    return;
                loadSection_ = 4;
                continue;
            }
            loadSection_ = 3.5f;
            if (isText(0) && enableQuickTips_) QuickTips[0]->show();
            if (settings_.at(0).HasBrowse) Button[0]->show();
            if (fieldCount == 1) {
                loadSection_ = 3.6f;
                if (autoResize_) resizeToRow(int(TxTFields.size()) - 1);
            }
            loadSection_ = 3.7f;
            TxTFields[0]->show();
            TxTFields[0]->setMaxLength(isText(0) ? sizes[0] : 0);
            loadSection_ = 3.8f;
            if (loadStep([&] { setTabIndex(TxTFields[0], 0); }) == Flow::End) return;
            loadSection_ = 4;
            continue;
        }

        loadSection_ = 6;
        bool invisible = false;
        if (loadStep([&] {
                createRow(i);
                invisible = settings_.at(i).IsInvisible;
            }) == Flow::End)
            return;
        const size_t u = size_t(i);
        if (invisible) {
            TxTFields[u]->hide();
            Button[u]->hide();
            // A hidden row takes no room: it stands where the row before it stands, so the next
            // shown row follows that one instead of overlapping the rows above.
            setTwipsTop(TxTFields[u], twipsTop(TxTFields[u - 1]));
            setTwipsTop(FieldNames[u], twipsTop(FieldNames[u - 1]));
            setTwipsTop(Button[u], twipsTop(Button[u - 1]));
            continue;
        }

        FieldNames[u]->setText(names[u]);
        setTwipsTop(FieldNames[u], twipsTop(FieldNames[u - 1]) + kRowPitch);
        FieldNames[u]->show();
        loadSection_ = 7;
        setTwipsTop(TxTFields[u], twipsTop(TxTFields[u - 1]) + kRowPitch);
        TxTFields[u]->show();
        setBackColour(TxTFields[u], windowBackground());
        // The field's own size: a shorter limit would cut what the field can hold without a word.
        if (isText(i)) TxTFields[u]->setMaxLength(sizes[u]);

        loadSection_ = 8;
        handlingOn_ = false;
        if (isYesNo(i)) {
            auto* c = new QCheckBox(names[u], rows_);
            c->setObjectName(arrayName("CheckField", i));
            c->setFont(CheckField[0]->font());
            placeTwips(c, twipsGeometry(CheckField[0]));
            c->hide();
            c->installEventFilter(this);
            connect(c, &QCheckBox::clicked, this, [this, c] { checkClicked(rowOf(c, "CheckField")); });
            CheckField[u] = c;
            tabOrder_.push_back(c);
            if (settings_.at(i - 1).IsInvisible) {
                try {
                    const QWidget* before = CheckField[u - 1];
                    if (!before) dao::raise(dao::err::ObjectClosed, QStringLiteral("Object variable not set"));
                    const auto at = std::find(tabOrder_.begin(), tabOrder_.end(), before);
                    setTabIndex(c, int(at - tabOrder_.begin()) + 1);
                } catch (const dao::Error&) {
                }
                handlingOn_ = true;
            } else {
                const auto at = std::find(tabOrder_.begin(), tabOrder_.end(), TxTFields[u - 1]);
                setTabIndex(c, int(at - tabOrder_.begin()) + 1);
            }
            loadSection_ = 9;
            if (isYesNo(i - 1)) {
                setTwipsTop(TxTFields[u], twipsTop(TxTFields[u]) - kYesNoLift);
                setTwipsTop(FieldNames[u], twipsTop(FieldNames[u]) - kYesNoLift);
            }
            setTwipsTop(c, twipsTop(TxTFields[u]));
            c->raise();
            c->show();
            TxTFields[u]->setText(QStringLiteral("0"));
            TxTFields[u]->hide();
        }

        loadSection_ = 10;
        setTwipsTop(QuickTips[u], twipsTop(TxTFields[u]) + kHintBelow);
        setTwipsLeft(QuickTips[u], twipsLeft(TxTFields[u]) - 1);
        setTwipsTop(Button[u], twipsTop(Button[u - 1]) + kRowPitch);
        Button[u]->setVisible(settings_.at(i).HasBrowse);
        QuickTips[u]->setVisible(isText(i) && enableQuickTips_);
    }

    loadSection_ = 11;
    cmdUpdate->setEnabled(true);
    cmdClose->setEnabled(true);

    // Second pass: defaults, enabled states, masks, first tab stop, size.
    loadSection_ = 12;
    bool firstFound = false, anyShown = false;
    for (int i = 0; i < int(TxTFields.size()); ++i) {
        const FieldSettings::Entry& s = settings_.at(i);
        platform::MaskedEdit* t = TxTFields[size_t(i)];
        if (!s.DefaultValue.isEmpty()) t->setText(s.DefaultValue);
        t->setEnabled(!s.IsDisabled);
        t->setMask(s.MaskText);
        if (isYesNo(i) && CheckField[size_t(i)]) {
            // The box shows what its hidden input holds (a default may have set it).
            const double state = dao::leadingNumber(t->Text());
            CheckField[size_t(i)]->setCheckState(state == 0 ? Qt::Unchecked
                                                 : state == 2 ? Qt::PartiallyChecked
                                                              : Qt::Checked);
        }
        if (!s.IsInvisible && !firstFound && !s.IsDisabled) {
            setTabIndex(t, 0);
            if (isYesNo(i) && CheckField[size_t(i)]) setTabIndex(CheckField[size_t(i)], 0);
            firstFound = true;
            loadSection_ = 13;
        }
        if (autoResize_ && !s.IsInvisible && t->isEnabled()) resizeToRow(i);
        if (!s.IsInvisible) anyShown = true;
    }
    if (!anyShown) cmdUpdate->setEnabled(false);
    loadSection_ = 14;
}

// ---- showing and layout --------------------------------------------------------------------------

void DataEntryForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous() || !userMode_) return;
    showStep();
}

void DataEntryForm::showStep() {
    Label1->hide();
    notice1_->hide();
    notice2_->hide();
    bool built = true;
    try {
        LoadFields();
    } catch (const dao::Error& e) {
        built = false;
        platform::MsgBox(common::operationErrorText(e, QStringLiteral(" on module LoadFields()")),
                         platform::vbCritical | platform::vbOKOnly);
    }
    if (built && loadSection_ >= 14 && common::IsRecordsetOpen(datPrimaryRS->Recordset())) {
        bool firstFound = false;
        for (int i = 0; i < int(TxTFields.size()); ++i) {
            const FieldSettings::Entry& s = settings_.at(i);
            if (!s.IsDisabled && !s.IsInvisible && !firstFound) {
                setTabIndex(TxTFields[size_t(i)], 0);
                if (isYesNo(i) && CheckField[size_t(i)]) setTabIndex(CheckField[size_t(i)], 0);
                firstFound = true;
            }
        }
        cmdUpdate->setFocusPolicy(Qt::StrongFocus);
        cmdClose->setFocusPolicy(Qt::StrongFocus);
        setTabIndex(cmdUpdate, 1000);
        setTabIndex(cmdClose, 1001);
        applyTabOrder();
        placeTwips(ErrorBox, 100, twipsTop(cmdUpdate) + 30, twipsWidth(ErrorBox), twipsHeight(ErrorBox));
        FocusFirstField();
        emit FinishedLoading();
        if (QWidget* c = container(); c && !c->isVisible()) c->show();
        cmdUpdate->setEnabled(true);
        cmdClose->setEnabled(true);
    } else if (!tooManyFields_ && !DatabaseName().isEmpty() && !selectedTable_.isEmpty()) {
        platform::MsgBox(QStringLiteral("The control could not load the database or table!") + QChar(13) +
                             QStringLiteral(" for DATABASE: ") + DatabaseName() + QStringLiteral(" and TABLE: ") +
                             selectedTable_,
                         platform::vbCritical | platform::vbOKOnly);
    }
}

void DataEntryForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutButtons();
}

void DataEntryForm::layoutButtons() {
    const double w = platform::pixelsToTwipsX(width());
    const double h = twipsHeight(this);
    const QRectF u = twipsGeometry(cmdUpdate), c = twipsGeometry(cmdClose);
    placeTwips(cmdUpdate, w - 2 * u.width() - 100, h - u.height() - 50, u.width(), u.height());
    placeTwips(cmdClose, w - c.width() - 50, h - c.height() - 50, c.width(), c.height());
    fitRows();
}

// ---- editing -------------------------------------------------------------------------------------

int DataEntryForm::rowOf(QObject* o, const char* array) const {
    const QString name = o->objectName();
    const QString prefix = QString::fromLatin1(array) + u'(';
    if (!name.startsWith(prefix) || !name.endsWith(u')')) return -1;
    bool ok = false;
    const int i = name.mid(prefix.size(), name.size() - prefix.size() - 1).toInt(&ok);
    return ok ? i : -1;
}

void DataEntryForm::markRow(int i) {
    setTwipsTop(Box, twipsTop(FieldNames[size_t(i)]) - 30);
}

void DataEntryForm::parkBox() {
    setTwipsTop(Box, kParkedBox);
}

void DataEntryForm::FocusFirstField() {
    for (int i = 0; i < int(TxTFields.size()); ++i) {
        const bool invisible = FieldSettings::inRange(i) && settings_.at(i).IsInvisible;
        if (TxTFields[size_t(i)]->isEnabled() && !invisible && !isYesNo(i)) {
            TxTFields[size_t(i)]->setFocus(Qt::OtherFocusReason);
            return;
        }
        if (isYesNo(i)) {
            if (QCheckBox* c = CheckField[size_t(i)]; c && !c->isHidden()) c->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

bool DataEntryForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::FocusIn && type != QEvent::FocusOut && type != QEvent::KeyPress &&
        type != QEvent::KeyRelease && type != QEvent::MouseButtonDblClick)
        return QWidget::eventFilter(watched, event);

    if ((watched == cmdUpdate || watched == cmdClose) && type == QEvent::KeyPress) {
        const auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() != Qt::Key_Return && k->key() != Qt::Key_Enter) return QWidget::eventFilter(watched, event);
        // A held key saves one record, not one per repeat.
        if (!k->isAutoRepeat()) static_cast<QToolButton*>(watched)->click();
        return true;
    }
    if (const int i = rowOf(watched, "TxTFields"); i >= 0 && i < int(TxTFields.size())) {
        auto* t = TxTFields[size_t(i)];
        switch (type) {
            case QEvent::FocusIn:
                // The input's own handling first, so that the selection made here stays.
                static_cast<QObject*>(t)->event(event);
                inputGotFocus(i);
                scrollIntoView(t, i);
                return true;
            case QEvent::FocusOut:
                if (FieldSettings::inRange(i)) settings_.at(i).PrevValue = enteredText(i);
                break;
            case QEvent::KeyPress: {
                const auto* k = static_cast<QKeyEvent*>(event);
                if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
                    advance(i, true);
                    return true;
                }
                break;
            }
            case QEvent::KeyRelease: {
                const auto* k = static_cast<QKeyEvent*>(event);
                if (!k->isAutoRepeat() || k->key() == Qt::Key_PageDown) inputKeyUp(i, k->key());
                break;
            }
            default:
                break;
        }
        return QWidget::eventFilter(watched, event);
    }
    if (const int i = rowOf(watched, "CheckField"); i >= 0 && i < int(CheckField.size())) {
        if (type == QEvent::FocusIn) {
            markRow(i);
            if (QCheckBox* c = CheckField[size_t(i)]) scrollIntoView(c, i);
        } else if (type == QEvent::KeyPress) {
            const auto* k = static_cast<QKeyEvent*>(event);
            if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
                advance(i, false);
                return true;
            }
        }
        return QWidget::eventFilter(watched, event);
    }
    if (const int i = rowOf(watched, "FieldNames"); i >= 0 && type == QEvent::MouseButtonDblClick) {
        askMask(i);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void DataEntryForm::inputGotFocus(int i) {
    markRow(i);
    platform::MaskedEdit* t = TxTFields[size_t(i)];
    if (FieldSettings::inRange(i)) {
        const FieldSettings::Entry& s = settings_.at(i);
        if (enteredText(i).trimmed().isEmpty() && showPrevData_ && s.DefaultValue.isEmpty())
            t->setText(t->hasMask() ? dao::formatWithMask(s.PrevValue, t->Mask()) : s.PrevValue);
    }
    t->setSelStart(0);
    t->setSelLength(int(t->Text().size()));
}

void DataEntryForm::inputChanged(int i) {
    if (i < 0 || i >= int(TxTFields.size())) return;
    if (TxTFields[size_t(i)]->Text().isEmpty()) return;
    resetColour(i);
    ErrorBox->hide();
}

void DataEntryForm::resetColour(int i) {
    setBackColour(TxTFields[size_t(i)], i == 0 ? kRow0Colour : QColor(Qt::white));
}

void DataEntryForm::setFailedColour(int i) {
    setBackColour(TxTFields[size_t(i)], kFailedColour);
}

// A look-up hint is taken only while it still contains what the input holds (the look-up's own
// rule): one found for an earlier text must never replace what the user typed since.
bool DataEntryForm::hintMatches(int i) const {
    const QLabel* hint = QuickTips[size_t(i)];
    const QString typed = TxTFields[size_t(i)]->Text();
    return !hint->isHidden() && !hint->text().isEmpty() && !typed.isEmpty() &&
           hint->text().contains(typed, Qt::CaseInsensitive);
}

void DataEntryForm::advance(int i, bool fromTextInput) {
    const int last = int(TxTFields.size()) - 1;
    if (i >= last) {
        // A keyboard move, as Tab is: the style then draws the button's focus (Enter presses it).
        window()->setAttribute(Qt::WA_KeyboardFocusChange);
        cmdUpdate->setFocus(Qt::OtherFocusReason);
        parkBox();
    } else {
        for (int j = i + 1; j <= last; ++j) {
            platform::MaskedEdit* t = TxTFields[size_t(j)];
            QCheckBox* c = CheckField[size_t(j)];
            if (t->isEnabled() && !t->isHidden()) {
                t->setFocus(Qt::OtherFocusReason);
            } else if (c && !c->isHidden()) {
                c->setFocus(Qt::OtherFocusReason);
            } else {
                continue;
            }
            markRow(j);
            break;
        }
    }
    if (fromTextInput && hintMatches(i)) TxTFields[size_t(i)]->setText(QuickTips[size_t(i)]->text());
}

void DataEntryForm::inputKeyUp(int i, int key) {
    platform::MaskedEdit* t = TxTFields[size_t(i)];
    QLabel* hint = QuickTips[size_t(i)];
    if (!t->Text().isEmpty() && !hint->isHidden()) {
        const common::StepResult r = common::runOperationStep(
            [&] {
                const auto found = lookupHint(DatabaseName(), selectedTable_, i, t->Text());
                hint->setText(found ? *found : QString());  // no match: no hint left from an earlier text
            },
            QStringLiteral(" on module TxTFields_KeyUp"));
        if (r == common::StepResult::Aborted) return;
    }
    if (key == Qt::Key_PageDown) {
        const int caret = t->SelStart();
        if (hintMatches(i)) t->setText(hint->text());
        t->setSelStart(caret);
    }
}

void DataEntryForm::checkClicked(int i) {
    if (i < 0 || i >= int(CheckField.size()) || !CheckField[size_t(i)]) return;
    const Qt::CheckState s = CheckField[size_t(i)]->checkState();
    TxTFields[size_t(i)]->setText(s == Qt::Unchecked ? QStringLiteral("0")
                                  : s == Qt::Checked ? QStringLiteral("1")
                                                     : QStringLiteral("2"));
}

void DataEntryForm::askMask(int i) {
    if (i < 0 || i >= int(TxTFields.size())) return;
    const QString mask = platform::InputBox(QStringLiteral("Enter the mask for this field: "),
                                            QStringLiteral("Mask setting"));
    TxTFields[size_t(i)]->setMask(mask);
}

void DataEntryForm::browse(int i) {
    if (i < 0 || i >= int(TxTFields.size())) return;
    const QString path =
        common::BrowseForFolder(window(), QStringLiteral("Browse for ") + FieldNames[size_t(i)]->text());
    TxTFields[size_t(i)]->setText(path);
}

// ---- saving --------------------------------------------------------------------------------------

int DataEntryForm::ValidateFixFields() {
    const auto rs = datPrimaryRS->Recordset();
    if (!common::IsRecordsetOpen(rs)) return -1;
    const dao::Fields fields = rs->Fields();
    for (int i = 0; i < int(TxTFields.size()) && i < fields.Count(); ++i) {
        const int type = fields.Item(i).Type();
        if (!isValidatedType(type)) continue;
        platform::MaskedEdit* t = TxTFields[size_t(i)];
        if (storesNull(type, t)) continue;  // stored as Null (a field that needs a value says so on saving)
        const QString kept = t->Text();
        bool failed = false;
        try {
            t->setText(dao::valueToText(dao::convertForType(kept, type)));
            if (t->Text() != kept) {
                t->setText(kept);
                failed = true;
            }
        } catch (const dao::Error&) {
            failed = true;
        }
        if (failed) {
            Label4->setText(kErrorsText);
            ErrorBox->show();
            ErrorBox->raise();
            return i;
        }
    }
    return -1;
}

void DataEntryForm::pressUpdate() {
    if (saving_) return;
    saving_ = true;
    saveRecord();
    saving_ = false;
}

QString DataEntryForm::enteredText(int i) const {
    // A masked input nobody typed into reads as its placeholder ("(___) ___-____"); it holds nothing.
    const platform::MaskedEdit* t = TxTFields[size_t(i)];
    return t->hasMask() && t->ClipText().isEmpty() ? QString() : t->Text();
}

void DataEntryForm::saveRecord() {
    if (tooManyFields_) return;
    const int r = ValidateFixFields();
    if (r != -1) {
        TxTFields[size_t(r)]->setFocus(Qt::OtherFocusReason);
        setFailedColour(r);
        return;
    }
    ErrorBox->hide();

    const auto rs = datPrimaryRS->Recordset();
    if (!common::IsRecordsetOpen(rs)) return;
    // An abandoned save leaves no half-filled record pending.
    const auto cancelPending = [&] {
        try {
            if (rs->EditMode() != dao::dbEditNone) rs->CancelUpdate();
        } catch (const dao::Error&) {
        }
    };

    if (common::runOperationStep([&] { rs->AddNew(); }) == common::StepResult::Aborted) return;
    int fieldCount = 0;
    try {
        fieldCount = rs->Fields().Count();
    } catch (const dao::Error&) {
    }
    for (int i = 0; i < fieldCount && i < int(TxTFields.size()); ++i) {
        const auto step = [&] {
            dao::Field f = rs->Fields().Item(i);
            platform::MaskedEdit* t = TxTFields[size_t(i)];
            f.setValue(storesNull(f.Type(), t) ? dao::Variant::null() : valueForField(f.Type(), enteredText(i)));
        };
        if (common::runOperationStep(step) == common::StepResult::Aborted) {
            cancelPending();
            return;
        }
    }
    // An empty input the field cannot take (it needs a value) is named and marked as in validation,
    // instead of an error box naming no field.
    bool updated = false;
    try {
        rs->Update();
        updated = true;
    } catch (const dao::Error& e) {
        if (e.number() == dao::err::NullNotAllowed) {
            for (int i = 0; i < fieldCount && i < int(TxTFields.size()); ++i) {
                QString name;
                int type = 0;
                try {
                    name = rs->Fields().Item(i).Name();
                    type = rs->Fields().Item(i).Type();
                } catch (const dao::Error&) {
                    continue;
                }
                if (!storesNull(type, TxTFields[size_t(i)]) ||
                    !e.description().contains(QLatin1Char('.') + name, Qt::CaseInsensitive))
                    continue;
                cancelPending();
                Label4->setText(QStringLiteral("%1 needs a value.").arg(name));
                ErrorBox->show();
                ErrorBox->raise();
                TxTFields[size_t(i)]->setFocus(Qt::OtherFocusReason);
                setFailedColour(i);
                return;
            }
        }
        // Anything else goes to the operation error box below (Retry runs the update again).
    }
    // The inputs are cleared only once the record is stored, so a refused record can be corrected.
    // Stored means committed: a record the file refuses only at the commit (a deferred foreign key)
    // is reported here, while its values are still on the form, not after the host has gone.
    const common::StepResult stored = common::runOperationStep([&] {
        if (!updated) {
            if (rs->EditMode() == dao::dbEditNone) {
                // Again after a refused commit took the record back: the same values once more.
                rs->AddNew();
                for (int i = 0; i < fieldCount && i < int(TxTFields.size()); ++i) {
                    dao::Field f = rs->Fields().Item(i);
                    platform::MaskedEdit* t = TxTFields[size_t(i)];
                    f.setValue(storesNull(f.Type(), t) ? dao::Variant::null() : valueForField(f.Type(), enteredText(i)));
                }
            }
            rs->Update();
        }
        updated = false;  // a Retry after a refused commit adds the record again
        if (const auto db = datPrimaryRS->Database()) db->Flush();
    });
    if (stored != common::StepResult::Done) {
        cancelPending();
        if (stored == common::StepResult::Aborted) return;
    } else {
        datPrimaryRS->notifyRecordsChanged();
    }

    std::vector<QString> savedMasks(TxTFields.size());
    if (stored == common::StepResult::Done) {
        for (int i = 0; i < fieldCount && i < int(TxTFields.size()); ++i) {
            if (FieldSettings::inRange(i) && settings_.at(i).IncrementStep != 0) continue;
            platform::MaskedEdit* t = TxTFields[size_t(i)];
            if (t->hasMask()) {
                savedMasks[size_t(i)] = t->Mask();
                t->setMask(QString());
                t->setText(QString());
                t->setMask(savedMasks[size_t(i)]);
            } else if (!isYesNo(i)) {
                t->setText(QString());
            }
        }
    }

    FocusFirstField();

    if (stored == common::StepResult::Done) {
        for (int i = 0; i < int(TxTFields.size()) && FieldSettings::inRange(i); ++i) {
            const FieldSettings::Entry& s = settings_.at(i);
            platform::MaskedEdit* t = TxTFields[size_t(i)];
            if (s.IncrementStep < 1) {
                if (!s.DefaultValue.isEmpty()) t->setText(dao::formatWithMask(s.DefaultValue, savedMasks[size_t(i)]));
            } else {
                t->setText(dao::shortestNumberText(dao::typedNumber(t->Text()) + s.IncrementStep,
                                                   QLocale().decimalPoint().at(0)));
            }
        }
    }

    if (closeOnOK_) pressClose();
}

void DataEntryForm::pressClose() {
    if (!unloadParent_) return;
    common::runOperationStep(
        [&] {
            if (QWidget* c = container()) c->close();
        },
        QStringLiteral("on module cmdClose_Click"));
}

}  // namespace dataentry
