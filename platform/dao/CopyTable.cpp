// Moving a table between databases (an Access or SQLite file, a PostgreSQL server): the table is
// made with the same types, key and not-null rules, then every record is copied; into PostgreSQL
// through COPY, elsewhere through the engine's own batched inserts.

#include <libpq-fe.h>

#include "Dao.h"
#include "FieldTypes.h"
#include "JetSql.h"
#include "PgBackend.h"

namespace dao {

namespace {

// A value in COPY's text form: \N for null, backslash escapes for the characters it gives meaning.
void appendCopyValue(const Variant& v, QByteArray& out) {
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

}  // namespace

long long CopyTable(Database& source, const QString& table, Database& dest, const QString& as, bool append) {
    const TableSchema schema = source.Schema(table);
    const QString target = as.isEmpty() ? table : as;
    const bool exists = dest.TableDefs().contains(target, Qt::CaseInsensitive);
    if (exists && !append)
        raise(3010, QString("Table '%1' already exists; add --append to add the records to it.").arg(target));
    auto from = source.OpenRecordset(table, 4);
    const int n = from->Fields().Count();
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
                        appendCopyValue(from->Fields()[i].Value(), chunk);
                    }
                    chunk += '\n';
                }
                return true;
            });
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
    return rows;
}

}  // namespace dao
