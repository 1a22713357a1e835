#include "MenuPanels.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <cmath>
#include <utility>

#include "PanelContents.h"
#include "platform/Twips.h"

namespace browser {

namespace {

const QColor kBlack(0x00, 0x00, 0x00);     // 16-colour palette entry 0
const QColor kDarkBlue(0x00, 0x00, 0x80);  // 16-colour palette entry 1

// The buttons of the "Table" panel and the tool panel each one opens.
struct Opener {
    QPushButton* PanelControls::*button;
    int panel;
};
constexpr Opener kOpeners[] = {{&PanelControls::RemplaceBtn, 4},
                               {&PanelControls::FixBtn, 5},
                               {&PanelControls::TotalsBtn, 6},
                               {&PanelControls::SSCommand1, 7},
                               {&PanelControls::CopyBtn, 8}};

bool isHoverEvent(QEvent::Type t) {
    return t == QEvent::Enter || t == QEvent::MouseMove || t == QEvent::HoverEnter || t == QEvent::HoverMove;
}

}  // namespace

MenuPanels::MenuPanels(QWidget* window, QWidget* controlPanel)
    : QObject(window), window_(window), bar_(controlPanel) {
    // The panels must be the bar's siblings to be stacked below it.
    QWidget* host = bar_->parentWidget() ? bar_->parentWidget() : window_;

    for (int i = 0; i < PanelCount; ++i) {
        auto* p = new QFrame(host);
        p->setObjectName(QStringLiteral("MenuPanel(%1)").arg(i));
        p->setFrameShape(QFrame::Panel);
        p->setFrameShadow(QFrame::Raised);
        p->setLineWidth(2);
        p->setAutoFillBackground(true);
        p->setWindowTitle(menuPanelCaption(i));
        p->setMouseTracking(true);
        p->resize(platform::twipsToPixelsX(menuPanelWidthTwips(i)),
                  platform::twipsToPixelsY(menuPanelHeightTwips(i)));
        buildPanelContents(i, p, controls_);
        p->stackUnder(bar_);
        p->installEventFilter(this);
        panels_[i] = p;
    }

    tab_ = new QTabBar(bar_);
    tab_->setObjectName("ManageTab");
    tab_->setGeometry(platform::twipsToPixelsX(15), platform::twipsToPixelsY(45),
                      platform::twipsToPixelsX(7065), platform::twipsToPixelsY(780));
    tab_->setExpanding(false);
    tab_->setDrawBase(false);
    // Each tab has its letter (Alt+E, Alt+R, Alt+D, Alt+T); Enter or Space opens the current one.
    for (const char* t : {"S&elect", "&Reports", "Recor&d", "&Table"}) tab_->addTab(QString::fromLatin1(t));
    tab_->setFocusPolicy(Qt::StrongFocus);
    tab_->setMouseTracking(true);
    tab_->installEventFilter(this);
    tab_->show();
    setTabTextColor(kBlack);

    bar_->setMouseTracking(true);
    bar_->installEventFilter(this);

    timer_ = new QTimer(this);
    timer_->setObjectName("AutoResetMenus");
    connect(timer_, &QTimer::timeout, this, [this] {
        // Never under a resting mouse or the user's typing: the countdown starts again when they leave.
        if (holdsOpenPanel()) {
            setTimerEnabled(false);
            return;
        }
        ResetMenus();
        setTimerInterval(0);
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        const auto inPanel = [this](QWidget* w) {
            for (QFrame* p : panels_)
                if (w && p->isAncestorOf(w)) return true;
            return false;
        };
        if (inPanel(old) && !inPanel(now) && !holdsOpenPanel()) restartCountdown();
    });

    wireControls();
    ResetMenus();
}

void MenuPanels::wireControls() {
    const PanelControls& c = controls_;
    for (QFrame* p : panels_) {
        for (QPushButton* b : p->findChildren<QPushButton*>()) {
            const QString name = b->objectName();
            int opens = -1;
            for (const Opener& o : kOpeners)
                if (c.*o.button == b) opens = o.panel;
            if (opens >= 0) b->installEventFilter(this);  // to tell a key's press from the mouse's
            connect(b, &QPushButton::clicked, this, [this, name, opens] {
                QPointer<MenuPanels> self(this);
                const bool byKey = std::exchange(keyPressedOpener_, false);
                if (opens >= 0 && byKey)
                    openFromKeyboard(opens);
                else if (opens >= 0)
                    ToggleMenu(opens);
                if (self) emit buttonClicked(name);
            });
        }
    }
    // Enter in the first control moves the focus to the second (without pressing a button).
    const std::pair<QWidget*, QWidget*> enterMoves[] = {
        {c.RangeCombo, c.FromTxT},
        {c.FromTxT, c.ToTxT},
        {c.ToTxT, c.ShowRecords},
        {c.RemplaceCombo, c.Remplace_FindTxT},
        {c.Remplace_FindTxT, c.Remplace_ChangeForTxT},
        {c.Remplace_ChangeForTxT, c.DoRemplaceBtn},
    };
    for (const auto& [from, to] : enterMoves) {
        if (!from || !to) continue;
        from->installEventFilter(this);
        enterMoves_.insert(from, to);
        if (auto* combo = qobject_cast<QComboBox*>(from); combo && combo->lineEdit()) {
            combo->lineEdit()->installEventFilter(this);
            enterMoves_.insert(combo->lineEdit(), to);
        }
    }
    for (QWidget* w : {static_cast<QWidget*>(c.FromTxT), static_cast<QWidget*>(c.ToTxT),
                       static_cast<QWidget*>(c.Remplace_FindTxT), static_cast<QWidget*>(c.Remplace_ChangeForTxT)}) {
        if (!w) continue;
        w->installEventFilter(this);
        selectOnFocus_.insert(w);
    }
}

QFrame* MenuPanels::panel(int i) const {
    return i >= 0 && i < PanelCount ? panels_[i] : nullptr;
}

QTabBar* MenuPanels::manageTab() const {
    return tab_;
}

QTimer* MenuPanels::autoResetMenus() const {
    return timer_;
}

double MenuPanels::barTopTwips() const {
    return platform::pixelsToTwipsY(bar_->y());
}

// The twips top kept for a panel, unless something else has moved the widget since.
double MenuPanels::panelTopTwips(int i) const {
    if (platform::twipsToPixelsY(topTw_[i]) != panels_[i]->y())
        topTw_[i] = platform::pixelsToTwipsY(panels_[i]->y());
    return topTw_[i];
}

void MenuPanels::setPanelTopTwips(int i, double top) {
    topTw_[i] = top;
    panels_[i]->move(platform::twipsToPixelsX(PanelLeftTwips), platform::twipsToPixelsY(top));
    // A closed panel is hidden outright: one taller than the bar would otherwise show below it.
    panels_[i]->setVisible(top < barTopTwips());
}

bool MenuPanels::isOpen(int i) const {
    if (i < 0 || i >= PanelCount) return false;
    return barTopTwips() >= panelTopTwips(i) + menuPanelHeightTwips(i);
}

void MenuPanels::ResetMenus() {
    const double c = barTopTwips();
    for (int i = 0; i < PanelCount; ++i) setPanelTopTwips(i, c);
}

void MenuPanels::ToggleMenu(int selTab) {
    if (selTab < 0 || selTab >= PanelCount) return;
    const double h = menuPanelHeightTwips(selTab);
    if (barTopTwips() < panelTopTwips(selTab) + h) {
        // A countdown left from an earlier open must not snap this panel back mid-slide.
        setTimerInterval(0);
        ResetMenus();
        slideMode_ = 1;
    } else {
        slideMode_ = 2;
    }

    QPointer<MenuPanels> self(this);
    while (slideMode_ != 0) {
        const double c = barTopTwips();
        const double t = panelTopTwips(selTab);
        if (slideMode_ == 1) {
            if (c >= t + h) {
                slideMode_ = 0;
                setTimerInterval(autoResetMs_);
            } else {
                setPanelTopTwips(selTab, t - SlideStepTwips);
            }
        } else if (slideMode_ == 2) {
            if (c > t)
                setPanelTopTwips(selTab, std::min(t + SlideStepTwips, c));
            else
                slideMode_ = 0;
        } else {
            slideMode_ = 0;
        }
        yieldStep();
        if (!self) return;  // the window went away while events were processed
    }
}

// One pass of the event loop, stretched to the step time so that a slide takes a fraction of a
// second whatever the machine's speed. Further toggles can run in here.
void MenuPanels::yieldStep() {
    if (stepMs_ <= 0 || slideMode_ == 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(stepMs_, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// AutoResetMenus as a classic timer: it runs while enabled with an interval above 0; setting the
// interval or enabling it afresh restarts the countdown.
void MenuPanels::setTimerEnabled(bool on) {
    if (on == timerEnabled_) return;
    timerEnabled_ = on;
    if (on && timerInterval_ > 0)
        timer_->start(timerInterval_);
    else
        timer_->stop();
}

void MenuPanels::setTimerInterval(int ms) {
    timerInterval_ = ms;
    if (ms > 0) timer_->setInterval(ms);
    if (timerEnabled_ && ms > 0)
        timer_->start();
    else
        timer_->stop();
}

void MenuPanels::setTabTextColor(const QColor& c) {
    for (int i = 0; i < tab_->count(); ++i)
        if (tab_->tabTextColor(i) != c) tab_->setTabTextColor(i, c);
}

void MenuPanels::watchHover(QWidget* searchPanel, QWidget* grid) {
    searchPanel_ = searchPanel;
    grid_ = grid;
    // Tracking, so that moves without a button held reach the filter too.
    if (searchPanel) {
        searchPanel->setMouseTracking(true);
        searchPanel->installEventFilter(this);
    }
    if (grid) {
        grid->setMouseTracking(true);
        grid->installEventFilter(this);
        if (auto* area = qobject_cast<QAbstractScrollArea*>(grid)) {
            gridViewport_ = area->viewport();
            gridViewport_->setMouseTracking(true);
            gridViewport_->installEventFilter(this);
        }
    }
}

bool MenuPanels::holdsOpenPanel() const {
    const QWidget* focus = QApplication::focusWidget();
    for (int i = 0; i < PanelCount; ++i) {
        QFrame* p = panels_[i];
        if (!p->isVisible() || !isOpen(i)) continue;
        if (focus && p->isAncestorOf(focus)) return true;
        if (p->rect().contains(p->mapFromGlobal(QCursor::pos()))) return true;
    }
    return false;
}

void MenuPanels::restartCountdown() {
    bool anyOpen = false;
    for (int i = 0; i < PanelCount; ++i) anyOpen = anyOpen || isOpen(i);
    if (!anyOpen) return;
    timerEnabled_ = true;
    setTimerInterval(autoResetMs_);
}

void MenuPanels::onHover(QObject* w) {
    if (w == tab_) {
        setTabTextColor(kDarkBlue);
        setTimerEnabled(false);
    } else if (w == bar_) {
        setTabTextColor(kBlack);
    } else if (w && (w == searchPanel_ || w == grid_ || w == gridViewport_)) {
        setTabTextColor(kBlack);
        setTimerEnabled(true);
    } else {
        for (QFrame* p : panels_)
            if (w == p) setTimerEnabled(false);
    }
}

bool MenuPanels::focusInOpenPanel() const {
    const QWidget* focus = QApplication::focusWidget();
    for (int i = 0; i < PanelCount; ++i)
        if (focus && isOpen(i) && panels_[i]->isAncestorOf(focus)) return true;
    return false;
}

void MenuPanels::openFromKeyboard(int selTab) {
    if (selTab < 0 || selTab >= PanelCount) return;
    QPointer<MenuPanels> self(this);
    if (!isOpen(selTab)) ToggleMenu(selTab);
    if (!self || !isOpen(selTab)) return;
    // Into the panel: its first control that takes the focus.
    for (QWidget* w : panels_[selTab]->findChildren<QWidget*>())
        if (w->isEnabled() && w->isVisibleTo(panels_[selTab]) && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::TabFocusReason);
            break;
        }
}

bool MenuPanels::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress && qobject_cast<QPushButton*>(watched)) keyPressedOpener_ = false;
    if (isHoverEvent(type)) {
        onHover(watched);
    } else if (type == QEvent::Leave) {
        for (QFrame* p : panels_)
            if (watched == p && !holdsOpenPanel()) restartCountdown();
    } else if (type == QEvent::MouseButtonRelease && watched == tab_) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton && tab_->rect().contains(me->position().toPoint())) {
            // After the tab bar has finished its own handling of the release.
            QTimer::singleShot(0, this, [this] {
                if (tab_->currentIndex() >= 0) ToggleMenu(tab_->currentIndex());
            });
        }
    } else if (type == QEvent::Shortcut && watched == tab_) {
        // The tab bar makes the tab current; its panel opens then, with the focus in it.
        QTimer::singleShot(0, this, [this] { openFromKeyboard(tab_->currentIndex()); });
    } else if (type == QEvent::KeyPress && watched == tab_) {
        auto* ke = static_cast<QKeyEvent*>(event);
        if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter || ke->key() == Qt::Key_Space) {
            openFromKeyboard(tab_->currentIndex());
            return true;
        }
    } else if (type == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(event);
        if (qobject_cast<QPushButton*>(watched) &&
            (ke->key() == Qt::Key_Space || ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter))
            keyPressedOpener_ = true;
        if ((ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) && enterMoves_.contains(watched)) {
            auto* combo = qobject_cast<QComboBox*>(watched);
            if (!(combo && combo->view() && combo->view()->isVisible())) {
                enterMoves_.value(watched)->setFocus(Qt::OtherFocusReason);
                return true;
            }
        }
    } else if (type == QEvent::FocusIn && selectOnFocus_.contains(watched)) {
        if (auto* le = qobject_cast<QLineEdit*>(watched)) le->selectAll();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace browser
