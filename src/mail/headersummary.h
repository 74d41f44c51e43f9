#pragma once
// What a listed row shows of a message, read once from its header block: a
// row from the message store is then made without unpacking the block.

#include "mail/headers.h"

#include <QString>

struct HeaderSummary
{
    QString subject; // decoded
    QString sender; // the address of From (senderAddress)
    QString date; // the Date field as it was written

    static HeaderSummary of(const TmsHeaders &headers);
    bool operator==(const HeaderSummary &) const = default;
};
