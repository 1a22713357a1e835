// The browser side of the bulk tools: read the panel's inputs, run the tool of bulk/ over the records
// shown, and leave the browser as each tool says.

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "AdvanceViewForm.h"
#include "ToolCommands.h"
#include "WorkingProgress.h"
#include "bulk/CopyFields.h"
#include "bulk/EraseRecords.h"
#include "bulk/FieldOperations.h"
#include "bulk/FindReplace.h"
#include "bulk/Totals.h"
#include "platform/DataControl.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

namespace browser {

namespace {

// The hourglass for a tool without a working display.
class Hourglass {
public:
    Hourglass() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Hourglass() { QGuiApplication::restoreOverrideCursor(); }
};

// Engine errors a tool does not handle itself end the tool with a message instead of the program.
void reportUnexpected(const dao::Error& e) {
    platform::MsgBox(e.description() + QStringLiteral(" - ") + QString::number(e.number()),
                     platform::vbExclamation);
}

QString records(qint64 n) {
    return QString::number(n) + (n == 1 ? QStringLiteral(" record") : QStringLiteral(" records"));
}

// A tool the user stopped: how far it got; what it committed stays.
void reportStopped(qint64 done, qint64 total) {
    platform::MsgBox(QStringLiteral("Stopped after ") + records(done) + QStringLiteral(" of ") +
                         QString::number(total) + QStringLiteral(". The records done stay changed."),
                     platform::vbInformation);
}

}  // namespace

void runReplace(AdvanceViewForm& form) {
    const PanelControls& c = form.controls();
    const auto rs = form.dataControl()->Recordset();
    WorkingProgress progress(form.workingWidgets());
    try {
        if (!rs) {
            progress.begin(bulk::FindReplace::caption(), 0, 0);
            return;
        }
        const bulk::FindReplace::Result r = bulk::FindReplace::run(
            *rs,
            [&c] {
                return bulk::FindReplace::Inputs{c.RemplaceCombo->currentIndex(), c.Remplace_FindTxT->text(),
                                                 c.Remplace_ChangeForTxT->text()};
            },
            progress);
        if (r.ran) form.showToolOutcome(QStringLiteral("Replace: ") + records(r.changed) + QStringLiteral(" changed."));
        if (r.stopped) reportStopped(r.visited, rs->RecordCount());
    } catch (const dao::Error& e) {
        progress.end();
        reportUnexpected(e);
    }
    // The grid shows the changed values of the same recordset.
    form.dataControl()->notifyRecordsChanged();
}

void runCopy(AdvanceViewForm& form) {
    const PanelControls& c = form.controls();
    // Nothing without a choice of both fields.
    if (c.CopyCombo1->currentIndex() < 0 || c.CopyCombo2->currentIndex() < 0) return;
    const auto rs = form.dataControl()->Recordset();
    // The copy lets no input through while it runs; the progress is still painted. So no Cancel
    // either: a click on it could only arrive after the copy.
    common::WorkingWidgets widgets = form.workingWidgets();
    widgets.cancelButton = nullptr;
    widgets.stop = nullptr;
    WorkingProgress progress(widgets, WorkingProgress::Events::PaintOnly);
    const auto inputs = [&c] {
        return bulk::CopyFields::Inputs{c.CopyCombo1->currentText(), c.CopyCombo2->currentText(),
                                        c.ExcludeTxT->text(), c.NotOverwrite->checkState() == Qt::Checked,
                                        c.CopyEraseSource->checkState() == Qt::Checked};
    };
    if (!rs) {
        const auto in = inputs();
        if (dao::sameFieldName(in.from, in.to)) platform::MsgBox(bulk::CopyFields::sameFieldMessage(), platform::vbExclamation);
        return;
    }
    const bulk::CopyFields::Result r =
        bulk::CopyFields::run(*rs, bulk::CopyFields::ReadInputs(inputs), progress);
    if (!r.sameField) {
        form.showToolOutcome(QStringLiteral("Copy: ") + records(r.copied) + QStringLiteral(" changed."));
        if (r.stopped) reportStopped(r.copied + r.skipped, rs->RecordCount());
        form.dataControl()->notifyRecordsChanged();
    }
}

void runTotals(AdvanceViewForm& form) {
    const PanelControls& c = form.controls();
    const auto rs = form.dataControl()->Recordset();
    if (!rs) return;
    bulk::Totals::Result r;
    {
        Hourglass busy;
        try {
            r = bulk::Totals::run(*rs, c.SummaryFields->currentText(), form.dataControl()->Database().get());
        } catch (const dao::Error& e) {
            QGuiApplication::restoreOverrideCursor();
            reportUnexpected(e);
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        }
    }
    if (r.ran) {
        c.SummaryTxT->setText(r.text);
        c.SummaryNullsLbl->setText(bulk::Totals::nullsNote(r.nullsSkipped));
    }
    // The record that was current before is current again.
    form.dataControl()->notifyReposition();
}

void runOperations(AdvanceViewForm& form) {
    const PanelControls& c = form.controls();
    const auto rs = form.dataControl()->Recordset();
    WorkingProgress progress(form.workingWidgets());
    const auto inputs = [&c] {
        int op = bulk::FieldOperations::None;
        for (int i = 0; i < int(c.OperatorOpt.size()); ++i)
            if (c.OperatorOpt[size_t(i)]->isChecked()) {
                op = i;
                break;
            }
        // A selection is required; the field is then addressed by the selected name.
        const QString field =
            c.OpFieldsCombo->currentIndex() >= 0 ? c.OpFieldsCombo->currentText() : QString();
        return bulk::FieldOperations::Inputs{field, op, c.OperatorValue->text()};
    };
    try {
        if (rs) {
            const bulk::FieldOperations::Result r =
                bulk::FieldOperations::run(*rs, bulk::FieldOperations::ReadInputs(inputs), progress);
            if (r.ran)
                form.showToolOutcome(QStringLiteral("Operations: ") + records(r.processed) +
                                     QStringLiteral(" changed."));
            if (r.stopped) reportStopped(r.visited, rs->RecordCount());
        }
    } catch (const dao::Error& e) {
        progress.end();
        reportUnexpected(e);
    }
    // The grid shows the table afresh, first record current, whether or not the operation ran.
    try {
        form.dataControl()->Refresh();
    } catch (const dao::Error& e) {
        reportUnexpected(e);
    }
    progress.end();
}

void runErase(AdvanceViewForm& form) {
    common::WorkingWidgets widgets = form.workingWidgets();
    widgets.workingPanel = nullptr;  // the erase shows its status only
    WorkingProgress progress(widgets);
    platform::DataControl* data = form.dataControl();
    const bulk::EraseRecords::Result r = bulk::EraseRecords::run(
        [&form, data]() -> std::shared_ptr<dao::Recordset> {
            form.setStatusText(QStringLiteral("Erasing Records..."));
            data->Refresh();
            return data->Recordset();
        },
        progress);
    if (!r.confirmed) return;
    if (form.workingWidgets().statusLbl) form.workingWidgets().statusLbl->clear();
    form.SearchRecords();
}

}  // namespace browser
