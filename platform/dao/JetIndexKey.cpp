#include "JetIndexKey.h"

#include "JetTextKey.h"

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
