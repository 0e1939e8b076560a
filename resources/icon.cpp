// The application icon, drawn at start: a small skiff on a blue disc with a
// serial plug for a mast-top, at the sizes the window and the tray use.
#include "resources/icon.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap Draw(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x5a, 0x96));
    p.drawEllipse(QRectF(1, 1, 30, 30));
    // Hull.
    QPainterPath hull;
    hull.moveTo(6, 19);
    hull.lineTo(26, 19);
    hull.lineTo(22, 25);
    hull.lineTo(10, 25);
    hull.closeSubpath();
    p.setBrush(QColor(0xf2, 0xe6, 0xc8));
    p.drawPath(hull);
    // Mast and sail.
    p.setBrush(QColor(0xff, 0xff, 0xff));
    QPainterPath sail;
    sail.moveTo(16, 6);
    sail.lineTo(16, 17);
    sail.lineTo(24, 17);
    sail.closeSubpath();
    p.drawPath(sail);
    p.setBrush(QColor(0xf0, 0xa0, 0x30));
    p.drawRect(QRectF(14, 4, 4, 3));
    return pm;
}

}  // namespace

const QIcon& ApplicationIcon()
{
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 32, 48})
            i.addPixmap(Draw(size));
        return i;
    }();
    return icon;
}
