#include "app/window/ApplicationIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace veltrane {

namespace {
void DrawDrum(QPainter& painter, const QRectF& body, const QColor& color) {
    const qreal capHeight = body.width() / 3;
    QPainterPath side;
    side.moveTo(body.left(), body.top() + capHeight / 2);
    side.lineTo(body.left(), body.bottom() - capHeight / 2);
    side.arcTo(QRectF(body.left(), body.bottom() - capHeight, body.width(), capHeight), 180, 180);
    side.lineTo(body.right(), body.top() + capHeight / 2);
    painter.setBrush(color);
    painter.drawPath(side);
    painter.setBrush(color.lighter(140));
    painter.drawEllipse(QRectF(body.left(), body.top(), body.width(), capHeight));
}

void DrawArrow(QPainter& painter, QPointF from, QPointF to) {
    painter.drawLine(from, to);
    const qreal head = (to.x() > from.x() ? -1 : 1) * painter.pen().widthF() * 1.6;
    painter.drawLine(to, QPointF(to.x() + head, to.y() - qAbs(head)));
    painter.drawLine(to, QPointF(to.x() + head, to.y() + qAbs(head)));
}

QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    painter.setPen(QPen(QColor(40, 40, 40), 1));
    DrawDrum(painter, QRectF(1, 4, 10, 24), QColor(0, 117, 143));  // MySQL blue-green
    DrawDrum(painter, QRectF(21, 4, 10, 24), QColor(196, 90, 20)); // Sybase ASE orange
    painter.setPen(QPen(QColor(30, 30, 30), 2, Qt::SolidLine, Qt::RoundCap));
    DrawArrow(painter, QPointF(12.5, 12), QPointF(19.5, 12));
    DrawArrow(painter, QPointF(19.5, 20), QPointF(12.5, 20));
    return pixmap;
}
} // namespace

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addPixmap(DrawIcon(size));
    return icon;
}

} // namespace veltrane
