#pragma once
// Watching IMAP mailboxes for new mail in automatic mode: one IDLE session
// (RFC 2177) per mailbox, each on a client of its own beside the check's,
// so new mail starts a check within seconds instead of at the end of the
// countdown. A mailbox whose server does not offer IDLE is not watched; the
// countdown checks it as before.
//
// Setting a session up blocks like every client operation (the window stays
// live), and so do renewing and leaving it; each such talk first takes the
// server (holdServer), so that no check starts inside its waits, and one
// that finds the server held by other work is put off. Once IDLE runs, the
// session reads what the server sends as it arrives. IDLE is renewed every
// RenewAfter, below the 30 minutes after which RFC 2177 lets a server drop
// it. A session that failed or was dropped (BYE, a closed connection, a line
// longer than any reply) connects again after a back-off that doubles from
// FirstBackOff to LastBackOff and starts over once a session lasted
// StableAfter; a refused sign-in waits LastBackOff at once, so a wrong
// password is not tried every few seconds.

#include "app/delaytimer.h"
#include "mail/imapclient.h"
#include "settings/generalsettings.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

// Where the watch gets what the check gets: a mailbox's login, and a fresh
// access token for one that signs in with OAuth 2.0.
struct IdleWatchLinks
{
    std::function<MailboxLogin(int n)> loadMailbox;
    std::function<QString(const MailboxLogin &login)> accessToken;
};

// The watch of one mailbox: its client, its IDLE and its reconnects.
class IdleSession
{
public:
    using ms = std::chrono::milliseconds;
    static constexpr ms RenewAfter = std::chrono::minutes(25);
    static constexpr ms FirstBackOff = std::chrono::seconds(5);
    static constexpr ms LastBackOff = std::chrono::minutes(5);
    static constexpr ms StableAfter = std::chrono::minutes(2);
    // A talk put off because other work holds the server is tried again
    // this much later.
    static constexpr ms BusyRetry = std::chrono::seconds(2);

    enum class State {
        Waiting, // for its (re)connect
        Connecting, // signing in, up to IDLE's "+"
        Idling,
        Unsupported, // the server offers no IDLE: not watched
        Stopped
    };

    IdleSession(const MailboxLogin &login, const IdleWatchLinks &links, DelayTimers &timers);
    ~IdleSession();
    IdleSession(const IdleSession &) = delete;
    IdleSession &operator=(const IdleSession &) = delete;

    // Connects at the next turn of the event loop's timers.
    void start();
    // Leaves IDLE and signs off, or cancels what is running; for good.
    void stop();

    State state() const { return m_state; }
    const MailboxLogin &login() const { return m_login; }
    // A call into the session is running (it may wait for the server).
    bool isBusy() const;
    // The wait before the next reconnect.
    ms backOff() const { return m_backOff; }
    // Why the last session failed or ended; empty after a good start.
    QString lastProblem() const { return m_lastProblem; }
    const ImapClient &client() const { return m_client; }

    std::function<void()> onNewMail;
    // See IdleWatch::holdServer.
    std::function<std::shared_ptr<void>()> holdServer;

private:
    class BusyScope;

    // The server held for a talk, in hold; false when other work holds it.
    bool takeServer(std::shared_ptr<void> &hold) const;

    void connectNow();
    void renew();
    // Reconnects after the back-off, which then doubles.
    void retryLater(const QString &problem, bool signInRefused = false);

    MailboxLogin m_login;
    ImapClient m_client;
    std::unique_ptr<DelayTimer> m_connectTimer;
    std::unique_ptr<DelayTimer> m_renewTimer;
    std::unique_ptr<DelayTimer> m_stableTimer;
    State m_state = State::Waiting;
    ms m_backOff = FirstBackOff;
    QString m_lastProblem;
    int m_busy = 0;
};

class IdleWatch : public QObject
{
public:
    IdleWatch(IdleWatchLinks links, DelayTimers &timers);
    ~IdleWatch() override;

    // Watches the IMAP mailboxes among these numbers (a session that runs
    // with the same login is kept) and lets go of every other session.
    void watch(const QList<int> &mailboxes);
    void stop();

    // The mailboxes with a session, watched or trying to be.
    QList<int> mailboxes() const;
    const IdleSession *session(int n) const;

    // New mail in mailbox n; called from the event loop, never from inside
    // a session's own call.
    std::function<void(int n)> onNewMail;
    // Asked before a session talks to its server: what it returns is kept
    // until the talk is over; null when other work holds the server, and
    // the talk is put off. Unset: sessions talk when they are due.
    std::function<std::shared_ptr<void>()> holdServer;

private:
    void retire(std::unique_ptr<IdleSession> session);
    // Deletes the stopped sessions that no call runs in any more.
    void sweep();

    IdleWatchLinks m_links;
    DelayTimers &m_timers;
    std::map<int, std::unique_ptr<IdleSession>> m_sessions;
    std::vector<std::unique_ptr<IdleSession>> m_retired;
    QTimer m_sweepTimer;
};
