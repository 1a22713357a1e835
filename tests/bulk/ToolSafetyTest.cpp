// The bulk tools where they used to change data silently: numbers under comma locales, dates,
// overflow, Verify's fields and names, a failed export, an import of all-empty records.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include "BulkTestUtil.h"
#include "TestUtil.h"
#include "bulk/CopyFields.h"
#include "bulk/ExportTool.h"
#include "bulk/FieldOperations.h"
#include "bulk/ImportTool.h"
#include "bulk/Totals.h"
#include "bulk/VerifyTool.h"
#include "platform/Prompts.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"
#include "platform/dao/JetSql.h"

using bulktest::shell;
using dao::Variant;

namespace {

class ToolSafety : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString make(const QStringList& statements) {
        path_ = testutil::makeSqlite(dir_, QString("t%1.db").arg(++files_), statements);
        db_ = dao::OpenDatabase(path_);
        return path_;
    }
    std::shared_ptr<dao::Recordset> open(const QString& source) { return db_->OpenRecordset(source); }
    QStringList stored(const QString& sql) { return shell(path_, sql); }
    QByteArray bytes(const QString& file) {
        QFile f(dir_.filePath(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void write(const QString& file, const QByteArray& data) {
        QFile f(dir_.filePath(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    bulk::FieldOperations::Result operate(const QString& source, const QString& field, int op, const QString& value) {
        auto rs = open(source);
        return bulk::FieldOperations::run(*rs, bulk::FieldOperations::Inputs{field, op, value}, bulk::noProgress());
    }

    platform::PromptScript prompts_;
    QTemporaryDir dir_;
    QString path_;
    std::shared_ptr<dao::Database> db_;
    int files_ = 0;
};

// One value typed, shown, exported, imported and operated on under each comma locale: the
// fraction survives every step.
TEST_F(ToolSafety, CommaLocalesKeepFractionsFromTypingToOperations) {
    for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::Spanish, QLocale::Spain)}) {
        SCOPED_TRACE(locale.name().toStdString());
        testutil::LocaleGuard guard(locale);
        make({"create table T (id integer primary key, c currency, d double, s single)",
              "create table U (id integer primary key, c currency, d double, s single)"});
        // Typed: the data-entry conversion reads the locale's form.
        const Variant typed = dao::convertForType("1234,56", dao::dbCurrency);
        EXPECT_EQ(typed.asCurrency(), 12345600);
        {
            auto rs = open("T");
            rs->AddNew();
            rs->Fields().Item("c").setValue(typed);
            rs->Fields().Item("d").setValue(Variant::fromString("1,5"));
            rs->Fields().Item("s").setValue(Variant::fromString("2,25"));
            rs->Update();
        }
        EXPECT_EQ(stored("select c, d, s from T"), QStringList{"1234.56|1.5|2.25"});
        // Shown.
        auto shown = open("T");
        EXPECT_EQ(dao::valueToText(shown->Fields().Item("c").Value()), "1234,56");
        // Exported and imported.
        ASSERT_EQ(bulk::ExportTool(open("T"), bulk::noProgress()).writeTo(dir_.filePath("t.txt")).written, 1);
        EXPECT_TRUE(bytes("t.txt").endsWith("\r\n1\r\n1234,56\r\n1,5\r\n2,25\r\n"));
        ASSERT_EQ(bulk::ImportTool(open("U"), bulk::noProgress()).readFrom(dir_.filePath("t.txt")).added, 1);
        EXPECT_EQ(stored("select c, d, s from U"), QStringList{"1234.56|1.5|2.25"});
        // Operated on: the value as a number; the constant typed in the locale's form or with '.'.
        EXPECT_EQ(operate("T", "c", bulk::FieldOperations::Multiply, "1").processed, 1);
        EXPECT_EQ(operate("T", "d", bulk::FieldOperations::Add, "10").processed, 1);
        EXPECT_EQ(operate("T", "s", bulk::FieldOperations::Add, "0,5").processed, 1);
        EXPECT_EQ(operate("U", "d", bulk::FieldOperations::Multiply, "1.5").processed, 1);
        EXPECT_EQ(stored("select c, d, s from T"), QStringList{"1234.56|11.5|2.75"});
        EXPECT_EQ(stored("select d from U"), QStringList{"2.25"});
        EXPECT_EQ(prompts_.count(), 0);
    }
}

TEST_F(ToolSafety, OperationsAddDaysToDatesAndRefuseOverflow) {
    testutil::LocaleGuard guard(QLocale::c());
    make({"create table T (id integer primary key, dt datetime, d double, n long)",
          "insert into T values (1, '2020-01-02 00:00:00', 1e308, 5)",
          "insert into T values (2, '1899-12-29 06:00:00', 2, 7)"});
    EXPECT_EQ(operate("T", "dt", bulk::FieldOperations::Add, "1").processed, 2);
    EXPECT_EQ(stored("select dt from T order by id"), (QStringList{"2020-01-03 00:00:00", "1899-12-30 06:00:00"}));
    EXPECT_EQ(operate("T", "dt", bulk::FieldOperations::Subtract, "2.5").processed, 2);
    EXPECT_EQ(stored("select dt from T order by id"), (QStringList{"2019-12-31 12:00:00", "1899-12-27 18:00:00"}));
    // A date is not multiplied: type mismatch, through the error box, the record as it was.
    prompts_.answer(platform::vbIgnore).answer(platform::vbIgnore);
    EXPECT_EQ(operate("T", "dt", bulk::FieldOperations::Multiply, "2").failed, 2);
    EXPECT_TRUE(prompts_.last().text.endsWith(" - 13")) << qPrintable(prompts_.last().text);
    // Past the double range: overflow (6), and the value stays.
    prompts_.answer(platform::vbIgnore);
    const auto r = operate("T", "d", bulk::FieldOperations::Multiply, "10");
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(r.processed, 1);
    EXPECT_TRUE(prompts_.last().text.endsWith(" - 6")) << qPrintable(prompts_.last().text);
    EXPECT_EQ(stored("select d from T order by id"), (QStringList{"1.0e+308", "20.0"}));
}

TEST_F(ToolSafety, TotalsAndDecimalsKeepFractionsAndExponents) {
    testutil::LocaleGuard guard(QLocale::c());
    make({"create table T (id integer primary key, l long, x decimal)",
          "insert into T values (1, 1.5, 1e20)", "insert into T values (2, 1.25, 2.5e-7)",
          "insert into T values (3, 1, '1e5')"});
    auto rs = open("T");
    EXPECT_EQ(bulk::Totals::run(*rs, "l", db_.get()).text, "3.75");
    EXPECT_EQ(bulk::Totals::run(*rs, "l", nullptr).text, "3.75");
    QStringList shown;
    for (long long i = 0; i < rs->RecordCount(); ++i) shown << dao::valueToText(rs->valueAt(i, 2));
    EXPECT_EQ(shown, (QStringList{"100000000000000000000", "0.00000025", "100000"}));
}

TEST_F(ToolSafety, VerifyRefusesFieldsItCannotRenumberAndQuotesAnyTableName) {
    make({"create table Y (id integer primary key, b yesno, dt datetime, g guid)",
          "insert into Y values (1, 1, '2020-01-01 00:00:00', null)",
          "insert into Y values (2, 1, '2020-01-01 00:00:00', null)",
          "create table \"a]b`c\" (id integer primary key, n long)",
          "insert into \"a]b`c\" values (1, 1), (2, 2), (3, 3), (4, 4), (5, 3)"});
    for (const char* field : {"b", "dt", "g"}) {
        SCOPED_TRACE(field);
        EXPECT_FALSE(bulk::VerifyTool::renumbers(open("Y")->Fields().Item(field).Type()));
        platform::PromptScript script;
        const auto r = bulk::VerifyTool(path_, "Y", bulk::noProgress()).run(field, true);
        EXPECT_TRUE(r.failed);
        EXPECT_EQ(r.records, 0);
        ASSERT_EQ(script.count(), 1);
        EXPECT_TRUE(script.last().text.contains("number and text fields only")) << qPrintable(script.last().text);
        EXPECT_TRUE(script.last().text.endsWith(" - 3464")) << qPrintable(script.last().text);
    }
    EXPECT_EQ(stored("select b, dt from Y order by id"),
              (QStringList{"1|2020-01-01 00:00:00", "1|2020-01-01 00:00:00"}));
    // Record 4 is hidden: the duplicate 3 takes 5, above every value of the table.
    const QString source = "select * from " + dao::jetName("a]b`c") + " where id <> 4";
    const auto r = bulk::VerifyTool(path_, source, bulk::noProgress()).run("n", true);
    EXPECT_EQ(r.renumbered, 1);
    EXPECT_EQ(stored("select n from \"a]b`c\" order by id"), (QStringList{"1", "2", "5", "4", "3"}));
}

TEST_F(ToolSafety, CopyToTheSameFieldInAnotherCaseIsRefused) {
    make({"create table T (id integer primary key, name text(10))", "insert into T values (1, 'a'), (2, 'b')"});
    auto rs = open("T");
    const auto r = bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"name", "NAME", {}, false, true}, bulk::noProgress());
    EXPECT_EQ(r.copied, 0);
    EXPECT_TRUE(r.sameField);
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, bulk::CopyFields::sameFieldMessage());
    EXPECT_EQ(stored("select name from T order by id"), (QStringList{"a", "b"}));
}

TEST_F(ToolSafety, AFailedExportLeavesTheOldFileAndAnEmptySelectionWritesTheHeader) {
    make({"create table T (id integer primary key, a text(5))", "insert into T values (1, 'x'), (2, 'y')"});
    write("old.txt", "old contents");
    // No records: a header-only file, a valid table text file, nothing asked.
    auto r = bulk::ExportTool(open("select * from T where id > 9"), bulk::noProgress()).writeTo(dir_.filePath("old.txt"));
    EXPECT_EQ(r.written, 0);
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(bytes("old.txt"), QByteArray("2              addb\r\n"));
    EXPECT_EQ(prompts_.count(), 0);
    // Aborted (a recordset that cannot be read): the file as it was.
    write("old.txt", "old contents");
    auto rs = open("T");
    rs->Close();
    prompts_.answer(platform::vbAbort);
    r = bulk::ExportTool(rs, bulk::noProgress()).writeTo(dir_.filePath("old.txt"));
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(prompts_.count(), 1);
    EXPECT_EQ(bytes("old.txt"), QByteArray("old contents"));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files).filter("old.txt").size(), 1) << "no temporary file left";
}

TEST_F(ToolSafety, AllEmptyRecordsAtTheEndRoundTripExactly) {
    make({"create table T (a text(5), b text(5))", "create table U (a text(5), b text(5))",
          "insert into T values ('x', 'y'), ('', ''), ('', '')"});
    ASSERT_EQ(bulk::ExportTool(open("T"), bulk::noProgress()).writeTo(dir_.filePath("t.txt")).written, 3);
    EXPECT_EQ(bulk::ImportTool(open("U"), bulk::noProgress()).readFrom(dir_.filePath("t.txt")).added, 3);
    EXPECT_EQ(stored("select a || '|' || b from U order by rowid"), (QStringList{"x|y", "|", "|"}));
    // Lines past the last whole record: empty ones add nothing, anything else is a record cut short.
    write("blank.txt", "2              addb\r\nx\r\ny\r\n\r\n");
    EXPECT_EQ(bulk::ImportTool(open("U"), bulk::noProgress()).readFrom(dir_.filePath("blank.txt")).added, 1);
    write("cut.txt", "2              addb\r\nx\r\ny\r\nz");
    const auto cut = bulk::ImportTool(open("U"), bulk::noProgress()).readFrom(dir_.filePath("cut.txt"));
    EXPECT_EQ(cut.added, 1);
    EXPECT_EQ(cut.cutAtLine, 4);
    EXPECT_EQ(stored("select count(*) from U"), QStringList{"5"});
}

}  // namespace
