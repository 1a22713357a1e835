#pragma once

// What the Jet writer's tests share: a copy of a real file per test, and the three readers (our engine
// through tabulon-cli, mdb-export and the independent JavaScript reader mdb-reader) plus the
// consistency check, which must all see what the test expects after every write.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <iostream>

#include "TestUtil.h"
#include "platform/dao/Dao.h"
#include "platform/dao/Error.h"
#include "platform/dao/JetCheck.h"
#include "platform/dao/JetFile.h"
#include "platform/dao/JetPageJournal.h"

namespace jettest {

// While it lives, the next `left` writes of a batch's journal fail as on a full disk.
struct FailingJournal {
    int left = 0;
    FailingJournal() {
        dao::jet::JetPageJournal::testHook() = [this](const char* step) {
            if (std::string(step) == "journal-half" && left > 0) {
                --left;
                throw dao::Error(dao::err::DiskFull, "Cannot write the journal: No space left on device.");
            }
        };
    }
    ~FailingJournal() { dao::jet::JetPageJournal::testHook() = nullptr; }
    FailingJournal(const FailingJournal&) = delete;
    FailingJournal& operator=(const FailingJournal&) = delete;
};

struct ProcessRun {
    int code = -1;
    QString out, err;
};

inline ProcessRun run(const QString& program, const QStringList& args, const QString& cwd = QString()) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
    p.start(program, args);
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

inline QByteArray sha256(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

// mdb-reader, installed once into the build tree; empty when node/npm or the network are missing.
inline QString mdbReaderDir() {
    static const QString dir = [] {
        const QString d = QStringLiteral(TABULON_BINARY_DIR) + "/jsoracle";
        const QString script = d + "/mdb-reader-dump.mjs";
        if (QStandardPaths::findExecutable("node").isEmpty() || QStandardPaths::findExecutable("npm").isEmpty()) {
            std::cout << "[ SKIPPED  ] mdb-reader checks: node/npm are not installed\n";
            return QString();
        }
        QDir().mkpath(d);
        // ctest runs test processes side by side: one sets the reader up while the others wait, and
        // the script is replaced by a rename, never removed under a process running it.
        QLockFile lock(d + "/setup.lock");
        lock.setStaleLockTime(0);
        if (!lock.lock()) {
            std::cout << "[ SKIPPED  ] mdb-reader checks: cannot lock " << d.toStdString() << "\n";
            return QString();
        }
        if (!QFile::exists(d + "/node_modules/mdb-reader/package.json")) {
            const ProcessRun r = run("npm", {"install", "--no-audit", "--no-fund", "--prefix", d, "mdb-reader@3"});
            if (r.code != 0) {
                std::cout << "[ SKIPPED  ] mdb-reader checks: npm install mdb-reader failed: " << r.err.toStdString() << "\n";
                return QString();
            }
        }
        QFile source(QStringLiteral(TABULON_SOURCE_DIR) + "/tests/tools/mdb-reader-dump.mjs");
        QFile current(script);
        const QByteArray wanted = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
        if (!current.open(QIODevice::ReadOnly) || current.readAll() != wanted) {
            QSaveFile out(script);
            if (!out.open(QIODevice::WriteOnly) || out.write(wanted) != wanted.size() || !out.commit()) {
                std::cout << "[ SKIPPED  ] mdb-reader checks: cannot write " << script.toStdString() << "\n";
                return QString();
            }
        }
        return d;
    }();
    return dir;
}

class JetFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    // name is under the test data's jet folder ("../jet-more/x.mdb" too); the copy is in the test's folder.
    QString copy(const QString& name) {
        const QString to = dir_.filePath(QFileInfo(name).fileName());
        QFile::remove(to);
        EXPECT_TRUE(QFile::copy(testutil::jetFile(name), to));
        QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
        return to;
    }

    // One statement through the engine, in a connection of its own: closing it makes the change durable.
    static void execute(const QString& path, const QString& sql) {
        auto db = dao::OpenDatabase(path);
        db->Execute(sql);
        db->Close();
    }

    // Our engine: a fresh open reads the changed file again (through libmdb).
    static QString ours(const QString& path, const QString& sql) {
        const ProcessRun r = run(QStringLiteral(TABULON_CLI), {"query", path, sql});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        return r.out;
    }
    static QString mdbExport(const QString& path, const QString& table) {
        if (QStandardPaths::findExecutable("mdb-export").isEmpty()) return "skipped";
        const ProcessRun r = run("mdb-export", {"-T", "%Y-%m-%d %H:%M:%S", path, table});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        return r.out;
    }
    static QString mdbReader(const QString& path, const QString& table) {
        const QString d = mdbReaderDir();
        if (d.isEmpty()) return "skipped";
        const ProcessRun r = run("node", {d + "/mdb-reader-dump.mjs", path, table}, d);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        return r.out;
    }
    // All three readers and the check.
    void expectReaders(const QString& path, const QString& table, const QString& sql, const QString& engine,
                       const QString& exported, const QString& js) {
        EXPECT_EQ(ours(path, sql).toStdString(), engine.toStdString());
        const QString e = mdbExport(path, table);
        if (e != "skipped") {
            EXPECT_EQ(e.toStdString(), exported.toStdString());
        }
        const QString m = mdbReader(path, table);
        if (m != "skipped") {
            EXPECT_EQ(m.toStdString(), js.toStdString());
        }
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(path);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
        EXPECT_FALSE(QFile::exists(dao::jet::JetPageJournal::journalPath(path)));
    }

    // A write refused with number (3027 unless given) whose message holds reason; the file stays
    // byte-identical.
    template <typename F>
    void expectRefused(const QString& path, const QString& reason, F&& write, int number = 3027) {
        const QByteArray before = sha256(path);
        try {
            write();
            ADD_FAILURE() << "the write went through; expected: " << reason.toStdString();
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), number) << e.description().toStdString();
            EXPECT_TRUE(e.description().contains(reason)) << e.description().toStdString();
        }
        dao::flushAllWrites();
        EXPECT_EQ(sha256(path), before) << reason.toStdString();
    }

    QTemporaryDir dir_;
};

}  // namespace jettest
