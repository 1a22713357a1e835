#include "DataGrid.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <algorithm>
#include <vector>

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

QString DataGrid::selectedCellsText() const {
    const QModelIndexList cells = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    if (cells.isEmpty()) return {};
    int top = cells.first().row(), bottom = top, left = cells.first().column(), right = left;
    for (const QModelIndex& i : cells) {
        top = std::min(top, i.row());
        bottom = std::max(bottom, i.row());
        left = std::min(left, i.column());
        right = std::max(right, i.column());
    }
    const int width = right - left + 1;
    std::vector<QString> grid(size_t(bottom - top + 1) * size_t(width));
    for (const QModelIndex& i : cells) {
        QString text = i.data(Qt::DisplayRole).toString();
        if (text.contains(QLatin1Char('\t')) || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
            text.contains(QLatin1Char('"')))
            text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
        grid[size_t(i.row() - top) * size_t(width) + size_t(i.column() - left)] = text;
    }
    QString out;
    for (int r = 0; r <= bottom - top; ++r) {
        for (int c = 0; c < width; ++c) {
            if (c) out += QLatin1Char('\t');
            out += grid[size_t(r) * size_t(width) + size_t(c)];
        }
        out += QLatin1Char('\n');
    }
    return out;
}

void DataGrid::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        const QString text = selectedCellsText();
        if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) && (event->modifiers() & Qt::ControlModifier)) {
        QWidget::focusNextPrevChild(event->key() == Qt::Key_Tab && !(event->modifiers() & Qt::ShiftModifier));
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool DataGrid::focusNextPrevChild(bool next) {
    const QModelIndex current = currentIndex();
    const int rows = model_->rowCount(), columns = model_->columnCount();
    const bool atEnd = !current.isValid() || rows == 0 || columns == 0 ||
                       (next ? current.row() == rows - 1 && current.column() == columns - 1
                             : current.row() == 0 && current.column() == 0);
    if (atEnd) return QWidget::focusNextPrevChild(next);
    return QTableView::focusNextPrevChild(next);
}

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
