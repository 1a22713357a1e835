// The grid over a million-row table: opening it to its first painted screen, and scrolling from there
// to the last row, each against stepping the table's row ids in raw SQLite.

#include <QApplication>
#include <QHeaderView>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

#include "BenchUtil.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/dao/Dao.h"

namespace {

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(o, e);
    }
};

// Lets the event loop run until the viewport has painted since `before`.
void waitForPaint(PaintCounter& counter, int before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (counter.paints <= before) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "the grid never painted\n");
            std::exit(1);
        }
    }
}

struct OpenGrid {
    platform::DataControl control;
    std::unique_ptr<platform::DataGrid> grid;
    PaintCounter counter;
};

std::unique_ptr<OpenGrid> openGrid(const QString& path) {
    auto g = std::make_unique<OpenGrid>();
    g->control.setDatabaseName(path);
    g->control.setRecordSource("select * from t");
    g->control.Refresh();
    g->grid = std::make_unique<platform::DataGrid>();
    g->grid->resize(1000, 700);
    g->grid->viewport()->installEventFilter(&g->counter);
    g->grid->setDataSource(&g->control);
    g->grid->show();
    waitForPaint(g->counter, 0);
    return g;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long long rows = 1000000;
    QTemporaryDir dir;
    const QString path = bench::makeTable(dir.path(), rows);

    sqlite3* raw = nullptr;
    sqlite3_open(path.toUtf8().constData(), &raw);
    const double rawOpen = bench::bestMs(3, [&] { bench::stepAll(raw, "SELECT rowid FROM t"); });

    // grid.open
    const double ourOpen = bench::bestMs(3, [&] {
        auto g = openGrid(path);
        if (g->grid->model()->rowCount() != rows) std::abort();
    });
    bench::report("grid.open", ourOpen, rawOpen);

    // grid.scroll_end: from the first screen to the last row painted.
    double ourScroll = 1e300;
    for (int i = 0; i < 3; ++i) {
        auto g = openGrid(path);
        platform::DataGrid& grid = *g->grid;
        const double ms = bench::timeMs([&] {
            const int before = g->counter.paints;
            grid.scrollToBottom();
            waitForPaint(g->counter, before);
        });
        const QModelIndex last = grid.indexAt(QPoint(1, grid.viewport()->height() - 2));
        if (last.row() != rows - 1) {
            std::fprintf(stderr, "the last row is not shown (row %d)\n", last.row());
            std::exit(1);
        }
        ourScroll = std::min(ourScroll, ms);
    }
    bench::report("grid.scroll_end", ourScroll, rawOpen);

    sqlite3_close(raw);
    dao::flushAllWrites();
    return 0;
}
