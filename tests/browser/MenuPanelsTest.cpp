#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "browser/MenuPanels.h"
#include "platform/Twips.h"

using browser::MenuPanels;
using platform::twipsToPixelsX;
using platform::twipsToPixelsY;

namespace {

// The browser's layout at design size: a search panel, the grid and the bottom bar.
struct Host {
    QWidget window;
    QFrame* search = new QFrame(&window);
    QFrame* grid = new QFrame(&window);
    QFrame* bar = new QFrame(&window);
    MenuPanels* menus;

    Host() {
        window.resize(twipsToPixelsX(12900), twipsToPixelsY(10950));
        search->setGeometry(0, 0, twipsToPixelsX(3330), twipsToPixelsY(10650));
        grid->setGeometry(twipsToPixelsX(3495), twipsToPixelsY(45), twipsToPixelsX(9200),
                          twipsToPixelsY(8500));
        bar->setObjectName("ControlPanel");
        bar->setFrameStyle(QFrame::Panel | QFrame::Raised);
        bar->setAutoFillBackground(true);
        bar->setGeometry(twipsToPixelsX(3405), twipsToPixelsY(8625), twipsToPixelsX(9390),
                         twipsToPixelsY(870));
        menus = new MenuPanels(&window, bar);
        menus->watchHover(search, grid);
        menus->setStepMs(0);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    bool closed(int i) const { return menus->panel(i)->y() == bar->y(); }
    bool allClosed() const {
        for (int i = 0; i < MenuPanels::PanelCount; ++i)
            if (!closed(i)) return false;
        return true;
    }
    // Open as the user sees it: the whole panel above the bar.
    bool openAbove(int i) const { return menus->panel(i)->geometry().bottom() < bar->y(); }
    template <class T = QWidget>
    T* find(const QString& name) const {
        return window.findChild<T*>(name);
    }
    void hover(QWidget* w) {
        QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
        QCoreApplication::sendEvent(w, &e);
    }
};

}  // namespace

TEST(MenuPanels, StartClosedBehindTheBarWithTheirDesignSizes) {
    Host h;
    const int heights[] = {1590, 1575, 1575, 1575, 1545, 1545, 1575, 2010, 2760};
    const QList<QObject*> order = h.window.children();
    for (int i = 0; i < MenuPanels::PanelCount; ++i) {
        QFrame* p = h.menus->panel(i);
        ASSERT_TRUE(p);
        SCOPED_TRACE(i);
        EXPECT_EQ(p->objectName(), QString("MenuPanel(%1)").arg(i));
        EXPECT_EQ(p->pos(), QPoint(twipsToPixelsX(3405), h.bar->y()));
        EXPECT_EQ(p->width(), twipsToPixelsX(i == 3 ? 8670 : i == 7 ? 7065 : 7680));
        EXPECT_EQ(p->height(), twipsToPixelsY(heights[i]));
        EXPECT_LT(order.indexOf(p), order.indexOf(h.bar));   // drawn below the bar
        EXPECT_GT(order.indexOf(p), order.indexOf(h.grid));  // but above the grid
        EXPECT_FALSE(h.menus->isOpen(i));
        EXPECT_FALSE(p->isVisible());  // taller panels would stick out below the bar
    }
    QTabBar* tab = h.menus->manageTab();
    EXPECT_EQ(tab->objectName(), "ManageTab");
    EXPECT_EQ(tab->parentWidget(), h.bar);
    EXPECT_EQ(tab->geometry(), QRect(1, 3, twipsToPixelsX(7065), twipsToPixelsY(780)));
    ASSERT_EQ(tab->count(), 4);
    EXPECT_EQ(tab->tabText(0), "S&elect");
    EXPECT_EQ(tab->tabText(1), "&Reports");
    EXPECT_EQ(tab->tabText(2), "Recor&d");
    EXPECT_EQ(tab->tabText(3), "&Table");
    EXPECT_EQ(h.menus->autoResetMenus()->objectName(), "AutoResetMenus");
    EXPECT_FALSE(h.menus->autoResetMenus()->isActive());
}

TEST(MenuPanels, ToggleOpensAtPaceThenClosesAndAnotherSnapsTheFirstShut) {
    Host h;
    h.menus->setStepMs(4);
    QElapsedTimer clock;
    clock.start();
    h.menus->ToggleMenu(8);  // the tallest: 2760 twips, 138 steps
    const qint64 ms = clock.elapsed();
    EXPECT_GE(ms, 138 * 3);
    EXPECT_LT(ms, 3000);
    EXPECT_TRUE(h.menus->isOpen(8));
    EXPECT_TRUE(h.openAbove(8));
    EXPECT_TRUE(h.menus->panel(8)->isVisible());
    // It stopped at the first step at or above the bar, not further up.
    EXPECT_GE(h.menus->panel(8)->geometry().bottom(), h.bar->y() - 3);
    EXPECT_EQ(h.menus->slideMode(), 0);
    EXPECT_EQ(h.menus->autoResetMenus()->interval(), MenuPanels::AutoResetMs);
    EXPECT_TRUE(h.menus->autoResetMenus()->isActive());

    h.menus->setStepMs(0);
    h.menus->ToggleMenu(8);
    EXPECT_TRUE(h.allClosed());
    EXPECT_FALSE(h.menus->panel(8)->isVisible());
    EXPECT_EQ(h.menus->slideMode(), 0);

    h.menus->ToggleMenu(0);
    ASSERT_TRUE(h.openAbove(0));
    h.menus->ToggleMenu(3);
    EXPECT_TRUE(h.closed(0));
    EXPECT_TRUE(h.openAbove(3));
    for (int i = 0; i < MenuPanels::PanelCount; ++i) EXPECT_TRUE(i == 3 || h.closed(i)) << i;
}

TEST(MenuPanels, AToggleDuringASlideTakesOverAndTheOuterSlideStops) {
    Host h;
    h.menus->setStepMs(4);
    bool innerRan = false;
    QTimer::singleShot(60, [&] {
        EXPECT_EQ(h.menus->slideMode(), 1);
        EXPECT_FALSE(h.closed(7));  // panel 7 is on its way up
        h.menus->ToggleMenu(2);
        innerRan = true;
    });
    h.menus->ToggleMenu(7);
    ASSERT_TRUE(innerRan);
    EXPECT_EQ(h.menus->slideMode(), 0);
    EXPECT_TRUE(h.openAbove(2));
    EXPECT_TRUE(h.closed(7));  // snapped shut by the inner open, and the outer loop ended

    // Closing the open panel, interrupted by a re-open of the same panel: it ends open again.
    QTimer::singleShot(30, [&] { h.menus->ToggleMenu(2); });
    h.menus->ToggleMenu(2);
    EXPECT_TRUE(h.openAbove(2));
}

TEST(MenuPanels, ResetMenusFollowsTheBarAfterAResize) {
    Host h;
    h.menus->ToggleMenu(1);
    ASSERT_TRUE(h.openAbove(1));
    h.window.resize(h.window.width(), h.window.height() + 120);
    h.bar->move(h.bar->x(), h.bar->y() + 120);
    h.menus->ResetMenus();
    for (int i = 0; i < MenuPanels::PanelCount; ++i) {
        EXPECT_EQ(h.menus->panel(i)->pos(), QPoint(twipsToPixelsX(3405), h.bar->y())) << i;
    }
    h.menus->ToggleMenu(1);
    EXPECT_TRUE(h.openAbove(1));
    EXPECT_GE(h.menus->panel(1)->geometry().bottom(), h.bar->y() - 3);
}

TEST(MenuPanels, AutoCloseRunsOnlyWhileTheMouseIsAwayFromTabsAndPanels) {
    Host h;
    h.menus->setAutoResetInterval(150);
    QTabBar* tab = h.menus->manageTab();

    h.menus->ToggleMenu(6);
    ASSERT_TRUE(h.openAbove(6));
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.closed(6); }, 2000));
    EXPECT_FALSE(h.menus->autoResetMenus()->isActive());  // interval 0 after it fired

    // Resting over the tab strip: no close, and the tab text turns dark blue.
    h.menus->ToggleMenu(6);
    h.hover(tab);
    EXPECT_EQ(tab->tabTextColor(0), QColor(0, 0, 0x80));
    EXPECT_FALSE(h.menus->autoResetEnabled());
    QTest::qWait(400);
    EXPECT_TRUE(h.openAbove(6));

    // Over the bar: black text, still no countdown; over a panel: no countdown either.
    h.hover(h.bar);
    EXPECT_EQ(tab->tabTextColor(3), QColor(Qt::black));
    h.hover(h.menus->panel(6));
    QTest::qWait(300);
    EXPECT_TRUE(h.openAbove(6));

    // Over the grid the countdown runs again from the start.
    h.hover(h.grid);
    EXPECT_TRUE(h.menus->autoResetEnabled());
    EXPECT_TRUE(h.menus->autoResetMenus()->isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.closed(6); }, 2000));

    // And over the search panel, through a plain mouse move.
    h.menus->ToggleMenu(0);
    h.hover(tab);
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), h.search->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(h.search, &move);
    EXPECT_EQ(tab->tabTextColor(1), QColor(Qt::black));
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.closed(0); }, 2000));
}

TEST(MenuPanels, ReleasingTheMouseOverATabTogglesItsPanel) {
    Host h;
    QTabBar* tab = h.menus->manageTab();
    const QPoint at2 = tab->tabRect(2).center();
    QTest::mouseClick(tab, Qt::LeftButton, {}, at2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.openAbove(2) && h.menus->slideMode() == 0; }, 2000));
    // The same tab again (already current) slides it back down.
    QTest::mouseClick(tab, Qt::LeftButton, {}, at2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.closed(2) && h.menus->slideMode() == 0; }, 2000));

    QTest::mouseClick(tab, Qt::LeftButton, {}, tab->tabRect(3).center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.openAbove(3) && h.menus->slideMode() == 0; }, 2000));
}

TEST(MenuPanels, TableButtonsOpenTheToolPanelsAndCommandsAreReported) {
    Host h;
    QSignalSpy clicked(h.menus, &MenuPanels::buttonClicked);
    const std::pair<const char*, int> openers[] = {
        {"RemplaceBtn", 4}, {"FixBtn", 5}, {"TotalsBtn", 6}, {"SSCommand1", 7}, {"CopyBtn", 8}};
    for (auto [name, panel] : openers) {
        h.menus->ToggleMenu(3);
        ASSERT_TRUE(h.openAbove(3));
        h.find<QPushButton>(name)->click();
        EXPECT_TRUE(h.openAbove(panel)) << name;
        EXPECT_TRUE(h.closed(3)) << name;
    }
    h.find<QPushButton>("Startcopy")->click();
    ASSERT_EQ(clicked.size(), 6);
    EXPECT_EQ(clicked.at(0).at(0).toString(), "RemplaceBtn");
    EXPECT_EQ(clicked.at(5).at(0).toString(), "Startcopy");
    EXPECT_TRUE(h.openAbove(8));  // a plain command does not move the panels
}

TEST(MenuPanels, EveryControlHasItsNameCaptionLabelAndTooltip) {
    Host h;
    struct Row {
        int panel;
        const char* name;
        const char* kind;
        const char* text;  // caption, or the text of the label whose buddy it is
        const char* tip;
    };
    const Row rows[] = {
        {0, "RangeCombo", "QComboBox", "", ""},
        {0, "FromTxT", "QLineEdit", "From", ""},
        {0, "ToTxT", "QLineEdit", "To", ""},
        {0, "ShowRecords", "QPushButton", "Show Range", ""},
        {1, "ReportsBtn", "QPushButton", "&Listing", ""},
        {2, "EraseRecords", "QPushButton", "Erase", "Borrar records en pantalla"},
        {2, "AbrirBtn", "QPushButton", "Open", "Abrir el record seleccionado"},
        {2, "EditBtn", "QPushButton", "Edit", "Editar el record seleccionado"},
        {2, "AddRecordBtn", "QPushButton", "Add", "Añadir mas records a la base de datos"},
        {3, "FixBtn", "QPushButton", "Verify", "Verify database"},
        {3, "RemplaceBtn", "QPushButton", "Replace", "Replace records in the database"},
        {3, "TotalsBtn", "QPushButton", "Totals", "View total of fields"},
        {3, "SSCommand1", "QPushButton", "Operations", "Perform different operations on the table"},
        {3, "CopyBtn", "QPushButton", "Copy Columns", ""},
        {4, "RemplaceCombo", "QComboBox", "Select the field to use:", ""},
        {4, "Remplace_FindTxT", "QLineEdit", "Search for", ""},
        {4, "Remplace_ChangeForTxT", "QLineEdit", "Change by", ""},
        {4, "DoRemplaceBtn", "QPushButton", "Remplazar", ""},
        {5, "VerifyFields", "QComboBox", "Select the field you want to use.", ""},
        {5, "VerifyChk", "QCheckBox", "Make Numeric ID unique", ""},
        {5, "VerifyBtn", "QPushButton", "Verify", ""},
        {6, "SummaryFields", "QComboBox", "Choose a field to view it's total", ""},
        {6, "SummaryTxT", "QLineEdit", "Total", ""},
        {6, "GetTotalBtn", "QPushButton", "Get Total", ""},
        {7, "OpFieldsCombo", "QComboBox", "Seleccione el campo a usar:", ""},
        {7, "OperatorOpt(0)", "QRadioButton", "+", ""},
        {7, "OperatorOpt(1)", "QRadioButton", "-", ""},
        {7, "OperatorOpt(2)", "QRadioButton", "*", ""},
        {7, "OperatorOpt(3)", "QRadioButton", "/", ""},
        {7, "OperatorValue", "QLineEdit", "Valor", ""},
        {7, "ProcessOperationBtn", "QPushButton", "Procesar", ""},
        {8, "CopyCombo1", "QComboBox", "From Column:", ""},
        {8, "CopyCombo2", "QComboBox", "To Column:", ""},
        {8, "ExcludeTxT", "QLineEdit",
         "Exclude all copy-move operation when the value is equal to this value.", ""},
        {8, "NotOverwrite", "QCheckBox", "Do not overwrite existing data", ""},
        {8, "CopyEraseSource", "QCheckBox", "Erase Source Data", ""},
        {8, "Startcopy", "QPushButton", "Start", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const auto all = h.window.findChildren<QWidget*>(r.name);
        ASSERT_EQ(all.size(), 1);
        QWidget* w = all.front();
        EXPECT_TRUE(w->inherits(r.kind));
        EXPECT_TRUE(h.menus->panel(r.panel)->isAncestorOf(w));
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(r.tip));
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
        } else {
            for (QLabel* l : h.menus->panel(r.panel)->findChildren<QLabel*>())
                if (l->buddy() == w) text = l->text();
        }
        EXPECT_EQ(text, QString::fromUtf8(r.text));
    }
    const char* captions[] = {"Select Records", "Reports", "Records", "Table",
                              "Replace Data",   "Veriy",   "Summary", "Operaciones de campos",
                              "Copy Columns"};
    for (int i = 0; i < MenuPanels::PanelCount; ++i) {
        bool shown = false;
        for (QLabel* l : h.menus->panel(i)->findChildren<QLabel*>()) shown |= l->text() == captions[i];
        EXPECT_TRUE(shown) << captions[i];
    }
    EXPECT_TRUE(h.find<QRadioButton>("OperatorOpt(0)")->isChecked());
    EXPECT_FALSE(h.find<QCheckBox>("VerifyChk")->isChecked());
    EXPECT_EQ(h.find<QLineEdit>("ExcludeTxT")->parentWidget()->property("title").toString(), "Exclude:");
    EXPECT_EQ(h.find<QRadioButton>("OperatorOpt(2)")->parentWidget()->property("title").toString(),
              QString::fromUtf8("Operación"));
}

TEST(MenuPanels, EnterMovesTheFocusAndTextBoxesSelectAllOnFocus) {
    Host h;
    h.window.activateWindow();
    h.menus->ToggleMenu(0);
    auto* from = h.find<QLineEdit>("FromTxT");
    auto* to = h.find<QLineEdit>("ToTxT");
    from->setText("5");
    to->setText("100");
    QSignalSpy shown(h.find<QPushButton>("ShowRecords"), &QPushButton::clicked);

    const std::pair<const char*, const char*> moves[] = {
        {"RangeCombo", "FromTxT"},
        {"FromTxT", "ToTxT"},
        {"ToTxT", "ShowRecords"},
        {"RemplaceCombo", "Remplace_FindTxT"},
        {"Remplace_FindTxT", "Remplace_ChangeForTxT"},
        {"Remplace_ChangeForTxT", "DoRemplaceBtn"},
    };
    for (auto [a, b] : moves) {
        QWidget* w = h.find(a);
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Return);
        EXPECT_EQ(QApplication::focusWidget(), h.find(b)) << a;
        if (auto* le = qobject_cast<QLineEdit*>(h.find(b)); le && !le->text().isEmpty()) {
            EXPECT_EQ(le->selectedText(), le->text()) << b;
        }
    }
    EXPECT_EQ(shown.size(), 0);  // Enter in ToTxT does not press Show Range

    to->setFocus();
    to->setCursorPosition(1);
    from->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(from->selectedText(), "5");
    to->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(to->selectedText(), "100");
    // The keypad's Enter does the same.
    QTest::keyClick(to, Qt::Key_Enter);
    EXPECT_EQ(QApplication::focusWidget(), h.find("ShowRecords"));
}

// A panel that slides up under a resting mouse, or holds the focus, stays open: the close starts
// only when the mouse leaves it or the focus goes elsewhere (keystrokes meant for the panel would
// otherwise land in the grid's cells).
TEST(MenuPanels, APanelStaysOpenUnderARestingMouseOrWhileItHoldsTheFocus) {
    Host h;
    h.menus->setAutoResetInterval(150);
    int i = 0;
    while (i < MenuPanels::PanelCount && !h.menus->panel(i)->findChild<QLineEdit*>()) ++i;
    ASSERT_LT(i, MenuPanels::PanelCount);
    QFrame* p = h.menus->panel(i);
    const QPoint away = h.window.mapToGlobal(QPoint(5, 5));

    QCursor::setPos(away);
    h.hover(h.grid);  // the countdown runs, as after the mouse crossed the grid
    h.menus->ToggleMenu(i);
    ASSERT_TRUE(h.openAbove(i));
    QCursor::setPos(p->mapToGlobal(p->rect().center()));  // no Enter: the panel came to the mouse
    QTest::qWait(500);
    EXPECT_TRUE(h.openAbove(i));
    // Leaving starts the countdown.
    QCursor::setPos(away);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(p, &leave);
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.closed(i); }, 2000));

    // The focus inside: open with the mouse away, until the focus leaves.
    h.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&h.window));
    h.menus->ToggleMenu(i);
    p->findChild<QLineEdit*>()->setFocus();
    h.hover(h.grid);
    QTest::qWait(500);
    EXPECT_TRUE(h.openAbove(i));
    h.grid->setFocusPolicy(Qt::StrongFocus);
    h.grid->setFocus();
    EXPECT_TRUE(QTest::qWaitFor([&] { return h.closed(i); }, 2000));
}

// From the keyboard: Enter or Space on the tab strip and a tab's letter open its panel with the focus
// in it, and the timed close leaves a panel alone while the focus is inside.
TEST(MenuPanels, KeyboardOpensAPanelThatStaysWhileTheFocusIsIn) {
    Host h;
    QApplication::setActiveWindow(&h.window);
    h.menus->setAutoResetInterval(50);
    QTabBar* tab = h.menus->manageTab();
    tab->setFocus();
    tab->setCurrentIndex(2);
    QTest::keyClick(tab, Qt::Key_Return);
    EXPECT_TRUE(h.openAbove(2));
    ASSERT_TRUE(QApplication::focusWidget());
    EXPECT_TRUE(h.menus->panel(2)->isAncestorOf(QApplication::focusWidget()));
    // The mouse's countdown runs out: the panel the focus is in stays.
    h.hover(h.grid);
    QTest::qWait(200);
    EXPECT_TRUE(h.openAbove(2));
    // Focus out: the next countdown closes it.
    h.search->setFocusPolicy(Qt::StrongFocus);
    h.search->setFocus();
    QTest::qWait(200);
    EXPECT_TRUE(h.allClosed());

    tab->setFocus();
    tab->setCurrentIndex(0);
    QTest::keyClick(tab, Qt::Key_Space);
    EXPECT_TRUE(h.openAbove(0));
    h.menus->ResetMenus();

    // Alt+R: the Reports tab's letter.
    QTest::keyClick(&h.window, Qt::Key_R, Qt::AltModifier);
    QTest::qWait(20);
    EXPECT_EQ(tab->currentIndex(), 1);
    EXPECT_TRUE(h.openAbove(1));
}
