#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "QStringPrint.h"
#include "TestUtil.h"
#include "common/StandarFunctions.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

using namespace platform;

namespace {

class SortRoutinesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = testutil::makeSqlite(dir, "sort.sqlite",
                                    {"CREATE TABLE t (id LONG, name TEXT(20))",
                                     "INSERT INTO t VALUES (1, 'Carla')", "INSERT INTO t VALUES (2, 'alba')",
                                     "INSERT INTO t VALUES (3, 'Bruno')", "CREATE TABLE empty (id LONG)"});
        db = dao::OpenDatabase(path);
    }

    static QStringList names(const std::shared_ptr<dao::Recordset>& rs) {
        QStringList out;
        for (long long r = 0; r < rs->RecordCount(); ++r) out << rs->valueAt(r, 1).asString();
        return out;
    }

    QTemporaryDir dir;
    QString path;
    std::shared_ptr<dao::Database> db;
};

}  // namespace

TEST_F(SortRoutinesTest, IsRecordsetOpenProbesWithoutReporting) {
    PromptScript script;
    EXPECT_FALSE(common::IsRecordsetOpen(nullptr));
    auto rs = db->OpenRecordset("t");
    EXPECT_TRUE(common::IsRecordsetOpen(rs));
    EXPECT_TRUE(common::IsRecordsetOpen(db->OpenRecordset("empty")));
    rs->Close();
    EXPECT_FALSE(common::IsRecordsetOpen(rs));
    EXPECT_EQ(script.count(), 0);
}

TEST_F(SortRoutinesTest, SortRecordsetReplacesTheCallersReference) {
    PromptScript script;
    auto rs = db->OpenRecordset("select * from t");
    const auto old = rs;
    common::SortRecordset(rs, "name DESC");
    EXPECT_NE(rs, old);
    EXPECT_EQ(names(rs), QStringList({"Carla", "Bruno", "alba"}));
    EXPECT_EQ(names(old), QStringList({"Carla", "alba", "Bruno"}));
    EXPECT_EQ(rs->Type(), old->Type());

    // An empty expression: the natural order again, and nothing shown.
    common::SortRecordset(rs, "");
    EXPECT_EQ(names(rs), QStringList({"Carla", "alba", "Bruno"}));
    EXPECT_EQ(script.count(), 0);
}

TEST_F(SortRoutinesTest, UnknownFieldShowsTheSortFieldMessageAndKeepsTheRecordset) {
    PromptScript script;
    auto rs = db->OpenRecordset("select * from t");
    common::SortRecordset(rs, "name");
    const auto before = rs;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    common::SortRecordset(rs, "nosuchfield DESC");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(rs, before);
    EXPECT_EQ(names(rs), QStringList({"alba", "Bruno", "Carla"}));
    ASSERT_EQ(script.count(), 1);
    const PromptRequest& r = script.last();
    EXPECT_EQ(r.text, QStringLiteral(
                          "El campo de sorteo seleccionado no esta en la lista de campo para este reporte.\r"
                          "Solución: \r"
                          "1- Seleccione otro metodo de sorteo\r"
                          "2- Seleccione el campo que esta seleccionado en metodo de sorteo"));
    EXPECT_EQ(r.icon, vbInformation);
    EXPECT_EQ(r.buttons, vbOKOnly);
    EXPECT_EQ(r.title, "Tabulon");
}

TEST_F(SortRoutinesTest, OtherFailuresShowTheErrorNumberAndDescription) {
    PromptScript script;
    auto rs = db->OpenRecordset("t");
    rs->Close();
    const auto closed = rs;
    common::SortRecordset(rs, "name");
    EXPECT_EQ(rs, closed);
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "Error:" + QString::number(dao::err::ObjectClosed) + " " +
                                      dao::describe(dao::err::ObjectClosed));
    EXPECT_EQ(script.last().icon, vbInformation);
    EXPECT_FALSE(script.last().text.contains("sorteo"));
}

TEST_F(SortRoutinesTest, SortDataControlRebindsTheGridOrKeepsIt) {
    PromptScript script;
    DataControl control;
    control.setDatabaseName(path);
    control.setRecordSource("select * from t");
    control.Refresh();
    DataGrid grid;
    grid.setDataSource(&control);

    common::SortDataControl(&control, "name");
    EXPECT_EQ(grid.model()->index(0, 1).data().toString(), "alba");
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 0);
    const auto sorted = control.Recordset();

    common::SortDataControl(&control, "[no such] ASC");
    EXPECT_EQ(control.Recordset(), sorted);
    EXPECT_EQ(grid.model()->index(0, 1).data().toString(), "alba");
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.startsWith("El campo de sorteo"));

    common::SortDataControl(&control, "");
    EXPECT_EQ(grid.model()->index(0, 1).data().toString(), "Carla");
    EXPECT_EQ(script.count(), 1);
}
