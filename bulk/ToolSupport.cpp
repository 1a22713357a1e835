#include "ToolSupport.h"

#include "platform/dao/Dao.h"

namespace bulk {

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
