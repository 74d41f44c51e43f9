#pragma once
// The message list as the rule engine reads it: the rows' texts and marks
// from the list, each row's header lines from the POP3 client's info item of
// the same index, and the mailbox being checked from the mailbox table.

#include "app/messagelist.h"
#include "rules/marking.h"
#include "settings/generalsettings.h"

class TmsRemotePOP;

class ListMarkingSource : public MarkingSource
{
public:
    ListMarkingSource(MessageListModel &list, const TmsRemotePOP &client,
                      const MailboxTable &mailboxes);

    int rowCount() const override;
    QString subject(int row) const override;
    QString sender(int row) const override;
    QString size(int row) const override;
    MarkState mark(int row) const override;
    void setMark(int row, MarkState mark) override;
    // Empty for a row without an info item (the list and the client out of step).
    TmsHeaders headerLines(int row) const override;
    int serverToIndex() const override;

private:
    MessageListModel &m_list;
    const TmsRemotePOP &m_client;
    const MailboxTable &m_mailboxes;
};
