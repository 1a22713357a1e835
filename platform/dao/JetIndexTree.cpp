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
    // Entries in order all share what the first and the last share (asked for every add that fills
    // a page); entries out of order are measured one by one.
    const QByteArray& first = entries.front().key;
    const QByteArray& last = entries.back().key;
    int shared = 0;
    const int most = int(std::min(first.size(), last.size()));
    while (shared < most && first[shared] == last[shared]) ++shared;
    bool sharedByAll = true;
    for (const IndexEntry& e : entries)
        if (e.key.size() < shared || std::memcmp(e.key.constData(), first.constData(), size_t(shared)) != 0) {
            sharedByAll = false;
            break;
        }
    if (sharedByAll) return shared;
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

int sharedLength(const QByteArray& a, const QByteArray& b) {
    const qsizetype most = std::min(a.size(), b.size());
    qsizetype i = 0;
    while (i < most && a[i] == b[i]) ++i;
    return int(i);
}

// The prefix written: 0 when the entries fit whole, the shared one when only it makes them fit, -1
// when they do not fit.
template <class Shared>
int layoutFor(int pageSize, uint8_t type, long long keys, long long n, Shared shared) {
    const fmt::Layout& L = fmt::layout(pageSize);
    const int room = pageSize - L.indexEntries();
    const int trailer = type == PageIndexNode ? 8 : 4;
    auto fits = [&](int prefix) {
        // Every entry but the first leaves the shared prefix out; the last one ends the body.
        const long long body = keys + n * trailer - (n > 1 ? (n - 1) * prefix : 0);
        return body <= room && (n == 0 || body < L.indexMaskSize * 8) && prefix < 1 << (8 * L.indexPrefixSize);
    };
    if (fits(0)) return 0;
    const int prefix = shared();
    return prefix > 0 && fits(prefix) ? prefix : -1;
}

}  // namespace

IndexPageCache::Page& IndexPageCache::get(uint32_t page, const uint8_t* bytes, int pageSize) {
    const auto it = pages_.find(page);
    if (it != pages_.end() &&
        (it->second.dirty || (it->second.bytes.size() == pageSize &&
                              std::memcmp(it->second.bytes.constData(), bytes, size_t(pageSize)) == 0)))
        return it->second;
    IndexPage parsed = JetFile::parseIndexPage(bytes, pageSize, page);
    Page& k = pages_[page];
    k.number = page;
    k.parsed = std::move(parsed);
    k.fit = {};
    k.bytes = QByteArray(reinterpret_cast<const char*>(bytes), pageSize);
    return k;
}

IndexPageCache::Page& IndexPageCache::create(uint32_t page, uint8_t type) {
    const auto it = pages_.find(page);
    Undo u{Undo::Whole, page};
    if (it != pages_.end()) u.whole = it->second;
    undo_.push_back(std::move(u));
    Page& k = pages_[page];
    if (!k.dirty) ++dirtyCount_;
    k = Page();
    k.number = page;
    k.parsed.type = type;
    k.dirty = true;
    return k;
}

bool IndexPageCache::dirtied(Undo&& u, Page& p) {
    u.page = p.number;
    u.wasDirty = p.dirty;
    u.bytes = p.bytes;
    undo_.push_back(std::move(u));
    if (p.dirty) return false;
    p.dirty = true;
    p.bytes.clear();
    ++dirtyCount_;
    return true;
}

bool IndexPageCache::insertEntry(Page& p, size_t at, IndexEntry e) {
    auto& es = p.parsed.entries;
    Page::Fit& f = p.fit;
    if (f.keysKnown) f.keys += e.key.size();
    // What all share is what the others share and what the new key shares with any one of them.
    if (f.sharedKnown && !es.empty())
        f.shared = es.size() == 1 ? sharedLength(e.key, es.front().key)
                                  : std::min(f.shared, sharedLength(e.key, es.front().key));
    es.insert(es.begin() + long(at), std::move(e));
    return dirtied({Undo::Inserted, 0, at}, p);
}

bool IndexPageCache::eraseEntry(Page& p, size_t at) {
    Undo u{Undo::Erased, 0, at};
    u.entry = std::move(p.parsed.entries[at]);
    p.parsed.entries.erase(p.parsed.entries.begin() + long(at));
    if (p.fit.keysKnown) p.fit.keys -= u.entry.key.size();
    p.fit.sharedKnown = false;  // may grow
    return dirtied(std::move(u), p);
}

bool IndexPageCache::setEntry(Page& p, size_t at, const IndexEntry& from) {
    auto& es = p.parsed.entries;
    IndexEntry& e = es[at];
    Page::Fit& f = p.fit;
    if (f.keysKnown) f.keys += from.key.size() - e.key.size();
    if (f.sharedKnown && es.size() >= 2) {
        // Unless the key replaced was the one sharing least, the others still share f.shared.
        const QByteArray& other = es[at == 0 ? 1 : 0].key;
        if (sharedLength(e.key, other) > f.shared)
            f.shared = std::min(f.shared, sharedLength(from.key, other));
        else
            f.sharedKnown = false;
    }
    Undo u{Undo::Set, 0, at};
    u.entry.key = std::exchange(e.key, from.key);
    u.entry.row = std::exchange(e.row, from.row);
    return dirtied(std::move(u), p);
}

bool IndexPageCache::setTail(Page& p, uint32_t tail) {
    Undo u{Undo::Tail, 0, 0};
    u.tail = std::exchange(p.parsed.tail, tail);
    return dirtied(std::move(u), p);
}

bool IndexPageCache::touch(Page& p, bool dirty) {
    Undo u{Undo::Whole, p.number};
    u.whole = p;
    undo_.push_back(std::move(u));
    p.fit = {};  // the caller changes the entries at will
    if (!dirty || p.dirty) return false;
    p.dirty = true;
    p.bytes.clear();
    ++dirtyCount_;
    return true;
}

void IndexPageCache::abortStatement() {
    for (auto u = undo_.rbegin(); u != undo_.rend(); ++u) {
        const auto it = pages_.find(u->page);
        if (u->kind == Undo::Whole) {
            if (it != pages_.end()) {
                if (it->second.dirty) --dirtyCount_;
                pages_.erase(it);
            }
            if (u->whole) {
                if (u->whole->dirty) ++dirtyCount_;
                pages_.emplace(u->page, std::move(*u->whole));
            }
            continue;
        }
        if (it == pages_.end()) continue;  // cannot be: a page changed stays until writeBack
        Page& p = it->second;
        auto& es = p.parsed.entries;
        p.fit = {};
        switch (u->kind) {
            case Undo::Inserted: es.erase(es.begin() + long(u->at)); break;
            case Undo::Erased: es.insert(es.begin() + long(u->at), std::move(u->entry)); break;
            case Undo::Set:
                es[u->at].key = std::move(u->entry.key);
                es[u->at].row = u->entry.row;
                break;
            case Undo::Tail: p.parsed.tail = u->tail; break;
            case Undo::Whole: break;
        }
        if (p.dirty != u->wasDirty) {
            p.dirty = u->wasDirty;
            if (p.dirty) ++dirtyCount_; else --dirtyCount_;
        }
        p.bytes = std::move(u->bytes);
    }
    undo_.clear();
}

void IndexPageCache::writeBack(int pageSize, const std::function<uint8_t*(uint32_t)>& write) {
    undo_.clear();
    if (dirtyCount_ == 0) return;
    const fmt::Layout& L = fmt::layout(pageSize);
    for (auto& [number, page] : pages_) {
        if (!page.dirty) continue;
        uint8_t* p = write(number);
        const IndexPage& ip = page.parsed;
        if (!JetIndexTree::encodePage(p, pageSize, ip.type, ip.entries))
            throw FormatError("index page " + std::to_string(number) + " cannot hold its entries");
        put32(p + L.indexPrev, ip.prev);
        put32(p + L.indexNext, ip.next);
        put32(p + L.indexTail, ip.tail);
        page.bytes = QByteArray(reinterpret_cast<const char*>(p), pageSize);
        page.dirty = false;
        --dirtyCount_;
    }
}

void IndexPageCache::discard() {
    undo_.clear();
    if (dirtyCount_ == 0) return;
    for (auto it = pages_.begin(); it != pages_.end();) it = it->second.dirty ? pages_.erase(it) : std::next(it);
    dirtyCount_ = 0;
}

void IndexPageCache::clear() {
    undo_.clear();
    pages_.clear();
    dirtyCount_ = 0;
}

void IndexPageCache::trim() {
    if (pages_.size() < kMaxPages) return;
    // The leaves an add passed long ago go; the batch's changes stay.
    for (auto it = pages_.begin(); it != pages_.end();) it = it->second.dirty ? std::next(it) : pages_.erase(it);
}

JetIndexTree::JetIndexTree(Store store, uint32_t root, const QString& name)
    : JetIndexTree(std::move(store), root, std::function<QString()>([name] { return name; })) {}

JetIndexTree::JetIndexTree(Store store, uint32_t root, std::function<QString()> name)
    : s_(std::move(store)), root_(root), name_(std::move(name)) {
    pages_ = s_.pages;
    if (!pages_) {
        own_ = std::make_unique<IndexPageCache>();
        pages_ = own_.get();
    }
}

int JetIndexTree::layoutOf(int pageSize, uint8_t type, const std::vector<IndexEntry>& entries) {
    long long keys = 0;
    for (const IndexEntry& e : entries) keys += e.key.size();
    return layoutFor(pageSize, type, keys, (long long)(entries.size()), [&] { return commonPrefix(entries); });
}

int JetIndexTree::layoutOf(int pageSize, const IndexPageCache::Page& page) {
    const std::vector<IndexEntry>& entries = page.parsed.entries;
    Page::Fit& f = page.fit;
    if (!f.keysKnown) {
        f.keys = 0;
        for (const IndexEntry& e : entries) f.keys += e.key.size();
        f.keysKnown = true;
    }
    return layoutFor(pageSize, page.parsed.type, f.keys, (long long)(entries.size()), [&] {
        if (!f.sharedKnown) {
            f.shared = commonPrefix(entries);
            f.sharedKnown = true;
        }
        return f.shared;
    });
}

bool JetIndexTree::encodePage(uint8_t* p, int pageSize, uint8_t type, const std::vector<IndexEntry>& entries) {
    const int prefix = layoutOf(pageSize, type, entries);
    if (prefix < 0) return false;
    const fmt::Layout& L = fmt::layout(pageSize);
    const int kMask = L.indexMask, kMaskSize = L.indexMaskSize, kEntries = L.indexEntries(), kPrefix = L.indexPrefix;
    const bool node = type == PageIndexNode;
    const int room = pageSize - kEntries;
    QByteArray body;
    body.reserve(room + 64);
    p[0] = type;
    std::memset(p + kMask, 0, size_t(kMaskSize));
    for (size_t i = 0; i < entries.size(); ++i) {
        appendEntry(body, entries[i], i == 0 ? 0 : prefix, node);
        const int end = int(body.size());
        p[kMask + end / 8] |= uint8_t(1 << (end % 8));
    }
    std::memset(p + kEntries, 0, size_t(room));
    std::memcpy(p + kEntries, body.constData(), size_t(body.size()));
    p[kPrefix] = uint8_t(prefix & 0xff);
    if (L.indexPrefixSize == 2) p[kPrefix + 1] = uint8_t(prefix >> 8);
    const int free = room - int(body.size());
    p[kFreeSpace] = uint8_t(free & 0xff);
    p[kFreeSpace + 1] = uint8_t(free >> 8);
    return true;
}

JetIndexTree::Page* JetIndexTree::load(uint32_t pageNo, QString& why) {
    if (pageNo == 0 || pageNo >= s_.pageCount) {
        why = QString("Index %1 links to page %2, which is outside the file.").arg(name()).arg(pageNo);
        return nullptr;
    }
    try {
        return &pages_->get(pageNo, s_.read(pageNo), s_.pageSize);
    } catch (const FormatError& e) {
        why = QString("Index %1 cannot be read (%2).").arg(name(), e.what());
        return nullptr;
    }
}

void JetIndexTree::change(Page& p) {
    if (pages_->touch(p, true)) s_.write(p.number);
}

bool JetIndexTree::finish(bool ok) {
    if (own_) {
        if (ok) {
            try {
                own_->writeBack(s_.pageSize, s_.write);
            } catch (const FormatError&) {
                ok = false;
            }
        }
        own_->clear();
    }
    return ok;
}

JetIndexTree::Page* JetIndexTree::descend(const IndexEntry& e, std::vector<Step>& path, QString& why) {
    uint32_t pg = root_;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        Page* p = load(pg, why);
        if (!p) return nullptr;
        if (p->parsed.type == PageIndexLeaf) return p;
        const auto& entries = p->parsed.entries;
        // The first entry not below e (the entries of a page are in order).
        int slot = int(std::lower_bound(entries.begin(), entries.end(), e, entryLess) - entries.begin());
        const bool tailOnly = p->parsed.tail != 0 && (entries.empty() || entries.back().child != p->parsed.tail);
        uint32_t child = 0;
        if (slot < int(entries.size())) {
            child = entries[size_t(slot)].child;
        } else if (tailOnly) {
            child = p->parsed.tail;  // past every entry: the page below that no entry names yet
        } else if (!entries.empty()) {
            slot = int(entries.size()) - 1;  // becomes the new last entry of the last page
            child = entries.back().child;
        } else {
            why = QString("Index %1 has an empty node page (%2).").arg(name()).arg(pg);
            return nullptr;
        }
        path.push_back({pg, slot});
        pg = child;
    }
    why = QString("Index %1 is deeper than any real index.").arg(name());
    return nullptr;
}

bool JetIndexTree::setLink(uint32_t pageNo, bool next, uint32_t value, QString& why) {
    Page* p = load(pageNo, why);
    if (!p) return false;
    pages_->touch(*p, false);
    (next ? p->parsed.next : p->parsed.prev) = value;
    if (p->dirty) return true;  // written with its entries
    // A page not encoded anew keeps its bytes but for the link (a leaf Access wrote stays as it is).
    const int at = next ? fmt::layout(s_.pageSize).indexNext : fmt::layout(s_.pageSize).indexPrev;
    put32(s_.write(pageNo) + at, value);
    put32(reinterpret_cast<uint8_t*>(p->bytes.data()) + at, value);
    return true;
}

bool JetIndexTree::writePage(uint32_t pageNo, uint8_t type, std::vector<IndexEntry> entries, uint32_t prev,
                             uint32_t next, uint32_t tail, QString& why) {
    if (layoutOf(s_.pageSize, type, entries) < 0) {
        why = QString("Index %1: an entry does not fit on an index page.").arg(name());
        return false;
    }
    Page* p = load(pageNo, why);
    if (!p) return false;
    change(*p);
    p->parsed.type = type;
    p->parsed.entries = std::move(entries);
    p->parsed.prev = prev;
    p->parsed.next = next;
    p->parsed.tail = tail;
    return true;
}

uint32_t JetIndexTree::newPage(QString& why) {
    const uint32_t n = s_.allocate ? s_.allocate() : 0;
    if (n == 0) {
        why = QString("Index %1 is full on its page and no new page can be had for it.").arg(name());
        return 0;
    }
    s_.pageCount = std::max(s_.pageCount, n + 1);
    // A blank page with the index's own header (its table, its flags); what the header's other
    // fields hold is written with the entries.
    uint8_t* p = s_.write(n);
    const int kHeaderCopy = fmt::layout(s_.pageSize).indexMask;  // what a new page takes over from the root's header
    QByteArray header(reinterpret_cast<const char*>(s_.read(root_)), kHeaderCopy);
    std::memset(p, 0, size_t(s_.pageSize));
    std::memcpy(p, header.constData(), size_t(kHeaderCopy));
    pages_->create(n, PageIndexLeaf);
    return n;
}

namespace {

// A node's tail is its last child, unless it leads to a page no entry names yet.
bool tailIsLast(const IndexPage& p) {
    return p.type == PageIndexNode && (p.tail == 0 || (!p.entries.empty() && p.tail == p.entries.back().child));
}

}  // namespace

bool JetIndexTree::store(Page& page, bool tailWasLast, std::vector<Step> path, QString& why) {
    IndexPage& cur = page.parsed;
    const uint8_t type = cur.type;
    const bool node = type == PageIndexNode;
    const uint32_t oldTail = cur.tail, oldPrev = cur.prev, oldNext = cur.next;
    auto tailOf = [&](const std::vector<IndexEntry>& part, bool last) -> uint32_t {
        if (!node) return oldTail;
        if (last && !tailWasLast) return oldTail;
        return part.empty() ? 0 : part.back().child;
    };
    if (layoutOf(s_.pageSize, page) >= 0) {
        if (const uint32_t tail = tailOf(cur.entries, true); tail != cur.tail && pages_->setTail(page, tail))
            s_.write(page.number);
        if (path.empty() || cur.entries.empty()) return true;
        // The parent's entry names this page's last entry.
        const Step st = path.back();
        path.pop_back();
        Page* parent = load(st.page, why);
        if (!parent) return false;
        std::vector<IndexEntry>& pe = parent->parsed.entries;
        if (st.slot >= int(pe.size()) || sameEntry(pe[size_t(st.slot)], cur.entries.back())) return true;
        const bool parentTailWasLast = tailIsLast(parent->parsed);
        if (pages_->setEntry(*parent, size_t(st.slot), cur.entries.back())) s_.write(parent->number);
        return store(*parent, parentTailWasLast, std::move(path), why);
    }
    if (cur.entries.size() < 2) {
        why = QString("Index %1: an entry does not fit on an index page.").arg(name());
        return false;
    }
    const uint32_t number = page.number;
    const std::vector<IndexEntry> entries = cur.entries;  // page may move in the cache below
    // Halves of about equal bytes.
    size_t total = 0;
    for (const IndexEntry& e : entries) total += size_t(entrySize(e, node));
    size_t k = 0, acc = 0;
    while (k + 1 < entries.size() && acc < total / 2) acc += size_t(entrySize(entries[k++], node));
    k = std::max<size_t>(k, 1);
    std::vector<IndexEntry> left(entries.begin(), entries.begin() + long(k));
    std::vector<IndexEntry> right(entries.begin() + long(k), entries.end());
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
        const IndexEntry ln = named(left, l), rn = named(right, r);
        const uint32_t lt = tailOf(left, false), rt = tailOf(right, true);
        if (!writePage(l, type, std::move(left), 0, r, lt, why)) return false;
        if (!writePage(r, type, std::move(right), l, 0, rt, why)) return false;
        return writePage(number, PageIndexNode, {ln, rn}, 0, 0, r, why);
    }
    const uint32_t n = newPage(why);
    if (!n) return false;
    const IndexEntry ln = named(left, n);
    const IndexEntry last = right.back();
    const uint32_t lt = tailOf(left, false), rt = tailOf(right, true);
    if (!writePage(n, type, std::move(left), oldPrev, number, lt, why)) return false;
    if (oldPrev && !setLink(oldPrev, true, n, why)) return false;
    if (!writePage(number, type, std::move(right), n, oldNext, rt, why)) return false;
    const Step st = path.back();
    path.pop_back();
    Page* parent = load(st.page, why);
    if (!parent) return false;
    const bool parentTailWasLast = tailIsLast(parent->parsed);
    change(*parent);
    std::vector<IndexEntry>& pe = parent->parsed.entries;
    if (st.slot < int(pe.size())) {
        pe[size_t(st.slot)].key = last.key;
        pe[size_t(st.slot)].row = last.row;
        pe.insert(pe.begin() + st.slot, ln);
    } else {
        pe.push_back(ln);  // the page stays the tail its parent leads to
    }
    return store(*parent, parentTailWasLast, std::move(path), why);
}

bool JetIndexTree::insert(const IndexEntry& e, QString& why) {
    pages_->trim();
    std::vector<Step> path;
    Page* leaf = descend(e, path, why);
    if (!leaf) return finish(false);
    const std::vector<IndexEntry>& entries = leaf->parsed.entries;
    const auto pos = std::lower_bound(entries.begin(), entries.end(), e, entryLess);
    IndexEntry added = e;
    added.child = 0;
    if (pages_->insertEntry(*leaf, size_t(pos - entries.begin()), std::move(added))) s_.write(leaf->number);
    return finish(store(*leaf, false, std::move(path), why));
}

bool JetIndexTree::unlink(Page& page, std::vector<Step> path, QString& why) {
    // The page keeps the entries it had: only the tree forgets it.
    const uint32_t number = page.number, prev = page.parsed.prev, next = page.parsed.next;
    if (prev && !setLink(prev, true, next, why)) return false;
    if (next && !setLink(next, false, prev, why)) return false;
    if (s_.release) s_.release(number);
    const Step st = path.back();
    path.pop_back();
    Page* parent = load(st.page, why);
    if (!parent) return false;
    const IndexPage& pp = parent->parsed;
    if (st.slot >= int(pp.entries.size())) {
        // The page was the tail no entry named: the parent now ends with its last named page.
        return writePage(parent->number, PageIndexNode, pp.entries, pp.prev, pp.next,
                         pp.entries.empty() ? 0 : pp.entries.back().child, why);
    }
    if (pp.entries.size() == 1 && (pp.tail == 0 || pp.tail == number)) {
        if (path.empty())  // the root: an empty leaf again
            return writePage(parent->number, PageIndexLeaf, {}, 0, 0, 0, why);
        return unlink(*parent, std::move(path), why);
    }
    const bool tailWasLast = tailIsLast(pp);
    if (pages_->eraseEntry(*parent, size_t(st.slot))) s_.write(parent->number);
    return store(*parent, tailWasLast, std::move(path), why);
}

bool JetIndexTree::remove(const std::optional<QByteArray>& key, RowId row, QString& why) {
    pages_->trim();
    auto findIn = [&](const Page& leaf) {
        const auto& es = leaf.parsed.entries;
        for (size_t i = 0; i < es.size(); ++i)
            if (es[i].row == row && (!key || es[i].key == *key)) return int(i);
        return -1;
    };
    std::vector<Step> path;
    Page* leaf = nullptr;
    int at = -1;
    if (key) {
        leaf = descend({*key, row, 0}, path, why);
        if (!leaf) return finish(false);
        at = findIn(*leaf);
    }
    if (at < 0) {
        // Not where its key says (or no key known): along the leaves, from the first one.
        path.clear();
        Page* p = nullptr;
        uint32_t pg = root_;
        for (int depth = 0;; ++depth) {
            if (depth >= kMaxDepth || !(p = load(pg, why))) {
                if (why.isEmpty()) why = QString("Index %1 is deeper than any real index.").arg(name());
                return finish(false);
            }
            if (p->parsed.type == PageIndexLeaf) break;
            pg = p->parsed.entries.empty() ? p->parsed.tail : p->parsed.entries.front().child;
        }
        for (size_t hops = 0; at < 0; ++hops) {
            at = findIn(*p);
            if (at >= 0) break;
            if (p->parsed.next == 0 || hops > s_.pageCount) {
                why = QString("Index %1 does not list the record; the file is not changed.").arg(name());
                return finish(false);
            }
            if (!(p = load(p->parsed.next, why))) return finish(false);
        }
        // The way down to that leaf, by the entry's full key.
        const IndexEntry found = p->parsed.entries[size_t(at)];
        leaf = descend(found, path, why);
        if (!leaf) return finish(false);
        if (leaf->number != p->number) {
            why = QString("Index %1 does not lead to its own entry; the file is not changed.").arg(name());
            return finish(false);
        }
        at = findIn(*leaf);
    }
    if (leaf->parsed.entries.size() == 1 && !path.empty()) return finish(unlink(*leaf, std::move(path), why));
    if (pages_->eraseEntry(*leaf, size_t(at))) s_.write(leaf->number);
    return finish(store(*leaf, false, std::move(path), why));
}

bool JetIndexTree::hasKey(const QByteArray& key, QString& why) {
    pages_->trim();
    std::vector<Step> path;
    const IndexEntry probe{key, RowId{0, 0}, 0};
    Page* leaf = descend(probe, path, why);
    if (!leaf) return false;
    for (uint32_t hops = 0; hops <= s_.pageCount; ++hops) {
        const auto& es = leaf->parsed.entries;
        const auto at = std::lower_bound(es.begin(), es.end(), probe, entryLess);
        if (at != es.end()) return at->key == key;
        if (leaf->parsed.next == 0 || !(leaf = load(leaf->parsed.next, why))) return false;
    }
    return false;
}

}  // namespace dao::jet
