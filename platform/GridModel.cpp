#include "GridModel.h"

#include <QTimer>
#include <limits>

#include "DataControl.h"
#include "Prompts.h"
#include "dao/Conversions.h"
#include "dao/Dao.h"

namespace platform {

namespace {

bool isBinaryType(int type) {
    return type == dao::dbBinary || type == dao::dbLongBinary;
}

bool isTextType(int type) {
    return type == dao::dbText || type == dao::dbMemo;
}

}  // namespace

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {}
GridModel::~GridModel() = default;

void GridModel::setDataControl(DataControl* control) {
    if (control_) disconnect(control_, nullptr, this, nullptr);
    control_ = control;
    if (control_) {
        connect(control_, &DataControl::recordsetChanged, this, &GridModel::reload);
        connect(control_, &DataControl::storedValuesChanged, this, [this] {
            if (rowCount() > 0 && columnCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
        });
    }
    reload();
}

void GridModel::reload() {
    beginResetModel();
    rs_ = control_ ? control_->Recordset() : nullptr;
    names_.clear();
    types_.clear();
    rows_ = 0;
    updatable_ = false;
    try {
        if (rs_ && rs_->isOpen()) {
            const dao::Fields fields = rs_->Fields();
            const int n = fields.Count();
            names_.reserve(size_t(n));
            types_.reserve(size_t(n));
            for (int i = 0; i < n; ++i) {
                const dao::Field f = fields.Item(i);
                names_.push_back(f.Name());
                types_.push_back(f.Type());
            }
            // A view counts rows in int; larger recordsets show their first 2^31 - 1 records.
            rows_ = int(std::min<long long>(rs_->RecordCount(), std::numeric_limits<int>::max()));
            updatable_ = rs_->Updatable();
        }
    } catch (const dao::Error&) {
        names_.clear();
        types_.clear();
        rows_ = 0;
    }
    endResetModel();
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(names_.size());
}

int GridModel::fieldType(int column) const {
    return column >= 0 && column < int(types_.size()) ? types_[size_t(column)] : -1;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !rs_) return {};
    const int type = types_[size_t(index.column())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            if (type == dao::dbBoolean) return {};
            break;
        case Qt::CheckStateRole:
            if (type != dao::dbBoolean) return {};
            break;
        case Qt::TextAlignmentRole:
            return dao::isNumberField(type) ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter))
                                       : QVariant(int(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
    dao::Variant v;
    try {
        // Painting never waits for a copy being filled: the record shows once it is there.
        if (!rs_->rowReady(index.row())) {
            repaintLater();
            return {};
        }
        v = rs_->valueAt(index.row(), index.column());
    } catch (const dao::Error& e) {
        // A record deleted meanwhile (elsewhere) stays in the keyset; it has no values to show.
        if (e.number() == dao::err::RecordDeleted && role == Qt::DisplayRole)
            return QStringLiteral("#Deleted");
        return {};
    }
    if (role == Qt::CheckStateRole) {
        bool on = false;
        if (v.isNumeric()) on = v.asDouble() != 0;
        return on ? Qt::Checked : Qt::Unchecked;
    }
    if (v.isNull() || v.isEmpty()) return QString();
    try {
        return dao::valueToText(v);
    } catch (const dao::Error&) {
        return QString();
    }
}

void GridModel::repaintLater() const {
    if (repaintDue_) return;
    repaintDue_ = true;
    auto* self = const_cast<GridModel*>(this);
    QTimer::singleShot(100, self, [self] {
        self->repaintDue_ = false;
        if (self->rowCount() > 0 && self->columnCount() > 0)
            emit self->dataChanged(self->index(0, 0), self->index(self->rowCount() - 1, self->columnCount() - 1));
    });
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole && section >= 0 && section < int(names_.size()))
            return names_[size_t(section)];
        return {};
    }
    // The record selector column: no numbers, so its width does not depend on the record count.
    if (role == Qt::DisplayRole) return QString();
    return {};
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    const int type = types_[size_t(index.column())];
    if (type == dao::dbBoolean) {
        f |= Qt::ItemIsUserCheckable;
    } else if (!isBinaryType(type)) {
        // Read-only records take the typing too: committing it says why it cannot be saved (3027).
        f |= Qt::ItemIsEditable;
    }
    return f;
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || !rs_ || !control_) return false;
    const int type = types_[size_t(index.column())];
    dao::Variant v;
    if (type == dao::dbBoolean) {
        if (role != Qt::CheckStateRole) return false;
        v = dao::Variant::fromBool(value.toInt() == Qt::Checked);
    } else {
        if (role != Qt::EditRole) return false;
        const QString text = value.toString();
        // An emptied cell of a number or date field becomes Null; a text field keeps the empty text.
        v = text.isEmpty() && !isTextType(type) ? dao::Variant::null() : dao::Variant::fromString(text);
    }
    const bool saved = commit(index.row(), index.column(), v);
    // Refused, the record may now hold another user's values (or be gone): the row is painted again.
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
    return saved;
}

bool GridModel::commit(int row, int column, const dao::Variant& value) {
    try {
        // The edited record becomes the current one, as when the user clicks into it.
        if (rs_ == control_->Recordset()) {
            if (!control_->moveTo(row)) return false;
        } else {
            rs_->setAbsolutePosition(row);
        }
        rs_->Edit();
        try {
            rs_->Fields().Item(column).setValue(value);
            rs_->Update();
        } catch (...) {
            if (rs_->isOpen() && rs_->EditMode() != dao::dbEditNone) rs_->CancelUpdate();
            throw;
        }
        return true;
    } catch (const dao::Error& e) {
        if (!control_->raiseError(e)) MsgBox(e.description(), vbExclamation);
        return false;
    }
}

}  // namespace platform
