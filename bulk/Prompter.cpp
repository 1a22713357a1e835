#include "Prompter.h"

#include "platform/Prompts.h"

namespace bulk {

int Prompter::message(const QString& text, int style, const QString& title) {
    return platform::MsgBox(text, style, title);
}

common::StepResult Prompter::runStep(const std::function<void()>& step) {
    return common::runOperationStep(step);
}

Prompter& userPrompter() {
    static Prompter user;
    return user;
}

}  // namespace bulk
