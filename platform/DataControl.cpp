#include "DataControl.h"

#include "Prompts.h"
#include "dao/Dao.h"

namespace platform {

DataControl::DataControl(QObject* parent) : QObject(parent) {}

DataControl::~DataControl() {
    // After this no failure notice can be on its way to a control that is gone.
    if (database_) database_->setFailureHandler(nullptr);
}

void DataControl::Refresh() {
    // Open everything before replacing anything, so a failure leaves the control as it was.
    auto db = dao::OpenDatabase(databaseName_);
    auto rs = db->OpenRecordset(recordSource_);
    if (rs->RecordCount() > 0) rs->MoveFirst();
    if (database_) database_->setFailureHandler(nullptr);
    // A change the engine accepted and could not save later (a failed commit of its write batch)
    // is reported through Error, and the bound grids show the stored values again.
    db->setFailureHandler([this] {
        QMetaObject::invokeMethod(this, &DataControl::reportWriteFailures, Qt::QueuedConnection);
    });
    database_ = std::move(db);
    recordset_ = std::move(rs);
    emit recordsetChanged();
    emit reposition();
}

void DataControl::setRecordset(std::shared_ptr<dao::Recordset> rs) {
    recordset_ = std::move(rs);
    if (recordset_ && recordset_->isOpen() && recordset_->AbsolutePosition() < 0 &&
        recordset_->RecordCount() > 0)
        recordset_->MoveFirst();
    emit recordsetChanged();
    emit reposition();
}

void DataControl::notifyRecordsChanged() {
    emit recordsetChanged();
    emit reposition();
}

bool DataControl::allowMove(int action) {
    int a = action;
    emit validate(&a);
    return a != vbDataActionCancel;
}

bool DataControl::MoveFirst() {
    if (!recordset_ || !allowMove(vbDataActionMoveFirst)) return false;
    recordset_->MoveFirst();
    emit reposition();
    return true;
}

bool DataControl::MoveLast() {
    if (!recordset_ || !allowMove(vbDataActionMoveLast)) return false;
    recordset_->MoveLast();
    emit reposition();
    return true;
}

bool DataControl::MoveNext() {
    if (!recordset_ || !allowMove(vbDataActionMoveNext)) return false;
    recordset_->MoveNext();
    emit reposition();
    return true;
}

bool DataControl::MovePrevious() {
    if (!recordset_ || !allowMove(vbDataActionMovePrevious)) return false;
    recordset_->MovePrevious();
    emit reposition();
    return true;
}

bool DataControl::moveTo(long long position) {
    if (!recordset_) return false;
    if (recordset_->AbsolutePosition() == position) return true;
    if (!allowMove(vbDataActionBookmark)) return false;
    recordset_->setAbsolutePosition(position);
    emit reposition();
    return true;
}

void DataControl::reportWriteFailures() {
    if (!database_) return;
    try {
        database_->Flush();
    } catch (const dao::Error& e) {
        if (!raiseError(e)) MsgBox(e.description(), vbExclamation);
    }
    emit storedValuesChanged();
}

bool DataControl::raiseError(const dao::Error& e) {
    bool handled = false;
    emit error(e.number(), e.description(), &handled);
    return handled;
}

}  // namespace platform
