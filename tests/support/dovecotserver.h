#pragma once
// A private Dovecot POP3 server for integration tests and benchmarks: its own
// configuration, passwd file, maildir, state and log under a temporary
// folder, listening on a free 127.0.0.1 port, stopped by the destructor at
// the latest. Nothing of the system's Dovecot service is used.
//
// When Dovecot's IMAP server is installed (Debian package dovecot-imapd) it
// also speaks IMAP on a port of its own, over the same maildir: INBOX is
// what POP3 serves, and a folder "Junk" with the \Junk special use
// (RFC 6154) is created at the first login.
//
// Messages may be put into the maildir before start() and between sessions;
// mailbox order is the order in which they were added.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class RemoteMailbox;
class TmsRemotePOP;

class QProcess;

class DovecotServer
{
public:
    DovecotServer();
    ~DovecotServer();
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    // The dovecot binary is installed.
    static bool available();
    // So is its IMAP server.
    static bool imapAvailable();
    // MAILSIEVE_REQUIRE_DOVECOT=1: a missing or failing server is a test failure.
    static bool required();

    void addMessage(const QByteArray &raw);
    void addMessages(const QList<QByteArray> &raws);
    // Adds count messages, messageAt(i) for i from 0, one at a time, each
    // file written without waiting for the disk: fills a benchmark mailbox
    // of 100,000 messages in seconds without holding them in memory. False
    // when a file could not be written.
    bool addMessages(int count, const std::function<QByteArray(int)> &messageAt);
    // Removes the message at mailbox position index (0-based) behind the server's back.
    bool removeMessage(int index);
    // Raw contents of the messages now in the maildir, in mailbox order.
    QList<QByteArray> storedMessages() const;
    int storedMessageCount() const;
    // The same for an IMAP folder ("INBOX" is the maildir above).
    QList<QByteArray> storedMessages(const QString &folder) const;
    // Whether each message of the folder carries the \Seen flag (maildir
    // info ":2,...S"), in mailbox order.
    QList<bool> seenFlags(const QString &folder = QStringLiteral("INBOX")) const;
    // The folder's UIDVALIDITY as the server keeps it, through doveadm; 0
    // when it cannot be read. The server must be running.
    quint32 uidValidity(const QString &folder = QStringLiteral("INBOX")) const;
    // Gives the folder a new UIDVALIDITY, as a server does when it had to
    // rebuild its UID list: UIDs a client kept from before mean nothing now.
    bool setUidValidity(quint32 uidValidity, const QString &folder = QStringLiteral("INBOX"));

    // TLS, set before start(): with a certificate and key (PEM), the POP3
    // port offers STLS and a second port speaks POP3S, and the IMAP port
    // offers STARTTLS beside an IMAPS port; without, none of them.
    void setTlsIdentity(const QByteArray &certificatePem, const QByteArray &keyPem);
    // The POP3S port, 0 without TLS.
    quint16 tlsPort() const { return m_tlsPort; }
    QString tlsServer() const; // "127.0.0.1:<POP3S port>"
    // The IMAP port, 0 without IMAP; the IMAPS port, 0 without TLS or IMAP.
    quint16 imapPort() const { return m_imapPort; }
    QString imapServer() const; // "127.0.0.1:<IMAP port>"
    quint16 imapsPort() const { return m_imapsPort; }
    QString imapsServer() const; // "127.0.0.1:<IMAPS port>"

    // Sign-in, set before start(). The SASL mechanisms the server offers, in
    // Dovecot's names ("plain", "apop", "xoauth2", "oauthbearer", ...);
    // "plain" only by default. USER and PASS need "plain", and the greeting
    // carries an APOP timestamp only when "apop" is among them. The passwd
    // file keeps the password in plain text, which APOP needs.
    void setAuthMechanisms(const QStringList &mechanisms);
    // XOAUTH2 and OAUTHBEARER tokens are checked by POSTing "token=..." to
    // this URL; the JSON answer must say "active": true and give the login
    // name as "username". Passwords are still checked against the passwd
    // file only, and tokens only here.
    void setOAuth2Introspection(const QUrl &introspectionUrl);

    // Starts the server and waits until it greets; false with errorString() on failure.
    bool start();
    void stop();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    QString server() const; // "127.0.0.1:<port>", the form TmsRemotePOP::Server takes
    QString userName() const { return QStringLiteral("tester"); }
    QString password() const { return QStringLiteral("s3cret pass"); }
    // Points pop at this mailbox (plain POP3): server, user name, password.
    void logIn(TmsRemotePOP &pop) const;
    // The same for an IMAP client (plain IMAP).
    void logInImap(RemoteMailbox &client) const;
    // The first line the server sends a new connection, without its line
    // end; empty when none comes.
    QByteArray greeting() const;
    QByteArray imapGreeting() const;
    QString errorString() const { return m_error; }
    QString logText() const;

private:
    QString path(const QString &relative) const;
    QString maildir(const QString &folder) const;
    // The name of the maildir file for the next message added to INBOX.
    QString nextMessageFile();
    QStringList messageFileNames(const QString &folder = QStringLiteral("INBOX")) const;
    QByteArray greetingOn(quint16 port) const;
    // Runs doveadm on this server's configuration for the test user; its
    // standard output, or nothing when it fails.
    std::optional<QByteArray> doveadm(const QStringList &arguments) const;
    bool prepareFiles();
    bool writeConfig();
    bool writeOAuth2Config();
    QString passdbConfig() const;
    bool launch();
    bool waitForGreeting(int timeoutMs);
    void handOverMaildir() const;
    bool fail(const QString &message);

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    quint16 m_imapPort = 0;
    quint16 m_imapsPort = 0;
    bool m_tls = false;
    QStringList m_authMechanisms{QStringLiteral("plain")};
    QUrl m_introspectionUrl;
    int m_nextFile = 0;
    QString m_error;
};

// For Qt Test functions: starts the server or ends the test function, with a
// failure when Dovecot is required and a skip otherwise.
#define MS_START_DOVECOT(server)                                                                                       \
    do {                                                                                                               \
        if (!(server).start()) {                                                                                       \
            if (DovecotServer::required())                                                                             \
                QFAIL(qPrintable((server).errorString()));                                                             \
            QSKIP(qPrintable((server).errorString()));                                                                 \
        }                                                                                                              \
    } while (false)
