#pragma once

// Memo and OLE values of a Jet 4 / ACE file, in the three forms the format has: in the record
// itself (up to 64 bytes, when the record has room), as one row of a long-value page, or as a
// chain of rows on several long-value pages, each row starting with the place of the next.
// Long-value pages are data pages marked "LVAL" that belong to one column (its page maps in the
// table definition). Rows given up are marked deleted and take no bytes on their page any more.

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "JetFile.h"
#include "JetValueCodec.h"

namespace dao::jet {

class JetLongValueWriter {
public:
    // The writer's pages: read gives the batch's copy of a page (or the file's), write makes the
    // page part of the batch and gives its bytes. newPage, when set, adds an empty long-value page
    // for the column, listed in the column's page maps (throws FormatError when it cannot).
    // roomy, when set, hears whether a page of the column can still take a piece of a value after
    // a row went on it or left it (for the column's map of pages with room).
    struct Pages {
        std::function<const uint8_t*(uint32_t)> read;
        std::function<uint8_t*(uint32_t)> write;
        std::function<uint32_t(const ColumnDef&)> newPage;
        std::function<void(const ColumnDef&, uint32_t page, bool roomy)> roomy;
    };

    JetLongValueWriter(const JetFile& file, Pages pages);

    // Values up to this many bytes stay in the record when it has room.
    static constexpr int kInlineLimit = 64;
    // Records longer than this take their long values out of the record whatever their size.
    static int maxRecordLength(int pageSize) { return pageSize - 36; }
    // The longest row of a long-value page (the page's header and one row offset leave the rest).
    static int maxRowLength(int pageSize) { return pageSize - 20; }

    // The bytes of a value as the column keeps them: Memo text as UCS-2, or compressed when the
    // column allows it, every character fits one byte and the text is at most 1024 characters;
    // OLE values as they are. nullopt when the value does not suit the column.
    static std::optional<QByteArray> dataOf(const ColumnDef& c, const JetValue& v, QString* why = nullptr);
    // The field an inline value takes in the record: the 12-byte header and the data.
    static QByteArray inlineField(const QByteArray& data);

    // Stores data for column c of table t; field gets what the record holds for it. inlineAllowed:
    // the record has room for a short value. False with the reason when no page can take it.
    bool store(const TableDef& t, const ColumnDef& c, const QByteArray& data, bool inlineAllowed, QByteArray& field,
               QString& why);
    // Gives up the rows of the value of column c whose field a record holds (nothing for inline
    // values). Throws FormatError when the value's rows cannot be followed.
    void release(const ColumnDef& c, const uint8_t* field, int size);
    // The value as the batch's pages hold it; throws FormatError for a broken chain.
    QByteArray read(const uint8_t* field, int size) const;
    // Whether the field a record holds (present: not Null) is the value shown; throws FormatError
    // for a broken chain. An empty value and Null count as the same.
    bool holds(const ColumnDef& c, bool present, const uint8_t* field, int size, const JetValue& shown) const;

private:
    struct Room {
        uint32_t page = 0;
        int free = 0;  // bytes a new row may take (its offset slot already counted)
    };
    // The column's long-value pages that can take a row of at least minRow bytes.
    std::vector<Room> pagesWithRoom(const TableDef& t, const ColumnDef& c, int minRow) const;
    // Adds a row to a long-value page of the column with room for it (a new page when none has);
    // its place, or nullopt with the reason.
    std::optional<RowId> placeRow(const TableDef& t, const ColumnDef& c, const QByteArray& row, QString& why);
    // Tells pages_.roomy what room page has now.
    void roomChanged(const ColumnDef& c, uint32_t page);

    const JetFile& file_;
    Pages pages_;
    std::vector<uint32_t> added_;  // pages newPage gave during this writer's life (not in the file's maps yet)
};

}  // namespace dao::jet
