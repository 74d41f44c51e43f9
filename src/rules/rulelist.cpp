#include "rules/rulelist.h"

#include "rules/ruletexts.h"

#include <algorithm>
#include <climits>
#include <numeric>
#include <utility>

namespace {

RuleTableLayout pictureTableLayout(const QStringList &headings, int matchesColumn, QList<int> editableColumns,
                                   QList<int> sortableColumns)
{
    return {6, headings, true, matchesColumn, 4, 5, std::move(editableColumns), std::move(sortableColumns)};
}

} // namespace

const RuleTableLayout &layoutOf(RuleTable table)
{
    static const RuleTableLayout subject =
        pictureTableLayout({QString(), "What", "Matches", "Case", "Del?", "Hits"}, SubjectCol::Matches,
                           {SubjectCol::Matches, SubjectCol::Hits}, {SubjectCol::Matches, SubjectCol::Hits});
    static const RuleTableLayout header =
        pictureTableLayout({QString(), "What", "Matches", "Case", "Del?", "Hits"}, HeaderCol::Matches,
                           {HeaderCol::Hits}, {HeaderCol::Matches, HeaderCol::Hits});
    static const RuleTableLayout sender =
        pictureTableLayout({QString(), "What", "Condition", "Matches", "Del?", "Hits"}, SenderCol::Matches,
                           {SenderCol::Matches, SenderCol::Hits}, {SenderCol::Matches, SenderCol::Hits});
    static const RuleTableLayout exception{6,
                                           {"What", "Condition", "Matches", "Case?", "Hits", "DMARC?"},
                                           false,
                                           ExceptCol::Matches,
                                           -1,
                                           ExceptCol::Hits,
                                           {ExceptCol::Matches, ExceptCol::Hits},
                                           {ExceptCol::What, ExceptCol::Matches, ExceptCol::Hits}};
    switch (table) {
    case RuleTable::Subject:
        return subject;
    case RuleTable::Header:
        return header;
    case RuleTable::Sender:
        return sender;
    case RuleTable::Exception:
        break;
    }
    return exception;
}

RuleList::RuleList(RuleTable table) : table_(table)
{
    setColumnCount(layout().columns);
    setRowCount(EmptyRowCount);
    setHeadings();
}

void RuleList::setColumnCount(int columns)
{
    columns_ = std::max(columns, 0);
    for (QStringList &row : rows_)
        row.resize(columns_);
    edited();
}

void RuleList::setRowCount(int rows)
{
    rows = std::max(rows, 0);
    const int old = rowCount();
    rows_.resize(rows);
    pictures_.resize(rows, MarkState::None);
    for (int r = old; r < rows; ++r)
        rows_[r].resize(columns_);
    edited();
}

const QString &RuleList::emptyCell()
{
    static const QString empty;
    return empty;
}

void RuleList::setCell(int column, int row, const QString &text)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columns_)
        return;
    rows_[row][column] = text;
    edited();
}

void RuleList::insertRow(int row)
{
    row = std::clamp(row, 1, rowCount());
    rows_.insert(row, QStringList(columns_));
    pictures_.insert(row, MarkState::None);
    edited();
}

void RuleList::removeRow(int row)
{
    if (row < 1 || row >= rowCount())
        return;
    rows_.removeAt(row);
    pictures_.removeAt(row);
    edited();
}

void RuleList::swapRows(int a, int b)
{
    if (a < 1 || b < 1 || a >= rowCount() || b >= rowCount())
        return;
    rows_.swapItemsAt(a, b);
    pictures_.swapItemsAt(a, b);
    edited();
}

void RuleList::sortRules(int column)
{
    if (rowCount() < 3 || column < 0 || column >= columns_)
        return;
    const bool numeric = column == layout().hitsColumn;
    QList<int> order(rowCount() - 1);
    std::iota(order.begin(), order.end(), 1);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const QString &x = rows_[a][column];
        const QString &y = rows_[b][column];
        if (numeric)
            return x.toLongLong() < y.toLongLong();
        return x.compare(y, Qt::CaseInsensitive) < 0;
    });
    QList<QStringList> rows{rows_.first()};
    QList<MarkState> pictures{pictures_.first()};
    for (int r : order) {
        rows.append(rows_[r]);
        pictures.append(pictures_[r]);
    }
    rows_ = rows;
    pictures_ = pictures;
    edited();
}

void RuleList::setHeadings()
{
    const QStringList &headings = layout().headings;
    if (rows_.isEmpty())
        setRowCount(1);
    for (int c = 0; c < columns_ && c < headings.size(); ++c)
        rows_[0][c] = headings[c];
}

MarkState RuleList::picture(int row) const
{
    return row >= 0 && row < rowCount() ? pictures_[row] : MarkState::None;
}

void RuleList::setPicture(int row, MarkState picture)
{
    if (row >= 0 && row < rowCount())
        pictures_[row] = picture;
}

void RuleList::bumpHits(int row)
{
    const int column = layout().hitsColumn;
    if (row < 1 || row >= rowCount() || column >= columns_)
        return;
    QString &hits = rows_[row][column];
    bool ok = false;
    const int count = hits.toInt(&ok);
    hits = QString::number(!ok ? 1 : count == INT_MAX ? INT_MAX : count + 1);
}

int storedColumnCount(const RuleList &table)
{
    if (table.table() != RuleTable::Exception || table.columnCount() <= ExceptCol::DmarcOnly)
        return table.columnCount();
    for (int r = 1; r < table.rowCount(); ++r) {
        if (!table.cell(ExceptCol::DmarcOnly, r).isEmpty())
            return table.columnCount();
    }
    return ExceptCol::DmarcOnly;
}

bool RuleList::operator==(const RuleList &other) const
{
    return table_ == other.table_ && columns_ == other.columns_ && rows_ == other.rows_ && pictures_ == other.pictures_;
}

void CheckGridAdv(RuleList &table, int row, bool isCheck)
{
    if (row > 0 && row < table.rowCount())
        table.setPicture(row, isCheck ? MarkState::Check : MarkState::Question);
}

void setPicturesFromDel(RuleList &table)
{
    const int del = table.layout().delColumn;
    if (!table.layout().hasPicture)
        return;
    for (int r = 1; r < table.rowCount(); ++r)
        CheckGridAdv(table, r, table.cell(del, r) == RuleText::Yes);
}

RuleList &RuleSet::table(RuleTable which)
{
    return const_cast<RuleList &>(std::as_const(*this).table(which));
}

const RuleList &RuleSet::table(RuleTable which) const
{
    switch (which) {
    case RuleTable::Subject:
        return SubjectRules;
    case RuleTable::Header:
        return HeaderRules;
    case RuleTable::Sender:
        return SenderRules;
    case RuleTable::Exception:
        break;
    }
    return ExceptionRules;
}

void RuleSet::SetGridHeadings()
{
    for (RuleTable which : AllRuleTables)
        table(which).setHeadings();
}
