// The bulk tools on their own, over real SQLite files: matching, conversions, progress, errors.

#include <gtest/gtest.h>

#include <QLocale>
#include <QFile>
#include <QTemporaryDir>

#include "BulkTestUtil.h"
#include "TestUtil.h"
#include "bulk/CopyFields.h"
#include "bulk/EraseRecords.h"
#include "bulk/FieldOperations.h"
#include "bulk/FindReplace.h"
#include "bulk/Totals.h"
#include "platform/Prompts.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

using bulktest::RecordingProgress;
using bulktest::shell;
using bulktest::shellValue;
using dao::Variant;
using namespace platform;

namespace {

class BulkTools : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    // A file with table T made of the statements; the recordset over `source`.
    std::shared_ptr<dao::Recordset> open(const QStringList& statements,
                                         const QString& source = "select * from T") {
        path_ = testutil::makeSqlite(dir_, QString("t%1.db").arg(++files_), statements);
        db_ = dao::OpenDatabase(path_);
        return db_->OpenRecordset(source);
    }
    // The column as text, in id order, through the sqlite3 shell (after committing our writes).
    QStringList column(const QString& name) {
        dao::flushAllWrites();
        return shell(path_, "select " + name + " from T order by id");
    }

    QTemporaryDir dir_;
    QString path_;
    std::shared_ptr<dao::Database> db_;
    int files_ = 0;
    PromptScript prompts_;
    testutil::LocaleGuard locale_{QLocale(QLocale::English, QLocale::UnitedStates)};
};

const QStringList kMixed = {
    "create table T (id long, s text(20), n long, c currency, d datetime, y yesno)",
    "insert into T values (1, 'abc', 5, 1.5, '2020-01-02 00:00:00', 1)",
    "insert into T values (2, 'ABC', 0, 0, null, 0)",
    "insert into T values (3, 'abcd', null, null, '2021-03-04 00:00:00', null)",
    "insert into T values (4, 'a*c', 12, 2, null, 1)",
    "insert into T values (5, null, 5, null, null, 0)",
};

// ---- Find and replace -----------------------------------------------------------------------------

TEST_F(BulkTools, ReplaceMatchesWholeValuesCaseSensitively) {
    auto rs = open(kMixed);
    auto r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "abc", "X"});
    EXPECT_EQ(r.changed, 1);
    EXPECT_EQ(column("s"), QStringList({"X", "ABC", "abcd", "a*c", "NULL"}));
    EXPECT_TRUE(rs->Eof());  // left past the last record

    // An asterisk beside other characters is itself: it matches only "a*c".
    r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "a*c", "star"});
    EXPECT_EQ(r.changed, 1);
    EXPECT_EQ(column("s"), QStringList({"X", "ABC", "abcd", "star", "NULL"}));

    // "*" alone: every record, Null included.
    r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "*", "all"});
    EXPECT_EQ(r.changed, 5);
    EXPECT_EQ(column("s"), QStringList(5, "all"));

    // An empty replacement of a text field is the empty text.
    bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "all", ""});
    EXPECT_EQ(shellValue(path_, "select count(*) from T where s = ''"), "5");
    EXPECT_EQ(prompts_.count(), 0);
}

// On fields that are not text, FIND and CHANGE are values of the field's type, read as the grid
// reads a typed cell; a text that is no such value stops the tool before anything changes.
TEST_F(BulkTools, ReplaceReadsTextsAsValuesOfTheFieldsType) {
    auto rs = open(kMixed);
    // Numbers under the locale: "12.5" rounds half to even into the Long field.
    auto r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{2, "5", "12.5"});
    EXPECT_EQ(r.changed, 2);
    EXPECT_EQ(column("n"), QStringList({"12", "0", "NULL", "12", "12"}));
    bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{3, "*", "2.25"});
    EXPECT_EQ(column("c"), QStringList(5, "2.25"));
    // A date is a date, whichever form it is typed in; an empty CHANGE is Null.
    r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{4, "2020-01-02", "2021-01-01"});
    EXPECT_EQ(r.changed, 1);
    EXPECT_EQ(column("d"), QStringList({"2021-01-01 00:00:00", "NULL", "2021-03-04 00:00:00", "NULL", "NULL"}));
    bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{4, "3/4/2021", ""});
    EXPECT_EQ(column("d"), QStringList({"2021-01-01 00:00:00", "NULL", "NULL", "NULL", "NULL"}));
    // Yes/No: False -> True changes the False records; -1 and Yes are True too.
    r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{5, "False", "True"});
    EXPECT_EQ(r.changed, 2);
    EXPECT_EQ(column("y"), QStringList({"1", "1", "NULL", "1", "1"}));
    r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{5, "-1", "No"});
    EXPECT_EQ(r.changed, 4);
    EXPECT_EQ(column("y"), QStringList({"0", "0", "NULL", "0", "0"}));
    EXPECT_EQ(prompts_.count(), 0);

    // Not a value of the type: the conversion error names the field, nothing changes.
    for (const auto& in : {bulk::FindReplace::Inputs{2, "0", "abc"}, bulk::FindReplace::Inputs{4, "*", "2021-13-45"},
                           bulk::FindReplace::Inputs{5, "maybe", "True"}}) {
        try {
            bulk::FindReplace::run(*rs, in);
            ADD_FAILURE() << "no error for " << in.change.toStdString();
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), dao::err::ConversionError);
            EXPECT_TRUE(e.description().contains(rs->Fields().Item(in.field).Name())) << e.what();
        }
    }
    EXPECT_EQ(column("n"), QStringList({"12", "0", "NULL", "12", "12"}));
    EXPECT_EQ(column("y"), QStringList({"0", "0", "NULL", "0", "0"}));

    // A GUID by its text, in any case and with or without braces.
    auto g = open({"create table T (id long, g guid)",
                   "insert into T values (1, '{6F9619FF-8B86-D011-B42D-00C04FC964FF}')",
                   "insert into T values (2, '{00000000-0000-0000-0000-000000000001}')"});
    r = bulk::FindReplace::run(*g, bulk::FindReplace::Inputs{1, "6f9619ff-8b86-d011-b42d-00c04fc964ff",
                                                             "{11111111-2222-3333-4444-555555555555}"});
    EXPECT_EQ(r.changed, 1);
    EXPECT_EQ(column("g"), QStringList({"{11111111-2222-3333-4444-555555555555}",
                                        "{00000000-0000-0000-0000-000000000001}"}));
}

TEST_F(BulkTools, ReplaceWithoutFieldOrRecordsChangesNothingButFlashesTheDisplay) {
    auto rs = open(kMixed);
    RecordingProgress p;
    auto r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{-1, "*", "x"}, p);
    EXPECT_FALSE(r.ran);
    EXPECT_EQ(p.begins, 1);
    EXPECT_EQ(p.ends, 1);
    EXPECT_EQ(p.caption, "Remplazando...");
    auto empty = db_->OpenRecordset("select * from T where id > 100");
    r = bulk::FindReplace::run(*empty, bulk::FindReplace::Inputs{1, "*", "x"});
    EXPECT_FALSE(r.ran);
    EXPECT_EQ(column("s"), QStringList({"abc", "ABC", "abcd", "a*c", "NULL"}));
}

TEST_F(BulkTools, ReplaceProgressEndsExactlyAtTheLastRecord) {
    auto rs = open(kMixed);
    RecordingProgress p;
    bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "zzz", "x"}, p);
    EXPECT_EQ(p.maximum, 5);
    EXPECT_EQ(p.steps, (std::vector<qint64>{1, 2, 3, 4, 5}));
}

TEST_F(BulkTools, ReplaceTooLongTextGoesToTheErrorBoxRetryIgnoreAbort) {
    auto rs = open(kMixed);
    // s is text(20): 25 characters fail on every record. Retry once, then Abort.
    prompts_.answer(vbRetry).answer(vbAbort);
    auto r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "*", QString(25, 'x')});
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_EQ(prompts_.last().icon, vbCritical);
    EXPECT_EQ(prompts_.last().buttons, vbAbortRetryIgnore);
    EXPECT_TRUE(prompts_.last().text.endsWith(" - 3163")) << prompts_.last().text.toStdString();
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(r.visited, 0);
    // Ignore: one box for the run, the same error on the other records is ignored without asking
    // (a read-only file would otherwise ask once per record).
    prompts_.clear();
    prompts_.answer(vbIgnore).answer(vbAbort);
    r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "*", QString(25, 'x')});
    EXPECT_EQ(prompts_.count(), 1);
    EXPECT_FALSE(r.aborted);
    EXPECT_EQ(r.visited, 5);
    EXPECT_EQ(r.changed, 0);
    EXPECT_EQ(column("s"), QStringList({"abc", "ABC", "abcd", "a*c", "NULL"}));
    // The next run asks again.
    prompts_.clear();
    prompts_.answer(vbAbort);
    bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "*", QString(25, 'x')});
    EXPECT_EQ(prompts_.count(), 1);
    // The record is not left in edit mode.
    EXPECT_EQ(rs->EditMode(), dao::dbEditNone);
}

// ---- Copy between fields --------------------------------------------------------------------------

const QStringList kCopy = {
    "create table T (id long, src text(20), num long, dst text(20), dn long, d datetime, y yesno)",
    "insert into T values (1, 'one', 0, 'old', 7, '2020-01-02 00:00:00', 1)",
    "insert into T values (2, '', 3, null, null, null, 1)",
    "insert into T values (3, null, null, '', 0, null, 0)",
    "insert into T values (4, 'four', 4, 'keep', null, '2021-05-06 00:00:00', 1)",
};

TEST_F(BulkTools, CopyExcludeTextEmptyAndZero) {
    auto rs = open(kCopy);
    RecordingProgress p;
    // Empty exclude: empty sources are not copied, Null sources never.
    auto r = bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"src", "dst", "", false, false}, p);
    EXPECT_EQ(r.copied, 2);
    EXPECT_EQ(column("dst"), QStringList({"one", "NULL", "", "four"}));
    // The bar starts at 10 of n + 10 and ends at n + 10.
    EXPECT_EQ(p.caption, "Copying...");
    EXPECT_EQ(p.maximum, 14);
    EXPECT_EQ(p.steps, (std::vector<qint64>{0, 10, 11, 12, 13, 14}));

    // A numeric 0 is copied with an empty exclude text, and skipped when it is "0".
    r = bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"num", "dn", "", false, false});
    EXPECT_EQ(column("dn"), QStringList({"0", "3", "0", "4"}));
    auto rs2 = db_->OpenRecordset("select * from T");
    bulk::FindReplace::run(*rs2, bulk::FindReplace::Inputs{4, "*", "9"});
    r = bulk::CopyFields::run(*rs2, bulk::CopyFields::Inputs{"num", "dn", "0", false, false});
    EXPECT_EQ(r.copied, 2);
    EXPECT_EQ(column("dn"), QStringList({"9", "3", "9", "4"}));
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(BulkTools, CopyKeepExistingOverwritesOnlyNullOrEmpty) {
    auto rs = open({"create table T (id long, src long, dn long, dt text(10))",
                    "insert into T values (1, 5, 0, 'x')", "insert into T values (2, 6, null, null)",
                    "insert into T values (3, 7, 8, '')"});
    // A destination holding 0 is kept (its text is not empty); a Null one is filled.
    auto r = bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"src", "dn", "", true, false});
    EXPECT_EQ(r.copied, 1);
    EXPECT_EQ(r.skipped, 2);
    EXPECT_EQ(column("dn"), QStringList({"0", "6", "8"}));
    r = bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"src", "dt", "", true, false});
    EXPECT_EQ(column("dt"), QStringList({"x", "6", "7"}));
}

TEST_F(BulkTools, CopyEraseSourceClearsByTypeOnlyWhenCopied) {
    auto rs = open(kCopy);
    bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"src", "dst", "", false, true});
    EXPECT_EQ(column("src"), QStringList({"", "", "NULL", ""}));  // record 2 skipped: stays ""
    EXPECT_EQ(column("dst"), QStringList({"one", "NULL", "", "four"}));

    auto rs2 = db_->OpenRecordset("select * from T");
    bulk::CopyFields::run(*rs2, bulk::CopyFields::Inputs{"d", "dst", "", false, true});
    // A date source becomes day zero; a yes/no source becomes No.
    EXPECT_EQ(column("d"), QStringList({"1899-12-30 00:00:00", "NULL", "NULL", "1899-12-30 00:00:00"}));
    auto rs3 = db_->OpenRecordset("select * from T");
    bulk::CopyFields::run(*rs3, bulk::CopyFields::Inputs{"y", "dn", "", false, true});
    EXPECT_EQ(column("y"), QStringList({"0", "0", "0", "0"}));
    // A number source becomes 0, and a skipped one (Null) stays Null.
    auto rs4 = db_->OpenRecordset("select * from T");
    bulk::CopyFields::run(*rs4, bulk::CopyFields::Inputs{"num", "dn", "3", false, true});
    EXPECT_EQ(column("num"), QStringList({"0", "3", "NULL", "0"}));
}

TEST_F(BulkTools, CopySameFieldRefusesAndAnUnknownFieldFailsAtTheFirstRecord) {
    auto rs = open(kCopy);
    RecordingProgress p;
    auto r = bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"src", "src", "", false, false}, p);
    EXPECT_TRUE(r.sameField);
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, "Can not copy data to the same field!");
    EXPECT_EQ(prompts_.last().icon, vbExclamation);
    EXPECT_EQ(prompts_.last().title, appTitle());
    EXPECT_EQ(p.begins, 0);  // nothing else happens
    // Both empty: the same field too.
    bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"", "", "", false, false});
    EXPECT_EQ(prompts_.last().text, "Can not copy data to the same field!");

    r = bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"", "dst", "", false, false});
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->number(), dao::err::ItemNotFound);
    EXPECT_EQ(prompts_.last().title, "Error in process");
    EXPECT_EQ(prompts_.last().icon, vbExclamation);
    EXPECT_EQ(prompts_.last().buttons, vbOKOnly);
    EXPECT_TRUE(prompts_.last().text.startsWith(r.error->description() + " #3265"));
}

TEST_F(BulkTools, CopyErrorKeepsWhatWasCopiedAndSaysHowMany) {
    auto rs = open({"create table T (id long, src text(20), n long)", "insert into T values (1, '10', null)",
                    "insert into T values (2, '20', null)", "insert into T values (3, 'abc', null)",
                    "insert into T values (4, '40', null)"});
    auto r = bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"src", "n", "", false, false});
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.copied, 2);
    EXPECT_EQ(column("n"), QStringList({"10", "20", "NULL", "NULL"}));
    EXPECT_EQ(prompts_.last().text, bulk::CopyFields::errorText(*r.error, 2));
    EXPECT_TRUE(prompts_.last().text.endsWith("Records copied before the error: 2"));
}

// ---- Totals ---------------------------------------------------------------------------------------

TEST_F(BulkTools, TotalsFormatsAsTheSummaryShowsIt) {
    auto rs =
        open({"create table T (id long, i short, c currency, l long)",
              "insert into T values (1, 30000, 1000, -1000)", "insert into T values (2, 30000, 234.5, -234)",
              "insert into T values (3, null, null, null)"});
    // Walking the recordset, and as one query over its source: the same totals.
    for (dao::Database* db : {static_cast<dao::Database*>(nullptr), db_.get()}) {
        SCOPED_TRACE(db ? "query" : "walk");
        // Integer 30000 + 30000 leaves the 16-bit range: a Long.
        auto r = bulk::Totals::run(*rs, "i", db);
        EXPECT_EQ(r.total, Variant::fromLong(60000));
        EXPECT_EQ(r.text, "60,000.00");
        EXPECT_EQ(r.records, 3);
        EXPECT_EQ(r.nullsSkipped, 1);
        EXPECT_EQ(bulk::Totals::nullsNote(r.nullsSkipped), "1 Null value skipped");
        r = bulk::Totals::run(*rs, "c", db);
        EXPECT_EQ(r.total, Variant::fromCurrency(12345000));
        EXPECT_EQ(r.text, "$1,234.50");
        EXPECT_EQ(bulk::Totals::run(*rs, "l", db).text, "-1,234.00");
        // No field chosen, or a name that is not a field: nothing.
        EXPECT_FALSE(bulk::Totals::run(*rs, "", db).ran);
        EXPECT_FALSE(bulk::Totals::run(*rs, "nope", db).ran);
        // No records: .00
        auto empty = db_->OpenRecordset("select * from T where id > 9");
        r = bulk::Totals::run(*empty, "i", db);
        EXPECT_TRUE(r.ran);
        EXPECT_EQ(r.text, ".00");
        // A filtered source, and a table opened by name.
        EXPECT_EQ(
            bulk::Totals::run(*db_->OpenRecordset("select * from T where id >= 2 order by id desc"), "c", db)
                .text,
            "$234.50");
        EXPECT_EQ(bulk::Totals::run(*db_->OpenRecordset("T"), "l", db).text, "-1,234.00");
    }
    EXPECT_EQ(bulk::Totals::format(Variant::fromDouble(0.5), dao::dbLong), ".50");
    EXPECT_EQ(bulk::Totals::format(Variant::fromLong(0), dao::dbLong), ".00");
    EXPECT_EQ(bulk::Totals::format(Variant::fromCurrency(5000), dao::dbCurrency), "$.50");
}

TEST_F(BulkTools, TotalsOfAFieldHoldingTextIsATypeMismatch) {
    path_ = dir_.filePath("text.db");
    shell(path_, "create table T (id integer primary key, l long); insert into T values (1, 5), (2, 'abc');");
    db_ = dao::OpenDatabase(path_);
    auto rs = db_->OpenRecordset("T");
    for (dao::Database* db : {static_cast<dao::Database*>(nullptr), db_.get()}) {
        try {
            bulk::Totals::run(*rs, "l", db);
            ADD_FAILURE() << "no error";
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), dao::err::TypeMismatch);
        }
    }
}

TEST_F(BulkTools, TotalsKeepsTheCurrentRecord) {
    auto rs = open(kMixed);
    rs->setAbsolutePosition(3);
    bulk::Totals::run(*rs, "n");
    EXPECT_EQ(rs->AbsolutePosition(), 3);
    rs->MoveFirst();
    bulk::Totals::run(*rs, "n");
    EXPECT_EQ(rs->AbsolutePosition(), 0);
}

TEST_F(BulkTools, TotalsUseTheLocaleSeparators) {
    testutil::LocaleGuard german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(bulk::Totals::format(Variant::fromLong(-1234567), dao::dbLong), "-1.234.567,00");
}

// ---- Field operations -----------------------------------------------------------------------------

const QStringList kOps = {
    "create table T (id long, n long, i short, s text(20), x double)",
    "insert into T values (1, 5, 5, '12 abc', 1)",
    "insert into T values (2, 10, 6, 'x', 2)",
    "insert into T values (3, -4, 7, '3.5', 3)",
};

TEST_F(BulkTools, OperationsApplyTheConstant) {
    auto rs = open(kOps);
    RecordingProgress p;
    auto r = bulk::FieldOperations::run(
        *rs, bulk::FieldOperations::Inputs{"n", bulk::FieldOperations::Add, "10"}, p);
    EXPECT_EQ(r.processed, 3);
    EXPECT_EQ(column("n"), QStringList({"15", "20", "6"}));
    EXPECT_EQ(p.caption, "Working...");
    EXPECT_EQ(p.maximum, 3);
    EXPECT_EQ(p.steps, (std::vector<qint64>{1, 2, 3}));  // the bar reaches its maximum at the last record

    // "/ 4" into an integer field: 1.25 -> 1, 1.5 -> 2, 1.75 -> 2 (the engine's rounding).
    bulk::FieldOperations::run(*rs, bulk::FieldOperations::Inputs{"i", bulk::FieldOperations::Divide, "4"});
    EXPECT_EQ(column("i"), QStringList({"1", "2", "2"}));
    // A decimal comma: 2,5 is read as 2.
    bulk::FieldOperations::run(*rs,
                               bulk::FieldOperations::Inputs{"x", bulk::FieldOperations::Multiply, "2,5"});
    EXPECT_EQ(column("x"), QStringList({"2.0", "4.0", "6.0"}));
    // A text field: "12 abc" is read as 12 and the result stored as text.
    bulk::FieldOperations::run(*rs, bulk::FieldOperations::Inputs{"s", bulk::FieldOperations::Subtract, "2"});
    EXPECT_EQ(column("s"), QStringList({"10", "-2", "1.5"}));
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(BulkTools, OperationsRefuseZeroNegativeAndMissingInputs) {
    auto rs = open(kOps);
    for (const char* k : {"0", "-3", "abc", ""})
        EXPECT_FALSE(bulk::FieldOperations::run(*rs, bulk::FieldOperations::Inputs{"n", 0, k}).ran) << k;
    EXPECT_FALSE(bulk::FieldOperations::run(*rs, bulk::FieldOperations::Inputs{"", 0, "5"}).ran);
    // No operation chosen: every record is committed unchanged.
    EXPECT_EQ(bulk::FieldOperations::run(*rs, bulk::FieldOperations::Inputs{"n", -1, "5"}).processed, 3);
    EXPECT_EQ(column("n"), QStringList({"5", "10", "-4"}));
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(BulkTools, OperationsNullGoesToTheErrorBoxAndIgnoreKeepsIt) {
    auto rs = open({"create table T (id long, n long)", "insert into T values (1, 1)",
                    "insert into T values (2, null)", "insert into T values (3, 3)"});
    prompts_.answer(vbIgnore);
    auto r =
        bulk::FieldOperations::run(*rs, bulk::FieldOperations::Inputs{"n", bulk::FieldOperations::Add, "1"});
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_TRUE(prompts_.last().text.endsWith(" - 94"));
    EXPECT_EQ(prompts_.last().buttons, vbAbortRetryIgnore);
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(r.processed, 2);
    EXPECT_EQ(column("n"), QStringList({"2", "NULL", "4"}));
}

// ---- Erase ----------------------------------------------------------------------------------------

TEST_F(BulkTools, EraseAsksFirstAndNoErasesNothing) {
    auto rs = open(kMixed);
    prompts_.answer(vbNo);
    auto r = bulk::EraseRecords::run([&] { return rs; });
    EXPECT_FALSE(r.confirmed);
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, "WARNING: This will erase all records in the screen!");
    EXPECT_EQ(prompts_.last().icon, vbExclamation);
    EXPECT_EQ(prompts_.last().buttons, vbYesNo);
    EXPECT_EQ(prompts_.last().defaultButton, 2);
    // Unanswered, the default button (No) is taken.
    bulk::EraseRecords::run([&] { return rs; });
    EXPECT_EQ(shellValue(path_, "select count(*) from T"), "5");
}

TEST_F(BulkTools, EraseDeletesTheSelectedRecordsOnly) {
    open({"create table T (id long, s text(10))"});
    for (int i = 1; i <= 10; ++i) db_->Execute(QString("insert into T values (%1, 's%1')").arg(i));
    auto rs = db_->OpenRecordset("select * from T where id in (2, 5, 9)");
    prompts_.answer(vbYes);
    RecordingProgress p;
    auto r = bulk::EraseRecords::run([&] { return rs; }, p);
    EXPECT_EQ(r.erased, 3);
    EXPECT_EQ(r.kept, 0);
    EXPECT_EQ(prompts_.count(), 1);  // the question only
    EXPECT_EQ(p.caption, "Borrando...");
    EXPECT_EQ(p.steps, (std::vector<qint64>{1, 2, 3}));
    EXPECT_EQ(column("id"), QStringList({"1", "3", "4", "6", "7", "8", "10"}));
}

TEST_F(BulkTools, EraseKeepsRecordsThatCannotBeDeletedAndSaysSo) {
    path_ = dir_.filePath("fk.db");
    shell(path_,
          "create table T (id integer primary key, s text(10));"
          "create table C (cid integer primary key, tid integer references T(id));"
          "insert into T values (1,'a'),(2,'b'),(3,'c'),(4,'d');"
          "insert into C values (1, 2), (2, 4);");
    db_ = dao::OpenDatabase(path_);
    prompts_.answer(vbYes);
    auto r = bulk::EraseRecords::run([&] { return db_->OpenRecordset("T"); });
    EXPECT_EQ(r.erased, 2);
    EXPECT_EQ(r.kept, 2);
    EXPECT_FALSE(r.stopped);
    EXPECT_EQ(column("id"), QStringList({"2", "4"}));
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_EQ(prompts_.last().text,
              "2 records erased, 2 records kept.\rThe records kept could not be deleted.");
}

TEST_F(BulkTools, EraseOnAFileThatCannotChangeTellsOnceAndErasesNothing) {
    // A copy of a file with RC4-encoded pages: read, never written.
    const QString jet = dir_.filePath("db-enc.mdb");
    if (!QFile::copy(testutil::jetFile("../jet-more/encrypted/db-enc.mdb"), jet)) GTEST_SKIP() << "no Jet test file";
    QFile::setPermissions(jet, QFile::ReadOwner | QFile::WriteOwner);
    auto db = dao::OpenDatabase(jet);
    QString table;
    for (const QString& t : db->TableDefs())
        if (table.isEmpty() && db->OpenRecordset(t)->RecordCount() > 0) table = t;
    ASSERT_FALSE(table.isEmpty());
    const long long before = db->OpenRecordset(table)->RecordCount();
    prompts_.answer(vbYes);
    auto r = bulk::EraseRecords::run([&] { return db->OpenRecordset(table); });
    ASSERT_TRUE(r.stopped) << r.erased << " " << r.kept << " of " << before;
    EXPECT_EQ(r.stopped->number(), dao::err::ReadOnly);
    EXPECT_EQ(r.erased, 0);
    EXPECT_EQ(r.kept, before);
    ASSERT_EQ(prompts_.count(), 2);  // the question and one message
    EXPECT_TRUE(prompts_.last().text.startsWith("The records could not be erased: "));
    EXPECT_TRUE(prompts_.last().text.contains(" - 3027\r0 records erased, "))
        << prompts_.last().text.toStdString();
    EXPECT_EQ(prompts_.last().text, bulk::EraseRecords::outcomeText(r));
    EXPECT_EQ(db->OpenRecordset(table)->RecordCount(), before);
}

TEST_F(BulkTools, EraseCountsPastThe16BitRange) {
    path_ = dir_.filePath("many.db");
    shell(path_,
          "create table T (id integer primary key, s text(10));"
          "with recursive c(x) as (select 1 union all select x + 1 from c where x < 40000) "
          "insert into T select x, 's' from c;");
    db_ = dao::OpenDatabase(path_);
    prompts_.answer(vbYes);
    RecordingProgress p;
    auto r = bulk::EraseRecords::run([&] { return db_->OpenRecordset("T"); }, p);
    EXPECT_EQ(r.erased, 40000);
    EXPECT_EQ(p.maximum, 40000);
    EXPECT_EQ(p.last(), 40000);
    EXPECT_EQ(shellValue(path_, "select count(*) from T"), "0");
}

}  // namespace
