#include "support/scriptedpop3server.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

ScriptedPop3Server::ScriptedPop3Server(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedPop3Server::onNewConnection);
}

ScriptedPop3Server::~ScriptedPop3Server()
{
    // Sockets die with m_server after this body; keep their last signals
    // from reaching a half-destroyed server.
    for (QTcpSocket *socket : m_server.findChildren<QTcpSocket *>()) {
        socket->disconnect(this);
        socket->abort();
    }
}

void ScriptedPop3Server::setCredentials(const QString &user, const QString &password)
{
    m_user = user;
    m_password = password;
}

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

bool ScriptedPop3Server::listen(quint16 port)
{
    if (!m_server.listen(QHostAddress::LocalHost, port))
        return false;
    m_port = m_server.serverPort();
    return true;
}

void ScriptedPop3Server::stopListening()
{
    m_server.close();
    while (!m_sessions.empty())
        hangUp(m_sessions.begin()->first);
}

QString ScriptedPop3Server::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void ScriptedPop3Server::failAt(const QString &command, const QByteArray &statusLine, int occurrence)
{
    addRule(command, Action::Reply, statusLine, occurrence);
}

void ScriptedPop3Server::replyAt(const QString &command, const QByteArray &rawBytes, int occurrence)
{
    addRule(command, Action::Raw, rawBytes, occurrence);
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

QStringList ScriptedPop3Server::commands() const
{
    QStringList lines;
    for (const QString &entry : m_dialogue) {
        if (entry.startsWith(QLatin1String("C: ")))
            lines.append(entry.mid(3));
    }
    return lines;
}

void ScriptedPop3Server::addRule(const QString &command, Action action, const QByteArray &bytes,
                                 int occurrence, int delayMs)
{
    m_rules.append({command, occurrence, action, bytes, delayMs});
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

void ScriptedPop3Server::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_connectionCount;
        m_sessions[socket] = Session();
        connect(socket, &QIODevice::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] { forget(socket); });
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        handleLine(socket, Greeting);
    }
}

void ScriptedPop3Server::onReadyRead(QTcpSocket *socket)
{
    while (m_sessions.count(socket) && socket->canReadLine()) {
        QByteArray bytes = socket->readLine();
        while (bytes.endsWith('\n') || bytes.endsWith('\r'))
            bytes.chop(1);
        const QString line = QString::fromUtf8(bytes);
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
        return;
    }
    switch (action) {
    case Action::Reply:
        send(socket, rule->bytes + "\r\n");
        break;
    case Action::Raw:
        send(socket, rule->bytes);
        break;
    case Action::Stall:
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
    case Action::Delay: {
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(rule->delayMs, this, [this, guarded, line] {
            if (guarded && m_sessions.count(guarded.data()))
                perform(guarded.data(), line, nullptr);
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
    QStringList args = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString verb = args.isEmpty() ? QString() : args.takeFirst().toUpper();

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
        session.loggedIn = true;
        session.snapshot = m_mailbox;
        session.deleted = QList<bool>(m_mailbox.size(), false);
        return {"+OK logged in"};
    }
    return {"-ERR log in first"};
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

void ScriptedPop3Server::send(QTcpSocket *socket, const QByteArray &bytes)
{
    const qsizetype lineEnd = bytes.indexOf('\n');
    QByteArray status = lineEnd < 0 ? bytes : bytes.left(lineEnd);
    if (status.endsWith('\r'))
        status.chop(1);
    m_dialogue.append(QStringLiteral("S: ") + QString::fromUtf8(status));
    socket->write(bytes);
}

void ScriptedPop3Server::hangUp(QTcpSocket *socket)
{
    forget(socket);
    socket->disconnectFromHost(); // sends what is still buffered first
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
