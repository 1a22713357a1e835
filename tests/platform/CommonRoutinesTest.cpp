#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>

#include "QStringPrint.h"
#include "common/BFolder.h"
#include "common/OperationErrorBox.h"
#include "common/WorkingDisplay.h"
#include "platform/Prompts.h"
#include "platform/dao/Error.h"

using namespace platform;

TEST(BrowseForFolder, CancelGivesEmptyEvenAfterAnEarlierChoice) {
    PromptScript script;
    script.answer("/home/user/data").cancel();
    EXPECT_EQ(common::BrowseForFolder(nullptr, "Browse for Path"), "/home/user/data");
    EXPECT_EQ(common::BrowseForFolder(nullptr, "Browse for Path"), "");
    ASSERT_EQ(script.count(), 2);
    EXPECT_EQ(script.last().kind, PromptKind::Folder);
    EXPECT_EQ(script.last().title, "Browse for Path");
}

namespace {

// A step that fails the first `failures` times it runs.
struct FlakyStep {
    int failures;
    int runs = 0;
    void operator()() {
        ++runs;
        if (runs <= failures) throw dao::Error(3021, "Some description");
    }
};

}  // namespace

TEST(OperationErrorBox, RetryRepeatsTheStepUntilItSucceeds) {
    PromptScript script;
    script.answer(vbRetry).answer(vbRetry);
    FlakyStep step{2};
    EXPECT_EQ(common::runOperationStep(std::ref(step)), common::StepResult::Done);
    EXPECT_EQ(step.runs, 3);
    ASSERT_EQ(script.count(), 2);
    const PromptRequest& r = script.last();
    EXPECT_EQ(r.text, "Some description - 3021");
    EXPECT_EQ(r.icon, vbCritical);
    EXPECT_EQ(r.buttons, vbAbortRetryIgnore);
    EXPECT_EQ(r.title, "Tabulon");
}

TEST(OperationErrorBox, IgnoreGoesOnAndAbortEndsTheLoop) {
    PromptScript script;
    script.answer(vbIgnore).answer(vbAbort);
    std::vector<int> done;
    std::vector<common::StepResult> results;
    for (int record = 1; record <= 5; ++record) {
        const auto result = common::runOperationStep([&] {
            if (record == 2 || record == 4) dao::raise(dao::err::NoCurrentRecord);
            done.push_back(record);
        });
        results.push_back(result);
        if (result == common::StepResult::Aborted) break;
    }
    EXPECT_EQ(done, (std::vector<int>{1, 3}));
    EXPECT_EQ(results.back(), common::StepResult::Aborted);
    EXPECT_EQ(results[1], common::StepResult::Ignored);
    EXPECT_EQ(script.count(), 2);
    EXPECT_EQ(common::operationErrorText(dao::Error(3022, "Dup"), " on module cmdUpdate"),
              "Dup - 3022 on module cmdUpdate");
}

TEST(WorkingDisplay, EntersAndRestores) {
    QWidget window;
    auto* bar = new QProgressBar(&window);
    auto* statusPanel = new QWidget(&window);
    auto* label = new QLabel(statusPanel);
    auto* grid = new QWidget(&window);
    auto* workingPanel = new QWidget(&window);
    statusPanel->hide();
    workingPanel->hide();
    bar->setRange(5, 10);
    bar->setValue(7);
    window.show();
    {
        common::WorkingDisplay busy({bar, statusPanel, label, grid, workingPanel}, "Replacing...", 250);
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 250);
        EXPECT_EQ(bar->value(), 0);
        EXPECT_EQ(label->text(), "Replacing...");
        EXPECT_TRUE(statusPanel->isVisible());
        EXPECT_TRUE(workingPanel->isVisible());
        EXPECT_FALSE(grid->isVisible());
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        busy.progress(300);
        EXPECT_EQ(bar->value(), 250);
        busy.restore();
        EXPECT_TRUE(grid->isVisible());
        EXPECT_FALSE(statusPanel->isVisible());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }  // a second restore on leaving does nothing
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(workingPanel->isVisible());
}
