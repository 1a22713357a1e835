#pragma once

#include <QIcon>
#include <QPixmap>

namespace shell {

// The program's icon, drawn in code: a small table with a header row.
QPixmap appIconPixmap(int size);
QIcon appIcon();

}  // namespace shell
