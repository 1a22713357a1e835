#pragma once

// The working display of the bulk tools: while an operation runs, the grid gives way to a progress
// bar and a status caption, and the mouse pointer is the hourglass.
//
//   common::WorkingDisplay busy({ProgBar, StatusPanel, StatusLbl, grdDataGrid, WorkingPanel},
//                               "Replacing...", recordCount);
//   for (...) { ...; busy.progress(++done); }
//   // leaving the scope (or busy.restore()) brings the grid back and restores the pointer
//
// Any of the widget pointers may be null; that part of the display is then left out.

#include <QPointer>
#include <QString>

class QLabel;
class QProgressBar;
class QWidget;

namespace common {

// A request to stop the running tool (its Cancel button, Escape, closing its window).
struct ToolStop {
    bool requested = false;
};

struct WorkingWidgets {
    QProgressBar* progBar = nullptr;
    QWidget* statusPanel = nullptr;
    QLabel* statusLbl = nullptr;
    QWidget* grid = nullptr;
    QWidget* workingPanel = nullptr;
    QWidget* cancelButton = nullptr;  // shown while the display is
    ToolStop* stop = nullptr;         // set by the cancel button's owner
};

class WorkingDisplay {
public:
    // Enters the working display: progress value and minimum 0, the given maximum, the caption in
    // the status label, status and working panels shown, grid hidden, hourglass pointer.
    WorkingDisplay(const WorkingWidgets& widgets, const QString& caption, int maximum);
    ~WorkingDisplay();
    WorkingDisplay(const WorkingDisplay&) = delete;
    WorkingDisplay& operator=(const WorkingDisplay&) = delete;

    // Moves the progress bar (clamped to its range) and lets the windows repaint.
    void progress(int value);
    void setMaximum(int maximum);
    void setCaption(const QString& caption);

    // Shows the grid, hides both panels and restores the pointer. Only the first call acts.
    void restore();
    bool active() const { return active_; }

private:
    QPointer<QProgressBar> progBar_;
    QPointer<QWidget> statusPanel_;
    QPointer<QLabel> statusLbl_;
    QPointer<QWidget> grid_;
    QPointer<QWidget> workingPanel_;
    QPointer<QWidget> cancelButton_;
    bool active_ = true;
};

}  // namespace common
