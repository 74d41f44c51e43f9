#include "app/markpictures.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kSize = 16;

QPixmap checkMark(const QColor &color)
{
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.5, 12.5);
    tick.lineTo(13.5, 3.5);
    p.drawPath(tick);
    return pixmap;
}

QPixmap letterInDisc(const QColor &disc, const QColor &ink, QChar letter)
{
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(disc.darker(140));
    p.setBrush(disc);
    p.drawEllipse(QRectF(0.5, 0.5, kSize - 1, kSize - 1));
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(ink);
    p.drawText(QRect(0, 0, kSize, kSize), Qt::AlignCenter, QString(letter));
    return pixmap;
}

} // namespace

QPixmap markPicture(MarkState mark)
{
    switch (mark) {
    case MarkState::Check:
        return checkMark(QColor(200, 0, 0));
    case MarkState::Question:
        return letterInDisc(QColor(40, 90, 210), Qt::white, QLatin1Char('?'));
    case MarkState::Exception:
        return letterInDisc(QColor(250, 210, 40), Qt::black, QLatin1Char('!'));
    case MarkState::KnownSpammer:
        return checkMark(QColor(128, 128, 128));
    case MarkState::None:
        break;
    }
    return {};
}
