#pragma once
// The message list as the rule engine reads it: the rows' texts and marks
// from the list, each row's header lines from the mailbox client's info
// item of the same index, and the mailbox being checked from the mailbox
// table.

#include "app/messagelist.h"
#include "rules/marking.h"
#include "settings/generalsettings.h"

#include <functional>

class RemoteMailbox;

class ListMarkingSource : public MarkingSource
{
public:
    // client gives the client of the mailbox being checked.
    ListMarkingSource(MessageListModel &list, std::function<const RemoteMailbox &()> client,
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
    QString trustedServer() const override;

private:
    MessageListModel &m_list;
    std::function<const RemoteMailbox &()> m_client;
    const MailboxTable &m_mailboxes;
};
