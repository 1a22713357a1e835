#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <array>

#include "PanelControls.h"

class QColor;
class QFrame;
class QTabBar;
class QTimer;
class QWidget;

namespace browser {

// The table browser's slide-up menu panels MenuPanel(0..8), the tab strip ManageTab that opens the
// first four, and the timer AutoResetMenus that closes an open panel after a while.
//
// A panel is closed when its top equals the bar's top (it lies behind the bar, which is stacked above
// it) and open when its bottom is at or above the bar's top. Positions are kept in twips, so a slide
// step is exactly 20 twips whatever the pixel rounding.
class MenuPanels : public QObject {
    Q_OBJECT
public:
    static constexpr int PanelCount = 9;
    static constexpr int PanelLeftTwips = 3405;
    static constexpr int SlideStepTwips = 20;
    static constexpr int AutoResetMs = 3000;

    // Creates the panels as children of the bar's parent (normally `window`), stacked just below
    // `controlPanel`, their contents, and ManageTab inside `controlPanel`. All panels start closed.
    MenuPanels(QWidget* window, QWidget* controlPanel);

    // Opens panel `selTab` unless it is fully open, else closes it; returns when the slide has ended.
    // Yields to the event loop between steps, so it can be re-entered: the inner call takes over the
    // one slide mode and the outer slide stops where it was.
    void ToggleMenu(int selTab);
    // Closes all panels at once (also after the bar has moved).
    void ResetMenus();

    QFrame* panel(int i) const;
    // The panels' controls, gathered when they were built.
    const PanelControls& controls() const { return controls_; }
    QTabBar* manageTab() const;
    QTimer* autoResetMenus() const;
    int slideMode() const { return slideMode_; }
    bool isOpen(int i) const;
    // The AutoResetMenus enabled flag, which the mouse position drives.
    bool autoResetEnabled() const { return timerEnabled_; }

    // Mouse over these: tab text back to black and the auto-close countdown runs again.
    void watchHover(QWidget* searchPanel, QWidget* grid);

    // Pace of a slide: the least time one step takes (events are processed meanwhile); 0 = one pass
    // through the event loop only.
    void setStepMs(int ms) { stepMs_ = ms; }
    // Delay of the automatic close after an open (tests shorten it).
    void setAutoResetInterval(int ms) { autoResetMs_ = ms; }

signals:
    // A command button on a panel was clicked (objectName = its design name). Buttons that open a
    // panel are reported too, after their panel has slid.
    void buttonClicked(const QString& objectName);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Opens a panel from the keyboard (Enter or Space on the tab strip, a tab's letter) and puts the
    // focus on its first control; the timed close leaves it open while the focus is inside.
    void openFromKeyboard(int selTab);
    bool focusInOpenPanel() const;
    bool keyPressedOpener_ = false;  // a panel-opening button is being pressed from the keyboard
    double barTopTwips() const;
    double panelTopTwips(int i) const;
    void setPanelTopTwips(int i, double top);
    void yieldStep();
    void setTimerEnabled(bool on);
    void setTimerInterval(int ms);
    void setTabTextColor(const QColor& c);
    void wireControls();
    void onHover(QObject* watched);
    // Whether the mouse is over an open panel or the focus is inside one: it stays open then.
    bool holdsOpenPanel() const;
    // The countdown to closing, from its start (the mouse or the focus left an open panel).
    void restartCountdown();

    QWidget* window_;
    QWidget* bar_;
    QTabBar* tab_ = nullptr;
    QTimer* timer_ = nullptr;
    std::array<QFrame*, PanelCount> panels_{};
    PanelControls controls_;
    mutable std::array<double, PanelCount> topTw_{};
    int slideMode_ = 0;  // 0 idle, 1 opening, 2 closing
    bool timerEnabled_ = true;
    int timerInterval_ = 0;
    int stepMs_ = 4;
    int autoResetMs_ = AutoResetMs;
    QWidget* searchPanel_ = nullptr;
    QWidget* grid_ = nullptr;
    QWidget* gridViewport_ = nullptr;
    QHash<QObject*, QWidget*> enterMoves_;  // Enter in key -> focus to value
    QSet<QObject*> selectOnFocus_;
};

}  // namespace browser
