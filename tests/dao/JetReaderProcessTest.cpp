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
#include <atomic>
#include <optional>

#include "TestUtil.h"
#include "platform/dao/Dao.h"

namespace {

// The child of `parent` whose name starts with the helper's (as /proc cuts it to 15 characters).
std::optional<pid_t> readerOf(pid_t parent) {
    const QStringList pids = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& p : pids) {
        bool number = false;
        const int pid = p.toInt(&number);
        if (!number) continue;
        QFile f("/proc/" + p + "/stat");
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QByteArray stat = f.readAll();
        const qsizetype close = stat.lastIndexOf(')');
        const QByteArray name = stat.mid(stat.indexOf('(') + 1, close - stat.indexOf('(') - 1);
        const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
        // A zombie has finished: its program is past the open already.
        if (rest.size() > 1 && rest[0] != "Z" && rest[1].toInt() == parent && name.startsWith("tabulon-jet-rea"))
            return pid_t(pid);
    }
    return std::nullopt;
}

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
                const auto reader = readerOf(cli);
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
        const QStringList held = copies();
        ASSERT_EQ(held.size(), 1);
        EXPECT_TRUE(held[0].startsWith(QString("tabulon-jet-%1-").arg(::getpid()))) << held[0].toStdString();
        db->Close();
    }
    EXPECT_EQ(copies(), QStringList());
    qputenv("XDG_CACHE_HOME", oldCache);
}

}  // namespace
