#include "JetIndexTree.h"
#include "JetFormat.h"

#include <algorithm>
#include <cstring>

namespace dao::jet {

namespace {

constexpr int kFreeSpace = fmt::kIndexFreeSpace;
constexpr int kMaxDepth = 32;

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// The bytes an entry takes after the page's shared prefix, appended to b.
void appendEntry(QByteArray& b, const IndexEntry& e, int prefix, bool node) {
    b.append(e.key.constData() + prefix, e.key.size() - prefix);
    const char trailer[8] = {char(e.row.page >> 16 & 0xff), char(e.row.page >> 8 & 0xff), char(e.row.page & 0xff),
                             char(e.row.row),               char(e.child >> 24 & 0xff),  char(e.child >> 16 & 0xff),
                             char(e.child >> 8 & 0xff),     char(e.child & 0xff)};
    b.append(trailer, node ? 8 : 4);
}

int entrySize(const IndexEntry& e, bool node) { return int(e.key.size()) + (node ? 8 : 4); }

bool entryLess(const IndexEntry& a, const IndexEntry& b) { return JetFile::compareEntries(a, b) < 0; }

int commonPrefix(const std::vector<IndexEntry>& entries) {
    if (entries.size() < 2) return 0;
    int n = int(entries.front().key.size());
    for (const IndexEntry& e : entries) {
        n = std::min(n, int(e.key.size()));
        int i = 0;
        while (i < n && e.key[i] == entries.front().key[i]) ++i;
        n = i;
    }
    return n;
}

bool sameEntry(const IndexEntry& a, const IndexEntry& b) { return a.key == b.key && a.row == b.row; }

}  // namespace

const IndexPage* ParsedIndexPages::find(uint32_t page, const uint8_t* bytes, int pageSize) const {
    const auto it = pages_.find(page);
    if (it == pages_.end() || it->second.bytes.size() != pageSize ||
        std::memcmp(it->second.bytes.constData(), bytes, size_t(pageSize)) != 0)
        return nullptr;
    return &it->second.parsed;
}

void ParsedIndexPages::keep(uint32_t page, const uint8_t* bytes, int pageSize, const IndexPage& parsed) {
    if (pages_.size() >= kMaxPages && !pages_.count(page)) pages_.clear();  // the leaves an add passed long ago go
    Kept& k = pages_[page];
    k.bytes = QByteArray(reinterpret_cast<const char*>(bytes), pageSize);
    k.parsed = parsed;
}

JetIndexTree::JetIndexTree(Store store, uint32_t root, const QString& name)
    : s_(std::move(store)), root_(root), name_(name) {}

bool JetIndexTree::encodePage(uint8_t* p, int pageSize, uint8_t type, const std::vector<IndexEntry>& entries) {
    const fmt::Layout& L = fmt::layout(pageSize);
    const int kMask = L.indexMask, kMaskSize = L.indexMaskSize, kEntries = L.indexEntries(), kPrefix = L.indexPrefix;
    const bool node = type == PageIndexNode;
    const int room = pageSize - kEntries;
    QByteArray body;
    body.reserve(room + 64);
    std::vector<int> ends;
    ends.reserve(entries.size());
    for (const int prefix : {0, commonPrefix(entries)}) {
        body.resize(0);
        ends.clear();
        for (size_t i = 0; i < entries.size(); ++i) {
            appendEntry(body, entries[i], i == 0 ? 0 : prefix, node);
            ends.push_back(int(body.size()));
        }
        if (body.size() > room || (!ends.empty() && ends.back() >= kMaskSize * 8)) continue;
        if (prefix >= 1 << (8 * L.indexPrefixSize)) continue;
        p[0] = type;
        std::memset(p + kMask, 0, size_t(kMaskSize));
        for (int end : ends) p[kMask + end / 8] |= uint8_t(1 << (end % 8));
        std::memset(p + kEntries, 0, size_t(room));
        std::memcpy(p + kEntries, body.constData(), size_t(body.size()));
        p[kPrefix] = uint8_t(prefix & 0xff);
        if (L.indexPrefixSize == 2) p[kPrefix + 1] = uint8_t(prefix >> 8);
        const int free = room - int(body.size());
        p[kFreeSpace] = uint8_t(free & 0xff);
        p[kFreeSpace + 1] = uint8_t(free >> 8);
        return true;
    }
    return false;
}

bool JetIndexTree::load(uint32_t pageNo, Page& out, QString& why) {
    if (pageNo == 0 || pageNo >= s_.pageCount) {
        why = QString("Index %1 links to page %2, which is outside the file.").arg(name_).arg(pageNo);
        return false;
    }
    try {
        out.number = pageNo;
        const uint8_t* bytes = s_.read(pageNo);
        if (const IndexPage* known = s_.parsed ? s_.parsed->find(pageNo, bytes, s_.pageSize) : nullptr) {
            out.parsed = *known;
            return true;
        }
        out.parsed = JetFile::parseIndexPage(bytes, s_.pageSize, pageNo);
        if (s_.parsed) s_.parsed->keep(pageNo, bytes, s_.pageSize, out.parsed);
    } catch (const FormatError& e) {
        why = QString("Index %1 cannot be read (%2).").arg(name_, e.what());
        return false;
    }
    return true;
}

bool JetIndexTree::descend(const IndexEntry& e, std::vector<Step>& path, Page& leaf, QString& why) {
    uint32_t pg = root_;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        Page p;
        if (!load(pg, p, why)) return false;
        if (p.parsed.type == PageIndexLeaf) {
            leaf = std::move(p);
            return true;
        }
        const auto& entries = p.parsed.entries;
        // The first entry not below e (the entries of a page are in order).
        int slot = int(std::lower_bound(entries.begin(), entries.end(), e, entryLess) - entries.begin());
        const bool tailOnly = p.parsed.tail != 0 && (entries.empty() || entries.back().child != p.parsed.tail);
        uint32_t child = 0;
        if (slot < int(entries.size())) {
            child = entries[size_t(slot)].child;
        } else if (tailOnly) {
            child = p.parsed.tail;  // past every entry: the page below that no entry names yet
        } else if (!entries.empty()) {
            slot = int(entries.size()) - 1;  // becomes the new last entry of the last page
            child = entries.back().child;
        } else {
            why = QString("Index %1 has an empty node page (%2).").arg(name_).arg(pg);
            return false;
        }
        path.push_back({pg, slot});
        pg = child;
    }
    why = QString("Index %1 is deeper than any real index.").arg(name_);
    return false;
}

void JetIndexTree::setLink(uint32_t pageNo, int offset, uint32_t value) { put32(s_.write(pageNo) + offset, value); }

bool JetIndexTree::writePage(uint32_t pageNo, uint8_t type, const std::vector<IndexEntry>& entries, uint32_t prev,
                             uint32_t next, uint32_t tail, QString& why) {
    QByteArray copy(reinterpret_cast<const char*>(s_.read(pageNo)), s_.pageSize);
    auto* p = reinterpret_cast<uint8_t*>(copy.data());
    if (!encodePage(p, s_.pageSize, type, entries)) {
        why = QString("Index %1: an entry does not fit on an index page.").arg(name_);
        return false;
    }
    putPage(pageNo, copy, prev, next, tail);
    return true;
}

void JetIndexTree::putPage(uint32_t pageNo, QByteArray& encoded, uint32_t prev, uint32_t next, uint32_t tail) {
    auto* p = reinterpret_cast<uint8_t*>(encoded.data());
    const fmt::Layout& L = fmt::layout(s_.pageSize);
    put32(p + L.indexPrev, prev);
    put32(p + L.indexNext, next);
    put32(p + L.indexTail, tail);
    std::memcpy(s_.write(pageNo), encoded.constData(), size_t(encoded.size()));
}

uint32_t JetIndexTree::newPage(QString& why) {
    const uint32_t n = s_.allocate ? s_.allocate() : 0;
    if (n == 0) {
        why = QString("Index %1 is full on its page and no new page can be had for it.").arg(name_);
        return 0;
    }
    s_.pageCount = std::max(s_.pageCount, n + 1);
    // A blank page with the index's own header (its table, its flags).
    uint8_t* p = s_.write(n);
    const int kHeaderCopy = fmt::layout(s_.pageSize).indexMask;  // what a new page takes over from the root's header
    QByteArray header(reinterpret_cast<const char*>(s_.read(root_)), kHeaderCopy);
    std::memset(p, 0, size_t(s_.pageSize));
    std::memcpy(p, header.constData(), size_t(kHeaderCopy));
    return n;
}

bool JetIndexTree::store(Page& page, std::vector<IndexEntry> entries, std::vector<Step> path, QString& why) {
    const IndexPage& old = page.parsed;
    const uint8_t type = old.type;
    const bool node = type == PageIndexNode;
    // A node's tail is its last child, unless it leads to a page no entry names yet.
    const bool tailIsLast = node && (old.tail == 0 || (!old.entries.empty() && old.tail == old.entries.back().child));
    auto tailOf = [&](const std::vector<IndexEntry>& part, bool last) -> uint32_t {
        if (!node) return old.tail;
        if (last && !tailIsLast) return old.tail;
        return part.empty() ? 0 : part.back().child;
    };
    QByteArray trial(reinterpret_cast<const char*>(s_.read(page.number)), s_.pageSize);
    if (encodePage(reinterpret_cast<uint8_t*>(trial.data()), s_.pageSize, type, entries)) {
        putPage(page.number, trial, old.prev, old.next, tailOf(entries, true));
        if (path.empty() || entries.empty()) return true;
        // The parent's entry names this page's last entry.
        const Step st = path.back();
        path.pop_back();
        Page parent;
        if (!load(st.page, parent, why)) return false;
        std::vector<IndexEntry> pe = parent.parsed.entries;
        if (st.slot >= int(pe.size()) || sameEntry(pe[size_t(st.slot)], entries.back())) return true;
        pe[size_t(st.slot)].key = entries.back().key;
        pe[size_t(st.slot)].row = entries.back().row;
        return store(parent, std::move(pe), std::move(path), why);
    }
    if (entries.size() < 2) {
        why = QString("Index %1: an entry does not fit on an index page.").arg(name_);
        return false;
    }
    // Halves of about equal bytes.
    size_t total = 0;
    for (const IndexEntry& e : entries) total += size_t(entrySize(e, node));
    size_t k = 0, acc = 0;
    while (k + 1 < entries.size() && acc < total / 2) acc += size_t(entrySize(entries[k++], node));
    k = std::max<size_t>(k, 1);
    const std::vector<IndexEntry> left(entries.begin(), entries.begin() + long(k));
    const std::vector<IndexEntry> right(entries.begin() + long(k), entries.end());
    auto named = [](const std::vector<IndexEntry>& part, uint32_t child) {
        IndexEntry e = part.back();
        e.child = child;
        return e;
    };
    if (path.empty()) {
        // The root keeps its page number: both halves move down.
        const uint32_t l = newPage(why);
        if (!l) return false;
        const uint32_t r = newPage(why);
        if (!r) return false;
        if (!writePage(l, type, left, 0, r, tailOf(left, false), why)) return false;
        if (!writePage(r, type, right, l, 0, tailOf(right, true), why)) return false;
        return writePage(page.number, PageIndexNode, {named(left, l), named(right, r)}, 0, 0, r, why);
    }
    const uint32_t n = newPage(why);
    if (!n) return false;
    if (!writePage(n, type, left, old.prev, page.number, tailOf(left, false), why)) return false;
    if (old.prev) setLink(old.prev, fmt::layout(s_.pageSize).indexNext, n);
    if (!writePage(page.number, type, right, n, old.next, tailOf(right, true), why)) return false;
    const Step st = path.back();
    path.pop_back();
    Page parent;
    if (!load(st.page, parent, why)) return false;
    std::vector<IndexEntry> pe = parent.parsed.entries;
    if (st.slot < int(pe.size())) {
        pe[size_t(st.slot)].key = right.back().key;
        pe[size_t(st.slot)].row = right.back().row;
        pe.insert(pe.begin() + st.slot, named(left, n));
    } else {
        pe.push_back(named(left, n));  // the page stays the tail its parent leads to
    }
    return store(parent, std::move(pe), std::move(path), why);
}

bool JetIndexTree::insert(const IndexEntry& e, QString& why) {
    std::vector<Step> path;
    Page leaf;
    if (!descend(e, path, leaf, why)) return false;
    // Taken over: store() reads only a leaf's links from what was parsed.
    std::vector<IndexEntry> entries = std::move(leaf.parsed.entries);
    const auto pos = std::lower_bound(entries.begin(), entries.end(), e, entryLess);
    IndexEntry added = e;
    added.child = 0;
    entries.insert(pos, added);
    return store(leaf, std::move(entries), std::move(path), why);
}

bool JetIndexTree::unlink(const Page& page, std::vector<Step> path, QString& why) {
    const IndexPage& old = page.parsed;
    const fmt::Layout& L = fmt::layout(s_.pageSize);
    if (old.prev) setLink(old.prev, L.indexNext, old.next);
    if (old.next) setLink(old.next, L.indexPrev, old.prev);
    if (s_.release) s_.release(page.number);
    const Step st = path.back();
    path.pop_back();
    Page parent;
    if (!load(st.page, parent, why)) return false;
    std::vector<IndexEntry> pe = parent.parsed.entries;
    if (st.slot >= int(pe.size())) {
        // The page was the tail no entry named: the parent now ends with its last named page.
        return writePage(parent.number, PageIndexNode, pe, parent.parsed.prev, parent.parsed.next,
                         pe.empty() ? 0 : pe.back().child, why);
    }
    pe.erase(pe.begin() + st.slot);
    if (pe.empty() && (parent.parsed.tail == 0 || parent.parsed.tail == page.number)) {
        if (path.empty())  // the root: an empty leaf again
            return writePage(parent.number, PageIndexLeaf, {}, 0, 0, 0, why);
        return unlink(parent, std::move(path), why);
    }
    return store(parent, std::move(pe), std::move(path), why);
}

bool JetIndexTree::remove(const std::optional<QByteArray>& key, RowId row, QString& why) {
    auto findIn = [&](const Page& leaf) {
        const auto& es = leaf.parsed.entries;
        for (size_t i = 0; i < es.size(); ++i)
            if (es[i].row == row && (!key || es[i].key == *key)) return int(i);
        return -1;
    };
    std::vector<Step> path;
    Page leaf;
    int at = -1;
    if (key) {
        if (!descend({*key, row, 0}, path, leaf, why)) return false;
        at = findIn(leaf);
    }
    if (at < 0) {
        // Not where its key says (or no key known): along the leaves, from the first one.
        path.clear();
        Page p;
        uint32_t pg = root_;
        for (int depth = 0;; ++depth) {
            if (depth >= kMaxDepth || !load(pg, p, why)) {
                if (why.isEmpty()) why = QString("Index %1 is deeper than any real index.").arg(name_);
                return false;
            }
            if (p.parsed.type == PageIndexLeaf) break;
            pg = p.parsed.entries.empty() ? p.parsed.tail : p.parsed.entries.front().child;
        }
        for (size_t hops = 0; at < 0; ++hops) {
            at = findIn(p);
            if (at >= 0) break;
            if (p.parsed.next == 0 || hops > s_.pageCount) {
                why = QString("Index %1 does not list the record; the file is not changed.").arg(name_);
                return false;
            }
            if (!load(p.parsed.next, p, why)) return false;
        }
        // The way down to that leaf, by the entry's full key.
        if (!descend(p.parsed.entries[size_t(at)], path, leaf, why)) return false;
        if (leaf.number != p.number) {
            why = QString("Index %1 does not lead to its own entry; the file is not changed.").arg(name_);
            return false;
        }
        at = findIn(leaf);
    }
    std::vector<IndexEntry> entries = leaf.parsed.entries;
    entries.erase(entries.begin() + at);
    if (entries.empty() && !path.empty()) return unlink(leaf, std::move(path), why);
    return store(leaf, std::move(entries), std::move(path), why);
}

bool JetIndexTree::hasKey(const QByteArray& key, QString& why) {
    std::vector<Step> path;
    Page leaf;
    const IndexEntry probe{key, RowId{0, 0}, 0};
    if (!descend(probe, path, leaf, why)) return false;
    for (uint32_t hops = 0; hops <= s_.pageCount; ++hops) {
        for (const IndexEntry& e : leaf.parsed.entries)
            if (JetFile::compareEntries(e, probe) >= 0) return e.key == key;
        if (leaf.parsed.next == 0 || !load(leaf.parsed.next, leaf, why)) return false;
    }
    return false;
}

}  // namespace dao::jet
