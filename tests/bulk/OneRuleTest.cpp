// Rules that have one home each: the quoting of names, the stored date, and the keyset following a
// record whose row id changes.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

#include "TestUtil.h"
#include "bulk/FieldOperations.h"
#include "bulk/FieldTextParser.h"
#include "platform/Prompts.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"
#include "platform/dao/Error.h"
#include "platform/dao/FieldTypes.h"
#include "platform/dao/JetSql.h"
#include "platform/dao/JetValueCodec.h"

using dao::Variant;

namespace {

using testutil::errorOf;

TEST(OneRule, NamesAreQuotedOneWayAndTheEngineReadsEveryForm) {
    using dao::jetName;
    using dao::NameQuoting;
    EXPECT_EQ(jetName("Clientes"), "Clientes");
    EXPECT_EQ(jetName("Clientes", NameQuoting::Always), "[Clientes]");
    EXPECT_EQ(jetName("Mi tabla"), "[Mi tabla]");
    EXPECT_EQ(jetName("select"), "[select]");
    EXPECT_EQ(jetName("True"), "[True]");  // bare, it would be the constant
    EXPECT_EQ(jetName("mod"), "[mod]");
    EXPECT_EQ(jetName("a]b"), "`a]b`");
    EXPECT_EQ(jetName("a]b`c"), "`a]b``c`");
    EXPECT_EQ(jetName("x`y"), "[x`y]");

    QTemporaryDir dir;
    const QStringList names = {"select", "True", "Mi tabla", "a]b", "a]b`c", "x`y", "x[y", "Año"};
    QStringList sql;
    for (const QString& n : names) {
        QString q = n;
        q.replace('"', "\"\"");
        sql << QString("create table \"%1\" (\"%1\" long)").arg(q) << QString("insert into \"%1\" values (7)").arg(q);
    }
    auto db = dao::OpenDatabase(testutil::makeSqlite(dir, "q.db", sql));
    for (const QString& n : names) {
        SCOPED_TRACE(n.toStdString());
        for (NameQuoting field : {NameQuoting::WhenNeeded, NameQuoting::Always}) {
            auto rs = db->OpenRecordset("select " + jetName(n, field) + " from " + jetName(n) + " where " +
                                        jetName(n, field) + " = 7");
            ASSERT_EQ(rs->RecordCount(), 1);
            EXPECT_EQ(rs->Fields().Item(0).Name(), n);
        }
        // A table opened by its bare name is the same table (a name that reads as a statement is one).
        if (n != "select") EXPECT_EQ(db->OpenRecordset(n)->Name(), n);
    }
}

// The calendar, not another copy of the rule: 1899-12-30 plus the whole days, then the fraction
// as a time of day counted forwards, rounded to the second.
QString calendar(double day) {
    const double whole = std::trunc(day);
    const qint64 seconds = std::llround(std::fabs(day - whole) * 86400.0);
    const QDateTime t = QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC).addDays(qint64(whole)).addSecs(seconds);
    return t.toString("yyyy-MM-dd HH:mm:ss");
}

TEST(OneRule, StoredDatesFollowTheCalendar) {
    testutil::LocaleGuard c(QLocale::c());
    // Known days (1900 was no leap year; the range's ends) and times on both sides of the epoch,
    // just before midnight included.
    const std::pair<double, const char*> known[] = {
        {0, "1899-12-30 00:00:00"},        {1, "1899-12-31 00:00:00"},         {-1, "1899-12-29 00:00:00"},
        {-1.25, "1899-12-29 06:00:00"},    {-1.999999999, "1899-12-30 00:00:00"}, {-2.5, "1899-12-28 12:00:00"},
        {0.999999999, "1899-12-31 00:00:00"}, {2, "1900-01-01 00:00:00"},       {60, "1900-02-28 00:00:00"},
        {61, "1900-03-01 00:00:00"},       {36526, "2000-01-01 00:00:00"},     {45351.75, "2024-02-29 18:00:00"},
        {-657434, "0100-01-01 00:00:00"},  {2958465.5, "9999-12-31 12:00:00"}, {-365.9999999, "1898-12-31 00:00:00"},
    };
    const bulk::FieldTextParser parser;
    for (const auto& [day, text] : known) {
        SCOPED_TRACE(QString::number(day, 'f', 9).toStdString());
        ASSERT_EQ(calendar(day), text);
        EXPECT_EQ(dao::storedDateText(day), text);
        EXPECT_EQ(Variant::dateTimeFromDayNumber(day).toString("yyyy-MM-dd HH:mm:ss"), text);
        EXPECT_EQ(dao::jet::JetValueCodec::dateToText(day).value_or("none"), QByteArray(text));
        // Read back, each reader gives the day number of that second.
        double back = 0;
        ASSERT_TRUE(dao::parseStoredDate(QString(text), &back));
        EXPECT_EQ(calendar(back), text);
        EXPECT_EQ(dao::jet::JetValueCodec::dateFromText(text).value_or(-1e9), back);
        EXPECT_EQ(parser.parseDate(text).value_or(Variant::null()).asDate(), back);
    }
    // Over the whole range, every copy agrees with the calendar.
    for (double d = -657434; d <= 2958465; d += 7919)
        for (double f : {0.0, 0.25, 0.4999999, 0.9999999, 43199.5 / 86400}) {
            const double v = d >= 0 ? d + f : d - f;
            ASSERT_EQ(dao::storedDateText(v), calendar(v)) << v;
            ASSERT_EQ(QString(dao::jet::JetValueCodec::dateToText(v).value_or("none")), calendar(v)) << v;
        }
    // Days added on the time line, across the epoch.
    EXPECT_EQ(dao::storedDateText(dao::addDays(-1.25, 1)), "1899-12-30 06:00:00");
    EXPECT_EQ(dao::storedDateText(dao::addDays(-1.25, 2)), "1899-12-31 06:00:00");
    EXPECT_EQ(dao::storedDateText(dao::addDays(0.5, -1)), "1899-12-29 12:00:00");
    EXPECT_EQ(dao::storedDateText(dao::addDays(43831, 0.75)), "2020-01-01 18:00:00");
}

TEST(OneRule, ImpossibleDatesAreRefusedByEveryReader) {
    testutil::LocaleGuard c(QLocale::c());
    const bulk::FieldTextParser parser;
    for (const char* text : {"2023-02-29", "2023-02-31 10:00:00", "2024-04-31", "1900-02-29", "2023-13-01"}) {
        SCOPED_TRACE(text);
        double day = 0;
        EXPECT_FALSE(dao::parseStoredDate(QString(text), &day));
        EXPECT_FALSE(dao::jet::JetValueCodec::dateFromText(text));
        EXPECT_FALSE(parser.parseDate(text));
        EXPECT_EQ(errorOf([&] { dao::convertForType(text, dao::dbDate); }), dao::err::TypeMismatch);
        EXPECT_EQ(errorOf([&] { dao::coerceToFieldType(Variant::fromString(text), dao::dbDate); }),
                  dao::err::ConversionError);
        EXPECT_TRUE(dao::jetDateLiteralToIso(text).isEmpty());
    }
    EXPECT_TRUE(dao::isCalendarDate(2024, 2, 29));
    EXPECT_FALSE(dao::isCalendarDate(2100, 2, 29));
}

TEST(OneRule, TheKeysetFollowsAChangedIntegerPrimaryKey) {
    QTemporaryDir dir;
    platform::PromptScript prompts;
    const QString path = testutil::makeSqlite(
        dir, "k.db", {"create table T (id integer primary key, v text(5))", "insert into T values (1, 'a'), (2, 'b'), (3, 'c')"});
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("T");
    rs->setAbsolutePosition(2);
    rs->Edit();
    rs->Fields().Item("id").setValue(Variant::fromLong(30));
    rs->Update();
    EXPECT_EQ(rs->Fields().Item("id").Value().asInt(), 30);
    rs->MoveFirst();
    rs->Move(2);
    EXPECT_EQ(rs->Fields().Item("v").Value().asString(), "c");
    rs->Edit();
    rs->Fields().Item("v").setValue(Variant::fromString("cc"));
    rs->Update();
    // A tool over the same recordset changes every key, then reads every record again.
    const auto r = bulk::FieldOperations::run(*rs, bulk::FieldOperations::Inputs{"id", bulk::FieldOperations::Add, "100"},
                                              bulk::noProgress());
    EXPECT_EQ(r.processed, 3);
    EXPECT_EQ(prompts.count(), 0);
    QStringList seen;
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext())
        seen << QString::number(rs->Fields().Item("id").Value().asInt()) + rs->Fields().Item("v").Value().asString();
    EXPECT_EQ(seen, (QStringList{"101a", "102b", "130cc"}));
}

}  // namespace
