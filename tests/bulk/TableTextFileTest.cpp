#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "../platform/QStringPrint.h"
#include "BulkTestUtil.h"
#include "TestUtil.h"
#include "bulk/FieldTextParser.h"
#include "bulk/ExportTool.h"
#include "bulk/ImportTool.h"
#include "bulk/Progress.h"
#include "bulk/TableTextFormat.h"
#include "bulk/TableTextReader.h"
#include "platform/Prompts.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

using bulk::ExportTool;
using bulk::ImportTool;
using bulk::TableTextFormat;
using dao::Variant;

namespace {

// Every declared type of the sample database.
const char kAllTypes[] =
    "(Id integer primary key, Si yesno, B byte, I short, L long, C currency, S single, D double, F datetime, "
    "Bin binary(8), Tx text(40), Ole longbinary, M memo, G guid, N numeric, De decimal, X)";

class TableTextFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        db_ = testutil::makeSqlite(
            dir_, "t.db",
            {QString("create table Todo ") + kAllTypes, QString("create table Copia ") + kAllTypes,
             "create table Cinco (A long, B text(20), C text(20), D datetime, E currency)",
             "create table Cuatro (A long, B text(20), C text(20), D datetime)",
             "insert into Todo values (1, 1, 255, -32768, 2147483647, 1234.5678, 2.5, 40.416875, "
             "'2024-01-08 10:12:00', X'0102030405060708', 'Sean O''Brien', X'00FF10', 'Línea con acento', "
             "'{3F2504E0-4F89-11D3-9A0C-0305E82C3301}', 21, '2.125', 42)",
             "insert into Todo values (2, 0, 0, 7, -5, 0.5, -0.25, 1e-3, '1999-12-31 00:00:00', X'', 'Año', X'', "
             "'', '{00000000-0000-0000-0000-00000000000A}', -1.5, '-0.001', 'Texto libre')",
             "insert into Todo (Id) values (3)",
             "insert into Cinco values (1, '  espacios  ', 'b', '2020-01-02 00:00:00', 3)",
             "insert into Cinco values (2, 'x', null, null, null)"});
        database_ = dao::OpenDatabase(db_);
    }

    std::shared_ptr<dao::Recordset> open(const QString& source) { return database_->OpenRecordset(source); }

    bulk::ExportResult exportTo(const QString& source, const QString& file) {
        return ExportTool(open(source), bulk::noProgress()).writeTo(dir_.filePath(file));
    }
    bulk::ImportResult importFrom(const QString& table, const QString& file) {
        return ImportTool(open(table), bulk::noProgress()).readFrom(dir_.filePath(file));
    }
    QByteArray bytes(const QString& file) {
        QFile f(dir_.filePath(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void write(const QString& file, const QByteArray& data) {
        QFile f(dir_.filePath(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    // Every record as text, Null marked, binary as hex.
    QStringList rows(const QString& source) {
        QStringList out;
        auto rs = open(source);
        const int n = rs->Fields().Count();
        for (long long r = 0; r < rs->RecordCount(); ++r) {
            QStringList cells;
            for (int i = 0; i < n; ++i) {
                const Variant v = rs->valueAt(r, i);
                cells << (v.isNull() ? "<Null>"
                          : v.type() == Variant::Type::Binary ? "0x" + v.asBinary().toHex()
                                                               : dao::valueToText(v));
            }
            out << cells.join('|');
        }
        return out;
    }
    long long count(const QString& table) { return open(table)->RecordCount(); }

    // No real box may wait for a click: whatever a test does not answer gets the default.
    platform::PromptScript unanswered_;
    QTemporaryDir dir_;
    QString db_;
    std::shared_ptr<dao::Database> database_;
};

TEST(TableTextFormat, HeaderIsNineteenCharactersAndCheckedExactly) {
    EXPECT_EQ(TableTextFormat::headerLine(5), "5              addb");
    EXPECT_EQ(TableTextFormat::headerLine(12), "12             addb");
    EXPECT_EQ(TableTextFormat::headerLine(12).size(), 19);
    EXPECT_TRUE(TableTextFormat::acceptsHeader("5              addb", 5));
    EXPECT_TRUE(TableTextFormat::acceptsHeader("  5 addb", 5));  // the count is a leading number
    EXPECT_FALSE(TableTextFormat::acceptsHeader("5               addb", 5));  // 20 characters
    EXPECT_FALSE(TableTextFormat::acceptsHeader("5              ADDB", 5));
    EXPECT_FALSE(TableTextFormat::acceptsHeader("5              addb ", 5));
    EXPECT_FALSE(TableTextFormat::acceptsHeader("4              addb", 5));
    EXPECT_FALSE(TableTextFormat::acceptsHeader("", 0));
}

TEST(TableTextFormat, NullIsNullExceptInTextFields) {
    EXPECT_EQ(TableTextFormat::valueLine(Variant::null()), "Null");
    EXPECT_EQ(TableTextFormat::valueLine(Variant::fromString("  a b  ")), "a b");
    EXPECT_EQ(TableTextFormat::valueLine(Variant::fromBinary(QByteArray("\x01\xAB", 2))), "0x01AB");
    for (int type : {dao::dbLong, dao::dbDate, dao::dbCurrency, dao::dbBoolean, dao::dbLongBinary, dao::dbGUID})
        EXPECT_TRUE(TableTextFormat::lineValue("Null", type).isNull()) << type;
    EXPECT_EQ(TableTextFormat::lineValue("Null", dao::dbText), Variant::fromString("Null"));
    EXPECT_EQ(TableTextFormat::lineValue("Null", dao::dbMemo), Variant::fromString("Null"));
    EXPECT_EQ(TableTextFormat::lineValue("0x01ab", dao::dbLongBinary), Variant::fromBinary(QByteArray("\x01\xAB", 2)));
    EXPECT_EQ(TableTextFormat::lineValue("0x01ab", dao::dbText), Variant::fromString("0x01ab"));
}

TEST(TableTextFormat, NumbersFormedHereMatchTheValueToTextConversion) {
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Spanish, QLocale::Spain),
                                  QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        testutil::LocaleGuard guard(locale);
        const QString dp = QLocale().decimalPoint();
        std::vector<Variant> values = {Variant::fromBool(true), Variant::fromBool(false), Variant::fromByte(255),
                                       Variant::fromInteger(-32768), Variant::fromLong(2147483647),
                                       Variant::fromLong(-2147483647 - 1), Variant::fromLong(0)};
        for (int64_t c : {0LL, 5LL, -5LL, 10000LL, 155000LL, 12345678LL, -12345678LL, 10001LL, -9999LL,
                          922337203685477LL * 10000 + 5807, -922337203685477LL * 10000 - 5807})
            values.push_back(Variant::fromCurrency(c));
        for (const Variant& v : values)
            EXPECT_EQ(TableTextFormat::valueLine(v, dp), TableTextFormat::valueLine(v)) << qPrintable(v.debugString());
    }
}

TEST_F(TableTextFileTest, ExportWritesHeaderAndOneValuePerLineWithCrLf) {
    const auto r = exportTo("select * from Cinco", "cinco.txt");
    EXPECT_EQ(r.written, 2);
    const QString date = dao::valueToText(Variant::fromDateTime(QDateTime(QDate(2020, 1, 2), QTime(0, 0))));
    EXPECT_EQ(QString::fromUtf8(bytes("cinco.txt")),
              "5              addb\r\n1\r\nespacios\r\nb\r\n" + date + "\r\n3\r\n2\r\nx\r\nNull\r\nNull\r\nNull\r\n");

    database_->Execute("create table Doce (a long, b long, c long, d long, e long, f long, g long, h long, i long, "
                       "j long, k long, l long)");
    platform::PromptScript script;
    script.answer(platform::vbIgnore);  // no records: moving to the last one fails
    exportTo("Doce", "doce.txt");
    EXPECT_EQ(bytes("doce.txt"), QByteArray("12             addb\r\n"));
}

TEST_F(TableTextFileTest, WrongHeadersAreRejectedWithTheFormatMessage) {
    exportTo("Cuatro", "cuatro.txt");
    write("largo.txt", "5               addb\r\n1\r\na\r\nb\r\nNull\r\n3\r\n");
    write("mayusculas.txt", "5              ADDB\r\n1\r\na\r\nb\r\nNull\r\n3\r\n");
    write("vacio.txt", "");
    QByteArray binary(1 << 20, '\0');
    for (int i = 0; i < binary.size(); ++i) binary[i] = char((i % 251) * 7 + (i % 13 == 0 ? 0 : 1));
    binary.replace('\r', '\x01');
    write("binario.bin", binary);
    for (const char* file : {"cuatro.txt", "largo.txt", "mayusculas.txt", "vacio.txt", "binario.bin"}) {
        platform::PromptScript script;
        const auto r = importFrom("Cinco", file);
        EXPECT_TRUE(r.rejected) << file;
        ASSERT_EQ(script.count(), 1) << file;
        EXPECT_EQ(script.last().text,
                  "El formato de el file es incorrecto! y/o el numero de campos del file es diferente al de la "
                  "tabla.");
        EXPECT_EQ(script.last().icon, platform::vbCritical);
        EXPECT_EQ(script.last().buttons, platform::vbOKOnly);
    }
    EXPECT_EQ(count("Cinco"), 2);
}

TEST_F(TableTextFileTest, ExportThenImportIntoAnEmptyCopyGivesTheSameRecords) {
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::Spanish, QLocale::Spain)}) {
        testutil::LocaleGuard guard(locale);
        database_->Execute("delete from Copia");
        ASSERT_EQ(exportTo("Todo", "todo.txt").written, 3);
        platform::PromptScript script;
        const auto r = importFrom("Copia", "todo.txt");
        EXPECT_EQ(r.added, 3) << qPrintable(locale.name());
        for (const auto& q : script.requests()) ADD_FAILURE() << qPrintable(q.text);
        QStringList expected = rows("Todo");
        // A Null in a text field (Tx, M and the untyped X, read as memo) comes back as the text "Null":
        // the two cannot be told apart in the file.
        QStringList last = expected.last().split('|');
        for (int i : {10, 12, 16}) last[i] = "Null";
        expected.last() = last.join('|');
        EXPECT_EQ(rows("Copia"), expected) << qPrintable(locale.name());
    }
}

TEST_F(TableTextFileTest, SpacesAroundValuesAreLost) {
    write("sp.txt", "5              addb\r\n  7  \r\n   dentro y fuera   \r\n \r\nNull\r\nNull\r\n");
    EXPECT_EQ(importFrom("Cinco", "sp.txt").added, 1);
    EXPECT_EQ(rows("select * from Cinco where A = 7"), (QStringList{"7|dentro y fuera||<Null>|<Null>"}));
    exportTo("Cinco", "cinco.txt");
    EXPECT_TRUE(bytes("cinco.txt").contains("\r\nespacios\r\n"));
}

TEST_F(TableTextFileTest, LineBreaksAreCountedAndAskedAbout) {
    database_->Execute("insert into Cinco values (3, 'dos' || char(13, 10) || 'lineas', 'una' || char(10) || 'mas', null, null)");
    write("existing.txt", "old");
    {
        platform::PromptScript script;
        script.answer(platform::vbNo);
        const auto r = exportTo("Cinco", "existing.txt");
        EXPECT_TRUE(r.declined);
        EXPECT_EQ(r.valuesWithLineBreaks, 2);
        ASSERT_EQ(script.count(), 1);
        EXPECT_TRUE(script.last().text.startsWith("2 value(s) hold a line break")) << qPrintable(script.last().text);
        EXPECT_EQ(script.last().icon, platform::vbQuestion);
        EXPECT_EQ(script.last().buttons, platform::vbYesNo);
        EXPECT_EQ(bytes("existing.txt"), QByteArray("old"));
    }
    platform::PromptScript script;
    script.answer(platform::vbYes);
    EXPECT_EQ(exportTo("Cinco", "existing.txt").written, 3);
    EXPECT_TRUE(bytes("existing.txt").endsWith("3\r\ndos\r\nlineas\r\nuna\nmas\r\nNull\r\nNull\r\n"));
}

TEST_F(TableTextFileTest, TrailingEmptyLinesAddNothing) {
    write("t.txt", "5              addb\r\n9\r\na\r\nb\r\nNull\r\n1\r\n\r\n\r\n  \r\n");
    platform::PromptScript script;
    const auto r = importFrom("Cinco", "t.txt");
    EXPECT_EQ(r.added, 1);
    EXPECT_EQ(script.count(), 0);
    EXPECT_EQ(count("Cinco"), 3);
}

TEST_F(TableTextFileTest, AFileCutInsideARecordAddsNothingOfItAndNamesTheLine) {
    // CR alone ends a line too.
    write("cut.txt", "5              addb\r9\ra\rb\rNull\r1\r10\rzz\r");
    platform::PromptScript script;
    const auto r = importFrom("Cinco", "cut.txt");
    EXPECT_EQ(r.added, 1);
    EXPECT_EQ(r.cutAtLine, 8);
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "The file ends at line 8, in the middle of a record: that record was not added.");
    EXPECT_EQ(rows("select A from Cinco order by A"), (QStringList{"1", "2", "9"}));
}

TEST_F(TableTextFileTest, AWindows1252FileImportsWithItsAccents) {
    write("cp.txt", "5              addb\r\n5\r\nA\xF1o\r\nM\xFCller \x80\r\nNull\r\nNull\r\n");
    bulk::TableTextReader reader(dir_.filePath("cp.txt"));
    EXPECT_FALSE(reader.isUtf8());
    EXPECT_EQ(importFrom("Cinco", "cp.txt").added, 1);
    EXPECT_EQ(rows("select B, C from Cinco where A = 5"), (QStringList{"Año|Müller €"}));
    // The same text in UTF-8 is read as UTF-8.
    write("utf.txt", QString("5              addb\r\n6\r\nAño\r\nMüller\r\nNull\r\nNull\r\n").toUtf8());
    EXPECT_EQ(importFrom("Cinco", "utf.txt").added, 1);
    EXPECT_EQ(rows("select B, C from Cinco where A = 6"), (QStringList{"Año|Müller"}));
}

TEST_F(TableTextFileTest, ImportReadsEveryRecordFreshAndReportsProgressInBytesUpToTheFileSize) {
    // Accented and plain values take turns in one field, with spaces and an empty value between: no
    // record may keep a piece of the one before.
    testutil::LocaleGuard c(QLocale::c());
    const QByteArray file = QString("5              addb\r\n"
                                    "7\r\n  Ñandú  \r\nx\r\n2021-02-03\r\n1.5\r\n"
                                    "8\r\nab\r\n\r\nNull\r\n12\r\n"
                                    "9\r\nMüller\r\n  \r\n2021-02-03 04:05:06\r\n-0.25\r\n")
                                .toUtf8();
    write("p.txt", file);
    bulktest::RecordingProgress progress;
    const auto r = ImportTool(open("Cinco"), progress).readFrom(dir_.filePath("p.txt"));
    EXPECT_EQ(r.added, 3);
    EXPECT_EQ(rows("select A, B, C, D, E from Cinco where A > 6 order by A"),
              (QStringList{"7|Ñandú|x|2021-02-03|1.5", "8|ab||<Null>|12", "9|Müller||2021-02-03 04:05:06|-0.25"}));
    EXPECT_EQ(progress.maximum, file.size());
    ASSERT_EQ(progress.steps.size(), 15u);
    EXPECT_TRUE(std::is_sorted(progress.steps.begin(), progress.steps.end()));
    EXPECT_EQ(progress.last(), file.size());
}

TEST_F(TableTextFileTest, RefusedValuesGoThroughTheOperationErrorBox) {
    write("bad.txt", "5              addb\r\nnot a number\r\na\r\nb\r\nNull\r\n1\r\n8\r\nc\r\nd\r\nNull\r\n2\r\n");
    {
        // Ignore: the field stays unassigned and the record is added; the next record follows.
        platform::PromptScript script;
        script.answer(platform::vbIgnore);
        const auto r = importFrom("Cinco", "bad.txt");
        EXPECT_EQ(r.added, 2);
        ASSERT_EQ(script.count(), 1);
        EXPECT_EQ(script.last().buttons, platform::vbAbortRetryIgnore);
        EXPECT_EQ(count("Cinco"), 4);
    }
    // Abort: the record being built is not added, nor anything after it.
    platform::PromptScript script;
    script.answer(platform::vbAbort);
    const auto r = importFrom("Cinco", "bad.txt");
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(r.added, 0);
    EXPECT_EQ(count("Cinco"), 4);
}

TEST_F(TableTextFileTest, ExportOfAnEmptyRecordsetFailsThroughTheErrorBox) {
    // Moving to the last record and then to the first one both fail; Ignore goes on, and the same
    // error is not asked about a second time in the run.
    platform::PromptScript script;
    script.answer(platform::vbIgnore).answer(platform::vbIgnore);
    const auto r = exportTo("select * from Cinco where A > 100", "empty.txt");
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.endsWith(" - 3021")) << qPrintable(script.last().text);
    EXPECT_EQ(r.written, 0);
    EXPECT_EQ(bytes("empty.txt"), QByteArray("5              addb\r\n"));
}

TEST_F(TableTextFileTest, CancelledDialogsDoNothingAndSayNothing) {
    platform::PromptScript script;
    script.cancel().cancel();
    EXPECT_TRUE(ExportTool(open("Cinco"), bulk::noProgress()).run("Cinco").cancelled);
    EXPECT_TRUE(ImportTool(open("Cinco"), bulk::noProgress()).run("Cinco").cancelled);
    ASSERT_EQ(script.count(), 2);
    EXPECT_EQ(script.requests()[0].kind, platform::PromptKind::SaveFile);
    EXPECT_EQ(script.requests()[0].title, "Grabar tabla a un archivo de texto");
    EXPECT_EQ(script.requests()[0].initialFile, "Cinco.txt");
    EXPECT_EQ(script.requests()[1].kind, platform::PromptKind::OpenFile);
    EXPECT_EQ(script.requests()[1].title, "Importar tabla de un archivo de texto");
    EXPECT_EQ(script.requests()[1].initialFile, "Cinco.txt");
    EXPECT_EQ(count("Cinco"), 2);
}

}  // namespace

namespace {

TEST(FieldTextParser, ReadsDatesExportWritesAndLeavesTheRestToTheEngine) {
    const QList<Variant> dates = {Variant::fromDateTime(QDateTime(QDate(2024, 1, 8), QTime(10, 12, 0), Qt::UTC)),
                                  Variant::fromDateTime(QDateTime(QDate(1999, 12, 31), QTime(0, 0), Qt::UTC)),
                                  Variant::fromDateTime(QDateTime(QDate(1850, 6, 1), QTime(23, 59, 59), Qt::UTC)),
                                  Variant::fromDateTime(QDateTime(QDate(101, 1, 1), QTime(12, 0, 1), Qt::UTC))};
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::Spanish, QLocale::Spain), QLocale(QLocale::German, QLocale::Germany)}) {
        testutil::LocaleGuard guard(locale);
        const bulk::FieldTextParser parser;
        for (const Variant& d : dates) {
            const QString text = dao::valueToText(d);
            const auto parsed = parser.parseDate(text);
            ASSERT_TRUE(parsed.has_value()) << qPrintable(text) << " " << qPrintable(locale.name());
            EXPECT_EQ(*parsed, dao::coerceToFieldType(Variant::fromString(text), dao::dbDate)) << qPrintable(text);
        }
        EXPECT_EQ(parser.parseDate("2024-01-08 10:12:00"), Variant::fromDateTime(QDateTime(QDate(2024, 1, 8), QTime(10, 12), Qt::UTC)));
        EXPECT_FALSE(parser.parseDate("2024-02-30").has_value());
        EXPECT_FALSE(parser.parseDate("0100-01-01 12:00:00").has_value());  // before the first day
        EXPECT_FALSE(parser.parseDate("8 de enero").has_value());
        EXPECT_FALSE(parser.parseDate("").has_value());
    }
}

}  // namespace

namespace {

TEST(FieldTextParser, NumbersGiveWhatTheEngineWouldGive) {
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Spanish, QLocale::Spain)}) {
        testutil::LocaleGuard guard(locale);
        const bulk::FieldTextParser parser;
        const QString half = QString("12") + locale.decimalPoint() + "5";
        const std::pair<QString, int> cases[] = {
            {"0", dao::dbByte},      {"255", dao::dbByte},        {"-32768", dao::dbInteger},
            {"007", dao::dbLong},    {"-2147483648", dao::dbLong}, {half, dao::dbCurrency},
            {"-0", dao::dbCurrency}, {"True", dao::dbBoolean},    {"False", dao::dbBoolean}};
        for (const auto& [text, type] : cases) {
            const auto fast = parser.parse(text, type);
            ASSERT_TRUE(fast.has_value()) << qPrintable(text);
            EXPECT_EQ(*fast, dao::coerceToFieldType(Variant::fromString(text), type)) << qPrintable(text);
        }
        // Out of range, rounding, grouping and the like are the engine's.
        for (const auto& [text, type] : std::vector<std::pair<QString, int>>{
                 {"256", dao::dbByte}, {"32768", dao::dbInteger}, {"2147483648", dao::dbLong}, {"1.5", dao::dbLong},
                 {"1,000", dao::dbLong}, {" 1", dao::dbLong}, {"1e3", dao::dbLong}, {"", dao::dbLong},
                 {"0.12345", dao::dbCurrency}, {"true", dao::dbBoolean}, {"1", dao::dbDouble}})
            EXPECT_FALSE(parser.parse(text, type).has_value()) << qPrintable(text);
    }
}

}  // namespace
