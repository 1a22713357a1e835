// The bulk commands of tabulon-cli over an SQLite file and a PostgreSQL table, and a replace killed in
// the middle of a million records.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <signal.h>

#include "BulkTestUtil.h"
#include "PgTestUtil.h"
#include "TestUtil.h"

using bulktest::shell;
using bulktest::shellValue;

namespace {

struct CliRun {
    int code = -1;
    QString out, err;
};

CliRun cli(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TABULON_CLI), args);
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// The same commands over an SQLite file and over a PostgreSQL server (when TABULON_TEST_PG names
// one): each test gets a schema of its own there.
using testutil::Backend;

class BulkCli : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        if (pg()) {
            if (qEnvironmentVariable("TABULON_TEST_PG").isEmpty())
                GTEST_SKIP() << "TABULON_TEST_PG is not set: no PostgreSQL server for this test";
            server_ = std::make_unique<testutil::PgSchema>();
            ASSERT_TRUE(server_->isSet());
            db_ = server_->uri();
        } else {
            db_ = dir_.filePath("cli.db");
        }
        ASSERT_EQ(rows(sqlFor("create table T (id integer primary key, s text(10), n long check (n < 100), c currency, "
                              "i short);")
                       + "insert into T values (1, 'abc', 5, 1000, 30000), (2, 'ABC', 60, 234.5, 30000),"
                         "(3, null, 10, null, 1), (4, 'abc', 90, 0, null);"),
                  QStringList());
    }
    bool pg() const { return GetParam() == Backend::PostgreSQL; }
    // The Access type names the SQLite files take, as the server names them.
    QString sqlFor(QString sql) const {
        if (!pg()) return sql;
        return sql.replace("text(10)", "varchar(10)").replace(" long", " integer").replace("currency", "numeric(19,4)")
            .replace("short", "smallint").replace("yesno", "boolean");
    }
    // Rows of a statement as the shell of the backend prints them ('|' between columns, NULL).
    QStringList rows(const QString& sql) { return pg() ? server_->psql(sql) : shell(db_, sql); }
    QString value(const QString& sql) {
        const QStringList r = rows(sql);
        return r.isEmpty() ? QString() : r.first();
    }
    QTemporaryDir dir_;
    QString db_;
    std::unique_ptr<testutil::PgSchema> server_;
};

INSTANTIATE_TEST_SUITE_P(Backends, BulkCli, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return testutil::backendName(info.param); });

TEST_P(BulkCli, ReplaceAndTotal) {
    CliRun r = cli({"replace", db_, "T", "s", "abc", "x"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(rows("select coalesce(s, 'NULL') from T order by id"), QStringList({"x", "ABC", "NULL", "x"}));
    // Over a select: the records a browser would show.
    r = cli({"replace", db_, "select * from T where id > 2", "s", "*", "y"});
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(rows("select s from T order by id"), QStringList({"x", "ABC", "y", "y"}));

    r = cli({"total", db_, "T", "i"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "60,001.00\n");
    EXPECT_EQ(r.err, "1 Null value skipped\n");
    r = cli({"total", db_, "T", "c"});
    EXPECT_EQ(r.out, "$1,234.50\n");
    r = cli({"total", db_, "T", "nope"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("error 3265: ")) << r.err.toStdString();
}

TEST_P(BulkCli, OperateStopsAtARefusedStepUnlessToldToIgnore) {
    CliRun r = cli({"operate", db_, "T", "n", "+", "20"});
    // 5 -> 25, 60 -> 80, 10 -> 30, then 90 + 20 is refused by the table's rule: the run ends there.
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "3\n");
    EXPECT_TRUE(r.err.startsWith("error 3317: ")) << r.err.toStdString();
    EXPECT_EQ(rows("select n from T order by id"), QStringList({"25", "80", "30", "90"}));

    r = cli({"operate", db_, "T", "n", "+", "20", "--on-error", "ignore"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(r.err.count("ignored error 3317: "), 2);
    EXPECT_EQ(rows("select n from T order by id"), QStringList({"45", "80", "50", "90"}));

    r = cli({"operate", db_, "T", "n", "-", "0"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(cli({"operate", db_, "T", "n", "%", "2"}).code, 2);
}

TEST_P(BulkCli, CopySameFieldAndError) {
    CliRun r = cli({"copy", db_, "T", "s", "s"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Can not copy data to the same field!\n");
    EXPECT_EQ(r.out, "");

    r = cli({"copy", db_, "T", "n", "s", "--exclude", "60", "--keep-existing"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "1\n");  // only record 3 has an empty destination (Null)
    EXPECT_EQ(rows("select s from T order by id"), QStringList({"abc", "ABC", "10", "abc"}));

    // "abc" cannot go into a number: the copy ends there, and record 1's value is kept.
    r = cli({"copy", db_, "select * from T where id > 1", "s", "i", "--erase-source"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "0\n");
    EXPECT_TRUE(r.err.startsWith("error 3421: ")) << r.err.toStdString();
    EXPECT_EQ(rows("select s from T where id = 2"), QStringList({"ABC"}));
}

// What used to run for minutes or change data silently ends at once with its error.
TEST_P(BulkCli, VerifyOfYesNoAndCopyInAnotherCaseStopAtOnce) {
    ASSERT_EQ(rows(sqlFor("create table Y (id integer primary key, b yesno);") +
                   (pg() ? "insert into Y values (1, true), (2, true);" : "insert into Y values (1, 1), (2, 1);")),
              QStringList());
    CliRun r = cli({"verify", db_, "Y", "b"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("error 3464: ")) << r.err.toStdString();
    EXPECT_EQ(value("select count(*) from Y where b"), "2");
    r = cli({"copy", db_, "T", "s", "S", "--erase-source"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Can not copy data to the same field!\n");
    EXPECT_EQ(rows("select count(s) from T"), QStringList({"3"}));
}

TEST_P(BulkCli, EraseNeedsYesAndKeepsWhatCannotGo) {
    // Without --yes the question stays unanswered, as verify's and export's: nothing done, exit 2.
    CliRun r = cli({"erase", db_, "select * from T where id < 3"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.contains("--yes")) << r.err.toStdString();
    EXPECT_EQ(value("select count(*) from T"), "4");

    ASSERT_EQ(rows("create table R (rid integer primary key, tid integer references T(id));"
                   "insert into R values (1, 2);"),
              QStringList());
    r = cli({"erase", db_, "select * from T where id < 3", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "1 erased, 1 kept\n");
    EXPECT_EQ(rows("select id from T order by id"), QStringList({"2", "3", "4"}));
}

TEST(BulkCliFile, EraseOnAFileThatCannotChangeTellsOnceAndErasesNothing) {
    // A copy of a file with RC4-encoded pages: read, never written.
    QTemporaryDir dir;
    const QString jet = dir.filePath("db-enc.mdb");
    if (!QFile::copy(testutil::jetFile("../jet-more/encrypted/db-enc.mdb"), jet)) GTEST_SKIP() << "no Jet test file";
    QFile::setPermissions(jet, QFile::ReadOwner | QFile::WriteOwner);
    CliRun r = cli({"erase", jet, "Table1", "--yes"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.startsWith("0 erased, ")) << r.out.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith("error 3027: "));
}

// Killed mid-replace: the file stays sound, every record holds its old or its new value, the changed
// records are the first ones, and nothing committed before the kill is lost.
TEST(BulkCliKill, ReplaceKilledMidwayLosesAtMostTheUncommittedBatch) {
    constexpr int kRows = 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath("kill.db");
    ASSERT_EQ(
        shell(path, QString("pragma journal_mode=wal;"
                            "create table T (id integer primary key, s text(20), n long);"
                            "with recursive c(x) as (select 1 union all select x + 1 from c where x < %1) "
                            "insert into T select x, 'old' || x, x from c;")
                        .arg(kRows)),
        QStringList({"wal"}));

    QProcess child;
    child.start(QStringLiteral(TABULON_CLI), {"replace", path, "T", "s", "*", "new"});
    ASSERT_TRUE(child.waitForStarted(10000));
    // Wait until a good part has been committed, then kill.
    int seen = 0;
    QElapsedTimer t;
    t.start();
    while (seen < 100000 && t.elapsed() < 120000 && child.state() == QProcess::Running) {
        QThread::msleep(50);
        seen = shellValue(path, "select count(*) from T where s = 'new'").toInt();
    }
    const bool wasRunning = child.state() == QProcess::Running;
    child.kill();  // SIGKILL
    child.waitForFinished(10000);
    ASSERT_TRUE(wasRunning) << "the replace ended before it was killed, at " << seen;
    ASSERT_GE(seen, 100000);

    EXPECT_EQ(shell(path, "pragma integrity_check"), QStringList({"ok"}));
    EXPECT_EQ(shellValue(path, "select count(*) from T"), QString::number(kRows));
    EXPECT_EQ(shellValue(path, "select count(*) from T where s <> 'new' and s <> 'old' || id"), "0");
    EXPECT_EQ(shellValue(path, "select count(*) from T where n <> id"), "0");
    const QStringList counts =
        shellValue(path, "select count(*), coalesce(max(id), 0) from T where s = 'new'").split('|');
    ASSERT_EQ(counts.size(), 2);
    const int changed = counts[0].toInt();
    EXPECT_EQ(counts[1].toInt(), changed);  // the first records, without a gap
    EXPECT_GE(changed, seen);               // what was committed stays
    EXPECT_LT(changed, kRows);
    RecordProperty("seen_before_kill", seen);
    RecordProperty("on_disk", changed);
}

// Ctrl+C stops a replace between two records: exit 130, the count done on stdout, and exactly
// that many records changed in the file (each one whole).
TEST(BulkCliKill, CtrlCStopsAReplaceAtARecordBoundary) {
    constexpr int kRows = 300000;
    QTemporaryDir dir;
    const QString path = dir.filePath("int.db");
    ASSERT_EQ(shell(path, QString("pragma journal_mode=wal;"
                                  "create table T (id integer primary key, s text(20));"
                                  "with recursive c(x) as (select 1 union all select x + 1 from c where x < %1) "
                                  "insert into T select x, 'old' || x from c;")
                              .arg(kRows)),
              QStringList({"wal"}));
    QProcess child;
    child.start(QStringLiteral(TABULON_CLI), {"replace", path, "T", "s", "*", "new"});
    ASSERT_TRUE(child.waitForStarted(10000));
    int seen = 0;
    QElapsedTimer t;
    t.start();
    while (seen == 0 && t.elapsed() < 60000 && child.state() == QProcess::Running) {
        QThread::msleep(20);
        seen = shellValue(path, "select count(*) from T where s = 'new'").toInt();
    }
    const bool wasRunning = child.state() == QProcess::Running;
    ::kill(pid_t(child.processId()), SIGINT);
    ASSERT_TRUE(child.waitForFinished(60000));
    ASSERT_TRUE(wasRunning) << "the replace ended before Ctrl+C, at " << seen;
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 130);
    const QString err = QString::fromUtf8(child.readAllStandardError());
    EXPECT_TRUE(err.contains("stopped by Ctrl+C")) << err.toStdString();
    const int done = QString::fromUtf8(child.readAllStandardOutput()).trimmed().toInt();
    EXPECT_GE(done, seen);
    EXPECT_LT(done, kRows);
    EXPECT_EQ(shellValue(path, "select count(*) from T where s = 'new'"), QString::number(done));
    EXPECT_EQ(shellValue(path, "select count(*) from T where s <> 'new' and s <> 'old' || id"), "0");
}

}  // namespace
