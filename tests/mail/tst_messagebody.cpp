#include "mail/messagebody.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString ErrorIntro = QStringLiteral("The following error has been occured while processing the message:");
const QString ErrorOutro = QStringLiteral("The original message will be stored as an attachment");

QStringList errorBody(const QString &text)
{
    return {ErrorIntro, text, ErrorOutro};
}

} // namespace

class TestMessageBody : public QObject
{
    Q_OBJECT

private slots:
    void init();

    // Files that cannot be read
    void missingFileGivesErrorBody();
    void emptyFileHasNoBody();

    // Messages without MIME
    void plainBodyComesAsItStands();
    void withoutSeparatorTheBodyIsEmpty();
    void lineEndsOfAnyKindAndLastLineWithoutBreak();
    void uuencodedBlockIsLeftOut();
    void lineStartingWithBeginIsText();
    void mimeVersionOtherThan10IsNotMime();

    // Single-part MIME
    void quotedPrintableDecodedAsAWhole();
    void base64TextDecodedAndSplit();
    void charsetConvertedToUnicode();
    void unknownCharsetReadsUtf8ElseLatin1();
    void nonTextPartIsAnAttachment();
    void namedTextPartIsAnAttachment();
    void uuencodeInMimeTextFallsBackToLinesAsTheyStand();
    void versionWithCommentIsMime();

    // Multipart
    void alternativeShowsFirstPartDecoded();
    void base64TextFirstPartIsDecoded();
    void nonTextFirstPartGivesEmptyBody();
    void nestedMultipartIsEntered();
    void emptyFirstPartIsOneEmptyLine();
    void unquotedBoundaryEndsAtSemicolon();
    void paddedDelimiterLineCounts();
    void partWithoutHeaderBlockEndsAtDelimiter();
    void missingBoundaryParameterIsParseError();
    void boundaryNeverFoundIsParseError();
    void partRunningToEndOfFileIsParseError();

private:
    QString write(const QByteArray &text, bool crlf = true);

    QTemporaryDir m_dir;
    int m_files = 0;
};

void TestMessageBody::init()
{
    QVERIFY(m_dir.isValid());
}

// Writes a message file as the POP3 client would: CR LF line ends, and the
// terminating "." line is left to each test.
QString TestMessageBody::write(const QByteArray &text, bool crlf)
{
    const QString path = m_dir.filePath(QStringLiteral("msg_%1.eml").arg(m_files++));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(crlf ? QByteArray(text).replace("\n", "\r\n") : text);
    return path;
}

void TestMessageBody::missingFileGivesErrorBody()
{
    const QString path = m_dir.filePath(QStringLiteral("msg_99.eml"));
    QCOMPARE(ReadMessageBody(path), errorBody("Cannot open file " + path));
}

void TestMessageBody::emptyFileHasNoBody()
{
    QCOMPARE(ReadMessageBody(write("")), QStringList());
}

void TestMessageBody::plainBodyComesAsItStands()
{
    const QString path = write("Subject: hi\nFrom: a@b\n\nHello =41 there\n\n..dotted\n.\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"Hello =41 there", "", "..dotted", "."}));
}

void TestMessageBody::withoutSeparatorTheBodyIsEmpty()
{
    QCOMPARE(ReadMessageBody(write("Subject: hi\nFrom: a@b\n.\n")), QStringList());
}

void TestMessageBody::lineEndsOfAnyKindAndLastLineWithoutBreak()
{
    const QString path = write("Subject: hi\r\rone\ntwo\r\nthree\rlast", false);
    QCOMPARE(ReadMessageBody(path), (QStringList{"one", "two", "three", "last"}));
}

void TestMessageBody::uuencodedBlockIsLeftOut()
{
    const QString path = write("Subject: file\n\nSee attached.\n"
                               "begin 644 notes.txt\n"
                               "%:&5L;&\\*\n"
                               "`\n"
                               "end\n"
                               "Regards\n.\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"See attached.", "Regards", "."}));

    const QString upper = write("Subject: file\n\nBEGIN   600 X.BIN\nM86)C\nEND\nafter\n");
    QCOMPARE(ReadMessageBody(upper), (QStringList{"after"}));
}

void TestMessageBody::lineStartingWithBeginIsText()
{
    const QString path = write("Subject: x\n\nbeginning of the story\nbegin 64\nbegin\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"beginning of the story", "begin 64", "begin"}));
}

void TestMessageBody::mimeVersionOtherThan10IsNotMime()
{
    const QString path = write("MIME-Version: 1.1\nContent-Transfer-Encoding: quoted-printable\n\n"
                               "caf=E9\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"caf=E9"}));
}

void TestMessageBody::quotedPrintableDecodedAsAWhole()
{
    const QString path = write("MIME-Version: 1.0\n"
                               "Content-Type: text/plain; charset=iso-8859-1\n"
                               "Content-Transfer-Encoding: Quoted-Printable\n\n"
                               "Caf=E9 au lait, a very long line that was= \t\n"
                               " wrapped softly=20\n"
                               "a=3Db =ZZ\n");
    QCOMPARE(ReadMessageBody(path),
             (QStringList{QStringLiteral(u"Café au lait, a very long line that was wrapped softly "), "a=b =ZZ"}));
}

void TestMessageBody::base64TextDecodedAndSplit()
{
    // "Line one\r\nLine two\nÉtape" in UTF-8, wrapped at 12 characters.
    const QByteArray encoded = QByteArray("Line one\r\nLine two\n\xc3\x89tape").toBase64();
    QByteArray wrapped;
    for (qsizetype i = 0; i < encoded.size(); i += 12)
        wrapped += encoded.mid(i, 12) + "\n";
    const QString path = write("MIME-Version: 1.0\nContent-Type: text/plain; charset=\"utf-8\"\n"
                               "Content-Transfer-Encoding: base64\n\n"
                               + wrapped + ".\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"Line one", "Line two", QStringLiteral(u"Étape")}));
}

void TestMessageBody::charsetConvertedToUnicode()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: text/plain; charset=windows-1252\n\n"
                               "\x93quoted\x94 \x80"
                               "5\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{QStringLiteral(u"“quoted” €5")}));

    const QString undeclared = write("MIME-Version: 1.0\n\nutf-8 \xc3\xa9, latin-1 \xe9\n");
    QCOMPARE(ReadMessageBody(undeclared), (QStringList{QStringLiteral(u"utf-8 Ã©, latin-1 é")}));
}

void TestMessageBody::unknownCharsetReadsUtf8ElseLatin1()
{
    // Each line is judged alone: one line in Latin-1 does not spoil the rest.
    const QString path = write("MIME-Version: 1.0\nContent-Type: text/plain; charset=unknown-8bit\n\n"
                               "\xd0\x92\xd0\xb0\xd1\x88\xd0\xb5 \xc3\xa9t\xc3\xa9\n"
                               "caf\xe9\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{QStringLiteral(u"Ваше été"), QStringLiteral(u"café")}));
}

void TestMessageBody::nonTextPartIsAnAttachment()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: application/pdf\n"
                               "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQ=\n.\n");
    QCOMPARE(ReadMessageBody(path), QStringList());
}

void TestMessageBody::namedTextPartIsAnAttachment()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: text/plain; name=\"notes.txt\"\n\n"
                               "secret notes\n");
    QCOMPARE(ReadMessageBody(path), QStringList());

    const QString filename = write("MIME-Version: 1.0\nContent-Type: text/plain; xfilename=a\n\nshown\n");
    QCOMPARE(ReadMessageBody(filename), (QStringList{"shown"}));
}

void TestMessageBody::uuencodeInMimeTextFallsBackToLinesAsTheyStand()
{
    const QString path = write("MIME-Version: 1.0\nContent-Transfer-Encoding: quoted-printable\n\n"
                               "see =3D\nbegin 644 a.bin\nM86)C\nend\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"see =3D"}));
}

void TestMessageBody::versionWithCommentIsMime()
{
    const QString path = write("MIME-Version: 1.0 (Mac OS X Mail 16.0)\n"
                               "Content-Transfer-Encoding: quoted-printable\n\nsoft=\nbreak\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"softbreak"}));
}

void TestMessageBody::alternativeShowsFirstPartDecoded()
{
    const QString path = write("From: a@b\nMIME-Version: 1.0\n"
                               "Content-Type: multipart/alternative;\n"
                               "\tboundary=\"==Alt Boundary==\"\n\n"
                               "This is a multi-part message in MIME format.\n"
                               "--==Alt Boundary==\n"
                               "Content-Type: text/plain; charset=utf-8\n"
                               "Content-Transfer-Encoding: quoted-printable\n\n"
                               "Gr=C3=BC=C3=9Fe,\n"
                               "joined=\n"
                               "line\n"
                               "--==Alt Boundary==\n"
                               "Content-Type: text/html\n\n"
                               "<p>Html</p>\n"
                               "--==Alt Boundary==--\n"
                               ".\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{QStringLiteral(u"Grüße,"), "joinedline"}));
}

void TestMessageBody::base64TextFirstPartIsDecoded()
{
    const QString path =
        write("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b1\n\n"
              "--b1\nContent-Type: text/plain; charset=utf-8\n"
              "Content-Transfer-Encoding: base64\n\n"
              + QByteArray("Hi there\nbye").toBase64() + "\n--b1\nContent-Type: image/png\n\nxx\n--b1--\n.\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"Hi there", "bye"}));
}

void TestMessageBody::nonTextFirstPartGivesEmptyBody()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b1\n\n"
                               "--b1\nContent-Type: image/gif\nContent-Transfer-Encoding: base64\n\n"
                               "R0lGODlh\n--b1--\n");
    QCOMPARE(ReadMessageBody(path), QStringList());
}

void TestMessageBody::nestedMultipartIsEntered()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"outer\"\n\n"
                               "--outer\nContent-Type: multipart/related; boundary=\"middle\"\n\n"
                               "--middle\nContent-Type: multipart/alternative; boundary=inner\n\n"
                               "preamble\n"
                               "--inner\nContent-Type: text/plain\n\nplain text\n"
                               "--inner\nContent-Type: text/html\n\n<b>html</b>\n--inner--\n"
                               "--middle\nContent-Type: image/png\n\nxx\n--middle--\n"
                               "--outer\nContent-Type: application/zip\n\nzz\n--outer--\n.\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"plain text"}));
}

void TestMessageBody::emptyFirstPartIsOneEmptyLine()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                               "--b\nContent-Type: text/plain\n\n--b--\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{QString()}));
}

void TestMessageBody::unquotedBoundaryEndsAtSemicolon()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: MULTIPART/MIXED; BOUNDARY=Ab1;charset=x\n\n"
                               "--ab1\n--Ab1\n\nbody\n--Ab1--\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"body"}));
}

void TestMessageBody::paddedDelimiterLineCounts()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                               "--b  \n\nbody\n--bx\n--b-- \t\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{"body", "--bx"}));
}

void TestMessageBody::partWithoutHeaderBlockEndsAtDelimiter()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                               "--b\nContent-Type: text/plain\n--b--\n");
    QCOMPARE(ReadMessageBody(path), (QStringList{QString()}));
}

void TestMessageBody::missingBoundaryParameterIsParseError()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: multipart/mixed\n\n--b\n\ntext\n--b--\n");
    QCOMPARE(ReadMessageBody(path), errorBody("Cannot find boundary"));
}

void TestMessageBody::boundaryNeverFoundIsParseError()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                               "--c\n\ntext\n.\n");
    QCOMPARE(ReadMessageBody(path), errorBody("Cannot find boundary"));
}

void TestMessageBody::partRunningToEndOfFileIsParseError()
{
    const QString path = write("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                               "--b\n\ntext\n.\n");
    QCOMPARE(ReadMessageBody(path), errorBody("Cannot find boundary"));
}

QTEST_GUILESS_MAIN(TestMessageBody)
#include "tst_messagebody.moc"
