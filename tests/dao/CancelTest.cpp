// An open that is abandoned from another thread (the browser's search while the user types on).

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "EngineTestUtil.h"
#include "TestUtil.h"

namespace {

class CancelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = testutil::makeSqlite(dir_, "c.db", {"create table t (id long, name text(20))"});
        auto db = dao::OpenDatabase(path_);
        for (int i = 0; i < 1000; ++i) db->Execute(QString("insert into t values (%1, 'n%1')").arg(i));
        db->Close();
    }
    QTemporaryDir dir_;
    QString path_;
};

// A search whose condition counts a billion combinations: it would run for minutes.
const QString kEndless = "select * from t where id > (select count(*) from t a, t b, t c)";

TEST_F(CancelTest, AnOpenGivesUpWhenTheFlagTurnsAndTheDatabaseGoesOn) {
    auto db = dao::OpenDatabase(path_);
    std::atomic<bool> cancel{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        cancel = true;
    });
    EXPECT_DAO_ERROR(db->OpenRecordset(kEndless, dao::dbOpenDynaset, cancel), dao::err::Cancelled);
    setter.join();

    // Set before the call: nothing runs at all.
    EXPECT_DAO_ERROR(db->OpenRecordset("t", 0, cancel), dao::err::Cancelled);

    // The flag watched only that call: reads, writes and a flag that stays down work as before.
    std::atomic<bool> calm{false};
    EXPECT_EQ(db->OpenRecordset("select * from t where id < 10", 0, calm)->RecordCount(), 10);
    EXPECT_EQ(db->Execute("update t set name = 'x' where id = 1"), 1);
    dao::flushAllWrites();
    EXPECT_EQ(db->OpenRecordset("select * from t where name = 'x'")->RecordCount(), 1);
    db->Close();
    EXPECT_EQ(enginetest::rawRows(path_, "select name from t where id = 1"), QStringList{"x"});
}

// An error of the query itself is not mistaken for a cancel.
TEST_F(CancelTest, TheQuerysOwnErrorsPassThrough) {
    auto db = dao::OpenDatabase(path_);
    std::atomic<bool> calm{false};
    EXPECT_DAO_ERROR(db->OpenRecordset("select * from nowhere", 0, calm), dao::err::TableNotFound);
}

}  // namespace

// A search abandoned while the connection it reads has a batch old enough for the background
// commit: the abandoned recordset is dropped inside the open's own lock, while the background
// commit wants that connection. Neither may wait for the other. Run several times, each with a
// time limit: a lost wake-up ends the test process instead of hanging it.
TEST_F(CancelTest, AnAbandonedOpenBesideTheBackgroundCommitNeverHangs) {
    auto db = dao::OpenDatabase(path_);
    for (int round = 0; round < 6; ++round) {
        // A change opens the batch; the open below outlasts its 100 ms, so the commit comes meanwhile.
        db->Execute(QString("update t set name = 'r%1' where id = 1").arg(round));
        std::atomic<bool> cancel{false};
        std::atomic<bool> done{false};
        std::thread worker([&] {
            try {
                db->OpenRecordset(kEndless, dao::dbOpenDynaset, cancel);
            } catch (const dao::Error&) {
            }
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + 20 * round));
        cancel = true;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!done) {
            ADD_FAILURE() << "the abandoned open never returned (round " << round << ")";
            std::fflush(nullptr);
            std::_Exit(1);  // the threads are stuck for good: end the process rather than hang it
        }
        worker.join();
    }
    db->Close();
    EXPECT_EQ(enginetest::rawRows(path_, "select name from t where id = 1"), QStringList{"r5"});
}
