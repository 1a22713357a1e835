#include "ToolSupport.h"

#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace bulk {

double TextNumber::of(const QString& text) {
    if (!read_ || text != text_) {
        number_ = read_fn_ ? read_fn_(text) : dao::leadingNumber(text);
        text_ = text;
        read_ = true;
    }
    return number_;
}

void cancelPendingEdit(dao::Recordset& rs) noexcept {
    try {
        if (rs.isOpen() && rs.EditMode() != dao::dbEditNone) rs.CancelUpdate();
    } catch (...) {
    }
}

bool isTextField(int type) {
    return type == dao::dbText || type == dao::dbMemo;
}

bool hasRecords(dao::Recordset& rs) noexcept {
    try {
        return rs.isOpen() && rs.RecordCount() > 0;
    } catch (...) {
        return false;
    }
}

}  // namespace bulk
