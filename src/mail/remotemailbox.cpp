#include "mail/remotemailbox.h"

#include "mail/localnetwork.h"
#include "mail/mailerrors.h"
#include "mail/printabletext.h"
#include "mail/sasl.h"

#include <QBuffer>
#include <QSaveFile>
#include <new>

RemoteMailbox::RemoteMailbox(const Service &service, QObject *parent) : TmsMailBase(parent), m_service(service)
{
    setTlsMode(tlsMode());
}

void RemoteMailbox::setTlsMode(TlsMode mode)
{
    TmsMailBase::setTlsMode(mode);
    const bool implicit = mode == TlsMode::Implicit;
    setServiceName(implicit ? m_service.tlsName : m_service.name);
    setDefaultPort(implicit ? m_service.tlsPort : m_service.port);
}

void RemoteMailbox::ClearMarks(int i)
{
    TmsRemoteInfoItem &item = m_info.Items(i);
    item.DeleteMark = false;
    item.RetrieveMark = false;
}

void RemoteMailbox::setMessageDirectory(const QString &directory)
{
    m_messageDirectory = directory;
    if (!directory.isEmpty() && !directory.endsWith(QLatin1Char('/')))
        m_messageDirectory += QLatin1Char('/');
}

void RemoteMailbox::ConnectIfNeeded()
{
    if (Connected())
        return;
    Open();
    Login();
}

void RemoteMailbox::Disconnect()
{
    if (!Connected())
        return;
    try {
        Logout();
    } catch (...) {
        abandonSession();
        throw;
    }
    Close();
}

TmsRemoteInfoItem RemoteMailbox::cachedItem(const QByteArray &identity, const CachedHeader &cached)
{
    TmsRemoteInfoItem item;
    item.Size = cached.size;
    item.Headers = cached.headers;
    item.Summary = cached.summary;
    item.Identity = identity;
    return item;
}

void RemoteMailbox::takeHeaders(TmsRemoteInfoItem &item, const QByteArray &block)
{
    item.Headers = PackedHeaders(block);
    if (!m_headerCache || item.Identity.isEmpty())
        return;
    item.Summary = HeaderSummary::of(headerBlockLines(block));
    m_headerCache->remember(item.Identity, item.Size, item.Headers, item.Summary);
}

void RemoteMailbox::addRow(TmsRemoteInfoItem item)
{
    // Rows from the cache come without a wait for the server in between.
    passEventsWhileBusy();
    m_info.Add(std::move(item));
    const int index = m_info.Count() - 1;
    if (OnNextInfoUpdated)
        OnNextInfoUpdated(index);
    // The row has its texts and its first marks: the block is on disk now.
    TmsRemoteInfoItem &listed = m_info.Items(index);
    listed.Summary.reset();
    if (m_headerArchive && m_headerCache && m_headerCache->keepsHeaders() && !listed.Identity.isEmpty()) {
        listed.Headers = PackedHeaders();
        listed.HeadersArchived = true;
    }
}

HeaderSummary RemoteMailbox::summaryOf(int i) const
{
    if (i >= 0 && i < m_info.Count() && m_info.Items(i).Summary)
        return *m_info.Items(i).Summary;
    return HeaderSummary::of(headersOf(i).lines());
}

PackedHeaders RemoteMailbox::headersOf(int i) const
{
    if (i < 0 || i >= m_info.Count())
        return {};
    const TmsRemoteInfoItem &item = m_info.Items(i);
    if (!item.HeadersArchived)
        return item.Headers;
    return m_headerArchive ? m_headerArchive->archivedHeaders(item.Identity) : PackedHeaders();
}

QString RemoteMailbox::messageFilePath(int index) const
{
    return m_messageDirectory + QStringLiteral("msg_%1.eml").arg(index);
}

// A second operation would clear Info under the first, or commit the first
// one's removals with its own end of session.
RemoteMailbox::OperationClaim::OperationClaim(RemoteMailbox &mailbox) : m_mailbox(mailbox)
{
    if (m_mailbox.m_operationRunning)
        throw ESocketError(OperationRunningText);
    m_mailbox.m_operationRunning = true;
}

RemoteMailbox::OperationClaim::~OperationClaim()
{
    m_mailbox.m_operationRunning = false;
}

void RemoteMailbox::guarded(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const EMailsieveError &) {
        abandonSession();
        throw;
    } catch (const std::bad_alloc &) {
        abandonSession();
        throw EInternalError(QStringLiteral("The operation ran out of memory and was stopped"));
    } catch (const std::exception &e) {
        abandonSession();
        throw EInternalError(
            QStringLiteral("The operation failed: %1").arg(printableText(QString::fromLocal8Bit(e.what()))));
    } catch (...) {
        abandonSession();
        throw EInternalError(QStringLiteral("The operation failed for an unknown reason"));
    }
}

void RemoteMailbox::CheckProperties()
{
    if (userName().isEmpty())
        raiseSocketErrorText(QStringLiteral("UserName property is required"));
    if (authMethod() == AuthMethod::OAuth2) {
        if (!accessTokenSource)
            raiseSocketErrorText(QStringLiteral("AccessTokenSource property is required"));
        // The OAuth messages separate their fields with ^A.
        if (printableText(userName()) != userName())
            raiseSocketErrorText(QStringLiteral("The user name must not contain control characters"));
    } else if (password().isEmpty()) {
        raiseSocketErrorText(m_missingPasswordText.isEmpty() ? QStringLiteral("Password property is required")
                                                             : m_missingPasswordText);
    }
    const std::pair<QString, QString> fields[] = {{QStringLiteral("server name"), m_server},
                                                  {QStringLiteral("user name"), userName()},
                                                  {QStringLiteral("password"), password()}};
    for (const auto &[field, value] : fields) {
        if (breaksCommandLine(value))
            raiseSocketErrorText(QStringLiteral("The %1 must not contain line breaks or NUL characters").arg(field));
    }
}

bool RemoteMailbox::breaksCommandLine(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

QString RemoteMailbox::shortenedReply(const QString &reply)
{
    constexpr qsizetype MaxQuoted = 200;
    const QString text = printableText(reply);
    return text.size() > MaxQuoted ? text.left(MaxQuoted) + QStringLiteral("...") : text;
}

void RemoteMailbox::saveRetrievedMessage(int index, const std::function<void(QIODevice &)> &receive)
{
    const BodyDownload body(*this);
    if (OnUserMessageSave) {
        QByteArray contents;
        QBuffer buffer(&contents);
        buffer.open(QIODevice::WriteOnly);
        receive(buffer);
        buffer.close();
        OnUserMessageSave(index, contents);
        return;
    }
    // Straight into the file: a message may be far larger than memory
    // should hold, and a failed download leaves no file behind.
    const QString path = messageFilePath(index);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw EFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    try {
        receive(file);
    } catch (const EFileError &) {
        throw EFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    }
    if (!file.commit())
        throw EFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

bool RemoteMailbox::serverOnLocalNetwork() const
{
    return isOnLocalNetwork(remoteAddress());
}

void RemoteMailbox::Open()
{
    TmsMailBase::Open();
    // With TLS the handshake, or STARTTLS before the sign-in, protects the
    // secret; APOP sends only a digest of it.
    if (tlsMode() != TlsMode::None || authMethod() == AuthMethod::Apop)
        return;
    requirePrivateChannel(authMethod() == AuthMethod::OAuth2 ? QStringLiteral("access token")
                                                             : QStringLiteral("password"));
}

void RemoteMailbox::requirePrivateChannel(const QString &secret)
{
    // An access token opens the whole account for its lifetime: no choice
    // of the user sends it in plain text.
    const bool allowed = m_plainTextAllowed && authMethod() != AuthMethod::OAuth2;
    if (isEncrypted() || (tlsMode() == TlsMode::None && (allowed || serverOnLocalNetwork())))
        return;
    QString text = QStringLiteral("The %1 for %2 at %3 would go out in plain text: the server is not on this "
                                  "computer or the local network. Choose SSL/TLS or STARTTLS for this mailbox.")
                       .arg(secret, printableText(userName()), serverAddress());
    if (authMethod() != AuthMethod::OAuth2) {
        text += QStringLiteral(" If the server offers no encryption at all, tick \"Send my password without "
                               "encryption\" for this mailbox in the General settings.");
        // The greeting is not read yet: this is decided before connecting.
        if (m_service.hasApop)
            text += QStringLiteral(" If the server's greeting offers APOP, the sign-in \"APOP\" avoids sending "
                                   "the password.");
    }
    raiseTlsError(text);
}

QString RemoteMailbox::freshAccessToken()
{
    const QString token = accessTokenSource ? accessTokenSource() : QString();
    if (token.isEmpty())
        raiseSocketErrorText(QStringLiteral("No access token for %1 at %2. Sign in to this mailbox again.")
                                 .arg(printableText(userName()), serverAddress()));
    if (!isBearerToken(token))
        raiseSocketErrorText(
            QStringLiteral("The access token for %1 at %2 is not valid. Sign in to this mailbox again.")
                .arg(printableText(userName()), serverAddress()));
    return token;
}

void RemoteMailbox::refuseSignIn(const QString &what, const QString &reply, const QString &status) const
{
    QString text = QStringLiteral("The server refused %1 for %2 at %3: %4")
                       .arg(what, printableText(userName()), serverAddress(), shortenedReply(reply));
    if (!status.isEmpty())
        text += QStringLiteral(" (status: %1)").arg(status);
    throw ELoginRefusedError(text);
}

QString RemoteMailbox::chooseSaslMechanism(const QStringList &mechanisms, const QString &signIn)
{
    const std::optional<QStringList> offered = offeredSaslMechanisms();
    if (!offered)
        return mechanisms.last();
    for (const QString &mechanism : mechanisms) {
        if (offered->contains(mechanism))
            return mechanism;
    }
    raiseSocketErrorText(QStringLiteral("The server at %1 does not offer %2. Choose another sign-in for this mailbox.")
                             .arg(serverAddress(), signIn));
}

SaslMechanism RemoteMailbox::oauthMechanism(const QString &token)
{
    requirePrivateChannel(QStringLiteral("access token"));
    const QString name = chooseSaslMechanism({QStringLiteral("OAUTHBEARER"), QStringLiteral("XOAUTH2")},
                                             QStringLiteral("OAuth 2.0 sign-in (SASL OAUTHBEARER or XOAUTH2)"));
    return name == QLatin1String("OAUTHBEARER") ? saslOAuthBearer(userName(), hostPart(), remotePort(), token)
                                                : saslXOAuth2(userName(), token);
}
