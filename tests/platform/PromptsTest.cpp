#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "QStringPrint.h"
#include "platform/Prompts.h"

using namespace platform;

TEST(Prompts, ScriptedMessageBoxIsRecordedAndAnswered) {
    PromptScript script;
    script.answer(vbNo);
    const int answer = MsgBox("Delete this record?\rIt cannot be undone.",
                              vbQuestion | vbYesNo | vbDefaultButton2, "Confirm");
    EXPECT_EQ(answer, vbNo);
    ASSERT_EQ(script.count(), 1);
    const PromptRequest& r = script.last();
    EXPECT_EQ(r.kind, PromptKind::Message);
    EXPECT_EQ(r.text, "Delete this record?\rIt cannot be undone.");
    EXPECT_EQ(r.title, "Confirm");
    EXPECT_EQ(r.icon, vbQuestion);
    EXPECT_EQ(r.buttons, vbYesNo);
    EXPECT_EQ(r.defaultButton, 2);
    EXPECT_TRUE(r.scripted);
    EXPECT_EQ(script.pendingAnswers(), 0);
}

TEST(Prompts, UnansweredPromptsGetDefaultsAndAnEmptyTitleIsTheApplicationTitle) {
    PromptScript script;
    EXPECT_EQ(MsgBox("a", vbExclamation | vbYesNoCancel | vbDefaultButton3), vbCancel);
    EXPECT_EQ(MsgBox("b", vbAbortRetryIgnore), vbAbort);
    EXPECT_EQ(MsgBox("c"), vbOK);
    // A default button the box does not have falls back to the first.
    EXPECT_EQ(MsgBox("d", vbOKCancel | vbDefaultButton3), vbOK);
    EXPECT_EQ(InputBox("Value:", "", "x"), "");
    ASSERT_EQ(script.count(), 5);
    EXPECT_EQ(script.requests()[0].title, "Tabulon");
    EXPECT_EQ(script.requests()[0].icon, vbExclamation);
    EXPECT_FALSE(script.requests()[0].scripted);
    EXPECT_EQ(script.requests()[4].title, "Tabulon");
    EXPECT_EQ(script.requests()[4].defaultText, "x");
}

TEST(Prompts, TextPromptsTakeTheirAnswersInOrder) {
    PromptScript script;
    script.answer("abc").cancel().answer("/tmp/out.txt").answer("/data").answer(vbRetry);
    EXPECT_EQ(InputBox("Enter the mask for this field: ", "Mask setting"), "abc");
    EXPECT_EQ(InputBox("again"), "");  // cancelled
    EXPECT_EQ(SaveFileDialog("Export", "table.txt", "Text|*.txt"), "/tmp/out.txt");
    EXPECT_EQ(BrowseFolderDialog("Browse for Path"), "/data");
    // A message box does not take a text answer, nor a text prompt a button.
    EXPECT_EQ(OpenFileDialog("Open", "*.mdb"), "");
    EXPECT_EQ(script.pendingAnswers(), 1);
    EXPECT_EQ(MsgBox("x", vbRetryCancel), vbRetry);

    ASSERT_EQ(script.count(), 6);
    EXPECT_EQ(script.requests()[0].title, "Mask setting");
    EXPECT_EQ(script.requests()[1].kind, PromptKind::Input);
    EXPECT_TRUE(script.requests()[1].scripted);
    EXPECT_EQ(script.requests()[2].kind, PromptKind::SaveFile);
    EXPECT_EQ(script.requests()[2].initialFile, "table.txt");
    EXPECT_EQ(script.requests()[2].filter, "Text|*.txt");
    // Choosing an existing file to save over asks first (Export's file may hold data kept nowhere else).
    EXPECT_TRUE(script.requests()[2].confirmOverwrite);
    EXPECT_FALSE(script.requests()[4].confirmOverwrite);
    EXPECT_EQ(script.requests()[3].kind, PromptKind::Folder);
    EXPECT_EQ(script.requests()[4].kind, PromptKind::OpenFile);
    EXPECT_FALSE(script.requests()[4].scripted);
}

TEST(Prompts, CancellingAMessageBoxGivesItsCancelAnswer) {
    PromptScript script;
    script.cancel().cancel().cancel();
    EXPECT_EQ(MsgBox("a", vbOKCancel), vbCancel);
    EXPECT_EQ(MsgBox("b", vbYesNo), vbNo);
    EXPECT_EQ(MsgBox("c", vbOKOnly), vbOK);
}

TEST(Prompts, NestedScriptsAnswerNewestFirst) {
    PromptScript outer;
    outer.answer(vbYes);
    {
        PromptScript inner;
        inner.answer(vbNo);
        EXPECT_EQ(MsgBox("q", vbYesNo), vbNo);
        EXPECT_EQ(inner.count(), 1);
    }
    EXPECT_EQ(MsgBox("q", vbYesNo), vbYes);
    EXPECT_EQ(outer.count(), 1);
}

// The real dialogs, answered by a timer once they are up.
TEST(Prompts, RealMessageBoxShowsTheRequestAndMapsTheAnswer) {
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString defaultText;
    int buttonCount = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        buttonCount = int(box->buttons().size());
        defaultText = box->defaultButton() ? box->defaultButton()->text() : QString();
        box->button(QMessageBox::Retry)->click();
    });
    const int answer =
        MsgBox("Line one\rLine two\r\nthree", vbCritical | vbAbortRetryIgnore | vbDefaultButton3);
    EXPECT_EQ(answer, vbRetry);
    EXPECT_EQ(text, "Line one\nLine two\nthree");
    EXPECT_EQ(title, "Tabulon");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttonCount, 3);
    EXPECT_EQ(defaultText, "Ignore");
}

TEST(Prompts, RealInputBoxCancelledGivesEmpty) {
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->textValue(), "preset");
        dlg->reject();
    });
    EXPECT_EQ(InputBox("Value:", "Title", "preset"), "");
}

// A prompt shown while a long task holds the hourglass over the whole application gets the normal
// pointer while it waits; the hourglass is back when it is answered. Without an hourglass nothing is
// changed.
TEST(Prompts, PromptsShowTheNormalPointerOverAnHourglass) {
    PromptScript script;
    script.answer("/tmp/x.txt").answer(vbOK);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    EXPECT_EQ(SaveFileDialog("Export"), "/tmp/x.txt");
    MsgBox("Done");
    ASSERT_EQ(script.count(), 2);
    EXPECT_EQ(script.requests()[0].pointer, Qt::ArrowCursor);
    EXPECT_EQ(script.requests()[1].pointer, Qt::ArrowCursor);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QGuiApplication::restoreOverrideCursor();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    OpenFileDialog("Import");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}
