#pragma once

// A table's records read from the file's pages by our own page reader instead of libmdb's row
// fetching, which is most of what a conversion costs. The records come in the order libmdb lists them
// (JetRowMover::readerOrder: page by page, a moved record where its data lies), so either way gives
// the same working copy; libmdb still reads the catalog and the definitions, and takes any table
// this reader does not know how to read. A table's pages are looked at as its records are read, so
// the first of them do not wait for a pass over the whole table.
//
// Every offset comes through JetFile's checked reads: a damaged page ends the table with a
// FormatError, never a read outside the file.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dao/JetFile.h"

namespace dao::jet {

class NativeRows {
public:
    // nullptr when the file's pages are not to be read here. A file with RC4-encoded pages is read
    // from a decoded copy written to scratch and removed once mapped.
    static std::unique_ptr<NativeRows> open(const char* path, const char* scratch);
    ~NativeRows();

    // A column as libmdb lists it: the table's rows must have the same columns for this reader to
    // take it.
    struct Column {
        std::string name;  // UTF-8
        int type = 0;
        bool fixed = false;
        int place = 0;  // fixed: its offset in the fixed-length area; else its variable-length entry
        int size = 0;
    };

    // The records of one table, one at a time.
    class Table {
    public:
        // Moves to the next record; false after the last. Throws FormatError when its page or row
        // is damaged.
        bool next();
        // The field of libmdb's column i in the current record (present: not NULL; for Yes/No the
        // value), its bytes and how many bytes of its page follow them.
        const FieldRef& field(size_t i) const { return fields_[size_t(columnAt_[i])]; }
        const uint8_t* bytes(const FieldRef& f) const { return row_ + f.offset; }
        int room(const FieldRef& f) const { return int(pageEnd_ - row_) - f.offset; }
        // A Memo or OLE value's bytes from its 12-byte header; throws FormatError for a broken chain.
        std::string longValue(const FieldRef& f) const;

    private:
        friend class NativeRows;
        const JetFile* file_ = nullptr;
        TableDef def_;
        std::vector<int> columnAt_;  // libmdb's column -> def_.columns
        std::vector<uint32_t> pages_;  // the table's pages, in order
        size_t pageAt_ = 0;            // the next of them to look at
        const uint8_t* page_ = nullptr;
        std::vector<int> rowsHere_;    // the rows of the page being read that hold a record's data
        size_t rowAt_ = 0;
        uint32_t pagesRead_ = 0;
        void nextPage();
        const uint8_t* row_ = nullptr;
        const uint8_t* pageEnd_ = nullptr;
        std::vector<FieldRef> fields_;
        RowLayout layout_;
    };

    // The table defined at tdefPage, for reading; nullptr when its definition, as this reader
    // understands it, does not give libmdb's columns (the table is then read through libmdb).
    // Throws FormatError when its map of pages cannot be read.
    std::unique_ptr<Table> table(uint32_t tdefPage, const std::vector<Column>& columns) const;

private:
    NativeRows() = default;
    std::unique_ptr<JetFile> file_;
};

}  // namespace dao::jet
