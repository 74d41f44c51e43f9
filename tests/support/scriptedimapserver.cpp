#include "support/scriptedimapserver.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

const QByteArray CrLf = "\r\n";
const QString Seen = QStringLiteral("\\Seen");
const QString Deleted = QStringLiteral("\\Deleted");

QByteArray literal(const QByteArray &data)
{
    return '{' + QByteArray::number(data.size()) + "}\r\n" + data;
}

// The header block as BODY[HEADER] gives it: up to and with the empty line.
QByteArray headerBlock(const QByteArray &text)
{
    const qsizetype blank = text.indexOf("\r\n\r\n");
    return blank < 0 ? text : text.left(blank + 4);
}

QByteArray uidList(const QList<quint32> &uids)
{
    QByteArrayList numbers;
    for (const quint32 uid : uids)
        numbers << QByteArray::number(uid);
    return numbers.join(',');
}

// The list between "(" and ")" at the front of args (or the single first
// token), and how many tokens it took.
QList<QByteArray> leadingList(const QList<QByteArray> &args, qsizetype *taken)
{
    if (args.value(0) != "(") {
        *taken = args.isEmpty() ? 0 : 1;
        return args.mid(0, 1);
    }
    const qsizetype close = args.indexOf(")");
    *taken = close < 0 ? args.size() : close + 1;
    return args.mid(1, (close < 0 ? args.size() : close) - 1);
}

} // namespace

ScriptedImapServer::ScriptedImapServer(QObject *parent)
    : ScriptedServer("* OK IMAP4rev1 server ready",
                     {QStringLiteral("IMAP4rev1"), QStringLiteral("AUTH=PLAIN"), QStringLiteral("SASL-IR"),
                      QStringLiteral("UIDPLUS"), QStringLiteral("MOVE"), QStringLiteral("SPECIAL-USE"),
                      QStringLiteral("IDLE")},
                     parent)
{
    m_folders[Inbox].uidValidity = 1700000000;
    addFolder(QStringLiteral("Junk"), QStringLiteral("\\Junk"));
}

ScriptedImapServer::~ScriptedImapServer()
{
    stopListening();
}

// --- The mailbox ---------------------------------------------------------

void ScriptedImapServer::addFolder(const QString &name, const QString &specialUse)
{
    Folder &created = m_folders[name];
    created.specialUse = specialUse;
    created.uidValidity = 1700000000 + quint32(m_folders.size());
}

void ScriptedImapServer::setMessages(const QList<QByteArray> &messages, const QString &folderName)
{
    if (Folder *found = folder(folderName))
        found->messages.clear();
    for (const QByteArray &message : messages)
        addMessage(message, folderName);
}

quint32 ScriptedImapServer::addMessage(const QByteArray &message, const QString &folderName)
{
    Folder *target = folder(folderName);
    if (!target)
        return 0;
    const quint32 uid = target->uidNext++;
    target->messages.append({uid, normalized(message), {}});
    for (auto &[socket, session] : m_sessions) {
        if (!session.idling || session.selected != canonical(folderName))
            continue;
        Answer news;
        reportChanges(session, news);
        send(socket, news);
    }
    return uid;
}

void ScriptedImapServer::removeMessage(quint32 uid, const QString &folderName)
{
    if (Folder *found = folder(folderName))
        found->messages.removeIf([uid](const Stored &stored) { return stored.uid == uid; });
}

void ScriptedImapServer::setFlags(quint32 uid, const QStringList &flags, const QString &folderName)
{
    if (Stored *message = stored(folderName, uid))
        message->flags = flags;
}

void ScriptedImapServer::setUidValidity(quint32 uidValidity, const QString &folderName)
{
    if (Folder *found = folder(folderName))
        found->uidValidity = uidValidity;
}

quint32 ScriptedImapServer::uidValidity(const QString &folderName) const
{
    const Folder *found = folder(folderName);
    return found ? found->uidValidity : 0;
}

QList<QByteArray> ScriptedImapServer::messages(const QString &folderName) const
{
    QList<QByteArray> texts;
    if (const Folder *found = folder(folderName))
        for (const Stored &stored : found->messages)
            texts << stored.text;
    return texts;
}

QList<quint32> ScriptedImapServer::uids(const QString &folderName) const
{
    QList<quint32> numbers;
    if (const Folder *found = folder(folderName))
        for (const Stored &stored : found->messages)
            numbers << stored.uid;
    return numbers;
}

QStringList ScriptedImapServer::flags(quint32 uid, const QString &folderName) const
{
    if (const Folder *found = folder(folderName))
        for (const Stored &stored : found->messages)
            if (stored.uid == uid)
                return stored.flags;
    return {};
}

qint64 ScriptedImapServer::wireSize(const QByteArray &message)
{
    return normalized(message).size();
}

ScriptedImapServer::Folder *ScriptedImapServer::folder(const QString &name)
{
    const auto found = m_folders.find(canonical(name));
    return found == m_folders.end() ? nullptr : &found->second;
}

const ScriptedImapServer::Folder *ScriptedImapServer::folder(const QString &name) const
{
    return const_cast<ScriptedImapServer *>(this)->folder(name);
}

ScriptedImapServer::Stored *ScriptedImapServer::stored(const QString &folderName, quint32 uid)
{
    Folder *found = folder(folderName);
    if (!found)
        return nullptr;
    const auto it = std::find_if(found->messages.begin(), found->messages.end(),
                                 [uid](const Stored &message) { return message.uid == uid; });
    return it == found->messages.end() ? nullptr : &*it;
}

void ScriptedImapServer::addFlag(Stored &message, const QString &flag)
{
    if (message.flags.contains(flag, Qt::CaseInsensitive))
        return;
    message.flags << flag;
    if (flag.compare(Seen, Qt::CaseInsensitive) == 0)
        ++m_seenSettings;
}

QByteArray ScriptedImapServer::normalized(const QByteArray &message)
{
    QByteArray text = message;
    text.replace("\r\n", "\n").replace("\n", "\r\n");
    if (!text.endsWith(CrLf))
        text += CrLf;
    return text;
}

QString ScriptedImapServer::canonical(const QString &name)
{
    // INBOX is the one folder name without case.
    return name.compare(Inbox, Qt::CaseInsensitive) ? name : Inbox;
}

QByteArray ScriptedImapServer::quoted(const QString &text)
{
    QByteArray escaped = text.toUtf8();
    escaped.replace("\\", "\\\\").replace("\"", "\\\"");
    return '"' + escaped + '"';
}

QByteArray ScriptedImapServer::listedName(const QString &name)
{
    const bool quotable =
        !name.contains(QLatin1Char('\r')) && !name.contains(QLatin1Char('\n')) && !name.contains(QChar(0));
    return quotable ? quoted(name) : literal(name.toUtf8());
}

// --- Scripting -----------------------------------------------------------

void ScriptedImapServer::failAt(const QString &command, const QByteArray &response, int occurrence)
{
    addRule(command, Action::Fail, response, occurrence);
}

void ScriptedImapServer::replyAt(const QString &command, const QByteArray &rawBytes, int occurrence)
{
    addRule(command, Action::Raw, rawBytes, occurrence);
}

void ScriptedImapServer::noiseAt(const QString &command, const QList<QByteArray> &lines, int occurrence)
{
    addRule(command, Action::Noise, {}, occurrence);
    m_rules.last().lines = lines;
}

void ScriptedImapServer::stallAt(const QString &command, int occurrence)
{
    addRule(command, Action::Stall, {}, occurrence);
}

void ScriptedImapServer::closeAt(const QString &command, int occurrence)
{
    addRule(command, Action::Close, {}, occurrence);
}

void ScriptedImapServer::closeMidLiteralAt(const QString &command, int occurrence)
{
    addRule(command, Action::CloseMidLiteral, {}, occurrence);
}

void ScriptedImapServer::endlessLiteralAt(const QString &command, qint64 declaredBytes, int occurrence)
{
    addRule(command, Action::EndlessLiteral, {}, occurrence);
    m_rules.last().declared = declaredBytes;
}

void ScriptedImapServer::delayAt(const QString &command, int delayMs, int occurrence)
{
    addRule(command, Action::Delay, {}, occurrence);
    m_rules.last().delayMs = delayMs;
}

void ScriptedImapServer::sendLongLineToIdlers(qint64 lineBytes)
{
    for (const auto &[socket, session] : m_sessions) {
        if (!session.idling)
            continue;
        m_dialogue << QStringLiteral("S: * OK xxx... (%1 bytes)").arg(lineBytes);
        queue(socket, {.bytes = "* OK ", .pattern = "x", .patternLeft = lineBytes});
        queue(socket, {.bytes = CrLf});
    }
}

int ScriptedImapServer::idlingSessions() const
{
    return int(
        std::count_if(m_sessions.begin(), m_sessions.end(), [](const auto &entry) { return entry.second.idling; }));
}

void ScriptedImapServer::addRule(const QString &command, Action action, const QByteArray &bytes, int occurrence)
{
    m_rules.append({.command = command, .occurrence = occurrence, .action = action, .bytes = bytes});
}

const ScriptedImapServer::Rule *ScriptedImapServer::firingRule(const QString &name)
{
    const Rule *firing = nullptr;
    for (Rule &rule : m_rules) {
        if (!rule.command.isEmpty() && rule.command.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (rule.command.isEmpty() && name == Greeting)
            continue;
        ++rule.seen;
        if (!firing && (rule.occurrence == Every || rule.occurrence == rule.seen))
            firing = &rule;
    }
    return firing;
}

// --- Connections and commands --------------------------------------------

void ScriptedImapServer::startSession(QTcpSocket *socket)
{
    m_sessions[socket] = Session();
}

void ScriptedImapServer::greet(QTcpSocket *socket)
{
    perform(socket, {}, Greeting, {}, firingRule(Greeting));
}

bool ScriptedImapServer::markEncrypted(QTcpSocket *socket)
{
    const auto found = m_sessions.find(socket);
    if (found == m_sessions.end())
        return false;
    found->second.encrypted = true;
    return true;
}

void ScriptedImapServer::discardInput(QTcpSocket *socket)
{
    Session &session = m_sessions[socket];
    session.input.clear();
    session.command.clear();
    session.literalLeft = 0;
}

void ScriptedImapServer::forget(QTcpSocket *socket)
{
    m_sessions.erase(socket);
}

QList<QTcpSocket *> ScriptedImapServer::sessionSockets() const
{
    QList<QTcpSocket *> sockets;
    for (const auto &entry : m_sessions)
        sockets << entry.first;
    return sockets;
}

void ScriptedImapServer::onReadyRead(QTcpSocket *socket)
{
    if (!m_sessions.count(socket)) {
        socket->readAll();
        return;
    }
    m_sessions[socket].input += socket->readAll();
    static const QRegularExpression literalAtEnd(QStringLiteral(R"(\{(\d+)(\+?)\}$)"));
    // A command may end the session or start TLS: look the session up anew each time.
    while (m_sessions.count(socket) && !m_sessions[socket].held) {
        Session &session = m_sessions[socket];
        if (session.literalLeft > 0) {
            const qsizetype take = std::min<qint64>(session.literalLeft, session.input.size());
            session.command += session.input.left(take);
            session.input.remove(0, take);
            session.literalLeft -= take;
            if (session.literalLeft > 0)
                break;
            continue;
        }
        const qsizetype end = session.input.indexOf('\n');
        if (end < 0)
            break;
        QByteArray line = session.input.left(end);
        session.input.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!session.pendingTag.isEmpty()) {
            m_dialogue << QStringLiteral("C: ") + QString::fromUtf8(line);
            send(socket, continuation(session, line));
            continue;
        }
        const QRegularExpressionMatch literal = literalAtEnd.match(QString::fromLatin1(line));
        if (literal.hasMatch()) {
            session.command += line + CrLf;
            session.literalLeft = literal.captured(1).toLongLong();
            if (literal.captured(2).isEmpty())
                send(socket, {{"+ Ready for literal data\r\n"}});
            continue;
        }
        handleCommand(socket, std::exchange(session.command, {}) + line);
    }
}

void ScriptedImapServer::handleCommand(QTcpSocket *socket, const QByteArray &command)
{
    m_dialogue << QStringLiteral("C: ") + QString::fromUtf8(command);
    QList<QByteArray> args = tokens(command);
    const QByteArray tag = args.isEmpty() ? QByteArray() : args.takeFirst();
    const QString verb = args.isEmpty() ? QString() : QString::fromLatin1(args.takeFirst()).toUpper();
    if (verb.isEmpty()) {
        send(socket, {{"* BAD Empty command\r\n"}});
        return;
    }
    const QString name =
        verb == QLatin1String("UID") ? verb + QLatin1Char(' ') + QString::fromLatin1(args.value(0)).toUpper() : verb;
    perform(socket, tag, verb, args, firingRule(name));
}

void ScriptedImapServer::perform(QTcpSocket *socket, const QByteArray &tag, const QString &verb,
                                 const QList<QByteArray> &args, const Rule *rule)
{
    if (!rule) {
        respond(socket, tag, verb, args);
        return;
    }
    switch (rule->action) {
    case Action::Fail:
        send(socket, {{(tag.isEmpty() ? QByteArray() : tag + ' ') + rule->bytes + CrLf}});
        break;
    case Action::Raw:
        send(socket, {{QByteArray(rule->bytes).replace("$TAG", tag)}});
        break;
    case Action::Noise:
        respond(socket, tag, verb, args, rule->lines);
        break;
    case Action::Delay: {
        m_sessions[socket].held = true;
        QTimer::singleShot(rule->delayMs, this, [this, socket = QPointer<QTcpSocket>(socket), tag, verb, args] {
            if (!socket || !m_sessions.count(socket))
                return;
            m_sessions[socket].held = false;
            respond(socket, tag, verb, args);
            onReadyRead(socket); // what the client sent meanwhile
        });
        break;
    }
    case Action::Stall:
        m_sessions[socket].held = true;
        break;
    case Action::Close:
        hangUp(socket);
        break;
    case Action::CloseMidLiteral: {
        const QByteArray whole = answer(socket, tag, verb, args).responses.join();
        static const QRegularExpression announced(QStringLiteral(R"(\{(\d+)\}\r\n)"));
        const QRegularExpressionMatch found = announced.match(QString::fromLatin1(whole));
        const qsizetype cut =
            found.hasMatch() ? found.capturedEnd() + found.captured(1).toLongLong() / 2 : whole.size() / 2;
        send(socket, {{whole.left(cut)}});
        hangUp(socket);
        break;
    }
    case Action::EndlessLiteral: {
        const Session &session = m_sessions[socket];
        const QByteArray uid = QByteArray::number(session.view.value(0, 1));
        const qint64 declared = rule->declared >= 0 ? rule->declared : qint64(1) << 40;
        const QByteArray opening = "* 1 FETCH (UID " + uid + " BODY[HEADER] {" + QByteArray::number(declared) + "}\r\n";
        m_dialogue << QStringLiteral("S: ") + QString::fromLatin1(opening.chopped(2));
        queue(socket, {.bytes = opening,
                       .pattern = "X-Filler: " + QByteArray(60, 'x') + CrLf,
                       .patternLeft = rule->declared >= 0 ? declared : -1});
        if (rule->declared >= 0)
            send(socket, {{")\r\n", tag + " OK UID FETCH completed\r\n"}});
        break;
    }
    }
}

void ScriptedImapServer::respond(QTcpSocket *socket, const QByteArray &tag, const QString &verb,
                                 const QList<QByteArray> &args, const QList<QByteArray> &noise)
{
    const Answer normal = answer(socket, tag, verb, args);
    send(socket, normal, noise);
    if (normal.close)
        hangUp(socket);
    else if (normal.startTls)
        startTls(socket);
}

ScriptedImapServer::Answer ScriptedImapServer::answer(QTcpSocket *socket, const QByteArray &tag, const QString &verb,
                                                      const QList<QByteArray> &args)
{
    if (verb == Greeting)
        return {{m_greeting + CrLf}};
    Session &session = m_sessions[socket];
    const auto ok = [&tag](const QByteArray &text) { return tag + " OK " + text + CrLf; };
    const auto bad = [&tag](const QByteArray &text) { return Answer{{tag + " BAD " + text + CrLf}}; };

    if (verb == QLatin1String("CAPABILITY"))
        return {{capabilityLine(session), ok("CAPABILITY completed")}};
    if (verb == QLatin1String("LOGOUT"))
        return {{"* BYE Logging out\r\n", ok("LOGOUT completed")}, true};
    if (verb == QLatin1String("NOOP")) {
        Answer changes;
        reportChanges(session, changes);
        changes.responses << ok("NOOP completed");
        return changes;
    }
    if (verb == QLatin1String("STARTTLS")) {
        if (!m_startTls || session.encrypted || session.loggedIn)
            return bad("STARTTLS not available");
        Answer begin{{ok("Begin TLS negotiation now")}};
        begin.startTls = true;
        return begin;
    }
    if (verb == QLatin1String("LOGIN")) {
        if (session.loggedIn || args.size() != 2)
            return bad("LOGIN not valid now");
        if (hasCapability(QStringLiteral("LOGINDISABLED")) && !session.encrypted)
            return {{tag + " NO [PRIVACYREQUIRED] Plaintext authentication disallowed\r\n"}};
        if (QString::fromUtf8(args[0]) != m_user || QString::fromUtf8(args[1]) != m_password)
            return {{tag + " NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"}};
        session.loggedIn = true;
        return {{ok("Logged in")}};
    }
    if (verb == QLatin1String("AUTHENTICATE")) {
        if (session.loggedIn)
            return bad("Already logged in");
        return authenticate(session, tag, args);
    }
    if (!session.loggedIn)
        return bad("Log in first");
    if (verb == QLatin1String("SELECT") || verb == QLatin1String("EXAMINE"))
        return select(session, tag, verb, QString::fromUtf8(args.value(0)));
    if (verb == QLatin1String("LIST"))
        return list(tag, args);
    if (verb == QLatin1String("IDLE")) {
        if (!hasCapability(QStringLiteral("IDLE")))
            return bad("Unknown command");
        session.pendingTag = tag;
        session.idling = true;
        Answer idling{{"+ idling\r\n"}};
        reportChanges(session, idling);
        return idling;
    }
    if (session.selected.isEmpty())
        return bad("No mailbox selected");
    if (verb == QLatin1String("EXPUNGE")) {
        if (session.readOnly)
            return {{tag + " NO Mailbox is read-only\r\n"}};
        QList<quint32> deleted;
        for (const Stored &message : folder(session.selected)->messages)
            if (message.flags.contains(Deleted, Qt::CaseInsensitive))
                deleted << message.uid;
        Answer removed;
        expunge(session, deleted, removed);
        removed.responses << ok("Expunge completed");
        return removed;
    }
    if (verb == QLatin1String("UID"))
        return uidCommand(session, tag, args);
    // FETCH by message numbers "a:b" (what reading the newest messages asks).
    if (verb == QLatin1String("FETCH")) {
        const QList<QByteArray> ends = args.value(0).split(':');
        QList<quint32> uids;
        for (qsizetype n = ends.first().toInt(); n >= 1 && n <= ends.last().toInt() && n <= session.view.size(); ++n)
            uids << session.view[n - 1];
        return fetch(session, tag, uids, args.mid(1));
    }
    return bad("Unknown command");
}

ScriptedImapServer::Answer ScriptedImapServer::continuation(Session &session, const QByteArray &line)
{
    const QByteArray tag = std::exchange(session.pendingTag, {});
    if (std::exchange(session.idling, false)) {
        if (line.toUpper() == "DONE")
            return {{tag + " OK IDLE terminated\r\n"}};
        return {{tag + " BAD Expected DONE\r\n"}};
    }
    const QString mechanism = std::exchange(session.saslMechanism, {});
    if (line == "*") {
        session.saslFailed = false;
        return {{tag + " BAD Authentication aborted\r\n"}};
    }
    if (std::exchange(session.saslFailed, false)) {
        return {{tag
                 + (answersErrorChallenge(mechanism, line) ? " NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"
                                                           : " BAD Bad answer to the error challenge\r\n")}};
    }
    const auto response = QByteArray::fromBase64Encoding(line, QByteArray::AbortOnBase64DecodingErrors);
    if (!response)
        return {{tag + " BAD Invalid base64\r\n"}};
    return saslVerdict(session, tag, mechanism, *response);
}

ScriptedImapServer::Answer ScriptedImapServer::authenticate(Session &session, const QByteArray &tag,
                                                            const QList<QByteArray> &args)
{
    const QString mechanism = QString::fromLatin1(args.value(0)).toUpper();
    if (!isSaslMechanism(mechanism) || args.size() > 2)
        return {{tag + " NO Unsupported authentication mechanism\r\n"}};
    if (args.size() == 1) {
        session.saslMechanism = mechanism;
        session.pendingTag = tag;
        return {{"+ \r\n"}};
    }
    if (!hasCapability(QStringLiteral("SASL-IR")))
        return {{tag + " BAD Initial response without SASL-IR\r\n"}};
    // RFC 4959: "=" is an empty initial response.
    if (args[1] == "=")
        return saslVerdict(session, tag, mechanism, {});
    const auto response = QByteArray::fromBase64Encoding(args[1], QByteArray::AbortOnBase64DecodingErrors);
    if (!response)
        return {{tag + " BAD Invalid base64\r\n"}};
    return saslVerdict(session, tag, mechanism, *response);
}

ScriptedImapServer::Answer ScriptedImapServer::saslVerdict(Session &session, const QByteArray &tag,
                                                           const QString &mechanism, const QByteArray &response)
{
    if (saslAccepts(mechanism, response)) {
        session.loggedIn = true;
        return {{tag + " OK Logged in\r\n"}};
    }
    if (mechanism == QLatin1String("PLAIN"))
        return {{tag + " NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"}};
    session.saslMechanism = mechanism;
    session.pendingTag = tag;
    session.saslFailed = true;
    return {{"+ " + saslErrorChallenge(mechanism) + CrLf}};
}

ScriptedImapServer::Answer ScriptedImapServer::select(Session &session, const QByteArray &tag, const QString &verb,
                                                      const QString &name)
{
    session.selected.clear();
    session.view.clear();
    const Folder *found = folder(name);
    if (!found)
        return {{tag + " NO [NONEXISTENT] Mailbox doesn't exist: " + name.toUtf8() + CrLf}};
    session.selected = canonical(name);
    session.readOnly = verb == QLatin1String("EXAMINE");
    for (const Stored &message : found->messages)
        session.view << message.uid;
    return {
        {"* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n",
         "* " + QByteArray::number(session.view.size()) + " EXISTS\r\n", "* 0 RECENT\r\n",
         "* OK [UIDVALIDITY " + QByteArray::number(found->uidValidity) + "] UIDs valid\r\n",
         "* OK [UIDNEXT " + QByteArray::number(found->uidNext) + "] Predicted next UID\r\n",
         tag + (session.readOnly ? " OK [READ-ONLY] EXAMINE completed\r\n" : " OK [READ-WRITE] SELECT completed\r\n")}};
}

ScriptedImapServer::Answer ScriptedImapServer::list(const QByteArray &tag, const QList<QByteArray> &args) const
{
    qsizetype at = 0;
    bool specialOnly = false;
    if (args.value(0) == "(") {
        const QList<QByteArray> selection = leadingList(args, &at);
        specialOnly = selection.contains("SPECIAL-USE");
    }
    if (args.size() < at + 2)
        return {{tag + " BAD LIST needs a reference and a pattern\r\n"}};
    const QString pattern = QString::fromUtf8(args[at + 1]);
    Answer listing;
    if (pattern.isEmpty()) {
        listing.responses << "* LIST (\\Noselect) \"/\" \"\"\r\n";
    } else {
        QString expression;
        for (const QChar c : pattern)
            expression += c == QLatin1Char('*')   ? QStringLiteral(".*")
                          : c == QLatin1Char('%') ? QStringLiteral("[^/]*")
                                                  : QRegularExpression::escape(c);
        const QRegularExpression matcher(QRegularExpression::anchoredPattern(expression),
                                         QRegularExpression::CaseInsensitiveOption
                                             | QRegularExpression::DotMatchesEverythingOption);
        for (const auto &[name, held] : m_folders) {
            if ((specialOnly && held.specialUse.isEmpty()) || !matcher.match(name).hasMatch())
                continue;
            const QString attributes = QStringLiteral("\\HasNoChildren")
                                       + (held.specialUse.isEmpty() ? QString() : QLatin1Char(' ') + held.specialUse);
            listing.responses << "* LIST (" + attributes.toUtf8() + ") \"/\" " + listedName(name) + CrLf;
        }
    }
    listing.responses << tag + " OK LIST completed\r\n";
    return listing;
}

ScriptedImapServer::Answer ScriptedImapServer::uidCommand(Session &session, const QByteArray &tag,
                                                          const QList<QByteArray> &args)
{
    const QByteArray sub = args.value(0).toUpper();
    if (sub == "SEARCH")
        return search(session, tag, args.mid(1));
    static const QRegularExpression setSyntax(QStringLiteral(R"(^(\d+|\*)(:(\d+|\*))?(,(\d+|\*)(:(\d+|\*))?)*$)"));
    if (!setSyntax.match(QString::fromLatin1(args.value(1))).hasMatch())
        return {{tag + " BAD Invalid UID set\r\n"}};
    const QList<quint32> selected = uidsInSet(session, args[1]);
    const QList<QByteArray> rest = args.mid(2);
    const bool changes = sub == "STORE" || sub == "EXPUNGE" || sub == "MOVE";
    if (changes && session.readOnly)
        return {{tag + " NO Mailbox is read-only\r\n"}};
    if (sub == "FETCH")
        return fetch(session, tag, selected, rest);
    if (sub == "STORE")
        return store(session, tag, selected, rest);
    if (sub == "COPY" || (sub == "MOVE" && hasCapability(QStringLiteral("MOVE"))))
        return copy(session, tag, selected, QString::fromUtf8(rest.value(0)), sub == "MOVE");
    if (sub == "EXPUNGE" && hasCapability(QStringLiteral("UIDPLUS"))) {
        QList<quint32> deleted;
        for (const quint32 uid : selected)
            if (const Stored *message = stored(session.selected, uid);
                message && message->flags.contains(Deleted, Qt::CaseInsensitive))
                deleted << uid;
        Answer removed;
        expunge(session, deleted, removed);
        removed.responses << tag + " OK Expunge completed\r\n";
        return removed;
    }
    return {{tag + " BAD Unknown UID command\r\n"}};
}

ScriptedImapServer::Answer ScriptedImapServer::search(const Session &session, const QByteArray &tag,
                                                      const QList<QByteArray> &criteria) const
{
    const QList<QByteArray> extended = {"RETURN", "(", "ALL", ")", "ALL"};
    const bool compact = hasCapability(QStringLiteral("ESEARCH")) && criteria == extended;
    if (!compact && criteria != QList<QByteArray>{"ALL"})
        return {{tag + " BAD Only ALL is searched here\r\n"}};
    if (!compact)
        return {{"* SEARCH" + (session.view.isEmpty() ? QByteArray() : ' ' + uidList(session.view).replace(',', ' '))
                     + CrLf,
                 tag + " OK Search completed\r\n"}};
    QByteArrayList runs;
    for (qsizetype i = 0; i < session.view.size();) {
        qsizetype end = i;
        while (end + 1 < session.view.size() && session.view[end + 1] == session.view[end] + 1)
            ++end;
        runs << QByteArray::number(session.view[i]) + (end == i ? "" : ':' + QByteArray::number(session.view[end]));
        i = end + 1;
    }
    return {{"* ESEARCH (TAG \"" + tag + "\") UID" + (runs.isEmpty() ? QByteArray() : " ALL " + runs.join(',')) + CrLf,
             tag + " OK Search completed\r\n"}};
}

QList<quint32> ScriptedImapServer::uidsInSet(const Session &session, const QByteArray &set) const
{
    const quint32 largest = session.view.isEmpty() ? 0 : *std::max_element(session.view.begin(), session.view.end());
    const auto number = [largest](const QByteArray &text) { return text == "*" ? largest : text.toUInt(); };
    QList<quint32> chosen;
    for (const quint32 uid : session.view) {
        for (const QByteArray &part : set.split(',')) {
            const QList<QByteArray> ends = part.split(':');
            const quint32 a = number(ends.first());
            const quint32 b = number(ends.last());
            if (uid >= std::min(a, b) && uid <= std::max(a, b)) {
                chosen << uid;
                break;
            }
        }
    }
    return chosen;
}

ScriptedImapServer::Answer ScriptedImapServer::fetch(Session &session, const QByteArray &tag,
                                                     const QList<quint32> &uids, QList<QByteArray> items)
{
    qsizetype taken = 0;
    items = leadingList(items, &taken);
    const QList<QByteArray> known = {"UID",          "RFC822.SIZE", "FLAGS", "BODY.PEEK[HEADER]",
                                     "BODY[HEADER]", "BODY.PEEK[]", "BODY[]"};
    for (QByteArray &item : items) {
        item = item.toUpper();
        if (!known.contains(item))
            return {{tag + " BAD Unknown FETCH item " + item + CrLf}};
    }
    Answer fetched;
    for (qsizetype number = 1; number <= session.view.size(); ++number) {
        const quint32 uid = session.view[number - 1];
        Stored *message = uids.contains(uid) ? stored(session.selected, uid) : nullptr;
        if (!message)
            continue;
        QByteArrayList parts{"UID " + QByteArray::number(uid)};
        for (const QByteArray &item : items) {
            if (item == "RFC822.SIZE")
                parts << "RFC822.SIZE " + QByteArray::number(message->text.size());
            else if (item == "FLAGS")
                parts << "FLAGS (" + message->flags.join(QLatin1Char(' ')).toUtf8() + ')';
            else if (item.endsWith("[HEADER]"))
                parts << "BODY[HEADER] " + literal(headerBlock(message->text));
            else if (item.endsWith("[]"))
                parts << "BODY[] " + literal(message->text);
            if (item == "BODY[]" && !session.readOnly)
                addFlag(*message, Seen);
        }
        fetched.responses << "* " + QByteArray::number(number) + " FETCH (" + parts.join(' ') + ")\r\n";
    }
    fetched.responses << tag + " OK UID FETCH completed\r\n";
    return fetched;
}

ScriptedImapServer::Answer ScriptedImapServer::store(Session &session, const QByteArray &tag,
                                                     const QList<quint32> &uids, const QList<QByteArray> &args)
{
    const QByteArray item = args.value(0).toUpper();
    static const QRegularExpression itemSyntax(QStringLiteral(R"(^([+-]?)FLAGS(\.SILENT)?$)"));
    const QRegularExpressionMatch parsed = itemSyntax.match(QString::fromLatin1(item));
    if (!parsed.hasMatch())
        return {{tag + " BAD Invalid STORE item\r\n"}};
    qsizetype taken = 0;
    QStringList changed;
    for (const QByteArray &flag : leadingList(args.mid(1), &taken))
        changed << QString::fromUtf8(flag);
    Answer updated;
    for (qsizetype number = 1; number <= session.view.size(); ++number) {
        Stored *message =
            uids.contains(session.view[number - 1]) ? stored(session.selected, session.view[number - 1]) : nullptr;
        if (!message)
            continue;
        if (parsed.captured(1) == QLatin1String("-")) {
            for (const QString &flag : changed)
                message->flags.removeAll(flag);
        } else {
            if (parsed.captured(1).isEmpty())
                message->flags.clear();
            for (const QString &flag : changed)
                addFlag(*message, flag);
        }
        if (parsed.captured(2).isEmpty())
            updated.responses << "* " + QByteArray::number(number) + " FETCH (UID " + QByteArray::number(message->uid)
                                     + " FLAGS (" + message->flags.join(QLatin1Char(' ')).toUtf8() + "))\r\n";
    }
    updated.responses << tag + " OK Store completed\r\n";
    return updated;
}

ScriptedImapServer::Answer ScriptedImapServer::copy(Session &session, const QByteArray &tag, const QList<quint32> &uids,
                                                    const QString &target, bool move)
{
    Folder *destination = folder(target);
    if (!destination)
        return {{tag + " NO [TRYCREATE] Mailbox doesn't exist: " + target.toUtf8() + CrLf}};
    QList<quint32> from;
    QList<quint32> to;
    for (const quint32 uid : uids) {
        const Stored *message = stored(session.selected, uid);
        if (!message)
            continue;
        from << uid;
        to << destination->uidNext;
        destination->messages.append({destination->uidNext++, message->text, message->flags});
    }
    const QByteArray copyUid = hasCapability(QStringLiteral("UIDPLUS")) && !from.isEmpty()
                                   ? "[COPYUID " + QByteArray::number(destination->uidValidity) + ' ' + uidList(from)
                                         + ' ' + uidList(to) + "] "
                                   : QByteArray();
    if (!move)
        return {{tag + " OK " + copyUid + "Copy completed\r\n"}};
    Answer moved;
    if (!copyUid.isEmpty())
        moved.responses << "* OK " + copyUid + "Moved UIDs.\r\n";
    expunge(session, from, moved);
    moved.responses << tag + " OK Move completed\r\n";
    return moved;
}

void ScriptedImapServer::expunge(Session &session, const QList<quint32> &uids, Answer &answer)
{
    folder(session.selected)->messages.removeIf([&uids](const Stored &message) { return uids.contains(message.uid); });
    // From the highest number down, so that no report renumbers the next.
    for (qsizetype number = session.view.size(); number >= 1; --number) {
        if (!uids.contains(session.view[number - 1]))
            continue;
        answer.responses << "* " + QByteArray::number(number) + " EXPUNGE\r\n";
        session.view.removeAt(number - 1);
    }
}

void ScriptedImapServer::reportChanges(Session &session, Answer &answer)
{
    const Folder *selected = session.selected.isEmpty() ? nullptr : folder(session.selected);
    if (!selected)
        return;
    QList<quint32> present;
    for (const Stored &message : selected->messages)
        present << message.uid;
    QList<quint32> gone;
    for (const quint32 uid : session.view)
        if (!present.contains(uid))
            gone << uid;
    for (qsizetype number = session.view.size(); number >= 1; --number) {
        if (gone.contains(session.view[number - 1])) {
            answer.responses << "* " + QByteArray::number(number) + " EXPUNGE\r\n";
            session.view.removeAt(number - 1);
        }
    }
    const qsizetype before = session.view.size();
    for (const quint32 uid : present)
        if (!session.view.contains(uid))
            session.view << uid;
    if (session.view.size() != before)
        answer.responses << "* " + QByteArray::number(session.view.size()) + " EXISTS\r\n";
}

QByteArray ScriptedImapServer::capabilityLine(const Session &session) const
{
    QByteArray line = "* CAPABILITY " + m_capabilities.join(QLatin1Char(' ')).toLatin1();
    if (m_startTls && !session.encrypted && !session.loggedIn)
        line += " STARTTLS";
    return line + CrLf;
}

bool ScriptedImapServer::hasCapability(const QString &name) const
{
    return m_capabilities.contains(name, Qt::CaseInsensitive);
}

QList<QByteArray> ScriptedImapServer::tokens(const QByteArray &command)
{
    QList<QByteArray> found;
    qsizetype i = 0;
    const qsizetype n = command.size();
    while (i < n) {
        const char c = command[i];
        if (c == ' ') {
            ++i;
        } else if (c == '(' || c == ')') {
            found << QByteArray(1, c);
            ++i;
        } else if (c == '"') {
            QByteArray text;
            for (++i; i < n && command[i] != '"'; ++i) {
                if (command[i] == '\\' && i + 1 < n)
                    ++i;
                text += command[i];
            }
            found << text;
            ++i;
        } else if (c == '{' && command.indexOf("}\r\n", i) > i) {
            const qsizetype close = command.indexOf("}\r\n", i);
            const qint64 length = command.mid(i + 1, close - i - 1).replace('+', "").toLongLong();
            found << command.mid(close + 3, length);
            i = close + 3 + length;
        } else {
            // An atom; a section such as BODY.PEEK[HEADER] is part of it.
            const qsizetype start = i;
            for (int depth = 0; i < n; ++i) {
                const char d = command[i];
                depth += d == '[' ? 1 : d == ']' ? -1 : 0;
                if (depth == 0 && (d == ' ' || d == '(' || d == ')'))
                    break;
            }
            found << command.mid(start, i - start);
        }
    }
    return found;
}

// --- The wire --------------------------------------------------------------

void ScriptedImapServer::send(QTcpSocket *socket, const Answer &answer, const QList<QByteArray> &noise)
{
    for (const QByteArray &response : answer.responses) {
        for (const QByteArray &line : noise) {
            m_dialogue << QStringLiteral("S: ") + QString::fromUtf8(line);
            queue(socket, {.bytes = line + CrLf});
        }
        const qsizetype end = response.indexOf(CrLf);
        m_dialogue << QStringLiteral("S: ") + QString::fromUtf8(end < 0 ? response : response.left(end));
        queue(socket, {.bytes = response});
    }
}
