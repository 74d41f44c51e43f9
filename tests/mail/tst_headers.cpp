#include "mail/headers.h"

#include <QTest>

class TestHeaders : public QObject
{
    Q_OBJECT

private slots:
    // Cutting the header block out of a TOP reply
    void cutAtBodyDropsSeparatorAndEverythingAfter();
    void cutAtBodyKeepsEveryLineWithoutSeparator();

    // Reading one line from the wire
    void decodeHeaderLineTakesUtf8ElseLatin1();

    // Finding a field
    void fieldNameMatchesWithOrWithoutColonAnyCase();
    void fieldNameMustBeFollowedByColon();
    void absentFieldOrEmptyListGivesEmpty();
    void firstOfDuplicateFieldsWins();
    void valueAfterColonIsTrimmedWhateverFollows();
    void foldedLinesJoinWithOneSpace();
    void foldingStopsAtFirstUnindentedLine();
    void blankContinuationLineAddsNothing();

    // Length and raw fields
    void longValueIsCutTo255();
    void cutNeverSplitsSurrogatePair();
    void contentTypeAndUidlComeWholeAndRaw();

    // Encoded words
    void encodedWordDecodes_data();
    void encodedWordDecodes();
    void encodedWordsSplitOverFoldedLinesJoin();
    void malformedEncodedWordStaysAsWritten_data();
    void malformedEncodedWordStaysAsWritten();
    void underscoreOutsideQWordIsKept();
    void decodedTextIsNotDecodedAgain();
    void longEncodedValueIsCutAfterDecoding();
    void characterCutBetweenWordsSurvives_data();
    void characterCutBetweenWordsSurvives();
    void wordsOfOtherCharsetsOrApartDecodeAlone_data();
    void wordsOfOtherCharsetsOrApartDecodeAlone();
    void wordsReadAloneUnlessACharacterIsCut_data();
    void wordsReadAloneUnlessACharacterIsCut();
    void unknownCharsetReadsUtf8ElseLatin1_data();
    void unknownCharsetReadsUtf8ElseLatin1();
    void controlCharactersFromDecodingBecomeSpaces_data();
    void controlCharactersFromDecodingBecomeSpaces();

    // Quotes and addresses
    void stripQuotesTrimsThenDropsQuoteRuns_data();
    void stripQuotesTrimsThenDropsQuoteRuns();
    void splitAddressForms_data();
    void splitAddressForms();
    void splitAddressCutsTo255();

    // The sender address, split from the field as received
    void senderAddressIgnoresDecodedText_data();
    void senderAddressIgnoresDecodedText();
    void headerAddressDecodesOnlyTheName();
    void senderAddressSurvivesLongDisplayName();
    void headerAddressReadsAnyAddressField();

    // Date field
    void parseDateReads_data();
    void parseDateReads();
    void parseDateRejects_data();
    void parseDateRejects();
    void parseDateKeepsDateWhenTimeIsUnreadable();
};

void TestHeaders::cutAtBodyDropsSeparatorAndEverythingAfter()
{
    TmsHeaders lines{"Subject: Hi", "From: a@b", "", "first body line", "."};
    CutAtBody(lines);
    QCOMPARE(lines, (TmsHeaders{"Subject: Hi", "From: a@b"}));
}

void TestHeaders::cutAtBodyKeepsEveryLineWithoutSeparator()
{
    TmsHeaders lines{"Subject: Hi", "From: a@b", "."};
    CutAtBody(lines);
    QCOMPARE(lines, (TmsHeaders{"Subject: Hi", "From: a@b", "."}));

    TmsHeaders empty;
    CutAtBody(empty);
    QVERIFY(empty.isEmpty());
}

void TestHeaders::decodeHeaderLineTakesUtf8ElseLatin1()
{
    QCOMPARE(decodeHeaderLine("Subject: \xc3\xa9t\xc3\xa9"), QStringLiteral(u"Subject: été"));
    QCOMPARE(decodeHeaderLine("Subject: \xe9t\xe9"), QStringLiteral(u"Subject: été"));
    QCOMPARE(decodeHeaderLine(""), QString());
}

void TestHeaders::fieldNameMatchesWithOrWithoutColonAnyCase()
{
    const TmsHeaders lines{"FROM: Jane <j@x.org>", "subject: Hi"};
    QCOMPARE(GetHeaderValue(lines, "From"), QStringLiteral("Jane <j@x.org>"));
    QCOMPARE(GetHeaderValue(lines, "from:"), QStringLiteral("Jane <j@x.org>"));
    QCOMPARE(GetHeaderValue(lines, "SUBJECT"), QStringLiteral("Hi"));
}

void TestHeaders::fieldNameMustBeFollowedByColon()
{
    const TmsHeaders lines{"From a@b Sat Jun 5 1999", "From : spaced", "X-From: other", "Subjects: plural"};
    QCOMPARE(GetHeaderValue(lines, "From"), QString());
    QCOMPARE(GetHeaderValue(lines, "Subject"), QString());
    QCOMPARE(GetHeaderValue(lines, "X-From"), QStringLiteral("other"));
}

void TestHeaders::absentFieldOrEmptyListGivesEmpty()
{
    QCOMPARE(GetHeaderValue({}, "Subject"), QString());
    QCOMPARE(GetHeaderValue({"From: a@b"}, "Subject"), QString());
    QCOMPARE(GetHeaderValue({"Subject:"}, "Subject"), QString());
}

void TestHeaders::firstOfDuplicateFieldsWins()
{
    const TmsHeaders lines{"Received: one", "Subject: first", "Received: two", "Subject: second"};
    QCOMPARE(GetHeaderValue(lines, "Subject"), QStringLiteral("first"));
    QCOMPARE(GetHeaderValue(lines, "Received"), QStringLiteral("one"));
}

void TestHeaders::valueAfterColonIsTrimmedWhateverFollows()
{
    QCOMPARE(GetHeaderValue({"Subject:Hello"}, "Subject"), QStringLiteral("Hello"));
    QCOMPARE(GetHeaderValue({"Subject: Hello"}, "Subject"), QStringLiteral("Hello"));
    QCOMPARE(GetHeaderValue({"Subject:\t  Hello \t"}, "Subject"), QStringLiteral("Hello"));
    QCOMPARE(GetHeaderValue({"Subject: a: b"}, "Subject"), QStringLiteral("a: b"));
}

void TestHeaders::foldedLinesJoinWithOneSpace()
{
    const TmsHeaders lines{"Subject: Hello", " world", "\tand   all", "From: a@b"};
    QCOMPARE(GetHeaderValue(lines, "Subject"), QStringLiteral("Hello world and   all"));
}

void TestHeaders::foldingStopsAtFirstUnindentedLine()
{
    const TmsHeaders lines{"Subject: Hello", "", " not a continuation"};
    QCOMPARE(GetHeaderValue(lines, "Subject"), QStringLiteral("Hello"));
    const TmsHeaders next{"To: a@b", "Cc: c@d", " e@f"};
    QCOMPARE(GetHeaderValue(next, "To"), QStringLiteral("a@b"));
}

void TestHeaders::blankContinuationLineAddsNothing()
{
    const TmsHeaders lines{"Subject: Hello", "   ", " world"};
    QCOMPARE(GetHeaderValue(lines, "Subject"), QStringLiteral("Hello world"));
}

void TestHeaders::longValueIsCutTo255()
{
    const QString subject(300, u'x');
    QCOMPARE(GetHeaderValue({"Subject: " + subject}, "Subject"), subject.left(255));
    QCOMPARE(DecodeEncodedWords(subject).size(), 255);
}

void TestHeaders::cutNeverSplitsSurrogatePair()
{
    // U+1F600 is two UTF-16 units; placed across the 255th unit it must go whole.
    const QString subject = QString(254, u'a') + QStringLiteral(u"\U0001F600") + "tail";
    const QString value = GetHeaderValue({"Subject: " + subject}, "Subject");
    QCOMPARE(value, QString(254, u'a'));

    const TmsMailAddress split = SplitAddress(QString(254, u'n') + QStringLiteral(u"\U0001F600 <a@b>"));
    QCOMPARE(split.Name, QString(254, u'n'));
}

void TestHeaders::contentTypeAndUidlComeWholeAndRaw()
{
    const QString type = "multipart/mixed; boundary=\"=?x?Q?y?=" + QString(300, u'b') + "\"";
    QCOMPARE(GetHeaderValue({"Content-Type: " + type}, "content-type:"), type);
    const QString uidl = "=?utf-8?q?abc?=" + QString(300, u'u');
    QCOMPARE(GetHeaderValue({"X-UIDL: " + uidl}, "X-UIDL"), uidl);
}

void TestHeaders::encodedWordDecodes_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("Q latin-1 with underscores") << "=?iso-8859-1?Q?Caf=E9_au_lait?=" << QStringLiteral(u"Café au lait");
    QTest::newRow("q in lower case, text starting with =") << "=?utf-8?q?=C3=A9t=C3=A9?=" << QStringLiteral(u"été");
    QTest::newRow("B utf-8") << "=?UTF-8?B?w6l0w6k=?=" << QStringLiteral(u"été");
    QTest::newRow("b in lower case") << "=?utf-8?b?SGVsbG8=?=" << QStringLiteral("Hello");
    QTest::newRow("B without padding") << "=?utf-8?B?SGVsbG8?=" << QStringLiteral("Hello");
    QTest::newRow("ISO-8859-2") << "=?ISO-8859-2?Q?=B1?=" << QStringLiteral(u"ą");
    QTest::newRow("Windows-1252 euro and quotes") << "=?windows-1252?Q?=80_=93x=94?=" << QStringLiteral(u"€ “x”");
    QTest::newRow("Windows-1251") << "=?windows-1251?B?z/Do4uXy?=" << QStringLiteral(u"Привет");
    QTest::newRow("KOI8-R") << "=?koi8-r?Q?=F0=D2=C9=D7=C5=D4?=" << QStringLiteral(u"Привет");
    QTest::newRow("charset with language") << "=?utf-8*en?Q?Hi?=" << QStringLiteral("Hi");
    QTest::newRow("us-ascii holding 8-bit utf-8") << "=?us-ascii?Q?=C3=A9?=" << QStringLiteral(u"é");
    QTest::newRow("adjacent words lose the space between")
        << "=?utf-8?Q?Hello?= =?utf-8?Q?_world?=" << QStringLiteral("Hello world");
    QTest::newRow("adjacent words lose tabs and runs of blanks")
        << "=?utf-8?Q?a?= \t  =?utf-8?Q?b?=" << QStringLiteral("ab");
    QTest::newRow("space before ordinary text stays") << "=?utf-8?Q?Hello?= world" << QStringLiteral("Hello world");
    QTest::newRow("ordinary text before a word stays") << "Re: =?utf-8?Q?Hi?=" << QStringLiteral("Re: Hi");
    QTest::newRow("word between text") << "a =?utf-8?B?Yg==?= c" << QStringLiteral("a b c");
    QTest::newRow("utf-8 split across two words") << "=?utf-8?B?w6k=?= =?utf-8?B?dA==?=" << QStringLiteral(u"ét");
    QTest::newRow("encoded question mark and equals") << "=?utf-8?Q?a=3F=3Db?=" << QStringLiteral("a?=b");
    QTest::newRow("Q keeps = without hex digits") << "=?utf-8?Q?a=ZZb?=" << QStringLiteral("a=ZZb");
    QTest::newRow("Q keeps only its first line") << "=?utf-8?Q?one=0D=0Atwo?= end" << QStringLiteral("one end");
    QTest::newRow("Q word holding blanks, as spam writes them") << "=?utf-8?Q?Buy now?=" << QStringLiteral("Buy now");
    QTest::newRow("empty encoded text") << "x=?utf-8?Q?"
                                           "?=y"
                                        << QStringLiteral("xy");
}

void TestHeaders::encodedWordDecodes()
{
    QFETCH(QString, value);
    QFETCH(QString, decoded);
    QCOMPARE(DecodeEncodedWords(value), decoded);
    QCOMPARE(GetHeaderValue({"Subject: " + value}, "Subject"), decoded);
}

void TestHeaders::encodedWordsSplitOverFoldedLinesJoin()
{
    const TmsHeaders lines{"Subject: =?utf-8?B?0J/RgNC4?=", "\t=?utf-8?B?0LLQtdGC?="};
    QCOMPARE(GetHeaderValue(lines, "Subject"), QStringLiteral(u"Привет"));
}

void TestHeaders::malformedEncodedWordStaysAsWritten_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("character outside Base64") << "=?utf-8?B?SGV$bG8=?=" << QStringLiteral("=?utf-8?B?SGV$bG8=?=");
    QTest::newRow("misplaced padding") << "=?utf-8?B?S=Vs?=" << QStringLiteral("=?utf-8?B?S=Vs?=");
    QTest::newRow("unknown encoding letter") << "=?utf-8?X?abc?=" << QStringLiteral("=?utf-8?X?abc?=");
    QTest::newRow("no end marker") << "Hi =?utf-8?Q?abc" << QStringLiteral("Hi =?utf-8?Q?abc");
    QTest::newRow("no charset") << "=??Q?abc?=" << QStringLiteral("=??Q?abc?=");
    QTest::newRow("lone opener") << "a =? b" << QStringLiteral("a =? b");
    QTest::newRow("opener at the end") << "a =?" << QStringLiteral("a =?");
    QTest::newRow("bad word then good word") << "=?utf-8?B?!!?= =?utf-8?Q?ok?=" << QStringLiteral("=?utf-8?B?!!?= ok");
    QTest::newRow("underscore kept beside a bad word")
        << "a_b =?utf-8?X?c_d?=" << QStringLiteral("a_b =?utf-8?X?c_d?=");
}

void TestHeaders::malformedEncodedWordStaysAsWritten()
{
    QFETCH(QString, value);
    QFETCH(QString, decoded);
    QCOMPARE(DecodeEncodedWords(value), decoded);
}

void TestHeaders::underscoreOutsideQWordIsKept()
{
    QCOMPARE(GetHeaderValue({"Subject: my_file"}, "Subject"), QStringLiteral("my_file"));
    QCOMPARE(DecodeEncodedWords("my_file =?utf-8?Q?x_y?="), QStringLiteral("my_file x y"));
    // In a B word "_" is data, not a space.
    QCOMPARE(DecodeEncodedWords("=?utf-8?B?YV9i?="), QStringLiteral("a_b"));
}

void TestHeaders::decodedTextIsNotDecodedAgain()
{
    // "=?utf-8?Q?x?=" encoded in Base64: the result is shown, not decoded again.
    QCOMPARE(DecodeEncodedWords("=?utf-8?B?PT91dGYtOD9RP3g/PQ==?="), QStringLiteral("=?utf-8?Q?x?="));
}

void TestHeaders::longEncodedValueIsCutAfterDecoding()
{
    // Four 60-character words: 250 raw characters after the first two, so a
    // cut of the raw value would leave a broken word behind.
    QStringList words;
    for (int i = 0; i < 4; ++i)
        words << "=?utf-8?Q?" + QString(48, QChar(u'a' + i)) + "?=";
    const QString value = GetHeaderValue({"Subject: " + words.join(' ')}, "Subject");
    QCOMPARE(value, QString(48, u'a') + QString(48, u'b') + QString(48, u'c') + QString(48, u'd'));

    const QString longer = DecodeEncodedWords("=?utf-8?Q?" + QString(400, u'z') + "?=");
    QCOMPARE(longer, QString(255, u'z'));
}

namespace {

// "Ваше" in UTF-8 is D0 92 D0 B0 D1 88 D0 B5.
const QString Vashe = QStringLiteral(u"Ваше");

QString bWord(const QByteArray &charset, const QByteArray &bytes)
{
    return QString::fromLatin1("=?" + charset + "?B?" + bytes.toBase64() + "?=");
}

} // namespace

void TestHeaders::characterCutBetweenWordsSurvives_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("B words cut after a lead byte")
        << bWord("UTF-8", "\xd0\x92\xd0") + " " + bWord("UTF-8", "\xb0\xd1\x88\xd0\xb5") << Vashe;
    QTest::newRow("B words cut at every byte")
        << bWord("utf-8", "\xd0") + bWord("utf-8", "\x92\xd0") + " " + bWord("utf-8", "\xb0\xd1") + "\t"
               + bWord("utf-8", "\x88\xd0") + " " + bWord("utf-8", "\xb5")
        << Vashe;
    QTest::newRow("Q words") << "=?utf-8?Q?=D0=92=D0?= =?utf-8?Q?=B0=D1=88=D0=B5?=" << Vashe;
    QTest::newRow("B word then Q word") << bWord("utf-8", "\xd0\x92\xd0") + " =?utf-8?Q?=B0=D1=88=D0=B5?=" << Vashe;
    QTest::newRow("charset names differ in case and language")
        << bWord("UTF-8", "\xd0\x92\xd0") + " " + bWord("utf-8*ru", "\xb0\xd1\x88\xd0\xb5") << Vashe;
    QTest::newRow("text around the run stays")
        << "Re: " + bWord("utf-8", "\xd0\x92\xd0") + " " + bWord("utf-8", "\xb0\xd1\x88\xd0\xb5") + " 42"
        << "Re: " + Vashe + " 42";
    QTest::newRow("four-byte character in two words")
        << bWord("utf-8", "a\xf0\x9f") + " " + bWord("utf-8", "\x98\x80") << QStringLiteral(u"a\U0001F600");
    QTest::newRow("two-byte charset cut between words")
        << bWord("Shift_JIS", "\x82") + " " + bWord("Shift_JIS", "\xa0") << QStringLiteral(u"あ");
}

void TestHeaders::characterCutBetweenWordsSurvives()
{
    QFETCH(QString, value);
    QFETCH(QString, decoded);
    QCOMPARE(DecodeEncodedWords(value), decoded);
    QCOMPARE(GetHeaderValue({"Subject: " + value}, "Subject"), decoded);

    // The same words folded over two lines at the first blank, as long
    // subjects arrive.
    const qsizetype blank = value.indexOf(u' ');
    const TmsHeaders folded{"Subject: " + value.left(blank), " " + value.mid(blank + 1)};
    QCOMPARE(GetHeaderValue(folded, "Subject"), decoded);
}

void TestHeaders::wordsOfOtherCharsetsOrApartDecodeAlone_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("decoded");

    // Joined, C3 A9 would read as "é"; each word alone is its own text.
    QTest::newRow("another charset") << "=?utf-8?Q?=C3?= =?iso-8859-1?Q?=A9?=" << QStringLiteral(u"Ã©");
    QTest::newRow("ordinary text between") << "=?utf-8?Q?=C3?= x =?utf-8?Q?=A9?=" << QStringLiteral(u"Ã x ©");
    QTest::newRow("malformed word between")
        << "=?utf-8?Q?=C3?= =?utf-8?B?!?= =?utf-8?Q?=A9?=" << QStringLiteral(u"Ã =?utf-8?B?!?= ©");
    QTest::newRow("whole characters in each word")
        << "=?koi8-r?B?8NLJ?= =?utf-8?B?0LLQtdGC?=" << QStringLiteral(u"Привет");
}

void TestHeaders::wordsOfOtherCharsetsOrApartDecodeAlone()
{
    QFETCH(QString, value);
    QFETCH(QString, decoded);
    QCOMPARE(DecodeEncodedWords(value), decoded);
}

void TestHeaders::wordsReadAloneUnlessACharacterIsCut_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("decoded");

    // Japanese mailers split a subject into ISO-2022-JP words, each back in
    // ASCII at its end: every word reads alone, their bytes joined do not.
    QTest::newRow("ISO-2022-JP subject in B words")
        << "Fwd: " + bWord("ISO-2022-JP", "\x1b$BL$>5Bz9-9p\"(\x1b(B ") + " " + bWord("ISO-2022-JP", "\x1b$B7c0B\x1b(B")
               + " " + bWord("ISO-2022-JP", "\x1b$BHNGd\x1b(B")
        << QStringLiteral(u"Fwd: 未承諾広告※ 激安販売");
    QTest::newRow("ISO-2022-JP subject in Q words")
        << "=?iso-2022-jp?Q?=1B$B7c0B=1B(B?= =?iso-2022-jp?Q?=1B$BHNGd=1B(B?=" << QStringLiteral(u"激安販売");
    QTest::newRow("ISO-2022-JP character cut between words")
        << bWord("iso-2022-jp", "\x1b$B7") + " " + bWord("iso-2022-jp", "c0B\x1b(B") << QStringLiteral(u"激安");
    QTest::newRow("a broken word does not spoil the next")
        << "=?utf-8?Q?a=FF?= =?utf-8?Q?b=C3=A9?=" << QStringLiteral(u"aÿbé");
    // Valid UTF-8, but not ISO-2022-JP: the charset's own reading stands.
    QTest::newRow("a known charset is never read as UTF-8")
        << bWord("iso-2022-jp", "\xd0\x92\xd0\xb0") << QString(4, QChar::ReplacementCharacter);
}

void TestHeaders::wordsReadAloneUnlessACharacterIsCut()
{
    QFETCH(QString, value);
    QFETCH(QString, decoded);
    QCOMPARE(DecodeEncodedWords(value), decoded);
    QCOMPARE(GetHeaderValue({"Subject: " + value}, "Subject"), decoded);
}

void TestHeaders::unknownCharsetReadsUtf8ElseLatin1_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("unknown-8bit holding UTF-8")
        << "=?unknown-8bit?B?0JLQsNGI0LU=?= =?unknown-8bit?Q?_=C3=A9t=C3=A9?=" << Vashe + QStringLiteral(u" été");
    QTest::newRow("unknown-8bit holding Latin-1") << "=?unknown-8bit?Q?Caf=E9?=" << QStringLiteral(u"Café");
    QTest::newRow("made-up name holding UTF-8") << "=?x-nonsense?Q?=C3=A9?=" << QStringLiteral(u"é");
    QTest::newRow("made-up name holding Latin-1") << "=?x-nonsense?Q?=E9?=" << QStringLiteral(u"é");
    QTest::newRow("UTF-8 run cut between words of an unknown charset")
        << bWord("unknown-8bit", "\xd0\x92\xd0") + " " + bWord("unknown-8bit", "\xb0\xd1\x88\xd0\xb5") << Vashe;
}

void TestHeaders::unknownCharsetReadsUtf8ElseLatin1()
{
    QFETCH(QString, value);
    QFETCH(QString, decoded);
    QCOMPARE(DecodeEncodedWords(value), decoded);
}

void TestHeaders::controlCharactersFromDecodingBecomeSpaces_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("NUL and escape sequence in a B word")
        << bWord("utf-8", QByteArray("a\0b\x1b[2Jc", 8)) << QStringLiteral("a b [2Jc");
    QTest::newRow("line break in a B word") << bWord("utf-8", "one\r\ntwo") << QStringLiteral("one  two");
    QTest::newRow("tab, DEL in a Q word") << "=?utf-8?Q?a=09b=7Fc?=" << QStringLiteral("a b c");
    QTest::newRow("C1 control from Latin-1") << "=?iso-8859-1?Q?a=85b=9Bc?=" << QStringLiteral("a b c");
    QTest::newRow("C1 control of bytes that are not UTF-8") << "=?unknown-8bit?Q?a=9Bb?=" << QStringLiteral("a b");
    QTest::newRow("line and paragraph separators") << "=?utf-8?Q?a=E2=80=A8b=E2=80=A9c?=" << QStringLiteral("a b c");
    QTest::newRow("other characters stay") << "=?utf-8?Q?=C2=A0=E2=80=8B_=C3=A9?=" << QStringLiteral(u"\u00a0\u200b é");
}

void TestHeaders::controlCharactersFromDecodingBecomeSpaces()
{
    QFETCH(QString, value);
    QFETCH(QString, decoded);
    QCOMPARE(DecodeEncodedWords(value), decoded);
    QCOMPARE(GetHeaderValue({"Subject: " + value}, "Subject"), decoded);
}

void TestHeaders::stripQuotesTrimsThenDropsQuoteRuns_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stripped");
    QTest::newRow("plain") << " Jane Roe "
                           << "Jane Roe";
    QTest::newRow("quoted") << "\t\"Jane Roe\"  "
                            << "Jane Roe";
    QTest::newRow("runs") << "\"\"Jane\"\"\""
                          << "Jane";
    QTest::newRow("inner quotes stay") << "\"a \"b\" c\""
                                       << "a \"b\" c";
    QTest::newRow("no second trim") << "\" Jane \""
                                    << " Jane ";
    QTest::newRow("only quotes") << "\"\"\""
                                 << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestHeaders::stripQuotesTrimsThenDropsQuoteRuns()
{
    QFETCH(QString, text);
    QFETCH(QString, stripped);
    QCOMPARE(StripQuotes(text), stripped);
}

void TestHeaders::splitAddressForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");

    QTest::newRow("quoted name and angle address") << "\"Jane Roe\" <jr@host.org>"
                                                   << "jr@host.org"
                                                   << "Jane Roe";
    QTest::newRow("bare name and angle address") << "Jane Roe <jr@host.org>"
                                                 << "jr@host.org"
                                                 << "Jane Roe";
    QTest::newRow("address and comment") << "jr@host.org (Jane Roe)"
                                         << "jr@host.org"
                                         << "Jane Roe";
    QTest::newRow("angle address only") << "<jr@host.org>"
                                        << "jr@host.org"
                                        << "";
    QTest::newRow("bare address kept as it is") << "jr@host.org"
                                                << "jr@host.org"
                                                << "";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("< without >") << "Jane <jr@host.org"
                                 << ""
                                 << "Jane <jr@host.org";
    QTest::newRow("> before <") << "a> Jane <b"
                                << ""
                                << "a> Jane <b";
    QTest::newRow("quoted address inside brackets") << "<\"jr@host.org\">"
                                                    << "jr@host.org"
                                                    << "";
    QTest::newRow("name after the address") << "<jr@host.org> Jane"
                                            << "jr@host.org"
                                            << "Jane";
    QTest::newRow("comment without closing parenthesis") << "jr@host.org (Jane"
                                                         << "jr@host.org"
                                                         << "Jan";
    QTest::newRow("lone opening parenthesis") << "jr@host.org ("
                                              << "jr@host.org"
                                              << "";
    QTest::newRow("comment ending in a character beyond 16 bits")
        << QStringLiteral(u"jr@host.org (Jane\U0001F600") << "jr@host.org"
        << "Jane";
    QTest::newRow("group of one") << "Friends: Jane <j@x.org>;"
                                  << "j@x.org"
                                  << "Friends: Jane ;";
    QTest::newRow("empty group") << "undisclosed-recipients:;"
                                 << "undisclosed-recipients:;"
                                 << "";

    // RFC 5322 reading: "<" starts the address only outside quoted strings
    // and comments; quotes go only as a pair around a whole part.
    QTest::newRow("quoted name that looks like an address") << "\"<boss@bank.example>\" <spammer@evil.example>"
                                                            << "spammer@evil.example"
                                                            << "<boss@bank.example>";
    QTest::newRow("escaped quotes inside the quoted name") << "\"a \\\"<boss@bank.example>\\\"\" <spammer@evil.example>"
                                                           << "spammer@evil.example"
                                                           << "a \\\"<boss@bank.example>\\\"";
    QTest::newRow("two bracket pairs, the second in a comment") << "Joe <a@x> (via <b@y>)"
                                                                << "a@x"
                                                                << "Joe  (via <b@y>)";
    QTest::newRow("comment with brackets before the address") << "Joe (via <b@y>) <a@x>"
                                                              << "a@x"
                                                              << "Joe (via <b@y>)";
    QTest::newRow("nested comment") << "(a (b) <c@d>) <e@f>"
                                    << "e@f"
                                    << "(a (b) <c@d>)";
    QTest::newRow("quoted local part keeps its quotes") << "<\"John Smith\"@example.com>"
                                                        << "\"John Smith\"@example.com"
                                                        << "";
    QTest::newRow("> inside a quoted local part") << "Jo <\"a>b\"@x.org>"
                                                  << "\"a>b\"@x.org"
                                                  << "Jo";
    QTest::newRow("quoted name keeps its inner quote runs") << "\"\"Jane\"\" <j@x.org>"
                                                            << "j@x.org"
                                                            << "\"Jane\"";
    QTest::newRow("bare quoted local part") << "\"John Smith\"@example.com"
                                            << "\"John Smith\"@example.com"
                                            << "";
    QTest::newRow("comment holding brackets after a bare address") << "jr@host.org (Jane <x@y>)"
                                                                   << "jr@host.org"
                                                                   << "Jane <x@y>";
    QTest::newRow("parenthesis inside a quoted local part") << "\"a(b\"@x.org (Jane)"
                                                            << "\"a(b\"@x.org"
                                                            << "Jane";
    QTest::newRow("unclosed quote runs to the end") << "\"<boss@bank.example> <spammer@evil.example>"
                                                    << "\"<boss@bank.example> <spammer@evil.example>"
                                                    << "";
    QTest::newRow("unclosed comment runs to the end") << "Joe (via <b@y> <a@x>"
                                                      << "Joe"
                                                      << "via <b@y> <a@x";
}

void TestHeaders::splitAddressForms()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    QFETCH(QString, name);
    const TmsMailAddress split = SplitAddress(text);
    QCOMPARE(split.Address, address);
    QCOMPARE(split.Name, name);
}

void TestHeaders::splitAddressCutsTo255()
{
    const TmsMailAddress split = SplitAddress(QString(300, u'n') + " <" + QString(300, u'a') + ">");
    QCOMPARE(split.Name.size(), 255);
    QCOMPARE(split.Address, QString(255, u'a'));
}

void TestHeaders::senderAddressIgnoresDecodedText_data()
{
    QTest::addColumn<TmsHeaders>("headers");
    QTest::addColumn<QString>("address");

    // "<boss@bank.example>" in Base64 and in Q form.
    const QString bossB = QStringLiteral("=?UTF-8?B?PGJvc3NAYmFuay5leGFtcGxlPg==?=");
    const QString bossQ = QStringLiteral("=?utf-8?Q?=3Cboss=40bank=2Eexample=3E?=");
    QTest::newRow("B word before the address")
        << TmsHeaders{"From: " + bossB + " <spammer@evil.example>"} << "spammer@evil.example";
    QTest::newRow("Q word before the address")
        << TmsHeaders{"From: " + bossQ + " <spammer@evil.example>"} << "spammer@evil.example";
    QTest::newRow("word after the address")
        << TmsHeaders{"From: <spammer@evil.example> " + bossB} << "spammer@evil.example";
    QTest::newRow("encoded word alone is no address") << TmsHeaders{"From: " + bossB} << bossB;
    QTest::newRow("quoted name that looks like an address")
        << TmsHeaders{"From: \"<boss@bank.example>\" <spammer@evil.example>"} << "spammer@evil.example";
    QTest::newRow("two bracket pairs") << TmsHeaders{"From: Joe <a@x> (via <b@y>)"} << "a@x";
    QTest::newRow("folded between name and address")
        << TmsHeaders{"From: " + bossB, "\t<spammer@evil.example>"} << "spammer@evil.example";
    QTest::newRow("quoted local part") << TmsHeaders{"From: <\"John Smith\"@example.com>"}
                                       << "\"John Smith\"@example.com";
    QTest::newRow("field name in any case") << TmsHeaders{"fROM: Jane <j@x.org>"} << "j@x.org";
    QTest::newRow("no From field") << TmsHeaders{"Sender: Jane <j@x.org>"} << "";
    QTest::newRow("bounce with an empty address") << TmsHeaders{"From: MAILER-DAEMON <>"} << "";
}

void TestHeaders::senderAddressIgnoresDecodedText()
{
    QFETCH(TmsHeaders, headers);
    QFETCH(QString, address);
    QCOMPARE(senderAddress(headers), address);
    QCOMPARE(headerAddress(headers, "From:").Address, address);
}

void TestHeaders::headerAddressDecodesOnlyTheName()
{
    const TmsMailAddress spoof =
        headerAddress({"From: =?UTF-8?B?PGJvc3NAYmFuay5leGFtcGxlPg==?= <spammer@evil.example>"}, "From");
    QCOMPARE(spoof.Name, QStringLiteral("<boss@bank.example>"));

    const TmsMailAddress foreign = headerAddress({"From: \"=?utf-8?Q?J=C3=A9r=C3=B4me?=\" <j@x.org>"}, "From");
    QCOMPARE(foreign.Name, QStringLiteral(u"Jérôme"));
    QCOMPARE(foreign.Address, QStringLiteral("j@x.org"));

    // An encoded word in the address part stays as written.
    const TmsMailAddress inAddress = headerAddress({"From: <=?utf-8?Q?a?=@x.org>"}, "From");
    QCOMPARE(inAddress.Address, QStringLiteral("=?utf-8?Q?a?=@x.org"));
}

void TestHeaders::senderAddressSurvivesLongDisplayName()
{
    // The name alone is longer than a header value may be: the address must
    // still be found, and each part is cut on its own.
    const QString name(300, u'n');
    const TmsHeaders headers{"From: \"" + name + "\" <j@x.org>"};
    QCOMPARE(senderAddress(headers), QStringLiteral("j@x.org"));
    QCOMPARE(headerAddress(headers, "From").Name, name.left(255));

    const QString encodedName = "=?utf-8?Q?" + QString(260, u'e') + "?=";
    QCOMPARE(headerAddress({"From: " + encodedName + " <j@x.org>"}, "From").Name, QString(255, u'e'));

    QCOMPARE(senderAddress({"From: <" + QString(300, u'a') + ">"}), QString(255, u'a'));
}

void TestHeaders::headerAddressReadsAnyAddressField()
{
    const TmsHeaders headers{"From: a@x", "To: =?utf-8?Q?=3Cboss=40bank=2Eexample=3E?= <me@home.org>",
                             "Reply-To: <r@x>"};
    QCOMPARE(headerAddress(headers, "To:").Address, QStringLiteral("me@home.org"));
    QCOMPARE(headerAddress(headers, "reply-to").Address, QStringLiteral("r@x"));
    QCOMPARE(headerAddress(headers, "Cc").Address, QString());
}

void TestHeaders::parseDateReads_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("dateTime");
    QTest::addColumn<QString>("rest");

    const auto at = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
    };
    QTest::newRow("RFC 5322") << "Sat, 05 Jun 1999 10:22:05 -0400" << at(1999, 6, 5, 10, 22, 5) << "-0400";
    QTest::newRow("two-digit year, no seconds, no zone") << "5 Jun 99 10:22" << at(1999, 6, 5, 10, 22, 0) << "";
    QTest::newRow("year 50 is 2050") << "1 Jan 50 00:00:00 +0000" << at(2050, 1, 1, 0, 0, 0) << "+0000";
    QTest::newRow("year 51 is 1951") << "1 Jan 51 00:00:00 +0000" << at(1951, 1, 1, 0, 0, 0) << "+0000";
    QTest::newRow("three-digit year counts from 1900") << "1 Jan 103 12:00:00 GMT" << at(2003, 1, 1, 12, 0, 0) << "GMT";
    QTest::newRow("quoted, lower case, zone comment")
        << "\"mon, 7 dec 2026 08:30:00 +0100 (CET)\"" << at(2026, 12, 7, 8, 30, 0) << "+0100 (CET)";
    QTest::newRow("obsolete zone name") << "Tue, 1 Feb 2000 23:59:59 EST" << at(2000, 2, 1, 23, 59, 59) << "EST";
    QTest::newRow("extra blanks and tabs")
        << "Sat,\t5  Jun\t 1999   10:22:05   -0400" << at(1999, 6, 5, 10, 22, 5) << "-0400";
    QTest::newRow("time followed by a comma") << "5 Jun 1999 10:22:05, -0400" << at(1999, 6, 5, 10, 22, 5) << "-0400";
    QTest::newRow("PM suffix") << "5 Jun 1999 10:22PM" << at(1999, 6, 5, 22, 22, 0) << "";
    QTest::newRow("12AM is midnight") << "5 Jun 1999 12:05AM" << at(1999, 6, 5, 0, 5, 0) << "";
    QTest::newRow("12PM is noon") << "5 Jun 1999 12:05PM" << at(1999, 6, 5, 12, 5, 0) << "";
    QTest::newRow("1AM") << "5 Jun 1999 1:05AM" << at(1999, 6, 5, 1, 5, 0) << "";
    QTest::newRow("PM after a space is the rest") << "5 Jun 1999 12:05 PM" << at(1999, 6, 5, 12, 5, 0) << "PM";
    QTest::newRow("leap second") << "31 Dec 2016 23:59:60 +0000" << at(2016, 12, 31, 23, 59, 59) << "+0000";
    QTest::newRow("leap day") << "29 Feb 2024 01:02:03 +0000" << at(2024, 2, 29, 1, 2, 3) << "+0000";
    QTest::newRow("full month name") << "5 December 1999 10:22 +0000" << at(1999, 12, 5, 10, 22, 0) << "+0000";
}

void TestHeaders::parseDateReads()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, dateTime);
    QFETCH(QString, rest);
    const ParsedDate parsed = ParseDate(text);
    QCOMPARE(parsed.dateTime, dateTime);
    QCOMPARE(parsed.rest, rest);
}

void TestHeaders::parseDateRejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("one word") << "yesterday";
    QTest::newRow("digit last") << "Day 5";
    QTest::newRow("no time: the year must be followed by a space") << "5 Jun 1999";
    QTest::newRow("no month") << "5 Foo 1999 10:22:05";
    QTest::newRow("day not a number") << "5th Jun 1999 10:22:05";
    QTest::newRow("impossible date") << "31 Feb 1999 10:22:05";
    QTest::newRow("day zero") << "0 Jun 1999 10:22:05";
    QTest::newRow("day beyond 16 bits") << "70000 Jun 1999 10:22:05";
    QTest::newRow("year beyond 16 bits") << "5 Jun 99999 10:22:05";
    QTest::newRow("huge digit run") << QString(5000, u'9') + " Jun 1999 10:22";
    QTest::newRow("asctime layout") << "Sat Jun  5 10:22:05 1999";
    QTest::newRow("only blanks and quotes") << " \"\" ";
}

void TestHeaders::parseDateRejects()
{
    QFETCH(QString, text);
    const ParsedDate parsed = ParseDate(text);
    QVERIFY(!parsed.dateTime.isValid());
    QCOMPARE(parsed.rest, QString());
}

void TestHeaders::parseDateKeepsDateWhenTimeIsUnreadable()
{
    for (const char *text :
         {"5 Jun 1999 noon +0000", "5 Jun 1999 25:00 +0000", "5 Jun 1999 10-22 +0000", "5 Jun 1999 13:00PM +0000"}) {
        const ParsedDate parsed = ParseDate(text);
        QCOMPARE(parsed.dateTime, QDateTime(QDate(1999, 6, 5), QTime(0, 0), Qt::UTC));
        QCOMPARE(parsed.rest, QStringLiteral("+0000"));
    }
}

QTEST_GUILESS_MAIN(TestHeaders)
#include "tst_headers.moc"
