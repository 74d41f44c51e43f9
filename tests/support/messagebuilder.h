#pragma once
// Generator of realistic raw mail messages for tests and benchmarks: header
// blocks as real mailers and spammers write them (Received chains, folded
// lines, long References, RFC 2047 words in Q and B form, utf-8 and
// iso-8859-1, raw 8-bit bytes, malformed lines) and bodies that exercise
// POP3 dot-stuffing. Every line ends with CR LF, as POP3 servers count it.
// The output is deterministic for a given seed.

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QString>

struct GeneratedMessage
{
    QByteArray raw; // the whole message, CR LF line ends
    QList<QByteArray> headerLines; // the header block, one entry per physical line, no line ends
    QString senderAddress; // what the From field's address part is
    // The Subject as a header reader must give it: unfolded, encoded words
    // decoded to text, trimmed, at most 255 characters.
    QString expectedSubject;
    bool bodyHasDotLines = false; // some body line begins with "."
};

class MessageBuilder
{
public:
    explicit MessageBuilder(quint32 seed = 1);

    // One message; index makes Message-IDs and subjects unique.
    GeneratedMessage message(int index);
    QList<GeneratedMessage> messages(int count);

    // A small message with exactly the given header lines and body lines.
    static QByteArray assemble(const QList<QByteArray> &headerLines, const QList<QByteArray> &bodyLines);

    // RFC 2047 encoded words of text in the named charset.
    static QByteArray encodeB(const QString &text, const QByteArray &charset = "utf-8");
    static QByteArray encodeQ(const QString &text, const QByteArray &charset = "utf-8");

private:
    struct Subject
    {
        QList<QByteArray> lines;
        QString expected;
    };
    struct Sender
    {
        QByteArray line;
        QString address;
    };

    int pick(int bound);
    bool chance(int percent);
    QByteArray word();
    QByteArray words(int count);
    QByteArray address();
    QByteArray messageId();
    QByteArray date();
    QList<QByteArray> receivedChain();
    QList<QByteArray> references();
    Subject subject(int index);
    Sender sender();
    QList<QByteArray> malformedLines();
    QList<QByteArray> bulkMailerLines();
    QList<QByteArray> body(const QByteArray &boundary, bool *hasDotLines);

    QRandomGenerator m_random;
};
