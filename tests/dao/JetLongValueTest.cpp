// Memo and OLE values written into real Access files: in the record, as one row of a long-value
// page, and as chains over several pages; replaced, made Null and deleted with their records. After
// every write the three readers must see what the test expects and the check must pass.

#include "JetOracles.h"
#include "platform/dao/JetLongValueWriter.h"

#include <algorithm>
#include <map>

namespace {
using namespace jettest;

// Text of n characters with accents; with euro signs it cannot take the one-byte form.
QString memoText(int n, bool euro) {
    const QString unit = euro ? QStringLiteral("Año € señal ü, ") : QStringLiteral("Año señal ü, çà ");
    QString s;
    s.reserve(n + unit.size());
    while (s.size() < n) s += unit;
    s.truncate(n);
    return s;
}

// Printable bytes, so that mdb-export prints them as they are.
QByteArray oleBytes(int n, char seed) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) b[i] = char('A' + (seed + i * 7 + i / 251) % 26);
    return b;
}

QString csv(const QString& s) { return '"' + QString(s).replace('"', "\"\"") + '"'; }
QString json(const QString& s) { return '"' + s + '"'; }

// The long-value writer alone, over a copy of a file, without the engine: pages are kept in memory
// and saved over the copy, the record's 12-byte field put in place, so that the readers judge the
// stored forms themselves.
class PageEditor {
public:
    explicit PageEditor(const QString& path) : path_(path), file_(dao::jet::JetFile::open(path)) {}

    // The field of the first record of a table, replaced by the value data stored anew.
    bool replace(const QString& table, const QString& column, const QByteArray& data, QString& why) {
        using namespace dao::jet;
        uint32_t tdef = 0;
        for (const CatalogTable& ct : file_->catalog())
            if (ct.name == table) tdef = ct.tdefPage;
        const TableDef t = file_->readTableDef(tdef, table);
        const uint32_t page = file_->usageMapPages(t.ownedPagesMap).at(0);
        const RowSlot s = JetFile::slotIn(read(page), file_->pageSize(), page, 0);
        const auto fields = file_->crackRow(t, read(page) + s.start, s.end - s.start);
        for (size_t c = 0; c < t.columns.size(); ++c) {
            if (t.columns[c].name != column) continue;
            const FieldRef& f = fields[c];
            if (f.size != 12) return false;  // only a field that keeps its size is put in place here
            JetLongValueWriter lv = writer();
            lv.release(t.columns[c], read(page) + s.start + f.offset, f.size);
            QByteArray field;
            if (!lv.store(t, t.columns[c], data, false, field, why)) return false;
            if (field.size() != 12) return false;
            std::memcpy(write(page) + s.start + f.offset, field.constData(), 12);
            return lv.read(read(page) + s.start + f.offset, 12) == data;
        }
        return false;
    }

    void save() {
        const int ps = file_->pageSize();
        file_.reset();
        QFile out(path_);
        ASSERT_TRUE(out.open(QIODevice::ReadWrite));
        for (const auto& [n, bytes] : pages_) {
            out.seek(qint64(n) * ps);
            out.write(bytes);
        }
    }

private:
    dao::jet::JetLongValueWriter writer() {
        dao::jet::JetLongValueWriter::Pages p;
        p.read = [this](uint32_t n) { return read(n); };
        p.write = [this](uint32_t n) { return write(n); };
        return dao::jet::JetLongValueWriter(*file_, std::move(p));
    }
    const uint8_t* read(uint32_t n) {
        const auto it = pages_.find(n);
        return it != pages_.end() ? reinterpret_cast<const uint8_t*>(it->second.constData()) : file_->page(n);
    }
    uint8_t* write(uint32_t n) {
        auto it = pages_.find(n);
        if (it == pages_.end())
            it = pages_.emplace(n, QByteArray(reinterpret_cast<const char*>(file_->page(n)), file_->pageSize())).first;
        return reinterpret_cast<uint8_t*>(it->second.data());
    }

    QString path_;
    std::unique_ptr<dao::jet::JetFile> file_;
    std::map<uint32_t, QByteArray> pages_;
};

// The ACE test file has no Memo or OLE field in a user table. In its empty Table3 (a: an AutoNumber
// Long, the primary key; b: Text) b becomes a Memo or OLE field as Access defines one: no declared
// length, and the two page maps a long-value field has in the table definition (new rows beside
// the table's own maps).
void makeTable3LongValue(const QString& path, uint8_t type) {
    using namespace dao::jet;
    auto jf = JetFile::open(path);
    uint32_t tdef = 0;
    for (const CatalogTable& ct : jf->catalog())
        if (ct.name == "Table3") tdef = ct.tdefPage;
    ASSERT_NE(tdef, 0u);
    const TableDef t = jf->readTableDef(tdef, "Table3");
    ASSERT_EQ(t.pages.size(), 1u);
    ASSERT_EQ(t.definitionLength, t.parsedLength);
    ASSERT_TRUE(t.longValueMaps.empty());
    const int ps = jf->pageSize();
    QByteArray def(reinterpret_cast<const char*>(jf->page(tdef)), ps);
    QByteArray maps(reinterpret_cast<const char*>(jf->page(RowId::fromWord(t.ownedPagesMap).page)), ps);
    auto put = [&](int pos, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) def[pos + i] = char(v >> (8 * i) & 0xff);
    };
    // Two empty inline maps (type 0, first page 0, 64 bytes of bits), beside the table's.
    uint32_t rows[2];
    for (uint32_t& r : rows) {
        const int n = JetFile::appendRow(reinterpret_cast<uint8_t*>(maps.data()), ps, QByteArray(69, '\0'));
        ASSERT_GE(n, 0);
        r = RowId::fromWord(t.ownedPagesMap).page << 8 | uint32_t(n);
    }
    const int columnsAt = 63 + 12 * int(t.indexData.size());
    ASSERT_EQ(t.columns[0].name, "a");
    ASSERT_EQ(t.columns[1].name, "b");
    ASSERT_EQ(uint8_t(def[columnsAt + 25]), ColText);
    def[columnsAt + 25] = char(type);
    put(columnsAt + 25 + 23, 0, 2);  // long-value fields declare no length
    // The long-value field list ends the definition with 0xFFFF; the field's entry goes before it.
    const int end = t.definitionLength - 2;
    ASSERT_EQ(uint8_t(def[end]), 0xFF);
    put(end, uint32_t(t.columns[1].number), 2);
    put(end + 2, rows[0], 4);
    put(end + 6, rows[1], 4);
    put(end + 10, 0xFFFF, 2);
    put(8, uint32_t(t.definitionLength + 10), 4);
    put(2, rd16(reinterpret_cast<const uint8_t*>(def.constData()) + 2) - 10, 2);
    jf.reset();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(qint64(tdef) * ps);
    f.write(def);
    f.seek(qint64(RowId::fromWord(t.ownedPagesMap).page) * ps);
    f.write(maps);
}

class JetLongValue : public JetFileTest {
protected:
    struct Dump {
        QString exported, js;
    };
    static Dump dump(const QString& path, const QString& table) { return {mdbExport(path, table), mdbReader(path, table)}; }

    // Everything mdb-export and mdb-reader showed before, with one value swapped for its new form;
    // our engine answers sql with engine. Then the check.
    void expectSwapped(const QString& path, const QString& table, const Dump& before, const QString& oldCsv,
                       const QString& newCsv, const QString& oldJson, const QString& newJson, const QString& sql,
                       const QString& engine) {
        EXPECT_EQ(ours(path, sql).toStdString(), engine.toStdString());
        const Dump now = dump(path, table);
        auto swapped = [](QString text, const QString& from, const QString& to) {
            EXPECT_EQ(text.count(from), 1) << from.left(80).toStdString();
            return text.replace(from, to);
        };
        if (now.exported != "skipped") EXPECT_EQ(now.exported.toStdString(), swapped(before.exported, oldCsv, newCsv).toStdString());
        if (now.js != "skipped") EXPECT_EQ(now.js.toStdString(), swapped(before.js, oldJson, newJson).toStdString());
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(path);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
        EXPECT_FALSE(QFile::exists(dao::jet::JetPageJournal::journalPath(path)));
    }

    static void setMemo(const QString& path, const QString& sql, const QString& field, const dao::Variant& v) {
        auto db = dao::OpenDatabase(path);
        auto rs = db->OpenRecordset(sql);
        EXPECT_FALSE(rs->Eof());
        rs->Edit();
        rs->Fields()[field].setValue(v);
        rs->Update();
        rs->Close();
        db->Close();
    }

    // The pages of a long-value field: how many, and how many its map of pages with room lists;
    // that map must list exactly those that can still take a piece of a value (256 bytes).
    static std::pair<int, int> fieldPages(const QString& path, const QString& table, const QString& column) {
        using namespace dao::jet;
        auto jf = JetFile::open(path);
        for (const CatalogTable& ct : jf->catalog()) {
            if (ct.name != table) continue;
            const TableDef t = jf->readTableDef(ct.tdefPage, table);
            for (const ColumnDef& c : t.columns)
                for (const TableDef::LongValueMaps& m : t.longValueMaps) {
                    if (c.name != column || m.column != c.number) continue;
                    const std::vector<uint32_t> owned = jf->usageMapPages(m.owned), free = jf->usageMapPages(m.free);
                    for (uint32_t p : owned) {
                        const uint8_t* b = jf->page(p);
                        const int n = rd16(b + 12);
                        int lowest = jf->pageSize();
                        for (int r = 0; r < n; ++r) lowest = std::min(lowest, rd16(b + 14 + 2 * r) & 0x1FFF);
                        const bool roomy = n < 255 && lowest - (14 + 2 * (n + 1)) >= 256;
                        EXPECT_EQ(std::count(free.begin(), free.end(), p) == 1, roomy) << "page " << p;
                    }
                    return {int(owned.size()), int(free.size())};
                }
        }
        ADD_FAILURE() << "no long-value field " << column.toStdString();
        return {};
    }

    // How a long-value field is stored in each record, in page order: "record", "row" (one row of
    // a long-value page), "chain" or "null".
    static QStringList storage(const QString& path, const QString& table, const QString& column) {
        using namespace dao::jet;
        auto jf = JetFile::open(path);
        QStringList out;
        for (const CatalogTable& ct : jf->catalog()) {
            if (ct.name != table) continue;
            const TableDef t = jf->readTableDef(ct.tdefPage, table);
            std::vector<uint32_t> pages = jf->usageMapPages(t.ownedPagesMap);
            std::sort(pages.begin(), pages.end());
            for (uint32_t p : pages)
                for (int r = 0; r < jf->rowCount(p); ++r) {
                    const RowSlot s = jf->slot(p, r);
                    if (s.deleted) continue;
                    const auto fields = jf->crackRow(t, jf->page(p) + s.start, s.end - s.start);
                    for (size_t c = 0; c < t.columns.size(); ++c) {
                        if (t.columns[c].name != column) continue;
                        const uint32_t word = fields[c].present ? rd32(jf->page(p) + s.start + fields[c].offset) : 0;
                        out << (!fields[c].present ? "null" : word & 0x80000000u ? "record" : word & 0x40000000u ? "row" : "chain");
                    }
                }
        }
        return out;
    }

    static QString checkLine(const QString& path, const QString& start) {
        for (const QString& l : dao::jet::JetCheck::run(path).lines)
            if (l.startsWith(start)) return l;
        return {};
    }
};

}  // namespace

// The project table's author Memo (348 characters on a long-value page) becomes 1,000 characters
// with accents (one row, one-byte form), then 1,900 with euro signs (3,800 bytes of UCS-2, one row:
// the old row's room is given back first).
TEST_F(JetLongValue, MemoOnOneRowOfItsPageReadsBackInEveryReader) {
    const QString f = copy("test2V2003.mdb");
    const QString table = "MSP_PROJECTS";
    Dump before = dump(f, table);
    const QString old = ours(f, "select PROJ_PROP_AUTHOR from MSP_PROJECTS").section('\n', 1, 1);
    ASSERT_EQ(old.size(), 348);
    QString oldCsv = csv(old), oldJson = json(old);
    dao::jet::ColumnDef memo;
    memo.type = dao::jet::ColMemo;
    memo.extFlags = 0x01;  // the column allows the one-byte form
    for (const QString& now : {memoText(1000, false), memoText(1900, true)}) {
        const QByteArray data = *dao::jet::JetLongValueWriter::dataOf(memo, {dao::jet::JetValue::Text, 0, 0, now.toUtf8()});
        EXPECT_EQ(data.size(), now.contains(u'€') ? 2 * now.size() : now.size() + 2);
        {
            PageEditor ed(f);
            QString why;
            ASSERT_TRUE(ed.replace(table, "PROJ_PROP_AUTHOR", data, why)) << why.toStdString();
            ed.save();
        }
        expectSwapped(f, table, before, oldCsv, csv(now), oldJson, json(now), "select PROJ_PROP_AUTHOR from MSP_PROJECTS",
                      "PROJ_PROP_AUTHOR\n" + now + "\n");
        EXPECT_EQ(checkLine(f, "long-value pages:"), "long-value pages: 14, 16 row(s) in use, 0 row(s) no value uses");
        before = dump(f, table);
        oldCsv = csv(now);
        oldJson = json(now);
    }
    // 5,000 characters need a chain; the field's only page cannot hold it.
    PageEditor ed(f);
    QString why;
    EXPECT_FALSE(ed.replace(table, "PROJ_PROP_AUTHOR", QByteArray(10000, 'x'), why));
    EXPECT_TRUE(why.contains("The long-value pages of field 'PROJ_PROP_AUTHOR' are full")) << why.toStdString();
}

// The OLE value of 22,970 bytes is a chain over six pages. A value of 20,000 bytes takes the room
// the old chain gave back (a chain of its own), then 3,000 bytes take one row.
TEST_F(JetLongValue, OleChainReplacedByAChainAndByOneRow) {
    const QString f = copy("test2V2003.mdb");
    const QString table = "MSP_PROJECTS";
    const QString sql = "select length(RESERVED_BINARY_DATA) as n, hex(RESERVED_BINARY_DATA) as h from MSP_PROJECTS";
    Dump before = dump(f, table);
    auto jsHex = [](const QByteArray& b) { return json("0x" + QString::fromLatin1(b.toHex())); };
    auto exportedOf = [](const QByteArray& b) { return csv(QString::fromUtf8(b)) + "\n"; };
    const QByteArray original =
        QByteArray::fromHex(ours(f, "select hex(RESERVED_BINARY_DATA) as h from MSP_PROJECTS").section('\n', 1, 1).toLatin1());
    ASSERT_EQ(original.size(), 22970);
    QString oldCsv = exportedOf(original), oldJson = jsHex(original);
    for (const QByteArray& now : {oleBytes(20000, 1), oleBytes(3000, 2)}) {
        {
            PageEditor ed(f);
            QString why;
            ASSERT_TRUE(ed.replace(table, "RESERVED_BINARY_DATA", now, why)) << why.toStdString();
            ed.save();
        }
        expectSwapped(f, table, before, oldCsv, exportedOf(now), oldJson, jsHex(now), sql,
                      QString("n\th\n%1\t%2\n").arg(now.size()).arg(QString::fromLatin1(now.toHex().toUpper())));
        before = dump(f, table);
        oldCsv = exportedOf(now);
        oldJson = jsHex(now);
    }
    // The chain's six rows became one.
    EXPECT_EQ(checkLine(f, "long-value pages:"), "long-value pages: 14, 11 row(s) in use, 0 row(s) no value uses");
}

// The check follows every value to its rows: a value whose rows another value uses, on a page its
// field's map does not mark, is a fault even when it reads back whole.
TEST_F(JetLongValue, CheckFindsAValueSharingAnotherValuesRows) {
    const QString f = copy("test2V2003.mdb");
    {
        auto jf = dao::jet::JetFile::open(f);
        uint32_t tdef = 0;
        for (const auto& ct : jf->catalog())
            if (ct.name == "MSP_PROJECTS") tdef = ct.tdefPage;
        const auto t = jf->readTableDef(tdef, "MSP_PROJECTS");
        const auto s = jf->slot(60, 0);
        const auto fields = jf->crackRow(t, jf->page(60) + s.start, s.end - s.start);
        int author = -1, ole = -1;
        for (size_t c = 0; c < t.columns.size(); ++c) {
            if (t.columns[c].name == "PROJ_PROP_AUTHOR") author = fields[c].offset;
            if (t.columns[c].name == "RESERVED_BINARY_DATA") ole = fields[c].offset;
        }
        ASSERT_GT(author, 0);
        ASSERT_GT(ole, 0);
        const QByteArray chain(reinterpret_cast<const char*>(jf->page(60) + s.start + ole), 12);
        const qint64 at = 60 * 4096 + s.start + author;
        // The author field's map of pages with room (inline: type, first page, bits) gets page 53.
        uint32_t freeMap = 0;
        for (const auto& m : t.longValueMaps)
            if (m.column == t.columns[2].number) freeMap = m.free;
        ASSERT_EQ(t.columns[2].name, "PROJ_PROP_AUTHOR");
        const auto mapRow = dao::jet::RowId::fromWord(freeMap);
        const auto ms = jf->slot(mapRow.page, mapRow.row);
        const uint8_t* map = jf->page(mapRow.page) + ms.start;
        ASSERT_EQ(map[0], 0);
        const uint32_t bit = 53 - dao::jet::rd32(map + 1);
        const qint64 mapByte = qint64(mapRow.page) * 4096 + ms.start + 5 + bit / 8;
        const char marked = char(map[5 + bit / 8] | 1 << (bit % 8));
        jf.reset();
        QFile q(f);
        ASSERT_TRUE(q.open(QIODevice::ReadWrite));
        q.seek(at);
        q.write(chain);
        q.seek(mapByte);
        q.putChar(marked);
    }
    const QString faults = dao::jet::JetCheck::run(f).lines.filter("FAULT").join('\n');
    EXPECT_TRUE(faults.contains("PROJ_PROP_AUTHOR: its value lies on page 53, which the field's page map does not mark"))
        << faults.toStdString();
    EXPECT_TRUE(faults.contains("RESERVED_BINARY_DATA: its value uses long-value row 53:0, which table MSP_PROJECTS: record "
                                "at 60:0, PROJ_PROP_AUTHOR uses too"))
        << faults.toStdString();
    EXPECT_TRUE(faults.contains("the map of field PROJ_PROP_AUTHOR's pages with room marks page 53, which the field does not own"))
        << faults.toStdString();
    // The author's own row is left over.
    EXPECT_EQ(checkLine(f, "long-value pages:"), "long-value pages: 14, 15 row(s) in use, 1 row(s) no value uses");
}

// Memo values of 10, 3,000 and 100,000 characters with accents added to a Jet 4 file (in the
// record, a chain of two pages, a chain of fifty), then edited: the longest made short, the
// shortest made long, one made Null; then the record with a chain deleted. Every value's rows are
// given back when it goes (the two rows Access left unused stay so).
TEST_F(JetLongValue, MemoOfEverySizeAddedEditedAndDeletedInAJet4File) {
    const QString f = copy("functionsV2003.mdb");
    const QString s10 = QStringLiteral("Diez letrá"), s3k = memoText(3000, false), s100k = memoText(100000, true);
    const QString s3kEuro = memoText(3000, true);
    ASSERT_EQ(s10.size(), 10);
    {
        auto db = dao::OpenDatabase(f);
        auto rs = db->OpenRecordset("t_funcs");
        const std::pair<int, QString> adds[] = {{1, s10}, {2, s3k}, {3, s100k}};
        for (const auto& [id, text] : adds) {
            rs->AddNew();
            rs->Fields()["id"].setValue(dao::Variant::fromInteger(int16_t(id)));
            rs->Fields()["descr"].setValue(dao::Variant::fromString(text));
            rs->Update();
        }
        rs->Close();
        db->Close();
    }
    const QString header = "id,descr,num,date0\n", jsHeader = "[\"id\",\"descr\",\"num\",\"date0\"]\n";
    const QString first = "1234,\"Show must go off\",-1110.554,\"2003-11-22 22:42:58\"\n";
    const QString jsFirst = "[1234,\"Show must go off\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n";
    auto line = [](int id, const QString& text) { return QString("%1,%2,,\n").arg(id).arg(text.isNull() ? "" : csv(text)); };
    auto jsLine = [](int id, const QString& text) {
        return QString("[%1,%2,null,null]\n").arg(id).arg(text.isNull() ? "null" : json(text));
    };
    auto engine = [](const std::vector<std::pair<int, QString>>& rows) {
        QString out = "id\tdescr\n";
        for (const auto& [id, text] : rows) out += QString("%1\t%2\n").arg(id).arg(text);
        return out;
    };
    const QString sql = "select id, descr from t_funcs where id < 1000 order by id";
    expectReaders(f, "t_funcs", sql, engine({{1, s10}, {2, s3k}, {3, s100k}}),
                  header + first + line(1, s10) + line(2, s3k) + line(3, s100k),
                  jsHeader + jsFirst + jsLine(1, s10) + jsLine(2, s3k) + jsLine(3, s100k));
    EXPECT_TRUE(checkLine(f, "table t_funcs:").contains("4 long value(s) read back")) << checkLine(f, "table t_funcs:").toStdString();
    EXPECT_EQ(storage(f, "t_funcs", "descr"), QStringList({"record", "record", "chain", "chain"}));
    // The chains filled their pages but for the last ones: only pages with room are listed as such.
    EXPECT_EQ(fieldPages(f, "t_funcs", "descr"), std::make_pair(51, 1));

    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("update t_funcs set descr = 'corto' where id = 3"), 1);
        setMemo(f, "select * from t_funcs where id = 1", "descr", dao::Variant::fromString(s3kEuro));
        EXPECT_EQ(db->Execute("update t_funcs set descr = Null where id = 2"), 1);
        db->Close();
    }
    expectReaders(f, "t_funcs", sql, engine({{1, s3kEuro}, {2, ""}, {3, "corto"}}),
                  header + first + line(1, s3kEuro) + line(2, QString()) + line(3, "corto"),
                  jsHeader + jsFirst + jsLine(1, s3kEuro) + jsLine(2, QString()) + jsLine(3, "corto"));
    // Of the user's values only the chain of record 1 (two rows) is in use; the system tables use
    // eight rows, and two Access left unused stay so. The pages stay with the field, empty.
    EXPECT_EQ(checkLine(f, "long-value pages:"), "long-value pages: 54, 10 row(s) in use, 2 row(s) no value uses");
    EXPECT_EQ(fieldPages(f, "t_funcs", "descr"), std::make_pair(51, 50));

    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("delete from t_funcs where id = 1"), 1);
        db->Close();
    }
    expectReaders(f, "t_funcs", sql, engine({{2, ""}, {3, "corto"}}), header + first + line(2, QString()) + line(3, "corto"),
                  jsHeader + jsFirst + jsLine(2, QString()) + jsLine(3, "corto"));
    EXPECT_EQ(checkLine(f, "long-value pages:"), "long-value pages: 54, 8 row(s) in use, 2 row(s) no value uses");
}

// A statement that stores a long value and then fails on another field takes the value's pages
// back with it: the file stays byte-identical.
TEST_F(JetLongValue, ARefusedChangeLeavesTheFileByteIdentical) {
    const QString f = copy("functionsV2003.mdb");
    const QByteArray before = sha256(f);
    auto db = dao::OpenDatabase(f);
    try {
        db->Execute("update t_funcs set descr = '" + memoText(100000, true) + "', num = 1e15");
        ADD_FAILURE() << "no overflow";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 6) << e.description().toStdString();
    }
    db->Close();
    dao::flushAllWrites();
    EXPECT_EQ(sha256(f), before);
    EXPECT_EQ(ours(f, "select descr from t_funcs"), "descr\nShow must go off\n");
}

// The same on an ACE file: Memo values of 10 characters (in the record, in the one-byte form),
// 3,000 (UCS-2, a chain of two pages) and 100,000 (a chain of fifty) added to a table with no
// page yet; edited; deleted.
TEST_F(JetLongValue, MemoOfEverySizeInAnAceFile) {
    const QString f = copy("testV2010.accdb");
    makeTable3LongValue(f, dao::jet::ColMemo);
    {
        const dao::jet::CheckReport rep = dao::jet::JetCheck::run(f);
        ASSERT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
        if (!QStandardPaths::findExecutable("mdb-schema").isEmpty())
            EXPECT_TRUE(run("mdb-schema", {f}).out.contains("[b]\t\t\tMemo/Hyperlink (255)"));
    }
    const QString s10 = QStringLiteral("ñandú azul"), s3k = memoText(3000, false), s100k = memoText(100000, true);
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("insert into Table3 (a, b) values (1, '" + s10 + "')"), 1);
        EXPECT_EQ(db->Execute("insert into Table3 (a, b) values (2, '" + s3k + "')"), 1);
        auto rs = db->OpenRecordset("Table3");
        rs->AddNew();
        rs->Fields()["a"].setValue(dao::Variant::fromLong(3));
        rs->Fields()["b"].setValue(dao::Variant::fromString(s100k));
        rs->Update();
        rs->Close();
        db->Close();
    }
    auto expect = [&](const std::vector<std::pair<int, QString>>& rows) {
        QString engine = "a\tb\n", exported = "a,b\n", js = "[\"a\",\"b\"]\n";
        for (const auto& [a, b] : rows) {
            engine += QString("%1\t%2\n").arg(a).arg(b);
            exported += QString("%1,%2\n").arg(a).arg(b.isNull() ? "" : csv(b));
            js += QString("[%1,%2]\n").arg(a).arg(b.isNull() ? "null" : json(b));
        }
        expectReaders(f, "Table3", "select a, b from Table3", engine, exported, js);
    };
    expect({{1, s10}, {2, s3k}, {3, s100k}});
    EXPECT_EQ(storage(f, "Table3", "b"), QStringList({"record", "chain", "chain"}));
    {
        // The record keeps values up to 64 bytes: 62 one-byte characters and their 2-byte mark.
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("insert into Table3 (a, b) values (4, '" + QString(62, 'q') + "')"), 1);
        EXPECT_EQ(db->Execute("insert into Table3 (a, b) values (5, '" + QString(63, 'q') + "')"), 1);
        db->Close();
        EXPECT_EQ(storage(f, "Table3", "b"), QStringList({"record", "chain", "chain", "record", "row"}));
        db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("delete from Table3 where a >= 4"), 2);
        db->Close();
    }
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("update Table3 set b = '" + s3k + "' where a = 1"), 1);
        EXPECT_EQ(db->Execute("update Table3 set b = 'x' where a = 3"), 1);
        EXPECT_EQ(db->Execute("update Table3 set b = Null where a = 2"), 1);
        db->Close();
    }
    expect({{1, s3k}, {2, QString()}, {3, "x"}});
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("delete from Table3 where a = 1"), 1);
        db->Close();
    }
    expect({{2, QString()}, {3, "x"}});
    EXPECT_TRUE(checkLine(f, "long-value pages:").endsWith(", 14 row(s) in use, 0 row(s) no value uses"))
        << checkLine(f, "long-value pages:").toStdString();
}

// OLE values in an ACE file: 5,000 bytes (a chain of two), replaced by 3,000 (one row) and by
// Null, and a record with a chain deleted.
TEST_F(JetLongValue, OleValuesInAnAceFile) {
    const QString f = copy("testV2010.accdb");
    makeTable3LongValue(f, dao::jet::ColOle);
    const QByteArray k5 = oleBytes(5000, 4), k3 = oleBytes(3000, 5), k6 = oleBytes(6000, 6);
    auto setOle = [&](const QString& where, const dao::Variant& v) {
        auto db = dao::OpenDatabase(f);
        auto rs = db->OpenRecordset("select * from Table3 where " + where);
        ASSERT_FALSE(rs->Eof());
        rs->Edit();
        rs->Fields()["b"].setValue(v);
        rs->Update();
        rs->Close();
        db->Close();
    };
    {
        auto db = dao::OpenDatabase(f);
        auto rs = db->OpenRecordset("Table3");
        const std::pair<int, QByteArray> adds[] = {{1, k5}, {2, k6}};
        for (const auto& [a, b] : adds) {
            rs->AddNew();
            rs->Fields()["a"].setValue(dao::Variant::fromLong(a));
            rs->Fields()["b"].setValue(dao::Variant::fromBinary(b));
            rs->Update();
        }
        rs->Close();
        db->Close();
    }
    auto expect = [&](const std::vector<std::pair<int, QByteArray>>& rows) {
        QString engine = "a\tn\th\n", exported = "a,b\n", js = "[\"a\",\"b\"]\n";
        for (const auto& [a, b] : rows) {
            engine += QString("%1\t%2\t%3\n").arg(a).arg(b.isNull() ? QString() : QString::number(b.size()),
                                                       QString::fromLatin1(b.toHex().toUpper()));
            exported += QString("%1,%2\n").arg(a).arg(b.isNull() ? "" : csv(QString::fromLatin1(b)));
            js += QString("[%1,%2]\n").arg(a).arg(b.isNull() ? "null" : json("0x" + QString::fromLatin1(b.toHex())));
        }
        expectReaders(f, "Table3", "select a, length(b) as n, hex(b) as h from Table3", engine, exported, js);
    };
    expect({{1, k5}, {2, k6}});
    setOle("a = 1", dao::Variant::fromBinary(k3));
    setOle("a = 2", dao::Variant::null());
    expect({{1, k3}, {2, QByteArray()}});
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("delete from Table3 where a = 1"), 1);
        db->Close();
    }
    expect({{2, QByteArray()}});
}

// A connection whose copy still shows an older long value does not overwrite the newer one.
TEST_F(JetLongValue, AnOlderCopyDoesNotOverwriteANewerLongValue) {
    const QString f = copy("functionsV2003.mdb");
    auto older = dao::OpenDatabase(f);
    EXPECT_EQ(older->Execute("update t_funcs set num = 1"), 1);
    dao::flushAllWrites();
    const QString newValue = memoText(3000, true);
    {
        auto newer = dao::OpenDatabase(f);
        EXPECT_EQ(newer->Execute("update t_funcs set descr = '" + newValue + "'"), 1);
        newer->Close();
    }
    dao::flushAllWrites();
    expectRefused(f, "The data has been changed by another user: the record (id = 1234) of table 't_funcs' no longer holds what is shown (field 'descr')",
                  [&] { older->Execute("update t_funcs set descr = 'viejo'"); }, 3197);
    older->Close();
    EXPECT_EQ(ours(f, "select descr from t_funcs"), "descr\n" + newValue + "\n");
}

// Nor does it delete the record after the newer value came.
TEST_F(JetLongValue, AnOlderCopyDoesNotDeleteARecordWhoseLongValueChanged) {
    const QString f = copy("functionsV2003.mdb");
    auto older = dao::OpenDatabase(f);
    EXPECT_EQ(older->Execute("update t_funcs set num = 1"), 1);
    dao::flushAllWrites();
    {
        auto newer = dao::OpenDatabase(f);
        EXPECT_EQ(newer->Execute("update t_funcs set descr = 'nuevo'"), 1);
        newer->Close();
    }
    dao::flushAllWrites();
    expectRefused(f, "no longer holds what is shown (field 'descr')",
                  [&] { older->Execute("delete from t_funcs"); }, 3197);
    older->Close();
    EXPECT_EQ(ours(f, "select descr from t_funcs"), "descr\nnuevo\n");
}
