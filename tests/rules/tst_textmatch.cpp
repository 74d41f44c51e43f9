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

    void emptyPatterns_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("empty");
        QTest::newRow("empty") << "" << true;
        QTest::newRow("one space") << " " << true;
        QTest::newRow("blanks") << " \r\n\b" << true;
        QTest::newRow("tab") << "\t" << true;
        QTest::newRow("DEL and C1") << "\x7f\u0085" << true;
        QTest::newRow("letter among blanks") << " x " << false;
        QTest::newRow("no-break space is visible") << "\u00a0" << false;
    }

    void emptyPatterns()
    {
        QFETCH(QString, pattern);
        QFETCH(bool, empty);
        QCOMPARE(isEmptyPattern(pattern), empty);
    }

    // A rule whose pattern is only blanks would mark nearly every message.
    void rowsWithoutAVisiblePatternMatchNothing_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::newRow("contains space") << "Contains"
                                        << " "
                                        << "Received: from relay";
        QTest::newRow("contains tab") << "Contains"
                                      << "\t"
                                      << "\tby relay";
        QTest::newRow("contains CR LF") << "Contains"
                                        << "\r\n"
                                        << "a\r\nb";
        QTest::newRow("equals space") << "Equals"
                                      << " "
                                      << " ";
        QTest::newRow("equals empty") << "Equals"
                                      << ""
                                      << "";
        QTest::newRow("starts with space") << "Starts with"
                                           << " "
                                           << " indented";
        QTest::newRow("ends with space") << "Ends with"
                                         << "  "
                                         << "trailing  ";
        QTest::newRow("starts with empty") << "Starts with"
                                           << ""
                                           << "x";
        QTest::newRow("ends with empty") << "Ends with"
                                         << ""
                                         << "x";
    }

    void rowsWithoutAVisiblePatternMatchNothing()
    {
        QFETCH(QString, op);
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QVERIFY(!matchSubject(text, op, pattern, false));
        QVERIFY(!matchSubject(text, op, pattern, true));
        QVERIFY(!matchSender(text, QStringLiteral("E-mail address"), op, pattern));
        QVERIFY(!matchSender(text, QStringLiteral("Domain name"), op, pattern));
        QVERIFY(!matchHeaderLine(text, op, pattern, false));
    }

    void blanksInsideAVisiblePatternCount()
    {
        QVERIFY(matchSubject(u"Re: free money", u"Contains", u" free ", false));
        QVERIFY(!matchSubject(u"Re: freemoney", u"Contains", u" free ", false));
        QVERIFY(matchHeaderLine(u"X-Mailer: Floodgate 6", u"Ends with", u" 6", true));
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
        QTest::newRow("folded") << "Re: FREE money"
                                << "free" << false << true;
        QTest::newRow("case kept") << "Re: FREE money"
                                   << "free" << true << false;
        QTest::newRow("inside a word") << "freebie"
                                       << "free" << false << false;
        QTest::newRow("underscore joins") << "free_stuff"
                                          << "free" << false << false;
        QTest::newRow("hyphen separates") << "get-free"
                                          << "free" << false << true;
        QTest::newRow("punctuation") << "FREE offer!"
                                     << "free" << false << true;
        QTest::newRow("word with separator") << "save $ now"
                                             << "save $" << false << false;
        QTest::newRow("blank word") << "a b"
                                    << " " << false << false;
        QTest::newRow("blank text") << "\r\n"
                                    << "x" << false << false;
        QTest::newRow("tab separates") << "a\tfree"
                                       << "free" << false << true;
        QTest::newRow("accented letter joins") << "fr\u00e9e"
                                               << "fr" << false << false;
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
        QTest::newRow("uppercase with symbols") << "WIN $$$ NOW"
                                                << "Is UPPERCASE"
                                                << "" << false << true;
        QTest::newRow("digits only not uppercase") << "12345"
                                                   << "Is UPPERCASE"
                                                   << "" << false << false;
        QTest::newRow("underscores and digits") << "1_2"
                                                << "Is UPPERCASE"
                                                << "" << false << false;
        QTest::newRow("empty not uppercase") << ""
                                             << "Is UPPERCASE"
                                             << "" << false << false;
        QTest::newRow("no letters but symbols") << "!!! 100 %"
                                                << "Is UPPERCASE"
                                                << "" << false << true;
        QTest::newRow("lower letter") << "WIN big"
                                      << "Is UPPERCASE"
                                      << "" << false << false;
        QTest::newRow("accented capitals") << "CAF\u00c9 GRATUIT"
                                           << "Is UPPERCASE"
                                           << "" << false << true;
        QTest::newRow("accented lower letter") << "CAF\u00e9"
                                               << "Is UPPERCASE"
                                               << "" << false << false;
        QTest::newRow("Cyrillic capitals") << "\u0412\u0410\u0428 \u0421\u0427\u0401\u0422!"
                                           << "Is UPPERCASE"
                                           << "" << false << true;
        QTest::newRow("Cyrillic lower case") << "\u0412\u0430\u0448\u0435 \u043f\u0438\u0441\u044c\u043c\u043e"
                                             << "Is UPPERCASE"
                                             << "" << false << false;
        QTest::newRow("Greek capitals") << "\u039a\u0391\u039b\u0397"
                                        << "Is UPPERCASE"
                                        << "" << false << true;
        QTest::newRow("Greek lower case") << "\u03ba\u03b1\u03bb\u03ae"
                                          << "Is UPPERCASE"
                                          << "" << false << false;
        QTest::newRow("Chinese has no case") << "\u514d\u8d39 100"
                                             << "Is UPPERCASE"
                                             << "" << false << false;
        QTest::newRow("capitals and Chinese") << "FREE \u514d\u8d39"
                                              << "Is UPPERCASE"
                                              << "" << false << false;
        QTest::newRow("lower letter beyond 16 bits") << "WIN \U0001d41a"
                                                     << "Is UPPERCASE"
                                                     << "" << false << false;
        QTest::newRow("capital beyond 16 bits") << "WIN \U0001d400"
                                                << "Is UPPERCASE"
                                                << "" << false << true;
        QTest::newRow("blank") << " \r\n"
                               << "Is blank"
                               << "" << false << true;
        QTest::newRow("tab not blank") << "\t"
                                       << "Is blank"
                                       << "" << false << false;
        QTest::newRow("contains") << "Cheap pills"
                                  << "Contains"
                                  << "PILL" << false << true;
        QTest::newRow("contains case") << "Cheap pills"
                                       << "Contains"
                                       << "PILL" << true << false;
        QTest::newRow("whole word") << "Re: FREE money"
                                    << "Contains (whole word)"
                                    << "free" << false << true;
        QTest::newRow("equals empty never") << ""
                                            << "Equals"
                                            << "" << false << false;
        QTest::newRow("equals empty vs text") << "x"
                                              << "Equals"
                                              << "" << false << false;
        QTest::newRow("starts") << "ADV: offer"
                                << "Starts with"
                                << "adv:" << false << true;
        QTest::newRow("ends") << "offer ADV"
                              << "Ends with"
                              << "adv" << false << true;
        QTest::newRow("empty starts never") << "x"
                                            << "Starts with"
                                            << "" << false << false;
        QTest::newRow("empty ends never") << "x"
                                          << "Ends with"
                                          << "" << false << false;
        QTest::newRow("operator case counts") << "free"
                                              << "contains"
                                              << "free" << false << false;
        QTest::newRow("unknown operator") << "free"
                                          << "Sounds like"
                                          << "free" << false << false;
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
        QTest::newRow("user all numeric") << "12345@spam.com"
                                          << "E-mail address"
                                          << "All numeric"
                                          << "" << true;
        QTest::newRow("domain not numeric") << "12345@spam.com"
                                            << "Domain name"
                                            << "All numeric"
                                            << "" << false;
        QTest::newRow("50% ab12") << "ab12@x.com"
                                  << "E-mail address"
                                  << "50% numeric"
                                  << "" << true;
        QTest::newRow("50% abc12") << "abc12@x.com"
                                   << "E-mail address"
                                   << "50% numeric"
                                   << "" << true;
        QTest::newRow("50% abcd1") << "abcd1@x.com"
                                   << "E-mail address"
                                   << "50% numeric"
                                   << "" << false;
        QTest::newRow("50% one digit") << "1@x.com"
                                       << "E-mail address"
                                       << "50% numeric"
                                       << "" << true;
        QTest::newRow("50% one letter") << "a@x.com"
                                        << "E-mail address"
                                        << "50% numeric"
                                        << "" << false;
        QTest::newRow("50% empty user") << "@x.com"
                                        << "E-mail address"
                                        << "50% numeric"
                                        << "" << false;
        QTest::newRow("50% no sender") << ""
                                       << "E-mail address"
                                       << "50% numeric"
                                       << "" << false;
        QTest::newRow("50% empty domain") << "joe@"
                                          << "Domain name"
                                          << "50% numeric"
                                          << "" << false;
        QTest::newRow("first char digit") << "1abc@x.com"
                                          << "E-mail address"
                                          << "First char numeric"
                                          << "" << true;
        QTest::newRow("first char underscore") << "_abc@x.com"
                                               << "E-mail address"
                                               << "First char numeric"
                                               << "" << false;
        QTest::newRow("first char empty user") << "@x.com"
                                               << "E-mail address"
                                               << "First char numeric"
                                               << "" << false;
        QTest::newRow("all numeric empty user") << "@x.com"
                                                << "E-mail address"
                                                << "All numeric"
                                                << "" << false;
        QTest::newRow("all numeric no sender") << ""
                                               << "E-mail address"
                                               << "All numeric"
                                               << "" << false;
        QTest::newRow("all numeric empty domain") << "12@"
                                                  << "Domain name"
                                                  << "All numeric"
                                                  << "" << false;
        QTest::newRow("all numeric underscore") << "_@x.com"
                                                << "E-mail address"
                                                << "All numeric"
                                                << "" << true;
        QTest::newRow("digits are uppercase") << "12345@x.com"
                                              << "E-mail address"
                                              << "Is UPPERCASE"
                                              << "" << true;
        QTest::newRow("user uppercase") << "JOE@spam.com"
                                        << "E-mail address"
                                        << "Is UPPERCASE"
                                        << "" << true;
        QTest::newRow("domain lower") << "JOE@spam.com"
                                      << "Domain name"
                                      << "Is UPPERCASE"
                                      << "" << false;
        QTest::newRow("empty user not uppercase") << "@X.COM"
                                                  << "E-mail address"
                                                  << "Is UPPERCASE"
                                                  << "" << false;
        QTest::newRow("Cyrillic user capitals") << "\u0418\u0412\u0410\u041d@x.ru"
                                                << "E-mail address"
                                                << "Is UPPERCASE"
                                                << "" << true;
        QTest::newRow("Cyrillic user lower case") << "\u0438\u0432\u0430\u043d@X.RU"
                                                  << "E-mail address"
                                                  << "Is UPPERCASE"
                                                  << "" << false;
        QTest::newRow("Chinese user") << "\u5f20\u4f1f@X.CN"
                                      << "E-mail address"
                                      << "Is UPPERCASE"
                                      << "" << false;
        QTest::newRow("domain equals folded") << "joe@Spam.Com"
                                              << "Domain name"
                                              << "Equals"
                                              << "SPAM.COM" << true;
        QTest::newRow("address ends with") << "joe@spam.com"
                                           << "E-mail address"
                                           << "Ends with"
                                           << ".COM" << true;
        QTest::newRow("no @ domain row whole") << "spamhost"
                                               << "Domain name"
                                               << "Equals"
                                               << "spamhost" << true;
        QTest::newRow("no @ user part whole") << "12345"
                                              << "E-mail address"
                                              << "All numeric"
                                              << "" << true;
        QTest::newRow("other what is address") << "joe@spam.com"
                                               << "Mailbox"
                                               << "Starts with"
                                               << "joe@" << true;
        QTest::newRow("blank address") << ""
                                       << "E-mail address"
                                       << "Is blank"
                                       << "" << true;
        QTest::newRow("empty starts never") << "joe@spam.com"
                                            << "E-mail address"
                                            << "Starts with"
                                            << "" << false;
        QTest::newRow("empty ends never") << "joe@spam.com"
                                          << "Domain name"
                                          << "Ends with"
                                          << "" << false;
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
        QVERIFY(!matchExceptSubject(u"", u"Is blank", u"", false));
        // An exception takes its pattern as written.
        QVERIFY(matchExceptSubject(u"Minutes", u"Starts with", u"", false));
        QVERIFY(matchExceptSubject(u"Re: minutes", u"Contains", u" ", false));
        QVERIFY(matchExceptSubject(u" ", u"Equals", u" ", false));
        QVERIFY(!matchExceptSubject(u"Minutes", u"Contains", u"", false));
    }
};

QTEST_APPLESS_MAIN(TestTextMatch)
#include "tst_textmatch.moc"
