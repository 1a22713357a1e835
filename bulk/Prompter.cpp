#include "Prompter.h"

#include "platform/Prompts.h"
#include "platform/dao/Error.h"

namespace bulk {

int Prompter::message(const QString& text, int style, const QString& title) {
    return platform::MsgBox(text, style, title);
}

common::StepResult Prompter::runStep(const std::function<void()>& step) {
    for (;;) {
        try {
            step();
            return common::StepResult::Done;
        } catch (const dao::Error& e) {
            if (ignoredNumbers_.contains(e.number())) return common::StepResult::Ignored;
            switch (common::showOperationError(e)) {
                case platform::vbRetry:
                    continue;
                case platform::vbIgnore:
                    ignoredNumbers_.append(e.number());
                    return common::StepResult::Ignored;
                default:
                    return common::StepResult::Aborted;
            }
        }
    }
}

Prompter& userPrompter() {
    static Prompter user;
    return user;
}

}  // namespace bulk
