// Report files: the format, and report files run by tabulon-cli into PDF files.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "TestUtil.h"
#include "platform/ReportFile.h"
#include "platform/dao/Dao.h"

using platform::ReportFile;

namespace {

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

QString pdfText(const QString& pdf) {
    QProcess p;
    p.start("pdftotext", {"-layout", pdf, "-"});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

int runCli(const QStringList& args, QString* err = nullptr) {
    QProcess p;
    p.start(QStringLiteral(TABULON_CLI), args);
    if (!p.waitForFinished(120000)) return -1;
    if (err) *err = QString::fromUtf8(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

}  // namespace

TEST(ReportFile, ReadsTheFormatAndBuildsTheSelect) {
    const ReportFile r = ReportFile::parse(R"({
        "title": "T", "source": "Mis Clientes", "database": "tienda.db",
        "columns": [{"field": "Nombre", "caption": "Cliente", "width": 2880}, "Ciudad", {"field": "a]b"}],
        "sort": "Ciudad DESC", "formula": "[Activo] = True", "orientation": "landscape"})",
                                           "/data/informes/x.report");
    EXPECT_EQ(r.recordSource(),
              "select [Nombre] as [Cliente], [Ciudad], `a]b` from [Mis Clientes] where ([Activo] = True) "
              "order by Ciudad DESC");
    EXPECT_EQ(r.recordSource("[Id] > 2"),
              "select [Nombre] as [Cliente], [Ciudad], `a]b` from [Mis Clientes] where ([Id] > 2) "
              "order by Ciudad DESC");
    EXPECT_EQ(r.databasePath(), "/data/informes/tienda.db");
    EXPECT_EQ(r.columnWidths(), (std::vector<double>{2880, 0, 0}));
    EXPECT_EQ(r.orientation, platform::ReportOrientation::Landscape);

    const ReportFile q = ReportFile::parse(R"({"source": "select * from A where x = 1;"})");
    EXPECT_EQ(q.recordSource(), "select * from (select * from A where x = 1)");
    EXPECT_EQ(q.listingTitle(), "select * from A where x = 1");

    for (const char* bad : {"", "[]", "{}", R"({"source": 3})", R"({"source": "A", "orientation": "up"})",
                            R"({"source": "A", "columns": [{"width": 10}]})",
                            R"({"source": "A", "columns": [{"field": "x", "width": -1}]})"}) {
        try {
            ReportFile::parse(bad, "bad.report");
            ADD_FAILURE() << bad;
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), 5) << bad;
            EXPECT_TRUE(e.description().contains("bad.report")) << bad;
        }
    }
}

TEST(ReportFile, TheSampleReportRunsThroughTheCommandLine) {
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
    if (QStandardPaths::findExecutable("sqlite3").isEmpty()) GTEST_SKIP() << "the sqlite3 shell is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString samples = QStringLiteral(TABULON_SOURCE_DIR "/samples");
    const QString db = dir.filePath("sample.db");
    {
        QProcess p;
        p.setStandardInputFile(samples + "/sample.sql");
        p.start("sqlite3", {"-bail", db});
        ASSERT_TRUE(p.waitForFinished(120000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
    const QString pdf = dir.filePath("clientes.pdf");
    QString err;
    ASSERT_EQ(runCli({"report", db, samples + "/Clientes.report", pdf}, &err), 0) << err.toStdString();
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.startsWith("Clientes activos con crédito")) << text.toStdString();
    for (const char* header : {"Nº", "Nombre", "Ciudad", "Teléfono"}) EXPECT_TRUE(text.contains(header)) << header;
    // Exactly the records the formula keeps, in the report's order (city, then name).
    QStringList names;
    auto expected = dao::OpenDatabase(db)->OpenRecordset(
        "select Nombre from Clientes where Activo = True and LimiteCredito > 0 order by Ciudad, Nombre");
    for (; !expected->Eof(); expected->MoveNext()) names << expected->Fields().Item(0).Value().asString();
    ASSERT_EQ(names.size(), 9);
    qsizetype at = 0;
    for (const QString& n : names) {
        const qsizetype found = text.indexOf(n, at);
        EXPECT_GT(found, at - 1) << n.toStdString();
        at = found;
    }
    for (const char* left : {"María Jesús Álvarez", "Ana Belén Ruiz", "Íñigo Zubiría"})
        EXPECT_FALSE(text.contains(QString::fromUtf8(left))) << left;
    EXPECT_TRUE(text.contains("Page 1 of 1"));
}

TEST(ReportFile, ALongReportRepeatsItsHeadersOnEveryPageThroughTheCommandLine) {
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList sql{"create table Movimientos (Id LONG, Concepto TEXT(30), Importe CURRENCY)"};
    for (int i = 1; i <= 300; ++i)
        sql << QString("insert into Movimientos values (%1, 'Concepto %2', %3)").arg(i).arg(i, 3, 10, QChar('0')).arg(i);
    const QString db = testutil::makeSqlite(dir, "m.db", sql);
    writeFile(dir.filePath("m.report"), R"({"title": "Movimientos pares",
        "source": "select Id, Concepto, Importe from Movimientos",
        "columns": [{"field": "Concepto", "caption": "Qué", "width": 2880}, {"field": "Importe", "width": 1440}],
        "formula": "[Id] mod 2 = 0", "sort": "Id DESC"})");
    const QString pdf = dir.filePath("m.pdf");
    QString err;
    ASSERT_EQ(runCli({"report", db, dir.filePath("m.report"), pdf}, &err), 0) << err.toStdString();
    const QStringList pages = pdfText(pdf).split(QChar('\f'), Qt::SkipEmptyParts);
    ASSERT_GE(pages.size(), 2);
    int rows = 0;
    for (const QString& page : pages) {
        if (page.trimmed().isEmpty()) continue;
        EXPECT_TRUE(page.contains("Movimientos pares"));
        EXPECT_TRUE(page.contains("Qué"));
        EXPECT_TRUE(page.contains("Importe"));
        rows += int(page.count("Concepto "));
    }
    EXPECT_EQ(rows, 150);
    const QString all = pdfText(pdf);
    EXPECT_LT(all.indexOf("Concepto 300"), all.indexOf("Concepto 002"));
    EXPECT_FALSE(all.contains("Concepto 299"));

    // A table or select as SOURCE still works; a bad report file is an error, not a crash.
    EXPECT_EQ(runCli({"report", db, "Movimientos", dir.filePath("t.pdf")}), 0);
    writeFile(dir.filePath("bad.report"), "{ not json");
    EXPECT_EQ(runCli({"report", db, dir.filePath("bad.report"), dir.filePath("b.pdf")}, &err), 1);
    EXPECT_TRUE(err.startsWith("error 5: ")) << err.toStdString();
    EXPECT_EQ(runCli({"report", db, dir.filePath("none.report"), dir.filePath("b.pdf")}, &err), 1);
    EXPECT_TRUE(err.startsWith("error 53: ")) << err.toStdString();
}
