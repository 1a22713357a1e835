#include "TextFileCommands.h"

#include <QCheckBox>
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

}  // namespace browser
