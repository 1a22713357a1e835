#include "FieldTypes.h"

#include <QDate>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Variant.h"

namespace dao {

QString fieldTypeName(int type) {
    switch (type) {
        case dbBoolean: return QStringLiteral("Yes/No");
        case dbByte: return QStringLiteral("Byte");
        case dbInteger: return QStringLiteral("Integer");
        case dbLong: return QStringLiteral("Long");
        case dbCurrency: return QStringLiteral("Currency");
        case dbSingle: return QStringLiteral("Single");
        case dbDouble: return QStringLiteral("Double");
        case dbDate: return QStringLiteral("Date/Time");
        case dbBinary: return QStringLiteral("Binary");
        case dbText: return QStringLiteral("Text");
        case dbLongBinary: return QStringLiteral("OLE Object");
        case dbMemo: return QStringLiteral("Memo");
        case dbGUID: return QStringLiteral("GUID");
        case dbNumeric: return QStringLiteral("Numeric");
        case dbDecimal: return QStringLiteral("Decimal");
        case dbFloat: return QStringLiteral("Float");
        default: return QString::number(type);
    }
}

bool isNumberField(int type) {
    switch (type) {
        case dbByte:
        case dbInteger:
        case dbLong:
        case dbBigInt:
        case dbCurrency:
        case dbSingle:
        case dbDouble:
        case dbNumeric:
        case dbDecimal:
        case dbFloat: return true;
        default: return false;
    }
}

QString storedDateText(int year, int month, int day, int hour, int minute, int second) {
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
}

QString storedDateText(double dayNumber) {
    char text[kStoredDateChars];
    return QString::fromLatin1(text, storedDateChars(dayNumber, text));
}

int storedDateChars(double dayNumber, char (&out)[kStoredDateChars]) {
    // Years 100 to 9999, the engine's date range, by plain arithmetic; any other year through the
    // calendar classes, which know every year. Both round by splitDayNumber.
    long long year = 0;
    int month = 0, day = 0;
    long long seconds = 0;
    if (dayNumber > -657435.0 && dayNumber < 2958466.0) {
        const DayAndTime t = splitDayNumber(dayNumber);
        seconds = t.seconds;
        civilFromDayNumber(t.day, year, month, day);
    }
    if (year < 100 || year > 9999) {
        const QDateTime dt = Variant::dateTimeFromDayNumber(dayNumber);
        const QDate d = dt.date();
        const QTime t = dt.time();
        const int n = std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(), d.day(),
                                    t.hour(), t.minute(), t.second());
        return std::clamp(n, 0, kStoredDateChars - 1);
    }
    const int parts[6] = {int(year), month, day, int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60)};
    char* o = out;
    *o++ = char('0' + parts[0] / 1000);
    *o++ = char('0' + parts[0] / 100 % 10);
    *o++ = char('0' + parts[0] / 10 % 10);
    *o++ = char('0' + parts[0] % 10);
    static constexpr char kSeparators[] = "?-- ::";  // before each part after the year
    for (int i = 1; i < 6; ++i) {
        *o++ = kSeparators[i];
        *o++ = char('0' + parts[i] / 10);
        *o++ = char('0' + parts[i] % 10);
    }
    *o = '\0';
    return int(o - out);
}

bool parseStoredDate(const char* s, int n, double* out) {
    auto d2 = [s](int at) {
        const unsigned a = unsigned(s[at] - '0'), b = unsigned(s[at + 1] - '0');
        return a < 10 && b < 10 ? int(a * 10 + b) : -1;
    };
    if (n < 10 || s[4] != '-' || s[7] != '-') return false;
    const int c = d2(0), yl = d2(2), mo = d2(5), d = d2(8);
    if (c < 0 || yl < 0 || mo < 0 || d < 0) return false;
    const int y = c * 100 + yl;
    int h = 0, mi = 0, se = 0;
    if (n > 10) {
        if ((s[10] != ' ' && s[10] != 'T') || n < 16 || s[13] != ':') return false;
        h = d2(11);
        mi = d2(14);
        if (h < 0 || mi < 0) return false;
        if (n > 16) {
            if (n < 19 || s[16] != ':' || (se = d2(17)) < 0) return false;
            if (n > 19) {  // a fraction of a second, dropped
                if (s[19] != '.' || n == 20) return false;
                for (int i = 20; i < n; ++i)
                    if (unsigned(s[i] - '0') >= 10u) return false;
            }
        }
    }
    // Read for every date a table shows: the calendar arithmetic is done here rather than by QDate.
    if (!isCalendarDate(y, mo, d) || h > 23 || mi > 59 || se > 59) return false;
    *out = dayNumberFromParts(dayNumberFromCivil(y, mo, d), h * 3600 + mi * 60 + se);
    return true;
}

bool isCalendarDate(long long y, int m, int d) {
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m >= 1 && m <= 12 && d >= 1 && d <= monthDays[m - 1] + (m == 2 && leap);
}

double dayNumberFromParts(long long day, double secondsOfDay) {
    const double frac = secondsOfDay / 86400.0;
    return day >= 0 ? double(day) + frac : double(day) - frac;
}

double addDays(double dayNumber, double days) {
    // On a plain time line (days since 1899-12-30 00:00, negative before it) the sum is a sum.
    const double whole = std::trunc(dayNumber);
    const double line = whole + std::fabs(dayNumber - whole) + days;
    const double day = std::floor(line);
    return dayNumberFromParts((long long)day, (line - day) * 86400.0);
}

DayAndTime splitDayNumber(double dayNumber) {
    const double whole = std::trunc(dayNumber);
    long long seconds = std::llround(std::fabs(dayNumber - whole) * 86400.0);
    long long day = (long long)whole;
    // Rounding up to midnight moves forward in time: to the next calendar day, whatever the sign.
    if (seconds >= 86400) {
        seconds -= 86400;
        ++day;
    }
    return {day, int(seconds)};
}

long long dayNumberFromCivil(long long y, int m, int d) {
    // Days from 0000-03-01 in 400-year eras, then from 1899-12-30.
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    constexpr long long k18991230 = 693899;  // the same count for 1899-12-30
    return era * 146097 + doe - k18991230;
}

void civilFromDayNumber(long long z, long long& y, int& m, int& d) {
    z += 693899;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

bool parseStoredDate(const QString& text, double* dayNumber) {
    const QByteArray u = text.trimmed().toLatin1();
    return parseStoredDate(u.constData(), int(u.size()), dayNumber);
}

int fixedSizeOf(int type) {
    switch (type) {
        case dbBoolean: return 1;
        case dbByte: return 1;
        case dbInteger: return 2;
        case dbLong: return 4;
        case dbBigInt: return 8;
        case dbCurrency: return 8;
        case dbSingle: return 4;
        case dbDouble: return 8;
        case dbDate: return 8;
        case dbGUID: return 16;
        case dbNumeric: return 8;
        case dbDecimal: return 17;
        case dbFloat: return 8;
        default: return 0;
    }
}

DeclaredType fieldTypeFromDeclared(const QString& declared) {
    static const QRegularExpression re(QStringLiteral("^\\s*([A-Za-z_][A-Za-z_ 0-9]*?)\\s*(?:\\(\\s*(\\d+)"
                                                      "\\s*(?:,\\s*\\d+\\s*)?\\))?\\s*$"));
    const QString decl = declared.trimmed().toUpper();
    if (decl.isEmpty()) return {dbMemo, 0};
    QString name = decl;
    int n = -1;
    const auto m = re.match(decl);
    if (m.hasMatch()) {
        name = m.captured(1).simplified();
        if (!m.captured(2).isEmpty()) n = m.captured(2).toInt();
    }
    auto fixed = [](int t) { return DeclaredType{t, fixedSizeOf(t)}; };
    if (name == "YESNO" || name == "BIT" || name == "BOOLEAN" || name == "BOOL" || name == "LOGICAL")
        return fixed(dbBoolean);
    if (name == "BYTE" || name == "TINYINT") return fixed(dbByte);
    if (name == "SHORT" || name == "SMALLINT") return fixed(dbInteger);
    if (name == "LONG" || name == "INT" || name == "INTEGER" || name == "COUNTER" || name == "AUTOINCREMENT")
        return fixed(dbLong);
    if (name == "BIGINT") return fixed(dbBigInt);
    if (name == "CURRENCY" || name == "MONEY") return fixed(dbCurrency);
    if (name == "SINGLE") return fixed(dbSingle);
    if (name == "DOUBLE" || name == "FLOAT" || name == "REAL" || name == "DOUBLE PRECISION") return fixed(dbDouble);
    if (name == "DATETIME" || name == "DATE" || name == "TIME" || name == "TIMESTAMP") return fixed(dbDate);
    if (name == "BINARY" || name == "VARBINARY") return {dbBinary, n > 0 ? n : 255};
    if (name == "TEXT" || name == "VARCHAR" || name == "CHAR" || name == "NVARCHAR" || name == "NCHAR" ||
        name == "CHARACTER" || name == "VARYING CHARACTER" || name == "NATIVE CHARACTER") {
        if (n > 0) return {dbText, n};
        return {dbMemo, 0};
    }
    if (name == "LONGBINARY" || name == "OLEOBJECT" || name == "BLOB") return {dbLongBinary, 0};
    if (name == "MEMO" || name == "LONGTEXT" || name == "CLOB" || name == "NOTE") return {dbMemo, 0};
    if (name == "GUID" || name == "UNIQUEIDENTIFIER") return fixed(dbGUID);
    if (name == "NUMERIC") return fixed(dbNumeric);
    if (name == "DECIMAL") return fixed(dbDecimal);
    // SQLite's affinity rules for everything else.
    if (decl.contains("INT")) return fixed(dbLong);
    if (decl.contains("CHAR") || decl.contains("CLOB") || decl.contains("TEXT")) {
        if (n > 0) return {dbText, n};
        return {dbMemo, 0};
    }
    if (decl.contains("BLOB")) return {dbLongBinary, 0};
    if (decl.contains("REAL") || decl.contains("FLOA") || decl.contains("DOUB")) return fixed(dbDouble);
    return fixed(dbNumeric);
}

QString declaredTypeFor(int type, int size) {
    switch (type) {
        case dbBoolean: return "YESNO";
        case dbByte: return "BYTE";
        case dbInteger: return "SHORT";
        case dbLong: return "LONG";
        case dbBigInt: return "BIGINT";
        case dbCurrency: return "CURRENCY";
        case dbSingle: return "SINGLE";
        case dbDouble: return "DOUBLE";
        case dbFloat: return "DOUBLE";
        case dbDate: return "DATETIME";
        case dbBinary: return QString("BINARY(%1)").arg(size > 0 ? size : 255);
        case dbText: return QString("TEXT(%1)").arg(size > 0 ? size : 255);
        case dbLongBinary: return "LONGBINARY";
        case dbGUID: return "GUID";
        case dbNumeric: return "NUMERIC";
        case dbDecimal: return "DECIMAL";
        case dbMemo:
        default: return "LONGTEXT";  // TEXT affinity: SQLite keeps "00123" as text
    }
}

}  // namespace dao
