#pragma once

// Helpers shared by the engine tests: error expectations and a raw look at a file through plain
// SQLite, bypassing the engine.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCryptographicHash>
#include <QFile>
#include <QString>
#include <QStringList>

#include "platform/dao/Dao.h"

// Runs `stmt` and expects it to throw dao::Error with the given number.
#define EXPECT_DAO_ERROR(stmt, num)                                      \
    do {                                                                 \
        try {                                                            \
            stmt;                                                        \
            ADD_FAILURE() << "no engine error from: " #stmt;             \
        } catch (const dao::Error& e_) {                                 \
            EXPECT_EQ(e_.number(), (num)) << #stmt << ": " << e_.what(); \
        }                                                                \
    } while (0)

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << "{";
    for (int i = 0; i < l.size(); ++i) *os << (i ? ", \"" : "\"") << l[i].toStdString() << '"';
    *os << "}";
}

namespace enginetest {

// Rows of a statement on a separate, plain SQLite connection (the file is created when missing);
// columns joined by '|', NULL as "NULL".
// An error comes back as one row "ERROR: message".
inline QStringList rawRows(const QString& path, const QString& sql) {
    sqlite3* db = nullptr;
    QStringList rows;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        rows << "ERROR: " + QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return rows;
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK) {
        rows << "ERROR: " + QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return rows;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        QStringList cols;
        for (int i = 0; i < sqlite3_column_count(st); ++i)
            cols << (sqlite3_column_type(st, i) == SQLITE_NULL
                         ? QStringLiteral("NULL")
                         : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i))));
        rows << cols.join('|');
    }
    if (rc != SQLITE_DONE) rows << "ERROR: " + QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

// The same after committing every pending write batch of the process.
inline QStringList committedRows(const QString& path, const QString& sql) {
    dao::flushAllWrites();
    return rawRows(path, sql);
}

inline QString rawValue(const QString& path, const QString& sql) {
    const QStringList r = rawRows(path, sql);
    return r.isEmpty() ? QString() : r.first();
}

inline QByteArray sha256Of(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result().toHex();
}

// Text for comparisons in tests: strings and whole numbers plainly, everything else by its diagnostic form.
inline QString str(const dao::Variant& v) {
    using T = dao::Variant::Type;
    switch (v.type()) {
        case T::String:
            return v.asString();
        case T::Byte:
        case T::Integer:
        case T::Long:
            return QString::number(v.asInt());
        default:
            return v.debugString();
    }
}

// Every value of one field over the whole recordset, in recordset order, by the diagnostic form.
inline QStringList column(dao::Recordset& rs, const QString& field) {
    QStringList out;
    if (rs.RecordCount() == 0) return out;
    rs.MoveFirst();
    for (; !rs.Eof(); rs.MoveNext()) {
        out << str(rs.Fields()[field].Value());
    }
    return out;
}

}  // namespace enginetest
