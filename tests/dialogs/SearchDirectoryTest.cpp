// The folder picker window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "dialogs/DirectoryListBox.h"
#include "dialogs/SearchDirectory.h"
#include "platform/Prompts.h"

using dialogs::SearchDirectory;

TEST(SearchDirectory, AnEmptyPathReportsTheStartingFolderEvenOnCancel) {
    SearchDirectory w;
    EXPECT_EQ(w.windowTitle(), "Select Directory");
    for (const char* name : {"DriveList", "DirectoryList", "SelectedDirTxT", "Okbtn", "CancelBtn"})
        EXPECT_NE(w.findChild<QWidget*>(name), nullptr) << name;
    w.show();
    const QString start = QDir::toNativeSeparators(QDir::currentPath());
    EXPECT_EQ(w.DIRECTORY_PATH, start);
    EXPECT_EQ(w.findChild<QLineEdit*>("SelectedDirTxT")->text(), start);
    w.findChild<QPushButton*>("CancelBtn")->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.DIRECTORY_PATH, start);
}

TEST(SearchDirectory, EachLoadStartsFromTheCallersPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("a"));
    SearchDirectory w;
    w.show();
    w.reject();  // Escape
    w.DIRECTORY_PATH = dir.filePath("a");
    w.show();
    EXPECT_EQ(w.directoryList()->path(), dir.filePath("a"));
}

TEST(SearchDirectory, TheDirectoryListSetsThePath) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("uno/dos"));
    SearchDirectory w;
    w.DIRECTORY_PATH = dir.filePath("uno");
    w.show();
    EXPECT_EQ(w.findChild<QLineEdit*>("SelectedDirTxT")->text(), dir.filePath("uno"));
    dialogs::DirectoryListBox* list = w.directoryList();
    EXPECT_EQ(list->path(), dir.filePath("uno"));
    // The last entry is the only subfolder; opening it makes it the selected path.
    const int last = list->count() - 1;
    EXPECT_EQ(list->entryPath(last), dir.filePath("uno/dos"));
    emit list->itemDoubleClicked(list->item(last));
    EXPECT_EQ(w.DIRECTORY_PATH, dir.filePath("uno/dos"));
    EXPECT_EQ(w.findChild<QLineEdit*>("SelectedDirTxT")->text(), dir.filePath("uno/dos"));
    w.findChild<QPushButton*>("Okbtn")->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.DIRECTORY_PATH, dir.filePath("uno/dos"));
}

TEST(SearchDirectory, ADriveThatCannotBeReadIsNotReady) {
    platform::PromptScript script;
    SearchDirectory w;
    w.show();
    QComboBox* drives = w.driveList();
    ASSERT_GE(drives->count(), 2);  // home and at least the root file system
    drives->addItem("gone", "/nonexistent-mount-point-for-tabulon");
    const int gone = drives->count() - 1;
    drives->setCurrentIndex(gone);
    script.answer(platform::vbRetry).answer(platform::vbCancel);
    w.driveChanged(gone);
    ASSERT_EQ(script.count(), 2);
    EXPECT_EQ(script.last().text, "Drive not ready");
    EXPECT_EQ(script.last().icon, platform::vbCritical);
    EXPECT_EQ(script.last().buttons, platform::vbRetryCancel);
    // Cancel: back to the program's own drive and folder, default pointer.
    EXPECT_NE(drives->currentIndex(), gone);
    EXPECT_TRUE(QCoreApplication::applicationDirPath().startsWith(drives->currentData().toString()));
    EXPECT_EQ(w.directoryList()->path(), QCoreApplication::applicationDirPath());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // A readable drive switches at once.
    w.driveChanged(0);
    EXPECT_EQ(w.directoryList()->path(), QDir::homePath());
    EXPECT_EQ(script.count(), 2);
}
