#pragma once
// The program's icon, the same picture the desktop entry shows: for the
// windows and the tray.

#include <QIcon>
#include <QString>

// The id that names the desktop entry, the icon and the AppStream component.
QString applicationId();

// The icon of the desktop's theme named applicationId(); when the theme has
// none (a build folder, a prefix outside the XDG data folders, no icon
// theme at all), the hicolor PNG files shipped with the program, every size
// found. Null when neither exists.
QIcon applicationIcon();
