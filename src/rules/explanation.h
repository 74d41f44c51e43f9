#pragma once
// "Why was this e-mail marked?": the marking decision run once more for one
// listed message with every rule that matches writing its line, the user's
// own mark change noted, and the message left with the mark it had.

#include <QStringList>

class MarkingEngine;
class MarkingSource;

namespace Explanation {
inline const QString NothingMatched =
    QStringLiteral("Message was neither on the exception list nor on the list of matching criteria");
inline const QString YouMarked = QStringLiteral("** You marked this message **");
inline const QString YouUnmarked = QStringLiteral("** You un-marked this message **");
} // namespace Explanation

// The explanation lines of row: who sent it, its subject, an empty line,
// then one line per matching rule (or the nothing-matched line) and the note
// on a mark the user set or cleared by hand. No hit counter moves and the
// row keeps its mark. The lines also stay in the engine's memoWhy.
QStringList explainRow(MarkingEngine &engine, MarkingSource &source, int row);
