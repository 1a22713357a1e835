#pragma once

// For tests that run over a PostgreSQL server as well as over files: a schema of its own on the
// test server (TABULON_TEST_PG) for one test, and psql to set it up and look at it.

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <string>

#include "platform/dao/Dao.h"

namespace testutil {

// What a test parameterised by backend runs over.
enum class Backend { SQLite, PostgreSQL };
inline std::string backendName(Backend b) { return b == Backend::SQLite ? "SQLite" : "PostgreSQL"; }

// Rows of statements run by psql ('|' between columns, NULL for null; "ERROR: ..." on failure).
inline QStringList psql(const QString& uri, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("psql"), {"-X", "-q", "-A", "-t", "-F", "|", "-P", "null=NULL", "-v", "ON_ERROR_STOP=1", "-d",
                                     uri, "-c", sql});
    p.waitForFinished(60000);
    QString out = QString::fromUtf8(p.readAllStandardOutput());
    if (out.endsWith('\n')) out.chop(1);
    const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    if (!err.isEmpty()) return {"ERROR: " + err};
    return out.isEmpty() ? QStringList() : out.split('\n');
}

// The schema is dropped at the end; uri() opens the server with it first on the search path.
// isSet() is false without a server.
class PgSchema {
public:
    PgSchema() : server_(qEnvironmentVariable("TABULON_TEST_PG")) {
        if (server_.isEmpty()) return;
        static int n = 0;
        const QString schema = QString("test_%1_%2").arg(QCoreApplication::applicationPid()).arg(++n);
        if (!testutil::psql(server_, "create schema " + schema).isEmpty()) return;
        schema_ = schema;
        uri_ = server_ + (server_.contains('?') ? "&" : "?") + "options=-csearch_path%3D" + schema_;
    }
    ~PgSchema() {
        if (isSet()) testutil::psql(server_, "drop schema " + schema_ + " cascade");
    }
    PgSchema(const PgSchema&) = delete;
    PgSchema& operator=(const PgSchema&) = delete;
    bool isSet() const { return !schema_.isEmpty(); }
    const QString& uri() const { return uri_; }
    QStringList psql(const QString& sql) const { return testutil::psql(uri_, sql); }
    // Tables of a database file moved into the schema as a user moves them (types, keys, unique
    // indexes and not-null rules as copy-table makes them), so a test's file setup serves both.
    void copyFrom(const QString& file, const QStringList& tables) const {
        auto from = dao::OpenDatabase(file);
        auto to = dao::OpenDatabase(uri_);
        for (const QString& t : tables) dao::CopyTable(*from, t, *to);
        to->Close();
        from->Close();
    }

private:
    QString server_, schema_, uri_;
};

}  // namespace testutil
