#pragma once
// The small pictures of the main window: the four 16 by 16 state pictures
// of the message list, drawn rather than loaded so they never go missing
// and stay sharp at any screen scale. Delete and known-spammer marks differ
// in shape as well as colour (a bare tick; a tick in a ring), and each mark
// has a name and a description for screen readers.

#include "rules/markstate.h"

#include <QPixmap>
#include <QString>

// At the application's device pixel ratio; a null pixmap for MarkState::None.
QPixmap markPicture(MarkState mark);
// At a given device pixel ratio (16 by 16 logical pixels).
QPixmap markPictureAt(MarkState mark, qreal ratio);

// "Marked for deletion", "Possible spam", "Accepted by an exception",
// "Known spammer"; empty for MarkState::None.
QString markName(MarkState mark);
// One sentence on what the mark means for the message.
QString markDescription(MarkState mark);
