// Currency and Decimal go from their digits to the page and back as scaled integers, never through a
// double; a primary key field never takes Null.

#include <gtest/gtest.h>

#include "JetOracles.h"
#include "platform/dao/Dao.h"
#include "platform/dao/Error.h"
#include "platform/dao/JetFile.h"

using namespace dao::jet;
using jettest::sha256;

namespace {

class JetExactValues : public jettest::JetFileTest {
protected:
    // The raw 8 bytes of testV2010's Table1.H (Currency) in the record whose A is key.
    static int64_t currencyOf(const QString& path, const QString& key) {
        auto f = JetFile::open(path);
        for (const CatalogTable& ct : f->catalog()) {
            if (ct.name != "Table1") continue;
            const TableDef t = f->readTableDef(ct.tdefPage, ct.name);
            int a = -1, h = -1;
            for (size_t c = 0; c < t.columns.size(); ++c) {
                if (t.columns[c].name == "A") a = int(c);
                if (t.columns[c].name == "H") h = int(c);
            }
            for (uint32_t p : f->usageMapPages(t.ownedPagesMap))
                for (int r = 0; r < f->rowCount(p); ++r) {
                    const RowSlot s = f->slot(p, r);
                    if (s.deleted || s.overflow) continue;
                    const uint8_t* row = f->page(p) + s.start;
                    const auto fields = f->crackRow(t, row, s.end - s.start);
                    if (JetFile::decodeText(row + fields[size_t(a)].offset, fields[size_t(a)].size) != key) continue;
                    return int64_t(uint64_t(rd32(row + fields[size_t(h)].offset)) |
                                   uint64_t(rd32(row + fields[size_t(h)].offset + 4)) << 32);
                }
        }
        ADD_FAILURE() << "no record " << key.toStdString();
        return 0;
    }

    static void expectError(const QString& path, const QString& sql, int number, const QString& text) {
        auto db = dao::OpenDatabase(path);
        try {
            db->Execute(sql);
            ADD_FAILURE() << "went through: " << sql.toStdString();
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), number) << e.description().toStdString();
            EXPECT_TRUE(e.description().contains(text)) << e.description().toStdString();
        }
        db->Close();
    }
};

}  // namespace

// 20000000000001 * 10000 is no double: the amount is counted, not multiplied.
TEST_F(JetExactValues, CurrencyIsACountOfTenThousandths) {
    const QString f = copy("testV2010.accdb");
    execute(f, "update Table1 set H = 20000000000001 where A = 'a'");
    execute(f, "update Table1 set H = -1.23455 where A = 'abcdefg'");
    EXPECT_EQ(currencyOf(f, "a"), 200000000000010000LL);
    EXPECT_EQ(currencyOf(f, "abcdefg"), -12346LL) << "half away from zero";
    const QString e = mdbExport(f, "Table1");
    if (e != "skipped") EXPECT_TRUE(e.contains(",20000000000001.0000,")) << e.toStdString();
    EXPECT_EQ(ours(f, "select H from Table1 where A = 'a'"), "H\n20000000000001\n");

    execute(f, "update Table1 set H = 922337203685477 where A = 'a'");
    EXPECT_EQ(currencyOf(f, "a"), 9223372036854770000LL);
    const QByteArray before = sha256(f);
    expectError(f, "update Table1 set H = 922337203685478 where A = 'a'", 6, "currency field 'H'");
    EXPECT_EQ(sha256(f), before);
}

// Numeric(12,3): the digits typed, rounded half away from zero, whatever double is nearest them.
TEST_F(JetExactValues, DecimalRoundsTheDigitsHalfAwayFromZero) {
    const QString f = copy("functionsV2003.mdb");
    const std::pair<const char*, const char*> cases[] = {
        {"1.2345", "1.235"}, {"2.0005", "2.001"}, {"-1.2345", "-1.235"}, {"0.0004", "0.000"}, {"999999999.9994", "999999999.999"}};
    for (const auto& [typed, stored] : cases) {
        execute(f, QString("update t_funcs set num = %1").arg(typed));
        const QString e = mdbExport(f, "t_funcs");
        if (e != "skipped") EXPECT_TRUE(e.contains(QString(",%1,").arg(stored))) << typed << "\n" << e.toStdString();
    }
    EXPECT_EQ(dao::jet::JetCheck::run(f).faults, 0);
}

// Jet's 3058: inserts and updates that leave a primary key field Null change nothing.
TEST_F(JetExactValues, NullIsRefusedInAPrimaryKeyField) {
    const QString f = copy("testV2010.accdb");
    const QByteArray before = sha256(f);
    expectError(f, "insert into Table1 (B) values ('no key')", 3058, "Field 'A' is part of the primary key");
    expectError(f, "insert into Table1 (A, B) values (Null, 'no key')", 3058, "cannot be Null");
    expectError(f, "update Table1 set A = Null where A = 'a'", 3058, "Field 'A'");
    dao::flushAllWrites();
    EXPECT_EQ(sha256(f), before);
    execute(f, "insert into Table1 (A, B) values ('k', 'keyed')");
    EXPECT_EQ(ours(f, "select B from Table1 where A = 'k'"), "B\nkeyed\n");
}
