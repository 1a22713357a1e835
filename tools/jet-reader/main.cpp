// tabulon-jet-reader PARENT_PID JET_FILE SQLITE_FILE DAMAGE_FILE
//
// Turns a Jet/ACE file into a new SQLite file for the engine. libmdb is not hardened against damaged
// or hostile files, so it runs only here, in a process of its own that the engine starts with
// posix_spawn and watches (time limit, exit status): a crash or a hang here is a refused file there,
// never a crashed program. It uses libc, libmdb and sqlite3 only (nothing of Qt's GUI) and leaves
// through _exit(), skipping the teardown of whatever libmdb built from a damaged file.
//
// Standard output carries the lines of JetReaderHelper.h: progress "RECORDS_COPIED RECORDS_TOTAL",
// each table's count by its definition, "READY" once every table is defined and holds its first
// records (the parent may read those while the rest is written: the copy is in WAL mode), and each
// table's records copied when it is done. The tables that could not be read whole go to DAMAGE_FILE
// (see DamageLog). The exit status says how it ended (JetReaderHelper.h).

// C++ headers first: glib, included by mdbtools.h inside extern "C", includes <type_traits>.
#include <chrono>
#include <type_traits>

#include <fcntl.h>
#include <mdbtools.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/dao/FieldTypes.h"
#include "platform/dao/JetCodePage.h"
#include "platform/dao/JetReaderHelper.h"
#include "platform/dao/JetValueCodec.h"
#include "tools/jet-reader/NativeRows.h"

using namespace dao;
using namespace dao::jet;

namespace {

constexpr int ExitOk = HelperExit::Ok;
constexpr int ExitCannotOpen = HelperExit::CannotOpen;
constexpr int ExitDamaged = HelperExit::Damaged;
constexpr int ExitWriteFailed = HelperExit::WriteFailed;
constexpr int ExitCatalogDamaged = HelperExit::CatalogDamaged;

struct Failure {
    int code;
};

[[noreturn]] void fail(int code) {
    throw Failure{code};
}

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t le64(const unsigned char* p) {
    return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32;
}

// Writes cp as UTF-8 at w; returns the end.
char* putUtf8(char* w, uint32_t cp) {
    if (cp < 0x80) {
        *w++ = char(cp);
    } else if (cp < 0x800) {
        *w++ = char(0xC0 | (cp >> 6));
        *w++ = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *w++ = char(0xE0 | (cp >> 12));
        *w++ = char(0x80 | ((cp >> 6) & 0x3F));
        *w++ = char(0x80 | (cp & 0x3F));
    } else {
        *w++ = char(0xF0 | (cp >> 18));
        *w++ = char(0x80 | ((cp >> 12) & 0x3F));
        *w++ = char(0x80 | ((cp >> 6) & 0x3F));
        *w++ = char(0x80 | (cp & 0x3F));
    }
    return w;
}

// Jet4/ACE text to UTF-8 into out: UCS-2 little-endian, or "compressed" (FF FE, then runs of one-byte
// characters and two-byte characters, each 00 byte switching between the two). Surrogate pairs are
// joined; a lone surrogate becomes U+FFFD.
void jet4Text(const unsigned char* p, size_t n, std::string& out) {
    // No input byte gives more than two bytes of UTF-8 (a one-byte character above 0x7F), and a
    // lone surrogate left at the end three.
    out.resize(2 * n + 3);
    char* const begin = out.data();
    char* w = begin;
    uint32_t high = 0;  // a high surrogate waiting for its pair
    auto put = [&](uint32_t u) {
        if (high) {
            if (u >= 0xDC00 && u < 0xE000) {
                w = putUtf8(w, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
                high = 0;
                return;
            }
            w = putUtf8(w, 0xFFFD);
            high = 0;
        }
        if (u < 0x80)
            *w++ = char(u);
        else if (u >= 0xD800 && u < 0xDC00)
            high = u;
        else
            w = putUtf8(w, u >= 0xDC00 && u < 0xE000 ? 0xFFFD : u);
    };
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        bool oneByte = true;
        size_t i = 2;
        while (i < n) {
            if (p[i] == 0) {
                oneByte = !oneByte;
                ++i;
            } else if (oneByte) {
                // A run of plain ASCII, the usual text, straight through.
                if (!high)
                    while (i < n && p[i] - 1u < 0x7Fu) *w++ = char(p[i++]);
                if (i < n && p[i] != 0) put(p[i++]);
            } else if (i + 1 < n) {
                put(uint32_t(p[i] | p[i + 1] << 8));
                i += 2;
            } else {
                break;
            }
        }
    } else {
        for (size_t i = 0; i + 1 < n; i += 2) put(uint32_t(p[i] | p[i + 1] << 8));
    }
    if (high) w = putUtf8(w, 0xFFFD);
    out.resize(size_t(w - begin));
}

// Text in the file's own encoding to UTF-8 into out. Jet3 text is in the file's code page, decoded as
// the writer decodes it (libmdb would turn a byte the code page leaves undefined into '?', which the
// writer could then neither match nor write back); the Unicode formats we decode ourselves so that
// surrogate pairs survive.
void textValue(MdbHandle* mdb, const unsigned char* p, size_t n, std::string& out) {
    if (mdb->f->jet_version != MDB_VER_JET3) return jet4Text(p, n, out);
    out.clear();
    if (n) out = dao::jet::JetCodePage::decode(mdb->f->code_page, p, int(n)).toStdString();
}

// A stored date: days since 1899-12-30, the fraction is the time of day. For values below zero the
// whole part counts days backwards and the absolute fraction is still the time of day (-1.25 is
// 1899-12-29 06:00). libmdb cannot format those, so we do it here. False outside 100..9999.
bool jetDateText(double v, std::string& out) {
    if (!std::isfinite(v) || v < -657435.0 || v > 2958466.0) return false;
    const DayAndTime t = splitDayNumber(v);
    const long long days = t.day, secs = t.seconds;
    if (days < -657434 || days > 2958465) return false;
    long long y;
    int m, d;
    civilFromDayNumber(days, y, m, d);
    // Formatted by hand: one date a record, and printf was a visible share of a large table's copy.
    char buf[20];
    auto two = [&](int at, long long v) {
        buf[at] = char('0' + v / 10);
        buf[at + 1] = char('0' + v % 10);
    };
    two(0, y / 100);
    two(2, y % 100);
    buf[4] = '-';
    two(5, m);
    buf[7] = '-';
    two(8, d);
    buf[10] = ' ';
    two(11, secs / 3600);
    buf[13] = ':';
    two(14, (secs / 60) % 60);
    buf[16] = ':';
    two(17, secs % 60);
    out.assign(buf, 19);
    return true;
}

// A Replication ID: the first three groups are stored little-endian, the last two as bytes.
std::string guidText(const unsigned char* k) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  k[3], k[2], k[1], k[0], k[5], k[4], k[7], k[6], k[8], k[9], k[10], k[11], k[12], k[13],
                  k[14], k[15]);
    return buf;
}

std::string quoteIdent(const char* name) {
    std::string q = "\"";
    for (const char* c = name; *c; ++c) {
        if (*c == '"') q += '"';
        q += *c;
    }
    q += '"';
    return q;
}

// Large Number (Access 2016 on): a signed 64-bit integer, which libmdb does not know.
constexpr int kColBigInt = 0x13;

struct ColumnType {
    int code;
    int size;
};

ColumnType engineType(MdbHandle* mdb, const MdbColumn* col) {
    switch (col->col_type) {
        case MDB_BOOL:
            return {dbBoolean, 0};
        case MDB_BYTE:
            return {dbByte, 0};
        case MDB_INT:
            return {dbInteger, 0};
        case MDB_LONGINT:
            return {dbLong, 0};
        case MDB_MONEY:
            return {dbCurrency, 0};
        case MDB_FLOAT:
            return {dbSingle, 0};
        case MDB_DOUBLE:
            return {dbDouble, 0};
        case MDB_DATETIME:
            return {dbDate, 0};
        case MDB_BINARY:
            return {dbBinary, col->col_size};
        case MDB_TEXT:
            // col_size counts bytes; the Unicode formats store two bytes a character.
            return {dbText, mdb->f->jet_version == MDB_VER_JET3 ? col->col_size : col->col_size / 2};
        case MDB_OLE:
            return {dbLongBinary, 0};
        case MDB_MEMO:
            return {dbMemo, 0};
        case MDB_REPID:
            return {dbGUID, 0};
        case MDB_NUMERIC:
            return {dbDecimal, 0};
        case kColBigInt:
            return {dbBigInt, 0};
        default:
            return {dbMemo, 0};
    }
}

// A field's bytes, wherever they were read from (libmdb's page buffer or the mapped file).
struct FieldView {
    bool isNull = true;
    const unsigned char* p = nullptr;  // the field's first byte
    int size = 0;
    int room = 0;  // bytes of its page from p on: no read goes past them
};

// The output file of the conversion; one owner closes it.
class Sqlite {
public:
    Sqlite(const Sqlite&) = delete;
    Sqlite& operator=(const Sqlite&) = delete;
    explicit Sqlite(const char* path) {
        if (sqlite3_open_v2(path, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            fail(ExitWriteFailed);
    }
    ~Sqlite() {
        sqlite3_finalize(insert_);
        sqlite3_close(db_);
    }
    sqlite3* db() const { return db_; }
    // False when the statement fails (the caller decides whether that is fatal).
    bool exec(const std::string& sql) {
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    void mustExec(const std::string& sql) {
        if (!exec(sql)) fail(ExitWriteFailed);
    }
    sqlite3_stmt* prepareInsert(const std::string& sql) {
        sqlite3_finalize(insert_);
        insert_ = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &insert_, nullptr) != SQLITE_OK)
            fail(ExitWriteFailed);
        return insert_;
    }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
};

// Progress for the engine, on standard output: "RECORDS_COPIED RECORDS_TOTAL" now and then. The
// total is what the definitions count, so a damaged file may stop short of it or pass it.
class Progress {
public:
    void setTotal(long long total) {
        total_ = total;
        report();
    }
    void add(long long records) {
        done_ += records;
        if (done_ - reported_ >= kEvery) report();
    }
    void report() {
        reported_ = done_;
        char line[64];
        const int n = std::snprintf(line, sizeof line, "%lld %lld\n", done_, total_);
        if (n > 0) say(std::string(line, size_t(n)));
    }
    // One whole line; nobody reading is no reason to stop.
    static void say(const std::string& line) {
        if (::write(STDOUT_FILENO, line.data(), line.size()) < 0) {
        }
    }
    // "<mark> <count> <name>": a table's count by its definition, or its records copied.
    static void sayTable(char mark, long long count, const char* name) {
        say(std::string(1, mark) + " " + std::to_string(count) + " " + name + "\n");
    }

private:
    static constexpr long long kEvery = 2048;
    long long done_ = 0, reported_ = 0, total_ = 0;
};

// The rows of a table libmdb reads, as text by column name (libmdb's own text of each value).
std::vector<std::unordered_map<std::string, std::string>> tableText(MdbCatalogEntry* entry) {
    std::vector<std::unordered_map<std::string, std::string>> rows;
    MdbTableDef* table = mdb_read_table(entry);
    if (!table) return rows;
    if (mdb_read_columns(table)) {
        std::vector<std::vector<char>> bound(table->num_cols, std::vector<char>(MDB_BIND_SIZE));
        for (unsigned i = 0; i < table->num_cols; ++i) mdb_bind_column(table, int(i) + 1, bound[i].data(), nullptr);
        mdb_rewind_table(table);
        while (mdb_fetch_row(table)) {
            auto& row = rows.emplace_back();
            for (unsigned i = 0; i < table->num_cols; ++i) {
                auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
                if (col->col_type != MDB_OLE && col->col_type != MDB_MEMO) row[col->name] = bound[i].data();
            }
        }
    }
    mdb_free_tabledef(table);
    return rows;
}

// Attachment fields show the names of their files: a row holds a reference, and the field's hidden
// table (MSysComplexColumns names it) lists the files with the reference of the row they belong to.
class AttachmentNames {
public:
    explicit AttachmentNames(const std::vector<MdbCatalogEntry*>& everyTable) {
        for (MdbCatalogEntry* e : everyTable) {
            byPage_[e->table_pg] = e;
            if (std::strcmp(e->object_name, "MSysComplexColumns") == 0) columns_ = tableText(e);
        }
    }

    // Reference -> "a.txt; b.pdf" for the attachment column `column` of the table defined on page
    // `tablePage`; empty when the column is not an attachment field.
    std::unordered_map<uint32_t, std::string> namesFor(uint32_t tablePage, const char* column) {
        std::unordered_map<uint32_t, std::string> names;
        for (const auto& c : columns_) {
            const auto name = c.find("ColumnName"), flat = c.find("FlatTableID"), table = c.find("ConceptualTableID");
            if (name == c.end() || flat == c.end() || table == c.end() || name->second != column ||
                (std::strtoul(table->second.c_str(), nullptr, 10) & 0xffffff) != tablePage)
                continue;
            const auto it = byPage_.find(uint32_t(std::strtoul(flat->second.c_str(), nullptr, 10) & 0xffffff));
            if (it == byPage_.end()) return names;
            MdbTableDef* t = mdb_read_table(it->second);
            if (!t) return names;
            // The reference is the flat table's Long column that is neither its own AutoNumber nor a
            // column of the attachment type.
            std::string key;
            bool attachment = false;
            if (mdb_read_columns(t)) {
                for (unsigned i = 0; i < t->num_cols; ++i) {
                    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
                    if (std::strcmp(col->name, "FileName") == 0) attachment = true;
                    if (col->col_type == MDB_LONGINT && !col->is_long_auto && std::strcmp(col->name, "FileFlags") != 0)
                        key = col->name;
                }
            }
            mdb_free_tabledef(t);
            if (!attachment || key.empty()) return names;
            for (const auto& row : tableText(it->second)) {
                const auto ref = row.find(key), file = row.find("FileName");
                if (ref == row.end() || file == row.end() || ref->second.empty()) continue;
                std::string& list = names[uint32_t(std::strtoul(ref->second.c_str(), nullptr, 10))];
                if (!list.empty()) list += "; ";
                list += file->second;
            }
            names.emplace(0, std::string());  // marks the column as an attachment field
            return names;
        }
        return names;
    }

private:
    std::unordered_map<uint32_t, MdbCatalogEntry*> byPage_;
    std::vector<std::unordered_map<std::string, std::string>> columns_;
};

class Converter {
public:
    Converter(MdbHandle* mdb, Sqlite& out, Progress& progress) : mdb_(mdb), out_(out), progress_(progress) {}
    // The file names of the table's attachment fields, by column number; set before copyRows.
    std::unordered_map<int, std::unordered_map<uint32_t, std::string>> attachments;


    // Creates the table; false when SQLite will not take its definition (no columns, a reserved or
    // repeated name), in which case the table is left out.
    bool createTable(MdbTableDef* table) {
        if (table->num_cols == 0 || !table->columns) return false;
        std::string sql = "CREATE TABLE " + quoteIdent(table->name) + " (";
        for (unsigned i = 0; i < table->num_cols; ++i) {
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
            const ColumnType t = engineType(mdb_, col);
            if (i) sql += ", ";
            sql += quoteIdent(col->name) + " " + declaredTypeFor(t.code, t.size).toStdString();
        }
        sql += ")";
        return out_.exec(sql);
    }

    // Copies the records libmdb can read, from record `skip` on and at most `limit` of them (all
    // when negative), and returns how many that was. A record that cannot be cracked ends the table
    // there: what follows it is not to be trusted either.
    long long copyRows(MdbTableDef* table, long long skip = 0, long long limit = -1) {
        sqlite3_stmt* insert = prepareRows(table);
        std::vector<MdbField> fields(table->num_cols);
        long long copied = 0;
        mdb_rewind_table(table);
        // The records copied before (the first ones of every table) are passed over unread.
        for (long long i = 0; i < skip; ++i)
            if (!mdb_fetch_row(table)) return 0;
        while (copied != limit && mdb_fetch_row(table)) {
            try {
                copyRow(table, insert, fields);
            } catch (const Failure& f) {
                if (f.code != ExitDamaged) throw;
                break;
            }
            stored(insert);
            ++copied;
        }
        sqlite3_reset(insert);
        sqlite3_clear_bindings(insert);
        return copied;
    }

    // The same through our own page reader, at most `limit` records from where the last call left
    // it. A record that cannot be read ends the table, as above.
    long long copyRowsNative(MdbTableDef* table, NativeRows::Table& rows, long long limit) {
        sqlite3_stmt* insert = prepareRows(table);
        std::vector<MdbColumn*> cols(table->num_cols);
        for (unsigned i = 0; i < table->num_cols; ++i)
            cols[i] = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        long long copied = 0;
        while (copied != limit) {
            try {
                if (!rows.next()) break;
                for (unsigned i = 0; i < table->num_cols; ++i) {
                    const FieldRef& f = rows.field(i);
                    // Most fields of a wide table are NULL, and stay bound as such.
                    if (!f.present && boundNow_[i] == kBoundNull) continue;
                    MdbColumn* col = cols[i];
                    const FieldView v{!f.present, rows.bytes(f), f.size, rows.room(f)};
                    bindValue(insert, int(i), col, v,
                              [&] { return v.size < MDB_MEMO_OVERHEAD ? std::string() : rows.longValue(f); });
                }
            } catch (const FormatError&) {
                break;
            } catch (const Failure& f) {
                if (f.code != ExitDamaged) throw;
                break;
            }
            stored(insert);
            ++copied;
        }
        sqlite3_reset(insert);
        sqlite3_clear_bindings(insert);
        return copied;
    }

    // A stand-in for a table whose definition cannot be read, so that its name is still listed
    // and opening it says why it is unreadable instead of the table going missing.
    bool createPlaceholder(const char* name) {
        return out_.exec("CREATE TABLE " + quoteIdent(name) + " (\"?\" MEMO)");
    }

private:
    // Runs the insert of one record. The copy is committed every kCommitEvery records, and every
    // commitMs_, so that the parent reads on while it grows (a walk waits for the next commit
    // only, which the progress line after it tells) and the WAL stays small. The first commits
    // come sooner: a walk reads the first records faster than they are copied.
    void stored(sqlite3_stmt* insert) {
        if (sqlite3_step(insert) != SQLITE_DONE) fail(ExitWriteFailed);
        sqlite3_reset(insert);
        progress_.add(1);
        ++uncommitted_;
        if (uncommitted_ >= kCommitEvery ||
            (uncommitted_ % 128 == 0 && std::chrono::steady_clock::now() - lastCommit_ >= commitMs_)) {
            out_.mustExec("COMMIT");
            out_.mustExec("BEGIN");
            progress_.report();
            uncommitted_ = 0;
            lastCommit_ = std::chrono::steady_clock::now();
            commitMs_ = std::min(commitMs_ * 2, kCommitMs);
        }
    }

    sqlite3_stmt* prepareRows(MdbTableDef* table) {
        std::string sql = "INSERT INTO " + quoteIdent(table->name) + " VALUES (";
        for (unsigned i = 0; i < table->num_cols; ++i) sql += i ? ",?" : "?";
        sql += ")";
        held_.assign(table->num_cols, std::string());
        bound_.assign(table->num_cols, 0);
        boundNow_.assign(table->num_cols, kBoundOther);
        return out_.prepareInsert(sql);
    }

    void copyRow(MdbTableDef* table, sqlite3_stmt* insert, std::vector<MdbField>& fields) {
        // mdb_fetch_row has cracked the row it stopped on; crack it again to see each field's
        // bytes and its null bit (libmdb's bound text cannot tell NULL from "").
        int rowStart = 0;
        size_t rowSize = 0;
        if (table->cur_row == 0 || mdb_find_row(mdb_, int(table->cur_row) - 1, &rowStart, &rowSize) != 0)
            fail(ExitDamaged);
        rowStart &= 0x1fff;
        if (mdb_crack_row(table, rowStart, rowSize, fields.data()) < 0) fail(ExitDamaged);
        // Bindings are not cleared between records: every column is bound again, and one the row
        // does not name is NULL rather than the previous record's value.
        std::fill(bound_.begin(), bound_.end(), 0);
        for (unsigned i = 0; i < table->num_cols; ++i) {
            const MdbField& f = fields[i];
            if (f.colnum < 0 || unsigned(f.colnum) >= table->num_cols) fail(ExitDamaged);
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, f.colnum));
            bound_[size_t(f.colnum)] = 1;
            FieldView v{f.is_null != 0, nullptr, f.siz, 0};
            if (!v.isNull && f.start >= 0 && f.start <= mdb_->fmt->pg_size) {
                v.p = mdb_->pg_buf + f.start;
                v.room = mdb_->fmt->pg_size - f.start;
            }
            bindValue(insert, f.colnum, col, v, [&] { return longValue(col, f); });
        }
        for (unsigned i = 0; i < table->num_cols; ++i)
            if (!bound_[i]) {
                sqlite3_bind_null(insert, int(i) + 1);
                boundNow_[i] = kBoundNull;
            }
    }

    static const unsigned char* bytes(const FieldView& f, int need) {
        if (!f.p || need < 0 || need > f.room) fail(ExitDamaged);
        return f.p;
    }

    // Binds the field of column `column` (from 0) the same whichever reader found its bytes;
    // longValue gives a Memo or OLE value's bytes.
    template <class LongValue>
    void bindValue(sqlite3_stmt* st, int column, MdbColumn* col, const FieldView& f, const LongValue& longValue) {
        const int idx = column + 1;
        // Bindings outlive the insert: a NULL, No or Yes bound for the last record still is.
        uint8_t& bound = boundNow_[size_t(column)];
        if (col->col_type == MDB_BOOL) {
            // Yes/No lives in the null bitmap: a set bit is Yes. It is never NULL.
            const uint8_t now = f.isNull ? kBoundNo : kBoundYes;
            if (bound != now) sqlite3_bind_int(st, idx, f.isNull ? 0 : 1);
            bound = now;
            return;
        }
        if (f.isNull) {
            if (bound != kBoundNull) sqlite3_bind_null(st, idx);
            bound = kBoundNull;
            return;
        }
        bound = kBoundOther;
        switch (col->col_type) {
            case MDB_BYTE:
                sqlite3_bind_int(st, idx, *bytes(f, 1));
                break;
            case MDB_INT:
                sqlite3_bind_int(st, idx, int16_t(bytes(f, 2)[0] | bytes(f, 2)[1] << 8));
                break;
            case MDB_LONGINT:
                sqlite3_bind_int64(st, idx, int32_t(le32(bytes(f, 4))));
                break;
            case MDB_MONEY:
                // A 64-bit count of ten-thousandths; the division rounds once, to the nearest double.
                sqlite3_bind_double(st, idx, double(int64_t(le64(bytes(f, 8)))) / 10000.0);
                break;
            case MDB_FLOAT: {
                float v;
                std::memcpy(&v, bytes(f, 4), 4);
                sqlite3_bind_double(st, idx, double(v));
                break;
            }
            case MDB_DOUBLE: {
                double v;
                std::memcpy(&v, bytes(f, 8), 8);
                sqlite3_bind_double(st, idx, v);
                break;
            }
            case MDB_DATETIME: {
                double v;
                std::memcpy(&v, bytes(f, 8), 8);
                if (jetDateText(v, held(idx)))
                    bindHeld(st, idx);
                else
                    sqlite3_bind_null(st, idx);
                break;
            }
            case MDB_REPID:
                bindText(st, idx, guidText(bytes(f, 16)));
                break;
            case MDB_NUMERIC:
                // libmdb keeps a Decimal's scale in col_prec (and the precision in col_scale).
                bindText(st, idx, decimalText(bytes(f, 17), std::clamp(col->col_prec, 0, 38)));
                break;
            case MDB_BINARY: {
                const unsigned char* p = bytes(f, f.size);
                sqlite3_bind_blob(st, idx, f.size ? p : reinterpret_cast<const unsigned char*>(""), f.size,
                                  SQLITE_TRANSIENT);
                break;
            }
            case MDB_TEXT:
                textValue(mdb_, bytes(f, f.size), size_t(f.size), held(idx));
                bindHeld(st, idx);
                break;
            case MDB_MEMO: {
                const std::string raw = longValue();
                textValue(mdb_, reinterpret_cast<const unsigned char*>(raw.data()), raw.size(), held(idx));
                bindHeld(st, idx);
                break;
            }
            case MDB_OLE: {
                const std::string raw = longValue();
                sqlite3_bind_blob(st, idx, raw.data(), int(raw.size()), SQLITE_TRANSIENT);
                break;
            }
            case MDB_COMPLEX: {
                if (const auto a = attachments.find(column); a != attachments.end() && f.size == 4) {
                    const auto names = a->second.find(le32(bytes(f, 4)));
                    if (names == a->second.end() || names->second.empty())
                        sqlite3_bind_null(st, idx);
                    else
                        bindText(st, idx, names->second);
                    break;
                }
                // The key of the value in a hidden table; kept as libmdb's text of it.
                // Read from a copy: libmdb may read as many bytes as the field says it has.
                std::vector<unsigned char> copy(bytes(f, f.size), bytes(f, f.size) + f.size);
                copy.resize(std::max<size_t>(copy.size(), 16));
                char* text = mdb_col_to_string(mdb_, copy.data(), 0, col->col_type, f.size);
                bindText(st, idx, text ? std::string(text) : std::string());
                g_free(text);
                break;
            }
            case kColBigInt:
                // Read from the row's bytes: exact, never through a double.
                if (f.size != 8) fail(ExitDamaged);
                sqlite3_bind_int64(st, idx, int64_t(le64(bytes(f, 8))));
                break;
            default:
                // libmdb has no reading of the other types.
                sqlite3_bind_null(st, idx);
                break;
        }
    }

    // The text is kept until the column is bound again (after the record's insert), so SQLite
    // need not copy it.
    std::string& held(int idx) { return held_[size_t(idx - 1)]; }
    void bindHeld(sqlite3_stmt* st, int idx) {
        const std::string& kept = held_[size_t(idx - 1)];
        sqlite3_bind_text(st, idx, kept.data(), int(kept.size()), SQLITE_STATIC);
    }
    void bindText(sqlite3_stmt* st, int idx, std::string s) {
        std::string& kept = held_[size_t(idx - 1)];
        kept = std::move(s);
        sqlite3_bind_text(st, idx, kept.data(), int(kept.size()), SQLITE_STATIC);
    }

    // The bytes of a Memo or OLE value: a 12-byte header in the row, the data inline or in a chain
    // of long-value pages. The chain is checked for loops, which libmdb would follow forever.
    std::string longValue(MdbColumn* col, const MdbField& f) {
        if (f.siz < MDB_MEMO_OVERHEAD) return {};
        if (f.start < 0 || f.start + f.siz > mdb_->fmt->pg_size) fail(ExitDamaged);
        unsigned char header[MDB_MEMO_OVERHEAD];
        std::memcpy(header, mdb_->pg_buf + f.start, MDB_MEMO_OVERHEAD);
        const uint32_t word = le32(header);
        const size_t declared = word & 0x3fffffff;
        std::vector<char> chunk(MDB_PGSIZE + 16);
        col->cur_value_start = f.start;
        col->cur_value_len = f.siz;
        col->bind_ptr = chunk.data();
        std::string out;
        size_t n = mdb_ole_read(mdb_, col, header, chunk.size());
        out.append(chunk.data(), std::min(n, chunk.size()));
        if ((word & 0xf0000000) == 0) {
            std::unordered_set<uint32_t> seen{le32(header + 4)};
            while (col->cur_blob_pg_row != 0 && out.size() < declared) {
                if (!seen.insert(col->cur_blob_pg_row).second) fail(ExitDamaged);
                n = mdb_ole_read_next(mdb_, col, header);
                if (n == 0) break;
                out.append(chunk.data(), std::min(n, chunk.size()));
            }
            if (out.size() > declared) out.resize(declared);
        }
        col->bind_ptr = nullptr;
        return out;
    }

    MdbHandle* mdb_;
    Sqlite& out_;
    Progress& progress_;
    std::vector<std::string> held_;  // the text bound to each column of the insert
    std::vector<uint8_t> bound_;     // the columns the current record has bound
    // What each column of the insert is bound to now, when it is one of these.
    enum : uint8_t { kBoundOther, kBoundNull, kBoundNo, kBoundYes };
    std::vector<uint8_t> boundNow_;
    static constexpr long long kCommitEvery = 65536;
    static constexpr std::chrono::milliseconds kCommitMs{10};
    std::chrono::milliseconds commitMs_{1};
    long long uncommitted_ = 0;
    std::chrono::steady_clock::time_point lastCommit_ = std::chrono::steady_clock::now();
};

bool startsWithMSys(const char* name) {
    return std::strncmp(name, "MSys", 4) == 0;
}

// Pages the file really has; a page number at or beyond it points outside the file.
long long pagesInFile(MdbHandle* mdb) {
    struct stat st {};
    if (fstat(fileno(mdb->f->stream), &st) != 0 || mdb->fmt->pg_size <= 0) return 0;
    return static_cast<long long>(st.st_size) / mdb->fmt->pg_size;
}

// The catalog (MSysObjects, whose definition is always on page 2) must give every record its own
// definition counts; a short catalog would silently hide tables.
bool catalogComplete(MdbHandle* mdb) {
    MdbCatalogEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.mdb = mdb;
    entry.object_type = MDB_TABLE;
    entry.table_pg = 2;
    std::strcpy(entry.object_name, "MSysObjects");
    MdbTableDef* table = mdb_read_table(&entry);
    if (!table) return false;
    bool complete = false;
    if (mdb_read_columns(table) && table->num_rows > 0) {
        unsigned long long n = 0;
        mdb_rewind_table(table);
        while (mdb_fetch_row(table)) ++n;
        complete = n == table->num_rows;
    }
    mdb_free_tabledef(table);
    return complete;
}

// The tables that could not be read whole, written for the parent as NUL-separated fields:
// name, records read, records the definition counts (-1 when the definition is unreadable).
class DamageLog {
public:
    void add(const char* name, long long read, long long expected) {
        text_ += name;
        text_ += '\0';
        text_ += std::to_string(read);
        text_ += '\0';
        text_ += std::to_string(expected);
        text_ += '\0';
    }
    void write(const std::string& path) const {
        if (text_.empty()) return;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) fail(ExitWriteFailed);
        const bool ok = std::fwrite(text_.data(), 1, text_.size(), f) == text_.size();
        if (std::fclose(f) != 0 || !ok) fail(ExitWriteFailed);
    }

private:
    std::string text_;
};

// The Jet file as libmdb holds it open; move-only, so that it is closed at most once.
class MdbFile {
public:
    explicit MdbFile(MdbHandle* h) : h_(h) {}
    MdbFile(MdbFile&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    MdbFile& operator=(MdbFile&&) = delete;
    MdbFile(const MdbFile&) = delete;
    MdbFile& operator=(const MdbFile&) = delete;
    ~MdbFile() {
        if (h_) mdb_close(h_);
    }
    MdbHandle* get() const { return h_; }
    // Left to die with the process: freeing libmdb's structures of a damaged file is a risk
    // the helper need not take just before it exits.
    void leave() { h_ = nullptr; }

private:
    MdbHandle* h_;
};

// A table's records into the working copy: by our page reader when it knows the table's columns,
// else by libmdb's.
// How a table's records are read: by our own page reader, which keeps its place between calls, or
// (a layout it does not match, or no page reader) through libmdb.
struct TableRows {
    std::unique_ptr<NativeRows::Table> native;
    bool unlisted = false;  // its map of pages cannot be read
};

TableRows rowsOf(const NativeRows* native, MdbCatalogEntry* entry, MdbTableDef* table) {
    TableRows rows;
    if (native) {
        std::vector<NativeRows::Column> columns;
        for (unsigned i = 0; i < table->num_cols; ++i) {
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
            columns.push_back({col->name, col->col_type, col->is_fixed != 0,
                               col->is_fixed ? col->fixed_offset : int(col->var_col_num), col->col_size});
        }
        try {
            rows.native = native->table(entry->table_pg, columns);
        } catch (const FormatError&) {
            // libmdb would read on, taking whatever a garbled page holds for records; the table is
            // damaged, and said to be.
            rows.unlisted = true;
        }
        if (rows.native || rows.unlisted) return rows;
    }
    // Seen with TABULON_JET_DEBUG (standard error goes nowhere otherwise).
    std::fprintf(stderr, "%s: records read through libmdb\n", table->name);
    return rows;
}

// Copies at most `limit` records (all when negative) after the `skip` copied before.
long long copySome(Converter& conv, TableRows& rows, MdbTableDef* table, long long skip, long long limit = -1) {
    if (rows.unlisted) return 0;
    if (rows.native) return conv.copyRowsNative(table, *rows.native, limit);
    return conv.copyRows(table, skip, limit);
}

int convertFile(const char* jetPath, const char* sqlitePath, const char* damagePath) {
    // libmdb converts text to the charset named here; we want UTF-8 whatever the environment says.
    setenv("MDBICONV", "UTF-8", 1);
    MdbFile file(mdb_open(jetPath, MDB_NOFLAGS));
    MdbHandle* mdb = file.get();
    if (!mdb) return ExitCannotOpen;
    struct Leave {
        MdbFile& f;
        ~Leave() { f.leave(); }
    } leave{file};
    if (!catalogComplete(mdb)) return ExitCatalogDamaged;
    if (!mdb_read_catalog(mdb, MDB_TABLE) || !mdb->catalog) return ExitCatalogDamaged;
    const long long pages = pagesInFile(mdb);

    // User tables in catalog order, then the MSys tables. Other tables flagged as system (hidden
    // ACE tables such as f_<guid>_Data) are left out.
    std::vector<MdbCatalogEntry*> user, system;
    for (unsigned i = 0; i < mdb->catalog->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (!entry || entry->object_type != MDB_TABLE) continue;
        if (startsWithMSys(entry->object_name))
            system.push_back(entry);
        else if (!mdb_is_system_table(entry))
            user.push_back(entry);
    }
    user.insert(user.end(), system.begin(), system.end());
    std::vector<MdbCatalogEntry*> everyTable;
    for (unsigned i = 0; i < mdb->catalog->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry && entry->object_type == MDB_TABLE && entry->table_pg >= 2 &&
            static_cast<long long>(entry->table_pg) < pages)
            everyTable.push_back(entry);
    }
    AttachmentNames attachmentNames(everyTable);

    Sqlite out(sqlitePath);
    // The file is new and is thrown away on any failure, so there is nothing to make durable. WAL:
    // the parent reads the first records while the rest is written.
    out.mustExec("PRAGMA synchronous=OFF");
    out.mustExec("PRAGMA journal_mode=WAL");
    out.mustExec("BEGIN");
    // The definitions first: their record counts give the progress its total.
    std::vector<MdbTableDef*> tables;
    long long total = 0;
    for (MdbCatalogEntry* entry : user) {
        MdbTableDef* table = entry->table_pg >= 2 && static_cast<long long>(entry->table_pg) < pages
                                 ? mdb_read_table(entry)
                                 : nullptr;
        if (table && !mdb_read_columns(table)) table = nullptr;  // left to die with the process
        if (table) total += std::min<long long>(table->num_rows, 1LL << 40);
        tables.push_back(table);
    }
    // Rows are read from the pages by our own reader unless TABULON_JET_ROWS=libmdb asks for
    // libmdb's (the two must give the same working copy).
    const char* rowsBy = std::getenv("TABULON_JET_ROWS");
    const std::unique_ptr<NativeRows> native =
        rowsBy && std::strcmp(rowsBy, "libmdb") == 0 ? nullptr
                                                    : NativeRows::open(jetPath, (std::string(sqlitePath) + "-pages").c_str());
    Progress progress;
    progress.setTotal(total);
    Converter conv(mdb, out, progress);
    DamageLog damage;
    // Every table is made, then given its first records, so that whichever table is opened first
    // shows its first screen while the rest is copied.
    std::vector<std::unordered_map<int, std::unordered_map<uint32_t, std::string>>> attachments(user.size());
    std::vector<long long> first(user.size(), -1);  // -1: left out
    std::vector<TableRows> rows(user.size());
    constexpr long long kFirstRecords = 256;
    for (size_t i = 0; i < user.size(); ++i) {
        MdbCatalogEntry* entry = user[i];
        MdbTableDef* table = tables[i];
        if (!table) {
            if (conv.createPlaceholder(entry->object_name)) damage.add(entry->object_name, 0, -1);
            continue;
        }
        // A name SQLite will not take (reserved, repeated) leaves the table out.
        if (!conv.createTable(table)) continue;
        for (unsigned c = 0; c < table->num_cols; ++c) {
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
            if (col->col_type != MDB_COMPLEX) continue;
            auto names = attachmentNames.namesFor(entry->table_pg, col->name);
            if (!names.empty()) attachments[i][int(c)] = std::move(names);
        }
        rows[i] = rowsOf(native.get(), entry, table);
        first[i] = 0;
    }
    // Fewer records than the definition counts is damage; more is a count Access left stale (it
    // keeps reading such files by their pages, and so do we).
    auto tableDone = [&](size_t i, long long read) {
        if (read < static_cast<long long>(tables[i]->num_rows))
            damage.add(user[i]->object_name, read, static_cast<long long>(tables[i]->num_rows));
        Progress::sayTable(JetReaderLine::kCopied, read, user[i]->object_name);
    };
    for (size_t i = 0; i < user.size(); ++i) {
        if (first[i] < 0) continue;
        conv.attachments.swap(attachments[i]);
        first[i] = copySome(conv, rows[i], tables[i], 0, kFirstRecords);
        conv.attachments.swap(attachments[i]);
    }
    out.mustExec("COMMIT");
    for (size_t i = 0; i < user.size(); ++i) {
        if (first[i] < 0) continue;
        Progress::sayTable(JetReaderLine::kCounted, std::min<long long>(tables[i]->num_rows, 1LL << 40),
                           user[i]->object_name);
        // Fewer than asked for: the table ended (or broke off) in the first part, and is done.
        if (first[i] < kFirstRecords) tableDone(i, first[i]);
    }
    progress.report();
    Progress::say(std::string(JetReaderLine::kReady) + "\n");
    // Tests hold the fill here (the parent continues it with SIGCONT) to use a copy in the middle.
    if (std::getenv("TABULON_JET_READER_HOLD")) raise(SIGSTOP);
    out.mustExec("BEGIN");
    for (size_t i = 0; i < user.size(); ++i) {
        if (first[i] < kFirstRecords) continue;
        conv.attachments.swap(attachments[i]);
        const long long rest = copySome(conv, rows[i], tables[i], first[i]);
        rows[i] = {};
        conv.attachments.swap(attachments[i]);
        tableDone(i, first[i] + rest);
    }
    out.mustExec("COMMIT");
    damage.write(damagePath);
    // A copy nobody else has open yet goes back to an ordinary journal (a file of its own kept by
    // the caller); one the parent reads stays in WAL mode, which the parent's handle keeps.
    out.exec("PRAGMA journal_mode=DELETE");
    progress.report();
    return ExitOk;
}

// A spare's job: the three paths, each ended by a NUL, then the end of its standard input. Empty
// when the program that started it let go of it instead.
std::vector<std::string> takeJob() {
    std::string job;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n > 0) job.append(chunk, size_t(n));
        else if (n == 0) break;
        else if (errno != EINTR) return {};
    }
    std::vector<std::string> parts;
    for (size_t from = 0, end; (end = job.find('\0', from)) != std::string::npos; from = end + 1)
        parts.push_back(job.substr(from, end - from));
    if (parts.size() != 3) return {};
    return parts;
}

}  // namespace

int main(int argc, char** argv) {
    // A spare is started ahead of the next opening, and waits for its paths on standard input.
    const bool spare = argc == 3 && std::strcmp(argv[2], HelperExit::kSpare) == 0;
    if (argc != 5 && !spare) {
        std::fprintf(stderr, "usage: %s PARENT_PID JET_FILE SQLITE_FILE DAMAGE_FILE\n       %s PARENT_PID %s\n",
                     HelperExit::kProgramName, HelperExit::kProgramName, HelperExit::kSpare);
        return HelperExit::Usage;
    }
    // Dies with the program that started it: a killed program leaves no reader behind. The parent
    // may have gone before this took effect, in which case we are someone else's child by now.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != pid_t(std::atoll(argv[1]))) _exit(HelperExit::Orphaned);
    // Descriptors a careless parent let through are none of our business.
    close_range(3, ~0U, 0);
    // A crash must end quietly: no core file, and libmdb's warnings about damaged pages stay out of
    // the program's output unless asked for.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    signal(SIGPIPE, SIG_IGN);
    if (!std::getenv("TABULON_JET_DEBUG")) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) ::dup2(devNull, STDERR_FILENO);
    }
    // One thread: SQLite's mutexes and memory statistics are pure cost here.
    sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    std::vector<std::string> job;
    if (spare) {
        // Not the reader of any file yet: named apart from those until its job comes. Its paths
        // come whole, so it holds no folder meanwhile (one on a drive the user would take out).
        prctl(PR_SET_NAME, "tabulon-spare");
        if (::chdir("/") != 0) _exit(HelperExit::Usage);
        sqlite3_initialize();
        job = takeJob();
        if (job.empty()) _exit(HelperExit::Usage);
        prctl(PR_SET_NAME, HelperExit::kProgramName);
    } else {
        job = {argv[2], argv[3], argv[4]};
    }
    int code = ExitDamaged;
    try {
        code = convertFile(job[0].c_str(), job[1].c_str(), job[2].c_str());
    } catch (const Failure& f) {
        code = f.code;
    } catch (...) {
        code = ExitDamaged;
    }
    _exit(code);
}

