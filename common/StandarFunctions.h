#pragma once

// The small general routines shared by the windows and the data-entry control.

#include <QString>
#include <QStringList>
#include <memory>

#include "platform/dao/Dao.h"

class QWidget;

namespace dao {
class Recordset;
}
namespace platform {
class DataControl;
}

namespace common {

// Puts a window in the middle of its screen, computed in twips: left = screen width / 2 - window
// width / 2, top likewise. Only the position changes. A window larger than the screen gets a
// negative position; it is not clamped.
void CenterForm(QWidget* form);

// Whether an ordinary file matches the path. Blanks around the path are ignored; '*' and '?' in the
// file name part are wildcards (a path ending in a separator matches any file of that folder).
// Folders, hidden files and anything that is not a regular file do not count. Never throws: any
// failure to look counts as no file.
bool FileExists(const QString& path);

// The user tables of a database file, as the engine lists them: names beginning with "MS" (exactly,
// case-sensitive) are the engine's system tables and are left out. The database is closed again
// before this returns; a file that cannot be opened raises its dao::Error.
QStringList UserTableNames(const QString& file);
// The same, the opening watched (an Access file is read whole first: progress, cancel).
QStringList UserTableNames(const QString& file, const dao::OpenWatch& watch);
// The same for a database the caller holds open.
QStringList UserTableNames(dao::Database& db);

// True when the recordset answers RecordCount: false for no recordset and for a closed one, true for
// an open one without records. Never reports anything.
bool IsRecordsetOpen(const std::shared_ptr<dao::Recordset>& rs);

// Re-opens the recordset ordered by `sort` (field names, each optionally ASC or DESC, separated by
// commas; empty = the natural order) and, on success, replaces the caller's reference with the new
// recordset. On failure the reference is left as it was and the user is told: an unknown field gets
// the sort-field message, anything else "Error:" + number + " " + description. Either way the mouse
// pointer is back to the default and nothing is raised.
void SortRecordset(std::shared_ptr<dao::Recordset>& rs, const QString& sort);

// The same for the recordset a data control shows: on success the control's Recordset is the new,
// ordered one, and its bound grids show it.
void SortDataControl(platform::DataControl* control, const QString& sort);

// The message shown for a sort expression naming a field the recordset does not have.
QString sortFieldMessage();

}  // namespace common
