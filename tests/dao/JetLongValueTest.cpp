// Memo and OLE values written into real Access files: in the record, as one row of a long-value
// page, and as chains over several pages; replaced, made Null and deleted with their records. After
// every write the three readers must see what the test expects and the check must pass.

#include "JetOracles.h"
#include "platform/dao/JetLongValueWriter.h"

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

// The long-value writer alone, over a copy of a file the engine does not write (one of its pages has
// a type the write gate does not know): pages are kept in memory and saved over the copy, the
// record's 12-byte field put in place, so that the readers judge the stored forms themselves.
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
            lv.release(read(page) + s.start + f.offset, f.size);
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
        jf.reset();
        QFile q(f);
        ASSERT_TRUE(q.open(QIODevice::ReadWrite));
        q.seek(at);
        q.write(chain);
    }
    const QString faults = dao::jet::JetCheck::run(f).lines.filter("FAULT").join('\n');
    EXPECT_TRUE(faults.contains("PROJ_PROP_AUTHOR: its value lies on page 53, which the field's page map does not mark"))
        << faults.toStdString();
    EXPECT_TRUE(faults.contains("RESERVED_BINARY_DATA: its value uses long-value row 53:0, which table MSP_PROJECTS: record "
                                "at 60:0, PROJ_PROP_AUTHOR uses too"))
        << faults.toStdString();
    // The author's own row is left over.
    EXPECT_EQ(checkLine(f, "long-value pages:"), "long-value pages: 14, 15 row(s) in use, 1 row(s) no value uses");
}
