#include "mail/localnetwork.h"

#include <QNetworkInterface>

#include <array>

bool isOnLocalNetwork(const QHostAddress &address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    const QHostAddress plain = isIpv4 ? QHostAddress(ipv4) : address;
    if (plain.isLoopback() || plain.isLinkLocal() || plain.isUniqueLocalUnicast())
        return true;
    static const std::array<std::pair<QHostAddress, int>, 4> privateRanges = {{
        {QHostAddress(QStringLiteral("10.0.0.0")), 8},
        {QHostAddress(QStringLiteral("172.16.0.0")), 12},
        {QHostAddress(QStringLiteral("192.168.0.0")), 16},
        {QHostAddress(QStringLiteral("100.64.0.0")), 10},
    }};
    for (const auto &[network, prefix] : privateRanges) {
        if (plain.isInSubnet(network, prefix))
            return true;
    }
    // A public address of this computer itself: nothing crosses a network.
    return QNetworkInterface::allAddresses().contains(plain);
}
