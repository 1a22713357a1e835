#pragma once

// The report list: the reports a caller registered with AddReport, each with its picture; a
// double-click runs the report file in the report control's preview window. Report files (see
// platform/ReportFile.h) are kept in the program's own folder. Closing the window forgets the
// reports, so the next use starts with an empty list.

#include <QDialog>
#include <QIcon>
#include <QString>
#include <array>
#include <vector>

class QFrame;
class QListWidget;
class QPushButton;

namespace platform {
class ReportControl;
}

namespace dialogs {

class ReportForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int MaxReports = 100;

    struct ReportEntry {
        QString name;
        QString file;     // relative to the program's folder
        qint16 picture = 1;
        QString formula;  // empty: the report's own selection
    };

    explicit ReportForm(QWidget* parent = nullptr);

    // Registers a report; iPic 0 means picture 1. Reports beyond MaxReports are not kept.
    void AddReport(const QString& sReportName, const QString& sReportFile, qint16 iPic = 0,
                   const QString& sFormula = QString());

    int reportCount() const { return count_; }
    const ReportEntry& entry(int position) const { return entries_[size_t(position)]; }  // 1-based

    // Runs the report at list row `row` (0-based), as a double-click does.
    void runReport(int row);

    // A file name in a folder, with one separator between them whether or not the folder ends
    // with one.
    static QString reportPath(const QString& folder, const QString& file);
    // The folder report files are read from; the program's own unless set (for tests).
    static QString programFolder();
    static void setProgramFolder(const QString& folder);

    QListWidget* itemsList() const { return ItemsList; }
    platform::ReportControl* reportControl() const { return ReportC; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape and the window's close button end here too: the window unloads.
    void done(int result) override;

private:
    void fillList();

    QFrame* SSPanel1;
    QListWidget* ItemsList;
    std::vector<QIcon> ItemsPics;  // the image list: picture n is ItemsPics[n - 1]
    platform::ReportControl* ReportC;
    QPushButton* SSCommand1;

    std::array<ReportEntry, MaxReports + 1> entries_{};  // positions 1..MaxReports
    qint16 count_ = 0;
};

}  // namespace dialogs
