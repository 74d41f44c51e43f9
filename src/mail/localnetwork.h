#pragma once
// Where a password may still go without TLS: to this computer or a server on
// the local network, which the user chose on purpose. Anything beyond that
// crosses networks whose owners could read it.

#include <QHostAddress>

// Loopback and the addresses of this computer's own interfaces, the private
// IPv4 ranges (10/8, 172.16/12, 192.168/16), the shared address space of
// carrier-grade NAT (100.64/10, where VPNs such as Tailscale put their
// peers), link-local (169.254/16, fe80::/10) and IPv6 unique local
// addresses (fc00::/7); an IPv4 address written as IPv6 ("::ffff:10.0.0.1")
// counts as the IPv4 one.
bool isOnLocalNetwork(const QHostAddress &address);
