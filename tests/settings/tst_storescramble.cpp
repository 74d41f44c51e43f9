#include "settings/scramble.h"

#include <QTest>

class TestStoreScramble : public QObject
{
    Q_OBJECT

private slots:
    void knownVector();
    void roundTripsAnyBytes();
    void roundTripsText_data();
    void roundTripsText();
    void keepsTheLength();
    void laterCharactersDoNotChangeEarlierOnes();
    void firstCharacterDependsOnlyOnKeyHighByte();
    void mailboxNumberIsPartOfTheKey();
    void zeroByteInScrambledText();
};

void TestStoreScramble::knownVector()
{
    // 'A' ^ 0x12 = 0x53; reg = ((0x53 + 0x1234) * 5245 + 2719) mod 2^16 = 0xA28A;
    // 'B' ^ 0xA2 = 0xE0.
    QCOMPARE(scrambleBytes("AB", 0x1234), QByteArray("\x53\xE0"));
    QCOMPARE(unscrambleBytes("\x53\xE0", 0x1234), QByteArray("AB"));
}

void TestStoreScramble::roundTripsAnyBytes()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    for (const quint16 key : {quint16(0), quint16(1), quint16(0x4D54), quint16(0xFFFF)}) {
        const QByteArray scrambled = scrambleBytes(all, key);
        QVERIFY(scrambled != all);
        QCOMPARE(unscrambleBytes(scrambled, key), all);
    }
}

void TestStoreScramble::roundTripsText_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("empty") << QString();
    QTest::newRow("ascii") << QStringLiteral("s3cret!");
    QTest::newRow("specials") << QStringLiteral("a=b[c]%d#e\r\nf");
    QTest::newRow("latin1") << QStringLiteral("pässwörd");
    QTest::newRow("beyond latin1") << QStringLiteral("пароль€");
    QTest::newRow("leading bom") << QStringLiteral("\uFEFFx");
    QTest::newRow("long") << QString(1000, u'z');
}

void TestStoreScramble::roundTripsText()
{
    QFETCH(QString, password);
    for (int n = 1; n <= 12; ++n)
        QCOMPARE(UnscramblePassword(ScramblePassword(password, passwordKey(n)), passwordKey(n)), password);
}

void TestStoreScramble::keepsTheLength()
{
    QCOMPARE(ScramblePassword(QStringLiteral("x"), passwordKey(1)).size(), 1);
    QCOMPARE(ScramblePassword(QStringLiteral("password"), passwordKey(7)).size(), 8);
    QVERIFY(ScramblePassword(QString(), passwordKey(1)).isEmpty());
}

void TestStoreScramble::laterCharactersDoNotChangeEarlierOnes()
{
    const QString a = ScramblePassword(QStringLiteral("abcdef"), passwordKey(3));
    const QString b = ScramblePassword(QStringLiteral("abcXef"), passwordKey(3));
    QCOMPARE(a.left(3), b.left(3));
    QVERIFY(a[3] != b[3]);
}

void TestStoreScramble::firstCharacterDependsOnlyOnKeyHighByte()
{
    QCOMPARE(scrambleBytes("qa", 0x1200).left(1), scrambleBytes("qz", 0x12FF).left(1));
    QCOMPARE(quint8(scrambleBytes("q", 0x1200)[0]), quint8('q' ^ 0x12));
}

void TestStoreScramble::mailboxNumberIsPartOfTheKey()
{
    QVERIFY(passwordKey(1) != passwordKey(2));
    const QString stored = ScramblePassword(QStringLiteral("password"), passwordKey(1));
    QVERIFY(UnscramblePassword(stored, passwordKey(2)) != QStringLiteral("password"));
}

void TestStoreScramble::zeroByteInScrambledText()
{
    // A first byte equal to the key's high byte scrambles to zero.
    const quint16 key = passwordKey(1);
    const QString password = QChar(key >> 8) + QStringLiteral("rest");
    const QString stored = ScramblePassword(password, key);
    QCOMPARE(stored.size(), 5);
    QCOMPARE(stored[0], QChar(0));
    QCOMPARE(UnscramblePassword(stored, key), password);
}

QTEST_GUILESS_MAIN(TestStoreScramble)
#include "tst_storescramble.moc"
