#include "ReportControl.h"

#include <QApplication>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <optional>
#include <utility>

#include "Prompts.h"
#include "ReportListing.h"
#include "dao/Dao.h"

namespace platform {

namespace {

constexpr int kSettingDestination = 24;
constexpr int kSettingWindowMaximized = 66;
constexpr int kActionPrintReport = 28;

ReportControl::PreviewRunner& previewRunner() {
    static ReportControl::PreviewRunner runner;
    return runner;
}

ReportControl::PrintDialogRunner& printDialogRunner() {
    static ReportControl::PrintDialogRunner runner;
    return runner;
}

[[noreturn]] void invalidCall(const QString& what) {
    dao::raise(dao::err::InvalidProcedureCall, what);
}

}  // namespace

ReportControl::ReportControl(QObject* parent) : QObject(parent) {}
ReportControl::~ReportControl() = default;

ReportControl::PreviewRunner ReportControl::setPreviewRunner(PreviewRunner runner) {
    return std::exchange(previewRunner(), std::move(runner));
}

ReportControl::PrintDialogRunner ReportControl::setPrintDialogRunner(PrintDialogRunner runner) {
    return std::exchange(printDialogRunner(), std::move(runner));
}

void ReportControl::setDestination(int destination) {
    if (destination < crptToWindow || destination > crptToFile)
        invalidCall(QStringLiteral("Unknown report destination %1.").arg(destination));
    destination_ = destination;
}

void ReportControl::setNumericSetting(int number, int value) {
    if (number != kSettingDestination) invalidCall(QStringLiteral("Unknown report setting %1.").arg(number));
    setDestination(value);
}

void ReportControl::setBooleanSetting(int number, bool value) {
    if (number != kSettingWindowMaximized)
        invalidCall(QStringLiteral("Unknown report option %1.").arg(number));
    setWindowMaximized(value);
}

bool ReportControl::Action(int number) {
    if (number != kActionPrintReport) invalidCall(QStringLiteral("Unknown report action %1.").arg(number));
    return PrintReport();
}

std::shared_ptr<dao::Recordset> ReportControl::recordset() {
    if (!dataControl_) invalidCall(QStringLiteral("The report has no data source."));
    if (!dataControl_->Recordset()) dataControl_->Refresh();
    std::shared_ptr<dao::Recordset> rs = dataControl_->Recordset();
    if (!rs || !rs->isOpen()) dao::raise(dao::err::ObjectClosed);
    return rs;
}

QString ReportControl::titleFor(dao::Recordset& rs) const {
    if (!reportTitle_.isEmpty()) return reportTitle_;
    const QString name = rs.Name();
    return name.isEmpty() ? dataControl_->RecordSource() : name;
}

std::shared_ptr<dao::Recordset> ReportControl::reportFileRecordset(QString& title) {
    const ReportFile file = ReportFile::load(reportFileName_);
    QString database = dataFiles_;
    if (database.isEmpty()) database = file.databasePath();
    if (database.isEmpty() && dataControl_) database = dataControl_->DatabaseName();
    if (database.isEmpty())
        invalidCall(QStringLiteral("The report \"%1\" has no database to read.").arg(reportFileName_));
    lastRecordSource_ = file.recordSource(selectionFormula_.trimmed().isEmpty() ? file.formula : selectionFormula_);
    auto db = dao::OpenDatabase(database);
    auto rs = db->OpenRecordset(lastRecordSource_);
    runDatabase_ = db;
    runWidths_ = file.columnWidths();
    runOrientation_ = file.orientation;
    title = reportTitle_.isEmpty() ? file.listingTitle() : reportTitle_;
    return rs;
}

void ReportControl::configure(ReportListing& listing) const {
    listing.setColumnWidthsTwips(runWidths_);
    listing.setOrientation(runOrientation_);
}

bool ReportControl::PrintReport() {
    // The recordset is held for the whole run: the data control may be refreshed meanwhile (from
    // the preview window's owner), and the listing must not lose its records.
    runWidths_.clear();
    runOrientation_ = ReportOrientation::Auto;
    runDatabase_.reset();
    std::shared_ptr<dao::Recordset> rs;
    QString title;
    if (!reportFileName_.isEmpty()) {
        rs = reportFileRecordset(title);
    } else {
        rs = recordset();
        title = titleFor(*rs);
    }
    struct Release {
        ReportControl* self;
        ~Release() { self->runDatabase_.reset(); }
    } release{this};
    switch (destination_) {
        case crptToPrinter:
            return toPrinter(*rs, title);
        case crptToFile:
            return toFile(*rs, title);
        default:
            return toWindow(*rs, title);
    }
}

bool ReportControl::toWindow(dao::Recordset& rs, const QString& title) {
    QPrinter printer(QPrinter::HighResolution);
    ReportListing listing(rs, title);
    configure(listing);
    listing.setupPage(printer);
    QPrintPreviewDialog dialog(&printer, QApplication::activeWindow());
    dialog.setObjectName(QStringLiteral("ReportPreview"));
    dialog.setWindowTitle(windowTitle_.isEmpty() ? title : windowTitle_);
    if (windowMaximized_) dialog.setWindowState(dialog.windowState() | Qt::WindowMaximized);
    // The preview paints from inside its own event loop: an error is kept, the window closed and
    // the error raised once the loop has ended.
    std::optional<dao::Error> failure;
    connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter* target) {
        if (failure) return;
        QPainter painter;
        if (!painter.begin(target)) {
            failure = dao::Error(dao::err::DeviceUnavailable, QStringLiteral("The report cannot be shown."));
        } else {
            try {
                lastPageCount_ = listing.paint(painter, *target);
            } catch (const dao::Error& e) {
                failure = e;
            }
            painter.end();
        }
        if (failure) dialog.reject();
    });
    if (const PreviewRunner& run = previewRunner())
        run(dialog);
    else
        dialog.exec();
    if (failure) throw *failure;
    return true;
}

bool ReportControl::toPrinter(dao::Recordset& rs, const QString& title) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(title);
    ReportListing listing(rs, title);
    configure(listing);
    if (!printerName_.isEmpty()) {
        if (QPrinterInfo::printerInfo(printerName_).isNull())
            dao::raise(dao::err::DeviceUnavailable,
                       QStringLiteral("The printer \"%1\" is not available.").arg(printerName_));
        printer.setPrinterName(printerName_);
        listing.setupPage(printer);
    } else {
        listing.setupPage(printer);
        bool accepted = false;
        if (const PrintDialogRunner& run = printDialogRunner()) {
            accepted = run(printer);
        } else {
            QPrintDialog dialog(&printer, QApplication::activeWindow());
            dialog.setWindowTitle(appTitle());
            accepted = dialog.exec() == QDialog::Accepted;
        }
        if (!accepted) return false;
    }
    lastPageCount_ = listing.paint(printer);
    return true;
}

bool ReportControl::toFile(dao::Recordset& rs, const QString& title) {
    QString path = printFileName_;
    if (path.isEmpty()) {
        path = SaveFileDialog(QStringLiteral("Save the listing"), title + QStringLiteral(".pdf"),
                              QStringLiteral("PDF files (*.pdf)"));
        if (path.isEmpty()) return false;
    }
    lastPageCount_ = ReportListing::writePdf(rs, title, path, runWidths_, runOrientation_);
    return true;
}

}  // namespace platform
