#include <gtest/gtest.h>

#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "QStringPrint.h"
#include "TestUtil.h"
#include "platform/ReportListing.h"
#include "platform/dao/Dao.h"

using namespace platform;

namespace {

QString pageText(const QString& pdf, int page) {
    QProcess p;
    p.start("pdftotext", {"-layout", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(ReportListingWide, ColumnsThatDoNotFitContinueOnPagesAcross) {
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
    QTemporaryDir dir;
    QStringList cols, values;
    for (int i = 1; i <= 60; ++i) {
        cols << QString("Field%1 TEXT(20)").arg(i);
        values << QString("'v%1x'").arg(i);
    }
    QStringList sql{"create table Wide (" + cols.join(", ") + ")"};
    for (int r = 0; r < 3; ++r) sql << "insert into Wide values (" + values.join(", ") + ")";
    const QString file = testutil::makeSqlite(dir, "wide.db", sql);
    auto db = dao::OpenDatabase(file);
    auto rs = db->OpenRecordset("Wide");

    const QString pdf = dir.filePath("wide.pdf");
    const int pages = ReportListing::writePdf(*rs, "Wide", pdf);
    ASSERT_GT(pages, 1);

    // Every field shows once, whole, with its three values, on some page across.
    QString all;
    for (int p = 1; p <= pages; ++p) {
        const QString text = pageText(pdf, p);
        EXPECT_TRUE(text.contains(QString("Page %1 of %2").arg(p).arg(pages))) << text.toStdString();
        EXPECT_TRUE(text.contains("Fields ")) << text.toStdString();
        EXPECT_FALSE(text.contains(QChar(0x2026))) << "an elided value on page " << p;
        all += text;
    }
    for (int i = 1; i <= 60; ++i) {
        EXPECT_EQ(all.count(QRegularExpression(QString("\\bField%1\\b").arg(i))), 1) << i;
        EXPECT_EQ(all.count(QRegularExpression(QString("\\bv%1x\\b").arg(i))), 3) << i;
    }
    EXPECT_TRUE(pageText(pdf, 1).contains("Fields 1-"));

    // A listing that fits stays on one page across.
    auto narrow = db->OpenRecordset("select Field1, Field2 from Wide");
    EXPECT_EQ(ReportListing::writePdf(*narrow, "Narrow", dir.filePath("n.pdf")), 1);
    EXPECT_FALSE(pageText(dir.filePath("n.pdf"), 1).contains("Fields "));
}

}  // namespace
