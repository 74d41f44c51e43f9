#pragma once
// Automatic mode: a one-minute tick counts down the minutes to the next
// check in the window caption, the title and the tray hint; when the count
// runs out the default mailbox is checked and the alarm raised when mail is
// waiting, or, with automatic deletion, the configured mailboxes are
// checked and cleaned without a question. New mail that a watch of the
// server notices starts that pass at once. Also the commands that switch the
// mode and the settings commands that hold the timer while they run.

#include "app/delaytimer.h"

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class Alarm;
class CheckCycle;
class DeletionLog;
class DeletionPass;
class GeneralSettings;
class MessageListModel;
class SettingsStore;
class TickSource;

// Where automatic mode shows itself; the tray owner implements it.
class AutomaticView
{
public:
    virtual ~AutomaticView() = default;
    // The window caption, the large title and the tray hint.
    virtual void showCaption(const QString &text) = 0;
    // The tray menu's radio pair "Enable automatic check" / "Disable ...".
    virtual void setAutomaticChecked(bool automatic) = 0;
    // UpdateTrayIcons: the tray icon animates in automatic mode.
    virtual void setTrayAnimated(bool animated) = 0;
    // Brings the main window up from the tray.
    virtual void showMainWindow() = 0;
    virtual void showError(const QString &text) = 0;
};

// What one automatic pass found, for a desktop notice: the messages left
// waiting and the spam marked (or, with automatic deletion, deleted).
struct AutomaticFindings
{
    int waiting = 0;
    int spam = 0;
    bool spamDeleted = false;

    bool isEmpty() const { return waiting == 0 && spam == 0; }
    // "3 messages waiting, 1 marked as spam"; "2 spam messages deleted,
    // 1 message waiting".
    QString text() const;
};

class AutomaticCheck
{
public:
    static inline const QString Title = QStringLiteral("Mailsieve");
    static inline const QString CheckingCaption = QStringLiteral("Mailsieve - Now automatically checking e-mail");

    // A notice of new mail that cannot start the pass yet is tried again
    // this much later.
    static constexpr std::chrono::milliseconds NoticeRetry = std::chrono::seconds(5);

    // Takes over the cycle's timer and alarm hooks: Timer1 is the clock.
    // retryTimer times NoticeRetry; a QTimer when none is given.
    AutomaticCheck(CheckCycle &cycle, DeletionPass &deletion, MessageListModel &list, GeneralSettings &settings,
                   SettingsStore &store, TickSource &clock, Alarm &alarm, DeletionLog &log, AutomaticView &view,
                   std::unique_ptr<DelayTimer> retryTimer = {});
    ~AutomaticCheck();
    AutomaticCheck(const AutomaticCheck &) = delete;
    AutomaticCheck &operator=(const AutomaticCheck &) = delete;

    // "Mailsieve - next e-mail check in 5 minutes" (" minute" for 1).
    static QString countdownCaption(int minutes);

    int minutesLeft = 10;
    // Called after a pass that found mail or spam, beside the alarm.
    std::function<void(const AutomaticFindings &)> onMailFound;
    // The mailboxes an automatic pass checks now (passMailboxes), or none
    // when automatic mode is off; told at start, when the mode is switched
    // and after the General settings, for a watch that notices new mail.
    std::function<void(const QList<int> &mailboxes)> watchMailboxes;

    // Start-up: the stored minutes and mode, the captions and the timer.
    void start(bool automatic, int minutes);

    void UpdateAutomaticCaptions(bool automatic, int minutes);
    void UpdateTrayIcons(bool automatic);
    void Timer1Timer();
    // The tray's radio pair; enable tells which item was clicked.
    void EnableAutomatic1Click(bool enable);
    // The settings windows, shown modally by showModal.
    void btGeneralClick(const std::function<void()> &showModal);
    void btSpamSetupClick(const std::function<void()> &showModal);
    // The tray's "Check e-mail for spam".
    void Show1Click();
    // New mail on a server: the automatic pass runs now, as if the count
    // ran out, or NoticeRetry later while the timer is held (a check, a
    // delete pass, a download, a settings window or a pass runs).
    void newMailNoticed();
    // The mailboxes a pass checks: with automatic deletion and "all
    // mailboxes" every configured one, else the current one.
    QList<int> passMailboxes() const;
    // A watch of the servers is about to talk to one, waiting on this
    // thread: while the returned hold lives the server is held, so no
    // check, delete pass or download starts inside the watch's waits, and a
    // pass that falls due runs once the hold ends. Null while a pass runs or
    // other work holds the server: the watch must not wait inside theirs.
    std::shared_ptr<void> holdServerForWatch();

private:
    class WatchHold;

    // The pass of a count run out, with its caption and the timer off;
    // false when it stopped on an error that was shown. Then the count
    // starts over.
    bool passNow();
    // The countdown caption and the timer running again.
    void resumeCountdown();
    void tellWatchedMailboxes();
    // The check (and cleaning) of one interval; false when it stopped on
    // an error that was shown.
    bool runAutomaticPass();
    bool cleanMailboxes();
    void reportFindings(const AutomaticFindings &findings);
    bool checkForMail();
    bool mailboxConfigured(int n) const;
    // Timer1 on or off; never on while the server is held.
    void setTimerActive(bool active);
    void stopAlarm();

    CheckCycle &m_cycle;
    DeletionPass &m_deletion;
    MessageListModel &m_list;
    GeneralSettings &m_settings;
    SettingsStore &m_store;
    TickSource &m_clock;
    Alarm &m_alarm;
    DeletionLog &m_log;
    AutomaticView &m_view;
    std::unique_ptr<DelayTimer> m_retry;
    bool m_inTick = false;
    int m_watchHolds = 0; // WatchHold scopes alive
};
