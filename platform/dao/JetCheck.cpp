#include "JetCheck.h"
#include "JetFormat.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "JetDecrypt.h"
#include "JetFile.h"
#include "JetIndexKey.h"
#include "JetLocks.h"
#include "JetPageJournal.h"
#include "JetUnknownPages.h"

namespace dao::jet {

namespace {

constexpr int kMaxIndexDepth = 32;
constexpr uint32_t kGlobalFreeMap = 1u << 8;  // page 1, row 0

QString versionName(JetVersion v) {
    switch (v) {
        case JetVersion::Jet3: return QStringLiteral("Jet 3");
        case JetVersion::Jet4: return QStringLiteral("Jet 4");
        case JetVersion::Ace12: return QStringLiteral("ACE 12");
        case JetVersion::Ace14: return QStringLiteral("ACE 14");
        case JetVersion::Newer: return QStringLiteral("ACE (newer)");
    }
    return {};
}

QString pageTypeName(uint8_t t) {
    switch (t) {
        case PageHeader: return QStringLiteral("header");
        case PageData: return QStringLiteral("data");
        case PageTableDef: return QStringLiteral("table definition");
        case PageIndexNode: return QStringLiteral("index node");
        case PageIndexLeaf: return QStringLiteral("index leaf");
        case PageUsageMap: return QStringLiteral("usage map");
        default: return QString("unknown type 0x%1").arg(t, 2, 16, QChar('0'));
    }
}

QString rowText(RowId r) { return QString("%1:%2").arg(r.page).arg(r.row); }

int compareEntries(const IndexEntry& a, const IndexEntry& b) { return JetFile::compareEntries(a, b); }

struct LiveRow {
    RowId id;        // where the index points (the row's first place)
    RowId dataAt;    // where its bytes are (after an overflow pointer)
};

class Checker {
public:
    Checker(const JetFile& f, CheckReport& rep) : f_(f), rep_(rep) {}

    void run(const QString& path) {
        rep_.lines << QString("file: %1 (%2, %3 pages of %4 bytes, sort order %5)")
                          .arg(path, versionName(f_.version()))
                          .arg(f_.pageCount())
                          .arg(f_.pageSize())
                          .arg(f_.sortOrder());
        censusPages();
        std::vector<CatalogTable> tables;
        try {
            tables = f_.catalog();
        } catch (const FormatError& e) {
            fault(QString("the catalog (MSysObjects) cannot be read: %1").arg(e.what()));
            return;
        }
        std::sort(tables.begin(), tables.end(),
                  [](const CatalogTable& a, const CatalogTable& b) { return a.tdefPage < b.tdefPage; });
        int checked = 0;
        for (const CatalogTable& ct : tables) {
            checkTable(ct);
            ++checked;
        }
        checkLongValuePages();
        rep_.lines << QString("check: %1 tables, %2 fault(s)").arg(checked).arg(rep_.faults);
    }

private:
    void fault(const QString& what) {
        rep_.lines << "FAULT: " + what;
        ++rep_.faults;
    }
    // A state Access itself leaves in files it reads without complaint: no data is lost or misread.
    void note(const QString& what) {
        rep_.lines << "NOTE: " + what;
        ++rep_.notes;
    }

    void censusPages() {
        std::map<uint8_t, int> counts;
        for (uint32_t p = 0; p < f_.pageCount(); ++p) {
            const uint8_t t = f_.pageType(p);
            ++counts[t];
            if (t == PageData) dataPagesOf_[rd32(f_.page(p) + 4)].push_back(p);
        }
        QStringList parts;
        for (const auto& [t, n] : counts) parts << QString("%1 %2").arg(n).arg(pageTypeName(t));
        rep_.lines << "pages: " + parts.join(", ");
        if (f_.pageType(0) != PageHeader) fault("page 0 is not the header page");
        // The file's map of free pages: pages a table gave back keep their old contents.
        if (!freeMapFitsTheFile()) return;
        try {
            for (uint32_t p : JetUnknownPages::freePages(f_)) freePages_.insert(p);
        } catch (const FormatError& e) {
            fault(QString("the free-page map cannot be read: %1").arg(e.what()));
        }
    }

    // Pages past the end of the file count as free. Access leaves bits past the end marked in use
    // and lists of map pages naming a page the file does not have (read as listing nothing); false
    // only when the map's window runs past the last page number a file can have.
    bool freeMapFitsTheFile() {
        const uint32_t n = f_.pageCount();
        const uint8_t* m = nullptr;
        int len = 0;
        try {
            const RowId at = RowId::fromWord(kGlobalFreeMap);
            if (f_.pageType(at.page) != PageData) return true;  // reported when the map is read
            const RowSlot s = f_.slot(at.page, at.row);
            m = f_.page(at.page) + s.start;
            len = s.end - s.start;
        } catch (const FormatError&) {
            return true;
        }
        if (len < 5 || m[0] > 1) return true;
        if (m[0] == 0) {
            const uint64_t first = rd32(m + 1);
            const uint64_t span = uint64_t(len - 5) * 8;
            if (first + span > (uint64_t(1) << 32)) {
                fault(QString("the free-page map covers pages %1 to %2, past the last page number a file can have")
                          .arg(first)
                          .arg(first + span - 1));
                return false;
            }
            uint64_t inUse = 0, firstInUse = 0;
            for (uint64_t i = 0; i < span; ++i) {
                if (first + i < n || (m[5 + i / 8] >> (i % 8) & 1)) continue;
                if (!inUse++) firstInUse = first + i;
            }
            if (inUse)
                note(QString("the free-page map marks %1 page(s) past the end of the file (%2 pages) as in use, from page %3")
                         .arg(inUse)
                         .arg(n)
                         .arg(firstInUse));
            return true;
        }
        std::vector<uint32_t> outside;
        try {
            JetUnknownPages::freePages(f_, &outside);
        } catch (const FormatError&) {
            // reported when the map is read
        }
        for (uint32_t mp : outside)
            note(QString("the free-page map refers to map page %1, past the end of the file (%2 pages)").arg(mp).arg(n));
        return true;
    }

    // Row offsets inside the page, rows not overlapping, the free-space field right.
    void checkDataPage(uint32_t p) {
        try {
            const int n = f_.rowCount(p);
            int lowest = f_.pageSize();
            for (int r = 0; r < n; ++r) {
                const RowSlot s = f_.slot(p, r);
                if (s.end > lowest)
                    fault(QString("data page %1: row %2 overlaps the row before it").arg(p).arg(r));
                lowest = std::min(lowest, s.start);
            }
            const int free = rd16(f_.page(p) + 2);
            const int expected = lowest - (fmt::layout(f_.pageSize()).dataRowTable + 2 * n);
            if (free != expected)
                fault(QString("data page %1: free space says %2 bytes, the rows leave %3").arg(p).arg(free).arg(expected));
        } catch (const FormatError& e) {
            fault(QString("data page %1: %2").arg(p).arg(e.what()));
        }
    }

    void checkTable(const CatalogTable& ct) {
        const QString label = QString("table %1").arg(ct.name);
        TableDef t;
        try {
            if (f_.pageType(ct.tdefPage) != PageTableDef) {
                fault(QString("%1: its definition page %2 has type %3").arg(label).arg(ct.tdefPage).arg(f_.pageType(ct.tdefPage)));
                return;
            }
            t = f_.readTableDef(ct.tdefPage, ct.name);
        } catch (const FormatError& e) {
            fault(QString("%1: the definition cannot be read: %2").arg(label, e.what()));
            return;
        }
        QStringList notes;
        notes << QString("definition %1 page(s), %2 columns, %3 index(es)")
                     .arg(t.pages.size())
                     .arg(t.columns.size())
                     .arg(t.indexes.size());
        if (t.parsedLength != t.definitionLength)
            fault(QString("%1: the definition declares %2 bytes, %3 were parsed").arg(label).arg(t.definitionLength).arg(t.parsedLength));

        // The table's pages are the ones its usage map marks.
        std::vector<uint32_t> dataPages;
        if (!checkUsageMaps(t, label, dataPages, notes)) return;
        checkLongValueMaps(t, label);
        for (uint32_t p : dataPages) checkDataPage(p);

        // Rows.
        std::vector<LiveRow> live;
        std::set<RowId> liveIds;
        int deleted = 0;
        std::map<RowId, int> pointedTo;  // rows holding moved records' data, by pointers to them
        std::set<RowId> dataRows;        // rows with the deleted flag alone (0x8000)
        for (uint32_t p : dataPages) {
            int n = 0;
            try {
                n = f_.rowCount(p);
            } catch (const FormatError&) {
                continue;  // reported with the page
            }
            for (int r = 0; r < n; ++r) {
                try {
                    const RowSlot s = f_.slot(p, r);
                    if (s.deleted) {
                        if (!s.overflow) dataRows.insert({p, uint8_t(r)});
                        ++deleted;
                        continue;
                    }
                    LiveRow lr{{p, uint8_t(r)}, {p, uint8_t(r)}};
                    if (s.overflow) {
                        lr.dataAt = f_.overflowTarget(p, r);
                        ++pointedTo[lr.dataAt];
                        if (rd32(f_.page(lr.dataAt.page) + 4) != t.firstPage)
                            fault(QString("%1: record %2 points to %3, a page of another table").arg(label, rowText(lr.id), rowText(lr.dataAt)));
                    }
                    live.push_back(lr);
                    liveIds.insert(lr.id);
                } catch (const FormatError& e) {
                    fault(QString("%1: row %2:%3: %4").arg(label).arg(p).arg(r).arg(e.what()));
                }
            }
        }
        // A moved record's data lies in a row with the deleted flag alone, so that a scan meets the
        // record once; libmdb and mdb-reader take such rows for records, so each must be one.
        for (const auto& [row, n] : pointedTo) {
            if (n > 1) fault(QString("%1: %2 records point to the data in %3").arg(label).arg(n).arg(rowText(row)));
            if (!dataRows.count(row))
                fault(QString("%1: the data of a moved record, %2, does not carry the deleted flag alone").arg(label, rowText(row)));
        }
        for (const RowId& row : dataRows)
            if (!pointedTo.count(row))
                fault(QString("%1: row %2 has the deleted flag without 0x4000 and no record points to it (libmdb and "
                              "mdb-reader read it as a record)")
                          .arg(label, rowText(row)));
        if (!pointedTo.empty()) notes << QString("%1 moved record(s)").arg(pointedTo.size());
        // Readers go by the pages, never by the count, and Access leaves it stale.
        if (t.rowCount != live.size())
            note(QString("%1: the definition counts %2 records, the pages hold %3").arg(label).arg(t.rowCount).arg(live.size()));
        notes << QString("%1 records%2").arg(live.size()).arg(t.rowCount == live.size() ? " (count matches)" : "");

        // Every live row cracks; long values read back whole, from rows of their column's pages that
        // no other value uses.
        std::map<int, std::set<uint32_t>> columnPages;
        for (const ColumnDef& c : t.columns)
            if (c.isLongValue()) columnPages[c.number] = longValueMapPages(t, c, label);
        std::vector<std::vector<FieldRef>> fields(live.size());
        std::vector<const uint8_t*> rowBytes(live.size(), nullptr);
        int longValues = 0;
        for (size_t i = 0; i < live.size(); ++i) {
            try {
                const RowSlot s = f_.slot(live[i].dataAt.page, live[i].dataAt.row);
                const uint8_t* row = f_.page(live[i].dataAt.page) + s.start;
                fields[i] = f_.crackRow(t, row, s.end - s.start);
                rowBytes[i] = row;
                for (size_t c = 0; c < t.columns.size(); ++c) {
                    const FieldRef& fr = fields[i][c];
                    if (!t.columns[c].isLongValue() || !fr.present) continue;
                    try {
                        std::vector<RowId> rows;
                        f_.readLongValue(row + fr.offset, fr.size, &rows);
                        ++longValues;
                        const QString user = QString("%1: record at %2, %3").arg(label, rowText(live[i].id), t.columns[c].name);
                        for (const RowId& r : rows) {
                            const auto [it, fresh] = longValueUsers_.emplace(r, user);
                            if (!fresh)
                                fault(QString("%1: its value uses long-value row %2, which %3 uses too").arg(user, rowText(r), it->second));
                            else if (!columnPages[t.columns[c].number].count(r.page))
                                fault(QString("%1: its value lies on page %2, which the field's page map does not mark")
                                          .arg(user)
                                          .arg(r.page));
                        }
                    } catch (const FormatError& e) {
                        fault(QString("%1: record at %2, %3: %4").arg(label, rowText(live[i].id), t.columns[c].name, e.what()));
                    }
                }
            } catch (const FormatError& e) {
                fault(QString("%1: record at %2 cannot be read: %3").arg(label, rowText(live[i].id), e.what()));
            }
        }
        if (longValues) notes << QString("%1 long value(s) read back").arg(longValues);

        // The definition keeps the highest AutoNumber handed out.
        for (size_t c = 0; c < t.columns.size(); ++c) {
            if (!t.columns[c].isAutoNumber() || t.columns[c].type != ColLong) continue;
            int64_t highest = 0;
            for (size_t i = 0; i < live.size(); ++i)
                if (rowBytes[i] && fields[i][c].present && fields[i][c].size == 4)
                    highest = std::max<int64_t>(highest, int32_t(rd32(rowBytes[i] + fields[i][c].offset)));
            if (highest > int64_t(t.nextAutoNumber))
                fault(QString("%1: the AutoNumber %2 is at %3, below the table's highest value %4")
                          .arg(label, t.columns[c].name).arg(t.nextAutoNumber).arg(highest));
            else
                notes << QString("AutoNumber %1 at %2").arg(t.columns[c].name).arg(t.nextAutoNumber);
        }

        // Indexes.
        for (const IndexData& idx : t.indexData) checkIndex(t, idx, label, live, liveIds, fields, rowBytes, notes);

        rep_.lines << QString("%1: %2").arg(label, notes.join("; "));
    }

    // The long-value pages a Memo/OLE column's map marks (each must be one).
    std::set<uint32_t> longValueMapPages(const TableDef& t, const ColumnDef& c, const QString& label) {
        std::set<uint32_t> out;
        const uint32_t map = t.longValuePagesMap(c.number);
        if (map == 0) return out;
        try {
            for (uint32_t p : f_.usageMapPages(map)) {
                if (p >= f_.pageCount() || f_.pageType(p) != PageData || std::memcmp(f_.page(p) + 4, "LVAL", 4) != 0)
                    fault(QString("%1: the page map of field %2 marks page %3, which is no long-value page").arg(label, c.name).arg(p));
                else
                    out.insert(p);
            }
            for (const TableDef::LongValueMaps& m : t.longValueMaps)
                if (m.column == c.number && m.free != 0)
                    for (uint32_t p : f_.usageMapPages(m.free))
                        if (!out.count(p))
                            fault(QString("%1: the map of field %2's pages with room marks page %3, which the field does not own")
                                      .arg(label, c.name)
                                      .arg(p));
        } catch (const FormatError& e) {
            fault(QString("%1: the page map of field %2: %3").arg(label, c.name, e.what()));
        }
        return out;
    }

    // Long-value pages: rows laid out like any data page's; rows no value uses are counted.
    void checkLongValuePages() {
        int pages = 0, used = 0, unused = 0;
        for (uint32_t p = 0; p < f_.pageCount(); ++p) {
            if (f_.pageType(p) != PageData || std::memcmp(f_.page(p) + 4, "LVAL", 4) != 0) continue;
            ++pages;
            checkDataPage(p);
            try {
                for (int r = 0, n = f_.rowCount(p); r < n; ++r) {
                    if (f_.slot(p, r).deleted) continue;
                    if (longValueUsers_.count({p, uint8_t(r)})) ++used;
                    else ++unused;
                }
            } catch (const FormatError&) {
                // reported with the page
            }
        }
        rep_.lines << QString("long-value pages: %1, %2 row(s) in use, %3 row(s) no value uses").arg(pages).arg(used).arg(unused);
    }

    // Fills dataPages with the table's pages; false when its maps cannot be read.
    bool checkUsageMaps(const TableDef& t, const QString& label, std::vector<uint32_t>& dataPages, QStringList& notes) {
        std::vector<uint32_t> owned, free;
        try {
            owned = f_.usageMapPages(t.ownedPagesMap);
            free = f_.usageMapPages(t.freePagesMap);
        } catch (const FormatError& e) {
            fault(QString("%1: usage map: %2").arg(label, e.what()));
            return false;
        }
        const std::set<uint32_t> ownedSet(owned.begin(), owned.end());
        int bad = 0;
        for (uint32_t p : owned) {
            if (p >= f_.pageCount() || f_.pageType(p) != PageData || rd32(f_.page(p) + 4) != t.firstPage) {
                fault(QString("%1: its usage map marks page %2, which is no data page of the table").arg(label).arg(p));
                ++bad;
            } else if (freePages_.count(p)) {
                fault(QString("%1: page %2 is both the table's and free").arg(label).arg(p));
                ++bad;
            } else {
                dataPages.push_back(p);
            }
        }
        // Access leaves pages of deleted rows outside every map; a live record there is one every
        // reader misses.
        for (uint32_t p : dataPagesOf_[t.firstPage])
            if (!ownedSet.count(p) && !freePages_.count(p)) {
                if (holdsLiveRows(p)) {
                    fault(QString("%1: data page %2 holds its rows but neither its usage map nor the free-page map has it").arg(label).arg(p));
                    ++bad;
                } else {
                    note(QString("%1: data page %2 holds deleted rows of it only and no map has it").arg(label).arg(p));
                }
            }
        for (uint32_t p : free)
            if (!ownedSet.count(p)) {
                fault(QString("%1: its free-space map marks page %2, which the table does not own").arg(label).arg(p));
                ++bad;
            }
        if (!bad) notes << QString("usage map %1 page(s), matches").arg(owned.size());
        return true;
    }

    bool holdsLiveRows(uint32_t p) const {
        try {
            for (int r = 0, n = f_.rowCount(p); r < n; ++r)
                if (!f_.slot(p, r).deleted) return true;
        } catch (const FormatError&) {
            return true;  // cannot tell: judged as holding records
        }
        return false;
    }

    // Each Memo/OLE column's maps list long-value pages, the pages with room among them.
    void checkLongValueMaps(const TableDef& t, const QString& label) {
        for (const TableDef::LongValueMaps& m : t.longValueMaps) {
            const ColumnDef* c = t.columnByNumber(m.column);
            const QString name = QString("%1: the long-value map of %2").arg(label, c ? c->name : QString("#%1").arg(m.column));
            try {
                // A column without long-value pages may have no maps at all.
                const std::vector<uint32_t> owned = m.owned ? f_.usageMapPages(m.owned) : std::vector<uint32_t>();
                const std::set<uint32_t> ownedSet(owned.begin(), owned.end());
                for (uint32_t pg : owned)
                    if (pg >= f_.pageCount() || f_.pageType(pg) != PageData || std::memcmp(f_.page(pg) + 4, "LVAL", 4) != 0)
                        fault(QString("%1 lists page %2, which is no long-value page").arg(name).arg(pg));
                for (uint32_t pg : m.free ? f_.usageMapPages(m.free) : std::vector<uint32_t>())
                    if (!ownedSet.count(pg)) fault(QString("%1 has page %2 with room, which it does not list").arg(name).arg(pg));
            } catch (const FormatError& e) {
                fault(QString("%1: %2").arg(name, e.what()));
            }
        }
    }

    // Walks the B-tree from its root: entries in order, node entries naming the last entry below
    // them, the leaf chain linked both ways, every live record indexed exactly once.
    void checkIndex(const TableDef& t, const IndexData& idx, const QString& label, const std::vector<LiveRow>& live,
                    const std::set<RowId>& liveIds, const std::vector<std::vector<FieldRef>>& fields,
                    const std::vector<const uint8_t*>& rowBytes, QStringList& notes) {
        const QString name = QString("%1: index %2").arg(label, t.indexName(idx));
        const int faultsBefore = rep_.faults;
        std::vector<IndexEntry> entries;
        std::vector<uint32_t> leaves;
        std::set<uint32_t> visited;
        std::function<bool(uint32_t, int)> visit = [&](uint32_t pg, int depth) -> bool {
            if (depth > kMaxIndexDepth) {
                fault(name + ": the tree is deeper than any real index");
                return false;
            }
            if (!visited.insert(pg).second) {
                fault(QString("%1: page %2 is reached twice").arg(name).arg(pg));
                return false;
            }
            IndexPage ip;
            try {
                ip = f_.readIndexPage(pg);
            } catch (const FormatError& e) {
                fault(QString("%1: %2").arg(name, e.what()));
                return false;
            }
            const int room = f_.pageSize() - fmt::layout(f_.pageSize()).indexEntries();
            if (ip.freeSpace != room - ip.usedBytes)
                fault(QString("%1: index page %2 says %3 bytes free, its entries leave %4")
                          .arg(name).arg(pg).arg(ip.freeSpace).arg(room - ip.usedBytes));
            if (ip.type == PageIndexLeaf) {
                leaves.push_back(pg);
                for (IndexEntry& e : ip.entries) entries.push_back(std::move(e));
                return true;
            }
            for (const IndexEntry& e : ip.entries) {
                if (!visit(e.child, depth + 1)) return false;
                if (entries.empty() || compareEntries(entries.back(), e) != 0)
                    fault(QString("%1: node page %2 names an entry (row %3) that is not the last one below it")
                              .arg(name).arg(pg).arg(rowText(e.row)));
            }
            if (ip.tail && !visited.count(ip.tail) && !visit(ip.tail, depth + 1)) return false;
            return true;
        };
        if (idx.rootPage == 0) {
            fault(name + ": it has no root page");
            return;
        }
        if (!visit(idx.rootPage, 0)) return;
        // The index's own map lists the pages of its tree, and only index pages of this table.
        try {
            const std::vector<uint32_t> mapped = f_.usageMapPages(idx.usageMap);
            const std::set<uint32_t> listed(mapped.begin(), mapped.end());
            for (uint32_t pg : visited)
                if (!listed.count(pg)) fault(QString("%1: its page %2 is not in the index's map").arg(name).arg(pg));
            for (uint32_t pg : mapped)
                if (pg >= f_.pageCount() || (f_.pageType(pg) != PageIndexNode && f_.pageType(pg) != PageIndexLeaf) ||
                    rd32(f_.page(pg) + 4) != t.firstPage)
                    fault(QString("%1: its map lists page %2, which is no index page of the table").arg(name).arg(pg));
        } catch (const FormatError& e) {
            fault(QString("%1: its map: %2").arg(name, e.what()));
        }

        // Leaf chain.
        for (size_t i = 0; i < leaves.size(); ++i) {
            try {
                const IndexPage ip = f_.readIndexPage(leaves[i]);
                const uint32_t prev = i ? leaves[i - 1] : 0;
                const uint32_t next = i + 1 < leaves.size() ? leaves[i + 1] : 0;
                if (ip.prev != prev || ip.next != next)
                    fault(QString("%1: leaf page %2 links to %3/%4 instead of %5/%6")
                              .arg(name).arg(leaves[i]).arg(ip.prev).arg(ip.next).arg(prev).arg(next));
            } catch (const FormatError&) {
            }
        }

        // Order and uniqueness.
        for (size_t i = 1; i < entries.size(); ++i) {
            const int c = compareEntries(entries[i - 1], entries[i]);
            if (c >= 0) {
                fault(QString("%1: entry %2 (row %3) is not after the one before it").arg(name).arg(i).arg(rowText(entries[i].row)));
                break;
            }
            if (idx.unique() && entries[i - 1].key == entries[i].key && !isNullKey(entries[i].key, idx))
                fault(QString("%1: the unique index holds one key twice (rows %2 and %3)")
                          .arg(name, rowText(entries[i - 1].row), rowText(entries[i].row)));
        }

        // Entries against records.
        std::map<RowId, const IndexEntry*> byRow;
        for (const IndexEntry& e : entries) {
            if (!liveIds.count(e.row)) {
                fault(QString("%1: an entry points to %2, which is no live record").arg(name, rowText(e.row)));
                continue;
            }
            if (!byRow.emplace(e.row, &e).second) fault(QString("%1: record %2 is listed twice").arg(name, rowText(e.row)));
        }
        int compared = 0, unencoded = 0;
        bool encodable = true;
        for (const IndexColumn& ic : idx.columns)
            if (const ColumnDef* c = t.columnByNumber(ic.columnNumber); !c || !JetIndexKey::encodable(*c)) encodable = false;
        for (size_t i = 0; i < live.size(); ++i) {
            if (!rowBytes[i]) continue;
            const bool allNull = std::all_of(idx.columns.begin(), idx.columns.end(), [&](const IndexColumn& ic) {
                const ColumnDef* c = t.columnByNumber(ic.columnNumber);
                return c && c->type != ColBoolean && !fields[i][size_t(c - t.columns.data())].present;
            });
            const auto it = byRow.find(live[i].id);
            if (idx.ignoresNulls() && allNull) {
                if (it != byRow.end()) fault(QString("%1: record %2 is all Null but listed").arg(name, rowText(live[i].id)));
                continue;
            }
            if (it == byRow.end()) {
                fault(QString("%1: record %2 is missing").arg(name, rowText(live[i].id)));
                continue;
            }
            if (encodable) {
                const auto key = JetIndexKey::encode(t, idx, rowBytes[i], fields[i]);
                if (!key)
                    ++unencoded;
                else if (*key != it->second->key)
                    fault(QString("%1: the key of record %2 is %3, the record says %4")
                              .arg(name, rowText(live[i].id), QString::fromLatin1(it->second->key.toHex()),
                                   QString::fromLatin1(key->toHex())));
                else
                    ++compared;
            } else if (!idx.columns.empty()) {
                // Text keys: at least the first column's Null flag must agree with the record.
                const ColumnDef* c = t.columnByNumber(idx.columns[0].columnNumber);
                const bool present = fields[i][size_t(c - t.columns.data())].present;
                const uint8_t flag = it->second->key.isEmpty() ? 0 : uint8_t(it->second->key[0]);
                const bool flagSaysNull = flag == (idx.columns[0].ascending ? 0x00 : 0xFF);
                if (c->type != ColBoolean && present == flagSaysNull)
                    fault(QString("%1: record %2 is %3 but its key says otherwise")
                              .arg(name, rowText(live[i].id), present ? "not Null" : "Null"));
            }
        }
        if (rep_.faults == faultsBefore)
            notes << QString("index %1: %2 entries in %3 leaf page(s), in order%4")
                         .arg(t.indexName(idx))
                         .arg(entries.size())
                         .arg(leaves.size())
                         .arg(encodable ? QString(", %1 keys match").arg(compared) +
                                              (unencoded ? QString(", %1 not compared (no exact key for them)").arg(unencoded) : QString())
                                        : QString(", text keys not decoded"));
    }

    static bool isNullKey(const QByteArray& key, const IndexData& idx) {
        // A key made of Null flags only (one byte per column).
        if (key.size() != int(idx.columns.size())) return false;
        for (size_t i = 0; i < idx.columns.size(); ++i)
            if (uint8_t(key[int(i)]) != (idx.columns[i].ascending ? 0x00 : 0xFF)) return false;
        return true;
    }

    const JetFile& f_;
    CheckReport& rep_;
    std::map<uint32_t, std::vector<uint32_t>> dataPagesOf_;
    std::set<uint32_t> freePages_;
    std::map<RowId, QString> longValueUsers_;  // long-value row -> the value that uses it
};

}  // namespace

CheckReport JetCheck::run(const QString& path, const QString& readFrom) {
    CheckReport rep;
    std::unique_ptr<JetFile> f;
    // Between writers' batches, so that no half-written batch of a live writer shows as faults; a
    // writer that keeps the lock longer (or this process's own) is not waited for.
    const auto lock = JetWriteLock::forFile(path);
    const bool locked = !lock->held() && lock->tryLock(2000);
    struct Unlock {
        JetWriteLock& l;
        bool on;
        ~Unlock() {
            if (on) l.unlock();
        }
    } unlock{*lock, locked};
    if (!locked)
        rep.lines << QStringLiteral("note: another writer is at work on the file; what it has half written may show as faults");
    // A pending journal: the file is checked as the next writer's recovery will leave it.
    QTemporaryDir scratch;
    QString checked = path;
    const QString journal = QDir::toNativeSeparators(JetPageJournal::journalPath(path));
    // A decrypted copy stands for a file Tabulon never writes: no journal of ours can be pending.
    if (!readFrom.isEmpty()) checked = readFrom;
    switch (JetPageJournal::Pending p = readFrom.isEmpty() ? JetPageJournal::inspect(path) : JetPageJournal::Pending{};
            p.state) {
        case JetPageJournal::Pending::None: break;
        case JetPageJournal::Pending::Incomplete:
            rep.lines << QString("journal: '%1' is pending but incomplete (the write stopped before any page was "
                                 "written); it will be dropped, the file is checked as it is")
                             .arg(journal);
            break;
        case JetPageJournal::Pending::Foreign:
            rep.lines << QString("journal: '%1' is pending but does not belong to the file as it is now (%2); it "
                                 "will be set aside, not applied, and the file is checked as it is")
                             .arg(journal, p.reason);
            break;
        case JetPageJournal::Pending::Fits: {
            const QString copy = scratch.filePath("rolled-back");
            if (scratch.isValid() && QFile::copy(path, copy) &&
                QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner) &&
                JetPageJournal::rollBackCopy(path, copy)) {
                checked = copy;
                rep.lines << QString("journal: '%1' is pending (a write was interrupted); the next writer rolls it "
                                     "back, and the file is checked as that leaves it")
                                 .arg(journal);
            } else {
                rep.lines << QString("journal: '%1' is pending (a write was interrupted) and cannot be applied to a "
                                     "copy; the file is checked as it is")
                                 .arg(journal);
            }
            break;
        }
    }
    // A file the reader cannot open at all is one fault.
    auto open = [&](const QString& file) {
        try {
            f = JetFile::open(file);
            return true;
        } catch (const FormatError& e) {
            rep.lines << QString("FAULT: %1").arg(e.what());
            rep.faults = 1;
            rep.complete = false;
            return false;
        }
    };
    if (!open(checked)) return rep;
    if (f->encoded() && (f->version() == JetVersion::Jet4 || f->isJet3())) {
        // Encoded with the key the header holds: decoded into a copy, which is what is checked.
        const QString decoded = scratch.filePath("decoded");
        QString why;
        if (!scratch.isValid() || decodeJetCopy(checked, decoded, &why) != DecryptResult::Ok) {
            rep.lines << QString("file: %1: its pages are RC4-encoded and cannot be decoded (%2)").arg(path, why);
            rep.complete = false;
            return rep;
        }
        if (!open(decoded)) return rep;
    }
    if (f->encoded()) {
        rep.lines << QString("file: %1: its pages are encrypted; the check reads them only with the file's password")
                         .arg(path);
        rep.complete = false;
        return rep;
    }
    try {
        Checker(*f, rep).run(path);
    } catch (const FormatError& e) {
        rep.lines << QString("FAULT: %1").arg(e.what());
        ++rep.faults;
    }
    return rep;
}

}  // namespace dao::jet
