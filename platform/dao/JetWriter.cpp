#include "JetWriter.h"
#include "JetFormat.h"

#include <sqlite3.h>

#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "Error.h"
#include "JetIndexKey.h"
#include "JetIndexTree.h"
#include "JetPageAllocator.h"
#include "JetPageJournal.h"
#include "JetRowMover.h"
#include "JetUnknownPages.h"
#include "JetWriteGate.h"

namespace dao::jet {

namespace {

// Lets the file go at the end of a scope that entered the writer's batch, unless changes wait in it.
struct LeaveIfIdle {
    JetPager& p;
    ~LeaveIfIdle() { p.leaveIfIdle(); }
};

// The first field of the table's primary key that the record leaves Null; empty when none.
QString nullInPrimaryKey(const TableDef& t, const std::vector<FieldRef>& fields) {
    for (const LogicalIndex& li : t.indexes) {
        if (li.kind != 1) continue;
        for (const IndexData& idx : t.indexData) {
            if (idx.number != li.dataNumber) continue;
            for (const IndexColumn& ic : idx.columns) {
                const ColumnDef* c = t.columnByNumber(ic.columnNumber);
                if (c && c->type != ColBoolean && !fields[size_t(c - t.columns.data())].present) return c->name;
            }
        }
    }
    return {};
}

// A working-copy column value as the writer compares and encodes it, written over a staged value:
// the trigger hands over every column of every edit, and the buffers stay from one edit to the next.
void assignFromSqlite(JetValue& out, sqlite3_value* v) {
    auto setBytes = [&](const void* p, int n) {
        out.bytes.resize(n);
        if (n > 0) std::memcpy(out.bytes.data(), p, size_t(n));
    };
    // Emptied, not dropped: its buffer serves the next text value (a null one stays null, unallocated).
    auto noBytes = [&] {
        if (!out.bytes.isEmpty()) out.bytes.resize(0);
    };
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
            out.kind = JetValue::Int;
            out.i = sqlite3_value_int64(v);
            noBytes();
            break;
        case SQLITE_FLOAT:
            out.kind = JetValue::Real;
            out.d = sqlite3_value_double(v);
            noBytes();
            break;
        case SQLITE_TEXT: {
            out.kind = JetValue::Text;
            const auto* p = sqlite3_value_text(v);
            setBytes(p, sqlite3_value_bytes(v));
            break;
        }
        case SQLITE_BLOB: {
            out.kind = JetValue::Blob;
            const void* p = sqlite3_value_blob(v);
            setBytes(p, sqlite3_value_bytes(v));
            break;
        }
        default:
            out.kind = JetValue::Null;
            noBytes();
            break;
    }
}

QString quoted(const QString& name) {
    QString q = name;
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

QString literal(const QString& text) {
    QString q = text;
    q.replace('\'', "''");
    return '\'' + q + '\'';
}

// A quick yes for the identity check: ASCII text as stored (compressed or UCS-2) and dates, compared
// without building values. False means "not known to be equal" (the full comparison follows).
bool sameTextOrDate(const ColumnDef& c, const uint8_t* p, int n, const QByteArray& shown) {
    if (c.type == ColText) {
        const int len = int(shown.size());
        for (char ch : shown)
            if (uint8_t(ch) >= 0x80 || ch == 0) return false;
        if (c.codePage) return n == len && std::memcmp(p, shown.constData(), size_t(len)) == 0;
        if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
            return n - 2 == len && std::memcmp(p + 2, shown.constData(), size_t(len)) == 0;
        }
        if (n != 2 * len) return false;
        for (int i = 0; i < len; ++i)
            if (p[2 * i] != uint8_t(shown[i]) || p[2 * i + 1] != 0) return false;
        return true;
    }
    if (c.type == ColDateTime && n == 8 && shown.size() == 19) {
        double v;
        std::memcpy(&v, p, 8);
        char buf[20];
        return JetValueCodec::formatDate(v, buf) && std::memcmp(buf, shown.constData(), 19) == 0;
    }
    return false;
}

// The same quick yes for a Decimal, which the working copy keeps as a number (to double precision):
// its stored integer and scale as a double, compared as the full comparison does.
bool sameDecimal(const ColumnDef& c, const uint8_t* p, int n, double shown) {
    if (c.type != ColNumeric || n != 17 || c.scale > 28) return false;
    double magnitude = 0;
    for (int w = 0; w < 4; ++w) magnitude = magnitude * 4294967296.0 + double(rd32(p + 1 + 4 * w));
    if (magnitude >= 9007199254740992.0) return false;  // past 2^53: not exact, take the long way
    const double v = ((p[0] & 0x80) ? -magnitude : magnitude) / std::pow(10.0, c.scale);
    return std::fabs(v - shown) <= 1e-12 * std::max(1.0, std::fabs(v));
}

struct FieldChange {
    int column = 0;  // index in the table definition
    bool null = false;
    bool boolValue = false;
    QByteArray bytes;
};

// The record rebuilt with its changes, in exactly its old length (unused bytes after the
// variable-length data); false when the changes do not fit.
bool rewriteRow(const TableDef& t, const uint8_t* row, int len, const std::vector<FieldChange>& changes,
                QByteArray& out, bool compact = false) {
    const RowLayout l = JetFile::rowLayout(t, row, len);
    // Fixed-length and Yes/No values only (the common edit): nothing moves, so the record's own
    // bytes take the values and the mask bits in place.
    const bool fixedOnly = !compact && std::all_of(changes.begin(), changes.end(), [&](const FieldChange& ch) {
        const ColumnDef& c = t.columns[size_t(ch.column)];
        return c.type == ColBoolean || c.isFixed();
    });
    if (fixedOnly) {
        out = QByteArray(reinterpret_cast<const char*>(row), len);
        auto* o = reinterpret_cast<uint8_t*>(out.data());
        uint8_t* m = o + len - l.maskLength;
        for (const FieldChange& ch : changes) {
            const ColumnDef& c = t.columns[size_t(ch.column)];
            if (c.number >= l.columns) return false;  // the record predates the column
            const bool present = c.type == ColBoolean ? ch.boolValue : !ch.null;
            const uint8_t bit = uint8_t(1 << (c.number % 8));
            m[c.number / 8] = present ? uint8_t(m[c.number / 8] | bit) : uint8_t(m[c.number / 8] & ~bit);
            if (c.type == ColBoolean || ch.null) continue;  // a Null keeps the old bytes
            if (l.dataStart + c.fixedOffset + c.length > l.fixedEnd || ch.bytes.size() != c.length) return false;
            std::memcpy(o + l.dataStart + c.fixedOffset, ch.bytes.constData(), size_t(c.length));
        }
        return true;
    }
    QByteArray mask(reinterpret_cast<const char*>(row + len - l.maskLength), l.maskLength);
    QByteArray fixed(reinterpret_cast<const char*>(row + l.dataStart), l.fixedEnd - l.dataStart);
    std::vector<QByteArray> var(size_t(l.varCount));
    for (int i = 0; i < l.varCount; ++i) {
        const int s = l.varOffsets[size_t(i)];
        const int e = i + 1 < l.varCount ? l.varOffsets[size_t(i) + 1] : l.eod;
        var[size_t(i)] = QByteArray(reinterpret_cast<const char*>(row + s), e - s);
    }
    for (const FieldChange& ch : changes) {
        const ColumnDef& c = t.columns[size_t(ch.column)];
        if (c.number >= l.columns) return false;  // the record predates the column
        const bool present = c.type == ColBoolean ? ch.boolValue : !ch.null;
        char& m = mask[c.number / 8];
        m = char(present ? (uint8_t(m) | 1 << (c.number % 8)) : (uint8_t(m) & ~(1 << (c.number % 8))));
        if (c.type == ColBoolean) continue;
        if (c.isFixed()) {
            if (ch.null) continue;  // the old bytes stay; the mask says Null
            if (c.fixedOffset + c.length > fixed.size() || ch.bytes.size() != c.length) return false;
            std::memcpy(fixed.data() + c.fixedOffset, ch.bytes.constData(), size_t(c.length));
        } else {
            if (c.varIndex >= l.varCount) {
                if (ch.null) continue;
                return false;
            }
            var[size_t(c.varIndex)] = ch.null ? QByteArray() : ch.bytes;
        }
    }
    // Compact: no unused bytes (the record is placed anew); else the record keeps its length.
    return JetFile::buildRow(t, l.columns, fixed, var, mask, compact ? 0 : len, out);
}

// Pairs: the old and the new value of each column (updates, deletes); otherwise the new ones only
// (adds, which have no old values).
template <bool Pairs>
void stageFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* b = static_cast<JetWriter::Binding*>(sqlite3_user_data(ctx));
    constexpr int kPerColumn = Pairs ? 2 : 1;
    if (argc < 2 || (argc - 2) % kPerColumn != 0) {
        sqlite3_result_error(ctx, "jet-error 3000: wrong use of the Jet update function", -1);
        return;
    }
    try {
        // The trigger hands the values over in chunks, in column order.
        const int first = sqlite3_value_int(argv[1]);
        if (first == 0) b->staged = 0;
        if (first == b->staged) {
            const size_t end = size_t(first + (argc - 2) / kPerColumn);
            if (Pairs) b->stagedOld.resize(end);
            b->stagedNew.resize(end);
            for (int i = 2, k = first; i < argc; i += kPerColumn, ++k) {
                if (Pairs) assignFromSqlite(b->stagedOld[size_t(k)], argv[i]);
                assignFromSqlite(b->stagedNew[size_t(k)], argv[i + kPerColumn - 1]);
            }
            b->staged = int(end);
        }
        sqlite3_result_null(ctx);
    } catch (...) {
        sqlite3_result_error(ctx, "jet-error 3000: the Jet update failed", -1);
    }
}

// Answers one call of the trigger functions: null when the writer did it, otherwise an error whose text
// carries the engine's error number. A failure escaping the writer becomes that error too.
template <class Call>
void answerWrite(sqlite3_context* ctx, const char* failure, Call call) {
    int number = err::ReadOnly;
    QString why;
    bool ok = false;
    try {
        ok = call(number, why);
    } catch (const std::exception& e) {
        why = QString("%1 (%2).").arg(QLatin1String(failure), QString::fromUtf8(e.what()));
    } catch (...) {
        why = QLatin1String(failure) + QLatin1Char('.');
    }
    if (ok) {
        sqlite3_result_null(ctx);
        return;
    }
    const QByteArray msg = (QString(JetWriter::kErrorPrefix) + QString::number(number) + ": " + why).toUtf8();
    sqlite3_result_error(ctx, msg.constData(), int(msg.size()));
}

void applyFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* b = static_cast<JetWriter::Binding*>(sqlite3_user_data(ctx));
    answerWrite(ctx, "The record could not be changed in the file", [&](int& number, QString& why) {
        if (argc == 3 && sqlite3_value_int64(argv[1]) != sqlite3_value_int64(argv[2])) {
            why = QStringLiteral("A record of an Access table cannot change its place.");
            return false;
        }
        return b->writer->apply(*b, sqlite3_value_int(argv[0]), sqlite3_value_int64(argv[1]), number, why);
    });
}

void insertFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* b = static_cast<JetWriter::Binding*>(sqlite3_user_data(ctx));
    answerWrite(ctx, "The record could not be added to the file", [&](int& number, QString& why) {
        return argc == 2 && b->writer->insert(*b, sqlite3_value_int(argv[0]), sqlite3_value_int64(argv[1]), number, why);
    });
}

void removeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* b = static_cast<JetWriter::Binding*>(sqlite3_user_data(ctx));
    answerWrite(ctx, "The record could not be deleted in the file", [&](int& number, QString& why) {
        return argc == 2 && b->writer->remove(*b, sqlite3_value_int(argv[0]), sqlite3_value_int64(argv[1]), number, why);
    });
}

// Design changes to the Access tables (the working copy's main schema) are refused.
int authorize(void*, int action, const char*, const char*, const char* dbName, const char*) {
    const bool main = dbName && std::strcmp(dbName, "main") == 0;
    switch (action) {
        case SQLITE_CREATE_INDEX:
        case SQLITE_CREATE_TABLE:
        case SQLITE_CREATE_TRIGGER:
        case SQLITE_CREATE_VIEW:
        case SQLITE_DROP_INDEX:
        case SQLITE_DROP_TABLE:
        case SQLITE_DROP_TRIGGER:
        case SQLITE_DROP_VIEW:
        case SQLITE_ALTER_TABLE:
        case SQLITE_CREATE_VTABLE:
        case SQLITE_DROP_VTABLE:
            return main ? SQLITE_DENY : SQLITE_OK;
        default:
            return SQLITE_OK;
    }
}

constexpr int kColumnsPerCall = 60;  // SQLite takes at most 127 arguments
// ACE: the last reference handed out to a record's attachment / multi-valued fields (one per record,
// shared by all of them, never reused).
constexpr int kTdefComplexAutoNumber = 28;

bool isLongAutoNumber(const ColumnDef& c) { return c.isAutoNumber() && c.type == ColLong; }
// A replication ID: a GUID field that Access fills with a new random GUID.
bool isGuidAutoNumber(const ColumnDef& c) { return c.type == ColGuid && (c.isAutoNumber() || (c.flags & 0x40)); }

// The AutoNumber the last add of this connection gave, for the working copy to show it.
void autoNumberFunction(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* b = static_cast<JetWriter::Binding*>(sqlite3_user_data(ctx));
    if (b->givenAutoNumber)
        sqlite3_result_int64(ctx, *b->givenAutoNumber);
    else
        sqlite3_result_null(ctx);
}

// The replication ID the last add of this connection gave.
void guidFunction(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* b = static_cast<JetWriter::Binding*>(sqlite3_user_data(ctx));
    if (b->givenGuid)
        sqlite3_result_text(ctx, b->givenGuid->constData(), int(b->givenGuid->size()), SQLITE_TRANSIENT);
    else
        sqlite3_result_null(ctx);
}

}  // namespace

std::shared_ptr<JetWriter> JetWriter::forFile(const QString& path) {
    static std::mutex mu;
    static std::map<QString, std::weak_ptr<JetWriter>> writers;
    const QString key = QFileInfo(path).canonicalFilePath();
    std::lock_guard<std::mutex> g(mu);
    if (auto w = writers[key].lock()) return w;
    std::shared_ptr<JetWriter> w(new JetWriter(key));
    writers[key] = w;
    return w;
}

JetWriter::JetWriter(const QString& path) : path_(path), pager_(path) {
    // Read under the lock: never half of another process's batch.
    enterBatch();
    pager_.leaveIfIdle();
}

struct JetWriter::UnknownScan {
    std::atomic<bool> stop{false};
    std::optional<std::vector<uint32_t>> pages;  // none when the scan failed or was stopped
    uint64_t readCount = 0;                      // the writer's read of the file it was made for
    std::thread thread;
};

JetWriter::~JetWriter() {
    if (!unknownScan_) return;
    unknownScan_->stop = true;
    unknownScan_->thread.join();
}

void JetWriter::scanAhead() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    if (unknownPages_ || unknownScan_) return;
    auto scan = std::make_unique<UnknownScan>();
    scan->readCount = readCount_;
    // Its own view of the file: the pager's may be replaced meanwhile.
    scan->thread = std::thread([s = scan.get(), path = path_] {
        try {
            s->pages = JetUnknownPages::find(*JetFile::open(path), &s->stop);
        } catch (const std::exception&) {
            // The first change scans the file itself and says what is wrong with it.
        }
    });
    unknownScan_ = std::move(scan);
}

std::optional<std::vector<uint32_t>> JetWriter::takeScanned() {
    const std::unique_ptr<UnknownScan> scan = std::move(unknownScan_);
    if (!scan) return std::nullopt;
    // Stopped within a megabyte when the file has been read afresh since.
    const bool stale = scan->readCount != readCount_;
    if (stale) scan->stop = true;
    scan->thread.join();
    return stale ? std::nullopt : std::move(scan->pages);
}

void JetWriter::enterBatch() {
    if (!pager_.enter()) return;
    indexPages_.clear();  // the file was read afresh
    try {
        reload();
    } catch (...) {
        pager_.abandon();
        throw;
    }
}

int JetWriter::authorizeDesign(void* data, int action, const char* a3, const char* a4, const char* dbName,
                               const char* trigger) {
    return authorize(data, action, a3, a4, dbName, trigger);
}

void JetWriter::reload() {
    ++readCount_;
    allocator_.reset();
    unknownPages_.reset();
    tableBlocked_.clear();
    addRefusal_.clear();
    const JetFile& file = pager_.file();
    std::vector<bool> found(tables_.size(), false);
    for (const CatalogTable& ct : file.catalog()) {
        const auto it = tableIndex_.find(ct.name);
        if (it == tableIndex_.end()) {
            // A table made since: the working copies have no triggers for it.
            Table t;
            t.def = file.readTableDef(ct.tdefPage, ct.name);
            t.system = ct.isSystem();
            tableIndex_[ct.name] = int(tables_.size());
            tables_.push_back(std::move(t));
            found.push_back(true);
            continue;
        }
        Table& t = tables_[size_t(it->second)];
        t.def = file.readTableDef(ct.tdefPage, ct.name);
        t.emptyRow.clear();
        t.system = ct.isSystem();
        t.gone = false;
        found[size_t(it->second)] = true;
        // The working copies' columns, matched by name again (the design may have changed).
        for (size_t k = 0; k < t.sqlNames.size(); ++k) {
            int at = -1;
            for (size_t c = 0; c < t.def.columns.size(); ++c)
                if (t.def.columns[c].name == t.sqlNames[k]) at = int(c);
            t.columnOf[k] = at;
        }
    }
    for (size_t i = 0; i < tables_.size(); ++i)
        if (!found[i]) tables_[i].gone = true;
}

void JetWriter::mapCopy(const QString& copyKey) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    if (copyIds_.count(copyKey)) return;
    enterBatch();
    const LeaveIfIdle leave{pager_};
    mapCopyEntered(copyKey);
}

void JetWriter::mapCopyEntered(const QString& copyKey) {
    if (copyIds_.count(copyKey)) return;
    // The reader's order (as the file stands now, this batch's changes included).
    std::vector<std::vector<RowId>> rows(tables_.size());
    for (size_t ti = 0; ti < tables_.size(); ++ti) rows[ti] = JetRowMover(allocator()).readerOrder(tables_[ti].def);
    copyIds_.emplace(copyKey, int(copyRows_.size()));
    copyRows_.push_back(std::move(rows));
}

void JetWriter::attach(sqlite3* db, const QString& copyKey) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    enterBatch();
    const LeaveIfIdle leave{pager_};
    mapCopyEntered(copyKey);
    const auto known = copyIds_.find(copyKey);
    bindings_.push_back(std::make_unique<Binding>());
    bindings_.back()->writer = this;
    bindings_.back()->copy = known->second;
    Binding* b = bindings_.back().get();
    sqlite3_create_function_v2(db, "tabulon_jet_stage", -1, SQLITE_UTF8, b, stageFunction<true>, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "tabulon_jet_stage_new", -1, SQLITE_UTF8, b, stageFunction<false>, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "tabulon_jet_apply", 3, SQLITE_UTF8, b, applyFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "tabulon_jet_remove", 2, SQLITE_UTF8, b, removeFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "tabulon_jet_insert", 2, SQLITE_UTF8, b, insertFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "tabulon_jet_autonumber", 0, SQLITE_UTF8, b, autoNumberFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "tabulon_jet_guid", 0, SQLITE_UTF8, b, guidFunction, nullptr, nullptr, nullptr);
    installTriggers(db);
    sqlite3_set_authorizer(db, authorize, nullptr);
}

void JetWriter::installTriggers(sqlite3* db) {
    std::vector<QString> names;
    {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM main.sqlite_master WHERE type='table'", -1, &st, nullptr);
        while (st && sqlite3_step(st) == SQLITE_ROW)
            names.push_back(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))));
        sqlite3_finalize(st);
    }
    int serial = 0;
    for (const QString& name : names) {
        const QString on = "main." + quoted(name);
        const QString tag = QString("tabulon_jet_%1_").arg(serial++);
        const QString addRefused = literal(QString(kErrorPrefix) + "3027: Adding records to Access tables is not available yet.");
        const QString deleteRefused = literal(QString(kErrorPrefix) + "3027: Deleting records from Access tables is not available yet.");
        QStringList sql;
        const auto it = tableIndex_.find(name);
        if (it == tableIndex_.end()) {
            sql << QString("CREATE TEMP TRIGGER %1 BEFORE INSERT ON %2 BEGIN SELECT RAISE(ABORT, %3); END")
                       .arg(quoted(tag + "i"), on, addRefused);
            sql << QString("CREATE TEMP TRIGGER %1 BEFORE DELETE ON %2 BEGIN SELECT RAISE(ABORT, %3); END")
                       .arg(quoted(tag + "d"), on, deleteRefused);
            sql << QString("CREATE TEMP TRIGGER %1 BEFORE UPDATE ON %2 BEGIN SELECT RAISE(ABORT, %3); END")
                       .arg(quoted(tag + "u"), on,
                            literal(QString(kErrorPrefix) + "3027: This table is not found in the Access file."));
        } else {
            Table& t = tables_[size_t(it->second)];
            t.sqlNames.clear();
            t.columnOf.clear();
            sqlite3_stmt* st = nullptr;
            const QByteArray info = ("PRAGMA main.table_info(" + quoted(name) + ")").toUtf8();
            sqlite3_prepare_v2(db, info.constData(), -1, &st, nullptr);
            while (st && sqlite3_step(st) == SQLITE_ROW) {
                const QString col = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
                t.sqlNames.push_back(col);
                int found = -1;
                for (size_t c = 0; c < t.def.columns.size(); ++c)
                    if (t.def.columns[c].name == col) found = int(c);
                t.columnOf.push_back(found);
            }
            sqlite3_finalize(st);
            // The values go over in chunks: SQLite passes at most 127 arguments to a function.
            // oldSide null: the new values only.
            auto staging = [&](const char* newSide, const char* oldSide = "OLD") {
                const char* function = oldSide ? "tabulon_jet_stage" : "tabulon_jet_stage_new";
                const size_t perCall = oldSide ? kColumnsPerCall : 2 * kColumnsPerCall;
                QString body;
                for (size_t first = 0; first < t.sqlNames.size(); first += perCall) {
                    QString args = QString("%1, %2").arg(it->second).arg(first);
                    for (size_t k = first; k < std::min(t.sqlNames.size(), first + perCall); ++k) {
                        if (oldSide) args += QString(", ") + oldSide + "." + quoted(t.sqlNames[k]);
                        args += QString(", ") + newSide + "." + quoted(t.sqlNames[k]);
                    }
                    body += QString("SELECT %1(%2); ").arg(function, args);
                }
                if (t.sqlNames.empty()) body += QString("SELECT %1(%2, 0); ").arg(function).arg(it->second);
                return body;
            };
            const QString update = staging("NEW") + QString("SELECT tabulon_jet_apply(%1, OLD.rowid, NEW.rowid);").arg(it->second);
            sql << QString("CREATE TEMP TRIGGER %1 BEFORE UPDATE ON %2 BEGIN %3 END").arg(quoted(tag + "u"), on, update);
            const QString del = staging("OLD") + QString("SELECT tabulon_jet_remove(%1, OLD.rowid);").arg(it->second);
            sql << QString("CREATE TEMP TRIGGER %1 BEFORE DELETE ON %2 BEGIN %3 END").arg(quoted(tag + "d"), on, del);
            // After the insert the working copy has given the record its rowid.
            QString add = staging("NEW", nullptr) + QString("SELECT tabulon_jet_insert(%1, NEW.rowid);").arg(it->second);
            // The working copy shows the AutoNumber the file gave, in one update the writer takes as
            // that echo (it is not handed on).
            QStringList sets, unset;
            for (size_t k = 0; k < t.sqlNames.size(); ++k) {
                if (t.columnOf[k] < 0) continue;
                const ColumnDef& c = t.def.columns[size_t(t.columnOf[k])];
                const char* given = isLongAutoNumber(c) ? "tabulon_jet_autonumber()" : isGuidAutoNumber(c) ? "tabulon_jet_guid()" : nullptr;
                if (!given) continue;
                const QString col = quoted(t.sqlNames[k]);
                sets << QString("%1 = coalesce(NEW.%1, %2)").arg(col, given);
                unset << QString("NEW.%1 IS NULL").arg(col);
            }
            if (!sets.isEmpty())
                add += QString(" UPDATE %1 SET %2 WHERE rowid = NEW.rowid AND (%3);")
                           .arg(quoted(name), sets.join(", "), unset.join(" OR "));
            sql << QString("CREATE TEMP TRIGGER %1 AFTER INSERT ON %2 BEGIN %3 END").arg(quoted(tag + "i"), on, add);
        }
        for (const QString& s : sql) {
            const QByteArray u = s.toUtf8();
            char* msg = nullptr;
            if (sqlite3_exec(db, u.constData(), nullptr, nullptr, &msg) != SQLITE_OK) {
                const QString why = QString::fromUtf8(msg ? msg : "");
                sqlite3_free(msg);
                raise(err::Reserved, QString("Cannot prepare the Access table '%1' for changes: %2.").arg(name, why));
            }
        }
    }
}

JetPageAllocator& JetWriter::allocator() {
    if (!allocator_) {
        JetPageAllocator::Pages pages;
        pages.pageSize = pager_.pageSize();
        pages.read = [this](uint32_t p) { return pager_.read(p); };
        pages.write = [this](uint32_t p) { return pager_.write(p); };
        pages.create = [this](uint32_t p) { return pager_.create(p); };
        pages.end = [this] { return pager_.end(); };
        pages.forgetRead = [this] { pager_.file().forgetReadPages(); };
        allocator_ = std::make_unique<JetPageAllocator>(std::move(pages));
    }
    return *allocator_;
}

uint32_t JetWriter::newDataPage(const Table& t) {
    return allocator().allocate(PageData, t.def.firstPage, {t.def.ownedPagesMap, t.def.freePagesMap});
}

uint32_t JetWriter::newLongValuePage(const Table& t, int columnNumber) {
    for (const TableDef::LongValueMaps& m : t.def.longValueMaps)
        if (m.column == columnNumber) return allocator().allocate(PageData, JetPageAllocator::kLongValueOwner, {m.owned, m.free});
    throw FormatError("the table definition keeps no page maps for long values of column " + std::to_string(columnNumber));
}

uint32_t JetWriter::newIndexPage(const Table& t, const IndexData& idx, uint8_t pageType) {
    if (pageType != PageIndexLeaf && pageType != PageIndexNode) throw FormatError("not an index page type");
    return allocator().allocate(pageType, t.def.firstPage, {idx.usageMap});
}

JetLongValueWriter JetWriter::longValues(const Table& t) {
    JetLongValueWriter::Pages pages;
    pages.read = [this](uint32_t p) { return pageBytes(p); };
    pages.write = [this](uint32_t p) { return pendingPage(p); };
    pages.newPage = [this, &t](const ColumnDef& c) { return newLongValuePage(t, c.number); };
    pages.roomy = [this, &t](const ColumnDef& c, uint32_t page, bool roomy) {
        for (const TableDef::LongValueMaps& m : t.def.longValueMaps)
            if (m.column == c.number && m.free != 0 && allocator().listed(m.free, page) != roomy)
                allocator().setListed(m.free, page, roomy);
    };
    return JetLongValueWriter(pager_.file(), std::move(pages));
}

bool JetWriter::listedIn(const TableDef& t, const IndexData& idx, const std::vector<FieldRef>& fields) {
    if (!idx.ignoresNulls()) return true;
    for (const IndexColumn& ic : idx.columns) {
        const ColumnDef* c = t.columnByNumber(ic.columnNumber);
        if (c && (c->type == ColBoolean || fields[size_t(c - t.columns.data())].present)) return true;
    }
    return false;  // all Null, and the index leaves such records out
}

bool JetWriter::rowOf(int copy, int table, long long rowid, RowId& out) const {
    if (copy < 0 || size_t(copy) >= copyRows_.size()) return false;
    const auto& rows = copyRows_[size_t(copy)][size_t(table)];
    if (rowid < 1 || size_t(rowid) > rows.size()) return false;
    out = rows[size_t(rowid - 1)];
    return true;
}

QString JetWriter::recordName(const Table& t, const std::vector<JetValue>& shown) const {
    // The primary key's fields, else the first field shown.
    std::vector<int> numbers;
    for (const LogicalIndex& li : t.def.indexes)
        if (li.kind == 1)
            for (const IndexData& d : t.def.indexData)
                if (d.number == li.dataNumber)
                    for (const IndexColumn& ic : d.columns) numbers.push_back(ic.columnNumber);
    QStringList parts;
    for (size_t k = 0; k < t.sqlNames.size() && k < shown.size(); ++k) {
        const int ci = t.columnOf[k];
        if (ci < 0) continue;
        const ColumnDef& c = t.def.columns[size_t(ci)];
        if (numbers.empty() ? !parts.isEmpty() : std::find(numbers.begin(), numbers.end(), c.number) == numbers.end())
            continue;
        parts << QString("%1 = %2").arg(c.name, shown[k].describe());
    }
    return parts.isEmpty() ? QString("a record of table '%1'").arg(t.def.name)
                           : QString("the record (%1) of table '%2'").arg(parts.join(", "), t.def.name);
}

const fmt::Layout& JetWriter::layout() const { return fmt::layout(pager_.file().pageSize()); }

bool JetWriter::locate(const Binding& b, int table, long long rowid, Located& out, int& errorNumber, QString& why) {
    const int copy = b.copy;
    const std::vector<JetValue>& oldValues = b.stagedOld;
    const std::vector<JetValue>& newValues = b.stagedNew;
    const Table& t = tables_[size_t(table)];
    if (t.gone) {
        why = QString("Table '%1' is no longer in the Access file.").arg(t.def.name);
        return false;
    }
    if (t.system) {
        why = QString("'%1' is a system table of the Access file; Tabulon does not change it.").arg(t.def.name);
        return false;
    }
    if (oldValues.size() != t.sqlNames.size() || newValues.size() != t.sqlNames.size()) {
        why = QStringLiteral("The values of the record did not reach the Access writer.");
        return false;
    }
    // Built only when needed: locate runs for every edit.
    const auto notFound = [&] { return QString("The record cannot be found in the Access file (table '%1').").arg(t.def.name); };
    if (!rowOf(copy, table, rowid, out.at)) {
        why = notFound();
        return false;
    }
    const RowId first = out.at;
    // Offsets come from the page as this batch left it (a deletion, a repacked page).
    const int ps = pager_.file().pageSize();
    if (!hasPage(first.page)) {
        why = notFound();
        return false;
    }
    out.slot = JetFile::slotIn(pageBytes(first.page), ps, first.page, first.row);
    if (out.slot.deleted) {
        // Its working copy still shows it: another program deleted it since.
        errorNumber = err::RecordDeleted;
        why = QString("%1 was deleted by another user after it was shown; it is not changed.")
                  .arg(recordName(t, oldValues));
        why[0] = why[0].toUpper();
        return false;
    }
    if (out.slot.overflow) {
        if (out.slot.end - out.slot.start < 4) throw FormatError("an overflow pointer is short");
        out.at = RowId::fromWord(rd32(pageBytes(first.page) + out.slot.start));
        if (out.at.page == 0 || !hasPage(out.at.page) || pageBytes(out.at.page)[0] != PageData)
            throw FormatError("an overflow pointer leads outside the data pages");
        out.slot = JetFile::slotIn(pageBytes(out.at.page), ps, out.at.page, out.at.row);
    }
    out.row = pageBytes(out.at.page) + out.slot.start;
    try {
        out.fields = pager_.file().crackRow(t.def, out.row, out.slot.end - out.slot.start);
    } catch (const FormatError& e) {
        why = QString("The record cannot be read in the Access file (%1).").arg(e.what());
        return false;
    }
    for (size_t k = 0; k < t.sqlNames.size(); ++k) {
        const int ci = t.columnOf[k];
        if (ci < 0) continue;
        const ColumnDef& c = t.def.columns[size_t(ci)];
        const FieldRef& fr = out.fields[size_t(ci)];
        const JetValue& shown = oldValues[k];
        // Whole numbers compare without building a value.
        if (shown.kind == JetValue::Int && fr.present &&
            ((c.type == ColLong && fr.size == 4 && int32_t(rd32(out.row + fr.offset)) == shown.i) ||
             (c.type == ColInteger && fr.size == 2 && int16_t(rd16(out.row + fr.offset)) == shown.i) ||
             (c.type == ColByte && fr.size == 1 && out.row[fr.offset] == shown.i)))
            continue;
        if (c.type == ColBoolean && shown.kind == JetValue::Int && (shown.i != 0) == fr.present) continue;
        if (fr.present && shown.kind == JetValue::Text && sameTextOrDate(c, out.row + fr.offset, fr.size, shown.bytes)) continue;
        if (fr.present && (shown.kind == JetValue::Int || shown.kind == JetValue::Real) &&
            sameDecimal(c, out.row + fr.offset, fr.size, shown.kind == JetValue::Int ? double(shown.i) : shown.d))
            continue;
        const auto inFile = JetValueCodec::decode(c, out.row, fr);
        if (inFile && c.type == ColNumeric && inFile->kind == JetValue::Text && oldValues[k].kind != JetValue::Null) {
            // The working copy keeps a Decimal as a number (to double precision).
            const double a = inFile->bytes.toDouble();
            const double b = oldValues[k].kind == JetValue::Text ? oldValues[k].bytes.toDouble()
                             : oldValues[k].kind == JetValue::Int ? double(oldValues[k].i)
                                                                   : oldValues[k].d;
            if (std::fabs(a - b) <= 1e-12 * std::max(1.0, std::fabs(a))) continue;
        }
        if (inFile && !(*inFile == oldValues[k])) {
            errorNumber = err::DataChanged;
            why = QString("The data has been changed by another user: %1 no longer holds what is shown (field '%2': %3 in "
                          "the file, %4 shown); the change is not saved.")
                      .arg(recordName(t, oldValues), c.name, inFile->describe(), oldValues[k].describe());
            return false;
        }
    }
    return true;
}

bool JetWriter::changeIndexEntry(const Table& t, const IndexData& idx, RowId id, bool remove,
                                 const std::optional<QByteArray>& insertKey, int& errorNumber, QString& why,
                                 const std::optional<QByteArray>& removeKey) {
    errorNumber = err::ReadOnly;
    const auto name = [&t, &idx] { return t.def.indexName(idx); };
    if (idx.rootPage == 0 || !hasPage(idx.rootPage)) {
        why = QString("Index %1 has no root page.").arg(name());
        return false;
    }
    JetIndexTree::Store store;
    store.pageSize = pager_.file().pageSize();
    store.pageCount = pager_.end();  // new pages of this batch included
    store.read = [this](uint32_t p) { return pageBytes(p); };
    store.write = [this](uint32_t p) { return pendingPage(p); };
    store.pages = &indexPages_;
    QString mapFault;
    store.allocate = [&]() -> uint32_t {
        try {
            return newIndexPage(t, idx, PageIndexLeaf);
        } catch (const FormatError& e) {
            mapFault = QString::fromUtf8(e.what());
            return 0;
        }
    };
    store.release = [&](uint32_t p) {
        // An emptied page leaves the index's map for the file's free pages; a map that cannot
        // take the change leaves the page where it is (unreachable, harmless).
        try {
            allocator().setListed(idx.usageMap, p, false);
            allocator().setListed(JetPageAllocator::kGlobalMap, p, true);
        } catch (const FormatError&) {
        }
    };
    JetIndexTree tree(std::move(store), idx.rootPage, name);
    auto refused = [&] {
        if (!mapFault.isEmpty()) why += QString(" (%1)").arg(mapFault);
        return false;
    };
    if (remove && !tree.remove(removeKey, id, why)) return refused();
    if (!insertKey) return true;
    const bool known = tree.hasKey(*insertKey, why);
    bool nullOnly = insertKey->size() == int(idx.columns.size());
    for (size_t i = 0; nullOnly && i < idx.columns.size(); ++i)
        nullOnly = uint8_t(insertKey->at(int(i))) == (idx.columns[i].ascending ? 0x00 : 0xFF);
    bool primary = false;
    for (const LogicalIndex& li : t.def.indexes)
        if (li.dataNumber == idx.number && li.kind == 1) primary = true;
    if ((idx.unique() || primary) && !nullOnly && known) {
        errorNumber = err::DuplicateValue;
        why = QString("The change would give index %1 a duplicate value.").arg(name());
        return false;
    }
    if (!tree.insert({*insertKey, id, 0}, why)) return refused();
    if (!known) {
        // The count of distinct keys only ever grows.
        uint8_t* tdef = pendingPage(t.def.firstPage);
        const int at = layout().tdefBlocks + layout().indexCountSize * idx.number + 4;
        const uint32_t n = rd32(tdef + at) + 1;
        for (int i = 0; i < 4; ++i) tdef[at + i] = uint8_t(n >> (8 * i));
    }
    return true;
}

bool JetWriter::apply(Binding& b, int table, long long rowid, int& errorNumber, QString& why) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    enterBatch();
    const int copy = b.copy;
    const std::vector<JetValue>& oldValues = b.stagedOld;
    const std::vector<JetValue>& newValues = b.stagedNew;
    errorNumber = err::ReadOnly;
    if (table < 0 || size_t(table) >= tables_.size()) {
        why = QStringLiteral("This table is not found in the Access file.");
        return false;
    }
    const Table& t = tables_[size_t(table)];
    if ((b.givenAutoNumber || b.givenGuid) && b.echoRowid == rowid) {
        // The working copy taking the AutoNumber the add just gave: the file has it already.
        b.echoRowid = 0;
        return true;
    }
    why = whyTableBlocked(table);
    if (!why.isEmpty()) return false;
    Located loc;
    if (!locate(b, table, rowid, loc, errorNumber, why)) return false;
    RowId first;
    rowOf(copy, table, rowid, first);
    why = whyRecordBlocked(table, first, loc);
    if (!why.isEmpty()) return false;
    const RowId at = loc.at;
    const RowSlot s = loc.slot;
    const uint8_t* row = loc.row;
    const int len = s.end - s.start;
    const std::vector<FieldRef>& fields = loc.fields;

    std::vector<FieldChange> changes;
    JetLongValueWriter lv = longValues(t);
    std::vector<std::pair<int, QByteArray>> longChecks;  // column, data it must read back as
    std::vector<JetValue> expected(t.def.columns.size());
    std::vector<bool> check(t.def.columns.size(), false);
    std::vector<bool> unchanged(t.def.columns.size(), false);
    std::vector<int> changedNumbers;
    changes.reserve(t.sqlNames.size());  // one allocation each, not one per changed field
    changedNumbers.reserve(t.sqlNames.size());
    for (size_t k = 0; k < t.sqlNames.size(); ++k) {
        const int ci = t.columnOf[k];
        if (ci < 0) continue;
        const ColumnDef& c = t.def.columns[size_t(ci)];
        if (oldValues[k] == newValues[k]) {
            unchanged[size_t(ci)] = true;  // checked below byte for byte
            continue;
        }
        if (c.type == ColComplex) {
            why = QString("Field '%1' holds attachments or several values, kept in hidden tables; Tabulon shows "
                          "them and does not change them.").arg(c.name);
            return false;
        }
        if (c.isAutoNumber() || isGuidAutoNumber(c)) {
            why = QString("Field '%1' is an AutoNumber; its values are not changed.").arg(c.name);
            return false;
        }
        for (const IndexData& idx : t.def.indexData)
            for (const IndexColumn& ic : idx.columns) {
                if (ic.columnNumber != c.number) continue;
                for (const IndexColumn& other : idx.columns)
                    if (const ColumnDef* oc = t.def.columnByNumber(other.columnNumber); !oc || !JetIndexKey::encodable(*oc)) {
                        why = QString("Field '%1' is part of index %2, whose keys of this type are not written yet.")
                                  .arg(c.name, t.def.indexName(idx));
                        return false;
                    }
            }
        FieldChange ch;
        ch.column = ci;
        const JetValue& nv = newValues[k];
        if (c.isLongValue()) {
            // The old value's rows are given up first, so the new value may take their room.
            const FieldRef& of = fields[size_t(ci)];
            std::optional<QByteArray> data;
            QString refusal;
            if (nv.kind != JetValue::Null && !(data = JetLongValueWriter::dataOf(c, nv, &refusal))) {
                errorNumber = err::DataTypeMismatch;
                why = !refusal.isEmpty() ? refusal : QString("%1 cannot be stored in field '%2'.").arg(nv.describe(), c.name);
                return false;
            }
            try {
                // Long values are not compared when the record is found; the one replaced is.
                if (!lv.holds(c, of.present, row + of.offset, of.size, oldValues[k])) {
                    errorNumber = err::DataChanged;
                    why = QString("The data has been changed by another user: %1 no longer holds what is shown (field '%2'); "
                                  "the change is not saved.")
                              .arg(recordName(t, oldValues), c.name);
                    return false;
                }
                if (of.present) lv.release(c, row + of.offset, of.size);
            } catch (const FormatError& e) {
                why = QString("The old value of field '%1' cannot be read (%2).").arg(c.name, e.what());
                return false;
            }
            if (!data) {
                ch.null = true;
            } else {
                const int rest = len - (of.present ? of.size : 0);
                const bool roomy = rest + 12 + int(data->size()) <= JetLongValueWriter::maxRecordLength(pager_.file().pageSize());
                if (!lv.store(t.def, c, *data, roomy, ch.bytes, why)) return false;
                longChecks.push_back({ci, *data});
            }
            changedNumbers.push_back(c.number);
            changes.push_back(std::move(ch));
            continue;
        }
        if (c.type == ColComplex) {
            JetValueCodec::encode(c, nv, ch.bytes, errorNumber, why);
            return false;
        }
        if (c.type == ColBoolean) {
            ch.boolValue = JetValueCodec::stored(c, nv).i != 0;
        } else if (nv.kind == JetValue::Null) {
            ch.null = true;
        } else if (!JetValueCodec::encode(c, nv, ch.bytes, errorNumber, why)) {
            return false;
        }
        expected[size_t(ci)] = ch.null ? JetValue() : JetValueCodec::stored(c, nv);
        check[size_t(ci)] = true;
        changedNumbers.push_back(c.number);
        changes.push_back(std::move(ch));
    }
    if (changes.empty()) return true;

    QByteArray rebuilt;
    std::vector<FieldRef> after;
    bool grows = false;
    try {
        if (!rewriteRow(t.def, row, len, changes, rebuilt)) {
            // Larger than its place: packed again on its page, or moved to another one (below).
            grows = rewriteRow(t.def, row, len, changes, rebuilt, true);
            if (!grows) {
                errorNumber = err::ReadOnly;
                why = QString("The new values cannot be laid out in the record (table '%1').").arg(t.def.name);
                return false;
            }
        }
        // Never write what does not read back as intended.
        const auto* nr = reinterpret_cast<const uint8_t*>(rebuilt.constData());
        after = pager_.file().crackRow(t.def, nr, int(rebuilt.size()));
        for (size_t ci = 0; ci < t.def.columns.size(); ++ci) {
            if (unchanged[ci]) {
                // Same presence and the very same bytes.
                const FieldRef& a = fields[ci];
                const FieldRef& b = after[ci];
                if (a.present != b.present || a.size != b.size ||
                    (a.present && std::memcmp(row + a.offset, nr + b.offset, size_t(a.size)) != 0)) {
                    errorNumber = err::ReadOnly;
                    why = QString("Field '%1' would change with the record; the record is left unchanged.").arg(t.def.columns[ci].name);
                    return false;
                }
                continue;
            }
            if (!check[ci]) continue;
            const auto got = JetValueCodec::decode(t.def.columns[ci], nr, after[ci]);
            if (!got || !(*got == expected[ci])) {
                errorNumber = err::ReadOnly;
                why = QString("Field '%1' would not read back as written (%2 instead of %3); the record is left unchanged.")
                          .arg(t.def.columns[ci].name, got ? got->describe() : QString("nothing"), expected[ci].describe());
                return false;
            }
        }
        for (const auto& [ci, data] : longChecks) {
            const FieldRef& fr = after[size_t(ci)];
            if (!fr.present || lv.read(nr + fr.offset, fr.size) != data) {
                errorNumber = err::ReadOnly;
                why = QString("Field '%1' would not read back as written; the record is left unchanged.").arg(t.def.columns[size_t(ci)].name);
                return false;
            }
        }
    } catch (const FormatError& e) {
        errorNumber = err::ReadOnly;
        why = QString("The record cannot be rebuilt (%1).").arg(e.what());
        return false;
    }

    if (const QString field = nullInPrimaryKey(t.def, after); !field.isEmpty()) {
        errorNumber = err::NullInPrimaryKey;
        why = QString("Field '%1' is part of the primary key and cannot be Null.").arg(field);
        return false;
    }
    // The indexes over a changed field: the record's entry moves to its new key. The index points
    // to where the record starts (before any overflow pointer).
    const RowId indexed = first;
    for (const IndexData& idx : t.def.indexData) {
        const bool touched = std::any_of(idx.columns.begin(), idx.columns.end(), [&](const IndexColumn& ic) {
            return std::find(changedNumbers.begin(), changedNumbers.end(), ic.columnNumber) != changedNumbers.end();
        });
        if (!touched) continue;
        const auto* nr = reinterpret_cast<const uint8_t*>(rebuilt.constData());
        QString reason;
        // An old key that cannot be made is no obstacle: the entry is found by the record it points
        // to, as a delete finds it.
        const auto oldKey = JetIndexKey::encode(t.def, idx, row, fields);
        const auto newKey = JetIndexKey::encode(t.def, idx, nr, after, &reason);
        const bool wasListed = listedIn(t.def, idx, fields);
        const bool isListed = listedIn(t.def, idx, after);
        if (!newKey) {
            errorNumber = err::ReadOnly;
            why = QString("The keys of index %1 cannot be written: %2.").arg(t.def.indexName(idx), reason);
            return false;
        }
        if (wasListed == isListed && oldKey == newKey) continue;
        if (!changeIndexEntry(t, idx, indexed, wasListed, isListed ? newKey : std::nullopt, errorNumber, why, oldKey))
            return false;
    }
    if (grows) {
        try {
            JetRowMover(allocator()).place(t.def, first, at, rebuilt, [&] { return newDataPage(t); });
        } catch (const FormatError& e) {
            why = QString("The record does not fit on its page and cannot be moved to another one (%1).").arg(e.what());
            return false;
        }
    } else {
        writeRange(at.page, s.start, rebuilt);
    }
    return true;
}

QString JetWriter::whyTableBlocked(int table) {
    const auto known = tableBlocked_.find(table);
    if (known != tableBlocked_.end()) return known->second;
    const JetFile& file = pager_.file();
    if (!unknownPages_) unknownPages_ = takeScanned();
    if (!unknownPages_) unknownPages_ = JetUnknownPages::find(file);
    const Table& t = tables_[size_t(table)];
    // The records' own pointers are looked at per record changed: a proof over every record of a
    // large table made the first change wait on reading the whole table.
    const QString why = unknownPages_->empty()
                            ? QString()
                            : JetWriteGate::whyTableReadOnly(file, CatalogTable{t.def.name, t.def.firstPage, 0},
                                                             *unknownPages_, false);
    tableBlocked_[table] = why;
    return why;
}

QString JetWriter::whyRecordBlocked(int table, RowId first, const Located& loc) {
    if (!unknownPages_ || unknownPages_->empty()) return {};
    const Table& t = tables_[size_t(table)];
    try {
        if (const auto use = JetUnknownPages::useByRecord(
                t.def, first, loc.at, loc.row, loc.fields, [this](uint32_t p) { return pageBytes(p); },
                pager_.pageSize(), *unknownPages_))
            return QString("Page %1 has a type (0x%2) Tabulon does not know and %3, so this record is not written.")
                .arg(use->page)
                .arg(pager_.file().pageType(use->page), 2, 16, QChar('0'))
                .arg(use->how);
    } catch (const FormatError& e) {
        return QString("Part of this record of table '%1' is not understood (%2), so it is not written.").arg(t.def.name, e.what());
    }
    return {};
}

QString JetWriter::whyCannotAdd(const QString& name) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    const auto it = tableIndex_.find(name);
    if (it == tableIndex_.end()) return QStringLiteral("Adding records to this table is not available.");
    // Asked for every add; the answer stands until the file is read afresh.
    const auto known = addRefusal_.find(it->second);
    if (known != addRefusal_.end()) return known->second;
    return addRefusal_[it->second] = whyCannotAdd(tables_[size_t(it->second)], it->second);
}

QString JetWriter::whyCannotAdd(const Table& t, int table) {
    if (t.system) return QString("'%1' is a system table of the Access file; Tabulon does not change it.").arg(t.def.name);
    if (QString why = whyTableBlocked(table); !why.isEmpty()) return why;
    for (const ColumnDef& c : t.def.columns) {
        // Attachment and multi-valued fields carry the AutoNumber flag for their references; a new
        // record gets a fresh reference with no items behind it.
        if (c.type == ColComplex) {
            if (!c.isFixed() || c.length != 4)
                return QString("The attachment or multi-valued field '%1' has a layout Tabulon does not know, so "
                               "records are not added to this table.").arg(c.name);
            continue;
        }
        if (((c.isAutoNumber() && !isLongAutoNumber(c)) || (c.flags & 0x40)) && !isGuidAutoNumber(c))
            return QString("Adding records to tables with an AutoNumber field of this type ('%1') is not available yet.").arg(c.name);
    }
    for (const IndexData& idx : t.def.indexData)
        for (const IndexColumn& ic : idx.columns)
            if (const ColumnDef* c = t.def.columnByNumber(ic.columnNumber); !c || !JetIndexKey::encodable(*c))
                return QString("Adding records to a table with index %1, whose keys of this type are not written yet, "
                               "is not available yet.")
                    .arg(t.def.indexName(idx));
    return {};
}

bool JetWriter::insert(Binding& b, int table, long long rowid, int& errorNumber, QString& why) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    enterBatch();
    errorNumber = err::ReadOnly;
    if (table < 0 || size_t(table) >= tables_.size()) {
        why = QStringLiteral("This table is not found in the Access file.");
        return false;
    }
    const Table& t = tables_[size_t(table)];
    if (t.gone) {
        why = QString("Table '%1' is no longer in the Access file.").arg(t.def.name);
        return false;
    }
    why = whyCannotAdd(t.def.name);
    if (!why.isEmpty()) return false;
    std::vector<JetValue>& values = b.stagedNew;
    if (values.size() != t.sqlNames.size()) {
        why = QStringLiteral("The values of the record did not reach the Access writer.");
        return false;
    }
    // The AutoNumber: the table's next number unless one was given; the definition keeps the
    // highest number handed out.
    b.givenAutoNumber.reset();
    for (size_t k = 0; k < t.sqlNames.size(); ++k) {
        const int ci = t.columnOf[k];
        if (ci < 0 || !isLongAutoNumber(t.def.columns[size_t(ci)])) continue;
        const uint32_t last = rd32(pageBytes(t.def.firstPage) + layout().tdefAutoNumber);
        JetValue& v = values[k];
        if (v.kind == JetValue::Null) {
            if (last >= uint32_t(INT32_MAX)) {
                why = QString("The AutoNumber field '%1' has no numbers left.").arg(t.def.columns[size_t(ci)].name);
                return false;
            }
            v.kind = JetValue::Int;
            v.i = qint64(last) + 1;
            b.givenAutoNumber = v.i;
        } else if (v.kind != JetValue::Int || v.i < 1 || v.i > INT32_MAX) {
            why = QString("The AutoNumber field '%1' takes whole numbers from 1 on.").arg(t.def.columns[size_t(ci)].name);
            return false;
        }
        if (uint32_t(v.i) > last) {
            uint8_t* tdef = pendingPage(t.def.firstPage);
            for (int i = 0; i < 4; ++i) tdef[layout().tdefAutoNumber + i] = uint8_t(uint32_t(v.i) >> (8 * i));
        }
    }
    // A replication ID not given is a new random GUID, as Access makes them.
    b.givenGuid.reset();
    for (size_t k = 0; k < t.sqlNames.size(); ++k) {
        const int ci = t.columnOf[k];
        if (ci < 0 || !isGuidAutoNumber(t.def.columns[size_t(ci)]) || values[k].kind != JetValue::Null) continue;
        values[k].kind = JetValue::Text;
        values[k].bytes = QUuid::createUuid().toString(QUuid::WithBraces).toUpper().toLatin1();
        b.givenGuid = values[k].bytes;
    }
    // One new reference for all the record's attachment / multi-valued fields: they start empty.
    std::optional<uint32_t> complexRef;
    for (size_t k = 0; k < t.sqlNames.size(); ++k) {
        const int ci = t.columnOf[k];
        if (ci < 0 || t.def.columns[size_t(ci)].type != ColComplex) continue;
        if (values[k].kind != JetValue::Null) {
            why = QString("Field '%1' holds attachments or several values; a new record starts with it empty, and "
                          "Tabulon does not add its items.").arg(t.def.columns[size_t(ci)].name);
            return false;
        }
        if (!complexRef) {
            const uint32_t last = rd32(pageBytes(t.def.firstPage) + kTdefComplexAutoNumber);
            if (last >= uint32_t(INT32_MAX)) {
                why = QString("The attachment field '%1' has no references left.").arg(t.def.columns[size_t(ci)].name);
                return false;
            }
            complexRef = last + 1;
            uint8_t* tdef = pendingPage(t.def.firstPage);
            for (int i = 0; i < 4; ++i) tdef[kTdefComplexAutoNumber + i] = uint8_t(*complexRef >> (8 * i));
        }
    }
    // An empty record of the table's layout, every field Null, then the values set into it.
    if (t.emptyRow.isEmpty()) {
        int fixedLength = 0, varCount = 0, columns = t.def.maxColumns;
        for (const ColumnDef& c : t.def.columns) {
            if (c.isFixed() && c.type != ColBoolean) fixedLength = std::max(fixedLength, c.fixedOffset + c.length);
            if (!c.isFixed()) varCount = std::max(varCount, c.varIndex + 1);
            columns = std::max(columns, c.number + 1);
        }
        const int maskLength = (columns + 7) / 8;
        if (!JetFile::buildRow(t.def, columns, QByteArray(fixedLength, '\0'), std::vector<QByteArray>(size_t(varCount)),
                               QByteArray(maskLength, '\0'), 0, t.emptyRow)) {
            t.emptyRow.clear();
            why = QStringLiteral("The record cannot be laid out in the file.");
            return false;
        }
    }
    const QByteArray& empty = t.emptyRow;

    std::vector<FieldChange> changes;
    std::vector<std::pair<int, JetValue>> expect;
    std::vector<std::pair<int, QByteArray>> longChecks;
    std::vector<size_t> longColumns;
    for (size_t k = 0; k < t.sqlNames.size(); ++k) {
        const int ci = t.columnOf[k];
        if (ci < 0) continue;
        const ColumnDef& c = t.def.columns[size_t(ci)];
        const JetValue& v = values[k];
        FieldChange ch;
        ch.column = ci;
        if (c.type == ColBoolean) {
            ch.boolValue = JetValueCodec::stored(c, v).i != 0;
            if (!ch.boolValue) continue;
        } else if (c.type == ColComplex) {
            for (int i = 0; i < 4; ++i) ch.bytes += char(uint8_t(*complexRef >> (8 * i)));
            changes.push_back(std::move(ch));
            continue;
        } else if (v.kind == JetValue::Null) {
            continue;
        } else if (c.isLongValue()) {
            longColumns.push_back(k);  // once the rest of the record is known
            continue;
        } else if (!JetValueCodec::encode(c, v, ch.bytes, errorNumber, why)) {
            return false;
        }
        if (!c.isLongValue()) expect.push_back({ci, JetValueCodec::stored(c, v)});
        changes.push_back(std::move(ch));
    }
    errorNumber = err::ReadOnly;  // for the refusals from here on
    // Memo/OLE values: short ones stay in the record while it has room.
    JetLongValueWriter lv = longValues(t);
    int length = int(empty.size());
    for (const FieldChange& ch : changes) length += int(ch.bytes.size());
    for (size_t k : longColumns) {
        const int ci = t.columnOf[k];
        const ColumnDef& c = t.def.columns[size_t(ci)];
        QString refusal;
        const auto data = JetLongValueWriter::dataOf(c, values[k], &refusal);
        if (!data) {
            errorNumber = err::DataTypeMismatch;
            why = !refusal.isEmpty() ? refusal : QString("%1 cannot be stored in field '%2'.").arg(values[k].describe(), c.name);
            return false;
        }
        FieldChange ch;
        ch.column = ci;
        const bool roomy = length + 12 + int(data->size()) <= JetLongValueWriter::maxRecordLength(pager_.file().pageSize());
        if (!lv.store(t.def, c, *data, roomy, ch.bytes, why)) return false;
        length += int(ch.bytes.size());
        longChecks.push_back({ci, *data});
        changes.push_back(std::move(ch));
    }
    QByteArray row;
    if (!rewriteRow(t.def, reinterpret_cast<const uint8_t*>(empty.constData()), int(empty.size()), changes, row, true)) {
        why = QStringLiteral("The record cannot be laid out in the file.");
        return false;
    }
    // Never write what does not read back as intended.
    const auto* nr = reinterpret_cast<const uint8_t*>(row.constData());
    const std::vector<FieldRef> fields = pager_.file().crackRow(t.def, nr, int(row.size()));
    for (const auto& [ci, want] : expect) {
        const auto got = JetValueCodec::decode(t.def.columns[size_t(ci)], nr, fields[size_t(ci)]);
        if (!got || !(*got == want)) {
            why = QString("Field '%1' would not read back as written; the record is not added.").arg(t.def.columns[size_t(ci)].name);
            return false;
        }
    }
    for (const auto& [ci, data] : longChecks) {
        const FieldRef& fr = fields[size_t(ci)];
        if (!fr.present || lv.read(nr + fr.offset, fr.size) != data) {
            why = QString("Field '%1' would not read back as written; the record is not added.").arg(t.def.columns[size_t(ci)].name);
            return false;
        }
    }
    if (const QString field = nullInPrimaryKey(t.def, fields); !field.isEmpty()) {
        errorNumber = err::NullInPrimaryKey;
        why = QString("Field '%1' is part of the primary key and cannot be Null.").arg(field);
        return false;
    }
    // The keys first: a duplicate or a full index page refuses before anything is written.
    std::vector<std::pair<const IndexData*, QByteArray>> keys;
    for (const IndexData& idx : t.def.indexData) {
        if (!listedIn(t.def, idx, fields)) continue;
        QString reason;
        const auto key = JetIndexKey::encode(t.def, idx, nr, fields, &reason);
        if (!key) {
            errorNumber = err::ReadOnly;
            why = QString("The keys of index %1 cannot be written: %2.").arg(t.def.indexName(idx), reason);
            return false;
        }
        keys.push_back({&idx, *key});
    }
    // A page from the table's free-space map with room, else a new page.
    uint32_t best = 0;
    int at = -1;
    try {
        best = JetRowMover(allocator()).pageForRow(t.def, int(row.size()));
        if (!best) best = newDataPage(t);
        at = JetFile::appendRow(pendingPage(best), pager_.file().pageSize(), row);
        if (at >= 0) allocator().rowPlaced(t.def.freePagesMap, best, int(empty.size()));
    } catch (const FormatError& e) {
        why = QString("No page of table '%1' can take the record (%2).").arg(t.def.name, e.what());
        return false;
    }
    if (at < 0) {
        why = QString("The record is too long for a page of table '%1'.").arg(t.def.name);
        return false;
    }
    const RowId id{best, uint8_t(at)};
    for (const auto& [idx, key] : keys)
        if (!changeIndexEntry(t, *idx, id, false, key, errorNumber, why)) return false;  // the statement is undone
    uint8_t* tdef = pendingPage(t.def.firstPage);
    const uint32_t count = rd32(tdef + layout().tdefRowCount) + 1;
    for (int i = 0; i < 4; ++i) tdef[layout().tdefRowCount + i] = uint8_t(count >> (8 * i));
    auto& rows = copyRows_[size_t(b.copy)][size_t(table)];
    if (rows.size() < size_t(rowid)) rows.resize(size_t(rowid));
    rows[size_t(rowid - 1)] = id;
    if (b.givenAutoNumber || b.givenGuid) b.echoRowid = rowid;
    return true;
}

bool JetWriter::remove(Binding& b, int table, long long rowid, int& errorNumber, QString& why) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    enterBatch();
    const int copy = b.copy;
    errorNumber = err::ReadOnly;
    if (table < 0 || size_t(table) >= tables_.size()) {
        why = QStringLiteral("This table is not found in the Access file.");
        return false;
    }
    const Table& t = tables_[size_t(table)];
    why = whyTableBlocked(table);
    if (!why.isEmpty()) return false;
    Located loc;
    if (!locate(b, table, rowid, loc, errorNumber, why)) return false;
    RowId first;
    rowOf(copy, table, rowid, first);
    why = whyRecordBlocked(table, first, loc);
    if (!why.isEmpty()) return false;
    // Its Memo/OLE values go with it, once they are seen to be the ones shown (the record's other
    // values were compared when it was found).
    JetLongValueWriter lv = longValues(t);
    for (size_t ci = 0; ci < t.def.columns.size(); ++ci) {
        const ColumnDef& c = t.def.columns[ci];
        const FieldRef& fr = loc.fields[ci];
        if (!c.isLongValue()) continue;
        const auto shown = std::find(t.columnOf.begin(), t.columnOf.end(), int(ci));
        try {
            if (shown != t.columnOf.end() &&
                !lv.holds(c, fr.present, loc.row + fr.offset, fr.size, b.stagedOld[size_t(shown - t.columnOf.begin())])) {
                errorNumber = err::DataChanged;
                why = QString("The data has been changed by another user: %1 no longer holds what is shown (field '%2'); "
                              "the change is not saved.")
                          .arg(recordName(t, b.stagedOld), c.name);
                return false;
            }
            if (fr.present) lv.release(c, loc.row + fr.offset, fr.size);
        } catch (const FormatError& e) {
            why = QString("The value of field '%1' cannot be read (%2); the record is not deleted.").arg(c.name, e.what());
            return false;
        }
    }
    for (const IndexData& idx : t.def.indexData)
        if (listedIn(t.def, idx, loc.fields) &&
            !changeIndexEntry(t, idx, first, true, std::nullopt, errorNumber, why,
                              JetIndexKey::encode(t.def, idx, loc.row, loc.fields)))
            return false;
    // The deleted flag (0x8000) on the row's offset; the row's bytes stay until the file is
    // compacted.
    JetRowMover(allocator()).remove(t.def, first, loc.at);
    uint8_t* tdef = pendingPage(t.def.firstPage);
    const uint32_t count = rd32(tdef + layout().tdefRowCount);
    if (count == 0) {
        why = QStringLiteral("The table's record count is already zero; the file is not changed.");
        return false;
    }
    for (int i = 0; i < 4; ++i) tdef[layout().tdefRowCount + i] = uint8_t((count - 1) >> (8 * i));
    return true;
}

void JetWriter::beginStatement() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    pager_.beginStatement();
    indexPages_.beginStatement();
}

void JetWriter::endStatement() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    indexPages_.endStatement();
    pager_.endStatement();
}

void JetWriter::abortStatement() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    indexPages_.abortStatement();
    pager_.abortStatement();
}

void JetWriter::flush() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    try {
        // The index pages the batch changed, encoded once, go with its other pages.
        indexPages_.writeBack(pager_.pageSize(), [this](uint32_t p) { return pager_.write(p); });
        pager_.flush();
    } catch (...) {
        // The pager put the file back as it was; what is kept of the pages goes with it.
        indexPages_.clear();
        pager_.discard();
        throw;
    }
}

void JetWriter::discard() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    indexPages_.discard();
    pager_.discard();
}

bool JetWriter::hasPending() const {
    std::lock_guard<std::recursive_mutex> g(mu_);
    return pager_.hasPending();
}

}  // namespace dao::jet
