#include "support/screenshots.h"

#include <QDir>
#include <QPixmap>
#include <QScrollArea>
#include <QTest>
#include <QWidget>

namespace screenshots {

// Content a scroll area scrolls may reach beyond the window; the scroll
// area itself may not.
bool isScrolledContent(const QWidget *child, const QWidget &window)
{
    for (const QWidget *above = child->parentWidget(); above && above != &window; above = above->parentWidget()) {
        if (const auto *area = qobject_cast<const QScrollArea *>(above); area && area->widget())
            return true;
    }
    return false;
}

void verifyInside(QWidget &window)
{
    const QRect inside = window.rect();
    for (QWidget *child : window.findChildren<QWidget *>()) {
        if (!child->isVisibleTo(&window) || child->isWindow() || isScrolledContent(child, window))
            continue;
        const QRect box(child->mapTo(&window, QPoint(0, 0)), child->size());
        QVERIFY2(inside.contains(box),
                 qPrintable(child->metaObject()->className() + QStringLiteral(" ") + child->objectName()));
    }
}

void save(QWidget &window, const QString &name)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    verifyInside(window);
    const QPixmap picture = window.grab();
    QVERIFY(!picture.isNull());
    // A scaled screen gets pictures of its own pixels, not blown-up ones.
    const qreal ratio = window.devicePixelRatioF();
    QCOMPARE(picture.size(), (QSizeF(window.size()) * ratio).toSize());
    const QString target = qEnvironmentVariable("MAILSIEVE_SCREENSHOT_DIR");
    if (!target.isEmpty()) {
        QDir().mkpath(target);
        const QString scale = ratio == 1 ? QString() : QStringLiteral("@%1x").arg(ratio);
        QVERIFY(picture.save(QDir(target).filePath(name + scale + QStringLiteral(".png"))));
    }
}

} // namespace screenshots
