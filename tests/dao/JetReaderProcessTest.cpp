// The reader helper as a process: what is left when the program reading an Access file is killed
// or interrupted, and where its working copies go.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include "TestUtil.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace {

// Gone, or a zombie nobody has reaped yet (it holds nothing).
bool ended(pid_t pid) {
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return true;
    const QByteArray stat = f.readAll();
    return stat.mid(stat.lastIndexOf(')') + 2, 1) == "Z";
}

bool stopped(pid_t pid) {
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray stat = f.readAll();
    return stat.mid(stat.lastIndexOf(')') + 2, 1) == "T";
}

bool waitEnded(pid_t pid) {
    QElapsedTimer t;
    t.start();
    while (!ended(pid)) {
        if (t.elapsed() > 10000) return false;
        QThread::msleep(10);
    }
    return true;
}

class JetReaderProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        jet_ = dir_.filePath("test2V2003.mdb");
        ASSERT_TRUE(QFile::copy(testutil::jetFile("test2V2003.mdb"), jet_));
        QFile::setPermissions(jet_, QFile::ReadOwner | QFile::WriteOwner);
        cache_ = dir_.filePath("cache/tabulon");
    }

    // tabulon-cli in a process group of its own (as a shell's foreground job), caching under dir_.
    void start(QProcess& p, const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", dir_.filePath("cache"));
        p.setProcessEnvironment(env);
        p.setChildProcessModifier([] { ::setpgid(0, 0); });
        p.start(QStringLiteral(TABULON_CLI), args);
        ASSERT_TRUE(p.waitForStarted());
    }

    // Starts tabulon-cli on the Access file and holds its reader stopped in the middle of the open:
    // its pid, or nullopt when the open finished before the reader could be caught (retried).
    std::optional<pid_t> startAndCatchReader(QProcess& p) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            start(p, {"query", jet_, "select count(*) from MSysObjects"});
            const pid_t cli = pid_t(p.processId());
            // Caught once its output exists: by then it has set itself up to die with the program.
            const QString copy = QDir(cache_).filePath(QString("tabulon-jet-%1-1.sqlite").arg(cli));
            while (p.state() == QProcess::Running) {
                const auto reader = testutil::jetReaderOf(cli);
                if (reader && QFile::exists(copy)) {
                    ::kill(*reader, SIGSTOP);
                    // Caught only when it stopped before it ended (it may have been exiting).
                    QElapsedTimer t;
                    t.start();
                    while (!ended(*reader) && !stopped(*reader) && t.elapsed() < 2000) QThread::msleep(1);
                    if (stopped(*reader)) return reader;
                    break;
                }
                p.waitForFinished(1);
            }
            p.waitForFinished();
        }
        return std::nullopt;
    }

    QStringList copies() const {
        return QDir(cache_).entryList({"tabulon-jet-*"}, QDir::Files | QDir::Hidden);
    }

    // The project table of the file with n records of its own, PROJ_ID 1..n, written by the engine:
    // more than the reader copies first, so that the rest is filled after the open.
    void fillProjects(int n) {
        auto db = dao::OpenDatabase(jet_);
        db->Execute("DELETE FROM MSP_PROJECTS");
        auto rs = db->OpenRecordset("MSP_PROJECTS");
        for (int i = 1; i <= n; ++i) {
            rs->AddNew();
            rs->Fields()["PROJ_ID"].setValue(dao::Variant::fromLong(i));
            rs->Fields()["PROJ_VERSION"].setValue(dao::Variant::fromString(QString("Version %1").arg(i)));
            rs->Update();
        }
        rs->Close();
        db->Close();
        dao::flushAllWrites();
    }

    QByteArray bytes() const {
        QFile f(jet_);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Opens the file with its reader held where it has made every table and copied the first
    // records of each (it stops itself there); the reader's pid.
    std::shared_ptr<dao::Database> openHeld(pid_t* reader) {
        qputenv("TABULON_JET_READER_HOLD", "1");
        auto db = dao::OpenDatabase(jet_);
        qunsetenv("TABULON_JET_READER_HOLD");
        const auto pid = testutil::jetReaderOf(::getpid());
        EXPECT_TRUE(pid) << "no reader filling the copy";
        *reader = pid.value_or(0);
        QElapsedTimer t;
        t.start();
        while (pid && !stopped(*pid) && t.elapsed() < 10000) QThread::msleep(1);
        EXPECT_TRUE(pid && stopped(*pid));
        return db;
    }

    QTemporaryDir dir_;
    QString jet_, cache_;
};

// kill -9 of the program while it reads: the reader dies with it, and the next start removes the
// working copies of processes that are gone while it keeps those of live ones (and its own until it
// closes).
TEST_F(JetReaderProcess, AKilledOpenLeavesNoReaderAndTheNextStartRemovesItsCopies) {
    // The orphaned reader comes to this process, so that its end can be seen (and its group, whose
    // parent is then in this session, is not sent the hangup an orphaned stopped group gets).
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    struct Unreap {
        ~Unreap() { ::prctl(PR_SET_CHILD_SUBREAPER, 0); }
    } unreap;
    QProcess p;
    const auto reader = startAndCatchReader(p);
    ASSERT_TRUE(reader) << "the reader was never caught running";
    const qint64 cli = p.processId();
    ::kill(pid_t(cli), SIGKILL);
    ASSERT_TRUE(p.waitForFinished(10000));
    // Still stopped: only the signal it is sent when its parent dies can end it.
    int status = 0;
    QElapsedTimer t;
    t.start();
    while (::waitpid(*reader, &status, WNOHANG) == 0 && t.elapsed() < 10000) QThread::msleep(10);
    if (t.elapsed() >= 10000) {
        ::kill(*reader, SIGKILL);
        ::waitpid(*reader, &status, 0);
        ADD_FAILURE() << "the reader outlived the program";
    } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    }

    // Copies of a process that is gone (the killed one's, if it got that far, and a planted one)
    // and of a live one (this test).
    QDir().mkpath(cache_);
    QProcess gone;
    gone.start("true");
    ASSERT_TRUE(gone.waitForStarted());
    const qint64 gonePid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished());
    const QString dead = QString("tabulon-jet-%1-1.sqlite").arg(gonePid);
    const QString live = QString("tabulon-jet-%1-7.sqlite").arg(::getpid());
    for (const QString& name : {dead, dead + "-journal", live}) {
        QFile f(QDir(cache_).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    QProcess next;
    start(next, {"tables", "--all", jet_});
    ASSERT_TRUE(next.waitForFinished(60000));
    EXPECT_EQ(next.exitCode(), 0) << next.readAllStandardError().toStdString();
    EXPECT_TRUE(QString::fromUtf8(next.readAllStandardOutput()).contains("MSysObjects"));
    EXPECT_EQ(copies(), QStringList{live});
}

// Ctrl-C in the terminal (SIGINT to the program's process group) while an Access file is read:
// the program stops the reader, removes the working copy and exits 130 without calling the file
// unreadable; the reader, in a group of its own, never sees the signal.
TEST_F(JetReaderProcess, CtrlCDuringAnOpenExits130AndLeavesNothing) {
    QProcess p;
    const auto reader = startAndCatchReader(p);
    ASSERT_TRUE(reader) << "the reader was never caught running";
    EXPECT_NE(::getpgid(*reader), ::getpgid(pid_t(p.processId())));
    ::kill(-::getpgid(pid_t(p.processId())), SIGINT);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 130);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.contains("interrupted")) << err.toStdString();
    EXPECT_FALSE(err.contains("3343")) << err.toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(waitEnded(*reader));
    EXPECT_EQ(copies(), QStringList());
}

// In-process: a cancel flag stops the open with 32755 and nothing is left; progress reaches the
// records the file counts; the working copy is in the cache folder and goes with the connection.
TEST_F(JetReaderProcess, AnOpenReportsProgressCanBeCancelledAndRemovesItsCopyOnClose) {
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", dir_.filePath("cache").toUtf8());
    std::atomic<bool> cancel{true};
    dao::OpenWatch watch;
    watch.cancel = &cancel;
    try {
        dao::OpenDatabase(jet_, watch);
        ADD_FAILURE() << "opened";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::Cancelled);
        EXPECT_TRUE(e.description().contains(jet_)) << e.what();
    }
    EXPECT_EQ(copies(), QStringList());

    cancel = false;
    qint64 lastDone = -1, lastTotal = -1;
    watch.progress = [&](qint64 done, qint64 total) {
        EXPECT_GE(done, lastDone);
        lastDone = done;
        lastTotal = total;
    };
    {
        auto db = dao::OpenDatabase(jet_, watch);
        EXPECT_GT(lastTotal, 0);
        EXPECT_EQ(lastDone, lastTotal);
        // The copy itself (its WAL files beside it while it is open).
        const QStringList held = QDir(cache_).entryList({"tabulon-jet-*.sqlite"}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(held.size(), 1);
        EXPECT_TRUE(held[0].startsWith(QString("tabulon-jet-%1-").arg(::getpid()))) << held[0].toStdString();
        db->Close();
    }
    EXPECT_EQ(copies(), QStringList());
    qputenv("XDG_CACHE_HOME", oldCache);
}

// A table larger than what the reader copies first: the open returns while the rest is copied, the
// table's first screen and exact count are there at once, a walk in order reads on as the records
// are copied, and anything needing the whole table (a search, a jump past the first records, a
// write) waits for the copy and then sees all of it. Reading leaves the file as it was.
TEST_F(JetReaderProcess, TheFirstScreenIsThereWhileTheCopyFillsAndTheRestWaitsForItWhole) {
    constexpr int n = 1500;
    fillProjects(n);
    const QByteArray before = bytes();
    {
        pid_t reader = 0;
        auto db = openHeld(&reader);
        ASSERT_GT(reader, 0);
        EXPECT_TRUE(db->TableDefs().contains("MSP_PROJECTS"));
        auto rs = db->OpenRecordset("MSP_PROJECTS");
        EXPECT_EQ(rs->RecordCount(), n);
        const int id = rs->Fields().indexOf("PROJ_ID");
        ASSERT_GE(id, 0);
        std::vector<int64_t> firstScreen;
        for (int r = 0; r < 50; ++r) firstScreen.push_back(rs->valueAt(r, id).asInt());
        // A grid asks before it paints: a record not copied yet is not waited for.
        EXPECT_TRUE(rs->rowReady(49));
        EXPECT_FALSE(rs->rowReady(n - 1));
        // A walk in order reads the records copied so far without waiting for the rest.
        auto walker = db->OpenRecordset("MSP_PROJECTS");
        auto walkerId = walker->Fields()["PROJ_ID"];
        int walked = 0;
        walker->MoveFirst();
        for (; walked < 50; ++walked, walker->MoveNext()) EXPECT_EQ(walkerId.Value().asInt(), firstScreen[size_t(walked)]);
        EXPECT_TRUE(stopped(reader)) << "the first screen was not read during the fill";

        std::atomic<bool> resumed{false};
        std::thread resume([&] {
            QThread::msleep(200);
            resumed = true;
            ::kill(reader, SIGCONT);
        });
        auto found = db->OpenRecordset("SELECT PROJ_ID FROM MSP_PROJECTS WHERE PROJ_ID > 1400");
        EXPECT_TRUE(resumed.load()) << "the search did not wait for the fill";
        resume.join();
        EXPECT_EQ(found->RecordCount(), n - 1400);
        // The walk goes on to the last record, each once, and ends there.
        std::set<int64_t> walkedIds(firstScreen.begin(), firstScreen.end());
        for (; !walker->Eof(); walker->MoveNext(), ++walked) walkedIds.insert(walkerId.Value().asInt());
        EXPECT_EQ(walked, n);
        EXPECT_EQ(walkedIds.size(), size_t(n));
        // The recordset of the first screen takes in the rest: every record once, the first ones
        // where a recordset opened on the whole table has them.
        EXPECT_TRUE(rs->rowReady(n - 1));
        rs->MoveLast();
        EXPECT_EQ(rs->RecordCount(), n);
        std::set<int64_t> ids;
        for (int r = 0; r < n; ++r) ids.insert(rs->valueAt(r, id).asInt());
        EXPECT_EQ(ids.size(), size_t(n));
        EXPECT_EQ(*ids.begin(), 1);
        EXPECT_EQ(*ids.rbegin(), n);
        auto whole = db->OpenRecordset("MSP_PROJECTS");
        for (int r = 0; r < 50; ++r) EXPECT_EQ(whole->valueAt(r, id).asInt(), firstScreen[size_t(r)]) << r;
        EXPECT_TRUE(waitEnded(reader));
    }
    EXPECT_TRUE(bytes() == before) << "reading changed the file";

    {
        pid_t reader = 0;
        auto db = openHeld(&reader);
        ASSERT_GT(reader, 0);
        std::atomic<bool> resumed{false};
        std::thread resume([&] {
            QThread::msleep(200);
            resumed = true;
            ::kill(reader, SIGCONT);
        });
        EXPECT_EQ(db->Execute("UPDATE MSP_PROJECTS SET PROJ_VERSION = 'changed' WHERE PROJ_ID = 1499"), 1);
        EXPECT_TRUE(resumed.load()) << "the write did not wait for the fill";
        resume.join();
        db->Close();
        dao::flushAllWrites();
    }
    auto db = dao::OpenDatabase(jet_);
    auto rs = db->OpenRecordset("SELECT PROJ_ID FROM MSP_PROJECTS WHERE PROJ_VERSION = 'changed'");
    ASSERT_EQ(rs->RecordCount(), 1);
    EXPECT_EQ(rs->valueAt(0, 0).asInt(), 1499);
}

// A fill stopped midway (the program's interrupt) is an error for everything that uses the copy,
// the records shown before it included; the short copy is never taken again, and the next open
// reads the table whole.
TEST_F(JetReaderProcess, AFillStoppedMidwayIsAnErrorAndItsShortCopyIsNeverUsed) {
    constexpr int n = 1200;
    fillProjects(n);
    const QByteArray before = bytes();
    pid_t reader = 0;
    auto db = openHeld(&reader);
    ASSERT_GT(reader, 0);
    auto rs = db->OpenRecordset("MSP_PROJECTS");
    EXPECT_EQ(rs->valueAt(0, rs->Fields().indexOf("PROJ_ID")).asInt(), 1);
    // Begun before the stop, which the reading may see at once.
    auto walker = db->OpenRecordset("MSP_PROJECTS");
    walker->MoveFirst();
    std::atomic<bool> stop{true};
    dao::setOpenInterruptFlag(&stop);
    struct Unset {
        ~Unset() { dao::setOpenInterruptFlag(nullptr); }
    } unset;
    auto cancelled = [](const std::function<void()>& f, const char* what) {
        try {
            f();
            ADD_FAILURE() << what << " used the short copy";
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), dao::err::Cancelled) << what << ": " << e.what();
        }
    };
    // A walk in order ends in the error where the copy stops, never as if the table ended there.
    int walked = 0;
    cancelled([&] { for (; !walker->Eof(); walker->MoveNext()) ++walked; }, "a walk");
    EXPECT_GT(walked, 0);
    EXPECT_LT(walked, n);
    cancelled([&] { rs->MoveLast(); }, "a move past the first records");
    EXPECT_TRUE(waitEnded(reader));
    cancelled([&] { rs->valueAt(0, 0); }, "a record read before");
    cancelled([&] { rs->RecordCount(); }, "the count");
    cancelled([&] { db->OpenRecordset("MSP_PROJECTS"); }, "a new recordset");
    cancelled([&] { db->Execute("UPDATE MSP_PROJECTS SET PROJ_VERSION = 'x'"); }, "a write");
    dao::setOpenInterruptFlag(nullptr);

    auto again = dao::OpenDatabase(jet_);
    auto whole = again->OpenRecordset("MSP_PROJECTS");
    whole->MoveLast();
    EXPECT_EQ(whole->RecordCount(), n);
    auto top = again->OpenRecordset("SELECT max(PROJ_ID) FROM MSP_PROJECTS");
    EXPECT_EQ(top->valueAt(0, 0).asInt(), n);
    whole->Close();
    again->Close();
    rs->Close();
    db->Close();
    EXPECT_TRUE(bytes() == before) << "reading changed the file";
}

// The program's fill-wait watch: a search asks it for a watch with the file's path (reading the first
// records does not); a wait started from inside its progress waits plainly without asking again; its
// flag stops the fill, which is then the waiting write's error, and the file is left as it was.
TEST_F(JetReaderProcess, WaitsForTheFillAreWatchedByTheProgramsWatchButNeverWithinIt) {
    constexpr int n = 600;
    fillProjects(n);
    const QByteArray before = bytes();
    struct Unset {
        ~Unset() { dao::setFillWaitWatch(nullptr); }
    } unset;
    int asked = 0, depth = 0, deepest = 0;
    QString askedFor;
    std::function<void()> inside;  // run at the watch's first progress
    dao::setFillWaitWatch([&](const QString& path) {
        ++asked;
        askedFor = path;
        auto cancel = std::make_shared<std::atomic<bool>>(false);
        dao::OpenWatch w;
        w.cancel = cancel.get();
        w.progress = [&, cancel](qint64, qint64) {
            ++depth;
            deepest = std::max(deepest, depth);
            if (auto f = std::exchange(inside, nullptr)) f();
            --depth;
        };
        return w;
    });
    {
        pid_t reader = 0;
        auto db = openHeld(&reader);
        ASSERT_GT(reader, 0);
        auto rs = db->OpenRecordset("MSP_PROJECTS");
        const int id = rs->Fields().indexOf("PROJ_ID");
        EXPECT_EQ(rs->valueAt(0, id).asInt(), 1);
        EXPECT_FALSE(rs->rowReady(n - 1));
        EXPECT_EQ(asked, 0) << "the first records waited";
        // Inside the search's watch the reader goes on, and the move past the first records waits
        // for it plainly.
        int nestedCount = -1;
        inside = [&] {
            ::kill(reader, SIGCONT);
            rs->MoveLast();
            nestedCount = int(rs->RecordCount());
        };
        auto found = db->OpenRecordset("SELECT PROJ_ID FROM MSP_PROJECTS WHERE PROJ_ID > 500");
        EXPECT_EQ(found->RecordCount(), n - 500);
        EXPECT_EQ(nestedCount, n);
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(deepest, 1);
        EXPECT_EQ(askedFor, jet_);
        // Ended: nothing waits or asks any more.
        EXPECT_EQ(db->OpenRecordset("SELECT count(*) FROM MSP_PROJECTS")->valueAt(0, 0).asInt(), n);
        EXPECT_EQ(asked, 1);
        db->Close();
        EXPECT_TRUE(waitEnded(reader));
    }

    // A write whose watch stops the fill: 32755, and nothing is written.
    pid_t reader = 0;
    auto db = openHeld(&reader);
    ASSERT_GT(reader, 0);
    asked = 0;
    dao::setFillWaitWatch([&](const QString&) {
        ++asked;
        auto cancel = std::make_shared<std::atomic<bool>>(false);
        dao::OpenWatch w;
        w.cancel = cancel.get();
        w.progress = [cancel](qint64, qint64) { *cancel = true; };
        return w;
    });
    EXPECT_EQ(testutil::errorOf([&] { db->Execute("UPDATE MSP_PROJECTS SET PROJ_VERSION = 'x'"); }),
              dao::err::Cancelled);
    EXPECT_EQ(asked, 1);
    db->Close();
    dao::setFillWaitWatch(nullptr);
    EXPECT_TRUE(bytes() == before) << "a stopped fill changed the file";
}

}  // namespace

// A table of many pages, read by the page reader as the first screen is shown and after it: the copy
// is the one libmdb alone makes.
TEST_F(JetReaderProcess, ALargeTableReadByThePageReaderIsTheSameAsReadThroughLibmdbAlone) {
    constexpr int n = 5000;
    fillProjects(n);
    const QString other = dir_.filePath("other.mdb");
    ASSERT_TRUE(QFile::copy(jet_, other));
    auto read = [](const QString& path) {
        auto db = dao::OpenDatabase(path);
        auto rs = db->OpenRecordset("SELECT PROJ_ID, PROJ_VERSION FROM MSP_PROJECTS");
        QStringList rows;
        for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext())
            rows << dao::valueToText(rs->Fields().Item(0).Value()) + "|" + dao::valueToText(rs->Fields().Item(1).Value());
        rs->Close();
        db->Close();
        return rows;
    };
    const QStringList mixed = read(jet_);
    qputenv("TABULON_JET_ROWS", "libmdb");
    const QStringList plain = read(other);
    qunsetenv("TABULON_JET_ROWS");
    EXPECT_EQ(mixed.size(), n);
    EXPECT_EQ(mixed, plain);
    EXPECT_EQ(mixed.value(n - 1), QString("%1|Version %1").arg(n));
}

// The reader of the next opening is started once a fill has ended, and waits under a name of its
// own. An opening hands it the file when it is the reader the opening would start, not when the
// environment has changed since (the reader holding where it is asked to shows which one read),
// and a spare gone meanwhile leaves the opening to start its own.
TEST_F(JetReaderProcess, TheNextOpeningsReaderWaitsReadyAndIsUsedOnlyWhenItIsTheSame) {
    auto spare = [] {
        QElapsedTimer t;
        t.start();
        for (; t.elapsed() < 10000; QThread::msleep(5))
            for (const QString& p : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QFile f("/proc/" + p + "/stat");
                if (!f.open(QIODevice::ReadOnly)) continue;
                const QByteArray stat = f.readAll();
                const QList<QByteArray> rest = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
                if (stat.contains("(tabulon-spare)") && rest.size() > 1 && rest[0] != "Z" &&
                    rest[1].toInt() == ::getpid())
                    return std::optional<pid_t>(p.toInt());
            }
        return std::optional<pid_t>();
    };
    // With the hold asked for in the environment, the reader holds once the first records are there;
    // it goes on when told. The one that held (none without the hold), and the records read.
    auto open = [&] {
        const bool holding = qEnvironmentVariableIsSet("TABULON_JET_READER_HOLD");
        auto db = dao::OpenDatabase(jet_);
        std::optional<pid_t> reader;
        QElapsedTimer t;
        t.start();
        while (holding && !(reader = testutil::jetReaderOf(::getpid(), true)) && t.elapsed() < 10000)
            QThread::msleep(1);
        if (reader) ::kill(*reader, SIGCONT);
        auto rs = db->OpenRecordset("MSP_PROJECTS");
        rs->MoveLast();
        const long long n = rs->RecordCount();
        db->Close();
        return std::make_pair(reader.value_or(0), n);
    };
    qputenv("TABULON_JET_READER_HOLD", "1");
    const long long records = open().second;
    // Started with the hold asked for: used by an opening that asks for it.
    const auto first = spare();
    ASSERT_TRUE(first) << "no reader started ahead";
    EXPECT_FALSE(testutil::jetReaderOf(::getpid()));
    EXPECT_EQ(open(), std::make_pair(*first, records));

    // Started with it: not used by an opening without it.
    const auto second = spare();
    qunsetenv("TABULON_JET_READER_HOLD");
    ASSERT_TRUE(second);
    EXPECT_EQ(open(), std::make_pair(pid_t(0), records));
    EXPECT_TRUE(waitEnded(*second));

    // Gone: the opening starts its own.
    const auto third = spare();
    ASSERT_TRUE(third);
    ::kill(*third, SIGKILL);
    ASSERT_TRUE(waitEnded(*third));
    EXPECT_EQ(open().second, records);
}
