// A downloaded message file holds the message as its server sent it: a POP3
// data block, or an IMAP literal that needs no undoing; what the body viewer
// reads is the message as its sender wrote it.

#include "app/inspectionrig.h"
#include "app/savedmessage.h"
#include "support/scriptedimapserver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSavedMessage : public QObject
{
    Q_OBJECT

private slots:
    void unstuffing_data();
    void unstuffing();
    void bodyOfASavedFileIsTheSendersText_data();
    void bodyOfASavedFileIsTheSendersText();
    void missingFileNamesItself();
    void viewBodyShowsEveryDotOverEitherProtocol_data();
    void viewBodyShowsEveryDotOverEitherProtocol();
};

void TestSavedMessage::unstuffing_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("final dot line goes") << QByteArray("A: b\r\n\r\nbody\r\n.\r\n")
                                         << QByteArray("A: b\r\n\r\nbody\r\n");
    QTest::newRow("stuffed dot goes") << QByteArray("A: b\r\n\r\n..hidden\r\n.\r\n")
                                      << QByteArray("A: b\r\n\r\n.hidden\r\n");
    QTest::newRow("a line of one dot was sent as two")
        << QByteArray("x\r\n..\r\n...\r\n.\r\n") << QByteArray("x\r\n.\r\n..\r\n");
    QTest::newRow("dot inside a line stays") << QByteArray("a.b\r\n end.\r\n.\r\n") << QByteArray("a.b\r\n end.\r\n");
    QTest::newRow("bare line feeds") << QByteArray("x\n..y\n.\n") << QByteArray("x\n.y\n");
    QTest::newRow("block cut short keeps what came") << QByteArray("x\r\n..y") << QByteArray("x\r\n.y");
    QTest::newRow("end line without break") << QByteArray("x\r\n.") << QByteArray("x\r\n");
    QTest::newRow("nothing after the end line") << QByteArray("a\r\n.\r\nb\r\n") << QByteArray("a\r\n");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestSavedMessage::unstuffing()
{
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, message);
    QCOMPARE(unstuffedMessage(received), message);
}

namespace {

// What the sender wrote: a line that starts with a dot and a line of one dot.
const QStringList DottedBody{QStringLiteral(".profile"), QStringLiteral("."), QStringLiteral("end")};

void addProtocolColumn()
{
    QTest::addColumn<MailProtocol>("protocol");
}

} // namespace

void TestSavedMessage::bodyOfASavedFileIsTheSendersText_data()
{
    addProtocolColumn();
    QTest::addColumn<QByteArray>("received");

    QTest::newRow("POP3 data block") << MailProtocol::Pop3
                                     << QByteArray("From: a@example.org\r\nSubject: dots\r\n\r\n"
                                                   "..profile\r\n..\r\nend\r\n.\r\n");
    QTest::newRow("IMAP literal") << MailProtocol::Imap
                                  << QByteArray("From: a@example.org\r\nSubject: dots\r\n\r\n"
                                                ".profile\r\n.\r\nend\r\n");
}

void TestSavedMessage::bodyOfASavedFileIsTheSendersText()
{
    QFETCH(MailProtocol, protocol);
    QFETCH(QByteArray, received);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("msg_0.eml"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(received);
    file.close();

    QCOMPARE(savedMessageBody(path, protocol), DottedBody);
    // The file keeps the form it was received in.
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), received);
}

void TestSavedMessage::missingFileNamesItself()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("msg_7.eml"));
    for (MailProtocol protocol : {MailProtocol::Pop3, MailProtocol::Imap}) {
        const QString text = savedMessageBody(path, protocol).join(QLatin1Char('\n'));
        QVERIFY2(text.contains(QStringLiteral("Cannot open file ") + path), qPrintable(text));
    }
}

void TestSavedMessage::viewBodyShowsEveryDotOverEitherProtocol_data()
{
    addProtocolColumn();
    QTest::newRow("POP3") << MailProtocol::Pop3;
    QTest::newRow("IMAP") << MailProtocol::Imap;
}

void TestSavedMessage::viewBodyShowsEveryDotOverEitherProtocol()
{
    QFETCH(MailProtocol, protocol);
    QList<QByteArray> body;
    for (const QString &line : DottedBody)
        body << line.toUtf8();
    const QByteArray message = MessageBuilder::assemble({"From: a@example.org", "Subject: dots"}, body);

    inspectionrig::InspectionRig rig;
    ScriptedImapServer imap;
    if (protocol == MailProtocol::Imap) {
        imap.setMessages({message});
        QVERIFY(imap.listen());
        rig.startOn(imap.address(), imap.user(), imap.password(),
                    [](GeneralSettings &s) { s.mailboxes[0].protocol = MailProtocol::Imap; });
    } else {
        rig.start({message});
    }
    rig.check();
    QCOMPARE(rig.core->list.count(), 1);
    rig.select({0});
    rig.commands->inspection().ViewMessages1Click();

    QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Error), QStringList());
    QCOMPARE(rig.viewers.size(), 1);
    QCOMPARE(rig.viewers[0].lines, DottedBody);
}

QTEST_MAIN(TestSavedMessage)
#include "tst_savedmessage.moc"
