#include "DataGrid.h"

#include <QHeaderView>

#include "DataControl.h"
#include "GridModel.h"
#include "Prompts.h"
#include "Twips.h"
#include "dao/Dao.h"

namespace platform {

DataGrid::DataGrid(QWidget* parent) : QTableView(parent), model_(new GridModel(this)) {
    setModel(model_);
    // Fixed row heights: the view never measures rows, whatever the record count.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setMinimumWidth(fontMetrics().height());
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setWordWrap(false);
}

DataGrid::~DataGrid() = default;

void DataGrid::setDataSource(DataControl* control) {
    if (control_) disconnect(control_, nullptr, this, nullptr);
    control_ = control;
    model_->setDataControl(control);
    if (control_) {
        // Connected after the model, so the model has taken a new recordset before the grid follows it.
        connect(control_, &DataControl::reposition, this, &DataGrid::followRecordset);
        followRecordset();
    }
}

int DataGrid::ColumnCount() const {
    return model_->columnCount();
}

double DataGrid::ColumnWidthTwips(int column) const {
    return pixelsToTwipsX(columnWidth(column));
}

void DataGrid::setColumnWidthTwips(int column, double twips) {
    setColumnWidth(column, std::max(0, twipsToPixelsX(twips)));
}

void DataGrid::followRecordset() {
    if (syncing_ || !control_) return;
    const auto rs = control_->Recordset();
    long long pos = -1;
    try {
        if (rs && rs->isOpen()) pos = rs->AbsolutePosition();
    } catch (const dao::Error&) {
        pos = -1;
    }
    syncing_ = true;
    if (pos < 0 || pos >= model_->rowCount()) {
        selectionModel()->clearCurrentIndex();
    } else if (currentIndex().row() != pos) {
        const int column = std::max(0, currentIndex().column());
        const QModelIndex target = model_->index(int(pos), column);
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
        scrollTo(target);
    }
    syncing_ = false;
}

void DataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (syncing_ || !control_ || !current.isValid() || current.row() == previous.row()) return;
    if (!control_->Recordset()) return;
    bool moved = false;
    syncing_ = true;
    try {
        moved = control_->moveTo(current.row());
    } catch (const dao::Error& e) {
        if (!control_->raiseError(e)) MsgBox(e.description(), vbExclamation);
    }
    syncing_ = false;
    if (!moved) followRecordset();  // cancelled by Validate or failed: back to the record that stays
}

}  // namespace platform
