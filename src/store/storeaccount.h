#pragma once
// The mailbox a stored message belongs to: a user's folder on a server,
// reached by one protocol. Two mailboxes are the same account when all four
// match; the caller gives them in one spelling (see the program's
// accountOf), so the store compares them exactly.

#include <QString>

struct StoreAccount
{
    QString server; // host, or host:port, in lower case
    QString user;
    QString protocol; // "POP3" or "IMAP"
    QString folder; // the IMAP folder ("INBOX" in that spelling); empty for POP3

    bool isImap() const { return protocol == QLatin1String("IMAP"); }
    friend bool operator==(const StoreAccount &, const StoreAccount &) = default;
};
