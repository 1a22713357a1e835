// Index B-trees of several pages: entries go in and out in any order, pages split (the root too)
// and empty pages leave the tree, and after every step the tree reads as one: entries in order, each
// node entry naming the last entry below it, each level linked both ways, free space as the entries
// leave it. The tree grows inside a copy of a real file's bytes, from one of its real indexes.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <functional>
#include <random>
#include <set>

#include "JetOracles.h"
#include "TestUtil.h"
#include "platform/dao/JetFile.h"
#include "platform/dao/JetIndexTree.h"
#include "platform/dao/JetSortCodes.h"
#include "platform/dao/JetTextKey.h"

namespace {
using namespace dao::jet;

constexpr int kPageSize = 4096;

// A real file's pages in memory, with blank pages at its end that the tree may take.
struct MemoryFile {
    QByteArray bytes;
    uint32_t firstFree = 0;
    std::set<uint32_t> released;

    MemoryFile(const QString& name, int spare) {
        QFile f(testutil::jetFile(name));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        bytes = f.readAll();
        firstFree = uint32_t(bytes.size() / kPageSize);
        bytes.append(spare * kPageSize, '\0');
    }
    JetIndexTree::Store store() {
        JetIndexTree::Store s;
        s.pageSize = kPageSize;
        s.pageCount = uint32_t(bytes.size() / kPageSize);
        s.read = [this](uint32_t p) { return reinterpret_cast<const uint8_t*>(bytes.constData()) + size_t(p) * kPageSize; };
        s.write = [this](uint32_t p) { return reinterpret_cast<uint8_t*>(bytes.data()) + size_t(p) * kPageSize; };
        s.allocate = [this]() -> uint32_t { return firstFree < bytes.size() / kPageSize ? firstFree++ : 0; };
        s.release = [this](uint32_t p) { released.insert(p); };
        return s;
    }
    IndexPage page(uint32_t n) const {
        return JetFile::parseIndexPage(reinterpret_cast<const uint8_t*>(bytes.constData()) + size_t(n) * kPageSize,
                                       kPageSize, n);
    }
};

struct TreeShape {
    std::vector<IndexEntry> entries;  // leaves' entries, left to right
    int depth = 0;
    int pages = 0;
    bool prefixed = false;  // some page shares a prefix between its entries
};

// Walks the tree, failing the test on every break of its rules.
TreeShape walk(const MemoryFile& m, uint32_t root) {
    TreeShape shape;
    std::map<int, std::vector<uint32_t>> levels;
    std::function<void(uint32_t, int)> visit = [&](uint32_t pg, int depth) {
        const IndexPage ip = m.page(pg);
        ++shape.pages;
        shape.depth = std::max(shape.depth, depth + 1);
        shape.prefixed = shape.prefixed || ip.prefixLength > 0;
        levels[depth].push_back(pg);
        EXPECT_EQ(ip.freeSpace, kPageSize - 0x1e0 - ip.usedBytes) << "page " << pg;
        if (ip.type == PageIndexLeaf) {
            for (const IndexEntry& e : ip.entries) shape.entries.push_back(e);
            return;
        }
        ASSERT_EQ(ip.type, PageIndexNode);
        ASSERT_FALSE(ip.entries.empty()) << "empty node " << pg;
        EXPECT_EQ(ip.tail, ip.entries.back().child) << "node " << pg << " ends with its last child";
        for (const IndexEntry& e : ip.entries) {
            visit(e.child, depth + 1);
            ASSERT_FALSE(shape.entries.empty());
            EXPECT_EQ(JetFile::compareEntries(shape.entries.back(), e), 0) << "node " << pg << " names the last entry below";
        }
    };
    visit(root, 0);
    for (size_t i = 1; i < shape.entries.size(); ++i)
        EXPECT_LT(JetFile::compareEntries(shape.entries[i - 1], shape.entries[i]), 0) << "entry " << i;
    for (const auto& [depth, pages] : levels) {
        for (size_t i = 0; i < pages.size(); ++i) {
            const IndexPage ip = m.page(pages[i]);
            EXPECT_EQ(ip.prev, i ? pages[i - 1] : 0u) << "page " << pages[i];
            EXPECT_EQ(ip.next, i + 1 < pages.size() ? pages[i + 1] : 0u) << "page " << pages[i];
        }
    }
    return shape;
}

std::vector<IndexEntry> sorted(std::vector<IndexEntry> v) {
    std::sort(v.begin(), v.end(), [](const IndexEntry& a, const IndexEntry& b) { return JetFile::compareEntries(a, b) < 0; });
    return v;
}

void expectEntries(const TreeShape& shape, const std::vector<IndexEntry>& want) {
    const std::vector<IndexEntry> w = sorted(want);
    ASSERT_EQ(shape.entries.size(), w.size());
    for (size_t i = 0; i < w.size(); ++i) {
        EXPECT_EQ(shape.entries[i].key, w[i].key) << i;
        EXPECT_TRUE(shape.entries[i].row == w[i].row) << i;
    }
}

// Table1's primary key of the ACE file: one leaf with two entries, its rows kept.
struct RealIndex {
    uint32_t root = 0;
    std::vector<IndexEntry> existing;
};

RealIndex primaryKeyOfTable1(const MemoryFile& m) {
    const auto f = JetFile::open(testutil::jetFile("testV2010.accdb"));
    RealIndex r;
    for (const CatalogTable& ct : f->catalog()) {
        if (ct.name != "Table1") continue;
        const TableDef t = f->readTableDef(ct.tdefPage, ct.name);
        for (const LogicalIndex& li : t.indexes)
            if (li.name == "PrimaryKey") r.root = t.indexData[size_t(li.dataNumber)].rootPage;
    }
    r.existing = m.page(r.root).entries;
    return r;
}

}  // namespace

TEST(JetIndexTree, GrowsSplitsAndShrinksInAnyOrder) {
    MemoryFile m("testV2010.accdb", 600);
    const RealIndex real = primaryKeyOfTable1(m);
    ASSERT_NE(real.root, 0u);
    ASSERT_EQ(real.existing.size(), 2u);
    JetIndexTree tree(m.store(), real.root, "PrimaryKey (A)");

    // Long text keys, so that few fit on a page and the tree grows three levels deep.
    std::vector<IndexEntry> all = real.existing;
    std::vector<IndexEntry> added;
    for (int i = 0; i < 3000; ++i) {
        const QString text = QString("record %1 of the long keys that fill index pages quickly").arg(i % 1500, 5, 10, QChar('0'));
        added.push_back({*JetTextKey::encode(JetSortCodes::general(), text, true), RowId{uint32_t(2000 + i / 200), uint8_t(i % 200)}, 0});
    }
    std::mt19937 rng(7);
    std::shuffle(added.begin(), added.end(), rng);
    QString why;
    for (size_t i = 0; i < added.size(); ++i) {
        ASSERT_TRUE(tree.insert(added[i], why)) << i << ": " << why.toStdString();
        all.push_back(added[i]);
        if (i == 40) expectEntries(walk(m, real.root), all);  // the first split of the root
    }
    TreeShape shape = walk(m, real.root);
    expectEntries(shape, all);
    EXPECT_GE(shape.depth, 3);
    EXPECT_TRUE(shape.prefixed) << "full pages share their entries' common prefix";
    EXPECT_TRUE(tree.hasKey(added[5].key, why));
    EXPECT_FALSE(tree.hasKey(*JetTextKey::encode(JetSortCodes::general(), "record 99999", true), why));

    // Out again in another order, half of them found by key and half by row alone.
    std::shuffle(added.begin(), added.end(), rng);
    for (size_t i = 0; i < added.size(); ++i) {
        const std::optional<QByteArray> key = i % 2 ? std::optional<QByteArray>(added[i].key) : std::nullopt;
        ASSERT_TRUE(tree.remove(key, added[i].row, why)) << i << ": " << why.toStdString();
        if (i == 2000) {
            std::vector<IndexEntry> left = real.existing;
            left.insert(left.end(), added.begin() + 2001, added.end());
            expectEntries(walk(m, real.root), left);
        }
    }
    shape = walk(m, real.root);
    expectEntries(shape, real.existing);
    EXPECT_FALSE(m.released.empty()) << "emptied pages are given back";
    EXPECT_FALSE(tree.remove(std::nullopt, RowId{2000, 0}, why));
    EXPECT_TRUE(why.contains("does not list the record")) << why.toStdString();
}

TEST(JetIndexTree, AppendsAtTheEndAndRefusesASplitWithoutANewPage) {
    MemoryFile m("testV2010.accdb", 200);
    const RealIndex real = primaryKeyOfTable1(m);
    JetIndexTree tree(m.store(), real.root, "PrimaryKey (A)");
    // Ascending keys (an AutoNumber's pattern): every entry goes to the last page.
    std::vector<IndexEntry> all = real.existing;
    QString why;
    for (uint32_t i = 0; i < 5000; ++i) {
        // A Long key: the flag, then the number big-endian with its sign bit flipped.
        const uint32_t v = i ^ 0x80000000u;
        const QByteArray key = QByteArray(1, char(0x7f)) + char(v >> 24) + char(v >> 16 & 0xff) + char(v >> 8 & 0xff) + char(v & 0xff);
        IndexEntry e{key, RowId{3000 + i / 100, uint8_t(i % 100)}, 0};
        ASSERT_TRUE(tree.insert(e, why)) << i << ": " << why.toStdString();
        all.push_back(e);
    }
    const TreeShape shape = walk(m, real.root);
    expectEntries(shape, all);
    EXPECT_GE(shape.depth, 2);

    // No page to be had: the split is refused, and the pages stay as they were.
    MemoryFile full("testV2010.accdb", 0);
    const RealIndex r2 = primaryKeyOfTable1(full);
    JetIndexTree small(full.store(), r2.root, "PrimaryKey (A)");
    bool refused = false;
    for (int i = 0; i < 1000 && !refused; ++i) {
        IndexEntry e{QByteArray(60, char(0x20 + i % 50)), RowId{5000, uint8_t(i % 200)}, 0};
        const QByteArray before = full.bytes;
        refused = !small.insert(e, why);
        if (refused) EXPECT_EQ(full.bytes, before);
    }
    ASSERT_TRUE(refused);
    EXPECT_TRUE(why.contains("Index PrimaryKey (A) is full on its page and no new page can be had for it")) << why.toStdString();
}

// The writer keeps the pages its trees change parsed (IndexPageCache) and encodes them once, when
// the batch goes to the file: the bytes must be the ones a tree that encodes every change writes,
// also after a statement taken back and after another writer changed pages behind the cache.
TEST(JetIndexTree, KeptPagesWriteBackWhatEagerTreesWrite) {
    MemoryFile plain("testV2010.accdb", 300), kept("testV2010.accdb", 300);
    const RealIndex real = primaryKeyOfTable1(plain);
    IndexPageCache cache;
    JetIndexTree::Store keptStore = kept.store();
    keptStore.pages = &cache;
    JetIndexTree a(plain.store(), real.root, "PrimaryKey (A)"), b(keptStore, real.root, "PrimaryKey (A)");
    JetIndexTree other(kept.store(), real.root, "PrimaryKey (A)");  // another writer, past the cache
    std::vector<IndexEntry> added;
    for (int i = 0; i < 1500; ++i) {
        const QString text = QString("key %1 of a text long enough to split pages").arg(i * 7919 % 1500, 5, 10, QChar('0'));
        added.push_back({*JetTextKey::encode(JetSortCodes::general(), text, true), RowId{uint32_t(2000 + i / 200), uint8_t(i % 200)}, 0});
    }
    const auto writeBack = [&] { cache.writeBack(kPageSize, keptStore.write); };
    QString why;
    QByteArray undoPlain, undoKept;
    for (size_t i = 0; i < added.size(); ++i) {
        if (i == 600) {
            // A statement of 300 adds (splits among them) that is taken back.
            cache.beginStatement();
            undoPlain = plain.bytes;
            undoKept = kept.bytes;
        }
        ASSERT_TRUE(a.insert(added[i], why)) << why.toStdString();
        if (i >= 1200 && i < 1250) {
            ASSERT_TRUE(other.insert(added[i], why)) << why.toStdString();
        } else {
            ASSERT_TRUE(b.insert(added[i], why)) << why.toStdString();
        }
        if (i == 900) {
            plain.bytes = undoPlain;
            kept.bytes = undoKept;
            cache.abortStatement();
            plain.firstFree = kept.firstFree = std::max(plain.firstFree, kept.firstFree);
        }
        if (i % 97 == 0 && (i < 600 || i > 900)) {
            writeBack();
            ASSERT_EQ(plain.bytes, kept.bytes) << "after add " << i;
        }
        if (i == 1199) writeBack();  // the other writer works on what is in the file
    }
    for (size_t i = 0; i < 600; i += 2) {
        ASSERT_TRUE(a.remove(added[i].key, added[i].row, why)) << why.toStdString();
        ASSERT_TRUE(b.remove(added[i].key, added[i].row, why)) << why.toStdString();
    }
    writeBack();
    EXPECT_EQ(plain.bytes, kept.bytes);
    std::vector<IndexEntry> left = real.existing;
    for (size_t i = 0; i < added.size(); ++i)
        if (i >= 901 || (i < 600 && i % 2 == 1)) left.push_back(added[i]);
    expectEntries(walk(kept, real.root), left);
}

// A kept page measures its entries from what it keeps of them (their key bytes, their shared prefix)
// after every kind of change, a statement taken back included: what it finds must be what
// measuring the entries afresh finds, or a page would be written with the wrong prefix or split
// when it need not be.
TEST(JetIndexTree, KeptPagesMeasureTheirEntriesAsTheEntriesThemselvesDo) {
    std::mt19937 rng(23);
    const QByteArray bytes(kPageSize, '\0');
    const auto* raw = reinterpret_cast<const uint8_t*>(bytes.constData());
    auto key = [&] {
        // Most keys share eight bytes; now and then one shares fewer, or is shorter than the rest.
        const int shared = rng() % 200 == 0 ? int(rng() % 8) : 8;
        QByteArray k = QByteArray("ABCDEFGH").left(shared);
        for (int i = int(rng() % 6); i >= 0; --i) k += char('a' + rng() % 3);
        return k;
    };
    for (uint8_t type : {uint8_t(PageIndexLeaf), uint8_t(PageIndexNode)}) {
        IndexPageCache cache;
        const uint32_t number = 7;
        cache.create(number, type);
        cache.beginStatement();
        bool inStatement = false;
        int prefixed = 0, refused = 0;
        for (int step = 0; step < 4000; ++step) {
            IndexPageCache::Page& p = cache.get(number, raw, kPageSize);  // kept: it is dirty
            auto& es = p.parsed.entries;
            const size_t n = es.size();
            const int op = int(rng() % 12);
            if (n < 200 || (op < 6 && n < 330)) {
                cache.insertEntry(p, rng() % (n + 1), {key(), RowId{uint32_t(rng() % 900), uint8_t(rng() % 200)}, 3});
            } else if (op < 9) {
                cache.setEntry(p, rng() % n, {key(), RowId{1, 1}, 0});
            } else if (op < 11) {
                cache.eraseEntry(p, rng() % n);
            } else if (!inStatement) {
                cache.beginStatement();
                inStatement = true;
                if (rng() % 2) cache.touch(p, true);  // the whole page kept for the undo
            } else {
                cache.abortStatement();
                inStatement = false;
            }
            const IndexPageCache::Page& now = cache.get(number, raw, kPageSize);
            const int kept = JetIndexTree::layoutOf(kPageSize, now);
            ASSERT_EQ(kept, JetIndexTree::layoutOf(kPageSize, type, now.parsed.entries)) << "step " << step;
            prefixed += kept > 0;
            refused += kept < 0;
        }
        // Full enough to need their prefix, and at times more than it gives.
        EXPECT_GT(prefixed, 100);
        EXPECT_GT(refused, 100);
    }
}

// Through the writer, on a copy of the ACE file: 10,000 records added to a table with two text
// indexes (keys with accents, added out of order) split their leaves and roots; then deletes and
// key edits take entries out of the grown trees. The three readers and the check follow each step.
namespace {

class JetIndexTrees : public jettest::JetFileTest {
protected:
    void expectLines(const std::string& what, const QString& actual, const QString& expected) {
        if (actual == "skipped") return;
        const QStringList a = actual.split('\n'), e = expected.split('\n');
        for (int i = 0; i < std::min(a.size(), e.size()); ++i)
            if (a[i] != e[i]) {
                ADD_FAILURE() << what << ", line " << i + 1 << ": " << a[i].toStdString() << " instead of " << e[i].toStdString();
                return;
            }
        EXPECT_EQ(a.size(), e.size()) << what;
    }
    // Records a..b as each reader prints them (A, B, E, I set; the rest Null).
    void expectRecords(const QString& f, const std::vector<std::pair<int, QString>>& records) {
        QString engine = "A\tB\tE\n", exported = "A,B,C,D,E,F,G,H,I\n",
                js = "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n";
        exported += "\"a\",\"b\",0,0,0,0,\"1981-12-12 00:00:00\",0.0000,0\n"
                    "\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21 00:00:00\",3.5000,1\n";
        js += "[\"a\",\"b\",0,0,0,0,\"1981-12-12T00:00:00.000Z\",\"0.0000\",false]\n"
              "[\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21T00:00:00.000Z\",\"3.5000\",true]\n";
        engine += "a\tb\t0\n";
        for (const auto& [i, a] : records) {
            const QString b = QString("crème brûlée %1").arg(i);
            engine += QString("%1\t%2\t%3\n").arg(a, b).arg(i);
            exported += QString("\"%1\",\"%2\",,,%3,,,,1\n").arg(a, b).arg(i);
            js += QString("[\"%1\",\"%2\",null,null,%3,null,null,null,true]\n").arg(a, b).arg(i);
        }
        engine += "abcdefg\thijklmnop\t333333333\n";
        expectLines("our engine", ours(f, "select A, B, E from Table1 order by E"), engine);
        expectLines("mdb-export", mdbExport(f, "Table1"), exported);
        expectLines("mdb-reader", mdbReader(f, "Table1"), js);
        const CheckReport rep = JetCheck::run(f);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
    }
};

QString keyOf(int i) { return QString("Ñandú %1").arg(i * 7919 % 10007, 5, 10, QChar('0')); }

}  // namespace

TEST_F(JetIndexTrees, TenThousandRecordsIntoAnIndexedTableThenDeletesAndKeyEdits) {
    const QString f = copy("testV2010.accdb");
    constexpr int kRecords = 10000;
    {
        auto db = dao::OpenDatabase(f);
        for (int i = 1; i <= kRecords; ++i)
            db->Execute(QString("insert into Table1 (A, B, E, I) values ('%1', 'crème brûlée %2', %2, True)").arg(keyOf(i)).arg(i));
        db->Close();
    }
    std::vector<std::pair<int, QString>> records;
    for (int i = 1; i <= kRecords; ++i) records.push_back({i, keyOf(i)});
    expectRecords(f, records);
    const QString report = JetCheck::run(f).lines.join('\n');
    for (const QString& index : {QString("PrimaryKey (A)"), QString("B (B)")}) {
        const auto m = QRegularExpression(QString("index %1: %2 entries in (\\d+) leaf page\\(s\\), in order, %2 keys match")
                                              .arg(QRegularExpression::escape(index)).arg(kRecords + 2))
                           .match(report);
        ASSERT_TRUE(m.hasMatch()) << index.toStdString() << "\n" << report.toStdString();
        EXPECT_GT(m.captured(1).toInt(), 50) << index.toStdString();
        std::cout << index.toStdString() << ": " << m.captured(1).toStdString() << " leaf pages\n";
    }

    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("delete from Table1 where E >= 1 and E <= 3000"), 3000);
        for (int i = 9901; i <= kRecords; ++i)
            EXPECT_EQ(db->Execute(QString("update Table1 set A = 'Über %1' where E = %1").arg(i)), 1);
        // A key that another record holds is refused.
        try {
            db->Execute("update Table1 set A = 'Über 9950' where E = 5000");
            ADD_FAILURE() << "a duplicate primary key went through";
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), 3022) << e.description().toStdString();
        }
        db->Close();
    }
    records.erase(records.begin(), records.begin() + 3000);
    for (auto& [i, a] : records)
        if (i > 9900) a = QString("Über %1").arg(i);
    expectRecords(f, records);

    // A run of neighbouring keys: whole leaves empty and go to the file's free pages.
    const auto inRun = [](const QString& a) { return a >= "Ñandú 02000" && a < "Ñandú 04000"; };
    const long long run = std::count_if(records.begin(), records.end(), [&](const auto& r) { return inRun(r.second); });
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("delete from Table1 where A >= 'Ñandú 02000' and A < 'Ñandú 04000'"), run);
        db->Close();
    }
    records.erase(std::remove_if(records.begin(), records.end(), [&](const auto& r) { return inRun(r.second); }), records.end());
    expectRecords(f, records);
    const auto file = JetFile::open(f);
    int freedLeaves = 0;
    for (uint32_t p : file->usageMapPages(1u << 8))
        if (p < file->pageCount() && file->pageType(p) == PageIndexLeaf) ++freedLeaves;
    EXPECT_GT(freedLeaves, 5);
}

// A statement that changes many keys (leaves and nodes split) and then fails is taken back whole,
// and a batch whose pages the file cannot take leaves it as it was; the adds made again afterwards
// land, and the readers and the check agree.
TEST_F(JetIndexTrees, AFailedStatementOrCommitLeavesTheIndexesAsTheyWere) {
    const QString f = copy("testV2010.accdb");
    const auto sha = [&] {
        QFile file(f);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    };
    const auto add = [](dao::Database& db, int from, int to) {
        for (int i = from; i <= to; ++i)
            db.Execute(QString("insert into Table1 (A, B, E, I) values ('%1', 'crème brûlée %2', %2, True)").arg(keyOf(i)).arg(i));
    };
    std::vector<std::pair<int, QString>> records;
    for (int i = 1; i <= 3000; ++i) records.push_back({i, keyOf(i)});
    auto db = dao::OpenDatabase(f);
    add(*db, 1, 3000);
    db->Execute(QString("insert into Table1 (A, B, E, I) values ('zz', '%1', -1, True)").arg(keyOf(2500)));
    db->Flush();
    const QByteArray before = sha();
    // Every key of the first 2000 records grows (their leaves split) until the last record's new
    // key is one another record holds.
    try {
        db->Execute("update Table1 set A = B where E <= 2000");
        ADD_FAILURE() << "a duplicate primary key went through";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3022) << e.description().toStdString();
    }
    db->Flush();
    EXPECT_EQ(sha(), before);
    db->Execute("delete from Table1 where E = -1");
    db->Flush();

    jettest::FailingJournal journal;
    int& failures = journal.left;
    const QByteArray committed = sha();
    failures = 1000000;
    int reported = 0;  // a batch that failed is reported by the next write, or by the flush
    for (int i = 3001; i <= 4500; ++i) {
        try {
            add(*db, i, i);
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), dao::err::DiskFull) << e.description().toStdString();
            ++reported;
        }
    }
    try {
        db->Flush();
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::DiskFull) << e.description().toStdString();
        ++reported;
    }
    EXPECT_GT(reported, 0) << "the adds the file did not take were not reported";
    EXPECT_EQ(sha(), committed);
    failures = 0;
    add(*db, 3001, 4500);
    db->Close();
    for (int i = 3001; i <= 4500; ++i) records.push_back({i, keyOf(i)});
    expectRecords(f, records);
}
