// A downloaded message file holds the POP3 data block as received; what the
// body viewer reads is the message as its sender wrote it.

#include "app/savedmessage.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSavedMessage : public QObject
{
    Q_OBJECT

private slots:
    void unstuffing_data();
    void unstuffing();
    void bodyOfASavedFileIsTheSendersText();
    void missingFileNamesItself();
};

void TestSavedMessage::unstuffing_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("final dot line goes") << QByteArray("A: b\r\n\r\nbody\r\n.\r\n")
                                         << QByteArray("A: b\r\n\r\nbody\r\n");
    QTest::newRow("stuffed dot goes") << QByteArray("A: b\r\n\r\n..hidden\r\n.\r\n")
                                      << QByteArray("A: b\r\n\r\n.hidden\r\n");
    QTest::newRow("a line of one dot was sent as two") << QByteArray("x\r\n..\r\n...\r\n.\r\n")
                                                       << QByteArray("x\r\n.\r\n..\r\n");
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

void TestSavedMessage::bodyOfASavedFileIsTheSendersText()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("msg_0.eml"));
    const QByteArray received = "From: a@example.org\r\nSubject: dots\r\n\r\n..hidden\r\n..\r\nend\r\n.\r\n";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(received);
    file.close();

    QCOMPARE(savedMessageBody(path),
             (QStringList{QStringLiteral(".hidden"), QStringLiteral("."), QStringLiteral("end")}));
    // The file keeps the form it was received in.
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), received);
}

void TestSavedMessage::missingFileNamesItself()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("msg_7.eml"));
    const QString text = savedMessageBody(path).join(QLatin1Char('\n'));
    QVERIFY2(text.contains(QStringLiteral("Cannot open file ") + path), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestSavedMessage)
#include "tst_savedmessage.moc"
