// The engine over SQLite files: field types and stored forms, table lists, recordset navigation
// and editing, sorting and finding, snapshots, and what a file that is not a database gives.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include "EngineTestUtil.h"
#include "TestUtil.h"

using dao::Variant;
using enginetest::column;
using enginetest::committedRows;
using enginetest::rawRows;
using enginetest::str;
using T = dao::Variant::Type;

namespace {

const char* kTypesTable =
    "create table T (yn YESNO, bt BYTE, sh SHORT, lg LONG, cu CURRENCY, si SINGLE, du DOUBLE, dt DATETIME, "
    "bi BINARY(8), tx TEXT(20), lb LONGBINARY, me MEMO, gu GUID, nu NUMERIC, de DECIMAL, pt TEXT, it "
    "INTEGER, "
    "vc VARCHAR(30))";

TEST(EngineTypes, DeclaredTypeGivesCodeAndSize) {
    QTemporaryDir dir;
    auto db = dao::OpenDatabase(testutil::makeSqlite(dir, "types.db", {kTypesTable}));
    auto rs = db->OpenRecordset("T");
    struct Expect {
        const char* name;
        int type;
        int size;  // -1: not checked
    };
    const Expect expected[] = {{"yn", 1, 1},  {"bt", 2, 1},  {"sh", 3, 2},   {"lg", 4, 4},   {"cu", 5, 8},
                               {"si", 6, 4},  {"du", 7, 8},  {"dt", 8, 8},   {"bi", 9, 8},   {"tx", 10, 20},
                               {"lb", 11, 0}, {"me", 12, 0}, {"gu", 15, 16}, {"nu", 19, -1}, {"de", 20, -1},
                               {"pt", 12, 0}, {"it", 4, 4},  {"vc", 10, 30}};
    ASSERT_EQ(rs->Fields().Count(), int(std::size(expected)));
    for (int i = 0; i < int(std::size(expected)); ++i) {
        const dao::Field f = rs->Fields()[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(f.Name(), expected[i].name);
        EXPECT_EQ(f.Type(), expected[i].type);
        if (expected[i].size >= 0) {
            EXPECT_EQ(f.Size(), expected[i].size);
        }
        EXPECT_EQ(f.OrdinalPosition(), i);
    }
    // Names are found case-insensitively; an unknown one is 3265.
    EXPECT_EQ(rs->Fields()["VC"].Name(), "vc");
    EXPECT_DAO_ERROR(rs->Fields()["nope"], 3265);
    EXPECT_DAO_ERROR(rs->Fields()[18], 3265);
}

TEST(EngineTypes, ValuesRoundTripWithTheirTypesAndStoredForms) {
    QTemporaryDir dir;
    const QString path = testutil::makeSqlite(dir, "types.db", {kTypesTable});
    const QDateTime when(QDate(2024, 2, 29), QTime(13, 45, 10));
    const QByteArray bin8("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    const QByteArray blob("\x00\xff\x10", 3);
    const QString memo = QString(5000, 'x') + "é";
    const QString guid = "{6F9619FF-8B86-D011-B42D-00C04FC964FF}";
    {
        auto db = dao::OpenDatabase(path);
        auto rs = db->OpenRecordset("T");
        auto f = rs->Fields();
        rs->AddNew();
        f["yn"].setValue(Variant::fromBool(true));
        f["bt"].setValue(Variant::fromByte(200));
        f["sh"].setValue(Variant::fromInteger(-1234));
        f["lg"].setValue(Variant::fromLong(123456789));
        f["cu"].setValue(Variant::fromCurrency(12345678));  // 1234.5678
        f["si"].setValue(Variant::fromSingle(1.5f));
        f["du"].setValue(Variant::fromDouble(3.25));
        f["dt"].setValue(Variant::fromDateTime(when));
        f["bi"].setValue(Variant::fromBinary(bin8));
        f["tx"].setValue(Variant::fromString("Ñandú"));
        f["lb"].setValue(Variant::fromBinary(blob));
        f["me"].setValue(Variant::fromString(memo));
        f["gu"].setValue(Variant::fromString(guid));
        f["nu"].setValue(Variant::fromDouble(12.5));
        f["de"].setValue(Variant::fromDecimal("-12.345"));
        f["pt"].setValue(Variant::fromString("plain"));
        f["it"].setValue(Variant::fromLong(42));
        f["vc"].setValue(Variant::fromString("varchar"));
        rs->Update();
        // A record of Nulls, and one with the other yes/no value and a date at midnight.
        rs->AddNew();
        rs->Update();
        rs->AddNew();
        f["yn"].setValue(Variant::fromBool(false));
        f["dt"].setValue(Variant::fromDateTime(QDateTime(QDate(1999, 12, 31), QTime(0, 0))));
        f["cu"].setValue(Variant::fromCurrency(-1));  // -0.0001
        f["gu"].setValue(Variant::fromString("00000000-0000-0000-0000-000000000000"));  // the all-zero GUID is a value
        rs->Update();
        db->Close();
    }

    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("T");
    ASSERT_EQ(rs->RecordCount(), 3);
    auto f = rs->Fields();
    EXPECT_EQ(f["yn"].Value(), Variant::fromBool(true));
    EXPECT_EQ(f["bt"].Value(), Variant::fromByte(200));
    EXPECT_EQ(f["sh"].Value(), Variant::fromInteger(-1234));
    EXPECT_EQ(f["lg"].Value(), Variant::fromLong(123456789));
    EXPECT_EQ(f["cu"].Value(), Variant::fromCurrency(12345678));
    EXPECT_EQ(f["si"].Value(), Variant::fromSingle(1.5f));
    EXPECT_EQ(f["du"].Value(), Variant::fromDouble(3.25));
    ASSERT_EQ(f["dt"].Value().type(), T::Date);
    EXPECT_EQ(f["dt"].Value().toDateTime(), when);
    EXPECT_EQ(f["bi"].Value(), Variant::fromBinary(bin8));
    EXPECT_EQ(f["tx"].Value(), Variant::fromString("Ñandú"));
    EXPECT_EQ(f["lb"].Value(), Variant::fromBinary(blob));
    EXPECT_EQ(f["me"].Value(), Variant::fromString(memo));
    EXPECT_EQ(str(f["gu"].Value()), guid);
    EXPECT_EQ(f["nu"].Value(), Variant::fromDouble(12.5));
    EXPECT_EQ(f["de"].Value().debugString(), "Decimal(-12.345)");
    EXPECT_EQ(f["pt"].Value(), Variant::fromString("plain"));
    EXPECT_EQ(f["it"].Value(), Variant::fromLong(42));
    EXPECT_EQ(f["vc"].Value(), Variant::fromString("varchar"));

    rs->MoveNext();
    for (int i = 0; i < f.Count(); ++i) EXPECT_TRUE(f[i].Value().isNull()) << f[i].Name().toStdString();

    rs->MoveNext();
    EXPECT_EQ(f["yn"].Value(), Variant::fromBool(false));
    EXPECT_EQ(f["dt"].Value().toDateTime(), QDateTime(QDate(1999, 12, 31), QTime(0, 0)));
    EXPECT_EQ(f["cu"].Value(), Variant::fromCurrency(-1));
    EXPECT_EQ(str(f["gu"].Value()), "{00000000-0000-0000-0000-000000000000}");

    // The stored forms, as plain SQLite sees them.
    EXPECT_EQ(
        rawRows(path, "select typeof(yn), yn, dt, cu, typeof(bt), typeof(lb), tx from T order by rowid"),
        QStringList({"integer|1|2024-02-29 13:45:10|1234.5678|integer|blob|Ñandú",
                     "null|NULL|NULL|NULL|null|null|NULL",
                     "integer|0|1999-12-31 00:00:00|-0.0001|null|null|NULL"}));
}

// The largest currency amounts still keep their four decimals.
// Currency is stored as a number so that SQL compares it: whole amounts as integers over the whole
// range, others as REAL, exact to the ten-thousandth up to +-900 billion.
TEST(EngineTypes, CurrencyIsExactWhereItIsStoredExactly) {
    QTemporaryDir dir;
    const QString path = testutil::makeSqlite(dir, "cur.db", {"create table C (n LONG, cu CURRENCY)"});
    const int64_t amounts[] = {// ten-thousandths
                               INT64_MAX / 10000 * 10000, -(INT64_MAX / 10000 * 10000), 9000000000000001LL,
                               -9000000000000001LL, 12345678, 1, -1, 1000, 3};
    {
        auto db = dao::OpenDatabase(path);
        auto rs = db->OpenRecordset("C");
        int n = 0;
        for (int64_t a : amounts) {
            rs->AddNew();
            rs->Fields()["n"].setValue(Variant::fromLong(n++));
            rs->Fields()["cu"].setValue(Variant::fromCurrency(a));
            rs->Update();
        }
    }
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("select * from C order by n");
    int n = 0;
    for (; !rs->Eof(); rs->MoveNext(), ++n)
        EXPECT_EQ(rs->Fields()["cu"].Value().debugString(), Variant::fromCurrency(amounts[n]).debugString());
    EXPECT_EQ(n, int(std::size(amounts)));
    EXPECT_EQ(db->OpenRecordset("select * from C where [cu] > 1234.5")->RecordCount(), 3);
}

TEST(EngineTypes, AssignmentsTheFieldCannotTake) {
    QTemporaryDir dir;
    auto db = dao::OpenDatabase(testutil::makeSqlite(dir, "t.db", {kTypesTable}));
    auto rs = db->OpenRecordset("T");
    auto f = rs->Fields();
    // Outside AddNew/Edit.
    EXPECT_DAO_ERROR(f["lg"].setValue(Variant::fromLong(1)), 3020);
    EXPECT_DAO_ERROR(rs->Update(), 3020);

    rs->AddNew();
    EXPECT_DAO_ERROR(f["lg"].setValue(Variant::fromString("abc")), 3421);
    EXPECT_DAO_ERROR(f["dt"].setValue(Variant::fromString("no date")), 3421);
    EXPECT_DAO_ERROR(f["tx"].setValue(Variant::fromString(QString(21, 'a'))), 3163);
    EXPECT_DAO_ERROR(f["vc"].setValue(Variant::fromString(QString(31, 'b'))), 3163);
    f["tx"].setValue(Variant::fromString(QString(20, QChar(0xF1))));  // 20 characters, 40 bytes
    f["tx"].setValue(Variant::fromString(QString(20, 'a')));          // exactly the size
    f["lg"].setValue(Variant::fromString("12"));                      // text that is a number
    EXPECT_EQ(f["lg"].Value(), Variant::fromLong(12));
    f["yn"].setValue(Variant::fromString("Yes"));
    f["me"].setValue(Variant::fromString(QString(70000, 'm')));  // a memo has no size limit
    rs->Update();
    rs->MoveFirst();
    EXPECT_EQ(f["lg"].Value(), Variant::fromLong(12));
    EXPECT_EQ(f["yn"].Value(), Variant::fromBool(true));
    EXPECT_EQ(f["tx"].Value(), Variant::fromString(QString(20, 'a')));
    EXPECT_EQ(f["me"].Value().asString().size(), 70000);
}

// ---- Table lists ---------------------------------------------------------------------------------

TEST(EngineTables, TableDefsInCreationOrderWithoutSqliteTables) {
    QTemporaryDir dir;
    const QString path = testutil::makeSqlite(
        dir, "t.db",
        {"create table Zeta (id INTEGER PRIMARY KEY AUTOINCREMENT, x TEXT(10))",
         "create table Alpha (a LONG)", "create table [Con blanco] (Nombre TEXT(20))",
         "create index ix on Alpha (a)", "create view V as select * from Alpha",
         "insert into Zeta (x) values ('one')", "insert into [Con blanco] values ('Ana')"});
    // A statistics table as well.
    EXPECT_EQ(rawRows(path, "analyze"), QStringList());
    auto db = dao::OpenDatabase(path);
    EXPECT_EQ(db->TableDefs(), QStringList({"Zeta", "Alpha", "Con blanco"}));
    EXPECT_EQ(db->TableDefsCount(), 3);

    for (const char* source : {"Con blanco", "[Con blanco]", "con BLANCO", "select * from [Con blanco]"}) {
        auto rs = db->OpenRecordset(source);
        EXPECT_EQ(rs->RecordCount(), 1) << source;
        EXPECT_EQ(rs->Fields()["Nombre"].Value(), Variant::fromString("Ana"));
        EXPECT_EQ(rs->Name(), "Con blanco");
        EXPECT_TRUE(rs->Updatable());
    }
    EXPECT_DAO_ERROR(db->OpenRecordset("Con"), 3078);
    EXPECT_DAO_ERROR(db->OpenRecordset("sqlite_nothing"), 3078);
}

// ---- Files that are not what they seem ------------------------------------------------------------

TEST(EngineFiles, MissingAndUnrecognizedFiles) {
    QTemporaryDir dir;
    EXPECT_DAO_ERROR(dao::OpenDatabase(dir.filePath("missing.db")), 3024);
    EXPECT_DAO_ERROR(dao::OpenDatabase(dir.path()), 3024);  // a folder

    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return dir.filePath(name);
    };
    const QString empty = write("empty.db", {});
    const QString text = write("notes.txt", QByteArray("a plain text file\nwith some lines\n").repeated(20));
    try {
        dao::OpenDatabase(text);
        ADD_FAILURE() << "a text file opened";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3343);
        EXPECT_TRUE(e.description().contains("notes.txt")) << e.what();
    }
    EXPECT_DAO_ERROR(dao::OpenDatabase(empty), 3343);
    // Only the magic of a database and nothing else.
    EXPECT_DAO_ERROR(dao::OpenDatabase(write("head.db", QByteArray("SQLite format 3\0", 16))), 3343);
    EXPECT_DAO_ERROR(
        dao::OpenDatabase(write("jethead.mdb", QByteArray("\x00\x01\x00\x00Standard Jet DB", 19))), 3343);

    // A real database cut short, inside its first page and in the middle.
    QStringList script{"create table T (id LONG, s TEXT(100))"};
    for (int i = 0; i < 300; ++i)
        script << QString("insert into T values (%1, '%2')").arg(i).arg(QString(90, QChar('a' + i % 26)));
    const QString whole = testutil::makeSqlite(dir, "whole.db", script);
    QFile wf(whole);
    ASSERT_TRUE(wf.open(QIODevice::ReadOnly));
    const QByteArray bytes = wf.readAll();
    ASSERT_GT(bytes.size(), 16384);
    EXPECT_DAO_ERROR(dao::OpenDatabase(write("cut1.db", bytes.left(1000))), 3343);
    // Cut in the middle: the schema may still read, but the records cannot.
    const QString cut2 = write("cut2.db", bytes.left(bytes.size() / 2));
    try {
        auto db = dao::OpenDatabase(cut2);
        auto rs = db->OpenRecordset("T");
        for (; !rs->Eof(); rs->MoveNext()) rs->Fields()["s"].Value();
        ADD_FAILURE() << "the whole of a cut file read";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3343) << e.what();
    }
}

// ---- Navigation ---------------------------------------------------------------------------------

class EngineRecordset : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = testutil::makeSqlite(dir_, "nav.db",
                                     {"create table N (id LONG, s TEXT(10))", "insert into N values (1, 'b')",
                                      "insert into N values (2, 'A')", "insert into N values (3, 'c')",
                                      "insert into N values (4, 'a2')", "insert into N values (5, 'C')"});
        db_ = dao::OpenDatabase(path_);
    }
    static long long id(dao::Recordset& rs) { return rs.Fields()["id"].Value().asInt(); }

    QTemporaryDir dir_;
    QString path_;
    std::shared_ptr<dao::Database> db_;
};

TEST_F(EngineRecordset, MovesAndPositions) {
    auto rs = db_->OpenRecordset("N");
    EXPECT_EQ(rs->Type(), dao::dbOpenDynaset);
    EXPECT_EQ(rs->RecordCount(), 5);  // exact without MoveLast
    EXPECT_EQ(rs->AbsolutePosition(), 0);
    EXPECT_FALSE(rs->Bof());
    EXPECT_FALSE(rs->Eof());
    rs->MoveLast();
    EXPECT_EQ(id(*rs), 5);
    EXPECT_EQ(rs->AbsolutePosition(), 4);
    rs->MovePrevious();
    EXPECT_EQ(id(*rs), 4);
    rs->Move(-2);
    EXPECT_EQ(id(*rs), 2);
    rs->Move(2);
    EXPECT_EQ(rs->AbsolutePosition(), 3);
    rs->Move(0);
    EXPECT_EQ(id(*rs), 4);
    rs->MoveNext();
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
    EXPECT_FALSE(rs->Bof());
    EXPECT_EQ(rs->AbsolutePosition(), -1);
    EXPECT_DAO_ERROR(rs->Fields()["id"].Value(), 3021);
    EXPECT_DAO_ERROR(rs->MoveNext(), 3021);
    EXPECT_DAO_ERROR(rs->Edit(), 3021);
    EXPECT_DAO_ERROR(rs->Delete(), 3021);
    rs->MovePrevious();  // back from EOF onto the last record
    EXPECT_EQ(id(*rs), 5);

    rs->MoveFirst();
    rs->MovePrevious();
    EXPECT_TRUE(rs->Bof());
    EXPECT_EQ(rs->AbsolutePosition(), -1);
    EXPECT_DAO_ERROR(rs->MovePrevious(), 3021);
    rs->MoveNext();
    EXPECT_EQ(id(*rs), 1);

    rs->setAbsolutePosition(2);
    EXPECT_EQ(id(*rs), 3);
    EXPECT_EQ(rs->AbsolutePosition(), 2);
    EXPECT_ANY_THROW(rs->setAbsolutePosition(5));
    EXPECT_ANY_THROW(rs->setAbsolutePosition(-1));
    EXPECT_EQ(id(*rs), 3);  // unchanged by a position out of range

    rs->Move(10);
    EXPECT_TRUE(rs->Eof());
    rs->Move(-10);
    EXPECT_TRUE(rs->Bof());
    rs->Move(3);
    EXPECT_EQ(id(*rs), 3);

    // Random access for the grid does not move the current record.
    EXPECT_EQ(rs->valueAt(4, 0), Variant::fromLong(5));
    EXPECT_EQ(id(*rs), 3);
}

TEST_F(EngineRecordset, EmptySet) {
    auto rs = db_->OpenRecordset("select * from N where id > 100");
    EXPECT_EQ(rs->RecordCount(), 0);
    EXPECT_TRUE(rs->Eof());
    EXPECT_TRUE(rs->Bof());
    EXPECT_EQ(rs->AbsolutePosition(), -1);
    EXPECT_DAO_ERROR(rs->MoveFirst(), 3021);
    EXPECT_DAO_ERROR(rs->MoveLast(), 3021);
    EXPECT_DAO_ERROR(rs->MoveNext(), 3021);
    EXPECT_DAO_ERROR(rs->Fields()[0].Value(), 3021);
    EXPECT_DAO_ERROR(rs->Edit(), 3021);
    EXPECT_DAO_ERROR(rs->Delete(), 3021);
    // Adding to an empty set: the new record joins it.
    rs->AddNew();
    rs->Fields()["id"].setValue(Variant::fromLong(101));
    rs->Update();
    EXPECT_EQ(rs->RecordCount(), 1);
    rs->MoveFirst();
    EXPECT_EQ(id(*rs), 101);
}

TEST_F(EngineRecordset, AddNewAppendsAndKeepsTheCurrentRecord) {
    auto rs = db_->OpenRecordset("select * from N order by s");
    rs->setAbsolutePosition(2);
    const long long before = id(*rs);
    rs->AddNew();
    EXPECT_EQ(rs->EditMode(), dao::dbEditAdd);
    EXPECT_TRUE(rs->Fields()["s"].Value().isNull());
    rs->Fields()["id"].setValue(Variant::fromLong(6));
    rs->Fields()["s"].setValue(Variant::fromString("0 first"));  // would sort first; still goes last
    rs->Update();
    EXPECT_EQ(rs->EditMode(), dao::dbEditNone);
    EXPECT_EQ(rs->RecordCount(), 6);
    EXPECT_EQ(rs->AbsolutePosition(), 2);
    EXPECT_EQ(id(*rs), before);
    rs->MoveLast();
    EXPECT_EQ(id(*rs), 6);
    EXPECT_EQ(rs->AbsolutePosition(), 5);
    // A new recordset puts it in its place.
    auto again = db_->OpenRecordset("select * from N order by s");
    EXPECT_EQ(id(*again), 6);
}

TEST_F(EngineRecordset, EditUpdateAndCancel) {
    auto rs = db_->OpenRecordset("N");
    rs->setAbsolutePosition(1);
    rs->Edit();
    EXPECT_EQ(rs->EditMode(), dao::dbEditInProgress);
    rs->Fields()["s"].setValue(Variant::fromString("edited"));
    EXPECT_EQ(rs->Fields()["s"].Value(), Variant::fromString("edited"));  // the buffer while editing
    rs->Update();
    EXPECT_EQ(rs->Fields()["s"].Value(), Variant::fromString("edited"));
    EXPECT_EQ(id(*rs), 2);
    EXPECT_EQ(column(*db_->OpenRecordset("select s from N where id = 2"), "s"), QStringList{"edited"});

    rs->Edit();
    rs->Fields()["s"].setValue(Variant::fromString("dropped"));
    rs->CancelUpdate();
    EXPECT_EQ(rs->EditMode(), dao::dbEditNone);
    EXPECT_EQ(rs->Fields()["s"].Value(), Variant::fromString("edited"));
    EXPECT_DAO_ERROR(rs->Update(), 3020);

    rs->AddNew();
    rs->Fields()["id"].setValue(Variant::fromLong(99));
    rs->CancelUpdate();
    EXPECT_EQ(rs->RecordCount(), 5);
    EXPECT_EQ(id(*rs), 2);

    // Moving drops a pending edit.
    rs->Edit();
    rs->Fields()["s"].setValue(Variant::fromString("moved away"));
    rs->MoveNext();
    rs->MovePrevious();
    EXPECT_EQ(rs->Fields()["s"].Value(), Variant::fromString("edited"));

    // Null assigned to a field.
    rs->Edit();
    rs->Fields()["s"].setValue(Variant::null());
    rs->Update();
    EXPECT_TRUE(rs->Fields()["s"].Value().isNull());
    EXPECT_EQ(committedRows(path_, "select typeof(s) from N where id = 2").value(0), "null");

    // A value again where NULL was: the read records keep up, and their other values stay.
    rs->Edit();
    rs->Fields()["s"].setValue(Variant::fromString("again"));
    rs->Update();
    EXPECT_EQ(rs->Fields()["s"].Value(), Variant::fromString("again"));
    rs->MoveNext();
    EXPECT_EQ(rs->Fields()["s"].Value(), Variant::fromString("c"));
    rs->MoveFirst();
    EXPECT_EQ(rs->Fields()["s"].Value(), Variant::fromString("b"));
    rs->MoveNext();
    EXPECT_EQ(rs->Fields()["s"].Value(), Variant::fromString("again"));
    EXPECT_EQ(id(*rs), 2);
}

TEST_F(EngineRecordset, DeleteThenMove) {
    auto rs = db_->OpenRecordset("N");
    rs->setAbsolutePosition(1);
    rs->Delete();
    EXPECT_EQ(rs->RecordCount(), 4);
    EXPECT_DAO_ERROR(rs->Fields()["id"].Value(), 3167);
    EXPECT_DAO_ERROR(rs->Edit(), 3167);
    EXPECT_DAO_ERROR(rs->Delete(), 3167);
    rs->MoveNext();
    EXPECT_EQ(id(*rs), 3);
    EXPECT_EQ(rs->AbsolutePosition(), 1);
    rs->MovePrevious();
    EXPECT_EQ(id(*rs), 1);
    EXPECT_EQ(column(*rs, "id"), QStringList({"1", "3", "4", "5"}));
    rs->setAbsolutePosition(3);
    EXPECT_EQ(id(*rs), 5);

    // The last record: MoveNext reaches EOF.
    rs->Delete();
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
    // The first: MovePrevious reaches BOF.
    rs->MoveFirst();
    rs->Delete();
    rs->MovePrevious();
    EXPECT_TRUE(rs->Bof());
    rs->MoveNext();
    EXPECT_EQ(id(*rs), 3);
    EXPECT_EQ(rs->RecordCount(), 2);
    rs->Move(1);
    EXPECT_EQ(id(*rs), 4);
    EXPECT_EQ(committedRows(path_, "select id from N order by id"), QStringList({"3", "4"}));

    // Deleting a record just added through the same recordset.
    rs->AddNew();
    rs->Fields()["id"].setValue(Variant::fromLong(7));
    rs->Update();
    rs->MoveLast();
    EXPECT_EQ(id(*rs), 7);
    rs->Delete();
    EXPECT_EQ(rs->RecordCount(), 2);
    rs->MoveFirst();
    EXPECT_EQ(column(*rs, "id"), QStringList({"3", "4"}));
}

TEST_F(EngineRecordset, ForeignKeysAreEnforced) {
    db_->Execute("create table P (id INTEGER PRIMARY KEY, name TEXT(10))");
    db_->Execute("create table K (id LONG, pid LONG REFERENCES P(id))");
    db_->Execute("insert into P values (1, 'one')");
    db_->Execute("insert into P values (2, 'two')");
    db_->Execute("insert into K values (10, 1)");
    auto rs = db_->OpenRecordset("P");
    EXPECT_DAO_ERROR(rs->Delete(), 3200);
    EXPECT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->Fields()["name"].Value(), Variant::fromString("one"));
    EXPECT_DAO_ERROR(db_->Execute("delete from P where id = 1"), 3200);
    rs->MoveNext();
    rs->Delete();  // nothing refers to it
    EXPECT_EQ(rs->RecordCount(), 1);

    auto k = db_->OpenRecordset("K");
    k->AddNew();
    k->Fields()["id"].setValue(Variant::fromLong(11));
    k->Fields()["pid"].setValue(Variant::fromLong(42));
    EXPECT_DAO_ERROR(k->Update(), 3201);
    k->CancelUpdate();
    EXPECT_EQ(k->RecordCount(), 1);
    EXPECT_EQ(committedRows(path_, "select count(*) from K"), QStringList{"1"});
}

TEST_F(EngineRecordset, SortOpensANewOrderedRecordset) {
    auto rs = db_->OpenRecordset("N");
    rs->MoveLast();
    rs->setSort("s");
    auto sorted = rs->OpenRecordset();
    const QStringList byS = column(*sorted, "s");  // case-insensitive; c and C tie
    ASSERT_EQ(byS.size(), 5);
    EXPECT_EQ(byS.mid(0, 3), QStringList({"A", "a2", "b"}));
    EXPECT_EQ(byS[3].toLower() + byS[4].toLower(), "cc");
    // The old one keeps its order and its current record.
    EXPECT_EQ(id(*rs), 5);
    EXPECT_EQ(rs->Sort(), "s");
    rs->MoveFirst();
    EXPECT_EQ(column(*rs, "id"), QStringList({"1", "2", "3", "4", "5"}));

    rs->setSort("[id] DESC");
    EXPECT_EQ(column(*rs->OpenRecordset(), "id"), QStringList({"5", "4", "3", "2", "1"}));
    rs->setSort("s desc, id");
    EXPECT_EQ(column(*rs->OpenRecordset(), "id"), QStringList({"3", "5", "1", "4", "2"}));
    rs->setSort("nope");
    EXPECT_DAO_ERROR(rs->OpenRecordset(), 3070);
    rs->setSort("");
    EXPECT_EQ(column(*rs->OpenRecordset(), "id"), QStringList({"1", "2", "3", "4", "5"}));

    // A sorted recordset of a filtered query keeps the filter.
    auto q = db_->OpenRecordset("select * from N where id >= 3 order by id");
    q->setSort("id desc");
    auto qs = q->OpenRecordset();
    EXPECT_EQ(column(*qs, "id"), QStringList({"5", "4", "3"}));
    EXPECT_TRUE(qs->Updatable());
}

TEST_F(EngineRecordset, FindFirstAndFindNext) {
    auto rs = db_->OpenRecordset("N");
    rs->FindFirst("s = 'C'");  // case-insensitive
    EXPECT_FALSE(rs->NoMatch());
    EXPECT_EQ(id(*rs), 3);
    rs->FindNext("s = 'C'");
    EXPECT_FALSE(rs->NoMatch());
    EXPECT_EQ(id(*rs), 5);
    rs->FindNext("s = 'C'");
    EXPECT_TRUE(rs->NoMatch());
    rs->FindFirst("[s] like 'a*' and id > 2");
    EXPECT_FALSE(rs->NoMatch());
    EXPECT_EQ(id(*rs), 4);
    rs->FindFirst("id = 42");
    EXPECT_TRUE(rs->NoMatch());
    rs->FindFirst("id >= 2");
    EXPECT_FALSE(rs->NoMatch());
    EXPECT_EQ(id(*rs), 2);

    // Over a sorted set, in its order; and a record deleted through it is skipped.
    auto sorted = db_->OpenRecordset("select * from N order by id desc");
    sorted->FindFirst("id < 4");
    EXPECT_EQ(id(*sorted), 3);
    sorted->Delete();
    sorted->MoveFirst();
    sorted->FindFirst("id < 4");
    EXPECT_EQ(id(*sorted), 2);
    sorted->FindNext("id < 4");
    EXPECT_EQ(id(*sorted), 1);

    // A snapshot as well.
    auto snap = db_->OpenRecordset("select id, s from N", dao::dbOpenSnapshot);
    snap->FindFirst("s = 'a2'");
    EXPECT_FALSE(snap->NoMatch());
    EXPECT_EQ(id(*snap), 4);
    EXPECT_DAO_ERROR(rs->FindFirst("nope = 1"), 3061);

    // An ordered snapshot is searched in its own order.
    auto groups =
        db_->OpenRecordset("select id, s from N where id <> 3 order by id desc", dao::dbOpenSnapshot);
    groups->FindFirst("id < 5");
    EXPECT_EQ(id(*groups), 4);
    groups->FindNext("id < 5");
    EXPECT_EQ(id(*groups), 2);
    groups->FindNext("id < 5");
    EXPECT_EQ(id(*groups), 1);
    groups->FindNext("id < 5");
    EXPECT_TRUE(groups->NoMatch());
}

TEST_F(EngineRecordset, JoinsAndAggregatesAreReadOnlySnapshots) {
    db_->Execute("create table P (id LONG, x TEXT(10))");
    db_->Execute("insert into P values (2, 'two')");
    db_->Execute("insert into P values (3, 'three')");
    for (const QString& sql :
         {QString("select N.id, P.x from N inner join P on N.id = P.id order by N.id"),
          QString("select count(*) as n, max(id) as m from N"), QString("select distinct s from N"),
          QString("select s, count(*) as n from N group by s")}) {
        SCOPED_TRACE(sql.toStdString());
        auto rs = db_->OpenRecordset(sql);
        EXPECT_EQ(rs->Type(), dao::dbOpenSnapshot);
        EXPECT_FALSE(rs->Updatable());
        EXPECT_DAO_ERROR(rs->AddNew(), 3027);
        EXPECT_DAO_ERROR(rs->Edit(), 3027);
        EXPECT_DAO_ERROR(rs->Delete(), 3027);
    }
    auto join = db_->OpenRecordset("select N.id, P.x from N inner join P on N.id = P.id order by N.id");
    EXPECT_EQ(join->RecordCount(), 2);
    EXPECT_EQ(column(*join, "x"), QStringList({"two", "three"}));
    auto agg = db_->OpenRecordset("select count(*) as n, max(id) as m from N");
    EXPECT_EQ(str(agg->Fields()["n"].Value()), "5");
    EXPECT_EQ(str(agg->Fields()["m"].Value()), "5");
    // A snapshot of a table asked for explicitly: read-only, same records.
    auto snap = db_->OpenRecordset("N", dao::dbOpenSnapshot);
    EXPECT_EQ(snap->RecordCount(), 5);
    EXPECT_DAO_ERROR(snap->Edit(), 3027);
}

TEST_F(EngineRecordset, ClosedObjectsRefuseUse) {
    auto rs = db_->OpenRecordset("N");
    rs->Close();
    EXPECT_FALSE(rs->isOpen());
    EXPECT_ANY_THROW(rs->MoveNext());
    EXPECT_ANY_THROW(rs->RecordCount());
    EXPECT_ANY_THROW(rs->Fields().Count());
    EXPECT_ANY_THROW(rs->AddNew());

    auto open = db_->OpenRecordset("N");
    db_->Close();
    EXPECT_FALSE(db_->isOpen());
    EXPECT_ANY_THROW(db_->OpenRecordset("N"));
    EXPECT_ANY_THROW(db_->TableDefs());
    EXPECT_ANY_THROW(db_->Execute("delete from N"));
    EXPECT_EQ(committedRows(path_, "select count(*) from N"), QStringList{"5"});
}

// The file the engine writes stays readable for the standard shell.
TEST_F(EngineRecordset, FileReadableByTheSqliteShell) {
    const QString shell = QStandardPaths::findExecutable("sqlite3");
    if (shell.isEmpty()) GTEST_SKIP() << "no sqlite3 shell";
    auto rs = db_->OpenRecordset("N");
    rs->Edit();
    rs->Fields()["s"].setValue(Variant::fromString("Ñu"));
    rs->Update();
    db_->Close();
    QProcess p;
    p.start(shell, {path_, "pragma integrity_check; select s from N where id = 1;"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), "ok\nÑu\n");
}

// ---- Jet files: read-only ---------------------------------------------------------------------------

struct JetExpected {
    QStringList tables;
    QList<long long> rows;
    QByteArray sha256;
};

JetExpected readJetExpected(const QString& file) {
    JetExpected e;
    QFile f(testutil::jetFile(file + ".expected.txt"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return e;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
        if (line.startsWith("table: ")) e.tables << line.mid(7);
        if (line.startsWith("rows: ") && e.rows.size() < e.tables.size()) e.rows << line.mid(6).toLongLong();
        if (line.startsWith("sha256: ")) e.sha256 = line.mid(8).trimmed().toLatin1();
    }
    return e;
}

TEST(EngineJet, EveryTestFileOpensAndRefusedWritesLeaveItUnchanged) {
    QTemporaryDir dir;
    const QStringList files =
        QDir(testutil::jetDir()).entryList({"*.mdb", "*.accdb"}, QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 5);
    // Every file takes edits, deletes and adds in place (the Jet writer's own tests cover those),
    // never design changes.
    const QStringList readOnly;
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const JetExpected expected = readJetExpected(file);
        ASSERT_FALSE(expected.tables.isEmpty());
        const QString copy = dir.filePath(file);
        ASSERT_TRUE(QFile::copy(testutil::jetFile(file), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_EQ(enginetest::sha256Of(copy), expected.sha256);

        auto db = dao::OpenDatabase(copy);
        EXPECT_EQ(db->isReadOnly(), readOnly.contains(file));
        const QStringList tables = db->TableDefs();
        EXPECT_EQ(tables.mid(0, expected.tables.size()), expected.tables);

        const QString first = expected.tables.first();
        auto rs = db->OpenRecordset(first);
        EXPECT_EQ(rs->RecordCount(), expected.rows.value(0, -1));
        EXPECT_EQ(rs->Updatable(), !readOnly.contains(file));
        if (readOnly.contains(file)) EXPECT_DAO_ERROR(rs->AddNew(), 3027);
        if (rs->RecordCount() > 0) {
            if (readOnly.contains(file)) EXPECT_DAO_ERROR(rs->Edit(), 3027);
            if (readOnly.contains(file)) {
                EXPECT_DAO_ERROR(rs->Delete(), 3027);
            } else {
                rs->Edit();
                rs->CancelUpdate();
            }
            EXPECT_FALSE(rs->Fields()[0].Value().isEmpty());
        }
        const QString t = "[" + first + "]";
        if (readOnly.contains(file)) {
            EXPECT_DAO_ERROR(db->Execute("delete * from " + t), 3027);
            EXPECT_DAO_ERROR(db->Execute("update " + t + " set [" + rs->Fields()[0].Name() + "] = Null"), 3027);
        }
        if (readOnly.contains(file)) EXPECT_DAO_ERROR(db->Execute("insert into " + t + " default values"), 3027);
        EXPECT_DAO_ERROR(db->Execute("create table Nueva (a LONG)"), 3027);
        EXPECT_DAO_ERROR(db->Execute("drop table " + t), 3027);
        // Reading goes on after the refusals; a second connection shares the same copy.
        EXPECT_EQ(db->OpenRecordset(first)->RecordCount(), expected.rows.value(0, -1));
        auto db2 = dao::OpenDatabase(copy);
        EXPECT_EQ(db2->TableDefs(), tables);
        db2->Close();
        db->Close();
        EXPECT_EQ(enginetest::sha256Of(copy), expected.sha256);
    }
}

}  // namespace

// Positions stay right when deletions and additions mix (the live-record index grows with appends).
// A walk in natural order has the next block of 512 records read on another thread meanwhile: a
// change made in between, by another recordset or another connection of the file, is what the walk
// shows, and a walk closed or dropped with a block being read ends cleanly.
TEST(EngineRecordsetWalk, ChangesMadeWhileTheNextBlockIsReadAheadAreShown) {
    QTemporaryDir dir;
    const QString path = testutil::makeSqlite(
        dir, "walk.db",
        {"create table W (id INTEGER PRIMARY KEY, v LONG, s TEXT(10))",
         "with recursive c(i) as (select 1 union all select i + 1 from c where i < 3000) "
         "insert into W select i, i, 'r' || i from c"});
    auto db = dao::OpenDatabase(path);
    auto other = dao::OpenDatabase(path);  // a connection of its own: its change waits in its batch
    auto rs = db->OpenRecordset("W");
    auto editor = db->OpenRecordset("W");
    auto change = [](dao::Recordset& r, int position, const Variant& v) {
        r.setAbsolutePosition(position);
        r.Edit();
        r.Fields()["v"].setValue(v);
        r.Update();
    };
    std::vector<long long> seen;
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
        const long long at = (long long)seen.size();
        // The blocks after these have been read ahead by now.
        if (at == 1100 || at == 2100) QThread::msleep(50);
        if (at == 1100) change(*editor, 1700, Variant::fromLong(-1700));
        if (at == 2100) change(*other->OpenRecordset("W"), 2600, Variant::fromLong(-2600));
        const Variant v = rs->Fields()["v"].Value();
        seen.push_back(v.isNull() ? 0 : v.asInt());
    }
    ASSERT_EQ(seen.size(), 3000u);
    for (long long i = 0; i < 3000; ++i)
        EXPECT_EQ(seen[size_t(i)], i == 1700 || i == 2600 ? -(i) : i + 1) << "record " << i;

    // Fields that are not all columns of the table are read by their columns, ahead too.
    auto doubled = db->OpenRecordset("SELECT s, v * 2 AS w FROM W");
    EXPECT_EQ(doubled->Type(), dao::dbOpenDynaset);
    long long k = 0;
    for (; !doubled->Eof(); doubled->MoveNext(), ++k) {
        ASSERT_EQ(doubled->Fields()["w"].Value().asInt(), 2 * seen[size_t(k)]) << "record " << k;
        ASSERT_EQ(doubled->Fields()["s"].Value(), Variant::fromString(QString("r%1").arg(k + 1)));
    }
    EXPECT_EQ(k, 3000);
    doubled.reset();

    // Closed, then dropped, and dropped while open, each with a block being read ahead.
    for (int k = 0; k < 2; ++k) {
        auto walk = db->OpenRecordset("W");
        for (int i = 0; i < 1030; ++i, walk->MoveNext()) walk->Fields()["s"].Value();
        if (k == 0) walk->Close();
    }
    rs.reset();
    editor.reset();
    db->Close();
    other->Close();
}

TEST(EngineRecordsetMixed, PositionsAfterDeletesAndAppends) {
    QTemporaryDir dir;
    QStringList sql{"create table P (id INTEGER PRIMARY KEY, v LONG)"};
    for (int i = 1; i <= 40; ++i) sql << QString("insert into P (v) values (%1)").arg(i);
    auto db = dao::OpenDatabase(testutil::makeSqlite(dir, "p.db", sql));
    auto rs = db->OpenRecordset("P");
    // Delete every third record, then add 25 more.
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext())
        if (rs->Fields()["v"].Value().asInt() % 3 == 0) rs->Delete();
    for (int i = 41; i <= 65; ++i) {
        rs->AddNew();
        rs->Fields()["v"].setValue(Variant::fromLong(i));
        rs->Update();
    }
    QList<int> expected;
    for (int i = 1; i <= 40; ++i)
        if (i % 3) expected << i;
    for (int i = 41; i <= 65; ++i) expected << i;
    ASSERT_EQ(rs->RecordCount(), expected.size());
    for (int p = 0; p < expected.size(); ++p) {
        rs->setAbsolutePosition(p);
        EXPECT_EQ(rs->Fields()["v"].Value().asInt(), expected[p]) << p;
        EXPECT_EQ(rs->AbsolutePosition(), p);
    }
    rs->MoveLast();
    EXPECT_EQ(rs->Fields()["v"].Value().asInt(), 65);
    rs->Move(-(expected.size() - 1));
    EXPECT_EQ(rs->Fields()["v"].Value().asInt(), 1);
}
