#pragma once
// The message list of the main window: one row per waiting message, in
// server order. Row i is message number i + 1 on the server and info item i
// of the mailbox client (POP3 or IMAP); the rows' texts are the only copy of Subject, Sender,
// Size and Date that the rules and the delete log read.

#include "mail/headers.h"
#include "mail/headersummary.h"
#include "rules/markstate.h"

#include <QAbstractTableModel>
#include <QList>
#include <QTimer>

struct MessageEntry
{
    QString Subject;
    QString Sender;
    QString Size;
    QString Date;
    MarkState Mark = MarkState::None;

    // The row for a message from its raw header lines and its size in octets.
    static MessageEntry fromHeaders(const TmsHeaders &headers, qint64 size);
    static MessageEntry fromSummary(const HeaderSummary &summary, qint64 size);
};

// The Date column: the parsed date-time in the locale's short date and
// long time (the time left out at exactly midnight), or the header text as
// it was when it cannot be read.
QString dateColumnText(const QString &dateHeader);

class MessageListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { SubjectColumn, SenderColumn, SizeColumn, DateColumn, ColumnCount };
    static int columnWidth(int column);

    explicit MessageListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Every row added, whether the views show it yet or not.
    int count() const { return static_cast<int>(m_rows.size()); }
    const MessageEntry &entry(int row) const { return m_rows.at(row); }
    // The row counts at once here (count, entry, marks); the views get it in
    // a batch of rows, at the latest at the first pass through the event
    // loop ShowDelay later (see m_shown).
    void addRow(const MessageEntry &row);
    // The views show every row added: the listing is complete.
    void showAddedRows();
    void clear();

    MarkState mark(int row) const { return m_rows.at(row).Mark; }
    void setMark(int row, MarkState mark);
    void setAllMarks(MarkState mark);
    // Rows that the delete pass removes (check marks and known spammers).
    int markedCount() const;

    static constexpr int ShowDelay = 250; // ms

private:
    QList<MessageEntry> m_rows;
    // The rows the views know of: the first m_shown. A tree view lays out
    // all its rows again at the next pass through the event loop after new
    // ones came, so showing rows as they arrive costs a pass over the whole
    // list for each of them, quadratic for a large mailbox. New rows show
    // once they add an eighth to the list (all those layouts together cost
    // a few times the final list), else when ShowDelay has passed.
    int m_shown = 0;
    QTimer m_showTimer;
};
