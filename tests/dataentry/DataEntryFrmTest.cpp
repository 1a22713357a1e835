#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include "../platform/QStringPrint.h"
#include "DataEntryTestUtil.h"
#include "dataentry/host/DataEntryFrm.h"

using dataentry::DataEntryFrm;
using namespace platform;

namespace {

class DataEntryFrmTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QStringList cols;
        for (int i = 0; i < 12; ++i) cols << QString("F%1 %2").arg(i).arg(i == 1 ? "text(30)" : "long");
        db_ = testutil::makeSqlite(dir_, "t.db", {"create table Twelve (" + cols.join(", ") + ")"});
    }
    void TearDown() override { DataEntryFrm::releaseShared(); }

    QTemporaryDir dir_;
    QString db_;
    PromptScript prompts_;
};

TEST_F(DataEntryFrmTest, ShowsCentredAndSizedToTheRows) {
    DataEntryFrm* f = DataEntryFrm::shared();
    EXPECT_EQ(DataEntryFrm::shared(), f);
    f->DB_DATABASENAME = db_;
    f->DB_SELECTED_TABLE = "Twelve";
    f->setCaption("Twelve");
    EXPECT_TRUE(f->isLoaded());
    EXPECT_EQ(f->windowTitle(), "Twelve");
    auto* form = f->dataEntryForm();
    EXPECT_EQ(form->DatabaseName(), db_);
    EXPECT_TRUE(form->UnloadParent());  // from the window's stored design
    EXPECT_FALSE(form->CloseOnOK());
    // Loaded: far below the screen until the form is built.
    EXPECT_GT(f->y(), QGuiApplication::primaryScreen()->geometry().height());

    int seenAtFinish = -1;
    QObject::connect(form, &dataentry::DataEntryForm::FinishedLoading, f, [&] { seenAtFinish = form->rowCount(); });
    f->show();
    (void)QTest::qWaitForWindowActive(f, 2000);
    EXPECT_EQ(seenAtFinish, 12);
    EXPECT_EQ(prompts_.count(), 0);

    auto* last = form->findChild<MaskedEdit*>("TxTFields(11)");
    const double lastTop = dataentry::twipsTop(last);
    EXPECT_EQ(lastTop, 180 + 11 * 780);
    EXPECT_EQ(f->height(), twipsToPixelsY(lastTop + 2700));
    // Centred on the screen.
    const QRect screen = f->screen()->geometry();
    EXPECT_NEAR(f->frameGeometry().center().x(), screen.center().x(), 2);
    EXPECT_NEAR(f->frameGeometry().center().y(), screen.center().y(), 2);
    EXPECT_EQ(QApplication::focusWidget(), form->findChild<MaskedEdit*>("TxTFields(0)"));
    // Ok and Close at the bottom right, the status bar with its two panels below.
    auto* ok = form->findChild<QToolButton*>("cmdUpdate");
    auto* close = form->findChild<QToolButton*>("cmdClose");
    EXPECT_NEAR(ok->geometry().bottom(), form->height() - twipsToPixelsY(50), 2);
    EXPECT_NEAR(close->geometry().right(), form->width() - twipsToPixelsX(50), 2);
    auto* bar = f->findChild<QStatusBar*>("StatusBar1");
    EXPECT_EQ(f->findChild<QLabel*>("Panel1")->text(), "CAPS");
    EXPECT_EQ(f->findChild<QLabel*>("Panel2")->text(), "NUM");
    EXPECT_EQ(bar->geometry().bottom(), f->height() - 1);
    EXPECT_GE(bar->y(), form->geometry().bottom());

    // A save keeps the window open; Close closes it.
    for (int i = 0; i < 12; ++i) form->SetText(QString::number(i), i);
    ok->click();
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(detest::count(db_, "Twelve"), 1);
    close->click();
    EXPECT_FALSE(f->isVisible());
    DataEntryFrm::releaseShared();
    EXPECT_FALSE(DataEntryFrm::hasShared());
}

TEST_F(DataEntryFrmTest, ATableThatCannotBeLoadedIsReported) {
    DataEntryFrm* f = DataEntryFrm::shared();
    f->DB_DATABASENAME = db_;
    f->DB_SELECTED_TABLE = "Nope";
    f->setCaption("Nope");
    prompts_.answer(vbAbort);
    f->show();
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_EQ(prompts_.last().text, "The control could not load the database or table!\r for DATABASE: " + db_ +
                                        " and TABLE: Nope");
    // Nothing to add to: the window does not stay behind out of sight.
    QTest::qWait(20);
    EXPECT_FALSE(f->isVisible());
}

TEST_F(DataEntryFrmTest, ShowingWithoutACaptionLoadsFirst) {
    DataEntryFrm* f = DataEntryFrm::shared();
    f->DB_DATABASENAME = db_;
    f->DB_SELECTED_TABLE = "Twelve";
    f->DB_FORMCAPTION = "Alta de registros";
    f->show();
    EXPECT_EQ(f->windowTitle(), "Alta de registros");
    EXPECT_EQ(f->dataEntryForm()->rowCount(), 12);
    QTest::qWait(20);
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(prompts_.count(), 0);
}

}  // namespace
