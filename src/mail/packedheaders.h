#pragma once
// A message's header lines as a listed row keeps them. A check of a large
// mailbox holds every row's header block until the next check: as a
// QStringList of UTF-16 lines, each with its own allocation, one block costs
// about three times its size on the wire. Packed, the lines are UTF-8, each
// ended by LF, compressed; they come back only when asked for, exactly as
// they went in.

#include "mail/headers.h"

#include <QByteArray>

class PackedHeaders
{
public:
    PackedHeaders() = default;
    // Implicit: the lines a client splits from a header block go straight
    // into its row. No line may hold an LF; a split block holds none.
    PackedHeaders(const TmsHeaders &lines);

    // Unpacks and decodes every line again: ask once per use and keep the
    // result while it is needed.
    TmsHeaders lines() const;
    bool isEmpty() const { return m_packed.isEmpty(); }

    friend bool operator==(const PackedHeaders &, const PackedHeaders &) = default;

private:
    QByteArray m_packed; // empty for no lines
};
