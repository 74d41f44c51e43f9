#include "app/markpictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

constexpr int kSize = 16;

// A transparent 16 by 16 picture with device pixels for ratio, and a
// painter that draws in its logical pixels.
QPixmap blank(qreal ratio)
{
    QPixmap pixmap(qCeil(kSize * ratio), qCeil(kSize * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawTick(QPainter &p, const QColor &color, qreal width, qreal scale)
{
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    const QPointF centre(kSize / 2.0, kSize / 2.0);
    const auto at = [&](qreal x, qreal y) { return centre + (QPointF(x, y) - centre) * scale; };
    tick.moveTo(at(2.5, 8.5));
    tick.lineTo(at(6.5, 12.5));
    tick.lineTo(at(13.5, 3.5));
    p.drawPath(tick);
}

// Spam to delete: a bold red tick.
QPixmap checkMark(qreal ratio)
{
    QPixmap pixmap = blank(ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    drawTick(p, QColor(200, 0, 0), 2.6, 1.0);
    return pixmap;
}

// A known spammer: a grey ring with a smaller tick inside, so that the
// mark reads differently from the red tick without its colour.
QPixmap ringedCheckMark(qreal ratio)
{
    QPixmap pixmap = blank(ratio);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor grey(128, 128, 128);
    p.setPen(QPen(grey, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(1, 1, kSize - 2, kSize - 2));
    drawTick(p, grey, 2.0, 0.62);
    return pixmap;
}

QPixmap letterInDisc(qreal ratio, const QColor &disc, const QColor &ink, QChar letter)
{
    QPixmap pixmap = blank(ratio);
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
    return markPictureAt(mark, qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
}

QPixmap markPictureAt(MarkState mark, qreal ratio)
{
    switch (mark) {
    case MarkState::Check:
        return checkMark(ratio);
    case MarkState::Question:
        return letterInDisc(ratio, QColor(40, 90, 210), Qt::white, QLatin1Char('?'));
    case MarkState::Exception:
        return letterInDisc(ratio, QColor(250, 210, 40), Qt::black, QLatin1Char('!'));
    case MarkState::KnownSpammer:
        return ringedCheckMark(ratio);
    case MarkState::None:
        break;
    }
    return {};
}

QString markName(MarkState mark)
{
    switch (mark) {
    case MarkState::Check:
        return QStringLiteral("Marked for deletion");
    case MarkState::Question:
        return QStringLiteral("Possible spam");
    case MarkState::Exception:
        return QStringLiteral("Accepted by an exception");
    case MarkState::KnownSpammer:
        return QStringLiteral("Known spammer");
    case MarkState::None:
        break;
    }
    return {};
}

QString markDescription(MarkState mark)
{
    switch (mark) {
    case MarkState::Check:
        return QStringLiteral("The message is spam; Delete marked messages deletes it on the server.");
    case MarkState::Question:
        return QStringLiteral("The message may be spam; look at it and mark it yourself.");
    case MarkState::Exception:
        return QStringLiteral("An exception rule accepts the message; it is never deleted by the rules.");
    case MarkState::KnownSpammer:
        return QStringLiteral("The sender is on the known spammer list; Delete marked messages deletes it "
                              "on the server.");
    case MarkState::None:
        break;
    }
    return {};
}
