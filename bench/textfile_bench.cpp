// Export, import and verify on 1,000,000 records, each against plain SQLite doing the same work in
// the same run.

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "BenchUtil.h"
#include "bulk/ExportTool.h"
#include "bulk/ImportTool.h"
#include "bulk/VerifyTool.h"
#include "platform/dao/Dao.h"

namespace {

constexpr int kRounds = 3;

// Reads a whole file and hands each CR LF line to `line`.
void forEachLine(const QString& path, const std::function<void(const char*, int)>& line) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) std::abort();
    const QByteArray all = f.readAll();
    const char* p = all.constData();
    const char* end = p + all.size();
    while (p < end) {
        const char* e = p;
        while (e < end && *e != '\r') ++e;
        line(p, int(e - p));
        p = e + 2;
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long long rows = qEnvironmentVariableIsSet("TABULON_BENCH_ROWS")
                               ? qEnvironmentVariableIntValue("TABULON_BENCH_ROWS")
                               : 1000000;
    QTemporaryDir dir;
    const QString path = bench::makeTable(dir.path(), rows);
    sqlite3* raw = nullptr;
    sqlite3_open(path.toUtf8().constData(), &raw);
    bench::exec(raw, "CREATE TABLE u (id INTEGER PRIMARY KEY, name TEXT(50), qty LONG, price CURRENCY, "
                     "born DATETIME, notes MEMO)");
    bench::exec(raw, "CREATE TABLE w (id INTEGER PRIMARY KEY, name TEXT(50), qty LONG, price CURRENCY, "
                     "born DATETIME, notes MEMO)");
    bench::stepAll(raw, "SELECT * FROM t");  // warm the page cache for both sides

    // bulk.export: every record of t to a table text file.
    const QString ourFile = dir.filePath("ours.txt");
    const QString rawFile = dir.filePath("raw.txt");
    auto rawExportRun = [&] {
        std::FILE* out = std::fopen(rawFile.toUtf8().constData(), "wb");
        std::fputs("6              addb\r\n", out);
        bench::stepAll(raw, "SELECT * FROM t", [&](sqlite3_stmt* st) {
            for (int i = 0; i < 6; ++i) {
                const unsigned char* t = sqlite3_column_text(st, i);
                std::fputs(t ? reinterpret_cast<const char*>(t) : "Null", out);
                std::fputs("\r\n", out);
            }
        });
        std::fclose(out);
    };
    auto db = dao::OpenDatabase(path);
    auto ourExportRun = [&] {
        const auto r = bulk::ExportTool(db->OpenRecordset("t"), bulk::noProgress()).writeTo(ourFile);
        if (r.written != rows) std::abort();
    };
    // The machine is shared: the two sides take turns, and each keeps its best time.
    double rawExport = 1e300, ourExport = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        rawExport = std::min(rawExport, bench::timeMs(rawExportRun));
        ourExport = std::min(ourExport, bench::timeMs(ourExportRun));
    }
    bench::report("bulk.export", ourExport, rawExport);

    // bulk.import: that file into an empty table of the same shape.
    auto rawImportRun = [&] {
        bench::exec(raw, "BEGIN");
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(raw, "INSERT INTO w VALUES (?,?,?,?,?,?)", -1, &st, nullptr);
        int field = -1;
        forEachLine(ourFile, [&](const char* p, int n) {
            if (field < 0) {  // the header
                field = 0;
                return;
            }
            if (n == 4 && std::string(p, 4) == "Null") sqlite3_bind_null(st, field + 1);
            else sqlite3_bind_text(st, field + 1, p, n, SQLITE_TRANSIENT);
            if (++field == 6) {
                sqlite3_step(st);
                sqlite3_reset(st);
                field = 0;
            }
        });
        sqlite3_finalize(st);
        bench::exec(raw, "COMMIT");
    };
    auto ourImportRun = [&] {
        const auto r = bulk::ImportTool(db->OpenRecordset("u"), bulk::noProgress()).readFrom(ourFile);
        dao::flushAllWrites();
        if (r.added != rows) std::abort();
    };
    double rawImport = 1e300, ourImport = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        bench::exec(raw, "DELETE FROM w");
        rawImport = std::min(rawImport, bench::timeMs(rawImportRun));
        db->Execute("delete from u");
        dao::flushAllWrites();
        ourImport = std::min(ourImport, bench::timeMs(ourImportRun));
    }
    bench::report("bulk.import", ourImport, rawImport);
    db.reset();

    // bulk.verify: a numeric field with 10% duplicates. Each side works on a fresh copy of the table.
    bench::exec(raw, "CREATE TABLE v (id INTEGER PRIMARY KEY, code LONG, name TEXT(50))");
    bench::exec(raw, "INSERT INTO v SELECT id, CASE WHEN id % 10 = 0 THEN id - 1 ELSE id END, name FROM t");
    sqlite3_close(raw);
    const QString ourDb = dir.filePath("verify-ours.sqlite");
    const QString rawDb = dir.filePath("verify-raw.sqlite");
    auto rawVerifyRun = [&] {
        sqlite3* rv = nullptr;
        sqlite3_open(rawDb.toUtf8().constData(), &rv);
        std::vector<std::pair<long long, long long>> rowsRead;  // rowid, code
        std::unordered_map<long long, int> ahead;
        long long highest = 0;
        bench::stepAll(rv, "SELECT rowid, code FROM v", [&](sqlite3_stmt* st) {
            const long long code = sqlite3_column_int64(st, 1);
            rowsRead.emplace_back(sqlite3_column_int64(st, 0), code);
            ++ahead[code];
            highest = std::max(highest, code);
        });
        bench::exec(rv, "BEGIN");
        sqlite3_stmt* up = nullptr;
        sqlite3_prepare_v2(rv, "UPDATE v SET code = ?1 WHERE rowid = ?2", -1, &up, nullptr);
        for (const auto& [rowid, code] : rowsRead) {
            if (--ahead[code] == 0) continue;
            sqlite3_bind_int64(up, 1, ++highest);
            sqlite3_bind_int64(up, 2, rowid);
            sqlite3_step(up);
            sqlite3_reset(up);
        }
        sqlite3_finalize(up);
        bench::exec(rv, "COMMIT");
        sqlite3_close(rv);
    };
    auto ourVerifyRun = [&] {
        const auto r = bulk::VerifyTool(ourDb, "select * from v", bulk::noProgress()).run("code", true);
        dao::flushAllWrites();
        if (r.renumbered != rows / 10) std::abort();
    };
    // Each side works on a fresh copy of the table, read once beforehand so that both start warm.
    auto fresh = [&](const QString& copy) {
        QFile::remove(copy);
        QFile::copy(path, copy);
        sqlite3* w = nullptr;
        sqlite3_open(copy.toUtf8().constData(), &w);
        bench::stepAll(w, "SELECT * FROM v");
        sqlite3_close(w);
    };
    double rawVerify = 1e300, ourVerify = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        fresh(rawDb);
        rawVerify = std::min(rawVerify, bench::timeMs(rawVerifyRun));
        fresh(ourDb);
        ourVerify = std::min(ourVerify, bench::timeMs(ourVerifyRun));
    }
    bench::report("bulk.verify", ourVerify, rawVerify);
    return 0;
}
