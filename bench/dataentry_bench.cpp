// The data-entry control: one key release in a text row with look-up hints over a million-row table
// (the greatest value containing the typed text) against raw SQLite's max() over the same
// contains-match; and building the form of a 200-field table.

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include "BenchUtil.h"
#include "dataentry/DataEntryForm.h"
#include "platform/MaskedEdit.h"

namespace {

void lookup(const QString& dir) {
    const QString path = bench::makeTable(dir, 1000000);
    QWidget window;
    auto* form = new dataentry::DataEntryForm(&window);
    form->setDatabaseName(path);
    form->setSelectedTable(QStringLiteral("t"));
    const double openMs = bench::timeMs([&] {
        window.show();
        QCoreApplication::processEvents();
    });
    std::fprintf(stderr, "form over 1,000,000 rows built in %.0f ms\n", openMs);
    auto* input = form->findChild<platform::MaskedEdit*>(QStringLiteral("TxTFields(1)"));  // name, text(50)
    auto* hint = form->findChild<QLabel*>(QStringLiteral("QuickTips(1)"));
    if (!input || !hint || hint->isHidden()) {
        std::fprintf(stderr, "no look-up row\n");
        std::exit(1);
    }
    const QString typed = QStringLiteral("1234");
    input->setText(typed);
    const double ours = bench::bestMs(5, [&] {
        hint->clear();
        QTest::keyRelease(input, Qt::Key_4);
    });

    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    std::string rawHint;
    const double raw = bench::bestMs(5, [&] {
        bench::stepAll(db, "select max(name) from t where name like '%1234%'", [&](sqlite3_stmt* st) {
            rawHint = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        });
    });
    sqlite3_close(db);
    if (hint->text().toStdString() != rawHint)
        std::fprintf(stderr, "hints differ: %s here, %s raw\n", qPrintable(hint->text()), rawHint.c_str());
    bench::report("dataentry.lookup", ours, raw);
}

void build(const QString& dir) {
    const QString path = QDir(dir).filePath(QStringLiteral("wide.sqlite"));
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    std::string sql = "CREATE TABLE w (";
    for (int i = 0; i < 200; ++i) {
        static const char* const types[] = {"LONG", "TEXT(40)", "CURRENCY", "YESNO", "DATETIME", "MEMO"};
        sql += (i ? ", f" : "f") + std::to_string(i) + " " + types[i % 6];
    }
    sql += ")";
    bench::exec(db, sql.c_str());
    bench::exec(db, "INSERT INTO w (f0) VALUES (1)");

    const double ours = bench::bestMs(3, [&] {
        QWidget window;
        auto* form = new dataentry::DataEntryForm(&window);
        form->setDatabaseName(path);
        form->setSelectedTable(QStringLiteral("w"));
        window.show();
        QCoreApplication::processEvents();
        if (form->rowCount() != 200) std::fprintf(stderr, "%d rows built\n", form->rowCount());
    });
    // Raw: reading the 200 fields' names and declared types.
    const double raw = bench::bestMs(3, [&] {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT * FROM w", -1, &st, nullptr);
        int n = sqlite3_column_count(st);
        for (int i = 0; i < n; ++i) (void)sqlite3_column_decltype(st, i), (void)sqlite3_column_name(st, i);
        sqlite3_step(st);
        sqlite3_finalize(st);
    });
    sqlite3_close(db);
    std::fprintf(stderr, "200-field form built in %.1f ms\n", ours);
    bench::report("dataentry.build", ours, raw);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    lookup(dir.path());
    build(dir.path());
    return 0;
}
