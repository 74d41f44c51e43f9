#include "app/mailboxclients.h"

void MailboxClients::load(const MailboxLogin &login)
{
    if (login.protocol == MailProtocol::Imap) {
        imap.setFolder(login.folder);
        imap.setRemoval(login.removal == SpamRemoval::Delete ? ImapClient::Removal::Delete
                                                             : ImapClient::Removal::MoveToFolder);
        imap.setJunkFolder(login.junkFolder);
        m_current = &imap;
    } else {
        m_current = &pop;
    }
    applyMailboxLogin(login, *m_current);
}
