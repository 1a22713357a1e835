#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/StandarFunctions.h"

using common::FileExists;

namespace {

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

}  // namespace

TEST(FileExists, OrdinaryFilesOnlyAndBlanksTrimmed) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir(dir.path()).mkdir("sub folder");
    touch(dir.filePath("sub folder/my db.mdb"));
    touch(dir.filePath(".hidden.mdb"));

    EXPECT_TRUE(FileExists(dir.filePath("sub folder/my db.mdb")));
    EXPECT_TRUE(FileExists("  " + dir.filePath("sub folder/my db.mdb") + "   "));
    EXPECT_FALSE(FileExists(dir.filePath("sub folder/my db.mdb") + "\t"));  // only blanks are trimmed
    EXPECT_FALSE(FileExists(dir.filePath("sub folder/other.mdb")));
    EXPECT_FALSE(FileExists(dir.filePath("sub folder")));  // a folder is not a file
    EXPECT_FALSE(FileExists(dir.filePath(".hidden.mdb")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists("    "));
    EXPECT_FALSE(FileExists(QString(QChar(0)) + "x"));
}

TEST(FileExists, ThePathIsAPatternOfStarsAndQuestionMarks) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir(dir.path()).mkdir("only folders");
    QDir(dir.path()).mkdir("only folders/inner");
    touch(dir.filePath("data[1].db"));
    touch(dir.filePath(".secret"));

    EXPECT_TRUE(FileExists(dir.filePath("*.db")));
    EXPECT_TRUE(FileExists(dir.filePath("data?1?.db")));
    EXPECT_TRUE(FileExists(dir.filePath("data[1].db")));  // brackets are plain characters
    EXPECT_FALSE(FileExists(dir.filePath("data1.db")));
    EXPECT_FALSE(FileExists(dir.filePath("*.mdb")));
    EXPECT_TRUE(FileExists(dir.path() + "/"));  // a folder ending in a separator: any file in it
    EXPECT_FALSE(FileExists(dir.filePath("only folders/")));
    EXPECT_FALSE(FileExists(dir.filePath("*/data[1].db")));  // no wildcards in the folder part
    EXPECT_FALSE(FileExists(dir.filePath("*cret")));         // hidden files don't match
}
