#pragma once

// Pages of a type the writer does not know, and whether anything in the file still uses them.
//
// Access leaves such pages behind: real files hold a dropped table's definition page with its bytes
// kept under type 0x08, and pages of type 0x00 that no map counts free. The writer never reads or
// writes a page it reaches neither through a table's definition, its maps, its index trees nor its
// records' pointers; it takes new pages only at the end of the file, never from the free ones, and
// takes no page out of the free-page map but those. So a page of unknown type blocks writing only
// while something could lead the writer to it:
//   - it is a page of a table definition, or any usage map (a table's data pages or pages with room,
//     an index's pages, a Memo/OLE column's pages) lists it;
//   - an index tree (child, sibling or tail pointer) or a record (its overflow pointer, the rows of
//     a Memo/OLE value) points to it.
// Whether the free-page map counts it free does not matter. The proof is made per table: a change
// of a table can reach only what that table leads to, so a page only table B leads to does not
// block changes of table A; what the catalog (MSysObjects) leads to blocks every change, as every
// change reads the catalog. Every live record of the table is looked at; a pointer that leads to a
// page of the wrong type, a map or tree that cannot be read, fails the table's proof.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "JetFile.h"

namespace dao::jet {

class JetUnknownPages {
public:
    // The pages of the file whose type is none of the known ones.
    static std::vector<uint32_t> find(const JetFile& f, const std::atomic<bool>* stop = nullptr);

    // The pages the file's free-page map lists. A list of map pages may name a map page past the
    // end of the file (Access leaves such files); it lists nothing, and outside receives it.
    static std::vector<uint32_t> freePages(const JetFile& f, std::vector<uint32_t>* outside = nullptr);

    struct Use {
        uint32_t page = 0;
        QString how;  // "is listed among the pages of table 'T'", for a message
    };
    // The first of pages something could still lead to; nullopt when none. Throws FormatError when
    // the file cannot be read far enough to tell.
    static std::optional<Use> firstUse(const JetFile& f, const std::vector<uint32_t>& pages);
    // The same for what one table leads to: its definition, maps, index trees and records. A change
    // of that table reads or rewrites nothing else but the catalog's rows and the file's free-page
    // map, so this alone decides whether pages block it. Without records, the records' pointers are
    // left out: that is all an add reaches, and all an edit or delete reaches besides its own record
    // (useByRecord, cheap where a proof over a large table's every record is not).
    static std::optional<Use> useBy(const JetFile& f, const CatalogTable& table, const std::vector<uint32_t>& pages,
                                    bool records = true);
    // The same for every page of unknown type, each looked at as the walk reaches it: no scan of
    // the whole file, for a table that leads to few pages (the catalog).
    static std::optional<Use> useOfAny(const JetFile& f, const CatalogTable& table);
    // What one live record leads to: the place its data moved to (at, when it is not first) and
    // the rows of its Memo/OLE values. The record is given cracked, and pages are read through
    // `read`, as a writer's batch leaves them. Throws FormatError as useBy does.
    using PageRead = std::function<const uint8_t*(uint32_t)>;
    static std::optional<Use> useByRecord(const TableDef& t, RowId first, RowId at, const uint8_t* row,
                                          const std::vector<FieldRef>& fields, const PageRead& read, int pageSize,
                                          const std::vector<uint32_t>& pages);
};

}  // namespace dao::jet
