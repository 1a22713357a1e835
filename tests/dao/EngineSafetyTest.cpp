// Data safety beside other programs: locks kept, files only read left as they were, failed commits
// reported and isolated, faults of the disk, tables without row ids and views.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <functional>
#include <thread>

#include "EngineTestUtil.h"
#include "FaultVfs.h"
#include "platform/dao/Connection.h"
#include "TestUtil.h"

using dao::Variant;
using enginetest::rawRows;
using enginetest::rawValue;
using enginetest::sha256Of;
using enginetest::str;

namespace {

QString makeFile(const QTemporaryDir& dir, const QString& name, const QStringList& sql) {
    const QString path = dir.filePath(name);
    for (const QString& s : sql) EXPECT_EQ(rawRows(path, s), QStringList()) << s.toStdString();
    return path;
}

QString makeKeyed(const QTemporaryDir& dir, const QString& name, int rows) {
    return makeFile(dir, name,
                    {"create table K (id INTEGER PRIMARY KEY, s TEXT(20))",
                     QString("with recursive c(x) as (select 1 union all select x + 1 from c where x < %1) "
                             "insert into K (id, s) select x, 's' || x from c")
                         .arg(rows)});
}

void setField(dao::Recordset& rs, long long pos, const QString& field, const Variant& v) {
    rs.setAbsolutePosition(pos);
    rs.Edit();
    rs.Fields()[field].setValue(v);
    rs.Update();
}

QString runProgram(const QString& program, const QStringList& args, int* exitCode) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
    }
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
}

// The records a report of unsaved changes names, as "id of table".
QSet<QString> namedRecords(const QString& description) {
    static const QRegularExpression re(QStringLiteral("record (\\S+?) of (\\w+)"));
    QSet<QString> out;
    for (auto it = re.globalMatch(description); it.hasNext();) {
        const auto m = it.next();
        out.insert(m.captured(1) + " of " + m.captured(2));
    }
    return out;
}

}  // namespace

// ---- Another program on the same file ---------------------------------------------------------------

TEST(EngineSafety, CommittedChangesOfAnotherProgramSurviveOurOpenBatch) {
    QTemporaryDir dir;
    const QString path = makeKeyed(dir, "k.db", 40);
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("K");
    for (int i = 0; i < 6; ++i) {
        setField(*rs, i, "s", Variant::fromString(QString("ours %1").arg(i)));  // the batch stays open
        // Another connection of this process opening the same file must not drop our locks.
        auto other = dao::OpenDatabase(path);
        EXPECT_EQ(other->TableDefs(), QStringList{"K"});
        int code = -1;
        EXPECT_EQ(runProgram(TABULON_CLI,
                             {"query", path, QString("update K set s = 'cli %1' where id = %2").arg(i).arg(11 + i)},
                             &code),
                  "1");
        EXPECT_EQ(code, 0);
        EXPECT_EQ(runProgram("sqlite3", {"-cmd", ".timeout 10000", path,
                                         QString("update K set s = 'shell %1' where id = %2").arg(i).arg(21 + i)},
                             &code),
                  "");
        EXPECT_EQ(code, 0);
        // Both programs' committed changes are read by the engine at once.
        auto now = db->OpenRecordset(QString("select s from K where id in (%1, %2) order by id").arg(11 + i).arg(21 + i));
        EXPECT_EQ(enginetest::column(*now, "s"), QStringList({QString("cli %1").arg(i), QString("shell %1").arg(i)}));
    }
    rs.reset();
    db->Close();
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rawValue(path, QString("select s from K where id = %1").arg(1 + i)), QString("ours %1").arg(i));
        EXPECT_EQ(rawValue(path, QString("select s from K where id = %1").arg(11 + i)), QString("cli %1").arg(i));
        EXPECT_EQ(rawValue(path, QString("select s from K where id = %1").arg(21 + i)), QString("shell %1").arg(i));
    }
    EXPECT_EQ(rawRows(path, "pragma integrity_check"), QStringList{"ok"});
}

// ---- Reading leaves the file as it was ----------------------------------------------------------------

TEST(EngineSafety, ReadingLeavesTheFileByteForByteAsItWas) {
    for (const QString mode : {"delete", "wal"}) {
        SCOPED_TRACE(mode.toStdString());
        QTemporaryDir dir;
        const QString path = makeKeyed(dir, "k.db", 3000);
        EXPECT_EQ(rawValue(path, "pragma journal_mode=" + mode), mode);
        const QByteArray before = sha256Of(path);
        const QDateTime mtime = QFileInfo(path).lastModified();
        const QStringList filesBefore = QDir(dir.path()).entryList(QDir::Files);
        {
            auto db = dao::OpenDatabase(path);
            EXPECT_FALSE(db->isReadOnly());
            EXPECT_EQ(db->TableDefs(), QStringList{"K"});
            auto rs = db->OpenRecordset("K");
            rs->MoveLast();
            EXPECT_EQ(str(rs->Fields()["s"].Value()), "s3000");
            for (long long p = 0; p < rs->RecordCount(); p += 97) (void)rs->valueAt(p, 1);
            auto found = db->OpenRecordset("select * from K where s like '*99*'");
            EXPECT_GT(found->RecordCount(), 0);
            rs->setSort("s desc");
            auto sorted = rs->OpenRecordset();
            EXPECT_EQ(str(sorted->Fields()["s"].Value()), "s999");
            sorted->FindFirst("s = 's5'");
            EXPECT_FALSE(sorted->NoMatch());
            sorted->FindNext("s like 's4*'");
            EXPECT_FALSE(sorted->NoMatch());
            auto snap = db->OpenRecordset("select count(*) as n from K");
            EXPECT_EQ(str(snap->Fields()["n"].Value()), "3000");
            db->Close();
        }
        dao::flushAllWrites();
        EXPECT_EQ(sha256Of(path), before);
        EXPECT_EQ(QFileInfo(path).lastModified(), mtime);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), filesBefore);
        EXPECT_EQ(rawValue(path, "pragma journal_mode"), mode);

        // A write changes the records, never the file's journal mode.
        {
            auto db = dao::OpenDatabase(path);
            auto rs = db->OpenRecordset("K");
            setField(*rs, 0, "s", Variant::fromString("written"));
            db->Close();
        }
        EXPECT_EQ(rawValue(path, "select s from K where id = 1"), "written");
        EXPECT_EQ(rawValue(path, "pragma journal_mode"), mode);
    }
}

// ---- A batch that cannot be committed -------------------------------------------------------------------

class EngineBatchFailure : public ::testing::Test {
protected:
    void SetUp() override {
        path = makeFile(dir, "fk.db",
                        {"create table P (id INTEGER PRIMARY KEY, name TEXT(20))",
                         "create table C (id INTEGER PRIMARY KEY, pid INTEGER REFERENCES P(id) DEFERRABLE "
                         "INITIALLY DEFERRED, s TEXT(20))",
                         "insert into P values (1, 'one'), (2, 'two')",
                         "with recursive n(x) as (select 1 union all select x + 1 from n where x < 8) "
                         "insert into C (id, pid, s) select x, 1, 's' || x from n"});
    }
    QString value(const QString& sql) { return rawValue(path, sql); }
    QTemporaryDir dir;
    QString path;
};

TEST_F(EngineBatchFailure, RefusedChangesAreIsolatedReportedAndTheRestSaved) {
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("C");
    setField(*rs, 0, "s", Variant::fromString("a"));
    setField(*rs, 1, "pid", Variant::fromLong(99));  // no such parent: refused only at commit
    setField(*rs, 2, "s", Variant::fromString("c"));
    rs->AddNew();
    rs->Fields()["id"].setValue(Variant::fromLong(10));
    rs->Fields()["pid"].setValue(Variant::fromLong(98));
    rs->Update();
    rs->AddNew();
    rs->Fields()["id"].setValue(Variant::fromLong(11));
    rs->Fields()["pid"].setValue(Variant::fromLong(2));
    rs->Update();
    rs->setAbsolutePosition(4);
    rs->Delete();
    try {
        db->Flush();
        ADD_FAILURE() << "no error for the refused changes";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::RelatedRecordRequired);
        EXPECT_EQ(e.description(),
                  "The change to record 2 of C could not be saved: FOREIGN KEY constraint failed "
                  "(and 1 more change could not be saved: record 10 of C)");
    }
    EXPECT_EQ(value("select s from C where id = 1"), "a");
    EXPECT_EQ(value("select pid from C where id = 2"), "1");
    EXPECT_EQ(value("select s from C where id = 3"), "c");
    EXPECT_EQ(value("select count(*) from C where id = 10"), "0");
    EXPECT_EQ(value("select pid from C where id = 11"), "2");
    EXPECT_EQ(value("select count(*) from C where id = 5"), "0");
    // The recordset shows the stored value again, and the connection goes on.
    rs->setAbsolutePosition(1);
    EXPECT_EQ(str(rs->Fields()["pid"].Value()), "1");
    setField(*rs, 3, "s", Variant::fromString("d"));
    db->Flush();
    EXPECT_EQ(value("select s from C where id = 4"), "d");
    EXPECT_EQ(rawRows(path, "pragma integrity_check"), QStringList{"ok"});
}

TEST_F(EngineBatchFailure, TheNextCallAndCloseReportWhatTheBackgroundCommitCouldNotSave) {
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("C");
    int notices = 0;
    db->setFailureHandler([&] { ++notices; });
    setField(*rs, 5, "pid", Variant::fromLong(77));
    dao::flushAllWrites();  // as the background commit does
    EXPECT_EQ(notices, 1);
    try {
        rs->Edit();
        ADD_FAILURE() << "the next call did not report the unsaved change";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::RelatedRecordRequired);
        EXPECT_TRUE(e.description().startsWith("The change to record 6 of C could not be saved: FOREIGN KEY"))
            << e.what();
    }
    rs->Edit();  // reported once
    rs->CancelUpdate();

    // A parent deleted while children still refer to it.
    auto parents = db->OpenRecordset("P");
    parents->Delete();
    EXPECT_DAO_ERROR(db->Flush(), dao::err::RelatedRecords);
    EXPECT_EQ(value("select count(*) from P"), "2");

    // Close never drops a change without a word.
    setField(*rs, 6, "pid", Variant::fromLong(55));
    try {
        db->Close();
        ADD_FAILURE() << "Close did not report the unsaved change";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.description(), "The change to record 7 of C could not be saved: FOREIGN KEY constraint failed");
    }
    EXPECT_EQ(value("select pid from C where id = 7"), "1");
}

// A connection dropped without Close (its last holder went out of scope) still commits, and what it
// cannot save goes to the last-chance handler and stderr, naming the record, never nowhere.
TEST_F(EngineBatchFailure, ADroppedConnectionHandsWhatItCouldNotSaveToTheLastChanceHandler) {
    QStringList told;
    dao::setUnsavedChangesHandler([&](const dao::Error& e) { told << QString::number(e.number()) + " " + e.description(); });
    testing::internal::CaptureStderr();
    {
        dao::BackgroundPause pause;  // the drop commits, not the background thread
        auto db = dao::OpenDatabase(path);
        auto rs = db->OpenRecordset("C");
        setField(*rs, 2, "pid", Variant::fromLong(66));
        setField(*rs, 3, "s", Variant::fromString("kept"));
    }
    const QString err = QString::fromStdString(testing::internal::GetCapturedStderr());
    dao::setUnsavedChangesHandler(nullptr);
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0], "3201 The change to record 3 of C could not be saved: FOREIGN KEY constraint failed");
    EXPECT_TRUE(err.contains(path + ": error 3201: The change to record 3 of C")) << err.toStdString();
    EXPECT_EQ(value("select pid from C where id = 3"), "1");
    EXPECT_EQ(value("select s from C where id = 4"), "kept");
}

TEST_F(EngineBatchFailure, ValuesRunAgainAfterAFailedCommitAreStoredByteForByte) {
    path = makeFile(dir, "v.db",
                    {"create table P (id INTEGER PRIMARY KEY)", "insert into P values (1)",
                     "create table V (id INTEGER PRIMARY KEY, pid INTEGER REFERENCES P(id) DEFERRABLE INITIALLY "
                     "DEFERRED, t TEXT(255), m MEMO, b LONGBINARY, r DOUBLE, d DATETIME)"});
    dao::BackgroundPause pause;  // one batch, committed (and run again) by Flush
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("V");
    auto add = [&](int id, int pid, const Variant& t, const Variant& m, const Variant& b, const Variant& r,
                   const Variant& d) {
        rs->AddNew();
        rs->Fields()["id"].setValue(Variant::fromLong(id));
        rs->Fields()["pid"].setValue(Variant::fromLong(pid));
        rs->Fields()["t"].setValue(t);
        rs->Fields()["m"].setValue(m);
        rs->Fields()["b"].setValue(b);
        rs->Fields()["r"].setValue(r);
        rs->Fields()["d"].setValue(d);
        rs->Update();
    };
    // Empty and Null kept apart; text beyond one byte per character, also outside the first plane;
    // values larger than the batch keeps together; and enough small ones to fill several blocks.
    const QString accented = QString::fromUtf8("A\xC3\xB1o M\xC3\xBCller \xE2\x9C\x93 \xF0\x9D\x84\x9E");
    const QString longText = QString(200000, QChar(0xE9));
    QByteArray longBinary(100000, '\0');
    for (int i = 0; i < longBinary.size(); ++i) longBinary[i] = char(i * 7);
    const Variant date = Variant::fromDateTime(QDateTime(QDate(2024, 1, 8), QTime(10, 12, 0), Qt::UTC));
    add(1, 1, Variant::fromString(""), Variant::null(), Variant::fromBinary(QByteArray()), Variant::fromDouble(0.1), date);
    add(2, 1, Variant::fromString(accented), Variant::fromString(longText), Variant::fromBinary(longBinary),
        Variant::fromDouble(-1e300), Variant::null());
    for (int id = 3; id <= 402; ++id)
        add(id, 1, Variant::fromString(QString("t%1").arg(id)), Variant::fromString(QString(1000, QChar('a' + id % 26))),
            Variant::null(), Variant::fromLong(id), Variant::null());
    add(403, 99, Variant::fromString("refused"), Variant::null(), Variant::null(), Variant::null(), Variant::null());
    EXPECT_DAO_ERROR(db->Flush(), dao::err::RelatedRecordRequired);

    EXPECT_EQ(rawValue(path, "select count(*), max(id) from V"), "402|402");
    EXPECT_EQ(rawValue(path, "select typeof(t), length(t), typeof(m), typeof(b), length(b), r, d from V where id = 1"),
              "text|0|null|blob|0|0.1|2024-01-08 10:12:00");
    EXPECT_EQ(rawValue(path, "select hex(t), hex(m), hex(b), r, typeof(d) from V where id = 2"),
              QString(accented.toUtf8().toHex().toUpper() + "|" + longText.toUtf8().toHex().toUpper() + "|" +
                      longBinary.toHex().toUpper() + "|-1.0e+300|null"));
    EXPECT_EQ(rawValue(path, "select count(*) from V where id between 3 and 402 and t = 't' || id and "
                             "m = replace(printf('%1000s', ''), ' ', char(97 + id % 26)) and r = id"),
              "400");
}

TEST_F(EngineBatchFailure, ErrorsNameTheConstraintAndTheColumn) {
    path = makeFile(dir, "u.db",
                    {"create table U (id INTEGER PRIMARY KEY, code TEXT(5) UNIQUE, n TEXT(5) NOT NULL DEFAULT 'x', "
                     "c LONG CHECK (c > 0))",
                     "insert into U values (1, 'a', 'x', 1), (2, 'b', 'y', 2)"});
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("U");
    auto expectRefused = [&](const QString& field, const Variant& v, int number, const QString& detail) {
        try {
            setField(*rs, 1, field, v);
            ADD_FAILURE() << "accepted " << field.toStdString();
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), number);
            EXPECT_TRUE(e.description().contains(detail)) << e.what();
        }
        rs->CancelUpdate();
    };
    expectRefused("code", Variant::fromString("a"), dao::err::DuplicateValue, "UNIQUE constraint failed: U.code");
    expectRefused("n", Variant::null(), dao::err::NullNotAllowed, "NOT NULL constraint failed: U.n");
    expectRefused("c", Variant::fromLong(-1), dao::err::ValidationRule, "CHECK constraint failed");
}

// ---- Faults of the disk -----------------------------------------------------------------------------

namespace {

struct FaultCase {
    faultvfs::Op op;
    int code;
    bool sticky;
    int nth;
};

}  // namespace

TEST_F(EngineBatchFailure, EveryAcceptedChangeIsSavedOrReportedWhateverWriteOrSyncFails) {
    std::vector<FaultCase> cases;
    for (bool sticky : {false, true})
        for (int nth : {1, 2, 3, 5, 8}) {
            cases.push_back({faultvfs::Op::Write, SQLITE_FULL, sticky, nth});
            cases.push_back({faultvfs::Op::Write, SQLITE_IOERR_WRITE, sticky, nth});
            cases.push_back({faultvfs::Op::Sync, SQLITE_IOERR_FSYNC, sticky, nth});
        }
    const QByteArray original = [&] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    for (const FaultCase& fc : cases) {
        SCOPED_TRACE(QString("op %1 code %2 sticky %3 nth %4")
                         .arg(int(fc.op))
                         .arg(fc.code)
                         .arg(fc.sticky)
                         .arg(fc.nth)
                         .toStdString());
        const QString file = dir.filePath(QString("fault-%1-%2-%3-%4.db").arg(int(fc.op)).arg(fc.code).arg(fc.sticky).arg(fc.nth));
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(original);
        }
        int injected = 0;
        QSet<QString> reported;
        // Accepted changes, each with the check that finds it in the file.
        std::vector<std::pair<QString, QString>> accepted;  // record, "sql|expected"
        {
            faultvfs::FaultVfs vfs;
            auto db = dao::OpenDatabase(file);
            auto rs = db->OpenRecordset("C");
            vfs.failNth(fc.op, fc.nth, fc.code, fc.sticky);
            // Runs one change as a user would: a report of earlier unsaved changes is noted and the
            // change tried again; its own error means it was not accepted.
            auto attempt = [&](const QString& record, const QString& check, const std::function<void()>& change) {
                for (int tries = 0; tries < 3; ++tries) {
                    try {
                        change();
                        accepted.emplace_back(record, check);
                        return;
                    } catch (const dao::Error& e) {
                        if (rs->EditMode() != dao::dbEditNone) rs->CancelUpdate();
                        if (!e.description().contains("could not be saved")) return;
                        reported += namedRecords(e.description());
                    }
                }
            };
            for (int i = 0; i < 4; ++i) {
                attempt(QString("%1 of C").arg(i + 1), QString("select s from C where id = %1|e%1").arg(i + 1),
                        [&] { setField(*rs, i, "s", Variant::fromString(QString("e%1").arg(i + 1))); });
                if (i == 1) attempt("", "", [&] { db->Flush(); });
            }
            for (int k = 0; k < 2; ++k)
                attempt(QString("%1 of C").arg(100 + k), QString("select count(*) from C where id = %1|1").arg(100 + k),
                        [&] {
                            rs->AddNew();
                            rs->Fields()["id"].setValue(Variant::fromLong(100 + k));
                            rs->Fields()["pid"].setValue(Variant::fromLong(2));
                            rs->Update();
                        });
            attempt("6 of C", "select count(*) from C where id = 6|0", [&] {
                rs->setAbsolutePosition(5);
                rs->Delete();
            });
            attempt("7 of C", "select pid from C where id = 7|66",
                    [&] { setField(*rs, 5, "pid", Variant::fromLong(66)); });  // a missing parent
            attempt("", "", [&] { db->Flush(); });
            injected = vfs.failuresInjected();
            // Room on the disk again: the same connection goes on working.
            vfs.heal();
            attempt("", "", [&] { db->Flush(); });
            attempt("8 of C", "select s from C where id = 8|after",
                    [&] {
                        rs->FindFirst("id = 8");
                        rs->Edit();
                        rs->Fields()["s"].setValue(Variant::fromString("after"));
                        rs->Update();
                    });
            rs.reset();
            try {
                db->Close();
            } catch (const dao::Error& e) {
                reported += namedRecords(e.description());
            }
        }
        EXPECT_GT(injected, 0);
        EXPECT_EQ(rawRows(file, "pragma integrity_check"), QStringList{"ok"});
        const bool refusedWasAccepted =
            std::any_of(accepted.begin(), accepted.end(), [](const auto& a) { return a.first == "7 of C"; });
        EXPECT_TRUE(!refusedWasAccepted || reported.contains("7 of C"))
            << "the change refused by the foreign key was not reported";
        for (const auto& [record, check] : accepted) {
            if (record.isEmpty()) continue;
            const QStringList parts = check.split('|');
            const bool inFile = rawValue(file, parts[0]) == parts[1];
            EXPECT_TRUE(inFile || reported.contains(record))
                << record.toStdString() << ": accepted, not in the file, and not reported";
        }
        EXPECT_EQ(rawValue(file, "select s from C where id = 8"), "after");
    }
}

// ---- Tables without row ids, views ----------------------------------------------------------------------

// A read that fails in the middle of a block of records raises, and leaves none of that block in
// the place of the one read before it.
TEST(EngineSafety, ABlockWhoseReadFailsHalfwayIsNotTakenForTheOneBefore) {
    QTemporaryDir dir;
    const QString path = testutil::makeSqlite(
        dir, "r.db",
        {"create table R (id INTEGER PRIMARY KEY, s TEXT(255))",
         // More than the connection keeps of the file: a block's pages are read when it is.
         "with recursive c(i) as (select 1 union all select i + 1 from c where i < 6000) "
         "insert into R select i, printf('%04d', i) || hex(zeroblob(400)) from c"});
    faultvfs::FaultVfs vfs;
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("R");
    const Variant first = rs->Fields()["s"].Value();
    EXPECT_TRUE(first.asString().startsWith("0001"));
    // The second block's pages are read one by one; the fifth read from here fails.
    rs->setAbsolutePosition(512);
    vfs.failNth(faultvfs::Op::Read, 5, SQLITE_IOERR_READ, true);
    EXPECT_THROW(rs->Fields()["s"].Value(), dao::Error);
    EXPECT_GT(vfs.failuresInjected(), 0);
    vfs.heal();
    rs->MoveFirst();
    EXPECT_EQ(rs->Fields()["s"].Value(), first);
    rs->setAbsolutePosition(512);
    EXPECT_TRUE(rs->Fields()["s"].Value().asString().startsWith("0513"));
}

TEST(EngineSafety, TablesWithoutRowIdsAreEditedByTheirPrimaryKey) {
    QTemporaryDir dir;
    const QString path = makeFile(
        dir, "wr.db",
        {"create table KV (k TEXT(10) PRIMARY KEY, v TEXT(10)) WITHOUT ROWID",
         "insert into KV values ('a', 'A'), ('b', 'B'), ('c', 'C')",
         "create table K2 (a LONG, b TEXT(5), v TEXT(10), PRIMARY KEY (a, b)) WITHOUT ROWID",
         "insert into K2 values (1, 'x', 'one x'), (1, 'y', 'one y'), (2, 'x', 'two x')",
         "create view KVV as select k, v from KV"});
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("KV");
    EXPECT_TRUE(rs->Updatable());
    EXPECT_EQ(enginetest::column(*rs, "k"), QStringList({"a", "b", "c"}));
    rs->FindFirst("k = 'b'");
    ASSERT_FALSE(rs->NoMatch());
    rs->Edit();
    rs->Fields()["v"].setValue(Variant::fromString("bee"));
    rs->Update();
    rs->FindFirst("k = 'c'");
    rs->Delete();
    rs->AddNew();
    rs->Fields()["k"].setValue(Variant::fromString("d"));
    rs->Fields()["v"].setValue(Variant::fromString("D"));
    rs->Update();
    // A changed key: the record is found by its new key afterwards.
    setField(*rs, 0, "k", Variant::fromString("z"));
    setField(*rs, 0, "v", Variant::fromString("zed"));
    EXPECT_EQ(str(rs->Fields()["k"].Value()), "z");
    EXPECT_EQ(rs->RecordCount(), 3);

    auto k2 = db->OpenRecordset("select * from K2 order by a, b");
    EXPECT_TRUE(k2->Updatable());
    setField(*k2, 1, "v", Variant::fromString("changed"));
    k2->setAbsolutePosition(2);
    k2->Delete();
    db->Flush();
    EXPECT_EQ(rawRows(path, "select k, v from KV order by k"), QStringList({"b|bee", "d|D", "z|zed"}));
    EXPECT_EQ(rawRows(path, "select a, b, v from K2 order by a, b"), QStringList({"1|x|one x", "1|y|changed"}));

    auto view = db->OpenRecordset("KVV");
    EXPECT_FALSE(view->Updatable());
    EXPECT_EQ(view->RecordCount(), 3);
    try {
        view->Edit();
        ADD_FAILURE() << "a view took an edit";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::ReadOnly);
        EXPECT_TRUE(e.description().contains("'KVV' is a view")) << e.what();
    }
    EXPECT_DAO_ERROR(view->AddNew(), dao::err::ReadOnly);
}

// ---- Owners and FindNext ----------------------------------------------------------------------------

TEST(EngineOwners, AFieldOfATemporaryRecordsetStaysUsable) {
    QTemporaryDir dir;
    const QString path = makeKeyed(dir, "k.db", 5);
    auto db = dao::OpenDatabase(path);
    dao::Field s = db->OpenRecordset("K")->Fields()["s"];
    EXPECT_EQ(str(s.Value()), "s1");
    EXPECT_EQ(s.Name(), "s");
    dao::Fields all = db->OpenRecordset("select * from K order by id desc")->Fields();
    EXPECT_EQ(all.Count(), 2);
    EXPECT_EQ(str(all["id"].Value()), "5");
}

TEST(EngineFind, FindNextGoesOnFromTheCurrentRecord) {
    QTemporaryDir dir;
    const int rows = 100000;
    const QString path = makeKeyed(dir, "find.db", rows);
    auto db = dao::OpenDatabase(path);
    for (const QString source : {"K", "select * from K order by s", "select id, s from K where id > 0 union all select 0, 'x'"}) {
        SCOPED_TRACE(source.toStdString());
        auto rs = db->OpenRecordset(source);
        const long long readBefore = dao::findRecordsRead();
        QSet<long long> seen;
        long long last = -1;
        int visits = 0;
        rs->FindFirst("s like '*7'");
        while (!rs->NoMatch()) {
            const long long pos = rs->AbsolutePosition();
            EXPECT_GT(pos, last);
            last = pos;
            seen.insert(str(rs->Fields()["id"].Value()).toLongLong());
            ++visits;
            rs->FindNext("s like '*7'");
        }
        EXPECT_EQ(visits, rows / 10);
        EXPECT_EQ(seen.size(), rows / 10);
        // Each record is tested about once over the whole loop, not once per match.
        EXPECT_LE(dao::findRecordsRead() - readBefore, 3LL * rows);
    }
    // Deleted and edited records on the way.
    auto rs = db->OpenRecordset("K");
    rs->FindFirst("id = 70");
    rs->Delete();
    int visits = 0;
    rs->FindFirst("id between 60 and 80");
    while (!rs->NoMatch()) {
        ++visits;
        rs->Edit();
        rs->Fields()["s"].setValue(Variant::fromString("seen"));
        rs->Update();
        rs->FindNext("id between 60 and 80");
    }
    EXPECT_EQ(visits, 20);
    EXPECT_EQ(enginetest::committedRows(path, "select count(*) from K where s = 'seen'"), QStringList{"20"});
}

// Close closes the file before it returns, even while the background commit waits on another file
// (another program reads it): a WAL file is then whole again and its -wal file gone.
TEST(EngineSafety, CloseClosesTheFileWhileTheBackgroundCommitWaitsOnAnother) {
    QTemporaryDir dir;
    const QString wal =
        testutil::makeSqlite(dir, "w.db", {"create table T (id LONG, n LONG)", "insert into T values (1, 0)"});
    ASSERT_EQ(rawRows(wal, "pragma journal_mode=wal"), QStringList{"wal"});
    const QString busy =
        testutil::makeSqlite(dir, "b.db", {"create table T (id LONG, n LONG)", "insert into T values (1, 0)"});
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(busy.toUtf8().constData(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM T", nullptr, nullptr, nullptr), SQLITE_OK);
    auto db = dao::OpenDatabase(wal);
    auto other = dao::OpenDatabase(busy);
    other->Execute("update T set n = 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its commit now waits for the reader

    db->Execute("update T set n = 2");
    db->Close();
    EXPECT_FALSE(QFile::exists(wal + "-wal"));
    EXPECT_EQ(rawRows(wal, "select n from T"), QStringList{"2"});

    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    other->Close();
    EXPECT_EQ(rawRows(busy, "select n from T"), QStringList{"1"});
}
