#pragma once
// Error numbers of the socket transport and their texts: the classic socket
// library numbers 10000-11004 and the transport's own numbers from 57000.

#include <QAbstractSocket>
#include <QString>

namespace SocketError {
enum Number : int {
    // The transport's own errors.
    TimedOut = 57000,
    Canceled = 57001,
    ServerRequired = 57002,
    InvalidVersion = 57003,
    ResolvingHost = 57004,
    ServiceRequired = 57005,
    NotConnected = 57008,
    FunctionNotFound = 57010,
    NotLoaded = 57011,
    LibraryNotFound = 57012,
    ClosedByServer = 57013,
    ReplyTooLong = 57014,
    HostNameTooLong = 57015,
    ServiceNameTooLong = 57016,

    // Socket library numbers the transport produces itself.
    AccessDenied = 10013,
    MessageTooLong = 10040,
    NotSupported = 10045,
    AddressInUse = 10048,
    AddressNotAvailable = 10049,
    NetworkDown = 10050,
    NetworkUnreachable = 10051,
    ConnectionReset = 10054,
    NoBufferSpace = 10055,
    ConnectionTimedOut = 10060,
    ConnectionRefused = 10061,
    HostUnreachable = 10065,
    HostNotFound = 11001,
    TryAgain = 11002,
};
}

// The text of error number n; "Error #" + n when the number has no text.
QString socketErrorText(int n);

// Whether error n is a failure of the network or the server (the socket
// library's numbers, a time-out, a host that cannot be resolved, a closed
// connection, an overlong reply) rather than of the settings or the caller:
// the texts of those name the server.
bool isNetworkError(int n);

// The error number for a failure Qt reported on a socket; 0 when there is
// no matching number (the caller then shows Qt's own text). qtText refines
// Qt's catch-all NetworkError into the unreachable and timed-out cases.
int socketErrorNumber(QAbstractSocket::SocketError error, const QString &qtText);
