#include "app/idlewatch.h"

#include "mail/mailerrors.h"

#include <QTimer>

#include <algorithm>

namespace {

// A retired session that still waits for its server is looked at again
// this much later.
constexpr std::chrono::milliseconds SweepRetry = std::chrono::seconds(1);

bool watchable(const MailboxLogin &login)
{
    return login.protocol == MailProtocol::Imap && !login.server.isEmpty() && !login.user.isEmpty();
}

// Whether a session signed in with one login watches what the other names.
bool sameWatch(const MailboxLogin &a, const MailboxLogin &b)
{
    return a.server == b.server && a.user == b.user && a.password == b.password && a.security == b.security
           && a.fingerprint == b.fingerprint && a.signIn == b.signIn && a.oauth == b.oauth && a.folder == b.folder;
}

} // namespace

class IdleSession::BusyScope
{
public:
    explicit BusyScope(IdleSession &session) : m_session(session) { ++m_session.m_busy; }
    ~BusyScope() { --m_session.m_busy; }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    IdleSession &m_session;
};

IdleSession::IdleSession(const MailboxLogin &login, const IdleWatchLinks &links, DelayTimers &timers)
    : m_login(login), m_connectTimer(timers.make()), m_renewTimer(timers.make()), m_stableTimer(timers.make())
{
    applyMailboxLogin(login, m_client);
    m_client.setFolder(login.folder);
    if (isOAuth(login.signIn) && links.accessToken)
        m_client.accessTokenSource = [source = links.accessToken, login] { return source(login); };
    m_client.OnNewMail = [this] {
        if (onNewMail)
            onNewMail();
    };
    m_client.OnIdleEnded = [this](const QString &reason) {
        if (m_state == State::Idling)
            retryLater(reason);
    };
    m_connectTimer->onTimeout = [this] { connectNow(); };
    m_renewTimer->onTimeout = [this] { renew(); };
    m_stableTimer->onTimeout = [this] { m_backOff = FirstBackOff; };
}

IdleSession::~IdleSession()
{
    stop();
}

void IdleSession::start()
{
    m_state = State::Waiting;
    m_connectTimer->start(ms(0));
}

void IdleSession::stop()
{
    if (m_state == State::Stopped)
        return;
    m_state = State::Stopped;
    m_connectTimer->stop();
    m_renewTimer->stop();
    m_stableTimer->stop();
    const BusyScope busy(*this);
    // Leaving is not put off: without the server's hold it goes on anyway.
    std::shared_ptr<void> hold;
    takeServer(hold);
    m_client.stopIdle();
}

bool IdleSession::takeServer(std::shared_ptr<void> &hold) const
{
    hold = holdServer ? holdServer() : nullptr;
    return hold || !holdServer;
}

bool IdleSession::isBusy() const
{
    return m_busy > 0 || m_client.isReadingInput();
}

void IdleSession::connectNow()
{
    if (m_state != State::Waiting)
        return;
    std::shared_ptr<void> hold;
    if (!takeServer(hold)) {
        m_connectTimer->start(BusyRetry);
        return;
    }
    const BusyScope busy(*this);
    m_state = State::Connecting;
    bool offered = false;
    try {
        offered = m_client.startIdle();
    } catch (const ELoginRefusedError &error) {
        if (m_state == State::Connecting)
            retryLater(error.message(), true);
        return;
    } catch (const ESignInNeededError &error) {
        if (m_state == State::Connecting)
            retryLater(error.message(), true);
        return;
    } catch (const EMailsieveError &error) {
        if (m_state == State::Connecting)
            retryLater(error.message());
        return;
    }
    // Stopped while it signed in: stop() has closed the client.
    if (m_state != State::Connecting)
        return;
    if (!offered) {
        m_state = State::Unsupported;
        m_lastProblem = QStringLiteral("The server does not offer IDLE");
        return;
    }
    m_state = State::Idling;
    m_lastProblem.clear();
    m_renewTimer->start(RenewAfter);
    m_stableTimer->start(StableAfter);
}

void IdleSession::renew()
{
    if (m_state != State::Idling)
        return;
    std::shared_ptr<void> hold;
    if (!takeServer(hold)) {
        m_renewTimer->start(BusyRetry);
        return;
    }
    const BusyScope busy(*this);
    try {
        m_client.renewIdle();
    } catch (const EMailsieveError &error) {
        if (m_state == State::Idling)
            retryLater(error.message());
        return;
    }
    if (m_state == State::Idling)
        m_renewTimer->start(RenewAfter);
}

void IdleSession::retryLater(const QString &problem, bool signInRefused)
{
    m_state = State::Waiting;
    m_lastProblem = problem;
    m_renewTimer->stop();
    m_stableTimer->stop();
    const ms wait = signInRefused ? LastBackOff : m_backOff;
    m_connectTimer->start(wait);
    m_backOff = std::min(wait * 2, LastBackOff);
}

IdleWatch::IdleWatch(IdleWatchLinks links, DelayTimers &timers) : m_links(std::move(links)), m_timers(timers)
{
    m_sweepTimer.setSingleShot(true);
    connect(&m_sweepTimer, &QTimer::timeout, this, [this] { sweep(); });
}

IdleWatch::~IdleWatch()
{
    stop();
}

void IdleWatch::watch(const QList<int> &mailboxes)
{
    // Reading a login may wait for the keyring: all of them first, so the
    // sessions change in one step.
    std::map<int, MailboxLogin> logins;
    for (const int n : mailboxes) {
        const MailboxLogin login = m_links.loadMailbox ? m_links.loadMailbox(n) : MailboxLogin{};
        if (watchable(login))
            logins[n] = login;
    }
    std::map<int, std::unique_ptr<IdleSession>> sessions;
    for (const auto &[n, login] : logins) {
        const auto running = m_sessions.find(n);
        if (running != m_sessions.end() && sameWatch(running->second->login(), login)) {
            sessions[n] = std::move(running->second);
            m_sessions.erase(running);
            continue;
        }
        auto session = std::make_unique<IdleSession>(login, m_links, m_timers);
        session->holdServer = holdServer;
        // The check it leads to must not run inside the session's reading.
        session->onNewMail = [this, mailbox = n] {
            QTimer::singleShot(0, this, [this, mailbox] {
                if (onNewMail)
                    onNewMail(mailbox);
            });
        };
        session->start();
        sessions[n] = std::move(session);
    }
    std::swap(m_sessions, sessions);
    for (auto &[n, session] : sessions)
        retire(std::move(session));
}

void IdleWatch::stop()
{
    std::map<int, std::unique_ptr<IdleSession>> sessions;
    std::swap(m_sessions, sessions);
    for (auto &[n, session] : sessions)
        retire(std::move(session));
}

QList<int> IdleWatch::mailboxes() const
{
    QList<int> numbers;
    for (const auto &[n, session] : m_sessions)
        numbers << n;
    return numbers;
}

const IdleSession *IdleWatch::session(int n) const
{
    const auto found = m_sessions.find(n);
    return found == m_sessions.end() ? nullptr : found->second.get();
}

void IdleWatch::retire(std::unique_ptr<IdleSession> session)
{
    // Leaving waits for the server, and a call of the session may still be
    // running further up: it is deleted once nothing runs in it.
    IdleSession *leaving = session.get();
    m_retired.push_back(std::move(session));
    leaving->stop();
    m_sweepTimer.start(0);
}

void IdleWatch::sweep()
{
    std::erase_if(m_retired, [](const std::unique_ptr<IdleSession> &session) { return !session->isBusy(); });
    if (!m_retired.empty())
        m_sweepTimer.start(SweepRetry);
}
