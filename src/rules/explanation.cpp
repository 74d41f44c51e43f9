#include "rules/explanation.h"

#include "rules/marking.h"

QStringList explainRow(MarkingEngine &engine, MarkingSource &source, int row)
{
    QStringList &memoWhy = engine.memoWhy();
    memoWhy.clear();
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
    source.setMark(row, old);
    return memoWhy;
}
