#include "DataEntryFrm.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

#include "common/StandarFunctions.h"
#include "dataentry/DataEntryForm.h"
#include "dataentry/PropertyBag.h"
#include "dataentry/TwipsGeometry.h"
#include "platform/Twips.h"

namespace dataentry {

namespace {

constexpr double kClientWidth = 5820, kClientHeight = 4695;
constexpr double kStatusBarHeight = 315;

// The window's stored design of its control.
const char* const kStoredDesign =
    "_extentx=i:9790\n"
    "_extenty=i:7250\n"
    "databasename=s:\n"
    "unloadparent=b:True\n";

QPointer<DataEntryFrm>& sharedWindow() {
    static QPointer<DataEntryFrm> w;
    return w;
}

// A keyboard lock light, as the kernel shows it (/sys/class/leds/<input>::capslock/brightness).
bool ledOn(const QString& suffix) {
    const QDir leds(QStringLiteral("/sys/class/leds"));
    for (const QString& name : leds.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        if (!name.endsWith(suffix)) continue;
        QFile f(leds.filePath(name + QStringLiteral("/brightness")));
        if (f.open(QIODevice::ReadOnly) && f.readAll().trimmed().toInt() > 0) return true;
    }
    return false;
}

}  // namespace

DataEntryFrm::DataEntryFrm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DataEntryFrm"));
    setWindowTitle(QStringLiteral("xxx"));
    setSizeGripEnabled(false);

    DataEntryForm1 = new DataEntryForm(this);
    DataEntryForm1->setObjectName(QStringLiteral("DataEntryForm1"));
    DataEntryForm1->ReadProperties(PropertyBag::fromText(QString::fromLatin1(kStoredDesign)));
    placeTwips(DataEntryForm1, 120, 150, 5550, 4110);
    connect(DataEntryForm1, &DataEntryForm::FinishedLoading, this, &DataEntryFrm::onFinishedLoading);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    capsPanel_ = new QLabel(QStringLiteral("CAPS"), StatusBar1);
    capsPanel_->setObjectName(QStringLiteral("Panel1"));
    numPanel_ = new QLabel(QStringLiteral("NUM"), StatusBar1);
    numPanel_->setObjectName(QStringLiteral("Panel2"));
    for (QLabel* l : {capsPanel_, numPanel_}) {
        l->setAlignment(Qt::AlignCenter);
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setMinimumWidth(platform::twipsToPixelsX(900));
        StatusBar1->addWidget(l);
    }
    keyTimer_ = new QTimer(this);
    keyTimer_->setInterval(250);
    connect(keyTimer_, &QTimer::timeout, this, &DataEntryFrm::updateKeyPanels);
    updateKeyPanels();

    resize(platform::twipsToPixelsX(kClientWidth), platform::twipsToPixelsY(kClientHeight));
}

DataEntryFrm::~DataEntryFrm() = default;

DataEntryFrm* DataEntryFrm::shared(QWidget* parent) {
    QPointer<DataEntryFrm>& w = sharedWindow();
    if (!w) w = new DataEntryFrm(parent);
    return w;
}

bool DataEntryFrm::hasShared() {
    return !sharedWindow().isNull();
}

void DataEntryFrm::releaseShared() {
    QPointer<DataEntryFrm>& w = sharedWindow();
    delete w.data();
    w = nullptr;
}

void DataEntryFrm::setCaption(const QString& caption) {
    Load();
    setWindowTitle(caption);
}

void DataEntryFrm::Load() {
    if (loaded_) return;
    loaded_ = true;
    // Out of sight while the control builds its rows; FinishedLoading brings the window back.
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int screenHeight = screen ? screen->geometry().height() : 768;
    // A thousand screens down, within what window systems can place (X11 positions are 16-bit).
    move(x(), int(std::min<long long>(1000LL * screenHeight, 30000)));
    if (!DB_DATABASENAME.isEmpty()) DataEntryForm1->setDatabaseName(DB_DATABASENAME);
    if (!DB_SELECTED_TABLE.isEmpty()) DataEntryForm1->setSelectedTable(DB_SELECTED_TABLE);
    if (!DB_FORMCAPTION.isEmpty()) setWindowTitle(DB_FORMCAPTION);
    resize(width(), std::max(1, platform::twipsToPixelsY(1)));
    placeTwips(DataEntryForm1, 1, 1, twipsWidth(DataEntryForm1), twipsHeight(DataEntryForm1));
}

void DataEntryFrm::setVisible(bool visible) {
    if (!visible || isVisible()) {
        QDialog::setVisible(visible);
        return;
    }
    Load();
    finished_ = false;
    QDialog::setVisible(true);
    if (!finished_) QTimer::singleShot(0, this, &QDialog::reject);
}

void DataEntryFrm::showEvent(QShowEvent* event) {
    keyTimer_->start();
    QDialog::showEvent(event);
}

void DataEntryFrm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int barHeight = platform::twipsToPixelsY(kStatusBarHeight);
    StatusBar1->setGeometry(0, height() - barHeight, width(), barHeight);
    StatusBar1->raise();
}

void DataEntryFrm::onFinishedLoading() {
    finished_ = true;
    common::CenterForm(this);
    // The control has kept the window's height within the screen's available area; centred on the
    // whole screen it may still reach under a panel, so it is moved into the available area.
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect room = screen->availableGeometry();
    const QRect outer = frameGeometry();
    const int dx = std::max(room.left() - outer.left(), std::min(0, room.right() - outer.right()));
    const int dy = std::max(room.top() - outer.top(), std::min(0, room.bottom() - outer.bottom()));
    if (dx || dy) move(pos() + QPoint(dx, dy));
}

bool DataEntryFrm::capsLockOn() {
    return ledOn(QStringLiteral("::capslock"));
}

bool DataEntryFrm::numLockOn() {
    return ledOn(QStringLiteral("::numlock"));
}

void DataEntryFrm::updateKeyPanels() {
    capsPanel_->setEnabled(capsLockOn());
    numPanel_->setEnabled(numLockOn());
}

}  // namespace dataentry
