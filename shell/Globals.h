#pragma once

#include "common/ProgramGlobals.h"

namespace shell {

// The database path last taken by the main window's Open (kept by the common layer, so that the
// dialogs below the shell read the same variable).
using common::DatabaseFile;

}  // namespace shell
