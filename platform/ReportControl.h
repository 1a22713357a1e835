#pragma once

// The report control of a window: bound to a data control, it produces the listing of the data
// control's records (ReportListing) in a print preview window, on a printer or in a PDF file.
//
// The windows drive it by the classic numbered settings:
//   numeric setting 24  -> Destination (0 preview window, 1 printer, 2 file)
//   boolean setting 66  -> WindowMaximized (the preview window opens maximised)
//   action 28           -> PrintReport()
// Any other number raises error 5.
//
// The interactive parts (the modal preview window, the print dialog) go through replaceable
// runners, so that tests can look at them or answer them without a person.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "DataControl.h"
#include "ReportFile.h"

class QPrinter;
class QPrintPreviewDialog;

namespace dao {
class Recordset;
}

namespace platform {

class ReportListing;

enum ReportDestination : int { crptToWindow = 0, crptToPrinter = 1, crptToFile = 2 };

class ReportControl : public QObject {
    Q_OBJECT
public:
    explicit ReportControl(QObject* parent = nullptr);
    ~ReportControl() override;

    // The data source; its records are read when the report runs (a data control that was never
    // refreshed is refreshed first).
    void setDataControl(DataControl* dataControl) { dataControl_ = dataControl; }
    DataControl* dataControl() const { return dataControl_; }

    int Destination() const { return destination_; }
    void setDestination(int destination);  // crptTo...; another value raises error 5

    // A report file (see ReportFile.h) to run instead of the data control's records: its record
    // source, title, columns, order and orientation. Empty: the data control's listing.
    QString ReportFileName() const { return reportFileName_; }
    void setReportFileName(const QString& path) { reportFileName_ = path; }
    // Replaces the report file's selection formula (a Jet condition) when not empty.
    QString SelectionFormula() const { return selectionFormula_; }
    void setSelectionFormula(const QString& formula) { selectionFormula_ = formula; }
    // The database a report file reads: this path when set, else the one the file names, else the
    // data control's database.
    QString DataFiles() const { return dataFiles_; }
    void setDataFiles(const QString& path) { dataFiles_ = path; }
    // The record source of the last report file run (for the curious and for tests).
    QString LastRecordSource() const { return lastRecordSource_; }

    // The listing's title; empty means the record source's table (or the SQL text of a query over
    // several tables).
    QString ReportTitle() const { return reportTitle_; }
    void setReportTitle(const QString& title) { reportTitle_ = title; }

    // The preview window's caption; empty means the listing's title.
    QString WindowTitle() const { return windowTitle_; }
    void setWindowTitle(const QString& title) { windowTitle_ = title; }
    bool WindowMaximized() const { return windowMaximized_; }
    void setWindowMaximized(bool maximized) { windowMaximized_ = maximized; }

    // The PDF file written for crptToFile; when empty the user is asked through the save-file prompt.
    QString PrintFileName() const { return printFileName_; }
    void setPrintFileName(const QString& path) { printFileName_ = path; }

    // The printer for crptToPrinter. When set, the listing goes straight to it (no print dialog);
    // a printer that does not exist raises error 68.
    QString PrinterName() const { return printerName_; }
    void setPrinterName(const QString& name) { printerName_ = name; }

    // Produces the listing at the destination. False when the user cancelled (the print dialog or
    // the file prompt); true otherwise, the preview window included once it is closed. Errors
    // (no data source, an engine error, an output that cannot be written) raise dao::Error.
    bool PrintReport();

    // The numbered settings and actions (see the top of this file).
    void setNumericSetting(int number, int value);
    void setBooleanSetting(int number, bool value);
    bool Action(int number);

    // The number of pages of the last listing produced (0 before any).
    int LastPageCount() const { return lastPageCount_; }

    // Replaceable interactive parts. The preview runner gets the configured preview window (its
    // caption and window state set, the listing connected to its paintRequested signal) and shows
    // it; the default runs it modally. The print dialog runner gets the printer about to be used
    // and returns false to cancel; the default shows QPrintDialog. Each setter returns the runner
    // it replaces; an empty function restores the default.
    using PreviewRunner = std::function<void(QPrintPreviewDialog& dialog)>;
    using PrintDialogRunner = std::function<bool(QPrinter& printer)>;
    static PreviewRunner setPreviewRunner(PreviewRunner runner);
    static PrintDialogRunner setPrintDialogRunner(PrintDialogRunner runner);

private:
    std::shared_ptr<dao::Recordset> recordset();
    std::shared_ptr<dao::Recordset> reportFileRecordset(QString& title);
    QString titleFor(dao::Recordset& rs) const;
    void configure(ReportListing& listing) const;
    bool toWindow(dao::Recordset& rs, const QString& title);
    bool toPrinter(dao::Recordset& rs, const QString& title);
    bool toFile(dao::Recordset& rs, const QString& title);

    QPointer<DataControl> dataControl_;
    int destination_ = crptToWindow;
    QString reportTitle_;
    QString windowTitle_;
    bool windowMaximized_ = false;
    QString printFileName_;
    QString printerName_;
    int lastPageCount_ = 0;
    QString reportFileName_;
    QString selectionFormula_;
    QString dataFiles_;
    QString lastRecordSource_;
    // The layout of the run in progress (a report file's; none for the data control's listing).
    std::vector<double> runWidths_;
    ReportOrientation runOrientation_ = ReportOrientation::Auto;
    std::shared_ptr<dao::Database> runDatabase_;
};

}  // namespace platform
