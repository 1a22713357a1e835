#include "OperationErrorBox.h"

#include <QCursor>
#include <QGuiApplication>

#include "platform/Prompts.h"
#include "platform/dao/Error.h"

namespace common {

QString operationErrorText(const dao::Error& error, const QString& suffix) {
    return error.description() + QLatin1String(" - ") + QString::number(error.number()) + suffix;
}

int showOperationError(const dao::Error& error, const QString& suffix) {
    // The working display's hourglass must not hide that a decision is asked for.
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const int answer = platform::MsgBox(operationErrorText(error, suffix),
                                        platform::vbCritical | platform::vbAbortRetryIgnore);
    QGuiApplication::restoreOverrideCursor();
    return answer;
}

StepResult runOperationStep(const std::function<void()>& step, const QString& suffix) {
    for (;;) {
        try {
            step();
            return StepResult::Done;
        } catch (const dao::Error& e) {
            switch (showOperationError(e, suffix)) {
                case platform::vbRetry:
                    continue;
                case platform::vbIgnore:
                    return StepResult::Ignored;
                default:
                    return StepResult::Aborted;
            }
        }
    }
}

}  // namespace common
