#include "JetIndexKey.h"

#include "JetTextKey.h"
#include "JetValueCodec.h"

#include <algorithm>

namespace dao::jet {

namespace {

constexpr char kAscValue = char(0x7F);
constexpr char kAscNull = char(0x00);
constexpr char kDescValue = char(0x80);
constexpr char kDescNull = char(0xFF);

// The row's little-endian bytes, most significant first.
QByteArray bigEndian(const uint8_t* p, int n) {
    QByteArray out(n, '\0');
    for (int i = 0; i < n; ++i) out[i] = char(p[n - 1 - i]);
    return out;
}

void flipAll(QByteArray& b) {
    for (char& c : b) c = char(~uint8_t(c));
}

// Bytes keyed in segments of eight: each full segment that more bytes follow is followed by 09, the
// last one is padded with zeros to eight and followed by how many of its bytes count (1 to 8), so a
// value sorts before every longer value it begins. Descending keys flip the bytes and that count but
// not the 09 between segments. An empty value has no segment at all.
QByteArray segmented(const uint8_t* p, int n, bool ascending) {
    constexpr int kSegment = 8;
    constexpr char kMore = 0x09;
    QByteArray out;
    out.reserve(n + n / kSegment + kSegment + 1);
    for (int at = 0; at < n; at += kSegment) {
        const int len = std::min(kSegment, n - at);
        QByteArray seg(kSegment, '\0');
        for (int i = 0; i < len; ++i) seg[i] = char(p[at + i]);
        const bool last = at + kSegment >= n;
        if (last) seg += char(len);
        if (!ascending) flipAll(seg);
        out += seg;
        if (!last) out += kMore;
    }
    return out;
}

// A GUID's bytes in the order its text shows them.
QByteArray guidOrder(const uint8_t* p) {
    QByteArray out(16, '\0');
    for (int i = 0; i < 16; ++i) out[i] = char(p[kGuidTextOrder[i]]);
    return out;
}

}  // namespace

bool JetIndexKey::encodable(const ColumnDef& c) {
    switch (c.type) {
        case ColBoolean:
        case ColByte:
        case ColInteger:
        case ColLong:
        case ColBigInt:
        case ColComplex:  // the record's reference to its items: a Long
        case ColCurrency:
        case ColSingle:
        case ColDouble:
        case ColDateTime:
        case ColBinary:
        case ColGuid:
        case ColExtDate:
            return true;
        case ColText:
            return JetSortCodes::forColumn(c) != nullptr;
        default:
            return false;
    }
}

std::optional<QByteArray> JetIndexKey::encode(const ColumnDef& c, bool ascending, const uint8_t* row,
                                              const FieldRef& f, QString* why) {
    if (!encodable(c)) {
        if (why) *why = QString("keys of field '%1' of this type or sort order are not written yet").arg(c.name);
        return std::nullopt;
    }
    QByteArray out;
    if (c.type == ColBoolean) {
        // Never Null: the flag, then 00 for Yes and FF for No (swapped when descending).
        out += ascending ? kAscValue : kDescValue;
        out += (f.present == ascending) ? char(0x00) : char(0xFF);
        return out;
    }
    if (!f.present) return QByteArray(1, ascending ? kAscNull : kDescNull);
    if (c.type == ColText)
        return JetTextKey::encode(*JetSortCodes::forColumn(c), JetFile::decodeText(c, row + f.offset, f.size), ascending, why);
    if (c.type == ColBinary || c.type == ColGuid || c.type == ColExtDate) {
        if (c.type == ColGuid && f.size != 16) {
            if (why) *why = QString("the value of field '%1' is not a 16-byte GUID").arg(c.name);
            return std::nullopt;
        }
        // Longer values could be cut off in the key; no key Access wrote shows where.
        if (c.type == ColBinary && f.size > kMaxBinaryKeyBytes) {
            if (why)
                *why = QString("the value of field '%1' is %2 bytes long, and keys of binary values longer than %3 bytes "
                               "are not written")
                           .arg(c.name)
                           .arg(f.size)
                           .arg(kMaxBinaryKeyBytes);
            return std::nullopt;
        }
        out += ascending ? kAscValue : kDescValue;
        if (c.type == ColGuid)
            out += segmented(reinterpret_cast<const uint8_t*>(guidOrder(row + f.offset).constData()), 16, ascending);
        else
            out += segmented(row + f.offset, f.size, ascending);
        return out;
    }
    QByteArray v = bigEndian(row + f.offset, f.size);
    switch (c.type) {
        case ColByte:
            break;
        case ColSingle:
        case ColDouble:
        case ColDateTime:
            // Negative numbers sort below positive ones and in reverse magnitude.
            if (uint8_t(v[0]) & 0x80)
                flipAll(v);
            else
                v[0] = char(uint8_t(v[0]) ^ 0x80);
            break;
        default:  // two's complement integers
            v[0] = char(uint8_t(v[0]) ^ 0x80);
            break;
    }
    if (!ascending) flipAll(v);
    out += ascending ? kAscValue : kDescValue;
    out += v;
    return out;
}

std::optional<QByteArray> JetIndexKey::encode(const TableDef& t, const IndexData& idx, const uint8_t* row,
                                              const std::vector<FieldRef>& fields, QString* why) {
    QByteArray key;
    for (const IndexColumn& ic : idx.columns) {
        const ColumnDef* c = t.columnByNumber(ic.columnNumber);
        if (!c) return std::nullopt;
        const auto part = encode(*c, ic.ascending, row, fields[size_t(c - t.columns.data())], why);
        if (!part) return std::nullopt;
        key += *part;
    }
    return key;
}

}  // namespace dao::jet
