// The two input boxes: placement, the list-only rule, Cancel, and the list's double-click.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "common/StandarFunctions.h"
#include "dialogs/InputBoxFrm.h"
#include "dialogs/InputBoxListFrm.h"
#include "dialogs/ListComboBox.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"

using dialogs::InputBoxBase;
using dialogs::InputBoxFrm;
using dialogs::InputBoxListFrm;

namespace {

// Both dialogs, driven the same way: entries, the typed text, the buttons.
struct Box {
    std::unique_ptr<InputBoxBase> dialog;
    std::function<void(const QStringList&)> fill;
    std::function<void(const QString&)> type;

    void ok() { dialog->findChild<QPushButton*>("Okbtn")->click(); }
    void cancel() { dialog->findChild<QPushButton*>("CancelBtn")->click(); }
};

Box comboBox() {
    auto* d = new InputBoxFrm;
    Box b{std::unique_ptr<InputBoxBase>(d), {}, {}};
    b.fill = [d](const QStringList& s) { d->listBox()->addItems(s); };
    b.type = [d](const QString& t) { d->listBox()->setEditText(t); };
    return b;
}

Box listBox() {
    auto* d = new InputBoxListFrm;
    Box b{std::unique_ptr<InputBoxBase>(d), {}, {}};
    b.fill = [d](const QStringList& s) { d->listBox()->addItems(s); };
    b.type = [d](const QString& t) { d->listBox()->setText(t); };
    return b;
}

class InputBoxes : public ::testing::TestWithParam<bool> {
protected:
    Box make() { return GetParam() ? listBox() : comboBox(); }
};

}  // namespace

TEST_P(InputBoxes, ControlsCarryTheirDesignNamesAndCaptions) {
    Box b = make();
    EXPECT_EQ(b.dialog->windowTitle(), "InputBox");
    for (const char* name : {"FormText", "DescriptionLbl", "ListBox", "Okbtn", "CancelBtn", "Image1"})
        EXPECT_NE(b.dialog->findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(b.dialog->findChild<QPushButton*>("Okbtn")->text(), "&OK");
    EXPECT_EQ(b.dialog->findChild<QPushButton*>("CancelBtn")->text(), "&Cancel");
    // The public fields and their defaults.
    EXPECT_EQ(b.dialog->Xpos, 0);
    EXPECT_EQ(b.dialog->Ypos, 0);
    EXPECT_TRUE(b.dialog->ReturnValue.isEmpty());
    EXPECT_FALSE(b.dialog->ReturnNegative);
    EXPECT_FALSE(b.dialog->EntryOnlyFromList);
}

TEST_P(InputBoxes, PlacementByTwipsOrCentred) {
    Box b = make();
    b.dialog->Xpos = 0;
    b.dialog->Ypos = 500;
    b.dialog->show();
    EXPECT_EQ(b.dialog->pos().y(), platform::twipsToPixelsY(500));
    EXPECT_EQ(b.dialog->pos().x(), platform::twipsToPixelsX(InputBoxBase::DesignLeft));
    b.dialog->hide();

    b.dialog->Xpos = 1440;
    b.dialog->Ypos = 0;
    b.dialog->show();
    EXPECT_EQ(b.dialog->pos().x(), platform::twipsToPixelsX(1440));
    EXPECT_EQ(b.dialog->pos().y(), platform::twipsToPixelsY(InputBoxBase::DesignTop));
    b.dialog->hide();

    b.dialog->Xpos = 0;
    b.dialog->Ypos = 0;
    b.dialog->show();
    const QPoint shown = b.dialog->pos();
    common::CenterForm(b.dialog.get());
    EXPECT_EQ(b.dialog->pos(), shown);
    EXPECT_NE(shown.y(), platform::twipsToPixelsY(InputBoxBase::DesignTop));
}

TEST_P(InputBoxes, ListOnlyRefusesATextThatDiffersOnlyInCase) {
    platform::PromptScript script;
    Box b = make();
    b.fill({"Madrid", "Sevilla"});
    b.dialog->EntryOnlyFromList = true;
    b.dialog->ReturnValue = "before";
    b.dialog->show();
    b.type("madrid");
    b.ok();
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "This record is not on the list!");
    EXPECT_EQ(script.last().icon, platform::vbExclamation);
    EXPECT_TRUE(b.dialog->isVisible());
    EXPECT_EQ(b.dialog->ReturnValue, "before");

    b.type("Sevilla");
    b.ok();
    EXPECT_EQ(script.count(), 1);
    EXPECT_FALSE(b.dialog->isVisible());
    EXPECT_EQ(b.dialog->result(), QDialog::Accepted);
    EXPECT_EQ(b.dialog->ReturnValue, "Sevilla");
}

TEST_P(InputBoxes, ListOnlyWithAnEmptyListRefusesEveryTextButCancelCloses) {
    platform::PromptScript script;
    Box b = make();
    b.dialog->EntryOnlyFromList = true;
    b.dialog->show();
    b.ok();
    b.type("anything");
    b.ok();
    EXPECT_EQ(script.count(), 2);
    EXPECT_TRUE(b.dialog->isVisible());
    b.cancel();
    EXPECT_FALSE(b.dialog->isVisible());
    EXPECT_TRUE(b.dialog->ReturnValue.isEmpty());
}

TEST_P(InputBoxes, WithoutTheListRuleAnyTextIsTheAnswer) {
    Box b = make();
    b.fill({"uno"});
    b.dialog->show();
    b.type("O'Brien");
    b.ok();
    EXPECT_EQ(b.dialog->ReturnValue, "O'Brien");
}

TEST_P(InputBoxes, CancelLeavesTheAnswerOrSaysMinusOne) {
    Box b = make();
    b.dialog->ReturnValue = "kept";
    b.dialog->show();
    b.type("typed");
    b.cancel();
    EXPECT_EQ(b.dialog->ReturnValue, "kept");
    EXPECT_EQ(b.dialog->result(), QDialog::Rejected);

    b.dialog->ReturnNegative = true;
    b.dialog->show();
    b.cancel();
    EXPECT_EQ(b.dialog->ReturnValue, "-1");

    // Escape is a cancel too.
    b.dialog->ReturnValue = "x";
    b.dialog->show();
    QTest::keyClick(b.dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(b.dialog->ReturnValue, "-1");
    EXPECT_FALSE(b.dialog->isVisible());
}

INSTANTIATE_TEST_SUITE_P(ComboAndList, InputBoxes, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "InputBoxListFrm" : "InputBoxFrm"; });

TEST(InputBoxListFrm, DoubleClickAcceptsAnEntryButNotAnEmptyText) {
    InputBoxListFrm d;
    d.listBox()->addItems({"Madrid", "Sevilla"});
    d.EntryOnlyFromList = true;
    d.show();
    d.listDoubleClicked();  // nothing typed, nothing picked
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(d.ReturnValue.isEmpty());

    QListWidget* list = d.listBox()->listWidget();
    QListWidgetItem* sevilla = list->item(1);
    list->setCurrentItem(sevilla);
    EXPECT_EQ(d.listBox()->text(), "Sevilla");  // a click puts the entry into the text
    emit list->itemDoubleClicked(sevilla);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.ReturnValue, "Sevilla");
}
