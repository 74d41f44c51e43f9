#pragma once
// The trusted server the General settings window proposes for a mailbox:
// the name the topmost Authentication-Results of the mailbox's own mail
// gives (proposedTrustedServer), from the newest message of its last check
// that has one.
//
// The blocks are read from the message store under the mailbox's own
// account, by the identities of the rows its protocol's client listed
// last. So only the mailbox's own mail proposes its server: a row of
// another mailbox checked since finds nothing, or at most a message this
// mailbox itself had under the same identity. A mailbox not checked in
// this run, or checked without a usable store, proposes nothing.

#include <QString>

class MailboxClients;
class MessageStore;
struct MailboxConfig;

// Empty when no row of the last check names a server.
QString lastCheckTrustedServer(const MailboxConfig &mailbox, const MailboxClients &clients, MessageStore &store);
