// The bulk tools over a table of a million records, against raw SQLite doing the same per-record
// work in one transaction. The writing tools report through the browser's working display (offscreen),
// so the throttled repaint is part of the figure.

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QWidget>

#include "BenchUtil.h"
#include "browser/WorkingProgress.h"
#include "bulk/CopyFields.h"
#include "bulk/EraseRecords.h"
#include "bulk/FieldOperations.h"
#include "bulk/FindReplace.h"
#include "bulk/Totals.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

namespace {

// A copy of the generated table for one run, so that every run starts from the same records.
QString freshCopy(const QString& base, const QString& dir, const char* name) {
    const QString path = QDir(dir).filePath(QString::fromLatin1(name) + ".sqlite");
    QFile::remove(path);
    QFile::copy(base, path);
    return path;
}

// The raw loop: read (rowid, column) in rowid order, write back through a prepared statement.
template <class Write>
double rawLoop(const QString& path, const char* select, const char* write, Write bindRow) {
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    const double ms = bench::timeMs([&] {
        bench::exec(db, "BEGIN");
        sqlite3_stmt* w = nullptr;
        sqlite3_prepare_v2(db, write, -1, &w, nullptr);
        bench::stepAll(db, select, [&](sqlite3_stmt* r) {
            bindRow(w, r);
            sqlite3_step(w);
            sqlite3_reset(w);
        });
        sqlite3_finalize(w);
        bench::exec(db, "COMMIT");
    });
    sqlite3_close(db);
    return ms;
}

// TABULON_BENCH_ONLY=bulk.totals (a comma-separated list) runs only those measurements.
bool wanted(const char* name) {
    const QString only = qEnvironmentVariable("TABULON_BENCH_ONLY");
    return only.isEmpty() || only.split(QLatin1Char(',')).contains(QLatin1String(name));
}

struct BenchDisplay {
    QWidget window;
    QProgressBar* bar = new QProgressBar(&window);
    QWidget* status = new QWidget(&window);
    QLabel* label = new QLabel(status);
    QWidget* grid = new QWidget(&window);
    QWidget* working = new QWidget(&window);
    BenchDisplay() { window.show(); }
    common::WorkingWidgets widgets() { return {bar, status, label, grid, working}; }
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::PromptScript noBoxes;  // nothing may wait for a user here
    const long long rows = qEnvironmentVariableIsSet("TABULON_BENCH_ROWS")
                               ? qEnvironmentVariableIntValue("TABULON_BENCH_ROWS")
                               : 1000000;
    QTemporaryDir dir;
    const QString base = bench::makeTable(dir.path(), rows);
    BenchDisplay display;

    // bulk.replace: every record's name ("*").
    if (wanted("bulk.replace")) {
        const double raw =
            rawLoop(freshCopy(base, dir.path(), "raw"), "SELECT rowid FROM t",
                    "UPDATE t SET name = ?1 WHERE rowid = ?2", [](sqlite3_stmt* w, sqlite3_stmt* r) {
                        sqlite3_bind_text(w, 1, "replaced", -1, SQLITE_STATIC);
                        sqlite3_bind_int64(w, 2, sqlite3_column_int64(r, 0));
                    });
        auto db = dao::OpenDatabase(freshCopy(base, dir.path(), "ours"));
        auto rs = db->OpenRecordset("select * from t");
        browser::WorkingProgress progress(display.widgets());
        const double ours = bench::timeMs([&] {
            const auto r =
                bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "*", "replaced"}, progress);
            dao::flushAllWrites();
            if (r.changed != rows) std::abort();
        });
        bench::report("bulk.replace", ours, raw);
        std::printf("# bulk.replace: the window was brought up to date %d times\n", progress.updates());
    }

    // bulk.copy: name into notes.
    if (wanted("bulk.copy")) {
        const double raw =
            rawLoop(freshCopy(base, dir.path(), "raw"), "SELECT rowid, name FROM t",
                    "UPDATE t SET notes = ?1 WHERE rowid = ?2", [](sqlite3_stmt* w, sqlite3_stmt* r) {
                        sqlite3_bind_value(w, 1, sqlite3_column_value(r, 1));
                        sqlite3_bind_int64(w, 2, sqlite3_column_int64(r, 0));
                    });
        auto db = dao::OpenDatabase(freshCopy(base, dir.path(), "ours"));
        auto rs = db->OpenRecordset("select * from t");
        browser::WorkingProgress progress(display.widgets(), browser::WorkingProgress::Events::PaintOnly);
        const double ours = bench::timeMs([&] {
            const auto r = bulk::CopyFields::run(
                *rs, bulk::CopyFields::Inputs{"name", "notes", "", false, false}, progress);
            dao::flushAllWrites();
            if (r.copied != rows) std::abort();
        });
        bench::report("bulk.copy", ours, raw);
    }

    // bulk.operations: qty * 2.
    if (wanted("bulk.operations")) {
        const double raw =
            rawLoop(freshCopy(base, dir.path(), "raw"), "SELECT rowid, qty FROM t",
                    "UPDATE t SET qty = ?1 WHERE rowid = ?2", [](sqlite3_stmt* w, sqlite3_stmt* r) {
                        sqlite3_bind_int64(w, 1, sqlite3_column_int64(r, 1) * 2);
                        sqlite3_bind_int64(w, 2, sqlite3_column_int64(r, 0));
                    });
        auto db = dao::OpenDatabase(freshCopy(base, dir.path(), "ours"));
        auto rs = db->OpenRecordset("select * from t");
        browser::WorkingProgress progress(display.widgets());
        const double ours = bench::timeMs([&] {
            const auto r = bulk::FieldOperations::run(
                *rs, bulk::FieldOperations::Inputs{"qty", bulk::FieldOperations::Multiply, "2"}, progress);
            dao::flushAllWrites();
            if (r.processed != rows) std::abort();
        });
        bench::report("bulk.operations", ours, raw);
    }

    // bulk.totals: the sum of price (currency).
    if (wanted("bulk.totals")) {
        sqlite3* db = nullptr;
        sqlite3_open(base.toUtf8().constData(), &db);
        double sum = 0;
        const double raw = bench::bestMs(3, [&] {
            sum = 0;
            bench::stepAll(db, "SELECT price FROM t",
                           [&](sqlite3_stmt* r) { sum += sqlite3_column_double(r, 0); });
        });
        sqlite3_close(db);
        auto ours_db = dao::OpenDatabase(base);
        auto rs = ours_db->OpenRecordset("select * from t");
        QString text;
        const double ours = bench::bestMs(3, [&] { text = bulk::Totals::run(*rs, "price", ours_db.get()).text; });
        if (text.isEmpty() || sum <= 0) std::abort();
        bench::report("bulk.totals", ours, raw);
    }

    // bulk.erase: every record.
    if (wanted("bulk.erase")) {
        const double raw = rawLoop(
            freshCopy(base, dir.path(), "raw"), "SELECT rowid FROM t", "DELETE FROM t WHERE rowid = ?1",
            [](sqlite3_stmt* w, sqlite3_stmt* r) { sqlite3_bind_int64(w, 1, sqlite3_column_int64(r, 0)); });
        auto db = dao::OpenDatabase(freshCopy(base, dir.path(), "ours"));
        auto rs = db->OpenRecordset("select * from t");
        browser::WorkingProgress progress(display.widgets());
        noBoxes.answer(platform::vbYes);
        const double ours = bench::timeMs([&] {
            const auto r = bulk::EraseRecords::run([&] { return rs; }, progress);
            dao::flushAllWrites();
            if (r.erased != rows) std::abort();
        });
        bench::report("bulk.erase", ours, raw);
    }
    return 0;
}
