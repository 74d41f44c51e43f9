#pragma once
// What the user's receiving server wrote into a message, as far as it is
// believed: its Authentication-Results and its spam verdict, read from the
// part of the header block that server wrote.

#include "mail/authresults.h"
#include "mail/serververdict.h"

#include <QString>
#include <QStringList>

struct ServerFindings
{
    TrustedAuthResults auth;
    ServerVerdict verdict;

    static ServerFindings of(const TmsHeaders &headers, const QString &trustedServer);

    // The trusted result of method ("dmarc", "dkim", "spf") for the domain
    // of sender (a bare address); empty when there is none.
    QString resultFor(QStringView method, const QString &sender) const;
    // The trusted server says the sender's domain publishes a DMARC policy.
    bool senderPublishesDmarc(const QString &sender) const;
    // Lines for "Why": what was believed from trustedServer, and what was
    // not and why.
    QStringList describe(const QString &trustedServer) const;
};
