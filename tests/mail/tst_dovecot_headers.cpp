// Header fields as real mail writes them, read from a real Dovecot: forged
// sender names, characters cut between encoded words and unknown charset
// labels, Japanese subjects in ISO-2022-JP words. The rows are made and
// marked as a check makes them, so the list and the rules must both see the
// true sender and a readable Subject.

#include "app/listmarkingsource.h"
#include "app/messagelist.h"
#include "mail/pop3client.h"
#include "rules/marking.h"
#include "rules/rulelist.h"
#include "support/dovecotserver.h"

#include <QTest>

namespace {

// "<boss@bank.example>" as an encoded word.
const QByteArray BossWord = "=?UTF-8?B?PGJvc3NAYmFuay5leGFtcGxlPg==?=";

struct Sample
{
    QByteArray from;
    QByteArray subject; // the raw field value, folded lines included
    QString sender;
    QString shownSubject;
};

// `text` in B words of `bytesPerWord` bytes each, one word a folded line, as
// mailers wrap long subjects: the cuts fall inside characters.
QByteArray bWords(const QByteArray &charset, const QByteArray &text, int bytesPerWord)
{
    QList<QByteArray> words;
    for (qsizetype at = 0; at < text.size(); at += bytesPerWord)
        words << "=?" + charset + "?B?" + text.mid(at, bytesPerWord).toBase64() + "?=";
    return words.join("\r\n ");
}

const QString Bounce = QStringLiteral(u"Ваше сообщение не доставлено");

QList<Sample> samples()
{
    return {
        {"\"<boss@bank.example>\" <spammer@evil.example>", "Invoice", "spammer@evil.example", "Invoice"},
        {BossWord + " <spammer@evil.example>", "Urgent", "spammer@evil.example", "Urgent"},
        {BossWord + "\r\n <spammer@evil.example>", "Folded", "spammer@evil.example", "Folded"},
        {"Joe <joe@evil.example> (via <boss@bank.example>)", "Forwarded", "joe@evil.example", "Forwarded"},
        {"<\"John Smith\"@evil.example>", "Quoted", "\"John Smith\"@evil.example", "Quoted"},
        {"=?utf-8?Q?=3Cme=40home=2Eexample=3E?= <other@elsewhere.example>", "Hello me", "other@elsewhere.example",
         "Hello me"},
        {"MAILER-DAEMON <postmaster@relay.example>", bWords("UTF-8", Bounce.toUtf8(), 9), "postmaster@relay.example",
         Bounce},
        {"Boss <boss@bank.example>", "Re: " + bWords("utf-8", "\xe2\x82\xac 100 \xf0\x9f\x98\x80", 2),
         "boss@bank.example", QStringLiteral(u"Re: € 100 \U0001F600")},
        {"me@home.example", "=?unknown-8bit?Q?=C3=A9t=C3=A9?= - =?unknown-8bit?Q?caf=E9?=", "me@home.example",
         QStringLiteral(u"été - café")},
        {"=?unknown-8bit?B?0JLQsNGI0LU=?= <news@shop.example>", "=?unknown-8bit?B?0JLQsNGI0LU=?=", "news@shop.example",
         QStringLiteral(u"Ваше")},
        // As Japanese mailers write a subject: one ISO-2022-JP word per
        // phrase, each back in ASCII at its end.
        {"ads@deals.example",
         "Fwd: " + bWords("ISO-2022-JP", "\x1b$BL$>5Bz9-9p\"(\x1b(B ", 64) + "\r\n "
             + bWords("ISO-2022-JP", "\x1b$B7c0B\x1b(B", 64) + "\r\n " + bWords("ISO-2022-JP", "\x1b$BHNGd\x1b(B", 64),
         "ads@deals.example", QStringLiteral(u"Fwd: 未承諾広告※ 激安販売")},
    };
}

QByteArray rawMessage(const Sample &sample, int n)
{
    return "Return-Path: <bounce@relay.example>\r\n"
           "Received: from relay.example by mx.home.example; Mon, 7 Dec 2026 08:30:00 +0100\r\n"
           "From: "
           + sample.from
           + "\r\n"
             "To: <me@home.example>\r\n"
             "Subject: "
           + sample.subject
           + "\r\n"
             "Date: Mon, 7 Dec 2026 12:05:00 +0100\r\n"
             "Message-ID: <"
           + QByteArray::number(n)
           + "@relay.example>\r\n"
             "\r\n"
             "Body line.\r\n";
}

// Fills the rule rows of a table, row 1 onward.
void setRules(RuleList &table, const QList<QStringList> &rows)
{
    table.setRowCount(1 + int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            table.setCell(c, r + 1, rows[r][c]);
}

} // namespace

class TestDovecotHeaders : public QObject
{
    Q_OBJECT

private slots:
    void listAndRulesSeeTheTrueSender()
    {
        const QList<Sample> mailbox = samples();
        DovecotServer server;
        for (int i = 0; i < mailbox.size(); ++i)
            server.addMessage(rawMessage(mailbox[i], i));
        MS_START_DOVECOT(server);

        // Mail from the bank is always accepted; the two spam domains are
        // deleted; so is mail that claims to come from the recipient, and
        // unsolicited advertising by its Japanese label.
        RuleSet rules;
        setRules(rules.ExceptionRules, {{"Domain name", "Equals", "bank.example", "No", "0"}});
        setRules(rules.SubjectRules, {{"", "Contains", QStringLiteral(u"未承諾広告"), "No", "Yes", "0"}});
        setRules(rules.SenderRules, {{"", "Domain name", "Equals", "evil.example", "Yes", "0"},
                                     {"", "Domain name", "Equals", "relay.example", "No", "0"}});
        setRules(rules.HeaderRules, {{"", "Sender", "equals To field", "No", "Yes", "0"}});

        TmsRemotePOP pop;
        server.logIn(pop);
        pop.setTimeOut(20);
        MessageListModel list;
        const MailboxTable mailboxes{};
        ListMarkingSource source(
            list, [&pop]() -> const RemoteMailbox & { return pop; }, mailboxes);
        MarkingEngine engine(rules, source);
        // As a check does: one row per announced message, marked at once.
        pop.OnNextInfoUpdated = [&](int num) {
            const TmsRemoteInfoItem &item = pop.Info().Items(num);
            list.addRow(MessageEntry::fromHeaders(item.Headers.lines(), item.Size));
            engine.MarkForDeletion(num);
        };
        pop.UpdateInfo();

        QCOMPARE(list.count(), mailbox.size());
        for (int i = 0; i < mailbox.size(); ++i) {
            const MessageEntry &row = list.entry(i);
            QCOMPARE(row.Sender, mailbox[i].sender);
            QCOMPARE(row.Subject, mailbox[i].shownSubject);
        }
        const QList<MarkState> marks{MarkState::Check, MarkState::Check, MarkState::Check,    MarkState::Check,
                                     MarkState::Check, MarkState::None,  MarkState::Question, MarkState::Exception,
                                     MarkState::Check, MarkState::None,  MarkState::Check};
        for (int i = 0; i < mailbox.size(); ++i)
            QVERIFY2(list.mark(i) == marks[i], qPrintable(list.entry(i).Sender));
    }
};

QTEST_GUILESS_MAIN(TestDovecotHeaders)
#include "tst_dovecot_headers.moc"
