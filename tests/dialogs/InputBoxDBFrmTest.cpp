// The database lookup box: its two searches, the answer read at the clicked position, cancel and
// failures; and the program's own pattern match.

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>

#include "TestUtil.h"
#include "dialogs/InputBoxDBFrm.h"
#include "dialogs/LikePattern.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/GridModel.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

using dialogs::InputBoxDBFrm;

TEST(LikePattern, CaseSensitiveWildcardsDigitsAndClasses) {
    using dialogs::likeMatch;
    EXPECT_TRUE(likeMatch("abz", "ab*"));
    EXPECT_FALSE(likeMatch("ABx", "ab*"));
    EXPECT_FALSE(likeMatch("Abc", "ab*"));
    EXPECT_TRUE(likeMatch("abz", "a?z*"));
    EXPECT_TRUE(likeMatch("a1", "a#"));
    EXPECT_FALSE(likeMatch("ab", "a#"));
    EXPECT_TRUE(likeMatch("b", "[a-c]"));
    EXPECT_FALSE(likeMatch("B", "[a-c]"));
    EXPECT_TRUE(likeMatch("x", "[!a-c]"));
    EXPECT_FALSE(likeMatch("b", "[!a-c]"));
    EXPECT_TRUE(likeMatch("", "*"));
    EXPECT_TRUE(likeMatch("a*b", "a[*]b"));
    EXPECT_TRUE(likeMatch("xxaby", "*ab*"));
    EXPECT_FALSE(likeMatch("abc", "ab"));
    EXPECT_FALSE(likeMatch("a[", "a[*"));  // an unclosed class matches nothing
    EXPECT_TRUE(likeMatch("O'Brien", "O'B*"));
}

namespace {

class InputBoxDBFrmTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QStringList sql{"create table Nombres (Id LONG, Nombre TEXT(40), Ciudad TEXT(20))"};
        const QStringList names{"ABx", "Abc", "abz", "O'Brien", "zz"};
        int id = 10;
        for (const QString& n : names) {
            QString q = n;
            q.replace("'", "''");
            sql << QString("insert into Nombres values (%1, '%2', 'C%1')").arg(id++).arg(q);
        }
        for (int i = 0; i < 40; ++i) sql << QString("insert into Nombres values (%1, 'm%2', Null)").arg(id++).arg(i);
        db_ = testutil::makeSqlite(dir_, "n.db", sql);
        lastId_ = id - 1;
    }

    void prepare(InputBoxDBFrm& d, const QString& source = "select * from Nombres") {
        d.formData()->setDatabaseName(db_);
        d.formData()->setRecordSource(source);
        d.formData()->Refresh();
        d.SearchField = "Nombre";
        d.AnswerField = "Id";
        d.sRecordSource = source;
        d.resize(500, 300);
        d.show();
        d.activateForm();
        QApplication::processEvents();
    }

    long long current(InputBoxDBFrm& d) { return d.formData()->Recordset()->AbsolutePosition(); }
    int topRow(InputBoxDBFrm& d) { return d.gridDisplay()->verticalScrollBar()->value(); }

    QTemporaryDir dir_;
    QString db_;
    int lastId_ = 0;
};

}  // namespace

TEST_F(InputBoxDBFrmTest, ControlsAndTheGridsFixedColumn) {
    InputBoxDBFrm d;
    EXPECT_EQ(d.windowTitle(), "xxx");
    for (const char* name : {"GridDisplay", "Header", "SearchTitleLbl", "SearchTitleTxT", "Label1", "SSCommand1",
                             "SSCommand2"})
        EXPECT_NE(d.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(d.findChild<QLabel*>("Label1")->text(), "Make your selection");
    EXPECT_EQ(d.findChild<QLabel*>("SearchTitleLbl")->text(), "sSearchTitle:");
    EXPECT_EQ(d.findChild<QPushButton*>("SSCommand1")->text(), "&OK");
    EXPECT_EQ(d.findChild<QPushButton*>("SSCommand2")->text(), "&Cancel");
    prepare(d);
    EXPECT_EQ(d.UNIQUE_FIELD, 2);  // Nombre is field 1, grid column 2
    EXPECT_TRUE(d.gridDisplay()->verticalHeader()->isVisible());
}

TEST_F(InputBoxDBFrmTest, TheGridScrollsToTheCaseSensitiveMatchAndTheDataControlToTheOther) {
    InputBoxDBFrm d;
    prepare(d);
    d.findChild<QLineEdit*>("SearchTitleTxT")->setText("ab");
    EXPECT_EQ(current(d), 0);  // "ABx": the engine ignores case
    EXPECT_EQ(topRow(d), 2);   // "abz": the program's match does not
    d.findChild<QLineEdit*>("SearchTitleTxT")->setText("a?z");
    EXPECT_EQ(topRow(d), 2);
    d.findChild<QLineEdit*>("SearchTitleTxT")->setText("m1*");  // a pattern for both searches
    EXPECT_EQ(current(d), 6);
    EXPECT_EQ(topRow(d), 6);
    d.findChild<QLineEdit*>("SearchTitleTxT")->setText("nothing");
    EXPECT_EQ(current(d), 6);  // no match: neither moves
    EXPECT_EQ(topRow(d), 6);
}

TEST_F(InputBoxDBFrmTest, AnApostropheInTheSearchFindsInsteadOfBreakingTheCriteria) {
    platform::PromptScript script;
    InputBoxDBFrm d;
    prepare(d);
    d.findChild<QLineEdit*>("SearchTitleTxT")->setText("o'b");
    EXPECT_EQ(current(d), 3);
    EXPECT_EQ(topRow(d), 0);  // case-sensitive: "o'b" is not "O'B"
    d.findChild<QLineEdit*>("SearchTitleTxT")->setText("O'B");
    EXPECT_EQ(topRow(d), 3);
    // A criteria the engine refuses leaves the selection where it was, silently.
    d.findChild<QLineEdit*>("SearchTitleTxT")->setText("[");
    EXPECT_EQ(current(d), 3);
    d.gridClicked(3);
    d.findChild<QPushButton*>("SSCommand1")->click();
    EXPECT_EQ(d.Answer, "13");
    EXPECT_EQ(script.count(), 0);
}

TEST_F(InputBoxDBFrmTest, OkReturnsTheClickedRecordsAnswer) {
    InputBoxDBFrm d;
    prepare(d);
    const int last = d.gridDisplay()->gridModel()->rowCount() - 1;
    d.gridClicked(last);
    EXPECT_EQ(current(d), last);
    EXPECT_TRUE(d.findChild<QPushButton*>("SSCommand1")->isDefault());
    d.findChild<QPushButton*>("SSCommand1")->click();
    EXPECT_EQ(d.Answer, QString::number(lastId_));
    EXPECT_FALSE(d.isVisible());

    d.show();
    d.gridClicked(0);
    d.ok();
    EXPECT_EQ(d.Answer, "10");
}

TEST_F(InputBoxDBFrmTest, CancelAndFailuresAnswerError) {
    platform::PromptScript script;
    InputBoxDBFrm d;
    prepare(d);
    d.gridClicked(2);
    d.findChild<QPushButton*>("SSCommand2")->click();
    EXPECT_EQ(d.Answer, "Error");
    EXPECT_FALSE(d.isVisible());

    d.show();
    d.AnswerField = "NoSuchField";
    d.ok();
    EXPECT_EQ(d.Answer, "Error");

    d.show();
    d.AnswerField = "Ciudad";
    d.gridClicked(6);  // Null
    d.ok();
    EXPECT_EQ(d.Answer, "Error");
    EXPECT_EQ(script.count(), 0);  // nothing is shown for either
}

TEST_F(InputBoxDBFrmTest, AnEmptyListSaysSoAndStaysOpen) {
    platform::PromptScript script;
    InputBoxDBFrm d;
    prepare(d, "select * from Nombres where Id < 0");
    d.ok();
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "No records to select from.");
    EXPECT_EQ(script.last().icon, platform::vbExclamation);
    EXPECT_TRUE(d.isVisible());
}

TEST(InputBoxDBFrmLong, SearchesBeyondNinetyThousandRows) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString db = testutil::makeSqlite(dir, "big.db", {"create table T (Id LONG, Nombre TEXT(20))"});
    {
        auto d = dao::OpenDatabase(db);
        auto rs = d->OpenRecordset("T");
        for (int i = 0; i < 95000; ++i) {
            rs->AddNew();
            rs->Fields().Item(0).setValue(dao::Variant::fromLong(i));
            rs->Fields().Item(1).setValue(dao::Variant::fromString(i == 94990 ? "Zeta" : "n"));
            rs->Update();
        }
        rs->Close();
        d->Close();
    }
    InputBoxDBFrm d;
    d.formData()->setDatabaseName(db);
    d.formData()->setRecordSource("T");
    d.formData()->Refresh();
    d.SearchField = "Nombre";
    d.AnswerField = "Id";
    d.sRecordSource = "T";
    d.resize(400, 300);
    d.show();
    d.activateForm();
    QApplication::processEvents();
    d.findChild<QLineEdit*>("SearchTitleTxT")->setText("Z");
    EXPECT_EQ(d.formData()->Recordset()->AbsolutePosition(), 94990);
    EXPECT_GE(d.gridDisplay()->verticalScrollBar()->value(), 94990 - 20);
    d.ok();
    EXPECT_EQ(d.Answer, "94990");
}
