// A child edits an Access file 10,000 times and is SIGKILLed at a random moment, 20 times over.
// Each time the next open must find the file whole: the last batches kept or rolled back, never
// half written, every record old or new, and the consistency check clean.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <random>

#include "TestUtil.h"
#include "platform/dao/Dao.h"
#include "platform/dao/JetCheck.h"
#include "platform/dao/JetPageJournal.h"

namespace {

constexpr const char* kFileVar = "TABULON_JET_KILL_FILE";
constexpr int kEdits = 10000;
constexpr int kRuns = 20;

}  // namespace

// Run only as the child of JetKill.EditsSurviveRandomKills: one statement per edit, both records
// of Table1 at once, so that a record can only ever hold one edit's values.
TEST(JetKill, DISABLED_Child) {
    const QString path = qEnvironmentVariable(kFileVar);
    if (path.isEmpty()) GTEST_SKIP() << "only run by JetKill.EditsSurviveRandomKills";
    auto db = dao::OpenDatabase(path);
    for (int k = 1; k <= kEdits; ++k) {
        db->Execute(QString("update Table1 set E = %1, D = %2, F = %3").arg(k).arg(k % 30000).arg(k / 8.0));
        if (k % 25 == 0) {
            std::printf("progress %d\n", k);
            std::fflush(stdout);
        }
    }
    db->Close();
    std::printf("done\n");
    std::fflush(stdout);
}

TEST(JetKill, EditsSurviveRandomKills) {
    QTemporaryDir dir;
    const QString path = dir.filePath("kill.accdb");
    ASSERT_TRUE(QFile::copy(testutil::jetFile("testV2010.accdb"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    {
        // One state for both records to start from.
        auto db = dao::OpenDatabase(path);
        db->Execute("update Table1 set E = 0, D = 0, F = 0");
        db->Close();
    }
    std::mt19937 rng(7);
    int lastSeen = 0;
    int journalsFound = 0;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE(run);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kFileVar, path);
        for (const char* v : {"GTEST_OUTPUT", "GTEST_SHARD_INDEX", "GTEST_TOTAL_SHARDS", "GTEST_REPEAT", "GTEST_FILTER"})
            env.remove(v);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=JetKill.DISABLED_Child", "--gtest_also_run_disabled_tests"});
        ASSERT_TRUE(child.waitForStarted(10000));
        // Kill after a random number of edits: inside a batch, while it is written, or between.
        const int killAt = 25 + int(rng() % 800);
        static const QRegularExpression line(QStringLiteral("^progress (\\d+)$"));
        int progress = 0;
        QElapsedTimer t;
        t.start();
        while (progress < killAt && t.elapsed() < 120000) {
            if (!child.waitForReadyRead(200) && child.state() == QProcess::NotRunning) break;
            while (child.canReadLine()) {
                const auto m = line.match(QString::fromUtf8(child.readLine()).trimmed());
                if (m.hasMatch()) progress = m.captured(1).toInt();
            }
        }
        ASSERT_EQ(child.state(), QProcess::Running) << "the child ended early: " << child.readAllStandardError().toStdString();
        QThread::usleep(rng() % 3000);
        child.kill();
        child.waitForFinished(10000);

        // The next open undoes a half-written batch; then everything must agree.
        if (QFile::exists(dao::jet::JetPageJournal::journalPath(path))) ++journalsFound;
        auto db = dao::OpenDatabase(path);
        EXPECT_FALSE(QFile::exists(dao::jet::JetPageJournal::journalPath(path)));
        auto rs = db->OpenRecordset("select E, D, F from Table1 order by A");
        ASSERT_FALSE(rs->Eof());
        const long long e1 = rs->Fields()["E"].Value().asInt();
        const long long d1 = rs->Fields()["D"].Value().asInt();
        const double f1 = rs->Fields()["F"].Value().asDouble();
        rs->MoveNext();
        const long long e2 = rs->Fields()["E"].Value().asInt();
        rs->Close();
        db->Close();
        EXPECT_EQ(e1, e2) << "both records come from one statement";
        EXPECT_EQ(d1, e1 % 30000);
        EXPECT_EQ(f1, e1 / 8.0);
        // Each child counts from 1 again: a value is this run's (at most a batch past what it
        // reported) or one an earlier run left.
        EXPECT_TRUE(e1 <= progress + 200 || e1 <= lastSeen) << e1 << " was never written";
        lastSeen = std::max(lastSeen, int(e1));
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(path);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
    }
    EXPECT_GT(lastSeen, 0) << "no batch ever reached the file";
    std::printf("%d of %d kills left a journal to roll back\n", journalsFound, kRuns);
}

// Run only as the child of JetKill.AddsThatGrowTheFileSurviveRandomKills: adds records one
// statement each, with values long enough that a new page is needed every few records.
TEST(JetKill, DISABLED_AddingChild) {
    const QString path = qEnvironmentVariable(kFileVar);
    if (path.isEmpty()) GTEST_SKIP() << "only run by JetKill.AddsThatGrowTheFileSurviveRandomKills";
    auto db = dao::OpenDatabase(path);
    for (int k = 1; k <= kEdits; ++k) {
        db->Execute(QString("insert into t_funcs (id, descr) values (%1, '%2')").arg(k).arg(QString(30, QChar(char16_t('a' + k % 26)))));
        if (k % 10 == 0) {
            std::printf("progress %d\n", k);
            std::fflush(stdout);
        }
    }
    db->Close();
}

// The same kills while the file grows: after each, the file's length and its pages agree (the
// journal cuts off pages a half-written batch added), and the records are those of whole batches.
TEST(JetKill, AddsThatGrowTheFileSurviveRandomKills) {
    QTemporaryDir dir;
    const QString path = dir.filePath("grow.mdb");
    ASSERT_TRUE(QFile::copy(testutil::jetFile("functionsV2003.mdb"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    std::mt19937 rng(11);
    constexpr int kGrowRuns = 5;
    int journalsFound = 0;
    long long records = 1;
    for (int run = 0; run < kGrowRuns; ++run) {
        SCOPED_TRACE(run);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kFileVar, path);
        for (const char* v : {"GTEST_OUTPUT", "GTEST_SHARD_INDEX", "GTEST_TOTAL_SHARDS", "GTEST_REPEAT", "GTEST_FILTER"})
            env.remove(v);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=JetKill.DISABLED_AddingChild", "--gtest_also_run_disabled_tests"});
        ASSERT_TRUE(child.waitForStarted(10000));
        const int killAt = 300 + int(rng() % 1300);
        static const QRegularExpression line(QStringLiteral("^progress (\\d+)$"));
        int progress = 0;
        QElapsedTimer t;
        t.start();
        while (progress < killAt && t.elapsed() < 120000) {
            if (!child.waitForReadyRead(200) && child.state() == QProcess::NotRunning) break;
            while (child.canReadLine()) {
                const auto m = line.match(QString::fromUtf8(child.readLine()).trimmed());
                if (m.hasMatch()) progress = m.captured(1).toInt();
            }
        }
        ASSERT_EQ(child.state(), QProcess::Running) << "the child ended early: " << child.readAllStandardError().toStdString();
        QThread::usleep(rng() % 3000);
        child.kill();
        child.waitForFinished(10000);

        if (QFile::exists(dao::jet::JetPageJournal::journalPath(path))) ++journalsFound;
        auto db = dao::OpenDatabase(path);
        EXPECT_FALSE(QFile::exists(dao::jet::JetPageJournal::journalPath(path)));
        // Every record whole: its text is the one its number was added with.
        long long now = 0;
        int torn = 0;
        auto rs = db->OpenRecordset("select id, descr from t_funcs");
        for (; !rs->Eof(); rs->MoveNext(), ++now) {
            const long long id = rs->Fields()["id"].Value().asInt();
            if (id != 1234 && rs->Fields()["descr"].Value().asString() != QString(30, QChar(char16_t('a' + id % 26)))) ++torn;
        }
        rs->Close();
        db->Close();
        EXPECT_EQ(torn, 0);
        EXPECT_LE(now - records, progress + 100) << "more records than were added";
        EXPECT_GE(now, records) << "records of earlier runs were lost";
        records = now;
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(path);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
    }
    EXPECT_GT(records, 1) << "no batch ever reached the file";
    std::printf("%d of %d kills left a journal to roll back\n", journalsFound, kGrowRuns);
}
