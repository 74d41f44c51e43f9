#pragma once
// A server held in memory, for protocol tests that need no real socket: it
// plays a script of bytes to a client's sessions in pieces the test chooses
// and records the lines the client sends. Unlike loopback TCP, which may
// merge writes again before the client reads, it is exact: a piece is
// handed over only once the client has looked at every byte before it and
// waits for more, so the client's reads are cut where the test cut the
// script, and nowhere else.
//
//   MemoryServer server;
//   server.addSession({"+OK ready\r\n", "+OK\r\nline\r\n.", "\r\n"});
//   server.attach(client);                  // client: a TagSocket
//   client.setServer("127.0.0.1:110");      // no name lookup
//   ... client.Open(), Connect(), ReadReply(), ReceiveData(...)
//   QCOMPARE(server.commands(), QStringList{...});
//
// Each session the client opens takes the next script; after its last
// piece the server closes its side. A session beyond the scripts added is
// closed at once.

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <deque>
#include <functional>

class TagSocket;

class MemoryServer
{
public:
    // The pieces the next session is sent, in order.
    void addSession(const QList<QByteArray> &pieces) { m_sessions.push_back(pieces); }
    // Every session the client opens from now on talks to this server.
    void attach(TagSocket &client);

    // The lines the client sent, over all sessions, without line ends.
    QStringList commands() const { return m_commands; }
    // Sessions the client opened.
    int sessionsOpened() const { return m_sessionsOpened; }
    // Runs as each piece is handed over (a test turns its clock here).
    std::function<void()> onPiece;

private:
    class Stream;

    std::deque<QList<QByteArray>> m_sessions;
    QStringList m_commands;
    QByteArray m_partialCommand;
    int m_sessionsOpened = 0;
};
