#include "TextFileCommands.h"

#include <QCheckBox>
#include <QComboBox>

#include "AdvanceViewForm.h"
#include "PanelControls.h"
#include "WorkingProgress.h"
#include "bulk/ExportTool.h"
#include "bulk/ImportTool.h"
#include "bulk/VerifyTool.h"
#include "platform/DataControl.h"
#include "platform/dao/Dao.h"

namespace browser {

void runVerify(AdvanceViewForm& form) {
    const PanelControls& c = form.controls();
    platform::DataControl* data = form.dataControl();
    WorkingProgress progress(form.workingWidgets());
    // A connection of its own to the same file, over the record source the grid shows.
    bulk::VerifyTool tool(form.DB_DATABASEFILE, data->RecordSource(), progress);
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
    WorkingProgress progress(form.workingWidgets());
    const bulk::ExportResult result = bulk::ExportTool(rs, progress).run(form.DB_SELECTED_TABLE);
    if (result.cancelled) return;
    // The recordset was walked past its last record.
    form.dataControl()->notifyReposition();
    form.ResetMenus();
}

void runImport(AdvanceViewForm& form) {
    const std::shared_ptr<dao::Recordset> rs = form.dataControl()->Recordset();
    if (!rs) return;
    WorkingProgress progress(form.workingWidgets());
    const bulk::ImportResult result = bulk::ImportTool(rs, progress).run(form.DB_SELECTED_TABLE);
    // Not re-queried: the added records stand at the end of the records shown.
    if (result.added > 0) form.dataControl()->notifyRecordsChanged();
}

}  // namespace browser
