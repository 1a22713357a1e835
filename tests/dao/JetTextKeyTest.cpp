// Text index keys. Every text key the real files hold is a fact the encoder must reproduce byte for
// byte; a character whose place in the file's sort order is not known refuses the change and leaves
// the file byte-identical.

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <iostream>
#include <functional>
#include <map>

#include "JetOracles.h"
#include "platform/dao/JetCodePage.h"
#include "platform/dao/JetIndexKey.h"
#include "platform/dao/JetTextKey.h"
#include "platform/dao/JetWriteGate.h"

namespace {
using namespace jettest;
using namespace dao::jet;
using JetTextKeys = JetFileTest;

struct KeyTally {
    int matched = 0;
    int beyondLatin = 0;  // keys of values with a character past U+017F
    QStringList faults;
    QStringList refused;  // keys Access wrote that the encoder declines to make
};

// Compares every entry of every index over a column of one of the types with the key the encoder
// makes from the record the entry points to.
void compareKeys(const QString& path, KeyTally& tally, std::initializer_list<uint8_t> types) {
    const auto f = JetFile::open(path);
    const QString file = QFileInfo(path).fileName();
    for (const CatalogTable& ct : f->catalog()) {
        const TableDef t = f->readTableDef(ct.tdefPage, ct.name);
        std::map<RowId, std::pair<const uint8_t*, std::vector<FieldRef>>> rows;
        for (uint32_t p : f->usageMapPages(t.ownedPagesMap)) {
            if (p >= f->pageCount() || f->pageType(p) != PageData || rd32(f->page(p) + 4) != t.firstPage) continue;
            for (int r = 0; r < f->rowCount(p); ++r) {
                RowSlot s = f->slot(p, r);
                if (s.deleted) continue;
                RowId at{p, uint8_t(r)};
                if (s.overflow) {
                    at = f->overflowTarget(p, r);
                    s = f->slot(at.page, at.row);
                }
                const uint8_t* row = f->page(at.page) + s.start;
                rows[{p, uint8_t(r)}] = {row, f->crackRow(t, row, s.end - s.start)};
            }
        }
        for (const IndexData& idx : t.indexData) {
            const bool wanted = std::any_of(idx.columns.begin(), idx.columns.end(), [&](const IndexColumn& ic) {
                return std::find(types.begin(), types.end(), t.columnByNumber(ic.columnNumber)->type) != types.end();
            });
            if (!wanted) continue;
            std::function<void(uint32_t)> visit = [&](uint32_t pg) {
                const IndexPage ip = f->readIndexPage(pg);
                if (ip.type == PageIndexNode) {
                    for (const IndexEntry& e : ip.entries) visit(e.child);
                    // A node's tail page that no entry names holds entries too.
                    if (ip.tail && (ip.entries.empty() || ip.entries.back().child != ip.tail)) visit(ip.tail);
                    return;
                }
                for (const IndexEntry& e : ip.entries) {
                    const QString where = file + ": " + ct.name + " / " + t.indexName(idx);
                    const auto it = rows.find(e.row);
                    if (it == rows.end()) {
                        tally.faults << where + ": an entry without its record";
                        continue;
                    }
                    QString values;
                    for (const IndexColumn& ic : idx.columns) {
                        const ColumnDef* c = t.columnByNumber(ic.columnNumber);
                        const FieldRef& fr = it->second.second[size_t(c - t.columns.data())];
                        if (c->type == ColText && fr.present) values += JetFile::decodeText(it->second.first + fr.offset, fr.size);
                    }
                    QString why;
                    const auto key = JetIndexKey::encode(t, idx, it->second.first, it->second.second, &why);
                    if (!key)
                        tally.refused << where + ": " + why;
                    else if (*key != e.key)
                        tally.faults << where + ": file " + e.key.toHex() + ", encoder " + key->toHex();
                    else
                        ++tally.matched;
                    if (std::any_of(values.begin(), values.end(), [](QChar c) { return c.unicode() > 0x17F; }))
                        ++tally.beyondLatin;
                }
            };
            visit(idx.rootPage);
        }
    }
}

QByteArray key(const JetSortCodes& codes, const QString& text, bool ascending = true) {
    QString why;
    const auto k = JetTextKey::encode(codes, text, ascending, &why);
    EXPECT_TRUE(k.has_value()) << why.toStdString();
    return k.value_or(QByteArray());
}

void compareTextKeys(const QString& path, KeyTally& tally) { compareKeys(path, tally, {ColText}); }

}  // namespace

TEST(JetTextKey, ReproducesEveryTextKeyTheRealFilesHold) {
    // Every Jet 4 file ("General Legacy") and ACE file ("General") of both folders; the object
    // names of MSysObjects give keys of control characters and punctuation, the user tables Greek,
    // Cyrillic, CJK and the rest.
    KeyTally tally;
    int files = 0;
    for (const QString& folder : {QStringLiteral("/jet"), QStringLiteral("/jet-more")}) {
        const QDir d(QStringLiteral(TABULON_TESTDATA) + folder);
        for (const QFileInfo& fi : d.entryInfoList({"*.mdb", "*.accdb"}, QDir::Files, QDir::Name)) {
            if (JetFile::open(fi.filePath())->isJet3()) continue;
            compareTextKeys(fi.filePath(), tally);
            ++files;
        }
    }
    std::cout << "[          ] " << tally.matched << " text keys of " << files << " files reproduced, "
              << tally.beyondLatin << " of them of values past U+017F\n";
    EXPECT_TRUE(tally.faults.isEmpty()) << tally.faults.join('\n').toStdString();
    // Only characters beyond the Basic Multilingual Plane (the emoticons file) are declined.
    for (const QString& r : tally.refused)
        EXPECT_TRUE(r.contains(QRegularExpression("\\(U\\+1[0-9A-F]{4}\\) has no known place"))) << r.toStdString();
    EXPECT_GE(tally.matched, 1000);
}

// Access 97 files key text by the character's byte in the code page, in an order of their own:
// testIndexCodesV1997.mdb holds every character of Windows-1252 in ascending and descending indexes,
// alone and between letters.
TEST(JetTextKey, ReproducesEveryAccess97TextKey) {
    const std::vector<std::pair<QString, int>> files = {{"testIndexCodesV1997.mdb", 2846},
                                                        {"../jet-more/test2V1997.mdb", 22},
                                                        {"../jet-more/indexTestV1997.mdb", 31}};
    for (const auto& [name, keys] : files) {
        KeyTally t;
        compareTextKeys(testutil::jetFile(name), t);
        EXPECT_TRUE(t.faults.isEmpty()) << name.toStdString() << ":\n" << t.faults.mid(0, 20).join('\n').toStdString();
        EXPECT_EQ(t.matched, keys) << name.toStdString();
    }
}

// Keys Access wrote into a Jet 4 file for every character up to U+00FF between "a" and "é" (its
// inline code, its accent code and the place it takes), and for letters that sort as two.
TEST(JetTextKey, ReproducesTheJet4KeysAccessWrites) {
    QFile f(QStringLiteral(TABULON_SOURCE_DIR) + "/tests/data/jet4-general-legacy-keys.tsv");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly | QIODevice::Text));
    int lines = 0;
    QStringList faults;
    for (const QString& line : QString::fromLatin1(f.readAll()).split('\n')) {
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QStringList cols = line.split('\t');
        ASSERT_EQ(cols.size(), 2) << line.toStdString();
        QString text;
        for (const QString& cp : cols[0].split(' ')) text += QChar(char16_t(cp.toUInt(nullptr, 16)));
        QString why;
        const auto k = JetTextKey::encode(JetSortCodes::generalLegacy(), text, true, &why);
        if (!k || k->toHex().toUpper() != cols[1].toLatin1())
            faults << cols[0] + ": Access " + cols[1] + ", encoder " + (k ? QString(k->toHex().toUpper()) : why);
        ++lines;
    }
    EXPECT_EQ(lines, 271);
    EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
}

TEST(JetTextKey, Jet4OrderOfAccentsAndPunctuation) {
    const JetSortCodes& legacy = JetSortCodes::generalLegacy();
    // Accents count only after the letters; a letter that sorts as two keys as those two.
    EXPECT_LT(key(legacy, "Ano"), key(legacy, "Año"));
    EXPECT_LT(key(legacy, "Año"), key(legacy, "Anob"));
    EXPECT_LT(key(legacy, "Muller"), key(legacy, "Müller"));
    EXPECT_LT(key(legacy, "Müller"), key(legacy, "Mullers"));
    EXPECT_EQ(key(legacy, "ÉCOLE"), key(legacy, "école"));
    EXPECT_EQ(key(legacy, "Straße"), key(legacy, "Strasse"));
    // A hyphen counts only after everything else (co-op right after coop).
    EXPECT_LT(key(legacy, "coop"), key(legacy, "co-op"));
    EXPECT_LT(key(legacy, "co-op"), key(legacy, "coopa"));
    EXPECT_GT(key(legacy, "Año", false), key(legacy, "Anob", false));
}

TEST(JetTextKey, AccentsCaseBlanksAndDirection) {
    const JetSortCodes& general = JetSortCodes::general();
    // Letters first, accents only after them; case does not count; trailing blanks neither.
    const QStringList ordered = {"", "a", "á", "à", "ab", "B", "e", "é", "ê", "f", "Ñ", "o", "Œ", "z"};
    for (int i = 1; i < ordered.size(); ++i) {
        EXPECT_LT(key(general, ordered[i - 1]), key(general, ordered[i])) << ordered[i].toStdString();
        // Descending keys run the other way.
        EXPECT_GT(key(general, ordered[i - 1], false), key(general, ordered[i], false)) << ordered[i].toStdString();
    }
    EXPECT_EQ(key(general, "ÉCOLE"), key(general, "école"));
    EXPECT_EQ(key(general, "ab  "), key(general, "ab"));
    EXPECT_EQ(key(general, "é").toHex(), "7f0e2101"
                                         "0e00");  // inline code, end mark, accent, end of key
    EXPECT_EQ(key(general, "", false).toHex(), "80feff00");
    // Characters without an inline code still count where they stand.
    EXPECT_NE(key(general, "a\x03"), key(general, "\x03" "a"));
}

TEST(JetTextKey, UnknownCharactersAndOverlongValuesAreRefusedWithTheReason) {
    QString why;
    EXPECT_FALSE(JetTextKey::encode(JetSortCodes::general(), "5 😀", true, &why));
    EXPECT_TRUE(why.contains("the character '😀' (U+1F600) has no known place in the \"General\" sort order"))
        << why.toStdString();
    // Both orders know the Basic Multilingual Plane, and no more.
    EXPECT_FALSE(JetTextKey::encode(JetSortCodes::generalLegacy(), "Próject 5 😀", true, &why));
    EXPECT_TRUE(why.contains("the character '😀' (U+1F600) has no known place in the \"General Legacy\" sort order"))
        << why.toStdString();
    EXPECT_FALSE(JetTextKey::encode(JetSortCodes::generalLegacy(), QString(QChar(0xD800)), true, &why));
    EXPECT_FALSE(JetTextKey::encode(JetSortCodes::general(), QString(128, 'a'), true, &why));
    EXPECT_TRUE(JetTextKey::encode(JetSortCodes::general(), QString(127, 'a') + "   ", true, &why));
}

// In the ACE order a letter that sorts as two (Æ, Ü, Þ, ß, Ĳ, Œ) may take one place or two in the
// accent part; no key Access wrote says which. Only a key whose bytes hang on it is refused.
TEST(JetTextKey, AceLettersThatSortAsTwoAreKeyedOnlyWhereTheirWidthDoesNotMatter) {
    const JetSortCodes& general = JetSortCodes::general();
    EXPECT_EQ(key(general, "Æsop"), key(general, "aesop"));
    EXPECT_EQ(key(general, "Straße"), key(general, "strasse"));
    // Accents before the letter keep their places whatever it counts as.
    EXPECT_EQ(key(general, "éŒ").toHex(), "7f0e210e7c0e21010e00");
    EXPECT_EQ(key(general, "Ü", false), key(general, "ue", false));

    const std::vector<std::pair<QString, QString>> refused = {
        {"Æé", "'Æ' (U+00C6)"},
        {"aÜb ñ", "'Ü' (U+00DC)"},
        {QString("ß") + QChar(0x03), "'ß' (U+00DF)"},   // an unprintable's place counts letters too
        {"þæ-", "'þ' (U+00FE)"},                        // and so does a hyphen's
        {"Œuvré", "'Œ' (U+0152)"},
    };
    for (const auto& [text, who] : refused) {
        for (const bool ascending : {true, false}) {
            QString why;
            EXPECT_FALSE(JetTextKey::encode(general, text, ascending, &why)) << text.toStdString();
            EXPECT_TRUE(why.startsWith("the character " + who + " sorts as two letters")) << why.toStdString();
            EXPECT_TRUE(why.contains("\"General\" sort order")) << why.toStdString();
        }
    }
}

TEST_F(JetTextKeys, AccentedTextKeysInAnAceFile) {
    const QString f = copy("testV2010.accdb");
    {
        auto db = dao::OpenDatabase(f);
        // B has an index of its own, A is the primary key: both entries move to their new keys.
        EXPECT_EQ(db->Execute("update Table1 set B = 'Ñandú à la crème' where A = 'a'"), 1);
        EXPECT_EQ(db->Execute("update Table1 set A = 'Ábaco' where A = 'abcdefg'"), 1);
        EXPECT_EQ(db->Execute("insert into Table1 (A, B, E, I) values ('œuvre', 'ÇA', 7, True)"), 1);
        db->Close();
    }
    expectReaders(f, "Table1", "select A, B, E from Table1 order by E",
                  "A\tB\tE\n"
                  "a\tÑandú à la crème\t0\n"
                  "œuvre\tÇA\t7\n"
                  "Ábaco\thijklmnop\t333333333\n",
                  "A,B,C,D,E,F,G,H,I\n"
                  "\"a\",\"Ñandú à la crème\",0,0,0,0,\"1981-12-12 00:00:00\",0.0000,0\n"
                  "\"Ábaco\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21 00:00:00\",3.5000,1\n"
                  "\"œuvre\",\"ÇA\",,,7,,,,1\n",
                  "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n"
                  "[\"a\",\"Ñandú à la crème\",0,0,0,0,\"1981-12-12T00:00:00.000Z\",\"0.0000\",false]\n"
                  "[\"Ábaco\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21T00:00:00.000Z\",\"3.5000\",true]\n"
                  "[\"œuvre\",\"ÇA\",null,null,7,null,null,null,true]\n");
    // The check compared each text key with the record's own.
    const QString report = JetCheck::run(f).lines.join('\n');
    EXPECT_TRUE(report.contains("index B (B): 3 entries in 1 leaf page(s), in order, 3 keys match")) << report.toStdString();
    EXPECT_TRUE(report.contains("index PrimaryKey (A): 3 entries in 1 leaf page(s), in order, 3 keys match"));

    auto db = dao::OpenDatabase(f);
    expectRefused(f, "The keys of index B (B) cannot be written: the character '😀' (U+1F600)",
                  [&] { db->Execute("update Table1 set B = 'x😀' where A = 'a'"); });
    expectRefused(f, "The keys of index PrimaryKey (A) cannot be written: the character '😀' (U+1F600)",
                  [&] { db->Execute("insert into Table1 (A, B, E, I) values ('😀', 'b', 8, True)"); });
    expectRefused(f, "The keys of index B (B) cannot be written: the character 'Æ' (U+00C6) sorts as two letters",
                  [&] { db->Execute("update Table1 set B = 'Æon é' where A = 'a'"); });
    db->Close();
}

// Every script the orders place, in an indexed Text field of a Jet 4 and an ACE file: the check
// compares each key with the record's own, and mdb-export and mdb-reader read the values back.
TEST_F(JetTextKeys, ScriptsBeyondLatinInJet4AndAceFiles) {
    const QStringList values = {"Мир", "Ελλάδα", "東京", "مرحبا", "שלום", "ひらがなカタカナ"};
    struct Case {
        const char* file;
        const char* table;
        const char* insert;  // %1: a number, %2: the value
        const char* index;   // the index over the value, as the check names it
    };
    for (const Case& c : {Case{"testV2010.accdb", "Table1", "insert into Table1 (A, B, E, I) values ('k%1', '%2', %1, True)",
                               "index B (B): 8 entries"},
                          // Both fields of this Jet 4 table are indexed text: the primary key takes the value too.
                          Case{"../jet-more/testIndexPropertiesV2003.mdb", "TableIgnoreNulls1",
                               "insert into TableIgnoreNulls1 (row, data) values ('%2', 'k%1 %2')",
                               "index PrimaryKey (row): 16 entries"}}) {
        SCOPED_TRACE(c.file);
        const QString f = copy(c.file);
        {
            auto db = dao::OpenDatabase(f);
            for (int i = 0; i < values.size(); ++i)
                EXPECT_EQ(db->Execute(QString(c.insert).arg(i).arg(values[i])), 1);
            db->Close();
        }
        const dao::jet::CheckReport rep = JetCheck::run(f);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
        const QString report = rep.lines.join('\n');
        const QRegularExpression matched(QRegularExpression::escape(c.index) + " in \\d+ leaf page\\(s\\), in order, (\\d+) keys match");
        const QRegularExpressionMatch m = matched.match(report);
        EXPECT_TRUE(m.hasMatch()) << report.toStdString();
        EXPECT_EQ(m.captured(1).toInt(), QString(c.index).section(' ', -2, -2).toInt()) << report.toStdString();
        const QString exported = mdbExport(f, c.table), js = mdbReader(f, c.table);
        for (const QString& v : values) {
            if (exported != "skipped") EXPECT_TRUE(exported.contains(v)) << v.toStdString();
            if (js != "skipped") EXPECT_TRUE(js.contains(v)) << v.toStdString();
        }
    }
}

// A record whose indexed text holds a character without a key (beyond U+FFFF) can still be edited:
// its old entry is found by the record, as a delete finds it. Only a new such key is refused.
TEST_F(JetTextKeys, ARecordWhoseOldKeyHasNoCodeCanBeEdited) {
    const QString f = copy("../jet-more/testEmoticonsV2010.accdb");
    struct Step {
        const char* sql;
        const char* exported;  // the line mdb-export then shows
        const char* keysMatch;
    };
    for (const Step& s : {Step{"update data set data = 'plain' where key = 128512", "128512,\"plain\"\n", "1 keys match"},
                          Step{"update data set data = Null where key = 128513", "128513,\n", "2 keys match"},
                          Step{"update data set key = 7 where key = 128514", "7,\"a??a\"\n", "2 keys match"}}) {
        SCOPED_TRACE(s.sql);
        execute(f, s.sql);
        const CheckReport rep = JetCheck::run(f);
        EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
        EXPECT_TRUE(rep.lines.join('\n').contains("index data (data): 80 entries in 1 leaf page(s), in order, " +
                                                  QString(s.keysMatch)))
            << rep.lines.join('\n').toStdString();
        const QString exported = mdbExport(f, "data");
        if (exported != "skipped") EXPECT_TRUE(exported.contains(s.exported)) << exported.toStdString();
    }
    EXPECT_EQ(ours(f, "select key, data from data where key < 128516 order by key"),
              "key\tdata\n7\ta😂a\n128512\tplain\n128513\t\n128515\ta😃a\n");
    const QString js = mdbReader(f, "data");
    if (js != "skipped") {
        EXPECT_TRUE(js.contains("[128512,\"plain\"]\n[128513,null]\n[7,\"a😂a\"]\n")) << js.toStdString();
    }
    auto db = dao::OpenDatabase(f);
    expectRefused(f, "The keys of index data (data) cannot be written: the character '😀' (U+1F600)",
                  [&] { db->Execute("update data set data = 'b😀b' where key = 7"); });
    db->Close();
}

// Access 97 text is stored in Windows-1252, which leaves five bytes without a character. Every reader
// shows such a byte as the C1 control of its number, so an edit or a delete finds the record as
// shown, and the byte is written back as it was.
TEST_F(JetTextKeys, Access97BytesWithoutACharacterReadAndWriteBackUnchanged) {
    const QString f = copy("testIndexCodesV1997.mdb");
    const std::map<QString, int> rows = {{"row129", 0x81}, {"row141", 0x8D}, {"row143", 0x8F}, {"row144", 0x90}, {"row157", 0x9D}};
    {
        auto db = dao::OpenDatabase(f);
        for (const auto& [name, byte] : rows) {
            auto rs = db->OpenRecordset("select data from Table1 where name = '" + name + "'", dao::dbOpenSnapshot);
            ASSERT_FALSE(rs->Eof()) << name.toStdString();
            EXPECT_EQ(rs->Fields()[0].Value().asString(), "AA" + QString(QChar(byte)) + "AA") << name.toStdString();
        }
        // A field the user did not change keeps its byte; one the user did change keeps the rest.
        EXPECT_EQ(db->Execute("update Table1 set name = 'x129' where name = 'row129'"), 1);
        EXPECT_EQ(db->Execute("update Table1 set data = data & 'z' where name = 'row143'"), 1);
        EXPECT_EQ(db->Execute("delete from Table1 where name = 'row141'"), 1);
        db->Close();
    }
    QFile in(f);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    EXPECT_EQ(bytes.count(QByteArray("x129AA\x81" "AA")), 1);
    EXPECT_EQ(bytes.count(QByteArray("AA\x8f" "AAz")), 1);
    const CheckReport rep = JetCheck::run(f);
    EXPECT_EQ(rep.faults, 0) << rep.lines.join('\n').toStdString();
    EXPECT_TRUE(rep.lines.join('\n').contains("index DataIndex (data): 274 entries")) << rep.lines.join('\n').toStdString();
    EXPECT_EQ(ours(f, "select name, data from Table1 where name in ('row143', 'x129') order by name"),
              QString("name\tdata\nrow143\tAA\u008fAAz\nx129\tAA\u0081AA\n"));
    const QString exported = mdbExport(f, "Table1");
    if (exported != "skipped") {
        EXPECT_TRUE(exported.contains("\"x129\",\"AA?AA\"\n")) << exported.toStdString();
        EXPECT_FALSE(exported.contains("row141")) << exported.toStdString();
    }
}

// An Access 97 file of another code page (here its header doctored to Windows-1251) reads in that
// code page, by the engine as by the file reader, and stays read-only.
TEST_F(JetTextKeys, Access97TextOfAnotherCodePageReadsInIt) {
    const QString f = copy("testIndexCodesV1997.mdb");
    {
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek(0x3c));
        char low = 0;
        ASSERT_TRUE(file.getChar(&low));
        ASSERT_TRUE(file.seek(0x3c));
        ASSERT_TRUE(file.putChar(char(low ^ (1252 ^ 1251))));  // the header is masked: flip the same bits
    }
    const auto jf = JetFile::open(f);
    EXPECT_EQ(jf->codePage(), 1251);
    EXPECT_TRUE(JetWriteGate::whyReadOnly(f).contains("code page 1251")) << JetWriteGate::whyReadOnly(f).toStdString();
    EXPECT_EQ(ours(f, "select data from Table14 where name in ('row192', 'row255') order by name"),
              QString::fromUtf8("data\naАa\naяa\n"));
    const uint8_t cyrillic[] = {0xC0, 0xFF};
    EXPECT_EQ(JetCodePage::decode(1251, cyrillic, 2), QString::fromUtf8("Ая"));

    // A header naming no code page (0): read as Western, as libmdb reads it, names included, so the
    // check finds the file whole; it is not written.
    const QString none = copy("testIndexCodesV1997.mdb");  // the same file, doctored afresh
    {
        QFile file(none);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek(0x3c));
        QByteArray cp = file.read(2);
        cp[0] = char(cp[0] ^ (1252 & 0xff));
        cp[1] = char(cp[1] ^ (1252 >> 8));
        ASSERT_TRUE(file.seek(0x3c));
        ASSERT_EQ(file.write(cp), 2);
    }
    EXPECT_EQ(JetFile::open(none)->codePage(), 0);
    EXPECT_TRUE(JetWriteGate::whyReadOnly(none).contains("code page 0")) << JetWriteGate::whyReadOnly(none).toStdString();
    EXPECT_EQ(ours(none, "select data from Table14 where name in ('row192', 'row255') order by name"),
              QString::fromUtf8("data\naÀa\naÿa\n"));
    const CheckReport rep = JetCheck::run(none);
    EXPECT_EQ(rep.faults, 0) << rep.lines.mid(0, 20).join('\n').toStdString();
}

// Binary values, GUIDs and extended dates key their bytes in segments of eight. Every such key the
// real files hold, in both directions: binary values of 0 to 160 bytes (binIdxTestV2010), the binary
// column of the query catalog of every file, Access 97 GUIDs, Access 2019 extended dates.
TEST(JetIndexKey, ReproducesEveryBinaryGuidAndExtendedDateKey) {
    std::map<QString, int> matched;
    QStringList faults, refused;
    for (const QString& folder : {QStringLiteral("/jet"), QStringLiteral("/jet-more")}) {
        const QDir d(QStringLiteral(TABULON_TESTDATA) + folder);
        for (const QFileInfo& fi : d.entryInfoList({"*.mdb", "*.accdb"}, QDir::Files, QDir::Name)) {
            KeyTally t;
            compareKeys(fi.filePath(), t, {ColBinary, ColGuid, ColExtDate});
            matched[fi.fileName()] += t.matched;
            faults << t.faults;
            refused << t.refused;
        }
    }
    EXPECT_TRUE(faults.isEmpty()) << faults.mid(0, 20).join('\n').toStdString();
    EXPECT_TRUE(refused.isEmpty()) << refused.mid(0, 20).join('\n').toStdString();
    EXPECT_EQ(matched["binIdxTestV2010.accdb"], 2 * 105);
    EXPECT_EQ(matched["testIndexCodesV1997.mdb"], 2 * 20);
    EXPECT_EQ(matched["extDateTestV2019.accdb"], 2 * 9);
    for (const char* file : {"queryTestV1997.mdb", "queryTestV2003.mdb", "queryTestV2010.accdb"}) EXPECT_EQ(matched[file], 90) << file;
}
