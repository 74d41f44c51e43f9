#include "support/messagebuilder.h"

#include <QStringList>

namespace {

const char *const kWords[] = {
    "meeting",  "report",   "invoice", "order",   "account", "update", "project",  "review",
    "schedule", "payment",  "offer",   "weekend", "budget",  "draft",  "contract", "summary",
    "delivery", "question", "minutes", "release", "server",  "backup", "holiday",  "team",
};

const char *const kDomains[] = {
    "example.com",         "example.org",       "mail.example.net", "lists.example.edu",
    "bulk-sender.example", "promo.example.biz", "post.example.de",  "news.example.fr",
};

const char *const kNames[] = {
    "Jane Roe",  "John Smith",   "Maria Garcia", "Wei Zhang",          "Aisha Khan",
    "Olav Berg", "Support Team", "Newsletter",   "Billing Department",
};

// Display names that need encoding: (text, charset usable for it).
const char *const kForeignNames[] = {
    "Jürgen Müller", "François Lefèvre", "Åsa Nyström", "José Peña", "Zoë Brontë",
};

const char *const kForeignSubjects[] = {
    "Grüße aus München",   "Café au lait à volonté",  "Rückfrage zur Bestellung",
    "Réunion de l'équipe", "Ihre Rechnung über 42 €", "Señal débil en la oficina",
};

const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char *const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

template <typename T, size_t N>
constexpr int count(const T (&)[N])
{
    return int(N);
}

bool fitsLatin1(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

} // namespace

MessageBuilder::MessageBuilder(quint32 seed) : m_random(seed)
{
}

int MessageBuilder::pick(int bound)
{
    return int(m_random.bounded(quint32(bound)));
}

bool MessageBuilder::chance(int percent)
{
    return pick(100) < percent;
}

QByteArray MessageBuilder::word()
{
    return kWords[pick(count(kWords))];
}

QByteArray MessageBuilder::words(int n)
{
    QList<QByteArray> parts;
    for (int i = 0; i < n; ++i)
        parts << word();
    return parts.join(' ');
}

QByteArray MessageBuilder::address()
{
    QByteArray local;
    switch (pick(4)) {
    case 0:
        local = word() + '.' + word();
        break;
    case 1: // the numeric senders spammers like
        local = QByteArray::number(10000000 + pick(89999999));
        break;
    case 2:
        local = word() + QByteArray::number(pick(1000));
        break;
    default:
        local = word();
        break;
    }
    return local + '@' + kDomains[pick(count(kDomains))];
}

QByteArray MessageBuilder::messageId()
{
    return '<' + QByteArray::number(m_random.generate64(), 36) + '.' + QByteArray::number(pick(100000)) + '@'
           + kDomains[pick(count(kDomains))] + '>';
}

QByteArray MessageBuilder::date()
{
    const QByteArray day = QByteArray::number(1 + pick(28));
    const QByteArray month = kMonths[pick(12)];
    const QByteArray time = QByteArray::number(10 + pick(14)) + ':' + QByteArray::number(10 + pick(50)) + ':'
                            + QByteArray::number(10 + pick(50));
    switch (pick(5)) {
    case 0: // no weekday, two-digit year
        return day + ' ' + month + ' ' + QByteArray::number(90 + pick(10)) + ' ' + time + " GMT";
    case 1: // a zone comment
        return QByteArray(kDays[pick(7)]) + ", " + day + ' ' + month + " 2023 " + time + " +0000 (UTC)";
    case 2: // what some bulk mailers send
        return "Date unknown";
    default:
        return QByteArray(kDays[pick(7)]) + ", " + day + ' ' + month + ' ' + QByteArray::number(2000 + pick(25)) + ' '
               + time + (chance(50) ? " -0400" : " +0100");
    }
}

QList<QByteArray> MessageBuilder::receivedChain()
{
    QList<QByteArray> lines;
    const int hops = 2 + pick(5);
    for (int hop = 0; hop < hops; ++hop) {
        const QByteArray host = "mx" + QByteArray::number(pick(20)) + '.' + kDomains[pick(count(kDomains))];
        const QByteArray ip = QByteArray::number(10 + pick(200)) + '.' + QByteArray::number(pick(256)) + '.'
                              + QByteArray::number(pick(256)) + '.' + QByteArray::number(1 + pick(254));
        lines << "Received: from " + host + " (" + host + " [" + ip + "])";
        lines << "\tby relay" + QByteArray::number(hop) + ".example.net (Postfix) with ESMTPS id "
                     + QByteArray::number(m_random.generate64(), 16).toUpper();
        lines << "\tfor <" + address() + ">; " + date();
    }
    return lines;
}

QList<QByteArray> MessageBuilder::references()
{
    QList<QByteArray> lines;
    const int ids = 5 + pick(25);
    QByteArray line = "References:";
    for (int i = 0; i < ids; ++i) {
        const QByteArray id = messageId();
        if (line.size() + id.size() > 76) {
            lines << line;
            line = QByteArray(" ");
        } else {
            line += ' ';
        }
        line += id;
    }
    lines << line;
    return lines;
}

QByteArray MessageBuilder::encodeB(const QString &text, const QByteArray &charset)
{
    const QByteArray bytes = charset.toLower() == "utf-8" ? text.toUtf8() : text.toLatin1();
    return "=?" + charset + "?B?" + bytes.toBase64() + "?=";
}

QByteArray MessageBuilder::encodeQ(const QString &text, const QByteArray &charset)
{
    const QByteArray bytes = charset.toLower() == "utf-8" ? text.toUtf8() : text.toLatin1();
    QByteArray out = "=?" + charset + "?Q?";
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ' ')
            out += '_';
        else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            out += char(c);
        else
            out += '=' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
    }
    return out + "?=";
}

MessageBuilder::Subject MessageBuilder::subject(int index)
{
    const QByteArray number = QByteArray::number(index);
    Subject s;
    switch (pick(12)) {
    case 0: { // plain
        const QByteArray text = words(2 + pick(4)) + ' ' + number;
        s.lines << "Subject: " + text;
        s.expected = QString::fromLatin1(text);
        break;
    }
    case 1: { // folded over two lines
        const QByteArray first = "Re: " + words(4);
        const QByteArray second = words(3) + ' ' + number;
        s.lines << "Subject: " + first << "\t" + second;
        s.expected = QString::fromLatin1(first + ' ' + second);
        break;
    }
    case 2: { // the all-capital spam subject
        const QByteArray text = words(3).toUpper() + " NOW!!! " + number;
        s.lines << "Subject: " + text;
        s.expected = QString::fromLatin1(text);
        break;
    }
    case 3: { // one Q word, plain ASCII inside
        const QByteArray text = "Invoice #" + number + " is due";
        s.lines << "Subject: " + encodeQ(QString::fromLatin1(text), "iso-8859-1");
        s.expected = QString::fromLatin1(text);
        break;
    }
    case 4: { // one B word, plain ASCII inside
        const QByteArray text = "Your " + words(2) + " " + number;
        s.lines << "Subject: " + encodeB(QString::fromLatin1(text), "UTF-8");
        s.expected = QString::fromLatin1(text);
        break;
    }
    case 5: { // non-ASCII in Q, iso-8859-1 when it fits
        const QString text = QString::fromUtf8(kForeignSubjects[pick(count(kForeignSubjects))]);
        s.lines << "Subject: " + encodeQ(text, fitsLatin1(text) ? "iso-8859-1" : "utf-8");
        s.expected = text;
        break;
    }
    case 6: { // non-ASCII in B, folded into two encoded words
        const QString text = QString::fromUtf8(kForeignSubjects[pick(count(kForeignSubjects))]);
        const qsizetype half = text.size() / 2;
        // The blank between two encoded words is not part of the text.
        s.lines << "Subject: " + encodeB(text.left(half)) << " " + encodeB(text.mid(half));
        s.expected = text;
        break;
    }
    case 7: { // raw UTF-8 bytes, as careless mailers send them
        const QString text =
            QString::fromUtf8(kForeignSubjects[pick(count(kForeignSubjects))]) + ' ' + QString::number(index);
        s.lines << "Subject: " + text.toUtf8();
        s.expected = text;
        break;
    }
    case 8: { // raw Latin-1 bytes: not valid UTF-8
        const QString text = QStringLiteral("Prix sp\u00e9cial \u00e0 ") + QString::number(index);
        s.lines << "Subject: " + text.toLatin1();
        s.expected = text;
        break;
    }
    case 9: { // longer than any header reader keeps
        QByteArray text = number + ' ';
        while (text.size() < 300)
            text += word() + ' ';
        text = text.trimmed();
        s.lines << "Subject: " + text;
        s.expected = QString::fromLatin1(text.left(255));
        break;
    }
    case 10: { // underscores without encoded words stay
        const QByteArray text = "build_" + number + "_failed on " + word();
        s.lines << "Subject: " + text;
        s.expected = QString::fromLatin1(text);
        break;
    }
    default: { // numbers everywhere
        const QByteArray text = "Re: " + QByteArray::number(1000000 + pick(8999999)) + " order " + number;
        s.lines << "Subject:  " + text + "   ";
        s.expected = QString::fromLatin1(text);
        break;
    }
    }
    return s;
}

MessageBuilder::Sender MessageBuilder::sender()
{
    Sender s;
    s.address = QString::fromLatin1(address());
    const QByteArray addr = s.address.toLatin1();
    const QByteArray name = kNames[pick(count(kNames))];
    const QString foreign = QString::fromUtf8(kForeignNames[pick(count(kForeignNames))]);
    switch (pick(8)) {
    case 0:
        s.line = "From: \"" + name + "\" <" + addr + '>';
        break;
    case 1:
        s.line = "From: " + name + " <" + addr + '>';
        break;
    case 2:
        s.line = "From: " + addr + " (" + name + ')';
        break;
    case 3:
        s.line = "From: <" + addr + '>';
        break;
    case 4:
        s.line = "From: " + addr;
        break;
    case 5:
        s.line = "From: " + encodeB(foreign) + " <" + addr + '>';
        break;
    case 6:
        s.line = "From: " + encodeQ(foreign, "iso-8859-1") + " <" + addr + '>';
        break;
    default: // an unclosed bracket: no address can be read
        s.line = "From: " + name + " <" + addr;
        s.address.clear();
        break;
    }
    return s;
}

QList<QByteArray> MessageBuilder::malformedLines()
{
    QList<QByteArray> lines;
    switch (pick(6)) {
    case 0:
        lines << "X-Broken-Line-Without-Colon";
        break;
    case 1:
        lines << "X-Bad-Encoding: =?utf-8?B?not*base64?="
              << "X-Unterminated: =?utf-8?Q?never_ends";
        break;
    case 2:
        lines << "X-Latin1-Comment: caf\xe9 cr\xe8me";
        break;
    case 3: {
        QByteArray longLine = "X-Tracking-Data: ";
        while (longLine.size() < 900)
            longLine += QByteArray::number(m_random.generate64(), 36);
        lines << longLine;
        break;
    }
    case 4:
        lines << "x-lowercase-field:value-without-space"
              << "X-Folded-Blank: start"
              << " "
              << " end";
        break;
    default:
        break;
    }
    return lines;
}

QList<QByteArray> MessageBuilder::bulkMailerLines()
{
    QList<QByteArray> lines;
    if (!chance(40))
        return lines;
    lines << "Precedence: bulk"
          << "X-Mailer: MassMail Pro 5.0." + QByteArray::number(pick(10))
          << "List-Unsubscribe: <mailto:unsubscribe@" + QByteArray(kDomains[pick(count(kDomains))]) + ">,"
          << " <https://unsubscribe.example.com/u?id=" + QByteArray::number(m_random.generate64(), 16) + ">"
          << "X-Campaign-ID: " + QByteArray::number(pick(1000000))
          << "X-Spam-Status: " + QByteArray(chance(50) ? "Yes, score=8.2" : "No, score=0.4");
    return lines;
}

QList<QByteArray> MessageBuilder::body(const QByteArray &boundary, bool *hasDotLines)
{
    QList<QByteArray> text;
    const int paragraphs = 1 + pick(4);
    for (int p = 0; p < paragraphs; ++p) {
        for (int l = 0; l < 1 + pick(5); ++l)
            text << words(6 + pick(8));
        text << QByteArray();
    }
    *hasDotLines = chance(50);
    if (*hasDotLines) { // lines a POP3 server must dot-stuff
        const qsizetype at = pick(int(text.size()));
        for (const char *line : {"...and more", ".hidden line", "..", "."})
            text.insert(at, line);
    }

    if (boundary.isEmpty())
        return text;

    QList<QByteArray> lines;
    lines << "This is a multi-part message in MIME format." << QByteArray() << "--" + boundary
          << "Content-Type: text/plain; charset=utf-8"
          << "Content-Transfer-Encoding: 8bit" << QByteArray();
    lines += text;
    lines << "--" + boundary << "Content-Type: text/html; charset=utf-8"
          << "Content-Transfer-Encoding: quoted-printable" << QByteArray()
          << "<html><body><p style=3D\"color:red\">" + words(5) + "</p></body></html>";
    if (chance(30)) {
        QByteArray blob;
        for (int i = 0; i < 200 + pick(2000); ++i)
            blob += char(pick(256));
        lines << "--" + boundary << "Content-Type: application/octet-stream; name=\"data.bin\""
              << "Content-Transfer-Encoding: base64" << QByteArray();
        const QByteArray encoded = blob.toBase64();
        for (qsizetype i = 0; i < encoded.size(); i += 76)
            lines << encoded.mid(i, 76);
    }
    lines << "--" + boundary + "--" << QByteArray();
    return lines;
}

GeneratedMessage MessageBuilder::message(int index)
{
    GeneratedMessage m;
    QList<QByteArray> &h = m.headerLines;
    h << "Return-Path: <" + address() + '>';
    h += receivedChain();
    const Sender from = sender();
    const Subject subj = subject(index);
    const QByteArray boundary =
        chance(50) ? "----=_Part_" + QByteArray::number(index) + '_' + QByteArray::number(m_random.generate(), 16)
                   : QByteArray();

    h << "Message-ID: " + messageId();
    h << "Date: " + date();
    h << from.line;
    h << "To: " + QByteArray(kNames[pick(count(kNames))]) + " <" + address() + '>';
    if (chance(30))
        h << "Cc: " + address() + ',' << '\t' + address();
    h += subj.lines;
    if (chance(40)) {
        h << "In-Reply-To: " + messageId();
        h += references();
    }
    h += bulkMailerLines();
    h += malformedLines();
    h << "MIME-Version: 1.0";
    if (boundary.isEmpty())
        h << "Content-Type: text/plain; charset=utf-8"
          << "Content-Transfer-Encoding: 8bit";
    else
        h << "Content-Type: multipart/alternative;"
          << "\tboundary=\"" + boundary + '"';

    m.senderAddress = from.address;
    m.expectedSubject = subj.expected;
    m.raw = assemble(h, body(boundary, &m.bodyHasDotLines));
    return m;
}

QList<GeneratedMessage> MessageBuilder::messages(int n)
{
    QList<GeneratedMessage> list;
    list.reserve(n);
    for (int i = 0; i < n; ++i)
        list << message(i);
    return list;
}

QByteArray MessageBuilder::assemble(const QList<QByteArray> &headerLines, const QList<QByteArray> &bodyLines)
{
    QByteArray raw;
    for (const QByteArray &line : headerLines)
        raw += line + "\r\n";
    raw += "\r\n";
    for (const QByteArray &line : bodyLines)
        raw += line + "\r\n";
    return raw;
}
