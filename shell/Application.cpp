#include "Application.h"

#include <QApplication>

#include "AppIcon.h"
#include "ReadingProgress.h"

namespace shell {

void setUpApplication() {
    QApplication::setApplicationName(QStringLiteral("Tabulon"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setOrganizationName(QString());
    // The desktop entry's name (tabulon.desktop): the desktop matches windows to it and its icon.
    QApplication::setDesktopFileName(QStringLiteral("tabulon"));
    QApplication::setWindowIcon(appIcon());
    // The style is the user's (QT_STYLE_OVERRIDE, -style, the platform theme): none is forced here.
    // A wait for the rest of an Access file's reading shows its box instead of freezing the window.
    watchFillWaits();
}

}  // namespace shell
