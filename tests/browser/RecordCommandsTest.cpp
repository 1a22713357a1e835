#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "../platform/QStringPrint.h"
#include "TestUtil.h"
#include "browser/AdvanceViewForm.h"
#include "browser/RecordCommands.h"
#include "dataentry/DataEntryForm.h"
#include "dataentry/host/DataEntryFrm.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/MaskedEdit.h"
#include "platform/Prompts.h"
#include "platform/ReportControl.h"
#include "platform/SettingsStore.h"
#include "platform/dao/Dao.h"

using browser::AdvanceViewForm;
using browser::RecordCommands;
using namespace platform;

namespace {

class RecordCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setSettingsDirectory(dir_.path() + "/config");
        db_ = testutil::makeSqlite(dir_, "c.db",
                                   {"create table Clientes (Id long, Nombre text(50))",
                                    "insert into Clientes values (7, 'Sean O''Brien')",
                                    "insert into Clientes values (3, 'Ana')",
                                    "insert into Clientes values (7, 'Luis')",
                                    "create table Vacia (Id long, Nombre text(50))",
                                    "create table [Mis notas] (Nota text(20), N long)",
                                    "insert into [Mis notas] values ('O''Hara', 1)",
                                    "insert into [Mis notas] values ('Otro', 2)"});
    }
    void TearDown() override { setSettingsDirectory(QString()); }

    std::unique_ptr<AdvanceViewForm> open(const QString& table, const QString& db = QString()) {
        auto f = std::make_unique<AdvanceViewForm>();
        f->DB_DATABASEFILE = db.isEmpty() ? db_ : db;
        f->DB_SELECTED_RECORDS = "*";
        f->DB_SELECTED_TABLE = table;
        f->show();
        return f;
    }
    static long long shown(AdvanceViewForm& f) { return f.dataControl()->Recordset()->RecordCount(); }
    long long inFile(const QString& table) {
        return dao::OpenDatabase(db_)->OpenRecordset("select * from " + table)->RecordCount();
    }

    QTemporaryDir dir_;
    QString db_;
    PromptScript prompts_;
};

TEST_F(RecordCommandsTest, DeleteAsksAndRemovesOnlyOnYes) {
    auto empty = open("Vacia");
    empty->DeleteCurrentRecord();
    EXPECT_EQ(prompts_.count(), 0);

    auto f = open("Clientes");
    // No current record: nothing is asked.
    f->dataControl()->Recordset()->MoveLast();
    f->dataControl()->Recordset()->MoveNext();
    f->DeleteCurrentRecord();
    EXPECT_EQ(prompts_.count(), 0);

    f->dataControl()->MoveFirst();
    prompts_.answer(vbNo);
    f->DeleteCurrentRecord();
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, "Are you sure you want to erase this record?");
    EXPECT_EQ(prompts_.last().icon, vbQuestion);
    EXPECT_EQ(prompts_.last().buttons, vbYesNo);
    EXPECT_EQ(inFile("Clientes"), 3);

    prompts_.answer(vbYes);
    f->findChild<QAction*>("MenuBorrarRecord")->trigger();
    EXPECT_EQ(inFile("Clientes"), 2);
    EXPECT_EQ(shown(*f), 2);
}

TEST_F(RecordCommandsTest, ARefusedDeleteIsReportedAndChangesNothing) {
    // A copy of a file with RC4-encoded pages: read, never written.
    const QString jet = dir_.filePath("db-enc.mdb");
    if (!QFile::copy(testutil::jetFile("../jet-more/encrypted/db-enc.mdb"), jet)) GTEST_SKIP() << "no Jet test file";
    QFile::setPermissions(jet, QFile::ReadOwner | QFile::WriteOwner);
    auto db = dao::OpenDatabase(jet);
    QString table;
    long long before = 0;
    for (const QString& t : db->TableDefs()) {
        before = db->OpenRecordset(t)->RecordCount();
        if (before > 0) {
            table = t;
            break;
        }
    }
    ASSERT_FALSE(table.isEmpty());
    ASSERT_GT(before, 0);
    auto f = open(table, jet);
    prompts_.answer(vbYes);
    f->DeleteCurrentRecord();
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_TRUE(prompts_.last().text.startsWith("The record could not be erased:\r"));
    EXPECT_TRUE(prompts_.last().text.endsWith(" - 3027"));
    EXPECT_EQ(shown(*f), before);
    EXPECT_TRUE(f->isVisible());
}

TEST_F(RecordCommandsTest, PopUpMenuOnlyOverRecords) {
    auto empty = open("Vacia");
    auto* grid = empty->findChild<DataGrid*>("grdDataGrid");
    QTest::mouseRelease(grid->viewport(), Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_FALSE(empty->findChild<QMenu*>("MenuOptions")->isVisible());

    auto f = open("Clientes");
    auto* menu = f->findChild<QMenu*>("MenuOptions");
    EXPECT_EQ(menu->defaultAction()->objectName(), "MenuBorrarRecord");
    QTest::mouseRelease(f->findChild<DataGrid*>("grdDataGrid")->viewport(), Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
}

TEST_F(RecordCommandsTest, SelectThisRecordOnlyQuotesWhatItMust) {
    auto f = open("Clientes");
    f->dataControl()->MoveFirst();  // ordered by Id: the record with 3
    f->dataControl()->MoveLast();   // Id 7
    f->SelectThisRecordOnly();
    EXPECT_EQ(f->dataControl()->RecordSource(), "select * from Clientes where [Id] = 7");
    EXPECT_EQ(shown(*f), 2);

    auto n = open("Mis notas");
    n->dataControl()->MoveFirst();
    ASSERT_EQ(n->dataControl()->Recordset()->Fields().Item(0).Value().asString(), "O'Hara");
    n->SelectThisRecordOnly();
    EXPECT_EQ(n->dataControl()->RecordSource(), "select * from [Mis notas] where [Nota] = 'O''Hara'");
    EXPECT_EQ(shown(*n), 1);
    EXPECT_EQ(prompts_.count(), 0);

    EXPECT_EQ(RecordCommands::selectThisRecordSql("T", "Precio", dao::dbCurrency, dao::Variant::fromCurrency(15000)),
              "select * from T where [Precio] = 1.5");
    EXPECT_EQ(RecordCommands::selectThisRecordSql("T", "A", dao::dbText, dao::Variant::null()),
              "select * from T where [A] is null");
    {
        testutil::LocaleGuard comma(QLocale(QLocale::German, QLocale::Germany));
        EXPECT_EQ(RecordCommands::selectThisRecordSql("T", "P", dao::dbCurrency, dao::Variant::fromCurrency(15000)),
                  "select * from T where [P] = 1.5");
    }

    // Nothing to narrow to in an empty table.
    auto e = open("Vacia");
    const QString before = e->dataControl()->RecordSource();
    e->SelectThisRecordOnly();
    EXPECT_EQ(e->dataControl()->RecordSource(), before);
}

TEST_F(RecordCommandsTest, AddOpensTheDataEntryWindowAndRefreshesTheGrid) {
    auto f = open("Clientes");
    auto* grid = f->findChild<DataGrid*>("grdDataGrid");
    grid->setColumnWidthTwips(1, 3000);

    bool seen = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(dataentry::DataEntryFrm::hasShared());
        dataentry::DataEntryFrm* w = dataentry::DataEntryFrm::shared();
        EXPECT_TRUE(w->isModal());
        EXPECT_EQ(w->windowTitle(), "Clientes");
        dataentry::DataEntryForm* form = w->dataEntryForm();
        EXPECT_FALSE(form->EnableQuickTips());
        EXPECT_EQ(form->DatabaseName(), db_);
        EXPECT_EQ(form->rowCount(), 2);
        form->findChild<MaskedEdit*>("TxTFields(0)")->setText("9");
        form->findChild<MaskedEdit*>("TxTFields(1)")->setText("Nueva");
        form->findChild<QToolButton*>("cmdUpdate")->click();
        seen = true;
        form->findChild<QToolButton*>("cmdClose")->click();
    });
    f->findChild<QPushButton*>("AddRecordBtn")->click();
    EXPECT_TRUE(seen);
    EXPECT_FALSE(dataentry::DataEntryFrm::hasShared());
    EXPECT_EQ(inFile("Clientes"), 4);
    EXPECT_EQ(shown(*f), 4);
    EXPECT_NEAR(grid->ColumnWidthTwips(1), 3000, 15);
    EXPECT_EQ(prompts_.count(), 0);

    // Cancelled straight away: refreshed all the same, widths kept.
    QTimer::singleShot(0, [&] { dataentry::DataEntryFrm::shared()->dataEntryForm()->pressClose(); });
    f->findChild<QPushButton*>("AddRecordBtn")->click();
    EXPECT_EQ(shown(*f), 4);
    EXPECT_NEAR(grid->ColumnWidthTwips(1), 3000, 15);
}

TEST_F(RecordCommandsTest, ListingPreviewsTheRecordsShown) {
    auto f = open("Clientes");
    int pages = -1;
    const auto old = ReportControl::setPreviewRunner([&](QPrintPreviewDialog& d) {
        pages = 0;
        d.close();
    });
    f->findChild<QPushButton*>("ReportsBtn")->click();
    ReportControl::setPreviewRunner(old);
    EXPECT_EQ(pages, 0);
    auto* report = f->recordCommands()->reportControl();
    EXPECT_EQ(report->objectName(), "ReportC");
    EXPECT_EQ(report->Destination(), crptToWindow);
    EXPECT_FALSE(report->WindowMaximized());
    EXPECT_EQ(prompts_.count(), 0);
}

}  // namespace
