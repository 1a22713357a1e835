// Records added to Access files beyond the pages their tables have: new pages at the end of the
// file, listed in the file's and the tables' usage maps, read back by the three readers and the
// consistency check.

#include <QElapsedTimer>
#include <atomic>
#include <map>

#include "JetOracles.h"
#include "platform/dao/JetPageAllocator.h"
#include "platform/dao/JetUnknownPages.h"

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

// The lines after the first (the column names) in sorted order: a reader that meets a moved
// record where its data lies lists it elsewhere than one that follows its pointer.
QString sortedBody(const QString& out) {
    if (out == "skipped") return out;
    QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    if (lines.isEmpty()) return out;
    const QString head = lines.takeFirst();
    lines.sort();
    return head + '\n' + lines.join('\n') + '\n';
}

// Rows of a table's pages that hold a pointer to where their record's data moved.
int movedRecords(const QString& path, const QString& table) {
    auto file = dao::jet::JetFile::open(path);
    for (const dao::jet::CatalogTable& ct : file->catalog()) {
        if (ct.name != table) continue;
        const dao::jet::TableDef t = file->readTableDef(ct.tdefPage, ct.name);
        int moved = 0;
        for (uint32_t p : file->usageMapPages(t.ownedPagesMap))
            for (int r = 0; r < file->rowCount(p); ++r) {
                const dao::jet::RowSlot s = file->slot(p, r);
                if (s.overflow && !s.deleted) ++moved;
            }
        return moved;
    }
    return -1;
}

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

        // A page given back beyond the free-page map's window moves the window there; the pages
        // past the end of the file that it then covers still count as free.
        ASSERT_GE(access.end(), 512u);
        const uint32_t back = alloc.allocate(PageUsageMap, 0, {});
        alloc.setListed(JetPageAllocator::kGlobalMap, back, true);
        EXPECT_TRUE(alloc.listed(JetPageAllocator::kGlobalMap, back));
        EXPECT_FALSE(alloc.listed(JetPageAllocator::kGlobalMap, back - 1));
        for (uint32_t n = access.end(); n < access.end() + 64; ++n)
            EXPECT_TRUE(alloc.listed(JetPageAllocator::kGlobalMap, n)) << n;
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

// An AutoNumber table: each add takes the number after the highest one handed out (kept in the
// table's definition, so a delete does not give a number back and a fresh open goes on from it),
// and the engine's copy shows the number the file holds.
TEST_F(JetPages, AddsTakeTheTablesNextAutoNumber) {
    const QString f = copy("weirdObjectNames.mdb");
    const QString table = "19 MB 01 BEZAHLT ???";
    auto counter = [&] {
        auto file = dao::jet::JetFile::open(f);
        for (const dao::jet::CatalogTable& ct : file->catalog())
            if (ct.name == table) return file->readTableDef(ct.tdefPage, ct.name).nextAutoNumber;
        return 0u;
    };
    EXPECT_EQ(counter(), 1u);
    {
        auto db = dao::OpenDatabase(f);
        auto rs = db->OpenRecordset("[" + table + "]");
        rs->AddNew();
        rs->Fields()["TextField"].setValue(dao::Variant::fromString("uno"));
        rs->Update();
        rs->MoveLast();
        EXPECT_EQ(rs->Fields()["ID"].Value().asInt(), 2);
        rs->Close();
        EXPECT_EQ(db->Execute("insert into [" + table + "] (TextField) values ('dos')"), 1);
        EXPECT_EQ(db->Execute("insert into [" + table + "] (ID, TextField) values (10, 'diez')"), 1);
        EXPECT_EQ(db->Execute("delete from [" + table + "] where ID = 10"), 1);
        EXPECT_EQ(db->Execute("insert into [" + table + "] (TextField) values ('once')"), 1);
        auto shown = db->OpenRecordset("select ID from [" + table + "] where TextField = 'once'");
        EXPECT_EQ(shown->Fields()["ID"].Value().asInt(), 11);
        shown->Close();
        db->Close();
    }
    EXPECT_EQ(counter(), 11u);
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("insert into [" + table + "] (TextField) values ('doce')"), 1);
        db->Close();
    }
    EXPECT_EQ(counter(), 12u);
    expectReaders(f, table, "select ID, TextField from [" + table + "] order by ID",
                  "ID\tTextField\n1\tfoo\n2\tuno\n3\tdos\n11\tonce\n12\tdoce\n",
                  "ID,TextField\n1,\"foo\"\n2,\"uno\"\n3,\"dos\"\n11,\"once\"\n12,\"doce\"\n",
                  "[\"ID\",\"TextField\"]\n[1,\"foo\"]\n[2,\"uno\"]\n[3,\"dos\"]\n[11,\"once\"]\n[12,\"doce\"]\n");
}

// The ACE file: an empty AutoNumber table filled past its first page (a page holds at most 255
// records), numbered from 1.
TEST_F(JetPages, AnAceTableGrowsPastItsFirstPageWithItsAutoNumbers) {
    const QString f = copy("testV2010.accdb");
    const uint32_t before = pageCount(f);
    constexpr int kRecords = 300;
    {
        auto db = dao::OpenDatabase(f);
        for (int i = 1; i <= kRecords; ++i) db->Execute(QString("insert into Table3 (b) values ('fila %1')").arg(i));
        db->Close();
    }
    EXPECT_GE(pageCount(f), before + 2);
    QString engine = "a\tb\n", exported = "a,b\n", js = "[\"a\",\"b\"]\n";
    for (int i = 1; i <= kRecords; ++i) {
        engine += QString("%1\tfila %1\n").arg(i);
        exported += QString("%1,\"fila %1\"\n").arg(i);
        js += QString("[%1,\"fila %1\"]\n").arg(i);
    }
    expectLongReaders(f, "Table3", "select a, b from Table3 order by a", engine, exported, js);
}

// Records that outgrow their page move to another page, the first place keeping a pointer; edits
// of moved records (shorter in place, longer again: moved on) and deletes of them; adds after.
TEST_F(JetPages, RecordsThatOutgrowTheirPageMoveAndStayEditable) {
    const QString f = copy("testV2010.accdb");
    constexpr int kRecords = 300;
    auto longText = [](int i, char fill) { return QString("%1-").arg(i).leftJustified(50, QChar(fill)); };
    std::map<int, QString> expected;
    {
        auto db = dao::OpenDatabase(f);
        for (int i = 1; i <= kRecords; ++i) {
            db->Execute(QString("insert into Table3 (b) values ('f%1')").arg(i));
            expected[i] = QString("f%1").arg(i);
        }
        db->Close();
    }
    {
        auto db = dao::OpenDatabase(f);
        for (int i = 1; i <= 200; ++i) {
            db->Execute(QString("update Table3 set b = '%1' where a = %2").arg(longText(i, 'x')).arg(i));
            expected[i] = longText(i, 'x');
        }
        db->Close();
    }
    const int moved = movedRecords(f, "Table3");
    EXPECT_GT(moved, 20);
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("update Table3 set b = 'corto' where a <= 200 and a % 3 = 0"), 66);
        EXPECT_EQ(db->Execute("delete from Table3 where a % 5 = 0"), 60);
        for (int i = 3; i <= 200; i += 3) {
            if (i % 5 == 0) continue;
            db->Execute(QString("update Table3 set b = '%1' where a = %2").arg(longText(i, 'y')).arg(i));
        }
        for (int i = kRecords + 1; i <= kRecords + 10; ++i) db->Execute(QString("insert into Table3 (b) values ('n%1')").arg(i));
        db->Close();
    }
    for (int i = 3; i <= 200; i += 3) expected[i] = longText(i, 'y');
    for (int i = 5; i <= kRecords; i += 5) expected.erase(i);
    for (int i = kRecords + 1; i <= kRecords + 10; ++i) expected[i] = QString("n%1").arg(i);
    QString engine = "a\tb\n", exported = "a,b\n", js = "[\"a\",\"b\"]\n";
    for (const auto& [a, b] : expected) {
        engine += QString("%1\t%2\n").arg(a).arg(b);
        exported += QString("%1,\"%2\"\n").arg(a).arg(b);
        js += QString("[%1,\"%2\"]\n").arg(a).arg(b);
    }
    expectSameLines("our engine", ours(f, "select a, b from Table3 order by a"), engine);
    expectSameLines("mdb-export", sortedBody(mdbExport(f, "Table3")), sortedBody(exported));
    expectSameLines("mdb-reader", sortedBody(mdbReader(f, "Table3")), sortedBody(js));
    const dao::jet::CheckReport rep = dao::jet::JetCheck::run(f);
    EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
}

// Deleted records give their page's room back: later adds go there (the page is packed) instead
// of into a new page.
TEST_F(JetPages, AddsReuseTheRoomOfDeletedRecords) {
    const QString f = copy("functionsV2003.mdb");
    {
        auto db = dao::OpenDatabase(f);
        for (int i = 1; i <= 200; ++i)
            db->Execute(QString("insert into t_funcs (id, descr) values (%1, '%2')").arg(i).arg(descrOf(i)));
        db->Close();
    }
    const uint32_t grown = pageCount(f);
    auto addFifty = [](const QString& path) {
        auto db = dao::OpenDatabase(path);
        for (int i = 1001; i <= 1050; ++i)
            db->Execute(QString("insert into t_funcs (id, descr) values (%1, '%2')").arg(i).arg(descrOf(i)));
        db->Close();
    };
    // Without the deletes, the same adds need a new page.
    const QString g = dir_.filePath("without-deletes.mdb");
    ASSERT_TRUE(QFile::copy(f, g));
    addFifty(g);
    EXPECT_GT(pageCount(g), grown);
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("delete from t_funcs where id <= 60"), 60);
        db->Close();
    }
    addFifty(f);
    EXPECT_EQ(pageCount(f), grown);
    EXPECT_EQ(ours(f, "select count(*) as n, min(id) as low, max(id) as high from t_funcs where id > 60 and id <= 1050 or id = 1234"),
              "n\tlow\thigh\n191\t61\t1234\n");
    const QString exported = mdbExport(f, "t_funcs");
    if (exported != "skipped") {
        EXPECT_EQ(exported.count('\n'), 1 + 191);
    }
    const QString js = mdbReader(f, "t_funcs");
    if (js != "skipped") {
        EXPECT_EQ(js.count('\n'), 1 + 191);
        EXPECT_TRUE(js.contains(QString("[1050,\"%1\",null,null]").arg(descrOf(1050)))) << js.left(500).toStdString();
        EXPECT_FALSE(js.contains("[60,"));
    }
    const dao::jet::CheckReport rep = dao::jet::JetCheck::run(f);
    EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
}

// What the maps of long values and indexes hold in the real files: each Memo/OLE column's pages are
// long-value pages, each index's map lists its root page. New pages of these kinds go there.
TEST(JetPageMaps, LongValueAndIndexPagesHaveMapsOfTheirOwn) {
    using namespace dao::jet;
    for (const QString& name : {QString("functionsV2003.mdb"), QString("testV2010.accdb")}) {
        SCOPED_TRACE(name.toStdString());
        auto file = JetFile::open(testutil::jetFile(name));
        JetPageAllocator::Pages access;
        access.read = [&](uint32_t n) { return file->page(n); };
        access.end = [&] { return file->pageCount(); };
        JetPageAllocator alloc(access);
        int longValuePages = 0, indexes = 0;
        for (const CatalogTable& ct : file->catalog()) {
            const TableDef t = file->readTableDef(ct.tdefPage, ct.name);
            for (const TableDef::LongValueMaps& m : t.longValueMaps) {
                const ColumnDef* c = t.columnByNumber(m.column);
                ASSERT_TRUE(c && c->isLongValue()) << ct.name.toStdString();
                for (uint32_t p : alloc.pagesOf(m.owned)) {
                    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(file->page(p)) + 4, 4), "LVAL") << p;
                    ++longValuePages;
                }
            }
            for (const IndexData& idx : t.indexData) {
                const std::vector<uint32_t> pages = alloc.pagesOf(idx.usageMap);
                EXPECT_NE(std::find(pages.begin(), pages.end(), idx.rootPage), pages.end()) << t.indexName(idx).toStdString();
                ++indexes;
            }
        }
        EXPECT_GT(longValuePages, 0);
        EXPECT_GT(indexes, 0);
    }
}

// Replace over a Jet 4 table whose records all grow: most of them move to other pages; the tool's
// count, the three readers and the check agree.
TEST_F(JetPages, AReplaceThatGrowsEveryRecordMovesThem) {
    const QString f = copy("functionsV2003.mdb");
    constexpr int kRecords = 2000;
    {
        auto db = dao::OpenDatabase(f);
        for (int i = 1; i <= kRecords; ++i) db->Execute(QString("insert into t_funcs (id, descr) values (%1, 'r%1')").arg(i));
        db->Close();
    }
    const QString grown(30, QChar('z'));
    const ProcessRun r = run(QStringLiteral(TABULON_CLI), {"replace", f, "t_funcs", "descr", "*", grown});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString("%1\n").arg(kRecords + 1));
    EXPECT_GT(movedRecords(f, "t_funcs"), kRecords / 4);
    EXPECT_EQ(ours(f, "select count(*) as n, min(descr) as low, max(descr) as high from t_funcs"),
              QString("n\tlow\thigh\n%1\t%2\t%2\n").arg(kRecords + 1).arg(grown));
    QString exported = "id,descr,num,date0\n", js = "[\"id\",\"descr\",\"num\",\"date0\"]\n";
    exported += QString("1234,\"%1\",-1110.554,\"2003-11-22 22:42:58\"\n").arg(grown);
    js += QString("[1234,\"%1\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n").arg(grown);
    for (int i = 1; i <= kRecords; ++i) {
        exported += QString("%1,\"%2\",,\n").arg(i).arg(grown);
        js += QString("[%1,\"%2\",null,null]\n").arg(i).arg(grown);
    }
    expectSameLines("mdb-export", sortedBody(mdbExport(f, "t_funcs")), sortedBody(exported));
    expectSameLines("mdb-reader", sortedBody(mdbReader(f, "t_funcs")), sortedBody(js));
    const dao::jet::CheckReport rep = dao::jet::JetCheck::run(f);
    EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
}

// A batch of adds that grows the file fails half-way through writing its pages: the journal puts
// the file back (its old length included), the engine runs the batch again, and nothing is lost.
TEST_F(JetPages, AGrowingBatchThatFailsHalfWrittenIsUndoneAndRunAgain) {
    const QString f = copy("functionsV2003.mdb");
    int pagesWritten = 0;
    bool failed = false;
    dao::jet::JetPageJournal::testHook() = [&](const char* step) {
        if (std::string(step) == "page" && ++pagesWritten == 3 && !failed) {
            failed = true;
            throw dao::Error(dao::err::DiskFull, "Cannot write the file: No space left on device.");
        }
    };
    struct Unhook {
        ~Unhook() { dao::jet::JetPageJournal::testHook() = nullptr; }
    } unhook;
    const uint32_t before = pageCount(f);
    {
        auto db = dao::OpenDatabase(f);
        for (int i = 1; i <= 300; ++i) db->Execute(QString("insert into t_funcs (id, descr) values (%1, 'r%1')").arg(i));
        db->Close();
    }
    EXPECT_TRUE(failed);
    EXPECT_GT(pageCount(f), before + 2);
    EXPECT_EQ(ours(f, "select count(*) as n, sum(id) as total from t_funcs"), QString("n\ttotal\n301\t%1\n").arg(1234 + 300 * 301 / 2));
    const QString exported = mdbExport(f, "t_funcs");
    if (exported != "skipped") {
        EXPECT_EQ(exported.count('\n'), 302);
    }
    const dao::jet::CheckReport rep = dao::jet::JetCheck::run(f);
    EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
    EXPECT_FALSE(QFile::exists(dao::jet::JetPageJournal::journalPath(f)));
}

// Scans of a file larger than the part of it kept in memory (the catalog, the pages of unknown
// type) let what they read go as they pass: the answers, the file and a change written afterwards
// must be as if everything had stayed.
TEST_F(JetPages, ScansOfALargeFileLetItsPagesGoWithoutChangingWhatTheyRead) {
    const QString path = copy("test2V2003.mdb");
    std::vector<dao::jet::CatalogTable> before;
    std::vector<uint32_t> unknownBefore;
    uint32_t pages = 0;
    {
        auto f = dao::jet::JetFile::open(path);
        before = f->catalog();
        unknownBefore = dao::jet::JetUnknownPages::find(*f);
        pages = f->pageCount();
    }
    // Blank pages beyond the file's own: more than one part of a scan, led to by nothing.
    constexpr uint32_t kExtra = 4200;
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        ASSERT_EQ(f.write(QByteArray(qsizetype(kExtra) * 4096, '\0')), qint64(kExtra) * 4096);
    }
    const QByteArray bytes = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    {
        auto f = dao::jet::JetFile::open(path);
        const std::vector<dao::jet::CatalogTable> after = f->catalog();
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < after.size(); ++i) {
            EXPECT_EQ(after[i].name, before[i].name);
            EXPECT_EQ(after[i].tdefPage, before[i].tdefPage);
        }
        std::vector<uint32_t> unknown = unknownBefore;
        for (uint32_t p = pages; p < pages + kExtra; ++p) unknown.push_back(p);
        EXPECT_EQ(dao::jet::JetUnknownPages::find(*f), unknown);
        // Pages read again after they were let go hold the file's bytes.
        f->forgetReadPages();
        for (uint32_t p : {0u, 2u, pages - 1, pages + kExtra - 1})
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(f->page(p)), 4096), bytes.mid(qsizetype(p) * 4096, 4096))
                << "page " << p;
    }
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.readAll() == bytes) << "reading changed the file";
    }
    execute(path, "UPDATE MSP_PROJECTS SET PROJ_PROP_AUTHOR = 'after the scans'");
    EXPECT_EQ(ours(path, "SELECT DISTINCT PROJ_PROP_AUTHOR FROM MSP_PROJECTS"), "PROJ_PROP_AUTHOR\nafter the scans\n");
}

// Pages read through the system (the types of all, single pages for walks) are the mapped pages, in
// both page sizes and past the chunks the types are read in.
TEST_F(JetPages, PagesReadThroughTheSystemAreTheMappedPages) {
    for (const QString name : {"test2V2003.mdb", "../jet-more/delTestV1997.mdb"}) {
        const QString path = copy(name);
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::Append));
            // Odd pages of every type beyond the file's own, more than one chunk of them.
            QByteArray extra(600 * 4096 + 2048, '\0');
            for (qsizetype at = 0; at < extra.size(); at += 2048) extra[at] = char((at / 2048) % 7);
            ASSERT_EQ(f.write(extra), extra.size());
        }
        auto f = dao::jet::JetFile::open(path);
        const std::vector<uint8_t> types = f->pageTypes();
        ASSERT_EQ(types.size(), size_t(f->pageCount())) << name.toStdString();
        for (uint32_t p = 0; p < f->pageCount(); ++p) ASSERT_EQ(types[p], f->pageType(p)) << name.toStdString() << " page " << p;
        std::vector<uint8_t> buf(size_t(f->pageSize()));
        for (uint32_t p : {0u, 1u, f->pageCount() / 2, f->pageCount() - 1})
            EXPECT_EQ(std::memcmp(f->pageCopy(p, buf.data()), f->page(p), buf.size()), 0) << name.toStdString() << " page " << p;
        EXPECT_THROW(f->pageCopy(f->pageCount(), buf.data()), dao::jet::FormatError);

        // A scan in the background stops when told, and a file cut short under it ends the scan
        // with an error rather than a read of the mapping past the file's end.
        std::atomic<bool> stop{true};
        EXPECT_THROW(f->pageTypes(&stop), dao::jet::FormatError);
        stop = false;
        EXPECT_EQ(f->pageTypes(&stop), types);
        ASSERT_TRUE(QFile::resize(path, qint64(f->pageSize()) * 3));
        EXPECT_THROW(f->pageTypes(&stop), dao::jet::FormatError);
    }
}
