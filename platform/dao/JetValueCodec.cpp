#include "JetValueCodec.h"
#include "JetCodePage.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "Error.h"
#include "FieldTypes.h"

namespace dao::jet {

namespace {

void putLe(QByteArray& out, uint64_t v, int n) {
    const qsizetype at = out.size();
    out.resize(at + n);  // one allocation per value, not one per byte
    for (int i = 0; i < n; ++i) out[at + i] = char(v >> (8 * i) & 0xff);
}

bool asNumber(const JetValue& v, double& d) {
    if (v.kind == JetValue::Int) d = double(v.i);
    else if (v.kind == JetValue::Real) d = v.d;
    else if (v.kind == JetValue::Text) {
        bool ok = false;
        d = QString::fromUtf8(v.bytes).trimmed().toDouble(&ok);
        return ok;
    } else return false;
    return true;
}

// The number's digits as text: whole numbers as they are, a double in its shortest form that reads
// back as the same double (so 1.2345 stays 1.2345, not 1.23449999...), text trimmed.
std::optional<QByteArray> exactText(const JetValue& v) {
    if (v.kind == JetValue::Int) return QByteArray::number(v.i);
    if (v.kind == JetValue::Text) return v.bytes.trimmed();
    if (v.kind != JetValue::Real || !std::isfinite(v.d)) return std::nullopt;
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, v.d, std::chars_format::fixed);
    if (r.ec != std::errc()) return std::nullopt;
    return QByteArray(buf, int(r.ptr - buf));
}

// A decimal text ("-12.345", "+7", ".5") as a count of 10^-scale, rounded half away from zero.
// False when it is no such number or has more than 38 significant digits.
bool scaledInteger(QByteArray text, int scale, bool& negative, unsigned __int128& n) {
    negative = false;
    if (text.startsWith('-') || text.startsWith('+')) {
        negative = text[0] == '-';
        text = text.mid(1);
    }
    const int dot = text.indexOf('.');
    const QByteArray whole = dot < 0 ? text : text.left(dot);
    QByteArray frac = dot < 0 ? QByteArray() : text.mid(dot + 1);
    if (whole.isEmpty() && frac.isEmpty()) return false;
    for (char ch : whole + frac)
        if (ch < '0' || ch > '9') return false;
    const bool roundUp = frac.size() > scale && frac[scale] >= '5';
    frac = frac.left(scale).leftJustified(scale, '0');
    n = 0;
    int significant = 0;
    for (char ch : whole + frac) {
        if (n || ch != '0') ++significant;
        if (significant > 38) return false;
        n = n * 10 + unsigned(ch - '0');
    }
    if (roundUp) ++n;
    return true;
}

}  // namespace

QString JetValueCodec::codePageRefusal(const ColumnDef& c, const QString& s) {
    if (!c.codePage) return {};
    if (!JetCodePage::writable(c.codePage))
        return QString("Field '%1' stores text in code page %2, which Tabulon does not write.").arg(c.name).arg(c.codePage);
    QChar bad;
    if (JetCodePage::encode(c.codePage, s, &bad)) return {};
    const QString hex = QString("U+%1").arg(bad.unicode(), 4, 16, QChar('0')).toUpper();
    const QString shown = bad.isPrint() && !bad.isSurrogate() ? QString("'%1' (%2)").arg(bad, hex) : hex;
    return QString("Field '%1' cannot hold the character %2: this Access 97 file stores text in code page %3, "
                   "which lacks it.")
        .arg(c.name, shown)
        .arg(c.codePage);
}

QByteArray JetValueCodec::encodeText(const ColumnDef& c, const QString& s) {
    if (c.codePage) return JetCodePage::encode(c.codePage, s).value_or(QByteArray());
    bool oneByte = (c.extFlags & 0x01) != 0 && s.size() > 1;
    for (QChar ch : s)
        if (ch.unicode() == 0 || ch.unicode() > 0xFF) oneByte = false;
    QByteArray out;
    if (oneByte) {
        out.reserve(s.size() + 2);
        out += char(0xFF);
        out += char(0xFE);
        for (QChar ch : s) out += char(ch.unicode());
        return out;
    }
    out.reserve(s.size() * 2);
    for (QChar ch : s) putLe(out, ch.unicode(), 2);
    return out;
}

namespace {

std::optional<QByteArray> guidBytes(const QByteArray& text) {
    QByteArray hex;
    for (char ch : text)
        if (std::isxdigit(uint8_t(ch))) hex += ch;
        else if (ch != '{' && ch != '}' && ch != '-' && ch != ' ') return std::nullopt;
    if (hex.size() != 32) return std::nullopt;
    const QByteArray b = QByteArray::fromHex(hex);
    QByteArray out(16, '\0');
    for (int i = 0; i < 16; ++i) out[kGuidTextOrder[i]] = b[i];
    return out;
}

}  // namespace

std::string decimalText(const unsigned char* p, int scale) {
    unsigned __int128 v = 0;
    for (int w = 0; w < 4; ++w) v = (v << 32) | rd32(p + 1 + 4 * w);
    std::string digits;
    do {
        digits += char('0' + int(v % 10));
        v /= 10;
    } while (v != 0);
    if (scale > 0 && int(digits.size()) <= scale) digits.append(size_t(scale + 1) - digits.size(), '0');
    std::reverse(digits.begin(), digits.end());
    if (scale > 0) {
        std::string intPart = digits.substr(0, digits.size() - size_t(scale));
        std::string frac = digits.substr(digits.size() - size_t(scale));
        while (!frac.empty() && frac.back() == '0') frac.pop_back();
        digits = frac.empty() ? intPart : intPart + "." + frac;
    }
    if ((p[0] & 0x80) && digits != "0") digits.insert(digits.begin(), '-');
    return digits;
}

bool JetValue::operator==(const JetValue& o) const {
    if (kind != o.kind) {
        // The copy may hold a whole number as a REAL or an integer as text; compare as numbers.
        if ((kind == Int || kind == Real) && (o.kind == Int || o.kind == Real))
            return (kind == Int ? double(i) : d) == (o.kind == Int ? double(o.i) : o.d);
        return false;
    }
    switch (kind) {
        case Null: return true;
        case Int: return i == o.i;
        case Real: return d == o.d || (std::isnan(d) && std::isnan(o.d));
        default: return bytes == o.bytes;
    }
}

QString JetValue::describe() const {
    switch (kind) {
        case Null: return QStringLiteral("Null");
        case Int: return QString::number(i);
        case Real: return QString::number(d, 'g', 17);
        case Text: return "'" + QString::fromUtf8(bytes) + "'";
        case Blob: return "0x" + QString::fromLatin1(bytes.toHex());
    }
    return {};
}

std::optional<double> JetValueCodec::dateFromText(const QByteArray& iso) {
    // The working copy's own form, "YYYY-MM-DD HH:MM:SS" (every date of every add passes here),
    // is read by the stored date's reader; any other text as before.
    if (double day = 0; iso.size() == 19 && parseStoredDate(iso.constData(), 19, &day)) return day;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = ' ';
    const int n = std::sscanf(iso.constData(), "%d-%d-%d%c%d:%d:%d", &y, &mo, &d, &sep, &h, &mi, &s);
    if (n != 3 && n != 7) return std::nullopt;
    if (!isCalendarDate(y, mo, d) || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return std::nullopt;
    return dayNumberFromParts(dayNumberFromCivil(y, mo, d), h * 3600 + mi * 60 + s);
}

bool JetValueCodec::formatDate(double v, char* buf) {
    if (!std::isfinite(v) || v < -657435.0 || v > 2958466.0) return false;
    const DayAndTime t = splitDayNumber(v);
    const long long secs = t.seconds;
    long long y;
    int m, d;
    civilFromDayNumber(t.day, y, m, d);
    if (y < 0 || y > 9999) return false;
    auto put = [&](int at, long long value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            buf[at + i] = char('0' + value % 10);
            value /= 10;
        }
    };
    put(0, y, 4);
    buf[4] = '-';
    put(5, m, 2);
    buf[7] = '-';
    put(8, d, 2);
    buf[10] = ' ';
    put(11, secs / 3600, 2);
    buf[13] = ':';
    put(14, (secs / 60) % 60, 2);
    buf[16] = ':';
    put(17, secs % 60, 2);
    buf[19] = '\0';
    return true;
}

std::optional<QByteArray> JetValueCodec::dateToText(double v) {
    char buf[20];
    if (!formatDate(v, buf)) return std::nullopt;
    return QByteArray(buf, 19);
}

std::optional<JetValue> JetValueCodec::decode(const ColumnDef& c, const uint8_t* row, const FieldRef& f) {
    JetValue v;
    if (c.type == ColBoolean) {
        v.kind = JetValue::Int;
        v.i = f.present ? 1 : 0;
        return v;
    }
    if (c.isLongValue() || c.type == ColComplex) return std::nullopt;
    if (!f.present) return v;
    const uint8_t* p = row + f.offset;
    auto need = [&](int n) { return f.size >= n; };
    switch (c.type) {
        case ColByte:
            if (!need(1)) return std::nullopt;
            v.kind = JetValue::Int;
            v.i = p[0];
            break;
        case ColInteger:
            if (!need(2)) return std::nullopt;
            v.kind = JetValue::Int;
            v.i = int16_t(rd16(p));
            break;
        case ColLong:
            if (!need(4)) return std::nullopt;
            v.kind = JetValue::Int;
            v.i = int32_t(rd32(p));
            break;
        case ColBigInt:
            if (!need(8)) return std::nullopt;
            v.kind = JetValue::Int;
            v.i = int64_t(uint64_t(rd32(p)) | uint64_t(rd32(p + 4)) << 32);
            break;
        case ColCurrency: {
            if (!need(8)) return std::nullopt;
            // Whole units and ten-thousandths apart: the nearest double to the stored amount.
            const int64_t q = int64_t(uint64_t(rd32(p)) | uint64_t(rd32(p + 4)) << 32);
            v.kind = JetValue::Real;
            v.d = double(q / 10000) + double(q % 10000) / 10000.0;
            break;
        }
        case ColSingle: {
            if (!need(4)) return std::nullopt;
            float x;
            std::memcpy(&x, p, 4);
            v.kind = JetValue::Real;
            v.d = double(x);
            break;
        }
        case ColDouble:
        case ColDateTime: {
            if (!need(8)) return std::nullopt;
            double x;
            std::memcpy(&x, p, 8);
            if (c.type == ColDouble) {
                v.kind = JetValue::Real;
                v.d = x;
            } else if (auto t = dateToText(x)) {
                v.kind = JetValue::Text;
                v.bytes = *t;
            }
            break;
        }
        case ColGuid: {
            if (!need(16)) return std::nullopt;
            char buf[40];
            std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", p[3],
                          p[2], p[1], p[0], p[5], p[4], p[7], p[6], p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
            v.kind = JetValue::Text;
            v.bytes = buf;
            break;
        }
        case ColText:
            v.kind = JetValue::Text;
            v.bytes = JetFile::decodeText(c, p, f.size).toUtf8();
            break;
        case ColBinary:
            v.kind = JetValue::Blob;
            v.bytes = QByteArray(reinterpret_cast<const char*>(p), f.size);
            break;
        case ColNumeric: {
            if (!need(17)) return std::nullopt;
            const std::string digits = decimalText(p, std::min<int>(c.scale, 38));
            v.kind = JetValue::Text;
            v.bytes = QByteArray::fromStdString(digits);
            break;
        }
        default:
            return std::nullopt;  // not compared
    }
    return v;
}

JetValue JetValueCodec::stored(const ColumnDef& c, const JetValue& v) {
    if (v.kind == JetValue::Null && c.type != ColBoolean) return v;
    double d = 0;
    JetValue out = v;
    switch (c.type) {
        case ColBoolean:
            out.kind = JetValue::Int;
            out.i = (asNumber(v, d) && d != 0) ? 1 : 0;
            break;
        case ColSingle:
            if (asNumber(v, d)) {
                out.kind = JetValue::Real;
                out.d = double(float(d));
            }
            break;
        case ColCurrency: {
            QByteArray bytes;
            int number = 0;
            QString why;
            if (encode(c, v, bytes, number, why)) {
                FieldRef f{true, 0, int(bytes.size())};
                if (auto x = decode(c, reinterpret_cast<const uint8_t*>(bytes.constData()), f)) out = *x;
            }
            break;
        }
        case ColDouble:
            if (asNumber(v, d)) {
                out.kind = JetValue::Real;
                out.d = d;
            }
            break;
        case ColBigInt: {
            QByteArray bytes;
            int number = 0;
            QString why;
            if (encode(c, v, bytes, number, why)) {
                out.kind = JetValue::Int;
                out.i = qint64(uint64_t(rd32(reinterpret_cast<const uint8_t*>(bytes.constData()))) |
                               uint64_t(rd32(reinterpret_cast<const uint8_t*>(bytes.constData()) + 4)) << 32);
            }
            break;
        }
        case ColByte:
        case ColInteger:
        case ColLong:
            if (asNumber(v, d)) {
                out.kind = JetValue::Int;
                out.i = qint64(d);
            }
            break;
        case ColDateTime:
            if (v.kind == JetValue::Text)
                if (auto x = dateFromText(v.bytes)) out.bytes = dateToText(*x).value_or(v.bytes);
            break;
        case ColNumeric: {
            QByteArray bytes;
            int number = 0;
            QString why;
            if (encode(c, v, bytes, number, why)) {
                FieldRef f{true, 0, int(bytes.size())};
                if (auto d = decode(c, reinterpret_cast<const uint8_t*>(bytes.constData()), f)) out = *d;
            }
            break;
        }
        case ColGuid:
            if (auto b = guidBytes(v.bytes)) {
                FieldRef f{true, 0, 16};
                out = *decode(c, reinterpret_cast<const uint8_t*>(b->constData()), f);
            }
            break;
        default:
            break;
    }
    return out;
}

bool JetValueCodec::encode(const ColumnDef& c, const JetValue& v, QByteArray& out, int& errorNumber, QString& why) {
    out.clear();
    errorNumber = err::DataTypeMismatch;
    double d = 0;
    auto integral = [&](double lo, double hi) {
        if (!asNumber(v, d)) {
            why = QString("%1 is not a number.").arg(v.describe());
            return false;
        }
        if (d != std::trunc(d) || d < lo || d > hi) {
            errorNumber = err::Overflow;
            why = QString("%1 does not fit field '%2'.").arg(v.describe(), c.name);
            return false;
        }
        return true;
    };
    switch (c.type) {
        case ColByte:
            if (!integral(0, 255)) return false;
            putLe(out, uint64_t(d), 1);
            return true;
        case ColInteger:
            if (!integral(-32768, 32767)) return false;
            putLe(out, uint64_t(int64_t(d)), 2);
            return true;
        case ColLong:
            if (!integral(-2147483648.0, 2147483647.0)) return false;
            putLe(out, uint64_t(int64_t(d)), 4);
            return true;
        case ColBigInt: {
            // Exact: whole numbers come as 64-bit integers or as their digits, never through a double.
            qint64 i = 0;
            bool ok = v.kind == JetValue::Int;
            if (ok) i = v.i;
            else if (v.kind == JetValue::Text) i = QString::fromUtf8(v.bytes).trimmed().toLongLong(&ok);
            else if (v.kind == JetValue::Real && std::isfinite(v.d) && v.d == std::trunc(v.d) &&
                     std::fabs(v.d) < 9.2e18) {
                i = qint64(v.d);
                ok = true;
            }
            if (!ok) {
                errorNumber = v.kind == JetValue::Real ? err::Overflow : err::DataTypeMismatch;
                why = QString("%1 does not fit the Large Number field '%2'.").arg(v.describe(), c.name);
                return false;
            }
            putLe(out, uint64_t(i), 8);
            return true;
        }
        case ColCurrency: {
            // A 64-bit count of ten-thousandths, from the value's digits, never through a double.
            const auto text = exactText(v);
            bool negative = false;
            unsigned __int128 n = 0;
            if (!text || text->isEmpty()) break;
            if (!scaledInteger(*text, 4, negative, n)) {
                if (!asNumber(v, d)) break;  // not a number at all
                n = ~static_cast<unsigned __int128>(0);
            }
            const unsigned __int128 limit = (static_cast<unsigned __int128>(1) << 63) - (negative ? 0 : 1);
            if (n > limit) {
                errorNumber = err::Overflow;
                why = QString("%1 does not fit the currency field '%2'.").arg(v.describe(), c.name);
                return false;
            }
            putLe(out, negative ? uint64_t(0) - uint64_t(n) : uint64_t(n), 8);
            return true;
        }
        case ColSingle: {
            if (!asNumber(v, d)) break;
            const float x = float(d);
            uint32_t bits;
            std::memcpy(&bits, &x, 4);
            putLe(out, bits, 4);
            return true;
        }
        case ColDouble: {
            if (!asNumber(v, d)) break;
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            putLe(out, bits, 8);
            return true;
        }
        case ColDateTime: {
            const auto x = v.kind == JetValue::Text ? dateFromText(v.bytes) : std::nullopt;
            if (!x) break;
            uint64_t bits;
            std::memcpy(&bits, &*x, 8);
            putLe(out, bits, 8);
            return true;
        }
        case ColGuid: {
            const auto b = v.kind == JetValue::Text ? guidBytes(v.bytes) : std::nullopt;
            if (!b) break;
            out = *b;
            return true;
        }
        case ColText: {
            const QString s = v.kind == JetValue::Text ? QString::fromUtf8(v.bytes)
                              : v.kind == JetValue::Int ? QString::number(v.i)
                              : v.kind == JetValue::Real ? QString::number(v.d, 'g', 15)
                                                         : QString();
            if (v.kind == JetValue::Blob) break;
            // Jet 3 stores a byte a character, Jet 4 and ACE two.
            const int most = c.codePage ? c.length : c.length / 2;
            if (s.size() > most) {
                errorNumber = err::FieldTooSmall;
                why = QString("The text is too long for field '%1' (%2 characters at most).").arg(c.name).arg(most);
                return false;
            }
            if (const QString refusal = codePageRefusal(c, s); !refusal.isEmpty()) {
                errorNumber = err::DataTypeMismatch;
                why = refusal;
                return false;
            }
            out = encodeText(c, s);
            return true;
        }
        case ColNumeric: {
            // A scaled integer from the value's digits, rounded half away from zero to the scale.
            const auto text = exactText(v);
            if (!text || text->isEmpty()) break;
            const int scale = std::min<int>(c.scale, 38);
            bool negative = false, tooLong = false;
            unsigned __int128 n = 0;
            if (!scaledInteger(*text, scale, negative, n)) {
                bool digits = true;
                for (char ch : text->mid(text->startsWith('-') || text->startsWith('+') ? 1 : 0))
                    digits = digits && ((ch >= '0' && ch <= '9') || ch == '.');
                if (!digits) break;
                tooLong = true;
            }
            unsigned __int128 max = 1;
            for (int i = 0; i < std::clamp<int>(c.precision, 1, 38); ++i) max *= 10;
            if (tooLong || n >= max) {
                errorNumber = err::Overflow;
                why = QString("%1 does not fit the Decimal field '%2' (precision %3, scale %4).")
                          .arg(v.describe(), c.name)
                          .arg(c.precision)
                          .arg(c.scale);
                return false;
            }
            out += char(negative && n != 0 ? 0x80 : 0x00);
            for (int w = 3; w >= 0; --w) putLe(out, uint64_t(uint32_t(n >> (32 * w))), 4);
            return true;
        }
        case ColBinary:
            if (v.kind != JetValue::Blob) break;
            if (v.bytes.size() > c.length) {
                errorNumber = err::FieldTooSmall;
                why = QString("The value is too long for field '%1'.").arg(c.name);
                return false;
            }
            out = v.bytes;
            return true;
        default:
            errorNumber = err::ReadOnly;
            why = QString("Changing %1 fields ('%2') in Access files is not available yet.")
                      .arg(c.type == ColNumeric    ? "Decimal"
                           : c.type == ColExtDate  ? "Date/Time Extended"
                           : c.isLongValue()       ? "Memo and OLE Object"
                                                   : "these",
                           c.name);
            return false;
    }
    why = QString("%1 cannot be stored in field '%2'.").arg(v.describe(), c.name);
    return false;
}

}  // namespace dao::jet
