#pragma once
// Listed messages and rule rows for tests of the marking decision.

#include "rules/marking.h"

#include <QHash>

struct Message
{
    QString subject;
    QString sender = {};
    QString size = QStringLiteral("1000");
    MarkState mark = MarkState::None;
    TmsHeaders headers = {};
};

class FakeSource : public MarkingSource
{
public:
    QList<Message> rows;
    int mailbox = 1;
    QString trusted; // the mailbox's receiving server

    int rowCount() const override { return int(rows.size()); }
    QString subject(int row) const override { return rows[row].subject; }
    QString sender(int row) const override { return rows[row].sender; }
    QString size(int row) const override { return rows[row].size; }
    MarkState mark(int row) const override { return rows[row].mark; }
    void setMark(int row, MarkState mark) override { rows[row].mark = mark; }
    TmsHeaders headerLines(int row) const override { return rows[row].headers; }
    int serverToIndex() const override { return mailbox; }
    QString trustedServer() const override { return trusted; }
};

// Fills the rule rows of a table, row 1 onward.
inline void setRules(RuleList &table, const QList<QStringList> &rows)
{
    table.setRowCount(1 + int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            table.setCell(c, r + 1, rows[r][c]);
}

// Keeps each row's decisions as the message store does: in their bytes.
class RowMemo : public MarkingMemo
{
public:
    QHash<int, QByteArray> records;
    int recalled = 0;

    std::optional<MarkOutcome> recall(int row, const QByteArray &fingerprint, MarkState from) override
    {
        const std::optional<MarkOutcome> kept = MarkingRecord::fromBytes(records.value(row)).outcome(fingerprint, from);
        recalled += kept ? 1 : 0;
        return kept;
    }
    void keep(int row, const QByteArray &fingerprint, MarkState from, const MarkOutcome &outcome) override
    {
        MarkingRecord record = MarkingRecord::fromBytes(records.value(row));
        record.keep(fingerprint, from, outcome);
        records.insert(row, record.toBytes());
    }
};
