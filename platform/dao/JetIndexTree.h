#pragma once

// Inserts and removes entries in an index's B-tree of leaf (0x04) and node (0x03) pages. A node
// entry names the last entry below it and the page it leads to; pages of one level are linked both
// ways. A page that overflows is split: a new page takes its first half and the parent gets an entry
// for it; a root that overflows hands both halves to new pages and becomes their node, so the root
// page the table definition names never moves. Pages are written without a shared prefix when the
// entries fit that way (as Access writes small pages) and with the entries' common prefix otherwise.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "JetFile.h"

namespace dao::jet {

// The index pages a writer's trees have parsed and changed. Every add descends the same few node
// pages and changes the same leaf; parsing them again and encoding them anew for every record was
// most of an add's cost. A page the open batch changed is kept parsed only (its bytes in the batch
// are stale) and encoded once, when the batch goes to the file (writeBack). A page not changed is
// parsed again when its bytes differ from the ones kept (another process's batch). Each change a
// statement makes is kept too, so that a statement taken back takes back its changes here as the
// pager does with the bytes.
class IndexPageCache {
public:
    struct Page {
        uint32_t number = 0;
        IndexPage parsed;    // prefixLength, freeSpace and usedBytes are as parsed, not kept up
        QByteArray bytes;    // what it was parsed from or encoded to; stale while dirty
        bool dirty = false;  // entries or links changed: encoded at writeBack
        // The entries' key bytes and shared prefix, as layoutOf needs them after every change:
        // kept up by the changes below, and forgotten (measured again) when they cannot be.
        struct Fit {
            bool keysKnown = false, sharedKnown = false;
            long long keys = 0;
            int shared = 0;
        };
        mutable Fit fit;
    };
    // The page parsed from the batch's bytes, or as kept; throws FormatError.
    Page& get(uint32_t page, const uint8_t* bytes, int pageSize);
    // A page a tree just made: no entries yet, dirty.
    Page& create(uint32_t page, uint8_t type);
    // Changes of a page's entries, each kept for the statement's undo; they make the page dirty.
    // True when it was not dirty yet: the caller makes the batch's copy of the page, so that the
    // pager holds it among the batch's pages.
    bool insertEntry(Page& p, size_t at, IndexEntry e);
    bool eraseEntry(Page& p, size_t at);
    bool setEntry(Page& p, size_t at, const IndexEntry& from);  // its key and row
    bool setTail(Page& p, uint32_t tail);
    // Any other change (splits, links): the whole page kept first. dirty: its entries or links
    // change (else only its bytes, by the caller). True as above.
    bool touch(Page& p, bool dirty);

    void beginStatement() { undo_.clear(); }
    void endStatement() { undo_.clear(); }
    void abortStatement();
    // Encodes every dirty page into its page of the batch (write), links included; the pages are
    // then kept as clean. Throws FormatError when a page's entries do not fit it.
    void writeBack(int pageSize, const std::function<uint8_t*(uint32_t)>& write);
    // The batch's changes dropped; clear() forgets every page (the file was read afresh).
    void discard();
    void clear();
    // Lets clean pages go when many are kept; only between tree operations (they hold pages).
    void trim();

private:
    static constexpr size_t kMaxPages = 1024;
    // One change of the statement, undone newest first. An add changes a leaf by one entry: keeping
    // that entry, not the page's hundreds, keeps the undo cheap.
    struct Undo {
        enum Kind : uint8_t { Whole, Inserted, Erased, Set, Tail };
        Undo(Kind k, uint32_t pg, size_t i = 0) : kind(k), page(pg), at(i) {}
        Kind kind;
        uint32_t page;
        size_t at;
        bool wasDirty = false;
        QByteArray bytes;          // the page's kept bytes before
        uint32_t tail = 0;         // Tail: the tail before
        IndexEntry entry;          // Erased: the entry; Set: the key and row before
        std::optional<Page> whole; // Whole: the page before (none: not kept)
    };
    bool dirtied(Undo&& u, Page& p);
    std::unordered_map<uint32_t, Page> pages_;
    std::vector<Undo> undo_;
    size_t dirtyCount_ = 0;
};

class JetIndexTree {
public:
    // How the tree reaches the file's pages.
    struct Store {
        int pageSize = 4096;
        std::function<const uint8_t*(uint32_t)> read;  // a page as the batch left it
        std::function<uint8_t*(uint32_t)> write;       // the batch's own copy of a page
        std::function<uint32_t()> allocate;            // a new page for the index; 0 when none can be had
        std::function<void(uint32_t)> release;         // a page the index gave up (may be empty)
        uint32_t pageCount = 0;                        // pages a link may name (new ones included)
        // Where the tree keeps parsed pages and its changes, encoded only at the cache's
        // writeBack; without one, each insert or remove encodes its pages before it returns.
        IndexPageCache* pages = nullptr;
    };

    JetIndexTree(Store store, uint32_t root, const QString& name);
    // The name built only for a refusal (every add builds a tree per index).
    JetIndexTree(Store store, uint32_t root, std::function<QString()> name);

    // Adds an entry in its place; false with the reason when the tree cannot take it (a page that
    // would need splitting when no page can be had, a tree that does not read as one).
    bool insert(const IndexEntry& e, QString& why);
    // Removes the entry pointing to row; key, when known, finds it by descent, otherwise the leaves
    // are searched. False with the reason when no entry points to row.
    bool remove(const std::optional<QByteArray>& key, RowId row, QString& why);
    // Whether an entry holds exactly this key.
    bool hasKey(const QByteArray& key, QString& why);

    // Writes the entries of one page (keys sorted) into p: type, entries, mask, prefix and free
    // space; the header's links are left as they are. False when they do not fit.
    static bool encodePage(uint8_t* p, int pageSize, uint8_t type, const std::vector<IndexEntry>& entries);

    // The encoding that encodePage uses for the entries: the shared prefix's length, or -1 when
    // they do not fit a page.
    static int layoutOf(int pageSize, uint8_t type, const std::vector<IndexEntry>& entries);
    // The same for a kept page's entries, from what it keeps of them.
    static int layoutOf(int pageSize, const IndexPageCache::Page& page);

private:
    using Page = IndexPageCache::Page;
    struct Step {
        uint32_t page = 0;
        int slot = 0;  // the node entry followed (the entry count: the page's tail)
    };
    Page* load(uint32_t pageNo, QString& why);
    // Before a page's entries or links change (the statement's undo, the batch's copy).
    void change(Page& p);
    // The leaf where e belongs and the way down to it.
    Page* descend(const IndexEntry& e, std::vector<Step>& path, QString& why);
    // The page's entries were changed: splits it when they do not fit, and keeps the parents'
    // entries naming its last entry. tailWasLast: the node's tail was its last child before.
    bool store(Page& page, bool tailWasLast, std::vector<Step> path, QString& why);
    bool writePage(uint32_t pageNo, uint8_t type, std::vector<IndexEntry> entries, uint32_t prev, uint32_t next,
                   uint32_t tail, QString& why);
    bool setLink(uint32_t pageNo, bool next, uint32_t value, QString& why);
    // Takes an empty page out of its level and its parent.
    bool unlink(Page& page, std::vector<Step> path, QString& why);
    uint32_t newPage(QString& why);
    // Without the caller's cache: the operation's pages to the store, or dropped.
    bool finish(bool ok);

    Store s_;
    uint32_t root_;
    std::function<QString()> name_;
    QString name() const { return name_(); }
    std::unique_ptr<IndexPageCache> own_;  // when the store brings none
    IndexPageCache* pages_ = nullptr;
};

}  // namespace dao::jet
