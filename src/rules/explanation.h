#pragma once
// "Why was this e-mail marked?": the marking decision run once more for one
// listed message with every rule that matches writing its line, the user's
// own mark change noted, and the message left with the mark it had.

#include "rules/markstate.h"

#include <QDateTime>
#include <QStringList>

class MarkingEngine;
class MarkingSource;

namespace Explanation {
inline const QString NothingMatched =
    QStringLiteral("Message was neither on the exception list nor on the list of matching criteria");
inline const QString YouMarked = QStringLiteral("** You marked this message **");
inline const QString YouUnmarked = QStringLiteral("** You un-marked this message **");
// The line that opens the explanation of a mark the user set by hand at an
// earlier check or this one: "Marked by you on <date>" ("Unmarked ..." for
// a mark the user took off), in the locale's short date and time.
QString byYou(MarkState mark, const QDateTime &when);
} // namespace Explanation

// The explanation lines of row: who sent it, its subject, an empty line,
// then one line per matching rule (or the nothing-matched line) and the note
// on a mark the user set or cleared by hand, and after an empty line what
// the receiving server wrote: what was believed, what was not and why, and
// an exception that did not apply for want of DMARC. No hit counter moves and the
// row keeps its mark. The lines also stay in the engine's memoWhy. A
// userMarkLine (Explanation::byYou) comes first.
QStringList explainRow(MarkingEngine &engine, MarkingSource &source, int row, const QString &userMarkLine = {});
