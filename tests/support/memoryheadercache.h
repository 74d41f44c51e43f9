#pragma once
// A HeaderCache in memory for protocol tests: what the clients remembered,
// and how often they asked.

#include "mail/headercache.h"

#include <QHash>

class MemoryHeaderCache : public HeaderCache
{
public:
    std::optional<CachedHeader> find(const QByteArray &identity) override
    {
        ++finds;
        const auto found = entries.constFind(identity);
        if (found == entries.cend())
            return std::nullopt;
        return *found;
    }
    void remember(const QByteArray &identity, qint64 size, const PackedHeaders &headers,
                  const std::optional<HeaderSummary> &summary = std::nullopt) override
    {
        entries.insert(identity, {size, headers, summary});
        remembered << identity;
    }
    quint32 highestUid(quint32 uidValidity) override
    {
        quint32 highest = 0;
        const QByteArray prefix = QByteArray::number(uidValidity) + '/';
        for (auto it = entries.begin(); it != entries.end();) {
            if (!it.key().contains('/')) {
                ++it;
            } else if (!it.key().startsWith(prefix)) {
                it = entries.erase(it); // another UIDVALIDITY: those UIDs name other messages now
            } else {
                highest = std::max(highest, it.key().mid(prefix.size()).toUInt());
                ++it;
            }
        }
        return highest;
    }

    QHash<QByteArray, CachedHeader> entries;
    QList<QByteArray> remembered; // identities, in the order remember() got them
    int finds = 0;
};
