#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <atomic>

#include "platform/dao/Dao.h"

class QWidget;

namespace shell {

// The box of a wait for an Access file's reading ("Reading <file>..." with Cancel): it shows itself
// once the reading has taken longer than a moment, says how many records are read, keeps the windows
// painted meanwhile (it is modal: they take no input) and stops the reading on Cancel.
class ReadingProgress {
public:
    ReadingProgress(const QString& path, QWidget* parent);
    ~ReadingProgress();
    ReadingProgress(const ReadingProgress&) = delete;
    ReadingProgress& operator=(const ReadingProgress&) = delete;
    // For the engine: valid while this object lives, on the thread that made it.
    dao::OpenWatch watch();
    void close();

private:
    void progress(qint64 done, qint64 total);

    // Its parent may go while the events run; the box goes with it then.
    QPointer<QProgressDialog> box_;
    QElapsedTimer reading_;
    std::atomic<bool> cancel_{false};
};

// Makes every wait of the program's window thread for the rest of an Access file's reading show that
// box (dao::setFillWaitWatch); waits on other threads stay plain.
void watchFillWaits();

}  // namespace shell
