#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "QStringPrint.h"
#include "platform/SettingsStore.h"

using namespace platform;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setSettingsDirectory(dir_.path() + "/config");  // not there yet: the first save makes it
    }
    void TearDown() override { setSettingsDirectory(QString()); }
    QTemporaryDir dir_;
};

}  // namespace

TEST_F(SettingsStoreTest, MissingKeysGiveTheCallersDefault) {
    EXPECT_EQ(GetSetting("Tabulon", "Settings", "LastOpened"), "");
    EXPECT_EQ(GetSetting("Tabulon", "Clients", "OrderByBox", "-1"), "-1");
    SaveSetting("Tabulon", "Clients", "FastSearch", "0");
    EXPECT_EQ(GetSetting("Tabulon", "Clients", "OrderByBox", "-1"), "-1");
    EXPECT_EQ(GetSetting("Tabulon", "Clients", "FastSearch", "1"), "0");
    // A value stored as empty is not missing.
    SaveSetting("Tabulon", "Clients", "LastQuery", "");
    EXPECT_EQ(GetSetting("Tabulon", "Clients", "LastQuery", "default"), "");
    EXPECT_TRUE(QFile::exists(dir_.path() + "/config/Tabulon.ini"));
}

TEST_F(SettingsStoreTest, OddSectionKeyAndValueTextsRoundTrip) {
    const QStringList names = {"Order Details", "a/b",        "a\\b",     "/lead/", "x=y;z",
                               "#hash",         "[br]",       "100%",     "%2F",    "Año niño ÿ 表",
                               "General",       "  padded  ", "Settings", "a//b",   ""};
    // Every name as a section and as a key, each with another name as its partner.
    auto value = [](int i, int j) { return QString("v%1.%2 \"q\", @x; =\n").arg(i).arg(j); };
    const int n = int(names.size());
    for (int i = 0; i < n; ++i) {
        SaveSetting("Tabulon", names[i], names[(i + 5) % n], value(i, 0));
        SaveSetting("Tabulon", names[(i + 3) % n], names[i], value(i, 1));
    }
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(GetSetting("Tabulon", names[i], names[(i + 5) % n], "missing"), value(i, 0))
            << "section [" << names[i].toStdString() << "]";
        EXPECT_EQ(GetSetting("Tabulon", names[(i + 3) % n], names[i], "missing"), value(i, 1))
            << "key [" << names[i].toStdString() << "]";
    }
    // Look-alike names stay apart.
    EXPECT_EQ(GetSetting("Tabulon", "a", "b/c", "missing"), "missing");
}

TEST_F(SettingsStoreTest, ApplicationsAreSeparateAndDeleteRemoves) {
    SaveSetting("Tabulon", "S", "K", "1");
    SaveSetting("Other/App", "S", "K", "2");
    EXPECT_EQ(GetSetting("Tabulon", "S", "K"), "1");
    EXPECT_EQ(GetSetting("Other/App", "S", "K"), "2");
    DeleteSetting("Tabulon", "S", "K");
    EXPECT_EQ(GetSetting("Tabulon", "S", "K", "gone"), "gone");
    SaveSetting("Other/App", "S", "K2", "3");
    DeleteSetting("Other/App", "S");
    EXPECT_EQ(GetSetting("Other/App", "S", "K2", "gone"), "gone");
}
