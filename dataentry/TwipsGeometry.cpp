#include "TwipsGeometry.h"

#include <QVariant>
#include <QWidget>

#include "platform/Twips.h"

namespace dataentry {

namespace {
constexpr const char* kProperty = "twipsGeometry";
}

void placeTwips(QWidget* w, double left, double top, double width, double height) {
    placeTwips(w, QRectF(left, top, width, height));
}

void placeTwips(QWidget* w, const QRectF& r) {
    w->setProperty(kProperty, r);
    w->setGeometry(platform::twipsToPixelsX(r.left()), platform::twipsToPixelsY(r.top()),
                   platform::twipsToPixelsX(r.width()), platform::twipsToPixelsY(r.height()));
}

QRectF twipsGeometry(const QWidget* w) {
    const QVariant v = w->property(kProperty);
    const QRect g = w->geometry();
    // A widget moved or resized by someone else (a layout, the host) is read from its pixels.
    if (v.isValid()) {
        const QRectF r = v.toRectF();
        if (platform::twipsToPixelsX(r.left()) == g.x() && platform::twipsToPixelsY(r.top()) == g.y() &&
            platform::twipsToPixelsX(r.width()) == g.width() && platform::twipsToPixelsY(r.height()) == g.height())
            return r;
    }
    return QRectF(platform::pixelsToTwipsX(g.x()), platform::pixelsToTwipsY(g.y()),
                  platform::pixelsToTwipsX(g.width()), platform::pixelsToTwipsY(g.height()));
}

double twipsLeft(const QWidget* w) { return twipsGeometry(w).left(); }
double twipsTop(const QWidget* w) { return twipsGeometry(w).top(); }
double twipsWidth(const QWidget* w) { return twipsGeometry(w).width(); }
double twipsHeight(const QWidget* w) { return twipsGeometry(w).height(); }

void setTwipsTop(QWidget* w, double top) {
    QRectF r = twipsGeometry(w);
    r.moveTop(top);
    placeTwips(w, r);
}

void setTwipsLeft(QWidget* w, double left) {
    QRectF r = twipsGeometry(w);
    r.moveLeft(left);
    placeTwips(w, r);
}

void setTwipsHeight(QWidget* w, double height) {
    QRectF r = twipsGeometry(w);
    r.setHeight(height);
    placeTwips(w, r);
}

}  // namespace dataentry
