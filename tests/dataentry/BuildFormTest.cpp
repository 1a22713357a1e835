#include "../platform/QStringPrint.h"
#include "DataEntryTestUtil.h"
#include "platform/DataControl.h"

using detest::Host;
using namespace platform;

namespace {

class BuildFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        db_ = testutil::makeSqlite(
            dir_, "t.db",
            {"create table People (ID long, Name text(50), Active yesno, Notes memo)",
             "create table Wide (A long, B text(10), C text(255), D yesno, E yesno, F text(20))",
             "create table Wide0 (C text(255), A long)",
             "create table [Mi tabla] (Id long, Nombre text(30))",
             "insert into People values (1, 'Anders', 1, 'n')"});
    }
    // A host over `table`, shown, so the form is built.
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

TEST_F(BuildFormTest, OneRowPerFieldWithTheFieldTypesRows) {
    auto h = build("People");
    EXPECT_EQ(h->form->rowCount(), 4);
    EXPECT_EQ(h->form->LoadSection(), 14);
    EXPECT_EQ(h->label(0)->text(), "ID");
    EXPECT_EQ(h->label(1)->text(), "Name");
    EXPECT_EQ(h->input(1)->MaxLength(), 50);
    EXPECT_FALSE(h->hint(1)->isHidden());
    // The memo row: no length limit and no hint.
    EXPECT_EQ(h->input(3)->MaxLength(), 0);
    EXPECT_TRUE(h->hint(3)->isHidden());
    EXPECT_TRUE(h->hint(0)->isHidden());
    // The yes/no row: a check box captioned with the name, its hidden input holding "0".
    ASSERT_NE(h->check(2), nullptr);
    EXPECT_EQ(h->check(2)->text(), "Active");
    EXPECT_FALSE(h->check(2)->isHidden());
    EXPECT_TRUE(h->input(2)->isHidden());
    EXPECT_EQ(h->input(2)->Text(), "0");
    EXPECT_EQ(h->check(1), nullptr);

    // Rows 780 apart, hint 320 below its input and 1 to the left.
    EXPECT_EQ(h->top(h->input(0)), 180);
    EXPECT_EQ(h->top(h->input(1)), 960);
    EXPECT_EQ(h->top(h->label(1)), 990);
    EXPECT_EQ(h->top(h->hint(1)), 1280);
    EXPECT_EQ(dataentry::twipsLeft(h->hint(1)), 1799);
    EXPECT_TRUE(h->ok()->isEnabled());
    EXPECT_TRUE(h->get<QLabel>("Label1")->isHidden());

    // Building again gives the same rows, not doubled ones; the extra elements are gone.
    h->form->LoadFields();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(h->form->rowCount(), 4);
    EXPECT_EQ(h->form->findChildren<MaskedEdit*>().size(), 4);
    EXPECT_EQ(h->top(h->input(3)), 180 + 3 * 780);

    // AutoResize: control height = last input top + 2000, window height = that + 700.
    EXPECT_EQ(dataentry::twipsHeight(h->form), 180 + 3 * 780 + 2000);
    EXPECT_EQ(h->window->height(), twipsToPixelsY(180 + 3 * 780 + 2700));
    // The buttons sit at the bottom right.
    const double w = pixelsToTwipsX(h->form->width()), hh = dataentry::twipsHeight(h->form);
    EXPECT_EQ(h->top(h->ok()), hh - 840 - 50);
    EXPECT_EQ(dataentry::twipsLeft(h->close()), w - 975 - 50);
    EXPECT_EQ(dataentry::twipsLeft(h->ok()), w - 2 * 975 - 100);
}

TEST_F(BuildFormTest, TextLengthsCheckBoxSpacingAndQuotedTableNames) {
    auto h = build("Wide");
    EXPECT_EQ(h->input(1)->MaxLength(), 10);
    EXPECT_EQ(h->input(2)->MaxLength(), 255);  // the field's size on every row, not cut to 64
    // Consecutive yes/no rows: the second check box stands 480 below the first, then 780 again.
    EXPECT_EQ(h->top(h->check(4)) - h->top(h->check(3)), 480);
    EXPECT_EQ(h->top(h->input(5)) - h->top(h->check(4)), 780);

    auto h0 = build("Wide0");
    EXPECT_EQ(h0->input(0)->MaxLength(), 255);  // the first row takes the size uncapped

    // A table name that needs quoting is quoted in the record source, whether or not the caller
    // quoted it already.
    auto q = build("Mi tabla");
    EXPECT_EQ(q->form->rowCount(), 2);
    EXPECT_EQ(q->form->dataControl()->RecordSource(), "select * from [Mi tabla]");
    auto qb = build("[Mi tabla]");
    EXPECT_EQ(qb->form->rowCount(), 2);
    EXPECT_EQ(qb->form->dataControl()->RecordSource(), "select * from [Mi tabla]");
    EXPECT_EQ(h->form->dataControl()->RecordSource(), "select * from Wide");
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(BuildFormTest, HiddenRowsAndQueries) {
    auto h = build("People", [](Host& h) { h.form->SetInvisible(true, 0); });
    EXPECT_TRUE(h->input(0)->isHidden());
    EXPECT_EQ(h->top(h->input(0)), -600);
    // Row 1 takes row 0's place, and is the first stop.
    EXPECT_EQ(h->top(h->input(1)), 180);
    EXPECT_EQ(h->input(1), QApplication::focusWidget());

    // A hidden middle row takes no room.
    auto m = build("People", [](Host& h) { h.form->SetInvisible(true, 1); });
    EXPECT_EQ(h->top(m->check(2)), 960);
    EXPECT_EQ(m->input(0), QApplication::focusWidget());

    // A single-column query builds one row, whatever the table.
    auto q = build("People", [](Host& h) { h.form->setSelectedQuery("select Name from People"); });
    EXPECT_EQ(q->form->rowCount(), 1);
    EXPECT_EQ(q->label(0)->text(), "Name");
    EXPECT_EQ(dataentry::twipsHeight(q->form), 180 + 2000);

    // Every row hidden: nothing to save.
    auto none = std::make_unique<Host>();
    none->form->setDatabaseName(db_);
    none->form->setSelectedTable("People");
    for (int i = 0; i < 4; ++i) none->form->SetInvisible(true, i);
    none->form->LoadFields();
    EXPECT_FALSE(none->ok()->isEnabled());

    // Clear, then build: as if nothing had been set.
    h->form->Clear();
    h->form->LoadFields();
    EXPECT_FALSE(h->input(0)->isHidden());
    EXPECT_FALSE(h->label(0)->isHidden());
    EXPECT_EQ(h->top(h->input(0)), 180);
    EXPECT_EQ(h->top(h->input(1)), 960);
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(BuildFormTest, MoreFieldsThanTheSettingsTableAreRefusedBeforeAnyRowIsMade) {
    QStringList cols;
    for (int i = 0; i < 1002; ++i) cols << QString("c%1 long").arg(i);
    const QString db = testutil::makeSqlite(dir_, "huge.db", {"create table Huge (" + cols.join(", ") + ")"});
    Host h;
    h.form->setDatabaseName(db);
    h.form->setSelectedTable("Huge");
    h.show();
    // One message that says why, and no form to save into.
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, "The table [Huge] has 1002 fields; the form holds at most 1001 fields.");
    EXPECT_EQ(prompts_.last().icon, vbCritical);
    EXPECT_EQ(h.form->rowCount(), 1);
    EXPECT_FALSE(h.ok()->isEnabled());
    h.form->pressUpdate();
    EXPECT_EQ(detest::count(db, "Huge"), 0);
    EXPECT_EQ(prompts_.count(), 1);
}

TEST_F(BuildFormTest, FailuresAreReportedOnce) {
    // A missing file: the 3024 message, then the show step's own.
    auto h = std::make_unique<Host>();
    h->form->setDatabaseName(dir_.filePath("missing.db"));
    h->form->setSelectedTable("People");
    h->show();
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_EQ(prompts_.requests()[0].text, "The table selected: [People] on database: [" + dir_.filePath("missing.db") +
                                               "] could not be loaded, on module LoadFields()");
    EXPECT_EQ(prompts_.requests()[0].icon, vbCritical);
    EXPECT_EQ(prompts_.requests()[1].text, "The control could not load the database or table!\r for DATABASE: " +
                                               dir_.filePath("missing.db") + " and TABLE: People");
    EXPECT_EQ(h->form->rowCount(), 1);
    EXPECT_EQ(h->label(0)->text(), "xxx:");

    // A table that does not exist: the Abort/Retry/Ignore box naming the section.
    prompts_.clear();
    prompts_.answer(vbAbort);
    auto t = std::make_unique<Host>();
    t->form->setDatabaseName(db_);
    t->form->setSelectedTable("Nope");
    t->show();
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_TRUE(prompts_.requests()[0].text.endsWith(" on module LoadFields() - Section: 1"))
        << prompts_.requests()[0].text.toStdString();
    EXPECT_EQ(prompts_.requests()[0].buttons, vbAbortRetryIgnore);

    // No table: nothing is built and nothing is said.
    prompts_.clear();
    Host empty;
    empty.form->setDatabaseName(db_);
    empty.show();
    EXPECT_EQ(prompts_.count(), 0);
    EXPECT_FALSE(empty.ok()->isEnabled() && empty.form->LoadSection() > 1);

    // In a design environment showing builds nothing and the title stays.
    Host design;
    design.form->setUserMode(false);
    design.form->setDatabaseName(db_);
    design.form->setSelectedTable("People");
    design.show();
    EXPECT_EQ(design.form->rowCount(), 1);
    EXPECT_FALSE(design.get<QLabel>("Label1")->isHidden());
}

}  // namespace
