#pragma once

// The questions and messages of a bulk tool. The defaults go through the prompt seams (the browser's
// message boxes, answered by scripts in tests); tabulon-cli answers them from its flags.

#include <QList>
#include <QString>
#include <functional>

#include "common/OperationErrorBox.h"

namespace dao {
class Error;
}

namespace bulk {

class Prompter {
public:
    virtual ~Prompter() = default;

    // A message box; returns the chosen button (platform::MsgBoxResult).
    virtual int message(const QString& text, int style, const QString& title = QString());

    // Runs one step of an operation. The default is the operation error box (common::runOperationStep):
    // Retry repeats the step, Ignore goes on with the next, Abort ends the operation.
    // An error the user chose Ignore for is not asked about again in the same run: the steps that
    // fail with the same error number are ignored silently (a read-only file would otherwise ask
    // once per record).
    virtual common::StepResult runStep(const std::function<void()>& step);

    // A new run of a tool: every error is asked about again.
    void beginRun() { ignoredNumbers_.clear(); }

private:
    QList<int> ignoredNumbers_;
};

// The user at the screen.
Prompter& userPrompter();

}  // namespace bulk
