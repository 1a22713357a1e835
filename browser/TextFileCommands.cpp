#include "TextFileCommands.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QComboBox>
#include <QGuiApplication>

#include "AdvanceViewForm.h"
#include "PanelControls.h"
#include "WorkingProgress.h"
#include "bulk/ExportTool.h"
#include "bulk/ImportTool.h"
#include "bulk/VerifyTool.h"
#include "platform/Prompts.h"
#include "platform/DataControl.h"
#include "platform/dao/Dao.h"

namespace browser {

namespace {

// The tools ask and tell while the working display shows the hourglass: the pointer is an arrow
// while a message box waits for an answer.
class ArrowPrompter : public bulk::Prompter {
public:
    int message(const QString& text, int style, const QString& title) override {
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
        const int answer = bulk::Prompter::message(text, style, title);
        QGuiApplication::restoreOverrideCursor();
        return answer;
    }
};

// Verify renumbers in passes and Export writes its file whole or not at all: neither can stop
// between two records, so they show no Cancel.
common::WorkingWidgets withoutCancel(const AdvanceViewForm& form) {
    common::WorkingWidgets w = form.workingWidgets();
    w.cancelButton = nullptr;
    w.stop = nullptr;
    return w;
}

}  // namespace

void runVerify(AdvanceViewForm& form) {
    const PanelControls& c = form.controls();
    platform::DataControl* data = form.dataControl();
    WorkingProgress progress(withoutCancel(form));
    // A connection of its own to the same file, over the record source the grid shows.
    ArrowPrompter prompts;
    bulk::VerifyTool tool(form.DB_DATABASEFILE, data->RecordSource(), progress, prompts);
    const bulk::VerifyResult result = tool.run(c.VerifyFields->currentText(), c.VerifyChk->isChecked());
    if (result.nothingChosen) return;
    try {
        data->Refresh();
    } catch (const dao::Error& e) {
        data->raiseError(e);
    }
}

void runExport(AdvanceViewForm& form) {
    const std::shared_ptr<dao::Recordset> rs = form.dataControl()->Recordset();
    if (!rs) return;
    WorkingProgress progress(withoutCancel(form));
    ArrowPrompter prompts;
    const bulk::ExportResult result = bulk::ExportTool(rs, progress, prompts).run(form.DB_SELECTED_TABLE);
    if (result.cancelled) return;
    // The recordset was walked past its last record.
    form.dataControl()->notifyReposition();
    form.ResetMenus();
}

void runImport(AdvanceViewForm& form) {
    const std::shared_ptr<dao::Recordset> rs = form.dataControl()->Recordset();
    if (!rs) return;
    WorkingProgress progress(form.workingWidgets());
    ArrowPrompter prompts;
    const bulk::ImportResult result = bulk::ImportTool(rs, progress, prompts).run(form.DB_SELECTED_TABLE);
    // Not re-queried: the added records stand at the end of the records shown.
    if (result.added > 0) form.dataControl()->notifyRecordsChanged();
    if (result.stopped)
        platform::MsgBox(QStringLiteral("Stopped after %1 record%2 added. The records added stay.")
                             .arg(result.added)
                             .arg(result.added == 1 ? "" : "s"),
                         platform::vbInformation);
}

void runCopyTable(AdvanceViewForm& form) {
    const QString table = form.DB_SELECTED_TABLE;
    const QString dest =
        platform::InputBox(QString("Copy the table '%1' into (a PostgreSQL URI, or an SQLite file made when missing):").arg(table),
                           QStringLiteral("Copy Table"))
            .trimmed();
    if (dest.isEmpty()) return;
    const QString as = platform::InputBox(QStringLiteral("Name of the new table there:"), QStringLiteral("Copy Table"), table).trimmed();
    if (as.isEmpty()) return;
    long long rows = 0;
    try {
        WorkingProgress progress(withoutCancel(form));
        auto source = dao::OpenDatabase(form.DB_DATABASEFILE);
        auto target = dao::IsServerUri(dest) || QFileInfo::exists(dest) ? dao::OpenDatabase(dest) : dao::CreateDatabase(dest);
        rows = dao::CopyTable(*source, table, *target, as);
        target->Close();
    } catch (const dao::Error& e) {
        // Nothing of the records shown is involved: told as the main window tells an engine error.
        platform::MsgBox(QString("%1: %2").arg(e.number()).arg(e.description()), platform::vbCritical);
        return;
    }
    platform::MsgBox(QString("%1 record%2 copied into the table '%3' of %4.")
                         .arg(rows)
                         .arg(rows == 1 ? "" : "s")
                         .arg(as, dao::ShownDatabaseName(dest)),
                     platform::vbInformation);
}

}  // namespace browser
