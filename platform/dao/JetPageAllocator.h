#pragma once

// New pages for a Jet 4 / ACE file and the usage maps that must know of them.
//
// A file has one map of its free pages (page 1, row 0: pages past the end of the file count as
// free) and each table keeps maps of what it owns: its data pages and the ones of them with room
// (rows 0 and 1 of its map page), its long-value pages per Memo/OLE column, its index pages per
// index. A map row is either inline (type 0: a first page and a bitmap) or a list of map pages
// (type 1: each a page of type 0x05 whose bitmap covers the next (page size - 4) * 8 pages).
// New pages go at the end of the file, so the page journal's file length undoes them.

#include <cstdint>
#include <functional>
#include <vector>

#include "JetFile.h"

namespace dao::jet {

class JetPageAllocator {
public:
    // How the allocator reaches the pages of the batch under way.
    struct Pages {
        int pageSize = 4096;
        std::function<const uint8_t*(uint32_t)> read;  // as the batch leaves it; throws FormatError outside the file
        std::function<uint8_t*(uint32_t)> write;       // the batch's copy, given back if the statement fails
        std::function<uint8_t*(uint32_t)> create;      // a new zeroed page past the end, in the batch
        std::function<uint32_t()> end;                  // first page number past the file and the batch's new pages
        std::function<void()> forgetRead;               // lets the pages read so far leave memory; may be empty
    };

    explicit JetPageAllocator(Pages pages) : p_(std::move(pages)) {}
    const Pages& pages() const { return p_; }

    // A page added at the end of the file with the header of its type: data pages (owner = the
    // table definition's first page, or kLongValueOwner for a long-value page), index pages
    // (owner = the table definition) and map pages. It leaves the file's free-page map and is
    // listed in each of maps (rows holding usage maps). Throws FormatError, with nothing of the
    // statement kept by the caller, when a map cannot take it.
    uint32_t allocate(uint8_t type, uint32_t owner, const std::vector<uint32_t>& maps);
    static constexpr uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL"

    // After a row went onto page: the page leaves the free-space map once it cannot take the
    // table's shortest row (minRow bytes) any more.
    void rowPlaced(uint32_t freeMap, uint32_t page, int minRow);

    // The pages the map in row mapRow lists, read through the batch.
    std::vector<uint32_t> pagesOf(uint32_t mapRow) const;
    bool listed(uint32_t mapRow, uint32_t page) const;
    // Lists page in the map or takes it out. An inline map whose window cannot reach the page
    // moves its window, or becomes a list of map pages when its pages are too far apart.
    void setListed(uint32_t mapRow, uint32_t page, bool on);

    // The file's map of free pages.
    static constexpr uint32_t kGlobalMap = 1u << 8;  // page 1, row 0

private:
    struct MapRow {
        uint32_t page = 0;
        int start = 0, length = 0;  // the row's bytes on its page
    };
    MapRow mapRow(uint32_t word) const;
    uint32_t perMapPage() const { return uint32_t(p_.pageSize - 4) * 8; }
    void writeInline(const MapRow& r, uint32_t first, const std::vector<uint32_t>& pages);
    void toReferenceMap(const MapRow& r, std::vector<uint32_t> pages);
    void setInMapPage(uint32_t mapPage, uint32_t bit, bool on);

    Pages p_;
};

}  // namespace dao::jet
