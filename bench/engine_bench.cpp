// Engine figures on a generated 1,000,000-row table, each against plain SQLite doing the same work.

#include <QCoreApplication>
#include <QTemporaryDir>
#include <vector>

#include "BenchUtil.h"
#include "platform/dao/Dao.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long long rows = qEnvironmentVariableIsSet("TABULON_BENCH_ROWS") ? qEnvironmentVariableIntValue("TABULON_BENCH_ROWS") : 1000000;
    QTemporaryDir dir;
    const QString path = bench::makeTable(dir.path(), rows);
    sqlite3* raw = nullptr;
    sqlite3_open(path.toUtf8().constData(), &raw);
    bench::stepAll(raw, "SELECT * FROM t");  // warm the page cache for both sides

    // engine.memory: what an open recordset adds, against the bare row ids read by plain SQLite.
    {
        auto mdb = dao::OpenDatabase(path);
        const double before = bench::residentMb();
        auto rs = mdb->OpenRecordset("t");
        rs->MoveLast();
        (void)rs->Fields()[1].Value();
        const double ourMb = bench::residentMb() - before;
        const double before2 = bench::residentMb();
        std::vector<long long> ids;
        bench::stepAll(raw, "SELECT rowid FROM t", [&](sqlite3_stmt* st) { ids.push_back(sqlite3_column_int64(st, 0)); });
        const double rawMb = bench::residentMb() - before2;
        bench::report("engine.memory", ourMb, rawMb, "mb");
        // What the open recordset costs a row, against the bare 8-byte row id.
        bench::report("engine.row_bytes", ourMb * 1048576.0 / double(rows), rawMb * 1048576.0 / double(rows), "bytes");
    }

    // engine.open
    const auto [rawOpen, ourOpen] = bench::bestPair(3, [&] { bench::stepAll(raw, "SELECT rowid FROM t"); }, [&] {
        auto db = dao::OpenDatabase(path);
        auto rs = db->OpenRecordset("t");
        if (rs->RecordCount() != rows) std::abort();
        for (int i = 0; i < rs->Fields().Count(); ++i) (void)rs->Fields()[i].Value();
    });
    bench::report("engine.open", ourOpen, rawOpen);

    // engine.walk
    auto db = dao::OpenDatabase(path);
    const auto [rawWalk, ourWalk] = bench::bestPair(3, [&] {
        long long sink = 0;
        bench::stepAll(raw, "SELECT * FROM t", [&](sqlite3_stmt* st) {
            sink += sqlite3_column_int64(st, 0);
            sink += sqlite3_column_bytes(st, 1) + (sqlite3_column_text(st, 1) != nullptr);
            sink += sqlite3_column_int64(st, 2);
            sink += (long long)sqlite3_column_double(st, 3);
            sink += sqlite3_column_bytes(st, 4) + (sqlite3_column_text(st, 4) != nullptr);
            sink += sqlite3_column_bytes(st, 5) + (sqlite3_column_text(st, 5) != nullptr);
        });
        if (sink == 42) std::puts("");
    }, [&] {
        auto rs = db->OpenRecordset("t");
        const int n = rs->Fields().Count();
        long long count = 0;
        rs->MoveFirst();
        while (!rs->Eof()) {
            for (int i = 0; i < n; ++i) (void)rs->Fields()[i].Value();
            rs->MoveNext();
            ++count;
        }
        if (count != rows) std::abort();
    });
    bench::report("engine.walk", ourWalk, rawWalk);

    // engine.search
    const auto [rawSearch, ourSearch] = bench::bestPair(5, [&] { bench::stepAll(raw, "SELECT rowid FROM t WHERE name LIKE '%12%'"); }, [&] {
        auto rs = db->OpenRecordset("select * from t where [name] like '*12*'");
        (void)rs->RecordCount();
        if (!rs->Eof()) (void)rs->Fields()[1].Value();
    });
    bench::report("engine.search", ourSearch, rawSearch);

    // engine.sort
    const auto [rawSort, ourSort] = bench::bestPair(2, [&] { bench::stepAll(raw, "SELECT rowid FROM t ORDER BY name COLLATE NOCASE"); }, [&] {
        auto rs = db->OpenRecordset("select * from t order by [name]");
        (void)rs->RecordCount();
        (void)rs->Fields()[1].Value();
    });
    bench::report("engine.sort", ourSort, rawSort);

    // engine.edit
    const double rawEdit = bench::timeMs([&] {
        bench::exec(raw, "BEGIN");
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(raw, "UPDATE t SET qty = ?1 WHERE rowid = ?2", -1, &st, nullptr);
        for (long long i = 1; i <= rows; ++i) {
            sqlite3_bind_int64(st, 1, i % 777);
            sqlite3_bind_int64(st, 2, i);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        bench::exec(raw, "COMMIT");
    });
    auto editAll = [](dao::Database& d, int salt) {
        auto rs = d.OpenRecordset("t");
        auto qty = rs->Fields()["qty"];
        long long i = 0;
        while (!rs->Eof()) {
            rs->Edit();
            qty.setValue(dao::Variant::fromLong(int32_t(++i % salt)));
            rs->Update();
            rs->MoveNext();
        }
        dao::flushAllWrites();
    };
    const double ourEdit = bench::timeMs([&] { editAll(*db, 555); });
    bench::report("engine.edit", ourEdit, rawEdit);

    // The same on a file in rollback-journal mode: the engine keeps a file's own journal mode, and
    // with batched commits it should edit as fast there as in WAL.
    db.reset();
    sqlite3_close(raw);
    raw = nullptr;
    sqlite3_open(path.toUtf8().constData(), &raw);
    bench::exec(raw, "PRAGMA journal_mode=DELETE");
    const double rawEditRollback = bench::timeMs([&] {
        bench::exec(raw, "BEGIN");
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(raw, "UPDATE t SET qty = ?1 WHERE rowid = ?2", -1, &st, nullptr);
        for (long long i = 1; i <= rows; ++i) {
            sqlite3_bind_int64(st, 1, i % 778);
            sqlite3_bind_int64(st, 2, i);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        bench::exec(raw, "COMMIT");
    });
    db = dao::OpenDatabase(path);
    const double ourEditRollback = bench::timeMs([&] { editAll(*db, 556); });
    bench::report("engine.edit_rollback_journal", ourEditRollback, rawEditRollback);
    sqlite3_close(raw);
    return 0;
}
