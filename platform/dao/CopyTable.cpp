// Moving a table between databases (an Access or SQLite file, a PostgreSQL server): the table is
// made with the same types, key and not-null rules, then every record is copied (into PostgreSQL
// through COPY, elsewhere through the engine's own batched inserts), then its unique indexes are
// made: one build over all the rows costs less than keeping them up row by row.

#include <libpq-fe.h>

#include <charconv>

#include <sqlite3.h>

#include "Connection.h"
#include "Dao.h"
#include "FieldTypes.h"
#include "JetSql.h"
#include "PgBackend.h"

namespace dao {

namespace {

// A value in COPY's text form: \N for null, backslash escapes for the characters it gives meaning.
// Written straight into the chunk: a million records make tens of millions of small texts otherwise.
void appendCopyValue(const Variant& v, QByteArray& out) {
    using T = Variant::Type;
    switch (v.type()) {
        case T::Byte: case T::Integer: case T::Long: case T::BigInt: {
            char buf[24];
            const auto end = std::to_chars(buf, buf + sizeof buf, v.asInt()).ptr;
            out.append(buf, qsizetype(end - buf));
            return;
        }
        case T::String: {
            const QByteArray u = v.stringRef().toUtf8();
            qsizetype from = 0;
            for (qsizetype i = 0; i < u.size(); ++i) {
                const char c = u[i];
                if (c != '\\' && c != '\t' && c != '\n' && c != '\r') continue;
                out.append(u.constData() + from, i - from);
                out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
                from = i + 1;
            }
            out.append(u.constData() + from, u.size() - from);
            return;
        }
        case T::Date: {
            char buf[kStoredDateChars];
            out.append(buf, storedDateChars(v.asDate(), buf));
            return;
        }
        default: break;
    }
    const pg::Param p = pg::toParam(v);
    if (p.null) {
        out += "\\N";
        return;
    }
    if (p.binary) {
        out += "\\\\x";
        out += p.bytes.toHex();
        return;
    }
    for (char c : p.bytes) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
}

QString createSql(const TableSchema& schema, const QString& quotedName, bool postgres) {
    // Jet SQL (for a file) reads "..." as text: its names go in brackets.
    const auto quoteIdent = [postgres](const QString& n) { return postgres ? dao::quoteIdent(n) : '[' + n + ']'; };
    QStringList defs;
    for (const ColumnSchema& c : schema.columns) {
        QString d = quoteIdent(c.name) + ' ' + (postgres ? pg::postgresType(c.type, c.size) : declaredTypeFor(c.type, c.size));
        if (c.notNull || schema.primaryKey.contains(c.name)) d += " NOT NULL";
        defs << d;
    }
    if (!schema.primaryKey.isEmpty()) {
        QStringList keys;
        for (const QString& k : schema.primaryKey) keys << quoteIdent(k);
        defs << "PRIMARY KEY (" + keys.join(", ") + ")";
    }
    return "CREATE TABLE " + quotedName + " (" + defs.join(", ") + ")";
}

// The columns of each unique index of a table besides its primary key (indexes over expressions
// left out).
std::vector<QStringList> uniqueIndexesOf(Connection* file, const QString& table, const QStringList& primaryKey) {
    std::vector<QStringList> out;
    if (!file) return out;
    Connection::Session s = file->session();
    s.use();
    Statement ix = s.prepare("SELECT name FROM pragma_index_list(?1) WHERE \"unique\" AND origin <> 'pk' ORDER BY name");
    const QByteArray t = table.toUtf8();
    sqlite3_bind_text(ix.get(), 1, t.constData(), int(t.size()), SQLITE_TRANSIENT);
    QStringList indexes;
    while (sqlite3_step(ix.get()) == SQLITE_ROW) indexes << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(ix.get(), 0)));
    for (const QString& index : indexes) {
        Statement cols = s.prepare("SELECT name FROM pragma_index_info(?1) ORDER BY seqno");
        const QByteArray in = index.toUtf8();
        sqlite3_bind_text(cols.get(), 1, in.constData(), int(in.size()), SQLITE_TRANSIENT);
        QStringList names;
        bool plain = true;
        while (sqlite3_step(cols.get()) == SQLITE_ROW) {
            plain &= sqlite3_column_type(cols.get(), 0) != SQLITE_NULL;
            names << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(cols.get(), 0)));
        }
        if (plain && !names.isEmpty() && names != primaryKey) out.push_back(names);
    }
    return out;
}

// The unique indexes of a table made anew (not on appending: the table keeps its own).
void createUniqueIndexes(Database& dest, pg::PgConnection* server, const std::vector<QStringList>& unique,
                         const QString& target, const QString& quotedName) {
    const bool postgres = server != nullptr;
    int n = 0;
    for (const QStringList& cols : unique) {
        QStringList quoted;
        for (const QString& c : cols) quoted << (postgres ? quoteIdent(c) : '[' + c + ']');
        if (postgres) {
            server->exec("CREATE UNIQUE INDEX ON " + quotedName + " (" + quoted.join(", ") + ")");
        } else {
            QString name = target + "_unique" + QString::number(++n);
            dest.Execute("CREATE UNIQUE INDEX [" + name + "] ON [" + target + "] (" + quoted.join(", ") + ")");
        }
    }
}

}  // namespace

long long CopyTable(Database& source, const QString& table, Database& dest, const QString& as, bool append) {
    const TableSchema schema = source.Schema(table);
    const std::vector<QStringList> unique = source.pg_ ? source.pg_->uniqueIndexes(table)
                                                       : uniqueIndexesOf(source.conn_.get(), table, schema.primaryKey);
    const QString target = as.isEmpty() ? table : as;
    const bool exists = dest.TableDefs().contains(target, Qt::CaseInsensitive);
    if (exists && !append)
        raise(3010, QString("Table '%1' already exists; add --append to add the records to it.").arg(target));
    // A file's records are read in blocks as they are copied (a snapshot would hold them all first);
    // a server's come in one answer.
    auto from = source.OpenRecordset(table, source.pg_ ? 4 : 2);
    const Fields fields = from->Fields();
    const int n = fields.Count();
    if (dest.pg_) {
        const QString quoted = target.contains('.') && !exists ? target.section('.', 0, 0) + '.' + quoteIdent(target.section('.', 1))
                                                               : quoteIdent(target);
        QString name = quoted;
        if (exists) name = dest.pg_->resolve(target).qualified;
        if (!exists) dest.pg_->exec(createSql(schema, name, true));
        QStringList cols;
        for (const ColumnSchema& c : schema.columns) cols << quoteIdent(c.name);
        bool started = false;
        const long long rows = dest.pg_->copyIn(
            "COPY " + name + " (" + cols.join(", ") + ") FROM STDIN", [&](QByteArray& chunk) {
                if (!started) {
                    started = true;
                    if (from->RecordCount() == 0) return false;
                    from->MoveFirst();
                }
                if (from->Eof()) return false;
                for (int k = 0; k < 2000 && !from->Eof(); ++k, from->MoveNext()) {
                    for (int i = 0; i < n; ++i) {
                        if (i) chunk += '\t';
                        appendCopyValue(fields[i].Value(), chunk);
                    }
                    chunk += '\n';
                }
                return true;
            });
        if (!exists) createUniqueIndexes(dest, dest.pg_.get(), unique, target, name);
        return rows;
    }
    if (!exists) dest.Execute(createSql(schema, '[' + target + ']', false));
    auto to = dest.OpenRecordset(target, 2);
    long long rows = 0;
    if (from->RecordCount() > 0) {
        for (from->MoveFirst(); !from->Eof(); from->MoveNext()) {
            to->AddNew();
            for (int i = 0; i < n; ++i) to->Fields()[from->Fields()[i].Name()].setValue(from->Fields()[i].Value());
            to->Update();
            ++rows;
        }
    }
    dest.Flush();
    if (!exists) {
        createUniqueIndexes(dest, nullptr, unique, target, QString());
        dest.Flush();
    }
    return rows;
}

}  // namespace dao
