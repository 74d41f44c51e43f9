// The tokens of a header block: each named by its field, encoded words
// decoded, the Received chain read hop by hop, odd dates and missing fields
// told, and hostile blocks held to the token bounds.

#include "learning/headertokens.h"
#include "mail/packedheaders.h"

#include <QSet>
#include <QTest>

namespace {

QStringList tokensOf(const QByteArray &block)
{
    return headerTokens(headerBlockLines(block));
}

const QByteArray kHop = "Received: from mail.sender.example (mail.sender.example [192.0.2.15])\r\n"
                        "\tby mx.receiver.example (Postfix) with ESMTPSA id 1A2B;\r\n"
                        "\tMon, 7 Dec 2026 10:00:00 +0000\r\n";

} // namespace

class TestHeaderTokens : public QObject
{
    Q_OBJECT

private slots:
    void blockGivesTokens_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");

        QTest::newRow("encoded subject decoded")
            << QByteArray("Subject: =?iso-8859-1?Q?Gr=FC=DFe_aus_Berlin?=\r\n")
            << QStringList{"subject:grüße", "subject:berlin", "encoded-charset:iso-8859-1", "encoded-encoding:q"}
            << QStringList{"subject:gr", "subject:fc"};
        QTest::newRow("field prefixes keep words apart")
            << QByteArray("Subject: Cheap offer!!!\r\nFrom: Cheap Deals <Deals@Mail.Shop.Example.com>\r\n")
            << QStringList{"subject:cheap",
                           "subject:!!!",
                           "from-name:cheap",
                           "from-name:deals",
                           "from:deals@mail.shop.example.com",
                           "from-domain:mail.shop.example.com",
                           "from-domain:example.com"}
            << QStringList{"subject:deals", "from-name:offer", "from-domain:com", "subject:all-caps"};
        QTest::newRow("long runs skipped, shouting told")
            << QByteArray("Subject: WIN " + QByteArray(35, 'A') + " NOW\r\n")
            << QStringList{"subject:win", "subject:skip:a 30", "subject:all-caps"}
            << QStringList{"subject:" + QString(35, u'a')};
        QTest::newRow("received hop") << kHop << QStringList{"received-hops:1",         "received:mail.sender.example",
                                                             "received:sender.example", "received:mx.receiver.example",
                                                             "received-ip:192.0.2",     "received-with:esmtpsa",
                                                             "received:authenticated"}
                                      << QStringList{"received:postfix", "received:1a2b", "received:example"};
        QTest::newRow("missing fields") << QByteArray("Subject: hi\r\n")
                                        << QStringList{"has:subject", "missing:date", "missing:message-id",
                                                       "missing:to",  "missing:from", "header-lines:0"}
                                        << QStringList{"has:date", "missing:subject"};
        QTest::newRow("addresses and lists")
            << QByteArray("From: a@shop.example\r\nReply-To: b@elsewhere.example\r\nReturn-Path: <>\r\n"
                          "Message-ID: <x1@mx.example.net>\r\nList-Id: Friends <friends.lists.example.org>\r\n"
                          "X-PHP-Script: 1000:mailer.php\r\n")
            << QStringList{"reply-to:b@elsewhere.example",
                           "reply-to:other-domain",
                           "message-id-domain:mx.example.net",
                           "message-id-domain:example.net",
                           "list-id:friends.lists.example.org",
                           "has:list-id",
                           "header:x-php-script",
                           "message-id-shape:a9",
                           "order:from>reply-to",
                           "order:list-id>x-php-script"}
            << QStringList{"return-path:", "reply-to:same-domain"};
        QTest::newRow("software and content type")
            << QByteArray("X-Mailer: Microsoft Outlook 16.0\r\nContent-Type: multipart/alternative;\r\n"
                          " boundary=\"b;1\"; charset=\"ISO-8859-1\"\r\n")
            << QStringList{"x-mailer:microsoft outlook 16.0", "x-mailer-name:microsoft",
                           "content-type:multipart/alternative", "charset:iso-8859-1"}
            << QStringList{"charset:\"iso-8859-1\""};
        QTest::newRow("good date") << QByteArray(kHop + "Date: Mon, 7 Dec 2026 09:59:00 +0000\r\n")
                                   << QStringList{"date:zone:+0000"}
                                   << QStringList{"date:odd:weekday", "date:odd:no-zone", "date:odd:year"};
        QTest::newRow("wrong weekday, no zone")
            << QByteArray("Date: Tue, 7 Dec 2026 10:00:00\r\n") << QStringList{"date:odd:weekday", "date:odd:no-zone"}
            << QStringList{"date:odd:year"};
        QTest::newRow("year far from the hop") << QByteArray(kHop + "Date: 7 Dec 2019 10:00:00 +0000\r\n")
                                               << QStringList{"date:odd:year"} << QStringList{"date:odd:weekday"};
        QTest::newRow("unreadable date, repeated subject")
            << QByteArray("Date: someday\r\nSubject: a\r\nSubject: b\r\n")
            << QStringList{"date:odd:unreadable", "repeated:subject"} << QStringList{"repeated:date"};
        QTest::newRow("damaged line") << QByteArray(" folded onto nothing\r\nSubject x\r\n")
                                      << QStringList{"header-odd:damaged-line"} << QStringList{"has:subject"};
    }

    void blockGivesTokens()
    {
        QFETCH(QByteArray, block);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const QStringList tokens = tokensOf(block);
        for (const QString &token : present)
            QVERIFY2(tokens.contains(token), qPrintable(token + " missing from " + tokens.join(" | ")));
        for (const QString &token : absent)
            QVERIFY2(!tokens.contains(token), qPrintable(token));
    }

    void trustedServerFindingsAreTokens()
    {
        const QByteArray block = "Authentication-Results: mx.receiver.example; dmarc=fail header.from=a.example; "
                                 "spf=pass smtp.mailfrom=a.example\r\nX-Spam-Flag: YES\r\n"
                                 + kHop
                                 + "Authentication-Results: mx.receiver.example; dkim=pass header.d=a.example\r\n";
        const TmsHeaders lines = headerBlockLines(block);
        const QStringList trusted = headerTokens(lines, QStringLiteral("mx.receiver.example"));
        for (const char *token : {"auth:dmarc=fail", "auth:spf=pass", "auth:untrusted", "server-verdict:spam"})
            QVERIFY2(trusted.contains(token), token);
        QVERIFY(!trusted.contains("auth:dkim=pass")); // written below the server's hop
        // Without a trusted server nothing the server wrote is a clue.
        for (const QString &token : headerTokens(lines))
            QVERIFY(!token.startsWith("auth:") && !token.startsWith("server-"));
    }

    void duplicatesAppearOnce()
    {
        const QStringList tokens =
            tokensOf("Subject: free FREE free\r\n" + kHop + kHop + kHop + "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\n");
        QCOMPARE(tokens.count("subject:free"), 1);
        QCOMPARE(tokens.count("received:mail.sender.example"), 1);
        QVERIFY(tokens.contains("received-hops:3"));
        QCOMPARE(QSet<QString>(tokens.begin(), tokens.end()).size(), tokens.size());
        QCOMPARE(tokensOf("Subject: free\r\n" + kHop), tokensOf("Subject: free\r\n" + kHop));
    }

    void hostileBlocksStayBounded_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QStringList>("present");

        QByteArray fields = "Subject: hello\r\n";
        for (int i = 0; i < 100000; ++i)
            fields += "X-F" + QByteArray::number(i) + ": v\r\n";
        QByteArray hops;
        for (int i = 0; i < 1000; ++i)
            hops += "Received: from h" + QByteArray::number(i) + ".example by [10.0.0.1]\r\n";
        QTest::newRow("1 MB subject") << QByteArray("Subject: " + QByteArray(1 << 20, 'a') + "\r\n")
                                      << QStringList{"has:subject", "subject:skip:a 250"};
        QTest::newRow("1 MB of broken encoded words")
            << QByteArray("Subject: " + QByteArray("=?a?q?x").repeated(150000) + "\r\n") << QStringList{"has:subject"};
        QTest::newRow("100,000 fields") << fields << QStringList{"subject:hello", "header-lines:100+", "header:x-f0"};
        QTest::newRow("1,000 hops") << hops << QStringList{"received-hops:20+", "received:h19.example"};
        QTest::newRow("long mailer") << QByteArray("X-Mailer: " + QByteArray(5000, 'm') + "\r\n")
                                     << QStringList{"x-mailer:" + QString(HeaderTokens::MaxTokenLength - 9, u'm')};
        QTest::newRow("NUL bytes") << QByteArray("Subject: a\0b\0cde\r\n\0\0\0", 20) << QStringList{"subject:cde"};
    }

    void hostileBlocksStayBounded()
    {
        QFETCH(QByteArray, block);
        QFETCH(QStringList, present);
        const QStringList tokens = tokensOf(block);
        QVERIFY(tokens.size() <= HeaderTokens::MaxTokens);
        for (const QString &token : tokens)
            QVERIFY2(token.size() <= HeaderTokens::MaxTokenLength && !token.contains(QChar(0)), qPrintable(token));
        for (const QString &token : present)
            QVERIFY2(tokens.contains(token), qPrintable(token));
    }

    void tokenCountStopsAtTheBound()
    {
        QByteArray fields;
        for (int i = 0; i < 2000; ++i)
            fields += "X-F" + QByteArray::number(i) + ": v\r\n";
        const QStringList tokens = tokensOf(fields);
        QCOMPARE(tokens.size(), HeaderTokens::MaxTokens);
        QVERIFY(!tokens.contains("header:x-f1999"));
    }
};

QTEST_GUILESS_MAIN(TestHeaderTokens)
#include "tst_headertokens.moc"
