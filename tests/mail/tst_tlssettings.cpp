// A mailbox's stored security choice and trusted certificate reach the POP3
// client, and a certificate the user trusts once is stored so that the next
// check of that mailbox accepts it without asking.

#include "mail/pop3client.h"
#include "settings/generalsettings.h"
#include "support/scriptedpop3server.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestTlsSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString storePath() const { return dir.filePath("settings.ini"); }

    void writeStore(const QByteArray &text)
    {
        QFile file(storePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

private slots:
    void securityAndFingerprintReachTheClient_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("mode");
        QTest::addColumn<quint16>("port");
        QTest::newRow("SSL/TLS") << QByteArray("Security1=SSL/TLS\n") << int(TlsMode::Implicit) << quint16(995);
        QTest::newRow("STARTTLS") << QByteArray("Security1=STARTTLS\n") << int(TlsMode::StartTls) << quint16(110);
        QTest::newRow("None") << QByteArray("Security1=None\n") << int(TlsMode::None) << quint16(110);
        QTest::newRow("stored before the choice") << QByteArray() << int(TlsMode::None) << quint16(110);
    }

    void securityAndFingerprintReachTheClient()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, mode);
        QFETCH(quint16, port);
        writeStore("[Server]\nServer1=pop.example.com\nMailbox1=me\nFingerprint1=AB:CD\n" + stored);
        SettingsStore store(storePath());
        TmsRemotePOP client;
        // A client that checked another mailbox before keeps nothing of it.
        client.setTlsMode(TlsMode::StartTls);
        client.setTrustedFingerprint("11:22");
        GetRemotePOPSettings(store, 1, client);
        QCOMPARE(int(client.tlsMode()), mode);
        QCOMPARE(client.defaultPort(), port);
        QCOMPARE(client.trustedFingerprint(), QStringLiteral("AB:CD"));
        QCOMPARE(client.server(), QStringLiteral("pop.example.com"));
    }

    void trustedCertificateIsStoredAndSurvivesASaveOfTheWindow()
    {
        SettingsStore store(storePath());
        GeneralSettings live;
        live.mailboxes[1].server = "pop.example.com";
        live.mailboxes[1].mailbox = "me";
        live.mailboxes[1].password = "pw";
        QVERIFY(live.saveServerSettings(store).ok());
        QVERIFY(live.trustCertificate(store, 2, "AA:BB:CC"));
        QCOMPARE(live.mailboxes[1].fingerprint, QStringLiteral("AA:BB:CC"));

        SettingsStore reread(storePath());
        QCOMPARE(GetRemotePOPSettings(reread, 2).fingerprint, QStringLiteral("AA:BB:CC"));
        QCOMPARE(GetRemotePOPSettings(reread, 2).server, QStringLiteral("pop.example.com"));
        // The General settings window saves its live values later on.
        const ServerSaveResult saved = live.saveServerSettings(store);
        QVERIFY2(saved.ok(), qPrintable(saved.message + saved.writeError));
        QCOMPARE(GetRemotePOPSettings(reread, 2).fingerprint, QStringLiteral("AA:BB:CC"));
        QVERIFY(!live.trustCertificate(store, 13, "AA"));
    }

    void certificateTrustedOnceIsNotAskedForAgain()
    {
        QString error;
        const TestCertificate identity = TestCertificate::generate("mailsieve-test", {}, nullptr, &error);
        QVERIFY2(!identity.isNull(), qPrintable(error));
        ScriptedPop3Server server;
        server.setTlsIdentity(identity);
        server.setImplicitTls(true);
        server.setMessages({"Subject: hello\r\n\r\nbody\r\n"});
        QVERIFY(server.listen());
        SettingsStore store(storePath());
        GeneralSettings live;
        live.mailboxes[0].server = server.address();
        live.mailboxes[0].mailbox = "user";
        live.mailboxes[0].password = "secret";
        QCOMPARE(live.mailboxes[0].security, MailSecurity::SslTls); // a new mailbox's choice
        QVERIFY(live.saveServerSettings(store).ok());
        int questions = 0;
        const auto check = [&] {
            TmsRemotePOP client;
            client.setTimeOut(10);
            GetRemotePOPSettings(store, 1, client);
            client.OnCertificateUntrusted = [&](const TlsFailure &failure) {
                ++questions;
                return live.trustCertificate(store, 1, failure.fingerprint);
            };
            client.UpdateInfo();
            QCOMPARE(client.Info().Count(), 1);
        };
        check();
        QCOMPARE(questions, 1);
        check();
        QCOMPARE(questions, 1);
        QCOMPARE(server.tlsHandshakes(), 2);
    }
};

QTEST_GUILESS_MAIN(TestTlsSettings)
#include "tst_tlssettings.moc"
