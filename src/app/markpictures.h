#pragma once
// The small pictures of the main window: the four 16 by 16 state pictures
// of the message list, drawn rather than loaded so they never go missing.

#include "rules/markstate.h"

#include <QPixmap>

// A null pixmap for MarkState::None.
QPixmap markPicture(MarkState mark);
