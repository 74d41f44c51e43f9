// The private Dovecot server the integration tests rely on: it serves what
// was put into its maildir, in the order it was added, with sizes counted in
// CR LF octets, and it sees messages added or removed between sessions.
// Spoken to with a bare socket so that these facts do not depend on the
// client under test.

#include "support/dovecotserver.h"
#include "support/messagebuilder.h"

#include <QTcpSocket>
#include <QTest>

namespace {

// A minimal POP3 conversation over a blocking socket.
class RawPop3
{
public:
    bool open(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(5000) && line().startsWith("+OK");
    }
    QByteArray command(const QByteArray &text)
    {
        m_socket.write(text + "\r\n");
        m_socket.waitForBytesWritten(5000);
        return line();
    }
    QByteArray line()
    {
        while (!m_socket.canReadLine())
            if (!m_socket.waitForReadyRead(5000))
                return {};
        QByteArray l = m_socket.readLine();
        l.chop(l.endsWith("\r\n") ? 2 : 1);
        return l;
    }
    // The lines of a multi-line answer, un-stuffed, without the final ".".
    QList<QByteArray> block()
    {
        QList<QByteArray> lines;
        for (QByteArray l = line(); l != "."; l = line()) {
            if (l.isNull())
                break;
            lines << (l.startsWith("..") ? l.mid(1) : l);
        }
        return lines;
    }
    bool login(const DovecotServer &server)
    {
        return command("USER " + server.userName().toUtf8()).startsWith("+OK")
               && command("PASS " + server.password().toUtf8()).startsWith("+OK");
    }

private:
    QTcpSocket m_socket;
};

} // namespace

class TestDovecotServer : public QObject
{
    Q_OBJECT

private slots:
    void servesMessagesInOrderWithCrLfSizes()
    {
        DovecotServer server;
        MessageBuilder builder(7);
        QList<GeneratedMessage> messages = builder.messages(40);
        for (const GeneratedMessage &m : messages)
            server.addMessage(m.raw);
        MS_START_DOVECOT(server);

        RawPop3 pop;
        QVERIFY(pop.open(server.port()));
        QVERIFY(pop.login(server));
        QCOMPARE(pop.command("STAT").split(' ').value(1), QByteArray::number(messages.size()));
        for (int i = 0; i < messages.size(); ++i) {
            const QByteArray n = QByteArray::number(i + 1);
            QCOMPARE(pop.command("LIST " + n), "+OK " + n + ' ' + QByteArray::number(messages[i].raw.size()));
            QVERIFY(pop.command("TOP " + n + " 0").startsWith("+OK"));
            const QList<QByteArray> top = pop.block();
            QCOMPARE(top.mid(0, top.size() - 1), messages[i].headerLines);
        }
        QVERIFY(pop.command("QUIT").startsWith("+OK"));
    }

    void seesChangesBetweenSessions()
    {
        DovecotServer server;
        server.addMessages({MessageBuilder::assemble({"Subject: one"}, {"1"}),
                            MessageBuilder::assemble({"Subject: two"}, {"2"}),
                            MessageBuilder::assemble({"Subject: three"}, {"3"})});
        MS_START_DOVECOT(server);
        {
            RawPop3 pop;
            QVERIFY(pop.open(server.port()));
            QVERIFY(pop.login(server));
            QVERIFY(pop.command("STAT").startsWith("+OK 3 "));
            pop.command("QUIT");
        }
        QVERIFY(server.removeMessage(0));
        server.addMessage(MessageBuilder::assemble({"Subject: four"}, {"4"}));
        QCOMPARE(server.storedMessageCount(), 3);

        RawPop3 pop;
        QVERIFY(pop.open(server.port()));
        QVERIFY(pop.login(server));
        QVERIFY(pop.command("STAT").startsWith("+OK 3 "));
        QStringList subjects;
        for (int n = 1; n <= 3; ++n) {
            QVERIFY(pop.command("TOP " + QByteArray::number(n) + " 0").startsWith("+OK"));
            subjects << QString::fromLatin1(pop.block().value(0));
        }
        QCOMPARE(subjects, QStringList({"Subject: two", "Subject: three", "Subject: four"}));
        // A DELE committed by QUIT takes the file out of the maildir.
        QVERIFY(pop.command("DELE 2").startsWith("+OK"));
        QVERIFY(pop.command("QUIT").startsWith("+OK"));
        QTRY_COMPARE(server.storedMessageCount(), 2);
        QVERIFY(server.storedMessages().value(1).contains("Subject: four"));
    }

    void stopsWhenDestroyed()
    {
        quint16 port = 0;
        {
            DovecotServer server;
            MS_START_DOVECOT(server);
            port = server.port();
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!probe.waitForConnected(1000));
    }
};

QTEST_GUILESS_MAIN(TestDovecotServer)
#include "tst_dovecot_server.moc"
