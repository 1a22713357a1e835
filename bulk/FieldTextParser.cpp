#include "FieldTextParser.h"

#include <QDate>
#include <QLocale>

#include "platform/dao/Conversions.h"
#include "platform/dao/FieldTypes.h"

namespace bulk {

namespace {

int readDigits(const QString& s, qsizetype& pos, int exact) {
    const int most = exact ? exact : 2;
    int value = 0, n = 0;
    while (n < most && pos < s.size() && s[pos].unicode() >= '0' && s[pos].unicode() <= '9') {
        value = value * 10 + (s[pos].unicode() - '0');
        ++pos;
        ++n;
    }
    if (n == 0 || (exact && n != exact)) return -1;
    return value;
}

}  // namespace

FieldTextParser::FieldTextParser() {
    const QLocale locale;
    am_ = locale.amText();
    decimalPoint_ = locale.decimalPoint().size() == 1 ? locale.decimalPoint().at(0) : QChar();
    pm_ = locale.pmText();
    const QString date = dao::shortDateFormat();
    for (const QString& f : {date, date + QLatin1Char(' ') + dao::timeFormat()})
        if (auto p = compile(f)) localForms_.push_back(std::move(*p));
    for (const char* f : {"yyyy-MM-dd", "yyyy-MM-dd HH:mm:ss"})
        if (auto p = compile(QString::fromLatin1(f))) isoForms_.push_back(std::move(*p));
}

std::optional<FieldTextParser::Pattern> FieldTextParser::compile(const QString& format) {
    Pattern p;
    auto literal = [&](const QString& text) {
        if (!p.empty() && p.back().part == Part::Literal) p.back().literal += text;
        else p.push_back({Part::Literal, 0, text});
    };
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            const qsizetype end = format.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0) return std::nullopt;
            literal(end == i + 1 ? QStringLiteral("'") : format.mid(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == c) ++run;
        const char16_t u = c.unicode();
        const int digits = run == 1 ? 0 : int(run);
        if (u == 'd' && run <= 2) p.push_back({Part::Day, digits, {}});
        else if (u == 'M' && run <= 2) p.push_back({Part::Month, digits, {}});
        else if (u == 'y' && run == 4) p.push_back({Part::Year, 4, {}});
        else if (u == 'h' && run <= 2) p.push_back({Part::Hour12, digits, {}});
        else if (u == 'H' && run <= 2) p.push_back({Part::Hour24, digits, {}});
        else if (u == 'm' && run <= 2) p.push_back({Part::Minute, digits, {}});
        else if (u == 's' && run <= 2) p.push_back({Part::Second, digits, {}});
        else if ((u == 'A' || u == 'a') && run == 1 && i + 1 < format.size() &&
                 (format[i + 1] == QLatin1Char('P') || format[i + 1] == QLatin1Char('p'))) {
            p.push_back({Part::AmPm, 0, {}});
            i += 2;
            continue;
        } else if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z')) {
            return std::nullopt;  // month names, zones and the like: the engine reads those
        } else {
            literal(format.mid(i, run));
        }
        i += run;
    }
    return p;
}

std::optional<double> FieldTextParser::match(const Pattern& p, const QString& s) const {
    int day = -1, month = -1, year = -1, hour = 0, minute = 0, second = 0;
    int pm = -1;  // -1 no AM/PM, 0 AM, 1 PM
    bool twelve = false;
    qsizetype pos = 0;
    for (const Token& t : p) {
        int v = 0;
        switch (t.part) {
            case Part::Literal:
                if (!QStringView(s).mid(pos).startsWith(t.literal)) return std::nullopt;
                pos += t.literal.size();
                continue;
            case Part::AmPm:
                if (!am_.isEmpty() && QStringView(s).mid(pos).startsWith(am_, Qt::CaseInsensitive)) {
                    pm = 0;
                    pos += am_.size();
                } else if (!pm_.isEmpty() && QStringView(s).mid(pos).startsWith(pm_, Qt::CaseInsensitive)) {
                    pm = 1;
                    pos += pm_.size();
                } else {
                    return std::nullopt;
                }
                continue;
            default:
                v = readDigits(s, pos, t.digits);
                if (v < 0) return std::nullopt;
        }
        switch (t.part) {
            case Part::Day: day = v; break;
            case Part::Month: month = v; break;
            case Part::Year: year = v; break;
            case Part::Hour12: hour = v; twelve = true; break;
            case Part::Hour24: hour = v; break;
            case Part::Minute: minute = v; break;
            case Part::Second: second = v; break;
            default: break;
        }
    }
    if (pos != s.size()) return std::nullopt;
    if (twelve) {
        if (pm < 0 || hour < 1 || hour > 12) return std::nullopt;
        hour = hour % 12 + (pm == 1 ? 12 : 0);
    }
    if (year < 100 || !dao::isCalendarDate(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const double number =
        dao::dayNumberFromParts(dao::dayNumberFromCivil(year, month, day), hour * 3600 + minute * 60 + second);
    // The engine's date range; outside it the engine's own conversion reports the overflow.
    if (number < -657434.0 || number >= 2958466.0) return std::nullopt;
    return number;
}

std::optional<dao::Variant> FieldTextParser::parseDate(const QString& text) const {
    // The two ISO forms (what export writes under the C locale) are read straight from the
    // characters; the patterns below give the same value for them, only slower.
    if (text.size() == 10 || text.size() == 19) {
        char ascii[19];
        qsizetype i = 0;
        for (; i < text.size() && text.at(i).unicode() < 0x80; ++i) ascii[i] = char(text.at(i).unicode());
        double day;
        if (i == text.size() && (i == 10 || ascii[10] == ' ') && dao::parseStoredDate(ascii, int(i), &day)) {
            // The engine's date range, as below.
            if (day < -657434.0 || day >= 2958466.0) return std::nullopt;
            return dao::Variant::fromDate(day);
        }
    }
    for (const Pattern& p : isoForms_)
        if (const auto day = match(p, text)) return dao::Variant::fromDate(*day);
    for (const Pattern& p : localForms_) {
        if (const auto day = match(p, text)) {
            const dao::Variant v = dao::Variant::fromDate(*day);
            if (dao::valueToText(v) == text) return v;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<dao::Variant> FieldTextParser::parse(const QString& text, int fieldType) const {
    switch (fieldType) {
        case dao::dbDate:
            return parseDate(text);
        case dao::dbBoolean:
            if (text == QLatin1String("True")) return dao::Variant::fromBool(true);
            if (text == QLatin1String("False")) return dao::Variant::fromBool(false);
            return std::nullopt;
        case dao::dbByte:
        case dao::dbInteger:
        case dao::dbLong:
        case dao::dbCurrency:
            break;
        default:
            return std::nullopt;
    }
    // An optional minus, up to 14 digits, and for currency the decimal separator and up to four
    // digits; nothing else (no blanks, no grouping, no exponent).
    qsizetype i = 0;
    const bool negative = !text.isEmpty() && text[0] == QLatin1Char('-');
    if (negative) ++i;
    int64_t whole = 0;
    int digits = 0;
    for (; i < text.size() && text[i].unicode() >= '0' && text[i].unicode() <= '9'; ++i, ++digits)
        if (digits < 15) whole = whole * 10 + (text[i].unicode() - '0');  // longer ones go the slow way
    if (digits == 0 || digits > 14) return std::nullopt;
    int64_t fraction = 0;
    int decimals = 0;
    if (i < text.size()) {
        if (fieldType != dao::dbCurrency || decimalPoint_.isNull() || text[i] != decimalPoint_) return std::nullopt;
        for (++i; i < text.size() && text[i].unicode() >= '0' && text[i].unicode() <= '9'; ++i, ++decimals)
            fraction = fraction * 10 + (text[i].unicode() - '0');
        if (i != text.size() || decimals == 0 || decimals > 4) return std::nullopt;
    }
    for (int k = decimals; k < 4; ++k) fraction *= 10;
    const int64_t value = negative ? -whole : whole;
    switch (fieldType) {
        case dao::dbByte:
            if (value < 0 || value > 255) return std::nullopt;
            return dao::Variant::fromByte(uint8_t(value));
        case dao::dbInteger:
            if (value < -32768 || value > 32767) return std::nullopt;
            return dao::Variant::fromInteger(int16_t(value));
        case dao::dbLong:
            if (value < -2147483648LL || value > 2147483647LL) return std::nullopt;
            return dao::Variant::fromLong(int32_t(value));
        default: {
            const int64_t ten = whole * 10000 + fraction;
            return dao::Variant::fromCurrency(negative ? -ten : ten);
        }
    }
}

}  // namespace bulk
