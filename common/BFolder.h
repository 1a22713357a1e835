#pragma once

#include <QString>

class QWidget;

namespace common {

// Lets the user choose a folder through the folder prompt. Returns the folder's full path, or an
// empty string when the user cancels (nothing of an earlier browse is kept). The owner is the
// window asking; the prompt is shown over the active window.
QString BrowseForFolder(QWidget* owner, const QString& title);

}  // namespace common
