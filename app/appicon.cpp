#include "appicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QIcon lumotalkIcon()
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        // A speech bubble with a tail: the chat that drives the calls.
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(s * 0.06, s * 0.10, s * 0.88, s * 0.62), s * 0.18, s * 0.18);
        QPainterPath tail;
        tail.moveTo(s * 0.24, s * 0.66);
        tail.lineTo(s * 0.18, s * 0.94);
        tail.lineTo(s * 0.48, s * 0.68);
        tail.closeSubpath();
        painter.setPen(QPen(QColor(0x0b, 0x4f, 0x8a), qMax(1.0, s / 16)));
        painter.setBrush(QColor(0x2a, 0x9d, 0xe0));
        painter.drawPath(bubble.united(tail));
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        const qreal r = s * 0.07;
        for (const qreal x : {0.30, 0.50, 0.70})
            painter.drawEllipse(QPointF(s * x, s * 0.41), r, r);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
