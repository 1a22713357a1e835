#include "BFolder.h"

#include <QDir>

#include "platform/Prompts.h"

namespace common {

QString BrowseForFolder(QWidget* /*owner*/, const QString& title) {
    const QString path = platform::BrowseFolderDialog(title);
    return path.isEmpty() ? QString() : QDir::toNativeSeparators(path);
}

}  // namespace common
