#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVariant>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <random>

#include "JetOracles.h"
#include "TestUtil.h"
#include "platform/dao/Connection.h"
#include "platform/dao/Dao.h"
#include "platform/dao/Error.h"
#include "platform/dao/FieldTypes.h"
#include "platform/dao/JetFile.h"
#include "platform/dao/JetReader.h"
#include "platform/dao/JetReaderHelper.h"

namespace {

// Read access to a converted file through the sqlite3 C API.
class SqliteFile {
public:
    explicit SqliteFile(const QString& path) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, SQLITE_OPEN_READONLY, nullptr) !=
            SQLITE_OK) {
            ADD_FAILURE() << "cannot open " << path.toStdString();
        }
    }
    ~SqliteFile() { sqlite3_close(db_); }

    QList<QVariantList> rows(const QString& sql) const {
        QList<QVariantList> out;
        sqlite3_stmt* st = nullptr;
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sql.toStdString() << ": " << sqlite3_errmsg(db_);
            return out;
        }
        while (sqlite3_step(st) == SQLITE_ROW) {
            QVariantList row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) row << column(st, i);
            out << row;
        }
        sqlite3_finalize(st);
        return out;
    }
    QVariant value(const QString& sql) const {
        const auto r = rows(sql);
        return r.isEmpty() || r[0].isEmpty() ? QVariant() : r[0][0];
    }
    // The value of one column in the row whose "name" column is rowName (the Jet3 test tables).
    QVariant named(const QString& table, const QString& rowName, const QString& col = "data") const {
        return value(QString("SELECT \"%1\" FROM \"%2\" WHERE name = '%3'").arg(col, table, rowName));
    }
    QString text(const QString& sql) const {
        sqlite3_stmt* st = nullptr;
        QString out;
        if (sqlite3_prepare_v2(db_, sql.toUtf8().constData(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            out = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return out;
    }
    QStringList tables() const {
        QStringList names;
        for (const auto& r : rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid"))
            names << r[0].toString();
        return names;
    }
    QList<QPair<QString, QString>> columns(const QString& table) const {
        QList<QPair<QString, QString>> cols;
        for (const auto& r : rows(QString("PRAGMA table_info(\"%1\")").arg(table)))
            cols << qMakePair(r[1].toString(), r[2].toString());
        return cols;
    }

private:
    static QVariant column(sqlite3_stmt* st, int i) {
        switch (sqlite3_column_type(st, i)) {
            case SQLITE_INTEGER:
                return qlonglong(sqlite3_column_int64(st, i));
            case SQLITE_FLOAT:
                return sqlite3_column_double(st, i);
            case SQLITE_TEXT:
                return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                         sqlite3_column_bytes(st, i));
            case SQLITE_BLOB:
                return QByteArray(static_cast<const char*>(sqlite3_column_blob(st, i)),
                                  sqlite3_column_bytes(st, i));
            default:
                return QVariant();
        }
    }
    sqlite3* db_ = nullptr;
};

const QStringList kFiles = {"testIndexCodesV1997.mdb", "test2V2003.mdb", "functionsV2003.mdb",
                            "weirdObjectNames.mdb", "testV2010.accdb"};

// Each test file converted once for the whole run.
QString converted(const QString& name) {
    static QTemporaryDir dir;
    static QHash<QString, QString> done;
    if (!done.contains(name)) {
        const QString out = dir.filePath(name + ".sqlite");
        // An undamaged file reads whole: every table gives the records its definition counts.
        EXPECT_TRUE(dao::jet::convertToSqlite(testutil::jetFile(name), out).isEmpty()) << name.toStdString();
        done.insert(name, out);
    }
    return done.value(name);
}

struct ExpectedColumn {
    QString name;
    int mdbType = 0;
    int mdbSize = 0;
    int nulls = 0;
};
struct ExpectedTable {
    QString name;
    qlonglong rows = -1;
    QList<ExpectedColumn> columns;
};
struct ExpectedFile {
    bool jet3 = false;
    QList<ExpectedTable> tables;
};

// The machine-readable part of <file>.expected.txt (everything before "notes:").
ExpectedFile readExpected(const QString& name) {
    ExpectedFile e;
    QFile f(testutil::jetFile(name + ".expected.txt"));
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "missing " << f.fileName().toStdString();
        return e;
    }
    for (const QString& raw : QString::fromUtf8(f.readAll()).split('\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith("notes:")) break;
        if (line.startsWith("format:")) e.jet3 = line.contains("JET3");
        if (line.startsWith("table: ")) e.tables << ExpectedTable{line.mid(7), -1, {}};
        if (line.startsWith("rows: ") && !e.tables.isEmpty()) e.tables.last().rows = line.mid(6).toLongLong();
        if (line.startsWith("column: ") && !e.tables.isEmpty()) {
            const QStringList parts = line.mid(8).split(" | ");
            ExpectedColumn c;
            c.name = parts.value(0);
            const QStringList typeParts = parts.value(2).split(' ');
            c.mdbType = typeParts.value(0).toInt(nullptr, 16);
            c.mdbSize = typeParts.value(2).mid(5).toInt();
            c.nulls = parts.value(3).mid(6).toInt();
            e.tables.last().columns << c;
        }
    }
    return e;
}

// Our field type for a libmdb column type: the mapping the engine promises for Jet files.
dao::DeclaredType engineTypeOf(int mdbType, int mdbSize, bool jet3) {
    switch (mdbType) {
        case 0x01:
            return {dao::dbBoolean, 1};
        case 0x02:
            return {dao::dbByte, 1};
        case 0x03:
            return {dao::dbInteger, 2};
        case 0x04:
            return {dao::dbLong, 4};
        case 0x05:
            return {dao::dbCurrency, 8};
        case 0x06:
            return {dao::dbSingle, 4};
        case 0x07:
            return {dao::dbDouble, 8};
        case 0x08:
            return {dao::dbDate, 8};
        case 0x09:
            return {dao::dbBinary, mdbSize};
        case 0x0a:
            return {dao::dbText, jet3 ? mdbSize : mdbSize / 2};
        case 0x0b:
            return {dao::dbLongBinary, 0};
        case 0x0f:
            return {dao::dbGUID, 16};
        case 0x10:
            return {dao::dbDecimal, 17};
        default:
            return {dao::dbMemo, 0};
    }
}

TEST(JetReaderTest, RecognisesJetAndAceSignaturesOnly) {
    const QByteArray jet = QByteArray("\x00\x01\x00\x00", 4) + "Standard Jet DB" + QByteArray(100, '\0');
    const QByteArray ace = QByteArray("\x00\x01\x00\x00", 4) + "Standard ACE DB" + QByteArray(100, '\0');
    EXPECT_TRUE(dao::jet::looksLikeJet(jet));
    EXPECT_TRUE(dao::jet::looksLikeJet(ace));
    EXPECT_TRUE(dao::jet::looksLikeJet(jet.left(19)));
    EXPECT_FALSE(dao::jet::looksLikeJet(jet.left(18)));
    EXPECT_FALSE(dao::jet::looksLikeJet(QByteArray()));
    EXPECT_FALSE(dao::jet::looksLikeJet(QByteArray("SQLite format 3\0", 16) + QByteArray(100, '\0')));
    EXPECT_FALSE(dao::jet::looksLikeJet("Standard Jet DB at offset 0 is not a Jet file"));
    QFile real(testutil::jetFile("testV2010.accdb"));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    EXPECT_TRUE(dao::jet::looksLikeJet(real.read(64)));
}

TEST(JetReaderTest, TablesColumnsRowsAndNullsMatchTheExpectedFiles) {
    for (const QString& file : kFiles) {
        SCOPED_TRACE(file.toStdString());
        const ExpectedFile expected = readExpected(file);
        ASSERT_FALSE(expected.tables.isEmpty());
        SqliteFile db(converted(file));

        QStringList userTables;
        for (const QString& t : db.tables())
            if (!t.startsWith("MSys")) userTables << t;
        QStringList expectedNames;
        for (const auto& t : expected.tables) expectedNames << t.name;
        EXPECT_EQ(userTables, expectedNames);

        for (const ExpectedTable& t : expected.tables) {
            SCOPED_TRACE(t.name.toStdString());
            const auto cols = db.columns(t.name);
            ASSERT_EQ(cols.size(), t.columns.size());
            EXPECT_EQ(db.value(QString("SELECT count(*) FROM \"%1\"").arg(t.name)).toLongLong(), t.rows);
            for (int i = 0; i < cols.size(); ++i) {
                const ExpectedColumn& c = t.columns[i];
                SCOPED_TRACE(c.name.toStdString());
                EXPECT_EQ(cols[i].first, c.name);
                const dao::DeclaredType want = engineTypeOf(c.mdbType, c.mdbSize, expected.jet3);
                const dao::DeclaredType got = dao::fieldTypeFromDeclared(cols[i].second);
                EXPECT_EQ(got.type, want.type) << cols[i].second.toStdString();
                if (want.type == dao::dbText) {
                    EXPECT_EQ(got.size, want.size);
                }
                EXPECT_EQ(
                    db.value(QString("SELECT count(*) FROM \"%1\" WHERE \"%2\" IS NULL").arg(t.name, c.name))
                        .toInt(),
                    c.nulls);
            }
        }
    }
}

TEST(JetReaderTest, SystemTablesFollowUserTablesAndHiddenAceTablesAreLeftOut) {
    for (const QString& file : kFiles) {
        SCOPED_TRACE(file.toStdString());
        SqliteFile db(converted(file));
        const QStringList tables = db.tables();
        const int firstSystem = int(tables.indexOf(QRegularExpression("^MSys.*")));
        ASSERT_GE(firstSystem, 1);
        for (int i = firstSystem; i < tables.size(); ++i)
            EXPECT_TRUE(tables[i].startsWith("MSys")) << tables[i].toStdString();
        EXPECT_TRUE(tables.contains("MSysObjects"));
        EXPECT_GT(db.value("SELECT count(*) FROM MSysObjects").toInt(), 0);
    }
    SqliteFile ace(converted("testV2010.accdb"));
    for (const QString& t : ace.tables()) EXPECT_FALSE(t.startsWith("f_")) << t.toStdString();
    EXPECT_TRUE(ace.tables().contains("MSysResources"));  // flagged system without the 0x80000000 bit
}

TEST(JetReaderTest, Jet3NumbersDatesAndGuidsMatchTheHandCheckedValues) {
    SqliteFile db(converted("testIndexCodesV1997.mdb"));
    // Dates, including those before 1899-12-30 that libmdb cannot format.
    const QList<QPair<QString, QString>> dates = {
        {"row0", "1899-12-30 00:00:00"},  {"row10", "1899-12-30 00:00:30"}, {"row1", "1908-11-18 00:00:00"},
        {"row11", "4103-12-19 08:18:03"}, {"row20", "2007-03-03 15:13:00"}, {"row22", "1999-11-11 00:00:00"},
        {"row3", "1899-12-07 00:00:00"},  {"row4", "1805-06-12 00:00:00"},  {"row8", "1668-07-20 00:00:00"},
        {"row14", "1899-09-27 10:19:15"}, {"row19", "1899-12-29 02:24:00"}};
    for (const auto& [row, date] : dates)
        EXPECT_EQ(db.named("Table6", row).toString(), date) << row.toStdString();
    for (const char* row : {"row2", "row5", "row6", "row12", "row15", "row16", "row17"})
        EXPECT_TRUE(db.named("Table6", row).isNull()) << row;

    // Currency: exact to four decimals.
    EXPECT_EQ(db.named("Table8", "row11").toDouble(), 804983.35);
    EXPECT_EQ(db.named("Table8", "row16").toDouble(), -8540982423.45);
    EXPECT_EQ(db.named("Table8", "row19").toDouble(), -1.1);
    EXPECT_TRUE(db.named("Table8", "row5").isNull());

    // Byte is unsigned.
    EXPECT_EQ(db.named("Table9", "row1").toLongLong(), 127);
    EXPECT_EQ(db.named("Table9", "row10").toLongLong(), 128);
    EXPECT_EQ(db.named("Table9", "row3").toLongLong(), 255);
    EXPECT_EQ(db.named("Table9", "row9").toLongLong(), 199);
    EXPECT_TRUE(db.named("Table9", "row6").isNull());

    EXPECT_EQ(db.named("Table3", "row9").toLongLong(), -32400);
    EXPECT_EQ(db.named("Table3", "row10").toLongLong(), 31045);
    EXPECT_TRUE(db.named("Table3", "row7").isNull());
    EXPECT_EQ(db.named("Table2", "row2").toLongLong(), 309840983);
    EXPECT_EQ(db.named("Table2", "row6").toLongLong(), -349809345);
    EXPECT_TRUE(db.named("Table2", "row5").isNull());

    EXPECT_EQ(db.named("Table4", "row10").toDouble(), -0.00035134);
    EXPECT_EQ(db.named("Table4", "row14").toDouble(), -94.43);
    EXPECT_EQ(db.named("Table4", "row16").toDouble(), -8540982423.45);
    EXPECT_TRUE(db.named("Table4", "row5").isNull());
    // Single: the 32-bit value, widened exactly.
    EXPECT_EQ(db.named("Table5", "row11").toDouble(), double(804983.375f));
    EXPECT_EQ(db.named("Table5", "row16").toDouble(), double(-8540981760.0f));
    EXPECT_EQ(db.named("Table5", "row10").toDouble(), double(-0.00035134f));

    const int yesNo[] = {0, 1, 1, 0, 0};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(db.named("Table10", QString("row%1").arg(i)).toLongLong(), yesNo[i]) << i;
    EXPECT_EQ(db.value("SELECT count(*) FROM Table10 WHERE data IS NULL").toInt(), 0);

    EXPECT_EQ(db.named("Table13", "row0").toString(), "{8E39276A-BCA8-4AC4-891E-49911D8438DD}");
    EXPECT_EQ(db.value("SELECT count(*) FROM Table13 WHERE data NOT GLOB "
                       "'{[0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F]-*-*-*-*}'")
                  .toInt(),
              0);
}

TEST(JetReaderTest, Jet3TextIsDecodedFromItsCodePage) {
    SqliteFile db(converted("testIndexCodesV1997.mdb"));
    // Code page 1252 at 0x80..0x9F; 0 marks the bytes it leaves undefined.
    const char16_t cp1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                 0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    // The file holds "aa" for bytes 0 and 26; libmdb turns the undefined bytes into '?'.
    int checked = 0;
    for (int b = 1; b < 256; ++b) {
        if (b == 26) continue;
        const char16_t ch = (b >= 0x80 && b < 0xA0) ? cp1252[b - 0x80] : char16_t(b);
        if (ch == 0) continue;
        const QString want = QString("a") + QChar(ch) + "a";
        EXPECT_EQ(db.named("Table14", QString("row%1").arg(b)).toString(), want) << "byte " << b;
        ++checked;
    }
    EXPECT_EQ(checked, 249);
    EXPECT_EQ(db.named("Table1", "row10").toString(), "AA\nAA");
    EXPECT_EQ(db.value("SELECT count(*) FROM Table1 WHERE data IS NULL").toInt(), 1);
}

TEST(JetReaderTest, Jet4MemoOleUnicodeAndYesNoValues) {
    SqliteFile db(converted("test2V2003.mdb"));
    const auto r = db.rows(
        "SELECT PROJ_ID, PROJ_NAME, PROJ_OPT_CURRENCY_SYMBOL, PROJ_OPT_MINUTES_PER_WEEK, PROJ_PROP_AUTHOR, "
        "PROJ_DATA_SOURCE, PROJ_INFO_CURRENT_DATE, PROJ_CREATION_DATE_EX, PROJ_OPT_CALC_ACT_COSTS, "
        "PROJ_OPT_MULT_CRITICAL_PATHS, RESERVED_BINARY_DATA FROM MSP_PROJECTS");
    ASSERT_EQ(r.size(), 1);
    const QVariantList& v = r[0];
    EXPECT_EQ(v[0].toLongLong(), 1);
    EXPECT_EQ(v[1].toString(), "Project1");
    EXPECT_EQ(v[2].toString(), QString(QChar(0x00A3)));
    EXPECT_EQ(v[3].toLongLong(), 2400);
    EXPECT_EQ(v[4].toString().size(), 348);
    EXPECT_TRUE(v[4].toString().startsWith("Jon Iles this is a a vawesrasoih"));
    EXPECT_EQ(v[5].toString(), "Z:\\temp\\Project1.mpd");
    EXPECT_EQ(v[6].toString(), "2006-02-03 08:00:00");
    EXPECT_EQ(v[7].toString(), "2006-02-03 22:11:05");
    EXPECT_EQ(v[8].toLongLong(), 1);
    EXPECT_EQ(v[9].toLongLong(), 0);
    ASSERT_EQ(v[10].typeId(), QMetaType::QByteArray);
    const QByteArray ole = v[10].toByteArray();
    EXPECT_EQ(ole.size(), 22970);
    EXPECT_EQ(ole.left(8), QByteArray("\x15\x1C\x2D\x00\x02\x00\x00\x00", 8));
    EXPECT_EQ(QCryptographicHash::hash(ole, QCryptographicHash::Sha256).toHex(),
              "4444aa8e05096187493aef56724710e8841de604196e58089d48ab801338ceb0");
}

TEST(JetReaderTest, DecimalAceAndOddlyNamedTables) {
    SqliteFile fn(converted("functionsV2003.mdb"));
    EXPECT_EQ(fn.value("SELECT id FROM t_funcs").toLongLong(), 1234);
    EXPECT_EQ(fn.value("SELECT descr FROM t_funcs").toString(), "Show must go off");
    EXPECT_EQ(fn.text("SELECT num FROM t_funcs"), "-1110.554");
    EXPECT_EQ(fn.value("SELECT date0 FROM t_funcs").toString(), "2003-11-22 22:42:58");

    SqliteFile ace(converted("testV2010.accdb"));
    const auto rows = ace.rows("SELECT A, B, C, D, E, F, G, H, I FROM Table1 ORDER BY rowid");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0][0].toString(), "a");
    EXPECT_EQ(rows[0][6].toString(), "1981-12-12 00:00:00");
    EXPECT_EQ(rows[0][7].toDouble(), 0.0);
    EXPECT_EQ(rows[0][8].toLongLong(), 0);
    EXPECT_EQ(rows[1][0].toString(), "abcdefg");
    EXPECT_EQ(rows[1][1].toString(), "hijklmnop");
    EXPECT_EQ(rows[1][2].toLongLong(), 2);
    EXPECT_EQ(rows[1][3].toLongLong(), 222);
    EXPECT_EQ(rows[1][4].toLongLong(), 333333333);
    EXPECT_EQ(rows[1][5].toDouble(), 444.555);
    EXPECT_EQ(rows[1][6].toString(), "1974-09-21 00:00:00");
    EXPECT_EQ(rows[1][7].toDouble(), 3.5);
    EXPECT_EQ(rows[1][8].toLongLong(), 1);
    EXPECT_EQ(ace.columns("Table2").size(), 89);
    EXPECT_EQ(ace.columns("Table2").last().first, "column89");

    SqliteFile weird(converted("weirdObjectNames.mdb"));
    const auto w = weird.rows("SELECT ID, TextField FROM \"19 MB 01 BEZAHLT ???\"");
    ASSERT_EQ(w.size(), 1);
    EXPECT_EQ(w[0][0].toLongLong(), 1);
    EXPECT_EQ(w[0][1].toString(), "foo");
}

// Converts and reports the error number (0 for success); on failure nothing may be left at out.
int convertOrError(const QString& in, const QString& out) {
    try {
        dao::jet::convertToSqlite(in, out);
        return 0;
    } catch (const dao::Error& e) {
        EXPECT_TRUE(e.description().contains(QDir::toNativeSeparators(in))) << e.what();
        EXPECT_FALSE(QFile::exists(out));
        EXPECT_FALSE(QFile::exists(out + "-journal"));
        return e.number();
    }
}

TEST(JetReaderTest, FilesThatAreNotJetDatabasesRaise3343) {
    QTemporaryDir dir;
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    const QString out = dir.filePath("out.sqlite");
    EXPECT_EQ(convertOrError(write("empty.mdb", {}), out), dao::err::UnrecognizedFormat);
    const QByteArray fakeHeader = QByteArray("\x00\x01\x00\x00", 4) + "Standard Jet DB\n";
    EXPECT_EQ(
        convertOrError(write("text.mdb", fakeHeader + QByteArray("just some text\n").repeated(400)), out),
        dao::err::UnrecognizedFormat);
    EXPECT_EQ(convertOrError(dir.filePath("missing.mdb"), out), dao::err::UnrecognizedFormat);

    // A stale file at the output path is replaced, not appended to.
    QFile stale(out);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("stale");
    stale.close();
    ASSERT_EQ(convertOrError(testutil::jetFile("weirdObjectNames.mdb"), out), 0);
    EXPECT_EQ(SqliteFile(out).tables().first(), "19 MB 01 BEZAHLT ???");
}

// Damaged copies of every test file: each conversion succeeds or raises 3343, in bounded time, and
// leaves neither files nor child processes behind.
TEST(JetReaderTest, DamagedFilesNeverCrashOrHang) {
    QTemporaryDir dir;
    std::mt19937 rng(1234567);
    struct Case {
        QString name;
        QByteArray bytes;
    };
    QList<Case> cases;
    const QByteArray jetHeader = QByteArray("\x00\x01\x00\x00", 4) + "Standard Jet DB";
    cases << Case{"empty", {}} << Case{"header-only", jetHeader}
          << Case{"signature-text", jetHeader + QByteArray("not a database at all\n").repeated(300)};
    for (const QString& file : kFiles) {
        QFile f(testutil::jetFile(file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray data = f.readAll();
        const int pageSize = data.mid(4, 15) == "Standard Jet DB" && data[0x14] == 0 ? 2048 : 4096;
        const int pages = int(data.size()) / pageSize;
        auto pos = [&](int from) { return from + int(rng() % uint32_t(data.size() - from)); };
        for (int len : {600, pageSize * 3, int(data.size()) / 3, int(data.size()) - pageSize / 2})
            cases << Case{QString("%1-cut%2").arg(file).arg(len), data.left(len)};
        for (int variant = 0; variant < 3; ++variant) {
            QByteArray d = data;
            // Scattered bytes, then many bytes in the data pages, then 32-bit lengths and pointers.
            const int hits = variant == 0 ? 24 : 300;
            for (int i = 0; i < hits; ++i) {
                const int p = pos(variant == 0 ? 0 : pageSize);
                if (variant == 2 && p + 4 <= d.size()) {
                    const quint32 v = (rng() & 1) ? 0xFFFFFFFFu : rng();
                    memcpy(d.data() + p, &v, 4);
                } else {
                    d[p] = char(rng());
                }
            }
            cases << Case{QString("%1-noise%2").arg(file).arg(variant), d};
        }
        for (int page : {1, 2 + int(rng() % uint32_t(pages - 2))}) {
            QByteArray d = data;
            memset(d.data() + page * pageSize, 0, pageSize);
            cases << Case{QString("%1-zeroed%2").arg(file).arg(page), d};
        }
    }

    int ok = 0, failed = 0;
    QElapsedTimer all;
    all.start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString in = dir.filePath("in.mdb");
        const QString out = dir.filePath("out.sqlite");
        QFile f(in);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.bytes);
        f.close();
        QElapsedTimer t;
        t.start();
        const int result = convertOrError(in, out);
        EXPECT_LT(t.elapsed(), 10000 + 2 * c.bytes.size() / 1000 + 3000);
        if (t.elapsed() > 1000)
            std::cout << "[          ] slow: " << c.name.toStdString() << " " << t.elapsed() << " ms\n";
        if (result == 0) {
            ++ok;
            EXPECT_EQ(SqliteFile(out).text("PRAGMA integrity_check"), "ok");
            QFile::remove(out);
        } else {
            ++failed;
            EXPECT_EQ(result, dao::err::UnrecognizedFormat);
        }
    }
    std::cout << "[          ] " << cases.size() << " damaged files: " << ok << " converted, " << failed
              << " refused, " << all.elapsed() << " ms" << std::endl;
    EXPECT_GT(failed, 3);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"in.mdb"});
    // Every child that ended has been reaped (the reader started ahead of the next opening waits).
    int status = 0;
    EXPECT_LE(waitpid(-1, &status, WNOHANG), 0);
}

// Disk damage must come out as an error, never as fewer tables or records.
TEST(JetReaderTest, AnUnreadableCatalogRaises3343NamingTheFile) {
    QTemporaryDir dir;
    QStringList damaged;
    for (const QString& file : kFiles) damaged << testutil::overwrittenJetCopy(dir, file, 10, 29);
    // Cut inside the catalog of the Jet3 file (its 2 KB pages put the catalog past 100,000 bytes).
    damaged << testutil::truncatedJetCopy(dir, "testIndexCodesV1997.mdb", 100000);
    for (const QString& in : damaged) {
        SCOPED_TRACE(in.toStdString());
        const QString out = dir.filePath("out.sqlite");
        EXPECT_EQ(convertOrError(in, out), dao::err::UnrecognizedFormat);
        try {
            dao::OpenDatabase(in);
            ADD_FAILURE() << "opened";
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), dao::err::UnrecognizedFormat);
            EXPECT_TRUE(e.description().contains(in)) << e.what();
            EXPECT_TRUE(e.description().contains("damaged")) << e.what();
        }
    }
}

QString openError(dao::Database& db, const QString& source) {
    try {
        db.OpenRecordset(source);
    } catch (const dao::Error& e) {
        return QString::number(e.number()) + ": " + e.description();
    }
    return {};
}

TEST(JetReaderTest, TablesThatFallShortOfTheirDefinitionAreNamedWithWhatWasRead) {
    QTemporaryDir dir;
    const QString out = dir.filePath("out.sqlite");
    auto damageOf = [&](const QString& in) {
        QStringList lines;
        for (const auto& d : dao::jet::convertToSqlite(in, out))
            if (!d.name.startsWith("MSys"))
                lines << QString("%1 %2/%3").arg(d.name).arg(d.read).arg(d.expected);
        QFile::remove(out);
        return lines;
    };
    // The first 100,000 bytes: the catalog is whole, the tables whose pages lie beyond are not.
    const QString test2 = testutil::truncatedJetCopy(dir, "test2V2003.mdb", 100000);
    EXPECT_EQ(damageOf(test2), QStringList{"MSP_PROJECTS 0/1"});
    EXPECT_EQ(damageOf(testutil::truncatedJetCopy(dir, "functionsV2003.mdb", 100000)),
              QStringList{"t_funcs 0/-1"});
    EXPECT_EQ(damageOf(testutil::truncatedJetCopy(dir, "testV2010.accdb", 100000)),
              QStringList({"Table1 0/-1", "Table2 0/-1", "Table3 0/-1", "Table4 0/-1"}));
    // Its one user table lies inside the cut and reads whole.
    EXPECT_EQ(damageOf(testutil::truncatedJetCopy(dir, "weirdObjectNames.mdb", 100000)), QStringList());
    // One data page of Table1 overwritten: the records on the others are still counted.
    const QString page48 = testutil::overwrittenJetCopy(dir, "testIndexCodesV1997.mdb", 48, 48);
    EXPECT_EQ(damageOf(page48), QStringList{"Table1 165/275"});

    // Through the engine: the table is listed, and opening it (by name or by a select) says why it
    // cannot be shown; the undamaged tables of the same file open as usual.
    {
        auto db = dao::OpenDatabase(page48);
        EXPECT_TRUE(db->TableDefs().contains("Table1"));
        const QString expected =
            "3343: Table 'Table1' of '" + page48 + "' is damaged: 165 of its 275 records could be read.";
        EXPECT_EQ(openError(*db, "Table1"), expected);
        EXPECT_EQ(openError(*db, "select * from [table1] where name like 'a*' order by name"), expected);
        EXPECT_EQ(db->OpenRecordset("Table2")->RecordCount(), 9);
    }
    {
        auto db = dao::OpenDatabase(test2);
        EXPECT_TRUE(
            openError(*db, "MSP_PROJECTS")
                .endsWith("MSP_PROJECTS' of '" + test2 + "' is damaged: 0 of its 1 records could be read."));
    }
    {
        const QString funcs = dir.filePath("first100000-functionsV2003.mdb");
        auto db = dao::OpenDatabase(funcs);
        EXPECT_TRUE(db->TableDefs().contains("t_funcs"));
        EXPECT_TRUE(openError(*db, "t_funcs").endsWith("is damaged: its definition cannot be read."));
    }
}

// A damaged table is an error on every path that reads it, not only when a recordset opens it by
// name: counts, aggregates, joins, subqueries, views of the statement, changes, and the command-line
// tools, while the file's whole tables still answer.
TEST(JetReaderTest, EveryStatementReadingADamagedTableRaises3343) {
    QTemporaryDir dir;
    const QString page48 = testutil::overwrittenJetCopy(dir, "testIndexCodesV1997.mdb", 48, 48);
    const QString table1 = "Table 'Table1' of '" + page48 + "' is damaged: 165 of its 275 records could be read.";
    auto error = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const dao::Error& e) {
            return QString::number(e.number()) + ": " + e.description();
        }
        return QStringLiteral("no error");
    };
    {
        auto db = dao::OpenDatabase(page48);
        for (const QString& sql : {QString("select count(*) from Table1"), QString("select max(name) from [table1]"),
                                   QString("select t2.name from Table2 as t2 inner join Table1 on Table1.name = t2.name"),
                                   QString("select name from Table2 where name in (select name from Table1)"),
                                   QString("select name, count(*) from Table1 group by name"),
                                   QString("select name from Table2 union select name from Table1")}) {
            SCOPED_TRACE(sql.toStdString());
            EXPECT_EQ(error([&] { db->OpenRecordset(sql); }), "3343: " + table1);
        }
        // Changes fail too (this Jet 3 file is read-only, so they may be refused for that first).
        for (const QString& sql : {QString("delete from Table1 where name = 'x'"),
                                   QString("insert into Table2 (name) select name from Table1")}) {
            const QString e = error([&] { db->Execute(sql); });
            EXPECT_TRUE(e == "3343: " + table1 || e.startsWith("3027: ")) << e.toStdString();
        }
        // The whole tables beside it, and the list of tables, are as before.
        EXPECT_EQ(db->OpenRecordset("select count(*) from Table2")->Fields().Item(0).Value().asDouble(), 9);
        EXPECT_TRUE(db->TableDefs().contains("Table1"));
    }
    // A table whose definition could not be read at all: the count that printed 0 is an error.
    const QString cut = testutil::truncatedJetCopy(dir, "testV2010.accdb", 100000);
    const jettest::ProcessRun count = jettest::run(QStringLiteral(TABULON_CLI), {"query", cut, "select count(*) from Table1"});
    EXPECT_NE(count.code, 0) << count.out.toStdString();
    EXPECT_TRUE(count.out.isEmpty()) << count.out.toStdString();
    EXPECT_TRUE(count.err.contains("3343")) << count.err.toStdString();
    EXPECT_TRUE(count.err.contains("Table 'Table1'")) << count.err.toStdString();
    // A tool over a join with the damaged table stops the same way and prints no total.
    const jettest::ProcessRun total =
        jettest::run(QStringLiteral(TABULON_CLI), {"total", page48, "select Table2.* from Table2, Table1", "name"});
    EXPECT_NE(total.code, 0) << total.out.toStdString();
    EXPECT_TRUE(total.err.contains(table1)) << total.err.toStdString();
}

}  // namespace

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A data page damaged in the ways a disk or a careless tool leaves it: the helper, reading the rows
// itself or through libmdb, ends normally and names the table, never reading past the page.
TEST(JetReaderTest, ADamagedDataPageNamesItsTableWhicheverWayTheRowsAreRead) {
    QTemporaryDir dir;
    for (const QString& file : {QStringLiteral("testIndexCodesV1997.mdb"), QStringLiteral("test2V2003.mdb")}) {
        const QString source = testutil::jetFile(file);
        // The user table with the most data pages, and the middle one of them.
        QString table;
        uint32_t page = 0;
        int pageSize = 0;
        {
            const auto f = dao::jet::JetFile::open(source);
            pageSize = f->pageSize();
            size_t most = 0;
            for (const auto& ct : f->catalog()) {
                if (ct.isSystem()) continue;
                const auto def = f->readTableDef(ct.tdefPage, ct.name);
                std::vector<uint32_t> pages;
                for (uint32_t p : f->usageMapPages(def.ownedPagesMap))
                    if (p < f->pageCount() && f->pageType(p) == dao::jet::PageData) pages.push_back(p);
                if (pages.size() > most) {
                    most = pages.size();
                    table = ct.name;
                    page = pages[pages.size() / 2];
                }
            }
        }
        ASSERT_GT(page, 0u) << file.toStdString();
        const QByteArray original = fileBytes(source);
        const int rowCountAt = pageSize == 2048 ? 8 : 12, rowTable = rowCountAt + 2;
        auto at = [&](QByteArray& d, int off) -> char& { return d[qsizetype(page) * pageSize + off]; };
        struct Case {
            const char* what;
            std::function<void(QByteArray&)> damage;
        };
        const std::vector<Case> cases = {
            {"row count past the page", [&](QByteArray& d) { at(d, rowCountAt) = char(0xFF), at(d, rowCountAt + 1) = char(0xFF); }},
            {"row offsets past the page",
             [&](QByteArray& d) {
                 const int n = uint8_t(at(d, rowCountAt));
                 for (int r = 0; r < n; ++r) at(d, rowTable + 2 * r) = char(0xFF), at(d, rowTable + 2 * r + 1) = char(0x1F);
             }},
            {"row bytes overwritten",
             [&](QByteArray& d) {
                 const int n = uint8_t(at(d, rowCountAt));
                 for (int i = rowTable + 2 * n + 64; i < pageSize; ++i) at(d, i) = char(0xFF);
             }},
        };
        for (const Case& c : cases) {
            QByteArray data = original;
            c.damage(data);
            const QString in = dir.filePath(QString("damaged-") + file);
            QFile f(in);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(data);
            f.close();
            for (const char* rows : {"pages", "libmdb"}) {
                SCOPED_TRACE(file.toStdString() + ", " + c.what + ", rows by " + rows);
                const QString out = dir.filePath("out.sqlite"), damage = dir.filePath("damage");
                QFile::remove(out);
                QFile::remove(damage);
                QProcess helper;
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert("TABULON_JET_ROWS", rows);
                helper.setProcessEnvironment(env);
                helper.start(TABULON_BINARY_DIR "/tabulon-jet-reader",
                             {QString::number(QCoreApplication::applicationPid()), in, out, damage});
                ASSERT_TRUE(helper.waitForFinished(60000));
                ASSERT_EQ(helper.exitStatus(), QProcess::NormalExit);
                if (helper.exitCode() == dao::jet::HelperExit::Damaged) continue;
                ASSERT_EQ(helper.exitCode(), dao::jet::HelperExit::Ok);
                // libmdb may take what a garbled page holds for records without a word.
                if (std::strcmp(rows, "libmdb") == 0) continue;
                // name, records read, records expected
                const QList<QByteArray> fields = fileBytes(damage).split('\0');
                ASSERT_GE(fields.size(), 3);
                EXPECT_EQ(QString::fromUtf8(fields[0]), table);
                EXPECT_LT(fields[1].toLongLong(), fields[2].toLongLong());
            }
        }
    }
}
