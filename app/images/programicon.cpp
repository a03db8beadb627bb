#include "app/images/programicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

void drawDish(QPainter& p, QRectF r, QColor bowl)
{
    const qreal w = r.width();
    p.save();
    p.translate(r.topLeft());
    p.setPen(QPen(bowl.darker(200), w / 16));
    p.setBrush(bowl);
    QPainterPath path;
    path.moveTo(w * 0.10, w * 0.30);
    path.quadTo(w * 0.20, w * 0.95, w * 0.80, w * 0.85);
    path.closeSubpath();
    p.drawPath(path);
    p.setPen(QPen(QColor(60, 60, 60), w / 14));
    p.drawLine(QPointF(w * 0.42, w * 0.62), QPointF(w * 0.78, w * 0.28));
    p.drawLine(QPointF(w * 0.45, w * 0.82), QPointF(w * 0.45, w * 0.98));
    p.setBrush(QColor(230, 60, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(w * 0.80, w * 0.26), w * 0.09, w * 0.09);
    p.restore();
}

QImage programIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(QColor(32, 64, 128));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawDish(p, QRectF(0, 0, size, size), QColor(240, 240, 240));
    return image;
}
