#include "WorkingDisplay.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QProgressBar>

namespace common {

WorkingDisplay::WorkingDisplay(const WorkingWidgets& w, const QString& caption, int maximum)
    : progBar_(w.progBar),
      statusPanel_(w.statusPanel),
      statusLbl_(w.statusLbl),
      grid_(w.grid),
      workingPanel_(w.workingPanel),
      cancelButton_(w.cancelButton) {
    if (progBar_) {
        progBar_->setMinimum(0);
        progBar_->setMaximum(qMax(0, maximum));
        progBar_->setValue(0);
    }
    if (statusPanel_) statusPanel_->show();
    if (statusLbl_) statusLbl_->setText(caption);
    if (grid_) grid_->hide();
    if (workingPanel_) workingPanel_->show();
    if (cancelButton_) {
        cancelButton_->show();
        cancelButton_->setEnabled(true);
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

WorkingDisplay::~WorkingDisplay() {
    restore();
}

void WorkingDisplay::progress(int value) {
    if (progBar_) progBar_->setValue(qBound(progBar_->minimum(), value, progBar_->maximum()));
    QCoreApplication::processEvents();
}

void WorkingDisplay::setMaximum(int maximum) {
    if (progBar_) progBar_->setMaximum(qMax(0, maximum));
}

void WorkingDisplay::setCaption(const QString& caption) {
    if (statusLbl_) statusLbl_->setText(caption);
}

void WorkingDisplay::restore() {
    if (!active_) return;
    active_ = false;
    if (grid_) grid_->show();
    if (statusPanel_) statusPanel_->hide();
    if (workingPanel_) workingPanel_->hide();
    if (cancelButton_) cancelButton_->hide();
    QGuiApplication::restoreOverrideCursor();
}

}  // namespace common
