// The browser's progress for the bulk tools: the working display, a throttled update, the last value.

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include "browser/WorkingProgress.h"

namespace {

struct Widgets {
    QWidget window;
    QProgressBar* bar = new QProgressBar(&window);
    QWidget* status = new QWidget(&window);
    QLabel* label = new QLabel(status);
    QWidget* grid = new QWidget(&window);
    QWidget* working = new QWidget(&window);
    Widgets() {
        status->hide();
        working->hide();
        window.show();
    }
    common::WorkingWidgets all() { return {bar, status, label, grid, working}; }
};

TEST(WorkingProgress, ThrottlesUpdatesAndEndsOnTheLastValue) {
    Widgets w;
    browser::WorkingProgress p(w.all(), browser::WorkingProgress::Events::Process, 30);
    int shots = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++shots; });
    timer.start(5);
    p.begin("Working...", 0, 0);
    EXPECT_TRUE(w.working->isVisible());
    EXPECT_FALSE(w.grid->isVisible());
    EXPECT_EQ(w.label->text(), "Working...");
    p.setMaximum(200000);
    // A fast run: far fewer updates than steps.
    for (int i = 1; i <= 100000; ++i) p.step(i);
    // A slow one: about one update per 30 ms, and events get through meanwhile.
    const int before = p.updates();
    for (int i = 100001; i <= 100020; ++i) {
        QThread::msleep(10);
        p.step(i);
    }
    const int slow = p.updates() - before;
    EXPECT_GE(slow, 3);
    EXPECT_LE(slow, 12);
    EXPECT_GE(shots, 1);
    EXPECT_LT(p.updates(), 200);
    p.step(200000);
    p.end();
    EXPECT_EQ(w.bar->value(), 200000);  // the last value reaches the bar
    EXPECT_TRUE(w.grid->isVisible());
    EXPECT_FALSE(w.working->isVisible());
    EXPECT_FALSE(w.status->isVisible());
}

TEST(WorkingProgress, PaintOnlyLetsNoEventThrough) {
    Widgets w;
    browser::WorkingProgress p(w.all(), browser::WorkingProgress::Events::PaintOnly, 5);
    int shots = 0;
    QTimer::singleShot(0, [&] { ++shots; });
    p.begin("Copying...", 0, 10);
    for (int i = 1; i <= 10; ++i) {
        QThread::msleep(10);
        p.step(i);
    }
    EXPECT_EQ(shots, 0);
    EXPECT_GE(p.updates(), 5);
    p.end();
    EXPECT_EQ(w.bar->value(), 10);
    QCoreApplication::processEvents();
    EXPECT_EQ(shots, 1);
}

}  // namespace
