#pragma once
// The sign-in's end of the redirect: a listener on a free port of 127.0.0.1
// where the browser brings the provider's answer, in place of Qt's HTTP
// reply handler. Qt 6.4's handler passes on every request, its flow acts on
// error= before it looks at the state, and the browser gets one fixed text
// before anything is known. Here only the redirect that carries the state
// of this sign-in's authorization request counts (RFC 6749 sections 4.1.2.1
// and 10.12): anything else on the port is answered as ignored and changes
// nothing, and the browser of the redirect that counts waits for the
// outcome, which answer() shows it.

#include <QOAuthOobReplyHandler>
#include <QPointer>
#include <QSet>
#include <QTcpServer>

class QEventLoop;
class QTcpSocket;

// What a redirect carries, decoded as form values (RFC 6749 appendix B:
// "+" stands for a space).
struct RedirectParameters
{
    QString code;
    QString state;
    QString error;
    QString errorDescription;

    static RedirectParameters fromQuery(QByteArray query);
};

class LoopbackReplyHandler : public QOAuthOobReplyHandler
{
    Q_OBJECT
public:
    // What the browser shows for a request that does not count.
    static QString ignoredText();

    explicit LoopbackReplyHandler(QObject *parent = nullptr);

    bool isListening() const { return m_server.isListening(); }
    // http://127.0.0.1:<port>/, the redirect address the provider is given.
    QString callback() const override;

    // The state sent with the authorization request; only the first
    // redirect carrying it counts.
    void expectState(const QString &state) { m_state = state; }

    // Shows text to the browser of the redirect that counted, if it still
    // waits, and returns once every answered page has been handed to the
    // system (or after timeoutMs): the program may end right afterwards.
    void answer(const QString &text, int timeoutMs);

signals:
    // The redirect that counts carried an error instead of a code; its code
    // goes to Qt's flow through callbackReceived.
    void refused(const QString &error, const QString &description);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void take(QTcpSocket *socket, const RedirectParameters &redirect);
    void send(QTcpSocket *socket, const QByteArray &status, const QString &text);

    QString m_state;
    bool m_taken = false;
    QPointer<QTcpSocket> m_waiting; // the browser of the redirect that counted
    QSet<QTcpSocket *> m_sending; // answered, not yet closed
    QEventLoop *m_drain = nullptr; // answer()'s wait for m_sending to empty
    // Last, so that it goes first: its sockets report their end to the members above.
    QTcpServer m_server;
};
