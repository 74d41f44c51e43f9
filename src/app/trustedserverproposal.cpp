#include "app/trustedserverproposal.h"

#include "app/mailboxclients.h"
#include "app/mailboxmemory.h"
#include "mail/authresults.h"
#include "store/messagestore.h"

QString lastCheckTrustedServer(const MailboxConfig &mailbox, const MailboxClients &clients, MessageStore &store)
{
    if (!mailbox.isConfigured())
        return {};
    const StoreAccount account = storeAccount(mailboxLogin(mailbox));
    const RemoteMailbox &client =
        mailbox.protocol == MailProtocol::Imap ? static_cast<const RemoteMailbox &>(clients.imap) : clients.pop;
    const TmsRemoteInfo &info = client.Info();
    // Rows are in server order, the newest message last.
    for (int i = info.Count() - 1; i >= 0; --i) {
        const QByteArray &identity = info.Items(i).Identity;
        if (identity.isEmpty())
            continue; // not in the store, so not known to be this mailbox's
        if (const QString proposal = proposedTrustedServer(store.headerBlock(account, identity).lines());
            !proposal.isEmpty())
            return proposal;
    }
    return {};
}
