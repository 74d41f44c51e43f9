#include "rules/explanation.h"

#include "rules/marking.h"

#include <QLocale>

QString Explanation::byYou(MarkState mark, const QDateTime &when)
{
    return (mark == MarkState::None ? QStringLiteral("Unmarked by you on ") : QStringLiteral("Marked by you on "))
           + QLocale().toString(when.toLocalTime(), QLocale::ShortFormat);
}

QStringList explainRow(MarkingEngine &engine, MarkingSource &source, int row, const QString &userMarkLine)
{
    QStringList &memoWhy = engine.memoWhy();
    memoWhy.clear();
    if (!userMarkLine.isEmpty())
        memoWhy << userMarkLine;
    memoWhy << QStringLiteral("Message from ") + source.sender(row)
            << QStringLiteral("Subject of   ") + source.subject(row) << QString();
    const int openingLines = int(memoWhy.size());

    // The decision starts from no mark, so it shows what the rules alone say;
    // ExplainMode keeps the hit counters still and lets every test speak.
    const MarkState old = source.mark(row);
    source.setMark(row, MarkState::None);
    engine.setExplainMode(true);
    engine.MarkForDeletion(row);
    engine.setExplainMode(false);
    const MarkState computed = source.mark(row);

    if (memoWhy.size() == openingLines)
        memoWhy << Explanation::NothingMatched;
    if (old == MarkState::Check && computed != MarkState::Check)
        memoWhy << Explanation::YouMarked;
    if (old == MarkState::None && computed != MarkState::None)
        memoWhy << Explanation::YouUnmarked;
    // What the receiving server wrote, believed or not, after the rules.
    const QString trustedServer = source.trustedServer();
    const QStringList serverLines =
        engine.notes() + ServerFindings::of(source.headerLines(row), trustedServer).describe(trustedServer);
    if (!serverLines.isEmpty())
        memoWhy << QString() << serverLines;
    source.setMark(row, old);
    return memoWhy;
}
