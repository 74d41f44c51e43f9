// Malformed headers are everyday input in spam: random and mutated header
// blocks and message files go through every header function, which must
// neither crash nor hang nor break their length promises.

#include "mail/headers.h"
#include "mail/messagebody.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <array>

namespace {

// Set MAILSIEVE_FUZZ_SEED to replay a failing run.
quint32 fuzzSeed()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("MAILSIEVE_FUZZ_SEED").toUInt(&ok);
    return ok ? seed : 20261207u;
}

const QStringList SeedLines = {
    "Subject: =?utf-8?B?w6l0w6k=?= =?iso-8859-1?Q?Caf=E9_au_lait?= plain_text",
    "Subject: =?utf-8?q?=C3=A9t=C3=A9?=",
    "From: \"Jane Roe\" <jr@host.org>",
    "From: jr@host.org (Jane Roe)",
    "From: \"<boss@bank.example>\" (via <b@y>) =?UTF-8?B?PGJvc3NAYmFuay5leGFtcGxlPg==?= <a@x>",
    "To: undisclosed-recipients:;",
    "Date: Sat, 05 Jun 1999 10:22:05 -0400 (EDT)",
    "Date: 5 Jun 99 10:22PM",
    "Content-Type: multipart/alternative; boundary=\"==b==\"; charset=utf-8",
    "MIME-Version: 1.0",
    " continued =?windows-1252?Q?=93x=94?=",
    "\t=?koi8-r?B?8NLJ18XU?=",
    "X-UIDL: 0123456789",
    "Received: from x by y; Sat, 5 Jun 1999 10:22:05 +0000",
    "",
};

const QStringList Tokens = {"=?", "?=", "?Q?", "?b?", "=?utf-8?B?", "=?x?q?",     "=E9", "=", "_",
                            "<",  ">",  "(",   ")",   "\"",         ":",          ";",   " ", "\t",
                            "0",  "99", "JAN", ",",   "--",         "begin 644 ", "\r",  "\n"};

class Mutator
{
public:
    explicit Mutator(quint32 seed) : m_random(seed) {}

    int below(int n) { return int(m_random.bounded(quint32(n))); }

    // Header lines arrive through a UTF-8/Latin-1 decoder, so they hold
    // controls and any character, but never half a surrogate pair.
    QString randomChar()
    {
        switch (below(6)) {
        case 0:
            return QChar(char16_t(below(32))); // controls, NUL included
        case 1:
            return QString::fromUcs4(std::array{char32_t(0x10000 + below(0x10000))}.data(), 1);
        case 2:
            return QChar(char16_t(0x80 + below(0x3000))); // Latin-1 and beyond
        default:
            return QChar(char16_t(32 + below(95))); // printable ASCII
        }
    }

    QString mutate(QString line)
    {
        const int edits = 1 + below(6);
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = line.isEmpty() ? 0 : below(int(line.size()) + 1);
            switch (below(5)) {
            case 0:
                line.insert(at, Tokens[below(int(Tokens.size()))]);
                break;
            case 1:
                line.insert(at, randomChar());
                break;
            case 2:
                line.truncate(at);
                break;
            case 3:
                line.replace(at, 1, randomChar());
                break;
            default:
                line.insert(at, line.mid(at, below(40)));
                break;
            }
        }
        // Edits may split a surrogate pair; the wire decoder never would.
        return QString::fromUtf8(line.toUtf8());
    }

    QString randomLine()
    {
        if (below(4) == 0) {
            QString junk;
            for (int i = below(120); i > 0; --i)
                junk += below(3) == 0 ? Tokens[below(int(Tokens.size()))] : randomChar();
            return junk;
        }
        return mutate(SeedLines[below(int(SeedLines.size()))]);
    }

    TmsHeaders randomBlock()
    {
        TmsHeaders block;
        for (int i = below(12); i > 0; --i)
            block.append(randomLine());
        return block;
    }

private:
    QRandomGenerator m_random;
};

// At most 255 characters, and never cut inside a surrogate pair.
void checkShortString(const QString &text, const QString &input)
{
    if (text.size() > 255 || (!text.isEmpty() && text.back().isHighSurrogate()))
        QFAIL(qPrintable("bad short string for input: " + input.toUtf8().toPercentEncoding()));
}

// The text with every character below 33 removed: the blanks that
// trimming and the joining of folded lines may change.
QString withoutBlanks(QString text)
{
    text.removeIf([](QChar c) { return c.unicode() < 33; });
    return text;
}

const QStringList FieldNames = {"Subject", "From:", "To", "Date", "Content-Type", "X-UIDL", "Received", "", ":"};

} // namespace

class TestHeaderFuzz : public QObject
{
    Q_OBJECT

private slots:
    void headerFunctionsSurviveMutatedBlocks();
    void messageReaderSurvivesMutatedFiles();
    void pathologicalLinesFinishQuickly();
};

void TestHeaderFuzz::headerFunctionsSurviveMutatedBlocks()
{
    Mutator mutator(fuzzSeed());
    for (int round = 0; round < 4000; ++round) {
        TmsHeaders block = mutator.randomBlock();
        for (const QString &name : FieldNames) {
            const QString value = GetHeaderValue(block, name);
            if (name != "Content-Type" && name != "X-UIDL")
                checkShortString(value, block.join(u'\n'));
            const TmsMailAddress address = SplitAddress(value);
            checkShortString(address.Address, value);
            checkShortString(address.Name, value);
            const ParsedDate date = ParseDate(value);
            if (!date.dateTime.isValid())
                QVERIFY(date.rest.isEmpty());
        }
        // The sender address is text of the field as received, never what
        // an encoded word decodes to.
        const TmsMailAddress from = headerAddress(block, "From");
        checkShortString(from.Address, block.join(u'\n'));
        checkShortString(from.Name, block.join(u'\n'));
        QCOMPARE(senderAddress(block), from.Address);
        QVERIFY2(withoutBlanks(block.join(QString())).contains(withoutBlanks(from.Address)),
                 qPrintable(block.join(u'\n').toUtf8().toPercentEncoding()));

        for (const QString &line : std::as_const(block)) {
            checkShortString(DecodeEncodedWords(line), line);
            const QString stripped = StripQuotes(line);
            QVERIFY(stripped.size() <= line.size());
            ParseDate(line);
            SplitAddress(line);
        }
        CutAtBody(block);
        QVERIFY(!block.contains(QString()));
    }
}

void TestHeaderFuzz::messageReaderSurvivesMutatedFiles()
{
    const QByteArray message = "MIME-Version: 1.0\r\n"
                               "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
                               "--outer\r\nContent-Type: multipart/alternative; boundary=in\r\n\r\n"
                               "--in\r\nContent-Type: text/plain; charset=iso-8859-2\r\n"
                               "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                               "a=B1b=\r\nc\r\n--in\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                               "SGVsbG8=\r\n--in--\r\n"
                               "--outer\r\nContent-Type: text/plain\r\n\r\nbegin 644 x\r\nM86)C\r\nend\r\n"
                               "--outer--\r\n.\r\n";
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QRandomGenerator random(fuzzSeed());
    for (int round = 0; round < 1500; ++round) {
        QByteArray mutated = message;
        for (int e = 1 + random.bounded(8); e > 0; --e) {
            const qsizetype at = random.bounded(int(mutated.size()) + 1);
            switch (random.bounded(4)) {
            case 0:
                mutated.insert(at, char(random.bounded(256)));
                break;
            case 1:
                mutated.remove(at, random.bounded(30));
                break;
            case 2:
                mutated.insert(at, mutated.mid(random.bounded(int(mutated.size())), random.bounded(60)));
                break;
            default:
                mutated.insert(at, QByteArrayView(round % 2 ? "\r\n--outer\r\n" : "\n\n--in--").toByteArray());
                break;
            }
        }
        // A fresh file each round: rewriting one in place makes the file
        // system flush on every close.
        const QString path = dir.filePath(QStringLiteral("msg_%1.eml").arg(round));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(mutated);
        file.close();
        const QStringList body = ReadMessageBody(path);
        QVERIFY(body.size() <= std::max<qsizetype>(3, mutated.count('\n') + mutated.count('\r') + 1));
    }
}

void TestHeaderFuzz::pathologicalLinesFinishQuickly()
{
    const QStringList lines = {
        "Subject: " + QString("=?a?q?x").repeated(20000),
        "Subject: " + QString("=?utf-8?B?!!!!").repeated(15000) + "?=",
        "Subject: " + QString("=?").repeated(50000),
        "Subject: " + QString("=?utf-8?Q?a?= ").repeated(10000),
        "Subject: " + QString("=?iso-2022-jp?B?GyQ=?= ").repeated(10000),
        "Date: " + QString("1 ").repeated(50000),
        "From: " + QString("<(\"").repeated(30000),
    };
    TmsHeaders folded{"Subject: start"};
    for (int i = 0; i < 50000; ++i)
        folded.append(" =?utf-8?Q?w?=");

    QElapsedTimer timer;
    timer.start();
    for (const QString &line : lines) {
        const TmsHeaders block{line};
        for (const char *name : {"Subject", "Date", "From"}) {
            const QString value = GetHeaderValue(block, name);
            checkShortString(value, QString());
            SplitAddress(value);
            ParseDate(value);
        }
        headerAddress(block, "From");
        DecodeEncodedWords(line);
        ParseDate(line);
    }
    QCOMPARE(GetHeaderValue(folded, "Subject"), "start " + QString(249, u'w'));
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed()) + " ms"));
}

QTEST_GUILESS_MAIN(TestHeaderFuzz)
#include "tst_headerfuzz.moc"
