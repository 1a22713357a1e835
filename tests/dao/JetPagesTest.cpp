// Records added to Access files beyond the pages their tables have: new pages at the end of the
// file, listed in the file's and the tables' usage maps, read back by the three readers and the
// consistency check.

#include <QElapsedTimer>
#include <map>

#include "JetOracles.h"
#include "platform/dao/JetPageAllocator.h"

namespace {
using namespace jettest;

uint32_t pageCount(const QString& path) { return dao::jet::JetFile::open(path)->pageCount(); }

// Long outputs are compared line by line, so that a failure shows the first line that differs.
void expectSameLines(const QString& what, const QString& actual, const QString& expected) {
    if (actual == "skipped") return;
    const QStringList a = actual.split('\n'), e = expected.split('\n');
    for (int i = 0; i < std::min(a.size(), e.size()); ++i)
        if (a[i] != e[i]) {
            ADD_FAILURE() << what.toStdString() << ", line " << i + 1 << ": " << a[i].toStdString() << " instead of "
                          << e[i].toStdString();
            return;
        }
    EXPECT_EQ(a.size(), e.size()) << what.toStdString();
}

class JetPages : public JetFileTest {
protected:
    // The three readers and the check, for outputs too long to print whole.
    void expectLongReaders(const QString& path, const QString& table, const QString& sql, const QString& engine,
                           const QString& exported, const QString& js) {
        expectSameLines("our engine", ours(path, sql), engine);
        expectSameLines("mdb-export", mdbExport(path, table), exported);
        expectSameLines("mdb-reader", mdbReader(path, table), js);
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(path);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
        EXPECT_FALSE(QFile::exists(dao::jet::JetPageJournal::journalPath(path)));
    }
};

QString descrOf(int i) { return QString("Registro %1 añadido").arg(i); }
QString dayOf(int i) { return QString("2024-02-%1 10:00:00").arg(i % 28 + 1, 2, 10, QChar('0')); }

}  // namespace

// 10,000 records into a table with no room left: the table's map of pages is a list of map pages
// in this file, and the records go to new pages in the order they were added.
TEST_F(JetPages, TenThousandRecordsGoIntoNewPagesOfAJet4File) {
    const QString f = copy("functionsV2003.mdb");
    const uint32_t before = pageCount(f);
    constexpr int kRecords = 10000;
    {
        auto db = dao::OpenDatabase(f);
        for (int i = 1; i <= kRecords; ++i)
            db->Execute(QString("insert into t_funcs (id, descr, date0) values (%1, '%2', #%3#)").arg(i).arg(descrOf(i), dayOf(i)));
        db->Close();
    }
    EXPECT_GT(pageCount(f), before + 100);
    QString engine = "id\tdescr\tdate0\n", exported = "id,descr,num,date0\n1234,\"Show must go off\",-1110.554,\"2003-11-22 22:42:58\"\n",
            js = "[\"id\",\"descr\",\"num\",\"date0\"]\n[1234,\"Show must go off\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n";
    for (int i = 1; i <= kRecords; ++i) {
        if (i == 1234) engine += "1234\tShow must go off\t2003-11-22 22:42:58\n";
        engine += QString("%1\t%2\t%3\n").arg(i).arg(descrOf(i), dayOf(i));
        exported += QString("%1,\"%2\",,\"%3\"\n").arg(i).arg(descrOf(i), dayOf(i));
        js += QString("[%1,\"%2\",null,\"%3.000Z\"]\n").arg(i).arg(descrOf(i), QString(dayOf(i)).replace(' ', 'T'));
    }
    expectLongReaders(f, "t_funcs", "select id, descr, date0 from t_funcs order by id", engine, exported, js);
}

// The maps themselves, on a copy of the ACE file: an inline map whose pages grow too far apart for
// its window becomes a list of map pages; an empty inline map moves its window to its first page.
// The written file must still read back and pass the check.
TEST_F(JetPages, InlineMapsMoveTheirWindowOrBecomeListsOfMapPages) {
    using namespace dao::jet;
    const QString f = copy("testV2010.accdb");
    std::map<uint32_t, QByteArray> pages;
    TableDef table1, table3;
    uint32_t fileEnd = 0;
    {
        auto file = JetFile::open(f);
        fileEnd = file->pageCount();
        for (const CatalogTable& ct : file->catalog()) {
            if (ct.name == "Table1") table1 = file->readTableDef(ct.tdefPage, ct.name);
            if (ct.name == "Table3") table3 = file->readTableDef(ct.tdefPage, ct.name);
        }
        ASSERT_EQ(table1.name, "Table1");
        ASSERT_EQ(table3.name, "Table3");
        JetPageAllocator::Pages access;
        access.read = [&](uint32_t n) -> const uint8_t* {
            const auto it = pages.find(n);
            return it != pages.end() ? reinterpret_cast<const uint8_t*>(it->second.constData()) : file->page(n);
        };
        access.write = [&](uint32_t n) {
            auto it = pages.find(n);
            if (it == pages.end()) it = pages.emplace(n, QByteArray(reinterpret_cast<const char*>(file->page(n)), 4096)).first;
            return reinterpret_cast<uint8_t*>(it->second.data());
        };
        access.create = [&](uint32_t n) { return reinterpret_cast<uint8_t*>(pages.emplace(n, QByteArray(4096, '\0')).first->second.data()); };
        access.end = [&] { return std::max(fileEnd, pages.empty() ? 0 : pages.rbegin()->first + 1); };
        JetPageAllocator alloc(access);

        std::vector<uint32_t> expected = alloc.pagesOf(table1.ownedPagesMap);
        // Each new page holds one deleted row: readers must walk every page and find nothing.
        const RowSlot s = file->slot(expected.front(), 0);
        const QByteArray row(reinterpret_cast<const char*>(file->page(expected.front()) + s.start), s.end - s.start);
        for (int i = 0; i < 600; ++i) {
            const uint32_t n = alloc.allocate(PageData, table1.firstPage, {table1.ownedPagesMap});
            ASSERT_EQ(JetFile::appendRow(access.write(n), 4096, row), 0);
            access.write(n)[15] |= 0xC0;
            expected.push_back(n);
        }
        std::vector<uint32_t> listed = alloc.pagesOf(table1.ownedPagesMap);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listed, expected);
        const RowId mapAt = RowId::fromWord(table1.ownedPagesMap);
        const uint8_t* mapPage = access.read(mapAt.page);
        EXPECT_EQ(mapPage[JetFile::slotIn(mapPage, 4096, mapAt.page, mapAt.row).start], 1) << "a list of map pages";

        const uint32_t far = alloc.allocate(PageData, table3.firstPage, {table3.ownedPagesMap, table3.freePagesMap});
        EXPECT_EQ(alloc.pagesOf(table3.ownedPagesMap), std::vector<uint32_t>{far});
        EXPECT_EQ(alloc.pagesOf(table3.freePagesMap), std::vector<uint32_t>{far});
        // None of the new pages (data or map pages) is free any more; pages past them still are.
        for (uint32_t n = fileEnd; n < access.end(); ++n) EXPECT_FALSE(alloc.listed(JetPageAllocator::kGlobalMap, n)) << n;
        EXPECT_EQ(alloc.listed(JetPageAllocator::kGlobalMap, access.end()), access.end() < 512);
    }
    QFile out(f);
    ASSERT_TRUE(out.open(QIODevice::ReadWrite));
    for (const auto& [n, bytes] : pages) {
        out.seek(qint64(n) * 4096);
        out.write(bytes);
    }
    out.close();
    expectReaders(f, "Table1", "select A, E from Table1 order by A", "A\tE\na\t0\nabcdefg\t333333333\n",
                  "A,B,C,D,E,F,G,H,I\n\"a\",\"b\",0,0,0,0,\"1981-12-12 00:00:00\",0.0000,0\n"
                  "\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21 00:00:00\",3.5000,1\n",
                  "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n"
                  "[\"a\",\"b\",0,0,0,0,\"1981-12-12T00:00:00.000Z\",\"0.0000\",false]\n"
                  "[\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21T00:00:00.000Z\",\"3.5000\",true]\n");
}
