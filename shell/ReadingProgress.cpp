#include "ReadingProgress.h"

#include <QApplication>
#include <QFileInfo>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <memory>

namespace shell {

namespace {

constexpr int ShowAfterMs = 700;

}  // namespace

ReadingProgress::ReadingProgress(const QString& path, QWidget* parent)
    : box_(new QProgressDialog(QStringLiteral("Reading %1...").arg(QFileInfo(path).fileName()),
                               QStringLiteral("Cancel"), 0, 0, parent)) {
    box_->setWindowTitle(parent ? parent->window()->windowTitle() : QApplication::applicationName());
    box_->setWindowModality(Qt::ApplicationModal);
    box_->setAutoReset(false);
    box_->setAutoClose(false);
    box_->setMinimumDuration(INT_MAX);  // shown by progress(), not by its own timer
    reading_.start();
}

ReadingProgress::~ReadingProgress() { delete box_.data(); }

void ReadingProgress::close() {
    if (box_) box_->close();
}

dao::OpenWatch ReadingProgress::watch() {
    dao::OpenWatch w;
    w.cancel = &cancel_;
    w.progress = [this](qint64 done, qint64 total) { progress(done, total); };
    return w;
}

void ReadingProgress::progress(qint64 done, qint64 total) {
    if (cancel_ || !box_) return;
    if (!box_->isVisible()) {
        if (reading_.elapsed() < ShowAfterMs) return;
        box_->show();
    }
    if (total > 0) box_->setMaximum(int(std::min<qint64>(total, INT_MAX)));
    box_->setValue(int(std::min<qint64>({done, total, INT_MAX})));
    // The box is modal: the other windows are painted but take no input meanwhile.
    QCoreApplication::processEvents();
    if (box_ && box_->wasCanceled()) cancel_ = true;
}

void watchFillWaits() {
    dao::setFillWaitWatch([](const QString& path) -> dao::OpenWatch {
        // Widgets live on the window's thread only.
        if (!qApp || QThread::currentThread() != qApp->thread()) return {};
        // The box goes with the watch, when the wait ends.
        QWidget* over = QApplication::activeModalWidget();
        if (!over) over = QApplication::activeWindow();
        auto box = std::make_shared<ReadingProgress>(path, over);
        dao::OpenWatch w = box->watch();
        w.progress = [box, inner = std::move(w.progress)](qint64 done, qint64 total) { inner(done, total); };
        return w;
    });
}

}  // namespace shell
