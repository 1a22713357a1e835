#include "ReportListing.h"

#include <QDir>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "dao/Conversions.h"
#include "dao/Dao.h"

namespace platform {

namespace {

// Rows measured to size the columns: enough to see typical values, few enough to stay instant on
// a million-row table.
constexpr long long kSampleRows = 200;
// A text longer than this is cut before measuring; no column is that wide.
constexpr int kMaxCellChars = 400;
constexpr double kMarginMm = 12.0;
constexpr double kMinFontScale = 7.0 / 9.0;
constexpr double kMaxNaturalColumnPt = 216;  // 3 inches

QString oneLine(QString s) {
    if (s.size() > kMaxCellChars) s.truncate(kMaxCellChars);
    for (QChar& c : s)
        if (c == u'\r' || c == u'\n' || c == u'\t') c = u' ';
    return s;
}

QFont fontOf(double points, bool bold) {
    QFont f = QGuiApplication::font();
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

[[noreturn]] void deviceError(const QString& what) {
    dao::raise(dao::err::DeviceUnavailable, what);
}

}  // namespace

// Geometry of a page in device units; the painter's origin is the top left of the printable area.
struct ReportListing::Layout {
    double width = 0, height = 0;
    double pt = 1;  // device units per point
    double pad = 0;
    double titleTop = 0, titleH = 0;
    double headerTop = 0, headerH = 0;
    double bodyTop = 0, rowH = 0;
    double footerTop = 0, footerH = 0;
    int rowsPerPage = 1;
    std::vector<double> colX, colW;  // x from the left of the column's band
    // Consecutive columns that share a page across; a listing wider than the page continues its
    // columns on further pages, each with the same records.
    struct Band {
        size_t first = 0, end = 0;
        double width = 0;
    };
    std::vector<Band> bands;
    QFont headerFont, bodyFont;
};

ReportListing::ReportListing(dao::Recordset& recordset, const QString& title)
    : rs_(recordset),
      title_(title),
      date_(QDate::currentDate()),
      titleFont_(fontOf(13, true)),
      headerFont_(fontOf(9, true)),
      bodyFont_(fontOf(9, false)),
      footerFont_(fontOf(8, false)) {
    const dao::Fields fields = rs_.Fields();
    for (int i = 0; i < fields.Count(); ++i) {
        const dao::Field f = fields.Item(i);
        names_ << oneLine(f.Name());
        rightAligned_.push_back(dao::isNumberField(f.Type()));
    }
}

QString ReportListing::cellText(dao::Recordset& recordset, long long row, int field) {
    dao::Variant v;
    try {
        v = recordset.valueAt(row, field);
    } catch (const dao::Error& e) {
        // Deleted by someone else since the recordset was opened: the row stays, marked.
        if (e.number() == dao::err::RecordDeleted)
            return field == 0 ? QStringLiteral("(deleted)") : QString();
        throw;
    }
    if (v.isNull()) return {};
    return oneLine(dao::valueToText(v));
}

std::vector<double> ReportListing::naturalWidths(const QPaintDevice& device, const QFont& header,
                                                 const QFont& body) const {
    const QFontMetricsF hm(header, &device), bm(body, &device);
    const double pad = 2 * 3.0 * device.logicalDpiX() / 72.0;
    std::vector<double> w(size_t(names_.size()));
    for (int c = 0; c < names_.size(); ++c) w[size_t(c)] = hm.horizontalAdvance(names_[c]);
    const long long rows = std::min(rs_.RecordCount(), kSampleRows);
    for (long long r = 0; r < rows; ++r)
        for (int c = 0; c < names_.size(); ++c)
            w[size_t(c)] = std::max(w[size_t(c)], bm.horizontalAdvance(cellText(rs_, r, c)));
    // A long text does not claim more than a few inches: it would turn the page and shrink the type
    // of every other column only to show more of itself.
    const double widest = kMaxNaturalColumnPt * device.logicalDpiX() / 72.0;
    for (double& x : w) x = std::ceil(std::min(x, widest) + pad);
    // Widths the report asks for stand as given.
    for (size_t c = 0; c < w.size() && c < fixedTwips_.size(); ++c)
        if (fixedTwips_[c] > 0) w[c] = std::ceil(fixedTwips_[c] / 1440.0 * device.logicalDpiX());
    return w;
}

void ReportListing::setupPage(QPagedPaintDevice& device) {
    QPageLayout layout = device.pageLayout();
    layout.setUnits(QPageLayout::Millimeter);
    layout.setMargins(QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm));
    layout.setOrientation(QPageLayout::Portrait);
    if (orientation_ == ReportOrientation::Landscape) {
        layout.setOrientation(QPageLayout::Landscape);
    } else if (orientation_ == ReportOrientation::Auto) {
        const std::vector<double> w = naturalWidths(device, headerFont_, bodyFont_);
        const double need = std::accumulate(w.begin(), w.end(), 0.0);
        if (need > layout.paintRectPixels(device.logicalDpiX()).width())
            layout.setOrientation(QPageLayout::Landscape);
    }
    device.setPageLayout(layout);
}

ReportListing::Layout ReportListing::layoutFor(QPagedPaintDevice& device) const {
    Layout l;
    l.width = device.width();
    l.height = device.height();
    l.pt = device.logicalDpiY() / 72.0;
    l.pad = 3 * l.pt;
    // Columns that do not fit the page get a smaller type first (down to kMinFontScale); those that
    // still do not fit continue on pages across.
    l.headerFont = headerFont_;
    l.bodyFont = bodyFont_;
    std::vector<double> w = naturalWidths(device, l.headerFont, l.bodyFont);
    double total = std::accumulate(w.begin(), w.end(), 0.0);
    if (total > l.width) {
        const double scale = std::max(kMinFontScale, l.width / total);
        l.headerFont.setPointSizeF(headerFont_.pointSizeF() * scale);
        l.bodyFont.setPointSizeF(bodyFont_.pointSizeF() * scale);
        w = naturalWidths(device, l.headerFont, l.bodyFont);
        total = std::accumulate(w.begin(), w.end(), 0.0);
    }
    const QFontMetricsF tm(titleFont_, &device), hm(l.headerFont, &device), bm(l.bodyFont, &device),
        fm(footerFont_, &device);
    l.titleTop = 0;
    l.titleH = tm.height();
    l.headerTop = l.titleTop + l.titleH + 6 * l.pt;
    l.headerH = hm.height() + 4 * l.pt;
    l.bodyTop = l.headerTop + l.headerH + 2 * l.pt;
    l.rowH = bm.height() + 3 * l.pt;
    l.footerH = fm.height();
    l.footerTop = l.height - l.footerH;
    const double bodyBottom = l.footerTop - 6 * l.pt;
    l.rowsPerPage = std::max(1, int((bodyBottom - l.bodyTop) / l.rowH));

    // Each column gets what its widest sampled value needs. Columns go onto a page across for as
    // long as they fit; the rest continue on the next page across, so no column is squeezed until
    // its values are unreadable.
    Layout::Band band;
    double x = 0;
    for (size_t c = 0; c < w.size(); ++c) {
        const double cw = std::min(w[c], l.width);
        if (x + cw > l.width && c > band.first) {
            band.end = c;
            band.width = x;
            l.bands.push_back(band);
            band = Layout::Band();
            band.first = c;
            x = 0;
        }
        l.colX.push_back(x);
        l.colW.push_back(cw);
        x += cw;
    }
    band.end = w.size();
    band.width = x;
    l.bands.push_back(band);
    // A very narrow listing gets a wider last text column, so the header band does not look cut off.
    const double minTable = std::min(l.width, 200 * l.pt);
    if (l.bands.size() == 1 && x < minTable && !l.colW.empty() && !rightAligned_.back()) {
        l.colW.back() += minTable - x;
        l.bands.back().width = minTable;
    }
    return l;
}

int ReportListing::paint(QPagedPaintDevice& device) {
    QPainter painter;
    if (!painter.begin(&device)) deviceError(QStringLiteral("The report cannot be sent to its output."));
    int pages = 0;
    try {
        pages = paint(painter, device);
    } catch (...) {
        painter.end();
        throw;
    }
    if (!painter.end()) deviceError(QStringLiteral("The report could not be finished on its output."));
    return pages;
}

int ReportListing::paint(QPainter& painter, QPagedPaintDevice& device) {
    const Layout l = layoutFor(device);
    records_ = rs_.RecordCount();
    const long long rowPages = std::max(1LL, (records_ + l.rowsPerPage - 1) / l.rowsPerPage);
    pageCount_ = int(std::min<long long>(rowPages * (long long)l.bands.size(), std::numeric_limits<int>::max()));
    bandCount_ = int(l.bands.size());
    int first = 1, last = pageCount_;
    if (auto* printer = dynamic_cast<QPrinter*>(&device); printer && printer->fromPage() > 0) {
        first = printer->fromPage();
        if (printer->toPage() > 0) last = std::min(last, printer->toPage());
    }
    int painted = 0;
    for (int page = first; page <= last; ++page) {
        if (painted > 0 && !device.newPage())
            deviceError(QStringLiteral("The report could not start a new page."));
        paintPage(painter, l, page);
        ++painted;
    }
    return painted;
}

void ReportListing::paintPage(QPainter& painter, const Layout& l, int page) {
    painter.save();
    const double hair = std::max(1.0, 0.6 * l.pt);
    const QColor rule(90, 90, 90), band(238, 238, 238), zebra(246, 246, 246);

    painter.setFont(titleFont_);
    painter.setPen(Qt::black);
    const QFontMetricsF tm(titleFont_, painter.device());
    painter.drawText(QRectF(0, l.titleTop, l.width, l.titleH), Qt::AlignLeft | Qt::AlignVCenter,
                     tm.elidedText(oneLine(title_), Qt::ElideRight, l.width));

    // Pages go down the records and, for each group of records, across the column bands.
    const int bands = int(l.bands.size());
    const Layout::Band& cols = l.bands[size_t((page - 1) % bands)];
    const double tableW = cols.width;

    // Column headers, on every page.
    painter.fillRect(QRectF(0, l.headerTop, tableW, l.headerH), band);
    painter.fillRect(QRectF(0, l.headerTop + l.headerH - hair, tableW, hair), rule);
    painter.setFont(l.headerFont);
    const QFontMetricsF hm(l.headerFont, painter.device());
    for (size_t c = cols.first; c < cols.end; ++c) {
        const double w = l.colW[c] - 2 * l.pad;
        if (w <= 0) continue;
        const int align = (rightAligned_[c] ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
        painter.drawText(QRectF(l.colX[c] + l.pad, l.headerTop, w, l.headerH), align,
                         hm.elidedText(names_[int(c)], Qt::ElideRight, w));
    }

    painter.setFont(l.bodyFont);
    const QFontMetricsF bm(l.bodyFont, painter.device());
    const long long firstRow = (long long)((page - 1) / bands) * l.rowsPerPage;
    const long long endRow = std::min(records_, firstRow + l.rowsPerPage);
    if (records_ == 0) {
        QFont italic = l.bodyFont;
        italic.setItalic(true);
        painter.setFont(italic);
        painter.drawText(QRectF(l.pad, l.bodyTop, l.width, l.rowH), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("No records."));
        painter.setFont(l.bodyFont);
    }
    for (long long row = firstRow; row < endRow; ++row) {
        const double y = l.bodyTop + double(row - firstRow) * l.rowH;
        if ((row - firstRow) % 2 == 1) painter.fillRect(QRectF(0, y, tableW, l.rowH), zebra);
        for (size_t c = cols.first; c < cols.end; ++c) {
            const double w = l.colW[c] - 2 * l.pad;
            if (w <= 0) continue;
            const QString text = cellText(rs_, row, int(c));
            if (text.isEmpty()) continue;
            const int align = (rightAligned_[c] ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
            painter.drawText(QRectF(l.colX[c] + l.pad, y, w, l.rowH), align,
                             bm.elidedText(text, Qt::ElideRight, w));
        }
    }

    // Footer: the date and the page number.
    painter.fillRect(QRectF(0, l.footerTop - 3 * l.pt, l.width, hair), rule);
    painter.setFont(footerFont_);
    const QRectF foot(0, l.footerTop, l.width, l.footerH);
    painter.drawText(foot, Qt::AlignLeft | Qt::AlignVCenter,
                     QLocale().toString(date_, dao::shortDateFormat()));
    painter.drawText(foot, Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Page %1 of %2").arg(page).arg(pageCount_));
    if (bands > 1)
        painter.drawText(foot, Qt::AlignHCenter | Qt::AlignVCenter,
                         QStringLiteral("Fields %1-%2 of %3").arg(cols.first + 1).arg(cols.end).arg(names_.size()));
    painter.restore();
}

int ReportListing::writePdf(dao::Recordset& recordset, const QString& title, const QString& path,
                            const std::vector<double>& widthsTwips, ReportOrientation orientation) {
    const auto fail = [&](const QString& why) {
        deviceError(QStringLiteral("Cannot write the report file \"%1\": %2")
                        .arg(QDir::toNativeSeparators(path), why));
    };
    if (path.isEmpty()) fail(QStringLiteral("no file name given"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) fail(file.errorString());
    int pages = 0;
    {
        QPdfWriter writer(&file);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("Tabulon"));
        writer.setPageSize(QPageSize(QPageSize::A4));
        ReportListing listing(recordset, title);
        listing.setColumnWidthsTwips(widthsTwips);
        listing.setOrientation(orientation);
        listing.setupPage(writer);
        try {
            pages = listing.paint(writer);
        } catch (const dao::Error& e) {
            if (e.number() != dao::err::DeviceUnavailable) throw;
            fail(file.errorString().isEmpty() ? e.description() : file.errorString());
        }
    }
    if (!file.commit()) fail(file.errorString());
    return pages;
}

}  // namespace platform
