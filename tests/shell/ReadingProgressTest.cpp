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
        for (const QString& p : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile f("/proc/" + p + "/stat");
            if (!f.open(QIODevice::ReadOnly)) continue;
            const QByteArray stat = f.readAll();
            const qsizetype close = stat.lastIndexOf(')');
            const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
            if (rest.size() > 1 && rest[0] == "T" && rest[1].toInt() == ::getpid() &&
                stat.mid(stat.indexOf('(') + 1).startsWith("tabulon-jet-rea"))
                return pid_t(p.toInt());
        }
        QThread::msleep(10);
    }
    return std::nullopt;
}

QList<QProgressDialog*> shownBoxes() {
    QList<QProgressDialog*> boxes;
    for (QWidget* w : QApplication::allWidgets())
        if (auto* d = qobject_cast<QProgressDialog*>(w); d && d->isVisible()) boxes << d;
    return boxes;
}

class ReadingProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        jet_ = dir_.filePath("test2V2003.mdb");
        ASSERT_TRUE(QFile::copy(testutil::jetFile("test2V2003.mdb"), jet_));
        QFile::setPermissions(jet_, QFile::ReadOwner | QFile::WriteOwner);
        before_ = bytes();
        platform::setSettingsDirectory(dir_.filePath("config"));
        shell::watchFillWaits();
        window_.show();
        // Every tick of the event loop while the box waits: what it shows, then the step under test.
        QObject::connect(&ticks_, &QTimer::timeout, [this] {
            const auto boxes = shownBoxes();
            most_ = std::max(most_, int(boxes.size()));
            if (boxes.isEmpty() || !onBox_) return;
            label_ = boxes.first()->labelText();
            std::exchange(onBox_, nullptr)(boxes.first());
        });
        ticks_.start(20);
    }
    void TearDown() override {
        dao::setFillWaitWatch(nullptr);
        platform::setSettingsDirectory(QString());
    }

    QByteArray bytes() const {
        QFile f(jet_);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    std::shared_ptr<dao::Database> openHeld(pid_t* reader) {
        qputenv("TABULON_JET_READER_HOLD", "1");
        auto db = dao::OpenDatabase(jet_);
        qunsetenv("TABULON_JET_READER_HOLD");
        const auto pid = heldReader();
        EXPECT_TRUE(pid) << "no reader held";
        *reader = pid.value_or(0);
        return db;
    }

    QTemporaryDir dir_;
    QString jet_;
    QByteArray before_;
    QWidget window_;
    QTimer ticks_;
    std::function<void(QProgressDialog*)> onBox_;
    QString label_;
    int most_ = 0;
};

}  // namespace

// A search on the window's thread while the rest is read shows the reading box, which keeps events
// coming; a wait those events make waits plainly, without a second box; the search then has every
// record. A wait on another thread shows nothing (a widget there would be fatal).
TEST_F(ReadingProgressTest, AWaitShowsTheReadingBoxOnceEvenWhenItsEventsWaitToo) {
    const QString search = "SELECT * FROM MSysObjects WHERE Id <> 0";
    {
        pid_t reader = 0;
        auto db = openHeld(&reader);
        ASSERT_GT(reader, 0);
        int error = -1;
        std::thread worker([&] { error = testutil::errorOf([&] { db->OpenRecordset(search); }); });
        // Longer than the box waits to show itself, with the events running.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1200) {
            QCoreApplication::processEvents();
            QThread::msleep(10);
        }
        ::kill(reader, SIGCONT);
        worker.join();
        EXPECT_EQ(error, 0);
        EXPECT_EQ(most_, 0);
    }

    pid_t reader = 0;
    auto db = openHeld(&reader);
    ASSERT_GT(reader, 0);
    long long nested = -1;
    onBox_ = [&](QProgressDialog*) {
        ::kill(reader, SIGCONT);
        nested = db->OpenRecordset("SELECT count(*) FROM MSysObjects WHERE Id <> 0")->valueAt(0, 0).asInt();
    };
    auto found = db->OpenRecordset(search);
    EXPECT_EQ(label_, "Reading test2V2003.mdb...");
    EXPECT_EQ(most_, 1);
    EXPECT_GT(nested, 0);
    EXPECT_EQ(found->RecordCount(), nested);
    EXPECT_TRUE(shownBoxes().isEmpty());
}

// Cancel in the box stops the reading: the search fails with 32755 instead of giving the records
// read so far, so does everything after it, and the file is as it was.
TEST_F(ReadingProgressTest, CancelInTheBoxIsAnErrorForTheWaitAndLeavesTheFile) {
    pid_t reader = 0;
    auto db = openHeld(&reader);
    ASSERT_GT(reader, 0);
    onBox_ = [](QProgressDialog* box) {
        for (QPushButton* b : box->findChildren<QPushButton*>()) b->click();
    };
    EXPECT_EQ(testutil::errorOf([&] { db->OpenRecordset("SELECT * FROM MSysObjects WHERE Id <> 0"); }),
              dao::err::Cancelled);
    EXPECT_EQ(label_, "Reading test2V2003.mdb...");
    EXPECT_TRUE(shownBoxes().isEmpty());
    EXPECT_EQ(testutil::errorOf([&] { db->OpenRecordset("MSysObjects"); }), dao::err::Cancelled);
    EXPECT_EQ(testutil::errorOf([&] { db->Execute("DELETE FROM MSP_PROJECTS"); }), dao::err::Cancelled);
    db->Close();
    EXPECT_TRUE(bytes() == before_) << "a cancelled reading changed the file";
}

// In the program's window: a table opened while the rest of the file is read is sorted, which waits
// with the box; its Cancel makes the sort fail with a message naming 32755, never a silent short list.
TEST_F(ReadingProgressTest, CancelWhileATableOpensIsToldInTheBrowser) {
    // A file whose table the window lists (it leaves out the MS... names).
    const QString file = dir_.filePath("weird.mdb");
    ASSERT_TRUE(QFile::copy(testutil::jetFile("weirdObjectNames.mdb"), file));
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    jet_ = file;
    before_ = bytes();
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
    onBox_ = [](QProgressDialog* box) {
        for (QPushButton* b : box->findChildren<QPushButton*>()) b->click();
    };
    // The browser is closed once it has said what went wrong.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (prompts.count() == 0) return;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<browser::AdvanceViewForm*>(w); b && b->isVisible()) b->reject();
    });
    closer.start(20);
    f.findChild<QPushButton*>("OpenTable")->click();
    EXPECT_EQ(label_, "Reading weird.mdb...");
    ASSERT_GE(prompts.count(), 1);
    EXPECT_TRUE(prompts.requests().front().text.contains("32755")) << prompts.requests().front().text.toStdString();
    f.findChild<QPushButton*>("CloseDatabaseBtn")->click();
    EXPECT_TRUE(bytes() == before_) << "a cancelled reading changed the file";
}
