#include "WorkingProgress.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>
#include <algorithm>
#include <climits>

namespace browser {

namespace {

int clampToInt(qint64 v, qint64 lo, qint64 hi) {
    return int(std::min(std::max(v, lo), hi));
}

}  // namespace

WorkingProgress::WorkingProgress(const common::WorkingWidgets& widgets, Events events, int intervalMs)
    : widgets_(widgets), events_(events), intervalMs_(intervalMs) {}

WorkingProgress::~WorkingProgress() {
    end();
}

void WorkingProgress::begin(const QString& caption, qint64 minimum, qint64 maximum) {
    value_ = minimum;
    display_ = std::make_unique<common::WorkingDisplay>(widgets_, caption, clampToInt(maximum, 0, INT_MAX));
    // The display is on screen before the first record is touched.
    update();
}

void WorkingProgress::setMaximum(qint64 maximum) {
    if (display_) display_->setMaximum(clampToInt(maximum, 0, INT_MAX));
}

void WorkingProgress::setCaption(const QString& caption) {
    if (display_) display_->setCaption(caption);
}

void WorkingProgress::step(qint64 value) {
    value_ = value;
    if (display_ && sinceUpdate_.hasExpired(intervalMs_)) update();
}

void WorkingProgress::end() {
    if (!display_) return;
    if (QProgressBar* bar = widgets_.progBar)
        bar->setValue(clampToInt(value_, bar->minimum(), bar->maximum()));
    display_->restore();
    display_.reset();
}

void WorkingProgress::update() {
    ++updates_;
    if (QProgressBar* bar = widgets_.progBar)
        bar->setValue(clampToInt(value_, bar->minimum(), bar->maximum()));
    if (events_ == Events::Process) {
        QCoreApplication::processEvents();
    } else if (widgets_.statusPanel) {
        widgets_.statusPanel->repaint();
    }
    sinceUpdate_.start();
}

}  // namespace browser
