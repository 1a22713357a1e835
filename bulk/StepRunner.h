#pragma once

// How a bulk tool runs a step that the engine or the file may refuse. In the program it is the
// operation error box (Abort / Retry / Ignore); tabulon-cli ends or goes on as --on-error says.

#include <functional>

#include "common/OperationErrorBox.h"

namespace bulk {

using StepRunner = std::function<common::StepResult(const std::function<void()>& step)>;

inline StepRunner operationErrorBox() {
    return [](const std::function<void()>& step) { return common::runOperationStep(step); };
}

}  // namespace bulk
