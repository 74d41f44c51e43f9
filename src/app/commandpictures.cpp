#include "app/commandpictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace {

constexpr int Side = 64; // drawn large, shown at 32 pixels and above

QPixmap drawn(const std::function<void(QPainter &)> &draw)
{
    QPixmap pixmap(Side, Side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    return pixmap;
}

void drawDoor(QPainter &painter, bool open)
{
    const QRectF frame(14, 6, 36, 54);
    painter.setPen(QPen(QColor(0x5a, 0x3b, 0x1e), 3));
    painter.setBrush(open ? QColor(0x2b, 0x2b, 0x2b) : QColor(0xa8, 0x6b, 0x32));
    painter.drawRect(frame);
    if (open) {
        // The door leaf swung towards the viewer.
        QPainterPath leaf;
        leaf.moveTo(14, 6);
        leaf.lineTo(32, 12);
        leaf.lineTo(32, 56);
        leaf.lineTo(14, 60);
        leaf.closeSubpath();
        painter.setBrush(QColor(0xc4, 0x85, 0x45));
        painter.drawPath(leaf);
        painter.setBrush(QColor(0xf0, 0xc0, 0x40));
        painter.drawEllipse(QPointF(28, 34), 2.5, 2.5);
    } else {
        painter.setBrush(QColor(0xf0, 0xc0, 0x40));
        painter.drawEllipse(QPointF(43, 34), 3, 3);
    }
}

} // namespace

QIcon launchPicture()
{
    return QIcon(drawn([](QPainter &painter) {
        painter.setPen(QPen(QColor(0x1e, 0x7b, 0x34), 3));
        painter.setBrush(QColor(0x3c, 0xb3, 0x55));
        painter.drawEllipse(QRectF(6, 6, 52, 52));
        QPainterPath arrow;
        arrow.moveTo(26, 18);
        arrow.lineTo(46, 32);
        arrow.lineTo(26, 46);
        arrow.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawPath(arrow);
    }));
}

QIcon leavePicture()
{
    QIcon icon;
    icon.addPixmap(drawn([](QPainter &painter) { drawDoor(painter, false); }), QIcon::Normal);
    icon.addPixmap(drawn([](QPainter &painter) { drawDoor(painter, true); }), QIcon::Active);
    return icon;
}
