#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include "PgTestUtil.h"
#include "QStringPrint.h"
#include "TestUtil.h"
#include "platform/DataControl.h"
#include "platform/Prompts.h"
#include "platform/ReportControl.h"
#include "platform/ReportListing.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

using namespace platform;

namespace {

bool havePdftotext() {
    return !QStandardPaths::findExecutable("pdftotext").isEmpty();
}

// The text of a PDF (or of one page), laid out as on the page.
QString pdfText(const QString& path, int page = 0) {
    QStringList args{"-layout"};
    if (page > 0) args << "-f" << QString::number(page) << "-l" << QString::number(page);
    args << path << "-";
    QProcess p;
    p.start("pdftotext", args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The words of each non-empty line.
std::vector<QStringList> wordLines(const QString& text) {
    std::vector<QStringList> lines;
    for (const QString& line : text.split('\n')) {
        const QStringList words = line.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        if (!words.isEmpty()) lines.push_back(words);
    }
    return lines;
}

QString smallTable(const QTemporaryDir& dir) {
    return testutil::makeSqlite(
        dir, "small.db",
        {"create table [Señores] (Id LONG, Nombre TEXT(40), Ciudad TEXT(40), Saldo CURRENCY, Notas MEMO)",
         "insert into [Señores] values (1, 'José Muñoz', 'Sevilla', 10.5, 'short')",
         "insert into [Señores] values (2, 'O''Brien', NULL, 0, NULL)",
         "insert into [Señores] values (3, 'Zoë', 'Köln', NULL, '" + QString(300, 'x') + "')"});
}

QString longTable(const QTemporaryDir& dir, int rows) {
    QStringList sql{"create table Items (Id LONG primary key, Name TEXT(30))"};
    for (int i = 1; i <= rows; ++i) sql << QString("insert into Items values (%1, 'item %1')").arg(i);
    return testutil::makeSqlite(dir, "long.db", sql);
}

std::shared_ptr<dao::Recordset> open(const QString& file, const QString& source) {
    static std::vector<std::shared_ptr<dao::Database>> keep;  // the recordsets need their database
    keep.push_back(dao::OpenDatabase(file));
    return keep.back()->OpenRecordset(source);
}

// The same listings over the same tables moved to a PostgreSQL server (when TABULON_TEST_PG names one).
using testutil::Backend;

class ReportListingBackend : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (!havePdftotext()) GTEST_SKIP() << "pdftotext is not installed";
        if (GetParam() == Backend::SQLite) return;
        if (qEnvironmentVariable("TABULON_TEST_PG").isEmpty())
            GTEST_SKIP() << "TABULON_TEST_PG is not set: no PostgreSQL server for this test";
        server_ = std::make_unique<testutil::PgSchema>();
        ASSERT_TRUE(server_->isSet());
    }
    // The file itself, or the server with its table.
    QString database(const QString& file, const QString& table) {
        if (!server_) return file;
        server_->copyFrom(file, {table});
        return server_->uri();
    }
    QTemporaryDir dir_;
    std::unique_ptr<testutil::PgSchema> server_;
};

INSTANTIATE_TEST_SUITE_P(Backends, ReportListingBackend, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return testutil::backendName(info.param); });

}  // namespace

TEST_P(ReportListingBackend, SmallTableShowsTitleHeadersAndEveryRecord) {
    QTemporaryDir& dir = dir_;
    auto rs = open(database(smallTable(dir), "Señores"), "Señores");
    const QString pdf = dir.filePath("small.pdf");
    EXPECT_EQ(ReportListing::writePdf(*rs, rs->Name(), pdf), 1);

    const QString text = pdfText(pdf);
    const auto lines = wordLines(text);
    ASSERT_GE(lines.size(), 6u) << text.toStdString();
    EXPECT_EQ(lines[0], QStringList{"Señores"});
    EXPECT_EQ(lines[1], (QStringList{"Id", "Nombre", "Ciudad", "Saldo", "Notas"}));
    EXPECT_EQ(lines[2], (QStringList{"1", "José", "Muñoz", "Sevilla", "10.5", "short"}));
    // Null shows as nothing, not as a word.
    EXPECT_EQ(lines[3], (QStringList{"2", "O'Brien", "0"}));
    ASSERT_EQ(lines[4].size(), 4);
    EXPECT_EQ(lines[4].mid(0, 3), (QStringList{"3", "Zoë", "Köln"}));
    // The long text is cut to its column.
    EXPECT_TRUE(lines[4][3].endsWith(QChar(0x2026))) << lines[4][3].toStdString();
    EXPECT_LT(lines[4][3].size(), 300);
    const QString date = QLocale().toString(QDate::currentDate(), dao::shortDateFormat());
    EXPECT_EQ(lines.back(), (QStringList{date, "Page", "1", "of", "1"}));
    // The recordset's own position is untouched by the listing.
    EXPECT_EQ(rs->AbsolutePosition(), 0);
}

TEST_P(ReportListingBackend, LongTableRepeatsHeadersAndNumbersEveryPage) {
    QTemporaryDir& dir = dir_;
    const int rows = 200;
    auto rs = open(database(longTable(dir, rows), "Items"), "select Id, Name from Items order by Id desc");
    const QString pdf = dir.filePath("long.pdf");
    const int pages = ReportListing::writePdf(*rs, "Items", pdf);
    ASSERT_GE(pages, 3);

    // Every record once, in order, across the pages; each page with the headers and its number.
    int expected = rows;
    for (int page = 1; page <= pages; ++page) {
        const auto lines = wordLines(pdfText(pdf, page));
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[0], QStringList{"Items"});
        EXPECT_EQ(lines[1], (QStringList{"Id", "Name"})) << "page " << page;
        EXPECT_EQ(lines.back().mid(1),
                  (QStringList{"Page", QString::number(page), "of", QString::number(pages)}));
        for (size_t i = 2; i + 1 < lines.size(); ++i, --expected)
            ASSERT_EQ(lines[i], (QStringList{QString::number(expected), "item", QString::number(expected)}));
    }
    EXPECT_EQ(expected, 0);
}

TEST(ReportListing, ManyColumnsGoLandscapeAndAnEmptyTableStillGivesAPage) {
    if (!havePdftotext()) GTEST_SKIP() << "pdftotext is not installed";
    QTemporaryDir dir;
    QStringList cols;
    for (int i = 1; i <= 16; ++i) cols << QString("LongerColumnName%1 TEXT(20)").arg(i);
    const QString file = testutil::makeSqlite(
        dir, "wide.db", {"create table Wide (" + cols.join(", ") + ")", "create table Narrow (A LONG)"});

    auto wide = open(file, "Wide");
    QPdfWriter writer(dir.filePath("w.pdf"));
    ReportListing listing(*wide, "Wide");
    listing.setupPage(writer);
    EXPECT_EQ(writer.pageLayout().orientation(), QPageLayout::Landscape);
    // A few columns stay portrait, even with a long text among them.
    auto few = open(smallTable(dir), "Señores");
    QPdfWriter portrait(dir.filePath("p.pdf"));
    ReportListing(*few, "Señores").setupPage(portrait);
    EXPECT_EQ(portrait.pageLayout().orientation(), QPageLayout::Portrait);

    auto narrow = open(file, "Narrow");
    const QString pdf = dir.filePath("n.pdf");
    EXPECT_EQ(ReportListing::writePdf(*narrow, "Narrow", pdf), 1);
    const auto lines = wordLines(pdfText(pdf));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], QStringList{"A"});
    EXPECT_EQ(lines[2], (QStringList{"No", "records."}));
}

TEST(ReportListing, UnwritableOutputIsAClearErrorAndKeepsTheOldFile) {
    QTemporaryDir dir;
    auto rs = open(smallTable(dir), "Señores");
    const QString missing = dir.filePath("no/such/folder/out.pdf");
    try {
        ReportListing::writePdf(*rs, "t", missing);
        FAIL() << "no error";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::DeviceUnavailable);
        EXPECT_TRUE(e.description().contains(missing)) << e.description().toStdString();
    }
    EXPECT_THROW(ReportListing::writePdf(*rs, "t", dir.path()), dao::Error);  // a folder, not a file
    EXPECT_THROW(ReportListing::writePdf(*rs, "t", ""), dao::Error);

    // A failure while painting (the recordset closed) leaves an existing file as it was.
    const QString kept = dir.filePath("kept.pdf");
    {
        QFile f(kept);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    rs->Close();
    EXPECT_THROW(ReportListing::writePdf(*rs, "t", kept), dao::Error);
    QFile f(kept);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "old");
}

TEST_P(ReportListingBackend, CliReportWritesTheListing) {
    QTemporaryDir& dir = dir_;
    const QString db = database(longTable(dir, 150), "Items");
    const QString pdf = dir.filePath("cli.pdf");
    QProcess p;
    p.start(TABULON_CLI, {"report", db, "select Id, Name from Items where Id > 10", pdf});
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const auto first = wordLines(pdfText(pdf, 1));
    ASSERT_GE(first.size(), 3u);
    EXPECT_EQ(first[0], QStringList{"Items"});
    EXPECT_EQ(first[1], (QStringList{"Id", "Name"}));
    EXPECT_EQ(first[2], (QStringList{"11", "item", "11"}));
    const auto last = wordLines(pdfText(pdf, 3));
    ASSERT_GE(last.size(), 3u);
    EXPECT_EQ(last[1], (QStringList{"Id", "Name"}));
    EXPECT_EQ(last[last.size() - 2], (QStringList{"150", "item", "150"}));

    p.start(TABULON_CLI, {"report", db, "Items", dir.filePath("missing/out.pdf")});
    ASSERT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(
        QString::fromUtf8(p.readAllStandardError()).contains("error 68: Cannot write the report file"));
}

class ReportControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = longTable(dir_, 120);
        data_.setDatabaseName(file_);
        data_.setRecordSource("Items");
        report_.setDataControl(&data_);
    }
    QTemporaryDir dir_;
    QString file_;
    DataControl data_;
    ReportControl report_;
};

TEST_F(ReportControlTest, NumberedSettingsShowTheListingInAModalPreview) {
    QString caption;
    bool maximized = false, modal = false;
    const auto old = ReportControl::setPreviewRunner([&](QPrintPreviewDialog& dialog) {
        caption = dialog.windowTitle();
        maximized = dialog.windowState() & Qt::WindowMaximized;
        QTimer::singleShot(0, &dialog, [&] {
            modal = dialog.isModal();
            dialog.reject();
        });
        dialog.exec();
    });
    report_.setNumericSetting(24, 2);
    report_.setNumericSetting(24, 0);
    report_.setBooleanSetting(66, true);
    EXPECT_EQ(report_.Destination(), crptToWindow);
    EXPECT_TRUE(report_.Action(28));
    ReportControl::setPreviewRunner(old);
    EXPECT_EQ(caption, "Items");
    EXPECT_TRUE(maximized);
    EXPECT_TRUE(modal);
    EXPECT_GE(report_.LastPageCount(), 3);  // the preview painted the listing
    EXPECT_EQ(data_.Recordset()->AbsolutePosition(), 0);

    for (auto call : {std::function<void()>([&] { report_.setNumericSetting(25, 0); }),
                      std::function<void()>([&] { report_.setNumericSetting(24, 7); }),
                      std::function<void()>([&] { report_.setBooleanSetting(65, true); }),
                      std::function<void()>([&] { report_.Action(1); })}) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), dao::err::InvalidProcedureCall);
        }
    }
}

TEST_F(ReportControlTest, PrinterAndFileDestinations) {
    if (!havePdftotext()) GTEST_SKIP() << "pdftotext is not installed";
    // The print dialog chooses a PDF printer; cancelling it prints nothing.
    const QString printed = dir_.filePath("printed.pdf");
    bool answer = false;
    const auto old = ReportControl::setPrintDialogRunner([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printed);
        return answer;
    });
    report_.setDestination(crptToPrinter);
    EXPECT_FALSE(report_.PrintReport());
    EXPECT_FALSE(QFile::exists(printed));
    answer = true;
    EXPECT_TRUE(report_.PrintReport());
    ReportControl::setPrintDialogRunner(old);
    const auto lines = wordLines(pdfText(printed, 1));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], (QStringList{"Id", "Name"}));
    EXPECT_EQ(lines[2], (QStringList{"1", "item", "1"}));

    report_.setPrinterName("no printer by this name");
    try {
        report_.PrintReport();
        ADD_FAILURE() << "no error";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::DeviceUnavailable);
    }

    // A file: named, or asked for through the save prompt (a cancel writes nothing).
    report_.setDestination(crptToFile);
    report_.setReportTitle("All items");
    const QString asked = dir_.filePath("asked.pdf");
    {
        PromptScript script;
        script.cancel().answer(asked);
        EXPECT_FALSE(report_.PrintReport());
        EXPECT_TRUE(report_.PrintReport());
        ASSERT_EQ(script.count(), 2);
        EXPECT_EQ(script.last().kind, PromptKind::SaveFile);
    }
    EXPECT_EQ(wordLines(pdfText(asked, 1))[0], (QStringList{"All", "items"}));
    report_.setPrintFileName(dir_.filePath("none/x.pdf"));
    EXPECT_THROW(report_.PrintReport(), dao::Error);

    ReportControl unbound;
    EXPECT_THROW(unbound.PrintReport(), dao::Error);
}
