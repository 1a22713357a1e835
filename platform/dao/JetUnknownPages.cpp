#include "JetUnknownPages.h"

#include <cstring>
#include <functional>
#include <set>

#include "JetPageAllocator.h"

namespace dao::jet {

namespace {

using IsUnknown = std::function<bool(uint32_t)>;

bool unknownType(uint8_t t) { return t < PageData || t > PageUsageMap; }

// The first page of pages a long value's rows lie on, 0 when none; follows the chain's pointers
// without reading the value itself (a whole file's Memo/OLE data would be read at every open).
uint32_t longValueOn(const JetUnknownPages::PageRead& read, int pageSize, const uint8_t* header,
                     const IsUnknown& unknown) {
    const uint32_t kind = rd32(header) & 0xC0000000;
    if (kind == 0x80000000) return 0;  // in the record itself
    if (kind != 0x40000000 && kind != 0) throw FormatError("a long value has unknown storage bits");
    std::set<uint32_t> seen;
    for (uint32_t next = rd32(header + 4); next != 0;) {
        if (!seen.insert(next).second) throw FormatError("a long-value chain loops");
        const RowId at = RowId::fromWord(next);
        if (unknown(at.page)) return at.page;
        const uint8_t* pg = read(at.page);
        if (pg[0] != PageData || std::memcmp(pg + 4, "LVAL", 4) != 0)
            throw FormatError("a long value points to page " + std::to_string(at.page) + ", which is not a long-value page");
        const RowSlot s = JetFile::slotIn(pg, pageSize, at.page, at.row);
        if (kind == 0x40000000) break;  // one row
        if (s.end - s.start < 4) throw FormatError("a long-value chain row is too short");
        next = rd32(pg + s.start);
    }
    return 0;
}

std::optional<JetUnknownPages::Use> recordUse(const TableDef& t, RowId first, RowId at, const uint8_t* row,
                                              const std::vector<FieldRef>& fields,
                                              const JetUnknownPages::PageRead& read, int pageSize,
                                              const IsUnknown& unknown) {
    const QString table = QString("table '%1'").arg(t.name);
    if (!(at == first) && unknown(at.page))
        return JetUnknownPages::Use{at.page, QStringLiteral("holds a moved record of ") + table};
    for (size_t c = 0; c < t.columns.size() && c < fields.size(); ++c) {
        if (!t.columns[c].isLongValue() || !fields[c].present || fields[c].size < 12) continue;
        if (const uint32_t p = longValueOn(read, pageSize, row + fields[c].offset, unknown))
            return JetUnknownPages::Use{p, QStringLiteral("holds a Memo/OLE value of ") + table};
    }
    return std::nullopt;
}

std::optional<JetUnknownPages::Use> useOf(const JetFile& f, const CatalogTable& ct, const IsUnknown& hit, bool records);

}  // namespace

std::optional<JetUnknownPages::Use> JetUnknownPages::useByRecord(const TableDef& t, RowId first, RowId at,
                                                                 const uint8_t* row, const std::vector<FieldRef>& fields,
                                                                 const PageRead& read, int pageSize,
                                                                 const std::vector<uint32_t>& pages) {
    if (pages.empty()) return std::nullopt;
    const std::set<uint32_t> unknown(pages.begin(), pages.end());
    return recordUse(t, first, at, row, fields, read, pageSize, [&](uint32_t p) { return unknown.count(p) != 0; });
}

std::vector<uint32_t> JetUnknownPages::find(const JetFile& f, const std::atomic<bool>* stop) {
    std::vector<uint32_t> out;
    const std::vector<uint8_t> types = f.pageTypes(stop);
    for (uint32_t p = 1; p < types.size(); ++p)
        if (unknownType(types[p])) out.push_back(p);
    return out;
}

std::vector<uint32_t> JetUnknownPages::freePages(const JetFile& f, std::vector<uint32_t>* outside) {
    const RowId at = RowId::fromWord(JetPageAllocator::kGlobalMap);
    if (f.pageType(at.page) != PageData) return f.usageMapPages(JetPageAllocator::kGlobalMap);  // throws the reason
    const RowSlot s = f.slot(at.page, at.row);
    const uint8_t* m = f.page(at.page) + s.start;
    const int len = s.end - s.start;
    if (s.deleted || len < 1 || m[0] != 1) return f.usageMapPages(JetPageAllocator::kGlobalMap);
    const uint32_t perPage = uint32_t(f.pageSize() - 4) * 8;
    std::vector<uint32_t> out;
    for (int i = 1, k = 0; i + 4 <= len; i += 4, ++k) {
        const uint32_t mp = rd32(m + i);
        if (mp == 0) continue;
        if (mp >= f.pageCount()) {
            if (outside) outside->push_back(mp);
            continue;
        }
        const uint8_t* pg = f.page(mp);
        if (pg[0] != PageUsageMap)
            throw FormatError("the free-page map refers to page " + std::to_string(mp) + ", which is not a map page");
        for (int j = 4; j < f.pageSize(); ++j)
            for (int b = 0; b < 8; ++b)
                if (pg[j] >> b & 1) out.push_back(uint32_t(k) * perPage + uint32_t((j - 4) * 8 + b));
    }
    return out;
}

std::optional<JetUnknownPages::Use> JetUnknownPages::firstUse(const JetFile& f, const std::vector<uint32_t>& pages) {
    if (pages.empty()) return std::nullopt;
    for (const CatalogTable& ct : f.catalog())
        if (auto use = useBy(f, ct, pages)) return use;
    return std::nullopt;
}

std::optional<JetUnknownPages::Use> JetUnknownPages::useBy(const JetFile& f, const CatalogTable& ct,
                                                           const std::vector<uint32_t>& pages, bool records) {
    if (pages.empty()) return std::nullopt;
    const std::set<uint32_t> unknown(pages.begin(), pages.end());
    return useOf(f, ct, [&](uint32_t p) { return unknown.count(p) != 0; }, records);
}

std::optional<JetUnknownPages::Use> JetUnknownPages::useOfAny(const JetFile& f, const CatalogTable& ct) {
    return useOf(f, ct, [&f](uint32_t p) { return p > 0 && p < f.pageCount() && unknownType(f.pageType(p)); }, true);
}

namespace {

std::optional<JetUnknownPages::Use> useOf(const JetFile& f, const CatalogTable& ct, const IsUnknown& hit, bool records) {
    using Use = JetUnknownPages::Use;
    const TableDef t = f.readTableDef(ct.tdefPage, ct.name);
    const QString table = QString("table '%1'").arg(ct.name);
    for (uint32_t p : t.pages)
        if (hit(p)) return Use{p, QStringLiteral("holds the definition of ") + table};

    auto listedIn = [&](uint32_t mapRow) -> uint32_t {
        if (mapRow == 0) return 0;
        for (uint32_t p : f.usageMapPages(mapRow))
            if (hit(p)) return p;
        return 0;
    };
    for (uint32_t m : {t.ownedPagesMap, t.freePagesMap})
        if (const uint32_t p = listedIn(m)) return Use{p, QStringLiteral("is listed among the pages of ") + table};
    for (const TableDef::LongValueMaps& lv : t.longValueMaps)
        for (uint32_t m : {lv.owned, lv.free})
            if (const uint32_t p = listedIn(m)) return Use{p, QStringLiteral("is listed among the Memo/OLE pages of ") + table};

    for (const IndexData& idx : t.indexData) {
        const QString index = QString("index %1 of %2").arg(t.indexName(idx), table);
        if (const uint32_t p = listedIn(idx.usageMap)) return Use{p, QStringLiteral("is listed among the pages of ") + index};
        // Reading a page checks its type, so the walk stops at the first pointer to a page that
        // is no index page; sibling and tail pointers are checked without being followed twice.
        std::set<uint32_t> seen;
        std::vector<uint8_t> buf(size_t(f.pageSize()));
        std::function<std::optional<Use>(uint32_t)> walk = [&](uint32_t pg) -> std::optional<Use> {
            if (pg == 0 || !seen.insert(pg).second) return std::nullopt;
            if (hit(pg)) return Use{pg, QStringLiteral("is part of ") + index};
            const IndexPage ip = JetFile::parseIndexPage(f.pageCopy(pg, buf.data()), f.pageSize(), pg, false);
            for (uint32_t link : {ip.prev, ip.next})
                if (hit(link)) return Use{link, QStringLiteral("is linked from ") + index};
            for (const IndexEntry& e : ip.entries)
                if (ip.type == PageIndexNode)
                    if (auto use = walk(e.child)) return use;
            if (ip.type == PageIndexNode)
                if (auto use = walk(ip.tail)) return use;
            return std::nullopt;
        };
        if (auto use = walk(idx.rootPage)) return use;
    }

    if (!records) return std::nullopt;
    // Live records: where moved ones went and the rows of their Memo/OLE values.
    const JetUnknownPages::PageRead read = [&f](uint32_t p) { return f.page(p); };
    for (uint32_t pg : f.usageMapPages(t.ownedPagesMap)) {
        if (pg >= f.pageCount() || f.pageType(pg) != PageData || rd32(f.page(pg) + 4) != t.firstPage) continue;
        for (int r = 0; r < f.rowCount(pg); ++r) {
            RowSlot s = f.slot(pg, r);
            if (s.deleted) continue;
            RowId at{pg, uint8_t(r)};
            if (s.overflow) {
                at = f.overflowTarget(pg, r);
                if (hit(at.page)) return Use{at.page, QStringLiteral("holds a moved record of ") + table};
                s = f.slot(at.page, at.row);
            }
            const uint8_t* row = f.page(at.page) + s.start;
            if (auto use = recordUse(t, {pg, uint8_t(r)}, at, row, f.crackRow(t, row, s.end - s.start), read,
                                     f.pageSize(), hit))
                return use;
        }
    }
    return std::nullopt;
}

}  // namespace

}  // namespace dao::jet
