#include <gtest/gtest.h>

#include <QDateTime>
#include <cmath>
#include <functional>
#include <vector>

#include "TestUtil.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Error.h"
#include "platform/dao/FieldTypes.h"

using dao::Variant;

namespace {

using testutil::errorOf;

Variant date(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    return Variant::fromDateTime(QDateTime(QDate(y, m, d), QTime(h, mi, s), Qt::UTC));
}

const QLocale kGerman(QLocale::German, QLocale::Germany);

}  // namespace

TEST(Conversions, LeadingNumber) {
    const std::pair<const char*, double> cases[] = {
        {"12abc", 12}, {"&HFF", 255}, {" 1 2 ", 12},  {"&O17", 15},   {"1.5e2x", 150}, {"1D3", 1000},
        {"abc", 0},    {"-.5", -0.5}, {"", 0},        {"\t-\n3", -3}, {"1e", 1},       {"2.5.1", 2.5},
        {"&h1g", 1},   {"&O8", 0},    {"1E-2", 0.01}, {"+7", 7},      {"--5", 0},      {"1,5", 1},
    };
    for (const auto& [text, expected] : cases) EXPECT_DOUBLE_EQ(dao::leadingNumber(text), expected) << text;
    EXPECT_TRUE(std::isinf(dao::leadingNumber("1e999")));
}

TEST(Conversions, ValueToText) {
    const std::pair<Variant, const char*> cases[] = {
        {Variant(), ""},
        {Variant::fromBool(true), "True"},
        {Variant::fromBool(false), "False"},
        {Variant::fromInteger(-7), "-7"},
        {Variant::fromDouble(0.1 + 0.2), "0.3"},
        {Variant::fromDouble(1e20), "1E+20"},
        {Variant::fromDouble(0.00001), "1E-05"},
        {Variant::fromDouble(123456789012345.0), "123456789012345"},
        {Variant::fromDouble(-0.5), "-0.5"},
        {Variant::fromSingle(0.1f), "0.1"},
        {Variant::fromSingle(1.0f / 3), "0.3333333"},
        {Variant::fromCurrency(12345000), "1234.5"},
        {Variant::fromCurrency(-1), "-0.0001"},
        {Variant::fromDecimal("-12.345"), "-12.345"},
        {date(2020, 12, 31), "12/31/2020"},
        {date(2020, 12, 31, 13, 5), "12/31/2020 1:05:00 PM"},
        {date(150, 1, 2), "1/2/0150"},
        {Variant::fromDate(1.99999999), "1/1/1900"},  // rounds up to the next midnight
        {Variant::fromBinary(QByteArray("\x01\x02", 2)), "(binary 2 bytes)"},
    };
    for (const auto& [v, expected] : cases)
        EXPECT_EQ(dao::valueToText(v), expected) << v.debugString().toStdString();
    EXPECT_EQ(errorOf([] { dao::valueToText(Variant::null()); }), dao::err::InvalidUseOfNull);
}

TEST(Conversions, ValueToTextOtherLocales) {
    {
        testutil::LocaleGuard g(kGerman);
        EXPECT_EQ(dao::valueToText(Variant::fromDouble(1234.5)), "1234,5");
        EXPECT_EQ(dao::valueToText(Variant::fromCurrency(15000)), "1,5");
        EXPECT_EQ(dao::valueToText(date(2020, 12, 31, 13, 5)), "31.12.2020 13:05:00");
    }
    testutil::LocaleGuard g(QLocale::c());
    EXPECT_EQ(dao::valueToText(Variant::fromDouble(1.5)), "1.5");
    EXPECT_EQ(dao::valueToText(date(2020, 1, 2)), "2020-01-02");
    EXPECT_EQ(dao::valueToText(date(2020, 1, 2, 3, 4, 5)), "2020-01-02 03:04:05");
}

TEST(Conversions, DateTextHasACleanTimeInEveryLocale) {
    const std::pair<QLocale, const char*> cases[] = {
        {QLocale::c(), "2020-12-31 13:05:07"},
        {QLocale(QLocale::English, QLocale::UnitedStates), "12/31/2020 1:05:07 PM"},
        {QLocale(QLocale::Spanish, QLocale::Spain), "31/12/2020 13:05:07"},
        {kGerman, "31.12.2020 13:05:07"},
    };
    const Variant v = date(2020, 12, 31, 13, 5, 7);
    for (const auto& [locale, expected] : cases) {
        testutil::LocaleGuard g(locale);
        const QString text = dao::valueToText(v);
        EXPECT_EQ(text.toStdString(), expected) << locale.name().toStdString();
        EXPECT_EQ(dao::timeFormat().toStdString(), dao::timeFormat().trimmed().toStdString()) << locale.name().toStdString();
        EXPECT_EQ(dao::convertForType(text, dao::dbDate), v) << locale.name().toStdString();
    }
}

TEST(Conversions, ShortestNumberTextAndComparison) {
    EXPECT_EQ(dao::shortestNumberText(42), "42");
    EXPECT_EQ(dao::shortestNumberText(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(dao::shortestNumberText(-0.25, ','), "-0,25");
    EXPECT_EQ(dao::shortestNumberText(1e21), "1E+21");

    EXPECT_EQ(dao::fieldEqualsText(Variant::fromLong(7), "7"), true);
    EXPECT_EQ(dao::fieldEqualsText(Variant::fromString("abc"), "ABC"), false);
    EXPECT_EQ(dao::fieldEqualsText(Variant::null(), ""), std::nullopt);
}

TEST(Conversions, VariantAdd) {
    using T = Variant::Type;
    struct Case {
        Variant a, b, sum;
    };
    const Case cases[] = {
        {Variant(), Variant::fromLong(5), Variant::fromLong(5)},
        {Variant::fromInteger(30000), Variant::fromInteger(30000), Variant::fromLong(60000)},
        {Variant::fromLong(INT32_MAX), Variant::fromInteger(1), Variant::fromDouble(2147483648.0)},
        {Variant::fromByte(200), Variant::fromByte(100), Variant::fromInteger(300)},
        {Variant::fromByte(2), Variant::fromByte(3), Variant::fromByte(5)},
        {Variant::fromBool(true), Variant::fromInteger(1), Variant::fromInteger(0)},
        {Variant::fromCurrency(10000), Variant::fromLong(2), Variant::fromCurrency(30000)},
        {Variant::fromCurrency(10000), Variant::fromDouble(0.1 + 0.2), Variant::fromCurrency(13000)},
        {Variant::fromDouble(0.5), Variant::fromLong(1), Variant::fromDouble(1.5)},
        {Variant::fromSingle(0.5f), Variant::fromInteger(1), Variant::fromSingle(1.5f)},
        {Variant::fromSingle(0.5f), Variant::fromLong(1), Variant::fromDouble(1.5)},
        {Variant::fromLong(1), Variant::fromString("1,000.5"), Variant::fromDouble(1001.5)},
        {Variant::fromLong(1), Variant::null(), Variant::null()},
        {Variant::fromDecimal("0.1"), Variant::fromDecimal("0.2"), Variant::fromDecimal("0.3")},
        {Variant::fromDecimal("1.5"), Variant::fromCurrency(5000), Variant::fromDecimal("2")},
        {date(2020, 1, 1), Variant::fromInteger(1), date(2020, 1, 2)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dao::variantAdd(c.a, c.b), c.sum)
            << c.a.debugString().toStdString() << " + " << c.b.debugString().toStdString();
    EXPECT_EQ(dao::variantAdd(Variant(), Variant()).type(), T::Integer);
    EXPECT_EQ(errorOf([] { dao::variantAdd(Variant::fromLong(1), Variant::fromString("abc")); }),
              dao::err::TypeMismatch);
    EXPECT_EQ(errorOf([] { dao::variantAdd(Variant::fromCurrency(INT64_MAX), Variant::fromLong(1)); }),
              dao::err::Overflow);
}

TEST(Conversions, FormatNumber) {
    const std::tuple<double, const char*, const char*> cases[] = {
        {60000, "###,###.00", "60,000.00"},
        {1234.5, "$###,###.00", "$1,234.50"},
        {0.5, "###,###.00", ".50"},
        {0, "###,###.00", ".00"},
        {-1234, "###,###.00", "-1,234.00"},
        {-0.5, "$###,###.00", "-$.50"},
        {2.005, "###,###.00", "2.01"},
        {-2.005, "###,###.00", "-2.01"},
        {0.125, "0.00", "0.13"},
        {1234567.891, "#,##0.0", "1,234,567.9"},
        {-0.001, "###.00", ".00"},
        {1.5, "#.##", "1.5"},
        {7, "00#", "007"},
        {5, "\"N\" ##0 \\%", "N 5 %"},
    };
    for (const auto& [value, pattern, expected] : cases)
        EXPECT_EQ(dao::formatNumber(value, pattern), expected) << value << " " << pattern;
    testutil::LocaleGuard g(kGerman);
    EXPECT_EQ(dao::formatNumber(1234.5, "###,###.00"), "1.234,50");
}

TEST(Conversions, FormatWithMask) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"5551234567", "(###) ###-####", "(555) 123-4567"},
        {"7", "###", "7"},
        {"7", "(###) ###-####", "() -7"},
        {"12345", "##-##", "123-45"},
        {"7", "000", "007"},
        {"12", "\\###", "#12"},
        {"abc", "###", "abc"},
        {"12", "", "12"},
    };
    for (const auto& [value, mask, expected] : cases)
        EXPECT_EQ(dao::formatWithMask(value, mask), expected) << value << " " << mask;
}

TEST(Conversions, ConvertForType) {
    struct Case {
        const char* text;
        int type;
        Variant value;
    };
    const Case ok[] = {
        {"7", 3, Variant::fromInteger(7)},
        {"007", 3, Variant::fromInteger(7)},
        {"1.5", 3, Variant::fromInteger(2)},
        {"2.5", 3, Variant::fromInteger(2)},
        {"-32768", 3, Variant::fromInteger(-32768)},
        {"40000", 4, Variant::fromLong(40000)},
        {"1,234", 4, Variant::fromLong(1234)},
        {"1.5", 5, Variant::fromCurrency(15000)},
        {"0.00005", 5, Variant::fromCurrency(0)},
        {"1.50", 21, Variant::fromDouble(1.5)},
        {"-1.2300", 20, Variant::fromDecimal("-1.23")},
        {"12abc", 19, Variant::fromDouble(12)},
        {"12/31/2020", 8, date(2020, 12, 31)},
        {"12/31/2020 1:05:00 PM", 8, date(2020, 12, 31, 13, 5)},
        {"abc", 10, Variant::fromString("abc")},
    };
    for (const auto& c : ok)
        EXPECT_EQ(dao::convertForType(c.text, c.type), c.value) << c.text << " as " << c.type;
    EXPECT_EQ(dao::valueToText(dao::convertForType("007", 3)), "7");
    EXPECT_EQ(dao::valueToText(dao::convertForType("1.5", 5)), "1.5");

    const std::tuple<const char*, int, int> bad[] = {
        {"abc", 3, 13}, {"40000", 3, 6}, {"", 3, 13},   {"1x", 4, 13},         {"3e9", 4, 6},
        {"", 19, 13},   {"", 5, 13},     {"a", 20, 13}, {"2020-13-45", 8, 13}, {"12/31/20", 8, 13},
    };
    for (const auto& [text, type, error] : bad)
        EXPECT_EQ(errorOf([&] { dao::convertForType(text, type); }), error) << text << " as " << type;

    testutil::LocaleGuard g(kGerman);
    EXPECT_EQ(dao::convertForType("1.234,5", 21), Variant::fromDouble(1234.5));
    EXPECT_EQ(dao::convertForType("31.12.2020", 8), date(2020, 12, 31));
}

TEST(Conversions, CoerceToFieldType) {
    struct Case {
        Variant in;
        int type;
        Variant out;
    };
    const Case ok[] = {
        {Variant::fromLong(0), 1, Variant::fromBool(false)},
        {Variant::fromString("yes"), 1, Variant::fromBool(true)},
        {Variant::fromString("0"), 1, Variant::fromBool(false)},
        {Variant::fromDouble(255.4), 2, Variant::fromByte(255)},
        {Variant::fromDouble(2.5), 4, Variant::fromLong(2)},
        {Variant::fromString("-12"), 3, Variant::fromInteger(-12)},
        {Variant::fromDouble(1.23456), 5, Variant::fromCurrency(12346)},
        {Variant::fromString("1.5"), 6, Variant::fromSingle(1.5f)},
        {Variant::fromCurrency(15000), 7, Variant::fromDouble(1.5)},
        {Variant::fromString("2020-01-02 03:04:05"), 8, date(2020, 1, 2, 3, 4, 5)},
        {Variant::fromString("1/2/2020"), 8, date(2020, 1, 2)},
        {Variant::fromDouble(1), 8, Variant::fromDate(1)},
        {Variant::fromDouble(1.5), 10, Variant::fromString("1.5")},
        {date(2020, 1, 2), 12, Variant::fromString("1/2/2020")},
        {Variant::fromString("é"), 11, Variant::fromBinary("\xc3\xa9")},
        {Variant::fromString("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"), 15,
         Variant::fromString("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}")},
        {Variant::fromString("{00000000-0000-0000-0000-000000000000}"), 15,
         Variant::fromString("{00000000-0000-0000-0000-000000000000}")},
        {Variant::fromDouble(0.1 + 0.2), 20, Variant::fromDecimal("0.3")},
        {Variant::fromString("12.50"), 20, Variant::fromDecimal("12.5")},
        // A Long of an SQLite file holds 64 bits: past 32 a whole number keeps its exact digits.
        {Variant::fromDouble(1e10), 4, Variant::fromDecimal("10000000000")},
        {Variant::fromString("-9223372036854775808"), 4, Variant::fromDecimal("-9223372036854775808")},
        {Variant::fromString("2147483647"), 4, Variant::fromLong(2147483647)},
        {Variant(), 4, Variant::null()},
        {Variant::null(), 10, Variant::null()},
    };
    for (const auto& c : ok)
        EXPECT_EQ(dao::coerceToFieldType(c.in, c.type), c.out)
            << c.in.debugString().toStdString() << " to " << c.type;
    const std::tuple<Variant, int, int> bad[] = {
        {Variant::fromString("abc"), 4, 3421},
        {Variant::fromLong(256), 2, 6},
        {Variant::fromLong(-1), 2, 6},
        {Variant::fromDouble(1e19), 4, 6},
        {Variant::fromString("9223372036854775808"), 4, 6},
        {Variant::fromString("x"), 8, 3421},
        {Variant::fromString("nope"), 15, 3421},
        {Variant::fromString("{00000000-0000-0000-0000-00000000000}"), 15, 3421},
        {Variant::fromDouble(1e300), 5, 6},
        {Variant::fromString("maybe"), 1, 3421},
        {Variant::fromString("1000000000000000000000000000000"), 20, 6},
    };
    for (const auto& [in, type, error] : bad)
        EXPECT_EQ(errorOf([&] { dao::coerceToFieldType(in, type); }), error)
            << in.debugString().toStdString();
}

TEST(FieldTypes, StoredDateTextAgreesWithTheCalendarClassesOverTheWholeRange) {
    // The calendar itself, not another copy of the rule: the epoch plus the whole days, then the
    // fraction counted forwards as a time of day, rounded to the second.
    auto reference = [](double day) {
        const double whole = std::trunc(day);
        const qint64 seconds = std::llround(std::fabs(day - whole) * 86400.0);
        const QDateTime dt =
            QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC).addDays(qint64(whole)).addSecs(seconds);
        return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", dt.date().year(), dt.date().month(), dt.date().day(),
                                 dt.time().hour(), dt.time().minute(), dt.time().second());
    };
    // Fractions that round down, up, and up to the next midnight; days on both sides of the epoch,
    // at the range's ends and beyond them (years past 9999 and before 100).
    const double fractions[] = {0, 0.25, 0.5 - 1e-9, 0.999994, 0.9999999, 1.0 / 86400 * 43199.5};
    std::vector<double> days;
    for (double d = -657434; d <= 2958465; d += 997) days.push_back(d);
    for (double d : {-657434.0, -1.0, 0.0, 1.0, 59.0, 60.0, 61.0, 2958465.0, 2958466.0, -657435.0, -700000.0, 4e6})
        days.push_back(d);
    for (double d : days)
        for (double f : fractions) {
            const double v = d >= 0 ? d + f : d - f;
            ASSERT_EQ(dao::storedDateText(v), reference(v)) << QString::number(v, 'f', 9).toStdString();
        }
}

TEST(FieldTypes, OneStoredDateFormAndOneReader) {
    const double day = dao::Variant::dayNumberFromDateTime(QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC));
    EXPECT_EQ(dao::storedDateText(day), "2021-03-04 05:06:07");
    EXPECT_EQ(dao::storedDateText(987, 1, 2, 0, 0, 0), "0987-01-02 00:00:00");
    double back = 0;
    for (const char* text : {"2021-03-04 05:06:07", "2021-03-04T05:06:07", "2021-03-04 05:06:07.250"}) {
        ASSERT_TRUE(dao::parseStoredDate(QString(text), &back)) << text;
        EXPECT_EQ(dao::storedDateText(back), "2021-03-04 05:06:07") << text;
    }
    EXPECT_TRUE(dao::parseStoredDate(QString("2021-03-04 05:06"), &back));
    EXPECT_EQ(dao::storedDateText(back), "2021-03-04 05:06:00");
    for (const char* bad : {"2021-3-4", "2021-02-30", "2021-03-04 25:00", "2021-03-04 05:06:07.", "04/03/2021", ""})
        EXPECT_FALSE(dao::parseStoredDate(QString(bad), &back)) << bad;
    // The tools' numeric fields are a subset of the fields holding numbers.
    for (int t : {dao::dbInteger, dao::dbLong, dao::dbBigInt, dao::dbCurrency})
        EXPECT_TRUE(dao::isNumericField(t) && dao::isNumberField(t));
    for (int t : {dao::dbByte, dao::dbSingle, dao::dbDouble, dao::dbNumeric, dao::dbDecimal, dao::dbFloat}) {
        EXPECT_TRUE(dao::isNumberField(t));
        EXPECT_FALSE(dao::isNumericField(t));
    }
    for (int t : {int(dao::dbBoolean), int(dao::dbDate), int(dao::dbText), int(dao::dbMemo), int(dao::dbBinary), int(dao::dbGUID), 17})
        EXPECT_FALSE(dao::isNumberField(t));
}

TEST(FieldTypes, StoredDatesReadAsTheirDayNumbersAcrossTheCalendar) {
    for (const QDate d : {QDate(100, 1, 1), QDate(1600, 2, 29), QDate(1899, 12, 29), QDate(1899, 12, 30),
                          QDate(1900, 2, 28), QDate(1900, 3, 1), QDate(2000, 2, 29), QDate(2024, 12, 31),
                          QDate(9999, 12, 31)}) {
        double day = 0;
        ASSERT_TRUE(dao::parseStoredDate(d.toString("yyyy-MM-dd") + " 12:00:00", &day)) << d.toString().toStdString();
        EXPECT_EQ(day, dao::Variant::dayNumberFromDateTime(QDateTime(d, QTime(12, 0), Qt::UTC))) << d.toString().toStdString();
    }
    double day = 0;
    EXPECT_FALSE(dao::parseStoredDate(QString("1900-02-29"), &day));
    EXPECT_FALSE(dao::parseStoredDate(QString("2023-13-01"), &day));
}
