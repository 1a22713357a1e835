// The engine over a PostgreSQL server: the same recordset operations the SQLite tests use, several
// users on one record, and tables moved between files and the server. The server is the private
// one scripts/test.sh starts (TABULON_TEST_PG); without it these tests are skipped.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "EngineTestUtil.h"
#include "PgTestUtil.h"
#include "TestUtil.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/JetSql.h"

namespace {

QString serverUri() { return qEnvironmentVariable("TABULON_TEST_PG"); }

#define NEED_SERVER() \
    if (serverUri().isEmpty()) GTEST_SKIP() << "TABULON_TEST_PG is not set: no PostgreSQL server for this test"

// A table name no other test (or earlier run) uses.
QString uniqueName(const char* stem) {
    static int n = 0;
    return QString("%1_%2_%3").arg(stem).arg(QCoreApplication::applicationPid()).arg(++n);
}

struct DropTables {
    std::shared_ptr<dao::Database> db;
    QStringList names;
    ~DropTables() {
        for (const QString& t : names) {
            try {
                db->Execute("DROP TABLE IF EXISTS " + t);
            } catch (const dao::Error&) {
            }
        }
    }
};

QString cells(dao::Recordset& rs) {
    QStringList out;
    for (int i = 0; i < rs.Fields().Count(); ++i) out << rs.Fields()[i].Value().debugString();
    return out.join('|');
}

}  // namespace

TEST(PostgresSql, JetTextIsTranslatedForTheServer) {
    using dao::SqlDialect;
    const auto t = dao::translateJetSql(
        "SELECT [first name], x FROM [my table] WHERE [first name] Like 'ab*c?50%' AND ok = True AND d > #1/2/2020#",
        {}, SqlDialect::Postgres);
    EXPECT_EQ(t.sql, "SELECT \"first name\", x FROM \"my table\" WHERE \"first name\" ILIKE 'ab%c_50\\%' AND ok = TRUE "
                     "AND d > '2020-01-02 00:00:00'");
    EXPECT_TRUE(t.singleTable);
    EXPECT_EQ(t.table, "my table");
    // Character classes and digits need a regular expression; & joins texts.
    EXPECT_EQ(dao::translateJetExpression("code like 'A[!0-9]#*' or a & b = 'x'", {}, SqlDialect::Postgres),
              "code ~* E'^A[^0-9][0-9].*$' or a || b = 'x'");
    EXPECT_EQ(dao::translateJetExpression("code not like 'A[b]'", {}, SqlDialect::Postgres), QString("code  !~* E'^A[b]$'"));
    // A URI is shown and remembered without its password.
    EXPECT_TRUE(dao::IsServerUri("postgres://h/db"));
    EXPECT_FALSE(dao::IsServerUri("/data/postgresql.db"));
    EXPECT_EQ(dao::ShownDatabaseName("postgresql://ana:pw@host:5433/db"), "postgresql://ana@host:5433/db");
    EXPECT_EQ(dao::ShownDatabaseName("postgresql:///db?password=x&host=/tmp"), "postgresql:///db?host=/tmp");
    EXPECT_EQ(dao::ShownDatabaseName("postgresql:///db?host=/tmp&password=x"), "postgresql:///db?host=/tmp");
    EXPECT_EQ(dao::ShownDatabaseName("/data/a password.db"), "/data/a password.db");
    // Names in any case become the exact names of the database's tables and columns.
    const dao::NameLookup names = [](const QString& n) {
        for (const char* exact : {"Clientes", "Nombre", "Date"})
            if (n.compare(QLatin1String(exact), Qt::CaseInsensitive) == 0) return QString(exact);
        return QString();
    };
    EXPECT_EQ(dao::translateJetSql("select nombre, [date], x from CLIENTES where date < date '2020-01-01'", {},
                                   SqlDialect::Postgres, names)
                  .sql,
              "select \"Nombre\", \"Date\", x from \"Clientes\" where date < date '2020-01-01'");
    // SQLite is unchanged.
    EXPECT_EQ(dao::translateJetExpression("ok = True", {}), "ok COLLATE JETTEXT = 1");
}

TEST(Postgres, BrowseSearchEditAddAndDeleteThroughTheEngine) {
    NEED_SERVER();
    auto db = dao::OpenDatabase(serverUri());
    const QString t = uniqueName("people");
    DropTables drop{db, {t}};
    db->Execute("CREATE TABLE " + t +
                " (id integer PRIMARY KEY, name varchar(20) NOT NULL, born timestamp, active boolean, "
                "amount numeric(19,4), ratio double precision, notes text, pic bytea, big bigint, tag uuid)");
    EXPECT_EQ(db->Execute("INSERT INTO " + t +
                          " (id, name, born, active, amount, ratio, notes) SELECT g, 'Name ' || g, "
                          "timestamp '2020-01-01 08:30:00' + g * interval '1 day', g % 2 = 0, g * 1.2345, g / 3.0, "
                          "NULL FROM generate_series(1, 1200) g"),
              1200);
    EXPECT_TRUE(db->TableDefs().contains(t));

    auto rs = db->OpenRecordset(t);
    ASSERT_TRUE(rs->Updatable());
    EXPECT_EQ(rs->RecordCount(), 1200);  // exact from the start
    auto f = rs->Fields();
    EXPECT_EQ(f["id"].Type(), dao::dbLong);
    EXPECT_EQ(f["name"].Type(), dao::dbText);
    EXPECT_EQ(f["name"].Size(), 20);
    EXPECT_EQ(f["born"].Type(), dao::dbDate);
    EXPECT_EQ(f["active"].Type(), dao::dbBoolean);
    EXPECT_EQ(f["amount"].Type(), dao::dbCurrency);
    EXPECT_EQ(f["ratio"].Type(), dao::dbDouble);
    EXPECT_EQ(f["notes"].Type(), dao::dbMemo);
    EXPECT_EQ(f["pic"].Type(), dao::dbLongBinary);
    EXPECT_EQ(f["tag"].Type(), dao::dbGUID);
    EXPECT_EQ(f["big"].Type(), dao::dbBigInt);

    // Walking: blocks of records read on demand, in key order.
    rs->MoveFirst();
    EXPECT_EQ(f["id"].Value(), dao::Variant::fromLong(1));
    EXPECT_EQ(f["born"].Value(), dao::Variant::fromDate(dao::dayNumberFromCivil(2020, 1, 2) + 8.5 / 24));
    EXPECT_EQ(f["amount"].Value(), dao::Variant::fromCurrency(12345));
    EXPECT_EQ(f["active"].Value(), dao::Variant::fromBool(false));
    rs->MoveLast();
    EXPECT_EQ(f["name"].Value().asString(), "Name 1200");
    EXPECT_EQ(rs->valueAt(700, 0), dao::Variant::fromLong(701));
    long long walked = 0;
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) ++walked;
    EXPECT_EQ(walked, 1200);

    // Search: Jet's like is case-insensitive.
    rs->FindFirst("name like 'NAME 11*'");
    ASSERT_FALSE(rs->NoMatch());
    EXPECT_EQ(f["id"].Value(), dao::Variant::fromLong(11));
    rs->FindNext("name like 'NAME 11*'");
    EXPECT_EQ(f["id"].Value(), dao::Variant::fromLong(110));
    rs->FindFirst("name = 'nobody'");
    EXPECT_TRUE(rs->NoMatch());

    // A filtered, sorted dynaset.
    auto sel = db->OpenRecordset("SELECT id, name FROM " + t + " WHERE active = True AND id <= 10 ORDER BY id DESC");
    EXPECT_EQ(sel->RecordCount(), 5);
    EXPECT_EQ(sel->Fields()[0].Value(), dao::Variant::fromLong(10));

    // Edit, add, delete.
    rs->FindFirst("id = 5");
    rs->Edit();
    f["name"].setValue(dao::Variant::fromString("Renamed"));
    f["pic"].setValue(dao::Variant::fromBinary(QByteArray("\x00\x01\xff", 3)));
    f["big"].setValue(dao::Variant::fromDecimal("9007199254740993"));
    f["tag"].setValue(dao::Variant::fromString("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
    rs->Update();
    EXPECT_DAO_ERROR(f["name"].setValue(dao::Variant::fromString("x")), 3020);
    rs->AddNew();
    f["id"].setValue(dao::Variant::fromLong(5000));
    f["name"].setValue(dao::Variant::fromString("New one"));
    rs->Update();
    EXPECT_EQ(rs->RecordCount(), 1201);
    rs->FindFirst("id = 6");
    rs->Delete();
    EXPECT_EQ(rs->RecordCount(), 1200);
    EXPECT_DAO_ERROR(f["id"].Value(), 3167);
    rs->MoveNext();
    EXPECT_EQ(f["id"].Value(), dao::Variant::fromLong(7));

    auto again = db->OpenRecordset("SELECT * FROM " + t + " WHERE id IN (5, 5000, 6) ORDER BY id");
    ASSERT_EQ(again->RecordCount(), 2);
    EXPECT_EQ(again->Fields()["name"].Value().asString(), "Renamed");
    EXPECT_EQ(again->Fields()["pic"].Value().asBinary(), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(again->Fields()["big"].Value(), dao::Variant::fromBigInt(9007199254740993LL));
    EXPECT_EQ(again->Fields()["tag"].Value().asString(), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    again->MoveNext();
    EXPECT_EQ(again->Fields()["name"].Value().asString(), "New one");

    // The server's refusals under the engine's numbers, with its own words.
    rs->AddNew();
    f["id"].setValue(dao::Variant::fromLong(1));
    f["name"].setValue(dao::Variant::fromString("dup"));
    EXPECT_DAO_ERROR(rs->Update(), 3022);
    rs->CancelUpdate();
    rs->AddNew();
    f["id"].setValue(dao::Variant::fromLong(9999));
    EXPECT_DAO_ERROR(rs->Update(), 3314);
    rs->CancelUpdate();
    EXPECT_DAO_ERROR(db->Execute("UPDATE " + t + " SET name = '123456789012345678901' WHERE id = 1"), 3163);
    EXPECT_DAO_ERROR(db->OpenRecordset("no_such_table_here"), 3078);
    const QString child = uniqueName("child");
    drop.names.prepend(child);
    db->Execute("CREATE TABLE " + child + " (id integer PRIMARY KEY, person integer REFERENCES " + t + "(id))");
    EXPECT_DAO_ERROR(db->Execute("INSERT INTO " + child + " VALUES (1, 424242)"), 3201);
    db->Execute("INSERT INTO " + child + " VALUES (1, 1)");
    EXPECT_DAO_ERROR(db->Execute("DELETE FROM " + t + " WHERE id = 1"), 3200);
}

TEST(Postgres, TwoUsersOnOneRecordNeverOverwriteEachOther) {
    NEED_SERVER();
    auto a = dao::OpenDatabase(serverUri());
    auto b = dao::OpenDatabase(serverUri());
    const QString t = uniqueName("shared");
    DropTables drop{a, {t}};
    a->Execute("CREATE TABLE " + t + " (id integer PRIMARY KEY, qty integer)");
    a->Execute("INSERT INTO " + t + " SELECT g, 0 FROM generate_series(1, 3) g");
    auto ra = a->OpenRecordset(t);
    auto rb = b->OpenRecordset(t);
    ra->MoveFirst();
    rb->MoveFirst();
    EXPECT_EQ(rb->Fields()["qty"].Value(), dao::Variant::fromLong(0));  // b has read the record

    ra->Edit();
    ra->Fields()["qty"].setValue(dao::Variant::fromLong(10));
    ra->Update();  // a's change lands

    rb->Edit();
    rb->Fields()["qty"].setValue(dao::Variant::fromLong(20));
    try {
        rb->Update();
        ADD_FAILURE() << "a stale edit was saved";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3197);
        EXPECT_TRUE(e.description().contains("record 1")) << e.what();
    }
    // b now shows a's value; editing again from there lands.
    EXPECT_EQ(rb->Fields()["qty"].Value(), dao::Variant::fromLong(10));
    rb->Edit();
    rb->Fields()["qty"].setValue(dao::Variant::fromLong(30));
    rb->Update();

    // A record the other user deleted: the edit is refused too, nothing comes back.
    rb->MoveNext();
    (void)rb->Fields()["qty"].Value();
    ra->MoveNext();
    ra->Delete();
    rb->Edit();
    rb->Fields()["qty"].setValue(dao::Variant::fromLong(5));
    EXPECT_DAO_ERROR(rb->Update(), 3197);
    // And a delete of a record changed after it was read.
    ra->MoveFirst();
    EXPECT_EQ(ra->Fields()["qty"].Value(), dao::Variant::fromLong(30));
    rb->MoveFirst();
    rb->Edit();
    rb->Fields()["qty"].setValue(dao::Variant::fromLong(40));
    rb->Update();
    EXPECT_DAO_ERROR(ra->Delete(), 3197);
    EXPECT_EQ(ra->Fields()["qty"].Value(), dao::Variant::fromLong(40));

    auto check = a->OpenRecordset("SELECT id, qty FROM " + t + " ORDER BY id");
    QStringList rows;
    for (; !check->Eof(); check->MoveNext()) rows << cells(*check);
    EXPECT_EQ(rows, QStringList({"Long(1)|Long(40)", "Long(3)|Long(0)"}));
}

TEST(Postgres, ATableWithoutPrimaryKeyOpensReadOnlySayingWhy) {
    NEED_SERVER();
    auto db = dao::OpenDatabase(serverUri());
    const QString t = uniqueName("nokey");
    DropTables drop{db, {t}};
    db->Execute("CREATE TABLE " + t + " (a integer, b text)");
    db->Execute("INSERT INTO " + t + " VALUES (1, 'x'), (1, 'x'), (2, 'y')");
    auto rs = db->OpenRecordset(t);
    EXPECT_FALSE(rs->Updatable());
    EXPECT_EQ(rs->RecordCount(), 3);  // equal rows are still two records
    rs->MoveLast();
    EXPECT_EQ(rs->Fields()["b"].Value().asString(), "y");
    try {
        rs->Edit();
        ADD_FAILURE() << "edit allowed";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3027);
        EXPECT_TRUE(e.description().contains("primary key")) << e.what();
    }
}

namespace {

namespace {

int runCli(const QStringList& args, QString* out) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    env.insert("LANG", "C");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TABULON_CLI), args);
    p.waitForFinished(60000);
    *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

}  // namespace

TEST(Postgres, TheCommandLineToolsWorkOnAServerTable) {
    NEED_SERVER();
    auto db = dao::OpenDatabase(serverUri());
    const QString t = uniqueName("tools"), t2 = uniqueName("tools_in");
    DropTables drop{db, {t, t2}};
    db->Execute("CREATE TABLE " + t + " (id integer PRIMARY KEY, city varchar(20), qty integer)");
    db->Execute("CREATE TABLE " + t2 + " (id integer PRIMARY KEY, city varchar(20), qty integer)");
    db->Execute("INSERT INTO " + t + " SELECT g, CASE WHEN g % 2 = 0 THEN 'Sevilla' ELSE 'Lugo' END, g FROM generate_series(1, 10) g");
    const QString uri = serverUri();
    QString out;
    EXPECT_EQ(runCli({"tables", uri}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.split('\n').contains(t));
    EXPECT_EQ(runCli({"replace", uri, t, "city", "Sevilla", "Cádiz"}, &out), 0) << out.toStdString();
    EXPECT_EQ(out, "5");
    EXPECT_EQ(runCli({"operate", uri, "select * from " + t + " where city like 'c*'", "qty", "*", "10"}, &out), 0)
        << out.toStdString();
    EXPECT_EQ(runCli({"total", uri, t, "qty"}, &out), 0) << out.toStdString();
    EXPECT_EQ(out, "325.00");  // odd 1..9 = 25, even 2..10 = 30 * 10
    const QString txt = QDir::temp().filePath(t + ".txt");
    EXPECT_EQ(runCli({"export", uri, t, txt}, &out), 0) << out.toStdString();
    EXPECT_EQ(runCli({"import", uri, t2, txt}, &out), 0) << out.toStdString();
    EXPECT_EQ(out, "10");
    QFile::remove(txt);
    EXPECT_EQ(runCli({"erase", uri, "select * from " + t2 + " where qty > 50", "--yes"}, &out), 0) << out.toStdString();
    EXPECT_EQ(out, "3 erased, 0 kept");
    EXPECT_EQ(runCli({"query", uri, "select city, count(*) as n from " + t2 + " group by city order by city"}, &out), 0);
    EXPECT_EQ(out, "city\tn\nCádiz\t2\nLugo\t5") << out.toStdString();
}

// The rows as the types of `types` hold them: PostgreSQL has no Byte type (smallint reads back as
// Integer), and an SQLite column without a declared type becomes text.
QStringList allRows(dao::Database& db, const QString& table, const QStringList& order, const dao::TableSchema& types) {
    QStringList keys;
    for (const QString& k : order) keys << "[" + k + "]";
    auto rs = db.OpenRecordset("SELECT * FROM [" + table + "]" + (keys.isEmpty() ? "" : " ORDER BY " + keys.join(", ")), 4);
    QStringList rows;
    for (; !rs->Eof(); rs->MoveNext()) {
        QStringList out;
        for (int i = 0; i < rs->Fields().Count(); ++i)
            out << dao::coerceToFieldType(rs->Fields()[i].Value(), types.columns[size_t(i)].type).debugString();
        rows << out.join('|');
    }
    return rows;
}

// Every table of `file` into the server and back into a new SQLite file: the same records.
void roundTrip(const QString& file, const QString& back) {
    auto src = dao::OpenDatabase(file);
    auto server = dao::OpenDatabase(serverUri());
    auto dest = dao::CreateDatabase(back);
    const QString prefix = uniqueName("rt");
    DropTables drop{server, {}};
    for (const QString& table : src->TableDefs()) {
        SCOPED_TRACE(table.toStdString());
        const dao::TableSchema schema = src->Schema(table);
        const QString onServer = prefix + "_" + QString::number(drop.names.size());
        drop.names << onServer;
        const long long n = dao::CopyTable(*src, table, *server, onServer);
        EXPECT_EQ(n, src->OpenRecordset(table)->RecordCount());
        EXPECT_EQ(dao::CopyTable(*server, onServer, *dest, table), n);
        EXPECT_EQ(server->Schema(onServer).primaryKey, schema.primaryKey);
        const QStringList order = schema.primaryKey.isEmpty() ? QStringList{schema.columns[0].name} : schema.primaryKey;
        const dao::TableSchema back = dest->Schema(table);
        EXPECT_EQ(allRows(*dest, table, order, back), allRows(*src, table, order, back));
        EXPECT_DAO_ERROR(dao::CopyTable(*src, table, *server, onServer), 3010);
    }
    dest->Close();
}

}  // namespace

TEST(Postgres, CopyTableMovesTheSampleDatabaseAndAnAccessFileThereAndBack) {
    NEED_SERVER();
    if (QStandardPaths::findExecutable("sqlite3").isEmpty()) GTEST_SKIP() << "the sqlite3 shell is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString sample = dir.filePath("sample.db");
    {
        QProcess p;
        p.setStandardInputFile(QStringLiteral(TABULON_SOURCE_DIR "/samples/sample.sql"));
        p.start("sqlite3", {"-bail", sample});
        ASSERT_TRUE(p.waitForFinished(120000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
    roundTrip(sample, dir.filePath("back.db"));
    const QString jet = dir.filePath("test.mdb");
    ASSERT_TRUE(QFile::copy(testutil::jetFile("test2V2003.mdb"), jet));
    roundTrip(jet, dir.filePath("back-jet.db"));

    // The command line: the count, then a refusal of an existing table unless --append.
    const QString t = uniqueName("cli");
    DropTables drop{dao::OpenDatabase(serverUri()), {t}};
    auto cli = [&](const QStringList& args, QString* out) {
        QProcess p;
        p.start(QStringLiteral(TABULON_CLI), args);
        p.waitForFinished(60000);
        *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
        return p.exitCode();
    };
    QString out;
    EXPECT_EQ(cli({"copy-table", sample, "Clientes", serverUri(), "--as", t}, &out), 0) << out.toStdString();
    const QString count = out;
    EXPECT_EQ(count.toLongLong(), dao::OpenDatabase(sample)->OpenRecordset("Clientes")->RecordCount());
    EXPECT_EQ(cli({"copy-table", sample, "Clientes", serverUri(), "--as", t}, &out), 1);
    EXPECT_TRUE(out.startsWith("error 3010")) << out.toStdString();
    EXPECT_EQ(cli({"copy-table", sample, "Clientes", serverUri(), "--as", t, "--append"}, &out), 1);
    EXPECT_TRUE(out.startsWith("error 3022")) << out.toStdString();  // the same keys again
    EXPECT_EQ(cli({"query", serverUri(), "SELECT count(*) FROM " + t}, &out), 0);
    EXPECT_TRUE(out.endsWith(count)) << out.toStdString();
}

// The unique indexes come along both ways, made once the rows are in; an exact Large Number too.
TEST(Postgres, CopyTableKeepsUniqueIndexesAndLargeNumbers) {
    NEED_SERVER();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = testutil::makeSqlite(dir, "u.db", {
        "create table U (id integer primary key, code text(10), a long, b long, big bigint)",
        "create unique index u_code on U (code)",
        "create unique index u_ab on U (a, b)",
        "create index u_plain on U (b)",
        "insert into U values (1, 'x', 1, 1, 9007199254740993), (2, 'y', 1, 2, -5)"});
    auto src = dao::OpenDatabase(file);
    auto server = dao::OpenDatabase(serverUri());
    const QString t = uniqueName("uniq");
    DropTables drop{server, {t}};
    EXPECT_EQ(dao::CopyTable(*src, "U", *server, t), 2);
    auto rs = server->OpenRecordset("SELECT * FROM " + t + " ORDER BY id");
    EXPECT_EQ(rs->Fields()["big"].Type(), dao::dbBigInt);
    EXPECT_EQ(rs->Fields()["big"].Value(), dao::Variant::fromBigInt(9007199254740993LL));
    EXPECT_DAO_ERROR(server->Execute("INSERT INTO " + t + " (id, code, a, b) VALUES (3, 'x', 7, 7)"), 3022);
    EXPECT_DAO_ERROR(server->Execute("INSERT INTO " + t + " (id, code, a, b) VALUES (3, 'z', 1, 2)"), 3022);
    server->Execute("INSERT INTO " + t + " (id, code, a, b) VALUES (3, 'z', 2, 2)");  // b alone is not unique
    server->Flush();

    auto back = dao::CreateDatabase(dir.filePath("back.db"));
    EXPECT_EQ(dao::CopyTable(*server, t, *back, "U"), 3);
    EXPECT_DAO_ERROR(back->Execute("INSERT INTO U (id, code, a, b) VALUES (4, 'y', 9, 9)"), 3022);
    EXPECT_DAO_ERROR(back->Execute("INSERT INTO U (id, code, a, b) VALUES (4, 'w', 2, 2)"), 3022);
    auto big = back->OpenRecordset("SELECT big FROM U WHERE id = 1");
    EXPECT_EQ(big->Fields()[0].Value(), dao::Variant::fromBigInt(9007199254740993LL));
    back->Close();
}

// Keys of each integer width (negative, past 32 bits) and a padded char(n) key: every record is read
// in its place, in key order (whatever order the table holds them in) and sorted, and edits, searches, deletions and additions find theirs.
TEST(Postgres, KeysOfEachIntegerWidthAndPaddedTextFindTheirRecords) {
    NEED_SERVER();
    auto db = dao::OpenDatabase(serverUri());
    const struct {
        const char* type;
        QStringList keys;  // in key order; the last is added
    } cases[] = {{"smallint", {"-3", "7", "30000", "31000"}},
                 {"bigint", {"-5000000000", "7", "5000000000", "6000000000"}},
                 {"char(6)", {"a", "bb", "ccc", "dddd"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const QString t = uniqueName("keys");
        DropTables drop{db, {t}};
        db->Execute(QString("CREATE TABLE %1 (k %2 PRIMARY KEY, v integer)").arg(t, c.type));
        db->Execute(QString("INSERT INTO %1 VALUES ('%2', 1), ('%3', 2), ('%4', 3)").arg(t, c.keys[0], c.keys[1], c.keys[2]));
        db->Execute("UPDATE " + t + " SET v = 1 WHERE v = 1");  // the first record now lies last in the table
        const auto rows = [](dao::Recordset& rs) {
            QStringList out;
            for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext())
                out << dao::valueToText(rs.Fields()["k"].Value()).trimmed() + "=" + dao::valueToText(rs.Fields()["v"].Value());
            return out.join(' ');
        };
        auto rs = db->OpenRecordset(t);
        EXPECT_EQ(rows(*rs), QString("%1=1 %2=2 %3=3").arg(c.keys[0], c.keys[1], c.keys[2]));
        auto sorted = db->OpenRecordset("SELECT * FROM " + t + " ORDER BY v DESC");
        EXPECT_EQ(rows(*sorted), QString("%3=3 %2=2 %1=1").arg(c.keys[0], c.keys[1], c.keys[2]));

        rs->FindFirst("v = 2");
        ASSERT_FALSE(rs->NoMatch());
        rs->Edit();
        rs->Fields()["v"].setValue(dao::Variant::fromLong(20));
        rs->Update();
        rs->MoveFirst();
        rs->Delete();
        rs->AddNew();
        rs->Fields()["k"].setValue(dao::Variant::fromString(c.keys[3]));
        rs->Fields()["v"].setValue(dao::Variant::fromLong(4));
        rs->Update();
        rs->MoveLast();  // the added record, and an edit of it
        rs->Edit();
        rs->Fields()["v"].setValue(dao::Variant::fromLong(40));
        rs->Update();
        EXPECT_EQ(rows(*rs), QString("%2=20 %3=3 %4=40").arg(c.keys[1], c.keys[2], c.keys[3]));
        sorted->MoveLast();
        sorted->Edit();  // the record the other recordset deleted
        sorted->Fields()["v"].setValue(dao::Variant::fromLong(9));
        EXPECT_DAO_ERROR(sorted->Update(), 3197);
        EXPECT_EQ(rows(*db->OpenRecordset("SELECT * FROM " + t + " ORDER BY v")),
                  QString("%1=3 %2=20 %3=40").arg(c.keys[2], c.keys[1], c.keys[3]));
    }
}

// Changes go in one transaction per batch; a refusal the server answers by dropping the transaction
// loses none of the earlier changes (a record changed twice included), and another connection sees
// the batch once it is committed.
TEST(Postgres, ARefusalInsideABatchKeepsTheChangesBeforeIt) {
    NEED_SERVER();
    auto db = dao::OpenDatabase(serverUri());
    const QString t = uniqueName("batch");
    DropTables drop{db, {t}};
    db->Execute("CREATE TABLE " + t + " (id serial PRIMARY KEY, qty integer NOT NULL)");
    db->Execute("INSERT INTO " + t + " (qty) SELECT 0 FROM generate_series(1, 3)");
    auto rs = db->OpenRecordset(t);
    auto qty = rs->Fields()["qty"];
    for (int v : {1, 2}) {  // the first record twice
        rs->Edit();
        qty.setValue(dao::Variant::fromLong(v));
        rs->Update();
    }
    rs->AddNew();  // a serial key: run again, it keeps the key it was given
    qty.setValue(dao::Variant::fromLong(7));
    rs->Update();
    rs->MoveFirst();
    rs->Move(1);
    rs->Delete();
    rs->MoveFirst();
    rs->Edit();
    qty.setValue(dao::Variant::null());
    EXPECT_DAO_ERROR(rs->Update(), 3314);
    rs->CancelUpdate();
    rs->Edit();
    qty.setValue(dao::Variant::fromLong(3));
    rs->Update();

    auto other = dao::OpenDatabase(serverUri());
    auto seen = other->OpenRecordset("SELECT id, qty FROM " + t + " ORDER BY id");
    QStringList rows;
    for (; !seen->Eof(); seen->MoveNext()) rows << cells(*seen);
    EXPECT_EQ(rows, QStringList({"Long(1)|Long(3)", "Long(3)|Long(0)", "Long(4)|Long(7)"}));
    EXPECT_EQ(rs->RecordCount(), 3);
}

// The server drops the connection: changes of the batch it took are reported with their number,
// the next statement runs on a new session, and a change made after the loss is saved there.
TEST(Postgres, ALostConnectionIsReportedAndTheNextStatementConnectsAgain) {
    NEED_SERVER();
    auto db = dao::OpenDatabase(serverUri());
    const QString t = uniqueName("lost");
    auto keeper = dao::OpenDatabase(serverUri());
    DropTables drop{keeper, {t}};
    db->Execute("CREATE TABLE " + t + " (id integer PRIMARY KEY, qty integer)");
    db->Execute("INSERT INTO " + t + " SELECT g, 0 FROM generate_series(1, 3) g");
    const auto backendPid = [&] {
        return dao::valueToText(db->OpenRecordset("SELECT pg_backend_pid()")->Fields().Item(0).Value());
    };
    const auto stored = [&] {
        dao::flushAllWrites();
        return testutil::psql(serverUri(), "SELECT string_agg(qty::text, ',' ORDER BY id) FROM " + t).join("");
    };
    auto rs = db->OpenRecordset(t);
    auto qty = rs->Fields()["qty"];

    // Lost with a change in the batch: the statement that finds out says so, naming the change.
    rs->Edit();
    qty.setValue(dao::Variant::fromLong(10));
    rs->Update();
    try {
        db->OpenRecordset("SELECT pg_terminate_backend(pg_backend_pid())");
        ADD_FAILURE() << "the loss went unsaid";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3151);
        EXPECT_TRUE(e.description().contains("was lost")) << e.what();
        EXPECT_TRUE(e.description().contains("the change since the last save was not saved")) << e.what();
    }
    // The record shows what the server holds, read on a new session.
    rs->MoveFirst();
    EXPECT_EQ(qty.Value(), dao::Variant::fromLong(0));
    EXPECT_EQ(stored(), "0,0,0");

    // Dropped by another process between batches: reads and a change made afterwards just work.
    const QString pid = backendPid();
    ASSERT_EQ(testutil::psql(serverUri(), "SELECT pg_terminate_backend(" + pid + ")"), QStringList({"t"}));
    EXPECT_EQ(dao::valueToText(db->OpenRecordset("SELECT count(*) FROM " + t)->Fields().Item(0).Value()), "3");
    EXPECT_NE(backendPid(), pid);
    ASSERT_EQ(testutil::psql(serverUri(), "SELECT pg_terminate_backend(" + backendPid() + ")"), QStringList({"t"}));
    rs->MoveNext();
    rs->Edit();
    qty.setValue(dao::Variant::fromLong(20));
    rs->Update();
    EXPECT_EQ(stored(), "0,20,0");
}

// The whole server stops (fast: sessions ended, open transactions rolled back) and starts again
// under an open connection. On a server of the test's own, so the other tests keep theirs. The next
// statement connects again; a change saved before is there; one still in the batch is either there
// or reported, whichever statement finds out (a read or a change); the recordset reads and saves on.
TEST(Postgres, AServerRestartLosesNoChangeUnsaidAndTheRecordsetWorksOn) {
    testutil::PgPrivateServer server;
    if (!server.skipReason().isEmpty()) GTEST_SKIP() << server.skipReason().toStdString();
    ASSERT_TRUE(server.error().isEmpty()) << server.error().toStdString();
    auto db = dao::OpenDatabase(server.uri());
    db->Execute("CREATE TABLE t (id integer PRIMARY KEY, qty integer)");
    db->Execute("INSERT INTO t SELECT g, 0 FROM generate_series(1, 4) g");
    const auto stored = [&] {
        return testutil::psql(server.uri(), "SELECT string_agg(qty::text, ',' ORDER BY id) FROM t").join("");
    };
    const auto restart = [&] {
        const QString stopped = server.ctl("stop -m fast");
        const QString started = server.ctl("start");
        return stopped + started;
    };
    const auto count = [&] { return dao::valueToText(db->OpenRecordset("SELECT count(*) FROM t")->Fields().Item(0).Value()); };
    // A change the loss took: reported as such, never a success that is not so.
    const auto lostChange = [](const dao::Error& e) {
        EXPECT_EQ(e.number(), 3151) << e.what();
        EXPECT_TRUE(e.description().contains("not saved") || e.description().contains("could not be saved")) << e.what();
    };
    auto rs = db->OpenRecordset("t");
    auto qty = rs->Fields()["qty"];
    const auto edit = [&](int v) {
        rs->Edit();
        qty.setValue(dao::Variant::fromLong(v));
        rs->Update();
    };

    // Saved, then the restart: the next read connects again without a word.
    edit(1);
    dao::flushAllWrites();
    ASSERT_EQ(restart(), QString());
    EXPECT_EQ(count(), "4");
    EXPECT_EQ(stored(), "1,0,0,0");

    // In the batch, found out by a read.
    rs->MoveNext();
    edit(2);
    ASSERT_EQ(restart(), QString());
    bool reported = false;
    try {
        count();
    } catch (const dao::Error& e) {
        lostChange(e);
        reported = true;
    }
    EXPECT_EQ(count(), "4");
    const QString afterRead = stored();
    EXPECT_EQ(afterRead, reported ? "1,0,0,0" : "1,2,0,0") << "reported: " << reported;

    // In the batch, found out by the next change, which is saved when made again if it went too.
    rs->MoveNext();
    edit(3);
    ASSERT_EQ(restart(), QString());
    rs->MoveNext();
    reported = false;
    try {
        edit(4);
    } catch (const dao::Error& e) {
        lostChange(e);
        reported = true;
        // Found by Edit, nothing was begun; found by Update, the edit is still open with its value.
        if (rs->EditMode() == dao::dbEditNone)
            edit(4);
        else
            rs->Update();
    }
    dao::flushAllWrites();
    EXPECT_EQ(stored(), afterRead.left(4) + (reported ? "0" : "3") + ",4") << "reported: " << reported;

    // The recordset reads what the server holds and saves on.
    QStringList seen;
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) seen << dao::valueToText(qty.Value());
    EXPECT_EQ(seen.join(','), stored());
    rs->MoveFirst();
    edit(5);
    dao::flushAllWrites();
    EXPECT_EQ(stored().left(1), "5");
}
