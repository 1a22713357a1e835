// Writing Jet files safely: the page journal (all pages of a batch or none, across crashes and
// kills) and the refusals, which name their reason and leave the file byte-identical.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <random>
#include <stdexcept>

#include "TestUtil.h"
#include "platform/dao/JetProtection.h"
#include "platform/dao/Dao.h"
#include "platform/dao/Error.h"
#include "platform/dao/JetCheck.h"
#include "platform/dao/JetFile.h"
#include "platform/dao/JetFormat.h"
#include "JetOracles.h"
#include "platform/dao/JetPageJournal.h"
#include "platform/dao/JetUnknownPages.h"
#include "platform/dao/JetWriteGate.h"

using dao::jet::JetPageJournal;
using dao::jet::JetWriteGate;

namespace {

constexpr int kPage = 4096;

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray sha256(const QString& path) { return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256); }

struct SimulatedCrash : std::runtime_error {
    SimulatedCrash() : std::runtime_error("crash") {}
};

class JetJournal : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath("pages.mdb");
        QFile f(path_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (int p = 0; p < 8; ++p) f.write(QByteArray(kPage, char('a' + p)));
    }
    void TearDown() override { JetPageJournal::testHook() = nullptr; }

    // Three pages changed and one added past the end.
    static std::map<uint32_t, QByteArray> batch() {
        return {{1, QByteArray(kPage, 'X')}, {4, QByteArray(kPage, 'Y')}, {6, QByteArray(kPage, 'Z')},
                {8, QByteArray(kPage, 'N')}};
    }

    QTemporaryDir dir_;
    QString path_;
};

}  // namespace

TEST_F(JetJournal, ABatchLandsWholeAndLeavesNoJournal) {
    const QByteArray before = readFile(path_);
    JetPageJournal::writeBatch(path_, kPage, batch());
    const QByteArray after = readFile(path_);
    ASSERT_EQ(after.size(), 9 * kPage);
    EXPECT_EQ(after.mid(1 * kPage, kPage), QByteArray(kPage, 'X'));
    EXPECT_EQ(after.mid(8 * kPage, kPage), QByteArray(kPage, 'N'));
    EXPECT_EQ(after.mid(2 * kPage, kPage), before.mid(2 * kPage, kPage));
    EXPECT_FALSE(QFile::exists(JetPageJournal::journalPath(path_)));
    EXPECT_FALSE(JetPageJournal::recover(path_));
}

TEST_F(JetJournal, ACrashAtAnyStepRollsBackAtTheNextOpen) {
    const QByteArray before = readFile(path_);
    // Each step, and each page write, in turn; "removed" is past the point of no return.
    const std::vector<std::pair<std::string, int>> crashes = {
        {"journal-half", 1}, {"journal", 1}, {"page", 1}, {"page", 2}, {"page", 4}, {"synced", 1}};
    for (const auto& [where, nth] : crashes) {
        int seen = 0;
        JetPageJournal::testHook() = [&, where = where, nth = nth](const char* step) {
            if (where == step && ++seen == nth) throw SimulatedCrash();
        };
        EXPECT_THROW(JetPageJournal::writeBatch(path_, kPage, batch()), SimulatedCrash) << where;
        JetPageJournal::testHook() = nullptr;
        if (where == "journal") {
            // Before-images of the three pages the file had; the added one is undone by the length.
            const qint64 journal = QFileInfo(JetPageJournal::journalPath(path_)).size();
            EXPECT_GT(journal, 3 * kPage);
            EXPECT_LT(journal, 4 * kPage);
        }
        JetPageJournal::recover(path_);
        EXPECT_EQ(readFile(path_), before) << "crash at " << where << " #" << nth;
        EXPECT_FALSE(QFile::exists(JetPageJournal::journalPath(path_)));
    }
    JetPageJournal::testHook() = [](const char* step) {
        if (std::string(step) == "removed") throw SimulatedCrash();
    };
    EXPECT_THROW(JetPageJournal::writeBatch(path_, kPage, batch()), SimulatedCrash);
    JetPageJournal::recover(path_);
    EXPECT_EQ(readFile(path_).mid(4 * kPage, kPage), QByteArray(kPage, 'Y')) << "a durable batch stays";
}

TEST_F(JetJournal, ADamagedJournalIsDroppedNotApplied) {
    const QByteArray before = readFile(path_);
    JetPageJournal::testHook() = [](const char* step) {
        if (std::string(step) == "journal") throw SimulatedCrash();
    };
    EXPECT_THROW(JetPageJournal::writeBatch(path_, kPage, batch()), SimulatedCrash);
    // One flipped byte: the checksum no longer matches, so nothing in it may be trusted. The pages
    // were not written yet when the journal was incomplete, so the file stays as it is.
    QFile j(JetPageJournal::journalPath(path_));
    ASSERT_TRUE(j.open(QIODevice::ReadWrite));
    j.seek(100);
    j.write("!");
    j.close();
    EXPECT_FALSE(JetPageJournal::recover(path_));
    EXPECT_EQ(readFile(path_), before);
    EXPECT_FALSE(QFile::exists(JetPageJournal::journalPath(path_)));
}

// A child writes batch after batch (every batch sets the same 16 pages to its number) and is
// killed at a random moment; after recovery all 16 pages must carry one batch number.
TEST_F(JetJournal, KilledWritersLeaveWholeBatches) {
    std::mt19937 rng(20261207);
    std::vector<uint32_t> pages;
    for (uint32_t p = 0; p < 16; ++p) pages.push_back(p * 3 % 8 + (p >= 8 ? 8 : 0));
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    std::map<uint32_t, QByteArray> base;
    for (uint32_t p : pages) base[p] = QByteArray(kPage, '\0');
    JetPageJournal::writeBatch(path_, kPage, base);
    int sawProgress = 0;
    for (int run = 0; run < 20; ++run) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int k = 1;; ++k) {
                std::map<uint32_t, QByteArray> b;
                for (uint32_t p : pages) b[p] = QByteArray(kPage, char(k & 0x7f));
                try {
                    JetPageJournal::writeBatch(path_, kPage, b);
                } catch (...) {
                    _exit(3);
                }
            }
        }
        usleep(2000 + rng() % 30000);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;
        JetPageJournal::recover(path_);
        const QByteArray data = readFile(path_);
        const char first = data[int(pages[0]) * kPage];
        for (uint32_t p : pages)
            ASSERT_EQ(data.mid(int(p) * kPage, kPage), QByteArray(kPage, first)) << "run " << run << " page " << p;
        if (first != 0) ++sawProgress;
    }
    EXPECT_GT(sawProgress, 0) << "no batch ever landed";
}

namespace {

class JetRefusals : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString copy(const QString& name, const QString& as = QString()) {
        const QString to = dir_.filePath(as.isEmpty() ? name : as);
        EXPECT_TRUE(QFile::copy(testutil::jetFile(name), to));
        QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
        return to;
    }
    static void xorByte(const QString& path, qint64 at, char mask) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(at);
        char c;
        f.getChar(&c);
        f.seek(at);
        f.putChar(char(c ^ mask));
    }

    // Every way of writing through the engine fails with 3027 naming the reason; the file does
    // not change by one byte.
    static void expectRefused(const QString& path, const QString& table, const QString& reason) {
        const QByteArray before = sha256(path);
        try {
            auto db = dao::OpenDatabase(path);
            try {
                db->Execute("delete from [" + table + "]");
                ADD_FAILURE() << "a delete went through";
            } catch (const dao::Error& e) {
                EXPECT_EQ(e.number(), 3027);
                EXPECT_TRUE(e.description().contains(reason)) << e.description().toStdString();
            }
            auto rs = db->OpenRecordset(table);
            try {
                rs->AddNew();
                ADD_FAILURE() << "AddNew went through";
            } catch (const dao::Error& e) {
                EXPECT_EQ(e.number(), 3027);
                EXPECT_TRUE(e.description().contains(reason)) << e.description().toStdString();
            }
            rs->Close();
            db->Close();
        } catch (const dao::Error& e) {
            // A file the reader cannot open at all is refused too, and just as unchanged.
            EXPECT_EQ(e.number(), 3343) << e.description().toStdString();
        }
        EXPECT_EQ(sha256(path), before);
    }

    QTemporaryDir dir_;
};

}  // namespace

TEST_F(JetRefusals, EachRefusalNamesItsReasonAndChangesNothing) {
    // Access 97 text is stored in the file's code page: a character it lacks is refused, naming the
    // field and the character; the characters it has are written.
    const QString jet3 = copy("testIndexCodesV1997.mdb");
    EXPECT_EQ(JetWriteGate::whyReadOnly(jet3), "");
    {
        const QByteArray before = sha256(jet3);
        auto db = dao::OpenDatabase(jet3);
        for (const QString& sql : {QString::fromUtf8("update Table1 set data = 'xΩ' where rowid = 1"),
                                   QString::fromUtf8("insert into Table1 (name, data) values ('Ωx', 'y')")}) {
            try {
                db->Execute(sql);
                db->Flush();
                ADD_FAILURE() << "written: " << sql.toStdString();
            } catch (const dao::Error& e) {
                EXPECT_EQ(e.number(), 3464) << e.description().toStdString();
                EXPECT_TRUE(e.description().contains(QString::fromUtf8("cannot hold the character 'Ω' (U+03A9)")))
                    << e.description().toStdString();
                EXPECT_TRUE(e.description().contains("Field 'data'") || e.description().contains("Field 'name'"))
                    << e.description().toStdString();
            }
        }
        db->Close();
        dao::flushAllWrites();
        EXPECT_EQ(sha256(jet3), before);
        db = dao::OpenDatabase(jet3);
        EXPECT_EQ(db->Execute(QString::fromUtf8("insert into Table1 (name, data) values ('Crème €', 'œ…')")), 1);
        db->Close();
        dao::flushAllWrites();
        QProcess exporter;
        exporter.start("mdb-export", {jet3, "Table1"});
        ASSERT_TRUE(exporter.waitForFinished(30000));
        EXPECT_TRUE(QString::fromUtf8(exporter.readAllStandardOutput()).contains(QString::fromUtf8("\"Crème €\",\"œ…\"")));
        EXPECT_EQ(dao::jet::JetCheck::run(jet3).faults, 0);
    }

    // The password sits masked in the header from 0x42; any non-zero character sets one.
    const QString pwd = copy("weirdObjectNames.mdb", "password.mdb");
    xorByte(pwd, 0x42, 'k');
    EXPECT_TRUE(JetWriteGate::whyReadOnly(pwd).contains("password-protected"));
    // Opened with its password, it is read but not written.
    const QString password = dao::jet::protectionOf(pwd).password;
    ASSERT_FALSE(password.isEmpty());
    dao::setPasswordSource([password](const QString&) { return std::optional<QString>(password); });
    expectRefused(pwd, "19 MB 01 BEZAHLT ???", "password-protected");
    dao::setPasswordSource(nullptr);

    // A non-zero encoding key (0x3E) means the pages are RC4-encoded.
    const QString enc = copy("weirdObjectNames.mdb", "encrypted.mdb");
    xorByte(enc, 0x3e, 0x5a);
    EXPECT_TRUE(JetWriteGate::whyReadOnly(enc).contains("encrypted"));
    expectRefused(enc, "19 MB 01 BEZAHLT ???", "encrypted");

    const QString locked = copy("testV2010.accdb");
    QFile lock(dir_.filePath("testV2010.laccdb"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray("WORKSTATION").leftJustified(32, ' ') + QByteArray("Admin").leftJustified(32, ' '));
    lock.close();
    EXPECT_TRUE(JetWriteGate::whyReadOnly(locked).contains("open in another program"));
    expectRefused(locked, "Table1", "testV2010.laccdb");
    lock.remove();

    // Without the lock file the file may be written; what the writer cannot do yet is refused
    // change by change (see the edit tests).
    EXPECT_EQ(JetWriteGate::whyReadOnly(locked), "");
}

// Why changes of table are refused because of a page of unknown type, or empty.
QString tableBlocked(const QString& path, const QString& table) {
    using namespace dao::jet;
    const auto f = JetFile::open(path);
    for (const CatalogTable& ct : f->catalog())
        if (ct.name == table) return JetWriteGate::whyTableReadOnly(*f, ct, JetUnknownPages::find(*f));
    return QStringLiteral("no such table");
}

// test2V2003's page 48 (type 0x08) is a dropped table's definition: no table, index, map or record
// leads to it, so the file may be written, whether the free-page map counts it free or not. The same
// type on a page that is in use keeps the table that leads to it from being written.
TEST_F(JetRefusals, APageOfUnknownTypeBlocksWritingOnlyWhileItIsInUse) {
    using namespace dao::jet;
    EXPECT_EQ(JetWriteGate::whyReadOnly(copy("test2V2003.mdb")), "");

    uint32_t dataPage = 0, leafPage = 0, memoPage = 0;
    std::vector<uint32_t> memoMaps;
    {
        const auto f = JetFile::open(testutil::jetFile("test2V2003.mdb"));
        EXPECT_EQ(f->pageType(48), 0x08);
        for (const CatalogTable& ct : f->catalog()) {
            if (ct.name != "MSP_PROJECTS") continue;
            const TableDef t = f->readTableDef(ct.tdefPage, ct.name);
            for (uint32_t p : f->usageMapPages(t.ownedPagesMap))
                if (f->pageType(p) == PageData && rd32(f->page(p) + 4) == t.firstPage) dataPage = p;
            leafPage = t.indexData.at(0).rootPage;
            // The page of PROJ_PROP_AUTHOR's value (348 characters, outside the record) and the maps
            // that list it.
            const RowSlot rs = f->slot(dataPage, 0);
            const uint8_t* row = f->page(dataPage) + rs.start;
            const auto fields = f->crackRow(t, row, rs.end - rs.start);
            for (size_t c = 0; c < t.columns.size(); ++c)
                if (t.columns[c].name == "PROJ_PROP_AUTHOR") memoPage = rd32(row + fields[c].offset + 4) >> 8;
            std::vector<uint32_t> maps{t.ownedPagesMap, t.freePagesMap};
            for (const TableDef::LongValueMaps& m : t.longValueMaps) maps.insert(maps.end(), {m.owned, m.free});
            for (uint32_t m : maps)
                for (uint32_t p : m ? f->usageMapPages(m) : std::vector<uint32_t>{})
                    if (p == memoPage) memoMaps.push_back(m);
        }
        ASSERT_NE(dataPage, 0u);
        ASSERT_EQ(f->pageType(leafPage), PageIndexLeaf);
    }
    // Lists a page in an inline usage map (type 0, first page, bitmap) or takes it out; the file's
    // free-page map is page 1, row 0.
    auto setListed = [&](const QString& path, uint32_t mapRow, uint32_t page, bool on) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const qint64 at = qint64(mapRow >> 8) * kPage;
        f.seek(at);
        QByteArray pg = f.read(kPage);
        const auto* b = reinterpret_cast<const uint8_t*>(pg.constData());
        const int r = int(mapRow & 0xff);
        const int row = (b[14 + 2 * r] | b[15 + 2 * r] << 8) & 0x1fff;
        ASSERT_EQ(b[row], 0);
        const uint32_t first = rd32(b + row + 1);
        const int byte = row + 5 + int((page - first) / 8);
        const char bit = char(1 << ((page - first) % 8));
        pg[byte] = on ? char(pg[byte] | bit) : char(pg[byte] & ~bit);
        f.seek(at);
        f.write(pg);
    };
    auto setFree = [&](const QString& path, uint32_t page, bool on) { setListed(path, 1u << 8, page, on); };
    auto retype = [&](const QString& path, uint32_t page) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(qint64(page) * kPage);
        f.putChar(0x08);
    };
    const QString prefix = "Page %1 has a type (0x08) Tabulon does not know and ";
    const QString blocked = ", so table 'MSP_PROJECTS' is not written.";

    // Not counted free (as Access leaves pages of type 0x00): nothing leads to it, so it is never touched.
    const QString notFree = copy("test2V2003.mdb", "notfree.mdb");
    setFree(notFree, 48, false);
    EXPECT_EQ(JetWriteGate::whyReadOnly(notFree), "");
    {
        auto db = dao::OpenDatabase(notFree);
        EXPECT_EQ(db->Execute("update MSP_PROJECTS set PROJ_NAME = 'Zeta' where PROJ_ID = 1"), 1);
        EXPECT_EQ(db->Execute("insert into MSP_PROJECTS (PROJ_ID, PROJ_NAME) values (7, 'Neu')"), 1);
        db->Close();
    }
    EXPECT_EQ(dao::jet::JetCheck::run(notFree).faults, 0);
    EXPECT_EQ(readFile(notFree).mid(48 * kPage, kPage), readFile(testutil::jetFile("test2V2003.mdb")).mid(48 * kPage, kPage));

    const QString data = copy("test2V2003.mdb", "data.mdb");
    retype(data, dataPage);
    EXPECT_EQ(JetWriteGate::whyReadOnly(data), "");
    EXPECT_EQ(tableBlocked(data, "MSP_PROJECTS"), prefix.arg(dataPage) + "is listed among the pages of table 'MSP_PROJECTS'" + blocked);
    // Counted free by mistake, it is still the table's page.
    setFree(data, dataPage, true);
    EXPECT_EQ(tableBlocked(data, "MSP_PROJECTS"), prefix.arg(dataPage) + "is listed among the pages of table 'MSP_PROJECTS'" + blocked);

    const QString leaf = copy("test2V2003.mdb", "leaf.mdb");
    retype(leaf, leafPage);
    setFree(leaf, leafPage, true);
    EXPECT_TRUE(tableBlocked(leaf, "MSP_PROJECTS").startsWith(prefix.arg(leafPage) + "is listed among the pages of index "))
        << tableBlocked(leaf, "MSP_PROJECTS").toStdString();
    // The reader does not need index pages, so the table reads, and every change of it is refused.
    expectRefused(leaf, "MSP_PROJECTS", blocked);

    // A page no map lists any more, counted free, that a record's Memo value still points to.
    ASSERT_NE(memoPage, 0u);
    ASSERT_FALSE(memoMaps.empty());
    const QString memo = copy("test2V2003.mdb", "memo.mdb");
    retype(memo, memoPage);
    setFree(memo, memoPage, true);
    for (uint32_t m : memoMaps) setListed(memo, m, memoPage, false);
    EXPECT_EQ(tableBlocked(memo, "MSP_PROJECTS"), prefix.arg(memoPage) + "holds a Memo/OLE value of table 'MSP_PROJECTS'" + blocked);

    // The same page made so by another program after the file was read: the writer finds it when
    // the record pointing there is changed (an add reaches no record), and writes nothing of the
    // statement.
    const QString later = copy("test2V2003.mdb", "later.mdb");
    auto db = dao::OpenDatabase(later);
    db->OpenRecordset("MSP_PROJECTS")->MoveLast();
    retype(later, memoPage);
    for (uint32_t m : memoMaps) setListed(later, m, memoPage, false);
    const QByteArray before = sha256(later);
    try {
        db->Execute("update MSP_PROJECTS set PROJ_NAME = 'Zeta'");
        ADD_FAILURE() << "the update went through";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3027);
        EXPECT_TRUE(e.description().contains(prefix.arg(memoPage) +
                                             "holds a Memo/OLE value of table 'MSP_PROJECTS', so this record is not written."))
            << e.description().toStdString();
    }
    db->Close();
    dao::flushAllWrites();
    EXPECT_EQ(sha256(later), before);
}

// The rule is judged per table: a page of unknown type that only Table1 leads to leaves Table2 of the
// same file writable, and is itself never touched; one the catalog leads to stops every change, as
// every change reads the catalog.
TEST_F(JetRefusals, APageOfUnknownTypeBlocksOnlyTheTablesThatLeadToIt) {
    using namespace dao::jet;
    const QString source = QStringLiteral(TABULON_TESTDATA "/jet-more/indexTestV2010.accdb");
    auto copyOf = [&](const QString& as) {
        const QString to = dir_.filePath(as);
        EXPECT_TRUE(QFile::copy(source, to));
        QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
        return to;
    };
    // An index page of Table1: the reader does not need it, a change of Table1 would.
    uint32_t table1Page = 0, catalogLeaf = 0;
    {
        const auto f = JetFile::open(source);
        for (const CatalogTable& ct : f->catalog()) {
            const TableDef t = f->readTableDef(ct.tdefPage, ct.name);
            if (ct.name == "Table1" && !t.indexData.empty()) table1Page = t.indexData.at(0).rootPage;
        }
        const TableDef sys = f->readTableDef(fmt::kCatalogPage, "MSysObjects");
        ASSERT_FALSE(sys.indexData.empty());
        catalogLeaf = sys.indexData.at(0).rootPage;
        ASSERT_NE(table1Page, 0u);
    }
    auto retype = [](const QString& path, uint32_t page) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(qint64(page) * kPage);
        f.putChar(0x09);
    };
    const QString path = copyOf("table1.accdb");
    retype(path, table1Page);
    const QByteArray page = readFile(path).mid(int(table1Page) * kPage, kPage);
    EXPECT_EQ(JetWriteGate::whyReadOnly(path), "");
    EXPECT_EQ(tableBlocked(path, "Table2"), "");
    EXPECT_TRUE(tableBlocked(path, "Table1").startsWith(QString("Page %1 has a type (0x09) Tabulon does not know and ").arg(table1Page)))
        << tableBlocked(path, "Table1").toStdString();
    EXPECT_TRUE(tableBlocked(path, "Table1").endsWith(" of table 'Table1', so table 'Table1' is not written."))
        << tableBlocked(path, "Table1").toStdString();
    {
        auto db = dao::OpenDatabase(path);
        EXPECT_FALSE(db->isReadOnly());
        auto refused = [&](const QString& sql) {
            try {
                db->Execute(sql);
                db->Flush();
                ADD_FAILURE() << sql.toStdString() << " went through";
            } catch (const dao::Error& e) {
                EXPECT_EQ(e.number(), 3027);
                EXPECT_TRUE(e.description().contains("so table 'Table1' is not written")) << e.description().toStdString();
            }
        };
        refused("delete from Table1");
        refused("update Table1 set data = 'x'");
        refused("insert into Table1 (id, data) values (9, 'x')");
        // Table2 takes an edit, an add and a delete.
        EXPECT_EQ(db->Execute("update Table2 set data = 'Per table' where id = 0"), 1);
        EXPECT_EQ(db->Execute("delete from Table2 where id = 2"), 1);
        EXPECT_EQ(db->Execute("insert into Table2 (id, data) values (7, 'Added')"), 1);
        db->Close();
    }
    dao::flushAllWrites();
    EXPECT_EQ(readFile(path).mid(int(table1Page) * kPage, kPage), page);
    {
        auto db = dao::OpenDatabase(path);
        auto rs = db->OpenRecordset("select count(*) from Table2 where data in ('Per table', 'Added', 'foo1')");
        EXPECT_EQ(rs->Fields().Item(0).Value().asInt(), 3);
        rs->Close();
        db->Close();
    }

    const QString catalog = copyOf("catalog.accdb");
    retype(catalog, catalogLeaf);
    EXPECT_TRUE(JetWriteGate::whyReadOnly(catalog).endsWith("of table 'MSysObjects', so the file is not written."))
        << JetWriteGate::whyReadOnly(catalog).toStdString();
    expectRefused(catalog, "Table2", "so the file is not written");
}


TEST_F(JetRefusals, AnInterruptedBatchIsUndoneWhenTheFileIsOpened) {
    const QString path = copy("testV2010.accdb");
    const QByteArray before = readFile(path);
    JetPageJournal::testHook() = [](const char* step) {
        if (std::string(step) == "page") throw SimulatedCrash();
    };
    std::map<uint32_t, QByteArray> garbage{{3, QByteArray(kPage, '\x77')}, {5, QByteArray(kPage, '\x77')}};
    EXPECT_THROW(JetPageJournal::writeBatch(path, kPage, garbage), SimulatedCrash);
    JetPageJournal::testHook() = nullptr;
    ASSERT_NE(readFile(path), before) << "the crash left a half-written file";
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("Table1");
    EXPECT_FALSE(rs->Eof());
    rs->Close();
    db->Close();
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(QFile::exists(JetPageJournal::journalPath(path)));
}

// A batch whose pages the file cannot take runs again part by part, each part written to the file
// before the working copy commits it: a passing failure loses nothing, a lasting one is reported,
// and the file and the engine's copy of it show the same values either way.
TEST_F(JetRefusals, ABatchTheFileCannotTakeRunsAgainAndTheFileAndItsCopyAgree) {
    const QString path = copy("testV2010.accdb");
    jettest::FailingJournal journal;  // writes of the file still to fail
    int& failures = journal.left;
    auto values = [](dao::Database& db) {
        auto rs = db.OpenRecordset("select E from Table1 order by A");
        QStringList out;
        for (; !rs->Eof(); rs->MoveNext()) out << QString::number(rs->Fields()["E"].Value().asInt());
        rs->Close();
        return out.join(',');
    };
    auto fromFile = [&] {
        auto fresh = dao::OpenDatabase(path);  // a new working copy, read from the file
        const QString v = values(*fresh);
        fresh->Close();
        return v;
    };

    auto db = dao::OpenDatabase(path);
    failures = 1;
    db->Execute("update Table1 set E = 11 where A = 'a'");
    db->Execute("update Table1 set E = 12 where A = 'abcdefg'");
    db->Flush();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(values(*db), "11,12");
    EXPECT_EQ(fromFile(), "11,12");

    failures = 1000;
    const QByteArray before = sha256(path);
    db->Execute("update Table1 set E = E + 10");
    try {
        db->Flush();
        ADD_FAILURE() << "the change the file did not take was not reported";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::DiskFull);
        EXPECT_TRUE(e.description().contains("could not be saved: Cannot write the journal")) << e.description().toStdString();
    }
    EXPECT_EQ(sha256(path), before);
    EXPECT_EQ(values(*db), "11,12");

    // Once the file can be written again, it takes the next changes.
    failures = 0;
    db->Execute("update Table1 set E = E + 20");
    db->Close();
    EXPECT_EQ(fromFile(), "31,32");
    EXPECT_FALSE(QFile::exists(JetPageJournal::journalPath(path)));
}
