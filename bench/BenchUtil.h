#pragma once

// Shared by the benchmarks: timing, the BENCH line, and the generated million-row table.

#include <sqlite3.h>

#include <QDir>
#include <QString>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <utility>

namespace bench {

inline double timeMs(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Best of n runs: the figures should not depend on a passing hiccup of the machine.
inline double bestMs(int n, const std::function<void()>& f) {
    double best = 1e300;
    for (int i = 0; i < n; ++i) best = std::min(best, timeMs(f));
    return best;
}

// Best of n runs of each side, the two taking turns, so that a change in the machine's load
// between them does not tilt the ratio.
inline std::pair<double, double> bestPair(int n, const std::function<void()>& raw, const std::function<void()>& ours) {
    double bestRaw = 1e300, bestOurs = 1e300;
    for (int i = 0; i < n; ++i) {
        bestRaw = std::min(bestRaw, timeMs(raw));
        bestOurs = std::min(bestOurs, timeMs(ours));
    }
    return {bestRaw, bestOurs};
}

inline void report(const char* name, double ours, double raw, const char* unit = "ms") {
    std::printf("BENCH name=%s ours_%s=%.1f raw_%s=%.1f ratio=%.2f\n", name, unit, ours, unit, raw,
                raw > 0 ? ours / raw : 0.0);
    std::fflush(stdout);
}

inline double residentMb() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return double(resident) * 4096.0 / (1024.0 * 1024.0);
}

inline void exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", err ? err : "?");
        std::exit(1);
    }
}

// Steps a statement to the end; returns the rows seen.
inline long long stepAll(sqlite3* db, const char* sql, const std::function<void(sqlite3_stmt*)>& row = {}) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    long long n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        if (row) row(st);
        ++n;
    }
    sqlite3_finalize(st);
    return n;
}

// A table t of `rows` records: id INTEGER PRIMARY KEY, name TEXT(50), qty LONG, price CURRENCY,
// born DATETIME, notes MEMO.
inline QString makeTable(const QString& dir, long long rows) {
    const QString path = QDir(dir).filePath("bench.sqlite");
    QFile::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    exec(db, "PRAGMA journal_mode=WAL");
    exec(db,
         "CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT(50), qty LONG, price CURRENCY, born DATETIME, "
         "notes MEMO)");
    exec(db, "BEGIN");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?,?,?,?,?,?)", -1, &st, nullptr);
    unsigned x = 12345;
    for (long long i = 1; i <= rows; ++i) {
        x = x * 1103515245u + 12345u;
        const std::string name = "Name " + std::to_string(x % 1000003) + (i % 7 == 0 ? " Ñandú" : "");
        char born[32];
        std::snprintf(born, sizeof born, "%04lld-%02lld-%02lld 00:00:00", 1950 + i % 60, 1 + i % 12, 1 + i % 28);
        sqlite3_bind_int64(st, 1, i);
        sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(st, 3, i % 1000);
        sqlite3_bind_double(st, 4, double(i % 100000) / 100.0);
        sqlite3_bind_text(st, 5, born, -1, SQLITE_TRANSIENT);
        if (i % 3 == 0) sqlite3_bind_null(st, 6);
        else sqlite3_bind_text(st, 6, "some notes about the record", -1, SQLITE_STATIC);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    exec(db, "COMMIT");
    sqlite3_close(db);
    return path;
}

}  // namespace bench
