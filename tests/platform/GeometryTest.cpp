#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "common/StandarFunctions.h"
#include "platform/Twips.h"

TEST(Twips, FifteenTwipsPerPixelAt96Dpi) {
    ASSERT_DOUBLE_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInchX(), 96.0);
    EXPECT_DOUBLE_EQ(platform::twipsPerPixelX(), 15.0);
    EXPECT_DOUBLE_EQ(platform::twipsPerPixelY(), 15.0);
    EXPECT_EQ(platform::twipsToPixelsX(1440), 96);
    EXPECT_EQ(platform::twipsToPixelsY(2970), 198);
    EXPECT_EQ(platform::twipsToPixelsX(22), 1);  // rounded to the nearest pixel
    EXPECT_EQ(platform::twipsToPixelsX(-780), -52);
    EXPECT_DOUBLE_EQ(platform::pixelsToTwipsX(100), 1500.0);
    EXPECT_DOUBLE_EQ(platform::pixelsToTwipsY(17), 255.0);
}

TEST(CenterForm, CentresAndDoesNotClamp) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QWidget w;
    w.resize(200, 100);
    common::CenterForm(&w);
    EXPECT_EQ(w.pos(),
              QPoint(screen.x() + (screen.width() - 200) / 2, screen.y() + (screen.height() - 100) / 2));
    EXPECT_EQ(w.size(), QSize(200, 100));

    w.resize(screen.width() + 400, screen.height() + 300);
    common::CenterForm(&w);
    EXPECT_EQ(w.pos(), QPoint(screen.x() - 200, screen.y() - 150));
    EXPECT_EQ(w.size(), QSize(screen.width() + 400, screen.height() + 300));
}
