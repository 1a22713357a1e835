// A real Jet 4 file written in place: test2V2003.mdb's one table (74 columns, a number index and a text
// index in the "General Legacy" order) takes edits of every column type, adds, deletes and edits of
// its indexed columns; after each write our engine, mdb-export and mdb-reader read back what the test
// expects, the check passes, and the index entries stand in key order.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>
#include <functional>

#include "JetOracles.h"

namespace {
using namespace jettest;
using namespace dao::jet;

const QStringList kColumns = {"PROJ_ID",
                              "PROJ_NAME",
                              "PROJ_PROP_COMPANY",
                              "PROJ_OPT_CALC_ACT_COSTS",
                              "PROJ_OPT_CURRENCY_DIGITS",
                              "PROJ_OPT_MINUTES_PER_WEEK",
                              "PROJ_OPT_DEF_STD_RATE",
                              "PROJ_INFO_CURRENT_DATE",
                              "PROJ_OPT_CURRENCY_SYMBOL"};

// CSV records as mdb-export writes them (quoted fields may hold commas, quotes and line breaks).
QList<QStringList> parseCsv(const QString& text) {
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row << field;
            field.clear();
        } else if (c == '\n') {
            row << field;
            rows << row;
            row.clear();
            field.clear();
        } else {
            field += c;
        }
    }
    return rows;
}

// The test's columns of every record, "a|b|c", sorted; empty when the reader is not installed.
QStringList pick(const QList<QStringList>& rows) {
    if (rows.isEmpty()) return {};
    QList<int> at;
    for (const QString& c : kColumns) at << rows[0].indexOf(c);
    QStringList out;
    for (int r = 1; r < rows.size(); ++r) {
        QStringList v;
        for (int i : at) v << (i >= 0 && i < rows[r].size() ? rows[r][i] : QString("?"));
        out << v.join('|');
    }
    out.sort();
    return out;
}

QStringList viaMdbExport(const QString& path) {
    if (QStandardPaths::findExecutable("mdb-export").isEmpty()) return {"skipped"};
    const ProcessRun r = run("mdb-export", {"-b", "strip", "-T", "%Y-%m-%d %H:%M:%S", path, "MSP_PROJECTS"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    return pick(parseCsv(r.out));
}

// mdb-reader's values in mdb-export's notation: Yes/No as 1/0, dates without the zone.
QStringList viaMdbReader(const QString& path) {
    const QString d = mdbReaderDir();
    if (d.isEmpty()) return {"skipped"};
    const ProcessRun r = run("node", {d + "/mdb-reader-dump.mjs", path, "MSP_PROJECTS"}, d);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    static const QRegularExpression iso(R"(^(\d{4}-\d\d-\d\d)T(\d\d:\d\d:\d\d)\.000Z$)");
    QList<QStringList> rows;
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
        QStringList row;
        for (const QJsonValue& v : QJsonDocument::fromJson(line.toUtf8()).array()) {
            if (v.isBool()) {
                row << (v.toBool() ? "1" : "0");
            } else if (v.isDouble()) {
                row << QString::number(v.toDouble(), 'g', 15);
            } else if (v.isNull()) {
                row << QString();
            } else {
                const QString s = v.toString();
                const auto m = iso.match(s);
                row << (m.hasMatch() ? m.captured(1) + " " + m.captured(2) : s);
            }
        }
        rows << row;
    }
    return pick(rows);
}

// One column's values of the records an index lists, in the order of its entries.
QStringList inIndexOrder(const QString& path, const QString& index, const QString& column) {
    const auto f = JetFile::open(path);
    QStringList out;
    for (const CatalogTable& ct : f->catalog()) {
        if (ct.name != "MSP_PROJECTS") continue;
        const TableDef t = f->readTableDef(ct.tdefPage, ct.name);
        size_t col = 0;
        while (col < t.columns.size() && t.columns[col].name != column) ++col;
        for (const IndexData& idx : t.indexData) {
            if (!t.indexName(idx).startsWith(index + " (")) continue;
            std::function<void(uint32_t)> visit = [&](uint32_t pg) {
                const IndexPage ip = f->readIndexPage(pg);
                for (const IndexEntry& e : ip.entries) {
                    if (ip.type == PageIndexNode) {
                        visit(e.child);
                        continue;
                    }
                    RowId at = e.row;
                    if (f->slot(at.page, at.row).overflow) at = f->overflowTarget(at.page, at.row);
                    const RowSlot s = f->slot(at.page, at.row);
                    const uint8_t* row = f->page(at.page) + s.start;
                    const FieldRef v = f->crackRow(t, row, s.end - s.start).at(col);
                    out << (t.columns[col].type == ColText ? JetFile::decodeText(row + v.offset, v.size)
                                                           : QString::number(int32_t(rd32(row + v.offset))));
                }
            };
            visit(idx.rootPage);
        }
    }
    return out;
}

class JetMdbEdits : public JetFileTest {
protected:
    // After a write: the engine (through tabulon-cli), mdb-export and mdb-reader, and the check.
    void expectRecords(const QString& path, const QString& engine, const QStringList& records) {
        EXPECT_EQ(ours(path, "select " + kColumns.join(", ") + " from MSP_PROJECTS order by PROJ_ID").toStdString(),
                  engine.toStdString());
        const QStringList exported = viaMdbExport(path);
        if (exported != QStringList{"skipped"}) EXPECT_EQ(exported, records);
        const QStringList js = viaMdbReader(path);
        if (js != QStringList{"skipped"}) EXPECT_EQ(js, records);
        const CheckReport rep = JetCheck::run(path);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
        EXPECT_FALSE(QFile::exists(JetPageJournal::journalPath(path)));
    }
};

}  // namespace

TEST_F(JetMdbEdits, EveryColumnTypeAddsDeletesAndIndexedColumnsOfARealJet4File) {
    const QString f = copy("test2V2003.mdb");
    const QString header = kColumns.join('\t') + "\n";
    {
        auto db = dao::OpenDatabase(f);
        ASSERT_FALSE(db->isReadOnly());
        // Text (indexed, with an accent), Memo, Yes/No, Integer, Long, Double, Date/Time, OLE, and a
        // Text field that is not indexed, where any character goes.
        EXPECT_EQ(db->Execute("update MSP_PROJECTS set PROJ_NAME = 'Año', PROJ_PROP_COMPANY = 'Müller & Co', "
                              "PROJ_OPT_CALC_ACT_COSTS = False, PROJ_OPT_CURRENCY_DIGITS = 3, "
                              "PROJ_OPT_MINUTES_PER_WEEK = 2500, PROJ_OPT_DEF_STD_RATE = 12.5, "
                              "PROJ_INFO_CURRENT_DATE = #2024-05-06 07:08:09#, RESERVED_BINARY_DATA = Null, "
                              "PROJ_OPT_CURRENCY_SYMBOL = '€' where PROJ_ID = 1"),
                  1);
        db->Close();
    }
    expectRecords(f, header + "1\tAño\tMüller & Co\tFalse\t3\t2500\t12.5\t2024-05-06 07:08:09\t€\n",
                  {"1|Año|Müller & Co|0|3|2500|12.5|2024-05-06 07:08:09|€"});
    EXPECT_EQ(ours(f, "select count(*) from MSP_PROJECTS where RESERVED_BINARY_DATA is null"), "count(*)\n1\n");

    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("insert into MSP_PROJECTS (PROJ_ID, PROJ_NAME, PROJ_OPT_DEF_STD_RATE) "
                              "values (2, 'Müller', 1.25)"),
                  1);
        EXPECT_EQ(db->Execute("insert into MSP_PROJECTS (PROJ_ID, PROJ_NAME, PROJ_INFO_CURRENT_DATE) "
                              "values (3, 'ÉCOLE', #1999-12-31 23:59:59#)"),
                  1);
        EXPECT_EQ(db->Execute("insert into MSP_PROJECTS (PROJ_ID, PROJ_NAME, PROJ_OPT_CALC_ACT_COSTS) "
                              "values (4, 'Zeta', True)"),
                  1);
        EXPECT_EQ(db->Execute("insert into MSP_PROJECTS (PROJ_ID, PROJ_NAME) values (5, 'Ecole')"), 1);
        db->Close();
    }
    expectRecords(f,
                  header +
                      "1\tAño\tMüller & Co\tFalse\t3\t2500\t12.5\t2024-05-06 07:08:09\t€\n"
                      "2\tMüller\t\tFalse\t\t\t1.25\t\t\n"
                      "3\tÉCOLE\t\tFalse\t\t\t\t1999-12-31 23:59:59\t\n"
                      "4\tZeta\t\tTrue\t\t\t\t\t\n"
                      "5\tEcole\t\tFalse\t\t\t\t\t\n",
                  {"1|Año|Müller & Co|0|3|2500|12.5|2024-05-06 07:08:09|€", "2|Müller||0|||1.25||",
                   "3|ÉCOLE||0||||1999-12-31 23:59:59|", "4|Zeta||1|||||", "5|Ecole||0|||||"});
    // An accent counts only after the letters: Ecole before ÉCOLE, both before Müller.
    EXPECT_EQ(inIndexOrder(f, "I_PROJ_NAME", "PROJ_NAME"), QStringList({"Año", "Ecole", "ÉCOLE", "Müller", "Zeta"}));
    EXPECT_EQ(inIndexOrder(f, "I_MSP_PROJECTS", "PROJ_ID"), QStringList({"1", "2", "3", "4", "5"}));

    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("delete from MSP_PROJECTS where PROJ_ID = 2"), 1);
        db->Close();
    }
    expectRecords(f,
                  header +
                      "1\tAño\tMüller & Co\tFalse\t3\t2500\t12.5\t2024-05-06 07:08:09\t€\n"
                      "3\tÉCOLE\t\tFalse\t\t\t\t1999-12-31 23:59:59\t\n"
                      "4\tZeta\t\tTrue\t\t\t\t\t\n"
                      "5\tEcole\t\tFalse\t\t\t\t\t\n",
                  {"1|Año|Müller & Co|0|3|2500|12.5|2024-05-06 07:08:09|€", "3|ÉCOLE||0||||1999-12-31 23:59:59|",
                   "4|Zeta||1|||||", "5|Ecole||0|||||"});
    EXPECT_EQ(inIndexOrder(f, "I_PROJ_NAME", "PROJ_NAME"), QStringList({"Año", "Ecole", "ÉCOLE", "Zeta"}));

    // Both indexed columns of one record change: its entries move to the front of each index.
    {
        auto db = dao::OpenDatabase(f);
        EXPECT_EQ(db->Execute("update MSP_PROJECTS set PROJ_ID = -7, PROJ_NAME = 'Ábaco' where PROJ_ID = 4"), 1);
        EXPECT_EQ(db->Execute("update MSP_PROJECTS set PROJ_NAME = 'Straße' where PROJ_ID = 5"), 1);
        db->Close();
    }
    expectRecords(f,
                  header +
                      "-7\tÁbaco\t\tTrue\t\t\t\t\t\n"
                      "1\tAño\tMüller & Co\tFalse\t3\t2500\t12.5\t2024-05-06 07:08:09\t€\n"
                      "3\tÉCOLE\t\tFalse\t\t\t\t1999-12-31 23:59:59\t\n"
                      "5\tStraße\t\tFalse\t\t\t\t\t\n",
                  {"-7|Ábaco||1|||||", "1|Año|Müller & Co|0|3|2500|12.5|2024-05-06 07:08:09|€",
                   "3|ÉCOLE||0||||1999-12-31 23:59:59|", "5|Straße||0|||||"});
    EXPECT_EQ(inIndexOrder(f, "I_PROJ_NAME", "PROJ_NAME"), QStringList({"Ábaco", "Año", "ÉCOLE", "Straße"}));
    EXPECT_EQ(inIndexOrder(f, "I_MSP_PROJECTS", "PROJ_ID"), QStringList({"-7", "1", "3", "5"}));

    // A character the order does not place is refused, naming the index and the character.
    auto db = dao::OpenDatabase(f);
    expectRefused(f, "The keys of index I_PROJ_NAME (PROJ_NAME) cannot be written: the character '😀' (U+1F600)",
                  [&] { db->Execute("update MSP_PROJECTS set PROJ_NAME = 'x😀' where PROJ_ID = 1"); });
    expectRefused(f, "the character '😁' (U+1F601)",
                  [&] { db->Execute("insert into MSP_PROJECTS (PROJ_ID, PROJ_NAME) values (9, '😁')"); });
    db->Close();
}
