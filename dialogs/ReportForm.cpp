#include "ReportForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>

#include "common/ProgramGlobals.h"
#include "common/StandarFunctions.h"
#include "platform/Prompts.h"
#include "platform/ReportControl.h"
#include "platform/ReportFile.h"
#include "platform/Twips.h"
#include "platform/dao/Error.h"

namespace dialogs {

namespace {
QString& folderOverride() {
    static QString folder;
    return folder;
}
constexpr int SettingDestination = 24;
constexpr int SettingWindowMaximized = 66;
constexpr int ActionPrintReport = 28;
}  // namespace

ReportForm::ReportForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ReportForm"));
    setWindowTitle(QStringLiteral("Reportes "));

    // The image list: 1 a report, 2 a table, 3 a chart-like view, 4 a folder of reports.
    for (QStyle::StandardPixmap sp : {QStyle::SP_FileIcon, QStyle::SP_FileDialogDetailedView,
                                      QStyle::SP_FileDialogInfoView, QStyle::SP_DirIcon})
        ItemsPics.push_back(style()->standardIcon(sp));

    SSPanel1 = new QFrame(this);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    SSPanel1->setFrameShape(QFrame::StyledPanel);
    ItemsList = new QListWidget(SSPanel1);
    ItemsList->setObjectName(QStringLiteral("ItemsList"));
    ItemsList->setViewMode(QListView::IconMode);
    ItemsList->setResizeMode(QListView::Adjust);
    ItemsList->setMovement(QListView::Static);
    ItemsList->setWordWrap(true);
    const int icon = platform::twipsToPixelsX(480);
    ItemsList->setIconSize(QSize(icon, icon));
    ItemsList->setGridSize(QSize(platform::twipsToPixelsX(1500), platform::twipsToPixelsY(1100)));
    ReportC = new platform::ReportControl(this);
    ReportC->setObjectName(QStringLiteral("ReportC"));
    SSCommand1 = new QPushButton(QStringLiteral("&Close"), this);
    SSCommand1->setObjectName(QStringLiteral("SSCommand1"));

    auto* panel = new QVBoxLayout(SSPanel1);
    panel->addWidget(ItemsList);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SSCommand1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SSPanel1, 1);
    layout->addLayout(buttons);

    connect(ItemsList, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { runReport(ItemsList->row(item)); });
    connect(SSCommand1, &QPushButton::clicked, this, &QWidget::close);
    resize(platform::twipsToPixelsX(6000), platform::twipsToPixelsY(4500));
}

void ReportForm::AddReport(const QString& sReportName, const QString& sReportFile, qint16 iPic,
                           const QString& sFormula) {
    if (count_ >= MaxReports) return;
    ++count_;
    ReportEntry& e = entries_[size_t(count_)];
    e.name = sReportName;
    e.file = sReportFile;
    e.formula = sFormula;
    e.picture = iPic != 0 ? iPic : qint16(1);
}

void ReportForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    common::CenterForm(this);
    fillList();
}

void ReportForm::fillList() {
    ItemsList->clear();
    for (int i = 1; i <= count_; ++i) {
        const ReportEntry& e = entries_[size_t(i)];
        const int pic = e.picture;
        const QIcon icon = pic >= 1 && pic <= int(ItemsPics.size()) ? ItemsPics[size_t(pic - 1)] : QIcon();
        auto* item = new QListWidgetItem(icon, e.name, ItemsList);
        item->setData(Qt::UserRole, pic);
    }
}

void ReportForm::closeEvent(QCloseEvent* event) {
    entries_.fill(ReportEntry{});
    count_ = 0;
    QDialog::closeEvent(event);
}

void ReportForm::done(int result) {
    entries_.fill(ReportEntry{});
    count_ = 0;
    QDialog::done(result);
}

QString ReportForm::reportPath(const QString& folder, const QString& file) {
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator())) return folder + file;
    return folder + QLatin1Char('/') + file;
}

QString ReportForm::programFolder() {
    return folderOverride().isEmpty() ? QCoreApplication::applicationDirPath() : folderOverride();
}

void ReportForm::setProgramFolder(const QString& folder) {
    folderOverride() = folder;
}

void ReportForm::runReport(int row) {
    const int i = row + 1;
    if (i < 1 || i > count_) return;
    const ReportEntry& e = entries_[size_t(i)];
    try {
        const QString path = reportPath(programFolder(), e.file);
        ReportC->setReportFileName(path);
        ReportC->setNumericSetting(SettingDestination, platform::crptToWindow);
        ReportC->setBooleanSetting(SettingWindowMaximized, true);
        ReportC->setSelectionFormula(e.formula);
        // A report file that names no database reads the program's.
        const platform::ReportFile file = platform::ReportFile::load(path);
        ReportC->setDataFiles(file.databasePath().isEmpty() ? common::DatabaseFile : QString());
        ReportC->Action(ActionPrintReport);
    } catch (const dao::Error& ex) {
        platform::MsgBox(ex.description() + QStringLiteral(" - ") + QString::number(ex.number()),
                         platform::vbCritical);
    }
}

}  // namespace dialogs
