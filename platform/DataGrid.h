#pragma once

// The data grid: a table view bound to a data control. Its current row follows the control's current
// record and back (moves made in the grid go through the control, so Validate and Reposition are
// raised). Column widths are read and set in twips.

#include <QPointer>
#include <QTableView>

namespace platform {

class DataControl;
class GridModel;

class DataGrid : public QTableView {
    Q_OBJECT
public:
    explicit DataGrid(QWidget* parent = nullptr);
    ~DataGrid() override;

    // Binds the grid to a data control (null unbinds).
    void setDataSource(DataControl* control);
    DataControl* dataSource() const { return control_; }
    GridModel* gridModel() const { return model_; }

    int ColumnCount() const;
    double ColumnWidthTwips(int column) const;
    void setColumnWidthTwips(int column, double twips);

    // The selected cells as tab-separated text, rows on lines (a cell outside the selection but
    // inside its rectangle is empty; a value holding a tab, a line break or a quote is quoted).
    QString selectedCellsText() const;

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    // Ctrl+C copies the selected cells; Ctrl+Tab leaves the grid.
    void keyPressEvent(QKeyEvent* event) override;
    // Tab runs through the cells and leaves the grid after the last one (Shift+Tab before the first).
    bool focusNextPrevChild(bool next) override;

private:
    void followRecordset();
    GridModel* model_;
    QPointer<DataControl> control_;
    bool syncing_ = false;
};

}  // namespace platform
