#include "support/scriptedpop3server.h"

#include "mail/pop3client.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

ScriptedPop3Server::ScriptedPop3Server(QObject *parent)
    : ScriptedServer("+OK POP3 server ready", {QStringLiteral("TOP"), QStringLiteral("UIDL"), QStringLiteral("USER")},
                     parent)
{
}

ScriptedPop3Server::~ScriptedPop3Server() = default;

void ScriptedPop3Server::setMessages(const QList<QByteArray> &messages)
{
    m_mailbox.clear();
    for (const QByteArray &message : messages)
        addMessage(message);
}

void ScriptedPop3Server::addMessage(const QByteArray &message)
{
    m_mailbox.append({m_nextId++, normalized(message)});
}

void ScriptedPop3Server::removeMessage(int number)
{
    m_mailbox.removeAt(number - 1);
}

QList<QByteArray> ScriptedPop3Server::messages() const
{
    QList<QByteArray> texts;
    for (const Stored &stored : m_mailbox)
        texts.append(stored.text);
    return texts;
}

qint64 ScriptedPop3Server::wireSize(const QByteArray &message)
{
    return normalized(message).size();
}

void ScriptedPop3Server::failAt(const QString &command, const QByteArray &statusLine, int occurrence)
{
    addRule(command, Action::Reply, statusLine, occurrence);
}

void ScriptedPop3Server::replyAt(const QString &command, const QByteArray &rawBytes, int occurrence)
{
    addRule(command, Action::Raw, rawBytes, occurrence);
}

void ScriptedPop3Server::replyAndCloseAt(const QString &command, const QByteArray &rawBytes, int occurrence)
{
    addRule(command, Action::RawThenClose, rawBytes, occurrence);
}

void ScriptedPop3Server::stallAt(const QString &command, int occurrence)
{
    addRule(command, Action::Stall, {}, occurrence);
}

void ScriptedPop3Server::closeAt(const QString &command, int occurrence)
{
    addRule(command, Action::Close, {}, occurrence);
}

void ScriptedPop3Server::closeMidLineAt(const QString &command, int occurrence)
{
    addRule(command, Action::CloseMidLine, {}, occurrence);
}

void ScriptedPop3Server::closeMidBlockAt(const QString &command, int occurrence)
{
    addRule(command, Action::CloseMidBlock, {}, occurrence);
}

void ScriptedPop3Server::delayAt(const QString &command, int milliseconds, int occurrence)
{
    addRule(command, Action::Delay, {}, occurrence, milliseconds);
}

void ScriptedPop3Server::trickleAt(const QString &command, int intervalMs, int occurrence)
{
    addRule(command, Action::Trickle, {}, occurrence, intervalMs);
}

void ScriptedPop3Server::endlessAt(const QString &command, const QByteArray &statusLine, const QByteArray &pattern,
                                   qint64 total, const QByteArray &tail, int occurrence)
{
    addRule(command, Action::Endless, statusLine, occurrence);
    Rule &rule = m_rules.last();
    rule.pattern = pattern;
    rule.total = total;
    rule.tail = tail;
}

void ScriptedPop3Server::addRule(const QString &command, Action action, const QByteArray &bytes, int occurrence,
                                 int delayMs)
{
    m_rules.append(
        {.command = command, .occurrence = occurrence, .action = action, .bytes = bytes, .delayMs = delayMs});
}

const ScriptedPop3Server::Rule *ScriptedPop3Server::firingRule(const QString &line)
{
    const Rule *firing = nullptr;
    for (Rule &rule : m_rules) {
        if (line != rule.command && !line.startsWith(rule.command + QLatin1Char(' ')))
            continue;
        ++rule.seen;
        if (!firing && (rule.occurrence == Every || rule.occurrence == rule.seen))
            firing = &rule;
    }
    return firing;
}

void ScriptedPop3Server::startSession(QTcpSocket *socket)
{
    m_sessions[socket] = Session();
}

void ScriptedPop3Server::greet(QTcpSocket *socket)
{
    handleLine(socket, Greeting);
}

bool ScriptedPop3Server::markEncrypted(QTcpSocket *socket)
{
    const auto found = m_sessions.find(socket);
    if (found == m_sessions.end())
        return false;
    found->second.encrypted = true;
    return true;
}

void ScriptedPop3Server::discardInput(QTcpSocket *socket)
{
    m_sessions[socket].queued.clear();
}

QList<QTcpSocket *> ScriptedPop3Server::sessionSockets() const
{
    QList<QTcpSocket *> sockets;
    for (const auto &entry : m_sessions)
        sockets << entry.first;
    return sockets;
}

void ScriptedPop3Server::onReadyRead(QTcpSocket *socket)
{
    if (!m_sessions.count(socket))
        return;
    Session &session = m_sessions[socket];
    while (socket->canReadLine()) {
        QByteArray bytes = socket->readLine();
        while (bytes.endsWith('\n') || bytes.endsWith('\r'))
            bytes.chop(1);
        session.queued.append(QString::fromUtf8(bytes));
    }
    m_maxCommandsAhead = std::max(m_maxCommandsAhead, int(session.queued.size()) + (session.held ? 1 : 0));
    drain(socket);
}

void ScriptedPop3Server::drain(QTcpSocket *socket)
{
    while (m_sessions.count(socket) && !m_sessions[socket].held && !m_sessions[socket].queued.isEmpty()) {
        const QString line = m_sessions[socket].queued.takeFirst();
        m_dialogue.append(QStringLiteral("C: ") + line);
        handleLine(socket, line);
    }
}

void ScriptedPop3Server::handleLine(QTcpSocket *socket, const QString &line)
{
    perform(socket, line, firingRule(line));
}

void ScriptedPop3Server::perform(QTcpSocket *socket, const QString &line, const Rule *rule)
{
    const Action action = rule ? rule->action : Action::Reply;
    if (!rule) {
        const Answer normal = answer(socket, line);
        send(socket, normal.status + "\r\n" + normal.block);
        if (normal.closeAfter)
            hangUp(socket);
        else if (normal.startTls)
            startTls(socket);
        return;
    }
    switch (action) {
    case Action::Reply:
        send(socket, rule->bytes + "\r\n");
        break;
    case Action::Raw:
        send(socket, rule->bytes);
        break;
    case Action::RawThenClose:
        send(socket, rule->bytes);
        hangUp(socket);
        break;
    case Action::Stall:
        m_sessions[socket].held = true;
        break;
    case Action::Close:
        hangUp(socket);
        break;
    case Action::CloseMidLine: {
        const QByteArray status = answer(socket, line).status;
        send(socket, status.left(status.size() / 2));
        hangUp(socket);
        break;
    }
    case Action::CloseMidBlock: {
        const Answer normal = answer(socket, line);
        send(socket, normal.status + "\r\n" + normal.block.left(normal.block.size() / 2));
        hangUp(socket);
        break;
    }
    case Action::Trickle: {
        const Answer normal = answer(socket, line);
        send(socket, normal.status + "\r\n" + normal.block, 1, rule->delayMs);
        break;
    }
    case Action::Endless: {
        Piece piece;
        if (!rule->bytes.isNull()) {
            m_dialogue.append(QStringLiteral("S: ") + QString::fromUtf8(rule->bytes));
            piece.bytes = rule->bytes + "\r\n";
        }
        piece.pattern = rule->pattern;
        piece.patternLeft = rule->total;
        queue(socket, piece);
        if (rule->total >= 0)
            queue(socket, {.bytes = rule->tail});
        break;
    }
    case Action::Delay: {
        m_sessions[socket].held = true;
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(rule->delayMs, this, [this, guarded, line] {
            if (!guarded || !m_sessions.count(guarded.data()))
                return;
            m_sessions[guarded.data()].held = false;
            perform(guarded.data(), line, nullptr);
            drain(guarded.data());
        });
        break;
    }
    }
}

ScriptedPop3Server::Answer ScriptedPop3Server::answer(QTcpSocket *socket, const QString &line)
{
    if (line == Greeting)
        return {m_greeting};
    Session &session = m_sessions[socket];
    if (!session.saslMechanism.isEmpty())
        return saslAnswer(session, line);
    QStringList args = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString verb = args.isEmpty() ? QString() : args.takeFirst().toUpper();

    if (verb == QLatin1String("CAPA") && m_capaKnown)
        return capaAnswer(session);
    if (verb == QLatin1String("STLS") && m_stls) {
        if (session.encrypted || session.loggedIn)
            return {"-ERR command not permitted now"};
        Answer begin("+OK Begin TLS negotiation");
        begin.startTls = true;
        return begin;
    }
    if (verb == QLatin1String("QUIT")) {
        if (session.loggedIn)
            commit(session);
        return {"+OK bye", {}, true};
    }
    if (session.loggedIn)
        return transactionAnswer(session, verb, args);
    if (verb == QLatin1String("USER")) {
        session.userGiven = line.mid(5) == m_user;
        return {"+OK send your password"};
    }
    if (verb == QLatin1String("PASS")) {
        if (!session.userGiven || line.mid(5) != m_password) {
            session.userGiven = false;
            return {"-ERR invalid password"};
        }
        return loggedIn(session);
    }
    if (verb == QLatin1String("AUTH"))
        return authAnswer(session, args);
    if (verb == QLatin1String("APOP"))
        return apopAnswer(session, args);
    if (verb == QLatin1String("UTF8")) {
        const bool listed = std::any_of(m_capabilities.begin(), m_capabilities.end(), [](const QString &capability) {
            return capability.section(QLatin1Char(' '), 0, 0) == QLatin1String("UTF8");
        });
        return {listed ? "+OK UTF8 enabled" : "-ERR unknown command"};
    }
    return {"-ERR log in first"};
}

ScriptedPop3Server::Answer ScriptedPop3Server::loggedIn(Session &session)
{
    session.loggedIn = true;
    session.snapshot = m_mailbox;
    session.deleted = QList<bool>(m_mailbox.size(), false);
    return {"+OK logged in"};
}

ScriptedPop3Server::Answer ScriptedPop3Server::authAnswer(Session &session, const QStringList &args)
{
    const QString mechanism = args.value(0).toUpper();
    if (!isSaslMechanism(mechanism) || args.size() > 2)
        return {"-ERR unsupported authentication mechanism"};
    if (args.size() == 1) {
        session.saslMechanism = mechanism;
        return {"+ "};
    }
    const auto response = QByteArray::fromBase64Encoding(args[1].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!response)
        return {"-ERR invalid base64"};
    return saslVerdict(session, mechanism, *response);
}

ScriptedPop3Server::Answer ScriptedPop3Server::saslAnswer(Session &session, const QString &line)
{
    const QString mechanism = std::exchange(session.saslMechanism, QString());
    if (line == QLatin1String("*")) {
        session.saslFailed = false;
        return {"-ERR authentication cancelled"};
    }
    if (std::exchange(session.saslFailed, false))
        return {answersErrorChallenge(mechanism, line.toUtf8()) ? "-ERR [AUTH] Authentication failed"
                                                                : "-ERR bad answer to the error challenge"};
    const auto response = QByteArray::fromBase64Encoding(line.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!response)
        return {"-ERR invalid base64"};
    return saslVerdict(session, mechanism, *response);
}

ScriptedPop3Server::Answer ScriptedPop3Server::saslVerdict(Session &session, const QString &mechanism,
                                                           const QByteArray &response)
{
    if (saslAccepts(mechanism, response))
        return loggedIn(session);
    if (mechanism == QLatin1String("PLAIN"))
        return {"-ERR [AUTH] Authentication failed"};
    session.saslMechanism = mechanism;
    session.saslFailed = true;
    return {"+ " + saslErrorChallenge(mechanism)};
}

ScriptedPop3Server::Answer ScriptedPop3Server::apopAnswer(Session &session, const QStringList &args)
{
    const qsizetype open = m_greeting.indexOf('<');
    const qsizetype close = m_greeting.indexOf('>', open);
    if (open < 0 || close < 0)
        return {"-ERR APOP not available"};
    const QByteArray digest =
        QCryptographicHash::hash(m_greeting.mid(open, close - open + 1) + m_password.toUtf8(), QCryptographicHash::Md5)
            .toHex();
    if (args.size() != 2 || args[0] != m_user || args[1].toLatin1() != digest)
        return {"-ERR [AUTH] authentication failed"};
    return loggedIn(session);
}

ScriptedPop3Server::Answer ScriptedPop3Server::capaAnswer(const Session &session) const
{
    QByteArray block;
    for (const QString &capability : m_capabilities)
        block += capability.toLatin1() + "\r\n";
    if (m_stls && !session.encrypted && !session.loggedIn)
        block += "STLS\r\n";
    return {"+OK Capability list follows", block + ".\r\n"};
}

ScriptedPop3Server::Answer ScriptedPop3Server::transactionAnswer(Session &session, const QString &verb,
                                                                 const QStringList &args)
{
    QByteArray error;
    if (verb == QLatin1String("STAT") || (verb == QLatin1String("LIST") && args.isEmpty())
        || (verb == QLatin1String("UIDL") && args.isEmpty())) {
        qint64 count = 0;
        qint64 octets = 0;
        QByteArray block;
        for (int i = 0; i < session.snapshot.size(); ++i) {
            if (session.deleted[i])
                continue;
            ++count;
            octets += session.snapshot[i].text.size();
            block += QByteArray::number(i + 1) + ' '
                     + (verb == QLatin1String("UIDL") ? "uid" + QByteArray::number(session.snapshot[i].id)
                                                      : QByteArray::number(session.snapshot[i].text.size()))
                     + "\r\n";
        }
        const QByteArray numbers = QByteArray::number(count) + ' ' + QByteArray::number(octets);
        if (verb == QLatin1String("STAT"))
            return {"+OK " + numbers};
        return {"+OK " + numbers, block + ".\r\n"};
    }
    if (verb == QLatin1String("LIST") || verb == QLatin1String("UIDL")) {
        const Stored *stored = message(session, args.value(0), error);
        if (!stored)
            return {error};
        return {"+OK " + args.value(0).toLatin1() + ' '
                + (verb == QLatin1String("UIDL") ? "uid" + QByteArray::number(stored->id)
                                                 : QByteArray::number(stored->text.size()))};
    }
    if (verb == QLatin1String("RETR")) {
        const Stored *stored = message(session, args.value(0), error);
        if (!stored)
            return {error};
        return {"+OK " + QByteArray::number(stored->text.size()) + " octets", dotStuffed(stored->text)};
    }
    if (verb == QLatin1String("TOP")) {
        const Stored *stored = message(session, args.value(0), error);
        if (!stored)
            return {error};
        bool ok = false;
        const int bodyLines = args.value(1).toInt(&ok);
        if (!ok || bodyLines < 0)
            return {"-ERR bad line count"};
        const qsizetype blank = stored->text.indexOf("\r\n\r\n");
        if (blank < 0) // no body separator: the whole text is header
            return {"+OK", dotStuffed(stored->text)};
        QByteArray top = stored->text.left(blank + 4);
        qsizetype pos = blank + 4;
        for (int n = 0; n < bodyLines && pos < stored->text.size(); ++n) {
            const qsizetype end = stored->text.indexOf("\r\n", pos) + 2;
            top += stored->text.mid(pos, end - pos);
            pos = end;
        }
        return {"+OK", dotStuffed(top)};
    }
    if (verb == QLatin1String("DELE")) {
        const Stored *stored = message(session, args.value(0), error);
        if (!stored)
            return {error};
        session.deleted[args.value(0).toInt() - 1] = true;
        return {"+OK message " + args.value(0).toLatin1() + " deleted"};
    }
    if (verb == QLatin1String("RSET")) {
        session.deleted.fill(false);
        return {"+OK"};
    }
    if (verb == QLatin1String("NOOP"))
        return {"+OK"};
    return {"-ERR unknown command"};
}

const ScriptedPop3Server::Stored *ScriptedPop3Server::message(const Session &session, const QString &arg,
                                                              QByteArray &error) const
{
    bool ok = false;
    const int number = arg.toInt(&ok);
    if (!ok || number < 1 || number > session.snapshot.size() || session.deleted[number - 1]) {
        error = "-ERR no such message";
        return nullptr;
    }
    return &session.snapshot[number - 1];
}

void ScriptedPop3Server::send(QTcpSocket *socket, const QByteArray &bytes, int chunk, int pauseMs)
{
    const qsizetype lineEnd = bytes.indexOf('\n');
    QByteArray status = lineEnd < 0 ? bytes : bytes.left(lineEnd);
    if (status.endsWith('\r'))
        status.chop(1);
    m_dialogue.append(QStringLiteral("S: ") + QString::fromUtf8(status));
    queue(socket, {.bytes = bytes, .chunk = chunk, .pauseMs = pauseMs});
}

void ScriptedPop3Server::forget(QTcpSocket *socket)
{
    m_sessions.erase(socket);
}

void ScriptedPop3Server::commit(Session &session)
{
    for (int i = 0; i < session.snapshot.size(); ++i) {
        if (!session.deleted[i])
            continue;
        const quint64 id = session.snapshot[i].id;
        m_mailbox.removeIf([id](const Stored &stored) { return stored.id == id; });
    }
    ++m_committedSessions;
}

QByteArray ScriptedPop3Server::normalized(const QByteArray &message)
{
    QByteArray text;
    text.reserve(message.size() + 2);
    for (qsizetype i = 0; i < message.size(); ++i) {
        if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r'))
            text += '\r';
        text += message[i];
    }
    if (!text.endsWith("\r\n"))
        text += "\r\n";
    return text;
}

QByteArray ScriptedPop3Server::dotStuffed(const QByteArray &text)
{
    QByteArray stuffed;
    stuffed.reserve(text.size() + text.size() / 64 + 3);
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && c == '.')
            stuffed += '.';
        stuffed += c;
        lineStart = c == '\n';
    }
    return stuffed + ".\r\n";
}
