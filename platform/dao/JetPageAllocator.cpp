#include "JetPageAllocator.h"
#include "JetFormat.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace dao::jet {

namespace {

constexpr int kInlineBits = 5;    // type byte and first page
constexpr int kMaxRows = fmt::kMaxRowsPerPage;

void put16(uint8_t* p, int v) {
    p[0] = uint8_t(v & 0xff);
    p[1] = uint8_t(v >> 8 & 0xff);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

std::string mapName(uint32_t word) { return std::to_string(word >> 8) + ":" + std::to_string(word & 0xff); }

}  // namespace

JetPageAllocator::MapRow JetPageAllocator::mapRow(uint32_t word) const {
    const RowId at = RowId::fromWord(word);
    if (at.page == 0) throw FormatError("a usage map is missing (row " + mapName(word) + ")");
    const uint8_t* pg = p_.read(at.page);
    if (pg[0] != PageData) throw FormatError("the usage map " + mapName(word) + " is not on a data page");
    const RowSlot s = JetFile::slotIn(pg, p_.pageSize, at.page, at.row);
    if (s.deleted || s.overflow || s.end - s.start < kInlineBits)
        throw FormatError("the usage map " + mapName(word) + " is missing or short");
    if (pg[s.start] > 1)
        throw FormatError("the usage map " + mapName(word) + " has the unknown type " + std::to_string(pg[s.start]));
    return {at.page, s.start, s.end - s.start};
}

std::vector<uint32_t> JetPageAllocator::pagesOf(uint32_t word) const {
    const MapRow r = mapRow(word);
    const uint8_t* m = p_.read(r.page) + r.start;
    std::vector<uint32_t> out;
    if (m[0] == 0) {
        const uint32_t first = rd32(m + 1);
        for (int i = kInlineBits; i < r.length; ++i)
            for (int b = 0; b < 8; ++b)
                if (m[i] >> b & 1) out.push_back(first + uint32_t((i - kInlineBits) * 8 + b));
        return out;
    }
    std::vector<uint32_t> mapPages;
    for (int i = 1; i + 4 <= r.length; i += 4) mapPages.push_back(rd32(m + i));
    for (size_t k = 0; k < mapPages.size(); ++k) {
        if (mapPages[k] == 0 || mapPages[k] >= p_.end()) continue;  // a map page the file lacks lists nothing
        const uint8_t* mp = p_.read(mapPages[k]);
        if (mp[0] != PageUsageMap)
            throw FormatError("the usage map " + mapName(word) + " refers to page " + std::to_string(mapPages[k]) +
                              ", which is not a map page");
        // Asked at every add: a large table's map is mostly zero bytes, skipped eight at a time.
        for (int j = 4; j < p_.pageSize; ++j) {
            if (uint64_t w; j + 8 <= p_.pageSize && (std::memcpy(&w, mp + j, 8), w == 0)) {
                j += 7;
                continue;
            }
            if (mp[j])
                for (int b = 0; b < 8; ++b)
                    if (mp[j] >> b & 1) out.push_back(uint32_t(k) * perMapPage() + uint32_t((j - 4) * 8 + b));
        }
    }
    return out;
}

bool JetPageAllocator::listed(uint32_t word, uint32_t page) const {
    const MapRow r = mapRow(word);
    const uint8_t* m = p_.read(r.page) + r.start;
    if (m[0] == 0) {
        const uint32_t first = rd32(m + 1);
        if (page < first) return false;
        const uint32_t bit = page - first;
        return bit < uint32_t(r.length - kInlineBits) * 8 && (m[kInlineBits + bit / 8] >> (bit % 8) & 1);
    }
    const uint32_t k = page / perMapPage(), bit = page % perMapPage();
    if (1 + 4 * int(k) + 4 > r.length) return false;
    const uint32_t mp = rd32(m + 1 + 4 * k);
    return mp != 0 && mp < p_.end() && (p_.read(mp)[4 + bit / 8] >> (bit % 8) & 1);
}

void JetPageAllocator::setListed(uint32_t word, uint32_t page, bool on) {
    const MapRow r = mapRow(word);
    const uint8_t* m = p_.read(r.page) + r.start;
    if (m[0] == 0) {
        const uint32_t first = rd32(m + 1);
        const uint32_t span = uint32_t(r.length - kInlineBits) * 8;
        if (page >= first && page - first < span) {
            const uint32_t bit = page - first;
            uint8_t& byte = p_.write(r.page)[r.start + kInlineBits + int(bit / 8)];
            byte = uint8_t(on ? byte | 1 << (bit % 8) : byte & ~(1 << (bit % 8)));
            return;
        }
        if (!on) return;  // outside the window: not listed already
        std::vector<uint32_t> pages = pagesOf(word);
        pages.push_back(page);
        const auto [lo, hi] = std::minmax_element(pages.begin(), pages.end());
        if (*hi - *lo < span) {
            // The window moves to the lowest page (on a byte boundary when that still reaches).
            const uint32_t aligned = *lo - *lo % 8;
            const uint32_t first = *hi - aligned < span ? aligned : *lo;
            // In the file's map, pages past the end of the file stay free.
            if (word == kGlobalMap)
                for (uint32_t pg = std::max(first, p_.end()); pg - first < span; ++pg) pages.push_back(pg);
            writeInline(r, first, pages);
        } else {
            toReferenceMap(r, pages);
        }
        return;
    }
    const uint32_t k = page / perMapPage(), bit = page % perMapPage();
    if (1 + 4 * int(k) + 4 > r.length) {
        if (!on) return;
        throw FormatError("page " + std::to_string(page) + " lies beyond what the usage map " + mapName(word) + " can list");
    }
    // Access leaves lists naming a map page past the end of the file: it lists nothing, so such
    // pointers are cleared before the file could grow to that page number.
    for (int i = 1; i + 4 <= r.length; i += 4)
        if (const uint32_t q = rd32(m + i); q != 0 && q >= p_.end()) put32(p_.write(r.page) + r.start + i, 0);
    m = p_.read(r.page) + r.start;
    uint32_t mp = rd32(m + 1 + 4 * k);
    if (mp == 0) {
        if (!on) return;
        mp = allocate(PageUsageMap, 0, {});
        put32(p_.write(r.page) + r.start + 1 + 4 * k, mp);
    }
    setInMapPage(mp, bit, on);
}

void JetPageAllocator::setInMapPage(uint32_t mapPage, uint32_t bit, bool on) {
    if (p_.read(mapPage)[0] != PageUsageMap)
        throw FormatError("page " + std::to_string(mapPage) + " should be a usage map page");
    uint8_t& byte = p_.write(mapPage)[4 + int(bit / 8)];
    byte = uint8_t(on ? byte | 1 << (bit % 8) : byte & ~(1 << (bit % 8)));
}

void JetPageAllocator::writeInline(const MapRow& r, uint32_t first, const std::vector<uint32_t>& pages) {
    uint8_t* m = p_.write(r.page) + r.start;
    m[0] = 0;
    put32(m + 1, first);
    std::memset(m + kInlineBits, 0, size_t(r.length - kInlineBits));
    for (uint32_t pg : pages) m[kInlineBits + (pg - first) / 8] |= uint8_t(1 << ((pg - first) % 8));
}

void JetPageAllocator::toReferenceMap(const MapRow& r, std::vector<uint32_t> pages) {
    const int pointers = (r.length - 1) / 4;
    std::sort(pages.begin(), pages.end());
    if (pages.back() / perMapPage() >= uint32_t(pointers))
        throw FormatError("page " + std::to_string(pages.back()) + " lies beyond what a usage map can list");
    // The row keeps its length: a type byte and the map pages' numbers, 0 where none is needed.
    std::vector<uint32_t> mapPages(size_t(pointers), 0);
    for (uint32_t pg : pages)
        if (!mapPages[pg / perMapPage()]) mapPages[pg / perMapPage()] = allocate(PageUsageMap, 0, {});
    uint8_t* m = p_.write(r.page) + r.start;
    std::memset(m, 0, size_t(r.length));
    m[0] = 1;
    for (int k = 0; k < pointers; ++k) put32(m + 1 + 4 * k, mapPages[size_t(k)]);
    for (uint32_t pg : pages) setInMapPage(mapPages[pg / perMapPage()], pg % perMapPage(), true);
}

void JetPageAllocator::rowPlaced(uint32_t freeMap, uint32_t page, int minRow) {
    const uint8_t* bytes = p_.read(page);
    if (rd16(bytes + fmt::layout(p_.pageSize).dataRowCount) >= kMaxRows || rd16(bytes + fmt::kDataFreeSpace) < minRow + 2) setListed(freeMap, page, false);
}

uint32_t JetPageAllocator::allocate(uint8_t type, uint32_t owner, const std::vector<uint32_t>& maps) {
    const uint32_t n = p_.end();
    uint8_t* pg = p_.create(n);
    pg[0] = type;
    pg[1] = 0x01;
    switch (type) {
        case PageData:
            put16(pg + 2, p_.pageSize - fmt::layout(p_.pageSize).dataRowTable);
            put32(pg + 4, owner);
            break;
        case PageIndexNode:
        case PageIndexLeaf:
            put16(pg + 2, p_.pageSize - fmt::layout(p_.pageSize).indexEntries());
            put32(pg + 4, owner);
            break;
        case PageUsageMap:
            break;
        default:
            throw FormatError("pages of type " + std::to_string(type) + " are not made");
    }
    setListed(kGlobalMap, n, false);
    for (uint32_t m : maps) setListed(m, n, true);
    return n;
}

}  // namespace dao::jet
