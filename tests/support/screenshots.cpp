#include "support/screenshots.h"

#include <QDir>
#include <QPixmap>
#include <QTest>
#include <QWidget>

namespace screenshots {

void verifyInside(QWidget &window)
{
    const QRect inside = window.rect();
    for (QWidget *child : window.findChildren<QWidget *>()) {
        if (!child->isVisibleTo(&window) || child->isWindow())
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
