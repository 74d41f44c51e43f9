#pragma once
// What a mailbox client asks of the messages that earlier checks listed, so
// that a check fetches only what is new. A message is known by its identity
// within its mailbox: the UIDL on POP3, UIDVALIDITY and UID on IMAP (see
// imapIdentity). A client without a cache, or a message without an
// identity, is listed from the server as before.

#include "mail/headersummary.h"
#include "mail/packedheaders.h"

#include <QByteArray>
#include <optional>

// The header block goes in and comes out packed, as a row keeps it: a cache
// hands its bytes over, it never unpacks or packs them.
struct CachedHeader
{
    qint64 size = 0;
    PackedHeaders headers; // as the server sent them, up to the empty line
    std::optional<HeaderSummary> summary; // none when it was not kept
};

class HeaderCache
{
public:
    virtual ~HeaderCache() = default;

    // The size and header block kept for the message, if any.
    virtual std::optional<CachedHeader> find(const QByteArray &identity) = 0;
    // A message this check fetched from the server, with its row's texts
    // when they were read.
    virtual void remember(const QByteArray &identity, qint64 size, const PackedHeaders &headers,
                          const std::optional<HeaderSummary> &summary = std::nullopt) = 0;
    // IMAP: the highest UID kept for the folder under uidValidity, 0 when
    // none. A UIDVALIDITY other than the one kept drops what was kept of the
    // folder: its UIDs name other messages now.
    virtual quint32 highestUid(quint32 uidValidity) = 0;
    // True while what remember() is given is kept: the client may then let
    // go of a row's header block once the row is listed and read it back
    // through its HeaderArchive when asked.
    virtual bool keepsHeaders() const { return false; }
};

// Where the header blocks of listed rows that the client let go of are read
// back: the same store as the cache's, also once the listing has ended.
class HeaderArchive
{
public:
    virtual ~HeaderArchive() = default;
    // The block kept under identity; empty when it cannot be read.
    virtual PackedHeaders archivedHeaders(const QByteArray &identity) = 0;
};

// The identity of an IMAP message: "<uidvalidity>/<uid>".
inline QByteArray imapIdentity(quint32 uidValidity, quint32 uid)
{
    return QByteArray::number(uidValidity) + '/' + QByteArray::number(uid);
}
