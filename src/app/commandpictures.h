#pragma once
// Pictures of the main window's commands that the desktop style has no
// 32-pixel picture for, drawn in code so they scale with the screen.

#include <QIcon>

// "Launch e-mail program": a green round button with a start arrow.
QIcon launchPicture();
// "Goodbye": a closed door, and the door standing open while the pointer
// is on the button.
QIcon leavePicture();
