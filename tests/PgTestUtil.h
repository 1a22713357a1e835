#pragma once

// For tests that run over a PostgreSQL server as well as over files: a schema of its own on the
// test server (TABULON_TEST_PG) for one test, and psql to set it up and look at it.

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <string>
#include <utility>

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

// A server of the test's own in a temporary folder, started as scripts/pg-server.sh starts the
// shared one, for a test that stops and starts the whole server; stopped and removed at the end.
// skipReason() is set when no server binaries are installed, error() when it did not start.
class PgPrivateServer {
public:
    PgPrivateServer() {
        const auto [code, out] = shell("[ -n \"$(pg_server_bindir)\" ] || exit 77; PG_SERVER_NO_TRAP=1 pg_server_start >/dev/null "
                                       "&& printf '%s\\n%s' \"$PG_TEST_DIR\" \"$TABULON_TEST_PG\"");
        const QStringList lines = out.split('\n');
        if (code == 77) skip_ = "no PostgreSQL server binaries under /usr/lib/postgresql: this test needs a server of its own";
        else if (code != 0 || lines.size() < 2) error_ = "the private server did not start: " + out;
        else dir_ = lines[lines.size() - 2], uri_ = lines.last();
    }
    ~PgPrivateServer() {
        if (!dir_.isEmpty()) shell("pg_server_use \"$1\" && pg_server_stop");
    }
    PgPrivateServer(const PgPrivateServer&) = delete;
    PgPrivateServer& operator=(const PgPrivateServer&) = delete;
    const QString& skipReason() const { return skip_; }
    const QString& error() const { return error_; }
    const QString& uri() const { return uri_; }
    // pg_ctl with the server's own settings ("stop -m fast", "start"); its words when it fails.
    QString ctl(const QString& args) {
        const auto [code, out] = shell("pg_server_use \"$1\" && pg_server_ctl " + args);
        return code == 0 ? QString() : "pg_ctl " + args + " failed: " + out;
    }

private:
    std::pair<int, QString> shell(const QString& commands) const {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("bash"), {"-c", "source \"$0\" && " + commands,
                                         QStringLiteral(TABULON_SOURCE_DIR "/scripts/pg-server.sh"), dir_});
        p.waitForFinished(120000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAll()).trimmed()};
    }
    QString dir_, uri_, skip_, error_;
};

}  // namespace testutil
