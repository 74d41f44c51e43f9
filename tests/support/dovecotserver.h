#pragma once
// A private Dovecot POP3 server for integration tests and benchmarks: its own
// configuration, passwd file, maildir, state and log under a temporary
// folder, listening on a free 127.0.0.1 port, stopped by the destructor at
// the latest. Nothing of the system's Dovecot service is used.
//
// Messages may be put into the maildir before start() and between sessions;
// mailbox order is the order in which they were added.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

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
    // MAILSIEVE_REQUIRE_DOVECOT=1: a missing or failing server is a test failure.
    static bool required();

    void addMessage(const QByteArray &raw);
    void addMessages(const QList<QByteArray> &raws);
    // Removes the message at mailbox position index (0-based) behind the server's back.
    bool removeMessage(int index);
    // Raw contents of the messages now in the maildir, in mailbox order.
    QList<QByteArray> storedMessages() const;
    int storedMessageCount() const;

    // TLS, set before start(): with a certificate and key (PEM), the POP3
    // port offers STLS and a second port speaks POP3S; without, neither.
    void setTlsIdentity(const QByteArray &certificatePem, const QByteArray &keyPem);
    // The POP3S port, 0 without TLS.
    quint16 tlsPort() const { return m_tlsPort; }
    QString tlsServer() const; // "127.0.0.1:<POP3S port>"

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
    // The first line the server sends a new connection, without its line
    // end; empty when none comes.
    QByteArray greeting() const;
    QString errorString() const { return m_error; }
    QString logText() const;

private:
    QString path(const QString &relative) const;
    QStringList messageFileNames() const;
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
    bool m_tls = false;
    QStringList m_authMechanisms{QStringLiteral("plain")};
    QUrl m_introspectionUrl;
    int m_nextFile = 0;
    QString m_error;
};

// For Qt Test functions: starts the server or ends the test function, with a
// failure when Dovecot is required and a skip otherwise.
#define MS_START_DOVECOT(server)                                                                   \
    do {                                                                                           \
        if (!(server).start()) {                                                                   \
            if (DovecotServer::required())                                                         \
                QFAIL(qPrintable((server).errorString()));                                         \
            QSKIP(qPrintable((server).errorString()));                                             \
        }                                                                                          \
    } while (false)
