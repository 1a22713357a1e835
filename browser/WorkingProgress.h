#pragma once

// bulk::Progress shown in the browser's working display (common::WorkingDisplay): the progress bar,
// the status caption, the grid hidden, the hourglass pointer.
//
// A tool reports every record, but the window is brought up to date at most once per interval
// (~30 ms): the bar takes the latest value and pending events are processed then, so the window
// repaints and stays usable without an event-loop pass per record dominating a long run. The last
// value always reaches the bar when the tool ends.

#include <QElapsedTimer>
#include <QString>
#include <memory>

#include "bulk/Progress.h"
#include "common/WorkingDisplay.h"

namespace browser {

class WorkingProgress : public bulk::Progress {
public:
    enum class Events {
        Process,    // pending events are processed: the window repaints and stays usable
        PaintOnly,  // only the status panel is repainted; input waits until the tool ends
    };
    static constexpr int DefaultIntervalMs = 30;

    explicit WorkingProgress(const common::WorkingWidgets& widgets, Events events = Events::Process,
                             int intervalMs = DefaultIntervalMs);
    ~WorkingProgress() override;

    void begin(const QString& caption, qint64 minimum, qint64 maximum) override;
    void setMaximum(qint64 maximum) override;
    void setCaption(const QString& caption) override;
    void step(qint64 value) override;
    void end() override;
    bool stopRequested() override { return widgets_.stop && widgets_.stop->requested; }

    qint64 value() const { return value_; }
    // How many times the window was brought up to date (the throttle at work).
    int updates() const { return updates_; }

private:
    void update();

    common::WorkingWidgets widgets_;
    Events events_;
    int intervalMs_;
    std::unique_ptr<common::WorkingDisplay> display_;
    QElapsedTimer sinceUpdate_;
    qint64 value_ = 0;
    int updates_ = 0;
};

}  // namespace browser
