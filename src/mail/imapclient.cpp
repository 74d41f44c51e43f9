#include "mail/imapclient.h"

#include "mail/imapfoldername.h"
#include "mail/mailerrors.h"
#include "mail/printabletext.h"

#include <QIODevice>
#include <QScopedValueRollback>
#include <QSet>
#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <utility>

namespace {

constexpr qint64 MaxUid = std::numeric_limits<quint32>::max();

QString quotedLine(const QByteArray &line)
{
    return QLatin1Char('"') + RemoteMailbox::shortenedReply(QString::fromUtf8(line)) + QLatin1Char('"');
}

// A quoted string (RFC 3501 9: quoted-specials escaped) of 7-bit text.
QString quotedString(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The verb of a command text, for error texts: never its arguments, which
// may hold a password.
QString verbOf(const QString &command)
{
    return command.section(QLatin1Char(' '), 0, command.startsWith(QLatin1String("UID ")) ? 1 : 0);
}

bool sameFolder(const QByteArray &a, const QByteArray &b)
{
    // INBOX is the one name without letter case (RFC 3501 5.1).
    if (a.compare("INBOX", Qt::CaseInsensitive) == 0)
        return b.compare("INBOX", Qt::CaseInsensitive) == 0;
    return a == b;
}

// The FETCH data of a response, null for any other response.
const ImapValue *fetchData(const ImapResponse &response)
{
    if (response.name != "FETCH" || response.values.empty() || !response.values.front().isList())
        return nullptr;
    return &response.values.front();
}

qint64 fetchedUid(const ImapResponse &response, const ImapValue &data)
{
    const ImapValue *uid = data.valueAfter("UID");
    if (!uid)
        return -1;
    const qint64 value = uid->number();
    if (value <= 0 || value > MaxUid)
        throw EProtocolError(QStringLiteral("The server sent an invalid UID: %1").arg(quotedLine(response.line)));
    return value;
}

// UIDs as runs of consecutive ones: first and last.
using UidRuns = std::vector<std::pair<quint32, quint32>>;

// The runs in ascending order, each UID once, touching runs joined.
void normalize(UidRuns &runs)
{
    std::sort(runs.begin(), runs.end());
    UidRuns joined;
    for (const auto &run : runs) {
        if (!joined.empty() && qint64(run.first) <= qint64(joined.back().second) + 1)
            joined.back().second = std::max(joined.back().second, run.second);
        else
            joined.push_back(run);
    }
    runs = std::move(joined);
}

// Normalized runs as a set for a command.
QString setText(const UidRuns &runs)
{
    QStringList parts;
    for (const auto &[first, last] : runs)
        parts << (first == last ? QString::number(first) : QStringLiteral("%1:%2").arg(first).arg(last));
    return parts.join(QLatin1Char(','));
}

bool inRuns(const UidRuns &runs, quint32 uid)
{
    const auto after = std::upper_bound(runs.cbegin(), runs.cend(), uid,
                                        [](quint32 value, const auto &run) { return value < run.first; });
    return after != runs.cbegin() && uid <= std::prev(after)->second;
}

// The first count UIDs of normalized runs.
void keepFirst(UidRuns &runs, qint64 count)
{
    for (auto run = runs.begin(); run != runs.end(); ++run) {
        const qint64 size = qint64(run->second) - run->first + 1;
        if (size >= count) {
            run->second = static_cast<quint32>(run->first + count - 1);
            runs.erase(count > 0 ? std::next(run) : run, runs.end());
            return;
        }
        count -= size;
    }
}

// The UIDs as a set for a command: ranges only of consecutive UIDs.
QString uidSetText(const std::vector<quint32> &uids)
{
    UidRuns runs;
    for (const quint32 uid : uids)
        runs.emplace_back(uid, uid);
    normalize(runs);
    return setText(runs);
}

// A UID as the server wrote it; 0 when the text is none.
quint32 uidOf(const QByteArray &text)
{
    const bool digits = !text.isEmpty() && text.size() <= 10
                        && std::all_of(text.cbegin(), text.cend(), [](char c) { return c >= '0' && c <= '9'; });
    const qint64 value = digits ? text.toLongLong() : 0;
    return value <= MaxUid ? static_cast<quint32>(value) : 0;
}

// The UIDs of a set the server sent ("5:6,9") when it names exactly count
// of them; a set that names more is not expanded.
std::optional<std::vector<quint32>> uidsInSet(const QByteArray &set, std::size_t count)
{
    std::vector<quint32> uids;
    for (const QByteArray &part : set.split(',')) {
        const QList<QByteArray> ends = part.split(':');
        const quint32 first = ends.size() <= 2 ? uidOf(ends.first()) : 0;
        const quint32 last = uidOf(ends.last());
        if (first == 0 || last == 0)
            return std::nullopt;
        const auto [low, high] = std::minmax(first, last);
        if (qint64(high) - low + 1 > qint64(count - uids.size()))
            return std::nullopt;
        for (qint64 uid = low; uid <= high; ++uid)
            uids.push_back(static_cast<quint32>(uid));
    }
    if (uids.size() != count)
        return std::nullopt;
    return uids;
}

// Adds the runs of a set the server sent ("1:3,7"); false when it is no
// set of UIDs.
bool addUidSet(UidRuns &runs, const QByteArray &set)
{
    for (const QByteArray &part : set.split(',')) {
        const QList<QByteArray> ends = part.split(':');
        const quint32 first = ends.size() <= 2 ? uidOf(ends.first()) : 0;
        const quint32 last = uidOf(ends.last());
        if (first == 0 || last == 0)
            return false;
        runs.push_back(std::minmax(first, last));
    }
    return true;
}

// error with note added to its text, of the same kind where a removal can
// end with that kind.
[[noreturn]] void throwWithNote(const EMailsieveError &error, const QString &note)
{
    const QString text = error.message() + QLatin1Char(' ') + note;
    if (dynamic_cast<const EServerError *>(&error))
        throw EServerError(text);
    if (dynamic_cast<const EProtocolError *>(&error))
        throw EProtocolError(text);
    if (dynamic_cast<const ETimedOutError *>(&error))
        throw ETimedOutError(text);
    if (dynamic_cast<const ECanceledError *>(&error))
        throw ECanceledError(text);
    throw ESocketError(text);
}

} // namespace

// Lines and literals straight from the socket. A line starts a reply's
// time only when the client says so (a command sent, a new row in), so a
// server that sends untagged noise and nothing else runs out of time.
class ImapClient::SocketInput : public ImapInput
{
public:
    SocketInput(ImapClient &client, qsizetype lineLimit) : m_client(client), m_lineLimit(lineLimit) {}

    QByteArray readLine() override
    {
        return m_client.ReadRawLine(std::exchange(m_client.m_replyStarts, false), m_lineLimit);
    }
    void readLiteral(qint64 size, const std::function<void(const QByteArray &)> &take) override
    {
        m_client.ReceiveExactly(size, take);
    }

private:
    ImapClient &m_client;
    qsizetype m_lineLimit;
};

ImapClient::ImapClient(QObject *parent)
    : RemoteMailbox({QStringLiteral("imap"), 143, QStringLiteral("imaps"), 993}, parent)
{
    OnInputPending = [this] { readIdleInput(); };
}

bool ImapClient::hasCapability(const QString &name) const
{
    return m_capabilities.contains(name.toUpper());
}

void ImapClient::CheckProperties()
{
    if (authMethod() == AuthMethod::Apop)
        raiseSocketErrorText(QStringLiteral("APOP is a POP3 sign-in; choose another for this IMAP mailbox"));
    RemoteMailbox::CheckProperties();
    if (m_folder.isEmpty())
        raiseSocketErrorText(QStringLiteral("The folder to check is required"));
    for (const QString &name : {m_folder, m_junkFolder}) {
        if (breaksCommandLine(name))
            raiseSocketErrorText(QStringLiteral("The folder name must not contain line breaks or NUL characters"));
    }
}

void ImapClient::Open()
{
    CheckProperties();
    ResetState();
    RemoteMailbox::Open();
}

// --- The exchange ------------------------------------------------------

ImapResponse ImapClient::nextResponse(const Command *command)
{
    SocketInput input(*this, command ? command->lineLimit : MaxReplyLine);
    ImapResponseReader reader(input);
    if (command)
        reader.literalTarget = command->literalTarget;
    return reader.next();
}

ImapResponse ImapClient::exchange(const Command &command)
{
    return awaitTagged(sendTagged(command.text), command);
}

QByteArray ImapClient::sendTagged(const QString &text)
{
    const QByteArray tag = "a" + QByteArray::number(m_nextTag++);
    SendCommand(QString::fromLatin1(tag) + QLatin1Char(' ') + text);
    m_replyStarts = true;
    return tag;
}

ImapResponse ImapClient::awaitTagged(const QByteArray &tag, const Command &command)
{
    qsizetype continued = 0;
    for (;;) {
        const ImapResponse response = nextResponse(&command);
        switch (response.kind) {
        case ImapResponse::Kind::Untagged:
            note(response);
            if (command.untagged)
                command.untagged(response);
            break;
        case ImapResponse::Kind::Continuation:
            if (command.untilContinued)
                return response;
            if (continued < command.continued.size())
                SendCommand(command.continued.at(continued++));
            else if (command.answerChallenge)
                SendCommand(command.answerChallenge(response));
            else
                throw EProtocolError(QStringLiteral("The server asked for more of %1, which was complete: %2")
                                         .arg(verbOf(command.text), quotedLine(response.line)));
            m_replyStarts = true;
            break;
        case ImapResponse::Kind::Tagged:
            if (response.tag != tag)
                throw EProtocolError(
                    QStringLiteral("The server answered a command it was not sent: %1").arg(quotedLine(response.line)));
            if (response.code == "CAPABILITY")
                noteCapabilities(response.codeArguments);
            return response;
        }
    }
}

ImapResponse ImapClient::run(const Command &command)
{
    return accepted(command, exchange(command));
}

ImapResponse ImapClient::accepted(const Command &command, const ImapResponse &response)
{
    if (response.name == "OK")
        return response;
    if (response.name == "NO")
        throw EServerError(
            QStringLiteral("The server refused %1: %2").arg(verbOf(command.text), quotedLine(response.line)));
    throw EProtocolError(
        QStringLiteral("The server did not accept %1: %2").arg(verbOf(command.text), quotedLine(response.line)));
}

void ImapClient::note(const ImapResponse &response)
{
    if (response.name == "CAPABILITY")
        noteCapabilities(response.values);
    else if (response.code == "CAPABILITY")
        noteCapabilities(response.codeArguments);
    else if (response.name == "EXISTS")
        m_exists = response.number;
    else if (response.code == "UIDVALIDITY" && !response.codeArguments.empty())
        m_folderUidValidity = response.codeArguments.front().number();
}

void ImapClient::noteCapabilities(const std::vector<ImapValue> &names)
{
    if (names.size() > MaxCapabilities)
        throw EProtocolError(QStringLiteral("The server listed more than %1 capabilities").arg(MaxCapabilities));
    m_capabilities.clear();
    for (const ImapValue &name : names) {
        if (name.isAtom())
            m_capabilities << QString::fromLatin1(name.text.toUpper());
    }
}

// --- Signing in --------------------------------------------------------

void ImapClient::Login()
{
    ResetState();
    m_capabilities.clear();
    m_nextTag = 1;
    m_exists = -1;
    m_folderUidValidity = -1;
    m_preauthenticated = false;
    const QString token = authMethod() == AuthMethod::OAuth2 ? freshAccessToken() : QString();
    Connect();
    readGreeting();
    if (tlsMode() == TlsMode::StartTls)
        upgradeToTls();
    if (m_capabilities.isEmpty())
        askCapabilities();
    if (m_preauthenticated)
        return;
    // Capabilities may grow with the sign-in (RFC 3501 6.2.3).
    if (authenticate(token).code != "CAPABILITY")
        askCapabilities();
}

void ImapClient::readGreeting()
{
    m_replyStarts = true;
    const ImapResponse greeting = nextResponse();
    if (greeting.kind != ImapResponse::Kind::Untagged || !greeting.isStatus())
        throw EProtocolError(QStringLiteral("The server's greeting is not valid: %1").arg(quotedLine(greeting.line)));
    if (greeting.name == "BYE")
        throw EServerError(QStringLiteral("The server at %1 turned the connection away: %2")
                               .arg(serverAddress(), quotedLine(greeting.line)));
    if (greeting.name != "OK" && greeting.name != "PREAUTH")
        throw EProtocolError(QStringLiteral("The server's greeting is not valid: %1").arg(quotedLine(greeting.line)));
    m_preauthenticated = greeting.name == "PREAUTH";
    note(greeting);
}

void ImapClient::askCapabilities()
{
    m_capabilities.clear();
    run({QStringLiteral("CAPABILITY")});
}

void ImapClient::upgradeToTls()
{
    if (m_preauthenticated)
        raiseTlsError(QStringLiteral("The server %1 signed in before STARTTLS, so the session cannot be protected. "
                                     "Choose SSL/TLS for this mailbox.")
                          .arg(hostPart()));
    if (m_capabilities.isEmpty())
        askCapabilities();
    if (!hasCapability(QStringLiteral("STARTTLS")))
        raiseTlsError(QStringLiteral("The server %1 does not offer STARTTLS, so the password was not sent. "
                                     "Choose SSL/TLS or None for this mailbox.")
                          .arg(hostPart()));
    run({QStringLiteral("STARTTLS")});
    // What the server said before the handshake may have been forged.
    m_capabilities.clear();
    StartTls();
    askCapabilities();
}

ImapResponse ImapClient::authenticate(const QString &token)
{
    switch (authMethod()) {
    case AuthMethod::UserPass:
        return signInWithLogin();
    case AuthMethod::SaslPlain:
        requirePrivateChannel(QStringLiteral("password"));
        chooseSaslMechanism({QStringLiteral("PLAIN")}, QStringLiteral("SASL PLAIN"));
        return signInWithSasl(saslPlain(userName(), password()), QStringLiteral("the password"));
    case AuthMethod::OAuth2:
        return signInWithSasl(oauthMechanism(token), QStringLiteral("the access token"));
    case AuthMethod::Apop:
        break; // refused by CheckProperties
    }
    raiseSocketErrorText(QStringLiteral("APOP is a POP3 sign-in; choose another for this IMAP mailbox"));
}

ImapResponse ImapClient::signInWithLogin()
{
    requirePrivateChannel(QStringLiteral("password"));
    if (hasCapability(QStringLiteral("LOGINDISABLED")))
        raiseSocketErrorText(QStringLiteral("The server at %1 does not accept LOGIN (LOGINDISABLED), so the password "
                                            "was not sent. Choose SSL/TLS or STARTTLS, or the sign-in \"Password "
                                            "(SASL PLAIN)\", for this mailbox.")
                                 .arg(serverAddress()));
    QStringList lines{QStringLiteral("LOGIN ")};
    appendString(lines, userName());
    lines.last() += QLatin1Char(' ');
    appendString(lines, password());
    const ImapResponse response = exchange({lines.first(), lines.mid(1)});
    if (response.name != "OK")
        refuseSignIn(QStringLiteral("the password"), QString::fromUtf8(response.line));
    return response;
}

void ImapClient::appendString(QStringList &lines, const QString &value)
{
    const bool quotable = std::all_of(value.cbegin(), value.cend(), [](QChar c) {
        return c.unicode() > 0 && c.unicode() < 0x80 && c != QLatin1Char('\r') && c != QLatin1Char('\n');
    });
    if (quotable) {
        lines.last() += quotedString(value);
        return;
    }
    // Eight-bit text travels as a literal: its octets are counted, and the
    // server asks for them with a continuation request.
    lines.last() += QStringLiteral("{%1}").arg(value.toUtf8().size());
    lines << value;
}

std::optional<QStringList> ImapClient::offeredSaslMechanisms() const
{
    QStringList offered;
    for (const QString &capability : m_capabilities) {
        if (capability.startsWith(QLatin1String("AUTH=")))
            offered << capability.mid(5);
    }
    return offered;
}

ImapResponse ImapClient::signInWithSasl(const SaslMechanism &mechanism, const QString &what)
{
    const QString response = QString::fromLatin1(mechanism.response.toBase64());
    Command command{QStringLiteral("AUTHENTICATE ") + mechanism.name};
    // RFC 4959: the response on the command line saves a round trip.
    if (hasCapability(QStringLiteral("SASL-IR")))
        command.text += QLatin1Char(' ') + response;
    else
        command.continued << response;
    // After a client-first message only an error report may come back; it
    // is answered as the mechanism says, and the server then fails.
    QString status;
    bool answered = false;
    bool cancelled = false;
    command.answerChallenge = [&](const ImapResponse &challenge) {
        if (mechanism.errorChallengeAnswer && !answered) {
            answered = true;
            status = oauthErrorStatus(challenge.text.trimmed());
            return QString::fromLatin1(mechanism.errorChallengeAnswer->toBase64());
        }
        cancelled = true;
        return QStringLiteral("*");
    };
    const ImapResponse result = exchange(command);
    if (cancelled)
        throw EProtocolError(QStringLiteral("The server's reply to AUTHENTICATE %1 is not valid: %2")
                                 .arg(mechanism.name, quotedLine(result.line)));
    if (result.name != "OK")
        refuseSignIn(what, QString::fromUtf8(result.line), status);
    return result;
}

void ImapClient::Logout()
{
    // The server says BYE and then confirms; BYE is enough, as some close
    // the connection right after it.
    SendCommand(QStringLiteral("a%1 LOGOUT").arg(m_nextTag++));
    m_replyStarts = true;
    for (;;) {
        const ImapResponse response = nextResponse();
        if (response.kind == ImapResponse::Kind::Tagged || response.name == "BYE")
            return;
    }
}

void ImapClient::endSession()
{
    try {
        Logout();
    } catch (const EMailsieveError &) {
        // Nothing waits for LOGOUT: what the session did is done.
    }
    abandonSession();
}

void ImapClient::abandonSession()
{
    m_idling = false;
    m_listening = false;
    if (Connected())
        Close();
}

// --- Listing -------------------------------------------------------------

QString ImapClient::folderArgument(const QByteArray &wire)
{
    const QString name = printableText(decodeFolderName(wire));
    if (wire.contains('\r') || wire.contains('\n') || wire.contains('\0'))
        raiseSocketErrorText(QStringLiteral("The server at %1 names the folder \"%2\" with a line break or NUL "
                                            "character, which no command may carry. Choose another folder for "
                                            "spam in this mailbox.")
                                 .arg(serverAddress(), name));
    const QString text = QString::fromUtf8(wire);
    if (text.toUtf8() != wire)
        raiseSocketErrorText(QStringLiteral("The server at %1 names the folder \"%2\" in bytes that are not UTF-8, "
                                            "so it cannot be named back as it was. Choose another folder for spam "
                                            "in this mailbox.")
                                 .arg(serverAddress(), name));
    return text;
}

ImapClient::Command ImapClient::folderCommand(const QString &text, const QByteArray &wire)
{
    QStringList lines{text + QLatin1Char(' ')};
    appendString(lines, folderArgument(wire));
    return {lines.first(), lines.mid(1)};
}

ImapResponse ImapClient::openFolder(const QByteArray &wire, bool readOnly)
{
    m_exists = -1;
    m_folderUidValidity = -1;
    const ImapResponse response =
        run(folderCommand(readOnly ? QStringLiteral("EXAMINE") : QStringLiteral("SELECT"), wire));
    // Without UIDVALIDITY no UID can be trusted to name the same message later.
    if (m_folderUidValidity <= 0 || m_folderUidValidity > MaxUid)
        throw EProtocolError(QStringLiteral("The server gave no valid UIDVALIDITY for the folder %1")
                                 .arg(printableText(decodeFolderName(wire))));
    if (m_exists < 0 || m_exists > std::numeric_limits<int>::max())
        throw EProtocolError(QStringLiteral("The server gave no valid message count for the folder %1")
                                 .arg(printableText(decodeFolderName(wire))));
    return response;
}

void ImapClient::UpdateInfo()
{
    const OperationClaim claim(*this);
    guarded([this] {
        ConnectIfNeeded();
        if (OnUpdatingInfo)
            OnUpdatingInfo();
        Info().Clear();
        openFolder(encodeFolderName(m_folder), true);
        m_uidValidity = static_cast<quint32>(m_folderUidValidity);
        setMessageCount(static_cast<int>(m_exists));
        // Another UIDVALIDITY drops what the cache kept of the folder.
        const quint32 highest = headerCache() ? headerCache()->highestUid(m_uidValidity) : 0;
        // What arrives during the listing is the next check's: the rows are
        // bounded by the count the folder had when they were asked for.
        const qint64 folderSize = m_exists;
        if (folderSize > 0 && highest > 0) {
            listWithCache(highest, folderSize);
        } else if (folderSize > 0) {
            const auto wanted = [this, folderSize](quint32) {
                if (Info().Count() >= folderSize)
                    throw EProtocolError(QStringLiteral("The server sent more messages than the folder held when "
                                                        "they were asked for (%1)")
                                             .arg(folderSize));
                return true;
            };
            fetchRows(QStringLiteral("1:*"), wanted, [this](TmsRemoteInfoItem item) { addRow(std::move(item)); });
        }
        endSession();
    });
    if (OnInfoUpdated)
        OnInfoUpdated();
}

ImapLiteralTarget ImapClient::headerLiteralTarget(const QByteArray &label, qint64)
{
    if (label == "BODY[HEADER]")
        return ImapLiteralTarget{MaxHeaderBlock, MaxHeaderBlockRead};
    return ImapLiteralTarget{ImapResponseReader::DefaultLiteralKeep, ImapResponseReader::DefaultLiteralMost};
}

QList<QByteArray> ImapClient::newestHeaderBlocks(const QString &folder, int count)
{
    const OperationClaim claim(*this);
    QList<QByteArray> blocks;
    guarded([&] {
        ConnectIfNeeded();
        const QString named = folder.isEmpty() ? m_junkFolder : folder;
        const QByteArray wire = named.isEmpty() ? findJunkFolder() : encodeFolderName(named);
        if (wire.isEmpty())
            raiseSocketErrorText(
                QStringLiteral("The server at %1 has no folder for spam (Junk).").arg(serverAddress()));
        folderArgument(wire);
        openFolder(wire, true);
        const qint64 exists = m_exists;
        const qint64 first = std::max<qint64>(1, exists - count + 1);
        if (exists > 0 && count > 0) {
            Command command{QStringLiteral("FETCH %1:%2 (BODY.PEEK[HEADER])").arg(first).arg(exists)};
            command.literalTarget = headerLiteralTarget;
            command.untagged = [&](const ImapResponse &response) {
                const ImapValue *data = fetchData(response);
                const ImapValue *header = data ? data->valueAfter("BODY[HEADER]") : nullptr;
                // No more than were asked for, whatever the server sends.
                if (header && blocks.size() < exists - first + 1)
                    blocks.append(header->stringValue());
            };
            run(command);
        }
        endSession();
    });
    return blocks;
}

void ImapClient::fetchRows(const QString &uids, const std::function<bool(quint32 uid)> &wanted,
                           const std::function<void(TmsRemoteInfoItem)> &take)
{
    QSet<qint64> listed;
    Command command{QStringLiteral("UID FETCH ") + uids + QStringLiteral(" (UID RFC822.SIZE BODY.PEEK[HEADER])")};
    command.literalTarget = headerLiteralTarget;
    command.untagged = [this, &listed, &wanted, &take](const ImapResponse &response) {
        const ImapValue *data = fetchData(response);
        if (!data)
            return;
        const ImapValue *size = data->valueAfter("RFC822.SIZE");
        const ImapValue *header = data->valueAfter("BODY[HEADER]");
        // Flag changes and the like come as FETCH responses of their own.
        if (!header)
            return;
        const qint64 uid = fetchedUid(response, *data);
        if (uid < 0 || !size || size->number() < 0)
            throw EProtocolError(QStringLiteral("The server sent a header block without its UID or size: %1")
                                     .arg(quotedLine(response.line)));
        if (listed.contains(uid) || !wanted(static_cast<quint32>(uid)))
            return;
        listed.insert(uid);
        TmsRemoteInfoItem item;
        item.Uid = static_cast<quint32>(uid);
        item.Size = size->number();
        if (headerCache())
            item.Identity = imapIdentity(m_uidValidity, item.Uid);
        takeHeaders(item, header->stringValue());
        take(std::move(item));
        m_replyStarts = true; // a new row is progress
    };
    run(command);
}

void ImapClient::listWithCache(quint32 highest, qint64 folderSize)
{
    const UidRuns listed = searchUids(folderSize);
    // A row from the cache waits only behind one still to be fetched before
    // it, so that the rows keep the folder's order.
    UidRuns missing;
    const auto fetchLater = [&missing](quint32 first, quint32 last) {
        if (!missing.empty() && qint64(missing.back().second) + 1 == first)
            missing.back().second = last;
        else
            missing.emplace_back(first, last);
    };
    std::vector<TmsRemoteInfoItem> held;
    for (const auto &[first, last] : listed) {
        for (qint64 uid = first; uid <= std::min<qint64>(last, highest); ++uid) {
            std::optional<TmsRemoteInfoItem> row = cachedRow(static_cast<quint32>(uid));
            if (!row)
                fetchLater(static_cast<quint32>(uid), static_cast<quint32>(uid));
            else if (missing.empty())
                addRow(std::move(*row));
            else
                held.push_back(std::move(*row));
        }
        if (last > highest)
            fetchLater(std::max<quint32>(first, highest + 1), last);
    }
    if (missing.empty())
        return;
    std::map<quint32, TmsRemoteInfoItem> fetched;
    fetchRows(
        setText(missing), [&missing](quint32 uid) { return inRuns(missing, uid); },
        [&fetched](TmsRemoteInfoItem item) {
            const quint32 uid = item.Uid;
            fetched.emplace(uid, std::move(item));
        });
    // A message gone since the search has no row.
    auto next = fetched.begin();
    for (TmsRemoteInfoItem &row : held) {
        for (; next != fetched.end() && next->first < row.Uid; ++next)
            addRow(std::move(next->second));
        addRow(std::move(row));
    }
    for (; next != fetched.end(); ++next)
        addRow(std::move(next->second));
}

ImapClient::UidRuns ImapClient::searchUids(qint64 folderSize)
{
    // RFC 4731: the UIDs as one compact set rather than each of them.
    const bool compact = hasCapability(QStringLiteral("ESEARCH"));
    Command command{compact ? QStringLiteral("UID SEARCH RETURN (ALL) ALL") : QStringLiteral("UID SEARCH ALL")};
    // Every UID of the folder may come on one line: up to ten digits and a
    // separator each.
    command.lineLimit = std::min<qint64>(MaxReplyLine + 11 * folderSize, MaxSearchLine);
    UidRuns runs;
    command.untagged = [&runs](const ImapResponse &response) {
        const auto invalid = [&response] {
            return EProtocolError(
                QStringLiteral("The server's search result is not valid: %1").arg(quotedLine(response.line)));
        };
        if (response.name == "SEARCH") {
            for (const ImapValue &value : response.values) {
                const quint32 uid = uidOf(value.stringValue());
                if (uid == 0)
                    throw invalid();
                runs.emplace_back(uid, uid);
            }
        } else if (response.name == "ESEARCH") {
            const std::vector<ImapValue> &values = response.values;
            const auto all = std::find_if(values.cbegin(), values.cend(),
                                          [](const ImapValue &value) { return value.isAtom("ALL"); });
            if (all != values.cend() && (std::next(all) == values.cend() || !addUidSet(runs, std::next(all)->text)))
                throw invalid();
        }
    };
    run(command);
    normalize(runs);
    keepFirst(runs, folderSize);
    return runs;
}

std::optional<TmsRemoteInfoItem> ImapClient::cachedRow(quint32 uid)
{
    const QByteArray identity = imapIdentity(m_uidValidity, uid);
    const std::optional<CachedHeader> cached = headerCache()->find(identity);
    if (!cached)
        return std::nullopt;
    TmsRemoteInfoItem row = cachedItem(identity, *cached);
    row.Uid = uid;
    return row;
}

// --- Retrieving and removing ------------------------------------------------

void ImapClient::ProcessMarks()
{
    const OperationClaim claim(*this);
    setCommitted(false);
    for (int i = 0; i < Info().Count(); ++i) {
        Info().Items(i).Deleted = false;
        Info().Items(i).MovedTo.clear();
    }
    if (Info().Count() == 0)
        return;
    guarded([this] {
        std::vector<int> marked;
        std::vector<int> doomed;
        for (int i = 0; i < Info().Count(); ++i) {
            const TmsRemoteInfoItem &item = Info().Items(i);
            if (item.RetrieveMark || item.DeleteMark)
                marked.push_back(i);
            if (item.DeleteMark)
                doomed.push_back(i);
        }
        ConnectIfNeeded();
        if (OnTransferringData)
            OnTransferringData();
        // SELECT would clear \Recent; only a removal needs the folder writable.
        const ImapResponse selected = openFolder(encodeFolderName(m_folder), doomed.empty());
        if (m_folderUidValidity != m_uidValidity)
            throw EMailboxChangedError();
        if (!doomed.empty())
            prepareRemoval(selected);
        if (!marked.empty())
            recheckMarked(marked);
        for (const int i : marked) {
            if (Info().Items(i).RetrieveMark)
                retrieve(i);
        }
        if (!doomed.empty())
            remove(doomed);
        setCommitted(true);
        if (OnDataTransfered)
            OnDataTransfered();
        endSession();
    });
}

void ImapClient::recheckMarked(const std::vector<int> &marked)
{
    std::map<qint64, qint64> wanted; // UID -> size now, -1 until the server names it
    for (const int i : marked)
        wanted[Info().Items(i).Uid] = -1;
    Command command{QStringLiteral("UID FETCH ") + uidSet(marked) + QStringLiteral(" (UID RFC822.SIZE)")};
    command.untagged = [this, &wanted](const ImapResponse &response) {
        const ImapValue *data = fetchData(response);
        const ImapValue *size = data ? data->valueAfter("RFC822.SIZE") : nullptr;
        if (!size)
            return;
        const auto found = wanted.find(fetchedUid(response, *data));
        if (found == wanted.end() || found->second >= 0)
            return;
        found->second = size->number();
        m_replyStarts = true;
    };
    run(command);
    for (const int i : marked) {
        const TmsRemoteInfoItem &item = Info().Items(i);
        if (wanted.at(item.Uid) != item.Size)
            throw EMailboxChangedError();
    }
}

void ImapClient::retrieve(int index)
{
    if (OnRetrieving)
        OnRetrieving(index);
    const qint64 uid = Info().Items(index).Uid;
    saveRetrievedMessage(index, [this, uid](QIODevice &device) {
        bool streamed = false; // the body's literal went to the device
        bool received = false;
        Command command{QStringLiteral("UID FETCH %1 (UID BODY.PEEK[])").arg(uid)};
        command.literalTarget = [&device, &streamed, &received](const QByteArray &label, qint64) {
            if (label == "BODY[]" && !received && !streamed) {
                streamed = true;
                return ImapLiteralTarget{0, TagSocket::Unlimited, &device};
            }
            return ImapLiteralTarget{ImapResponseReader::DefaultLiteralKeep, ImapResponseReader::DefaultLiteralMost};
        };
        command.untagged = [uid, &device, &streamed, &received](const ImapResponse &response) {
            const ImapValue *data = fetchData(response);
            const ImapValue *body = data ? data->valueAfter("BODY[]") : nullptr;
            if (!body || received)
                return;
            if (fetchedUid(response, *data) != uid)
                throw EProtocolError(QStringLiteral("The server sent another message than UID %1: %2")
                                         .arg(uid)
                                         .arg(quotedLine(response.line)));
            // A small body may come as a quoted string instead of a literal.
            if (!streamed && device.write(body->stringValue()) != body->stringValue().size())
                throw EFileError(QStringLiteral("Cannot write the message: %1").arg(device.errorString()));
            received = true;
        };
        run(command);
        if (!received)
            throw EMailboxChangedError();
    });
    if (OnRetrieved)
        OnRetrieved(index);
}

void ImapClient::prepareRemoval(const ImapResponse &selected)
{
    if (selected.code == "READ-ONLY")
        raiseSocketErrorText(QStringLiteral("The folder %1 at %2 is read-only, so no message was removed.")
                                 .arg(printableText(m_folder), serverAddress()));
    const bool uidExpunge = hasCapability(QStringLiteral("UIDPLUS"));
    if (m_removal == Removal::Delete) {
        if (!uidExpunge)
            raiseSocketErrorText(QStringLiteral("The server at %1 cannot delete single messages: it does not offer "
                                                "UIDPLUS, and a plain EXPUNGE would also remove messages other "
                                                "programs marked as deleted. Nothing was removed.")
                                     .arg(serverAddress()));
        return;
    }
    if (!uidExpunge && !hasCapability(QStringLiteral("MOVE")))
        raiseSocketErrorText(QStringLiteral("The server at %1 cannot move single messages: it offers neither MOVE "
                                            "nor UIDPLUS, and a plain EXPUNGE would also remove messages other "
                                            "programs marked as deleted. Nothing was removed.")
                                 .arg(serverAddress()));
    m_junkWire = m_junkFolder.isEmpty() ? findJunkFolder() : encodeFolderName(m_junkFolder);
    m_junkFolderUsed = decodeFolderName(m_junkWire);
    folderArgument(m_junkWire); // a name no command can carry ends the pass here
    if (sameFolder(m_junkWire, encodeFolderName(m_folder)))
        raiseSocketErrorText(QStringLiteral("Spam would be moved to %1, the folder being cleaned. Choose another "
                                            "folder for spam in this mailbox.")
                                 .arg(printableText(m_junkFolderUsed)));
}

QByteArray ImapClient::findJunkFolder()
{
    // RFC 6154 names the special use in the LIST attributes; RETURN asks
    // for it where the extended LIST is known.
    const bool extended =
        hasCapability(QStringLiteral("SPECIAL-USE")) && hasCapability(QStringLiteral("LIST-EXTENDED"));
    QByteArray flagged;
    QByteArray named;
    qsizetype namedDepth = 0;
    int folders = 0;
    Command command{QStringLiteral("LIST \"\" \"*\"")};
    if (extended)
        command.text += QStringLiteral(" RETURN (SPECIAL-USE)");
    command.untagged = [&](const ImapResponse &response) {
        if (response.name != "LIST" || response.values.size() < 3 || !response.values[0].isList())
            return;
        if (++folders > MaxFolders)
            throw EProtocolError(QStringLiteral("The server listed more than %1 folders").arg(MaxFolders));
        const std::vector<ImapValue> &attributes = response.values[0].items;
        const auto has = [&attributes](const QByteArray &name) {
            return std::any_of(attributes.cbegin(), attributes.cend(),
                               [&name](const ImapValue &attribute) { return attribute.isAtom(name); });
        };
        if (has("\\Noselect") || has("\\NonExistent"))
            return;
        const QByteArray name = response.values[2].stringValue();
        if (name.isEmpty())
            return;
        if (has("\\Junk") && flagged.isEmpty())
            flagged = name;
        const QByteArray delimiter = response.values[1].stringValue();
        const QByteArray last = delimiter.isEmpty() ? name : name.mid(name.lastIndexOf(delimiter) + delimiter.size());
        const qsizetype depth = delimiter.isEmpty() ? 0 : name.count(delimiter);
        const QString leaf = decodeFolderName(last);
        const bool junkName = leaf.compare(QLatin1String("Junk"), Qt::CaseInsensitive) == 0
                              || leaf.compare(QLatin1String("Spam"), Qt::CaseInsensitive) == 0;
        if (junkName && (named.isEmpty() || depth < namedDepth)) {
            named = name;
            namedDepth = depth;
        }
    };
    run(command);
    if (!flagged.isEmpty())
        return flagged;
    if (!named.isEmpty())
        return named;
    raiseSocketErrorText(QStringLiteral("No junk folder was found at %1: none is marked for junk mail and none is "
                                        "named Junk or Spam. Choose the folder spam is moved to for this mailbox.")
                             .arg(serverAddress()));
}

void ImapClient::remove(const std::vector<int> &indexes)
{
    for (const int i : indexes) {
        if (OnDeleting)
            OnDeleting(i);
    }
    const QString uids = uidSet(indexes);
    const bool moving = m_removal == Removal::MoveToFolder;
    if (!moving) {
        expungeUids(uids);
    } else if (hasCapability(QStringLiteral("MOVE"))) {
        run(folderCommand(QStringLiteral("UID MOVE ") + uids, m_junkWire));
    } else {
        const ImapResponse copied = run(folderCommand(QStringLiteral("UID COPY ") + uids, m_junkWire));
        try {
            expungeUids(uids);
        } catch (const EMailsieveError &error) {
            // Left in the junk folder, the copies would pile up at every retry.
            if (removedCopies(copied, indexes.size()))
                throw;
            throwWithNote(error, QStringLiteral("Copies of the messages were left in the folder %1.")
                                     .arg(printableText(m_junkFolderUsed)));
        }
    }
    // Accepted: the server has removed them, whatever happens next.
    setCommitted(true);
    for (const int i : indexes) {
        Info().Items(i).Deleted = true;
        if (moving)
            Info().Items(i).MovedTo = m_junkFolderUsed;
    }
}

void ImapClient::expungeUids(const QString &uids)
{
    run({QStringLiteral("UID STORE ") + uids + QStringLiteral(" +FLAGS.SILENT (\\Deleted)")});
    try {
        run({QStringLiteral("UID EXPUNGE ") + uids});
    } catch (const EMailsieveError &) {
        // Left flagged, the messages would vanish at another program's EXPUNGE.
        if (Connected()) {
            try {
                exchange({QStringLiteral("UID STORE ") + uids + QStringLiteral(" -FLAGS.SILENT (\\Deleted)")});
            } catch (const EMailsieveError &) {
            }
        }
        throw;
    }
}

bool ImapClient::removedCopies(const ImapResponse &copied, std::size_t count)
{
    // RFC 4315: [COPYUID uidvalidity source-set copy-set].
    if (copied.code != "COPYUID" || copied.codeArguments.size() != 3 || !Connected())
        return false;
    const std::optional<std::vector<quint32>> copies = uidsInSet(copied.codeArguments[2].stringValue(), count);
    if (!copies)
        return false;
    try {
        openFolder(m_junkWire, false);
        // Another UIDVALIDITY: the UIDs name other messages now.
        if (m_folderUidValidity != copied.codeArguments[0].number())
            return false;
        expungeUids(uidSetText(*copies));
    } catch (const EMailsieveError &) {
        return false;
    }
    return true;
}

QString ImapClient::uidSet(const std::vector<int> &indexes) const
{
    std::vector<quint32> uids;
    uids.reserve(indexes.size());
    for (const int i : indexes)
        uids.push_back(Info().Items(i).Uid);
    return uidSetText(uids);
}

// --- Watching the folder -------------------------------------------------

bool ImapClient::startIdle()
{
    const OperationClaim claim(*this);
    bool offered = false;
    guarded([this, &offered] {
        Open();
        Login();
        if (!idleSupported()) {
            endSession();
            return;
        }
        openFolder(encodeFolderName(m_folder), true);
        m_watchedCount = m_exists;
        m_newMail = false;
        enterIdle();
        offered = true;
    });
    return offered;
}

void ImapClient::renewIdle()
{
    const OperationClaim claim(*this);
    guarded([this] {
        if (!m_idling)
            raiseSocketErrorText(QStringLiteral("The folder %1 is not being watched").arg(printableText(m_folder)));
        leaveIdle();
        enterIdle();
    });
}

void ImapClient::stopIdle()
{
    std::optional<OperationClaim> claim;
    try {
        claim.emplace(*this);
    } catch (const EMailsieveError &) {
        // A call is still talking to the server: it ends at once.
        Cancel();
        return;
    }
    const bool idling = std::exchange(m_idling, false);
    m_listening = false;
    if (!Connected())
        return;
    const int timeOut = this->timeOut();
    setTimeOut(std::min(timeOut, StopTimeOut));
    try {
        if (idling)
            leaveIdle();
        Logout();
    } catch (const EMailsieveError &) {
        // The watch is over either way.
    }
    setTimeOut(timeOut);
    abandonSession();
}

void ImapClient::enterIdle()
{
    Command idle{QStringLiteral("IDLE")};
    idle.untilContinued = true;
    idle.untagged = [this](const ImapResponse &response) { noteWatched(response); };
    m_idleTag = sendTagged(idle.text);
    const ImapResponse response = awaitTagged(m_idleTag, idle);
    if (response.kind != ImapResponse::Kind::Continuation) {
        accepted(idle, response);
        throw EProtocolError(QStringLiteral("The server ended IDLE at once: %1").arg(quotedLine(response.line)));
    }
    m_idling = true;
    m_listening = true;
    // Responses that came with the "+", and news from before it, raise no
    // signal of their own.
    if (LineBuffered() || m_newMail)
        QMetaObject::invokeMethod(this, &ImapClient::readIdleInput, Qt::QueuedConnection);
}

void ImapClient::leaveIdle()
{
    m_listening = false;
    Command idle{QStringLiteral("IDLE")};
    idle.untagged = [this](const ImapResponse &response) { noteWatched(response); };
    SendCommand(QStringLiteral("DONE"));
    m_replyStarts = true;
    accepted(idle, awaitTagged(m_idleTag, idle));
}

void ImapClient::noteWatched(const ImapResponse &response)
{
    // EXISTS names the folder's size; EXPUNGE takes one message off it.
    if (response.name == "EXISTS" && response.number >= 0) {
        if (response.number > m_watchedCount)
            m_newMail = true;
        m_watchedCount = response.number;
    } else if (response.name == "EXPUNGE" && m_watchedCount > 0) {
        --m_watchedCount;
    }
}

void ImapClient::readIdleInput()
{
    if (!m_listening)
        return;
    QString ended;
    {
        // No call talks to the server while IDLE listens, so the claim is free.
        const OperationClaim claim(*this);
        const QScopedValueRollback reading(m_readingInput, true);
        // A literal may still be on its way: input arriving while it is
        // read belongs to this call.
        m_listening = false;
        ended = readWatchedResponses();
    }
    if (!ended.isEmpty())
        return idleEnded(ended);
    m_listening = true;
    reportNewMail();
}

QString ImapClient::readWatchedResponses()
{
    try {
        while (LineBuffered()) {
            m_replyStarts = true;
            const ImapResponse response = nextResponse();
            if (response.kind != ImapResponse::Kind::Untagged || response.name == "BYE")
                return QStringLiteral("The server ended the session: %1").arg(quotedLine(response.line));
            noteWatched(response);
        }
        if (PeerClosed || ErrorPending || !Connected())
            return QStringLiteral("The server closed the connection");
    } catch (const EMailsieveError &error) {
        return error.message();
    }
    return {};
}

void ImapClient::reportNewMail()
{
    if (std::exchange(m_newMail, false) && OnNewMail)
        OnNewMail();
}

void ImapClient::idleEnded(const QString &reason)
{
    abandonSession();
    if (OnIdleEnded)
        OnIdleEnded(reason);
}
