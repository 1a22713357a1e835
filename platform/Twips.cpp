#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace platform {

namespace {

// Without a screen (no GUI application yet) the usual 96 DPI.
double dpiX() {
    const QScreen* s = QGuiApplication::primaryScreen();
    const double dpi = s ? s->logicalDotsPerInchX() : 96.0;
    return dpi > 0 ? dpi : 96.0;
}

double dpiY() {
    const QScreen* s = QGuiApplication::primaryScreen();
    const double dpi = s ? s->logicalDotsPerInchY() : 96.0;
    return dpi > 0 ? dpi : 96.0;
}

}  // namespace

double twipsPerPixelX() {
    return TwipsPerInch / dpiX();
}
double twipsPerPixelY() {
    return TwipsPerInch / dpiY();
}

int twipsToPixelsX(double twips) {
    return int(std::lround(twips / twipsPerPixelX()));
}
int twipsToPixelsY(double twips) {
    return int(std::lround(twips / twipsPerPixelY()));
}

double pixelsToTwipsX(double pixels) {
    return pixels * twipsPerPixelX();
}
double pixelsToTwipsY(double pixels) {
    return pixels * twipsPerPixelY();
}

}  // namespace platform
