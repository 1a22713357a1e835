#pragma once

// The operation error box: when a step of an operation fails with an engine or run-time error, the
// user decides with Abort, Retry or Ignore. Callers loop over their records like this:
//
//   for (...) {
//       if (common::runOperationStep([&] { ...one record... }) == common::StepResult::Aborted) break;
//   }

#include <QString>
#include <functional>

namespace dao {
class Error;
}

namespace common {

enum class StepResult {
    Done,     // the step ran without error (possibly after retries)
    Ignored,  // the step failed and the user chose to go on with the next one
    Aborted,  // the step failed and the user chose to end the operation
};

// The box's text: description + " - " + number, followed by the suffix (e.g. " on module X").
QString operationErrorText(const dao::Error& error, const QString& suffix = QString());

// Shows the box (critical icon, Abort/Retry/Ignore, the application's title) and returns the
// answer: platform::vbAbort, vbRetry or vbIgnore.
int showOperationError(const dao::Error& error, const QString& suffix = QString());

// Runs the step; on dao::Error shows the box and repeats the step for as long as the user answers
// Retry. Other exceptions pass through.
StepResult runOperationStep(const std::function<void()>& step, const QString& suffix = QString());

}  // namespace common
