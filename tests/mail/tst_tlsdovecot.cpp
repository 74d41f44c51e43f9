// POP3 over TLS against a private Dovecot with a self-signed certificate
// made for the run: POP3S and STARTTLS after the user trusted the
// certificate, refusal with the details without trust, a changed
// certificate asking again, and no password for a server without STLS.

#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "mail/tlssecurity.h"
#include "support/dovecotserver.h"
#include "support/messagebuilder.h"
#include "support/scriptedserver.h" // TestCertificate

#include <QTest>

class TestTlsDovecot : public QObject
{
    Q_OBJECT

private:
    TestCertificate first;
    TestCertificate second;
    QList<QByteArray> raws;

    void serveWith(DovecotServer &server, const TestCertificate &identity)
    {
        server.setTlsIdentity(identity.certificatePem, identity.keyPem);
        server.addMessages(raws);
    }

    static void connectTo(TmsRemotePOP &pop, const DovecotServer &server, TlsMode mode)
    {
        pop.setTlsMode(mode);
        server.logIn(pop);
        if (mode == TlsMode::Implicit)
            pop.setServer(server.tlsServer());
        pop.setTimeOut(20);
    }

    // Lists the mailbox, trusting whatever certificate is shown; returns
    // the fingerprints the user was asked about.
    QStringList listTrusting(TmsRemotePOP &pop)
    {
        QStringList asked;
        pop.OnCertificateUntrusted = [&asked](const TlsFailure &failure) {
            asked << failure.fingerprint;
            return true;
        };
        pop.UpdateInfo();
        return asked;
    }

private slots:
    void initTestCase()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS backend");
        QString error;
        first = TestCertificate::generate("mailsieve-dovecot", {"DNS:localhost"}, nullptr, &error);
        second = TestCertificate::generate("mailsieve-dovecot", {"DNS:localhost"}, nullptr, &error);
        QVERIFY2(!first.isNull() && !second.isNull(), qPrintable(error));
        for (const GeneratedMessage &m : MessageBuilder(77).messages(25))
            raws << m.raw;
    }

    void bothWaysWorkOnceTheCertificateIsTrusted_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("SSL/TLS") << int(TlsMode::Implicit);
        QTest::newRow("STARTTLS") << int(TlsMode::StartTls);
    }

    void bothWaysWorkOnceTheCertificateIsTrusted()
    {
        QFETCH(int, mode);
        DovecotServer server;
        serveWith(server, first);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        connectTo(pop, server, TlsMode(mode));
        const QString fingerprint = certificateFingerprint(first.certificate());
        QCOMPARE(listTrusting(pop), QStringList{fingerprint});
        QCOMPARE(pop.Info().Count(), raws.size());
        QCOMPARE(pop.trustedFingerprint(), fingerprint);
        QVERIFY(pop.hasCapability("PIPELINING"));
        QVERIFY(!pop.hasCapability("STLS")); // the list after the upgrade

        // The stored trust is enough next time: no question.
        TmsRemotePOP later;
        connectTo(later, server, TlsMode(mode));
        later.setTrustedFingerprint(fingerprint);
        QVERIFY(listTrusting(later).isEmpty());
        QCOMPARE(later.Info().Count(), raws.size());

        // And a delete pass over TLS commits.
        later.MarkForDelete(3);
        later.ProcessMarks();
        QVERIFY(later.committed());
        QCOMPARE(server.storedMessageCount(), raws.size() - 1);
    }

    void untrustedCertificateIsRefusedWithItsDetails()
    {
        DovecotServer server;
        serveWith(server, first);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        connectTo(pop, server, TlsMode::Implicit);
        QString shown;
        pop.OnError = [&shown](QString &msg) { shown = msg; };
        try {
            pop.UpdateInfo();
            QFAIL("an untrusted certificate was accepted");
        } catch (const ECertificateError &error) {
            QCOMPARE(error.message(), shown);
            QVERIFY(error.message().contains("Issued to: mailsieve-dovecot"));
            QVERIFY(error.message().contains("Issued by: mailsieve-dovecot"));
            QVERIFY(error.message().contains("SHA-256 fingerprint: " + certificateFingerprint(first.certificate())));
            QVERIFY(error.message().contains("self-signed", Qt::CaseInsensitive));
        }
        QVERIFY(!pop.Connected());
        QCOMPARE(pop.Info().Count(), 0);
    }

    void changedCertificateAsksAgain()
    {
        DovecotServer server;
        serveWith(server, second); // the server got a new certificate
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        connectTo(pop, server, TlsMode::StartTls);
        pop.setTrustedFingerprint(certificateFingerprint(first.certificate()));
        QCOMPARE(listTrusting(pop), QStringList{certificateFingerprint(second.certificate())});
        QCOMPARE(pop.trustedFingerprint(), certificateFingerprint(second.certificate()));

        TmsRemotePOP refusing;
        connectTo(refusing, server, TlsMode::StartTls);
        refusing.setTrustedFingerprint(certificateFingerprint(first.certificate()));
        refusing.OnCertificateUntrusted = [](const TlsFailure &) { return false; };
        QVERIFY_THROWS_EXCEPTION(ECertificateError, refusing.UpdateInfo());
    }

    void startTlsWithoutStlsSendsNoPassword()
    {
        DovecotServer server; // no certificate: ssl = no, so no STLS
        server.addMessages(raws);
        MS_START_DOVECOT(server);

        TmsRemotePOP pop;
        connectTo(pop, server, TlsMode::StartTls);
        QVERIFY_THROWS_EXCEPTION(ETlsError, pop.UpdateInfo());
        QVERIFY(!pop.hasCapability("STLS"));
        QVERIFY(pop.hasCapability("USER"));
        QVERIFY(!pop.Connected());
        // Dovecot saw the session end without any login attempt.
        QTRY_VERIFY_WITH_TIMEOUT(server.logText().contains("no auth attempts"), 5000);
        QVERIFY(!server.logText().contains("auth failed"));
    }
};

QTEST_GUILESS_MAIN(TestTlsDovecot)
#include "tst_tlsdovecot.moc"
