// The Jet consistency check: it passes on the real files and names each fault injected into a copy.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "JetOracles.h"
#include "TestUtil.h"
#include "platform/dao/JetCheck.h"
#include "platform/dao/JetFile.h"

using namespace dao::jet;

namespace {

const QStringList kJet4Files = {"test2V2003.mdb", "functionsV2003.mdb", "weirdObjectNames.mdb", "testV2010.accdb"};

QString faultLines(const CheckReport& r) {
    QStringList out;
    for (const QString& l : r.lines)
        if (l.startsWith("FAULT")) out << l;
    return out.join('\n');
}

class JetCheckFaults : public jettest::JetFileTest {
protected:
    static void patch(const QString& path, qint64 offset, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.seek(offset));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    static QByteArray le16(int v) {
        QByteArray b(2, '\0');
        b[0] = char(v & 0xff);
        b[1] = char(v >> 8 & 0xff);
        return b;
    }
    static QByteArray le32(uint32_t v) {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i) b[i] = char(v >> (8 * i) & 0xff);
        return b;
    }

    struct Found {
        TableDef table;
        std::vector<uint32_t> pages;  // data pages
    };
    static Found find(const QString& path, const QString& tableName) {
        auto f = JetFile::open(path);
        for (const CatalogTable& ct : f->catalog()) {
            if (ct.name != tableName) continue;
            Found out{f->readTableDef(ct.tdefPage, ct.name), {}};
            out.pages = f->usageMapPages(out.table.ownedPagesMap);
            return out;
        }
        ADD_FAILURE() << "no table " << tableName.toStdString();
        return {};
    }
};

}  // namespace

TEST(JetCheck, PassesOnEveryRealJet4AndAceFile) {
    for (const QString& name : kJet4Files) {
        const CheckReport r = JetCheck::run(testutil::jetFile(name));
        EXPECT_TRUE(r.complete) << name.toStdString();
        EXPECT_EQ(r.faults, 0) << name.toStdString() << "\n" << faultLines(r).toStdString();
        // It says what it looked at: the pages, each table with its records and indexes.
        EXPECT_TRUE(r.lines.join('\n').contains("pages: 1 header")) << name.toStdString();
    }
    const CheckReport ace = JetCheck::run(testutil::jetFile("testV2010.accdb"));
    const QString text = ace.lines.join('\n');
    EXPECT_TRUE(text.contains("table Table1: definition 1 page(s), 9 columns, 2 index(es); usage map 1 page(s), matches; 2 records (count matches)"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("table Table2: definition 2 page(s), 89 columns")) << "continued definition";
    EXPECT_TRUE(text.contains("check: 25 tables, 0 fault(s)"));
    const QString mdb = JetCheck::run(testutil::jetFile("test2V2003.mdb")).lines.join('\n');
    EXPECT_TRUE(mdb.contains("index I_MSP_PROJECTS (PROJ_ID): 1 entries in 1 leaf page(s), in order, 1 keys match"));
    EXPECT_TRUE(mdb.contains("5 long value(s) read back"));
}

TEST(JetCheck, Jet3FilesAreCheckedAndNonJetFilesAreNot) {
    const CheckReport jet3 = JetCheck::run(testutil::jetFile("testIndexCodesV1997.mdb"));
    EXPECT_TRUE(jet3.complete);
    EXPECT_EQ(jet3.faults, 0);
    EXPECT_TRUE(jet3.lines.join('\n').contains("Jet 3, 226 pages of 2048 bytes")) << jet3.lines.join('\n').toStdString();

    QTemporaryDir dir;
    QFile junk(dir.filePath("junk.mdb"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(8192, 'x'));
    junk.close();
    const CheckReport r = JetCheck::run(junk.fileName());
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.faults, 1);
}

TEST_F(JetCheckFaults, RecordCountAndDeletedRow) {
    // A definition whose count disagrees with its pages.
    const QString a = copy("test2V2003.mdb");
    Found t = find(a, "MSP_PROJECTS");
    patch(a, qint64(t.table.firstPage) * 4096 + 16, le32(t.table.rowCount + 5));
    // Readers go by the pages and Access leaves counts stale: a note, not a fault.
    CheckReport r = JetCheck::run(a);
    EXPECT_EQ(r.faults, 0) << faultLines(r).toStdString();
    EXPECT_EQ(r.notes, 1);
    EXPECT_TRUE(r.lines.contains("NOTE: table MSP_PROJECTS: the definition counts 6 records, the pages hold 1"));

    // A row marked deleted that its indexes still list.
    const QString b = copy("testV2010.accdb");
    t = find(b, "Table1");
    ASSERT_FALSE(t.pages.empty());
    const qint64 slot = qint64(t.pages[0]) * 4096 + 14;
    QFile f(b);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    f.seek(slot);
    const QByteArray raw = f.read(2);
    f.close();
    patch(b, slot, le16((uint8_t(raw[0]) | uint8_t(raw[1]) << 8) | 0x8000));
    r = JetCheck::run(b);
    const QString faults = faultLines(r);
    EXPECT_TRUE(r.lines.contains("NOTE: table Table1: the definition counts 2 records, the pages hold 1"));
    EXPECT_TRUE(faults.contains("index PrimaryKey (A): an entry points to")) << faults.toStdString();
}

TEST_F(JetCheckFaults, IndexKeyOrderAndLinks) {
    const QString a = copy("test2V2003.mdb");
    const Found t = find(a, "MSysObjects");
    const IndexData* idIndex = nullptr;
    for (const IndexData& d : t.table.indexData)
        if (t.table.indexName(d).startsWith("Id ")) idIndex = &d;
    ASSERT_NE(idIndex, nullptr);
    // The first entry's key: flag 7F and a big-endian Long; bump its last byte past the next key.
    const qint64 firstEntry = qint64(idIndex->rootPage) * 4096 + 0x1e0;
    patch(a, firstEntry + 4, QByteArray(1, char(0xFE)));
    CheckReport r = JetCheck::run(a);
    QString faults = faultLines(r);
    EXPECT_TRUE(faults.contains("index Id (Id): entry 1")) << faults.toStdString();
    EXPECT_TRUE(faults.contains("index Id (Id): the key of record")) << faults.toStdString();

    // A leaf whose sibling link leads elsewhere.
    const QString b = copy("test2V2003.mdb");
    patch(b, qint64(idIndex->rootPage) * 4096 + 16, le32(3));
    r = JetCheck::run(b);
    faults = faultLines(r);
    EXPECT_TRUE(faults.contains(QString("leaf page %1 links to 0/3 instead of 0/0").arg(idIndex->rootPage)))
        << faults.toStdString();

    // A root that is not an index page.
    const QString c = copy("test2V2003.mdb");
    patch(c, qint64(idIndex->rootPage) * 4096, QByteArray(1, char(0x01)));
    r = JetCheck::run(c);
    EXPECT_TRUE(faultLines(r).contains("should be an index page")) << faultLines(r).toStdString();
}

TEST_F(JetCheckFaults, UsageMapFreeSpaceAndLongValues) {
    // Take the table's only page out of its usage map.
    const QString a = copy("test2V2003.mdb");
    Found t = find(a, "MSP_PROJECTS");
    ASSERT_EQ(t.pages.size(), 1u);
    {
        auto f = JetFile::open(a);
        const RowId where = RowId::fromWord(t.table.ownedPagesMap);
        const RowSlot s = f->slot(where.page, where.row);
        const uint8_t* row = f->page(where.page) + s.start;
        ASSERT_EQ(row[0], 0) << "an inline map";
        const uint32_t start = rd32(row + 1);
        const uint32_t bit = t.pages[0] - start;
        const qint64 at = qint64(where.page) * 4096 + s.start + 5 + bit / 8;
        const char cleared = char(row[5 + bit / 8] & ~(1 << (bit % 8)));
        f.reset();
        patch(a, at, QByteArray(1, cleared));
    }
    CheckReport r = JetCheck::run(a);
    EXPECT_TRUE(faultLines(r).contains(
        QString("data page %1 holds its rows but neither its usage map nor the free-page map has it").arg(t.pages[0])))
        << faultLines(r).toStdString();

    // A data page whose free-space field lies.
    const QString b = copy("test2V2003.mdb");
    t = find(b, "MSP_PROJECTS");
    patch(b, qint64(t.pages[0]) * 4096 + 2, le16(7));
    r = JetCheck::run(b);
    EXPECT_TRUE(faultLines(r).contains(QString("data page %1: free space says 7 bytes").arg(t.pages[0])));

    // A Memo stored on its own page whose pointer leads to the header page.
    const QString c = copy("test2V2003.mdb");
    t = find(c, "MSP_PROJECTS");
    qint64 pointerAt = -1;
    {
        auto f = JetFile::open(c);
        const uint32_t pg = t.pages[0];
        const RowSlot s = f->slot(pg, 0);
        const uint8_t* row = f->page(pg) + s.start;
        const auto fields = f->crackRow(t.table, row, s.end - s.start);
        for (size_t i = 0; i < fields.size() && pointerAt < 0; ++i) {
            if (!t.table.columns[i].isLongValue() || !fields[i].present) continue;
            if ((rd32(row + fields[i].offset) & 0x80000000u) == 0)
                pointerAt = qint64(pg) * 4096 + s.start + fields[i].offset + 4;
        }
    }
    ASSERT_GE(pointerAt, 0) << "test2V2003 holds a Memo stored outside its row";
    patch(c, pointerAt, le32(0));
    r = JetCheck::run(c);
    EXPECT_TRUE(faultLines(r).contains("which is not a long-value page")) << faultLines(r).toStdString();
}

// Records moved to another page (the file holds five, made by Access) and the AutoNumber counter.
TEST_F(JetCheckFaults, MovedRecordsAndAutoNumber) {
    // The moved records of MSysAccessStorage: where their pointers are.
    auto pointers = [](const QString& path) {
        std::vector<std::pair<RowId, RowId>> out;
        auto f = JetFile::open(path);
        const Found t = find(path, "MSysAccessStorage");
        for (uint32_t p : t.pages)
            for (int r = 0; r < f->rowCount(p); ++r)
                if (f->slot(p, r).overflow && !f->slot(p, r).deleted) out.push_back({{p, uint8_t(r)}, f->overflowTarget(p, r)});
        return out;
    };
    const QString a = copy("functionsV2003.mdb");
    const auto moved = pointers(a);
    ASSERT_GE(moved.size(), 2u);
    auto offsetFlags = [](RowId r) { return qint64(r.page) * 4096 + 14 + 2 * r.row + 1; };
    auto text = [](RowId r) { return QString("%1:%2").arg(r.page).arg(r.row); };

    // A record deleted without its data row: libmdb would list that row as a record.
    {
        auto f = JetFile::open(a);
        patch(a, offsetFlags(moved[0].first), QByteArray(1, char(f->page(moved[0].first.page)[offsetFlags(moved[0].first) % 4096] | 0xC0)));
    }
    CheckReport r = JetCheck::run(a);
    EXPECT_TRUE(faultLines(r).contains(QString("row %1 has the deleted flag without 0x4000 and no record points to it").arg(text(moved[0].second))))
        << faultLines(r).toStdString();

    // Two records pointing to one data row.
    const QString b = copy("functionsV2003.mdb");
    {
        auto f = JetFile::open(b);
        const RowSlot s = f->slot(moved[1].first.page, moved[1].first.row);
        f.reset();
        patch(b, qint64(moved[1].first.page) * 4096 + s.start, le32(moved[0].second.page << 8 | moved[0].second.row));
    }
    r = JetCheck::run(b);
    EXPECT_TRUE(faultLines(r).contains(QString("2 records point to the data in %1").arg(text(moved[0].second))))
        << faultLines(r).toStdString();

    // An AutoNumber counter below the numbers the table holds.
    const QString c = copy("weirdObjectNames.mdb");
    const Found t = find(c, "19 MB 01 BEZAHLT ???");
    patch(c, qint64(t.table.firstPage) * 4096 + 20, le32(0));
    r = JetCheck::run(c);
    EXPECT_TRUE(faultLines(r).contains("the AutoNumber ID is at 0, below the table's highest value 1")) << faultLines(r).toStdString();
}

// The maps of indexes and of long values.
TEST_F(JetCheckFaults, IndexAndLongValueMaps) {
    // Sets or clears a page's bit in an inline map.
    auto setBit = [](const QString& path, uint32_t mapWord, uint32_t page, bool on) {
        auto f = JetFile::open(path);
        const RowId where = RowId::fromWord(mapWord);
        const RowSlot s = f->slot(where.page, where.row);
        const uint8_t* row = f->page(where.page) + s.start;
        ASSERT_EQ(row[0], 0) << "an inline map";
        const uint32_t bit = page - rd32(row + 1);
        const char byte = char(on ? row[5 + bit / 8] | 1 << (bit % 8) : row[5 + bit / 8] & ~(1 << (bit % 8)));
        const qint64 at = qint64(where.page) * 4096 + s.start + 5 + bit / 8;
        f.reset();
        patch(path, at, QByteArray(1, byte));
    };
    const QString a = copy("functionsV2003.mdb");
    Found t = find(a, "MSysAccessStorage");
    ASSERT_FALSE(t.table.indexData.empty());
    const IndexData idx = t.table.indexData[0];
    setBit(a, idx.usageMap, idx.rootPage, false);
    CheckReport r = JetCheck::run(a);
    EXPECT_TRUE(faultLines(r).contains(QString("its page %1 is not in the index's map").arg(idx.rootPage))) << faultLines(r).toStdString();

    const QString b = copy("functionsV2003.mdb");
    t = find(b, "MSysAccessStorage");
    ASSERT_FALSE(t.table.longValueMaps.empty());
    setBit(b, t.table.longValueMaps[0].owned, t.pages[0], true);
    r = JetCheck::run(b);
    EXPECT_TRUE(faultLines(r).contains(QString("lists page %1, which is no long-value page").arg(t.pages[0]))) << faultLines(r).toStdString();
}

TEST(JetCheckCli, ExitCodesAndOutput) {
    auto run = [](const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(TABULON_CLI), args);
        p.waitForFinished(120000);
        return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()));
    };
    auto [code, out] = run({"check", testutil::jetFile("weirdObjectNames.mdb")});
    EXPECT_EQ(code, 0) << out.toStdString();
    EXPECT_TRUE(out.contains("table 19 MB 01 BEZAHLT ???: definition 1 page(s)")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("check: 11 tables, 0 fault(s)\n")) << out.toStdString();

    std::tie(code, out) = run({"check", testutil::jetFile("testIndexCodesV1997.mdb")});
    EXPECT_EQ(code, 0) << out.toStdString();
    EXPECT_TRUE(out.endsWith("check: 38 tables, 0 fault(s)\n")) << out.toStdString();

    std::tie(code, out) = run({"check", "/nonexistent/x.mdb"});
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(out.contains("error 3024")) << out.toStdString();

    QTemporaryDir dir;
    const QString bad = dir.filePath("bad.mdb");
    ASSERT_TRUE(QFile::copy(testutil::jetFile("test2V2003.mdb"), bad));
    QFile::setPermissions(bad, QFile::ReadOwner | QFile::WriteOwner);
    {
        auto f = JetFile::open(bad);
        const uint32_t tdef = 2;  // MSysObjects
        const uint32_t count = rd32(f->page(tdef) + 16);
        f.reset();
        QFile q(bad);
        ASSERT_TRUE(q.open(QIODevice::ReadWrite));
        q.seek(qint64(tdef) * 4096 + 16);
        const uint32_t wrong = count + 1;
        q.write(reinterpret_cast<const char*>(&wrong), 4);
    }
    std::tie(code, out) = run({"check", bad});
    EXPECT_EQ(code, 0) << out.toStdString();
    EXPECT_TRUE(out.contains("NOTE: table MSysObjects: the definition counts")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("0 fault(s)\n")) << out.toStdString();
    {
        // An index entry pointing at a row that is gone: a fault.
        auto f = JetFile::open(bad);
        uint32_t page = 0;
        for (const CatalogTable& ct : f->catalog())
            if (ct.name == "MSP_PROJECTS") page = f->usageMapPages(f->readTableDef(ct.tdefPage, ct.name).ownedPagesMap).at(0);
        ASSERT_NE(page, 0u);
        const uint16_t slot = uint16_t(rd16(f->page(page) + 14) | 0x8000);
        f.reset();
        QFile q(bad);
        ASSERT_TRUE(q.open(QIODevice::ReadWrite));
        q.seek(qint64(page) * 4096 + 14);
        q.write(reinterpret_cast<const char*>(&slot), 2);
    }
    std::tie(code, out) = run({"check", bad});
    EXPECT_EQ(code, 3) << out.toStdString();
    EXPECT_TRUE(out.contains("FAULT: table MSP_PROJECTS: index")) << out.toStdString();
}

// The writer's leaf encoding reproduces every single-page index leaf Access wrote in the real files
// (entries, shared prefix, entry mask, free space), so a rewritten page reads like Access's own.
TEST(JetIndexPages, LeafPagesReencodeAsAccessWroteThem) {
    int compared = 0;
    for (const QString& name : kJet4Files) {
        auto f = JetFile::open(testutil::jetFile(name));
        for (uint32_t p = 1; p < f->pageCount(); ++p) {
            if (f->pageType(p) != PageIndexLeaf) continue;
            const IndexPage ip = f->readIndexPage(p);
            QByteArray page(reinterpret_cast<const char*>(f->page(p)), f->pageSize());
            QByteArray rewritten = page;
            ASSERT_TRUE(JetFile::encodeLeafPage(reinterpret_cast<uint8_t*>(rewritten.data()), f->pageSize(), ip.entries));
            // Bytes past the entries are left over from earlier contents in Access's pages.
            const int used = 0x1e0 + ip.usedBytes;
            EXPECT_EQ(rewritten.left(used).toHex().toStdString(), page.left(used).toHex().toStdString())
                << name.toStdString() << " page " << p;
            ++compared;
        }
    }
    EXPECT_GT(compared, 50);
}

// Packing a data page again: every other row keeps its bytes and number, deleted rows keep their
// mark and take no room, the free-space field follows; rows that do not fit leave the page as it was.
TEST(JetDataPages, RepackKeepsRowsAndRefusesWhatDoesNotFit) {
    auto f = JetFile::open(testutil::jetFile("testV2010.accdb"));
    int pagesTried = 0;
    for (uint32_t p = 1; p < f->pageCount(); ++p) {
        if (f->pageType(p) != PageData || f->rowCount(p) < 3) continue;
        const int n = f->rowCount(p);
        QByteArray page(reinterpret_cast<const char*>(f->page(p)), f->pageSize());
        auto* bytes = reinterpret_cast<uint8_t*>(page.data());
        int target = -1;
        for (int r = 0; r < n && target < 0; ++r)
            if (!JetFile::slotIn(bytes, f->pageSize(), p, r).deleted) target = r;
        if (target < 0) continue;
        const RowSlot old = JetFile::slotIn(bytes, f->pageSize(), p, target);
        const QByteArray grown = QByteArray(reinterpret_cast<const char*>(bytes + old.start), old.end - old.start) + "xyz";
        const int freeBefore = rd16(bytes + 2);
        if (freeBefore < 3) continue;
        QByteArray repacked = page;
        ASSERT_TRUE(JetFile::repackDataPage(reinterpret_cast<uint8_t*>(repacked.data()), f->pageSize(), target, grown));
        const auto* nb = reinterpret_cast<const uint8_t*>(repacked.constData());
        int lowest = f->pageSize();
        for (int r = 0; r < n; ++r) {
            const RowSlot a = JetFile::slotIn(bytes, f->pageSize(), p, r);
            const RowSlot b = JetFile::slotIn(nb, f->pageSize(), p, r);
            EXPECT_EQ(a.deleted, b.deleted);
            lowest = std::min(lowest, b.start);
            if (a.deleted) {
                EXPECT_EQ(b.end - b.start, 0);
                continue;
            }
            const QByteArray want = r == target ? grown : QByteArray(reinterpret_cast<const char*>(bytes + a.start), a.end - a.start);
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(nb + b.start), b.end - b.start), want) << "page " << p << " row " << r;
        }
        EXPECT_EQ(rd16(nb + 2), lowest - (14 + 2 * n));
        EXPECT_GE(rd16(nb + 2) + 3, freeBefore) << "nothing but the growth is spent";
        QByteArray untouched = page;
        EXPECT_FALSE(JetFile::repackDataPage(reinterpret_cast<uint8_t*>(untouched.data()), f->pageSize(), target,
                                             QByteArray(f->pageSize(), 'x')));
        EXPECT_EQ(untouched, page);
        ++pagesTried;
    }
    EXPECT_GT(pagesTried, 3);
}

// The file's free-page map against the file's length: pages past the end count as free, and the map
// refers to no page the file does not have.
TEST_F(JetCheckFaults, FreePageMapAgainstTheFilesLength) {
    // Page 1, row 0, of a copy: where its bytes are, and the file's page count.
    auto freeMap = [](const QString& path) {
        auto f = JetFile::open(path);
        const RowSlot s = f->slot(1, 0);
        EXPECT_EQ(f->page(1)[s.start], 0) << "an inline map";
        EXPECT_EQ(rd32(f->page(1) + s.start + 1), 0u) << "from page 0";
        return std::make_tuple(qint64(4096) + s.start, s.end - s.start, f->pageCount());
    };

    const QString a = copy("functionsV2003.mdb");
    const auto [at, length, pages] = freeMap(a);
    ASSERT_LT(pages + 20, uint32_t(length - 5) * 8);
    // Two pages past the end taken out of the map, as if in use; the page right at the end too.
    patch(a, at + 5 + (pages + 9) / 8, QByteArray(1, '\0'));
    {
        QFile in(a);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        in.seek(at + 5 + pages / 8);
        const char byte = in.read(1).at(0);
        in.close();
        patch(a, at + 5 + pages / 8, QByteArray(1, char(byte & ~(1 << (pages % 8)))));
    }
    CheckReport r = JetCheck::run(a);
    const int cleared = 8 + 1;
    // Access leaves such bits: a note.
    EXPECT_TRUE(r.lines.join('\n').contains(QString("the free-page map marks %1 page(s) past the end of the file (%2 pages) as in use, from page %2")
                                           .arg(cleared)
                                           .arg(pages)))
        << r.lines.join('\n').toStdString();
    EXPECT_EQ(r.faults, 0) << faultLines(r).toStdString();
    EXPECT_EQ(r.notes, 1);

    // A window running past the last page number.
    const QString b = copy("functionsV2003.mdb");
    patch(b, at + 1, le32(0xFFFFFF00u));
    r = JetCheck::run(b);
    EXPECT_TRUE(faultLines(r).contains("the free-page map covers pages 4294967040 to 4294967551, past the last page number"))
        << faultLines(r).toStdString();

    // A list of map pages naming one past the end (as Access leaves some files): it lists nothing,
    // a note; a map page of the wrong type inside the file is a fault.
    const QString c = copy("functionsV2003.mdb");
    QByteArray list(length, '\0');
    list[0] = 1;
    list.replace(5, 4, le32(pages + 3));
    patch(c, at, list);
    r = JetCheck::run(c);
    EXPECT_TRUE(r.lines.contains(QString("NOTE: the free-page map refers to map page %1, past the end of the file (%2 pages)")
                                     .arg(pages + 3)
                                     .arg(pages)))
        << r.lines.join('\n').toStdString();
    EXPECT_FALSE(faultLines(r).contains("map page")) << faultLines(r).toStdString();
    list.replace(1, 4, le32(3));
    patch(c, at, list);
    r = JetCheck::run(c);
    EXPECT_TRUE(faultLines(r).contains("the free-page map cannot be read: the free-page map refers to page 3, which is not a map page"))
        << faultLines(r).toStdString();
}

// A key the writer has no exact encoding for is not counted as matching.
TEST_F(JetCheckFaults, KeysWithoutAnExactEncodingAreNotCountedAsMatching) {
    const QString a = copy("testV2010.accdb");
    const Found t = find(a, "Table1");
    qint64 at = -1;
    {
        auto f = JetFile::open(a);
        for (uint32_t p : t.pages)
            for (int r = 0; r < f->rowCount(p); ++r) {
                const RowSlot s = f->slot(p, r);
                if (s.deleted) continue;
                const uint8_t* row = f->page(p) + s.start;
                const std::vector<FieldRef> fields = f->crackRow(t.table, row, s.end - s.start);
                for (size_t c = 0; c < t.table.columns.size(); ++c) {
                    const FieldRef& fr = fields[c];
                    if (t.table.columns[c].name != "B" || !fr.present) continue;
                    if (JetFile::decodeText(row + fr.offset, fr.size) != "hijklmnop") continue;
                    ASSERT_EQ(QByteArray(reinterpret_cast<const char*>(row + fr.offset), 4).toHex(), "68006900") << "UCS-2 text";
                    at = qint64(p) * 4096 + s.start + fr.offset;
                }
            }
    }
    ASSERT_GE(at, 0);
    // "Æé…": where the accent goes after Æ is not known in the ACE order.
    patch(a, at, QByteArray("\xC6\x00\xE9\x00", 4));
    const QString report = JetCheck::run(a).lines.join('\n');
    EXPECT_TRUE(report.contains("index B (B): 2 entries in 1 leaf page(s), in order, 1 keys match, 1 not compared")) << report.toStdString();
}
