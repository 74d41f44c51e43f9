#include "app/messagelist.h"

#include "app/markpictures.h"

#include <QLocale>

namespace {

// The locale's long time format without its time-zone field: header dates
// are the sender's wall-clock time and carry no zone of ours.
QString longTimeFormatWithoutZone(const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            result += c;
    }
    return result.trimmed();
}

// The Date column's formats in the current locale, worked out once per
// locale rather than for every row a check adds.
struct DateColumnFormats
{
    QLocale locale;
    QString date;
    QString time;
};

const DateColumnFormats &dateColumnFormats()
{
    static DateColumnFormats formats;
    const QLocale current;
    if (formats.date.isEmpty() || formats.locale != current)
        formats = {current, current.dateFormat(QLocale::ShortFormat), longTimeFormatWithoutZone(current)};
    return formats;
}

} // namespace

QString dateColumnText(const QString &dateHeader)
{
    const ParsedDate parsed = ParseDate(dateHeader);
    if (!parsed.dateTime.isValid())
        return dateHeader;
    const DateColumnFormats &formats = dateColumnFormats();
    QString text = formats.locale.toString(parsed.dateTime.date(), formats.date);
    if (parsed.dateTime.time() != QTime(0, 0))
        text += QLatin1Char(' ') + formats.locale.toString(parsed.dateTime.time(), formats.time);
    return text;
}

MessageEntry MessageEntry::fromHeaders(const TmsHeaders &headers, qint64 size)
{
    return fromSummary(HeaderSummary::of(headers), size);
}

MessageEntry MessageEntry::fromSummary(const HeaderSummary &summary, qint64 size)
{
    MessageEntry row;
    row.Subject = summary.subject;
    row.Sender = summary.sender;
    row.Size = QString::number(size);
    row.Date = dateColumnText(summary.date);
    // A row lives as long as the list: no room kept for growth.
    for (QString *text : {&row.Subject, &row.Sender, &row.Date})
        text->squeeze();
    return row;
}

int MessageListModel::columnWidth(int column)
{
    static constexpr int widths[ColumnCount] = {220, 200, 60, 130};
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

MessageListModel::MessageListModel(QObject *parent) : QAbstractTableModel(parent)
{
    m_showTimer.setSingleShot(true);
    m_showTimer.setInterval(ShowDelay);
    connect(&m_showTimer, &QTimer::timeout, this, &MessageListModel::showAddedRows);
}

int MessageListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_shown;
}

int MessageListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MessageListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown)
        return {};
    const MessageEntry &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case SubjectColumn:
            return row.Subject;
        case SenderColumn:
            return row.Sender;
        case SizeColumn:
            return row.Size;
        case DateColumn:
            return row.Date;
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == SubjectColumn && row.Mark != MarkState::None)
            return markPicture(row.Mark);
        break;
    // A screen reader hears the mark with the subject, since it cannot see
    // the picture.
    case Qt::AccessibleTextRole:
        if (index.column() == SubjectColumn && row.Mark != MarkState::None)
            return markName(row.Mark) + QStringLiteral(": ") + row.Subject;
        break;
    case Qt::AccessibleDescriptionRole:
        if (index.column() == SubjectColumn)
            return markDescription(row.Mark);
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == SizeColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        break;
    }
    return {};
}

QVariant MessageListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole && section == SizeColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case SubjectColumn:
        return QStringLiteral("Subject");
    case SenderColumn:
        return QStringLiteral("Sender");
    case SizeColumn:
        return QStringLiteral("Size");
    case DateColumn:
        return QStringLiteral("Date");
    }
    return {};
}

void MessageListModel::addRow(const MessageEntry &row)
{
    m_rows.append(row);
    if (count() - m_shown > m_shown / 8)
        showAddedRows();
    else if (!m_showTimer.isActive())
        m_showTimer.start();
}

void MessageListModel::showAddedRows()
{
    m_showTimer.stop();
    if (m_shown == count())
        return;
    beginInsertRows({}, m_shown, count() - 1);
    m_shown = count();
    endInsertRows();
}

void MessageListModel::clear()
{
    m_showTimer.stop();
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    m_shown = 0;
    endResetModel();
}

void MessageListModel::setMark(int row, MarkState mark)
{
    if (row < 0 || row >= count() || m_rows[row].Mark == mark)
        return;
    m_rows[row].Mark = mark;
    if (row >= m_shown)
        return;
    const QModelIndex cell = index(row, SubjectColumn);
    emit dataChanged(cell, cell, {Qt::DecorationRole, Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole});
}

void MessageListModel::setAllMarks(MarkState mark)
{
    for (int row = 0; row < count(); ++row)
        setMark(row, mark);
}

int MessageListModel::markedCount() const
{
    return static_cast<int>(std::count_if(m_rows.cbegin(), m_rows.cend(),
                                          [](const MessageEntry &row) { return isMarkedForDeletion(row.Mark); }));
}
