// An open that is abandoned from another thread (the browser's search while the user types on).

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
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
