#pragma once
// A message's header block as a listed row and the header cache keep it. A
// check of a large mailbox holds every row's header block until the next
// check: as a QStringList of UTF-16 lines, each with its own allocation, one
// block costs about three times its size on the wire. Packed, the block is
// kept as the server sent it, compressed; its lines come back only when
// asked for. The packed bytes are what the message store keeps too, so a
// row from the store is handed over without unpacking or packing anything.

#include "mail/headers.h"

#include <QByteArray>

#include <optional>

class PackedHeaders
{
public:
    PackedHeaders() = default;
    // Packs block, a header block as the server sent it; what follows its
    // first empty line (the body line of a POP3 TOP) is not kept.
    explicit PackedHeaders(const QByteArray &block);
    // Header lines packed before, from packed(): nothing when the bytes are
    // of another format (another dictionary) or too short to be any.
    static std::optional<PackedHeaders> fromPacked(const QByteArray &packed);

    // The packed form: one format byte, the length of the block, then the
    // block deflated. Empty for an empty block.
    const QByteArray &packed() const { return m_packed; }
    // Unpacks and splits the block again (headerBlockLines): ask once per
    // use and keep the result while it is needed. Bytes that do not unpack
    // (a damaged store) give no lines.
    TmsHeaders lines() const;
    bool isEmpty() const { return m_packed.isEmpty(); }

    // The same header block, whichever zlib packed it: the store keeps
    // blocks packed by earlier runs of the program.
    bool operator==(const PackedHeaders &other) const;

private:
    QByteArray block() const;

    QByteArray m_packed; // empty for an empty block
};

// The lines of a header block as a server sent it, split at CR LF, a lone
// CR or a lone LF, and cut at the first empty line. A NUL byte reads as a
// space: it must not hide the lines after it from the rules.
TmsHeaders headerBlockLines(QByteArray block);
