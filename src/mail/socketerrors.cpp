#include "mail/socketerrors.h"

#include <QHash>

namespace {

const QHash<int, QString> &errorTexts()
{
    static const QHash<int, QString> texts = {
        {57000, QStringLiteral("Operation timed out")},
        {57001, QStringLiteral("Operation has been canceled")},
        {57002, QStringLiteral("Server property is required")},
        {57003, QStringLiteral("Invalid Winsock version")},
        {57004, QStringLiteral("Error resolving remote host")},
        {57005, QStringLiteral("Service name is required")},
        {57008, QStringLiteral("You have to connect to the server first")},
        {57010, QStringLiteral("Function %s not found")},
        {57011, QStringLiteral("Winsock is not loaded")},
        {57012, QStringLiteral("Winsock not found")},
        {57013, QStringLiteral("Connection closed by the server")},
        {57014, QStringLiteral("Reply line too long")},
        {57015, QStringLiteral("Host name is too long")},
        {57016, QStringLiteral("Service name is too long")},

        {10004, QStringLiteral("Interrupted function call")},
        {10009, QStringLiteral("Bad file descriptor")},
        {10013, QStringLiteral("Permission denied")},
        {10014, QStringLiteral("Bad address")},
        {10022, QStringLiteral("Invalid argument")},
        {10024, QStringLiteral("Too many open files")},
        {10035, QStringLiteral("Resource temporarily unavailable")},
        {10036, QStringLiteral("Operation now in progress")},
        {10037, QStringLiteral("Operation already in progress")},
        {10038, QStringLiteral("Socket operation on nonsocket")},
        {10039, QStringLiteral("Destination address required")},
        {10040, QStringLiteral("Message too long")},
        {10041, QStringLiteral("Protocol wrong type for socket")},
        {10042, QStringLiteral("Bad protocol option")},
        {10043, QStringLiteral("Protocol not supported")},
        {10044, QStringLiteral("Socket type not supported")},
        {10045, QStringLiteral("Operation not supported")},
        {10046, QStringLiteral("Protocol family not supported")},
        {10047, QStringLiteral("Address family not supported by protocol family")},
        {10048, QStringLiteral("Address already in use")},
        {10049, QStringLiteral("Cannot assign requested address")},
        {10050, QStringLiteral("Network is down")},
        {10051, QStringLiteral("Network is unreachable")},
        {10052, QStringLiteral("Network dropped connection on reset")},
        {10053, QStringLiteral("Software caused connection abort")},
        {10054, QStringLiteral("Connection reset by peer")},
        {10055, QStringLiteral("No buffer space available")},
        {10056, QStringLiteral("Socket is already connected")},
        {10057, QStringLiteral("Socket is not connected")},
        {10058, QStringLiteral("Cannot send after socket shutdown")},
        {10059, QStringLiteral("Too many references")},
        {10060, QStringLiteral("Connection timed out")},
        {10061, QStringLiteral("Connection refused")},
        {10062, QStringLiteral("Cannot translate name")},
        {10063, QStringLiteral("Name too long")},
        {10064, QStringLiteral("Host is down")},
        {10065, QStringLiteral("No route to host")},
        {10066, QStringLiteral("Directory not empty")},
        {10067, QStringLiteral("Too many processes")},
        {10068, QStringLiteral("User quota exceeded")},
        {10069, QStringLiteral("Disk quota exceeded")},
        {10070, QStringLiteral("Stale file handle reference")},
        {10071, QStringLiteral("Item is remote")},
        {10091, QStringLiteral("Network subsystem is unavailable")},
        {10092, QStringLiteral("Winsock.dll version out of range")},
        {10093, QStringLiteral("Successful WSAStartup not yet performed")},
        {10101, QStringLiteral("Graceful shutdown in progress")},
        {11001, QStringLiteral("Host not found")},
        {11002, QStringLiteral("Nonauthoritative host not found")},
        {11003, QStringLiteral("This is a nonrecoverable error")},
        {11004, QStringLiteral("Valid name, no data record of requested type")},
    };
    return texts;
}

} // namespace

QString socketErrorText(int n)
{
    const auto found = errorTexts().constFind(n);
    if (found != errorTexts().cend())
        return *found;
    return QStringLiteral("Error #%1").arg(n);
}

bool isNetworkError(int n)
{
    using namespace SocketError;
    constexpr int FirstLibraryNumber = 10000;
    constexpr int LastLibraryNumber = 11004;
    return (n >= FirstLibraryNumber && n <= LastLibraryNumber) || n == TimedOut || n == ResolvingHost
           || n == ClosedByServer || n == ReplyTooLong;
}

int socketErrorNumber(QAbstractSocket::SocketError error, const QString &qtText)
{
    using namespace SocketError;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return ConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError:
        return ClosedByServer;
    case QAbstractSocket::HostNotFoundError:
        return HostNotFound;
    case QAbstractSocket::SocketAccessError:
        return AccessDenied;
    case QAbstractSocket::SocketResourceError:
        return NoBufferSpace;
    case QAbstractSocket::SocketTimeoutError:
        return ConnectionTimedOut;
    case QAbstractSocket::DatagramTooLargeError:
        return MessageTooLong;
    case QAbstractSocket::AddressInUseError:
        return AddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return AddressNotAvailable;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return NotSupported;
    case QAbstractSocket::NetworkError:
        // Qt folds several system errors into NetworkError; its text tells them apart.
        if (qtText.contains(QLatin1String("Network unreachable"), Qt::CaseInsensitive))
            return NetworkUnreachable;
        if (qtText.contains(QLatin1String("Host unreachable"), Qt::CaseInsensitive))
            return HostUnreachable;
        if (qtText.contains(QLatin1String("timed out"), Qt::CaseInsensitive))
            return ConnectionTimedOut;
        return NetworkDown;
    default:
        return 0;
    }
}
