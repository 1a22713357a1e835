#include "Globals.h"

namespace shell {

QString DatabaseFile;

}  // namespace shell
