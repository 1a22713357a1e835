// A child edits an Access file (.mdb) 10,000 times and is SIGKILLed, 20 times over. Each time the
// next open must find the file whole: the batch the kill interrupted rolled back, or kept whole when
// it was already durable; every record as one edit left it, and the consistency check clean.
//
// The child reports each batch it starts writing and each that became durable, so the parent knows
// the only two states the file may be in. Most kills come at random moments; every fourth one comes
// while a batch is half written (the child holds before its last page), so rolling back is tested
// on every run of the test, not only when a random kill happens to land there.

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>

#include "JetOracles.h"
#include "platform/dao/Conversions.h"

namespace {

// The other readers, for the last look at the file.
struct Readers : jettest::JetFileTest {
    using JetFileTest::mdbExport;
    using JetFileTest::mdbReader;
};

constexpr const char* kFileVar = "TABULON_JET_KILL_FILE";
constexpr const char* kBaseVar = "TABULON_JET_KILL_BASE";     // the child's edit k writes base + k
constexpr const char* kHoldVar = "TABULON_JET_KILL_HOLD";     // from this step on, hold before a batch's last page
constexpr const char* kEveryVar = "TABULON_JET_KILL_EVERY";   // a delete and an add every n edits
constexpr int kEdits = 10000;
constexpr int kRuns = 20;
constexpr int kStartRecords = 10;
constexpr int kHoldAfter = 50;
constexpr int kGrowHoldAfter = 300;
constexpr double kEpochDay = 36892;  // 2001-01-01

// Edit v in the records: num = v / 8 (exact at the column's 3 decimals), date0 = epoch + v minutes.
QString dateFor(int v) {
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0)).addSecs(60LL * v).toString("yyyy-MM-dd HH:mm:ss");
}

// One line per call, so that lines of the flusher thread and the main thread never mix.
void say(const QByteArray& line) {
    const QByteArray whole = line + '\n';
    std::fwrite(whole.constData(), 1, size_t(whole.size()), stdout);
    std::fflush(stdout);
}

// The child's steps done so far (edits or adds). Each batch it writes is reported with this number
// ("batch N"; a statement finishing at that moment may be in it too, so it holds N or N + 1 steps),
// each page written ("page") and the batch made durable ("durable"). From holdAfter steps on
// (0: never), the child stops ("hold") before the last page of a batch (the journal tells how many
// it has), so that the kill finds all but one of its pages written.
std::atomic<int> stepsDone{0};
void reportBatches(int holdAfter, const QString& path) {
    static int holdAt = 0, written = 0;
    dao::jet::JetPageJournal::testHook() = [holdAfter, path](const char* step) {
        const QByteArray s(step);
        if (s == "journal") {
            const int done = stepsDone.load();
            // Header, then page number, checksum and page for each page, then the checksum.
            const qint64 pages = (QFileInfo(dao::jet::JetPageJournal::journalPath(path)).size() - 40 - 8) / (12 + 4096);
            holdAt = holdAfter > 0 && done >= holdAfter ? int(std::max<qint64>(1, pages - 1)) : 0;
            written = 0;
            say("batch " + QByteArray::number(done));
        } else if (s == "page") {
            say("page");
            if (++written == holdAt) {
                say("hold");
                QThread::msleep(60000);
            }
            // A short pause widens the moments a random kill lands between two pages.
            QThread::msleep(2);
        } else if (s == "removed") {
            say("durable");
        }
    };
}

// What the parent read from a child, in order.
struct ChildReport {
    int progress = 0;
    int durable = -1;  // steps of the last batch made durable
    int writing = -1;  // steps of the batch being written
    bool held = false;  // the child holds inside a batch
    bool ranUntilKilled = false;
    QByteArray error;  // what a child that ended early said on stderr
    void take(const QString& line) {
        static const QRegularExpression progressLine(QStringLiteral("^progress (\\d+)$"));
        static const QRegularExpression batchLine(QStringLiteral("^batch (\\d+)$"));
        if (const auto m = progressLine.match(line); m.hasMatch()) {
            progress = m.captured(1).toInt();
        } else if (const auto b = batchLine.match(line); b.hasMatch()) {
            writing = b.captured(1).toInt();
        } else if (line == "hold") {
            held = true;
        } else if (line == "durable") {
            durable = writing;
            writing = -1;
        }
    }
    // Whether the file's state (steps counted from base) is the last durable batch's, or, when no
    // journal was left, the batch being written; before is the state the run started from.
    bool wholeBatch(long long got, long long before, long long base, bool journal) const {
        auto is = [&](int n) { return n >= 0 && (got == base + n || got == base + n + 1); };
        const bool old = durable >= 0 ? is(durable) : got == before;
        return journal ? old : old || is(writing);
    }
};

// Runs the child test named filter with env, kills it once it is due (a held child: when it holds
// inside a batch; otherwise after killAt steps and a random moment more), and returns all it said.
ChildReport runAndKill(QProcessEnvironment env, const char* filter, bool hold, int killAt, std::mt19937& rng) {
    ChildReport said;
    for (const char* v : {"GTEST_OUTPUT", "GTEST_SHARD_INDEX", "GTEST_TOTAL_SHARDS", "GTEST_REPEAT", "GTEST_FILTER"})
        env.remove(v);
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QString("--gtest_filter=") + filter, "--gtest_also_run_disabled_tests"});
    EXPECT_TRUE(child.waitForStarted(10000));
    QElapsedTimer t;
    t.start();
    bool due = false;
    while (!due && t.elapsed() < 120000) {
        if (!child.waitForReadyRead(200) && child.state() == QProcess::NotRunning) break;
        while (child.canReadLine()) {
            said.take(QString::fromUtf8(child.readLine()).trimmed());
            due = hold ? said.held : said.progress >= killAt;
        }
    }
    said.ranUntilKilled = child.state() == QProcess::Running;
    if (!said.ranUntilKilled) said.error = child.readAllStandardError();
    if (!hold) QThread::usleep(rng() % 3000);
    child.kill();
    child.waitForFinished(10000);
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) said.take(QString::fromUtf8(line).trimmed());
    return said;
}

// What the file holds: the edit every record shows (-1 when they differ or do not agree with
// themselves) and how many records there are.
struct FileState {
    int edit = -1;
    int records = 0;
};

FileState readState(const QString& path) {
    FileState s;
    std::set<int> edits;
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("select num, date0 from t_funcs");
    while (!rs->Eof()) {
        const double num = dao::valueToText(rs->Fields()["num"].Value()).toDouble();
        const double day = rs->Fields()["date0"].Value().asDate();
        edits.insert(int(std::lround(num * 8)));
        edits.insert(int(std::lround((day - kEpochDay) * 1440)));
        ++s.records;
        rs->MoveNext();
    }
    rs->Close();
    db->Close();
    if (edits.size() == 1) s.edit = *edits.begin();
    return s;
}

}  // namespace

// Run only as the child of JetKill.EditsSurviveRandomKills: each edit is one statement over every
// record, so that a record can only ever hold one edit's values; every n edits a record is deleted
// and one added (the data page and the table definition's record count in one batch).
TEST(JetKill, DISABLED_Child) {
    const QString path = qEnvironmentVariable(kFileVar);
    if (path.isEmpty()) GTEST_SKIP() << "only run by JetKill.EditsSurviveRandomKills";
    const int base = qEnvironmentVariableIntValue(kBaseVar);
    const int holdAfter = qEnvironmentVariableIntValue(kHoldVar);
    const int every = std::max(1, qEnvironmentVariableIntValue(kEveryVar));
    reportBatches(holdAfter, path);
    auto db = dao::OpenDatabase(path);
    for (int k = 1; k <= kEdits; ++k) {
        const int v = base + k;
        db->Execute(QString("update t_funcs set num = %1, date0 = #%2#").arg(v / 8.0, 0, 'f', 3).arg(dateFor(v)));
        if (k % every == 0) {
            db->Execute("delete from t_funcs where id = (select min(id) from t_funcs where id < 1000)");
            db->Execute(QString("insert into t_funcs (id, num, date0) values (%1, %2, #%3#)")
                            .arg(100 + k / every % 800)
                            .arg(v / 8.0, 0, 'f', 3)
                            .arg(dateFor(v)));
        }
        stepsDone = k;
        if (k % 25 == 0) say("progress " + QByteArray::number(k));
    }
    db->Close();
    say("done");
}

TEST(JetKill, EditsSurviveRandomKills) {
    QTemporaryDir dir;
    const QString path = dir.filePath("kill.mdb");
    ASSERT_TRUE(QFile::copy(testutil::jetFile("functionsV2003.mdb"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    {
        auto db = dao::OpenDatabase(path);
        db->Execute(QString("update t_funcs set num = 0, date0 = #%1#").arg(dateFor(0)));
        for (int i = 1; i < kStartRecords; ++i)
            db->Execute(QString("insert into t_funcs (id, num, date0) values (%1, 0, #%2#)").arg(i).arg(dateFor(0)));
        db->Close();
    }
    FileState before = readState(path);
    ASSERT_EQ(before.edit, 0);
    ASSERT_EQ(before.records, kStartRecords);
    std::mt19937 rng(7);
    int rolledBack = 0, kept = 0;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE(run);
        const bool hold = run % 4 == 3;
        const int base = (run + 1) * 20000;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kFileVar, path);
        env.insert(kBaseVar, QString::number(base));
        env.insert(kHoldVar, hold ? QString::number(kHoldAfter) : "0");
        // A held run is killed early: it deletes and adds more often, so that its batches hold both.
        env.insert(kEveryVar, hold ? "20" : "250");
        // Random runs: after a random number of edits (inside a batch, while it is written, or
        // between). Held runs: once the child holds inside a batch, after a few edits.
        const ChildReport said = runAndKill(env, "JetKill.DISABLED_Child", hold, 25 + int(rng() % 600), rng);
        ASSERT_TRUE(said.ranUntilKilled) << "the child ended early: " << said.error.toStdString();

        // The next open rolls a left-over journal back; then everything must agree.
        const bool journal = QFile::exists(dao::jet::JetPageJournal::journalPath(path));
        if (hold) {
            EXPECT_TRUE(journal) << "the kill came while a batch was half written";
        }
        const FileState after = readState(path);
        EXPECT_FALSE(QFile::exists(dao::jet::JetPageJournal::journalPath(path)));
        ASSERT_NE(after.edit, -1) << "records hold different edits: a batch was split";
        const bool whole = said.wholeBatch(after.edit, before.edit, base, journal);
        EXPECT_TRUE(whole) << after.edit << " is not the last durable batch"
                           << (journal ? " (a journal was left, so the batch being written must be rolled back)"
                                       : " nor the one being written");
        if (journal && whole) ++rolledBack;
        if (!journal && after.edit != before.edit) ++kept;
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(path);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
        before = after;
    }
    EXPECT_GE(rolledBack, kRuns / 4) << "every held run rolls a batch back";
    EXPECT_GT(kept, 0) << "no batch ever reached the file";
    std::printf("%d of %d kills rolled a batch back, %d found new batches kept\n", rolledBack, kRuns, kept);

    // The other readers see the same records the engine does.
    const QString num = QString::number(before.edit / 8.0, 'f', 3);
    const QString exported = Readers::mdbExport(path, "t_funcs");
    if (exported != "skipped") {
        EXPECT_EQ(exported.count('\n'), before.records + 1) << exported.toStdString();
        EXPECT_EQ(exported.count("," + num + ","), before.records) << exported.toStdString();
    }
    const QString js = Readers::mdbReader(path, "t_funcs");
    if (js != "skipped") {
        EXPECT_EQ(js.count('\n'), before.records + 1) << js.toStdString();
        EXPECT_EQ(js.count("\"" + num + "\""), before.records) << js.toStdString();
    }
}

// Run only as the child of JetKill.AddsThatGrowTheFileSurviveRandomKills: adds records one
// statement each, with values long enough that a new page is needed every few records.
TEST(JetKill, DISABLED_AddingChild) {
    const QString path = qEnvironmentVariable(kFileVar);
    if (path.isEmpty()) GTEST_SKIP() << "only run by JetKill.AddsThatGrowTheFileSurviveRandomKills";
    reportBatches(qEnvironmentVariableIntValue(kHoldVar), path);
    auto db = dao::OpenDatabase(path);
    for (int k = 1; k <= kEdits; ++k) {
        db->Execute(QString("insert into t_funcs (id, descr) values (%1, '%2')").arg(k).arg(QString(30, QChar(char16_t('a' + k % 26)))));
        stepsDone = k;
        if (k % 10 == 0) say("progress " + QByteArray::number(k));
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
        // The last run is killed while a batch that grows the file is half written: the rollback
        // puts the pages back and cuts the file to its old length.
        const bool hold = run == kGrowRuns - 1;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kFileVar, path);
        env.insert(kHoldVar, hold ? QString::number(kGrowHoldAfter) : "0");
        const ChildReport said = runAndKill(env, "JetKill.DISABLED_AddingChild", hold, 300 + int(rng() % 1300), rng);
        ASSERT_TRUE(said.ranUntilKilled) << "the child ended early: " << said.error.toStdString();
        const int progress = said.progress;

        const bool journal = QFile::exists(dao::jet::JetPageJournal::journalPath(path));
        if (journal) ++journalsFound;
        if (hold) {
            EXPECT_TRUE(journal) << "the kill came while a batch was half written";
        }
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
        // Exactly the records of whole batches: the last durable one, or the one being written
        // when no journal was left.
        EXPECT_TRUE(said.wholeBatch(now, records, records, journal))
            << now - records << " records added by this run; the last durable batch had " << said.durable
            << (journal ? " (a journal was left, so the batch being written must be rolled back)" : "");
        records = now;
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(path);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
    }
    EXPECT_GT(records, 1) << "no batch ever reached the file";
    std::printf("%d of %d kills left a journal to roll back\n", journalsFound, kGrowRuns);
}
