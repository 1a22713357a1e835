#pragma once

#include <QString>

namespace shell {

// The database path last taken by the main window's Open. It keeps its value after Close; the table
// browser is given it, and tools that need a second connection to the same file open it through it.
extern QString DatabaseFile;

}  // namespace shell
