// POP3 over TLS against the scripted server with certificates made for the
// run: implicit TLS and STLS, the certificate checks and the trust decision,
// and the rule that a password never travels in plain text when STARTTLS
// was asked for.

#include "mail/mailerrors.h"
#include "mail/pop3client.h"
#include "mail/tlssecurity.h"
#include "support/failuretext.h"
#include "support/scriptedpop3server.h"

#include <QProcess>
#include <QSslConfiguration>
#include <QTemporaryFile>
#include <QTest>

namespace {

QByteArray mail(const QByteArray &subject)
{
    return "From: Jane Roe <jane@example.org>\r\nSubject: " + subject + "\r\n\r\nHello.\r\n";
}

} // namespace

class TestTlsPop3 : public QObject
{
    Q_OBJECT

private:
    TestCertificate selfSigned; // CN mailsieve-test, no chain
    TestCertificate otherSigned; // another self-signed one: "the certificate changed"
    TestCertificate authority; // a CA the tests may add to the trust store
    TestCertificate forLocalhost; // signed by authority for DNS:localhost
    TestCertificate forElsewhere; // signed by authority for another name

    ScriptedPop3Server *server = nullptr;
    TmsRemotePOP *pop = nullptr;
    QStringList errors;
    QList<TlsFailure> asked;

    void serveTls(const TestCertificate &identity, bool implicit)
    {
        server->setTlsIdentity(identity);
        server->setImplicitTls(implicit);
        server->setStls(!implicit);
        pop->setTlsMode(implicit ? TlsMode::Implicit : TlsMode::StartTls);
    }

    // Every certificate question is answered with answer and recorded.
    void answerTrust(bool answer)
    {
        pop->OnCertificateUntrusted = [this, answer](const TlsFailure &failure) {
            asked << failure;
            return answer;
        };
    }

    static void setTrustStore(const QList<QSslCertificate> &authorities)
    {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(authorities);
        QSslConfiguration::setDefaultConfiguration(config);
    }

private slots:
    void initTestCase()
    {
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS backend");
        QString error;
        selfSigned = TestCertificate::generate("mailsieve-test", {}, nullptr, &error);
        otherSigned = TestCertificate::generate("mailsieve-test", {}, nullptr, &error);
        authority = TestCertificate::generate("Mailsieve Test CA", {}, nullptr, &error);
        forLocalhost = TestCertificate::generate("localhost", {"DNS:localhost"}, &authority, &error);
        forElsewhere = TestCertificate::generate("mail.example.net", {"DNS:mail.example.net"}, &authority, &error);
        QVERIFY2(!forElsewhere.isNull() && !selfSigned.isNull(), qPrintable(error));
        // The system's authorities never vouch for a test certificate; ours
        // does only where a test says so.
        setTrustStore({});
    }

    void init()
    {
        server = new ScriptedPop3Server(this);
        server->setMessages({mail("one"), mail("two")});
        QVERIFY(server->listen());
        pop = new TmsRemotePOP(this);
        server->logIn(*pop);
        pop->setTimeOut(10);
        errors.clear();
        asked.clear();
        pop->OnError = [this](QString &msg) { errors << msg; };
    }

    void cleanup()
    {
        delete pop;
        delete server;
        setTrustStore({});
    }

    // --- Certificate checks ------------------------------------------------

    void untrustedCertificateWithoutHookIsRefusedWithItsDetails()
    {
        serveTls(selfSigned, true);
        const QString text = failure<ECertificateError>([this] { pop->UpdateInfo(); });
        const QString fingerprint = certificateFingerprint(selfSigned.certificate());
        QVERIFY2(text.startsWith("The certificate of 127.0.0.1 is not trusted: "), qPrintable(text));
        QVERIFY2(text.contains("self-signed", Qt::CaseInsensitive), qPrintable(text));
        QVERIFY(text.contains("Issued to: mailsieve-test"));
        QVERIFY(text.contains("Issued by: mailsieve-test"));
        QVERIFY(text.contains("SHA-256 fingerprint: " + fingerprint));
        QCOMPARE(errors, QStringList{text});
        QVERIFY(server->commands().isEmpty()); // not even the greeting was answered
        QVERIFY(!pop->Connected());
        QVERIFY(pop->trustedFingerprint().isEmpty());
    }

    void trustingTheCertificateCompletesTheCheckAndKeepsItsFingerprint()
    {
        serveTls(selfSigned, true);
        answerTrust(true);
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 2);
        QCOMPARE(asked.size(), 1);
        const TlsFailure &asked0 = asked.first();
        QCOMPARE(asked0.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(asked0.subject, QStringLiteral("mailsieve-test"));
        QCOMPARE(asked0.issuer, QStringLiteral("mailsieve-test"));
        QCOMPARE(asked0.fingerprint, certificateFingerprint(selfSigned.certificate()));
        QVERIFY(!asked0.reasons.isEmpty());
        QCOMPARE(pop->trustedFingerprint(), asked0.fingerprint);
        QCOMPARE(server->tlsHandshakes(), 1);
        QVERIFY(server->commands().contains("PASS secret"));
    }

    void trustedFingerprintIsAcceptedWithoutAsking()
    {
        serveTls(selfSigned, true);
        // Stored by hand or by another program: case and separators vary.
        pop->setTrustedFingerprint(certificateFingerprint(selfSigned.certificate()).remove(':').toLower());
        answerTrust(false);
        pop->UpdateInfo();
        QVERIFY(asked.isEmpty());
        QCOMPARE(pop->Info().Count(), 2);
    }

    void changedCertificateAsksAgainAndMayBeRefused()
    {
        serveTls(otherSigned, true);
        pop->setTrustedFingerprint(certificateFingerprint(selfSigned.certificate()));
        answerTrust(false);
        const QString text = failure<ECertificateError>([this] { pop->UpdateInfo(); });
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().fingerprint, certificateFingerprint(otherSigned.certificate()));
        QVERIFY(text.contains(certificateFingerprint(otherSigned.certificate())));
        // The old trust is not replaced by a refusal.
        QCOMPARE(pop->trustedFingerprint(), certificateFingerprint(selfSigned.certificate()));
        QVERIFY(!server->commands().contains("PASS secret"));
    }

    void refusedCertificateErrorCarriesTheFailure()
    {
        serveTls(selfSigned, true);
        try {
            pop->UpdateInfo();
            QFAIL("an untrusted certificate was accepted");
        } catch (const ECertificateError &error) {
            QCOMPARE(error.failure().fingerprint, certificateFingerprint(selfSigned.certificate()));
            QCOMPARE(error.message(), error.failure().text());
        }
    }

    void certificateOfATrustedAuthorityNeedsNoQuestion()
    {
        setTrustStore({authority.certificate()});
        serveTls(forLocalhost, true);
        pop->setServer(QStringLiteral("localhost:%1").arg(server->port()));
        answerTrust(false);
        pop->UpdateInfo();
        QVERIFY(asked.isEmpty());
        QVERIFY(pop->trustedFingerprint().isEmpty());
    }

    void certificateForAnotherNameFailsTheHostCheck()
    {
        setTrustStore({authority.certificate()});
        serveTls(forElsewhere, true);
        pop->setServer(QStringLiteral("localhost:%1").arg(server->port()));
        const QString text = failure<ECertificateError>([this] { pop->UpdateInfo(); });
        QVERIFY2(text.startsWith("The certificate of localhost is not trusted: "), qPrintable(text));
        QVERIFY2(text.contains("host name", Qt::CaseInsensitive), qPrintable(text));
        QVERIFY(text.contains("Issued to: mail.example.net"));
        QVERIFY(text.contains("Issued by: Mailsieve Test CA"));
    }

    void cancelWhileTheUserIsAskedEndsTheCheck()
    {
        serveTls(selfSigned, true);
        pop->OnCertificateUntrusted = [this](const TlsFailure &) {
            pop->Cancel();
            return true;
        };
        QCOMPARE(failure<ECanceledError>([this] { pop->UpdateInfo(); }), QStringLiteral("Operation has been canceled"));
        QVERIFY(!pop->Connected());
        QVERIFY(pop->trustedFingerprint().isEmpty());
        // The component is usable again afterwards.
        answerTrust(true);
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 2);
    }

    void slowAnswerDoesNotRunIntoTheTimeOut()
    {
        serveTls(selfSigned, true);
        pop->setTimeOut(1);
        pop->OnCertificateUntrusted = [](const TlsFailure &) {
            QTest::qWait(1500); // the user reads the details
            return true;
        };
        pop->UpdateInfo();
        QCOMPARE(pop->Info().Count(), 2);
    }

    void handshakeWithAPlainServerFailsWithAClearText()
    {
        pop->setTlsMode(TlsMode::Implicit); // the server speaks plain POP3
        const QString text = failure<ETlsError>([this] { pop->UpdateInfo(); });
        QVERIFY2(text.startsWith("TLS negotiation with 127.0.0.1 failed: "), qPrintable(text));
        QCOMPARE(errors, QStringList{text});
        QVERIFY(!pop->Connected());
    }

    // --- STARTTLS ----------------------------------------------------------

    void startTlsUpgradesBeforeTheLoginAndAsksForCapabilitiesAgain()
    {
        serveTls(selfSigned, false);
        server->setCapabilities({"TOP", "USER", "PIPELINING"});
        answerTrust(true);
        pop->UpdateInfo();
        QCOMPARE(server->commands().mid(0, 6),
                 (QStringList{"CAPA", "STLS", "CAPA", "USER user", "PASS secret", "STAT"}));
        QCOMPARE(server->tlsHandshakes(), 1);
        QCOMPARE(pop->capabilities(), (QStringList{"TOP", "USER", "PIPELINING"}));
        QCOMPARE(pop->Info().Count(), 2);
    }

    void startTlsWithoutStlsNeverSendsThePassword_data()
    {
        QTest::addColumn<bool>("capaKnown");
        QTest::newRow("CAPA without STLS") << true;
        QTest::newRow("no CAPA at all") << false;
    }

    void startTlsWithoutStlsNeverSendsThePassword()
    {
        QFETCH(bool, capaKnown);
        server->setCapaKnown(capaKnown);
        pop->setTlsMode(TlsMode::StartTls);
        const QString text = failure<ETlsError>([this] { pop->UpdateInfo(); });
        QCOMPARE(text, QStringLiteral("The server 127.0.0.1 does not offer STARTTLS (STLS), so the password was "
                                      "not sent. Choose SSL/TLS or None for this mailbox."));
        QCOMPARE(errors, QStringList{text});
        QCOMPARE(server->commands(), QStringList{"CAPA"});
        QVERIFY(!pop->Connected());
    }

    void refusedStlsIsAServerErrorBeforeTheLogin()
    {
        serveTls(selfSigned, false);
        server->failAt("STLS", "-ERR TLS not available now");
        QCOMPARE(failure<EServerError>([this] { pop->UpdateInfo(); }), QStringLiteral("-ERR TLS not available now"));
        QCOMPARE(server->commands(), (QStringList{"CAPA", "STLS"}));
    }

    void startTlsRefusedCertificateSendsNoPassword()
    {
        serveTls(selfSigned, false);
        QVERIFY_THROWS_EXCEPTION(ECertificateError, pop->UpdateInfo());
        QCOMPARE(server->commands(), (QStringList{"CAPA", "STLS"}));
    }

    // --- Plain sessions and ports -----------------------------------------

    void serverWithoutCapaIsCheckedAsBefore()
    {
        server->setCapaKnown(false);
        pop->UpdateInfo();
        QCOMPARE(server->commands(), (QStringList{"CAPA", "USER user", "PASS secret", "STAT", "LIST 1", "TOP 1 1",
                                                  "LIST 2", "TOP 2 1", "QUIT"}));
        QVERIFY(pop->capabilities().isEmpty());
        QCOMPARE(pop->Info().Count(), 2);
    }

    void securityChoosesTheServiceAndDefaultPort()
    {
        pop->setTlsMode(TlsMode::Implicit);
        QCOMPARE(pop->serviceName(), QStringLiteral("pop3s"));
        QCOMPARE(pop->defaultPort(), quint16(995));
        pop->setTlsMode(TlsMode::StartTls);
        QCOMPARE(pop->serviceName(), QStringLiteral("pop3"));
        QCOMPARE(pop->defaultPort(), quint16(110));
    }

    void implicitTlsConnectsToPort995WithoutAPortInTheName()
    {
        pop->setTlsMode(TlsMode::Implicit);
        pop->setServer("127.0.0.1");
        pop->Open();
        QCOMPARE(pop->remotePort(), quint16(995));
        pop->Close();
    }

    // --- Fingerprints --------------------------------------------------------

    void fingerprintIsTheOneOpensslPrints()
    {
        QTemporaryFile pem;
        QVERIFY(pem.open());
        pem.write(selfSigned.certificatePem);
        pem.close();
        QProcess openssl;
        openssl.start("openssl", {"x509", "-in", pem.fileName(), "-noout", "-fingerprint", "-sha256"});
        QVERIFY(openssl.waitForFinished(10000));
        const QString printed = QString::fromLatin1(openssl.readAllStandardOutput()).trimmed();
        QCOMPARE(printed.section('=', 1), certificateFingerprint(selfSigned.certificate()));
    }

    void fingerprintComparison()
    {
        const QString fingerprint = certificateFingerprint(selfSigned.certificate());
        QVERIFY(sameFingerprint(fingerprint.toLower(), fingerprint));
        QVERIFY(sameFingerprint(QString(fingerprint).remove(':'), fingerprint));
        QVERIFY(!sameFingerprint(certificateFingerprint(otherSigned.certificate()), fingerprint));
        QVERIFY(!sameFingerprint(QString(), fingerprint));
        QVERIFY(!sameFingerprint(QString(), QString()));
    }
};

QTEST_GUILESS_MAIN(TestTlsPop3)
#include "tst_tlspop3.moc"
