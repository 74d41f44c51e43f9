#pragma once
// The spam verdict the user's receiving server wrote into a message:
// SpamAssassin's X-Spam-Flag and X-Spam-Status, Microsoft's SCL (spam
// confidence, 5 to 9 is spam), SFV:SPM and BCL (bulk complaint level, 0
// to 9). Only the fields in the server's own part of the block count
// (ServerPart): a sender can write any of them below it.

#include "mail/authresults.h"

#include <QString>

#include <optional>

struct ServerVerdict
{
    QString spamField; // the field that says spam, as "X-Spam-Flag: YES"; empty when none does
    std::optional<int> bulkLevel; // the highest BCL written
    QString bulkField; // the field that gave it
};

ServerVerdict serverVerdict(const TmsHeaders &headers, const ServerPart &part);
