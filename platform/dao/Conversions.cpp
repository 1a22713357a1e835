#include "Conversions.h"

#include "FieldTypes.h"

#include <QDate>
#include <QList>
#include <QTime>
#include <QRegularExpression>
#include <QUuid>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "Error.h"

namespace dao {

namespace {

using Int128 = __int128;

// Day numbers of 0100-01-01 and 9999-12-31, the range of the date type.
constexpr double kMinDay = -657434.0;
constexpr double kMaxDay = 2958465.0;
// Decimal magnitude limit: 96 bits of mantissa, at most 28 decimals.
const Int128 kDecimalLimit = Int128(1) << 96;
constexpr int kDecimalMaxScale = 28;

// An exact decimal number: (-1)^neg * digits * 10^exp. digits has no leading zeros; "" is zero.
struct Dec {
    bool neg = false;
    std::string digits;
    int exp = 0;

    bool isZero() const { return digits.empty(); }
};

Dec normalized(Dec d) {
    const size_t first = d.digits.find_first_not_of('0');
    d.digits.erase(0, first == std::string::npos ? d.digits.size() : first);
    if (d.digits.empty()) return Dec{};
    const size_t last = d.digits.find_last_not_of('0');
    d.exp += int(d.digits.size() - 1 - last);
    d.digits.erase(last + 1);
    return d;
}

// Rounds to the given number of decimals, half to even or half away from zero.
Dec roundDec(Dec d, int decimals, bool halfEven) {
    d = normalized(d);
    if (d.isZero() || d.exp >= -decimals) return d;
    const int drop = -decimals - d.exp;  // digits to remove from the right
    const int keepLen = int(d.digits.size()) - drop;
    std::string kept = keepLen > 0 ? d.digits.substr(0, keepLen) : std::string();
    const std::string rest = keepLen > 0 ? d.digits.substr(keepLen) : std::string(-keepLen, '0') + d.digits;
    bool up = false;
    if (rest[0] > '5') {
        up = true;
    } else if (rest[0] == '5') {
        const bool exactHalf = rest.find_first_not_of('0', 1) == std::string::npos;
        const bool lastOdd = !kept.empty() && (kept.back() - '0') % 2 == 1;
        up = !exactHalf || !halfEven || lastOdd;
    }
    if (up) {
        int i = int(kept.size()) - 1;
        while (i >= 0 && kept[i] == '9') kept[i--] = '0';
        if (i >= 0)
            ++kept[i];
        else
            kept.insert(kept.begin(), '1');
    }
    return normalized(Dec{d.neg, kept, -decimals});
}

// Decimal digits of a double: shortest round-trip form (sig == 0) or rounded to sig significant digits.
Dec decFromDouble(double v, int sig = 0) {
    char buf[64];
    const auto res = sig > 0 ? std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, sig - 1)
                             : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    const std::string s(buf, res.ptr);
    Dec d;
    size_t i = 0;
    if (s[i] == '-') {
        d.neg = true;
        ++i;
    }
    int fracDigits = 0;
    bool inFrac = false;
    for (; i < s.size() && s[i] != 'e'; ++i) {
        if (s[i] == '.') {
            inFrac = true;
        } else {
            d.digits += s[i];
            if (inFrac) ++fracDigits;
        }
    }
    d.exp = std::stoi(s.substr(i + 1)) - fracDigits;
    return normalized(d);
}

// Correctly rounded double of an exact decimal; ±infinity beyond the double range.
double decToDouble(const Dec& d) {
    if (d.isZero()) return 0.0;
    const std::string s = d.digits + "e" + std::to_string(d.exp);
    double v = 0.0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        // Decide overflow vs underflow by magnitude.
        v = (d.exp + int(d.digits.size()) > 0) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return d.neg ? -v : v;
}

// The value scaled by 10^scale as a 128-bit integer (the value must already have at most `scale` decimals);
// false when it does not fit under `limit`.
bool decToScaled(const Dec& d, int scale, Int128 limit, Int128* out) {
    if (d.isZero()) {
        *out = 0;
        return true;
    }
    const int shift = d.exp + scale;
    if (shift < 0 || int(d.digits.size()) + shift > 38) return false;
    Int128 m = 0;
    for (char c : d.digits) m = m * 10 + (c - '0');
    for (int i = 0; i < shift; ++i) m *= 10;
    if (m >= limit) return false;
    *out = d.neg ? -m : m;
    return true;
}

Dec decFromScaled(Int128 m, int scale) {
    Dec d;
    d.neg = m < 0;
    unsigned __int128 u = d.neg ? (unsigned __int128)(-(m + 1)) + 1 : (unsigned __int128)m;
    while (u > 0) {
        d.digits.insert(d.digits.begin(), char('0' + int(u % 10)));
        u /= 10;
    }
    d.exp = -scale;
    return normalized(d);
}

// Plain text of an exact decimal: "-12.345", "0.5", "0"; `point` as the decimal separator.
QString decText(const Dec& d, const QString& point) {
    if (d.isZero()) return QStringLiteral("0");
    std::string s;
    if (d.exp >= 0) {
        s = d.digits + std::string(d.exp, '0');
    } else {
        const int intLen = int(d.digits.size()) + d.exp;
        const std::string intPart = intLen > 0 ? d.digits.substr(0, intLen) : "0";
        const std::string frac = intLen > 0 ? d.digits.substr(intLen) : std::string(-intLen, '0') + d.digits;
        return QString::fromLatin1((d.neg ? "-" : "") + intPart) + point + QString::fromLatin1(frac);
    }
    return QString::fromLatin1((d.neg ? "-" : "") + s);
}

// Decimal exponent of the first digit (1.5e20 -> 20); the value must not be zero.
int leadExponent(const Dec& d) {
    return d.exp + int(d.digits.size()) - 1;
}

// Fixed notation when the leading exponent lies in [lo, hi), else "1.5E+20" / "1E-05".
QString numberText(const Dec& d, int lo, int hi, const QString& point) {
    if (d.isZero()) return QStringLiteral("0");
    const int e = leadExponent(d);
    if (e >= lo && e < hi) return decText(d, point);
    QString m = QString::fromLatin1(d.digits.substr(0, 1));
    if (d.digits.size() > 1) m += point + QString::fromLatin1(d.digits.substr(1));
    return (d.neg ? QStringLiteral("-") : QString()) + m +
           (e < 0 ? QStringLiteral("E-") : QStringLiteral("E+")) +
           QStringLiteral("%1").arg(std::abs(e), 2, 10, QLatin1Char('0'));
}

QString infinityText(double v) {
    return v < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
}

// Reads a number typed in the locale's form: blanks around it, a sign, digits with group separators
// anywhere in the whole part (unless `grouping` is false), the decimal separator, an E exponent.
// Nothing else may follow.
bool parseLocaleNumber(const QString& text, Dec* out, bool grouping = true) {
    const QLocale loc;
    const QString s = text.trimmed();
    const QString point = loc.decimalPoint();
    QString group = loc.groupSeparator();
    Dec d;
    int i = 0;
    auto at = [&](const QString& token) { return !token.isEmpty() && s.mid(i, token.size()) == token; };
    if (i < s.size() && (s[i] == '-' || at(loc.negativeSign()))) {
        d.neg = true;
        i += s[i] == '-' ? 1 : int(loc.negativeSign().size());
    } else if (i < s.size() && (s[i] == '+' || at(loc.positiveSign()))) {
        i += s[i] == '+' ? 1 : int(loc.positiveSign().size());
    }
    bool anyDigit = false;
    // A group separator that is a kind of space also accepts a plain blank.
    const bool spaceGroup = group.size() == 1 && group[0].isSpace();
    while (i < s.size()) {
        if (s[i].isDigit() && s[i].unicode() < 128) {
            d.digits += char(s[i].toLatin1());
            anyDigit = true;
            ++i;
        } else if (grouping && anyDigit && (at(group) || (spaceGroup && s[i] == ' '))) {
            i += at(group) ? int(group.size()) : 1;
        } else {
            break;
        }
    }
    if (at(point)) {
        i += int(point.size());
        while (i < s.size() && s[i].isDigit() && s[i].unicode() < 128) {
            d.digits += char(s[i].toLatin1());
            --d.exp;
            anyDigit = true;
            ++i;
        }
    }
    if (!anyDigit) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool eneg = false;
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) eneg = s[i++] == '-';
        if (i >= s.size() || !s[i].isDigit()) return false;
        long e = 0;
        while (i < s.size() && s[i].isDigit() && s[i].unicode() < 128) {
            e = std::min(e * 10 + (s[i].toLatin1() - '0'), 100000L);
            ++i;
        }
        d.exp += int(eneg ? -e : e);
    }
    if (i != s.size()) return false;
    *out = normalized(d);
    return true;
}

QString removeFormatTokens(const QString& fmt, QChar token, const QString& replacement) {
    // Replaces every unquoted run of `token` by `replacement`; quoted literals ('...') are kept.
    QString out;
    bool quoted = false;
    for (int i = 0; i < fmt.size();) {
        if (fmt[i] == '\'') quoted = !quoted;
        if (!quoted && fmt[i] == token) {
            int j = i;
            while (j < fmt.size() && fmt[j] == token) ++j;
            out += replacement;
            i = j;
        } else {
            out += fmt[i++];
        }
    }
    return out;
}

bool isCLocale() {
    return QLocale().language() == QLocale::C;
}

// A date typed in the locale's short date form, optionally with the time.
bool parseLocaleDate(const QString& text, double* day) {
    const QLocale loc;
    const QString s = text.trimmed();
    const QString df = shortDateFormat();
    QDate date = loc.toDate(s, df);
    QTime time(0, 0);
    // With a time: the date and the time are read apart (no time zone is involved).
    for (int k = int(s.indexOf(' ')); !date.isValid() && k > 0; k = int(s.indexOf(' ', k + 1))) {
        date = loc.toDate(s.left(k), df);
        time = loc.toTime(s.mid(k + 1).trimmed(), timeFormat());
        if (!time.isValid()) time = loc.toTime(s.mid(k + 1).trimmed(), loc.timeFormat(QLocale::ShortFormat));
        if (!time.isValid()) date = QDate();
    }
    if (!date.isValid() || date.year() < 100 || date.year() > 9999) return false;
    *day = Variant::dayNumberFromDateTime(QDateTime(date, time, Qt::UTC));
    return true;
}

// ISO "yyyy-MM-dd", with " HH:mm[:ss]" or "THH:mm[:ss]"; then the locale's short date form.
bool parseAnyDate(const QString& text, double* day) {
    const QString s = text.trimmed();
    if (parseStoredDate(s, day)) return true;
    return parseLocaleDate(s, day);
}

// Canonical decimal digits ("-12.345"): always '.', no grouping; an exponent as SQLite writes a
// floating value ("1.0e+20", "2.5E-07") is read too.
Dec parseCanonical(const QString& text) {
    Dec d;
    bool frac = false;
    int i = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (i == 0 && (c == '-' || c == '+')) {
            d.neg = c == '-';
        } else if (c == '.' && !frac) {
            frac = true;
        } else if (c >= '0' && c <= '9') {
            d.digits += char(c.unicode());
            if (frac) --d.exp;
        } else {
            break;
        }
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        int j = i + 1;
        bool eneg = false;
        if (j < text.size() && (text[j] == '-' || text[j] == '+')) eneg = text[j++] == '-';
        long e = 0;
        bool any = false;
        for (; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j) {
            e = std::min(e * 10 + (text[j].unicode() - '0'), 100000L);
            any = true;
        }
        if (any) d.exp += int(eneg ? -e : e);
    }
    return normalized(d);
}

// The exact decimal value of a numeric variant; floating values (and dates' day numbers) as they
// display: Single with 7, Double with 15 significant digits.
Dec decOf(const Variant& v) {
    switch (v.type()) {
        case Variant::Type::Boolean:
        case Variant::Type::Byte:
        case Variant::Type::Integer:
        case Variant::Type::Long:
        case Variant::Type::BigInt:
            return decFromScaled(v.asInt(), 0);
        case Variant::Type::Currency:
            return decFromScaled(v.asCurrency(), 4);
        case Variant::Type::Decimal:
            return parseCanonical(v.asString());
        case Variant::Type::Single:
            return decFromDouble(v.asDouble(), 7);
        default:
            return decFromDouble(v.asDouble(), 15);
    }
}

Variant currencyFromDec(const Dec& d) {
    Int128 m = 0;
    if (!decToScaled(roundDec(d, 4, true), 4, Int128(std::numeric_limits<int64_t>::max()) + 1, &m))
        raise(err::Overflow);
    return Variant::fromCurrency(int64_t(m));
}

// A Large Number from an exact decimal, rounded half to even as the other whole-number types.
Variant bigIntFromDec(const Dec& d) {
    Int128 m = 0;
    if (!decToScaled(roundDec(d, 0, true), 0, Int128(std::numeric_limits<int64_t>::max()) + 2, &m) ||
        m > Int128(std::numeric_limits<int64_t>::max()) || m < Int128(std::numeric_limits<int64_t>::min()))
        raise(err::Overflow);
    return Variant::fromBigInt(int64_t(m));
}

// A Decimal keeps at most 28 decimals and a 96-bit mantissa; excess decimals are rounded away
// (half to even) before the whole part overflows.
Variant decimalFromDec(const Dec& d) {
    Int128 m = 0;
    for (int scale = std::min(kDecimalMaxScale, std::max(0, -d.exp));; --scale) {
        const Dec r = roundDec(d, scale, true);
        if (decToScaled(r, scale, kDecimalLimit, &m))
            return Variant::fromDecimal(decText(r, QStringLiteral(".")));
        if (scale == 0) raise(err::Overflow);
    }
}

// Whole number in [lo, hi] from a double, rounded half to even as the classic integer conversions do.
int64_t roundedInRange(double x, int64_t lo, int64_t hi) {
    if (std::isnan(x)) raise(err::Overflow);
    const double r = std::nearbyint(x);
    if (r < double(lo) || r > double(hi)) raise(err::Overflow);
    return int64_t(r);
}

double checkedDouble(double x) {
    if (std::isinf(x) || std::isnan(x)) raise(err::Overflow);
    return x;
}

// A variant as an operand of the addition: Boolean counts as Integer, strings as Double.
Variant additionOperand(const Variant& v) {
    switch (v.type()) {
        case Variant::Type::Boolean:
            return Variant::fromInteger(v.asBool() ? -1 : 0);
        case Variant::Type::String: {
            Dec d;
            if (!parseLocaleNumber(v.asString(), &d)) raise(err::TypeMismatch);
            return Variant::fromDouble(checkedDouble(decToDouble(d)));
        }
        case Variant::Type::Binary:
            raise(err::TypeMismatch);
        default:
            return v;
    }
}

int rankOf(Variant::Type t) {
    switch (t) {
        case Variant::Type::Byte:
            return 1;
        case Variant::Type::Integer:
            return 2;
        case Variant::Type::Long:
            return 3;
        case Variant::Type::BigInt:
            return 4;
        case Variant::Type::Single:
            return 5;
        case Variant::Type::Double:
            return 6;
        case Variant::Type::Currency:
            return 7;
        case Variant::Type::Decimal:
            return 8;
        default:
            return 0;
    }
}

Variant addIntegral(int64_t sum, Variant::Type t) {
    if (t == Variant::Type::BigInt) return Variant::fromBigInt(sum);
    if (t == Variant::Type::Byte && sum >= 0 && sum <= 255) return Variant::fromByte(uint8_t(sum));
    if (t != Variant::Type::Long && sum >= INT16_MIN && sum <= INT16_MAX)
        return Variant::fromInteger(int16_t(sum));
    if (sum >= INT32_MIN && sum <= INT32_MAX) return Variant::fromLong(int32_t(sum));
    return Variant::fromDouble(double(sum));
}

// Parses a pattern into digit placeholders and literals: '\x' and "..." are literal.
struct PatternItem {
    QChar ch;
    bool literal;
};

QList<PatternItem> parsePattern(const QString& pattern, const QString& placeholders) {
    QList<PatternItem> items;
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            items.append({pattern[++i], true});
        } else if (c == '"') {
            while (++i < pattern.size() && pattern[i] != '"') items.append({pattern[i], true});
        } else {
            items.append({c, !placeholders.contains(c)});
        }
    }
    return items;
}

}  // namespace

double leadingNumber(const QString& text) {
    std::string s;
    for (QChar c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        s += c.unicode() < 128 ? char(c.unicode()) : '\x7f';  // non-ASCII ends the number
    }
    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
        double v = 0;
        for (size_t i = 2; i < s.size(); ++i) {
            int digit = -1;
            const char c = s[i];
            if (c >= '0' && c <= '9') digit = c - '0';
            if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0 || digit >= base) break;
            v = v * base + digit;
        }
        return v;
    }
    Dec d;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.neg = s[i++] == '-';
    for (; i < s.size() && std::isdigit((unsigned char)s[i]); ++i) d.digits += s[i];
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && std::isdigit((unsigned char)s[i]); ++i) {
            d.digits += s[i];
            --d.exp;
        }
    }
    if (!d.digits.empty() && i < s.size() && std::string("eEdD").find(s[i]) != std::string::npos) {
        size_t j = i + 1;
        bool eneg = false;
        if (j < s.size() && (s[j] == '-' || s[j] == '+')) eneg = s[j++] == '-';
        long e = 0;
        bool any = false;
        for (; j < s.size() && std::isdigit((unsigned char)s[j]); ++j) {
            e = std::min(e * 10 + (s[j] - '0'), 100000L);
            any = true;
        }
        if (any) d.exp += int(eneg ? -e : e);
    }
    d = normalized(d);
    return decToDouble(d);
}

std::optional<double> localeNumber(const QString& text) {
    Dec d;
    if (!parseLocaleNumber(text, &d)) return std::nullopt;
    return decToDouble(d);
}

double typedNumber(const QString& text) {
    Dec d;
    if (parseLocaleNumber(text, &d, false)) return decToDouble(d);
    return leadingNumber(text);
}

double numberOf(const Variant& v) {
    switch (v.type()) {
        case Variant::Type::Null:
            raise(err::InvalidUseOfNull);
        case Variant::Type::Empty:
            return 0.0;
        case Variant::Type::String:
            return leadingNumber(v.asString());
        case Variant::Type::Binary:
            raise(err::TypeMismatch);
        case Variant::Type::Decimal:
            return decToDouble(parseCanonical(v.asString()));
        default:
            return v.asDouble();
    }
}

QString shortDateFormat() {
    if (isCLocale()) return QStringLiteral("yyyy-MM-dd");
    return removeFormatTokens(QLocale().dateFormat(QLocale::ShortFormat), 'y', QStringLiteral("yyyy"));
}

QString timeFormat() {
    if (isCLocale()) return QStringLiteral("HH:mm:ss");
    // The long form has seconds; its time zone part is dropped with the brackets and blank around it
    // ("H:mm:ss (t)" is "H:mm:ss").
    static const QChar zone(0x1);
    QString f = removeFormatTokens(QLocale().timeFormat(QLocale::LongFormat), 't', QString(zone));
    static const QRegularExpression bracketed(QStringLiteral("\\s*[(\\[\\x{FF08}]?\\x{1}[)\\]\\x{FF09}]?"));
    f.remove(bracketed);
    return f.trimmed();
}

QString shortestNumberText(double d, QChar decimalPoint) {
    if (std::isinf(d) || std::isnan(d)) return infinityText(d);
    return numberText(decFromDouble(d, 0), -7, 21, QString(decimalPoint));
}

Variant wholeNumber(int64_t v) {
    if (v >= INT32_MIN && v <= INT32_MAX) return Variant::fromLong(int32_t(v));
    return Variant::fromDecimal(QString::number(v));
}

QString valueToText(const Variant& v) {
    const QLocale loc;
    const QString point = loc.decimalPoint();
    switch (v.type()) {
        case Variant::Type::Empty:
            return QString();
        case Variant::Type::Null:
            raise(err::InvalidUseOfNull);
        case Variant::Type::Boolean:
            return v.asBool() ? QStringLiteral("True") : QStringLiteral("False");
        case Variant::Type::Byte:
        case Variant::Type::Integer:
        case Variant::Type::Long:
        case Variant::Type::BigInt:
            return QString::number(v.asInt());
        case Variant::Type::Currency:
        case Variant::Type::Decimal:
            return decText(decOf(v), point);
        case Variant::Type::Single: {
            const double x = v.asDouble();
            if (std::isinf(x) || std::isnan(x)) return infinityText(x);
            return numberText(decFromDouble(x, 7), -4, 7, point);
        }
        case Variant::Type::Double: {
            const double x = v.asDouble();
            if (std::isinf(x) || std::isnan(x)) return infinityText(x);
            return numberText(decFromDouble(x, 15), -4, 15, point);
        }
        case Variant::Type::Date: {
            const QDateTime dt = v.toDateTime();
            QString s = loc.toString(dt.date(), shortDateFormat());
            if (dt.time() != QTime(0, 0)) s += ' ' + loc.toString(dt.time(), timeFormat());
            return s;
        }
        case Variant::Type::String:
            return v.asString();
        case Variant::Type::Binary:
            return QStringLiteral("(binary %1 bytes)").arg(v.asBinary().size());
    }
    return QString();
}

std::optional<bool> fieldEqualsText(const Variant& value, const QString& text) {
    if (value.isNull()) return std::nullopt;
    return valueToText(value) == text;
}

Variant variantAdd(const Variant& a0, const Variant& b0) {
    if (a0.isNull() || b0.isNull()) return Variant::null();
    if (a0.isEmpty() && b0.isEmpty()) return Variant::fromInteger(0);
    const Variant a = additionOperand(a0);
    const Variant b = additionOperand(b0);
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    using T = Variant::Type;
    if (a.type() == T::Date || b.type() == T::Date) {
        const double sum = a.asDouble() + b.asDouble();
        if (sum < kMinDay || sum >= kMaxDay + 1) return Variant::fromDouble(checkedDouble(sum));
        return Variant::fromDate(sum);
    }
    const T t = rankOf(a.type()) >= rankOf(b.type()) ? a.type() : b.type();
    switch (t) {
        case T::Decimal: {
            // Exact sum over a common scale.
            const Dec da = decOf(a), db = decOf(b);
            Int128 ma = 0, mb = 0;
            for (int scale = std::min(kDecimalMaxScale, std::max({0, -da.exp, -db.exp}));; --scale) {
                if (decToScaled(roundDec(da, scale, true), scale, kDecimalLimit, &ma) &&
                    decToScaled(roundDec(db, scale, true), scale, kDecimalLimit, &mb))
                    return decimalFromDec(decFromScaled(ma + mb, scale));
                if (scale == 0) raise(err::Overflow);
            }
        }
        case T::Currency: {
            const Variant ca = currencyFromDec(decOf(a)), cb = currencyFromDec(decOf(b));
            int64_t sum = 0;
            if (__builtin_add_overflow(ca.asCurrency(), cb.asCurrency(), &sum)) raise(err::Overflow);
            return Variant::fromCurrency(sum);
        }
        case T::Double:
            return Variant::fromDouble(checkedDouble(a.asDouble() + b.asDouble()));
        case T::Single: {
            const double sum = a.asDouble() + b.asDouble();
            // Single and Long make a Double; a Single sum beyond its range too.
            if (a.type() == T::Long || b.type() == T::Long || a.type() == T::BigInt || b.type() == T::BigInt ||
                std::fabs(sum) > std::numeric_limits<float>::max())
                return Variant::fromDouble(checkedDouble(sum));
            return Variant::fromSingle(float(sum));
        }
        default: {
            int64_t sum = 0;
            if (__builtin_add_overflow(a.asInt(), b.asInt(), &sum)) raise(err::Overflow);
            return addIntegral(sum, t);
        }
    }
}

QString formatNumber(double value, const QString& pattern) {
    const QLocale loc;
    const QList<PatternItem> items = parsePattern(pattern, QStringLiteral("#0,."));
    QString prefix, suffix;
    int intPlaces = 0, intZeros = 0, decPlaces = 0, decMin = 0;
    bool grouping = false, hasPoint = false, seenPlaceholder = false;
    for (const PatternItem& it : items) {
        if (it.literal) {
            (seenPlaceholder ? suffix : prefix) += it.ch;
            continue;
        }
        seenPlaceholder = true;
        if (it.ch == '.') {
            hasPoint = true;
        } else if (it.ch == ',') {
            if (!hasPoint) grouping = true;
        } else if (hasPoint) {
            ++decPlaces;
            if (it.ch == '0') decMin = decPlaces;
        } else {
            ++intPlaces;
            // A '0' forces a digit at its place and at every place to its right.
            if (it.ch == '0' || intZeros > 0) ++intZeros;
        }
    }
    if (std::isinf(value) || std::isnan(value)) return prefix + infinityText(value) + suffix;
    const Dec d = roundDec(decFromDouble(value, 0), decPlaces, false);
    // Split the rounded value into whole and fraction digits.
    std::string whole, frac;
    if (!d.isZero()) {
        const int intLen = int(d.digits.size()) + d.exp;
        if (d.exp >= 0) {
            whole = d.digits + std::string(d.exp, '0');
        } else {
            whole = intLen > 0 ? d.digits.substr(0, intLen) : "";
            frac = intLen > 0 ? d.digits.substr(intLen) : std::string(-intLen, '0') + d.digits;
        }
    }
    frac.resize(std::max<size_t>(frac.size(), decMin), '0');  // frac has at most decPlaces digits
    if (int(whole.size()) < intZeros) whole.insert(0, intZeros - whole.size(), '0');
    QString number;
    const QString group = loc.groupSeparator();
    for (int i = 0; i < int(whole.size()); ++i) {
        if (grouping && i > 0 && (whole.size() - i) % 3 == 0) number += group;
        number += QLatin1Char(whole[i]);
    }
    if (hasPoint) number += loc.decimalPoint() + QString::fromLatin1(frac);
    return (d.neg ? QStringLiteral("-") : QString()) + prefix + number + suffix;
}

QString formatWithMask(const QString& value, const QString& pattern) {
    if (pattern.isEmpty()) return value;
    QString digits;
    for (QChar c : value)
        if (c.isDigit()) digits += c;
    if (digits.isEmpty()) return value;
    const QList<PatternItem> items = parsePattern(pattern, QStringLiteral("#09"));
    int firstPlaceholder = -1;
    for (int i = 0; i < items.size() && firstPlaceholder < 0; ++i)
        if (!items[i].literal) firstPlaceholder = i;
    if (firstPlaceholder < 0) return pattern;
    QString out;
    int next = int(digits.size()) - 1;  // fill from the right
    for (int i = int(items.size()) - 1; i >= 0; --i) {
        const PatternItem& it = items[i];
        if (it.literal) {
            out.prepend(it.ch);
        } else if (i == firstPlaceholder) {
            // The leftmost placeholder takes every digit that is left.
            if (next >= 0)
                out.prepend(digits.left(next + 1));
            else if (it.ch == '0')
                out.prepend(QLatin1Char('0'));
            next = -1;
        } else if (next >= 0) {
            out.prepend(digits[next--]);
        } else if (it.ch == '0') {
            out.prepend(QLatin1Char('0'));
        }
    }
    return out;
}

Variant convertForType(const QString& text, int typeCode) {
    switch (typeCode) {
        case dbInteger:
        case dbLong:
        case dbBigInt:
        case dbCurrency:
        case dbDecimal:
        case dbFloat: {
            Dec d;
            if (!parseLocaleNumber(text, &d)) raise(err::TypeMismatch);
            if (typeCode == dbCurrency) return currencyFromDec(d);
            if (typeCode == dbDecimal) return decimalFromDec(d);
            if (typeCode == dbBigInt) return bigIntFromDec(d);
            const double x = checkedDouble(decToDouble(d));
            if (typeCode == dbFloat) return Variant::fromDouble(x);
            if (typeCode == dbInteger) return Variant::fromInteger(int16_t(roundedInRange(x, INT16_MIN, INT16_MAX)));
            return Variant::fromLong(int32_t(roundedInRange(x, INT32_MIN, INT32_MAX)));
        }
        case dbDate: {
            double day = 0;
            if (!parseLocaleDate(text, &day)) raise(err::TypeMismatch);
            return Variant::fromDate(day);
        }
        case dbNumeric: {
            // The locale's form when the whole text is one (a comma locale's fraction), otherwise
            // the leading number.
            if (text.trimmed().isEmpty()) raise(err::TypeMismatch);
            Dec d;
            return Variant::fromDouble(checkedDouble(parseLocaleNumber(text, &d) ? decToDouble(d) : leadingNumber(text)));
        }
        default:
            return Variant::fromString(text);
    }
}

Variant coerceToFieldType(const Variant& v, int typeCode) {
    using T = Variant::Type;
    if (v.isNull() || v.isEmpty()) return Variant::null();
    const bool isText = v.type() == T::String;
    const bool isBinary = v.type() == T::Binary;
    // The value as an exact decimal; text must be a number in the locale's form.
    auto number = [&]() -> Dec {
        if (isBinary) raise(err::ConversionError);
        if (isText) {
            Dec d;
            if (!parseLocaleNumber(v.asString(), &d)) raise(err::ConversionError);
            return d;
        }
        return decOf(v);
    };
    auto asDouble = [&]() {
        return checkedDouble(isText || isBinary ? decToDouble(number()) : v.asDouble());
    };
    switch (typeCode) {
        case dbBoolean: {
            if (isText) {
                const QString s = v.asString().trimmed();
                for (const char* t : {"True", "Yes", "On"})
                    if (s.compare(QLatin1String(t), Qt::CaseInsensitive) == 0) return Variant::fromBool(true);
                for (const char* f : {"False", "No", "Off"})
                    if (s.compare(QLatin1String(f), Qt::CaseInsensitive) == 0)
                        return Variant::fromBool(false);
            }
            return Variant::fromBool(!number().isZero());
        }
        case dbByte:
            return Variant::fromByte(uint8_t(roundedInRange(asDouble(), 0, 255)));
        case dbInteger:
            return Variant::fromInteger(int16_t(roundedInRange(asDouble(), INT16_MIN, INT16_MAX)));
        case dbLong: {
            if (v.type() != T::Decimal && !isText)
                if (const double x = asDouble(); x >= INT32_MIN - 0.5 && x <= INT32_MAX + 0.5)
                    return Variant::fromLong(int32_t(roundedInRange(x, INT32_MIN, INT32_MAX)));
            // SQLite's integer columns hold 64 bits: a whole number past Long's 32 keeps its exact
            // digits (a Jet file's Long field refuses it when the record is written).
            Int128 m = 0;
            if (!decToScaled(roundDec(number(), 0, true), 0, Int128(1) << 64, &m) ||
                m > Int128(std::numeric_limits<int64_t>::max()) || m < Int128(std::numeric_limits<int64_t>::min()))
                raise(err::Overflow);
            return wholeNumber(int64_t(m));
        }
        case dbBigInt:
            return bigIntFromDec(number());
        case dbCurrency:
            return currencyFromDec(number());
        case dbSingle: {
            const double x = asDouble();
            if (std::fabs(x) > std::numeric_limits<float>::max()) raise(err::Overflow);
            return Variant::fromSingle(float(x));
        }
        case dbDouble:
        case dbNumeric:
        case dbFloat:
            return Variant::fromDouble(asDouble());
        case dbDate: {
            double day = 0;
            if (isText) {
                if (!parseAnyDate(v.asString(), &day)) raise(err::ConversionError);
            } else {
                day = asDouble();
            }
            if (day < kMinDay || day >= kMaxDay + 1) raise(err::Overflow);
            return Variant::fromDate(day);
        }
        case dbBinary:
        case dbLongBinary:
            if (isBinary) return v;
            return Variant::fromBinary(valueToText(v).toUtf8());
        case dbText:
        case dbMemo:
            if (isBinary) return Variant::fromString(QString::fromUtf8(v.asBinary()));
            return Variant::fromString(valueToText(v));
        case dbGUID: {
            if (!isText) raise(err::ConversionError);
            const QString text = v.asString().trimmed();
            const QUuid id = QUuid::fromString(text);
            // A null QUuid is also what unreadable text gives; the all-zero GUID itself is a value.
            static const QRegularExpression zero(QStringLiteral("^(\\{0{8}-0{4}-0{4}-0{4}-0{12}\\}|0{8}-0{4}-0{4}-0{4}-0{12})$"));
            if (id.isNull() && !zero.match(text).hasMatch()) raise(err::ConversionError);
            return Variant::fromString(id.toString(QUuid::WithBraces).toUpper());
        }
        case dbDecimal:
            return decimalFromDec(number());
        default:
            return v;
    }
}

}  // namespace dao
