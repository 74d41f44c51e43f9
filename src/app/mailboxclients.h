#pragma once
// The mailbox clients of the run, one per protocol, and the one the loaded
// mailbox uses. The check, the deletion and the inspection work on
// current(), whatever protocol it speaks; what they attach to a client's
// events they attach to each of all().

#include "mail/imapclient.h"
#include "mail/pop3client.h"
#include "settings/generalsettings.h"

#include <array>

class MailboxClients
{
public:
    MailboxClients() = default;
    MailboxClients(const MailboxClients &) = delete;
    MailboxClients &operator=(const MailboxClients &) = delete;

    TmsRemotePOP pop;
    ImapClient imap;

    RemoteMailbox &current() { return *m_current; }
    const RemoteMailbox &current() const { return *m_current; }
    std::array<RemoteMailbox *, 2> all() { return {&pop, &imap}; }
    // The protocol current() speaks.
    MailProtocol protocol() const { return m_current == &imap ? MailProtocol::Imap : MailProtocol::Pop3; }

    // Loads the mailbox into the client of its protocol, which becomes current.
    void load(const MailboxLogin &login);

private:
    RemoteMailbox *m_current = &pop;
};
