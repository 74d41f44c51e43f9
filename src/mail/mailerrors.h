#pragma once
// The exceptions that leave the mail protocol components. Every kind derives
// from EMailsieveError, so a caller can catch them all at once and
// still tell them apart by type.

#include <QByteArray>
#include <QString>
#include <exception>

class EMailsieveError : public std::exception
{
public:
    explicit EMailsieveError(const QString &message);
    QString message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A negative server reply; the message is the reply line as received.
class EServerError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// A network or property failure of the transport.
class ESocketError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// A wait ran out of time ("Operation timed out").
class ETimedOutError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// The user cancelled the running operation ("Operation has been canceled").
class ECanceledError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// The sockets library could not be used.
class EWinsockDLLError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// The dial-up connection failed.
class ERASError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// A retrieved message could not be written to its file.
class EFileError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// The server broke the protocol: a reply that is not what the command asks
// for, a data block or a reply beyond what any mailbox needs, data where
// none may be. The session is dropped; the text quotes what was received.
class EProtocolError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// Something other than the mail exchange failed inside an operation (memory
// ran out, a program fault); the session was dropped without QUIT.
class EInternalError : public EMailsieveError
{
public:
    using EMailsieveError::EMailsieveError;
};

// A delete pass found that a message no longer matches what the check listed;
// the session was dropped without QUIT, so the server deleted nothing.
class EMailboxChangedError : public EMailsieveError
{
public:
    EMailboxChangedError();
};

// The server refused the credentials (password, APOP digest or access token).
// The text names the user and server and quotes the server's line.
class ELoginRefusedError : public EServerError
{
public:
    using EServerError::EServerError;
};

// An OAuth 2.0 mailbox has no usable grant (none stored, expired or revoked):
// only an interactive sign-in can help, never an unattended check.
class ESignInNeededError : public EMailsieveError
{
public:
    // "Sign in again to <account>"
    explicit ESignInNeededError(const QString &account, const QString &reason = QString());
    QString account() const { return m_account; }

private:
    QString m_account;
};
