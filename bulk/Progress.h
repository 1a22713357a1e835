#pragma once

// Where a bulk tool reports how far it has got. The browser shows it in its working display
// (progress bar, status caption, hourglass; repainting at most every ~30 ms so that a million
// records are not slowed by event processing); tabulon-cli writes it to stderr; tests record it.
// A tool calls begin() once, step() as it goes and end() when it stops, also on error or Abort.

#include <QString>
#include <QtGlobal>

namespace bulk {

class Progress {
public:
    virtual ~Progress() = default;
    virtual void begin(const QString& caption, qint64 minimum, qint64 maximum) {}
    virtual void setMaximum(qint64 maximum) {}
    virtual void setCaption(const QString& caption) {}
    virtual void step(qint64 value) {}
    virtual void end() {}
    // Whether the user asked the tool to stop. A tool looks between records only, so what it has
    // committed stays whole; it then ends as after its last record.
    virtual bool stopRequested() { return false; }
};

// A tool run without anyone watching.
inline Progress& noProgress() {
    static Progress none;
    return none;
}

}  // namespace bulk
