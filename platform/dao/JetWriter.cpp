#include "JetWriter.h"

#include <sqlite3.h>

#include <QFileInfo>
#include <algorithm>
#include <cstring>

#include "Error.h"
#include "JetPageJournal.h"

namespace dao::jet {

namespace {

// A working-copy column value as the writer compares and encodes it.
JetValue fromSqlite(sqlite3_value* v) {
    JetValue out;
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
            out.kind = JetValue::Int;
            out.i = sqlite3_value_int64(v);
            break;
        case SQLITE_FLOAT:
            out.kind = JetValue::Real;
            out.d = sqlite3_value_double(v);
            break;
        case SQLITE_TEXT:
            out.kind = JetValue::Text;
            out.bytes = QByteArray(reinterpret_cast<const char*>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
            break;
        case SQLITE_BLOB:
            out.kind = JetValue::Blob;
            out.bytes = QByteArray(static_cast<const char*>(sqlite3_value_blob(v)), sqlite3_value_bytes(v));
            break;
        default:
            break;
    }
    return out;
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

struct FieldChange {
    int column = 0;  // index in the table definition
    bool null = false;
    bool boolValue = false;
    QByteArray bytes;
};

// The record rebuilt with its changes, in exactly its old length (unused bytes after the
// variable-length data); false when the changes do not fit.
bool rewriteRow(const TableDef& t, const uint8_t* row, int len, const std::vector<FieldChange>& changes,
                QByteArray& out) {
    const RowLayout l = JetFile::rowLayout(t, row, len);
    QByteArray mask(reinterpret_cast<const char*>(row + len - l.maskLength), l.maskLength);
    QByteArray fixed(reinterpret_cast<const char*>(row + 2), l.fixedEnd - 2);
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
    out.clear();
    out.reserve(len);
    out.append(reinterpret_cast<const char*>(row), 2);
    out += fixed;
    if (!l.hasVarTable) {
        out += mask;
        return out.size() == len;
    }
    std::vector<int> offsets;
    for (const QByteArray& v : var) {
        offsets.push_back(int(out.size()));
        out += v;
    }
    const int eod = int(out.size());
    const int tableStart = len - l.maskLength - 2 - 2 * (l.varCount + 1);
    if (eod > tableStart) return false;
    out.append(tableStart - eod, '\0');
    auto put16 = [&](int v) {
        out += char(v & 0xff);
        out += char(v >> 8 & 0xff);
    };
    put16(eod);
    for (int i = l.varCount - 1; i >= 0; --i) put16(offsets[size_t(i)]);
    put16(l.varCount);
    out += mask;
    return out.size() == len;
}

void stageFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* w = static_cast<JetWriter*>(sqlite3_user_data(ctx));
    if (argc < 2 || (argc - 2) % 2 != 0) {
        sqlite3_result_error(ctx, "jet-error 3000: wrong use of the Jet update function", -1);
        return;
    }
    try {
        std::vector<JetValue> olds, news;
        for (int i = 2; i < argc; i += 2) {
            olds.push_back(fromSqlite(argv[i]));
            news.push_back(fromSqlite(argv[i + 1]));
        }
        w->stage(sqlite3_value_int(argv[0]), sqlite3_value_int(argv[1]), olds, news);
        sqlite3_result_null(ctx);
    } catch (...) {
        sqlite3_result_error(ctx, "jet-error 3000: the Jet update failed", -1);
    }
}

void applyFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* w = static_cast<JetWriter*>(sqlite3_user_data(ctx));
    int number = err::ReadOnly;
    QString why;
    bool ok = false;
    try {
        if (argc == 3 && sqlite3_value_int64(argv[1]) != sqlite3_value_int64(argv[2]))
            why = QStringLiteral("A record of an Access table cannot change its place.");
        else
            ok = w->apply(sqlite3_value_int(argv[0]), sqlite3_value_int64(argv[1]), number, why);
    } catch (const std::exception& e) {
        why = QString("The record could not be changed in the file (%1).").arg(e.what());
    } catch (...) {
        why = QStringLiteral("The record could not be changed in the file.");
    }
    if (ok) {
        sqlite3_result_null(ctx);
        return;
    }
    const QByteArray msg = (QString(JetWriter::kErrorPrefix) + QString::number(number) + ": " + why).toUtf8();
    sqlite3_result_error(ctx, msg.constData(), int(msg.size()));
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

JetWriter::JetWriter(const QString& path) : path_(path) { load(); }

JetWriter::~JetWriter() = default;

void JetWriter::load() {
    file_ = JetFile::open(path_);
    for (const CatalogTable& ct : file_->catalog()) {
        Table t;
        t.def = file_->readTableDef(ct.tdefPage, ct.name);
        t.system = ct.isSystem();
        // The order the reader copies records in: pages in usage-map order, rows in page order,
        // deleted rows left out.
        std::vector<uint32_t> pages = file_->usageMapPages(t.def.ownedPagesMap);
        std::sort(pages.begin(), pages.end());
        for (uint32_t p : pages) {
            if (p >= file_->pageCount() || file_->pageType(p) != PageData || rd32(file_->page(p) + 4) != ct.tdefPage)
                continue;
            const int n = file_->rowCount(p);
            for (int r = 0; r < n; ++r)
                if (!file_->slot(p, r).deleted) t.rows.push_back({p, uint8_t(r)});
        }
        tableIndex_[ct.name] = int(tables_.size());
        tables_.push_back(std::move(t));
    }
}

void JetWriter::attach(sqlite3* db) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    sqlite3_create_function_v2(db, "tabulon_jet_stage", -1, SQLITE_UTF8, this, stageFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db, "tabulon_jet_apply", 3, SQLITE_UTF8, this, applyFunction, nullptr, nullptr, nullptr);
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
        sql << QString("CREATE TEMP TRIGGER %1 BEFORE INSERT ON %2 BEGIN SELECT RAISE(ABORT, %3); END")
                   .arg(quoted(tag + "i"), on, addRefused);
        sql << QString("CREATE TEMP TRIGGER %1 BEFORE DELETE ON %2 BEGIN SELECT RAISE(ABORT, %3); END")
                   .arg(quoted(tag + "d"), on, deleteRefused);
        const auto it = tableIndex_.find(name);
        if (it == tableIndex_.end()) {
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
            QString body;
            for (size_t first = 0; first < t.sqlNames.size(); first += kColumnsPerCall) {
                QString args = QString("%1, %2").arg(it->second).arg(first);
                for (size_t k = first; k < std::min(t.sqlNames.size(), first + kColumnsPerCall); ++k)
                    args += ", OLD." + quoted(t.sqlNames[k]) + ", NEW." + quoted(t.sqlNames[k]);
                body += "SELECT tabulon_jet_stage(" + args + "); ";
            }
            if (t.sqlNames.empty()) body += QString("SELECT tabulon_jet_stage(%1, 0); ").arg(it->second);
            body += QString("SELECT tabulon_jet_apply(%1, OLD.rowid, NEW.rowid);").arg(it->second);
            sql << QString("CREATE TEMP TRIGGER %1 BEFORE UPDATE ON %2 BEGIN %3 END").arg(quoted(tag + "u"), on, body);
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

void JetWriter::stage(int table, int firstColumn, const std::vector<JetValue>& oldValues,
                      const std::vector<JetValue>& newValues) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    if (firstColumn == 0) {
        stagedOld_.clear();
        stagedNew_.clear();
    }
    if (table < 0 || size_t(table) >= tables_.size() || size_t(firstColumn) != stagedOld_.size()) return;
    stagedOld_.insert(stagedOld_.end(), oldValues.begin(), oldValues.end());
    stagedNew_.insert(stagedNew_.end(), newValues.begin(), newValues.end());
}

const uint8_t* JetWriter::pageBytes(uint32_t page) const {
    const auto it = pending_.find(page);
    if (it != pending_.end()) return reinterpret_cast<const uint8_t*>(it->second.constData());
    return file_->page(page);
}

uint8_t* JetWriter::pendingPage(uint32_t page) {
    auto it = pending_.find(page);
    if (it == pending_.end()) {
        statementUndo_.emplace(page, std::nullopt);
        it = pending_.emplace(page, QByteArray(reinterpret_cast<const char*>(file_->page(page)), file_->pageSize())).first;
    } else {
        statementUndo_.emplace(page, it->second);  // keeps the first copy of the statement
    }
    return reinterpret_cast<uint8_t*>(it->second.data());
}

bool JetWriter::apply(int table, long long rowid, int& errorNumber, QString& why) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    errorNumber = err::ReadOnly;
    if (table < 0 || size_t(table) >= tables_.size()) {
        why = QStringLiteral("This table is not found in the Access file.");
        return false;
    }
    const Table& t = tables_[size_t(table)];
    if (t.system) {
        why = QString("'%1' is a system table of the Access file; Tabulon does not change it.").arg(t.def.name);
        return false;
    }
    if (stagedOld_.size() != t.sqlNames.size() || stagedNew_.size() != t.sqlNames.size()) {
        why = QStringLiteral("The values of the record did not reach the Access writer.");
        return false;
    }
    const QString notFound = QString("The record cannot be found in the Access file (table '%1').").arg(t.def.name);
    if (rowid < 1 || size_t(rowid) > t.rows.size()) {
        why = notFound;
        return false;
    }
    RowId at = t.rows[size_t(rowid - 1)];
    RowSlot s = file_->slot(at.page, at.row);
    if (s.deleted) {
        why = notFound;
        return false;
    }
    if (s.overflow) {
        at = file_->overflowTarget(at.page, at.row);
        s = file_->slot(at.page, at.row);
    }
    const uint8_t* row = pageBytes(at.page) + s.start;
    const int len = s.end - s.start;
    std::vector<FieldRef> fields;
    try {
        fields = file_->crackRow(t.def, row, len);
    } catch (const FormatError& e) {
        why = QString("The record cannot be read in the Access file (%1).").arg(e.what());
        return false;
    }

    std::vector<FieldChange> changes;
    std::vector<JetValue> expected(t.def.columns.size());
    std::vector<bool> check(t.def.columns.size(), false);
    for (size_t k = 0; k < t.sqlNames.size(); ++k) {
        const int ci = t.columnOf[k];
        if (ci < 0) continue;
        const ColumnDef& c = t.def.columns[size_t(ci)];
        const auto inFile = JetValueCodec::decode(c, row, fields[size_t(ci)]);
        if (inFile && !(*inFile == stagedOld_[k])) {
            why = QString("The record in the Access file no longer holds what is shown (field '%1': %2 in the file, %3 shown).")
                      .arg(c.name, inFile->describe(), stagedOld_[k].describe());
            return false;
        }
        if (stagedOld_[k] == stagedNew_[k]) {
            if (inFile) {
                expected[size_t(ci)] = *inFile;
                check[size_t(ci)] = true;
            }
            continue;
        }
        for (const IndexData& idx : t.def.indexData)
            for (const IndexColumn& ic : idx.columns)
                if (ic.columnNumber == c.number) {
                    why = QString("Field '%1' is part of index %2; changing indexed fields of Access tables is not available yet.")
                              .arg(c.name, t.def.indexName(idx));
                    return false;
                }
        if (c.isAutoNumber()) {
            why = QString("Field '%1' is an AutoNumber; its values are not changed.").arg(c.name);
            return false;
        }
        FieldChange ch;
        ch.column = ci;
        const JetValue& nv = stagedNew_[k];
        if (c.type == ColBoolean) {
            ch.boolValue = JetValueCodec::stored(c, nv).i != 0;
        } else if (nv.kind == JetValue::Null) {
            ch.null = true;
        } else if (!JetValueCodec::encode(c, nv, ch.bytes, errorNumber, why)) {
            return false;
        }
        if (!c.isLongValue() && c.type != ColNumeric && c.type != ColComplex) {
            expected[size_t(ci)] = ch.null ? JetValue() : JetValueCodec::stored(c, nv);
            check[size_t(ci)] = true;
        } else {
            errorNumber = err::ReadOnly;
            JetValueCodec::encode(c, nv, ch.bytes, errorNumber, why);
            return false;
        }
        changes.push_back(std::move(ch));
    }
    if (changes.empty()) return true;

    QByteArray rebuilt;
    try {
        if (!rewriteRow(t.def, row, len, changes, rebuilt)) {
            errorNumber = err::ReadOnly;
            why = QString("The new values do not fit in the record's place in the Access file (table '%1'); "
                          "moving a record that grows is not available yet.")
                      .arg(t.def.name);
            return false;
        }
        // Never write what does not read back as intended.
        const auto* nr = reinterpret_cast<const uint8_t*>(rebuilt.constData());
        const std::vector<FieldRef> after = file_->crackRow(t.def, nr, len);
        for (size_t ci = 0; ci < t.def.columns.size(); ++ci) {
            if (!check[ci]) continue;
            const auto got = JetValueCodec::decode(t.def.columns[ci], nr, after[ci]);
            if (!got || !(*got == expected[ci])) {
                errorNumber = err::ReadOnly;
                why = QString("Field '%1' would not read back as written (%2 instead of %3); the record is left unchanged.")
                          .arg(t.def.columns[ci].name, got ? got->describe() : QString("nothing"), expected[ci].describe());
                return false;
            }
        }
    } catch (const FormatError& e) {
        errorNumber = err::ReadOnly;
        why = QString("The record cannot be rebuilt (%1).").arg(e.what());
        return false;
    }
    std::memcpy(pendingPage(at.page) + s.start, rebuilt.constData(), size_t(len));
    return true;
}

void JetWriter::beginStatement() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    statementUndo_.clear();
}

void JetWriter::endStatement() { beginStatement(); }

void JetWriter::abortStatement() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    for (auto& [page, before] : statementUndo_) {
        if (before)
            pending_[page] = *before;
        else
            pending_.erase(page);
    }
    statementUndo_.clear();
}

void JetWriter::flush() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    statementUndo_.clear();
    if (pending_.empty()) return;
    std::map<uint32_t, QByteArray> pages;
    pages.swap(pending_);
    JetPageJournal::writeBatch(path_, file_->pageSize(), pages);
}

void JetWriter::discard() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    pending_.clear();
    statementUndo_.clear();
}

bool JetWriter::hasPending() const {
    std::lock_guard<std::recursive_mutex> g(mu_);
    return !pending_.empty();
}

}  // namespace dao::jet
