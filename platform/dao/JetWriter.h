#pragma once

// Changes a Jet 4 / ACE file in place, mirroring what the engine does to its working copy.
//
// The working copy gets temporary triggers: an update of a record hands the old and new values to
// the writer, which finds the record in the file (its values must be the old ones), rebuilds it on
// its page and keeps the page until the engine's batch commits; then all changed pages go to the
// file through the page journal. A change the writer cannot make raises an error inside the update,
// so the working copy does not change either. What it does now: edits of fixed- and
// variable-length fields (a record that outgrows its page moves to another one, see JetRowMover),
// deletes, and adds (into a page of the table's free-space map, or a new page at the end of the
// file; a Long AutoNumber takes the table's next number, which the working copy then shows);
// every index is kept, in B-trees of any number of pages (keys of numbers, currency, dates,
// yes/no, and text whose characters have known sort codes, see JetIndexTree); Memo/OLE values of
// any length (JetLongValueWriter). What it cannot write yet is
// refused with the reason (error 3027).

#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "JetFile.h"
#include "JetIndexTree.h"
#include "JetFormat.h"
#include "JetPager.h"
#include "JetLongValueWriter.h"
#include "JetValueCodec.h"

struct sqlite3;

namespace dao::jet {

class JetPageAllocator;

class JetWriter {
public:
    // One writer per file in the process, so that connections share its pending pages.
    static std::shared_ptr<JetWriter> forFile(const QString& path);
    ~JetWriter();

    // Registers the functions, the triggers on every table of the working copy and the guard
    // against design changes on db. copyKey names the working copy: its rowids stand for the
    // records the file held when the copy was made, in the order the reader copied them.
    void attach(sqlite3* db, const QString& copyKey);
    // The first half of attach: the records of the file, in the order the reader copied them into
    // the working copy copyKey (done once per copy; attach does it when it was not done before).
    // Takes the file's write lock while it reads.
    void mapCopy(const QString& copyKey);
    // The authorizer attach installs (design changes of the file's tables refused), for a connection
    // that installs one of its own and passes the other actions on to it.
    static int authorizeDesign(void* data, int action, const char* a3, const char* a4, const char* dbName,
                               const char* trigger);

    // What the SQLite functions of one connection carry: its working copy and the values its
    // trigger is handing over.
    struct Binding {
        JetWriter* writer = nullptr;
        int copy = 0;
        std::vector<JetValue> stagedOld, stagedNew;
        int staged = 0;  // values staged so far for the current row
        std::optional<qint64> givenAutoNumber;  // by the last add
        std::optional<QByteArray> givenGuid;    // a replication ID, by the last add
        long long echoRowid = 0;                // the working copy's record about to take it
    };

    // Around each write statement of the engine: a failed statement takes back its own pages.
    void beginStatement();
    void endStatement();
    void abortStatement();
    // The batch: written to the file (throws dao::Error on failure, the file then unchanged) or
    // dropped.
    void flush();
    void discard();
    bool hasPending() const;

    // Applies the staged update of a record; false with an error number and reason when refused.
    bool apply(Binding& b, int table, long long rowid, int& errorNumber, QString& why);
    // Adds the record whose values were staged (as new values) under the working copy's rowid.
    bool insert(Binding& b, int table, long long rowid, int& errorNumber, QString& why);
    // Why records cannot be added to the table, or empty.
    QString whyCannotAdd(const QString& table);
    // Deletes the record whose values were staged (as old values).
    bool remove(Binding& b, int table, long long rowid, int& errorNumber, QString& why);

    // Starts looking for the file's pages of unknown types in the background, which the first
    // change needs: on a large file that scan would otherwise hold it up. Called while a working
    // copy is filled, when no one else writes the file; a result the file has changed since (read
    // afresh before the first change) is not used.
    void scanAhead();

    // Error texts raised from inside SQLite carry this prefix and the error number.
    static constexpr const char* kErrorPrefix = "jet-error ";

private:
    explicit JetWriter(const QString& path);
    struct Table {
        TableDef def;
        bool system = false;
        std::vector<int> columnOf;     // working copy column -> index in def.columns (-1 none)
        std::vector<QString> sqlNames; // working copy column names
        bool gone = false;             // no longer in the file (another program dropped it)
        // A record of the table's layout with every field Null, made at the first add after the
        // definition was read.
        mutable QByteArray emptyRow;
    };
    // Other processes write the file too: a batch starts at the pager (the write lock), and when
    // the pager read the file afresh the table definitions are read again (reload).
    void enterBatch();
    void reload();
    const uint8_t* pageBytes(uint32_t page) const { return pager_.read(page); }
    // Where things are in this file's pages.
    const fmt::Layout& layout() const;
    uint8_t* pendingPage(uint32_t page) { return pager_.write(page); }
    bool hasPage(uint32_t page) const { return pager_.has(page); }

    // New pages at the end of the file, pending with the batch (a failed statement takes them back;
    // the journal's file length undoes them after a crash), listed in the file's and the table's
    // usage maps. Throw FormatError when a map cannot take the page.
    // A data page of t, in its owned and free-space maps.
    uint32_t newDataPage(const Table& t);
    // A long-value page (Memo/OLE rows) of column columnNumber of t, in that column's maps.
    uint32_t newLongValuePage(const Table& t, int columnNumber);
    // An index page (PageIndexLeaf or PageIndexNode) of idx, in the index's map.
    uint32_t newIndexPage(const Table& t, const IndexData& idx, uint8_t pageType);
    JetPageAllocator& allocator();
    void mapCopyEntered(const QString& copyKey);  // mapCopy with the batch entered
    void installTriggers(sqlite3* db);
    struct Located {
        RowId at;        // where the record's bytes are
        RowSlot slot;
        const uint8_t* row = nullptr;
        std::vector<FieldRef> fields;
    };
    // Where a working copy's record starts in the file; false when the copy has no such record.
    bool rowOf(int copy, int table, long long rowid, RowId& out) const;
    // Finds the record and checks that it holds the staged old values.
    bool locate(const Binding& b, int table, long long rowid, Located& out, int& errorNumber, QString& why);
    // "record (ID = 5) of table 'T'", for refusals.
    QString recordName(const Table& t, const std::vector<JetValue>& shown) const;
    // Moves a record's entry in one index: out of it (remove; removeKey finds it faster), into it
    // (insertKey), or both.
    bool changeIndexEntry(const Table& t, const IndexData& idx, RowId id, bool remove,
                          const std::optional<QByteArray>& insertKey, int& errorNumber, QString& why,
                          const std::optional<QByteArray>& removeKey = std::nullopt);
    static bool listedIn(const TableDef& t, const IndexData& idx, const std::vector<FieldRef>& fields);
    // Memo/OLE values of t over this batch's pages.
    JetLongValueWriter longValues(const Table& t);
    // Why table (an index into tables_) may not be changed at all (a page of unknown type it leads
    // to), or empty; kept until the file is read afresh.
    QString whyTableBlocked(int table);
    // Empty when the record found (first: its first place) leads to no page of unknown type (see
    // JetUnknownPages::useByRecord).
    QString whyRecordBlocked(int table, RowId first, const Located& loc);
    QString whyCannotAdd(const Table& t, int table);

    QString path_;
    JetPager pager_;
    std::vector<Table> tables_;
    std::map<QString, int> tableIndex_;
    mutable std::recursive_mutex mu_;
    void writeRange(uint32_t page, int offset, const QByteArray& bytes) { pager_.writeRange(page, offset, bytes); }
    std::map<QString, int> copyIds_;
    std::vector<std::vector<std::vector<RowId>>> copyRows_;  // copy -> table -> rowid - 1 -> record
    std::vector<std::unique_ptr<Binding>> bindings_;
    std::unique_ptr<JetPageAllocator> allocator_;
    std::optional<std::vector<uint32_t>> unknownPages_;  // of the file as last read
    struct UnknownScan;
    std::unique_ptr<UnknownScan> unknownScan_;  // scanAhead's, while not taken
    uint64_t readCount_ = 0;                    // times the file was read afresh
    std::optional<std::vector<uint32_t>> takeScanned();
    std::map<int, QString> tableBlocked_;                 // table -> whyTableBlocked's answer
    std::map<int, QString> addRefusal_;                   // table -> whyCannotAdd's answer
    IndexPageCache indexPages_;  // the index pages adds and edits descend, with the batch's changes
};

}  // namespace dao::jet
