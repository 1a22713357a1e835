#include "ProgramGlobals.h"

namespace common {

QString DatabaseFile;

}  // namespace common
