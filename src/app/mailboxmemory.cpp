#include "app/mailboxmemory.h"

StoreAccount storeAccount(const MailboxLogin &login)
{
    const bool imap = login.protocol == MailProtocol::Imap;
    QString folder;
    if (imap)
        folder = isSameImapFolder(login.folder, QStringLiteral("INBOX")) ? QStringLiteral("INBOX")
                                                                         : imapFolderOrInbox(login.folder);
    return {login.server.toLower(), login.user, mailProtocolName(login.protocol), folder};
}

MailboxMemory::MailboxMemory(const QString &storePath, std::chrono::milliseconds busyTimeout)
    : m_store(storePath, busyTimeout)
{
}

MailboxMemory::~MailboxMemory() = default;

void MailboxMemory::warnWithoutStore()
{
    m_warning = QStringLiteral("This check goes on without the message store: ") + m_store.errorText();
}

void MailboxMemory::beginListing(const StoreAccount &account, RemoteMailbox &client)
{
    m_check.reset();
    if (m_account != account)
        m_userMarks.clear();
    m_account = account;
    if (m_store.open())
        m_userMarks = m_store.userMarks(account);
    m_check = m_store.beginCheck(account, now());
    if (const QString setAside = m_store.takeWarning(); !setAside.isEmpty())
        m_warning = setAside;
    if (!m_check)
        warnWithoutStore();
    client.setHeaderCache(m_check ? this : nullptr);
    m_listing = &client.Info();
    // The other client's rows belong to another account.
    if (m_archiveClient && m_archiveClient != &client)
        m_archiveClient->setHeaderArchive(nullptr);
    m_archiveClient = &client;
    client.setHeaderArchive(this);
}

std::optional<CachedHeader> MailboxMemory::find(const QByteArray &identity)
{
    return m_check ? m_check->find(identity) : std::nullopt;
}

void MailboxMemory::remember(const QByteArray &identity, qint64 size, const PackedHeaders &headers,
                             const std::optional<HeaderSummary> &summary)
{
    m_userMarks.remove(identity);
    if (m_check)
        m_check->remember(identity, size, headers, summary);
}

void MailboxMemory::teach(QList<Lesson> lessons)
{
    if (!learn || lessons.isEmpty())
        return;
    // Every lesson is of the account listed last.
    if (m_account && trustedServerOf) {
        const QString trustedServer = trustedServerOf(*m_account);
        for (Lesson &lesson : lessons)
            lesson.trustedServer = trustedServer;
    }
    // The learner writes to the same file: not while a listing holds it.
    if (m_check) {
        m_lessonsAfterListing += lessons;
        return;
    }
    if (const QString warning = learn(lessons); !warning.isEmpty())
        m_warning = warning;
}

bool MailboxMemory::keepsHeaders() const
{
    return m_check && m_check->keepsHeaders();
}

PackedHeaders MailboxMemory::archivedHeaders(const QByteArray &identity)
{
    // During a listing the check's own transaction holds the new blocks.
    if (m_check) {
        const std::optional<CachedHeader> found = m_check->find(identity);
        return found ? found->headers : PackedHeaders();
    }
    return m_account ? m_store.headerBlock(*m_account, identity) : PackedHeaders();
}

quint32 MailboxMemory::highestUid(quint32 uidValidity)
{
    return m_check ? m_check->highestUid(uidValidity) : 0;
}

QByteArray MailboxMemory::listedIdentity(int row) const
{
    if (!m_check || !m_listing || row < 0 || row >= m_listing->Count())
        return {};
    return m_listing->Items(row).Identity;
}

std::optional<MarkOutcome> MailboxMemory::recall(int row, const QByteArray &fingerprint, MarkState from)
{
    const QByteArray identity = listedIdentity(row);
    return identity.isEmpty() ? std::nullopt : m_check->recall(identity, fingerprint, from);
}

void MailboxMemory::keep(int row, const QByteArray &fingerprint, MarkState from, const MarkOutcome &outcome)
{
    if (const QByteArray identity = listedIdentity(row); !identity.isEmpty())
        m_check->keep(identity, fingerprint, from, outcome);
}

void MailboxMemory::endListing(const MessageListModel &list, RemoteMailbox &client, bool complete)
{
    client.setHeaderCache(nullptr);
    m_listing = nullptr;
    if (!m_check) {
        teach(std::exchange(m_lessonsAfterListing, {}));
        return;
    }
    QList<StoreCheck::Listed> listed;
    const TmsRemoteInfo &info = client.Info();
    const int rows = std::min(list.count(), info.Count());
    listed.reserve(rows);
    for (int row = 0; row < rows; ++row) {
        const QByteArray &identity = info.Items(row).Identity;
        const MarkState mark = list.mark(row);
        const auto user = m_userMarks.constFind(identity);
        const bool byUser = user != m_userMarks.cend() && user->mark == mark;
        listed.append({identity, mark, byUser ? MarkSource::User : ruleMarkSource(mark)});
    }
    if (!m_check->finish(listed, complete))
        warnWithoutStore();
    const QList<QByteArray> gone = m_check->goneUnmarked();
    m_check.reset();
    QList<Lesson> lessons = std::exchange(m_lessonsAfterListing, {});
    for (const QByteArray &identity : gone)
        lessons.append({m_store.headerBlock(*m_account, identity), Label::Ham, {}});
    teach(lessons);
}

void MailboxMemory::restoreUserMarks(MessageListModel &list, const TmsRemoteInfo &info, int row) const
{
    if (m_userMarks.isEmpty())
        return;
    const int first = row < 0 ? 0 : row;
    const int last = row < 0 ? std::min(list.count(), info.Count()) - 1 : row;
    for (int i = first; i <= last && i < info.Count(); ++i) {
        const auto user = m_userMarks.constFind(info.Items(i).Identity);
        if (user != m_userMarks.cend())
            list.setMark(i, user->mark);
    }
}

void MailboxMemory::userMarked(const RemoteMailbox &client, int row, MarkState mark)
{
    const TmsRemoteInfo &info = client.Info();
    if (row < 0 || row >= info.Count())
        return;
    if (mark == MarkState::None || isMarkedForDeletion(mark))
        teach({{client.headersOf(row), mark == MarkState::None ? Label::Ham : Label::Spam, {}}});
    if (!m_account || info.Items(row).Identity.isEmpty())
        return;
    const QByteArray &identity = info.Items(row).Identity;
    const UserMark userMark{mark, now()};
    m_userMarks.insert(identity, userMark);
    // Kept in memory for this run even when the store cannot take it.
    m_store.setUserMark(*m_account, identity, userMark);
}

void MailboxMemory::forgetUserMarks()
{
    m_userMarks.clear();
    if (m_account)
        m_store.forgetUserMarks(*m_account);
}

std::optional<UserMark> MailboxMemory::userMark(const TmsRemoteInfo &info, int row) const
{
    if (row < 0 || row >= info.Count())
        return std::nullopt;
    const auto user = m_userMarks.constFind(info.Items(row).Identity);
    return user == m_userMarks.cend() ? std::nullopt : std::optional<UserMark>(*user);
}

void MailboxMemory::recordRemoved(const RemoteMailbox &client)
{
    if (!m_account)
        return;
    const TmsRemoteInfo &info = client.Info();
    QList<RemovedMessage> removed;
    QList<Lesson> lessons;
    for (int i = 0; i < info.Count(); ++i) {
        const TmsRemoteInfoItem &item = info.Items(i);
        if (!item.Deleted)
            continue;
        lessons.append({client.headersOf(i), Label::Spam, {}});
        if (!item.Identity.isEmpty())
            removed.append({item.Identity, item.MovedTo});
    }
    teach(lessons);
    if (!removed.isEmpty() && !m_store.recordRemoved(*m_account, removed, now()))
        m_warning = QStringLiteral("The message store did not record the deleted messages: ") + m_store.errorText();
}

void MailboxMemory::keepOnlyAccounts(const QList<StoreAccount> &accounts)
{
    if (!m_store.keepOnlyAccounts(accounts))
        m_warning = QStringLiteral("The message store kept the removed mailboxes: ") + m_store.errorText();
}

QString MailboxMemory::takeWarning()
{
    return std::exchange(m_warning, QString());
}
