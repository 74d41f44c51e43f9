#include "app/listmarkingsource.h"

#include "mail/remotemailbox.h"

ListMarkingSource::ListMarkingSource(MessageListModel &list, std::function<const RemoteMailbox &()> client,
                                     const MailboxTable &mailboxes)
    : m_list(list), m_client(std::move(client)), m_mailboxes(mailboxes)
{
}

int ListMarkingSource::rowCount() const
{
    return m_list.count();
}
QString ListMarkingSource::subject(int row) const
{
    return m_list.entry(row).Subject;
}
QString ListMarkingSource::sender(int row) const
{
    return m_list.entry(row).Sender;
}
QString ListMarkingSource::size(int row) const
{
    return m_list.entry(row).Size;
}
MarkState ListMarkingSource::mark(int row) const
{
    return m_list.mark(row);
}
void ListMarkingSource::setMark(int row, MarkState mark)
{
    m_list.setMark(row, mark);
}

TmsHeaders ListMarkingSource::headerLines(int row) const
{
    return m_client().headersOf(row).lines();
}

int ListMarkingSource::serverToIndex() const
{
    return ::serverToIndex(m_mailboxes, m_client().server(), m_client().userName());
}

QString ListMarkingSource::trustedServer() const
{
    const int n = serverToIndex();
    return n > 0 ? m_mailboxes.at(n - 1).trustedServer : QString();
}
