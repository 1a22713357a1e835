// tabulon-cli as a script author uses it: output formats read back by Python's csv and json
// modules, pipes, one statement per query, comments, exact whole numbers, "--", check on SQLite.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "TestUtil.h"
#include "platform/dao/Dao.h"

namespace {

struct CliRun {
    int code = -1;
    QByteArray out;
    QString err;
    QString text() const { return QString::fromUtf8(out); }
};

CliRun runProgram(const QString& program, const QStringList& args, const QByteArray& input = {},
               const QString& locale = "C.UTF-8") {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", locale);
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    CliRun r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

CliRun cli(const QStringList& args, const QByteArray& input = {}, const QString& locale = "C.UTF-8") {
    return runProgram(QStringLiteral(TABULON_CLI), args, input, locale);
}

QString query(const QString& db, const QString& sql) { return cli({"query", db, sql, "--no-header"}).text(); }

class CliScript : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        db_ = testutil::makeSqlite(
            dir_, "s.db",
            {"create table T (id LONG, name MEMO, big LONG, price CURRENCY, ratio DOUBLE, day DATETIME, "
             "data BLOB, ok YESNO)",
             "insert into T values (1, 'plain', 9007199254740993, 12.5, 0.1, #2024-01-31 10:20:30#, Null, True)",
             "insert into T values (2, 'a \"quoted\", comma', -9223372036854775808, -3, 1.5e300, Null, Null, False)",
             "insert into T values (3, 'two\r\nlines\tand tab — ñ', 9223372036854775807, 0.0001, -2.5, "
             "#2020-02-02#, Null, Null)",
             "insert into T values (4, '', Null, Null, Null, Null, Null, Null)",
             "insert into T values (5, Null, 0, 0, 0, Null, Null, True)"});
        // Binary values are written by SQLite's own SQL: Jet SQL has no blob literal.
        auto db = dao::OpenDatabase(db_);
        db->Execute("update T set data = x'00ff10' where id = 1", dao::dbSQLPassThrough);
        db->Execute("update T set data = x'' where id = 2", dao::dbSQLPassThrough);
        db->Close();
        python_ = QStandardPaths::findExecutable("python3");
    }

    // Runs a Python script with the file as its argument; its stdout.
    QString python(const QString& script, const QString& file) {
        CliRun r = runProgram(python_, {"-c", script, file});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        return r.text();
    }

    QTemporaryDir dir_;
    QString db_;
    QString python_;
};

// ---- Formats --------------------------------------------------------------------------------------

TEST_F(CliScript, CsvReadsBackThroughPythonsCsvModule) {
    if (python_.isEmpty()) GTEST_SKIP() << "python3 is not installed";
    const QString csv = dir_.filePath("t.csv");
    // Locale-free: a German locale changes neither the decimal point nor the dates.
    CliRun r = cli({"query", db_, "select * from T order by id", "--csv", "--output", csv}, {}, "de_DE.UTF-8");
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    const QString rows = python(R"(
import csv, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    for row in csv.reader(f):
        print(repr(row))
)",
                                csv);
    EXPECT_EQ(rows,
              "['id', 'name', 'big', 'price', 'ratio', 'day', 'data', 'ok']\n"
              "['1', 'plain', '9007199254740993', '12.5', '0.1', '2024-01-31T10:20:30', '0x00FF10', 'true']\n"
              "['2', 'a \"quoted\", comma', '-9223372036854775808', '-3', '1.5E+300', '', '0x', 'false']\n"
              "['3', 'two\\r\\nlines\\tand tab — ñ', '9223372036854775807', '0.0001', '-2.5', "
              "'2020-02-02T00:00:00', '', '']\n"
              "['4', '', '', '', '', '', '', '']\n"
              "['5', '', '0', '0', '0', '', '', 'true']\n");
    // RFC 4180 line ends; an empty text is "" and a Null is nothing, so the two stay apart.
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    EXPECT_EQ(lines[0], "id,name,big,price,ratio,day,data,ok\r");
    EXPECT_TRUE(lines.contains("4,\"\",,,,,,\r"));

    r = cli({"query", db_, "select id, name from T where id >= 4 order by id", "--csv", "--no-header", "--null",
             "NULL", "--separator", ";"});
    EXPECT_EQ(r.text(), "4;\"\"\r\n5;NULL\r\n");
}

TEST_F(CliScript, JsonReadsBackThroughPythonsJsonModuleWithTypesKept) {
    if (python_.isEmpty()) GTEST_SKIP() << "python3 is not installed";
    const QString json = dir_.filePath("t.json");
    CliRun r = cli({"export", db_, "select * from T order by id", json, "--format", "json"}, {}, "de_DE.UTF-8");
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.text(), "5\n");
    const QString rows = python(R"(
import base64, json, sys
rows = json.load(open(sys.argv[1], encoding='utf-8'))
for row in rows:
    print(', '.join('%s=%s:%r' % (k, type(v).__name__, v) for k, v in row.items()))
print(base64.b64decode(rows[0]['data']).hex())
)",
                                json);
    EXPECT_EQ(rows,
              "id=int:1, name=str:'plain', big=int:9007199254740993, price=float:12.5, ratio=float:0.1, "
              "day=str:'2024-01-31T10:20:30', data=str:'AP8Q', ok=bool:True\n"
              "id=int:2, name=str:'a \"quoted\", comma', big=int:-9223372036854775808, price=int:-3, "
              "ratio=float:1.5e+300, day=NoneType:None, data=str:'', ok=bool:False\n"
              "id=int:3, name=str:'two\\r\\nlines\\tand tab — ñ', big=int:9223372036854775807, "
              "price=float:0.0001, ratio=float:-2.5, day=str:'2020-02-02T00:00:00', data=NoneType:None, "
              "ok=NoneType:None\n"
              "id=int:4, name=str:'', big=NoneType:None, price=NoneType:None, ratio=NoneType:None, "
              "day=NoneType:None, data=NoneType:None, ok=NoneType:None\n"
              "id=int:5, name=NoneType:None, big=int:0, price=int:0, ratio=int:0, day=NoneType:None, "
              "data=NoneType:None, ok=bool:True\n"
              "00ff10\n");
    EXPECT_EQ(cli({"query", db_, "select id from T where id > 9", "--json"}).text(), "[]\n");
    // Options that mean nothing to JSON are wrong usage, not silently dropped.
    EXPECT_EQ(cli({"query", db_, "T", "--json", "--null", "x"}).code, 2);
    EXPECT_EQ(cli({"query", db_, "T", "--json", "--csv"}).code, 2);
}

TEST_F(CliScript, TsvStaysTheBrowsersTextUnderTheLocale) {
    CliRun r = cli({"query", db_, "select id, price, ratio from T where id = 1"}, {}, "de_DE.UTF-8");
    EXPECT_EQ(r.text(), "id\tprice\tratio\n1\t12,5\t0,1\n");
    r = cli({"query", db_, "select id, name from T where id >= 4 order by id", "--no-header", "--null", "-"});
    EXPECT_EQ(r.text(), "4\t\n5\t-\n");
}

// ---- Pipes ----------------------------------------------------------------------------------------

TEST_F(CliScript, DashIsStdoutAndStdin) {
    ASSERT_EQ(cli({"query", db_, "create table U (id LONG, big LONG)"}).code, 0);
    // export - | import -: the table text file through a pipe.
    CliRun out = cli({"export", db_, "select id, big from T order by id", "-"});
    ASSERT_EQ(out.code, 0) << out.err.toStdString();
    EXPECT_TRUE(out.out.startsWith("2              addb\r\n1\r\n9007199254740993\r\n")) << out.out.constData();
    CliRun in = cli({"import", db_, "U", "-"}, out.out);
    EXPECT_EQ(in.code, 0) << in.err.toStdString();
    EXPECT_EQ(in.text(), "5\n");
    EXPECT_EQ(query(db_, "select count(*) from U, T where U.id = T.id and (U.big = T.big or U.big is null and T.big is null)"),
              "5\n");

    // SQL from stdin, records to stdout.
    CliRun q = cli({"query", db_, "-", "--output", "-"}, "select name from T where name like 'pl*'");
    EXPECT_EQ(q.text(), "name\nplain\n");

    // A report to stdout is the whole PDF.
    CliRun pdf = cli({"report", db_, "T", "-"});
    EXPECT_EQ(pdf.code, 0) << pdf.err.toStdString();
    EXPECT_TRUE(pdf.out.startsWith("%PDF-"));
    EXPECT_TRUE(pdf.out.trimmed().endsWith("%%EOF"));
}

// ---- Statements -----------------------------------------------------------------------------------

TEST_F(CliScript, MoreThanOneStatementIsRefusedWholeAndNothingRuns) {
    CliRun r = cli({"query", db_, "insert into T (id) values (10); insert into T (id) values (11); delete from T"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("holds 3")) << r.err.toStdString();
    EXPECT_EQ(query(db_, "select count(*) from T"), "5\n");
    // SQLite's own SQL too; a closing semicolon, blanks and a comment after it are no statement.
    r = cli({"query", db_, "delete from T; delete from U", "--sqlite"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.startsWith("error 3142: ")) << r.err.toStdString();
    EXPECT_EQ(query(db_, "select count(*) from T"), "5\n");
    EXPECT_EQ(cli({"query", db_, "update T set ok = True where id = 4;  -- done\n"}).text(), "1\n");

    // The engine itself never drops a second statement.
    auto db = dao::OpenDatabase(db_);
    try {
        db->Execute("delete from T where id = 1; delete from T");
        ADD_FAILURE() << "two statements ran";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3142);
    }
    db->Close();
    EXPECT_EQ(query(db_, "select count(*) from T"), "5\n");
}

TEST_F(CliScript, CommentsAreComments) {
    EXPECT_EQ(cli({"query", db_, "/* how many */ select count(*) as n from T"}).text(), "n\n5\n");
    EXPECT_EQ(cli({"query", db_, "-- all of them\nselect count(*) as n from T -- here\n"}).text(), "n\n5\n");
    CliRun r = cli({"query", db_, "-- a comment first\nupdate T set name = 'x' where id = 1"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.text(), "1\n");
    // Inside quotes and brackets they are text.
    EXPECT_EQ(query(db_, "select '-- not /* a */ comment' as [a--b] from T where id = 1"), "-- not /* a */ comment\n");
    r = cli({"query", db_, "/* nothing */ -- at all"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(query(db_, "select name from T where id = 1"), "x\n");
}

TEST_F(CliScript, WholeNumbersAreExactTo64Bits) {
    EXPECT_EQ(query(db_, "select big from T where id <= 3 order by id"),
              "9007199254740993\n-9223372036854775808\n9223372036854775807\n");
    // A computed column too, and a typed-in number past 32 bits stored through the engine.
    EXPECT_EQ(query(db_, "select big + 1 from T where id = 1"), "9007199254740994\n");
    CliRun r = cli({"query", db_, "update T set big = 4611686018427387905 where id = 5"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(query(db_, "select big from T where id = 5"), "4611686018427387905\n");
    // Read back into a Long field through the engine's conversion, as import does it.
    auto db = dao::OpenDatabase(db_);
    {
        auto rs = db->OpenRecordset("select * from T where id = 4", dao::dbOpenDynaset);
        rs->Edit();
        rs->Fields().Item("big").setValue(dao::Variant::fromString("-4611686018427387905"));
        rs->Update();
        rs->Close();
    }
    db->Close();
    EXPECT_EQ(query(db_, "select big from T where id = 4"), "-4611686018427387905\n");
    // The table text file keeps every digit.
    const QString txt = dir_.filePath("big.txt");
    ASSERT_EQ(cli({"export", db_, "select big from T where id = 3", txt}).code, 0);
    QFile f(txt);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "1              addb\r\n9223372036854775807\r\n");
}

// ---- Arguments ------------------------------------------------------------------------------------

TEST_F(CliScript, OptionsBeforeDoubleDashValuesEverywhereElse) {
    // "-h" where a value stands is that value.
    CliRun r = cli({"replace", db_, "T", "name", "plain", "-h"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.text(), "1\n");
    EXPECT_EQ(query(db_, "select name from T where id = 1"), "-h\n");
    // A value that looks like an option: refused before "--", taken after it.
    r = cli({"replace", db_, "T", "name", "-h", "--yes"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(query(db_, "select name from T where id = 1"), "-h\n");
    r = cli({"replace", "--on-error", "abort", "--", db_, "T", "name", "-h", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(query(db_, "select name from T where id = 1"), "--yes\n");
    // An option's value is taken whatever it says.
    r = cli({"copy", db_, "select * from T where id = 1", "name", "day", "--exclude", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.text(), "0\n");
    // A negative number and "-" are values.
    EXPECT_EQ(cli({"operate", db_, "select * from T where id = 1", "ratio", "-", "0.1"}).text(), "1\n");

    r = cli({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text(), "tabulon-cli 1.0\n");
    EXPECT_EQ(cli({"tables", db_, "--frobnicate"}).code, 2);
}

// ---- check, tables, columns, --sqlite -------------------------------------------------------------

TEST_F(CliScript, CheckOnSqliteRunsSqlitesOwnChecks) {
    CliRun r = cli({"check", db_});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.text().contains("table T: 5 records\n")) << r.text().toStdString();
    EXPECT_TRUE(r.text().contains("integrity_check: ok\nforeign_key_check: ok\n"));
    EXPECT_TRUE(r.text().endsWith("check: 2 tables, 0 fault(s)\n") || r.text().endsWith("check: 1 tables, 0 fault(s)\n"))
        << r.text().toStdString();

    // A child without its parent, written where foreign keys are not enforced (SQLite's shell).
    const QString sqlite3 = QStandardPaths::findExecutable("sqlite3");
    if (sqlite3.isEmpty()) GTEST_SKIP() << "sqlite3 is not installed";
    ASSERT_EQ(runProgram(sqlite3, {db_, "create table P (id integer primary key); create table C (id integer "
                                        "primary key, p integer references P(id)); insert into C values (7, 42);"})
                  .code,
              0);
    r = cli({"check", db_});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.text().contains("FAULT: foreign_key_check: table C, row 7: no record in P")) << r.text().toStdString();
    EXPECT_TRUE(r.text().endsWith(" 1 fault(s)\n"));
}

TEST_F(CliScript, TablesColumnsAndSqlitesOwnSql) {
    auto db = dao::OpenDatabase(db_);
    db->Execute("create table A (id integer primary key autoincrement)", dao::dbSQLPassThrough);
    db->Close();
    EXPECT_EQ(cli({"tables", db_}).text(), "T\nA\n");
    EXPECT_EQ(cli({"tables", db_, "--all"}).text(), "T\nA\nsqlite_schema\nsqlite_sequence\n");
    EXPECT_EQ(cli({"columns", db_, "T"}).text().split('\n').mid(0, 2).join('\n'), "id\t4\t4\tLong\nname\t12\t0\tMemo");

    // In Access SQL "id" is a text; SQLite takes it for the column.
    EXPECT_EQ(query(db_, "select \"id\" from T where id = 1"), "id\n");
    EXPECT_EQ(cli({"query", db_, "select \"id\" from T where id = 1", "--sqlite", "--no-header"}).text(), "1\n");
    EXPECT_EQ(cli({"query", db_, "select printf('%05d', id) from T where id = 2", "--sqlite", "--no-header"}).text(),
              "00002\n");
    const QString jet = testutil::jetFile("weirdObjectNames.mdb");
    if (QFile::exists(jet)) {
        EXPECT_EQ(cli({"query", jet, "select 1", "--sqlite"}).code, 2);
        const QStringList user = cli({"tables", jet}).text().split('\n', Qt::SkipEmptyParts);
        const QStringList all = cli({"tables", jet, "--all"}).text().split('\n', Qt::SkipEmptyParts);
        EXPECT_FALSE(user.isEmpty());
        EXPECT_FALSE(user.contains("MSysObjects"));
        EXPECT_EQ(all.mid(0, user.size()), user);
        EXPECT_TRUE(all.contains("MSysObjects"));
    }
}

}  // namespace
