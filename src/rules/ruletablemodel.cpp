#include "rules/ruletablemodel.h"

#include "rules/ruletexts.h"
#include "rules/textmatch.h"

#include <QBrush>
#include <QFont>

#include <algorithm>

namespace {

// The cell naming a row's operator: Condition in the sender table, What in
// the subject and header tables.
int operatorColumn(RuleTable table)
{
    return table == RuleTable::Sender ? int(SenderCol::Condition) : int(SubjectCol::What);
}

} // namespace

RuleTableModel::RuleTableModel(RuleList &table, QObject *parent) : QAbstractTableModel(parent), table_(table)
{
}

void RuleTableModel::setMarkPictures(const QIcon &checkMark, const QIcon &questionMark)
{
    checkMark_ = checkMark;
    questionMark_ = questionMark;
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
}

void RuleTableModel::refresh()
{
    beginResetModel();
    endResetModel();
}

bool RuleTableModel::isValidHits(const QString &text)
{
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    bool ok = false;
    text.toInt(&ok);
    return ok;
}

int RuleTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : std::max(table_.rowCount() - 1, 0);
}

int RuleTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : table_.columnCount();
}

bool RuleTableModel::isValidPattern(int row, const QString &text) const
{
    if (table_.table() == RuleTable::Exception)
        return true;
    return !isEmptyPattern(text) || !operatorShowsPattern(table_.cell(operatorColumn(table_.table()), row));
}

bool RuleTableModel::isDeleteRow(int row) const
{
    const int del = table_.layout().delColumn;
    return del >= 0 && table_.cell(del, row) == RuleText::Yes;
}

QVariant RuleTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const RuleTableLayout &layout = table_.layout();
    const int row = ruleRow(index);
    const int column = index.column();
    const bool pictureCell = layout.hasPicture && column == 0;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return table_.cell(column, row);
    case MarkPictureRole:
        return pictureCell ? QVariant(int(table_.picture(row))) : QVariant();
    case Qt::DecorationRole:
        if (!pictureCell)
            return {};
        switch (table_.picture(row)) {
        case MarkState::Check:
            return checkMark_;
        case MarkState::Question:
            return questionMark_;
        default:
            return {};
        }
    case Qt::FontRole:
        if (column == layout.matchesColumn && (!layout.hasPicture || isDeleteRow(row))) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::ForegroundRole:
        if (column == layout.matchesColumn && layout.hasPicture && !isDeleteRow(row))
            return QBrush(Qt::blue);
        return {};
    case Qt::TextAlignmentRole:
        if (column == layout.hitsColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

bool RuleTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const QString text = value.toString();
    if (index.column() == table_.layout().hitsColumn && !isValidHits(text))
        return false;
    if (index.column() == table_.layout().matchesColumn && !isValidPattern(ruleRow(index), text))
        return false;
    table_.setCell(index.column(), ruleRow(index), text);
    emit dataChanged(index.siblingAtColumn(0), index.siblingAtColumn(columnCount() - 1));
    return true;
}

Qt::ItemFlags RuleTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (table_.layout().editableColumns.contains(index.column()))
        flags |= Qt::ItemIsEditable;
    return flags;
}

QVariant RuleTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return table_.cell(section, 0);
    return section + 1;
}

bool RuleTableModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || row > rowCount() || count < 1)
        return false;
    beginInsertRows(parent, row, row + count - 1);
    for (int i = 0; i < count; ++i)
        table_.insertRow(row + 1);
    endInsertRows();
    return true;
}

bool RuleTableModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count < 1 || row + count > rowCount())
        return false;
    beginRemoveRows(parent, row, row + count - 1);
    for (int i = 0; i < count; ++i)
        table_.removeRow(row + 1);
    endRemoveRows();
    return true;
}

bool RuleTableModel::moveRows(const QModelIndex &sourceParent, int sourceRow, int count,
                              const QModelIndex &destinationParent, int destinationChild)
{
    if (sourceParent.isValid() || destinationParent.isValid() || count < 1 || sourceRow < 0
        || sourceRow + count > rowCount() || destinationChild < 0 || destinationChild > rowCount()
        || (destinationChild >= sourceRow && destinationChild <= sourceRow + count))
        return false;
    beginMoveRows(sourceParent, sourceRow, sourceRow + count - 1, destinationParent, destinationChild);
    // Walk each moved row past its neighbours one swap at a time.
    if (destinationChild < sourceRow) {
        for (int i = 0; i < count; ++i)
            for (int r = sourceRow + i; r > destinationChild + i; --r)
                table_.swapRows(r + 1, r);
    } else {
        for (int i = count - 1; i >= 0; --i)
            for (int r = sourceRow + i; r < destinationChild - count + i; ++r)
                table_.swapRows(r + 1, r + 2);
    }
    endMoveRows();
    return true;
}

void RuleTableModel::sort(int column, Qt::SortOrder)
{
    if (!table_.layout().sortableColumns.contains(column))
        return;
    beginResetModel();
    table_.sortRules(column);
    endResetModel();
}
