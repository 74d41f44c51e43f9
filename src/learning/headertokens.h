#pragma once
// The clues a message's header block gives the learner. Each token names
// its field ("subject:cheap", "from-domain:example.com", "received-ip:192.0.2",
// "missing:date" ...), so a word in the Subject and the same word in a
// display name count apart. A hostile header cannot blow up the store: at
// most MaxTokens tokens a message, each at most MaxTokenLength characters.

#include "mail/headers.h"

#include <QStringList>

namespace HeaderTokens {
constexpr int MaxTokens = 1000;
constexpr int MaxTokenLength = 64;
} // namespace HeaderTokens

// The distinct tokens of a header block (headerBlockLines), in the order
// first found. With the name of the mailbox's receiving server
// (trustedServer) they include what that server found (authresults.h).
QStringList headerTokens(const TmsHeaders &headers, const QString &trustedServer = {});
