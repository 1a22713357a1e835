#pragma once

// Index key bytes of one column value, as the file's index pages hold them: a flag byte (0x7F a
// value, 0x00 Null; 0x80 / 0xFF in descending columns), then the value in an encoding whose
// unsigned byte order is the value order (text: see JetTextKey; binary values, GUIDs and extended
// dates in segments of eight bytes).

#include <QByteArray>
#include <optional>

#include "JetFile.h"

namespace dao::jet {

class JetIndexKey {
public:
    // The longest binary value whose key is written: twenty segments, the longest key of a binary
    // value among those Access wrote that the encoder is checked against. Whether Access cuts longer
    // ones off, and where, no real key shows.
    static constexpr int kMaxBinaryKeyBytes = 160;
    // True for the column types whose keys encode here (numbers, currency, dates, yes/no, binary,
    // GUIDs, extended dates, and text in a sort order whose codes are known).
    static bool encodable(const ColumnDef& c);
    // The key of one column of a cracked row; nullopt when it cannot be encoded (why says so for
    // a text whose characters are not all known).
    static std::optional<QByteArray> encode(const ColumnDef& c, bool ascending, const uint8_t* row, const FieldRef& f,
                                            QString* why = nullptr);
    // The whole key of an index for a row; nullopt when one of its columns cannot be encoded.
    static std::optional<QByteArray> encode(const TableDef& t, const IndexData& idx, const uint8_t* row,
                                            const std::vector<FieldRef>& fields, QString* why = nullptr);
};

}  // namespace dao::jet
