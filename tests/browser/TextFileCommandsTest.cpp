#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

#include "../platform/QStringPrint.h"
#include "TestUtil.h"
#include "browser/AdvanceViewForm.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

using browser::AdvanceViewForm;
using namespace platform;

namespace {

class TextFileCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setSettingsDirectory(dir_.path() + "/config");
        db_ = testutil::makeSqlite(dir_, "t.db",
                                   {"create table Socios (Num long, Nombre text(30), Alta datetime)",
                                    "insert into Socios values (4, 'Ana', '2020-01-02 00:00:00')",
                                    "insert into Socios values (4, 'Luis', null)",
                                    "insert into Socios values (2, 'Eva', null)",
                                    "create table Vacia (Num long, Nombre text(30), Alta datetime)"});
    }
    void TearDown() override { setSettingsDirectory(QString()); }

    std::unique_ptr<AdvanceViewForm> open(const QString& table) {
        auto f = std::make_unique<AdvanceViewForm>();
        f->DB_DATABASEFILE = db_;
        f->DB_SELECTED_RECORDS = "*";
        f->DB_SELECTED_TABLE = table;
        f->show();
        return f;
    }
    template <class T = QWidget>
    static T* get(QWidget& w, const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    static QStringList column(AdvanceViewForm& f, int field) {
        QStringList out;
        auto rs = f.dataControl()->Recordset();
        for (long long i = 0; i < rs->RecordCount(); ++i) {
            const dao::Variant v = rs->valueAt(i, field);
            out << (v.isNull() ? "Null" : dao::valueToText(v));
        }
        return out;
    }
    static bool working(AdvanceViewForm& f) {
        return get(f, "StatusPanel")->isVisible() || get(f, "WorkingPanel")->isVisible() ||
               !get(f, "grdDataGrid")->isVisible();
    }

    QTemporaryDir dir_;
    QString db_;
    PromptScript prompts_;  // no real box may ever block a test
};

TEST_F(TextFileCommandsTest, VerifyFromThePanelRenumbersAndRequeries) {
    auto f = open("Socios");
    get<QComboBox>(*f, "VerifyFields")->setCurrentText("Num");
    {
        PromptScript script;
        get<QPushButton>(*f, "VerifyBtn")->click();
        ASSERT_EQ(script.count(), 1);
        EXPECT_EQ(script.last().text, "Ninguna acción a sido seleccionada!");
    }
    get<QCheckBox>(*f, "VerifyChk")->setChecked(true);
    PromptScript script;
    get<QPushButton>(*f, "VerifyBtn")->click();
    EXPECT_EQ(script.count(), 0);
    EXPECT_EQ(column(*f, 0), (QStringList{"5", "4", "2"}));
    EXPECT_FALSE(working(*f));
    EXPECT_EQ(get<QLabel>(*f, "StatusLbl")->text(), "Remplazando...");
}

TEST_F(TextFileCommandsTest, ExportThenImportAppendsAtTheEndOfTheRecordsShown) {
    auto f = open("Socios");
    const QString file = dir_.filePath("socios.txt");
    {
        PromptScript script;
        script.answer(file);
        get<QPushButton>(*f, "SaveBtn")->click();
        ASSERT_EQ(script.count(), 1);
        EXPECT_EQ(script.last().initialFile, "Socios.txt");
    }
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_FALSE(working(*f));
    EXPECT_TRUE(f->dataControl()->Recordset()->Eof());  // left past the last record

    // Into the same table: the browser is ordered by Num, so the file holds Eva, Ana, Luis; the
    // added records follow the records shown, without a re-query.
    PromptScript script;
    script.answer(file);
    get<QPushButton>(*f, "ImportBtn")->click();
    ASSERT_EQ(script.count(), 1);  // the dialog only
    EXPECT_EQ(script.last().title, "Importar tabla de un archivo de texto");
    EXPECT_EQ(script.last().initialFile, "Socios.txt");
    EXPECT_EQ(column(*f, 1), (QStringList{"Eva", "Ana", "Luis", "Eva", "Ana", "Luis"}));
    EXPECT_EQ(get<platform::DataGrid>(*f, "grdDataGrid")->model()->rowCount(), 6);
    EXPECT_EQ(f->dataControl()->RecordSource(), "select * from Socios");
    auto g = f.get();
    EXPECT_FALSE(working(*g));
}

TEST_F(TextFileCommandsTest, CancellingEitherDialogLeavesTheBrowserAsItWas) {
    auto f = open("Socios");
    auto before = f->dataControl()->Recordset();
    const long long position = before->AbsolutePosition();
    PromptScript script;
    script.cancel().cancel();
    get<QPushButton>(*f, "SaveBtn")->click();
    get<QPushButton>(*f, "ImportBtn")->click();
    EXPECT_EQ(script.count(), 2);  // the two dialogs, and no message
    // The tools' hourglass does not cover their file dialogs.
    for (const platform::PromptRequest& r : script.requests()) EXPECT_EQ(r.pointer, Qt::ArrowCursor);
    EXPECT_EQ(f->dataControl()->Recordset(), before);
    EXPECT_EQ(before->AbsolutePosition(), position);
    EXPECT_EQ(before->RecordCount(), 3);
    EXPECT_FALSE(working(*f));
    EXPECT_TRUE(get(*f, "grdDataGrid")->isVisible());
}

TEST_F(TextFileCommandsTest, GetLastIdGivesTheHighestValueOrZero) {
    auto f = open("Socios");
    auto rs = f->dataControl()->Recordset();
    EXPECT_EQ(f->GetLastID(rs, 0), dao::Variant::fromLong(4));
    EXPECT_EQ(f->GetLastID(rs, 1), dao::Variant::fromString("Luis"));
    EXPECT_EQ(rs, f->dataControl()->Recordset());  // the caller's recordset is not replaced
    // Nulls sort first: the highest record holds Null only when every record does.
    auto db = dao::OpenDatabase(db_);
    db->Execute("update Socios set Alta = null");
    EXPECT_EQ(f->GetLastID(db->OpenRecordset("Socios"), 2), dao::Variant::fromInteger(0));
    EXPECT_EQ(f->GetLastID(db->OpenRecordset("Vacia"), 0), dao::Variant::fromInteger(0));
    EXPECT_EQ(f->GetLastID(rs, 7), dao::Variant::fromInteger(0));
    EXPECT_EQ(f->GetLastID(nullptr, 0), dao::Variant::fromInteger(0));
    EXPECT_EQ(prompts_.count(), 0);
}

}  // namespace
