#pragma once
// Window pictures for a look by eye: a window is shown, checked to lay out
// every visible control inside itself, and grabbed; with the environment
// variable MAILSIEVE_SCREENSHOT_DIR set, the picture is written there as
// <name>.png, or <name>@2x.png from a screen scaled to 200 %. Run with
// QT_SCALE_FACTOR=1.5 to see the 150 % layout.

#include <QString>

class QWidget;

namespace screenshots {

// Every visible child of window lies inside it.
void verifyInside(QWidget &window);
void save(QWidget &window, const QString &name);

} // namespace screenshots
