#include "RecordCommands.h"

#include <QLocale>
#include <QPushButton>

#include "AdvanceViewForm.h"
#include "SearchSql.h"
#include "dataentry/DataEntryForm.h"
#include "dataentry/host/DataEntryFrm.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/Prompts.h"
#include "platform/ReportControl.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace browser {

namespace {

void reportFailure(const QString& what, const dao::Error& e) {
    platform::MsgBox(what + QChar(13) + e.description() + QStringLiteral(" - ") + QString::number(e.number()),
                     platform::vbExclamation);
}

}  // namespace

RecordCommands::RecordCommands(AdvanceViewForm* form) : QObject(form), form_(form) {
    setObjectName(QStringLiteral("RecordCommands"));
    ReportC = new platform::ReportControl(form);
    ReportC->setObjectName(QStringLiteral("ReportC"));
    ReportC->setDataControl(form->dataControl());

    const auto wire = [form, this](const char* name, void (RecordCommands::*slot)()) {
        if (auto* b = form->findChild<QPushButton*>(QString::fromLatin1(name)))
            connect(b, &QPushButton::clicked, this, slot);
    };
    wire("AddRecordBtn", &RecordCommands::AddRecordBtn);
    wire("ReportsBtn", &RecordCommands::ReportsBtn);
    if (auto* b = form->findChild<QPushButton*>(QStringLiteral("AbrirBtn")))
        connect(b, &QPushButton::clicked, form, &AdvanceViewForm::OpenCurrentRecord);
    if (auto* b = form->findChild<QPushButton*>(QStringLiteral("EditBtn")))
        connect(b, &QPushButton::clicked, form, &AdvanceViewForm::EditCurrentRecord);
    if (auto* grid = form->findChild<platform::DataGrid*>(QStringLiteral("grdDataGrid")))
        connect(grid, &QAbstractItemView::doubleClicked, this, &RecordCommands::onGridDoubleClick);
}

bool RecordCommands::hasRecords() const {
    try {
        const auto rs = form_->dataControl()->Recordset();
        return rs && rs->isOpen() && rs->RecordCount() > 0;
    } catch (const dao::Error&) {
        return false;
    }
}

void RecordCommands::onGridDoubleClick() {
    if (hasRecords()) form_->OpenCurrentRecord();
}

void RecordCommands::AddNewRecord() {
    dataentry::DataEntryFrm* f = dataentry::DataEntryFrm::shared(form_);
    f->DB_DATABASENAME = form_->DB_DATABASEFILE;
    f->DB_SELECTED_TABLE = form_->DB_SELECTED_TABLE;
    f->setCaption(form_->DB_SELECTED_TABLE);
    f->dataEntryForm()->setEnableQuickTips(false);
    f->exec();
    dataentry::DataEntryFrm::releaseShared();
}

void RecordCommands::AddRecordBtn() {
    form_->SaveColumnsWidth();
    AddNewRecord();
    // The records just added show, in the grid's order, with the widths as they were.
    form_->RefreshTable();
    form_->SetColumsWidth();
}

void RecordCommands::DeleteCurrentRecord() {
    platform::DataControl* dc = form_->dataControl();
    const auto rs = dc->Recordset();
    try {
        if (!rs || !rs->isOpen() || rs->AbsolutePosition() < 0) return;
    } catch (const dao::Error&) {
        return;
    }
    if (platform::MsgBox(QStringLiteral("Are you sure you want to erase this record?"),
                         platform::vbQuestion | platform::vbYesNo) != platform::vbYes)
        return;
    try {
        rs->Delete();
    } catch (const dao::Error& e) {
        // A related record, a file that cannot be changed: the record stays, and so does the window.
        reportFailure(QStringLiteral("The record could not be erased:"), e);
        return;
    }
    dc->notifyRecordsChanged();
}

QString RecordCommands::selectThisRecordSql(const QString& table, const QString& field, int fieldType,
                                            const dao::Variant& value) {
    const QString base = QStringLiteral("select * from ") + sqlName(table) + QStringLiteral(" where ") + fieldRef(field);
    if (value.isNull()) return base + QStringLiteral(" is null");
    const QString text = dao::valueToText(value);
    switch (fieldType) {
        case dao::dbCurrency:
        case dao::dbLong:
        case dao::dbBigInt:
        case dao::dbNumeric:
        case dao::dbInteger: {
            // The value's own digits, with the decimal sign SQL reads whatever the locale.
            QString number = text;
            const QString point = QLocale().decimalPoint();
            if (point != QLatin1String(".")) number.replace(point, QLatin1String("."));
            return base + QStringLiteral(" = ") + number;
        }
        default:
            return base + QStringLiteral(" = '") + quoteText(text) + u'\'';
    }
}

void RecordCommands::SelectThisRecordOnly() {
    platform::DataControl* dc = form_->dataControl();
    const auto rs = dc->Recordset();
    QString sql;
    try {
        if (!rs || !rs->isOpen() || rs->RecordCount() < 1 || rs->AbsolutePosition() < 0) return;
        const dao::Field first = rs->Fields().Item(0);
        sql = selectThisRecordSql(form_->DB_SELECTED_TABLE, first.Name(), first.Type(), first.Value());
    } catch (const dao::Error&) {
        return;
    }
    const QString before = dc->RecordSource();
    try {
        dc->setRecordSource(sql);
        dc->Refresh();
    } catch (const dao::Error& e) {
        dc->setRecordSource(before);
        reportFailure(QStringLiteral("The records could not be shown:"), e);
    }
}

void RecordCommands::ReportsBtn() {
    try {
        ReportC->setNumericSetting(24, 0);
        ReportC->setBooleanSetting(66, false);
        ReportC->Action(28);
    } catch (const dao::Error& e) {
        reportFailure(QStringLiteral("The listing could not be made:"), e);
    }
}

}  // namespace browser
