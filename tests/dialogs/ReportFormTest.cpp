// The report list window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "TestUtil.h"
#include "common/ProgramGlobals.h"
#include "dialogs/ReportForm.h"
#include "platform/Prompts.h"
#include "platform/ReportControl.h"
#include "platform/dao/Dao.h"

using dialogs::ReportForm;

namespace {

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

}  // namespace

TEST(ReportForm, AddReportListsWithPicturesAndAReopenedFormIsEmpty) {
    ReportForm f;
    EXPECT_EQ(f.windowTitle(), "Reportes ");
    EXPECT_EQ(f.findChild<QPushButton*>("SSCommand1")->text(), "&Close");
    EXPECT_NE(f.findChild<platform::ReportControl*>("ReportC"), nullptr);
    f.AddReport("Clientes", "Clientes.report");
    f.AddReport("Activos", "Clientes.report", 0, "[Activo] = True");
    f.AddReport("Tabla", "Tabla.report", 2);
    EXPECT_EQ(f.entry(1).picture, 1);
    EXPECT_EQ(f.entry(2).picture, 1);
    EXPECT_EQ(f.entry(2).formula, "[Activo] = True");
    EXPECT_EQ(f.entry(3).picture, 2);
    f.show();
    ASSERT_EQ(f.itemsList()->count(), 3);
    EXPECT_EQ(f.itemsList()->item(1)->text(), "Activos");
    EXPECT_EQ(f.itemsList()->item(1)->data(Qt::UserRole).toInt(), 1);
    EXPECT_FALSE(f.itemsList()->item(2)->icon().isNull());

    f.findChild<QPushButton*>("SSCommand1")->click();
    EXPECT_EQ(f.reportCount(), 0);
    f.show();
    EXPECT_EQ(f.itemsList()->count(), 0);

    for (int i = 0; i < 120; ++i) f.AddReport(QString::number(i), "x.report");
    EXPECT_EQ(f.reportCount(), ReportForm::MaxReports);
}

TEST(ReportForm, ReportPathHasOneSeparator) {
    EXPECT_EQ(ReportForm::reportPath("/", "Clientes.report"), "/Clientes.report");
    EXPECT_EQ(ReportForm::reportPath("/opt/tabulon", "Clientes.report"), "/opt/tabulon/Clientes.report");
    EXPECT_EQ(ReportForm::reportPath("/opt/tabulon/", "Clientes.report"), "/opt/tabulon/Clientes.report");
}

TEST(ReportForm, DoubleClickRunsTheReportFileInThePreviewWithItsFormula) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString db = testutil::makeSqlite(dir, "r.db",
                                            {"create table Clientes (Id LONG, Nombre TEXT(40), Activo YESNO)",
                                             "insert into Clientes values (1, 'Ana', True)",
                                             "insert into Clientes values (2, 'Beto', False)"});
    writeFile(dir.filePath("Clientes.report"),
              R"({"title": "Lista", "source": "Clientes", "columns": ["Nombre"], "sort": "Nombre"})");
    ReportForm::setProgramFolder(dir.path() + "/");
    common::DatabaseFile = db;  // the file names no database: the program's is read
    QString caption;
    bool maximized = false;
    const auto old = platform::ReportControl::setPreviewRunner([&](QPrintPreviewDialog& d) {
        caption = d.windowTitle();
        maximized = d.windowState() & Qt::WindowMaximized;
        QTimer::singleShot(0, &d, &QDialog::reject);
        d.exec();
    });
    ReportForm f;
    f.AddReport("Activos", "Clientes.report", 0, "[Activo] = True");
    f.show();
    emit f.itemsList()->itemDoubleClicked(f.itemsList()->item(0));
    platform::ReportControl::setPreviewRunner(old);
    ReportForm::setProgramFolder(QString());
    common::DatabaseFile.clear();
    EXPECT_EQ(caption, "Lista");
    EXPECT_TRUE(maximized);
    EXPECT_EQ(f.reportControl()->ReportFileName(), dir.filePath("Clientes.report"));
    EXPECT_EQ(f.reportControl()->LastRecordSource(),
              "select [Nombre] from [Clientes] where ([Activo] = True) order by Nombre");
    EXPECT_EQ(f.reportControl()->LastPageCount(), 1);
}

TEST(ReportForm, AMissingReportFileIsReportedNotFatal) {
    platform::PromptScript script;
    ReportForm::setProgramFolder(QDir::tempPath());
    ReportForm f;
    f.AddReport("Nada", "no-such-file.report");
    f.show();
    f.runReport(0);
    ReportForm::setProgramFolder(QString());
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.endsWith(" - 53"));
    EXPECT_EQ(script.last().icon, platform::vbCritical);
}

TEST(ReportForm, EscapeUnloadsLikeClose) {
    ReportForm f;
    f.AddReport("Clientes", "Clientes.report");
    f.show();
    QTest::keyClick(&f, Qt::Key_Escape);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.reportCount(), 0);
}
