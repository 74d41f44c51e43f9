#include "app/textline.h"

#include <QPainter>

TextLine::TextLine(const QString &text, QWidget *parent) : QWidget(parent), m_text(text)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleDescription(text);
}

void TextLine::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleDescription(text);
    update();
}

QSize TextLine::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(m_text), fontMetrics().height()};
}

QSize TextLine::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * 10, fontMetrics().height()};
}

void TextLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QString shown = fontMetrics().elidedText(m_text, Qt::ElideRight, width());
    painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, shown);
}
