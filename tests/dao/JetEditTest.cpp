// Editing records of real Access files in place. After every write three readers must see what the
// test expects — our engine (which reads the file again through libmdb), mdb-export and the
// independent JavaScript reader mdb-reader — and the consistency check must pass. What the writer
// cannot do yet is refused with its reason and leaves the file byte-identical.

#include "JetOracles.h"

namespace {
using namespace jettest;
using JetEdit = JetFileTest;
}  // namespace

TEST_F(JetEdit, FixedLengthFieldsOfEveryTypeInAnAceFile) {
    const QString f = copy("testV2010.accdb");
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_FALSE(db->isReadOnly());
        auto rs = db->OpenRecordset("select * from Table1 where A = 'abcdefg'");
        ASSERT_FALSE(rs->Eof());
        rs->Edit();
        rs->Fields()["C"].setValue(dao::Variant::fromByte(255));
        rs->Fields()["D"].setValue(dao::Variant::fromInteger(-32768));
        rs->Fields()["E"].setValue(dao::Variant::fromLong(-2147483647));
        rs->Fields()["F"].setValue(dao::Variant::fromDouble(-0.125));
        rs->Fields()["H"].setValue(dao::Variant::fromCurrency(-922337203685477LL));
        rs->Fields()["I"].setValue(dao::Variant::fromBool(false));
        rs->Update();
        rs->Close();
        // An action query over both records, Null included.
        EXPECT_EQ(db->Execute("update Table1 set G = #1999-12-31 23:59:58#, C = Null where A = 'a'"), 1);
        db->Close();
    }
    expectReaders(f, "Table1", "select A, C, D, E, F, G, H, I from Table1 order by A",
                  "A\tC\tD\tE\tF\tG\tH\tI\n"
                  "a\t\t0\t0\t0\t1999-12-31 23:59:58\t0\tFalse\n"
                  "abcdefg\t255\t-32768\t-2147483647\t-0.125\t1974-09-21\t-92233720368.5477\tFalse\n",
                  "A,B,C,D,E,F,G,H,I\n"
                  "\"a\",\"b\",,0,0,0,\"1999-12-31 23:59:58\",0.0000,0\n"
                  "\"abcdefg\",\"hijklmnop\",255,-32768,-2147483647,-0.125,\"1974-09-21 00:00:00\",-92233720368.5477,0\n",
                  "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n"
                  "[\"a\",\"b\",null,0,0,0,\"1999-12-31T23:59:58.000Z\",\"0.0000\",false]\n"
                  "[\"abcdefg\",\"hijklmnop\",255,-32768,-2147483647,-0.125,\"1974-09-21T00:00:00.000Z\",\"-92233720368.5477\",false]\n");
}

TEST_F(JetEdit, TextWithAccentsNullAndGrowth) {
    const QString f = copy("weirdObjectNames.mdb");
    const QString table = "19 MB 01 BEZAHLT ???";
    const QString sql = "select * from [" + table + "]";
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("update [" + table + "] set TextField = 'Ñú'"), 1);
        db->Close();
    }
    expectReaders(f, table, sql, "ID\tTextField\n1\tÑú\n", "ID,TextField\n1,\"Ñú\"\n", "[\"ID\",\"TextField\"]\n[1,\"Ñú\"]\n");
    execute(f, "update [" + table + "] set TextField = Null");
    expectReaders(f, table, sql, "ID\tTextField\n1\t\n", "ID,TextField\n1,\n", "[\"ID\",\"TextField\"]\n[1,null]\n");
    {
        // The record keeps its place and length: what was freed holds a value again.
        auto db = dao::OpenDatabase(f);
        db->Execute("update [" + table + "] set TextField = 'ü€'");
        db->Close();
    }
    expectReaders(f, table, sql, "ID\tTextField\n1\tü€\n", "ID,TextField\n1,\"ü€\"\n", "[\"ID\",\"TextField\"]\n[1,\"ü€\"]\n");
    // Runs of ASCII between one-byte and two-byte characters, as the copy reads them; a character
    // beyond the BMP (a surrogate pair, which libmdb does not join) by our reader alone.
    const QString mixed = "plain run é ok 日本 then end";
    execute(f, "update [" + table + "] set TextField = '" + mixed + "'");
    expectReaders(f, table, sql, "ID\tTextField\n1\t" + mixed + "\n", "ID,TextField\n1,\"" + mixed + "\"\n",
                  "[\"ID\",\"TextField\"]\n[1,\"" + mixed + "\"]\n");
    execute(f, "update [" + table + "] set TextField = 'ok 😀 and é😀'");
    EXPECT_EQ(ours(f, sql).toStdString(), "ID\tTextField\n1\tok 😀 and é😀\n");

    {
        // Longer than its place: the page's rows are packed again around it.
        auto db = dao::OpenDatabase(f);
        db->Execute("update [" + table + "] set TextField = 'a text far longer than the old one, with ñ'");
        db->Close();
    }
    expectReaders(f, table, sql, "ID\tTextField\n1\ta text far longer than the old one, with ñ\n",
                  "ID,TextField\n1,\"a text far longer than the old one, with ñ\"\n",
                  "[\"ID\",\"TextField\"]\n[1,\"a text far longer than the old one, with ñ\"]\n");

    auto db = dao::OpenDatabase(f);
    expectRefused(f, "Field 'ID' is an AutoNumber", [&] { db->Execute("update [" + table + "] set ID = 2"); });
    // The working copy did not take the refused change either.
    auto rs = db->OpenRecordset(sql);
    EXPECT_EQ(rs->Fields()["TextField"].Value().asString(), "a text far longer than the old one, with ñ");
    EXPECT_EQ(rs->Fields()["ID"].Value().asInt(), 1);
    rs->Close();
    db->Close();
}

TEST_F(JetEdit, WhatTheWriterCannotDoYetIsRefusedAndChangesNothing) {
    const QString f = copy("functionsV2003.mdb");
    auto db = dao::OpenDatabase(f);
    expectRefused(f, "Changing the design of Access tables", [&] { db->Execute("create table X (a LONG)"); });
    expectRefused(f, "Changing the design of Access tables", [&] { db->Execute("drop table t_funcs"); });
    expectRefused(f, "system table", [&] { db->Execute("update MSysObjects set Flags = 0"); });
    expectRefused(f, "system table", [&] { db->Execute("delete from MSysObjects"); });
    // A statement that fails on a later record takes back what it did to the earlier ones.
    const QString w = copy("testV2010.accdb");
    auto db2 = dao::OpenDatabase(w);
    expectRefused(w, "The keys of index B (B) cannot be written: the character '😀' (U+1F600) has no known place",
                  [&] { db2->Execute("update Table1 set B = 'x😀'"); });
    const QByteArray before = sha256(w);
    try {
        db2->Execute("update Table1 set D = E");  // 0 fits an Integer, 333333333 does not
        ADD_FAILURE() << "no overflow";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 6) << e.description().toStdString();
    }
    db2->Close();
    EXPECT_EQ(sha256(w), before);
    db->Close();

    // Dates before 1899-12-30 (the fraction of a negative day number still counts forward) and a
    // number, through a recordset; mdb-export prints no text for negative dates, so it is only
    // compared for the number, and mdb-reader is given a whole day.
    execute(f, "update t_funcs set date0 = #1850-06-15#, id = 77");
    expectReaders(f, "t_funcs", "select id, date0 from t_funcs", "id\tdate0\n77\t1850-06-15\n",
                  "id,descr,num,date0\n77,\"Show must go off\",-1110.554,\"1900-01-00 00:00:00\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n[77,\"Show must go off\",\"-1110.554\",\"1850-06-15T00:00:00.000Z\"]\n");
    execute(f, "update t_funcs set date0 = #1850-06-15 06:00:00#");
    EXPECT_EQ(ours(f, "select date0 from t_funcs"), "date0\n1850-06-15 06:00:00\n");
}

TEST_F(JetEdit, ManyEditsInOneBatchReachTheFileOnce) {
    const QString f = copy("testV2010.accdb");
    {
        auto db = dao::OpenDatabase(f);
        auto rs = db->OpenRecordset("select * from Table1 order by A");
        for (int i = 0; i < 300; ++i) {
            rs->MoveFirst();
            if (i % 2) rs->MoveNext();
            rs->Edit();
            rs->Fields()["E"].setValue(dao::Variant::fromLong(i));
            rs->Update();
        }
        rs->Close();
        db->Close();
    }
    expectReaders(f, "Table1", "select A, E from Table1 order by A", "A\tE\na\t298\nabcdefg\t299\n",
                  "A,B,C,D,E,F,G,H,I\n\"a\",\"b\",0,0,298,0,\"1981-12-12 00:00:00\",0.0000,0\n"
                  "\"abcdefg\",\"hijklmnop\",2,222,299,444.555,\"1974-09-21 00:00:00\",3.5000,1\n",
                  "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n"
                  "[\"a\",\"b\",0,0,298,0,\"1981-12-12T00:00:00.000Z\",\"0.0000\",false]\n"
                  "[\"abcdefg\",\"hijklmnop\",2,222,299,444.555,\"1974-09-21T00:00:00.000Z\",\"3.5000\",true]\n");
}

TEST_F(JetEdit, DeletesMarkTheRecordAndLeaveEveryIndex) {
    const QString f = copy("testV2010.accdb");
    {
        auto db = dao::OpenDatabase(f);
        auto rs = db->OpenRecordset("select * from Table1 where A = 'a'");
        rs->Delete();
        rs->Close();
        db->Close();
    }
    // Table1's two indexes are on text: the entry goes by the record it points to.
    expectReaders(f, "Table1", "select A, E from Table1", "A\tE\nabcdefg\t333333333\n",
                  "A,B,C,D,E,F,G,H,I\n\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21 00:00:00\",3.5000,1\n",
                  "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n"
                  "[\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21T00:00:00.000Z\",\"3.5000\",true]\n");
    const QString report = dao::jet::JetCheck::run(f).lines.join('\n');
    EXPECT_TRUE(report.contains("1 records (count matches); index B (B): 1 entries")) << report.toStdString();
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("delete from Table1"), 1);
        db->Close();
    }
    expectReaders(f, "Table1", "select A from Table1", "A\n", "A,B,C,D,E,F,G,H,I\n", "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n");
    // A deleted record cannot be edited or deleted again through a copy that still shows it.
    const QString g = copy("weirdObjectNames.mdb");
    auto db1 = dao::OpenDatabase(g);
    const QString t = "[19 MB 01 BEZAHLT ???]";
    db1->Execute("delete from " + t);
    db1->Close();
    expectReaders(g, "19 MB 01 BEZAHLT ???", "select * from " + t, "ID\tTextField\n", "ID,TextField\n",
                  "[\"ID\",\"TextField\"]\n");
}

// The only indexed non-AutoNumber Long in the writable test files would be an AutoNumber; a copy
// with the AutoNumber flag taken off its column shows the index upkeep for number keys.
TEST_F(JetEdit, AnIndexedLongMovesToItsNewKey) {
    const QString f = copy("weirdObjectNames.mdb");
    const QString t = "[19 MB 01 BEZAHLT ???]";
    {
        auto jf = dao::jet::JetFile::open(f);
        uint32_t tdef = 0;
        for (const auto& ct : jf->catalog())
            if (ct.name == "19 MB 01 BEZAHLT ???") tdef = ct.tdefPage;
        ASSERT_NE(tdef, 0u);
        const auto def = jf->readTableDef(tdef, "x");
        ASSERT_EQ(def.columns[0].name, "ID");
        ASSERT_TRUE(def.columns[0].isAutoNumber());
        const qint64 flags = qint64(tdef) * 4096 + 63 + 12 * qint64(def.indexData.size()) + 15;
        const char cleared = char(def.columns[0].flags & ~0x04);
        jf.reset();
        QFile q(f);
        ASSERT_TRUE(q.open(QIODevice::ReadWrite));
        q.seek(flags);
        q.putChar(cleared);
    }
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("update " + t + " set ID = -70000"), 1);
        db->Close();
    }
    expectReaders(f, "19 MB 01 BEZAHLT ???", "select * from " + t, "ID\tTextField\n-70000\tfoo\n",
                  "ID,TextField\n-70000,\"foo\"\n", "[\"ID\",\"TextField\"]\n[-70000,\"foo\"]\n");
    // The check compares both indexes' keys with the record.
    const QString report = dao::jet::JetCheck::run(f).lines.join('\n');
    EXPECT_TRUE(report.contains("index ID (ID): 1 entries in 1 leaf page(s), in order, 1 keys match")) << report.toStdString();
    EXPECT_TRUE(report.contains("index PrimaryKey (ID): 1 entries in 1 leaf page(s), in order, 1 keys match"));
}

// Short Memo values live in the record itself: 10 characters, accents, Null.
TEST_F(JetEdit, ShortMemoValuesAreStoredInTheRecord) {
    const QString f = copy("functionsV2003.mdb");
    {
        auto db = dao::OpenDatabase(f);
        auto rs = db->OpenRecordset("t_funcs");
        rs->Edit();
        rs->Fields()["descr"].setValue(dao::Variant::fromString("Diez letra"));
        rs->Update();
        rs->Close();
        db->Close();
    }
    expectReaders(f, "t_funcs", "select id, descr from t_funcs", "id\tdescr\n1234\tDiez letra\n",
                  "id,descr,num,date0\n1234,\"Diez letra\",-1110.554,\"2003-11-22 22:42:58\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n[1234,\"Diez letra\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n");
    EXPECT_TRUE(dao::jet::JetCheck::run(f).lines.join('\n').contains("t_funcs: definition 1 page(s), 4 columns, 0 index(es); "
                                                                       "usage map 1 page(s), matches; 1 records (count matches); "
                                                                       "1 long value(s) read back"));
    execute(f, "update t_funcs set descr = 'Ñandú, año € ü'");
    expectReaders(f, "t_funcs", "select descr from t_funcs", "descr\nÑandú, año € ü\n",
                  "id,descr,num,date0\n1234,\"Ñandú, año € ü\",-1110.554,\"2003-11-22 22:42:58\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n[1234,\"Ñandú, año € ü\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n");
    execute(f, "update t_funcs set descr = Null");
    expectReaders(f, "t_funcs", "select descr from t_funcs", "descr\n\n",
                  "id,descr,num,date0\n1234,,-1110.554,\"2003-11-22 22:42:58\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n[1234,null,\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n");
}

// Decimal: rounded half away from zero to the column's scale (Numeric(12,3) here); a value past
// its precision is an overflow and changes nothing.
TEST_F(JetEdit, DecimalValuesRoundToTheColumnsScale) {
    const QString f = copy("functionsV2003.mdb");
    execute(f, "update t_funcs set num = '123456789.1235'");
    expectReaders(f, "t_funcs", "select num from t_funcs", "num\n123456789.124\n",
                  "id,descr,num,date0\n1234,\"Show must go off\",123456789.124,\"2003-11-22 22:42:58\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n[1234,\"Show must go off\",\"123456789.124\",\"2003-11-22T22:42:58.000Z\"]\n");
    const QByteArray before = sha256(f);
    auto db = dao::OpenDatabase(f);
    try {
        db->Execute("update t_funcs set num = 1234567890");
        ADD_FAILURE() << "no overflow";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 6);
        EXPECT_TRUE(e.description().contains("precision 12, scale 3")) << e.description().toStdString();
    }
    db->Execute("update t_funcs set num = -7.5");
    db->Close();
    EXPECT_NE(sha256(f), before);
    expectReaders(f, "t_funcs", "select num from t_funcs", "num\n-7.5\n",
                  "id,descr,num,date0\n1234,\"Show must go off\",-7.500,\"2003-11-22 22:42:58\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n[1234,\"Show must go off\",\"-7.500\",\"2003-11-22T22:42:58.000Z\"]\n");
}

// Each working copy keeps its own record numbers: a connection opened after a delete (a fresh copy
// without the record) edits the record it shows; an older connection whose copy no longer matches
// the file is refused instead of overwriting the newer change.
TEST_F(JetEdit, ConnectionsOfDifferentAgesEditTheRecordsTheyShow) {
    const QString f = copy("testV2010.accdb");
    auto older = dao::OpenDatabase(f);
    EXPECT_EQ(older->Execute("delete from Table1 where A = 'a'"), 1);
    dao::flushAllWrites();
    auto newer = dao::OpenDatabase(f);
    EXPECT_EQ(newer->Execute("update Table1 set E = 11 where A = 'abcdefg'"), 1);
    newer->Close();
    dao::flushAllWrites();
    expectRefused(f,
                  "The data has been changed by another user: the record (A = 'abcdefg') of table 'Table1' no longer "
                  "holds what is shown (field 'E': 11 in the file, 333333333 shown)",
                  [&] { older->Execute("update Table1 set D = 22 where A = 'abcdefg'"); }, 3197);
    older->Close();
    expectReaders(f, "Table1", "select A, D, E from Table1", "A\tD\tE\nabcdefg\t222\t11\n",
                  "A,B,C,D,E,F,G,H,I\n\"abcdefg\",\"hijklmnop\",2,222,11,444.555,\"1974-09-21 00:00:00\",3.5000,1\n",
                  "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n"
                  "[\"abcdefg\",\"hijklmnop\",2,222,11,444.555,\"1974-09-21T00:00:00.000Z\",\"3.5000\",true]\n");
}

// The program's bulk tools (through tabulon-cli, the same code the browser runs) change a real
// Access file, and the three readers agree.
TEST_F(JetEdit, BulkToolsChangeARealFile) {
    const QString f = copy("testV2010.accdb");
    auto cli = [&](const QStringList& args) {
        const ProcessRun r = run(QStringLiteral(TABULON_CLI), args);
        EXPECT_EQ(r.code, 0) << args.join(' ').toStdString() << ": " << r.err.toStdString();
        return r.out;
    };
    EXPECT_EQ(cli({"replace", f, "Table1", "E", "*", "42"}), "2\n");
    EXPECT_EQ(cli({"operate", f, "Table1", "F", "*", "2"}), "2\n");
    EXPECT_EQ(cli({"copy", f, "Table1", "D", "C"}), "2\n");
    EXPECT_EQ(cli({"erase", f, "select * from Table1 where A = 'a'", "--yes"}), "1 erased, 0 kept\n");
    // A key the writer cannot encode is refused with its reason, and the tool says so.
    const ProcessRun refused = run(QStringLiteral(TABULON_CLI), {"replace", f, "Table1", "B", "*", "z😀"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.contains("error 3027") && refused.err.contains("index B (B)")) << refused.err.toStdString();
    expectReaders(f, "Table1", "select A, C, D, E, F from Table1", "A\tC\tD\tE\tF\nabcdefg\t222\t222\t42\t889.11\n",
                  "A,B,C,D,E,F,G,H,I\n\"abcdefg\",\"hijklmnop\",222,222,42,889.11,\"1974-09-21 00:00:00\",3.5000,1\n",
                  "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n"
                  "[\"abcdefg\",\"hijklmnop\",222,222,42,889.11,\"1974-09-21T00:00:00.000Z\",\"3.5000\",true]\n");
}

// Records added to a table the writer fully understands go into its page with room, then into
// new pages.
TEST_F(JetEdit, AddedRecordsFillTheTablesPageThenNewOnes) {
    const QString f = copy("functionsV2003.mdb");
    {
        auto db = dao::OpenDatabase(f);
        auto rs = db->OpenRecordset("t_funcs");
        rs->AddNew();
        rs->Fields()["id"].setValue(dao::Variant::fromInteger(7));
        rs->Fields()["descr"].setValue(dao::Variant::fromString("nuevo ñ"));
        rs->Fields()["num"].setValue(dao::Variant::fromDecimal("3.25"));
        rs->Update();
        rs->Close();
        EXPECT_EQ(db->Execute("insert into t_funcs (id, date0) values (8, #2020-02-29 10:11:12#)"), 1);
        db->Close();
    }
    expectReaders(f, "t_funcs", "select id, descr, num, date0 from t_funcs order by id",
                  "id\tdescr\tnum\tdate0\n7\tnuevo ñ\t3.25\t\n8\t\t\t2020-02-29 10:11:12\n1234\tShow must go off\t-1110.554\t2003-11-22 22:42:58\n",
                  "id,descr,num,date0\n1234,\"Show must go off\",-1110.554,\"2003-11-22 22:42:58\"\n7,\"nuevo ñ\",3.250,\n"
                  "8,,,\"2020-02-29 10:11:12\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n[1234,\"Show must go off\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n"
                  "[7,\"nuevo ñ\",\"3.250\",null]\n[8,null,null,\"2020-02-29T10:11:12.000Z\"]\n");

    int added = 0;
    QString refusal;
    {
        auto db = dao::OpenDatabase(f);
        for (int i = 0; i < 400 && refusal.isEmpty(); ++i) {
            try {
                db->Execute(QString("insert into t_funcs (id, descr) values (%1, 'r%1')").arg(100 + i));
                ++added;
            } catch (const dao::Error& e) {
                EXPECT_EQ(e.number(), 3027);
                refusal = e.description();
            }
        }
        db->Close();
    }
    EXPECT_TRUE(refusal.isEmpty()) << refusal.toStdString();
    EXPECT_EQ(added, 400);
    EXPECT_GT(dao::jet::JetFile::open(f)->pageCount(), 54u);
    const int total = 3 + added;
    EXPECT_EQ(ours(f, "select count(*) as n from t_funcs"), QString("n\n%1\n").arg(total));
    const QString exported = mdbExport(f, "t_funcs");
    if (exported != "skipped") EXPECT_EQ(exported.count('\n'), total + 1);
    const QString js = mdbReader(f, "t_funcs");
    if (js != "skipped") EXPECT_EQ(js.count('\n'), total + 1);
    const dao::jet::CheckReport rep = dao::jet::JetCheck::run(f);
    EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();

    // Tables the writer does not fully keep yet refuse adds up front, at AddNew.
    const QString g = copy("testV2010.accdb");
    auto db = dao::OpenDatabase(g);
    expectRefused(g, "'MSysObjects' is a system table", [&] { db->OpenRecordset("MSysObjects")->AddNew(); });
    db->Close();
}

// A statement that fails half-way after earlier statements of the same batch changed the page:
// only the failed statement's changes go; the earlier ones reach the file.
TEST_F(JetEdit, AFailedStatementKeepsTheBatchsEarlierEdits) {
    const QString f = copy("testV2010.accdb");
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("update Table1 set C = 9"), 2);
        try {
            db->Execute("update Table1 set D = E, C = 7");  // 0 fits an Integer, 333333333 does not
            ADD_FAILURE() << "no overflow";
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), 6) << e.description().toStdString();
        }
        EXPECT_EQ(db->Execute("update Table1 set E = 5 where A = 'a'"), 1);
        db->Close();
    }
    expectReaders(f, "Table1", "select A, C, D, E from Table1 order by A", "A\tC\tD\tE\na\t9\t0\t5\nabcdefg\t9\t222\t333333333\n",
                  "A,B,C,D,E,F,G,H,I\n\"a\",\"b\",9,0,5,0,\"1981-12-12 00:00:00\",0.0000,0\n"
                  "\"abcdefg\",\"hijklmnop\",9,222,333333333,444.555,\"1974-09-21 00:00:00\",3.5000,1\n",
                  "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n"
                  "[\"a\",\"b\",9,0,5,0,\"1981-12-12T00:00:00.000Z\",\"0.0000\",false]\n"
                  "[\"abcdefg\",\"hijklmnop\",9,222,333333333,444.555,\"1974-09-21T00:00:00.000Z\",\"3.5000\",true]\n");
}

// Import (adds records) and Verify (renumbers a duplicate) on an Access file.
TEST_F(JetEdit, ImportAndVerifyChangeARealFile) {
    const QString f = copy("functionsV2003.mdb");
    const QString txt = dir_.filePath("t_funcs.txt");
    auto cli = [&](const QStringList& args) {
        const ProcessRun r = run(QStringLiteral(TABULON_CLI), args);
        EXPECT_EQ(r.code, 0) << args.join(' ').toStdString() << ": " << r.err.toStdString();
        return r.out;
    };
    EXPECT_EQ(cli({"export", f, "t_funcs", txt, "--yes"}), "1\n");
    EXPECT_EQ(cli({"import", f, "t_funcs", txt}), "1\n");
    EXPECT_EQ(cli({"verify", f, "t_funcs", "id", "--yes"}), "1\n");
    expectReaders(f, "t_funcs", "select id, descr from t_funcs order by id", "id\tdescr\n1234\tShow must go off\n1235\tShow must go off\n",
                  "id,descr,num,date0\n1235,\"Show must go off\",-1110.554,\"2003-11-22 22:42:58\"\n"
                  "1234,\"Show must go off\",-1110.554,\"2003-11-22 22:42:58\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n"
                  "[1235,\"Show must go off\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n"
                  "[1234,\"Show must go off\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n");
}
