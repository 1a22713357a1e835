// Large Number (64-bit) fields and attachment (multi-valued) fields of ACE files: read exactly,
// written, added to; what stays refused names its real reason. Binary, GUID and extended date
// fields in indexes; replication IDs given to added records.

#include <QFile>
#include <QRegularExpression>
#include <algorithm>

#include "JetOracles.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/JetIndexKey.h"
#include "platform/dao/JetValueCodec.h"

namespace {

using namespace jettest;

class JetNewTypes : public JetFileTest {
protected:
    QString copyMore(const QString& name) {
        const QString to = dir_.filePath(name);
        QFile::remove(to);
        EXPECT_TRUE(QFile::copy(QStringLiteral(TABULON_TESTDATA "/jet-more/") + name, to));
        QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
        return to;
    }

    // No file of the corpus has a Large Number column, so one is made: a Double column (8 bytes,
    // fixed, not indexed) of a copy is declared Large Number in its table definition.
    QString withLargeNumberColumn() {
        const QString f = copy("testV2010.accdb");
        qint64 at = -1;
        {
            auto jf = dao::jet::JetFile::open(f);
            for (const auto& ct : jf->catalog()) {
                if (ct.name != "Table1") continue;
                const dao::jet::TableDef t = jf->readTableDef(ct.tdefPage, ct.name);
                for (const auto& c : t.columns) {
                    if (c.name != "F") continue;
                    const uint8_t* p = jf->page(ct.tdefPage);
                    for (int off = 63; off + 25 <= jf->pageSize() && at < 0; ++off)
                        if (p[off] == dao::jet::ColDouble && dao::jet::rd16(p + off + 5) == c.number &&
                            dao::jet::rd16(p + off + 21) == c.fixedOffset && dao::jet::rd16(p + off + 23) == 8)
                            at = qint64(ct.tdefPage) * jf->pageSize() + off;
                }
            }
        }
        EXPECT_GT(at, 0);
        QFile file(f);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite));
        file.seek(at);
        file.write(QByteArray(1, char(0x13)));
        return f;
    }
};

ProcessRun cli(const QStringList& args) { return run(QStringLiteral(TABULON_CLI), args); }

}  // namespace

TEST(LargeNumberValues, ConvertAddAndPrintWithoutRoundingThroughADouble) {
    using dao::Variant;
    const Variant big = dao::coerceToFieldType(Variant::fromString("9007199254740993"), dao::dbBigInt);
    EXPECT_EQ(big, Variant::fromBigInt(9007199254740993LL));
    EXPECT_EQ(dao::valueToText(big), "9007199254740993");
    EXPECT_EQ(dao::convertForType("-9223372036854775808", dao::dbBigInt), Variant::fromBigInt(INT64_MIN));
    EXPECT_EQ(dao::coerceToFieldType(Variant::fromDouble(2.5), dao::dbBigInt), Variant::fromBigInt(2));  // half to even
    EXPECT_EQ(dao::variantAdd(big, Variant::fromLong(2)), Variant::fromBigInt(9007199254740995LL));
    for (const char* tooBig : {"9223372036854775808", "-9223372036854775809"}) {
        try {
            dao::convertForType(tooBig, dao::dbBigInt);
            ADD_FAILURE() << tooBig;
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), dao::err::Overflow);
        }
    }
    try {
        dao::variantAdd(Variant::fromBigInt(INT64_MAX), Variant::fromInteger(1));
        ADD_FAILURE();
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::Overflow);
    }
    EXPECT_EQ(dao::fieldTypeFromDeclared("BIGINT").type, dao::dbBigInt);
    EXPECT_EQ(dao::declaredTypeFor(dao::dbBigInt, 8), "BIGINT");
}

TEST(LargeNumberValues, RowBytesAndIndexKeysAreThoseOfALongEightBytesWide) {
    dao::jet::ColumnDef c;
    c.type = dao::jet::ColBigInt;
    c.length = 8;
    c.flags = 0x01;
    c.name = "N";
    QByteArray bytes;
    int number = 0;
    QString why;
    // Stored little-endian, exactly; a key is the value big-endian with the sign bit flipped, after
    // the 0x7F flag (every bit inverted when descending), so that keys sort as the numbers do.
    struct Case {
        qint64 v;
        const char* key;
    };
    std::vector<QByteArray> keys;
    for (const Case& k : {Case{INT64_MIN, "7f0000000000000000"}, Case{-1, "7f7fffffffffffffff"},
                          Case{42, "7f800000000000002a"}, Case{9007199254740993LL, "7f8020000000000001"}}) {
        dao::jet::JetValue v;
        v.kind = dao::jet::JetValue::Int;
        v.i = k.v;
        ASSERT_TRUE(dao::jet::JetValueCodec::encode(c, v, bytes, number, why)) << why.toStdString();
        ASSERT_EQ(bytes.size(), 8);
        const auto* row = reinterpret_cast<const uint8_t*>(bytes.constData());
        const dao::jet::FieldRef f{true, 0, 8};
        EXPECT_EQ(dao::jet::JetValueCodec::decode(c, row, f)->i, k.v);
        const auto key = dao::jet::JetIndexKey::encode(c, true, row, f, &why);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->toHex().toStdString(), k.key);
        keys.push_back(*key);
        const auto down = dao::jet::JetIndexKey::encode(c, false, row, f, &why);
        ASSERT_TRUE(down);
        EXPECT_EQ(uint8_t(down->at(0)), 0x80);
    }
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    // A value with a fraction or beyond 64 bits is not stored.
    dao::jet::JetValue half;
    half.kind = dao::jet::JetValue::Real;
    half.d = 2.5;
    EXPECT_FALSE(dao::jet::JetValueCodec::encode(c, half, bytes, number, why));
}

TEST_F(JetNewTypes, ALargeNumberColumnIsReadWrittenSearchedTotalledExportedAndImported) {
    const QString f = withLargeNumberColumn();
    EXPECT_TRUE(cli({"columns", f, "Table1"}).out.contains("F\t16\t8\t"));
    {
        auto db = dao::OpenDatabase(f);
        ASSERT_FALSE(db->isReadOnly());
        EXPECT_EQ(db->Execute("update Table1 set F = 42 where A = 'a'"), 1);
        auto rs = db->OpenRecordset("select * from Table1 where A = 'abcdefg'");
        rs->Edit();
        rs->Fields()["F"].setValue(dao::Variant::fromString("9007199254740993"));
        rs->Update();
        rs->Close();
        db->Close();
    }
    const QString m = mdbReader(f, "Table1");
    if (m != "skipped") {
        EXPECT_TRUE(m.contains(",\"42\",")) << m.toStdString();
        EXPECT_TRUE(m.contains(",\"9007199254740993\",")) << m.toStdString();
    }
    EXPECT_EQ(ours(f, "select A, F from Table1 order by F desc").toStdString(),
              "A\tF\nabcdefg\t9007199254740993\na\t42\n");
    EXPECT_EQ(ours(f, "select A from Table1 where F > 9007199254740992").toStdString(), "A\nabcdefg\n");
    EXPECT_EQ(cli({"total", f, "Table1", "F"}).out.toStdString(), "9,007,199,254,741,035.00\n");

    // Export writes every digit; an imported record keeps them too, down to the limits.
    const QString out = dir_.filePath("t.txt");
    ASSERT_EQ(cli({"export", f, "select A, F from Table1 order by A", out}).code, 0);
    QFile exported(out);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_TRUE(exported.readAll().contains("\r\n9007199254740993\r\n"));
    const QString in = dir_.filePath("in.txt");
    {
        QFile file(in);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("9              addb\r\nmax\r\nNull\r\nNull\r\nNull\r\nNull\r\n9223372036854775807\r\nNull\r\nNull\r\nFalse\r\n"
                   "9              addb\r\n");
        file.resize(file.pos() - 21);
    }
    const ProcessRun imported = cli({"import", f, "Table1", in});
    EXPECT_EQ(imported.code, 0) << imported.err.toStdString();
    execute(f, "insert into Table1 (A, F, I) values ('min', -9223372036854775808, 0)");
    EXPECT_EQ(ours(f, "select A, F from Table1 order by F").toStdString(),
              "A\tF\nmin\t-9223372036854775808\na\t42\nabcdefg\t9007199254740993\nmax\t9223372036854775807\n");
    const dao::jet::CheckReport rep = dao::jet::JetCheck::run(f);
    EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
}

TEST_F(JetNewTypes, RecordsAreAddedToATableWithAttachmentFieldsWhichStartEmpty) {
    for (const char* name : {"complexDataTestV2010.accdb", "complexDataTestV2007.accdb"}) {
        SCOPED_TRACE(name);
        const QString f = copyMore(name);
        const QString before = ours(f, "select count(*) from Table1");
        execute(f, "insert into Table1 (id) values ('added')");
        EXPECT_EQ(ours(f, "select id from Table1 where id = 'added'").toStdString(), "id\nadded\n");
        EXPECT_NE(ours(f, "select count(*) from Table1"), before);
        // The attachment field shows the names of its files; the new record's has none.
        const QString shown = ours(f, "select id, [attach-data] from Table1 order by id");
        EXPECT_TRUE(shown.contains("\nadded\t\n")) << shown.toStdString();
        EXPECT_TRUE(shown.contains("\nrow1\t\nrow2\ttest_data.txt; test_data2.txt\nrow3\t\nrow4\ttest_data2.txt\n"))
            << shown.toStdString();
        // mdb-reader 3 cannot read these attachment columns at all (not even in the file as Access
        // left it), so mdb-export is the second reader here.
        const QString e = mdbExport(f, "Table1");
        if (e != "skipped") EXPECT_TRUE(e.contains("\n\"added\",")) << e.toStdString();
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(f);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
        // Giving the attachment field a value is refused with what it is, never a replication ID.
        expectRefused(f, "attachments or several values", [&] {
            execute(f, "insert into Table1 (id, [attach-data]) values ('x', 'a.txt')");
        });
        expectRefused(f, "attachments or several values", [&] {
            execute(f, "update Table1 set [attach-data] = 'b.txt' where id = 'row1'");
        });
    }
}

// Records whose binary values are keyed in indexes, ascending and descending, are added (an empty
// value, one just past a segment), edited and deleted; the check finds every key where the index
// order puts it and equal to the key made from its record.
TEST_F(JetNewTypes, BinaryIndexesAreKeptOnEveryChangeAndExtendedDateValuesRefused) {
    const QString bin = copyMore("binIdxTestV2010.accdb");
    execute(bin, "insert into Test (ID, BinAsc, BinDsc) values (500, X'616263646566676869', X'61626364656667686a')");
    execute(bin, "insert into Test (ID, BinAsc, BinDsc) values (501, X'', X'00')");
    execute(bin, "update Test set BinAsc = X'0102030405060708', BinDsc = X'FF' where ID = 1");
    execute(bin, "delete from Test where ID = 0");
    dao::jet::CheckReport rep = dao::jet::JetCheck::run(bin);
    EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
    EXPECT_TRUE(rep.lines.join('\n').contains(QRegularExpression("BinAscIdx \\(BinAsc\\): 106 entries.*in order, 106 keys match")))
        << rep.lines.join('\n').toStdString();
    // Past the longest binary key that could be checked, the change is refused and names the index.
    expectRefused(bin, "BinAscIdx", [&] {
        execute(bin, QString("insert into Test (ID, BinAsc) values (502, X'%1')").arg(QString(161 * 2, 'A')));
    });

    // An extended date value itself is not written yet (records are added with it Null, as the
    // corpus test shows); the refusal says which kind of field it is.
    const QString ext = copyMore("extDateTestV2019.accdb");
    expectRefused(ext, "Changing Date/Time Extended fields ('DateExt')", [&] {
        execute(ext, "update Table1 set DateExt = '2020-01-01' where ID = 1");
    });
}

// A record added to a table keyed by a replication ID gets a new GUID, shown at once by the
// connection that added it and equal to what the file holds; a given one is kept. Its key goes
// into the index (ACE ascending, Access 97 descending) and the ID is never changed afterwards.
TEST_F(JetNewTypes, ReplicationIdsAreGivenToAddedRecordsAndKeyed) {
    const QRegularExpression guid("^\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\}$");
    const QString ace = copy("testV2010.accdb");
    QString made;
    {
        auto db = dao::OpenDatabase(ace);
        db->Execute("insert into Table4 (name) values ('made')");
        db->Execute("insert into Table4 (name, data) values ('given', '{00000000-0000-0000-0000-0000000000FF}')");
        made = db->OpenRecordset("select data from Table4 where name = 'made'")->Fields()["data"].Value().asString();
        EXPECT_TRUE(guid.match(made).hasMatch()) << made.toStdString();
        db->Close();
    }
    expectRefused(ace, "Field 'data' is an AutoNumber", [&] { execute(ace, "update Table4 set data = Null"); });
    EXPECT_EQ(ours(ace, "select data from Table4 where name = 'made'"), "data\n" + made + "\n");
    const QString m = mdbReader(ace, "Table4");
    if (m != "skipped") EXPECT_EQ(m.count('\n') - 1, 2) << m.toStdString();

    const QString jet3 = copy("testIndexCodesV1997.mdb");
    execute(jet3, "insert into Table13_desc (name) values ('made')");
    for (const QString& f : {ace, jet3}) {
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(f);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
    }
    const QString e = mdbExport(jet3, "Table13_desc");
    if (e != "skipped") EXPECT_TRUE(e.contains("\"made\",\"{")) << e.toStdString();
}
