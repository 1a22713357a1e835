#include "Application.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

#include "AppIcon.h"

namespace shell {

void setUpApplication() {
    QApplication::setApplicationName(QStringLiteral("Tabulon"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setOrganizationName(QString());
    // The desktop entry's name (tabulon.desktop): the desktop matches windows to it and its icon.
    QApplication::setDesktopFileName(QStringLiteral("tabulon"));
    QApplication::setWindowIcon(appIcon());
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
}

}  // namespace shell
