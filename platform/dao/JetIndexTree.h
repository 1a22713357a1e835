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
#include <optional>
#include <unordered_map>
#include <vector>

#include "JetFile.h"

namespace dao::jet {

// Index pages parsed before, each kept with the bytes it was parsed from. Every add descends the
// same few node pages; parsing them (hundreds of keys each) again for every record was most of an
// add's cost, and it grew with each level the tree gained. A page is parsed again only when its
// bytes differ from the ones kept, whoever changed them (this tree, a statement taken back,
// another process's batch).
class ParsedIndexPages {
public:
    const IndexPage* find(uint32_t page, const uint8_t* bytes, int pageSize) const;
    void keep(uint32_t page, const uint8_t* bytes, int pageSize, const IndexPage& parsed);

private:
    struct Kept {
        QByteArray bytes;
        IndexPage parsed;
    };
    static constexpr size_t kMaxPages = 256;
    std::unordered_map<uint32_t, Kept> pages_;
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
        ParsedIndexPages* parsed = nullptr;            // pages parsed before, when the caller keeps them
    };

    JetIndexTree(Store store, uint32_t root, const QString& name);

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

private:
    struct Step {
        uint32_t page = 0;
        int slot = 0;  // the node entry followed (the entry count: the page's tail)
    };
    struct Page {
        uint32_t number = 0;
        IndexPage parsed;
    };
    bool load(uint32_t pageNo, Page& out, QString& why);
    // The leaf where e belongs and the way down to it.
    bool descend(const IndexEntry& e, std::vector<Step>& path, Page& leaf, QString& why);
    // Writes a page's new entries, splitting it when they do not fit, and keeps the parents' entries
    // naming its last entry.
    bool store(Page& page, std::vector<IndexEntry> entries, std::vector<Step> path, QString& why);
    bool writePage(uint32_t pageNo, uint8_t type, const std::vector<IndexEntry>& entries, uint32_t prev,
                   uint32_t next, uint32_t tail, QString& why);
    // The page's bytes encoded already (encodePage) into the batch, with its links.
    void putPage(uint32_t pageNo, QByteArray& encoded, uint32_t prev, uint32_t next, uint32_t tail);
    void setLink(uint32_t pageNo, int offset, uint32_t value);
    // Takes an empty page out of its level and its parent.
    bool unlink(const Page& page, std::vector<Step> path, QString& why);
    uint32_t newPage(QString& why);

    Store s_;
    uint32_t root_;
    QString name_;
};

}  // namespace dao::jet
