#include <QProcess>
#include <QSignalSpy>

#include "../platform/QStringPrint.h"
#include "DataEntryTestUtil.h"
#include "PgTestUtil.h"
#include "dataentry/LookupHint.h"
#include "platform/DataControl.h"

using detest::count;
using detest::Host;
using detest::type;
using detest::valueText;
using namespace platform;

namespace {

class EditAndSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        db_ = testutil::makeSqlite(
            dir_, "t.db",
            {"create table Names (Name text(50), Num long primary key)",
             "insert into Names values ('Anders', 1)", "insert into Names values ('Bertha', 2)",
             "insert into Names values ('Mandy', 3)", "insert into Names values ('Sean O''Brien', 4)",
             "create table Rec (Num long, Txt text(20), Amount currency, Born datetime, Small short, "
             "Ratio double, Ok yesno, primary key (Small))",
             "create table Strict (Code long not null unique, Txt text(20) primary key)",
             "insert into Strict values (1, 'one')"});
    }
    std::unique_ptr<Host> build(const QString& table, const std::function<void(Host&)>& before = {}) {
        auto h = std::make_unique<Host>();
        h->form->setDatabaseName(db_);
        h->form->setSelectedTable(table);
        if (before) before(*h);
        h->show();
        return h;
    }

    QTemporaryDir dir_;
    QString db_;
    PromptScript prompts_;
};

// The same form saving into the same tables moved to a PostgreSQL server (when TABULON_TEST_PG names
// one). Every table has a key there, as a table the server lets Tabulon change must.
using testutil::Backend;

class EditAndSaveBackend : public EditAndSaveTest, public ::testing::WithParamInterface<Backend> {
protected:
    void SetUp() override {
        EditAndSaveTest::SetUp();
        if (GetParam() == Backend::SQLite) return;
        if (qEnvironmentVariable("TABULON_TEST_PG").isEmpty())
            GTEST_SKIP() << "TABULON_TEST_PG is not set: no PostgreSQL server for this test";
        server_ = std::make_unique<testutil::PgSchema>();
        ASSERT_TRUE(server_->isSet());
        server_->copyFrom(db_, {"Names", "Rec", "Strict"});
        db_ = server_->uri();
    }
    std::unique_ptr<testutil::PgSchema> server_;
};

INSTANTIATE_TEST_SUITE_P(Backends, EditAndSaveBackend, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return testutil::backendName(info.param); });

TEST_P(EditAndSaveBackend, LookupHintsAreTheGreatestMatch) {
    auto h = build("Names");
    MaskedEdit* name = h->input(0);
    type(name, "nd");
    EXPECT_EQ(h->hint(0)->text(), "Mandy");  // the greater of Anders and Mandy
    // Text that matches nothing leaves no hint of an earlier text.
    type(name, "zz");
    EXPECT_EQ(h->hint(0)->text(), "");
    // Page Down takes the hint, keeping the caret.
    name->setText("nd");
    name->setSelStart(1);
    QTest::keyClick(name, Qt::Key_PageDown);
    EXPECT_EQ(name->Text(), "Mandy");
    EXPECT_EQ(name->SelStart(), 1);

    // An apostrophe is taken as typed.
    name->setText("");
    type(name, "O'B");
    EXPECT_EQ(h->hint(0)->text(), "Sean O'Brien");
    // Enter takes the hint too.
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(name->Text(), "Sean O'Brien");
    EXPECT_EQ(prompts_.count(), 0);

    // The look-up on its own: text fields only, case-insensitive contains-match.
    EXPECT_EQ(dataentry::lookupHint(db_, "Names", 0, "ND").value_or("-"), "Mandy");
    EXPECT_FALSE(dataentry::lookupHint(db_, "Names", 1, "1").has_value());
    EXPECT_EQ(dataentry::lookupHintSql("Mi tabla", "Na]me", "a'b"),
              "select top 1 `Na]me` from [Mi tabla] where `Na]me` like '*a''b*' order by `Na]me` desc");

    // Hints off: no hint label and no database access while typing.
    auto off = build("Names", [&](Host& h) { h.form->setEnableQuickTips(false); });
    prompts_.clear();
    off->form->setDatabaseName(dir_.filePath("gone.db"));
    type(off->input(0), "nd");
    EXPECT_TRUE(off->hint(0)->isHidden());
    EXPECT_EQ(prompts_.count(), 0);
}

// Enter (and Page Down) take a hint only while it still matches the input: the record holds what
// the input shows, never a hint found for an earlier text.
TEST_P(EditAndSaveBackend, AStaleHintNeverReplacesWhatWasTyped) {
    auto h = build("Names");
    MaskedEdit* name = h->input(0);
    type(name, "ma");
    EXPECT_EQ(h->hint(0)->text(), "Mandy");
    // Typed on faster than the look-up: the hint still shows the earlier match.
    name->setText(QString::fromUtf8("Zapatería Nueva"));
    EXPECT_EQ(h->hint(0)->text(), "Mandy");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(name->Text(), QString::fromUtf8("Zapatería Nueva"));
    h->input(1)->setText("9");
    h->ok()->click();
    EXPECT_EQ(valueText(db_, "select Name from Names where Num = 9"), QString::fromUtf8("Zapatería Nueva"));
    // A hint that still contains the text is taken.
    type(name, "and");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(name->Text(), "Mandy");
    EXPECT_EQ(prompts_.count(), 0);
}

// An empty input stores Null where the field allows it; a field that needs a value is named and
// marked as in validation, with no engine error box and nothing stored.
TEST_P(EditAndSaveBackend, EmptyInputsStoreNullOrNameTheFieldThatNeedsAValue) {
    auto h = build("Rec");
    h->input(1)->setText("only text");
    h->input(4)->setText("3");
    h->ok()->click();
    EXPECT_EQ(prompts_.count(), 0);
    ASSERT_EQ(count(db_, "Rec"), 1);
    for (const char* field : {"Num", "Amount", "Born", "Ratio"})
        EXPECT_EQ(valueText(db_, QString("select %1 from Rec").arg(field)), "<null>") << field;
    EXPECT_EQ(valueText(db_, "select Txt from Rec"), "only text");

    auto s = build("Strict");
    s->input(1)->setText("no code");
    s->ok()->click();
    EXPECT_EQ(prompts_.count(), 0);
    EXPECT_EQ(count(db_, "Strict"), 1);
    EXPECT_FALSE(s->errorBox()->isHidden());
    EXPECT_TRUE(s->errorBox()->findChild<QLabel*>("Label4")->text().contains("Code")) << s->errorBox()->findChild<QLabel*>("Label4")->text().toStdString();
    EXPECT_EQ(s->input(0)->palette().color(QPalette::Base), QColor(255, 0, 0));
    EXPECT_EQ(QApplication::focusWidget(), s->input(0));
    EXPECT_EQ(s->input(1)->Text(), "no code");
    EXPECT_EQ(s->form->dataControl()->Recordset()->EditMode(), dao::dbEditNone);
    s->input(0)->setText("5");
    s->ok()->click();
    EXPECT_EQ(count(db_, "Strict"), 2);
}

TEST_F(EditAndSaveTest, LookupFailureAsksWhatToDo) {
    auto h = build("Names");
    h->form->setDatabaseName(dir_.filePath("gone.db"));
    h->hint(0)->setText("Bertha");
    prompts_.answer(vbIgnore);
    type(h->input(0), "x");
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_TRUE(prompts_.last().text.endsWith(" - 3024 on module TxTFields_KeyUp")) << prompts_.last().text.toStdString();
    EXPECT_EQ(h->hint(0)->text(), "Bertha");
}

TEST_F(EditAndSaveTest, FocusEnterAndPreviousValues) {
    auto h = build("Rec", [](Host& h) { h.form->SetDisabled(2); });
    EXPECT_EQ(QApplication::focusWidget(), h->input(0));
    auto* box = h->get<QWidget>("Box");
    EXPECT_EQ(h->top(box), h->top(h->label(0)) - 30);
    // Enter moves on, over the disabled row, to the next usable row.
    QTest::keyClick(h->input(0), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), h->input(1));
    QTest::keyClick(h->input(1), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), h->input(3));
    EXPECT_EQ(h->top(box), h->top(h->label(3)) - 30);
    // From the last row (a check box) to Ok, the marker parked.
    h->check(6)->setFocus();
    QTest::keyClick(h->check(6), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), h->ok());
    // Reached from the keyboard: the style shows the focus on it.
    EXPECT_TRUE(h->ok()->window()->testAttribute(Qt::WA_KeyboardFocusChange));
    EXPECT_EQ(h->top(box), -3000);

    // The check box mirrors its state into the hidden input.
    h->check(6)->click();
    EXPECT_EQ(h->input(6)->Text(), "1");
    h->check(6)->click();
    EXPECT_EQ(h->input(6)->Text(), "0");

    // An emptied input offers what it held when it last lost the focus, selected.
    h->input(1)->setFocus();
    h->input(1)->setText("Bertha");
    h->input(0)->setFocus();
    h->input(1)->setText("");
    h->input(1)->setFocus();
    EXPECT_EQ(h->input(1)->Text(), "Bertha");
    EXPECT_EQ(h->input(1)->SelLength(), 6);
}

TEST_F(EditAndSaveTest, MaskBoxAndBrowseButton) {
    auto h = build("Rec", [](Host& h) { h.form->ShowBrowseButton(1); });
    EXPECT_FALSE(h->browse(1)->isHidden());
    EXPECT_TRUE(h->browse(0)->isHidden());
    prompts_.answer("##-##");
    QTest::mouseDClick(h->label(0), Qt::LeftButton);
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, "Enter the mask for this field: ");
    EXPECT_EQ(prompts_.last().title, "Mask setting");
    EXPECT_EQ(h->input(0)->Mask(), "##-##");
    prompts_.cancel();
    QTest::mouseDClick(h->label(0), Qt::LeftButton);
    EXPECT_EQ(h->input(0)->Mask(), "");

    prompts_.answer("/home/ana/fotos");
    h->browse(1)->click();
    EXPECT_EQ(prompts_.last().title, "Browse for Txt");
    EXPECT_EQ(h->input(1)->Text(), "/home/ana/fotos");
}

TEST_F(EditAndSaveTest, ValidationWritesStandardFormsOrFails) {
    auto h = build("Rec");
    const auto fill = [&](const QString& num, const QString& amount, const QString& born, const QString& small) {
        h->input(0)->setText(num);
        h->input(2)->setText(amount);
        h->input(3)->setText(born);
        h->input(4)->setText(small);
    };
    fill("7", "1.5", "12/31/2020", "3");
    EXPECT_EQ(h->form->ValidateFixFields(), -1);
    fill("007", "1.5", "12/31/2020", "3");
    EXPECT_EQ(h->form->ValidateFixFields(), 0);
    EXPECT_EQ(h->input(0)->Text(), "007");
    EXPECT_FALSE(h->errorBox()->isHidden());
    fill("7", "1.5", "2020-12-31", "3");
    EXPECT_EQ(h->form->ValidateFixFields(), 3);
    fill("7", "abc", "12/31/2020", "3");
    EXPECT_EQ(h->form->ValidateFixFields(), 2);
    fill("7", "1.5", "12/31/2020", "40000");  // beyond a 16-bit integer
    EXPECT_EQ(h->form->ValidateFixFields(), 4);
    fill("", "1.5", "12/31/2020", "3");  // empty: stored as Null, nothing to check
    EXPECT_EQ(h->form->ValidateFixFields(), -1);

    // Pressing Ok with a failed input: focus and light red there, nothing stored.
    fill("007", "1.5", "12/31/2020", "3");
    h->ok()->click();
    EXPECT_EQ(QApplication::focusWidget(), h->input(0));
    EXPECT_EQ(h->input(0)->palette().color(QPalette::Base), QColor(255, 0, 0));
    EXPECT_FALSE(h->errorBox()->isHidden());
    EXPECT_EQ(count(db_, "Rec"), 0);
    // Typing again clears the colouring and the error box.
    h->input(0)->setText("7");
    EXPECT_TRUE(h->errorBox()->isHidden());
    EXPECT_EQ(h->input(0)->palette().color(QPalette::Base), QColor(192, 192, 255));
}

TEST_P(EditAndSaveBackend, SavingAddsOneRecordAndPreparesTheNext) {
    auto h = build("Rec", [](Host& h) {
        h.form->SetIncrement(1, 0);
        h.form->SetDefault("Mr", 1);
    });
    EXPECT_EQ(h->input(1)->Text(), "Mr");
    h->input(0)->setText("41");
    h->input(1)->setText("abc");
    h->input(2)->setText("1.5");
    h->input(3)->setText("12/31/2020");
    h->input(4)->setText("3");
    h->input(5)->setText("1.50");
    h->check(6)->click();
    h->ok()->click();
    EXPECT_EQ(prompts_.count(), 0);
    ASSERT_EQ(count(db_, "Rec"), 1);
    EXPECT_EQ(valueText(db_, "select Num from Rec"), "41");
    EXPECT_EQ(valueText(db_, "select Txt from Rec"), "abc");
    EXPECT_EQ(valueText(db_, "select Amount from Rec"), "1.5");
    EXPECT_EQ(valueText(db_, "select Ratio from Rec"), "1.5");
    EXPECT_EQ(valueText(db_, "select Ok from Rec"), "True");

    // Ready for the next record: step applied, default back, others empty, the yes/no row kept.
    EXPECT_EQ(h->input(0)->Text(), "42");
    EXPECT_EQ(h->input(1)->Text(), "Mr");
    EXPECT_EQ(h->input(2)->Text(), "");
    EXPECT_TRUE(h->check(6)->isChecked());
    EXPECT_EQ(h->input(6)->Text(), "1");

    h->input(2)->setText("2");
    h->input(3)->setText("1/2/2021");
    h->input(4)->setText("4");
    h->input(5)->setText("0");
    h->ok()->click();
    EXPECT_EQ(valueText(db_, "select Num from Rec where Small = 4"), "42");
    EXPECT_EQ(valueText(db_, "select Txt from Rec where Small = 4"), "Mr");
    EXPECT_EQ(h->input(0)->Text(), "43");
}

TEST_P(EditAndSaveBackend, ARefusedRecordIsNotLeftHalfDoneAndTheInputsStay) {
    auto h = build("Strict");
    h->input(0)->setText("1");  // the code exists already
    h->input(1)->setText("again");
    prompts_.answer(vbAbort);
    h->ok()->click();
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().buttons, vbAbortRetryIgnore);
    EXPECT_EQ(count(db_, "Strict"), 1);
    EXPECT_EQ(h->input(1)->Text(), "again");
    const auto rs = h->form->dataControl()->Recordset();
    EXPECT_EQ(rs->EditMode(), dao::dbEditNone);

    // Corrected, the same form saves.
    h->input(0)->setText("2");
    h->ok()->click();
    EXPECT_EQ(count(db_, "Strict"), 2);
    EXPECT_EQ(prompts_.count(), 1);
}

TEST_F(EditAndSaveTest, CloseOnOkAndUnloadParent) {
    // CloseOnOK without UnloadParent closes nothing.
    auto a = build("Names", [](Host& h) { h.form->setCloseOnOK(true); });
    a->input(0)->setText("Zed");
    a->input(1)->setText("9");
    a->ok()->click();
    EXPECT_TRUE(a->window->isVisible());
    a->close()->click();
    EXPECT_TRUE(a->window->isVisible());

    // Both on: the window closes after the save.
    auto b = build("Names", [](Host& h) {
        h.form->setCloseOnOK(true);
        h.form->setUnloadParent(true);
    });
    b->input(0)->setText("Yvonne");
    b->input(1)->setText("10");
    b->ok()->click();
    EXPECT_FALSE(b->window->isVisible());
    EXPECT_EQ(count(db_, "Names"), 6);

    // UnloadParent alone: Close closes, a save does not.
    auto c = build("Names", [](Host& h) { h.form->setUnloadParent(true); });
    c->input(0)->setText("Xavier");
    c->input(1)->setText("11");
    c->ok()->click();
    EXPECT_TRUE(c->window->isVisible());
    c->close()->click();
    EXPECT_FALSE(c->window->isVisible());
}

}  // namespace

namespace {

// The stored values of Nums as the sqlite3 shell reads them, past the engine.
QString storedNums(const QString& db) {
    dao::flushAllWrites();
    QProcess p;
    p.start("sqlite3", {db, "select Amount || '|' || Ratio || '|' || S || '|' || Small from Nums"});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Under a comma locale the number typed is the number stored, fractions included; a Single field
// refuses letters as a Double field does.
TEST_F(EditAndSaveTest, CommaLocalesStoreTheNumberTyped) {
    dao::OpenDatabase(db_)->Execute("create table Nums (Amount currency, Ratio double, S single, Small short)");
    for (const QLocale& locale : {QLocale(QLocale::Spanish, QLocale::Spain), QLocale(QLocale::German, QLocale::Germany)}) {
        SCOPED_TRACE(locale.name().toStdString());
        testutil::LocaleGuard guard(locale);
        dao::OpenDatabase(db_)->Execute("delete from Nums");
        prompts_.clear();
        auto h = build("Nums");
        const auto fill = [&](const QString& amount, const QString& single) {
            h->input(0)->setText(amount);
            h->input(1)->setText("1,5");
            h->input(2)->setText(single);
            h->input(3)->setText("3");
        };
        fill("1234,56", "2,25");
        EXPECT_EQ(h->form->ValidateFixFields(), -1);
        h->ok()->click();
        EXPECT_EQ(prompts_.count(), 0) << qPrintable(prompts_.count() ? prompts_.last().text : QString());
        ASSERT_EQ(count(db_, "Nums"), 1);
        EXPECT_EQ(storedNums(db_), "1234.56|1.5|2.25|3");
        // The period is the group separator there: "1234.56" is no amount in this form.
        fill("1234.56", "2,25");
        EXPECT_EQ(h->form->ValidateFixFields(), 0);
        // Letters in a Single field are refused, not stored as 0.
        for (const char* bad : {"abc", "1e3x"}) {
            prompts_.clear();
            fill("1", bad);
            h->ok()->click();
            EXPECT_EQ(prompts_.count(), 1) << bad;
            EXPECT_EQ(count(db_, "Nums"), 1) << bad;
        }
    }
}

}  // namespace
