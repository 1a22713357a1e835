#pragma once

// The listing report: the records of a recordset painted page by page on a paged device (a PDF
// writer, a printer, a print preview). Every page has the title, the column headers (field names),
// its share of the records and a footer with the date and "Page N of M". Values are shown by the
// value-to-text conversion on one line each: Null is empty, line breaks become blanks and a text
// wider than its column is cut with an ellipsis. A listing too wide for portrait paper is laid out
// in landscape, with a smaller type when that makes it fit; columns that still do not fit continue
// on further pages across, as spreadsheets print: for each group of records, one page per band of
// columns, each with its column headers and "Fields a-b of n" in the footer.
//
// Records are read with Recordset::valueAt one page at a time, so a large table is never held in
// memory and the recordset's current record does not move.

#include <QDate>
#include <QFont>
#include <QString>
#include <QStringList>
#include <vector>

#include "ReportFile.h"

class QPagedPaintDevice;
class QPaintDevice;
class QPainter;
class QPrinter;

namespace dao {
class Recordset;
}

namespace platform {

class ReportListing {
public:
    ReportListing(dao::Recordset& recordset, const QString& title);

    QString title() const { return title_; }
    // The date printed in the footer; today unless set.
    QDate date() const { return date_; }
    void setDate(const QDate& date) { date_ = date; }

    // Column widths in twips, one per field in order; 0 (or a missing entry) keeps the width the
    // values need. Set before setupPage.
    void setColumnWidthsTwips(const std::vector<double>& widths) { fixedTwips_ = widths; }
    // Portrait or landscape whatever the columns need; Auto (the default) decides by their width.
    void setOrientation(ReportOrientation orientation) { orientation_ = orientation; }

    // Chooses the orientation (landscape when the columns do not fit portrait paper) and the
    // margins of the device's page. Call it before painting; a printer dialog shown afterwards
    // may still change them.
    void setupPage(QPagedPaintDevice& device);

    // Paints the listing on the device: every page, or the page range a printer was given.
    // Returns the number of pages painted. Throws dao::Error 68 when the device cannot be painted
    // on; engine errors reading the recordset (a closed recordset) reach the caller.
    int paint(QPagedPaintDevice& device);
    // The same on an active painter (a print preview's printer, already begun by the caller).
    int paint(QPainter& painter, QPagedPaintDevice& device);

    // The page count of the last paint (from the record count and the rows that fit a page).
    int pageCount() const { return pageCount_; }
    // The number of pages across (bands of columns) of the last paint.
    int bandCount() const { return bandCount_; }

    // Writes the listing of `recordset` as a PDF file (A4). The file is replaced only when the
    // whole listing was written; any failure raises dao::Error 68 naming the file and the cause.
    static int writePdf(dao::Recordset& recordset, const QString& title, const QString& path,
                        const std::vector<double>& widthsTwips = {},
                        ReportOrientation orientation = ReportOrientation::Auto);

    // The text a value shows in a cell (Null empty, binary as the conversion gives it, one line).
    static QString cellText(dao::Recordset& recordset, long long row, int field);

private:
    struct Layout;
    std::vector<double> naturalWidths(const QPaintDevice& device, const QFont& header,
                                      const QFont& body) const;
    Layout layoutFor(QPagedPaintDevice& device) const;
    void paintPage(QPainter& painter, const Layout& l, int page);

    dao::Recordset& rs_;
    QString title_;
    QDate date_;
    QStringList names_;
    std::vector<bool> rightAligned_;
    long long records_ = 0;
    int pageCount_ = 0;
    int bandCount_ = 1;
    std::vector<double> fixedTwips_;
    ReportOrientation orientation_ = ReportOrientation::Auto;
    QFont titleFont_, headerFont_, bodyFont_, footerFont_;
};

}  // namespace platform
