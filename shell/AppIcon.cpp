#include "AppIcon.h"

#include <QPainter>

namespace shell {

QPixmap appIconPixmap(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const QRectF sheet(s * 0.06, s * 0.12, s * 0.88, s * 0.76);
    const qreal radius = s * 0.08;

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2b, 0x5d, 0x9c));
    p.drawRoundedRect(sheet, radius, radius);
    const QRectF body(sheet.left() + s * 0.04, sheet.top() + s * 0.2, sheet.width() - s * 0.08,
                      sheet.height() - s * 0.24);
    p.setBrush(Qt::white);
    p.drawRect(body);

    // Grid: three columns, four rows.
    QPen grid(QColor(0x9d, 0xb4, 0xd3));
    grid.setWidthF(qMax(1.0, s / 32.0));
    p.setPen(grid);
    for (int c = 1; c < 3; ++c) {
        const qreal x = body.left() + body.width() * c / 3.0;
        p.drawLine(QPointF(x, body.top()), QPointF(x, body.bottom()));
    }
    for (int r = 1; r < 4; ++r) {
        const qreal y = body.top() + body.height() * r / 4.0;
        p.drawLine(QPointF(body.left(), y), QPointF(body.right(), y));
    }
    // One highlighted row, the record being worked on.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf2, 0xa9, 0x00, 0xb0));
    p.drawRect(QRectF(body.left(), body.top() + body.height() / 4.0, body.width(), body.height() / 4.0));
    return pm;
}

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(appIconPixmap(size));
    return icon;
}

}  // namespace shell
