// The program's box for a wait on the rest of an Access file's reading: real widgets, a real reader
// held right after the first records of each table.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <optional>
#include <thread>

#include "TestUtil.h"
#include "browser/AdvanceViewForm.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "platform/dao/Dao.h"
#include "shell/Form1.h"
#include "shell/ReadingProgress.h"

namespace {

// This process's reader, stopped where the hold stops it.
std::optional<pid_t> heldReader() {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        if (const auto pid = testutil::jetReaderOf(::getpid(), true)) return pid;
        QThread::msleep(10);
    }
    return std::nullopt;
}

QProgressDialog* shownBox() {
    for (QWidget* w : QApplication::allWidgets())
        if (auto* d = qobject_cast<QProgressDialog*>(w); d && d->isVisible()) return d;
    return nullptr;
}

class ReadingProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        // A file whose table the window lists (it leaves out the MS... names).
        jet_ = dir_.filePath("weird.mdb");
        ASSERT_TRUE(QFile::copy(testutil::jetFile("weirdObjectNames.mdb"), jet_));
        QFile::setPermissions(jet_, QFile::ReadOwner | QFile::WriteOwner);
        platform::setSettingsDirectory(dir_.filePath("config"));
        shell::watchFillWaits();
    }
    void TearDown() override {
        dao::setFillWaitWatch(nullptr);
        platform::setSettingsDirectory(QString());
    }
    QByteArray bytes() const {
        QFile f(jet_);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir_;
    QString jet_;
};

}  // namespace

// A table opened from the main window while the rest of the file is read is sorted, which waits with
// the box; its Cancel makes the sort fail with a message naming 32755, never a silent short list, and
// the file is as it was.
TEST_F(ReadingProgressTest, CancelInTheBoxWhileATableOpensIsToldAsAnError) {
    const QByteArray before = bytes();
    shell::Form1 f;
    f.show();
    platform::PromptScript prompts;
    f.findChild<QLineEdit*>("FileTxT")->setText(jet_);
    qputenv("TABULON_JET_READER_HOLD", "1");
    f.findChild<QPushButton*>("OpenDatabaseBtn")->click();
    qunsetenv("TABULON_JET_READER_HOLD");
    ASSERT_TRUE(heldReader());
    auto* tables = f.findChild<QListWidget*>("Tables");
    ASSERT_GT(tables->count(), 0);
    tables->setCurrentRow(0);
    // Cancel in the box; once the browser has said what went wrong, it is closed.
    QString label;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (QProgressDialog* box = shownBox()) {
            label = box->labelText();
            for (QPushButton* b : box->findChildren<QPushButton*>()) b->click();
        }
        if (prompts.count() == 0) return;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<browser::AdvanceViewForm*>(w); b && b->isVisible()) b->reject();
    });
    user.start(20);
    f.findChild<QPushButton*>("OpenTable")->click();
    EXPECT_EQ(label, "Reading weird.mdb...");
    ASSERT_EQ(prompts.count(), 1);
    EXPECT_TRUE(prompts.last().text.contains("32755")) << prompts.last().text.toStdString();
    f.findChild<QPushButton*>("CloseDatabaseBtn")->click();
    EXPECT_TRUE(bytes() == before) << "a cancelled reading changed the file";
}

// A wait on another thread shows no box (a widget made there would be fatal) and simply waits.
TEST_F(ReadingProgressTest, AWaitOnAnotherThreadShowsNothing) {
    qputenv("TABULON_JET_READER_HOLD", "1");
    auto db = dao::OpenDatabase(jet_);
    qunsetenv("TABULON_JET_READER_HOLD");
    const auto reader = heldReader();
    ASSERT_TRUE(reader);
    int error = -1;
    std::thread worker([&] { error = testutil::errorOf([&] { db->OpenRecordset("SELECT count(*) FROM MSysObjects"); }); });
    // Longer than the box waits to show itself, with the events running.
    bool shown = false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1200) {
        QCoreApplication::processEvents();
        shown = shown || shownBox();
        QThread::msleep(10);
    }
    ::kill(*reader, SIGCONT);
    worker.join();
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(shown);
}
