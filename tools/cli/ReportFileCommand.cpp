#include "ReportFileCommand.h"

#include "platform/ReportFile.h"
#include "platform/ReportListing.h"
#include "platform/dao/Dao.h"

namespace cli {

bool isReportFile(const QString& source) {
    // A select or a table name never ends so; a table called "x.report" is still reachable as
    // "select * from [x.report]".
    return source.trimmed().endsWith(QLatin1String(".report"), Qt::CaseInsensitive);
}

int runReportFile(const QString& database, const QString& reportFile, const QString& out) {
    const platform::ReportFile report = platform::ReportFile::load(reportFile);
    auto db = dao::OpenDatabase(database);
    {
        auto rs = db->OpenRecordset(report.recordSource());
        platform::ReportListing::writePdf(*rs, report.listingTitle(), out, report.columnWidths(),
                                          report.orientation);
        rs->Close();
    }
    db->Close();
    return 0;
}

}  // namespace cli
