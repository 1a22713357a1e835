#pragma once

#include <QString>

namespace common {

// The database path last taken by the main window's Open. It keeps its value after Close; the table
// browser is given it, and windows that need the program's database when their caller names none
// (a second connection, the table picker) read it here.
extern QString DatabaseFile;

}  // namespace common
