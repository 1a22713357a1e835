// The engine over PostgreSQL on a generated 1,000,000-row table, each figure against libpq doing the
// same work on the same server in the same run. The server is the one TABULON_TEST_PG names (see
// scripts/try-postgresql.sh); without it nothing is measured. TABULON_BENCH_ROWS sets another row
// count; TABULON_BENCH_PARTS (say "open,walk") measures only the figures named, on the bench_t table
// an earlier run left when it has the rows (made again otherwise), and leaves it for the next run.

#include <libpq-fe.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "BenchUtil.h"
#include "platform/dao/Dao.h"

namespace {

PGconn* raw = nullptr;

void rawExec(const char* sql) {
    PGresult* r = PQexec(raw, sql);
    if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK) {
        std::fprintf(stderr, "pg_bench: %s\n", PQerrorMessage(raw));
        std::exit(1);
    }
    PQclear(r);
}

long long rawRows(const char* sql, bool touch) {
    PGresult* r = PQexec(raw, sql);
    const int n = PQntuples(r), nf = PQnfields(r);
    long long sink = 0;
    if (touch)
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < nf; ++c) sink += PQgetlength(r, i, c) + (PQgetvalue(r, i, c)[0] == 'x');
    PQclear(r);
    return n + (sink == 42);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString uri = qEnvironmentVariable("TABULON_TEST_PG");
    if (uri.isEmpty()) {
        std::fprintf(stderr, "pg_bench: TABULON_TEST_PG names no server; nothing measured\n");
        return 0;
    }
    const long long rows = qEnvironmentVariableIsSet("TABULON_BENCH_ROWS") ? qEnvironmentVariableIntValue("TABULON_BENCH_ROWS") : 1000000;
    raw = PQconnectdb(uri.toUtf8().constData());
    if (PQstatus(raw) != CONNECTION_OK) {
        std::fprintf(stderr, "pg_bench: %s\n", PQerrorMessage(raw));
        return 1;
    }
    const QStringList only = qEnvironmentVariable("TABULON_BENCH_PARTS").split(',', Qt::SkipEmptyParts);
    const auto wanted = [&](const char* name) { return only.isEmpty() || only.contains(QLatin1String(name)); };
    bool kept = false;
    if (!only.isEmpty() && !wanted("copy_table")) {
        PGresult* r = PQexec(raw, "SELECT count(*) FROM bench_t");
        kept = PQresultStatus(r) == PGRES_TUPLES_OK && QByteArray(PQgetvalue(r, 0, 0)).toLongLong() == rows;
        PQclear(r);
    }
    QTemporaryDir dir;
    const QString file = kept ? QString() : bench::makeTable(dir.path(), rows);
    auto db = dao::OpenDatabase(uri);
    if (!kept) rawExec("DROP TABLE IF EXISTS bench_t, bench_copy, bench_raw");
    if (!kept && !wanted("copy_table") && dao::CopyTable(*dao::OpenDatabase(file), "t", *db, "bench_t") != rows) std::abort();

    // pg.copy_table: SQLite -> PostgreSQL, against COPY of a CSV file of the same rows (psql's \copy).
    if (wanted("copy_table")) {
        const QString csv = dir.filePath("t.csv");
        auto source = dao::OpenDatabase(file);
        {
            QFile out(csv);
            out.open(QIODevice::WriteOnly);
            sqlite3* s = nullptr;
            sqlite3_open(file.toUtf8().constData(), &s);
            QByteArray buf;
            bench::stepAll(s, "SELECT id, name, qty, price, born, notes FROM t", [&](sqlite3_stmt* st) {
                for (int c = 0; c < 6; ++c) {
                    if (c) buf += ',';
                    if (sqlite3_column_type(st, c) != SQLITE_NULL) {
                        QByteArray v(reinterpret_cast<const char*>(sqlite3_column_text(st, c)));
                        buf += '"' + v.replace("\"", "\"\"") + '"';
                    }
                }
                buf += '\n';
                if (buf.size() > (1 << 20)) out.write(buf), buf.clear();
            });
            out.write(buf);
            sqlite3_close(s);
        }
        const auto [rawCopy, ourCopy] = bench::bestPair(
            1,
            [&] {
                rawExec("CREATE TABLE bench_raw (id integer PRIMARY KEY, name varchar(50), qty integer, price numeric(19,4), "
                        "born timestamp(0), notes text)");
                QFile in(csv);
                in.open(QIODevice::ReadOnly);
                PGresult* r = PQexec(raw, "COPY bench_raw FROM STDIN (FORMAT csv)");
                PQclear(r);
                while (!in.atEnd()) {
                    const QByteArray chunk = in.read(1 << 16);
                    PQputCopyData(raw, chunk.constData(), int(chunk.size()));
                }
                PQputCopyEnd(raw, nullptr);
                while (PGresult* e = PQgetResult(raw)) PQclear(e);
            },
            [&] {
                if (dao::CopyTable(*source, "t", *db, "bench_t") != rows) std::abort();
            });
        bench::report("pg.copy_table", ourCopy, rawCopy);
    }
    if (!kept) rawExec("VACUUM ANALYZE bench_t");

    // pg.open: the first screen with the count, against reading the keys.
    if (wanted("open")) {
        const auto [rawOpen, ourOpen] = bench::bestPair(3, [&] { rawRows("SELECT id FROM bench_t", false); }, [&] {
            auto rs = db->OpenRecordset("bench_t");
            if (rs->RecordCount() != rows) std::abort();
            for (long long r = 0; r < 40 && r < rows; ++r)
                for (int i = 0; i < rs->Fields().Count(); ++i) (void)rs->valueAt(r, i);
        });
        bench::report("pg.open", ourOpen, rawOpen);
    }

    // pg.walk: every value of every record, against one select *.
    if (wanted("walk")) {
        const auto [rawWalk, ourWalk] = bench::bestPair(2, [&] { rawRows("SELECT * FROM bench_t", true); }, [&] {
            auto rs = db->OpenRecordset("bench_t");
            const int n = rs->Fields().Count();
            long long count = 0;
            for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext(), ++count)
                for (int i = 0; i < n; ++i) (void)rs->Fields()[i].Value();
            if (count != rows) std::abort();
        });
        bench::report("pg.walk", ourWalk, rawWalk);
    }

    // pg.edit: a tenth of the records through Edit/Update, against the same UPDATEs by key in one
    // transaction.
    const long long edits = rows / 10;
    if (wanted("edit")) {
        const auto [rawEdit, ourEdit] = bench::bestPair(
            1,
            [&] {
                rawExec("BEGIN");
                PGresult* p = PQprepare(raw, "upd", "UPDATE bench_t SET qty = $1 WHERE id = $2", 2, nullptr);
                PQclear(p);
                for (long long i = 1; i <= edits; ++i) {
                    const QByteArray q = QByteArray::number(i % 777), id = QByteArray::number(i);
                    const char* v[2] = {q.constData(), id.constData()};
                    PQclear(PQexecPrepared(raw, "upd", 2, v, nullptr, nullptr, 0));
                }
                rawExec("COMMIT");
            },
            [&] {
                auto rs = db->OpenRecordset("bench_t");
                auto qty = rs->Fields()["qty"];
                rs->MoveFirst();
                for (long long i = 1; i <= edits; ++i, rs->MoveNext()) {
                    rs->Edit();
                    qty.setValue(dao::Variant::fromLong(int32_t(i % 555)));
                    rs->Update();
                }
            });
        bench::report("pg.edit", ourEdit, rawEdit);
    }

    if (only.isEmpty()) rawExec("DROP TABLE IF EXISTS bench_t, bench_raw");
    PQfinish(raw);
    return 0;
}
