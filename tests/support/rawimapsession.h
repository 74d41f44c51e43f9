#pragma once
// A hand-driven IMAP session over a blocking socket, for tests that look at
// a server without the client under test, or act as another mail program.
// Tags are "t1", "t2", ... Its waits turn the event loop, so the server
// may live on the same thread.

#include <QByteArray>
#include <QSslSocket>

class RawImapSession
{
public:
    // Connects to 127.0.0.1 (with implicitTls, IMAPS without checking the
    // certificate) and reads the greeting.
    explicit RawImapSession(quint16 port, bool implicitTls = false);

    QByteArray greeting() const { return m_greeting; }
    bool encrypted() const { return m_socket.isEncrypted(); }

    // Sends the command with the next tag and returns every line up to
    // and with the tagged response.
    QByteArray run(const QByteArray &command);
    // LOGIN with the password as a quoted string; whether it was accepted.
    bool logIn(const QString &user, const QString &password);
    // Sends one line as it is (CR LF added).
    void send(const QByteArray &line);
    // Lines up to and with the first that starts with prefix, or what came
    // before the time ran out or the connection ended.
    QByteArray readUntil(const QByteArray &prefix, int timeoutMs = 15000);

private:
    QByteArray readLine(int timeoutMs);

    QSslSocket m_socket;
    QByteArray m_greeting;
    int m_tags = 0;
};
