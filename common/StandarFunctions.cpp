#include "StandarFunctions.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "platform/Twips.h"

namespace common {

void CenterForm(QWidget* form) {
    if (!form) return;
    const QScreen* screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->geometry();
    const QSize size = form->frameGeometry().size();  // the window's outer size, as the user sees it
    // Single precision, halves taken before the subtraction.
    const float left = float(platform::pixelsToTwipsX(area.width())) / 2.0f -
                       float(platform::pixelsToTwipsX(size.width())) / 2.0f;
    const float top = float(platform::pixelsToTwipsY(area.height())) / 2.0f -
                      float(platform::pixelsToTwipsY(size.height())) / 2.0f;
    form->move(area.x() + platform::twipsToPixelsX(left), area.y() + platform::twipsToPixelsY(top));
}

}  // namespace common
