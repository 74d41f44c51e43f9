// Against Dovecot: a mailbox holding genuine and forged
// Authentication-Results, checked with the trusted server of the mailbox
// set to the id the genuine ones carry. The exception that asks for DMARC
// accepts only the genuine bank message, and no forged "pass" moves a mark.

#include "app/appfixture.h"
#include "app/checkcycle.h"
#include "app/programcore.h"
#include "rules/ruletexts.h"
#include "support/dovecotserver.h"
#include "support/recordingcheckview.h"

#include <QTemporaryDir>
#include <QTest>

using namespace appfixture;

namespace {

const QByteArray Own = "Received: from relay.example (relay.example [192.0.2.7])\r\n"
                       "\tby mx.test.example (Postfix) with ESMTPS id 4Q1; Mon, 7 Dec 2026 10:00:00 +0000\r\n";
const QByteArray Pass = "Authentication-Results: mx.test.example; spf=pass smtp.mailfrom=mybank.example;\r\n"
                        "\tdkim=pass header.d=mybank.example; dmarc=pass (p=reject) header.from=mybank.example\r\n";

QByteArray message(const QByteArray &top, const QByteArray &subject)
{
    return top + "From: My Bank <alerts@mybank.example>\r\nTo: user@test.example\r\nSubject: " + subject
           + "\r\nDate: Mon, 7 Dec 2026 09:59:00 +0000\r\nMessage-ID: <" + subject.toHex()
           + "@mybank.example>\r\n\r\nHello\r\n";
}

} // namespace

class TestTrustedServer : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheGenuineBankMessageIsAccepted()
    {
        DovecotServer dovecot;
        dovecot.addMessages({
            message(Pass + Own, "Your statement"),
            // A forged pass below the server's hop, and one above it
            // under a look-alike id.
            message(Own + Pass, "Your account is locked"),
            message("Authentication-Results: mx.test.example.evil.example; dmarc=pass "
                    "header.from=mybank.example\r\n"
                        + Own,
                    "Verify your account"),
            // The server's own verdict above, a forged pass below.
            message("Authentication-Results: mx.test.example; dmarc=fail header.from=mybank.example\r\n" + Own + Pass,
                    "Account notice"),
        });
        MS_START_DOVECOT(dovecot);
        QTemporaryDir home;
        qputenv("MAILSIEVE_HOME", home.path().toUtf8());
        storeSettings([&](GeneralSettings &s) {
            storeMailbox(s, 1, dovecot.server(), dovecot.userName(), dovecot.password());
            s.mailboxes[0].trustedServer = QStringLiteral("mx.test.example");
        });
        ProgramCore core(home.path());
        QCOMPARE(core.load(), QStringList());
        QCOMPARE(core.settings.mailboxes[0].trustedServer, QStringLiteral("mx.test.example"));
        const auto rules = [](RuleList &table, const QStringList &row) {
            for (int c = 0; c < row.size(); ++c)
                table.setCell(c, 1, row[c]);
        };
        rules(core.rules.ExceptionRules,
              {RuleText::DomainName, RuleText::Equals, "mybank.example", "No", "0", RuleText::Yes});
        rules(core.rules.SubjectRules, {"", RuleText::Contains, "account", "No", "No", "0"});
        rules(core.rules.HeaderRules, {"", RuleText::FailsDmarc, "", "No", "Yes", "0"});

        RecordingCheckView view;
        CheckCycle cycle(core.clients, core.list, core.settings, view, core.checkHooks());
        QVERIFY(cycle.checkMailbox(1));
        QCOMPARE(view.errors, QStringList());
        QCOMPARE(core.list.count(), 4);
        const QList<MarkState> marks = {MarkState::Exception, MarkState::Question, MarkState::Question,
                                        MarkState::Check};
        for (int row = 0; row < 4; ++row)
            QCOMPARE(core.list.mark(row), marks[row]);
        QCOMPARE(core.rules.ExceptionRules.cell(ExceptCol::Hits, 1), QStringLiteral("2")); // once per pass
    }
};

QTEST_MAIN(TestTrustedServer)
#include "tst_trustedserver.moc"
