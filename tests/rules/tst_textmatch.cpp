#include "rules/textmatch.h"

#include <QTest>

class TestTextMatch : public QObject
{
    Q_OBJECT

private slots:
    void blankCharacters()
    {
        QVERIFY(isBlank(u""));
        QVERIFY(isBlank(u" "));
        QVERIFY(isBlank(u"\r\n"));
        QVERIFY(isBlank(u"\b"));
        QVERIFY(!isBlank(u"\t"));
        QVERIFY(!isBlank(u" x "));
    }

    void numericCounting()
    {
        QCOMPARE(countNumeric(u"a1_2b"), 3);
        QCOMPARE(countNumeric(u"\u0663"), 0); // Arabic-Indic digit is no digit here
        QVERIFY(!isDigitChar(u'_'));
        QCOMPARE(pluralS(1), QString());
        QCOMPARE(pluralS(0), QStringLiteral("s"));
        QCOMPARE(yesNoLetter(true), QStringLiteral("Y"));
    }

    void separatorsAreExactlyTheListedOnes()
    {
        const QString separators = QStringLiteral("\t'\r\n ,./?;:`\"<>[]{}-=\\+|()%@&^$#!~*");
        QCOMPARE(separators.size(), 35);
        for (char16_t u = 0; u < 256; ++u)
            QCOMPARE(isWordSeparator(QChar(u)), separators.contains(QChar(u)));
    }

    void foldingTouchesOnlyAsciiLetters()
    {
        QCOMPARE(foldCase(u"abz\u00e9\u00ff"), QStringLiteral("ABZ\u00e9\u00ff"));
        QVERIFY(textEquals(u"FrEe", u"fReE", false));
        QVERIFY(!textEquals(u"FrEe", u"fReE", true));
        QVERIFY(!textEquals(u"\u00e9t\u00e9", u"\u00c9T\u00c9", false));
    }

    void containsAndEquals()
    {
        QVERIFY(!textContains(u"anything", u"", false));
        QVERIFY(textContains(u"Get FREE stuff", u"free", false));
        QVERIFY(!textContains(u"Get FREE stuff", u"free", true));
        QVERIFY(textContains(u"aab", u"ab", false));
        QVERIFY(!textContains(u"ab", u"abc", false));
        QVERIFY(textEquals(u"", u"", false));
        QVERIFY(!textEquals(u"x", u"", false));
    }

    void startsAndEndsWith()
    {
        QVERIFY(textStartsWith(u"anything", u"", true));
        QVERIFY(textStartsWith(u"X-Mailer: Floodgate 3", u"x-mailer: floodgate", false));
        QVERIFY(!textStartsWith(u"ab", u"abc", false));
        QVERIFY(textEndsWith(u"anything", u"", true));
        QVERIFY(textEndsWith(u"joe@Spam.COM", u"spam.com", false));
        QVERIFY(!textEndsWith(u"abc", u"xabc", false));
        const QString longText(300, u'a');
        QVERIFY(textEndsWith(longText, QString(255, u'a'), true));
        QVERIFY(!textEndsWith(longText, QString(256, u'a'), true));
    }

    void wholeWord_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("expected");
        QTest::newRow("folded") << "Re: FREE money" << "free" << false << true;
        QTest::newRow("case kept") << "Re: FREE money" << "free" << true << false;
        QTest::newRow("inside a word") << "freebie" << "free" << false << false;
        QTest::newRow("underscore joins") << "free_stuff" << "free" << false << false;
        QTest::newRow("hyphen separates") << "get-free" << "free" << false << true;
        QTest::newRow("punctuation") << "FREE offer!" << "free" << false << true;
        QTest::newRow("word with separator") << "save $ now" << "save $" << false << false;
        QTest::newRow("blank word") << "a b" << " " << false << false;
        QTest::newRow("blank text") << "\r\n" << "x" << false << false;
        QTest::newRow("tab separates") << "a\tfree" << "free" << false << true;
        QTest::newRow("accented letter joins") << "fr\u00e9e" << "fr" << false << false;
    }

    void wholeWord()
    {
        QFETCH(QString, text);
        QFETCH(QString, word);
        QFETCH(bool, caseSensitive);
        QFETCH(bool, expected);
        QCOMPARE(WholeWordCheck(text, word, caseSensitive), expected);
    }

    void subjectOperators_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("expected");
        QTest::newRow("uppercase with symbols") << "WIN $$$ NOW" << "Is UPPERCASE" << "" << false << true;
        QTest::newRow("digits only not uppercase") << "12345" << "Is UPPERCASE" << "" << false << false;
        QTest::newRow("underscores and digits") << "1_2" << "Is UPPERCASE" << "" << false << false;
        QTest::newRow("empty not uppercase") << "" << "Is UPPERCASE" << "" << false << false;
        QTest::newRow("no letters but symbols") << "!!! 100 %" << "Is UPPERCASE" << "" << false << true;
        QTest::newRow("lower letter") << "WIN big" << "Is UPPERCASE" << "" << false << false;
        QTest::newRow("blank") << " \r\n" << "Is blank" << "" << false << true;
        QTest::newRow("tab not blank") << "\t" << "Is blank" << "" << false << false;
        QTest::newRow("contains") << "Cheap pills" << "Contains" << "PILL" << false << true;
        QTest::newRow("contains case") << "Cheap pills" << "Contains" << "PILL" << true << false;
        QTest::newRow("whole word") << "Re: FREE money" << "Contains (whole word)" << "free" << false << true;
        QTest::newRow("equals empty") << "" << "Equals" << "" << false << true;
        QTest::newRow("equals empty vs text") << "x" << "Equals" << "" << false << false;
        QTest::newRow("starts") << "ADV: offer" << "Starts with" << "adv:" << false << true;
        QTest::newRow("ends") << "offer ADV" << "Ends with" << "adv" << false << true;
        QTest::newRow("empty starts never") << "x" << "Starts with" << "" << false << false;
        QTest::newRow("empty ends never") << "x" << "Ends with" << "" << false << false;
        QTest::newRow("operator case counts") << "free" << "contains" << "free" << false << false;
        QTest::newRow("unknown operator") << "free" << "Sounds like" << "free" << false << false;
    }

    void subjectOperators()
    {
        QFETCH(QString, subject);
        QFETCH(QString, op);
        QFETCH(QString, pattern);
        QFETCH(bool, caseSensitive);
        QFETCH(bool, expected);
        QCOMPARE(matchSubject(subject, op, pattern, caseSensitive), expected);
    }

    void senderOperators_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("expected");
        QTest::newRow("user all numeric") << "12345@spam.com" << "E-mail address" << "All numeric" << "" << true;
        QTest::newRow("domain not numeric") << "12345@spam.com" << "Domain name" << "All numeric" << "" << false;
        QTest::newRow("50% ab12") << "ab12@x.com" << "E-mail address" << "50% numeric" << "" << true;
        QTest::newRow("50% abc12") << "abc12@x.com" << "E-mail address" << "50% numeric" << "" << true;
        QTest::newRow("50% abcd1") << "abcd1@x.com" << "E-mail address" << "50% numeric" << "" << false;
        QTest::newRow("50% one char") << "a@x.com" << "E-mail address" << "50% numeric" << "" << true;
        QTest::newRow("first char digit") << "1abc@x.com" << "E-mail address" << "First char numeric" << "" << true;
        QTest::newRow("first char underscore") << "_abc@x.com" << "E-mail address" << "First char numeric" << "" << false;
        QTest::newRow("first char empty user") << "@x.com" << "E-mail address" << "First char numeric" << "" << false;
        QTest::newRow("all numeric empty user") << "@x.com" << "E-mail address" << "All numeric" << "" << true;
        QTest::newRow("digits are uppercase") << "12345@x.com" << "E-mail address" << "Is UPPERCASE" << "" << true;
        QTest::newRow("user uppercase") << "JOE@spam.com" << "E-mail address" << "Is UPPERCASE" << "" << true;
        QTest::newRow("domain lower") << "JOE@spam.com" << "Domain name" << "Is UPPERCASE" << "" << false;
        QTest::newRow("empty user not uppercase") << "@X.COM" << "E-mail address" << "Is UPPERCASE" << "" << false;
        QTest::newRow("domain equals folded") << "joe@Spam.Com" << "Domain name" << "Equals" << "SPAM.COM" << true;
        QTest::newRow("address ends with") << "joe@spam.com" << "E-mail address" << "Ends with" << ".COM" << true;
        QTest::newRow("no @ domain row whole") << "spamhost" << "Domain name" << "Equals" << "spamhost" << true;
        QTest::newRow("no @ user part whole") << "12345" << "E-mail address" << "All numeric" << "" << true;
        QTest::newRow("other what is address") << "joe@spam.com" << "Mailbox" << "Starts with" << "joe@" << true;
        QTest::newRow("blank address") << "" << "E-mail address" << "Is blank" << "" << true;
        QTest::newRow("empty starts never") << "joe@spam.com" << "E-mail address" << "Starts with" << "" << false;
        QTest::newRow("empty ends never") << "joe@spam.com" << "Domain name" << "Ends with" << "" << false;
    }

    void senderOperators()
    {
        QFETCH(QString, sender);
        QFETCH(QString, what);
        QFETCH(QString, op);
        QFETCH(QString, pattern);
        QFETCH(bool, expected);
        QCOMPARE(matchSender(sender, what, op, pattern), expected);
    }

    void headerAndExceptionOperators()
    {
        QVERIFY(matchHeaderLine(u"X-Mailer: Floodgate 6", u"Starts with", u"X-Mailer: Floodgate", true));
        QVERIFY(!matchHeaderLine(u"X-Mailer: Floodgate 6", u"Equals", u"Floodgate 6", false));
        QVERIFY(matchHeaderLine(u"X-Mailer: Floodgate 6", u"Equals", u"x-mailer: floodgate 6", false));
        QVERIFY(!matchHeaderLine(u"X-Anything: 1", u"Ends with", u"", false));
        QVERIFY(!matchHeaderLine(u"Subject: HI", u"Is UPPERCASE", u"", false));
        QVERIFY(matchExceptSubject(u"Minutes of the meeting", u"Starts with", u"minutes", false));
        QVERIFY(!matchExceptSubject(u"Minutes of the meeting", u"Starts with", u"minutes", true));
        QVERIFY(!matchExceptSubject(u"Minutes", u"Starts with", u"", false));
        QVERIFY(!matchExceptSubject(u"", u"Is blank", u"", false));
    }
};

QTEST_APPLESS_MAIN(TestTextMatch)
#include "tst_textmatch.moc"
