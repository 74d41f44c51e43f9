#include "app/commandbutton.h"

#include <QStyleOptionToolButton>
#include <QStylePainter>

CommandButton::CommandButton(QWidget *parent) : QToolButton(parent)
{
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setAutoRaise(true);
}

QString CommandButton::twoLineCaption(const QString &caption)
{
    const qsizetype middle = caption.size() / 2;
    qsizetype best = -1;
    for (qsizetype i = caption.indexOf(QLatin1Char(' ')); i >= 0; i = caption.indexOf(QLatin1Char(' '), i + 1)) {
        if (best < 0 || qAbs(i - middle) < qAbs(best - middle))
            best = i;
    }
    if (best < 0)
        return caption;
    return caption.left(best) + QLatin1Char('\n') + caption.mid(best + 1);
}

QStyleOptionToolButton CommandButton::twoLineOption() const
{
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.text = twoLineCaption(option.text);
    return option;
}

QSize CommandButton::sizeHint() const
{
    // As QToolButton measures itself, with the two-line caption: the text's
    // block and a space either side under the picture, plus the style's
    // button frame.
    ensurePolished();
    const QStyleOptionToolButton option = twoLineOption();
    const QSize text = fontMetrics().size(Qt::TextShowMnemonic, option.text)
                       + QSize(2 * fontMetrics().horizontalAdvance(QLatin1Char(' ')), 0);
    QSize contents(qMax(text.width(), iconSize().width()), iconSize().height() + 4 + text.height());
    if (menu() && popupMode() == QToolButton::InstantPopup)
        contents.rwidth() += style()->pixelMetric(QStyle::PM_MenuButtonIndicator, &option, this);
    return style()->sizeFromContents(QStyle::CT_ToolButton, &option, contents, this);
}

QSize CommandButton::minimumSizeHint() const
{
    return sizeHint();
}

void CommandButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    painter.drawComplexControl(QStyle::CC_ToolButton, twoLineOption());
}
