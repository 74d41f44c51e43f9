#include "mail/pop3client.h"

#include "mail/apop.h"
#include "mail/mailerrors.h"
#include "mail/printabletext.h"

#include <limits>
#include <new>

namespace {

QString quoted(const QString &reply)
{
    return QLatin1Char('"') + RemoteMailbox::shortenedReply(reply) + QLatin1Char('"');
}

// A SASL challenge ("+ " and base64, or a bare "+"), which "+OK" is not.
bool isChallenge(const QString &reply)
{
    return reply == QLatin1String("+") || reply.startsWith(QLatin1String("+ "));
}

QByteArray challengeData(const QString &reply)
{
    return reply.mid(2).trimmed().toLatin1();
}

[[noreturn]] void invalidReply(const QString &command, const QString &reply)
{
    throw EProtocolError(QStringLiteral("The server's reply to %1 is not valid: %2").arg(command, quoted(reply)));
}

// The words after "+OK" of a positive reply.
QStringList replyWords(const QString &reply)
{
    return reply.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1);
}

// A decimal number of at most 64 bits without sign; -1 when the word is not one.
qint64 octetCount(const QString &word)
{
    for (const QChar c : word) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    bool ok = false;
    const qint64 value = word.toLongLong(&ok);
    return ok ? value : -1;
}

} // namespace

TmsCustomPOP::TmsCustomPOP(QObject *parent)
    : RemoteMailbox({QStringLiteral("pop3"), 110, QStringLiteral("pop3s"), 995, true}, parent)
{
}

bool TmsCustomPOP::hasCapability(const QString &name) const
{
    return m_capabilities.contains(name.toUpper());
}

int TmsCustomPOP::ReplyCode(const QString &line) const
{
    if (line.startsWith(QLatin1Char('+')))
        return 1;
    if (line.startsWith(QLatin1Char('-')))
        return -1;
    return 0;
}

void TmsCustomPOP::Open()
{
    CheckProperties();
    ResetState();
    RemoteMailbox::Open();
}

void TmsCustomPOP::requireOk()
{
    if (ReadReply() != 1)
        throw EServerError(printableText(lastReply()));
}

void TmsCustomPOP::command(const QString &line)
{
    SendCommand(line);
    requireOk();
}

void TmsCustomPOP::Login()
{
    ResetState();
    clearCapabilities();
    m_replyReaders.clear();
    const QString token = authMethod() == AuthMethod::OAuth2 ? freshAccessToken() : QString();
    Connect();
    requireOk();
    const QString greeting = lastReply();
    ReadCapabilities();
    if (tlsMode() == TlsMode::StartTls)
        upgradeToTls();
    requestUtf8();
    authenticate(greeting, token);
    ReadStat();
}

void TmsCustomPOP::upgradeToTls()
{
    if (!hasCapability(QStringLiteral("STLS")))
        raiseTlsError(QStringLiteral("The server %1 does not offer STARTTLS (STLS), so the password was not sent. "
                                     "Choose SSL/TLS or None for this mailbox.")
                          .arg(hostPart()));
    command(QStringLiteral("STLS"));
    clearCapabilities();
    StartTls();
    // What the server said before the handshake may have been forged.
    ReadCapabilities();
}

void TmsCustomPOP::clearCapabilities()
{
    m_capabilities.clear();
    m_saslMechanisms.clear();
    m_capaAnswered = false;
}

void TmsCustomPOP::ReadCapabilities()
{
    clearCapabilities();
    SendCommand(QStringLiteral("CAPA"));
    if (ReadReply() != 1)
        return; // a server from before CAPA: one command at a time
    m_capaAnswered = true;
    QByteArray data;
    ReceiveData(data, -1, MaxCapabilities, MaxCapabilities);
    for (const QByteArray &line : data.split('\n')) {
        const QList<QByteArray> words = line.simplified().toUpper().split(' ');
        const QByteArray &name = words.first();
        if (name.isEmpty() || name == ".")
            continue;
        m_capabilities << QString::fromLatin1(name);
        if (name == "SASL") {
            for (const QByteArray &mechanism : words.mid(1))
                m_saslMechanisms << QString::fromLatin1(mechanism);
        }
    }
}

void TmsCustomPOP::requestUtf8()
{
    // RFC 6856 allows UTF8 only before the sign-in; headers then arrive as
    // UTF-8 also from servers that would otherwise hide such messages.
    if (!hasCapability(QStringLiteral("UTF8")))
        return;
    SendCommand(QStringLiteral("UTF8"));
    ReadReply();
}

void TmsCustomPOP::authenticate(const QString &greeting, const QString &token)
{
    switch (authMethod()) {
    case AuthMethod::UserPass:
        signInWithPassword();
        return;
    case AuthMethod::SaslPlain:
        signInWithSaslPlain();
        return;
    case AuthMethod::Apop:
        signInWithApop(greeting);
        return;
    case AuthMethod::OAuth2:
        signInWithAccessToken(token);
        return;
    }
}

void TmsCustomPOP::signInWithPassword()
{
    requirePrivateChannel(QStringLiteral("password"));
    // Some servers refuse the user name already; that is the same refusal.
    SendCommand(QStringLiteral("USER ") + userName());
    ReadReply();
    requireAccepted(QStringLiteral("the password"));
    SendCommand(QStringLiteral("PASS ") + password());
    ReadReply();
    requireAccepted(QStringLiteral("the password"));
}

void TmsCustomPOP::signInWithSaslPlain()
{
    requirePrivateChannel(QStringLiteral("password"));
    chooseSaslMechanism({QStringLiteral("PLAIN")}, QStringLiteral("SASL PLAIN"));
    runSasl(saslPlain(userName(), password()));
    requireAccepted(QStringLiteral("the password"));
}

void TmsCustomPOP::signInWithApop(const QString &greeting)
{
    const QString timestamp = apopTimestamp(greeting);
    if (timestamp.isEmpty())
        raiseSocketErrorText(QStringLiteral("The server at %1 does not offer APOP: its greeting carries no timestamp. "
                                            "Choose another sign-in for this mailbox.")
                                 .arg(serverAddress()));
    SendCommand(QStringLiteral("APOP ") + userName() + QLatin1Char(' ')
                + QString::fromLatin1(apopDigest(timestamp, password())));
    ReadReply();
    requireAccepted(QStringLiteral("the password"));
}

void TmsCustomPOP::signInWithAccessToken(const QString &token)
{
    const QString status = runSasl(oauthMechanism(token));
    requireAccepted(QStringLiteral("the access token"), status);
}

QString TmsCustomPOP::runSasl(const SaslMechanism &mechanism)
{
    const QString command = QStringLiteral("AUTH ") + mechanism.name;
    const QString response = QString::fromLatin1(mechanism.response.toBase64());
    const QString withResponse = command + QLatin1Char(' ') + response;
    if (withResponse.size() + 2 <= MaxPop3CommandLine) {
        SendCommand(withResponse);
    } else {
        // Too long for one command line: the response follows the server's
        // empty challenge on a line of its own.
        SendCommand(command);
        ReadReply();
        if (!isChallenge(lastReply()))
            return {};
        if (!challengeData(lastReply()).isEmpty())
            cancelSasl(mechanism.name, lastReply());
        SendCommand(response);
    }
    ReadReply();
    if (!isChallenge(lastReply()))
        return {};
    // After a client-first message only an error report may come back; it
    // is answered as the mechanism says, and the server then fails.
    if (!mechanism.errorChallengeAnswer)
        cancelSasl(mechanism.name, lastReply());
    const QString status = oauthErrorStatus(challengeData(lastReply()));
    SendCommand(QString::fromLatin1(mechanism.errorChallengeAnswer->toBase64()));
    ReadReply();
    if (isChallenge(lastReply()))
        cancelSasl(mechanism.name, lastReply());
    return status;
}

void TmsCustomPOP::cancelSasl(const QString &mechanism, const QString &challenge)
{
    SendCommand(QStringLiteral("*"));
    ReadReply();
    invalidReply(QStringLiteral("AUTH ") + mechanism, challenge);
}

void TmsCustomPOP::requireAccepted(const QString &what, const QString &status) const
{
    if (ReplyCode(lastReply()) != 1)
        refuseSignIn(what, lastReply(), status);
}

int TmsCustomPOP::window() const
{
    return m_pipeliningAllowed && hasCapability(QStringLiteral("PIPELINING")) ? PipelineWindow : 1;
}

void TmsCustomPOP::sendAhead(PipelinedCommand command)
{
    SendCommand(command.line);
    m_replyReaders.push_back(std::move(command.readReply));
}

void TmsCustomPOP::exchange(const CommandSource &source)
{
    const std::size_t window = static_cast<std::size_t>(this->window());
    std::deque<PipelinedCommand> pending;
    bool exhausted = false;
    for (;;) {
        QStringList batch;
        while (m_replyReaders.size() < window) {
            if (pending.empty() && !exhausted)
                exhausted = !source(pending);
            if (pending.empty())
                break;
            if (!pending.front().line.isEmpty())
                batch << pending.front().line;
            m_replyReaders.push_back(std::move(pending.front().readReply));
            pending.pop_front();
        }
        if (!batch.isEmpty())
            SendCommands(batch);
        if (m_replyReaders.empty())
            return;
        const std::function<void()> readReply = std::move(m_replyReaders.front());
        m_replyReaders.pop_front();
        readReply();
    }
}

void TmsCustomPOP::appendFetch(std::deque<PipelinedCommand> &commands, int i,
                               const std::shared_ptr<TmsRemoteInfoItem> &item, std::function<void()> done)
{
    const QString number = QString::number(i + 1);
    commands.push_back({QStringLiteral("LIST ") + number, [this, i, item] {
                            requireOk();
                            item->Size = listedSize(i + 1);
                        }});
    commands.push_back({QStringLiteral("TOP ") + number + QStringLiteral(" 1"), [this, item, done = std::move(done)] {
                            requireOk();
                            QByteArray data;
                            ReceiveData(data, -1, MaxHeaderBlock, MaxHeaderBlockRead);
                            takeHeaders(*item, data);
                            done();
                        }});
}

std::optional<QHash<int, QByteArray>> TmsCustomPOP::readListing(const QString &command)
{
    SendCommand(command);
    if (ReadReply() != 1)
        return std::nullopt;
    // Memory follows the lines the server sends, not the count it claims.
    const qint64 most = (qint64(MessageCount()) + 1) * MaxListingLine;
    QByteArray data;
    ReceiveData(data, -1, most, most);
    QHash<int, QByteArray> words;
    for (const QByteArray &line : data.split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.first().isEmpty() || parts.first() == ".")
            continue;
        bool ok = false;
        const int number = parts.first().toInt(&ok);
        if (!ok || number < 1 || number > MessageCount() || parts.size() < 2 || words.contains(number))
            invalidReply(command, QString::fromLatin1(line.trimmed()));
        words.insert(number, parts[1]);
    }
    return words;
}

std::optional<QHash<int, QByteArray>> TmsCustomPOP::readUidls()
{
    if (m_capaAnswered && !hasCapability(QStringLiteral("UIDL")))
        return std::nullopt;
    return readListing(QStringLiteral("UIDL"));
}

QHash<QByteArray, int> TmsCustomPOP::numbersByUidl(const QHash<int, QByteArray> &uidls)
{
    QHash<QByteArray, int> numbers;
    for (auto it = uidls.cbegin(); it != uidls.cend(); ++it)
        numbers[it.value()] = numbers.contains(it.value()) ? 0 : it.key();
    return numbers;
}

void TmsCustomPOP::Logout()
{
    command(QStringLiteral("QUIT"));
}

void TmsCustomPOP::quitSession()
{
    Logout();
    Close();
}

std::optional<QStringList> TmsCustomPOP::offeredSaslMechanisms() const
{
    if (!m_capaAnswered)
        return std::nullopt;
    return m_saslMechanisms;
}

void TmsCustomPOP::abandonSession()
{
    m_replyReaders.clear();
    if (Connected())
        Close();
}

void TmsCustomPOP::ReadStat()
{
    command(QStringLiteral("STAT"));
    const QStringList words = replyWords(lastReply());
    const qint64 count = octetCount(words.value(0));
    if (count < 0 || count > std::numeric_limits<int>::max())
        invalidReply(QStringLiteral("STAT"), lastReply());
    setMessageCount(static_cast<int>(count));
    // Nothing reads the mailbox's size, so a server that leaves it out or
    // garbles it is still checked; the size is unknown then.
    m_mailboxSize = octetCount(words.value(1));
}

qint64 TmsCustomPOP::listedSize(int number) const
{
    // "+OK n size"; some servers leave out the number and send the size
    // alone, and that is read as the size.
    const QStringList words = replyWords(lastReply());
    const bool numbered = words.size() > 1;
    const qint64 size = octetCount(words.value(numbered ? 1 : 0));
    if ((numbered && words.first() != QString::number(number)) || size < 0)
        invalidReply(QStringLiteral("LIST ") + QString::number(number), lastReply());
    return size;
}

TmsRemotePOP::TmsRemotePOP(QObject *parent) : TmsCustomPOP(parent)
{
}

void TmsRemotePOP::UpdateInfo()
{
    const OperationClaim claim(*this);
    guarded([this] {
        ConnectIfNeeded();
        if (OnUpdatingInfo)
            OnUpdatingInfo();
        Info().Clear();
        const std::optional<QHash<int, QByteArray>> uidls = headerCache() ? readUidls() : std::nullopt;
        const QHash<QByteArray, int> numbers = uidls ? numbersByUidl(*uidls) : QHash<QByteArray, int>();
        // A size other than the one kept: the server gave the UIDL to
        // another message.
        QHash<int, QByteArray> sizes;
        if (uidls) {
            std::optional<QHash<int, QByteArray>> listed = readListing(QStringLiteral("LIST"));
            if (!listed)
                throw EServerError(printableText(lastReply()));
            sizes = std::move(*listed);
        }
        // The commands are made as the window takes them: the count is
        // the server's claim, and only its replies back it.
        int next = 0;
        exchange([&](std::deque<PipelinedCommand> &commands) {
            if (next >= MessageCount())
                return false;
            const int i = next++;
            QByteArray identity = uidls ? uidls->value(i + 1) : QByteArray();
            if (numbers.value(identity) != i + 1)
                identity.clear();
            if (std::optional<TmsRemoteInfoItem> row = cachedRow(identity, sizes.value(i + 1))) {
                commands.push_back({QString(), [this, row = std::move(*row)] { addRow(row); }});
                return true;
            }
            auto item = std::make_shared<TmsRemoteInfoItem>();
            item->Identity = identity;
            appendFetch(commands, i, item, [this, item] { addRow(std::move(*item)); });
            return true;
        });
        quitSession();
    });
    if (OnInfoUpdated)
        OnInfoUpdated();
}

std::optional<TmsRemoteInfoItem> TmsRemotePOP::cachedRow(const QByteArray &identity, const QByteArray &listedSize)
{
    if (identity.isEmpty())
        return std::nullopt;
    const std::optional<CachedHeader> cached = headerCache()->find(identity);
    if (!cached || QByteArray::number(cached->size) != listedSize)
        return std::nullopt;
    return cachedItem(identity, *cached);
}

void TmsRemotePOP::ProcessMarks()
{
    const OperationClaim claim(*this);
    setCommitted(false);
    m_deleteAccepted.clear();
    for (int i = 0; i < Info().Count(); ++i)
        Info().Items(i).Deleted = false;
    if (Info().Count() == 0)
        return;
    // Without QUIT the server rolls back every DELE of this session.
    guarded([this] {
        ConnectIfNeeded();
        if (OnTransferringData)
            OnTransferringData();
        const std::vector<int> proven = provenNumbers();
        int next = 0;
        exchange([this, &next, &proven](std::deque<PipelinedCommand> &commands) {
            for (; next < Info().Count() && commands.empty(); ++next) {
                const int i = next;
                const int number = proven[i];
                if (Info().Items(i).RetrieveMark) {
                    if (number == 0)
                        RecheckMessage(commands, i, [] {});
                    RetrieveMessage(commands, i, number == 0 ? i + 1 : number);
                }
                if (Info().Items(i).DeleteMark) {
                    // DELE goes out only once the message proved to be the one listed.
                    if (number == 0)
                        RecheckMessage(commands, i, [this, i] { DeleteMessage(i, i + 1); });
                    else
                        commands.push_back({QString(), [this, i, number] { DeleteMessage(i, number); }});
                }
            }
            return !commands.empty();
        });
        if (OnDataTransfered)
            OnDataTransfered();
        quitSession();
    });
    setCommitted(true);
    for (const int i : m_deleteAccepted)
        Info().Items(i).Deleted = true;
}

std::vector<int> TmsRemotePOP::provenNumbers()
{
    std::vector<int> numbers(Info().Count(), 0);
    const auto identified = [this](int i) {
        const TmsRemoteInfoItem &item = Info().Items(i);
        return (item.DeleteMark || item.RetrieveMark) && !item.Identity.isEmpty();
    };
    bool any = false;
    for (int i = 0; i < Info().Count() && !any; ++i)
        any = identified(i);
    if (!any)
        return numbers;
    const std::optional<QHash<int, QByteArray>> uidls = readUidls();
    if (!uidls)
        return numbers;
    const QHash<QByteArray, int> numberOf = numbersByUidl(*uidls);
    for (int i = 0; i < Info().Count(); ++i) {
        if (!identified(i))
            continue;
        const auto found = numberOf.constFind(Info().Items(i).Identity);
        if (found == numberOf.cend())
            throw EMailboxChangedError();
        numbers[i] = *found;
    }
    return numbers;
}

void TmsRemotePOP::RecheckMessage(std::deque<PipelinedCommand> &commands, int i, std::function<void()> checked)
{
    auto current = std::make_shared<TmsRemoteInfoItem>();
    appendFetch(commands, i, current, [this, i, current, checked = std::move(checked)] {
        const TmsRemoteInfoItem &listed = Info().Items(i);
        if (current->Size != listed.Size || current->Headers != headersOf(i))
            throw EMailboxChangedError();
        checked();
    });
}

void TmsRemotePOP::RetrieveMessage(std::deque<PipelinedCommand> &commands, int i, int number)
{
    const QString numberText = QString::number(number);
    auto expected = std::make_shared<qint64>(0);
    commands.push_back({QStringLiteral("LIST ") + numberText, [this, i, number, expected] {
                            requireOk();
                            *expected = listedSize(number);
                            if (OnRetrieving)
                                OnRetrieving(i);
                        }});
    commands.push_back({QStringLiteral("RETR ") + numberText, [this, i, expected] {
                            requireOk();
                            SaveMessage(i, *expected);
                            if (OnRetrieved)
                                OnRetrieved(i);
                        }});
}

void TmsRemotePOP::DeleteMessage(int i, int number)
{
    if (OnDeleting)
        OnDeleting(i);
    sendAhead({QStringLiteral("DELE ") + QString::number(number), [this, i] {
                   // A refused DELE leaves that message alone; the pass goes on.
                   if (ReadReply() == 1)
                       m_deleteAccepted.push_back(i);
               }});
}

void TmsRemotePOP::SaveMessage(int index, qint64 expected)
{
    saveRetrievedMessage(index, [this, expected](QIODevice &device) { ReceiveData(device, expected); });
}
