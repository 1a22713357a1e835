#pragma once

// Index key bytes of one column value, as the file's index pages hold them: a flag byte (0x7F a
// value, 0x00 Null; 0x80 / 0xFF in descending columns), then the value in an encoding whose
// unsigned byte order is the value order (text: see JetTextKey).

#include <QByteArray>
#include <optional>

#include "JetFile.h"

namespace dao::jet {

class JetIndexKey {
public:
    // True for the column types whose keys encode here (numbers, currency, dates, yes/no, and text
    // in a sort order whose codes are known).
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
