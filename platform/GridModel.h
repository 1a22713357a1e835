#pragma once

// The grid's table model over a data control's recordset: one column per field (header = field
// name), one row per record. Values are read by position as the view asks for them, through the
// engine's block cache, so a table of any size opens at once. Null shows as empty, yes/no fields as
// check boxes. Edits commit at once through Edit/Update; engine errors go to the data control's Error
// signal, and to a message box when no handler takes them.

#include <QAbstractTableModel>
#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

namespace dao {
class Recordset;
class Variant;
}  // namespace dao

namespace platform {

class DataControl;

class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit GridModel(QObject* parent = nullptr);
    ~GridModel() override;

    void setDataControl(DataControl* control);
    DataControl* dataControl() const { return control_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The field type code of a column (-1 out of range).
    int fieldType(int column) const;

public slots:
    // Takes the control's current recordset again (fields and record count).
    void reload();

private:
    bool commit(int row, int column, const dao::Variant& value);
    std::shared_ptr<dao::Recordset> rs_;  // the recordset the model was reset to
    QPointer<DataControl> control_;
    std::vector<QString> names_;
    std::vector<int> types_;
    int rows_ = 0;
    bool updatable_ = false;
    // Records shown before an Access working copy holds them are blank until a look shortly after.
    void repaintLater() const;
    mutable bool repaintDue_ = false;
};

}  // namespace platform
