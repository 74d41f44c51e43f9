#include "app/automaticcheck.h"

#include "app/alarm.h"
#include "app/checkcycle.h"
#include "app/clock.h"
#include "app/deletion.h"
#include "app/deletionlog.h"
#include "settings/generalsettings.h"

#include <QScopedValueRollback>

namespace {

QString countOf(int count, const QString &noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(noun, count == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

class AutomaticCheck::WatchHold
{
public:
    explicit WatchHold(AutomaticCheck &check) : m_check(check), m_server(check.m_cycle) { ++m_check.m_watchHolds; }
    ~WatchHold()
    {
        // A pass that fell due meanwhile runs as soon as the watch is done.
        if (--m_check.m_watchHolds == 0 && m_check.m_retry->isActive())
            m_check.m_retry->start(std::chrono::milliseconds(0));
    }
    WatchHold(const WatchHold &) = delete;
    WatchHold &operator=(const WatchHold &) = delete;

private:
    AutomaticCheck &m_check;
    CheckCycle::ServerHold m_server;
};

QString AutomaticFindings::text() const
{
    QStringList parts;
    if (spamDeleted && spam > 0)
        parts << countOf(spam, QStringLiteral("spam message")) + QStringLiteral(" deleted");
    if (waiting > 0 || !spamDeleted)
        parts << countOf(waiting, QStringLiteral("message")) + QStringLiteral(" waiting");
    if (!spamDeleted && spam > 0)
        parts << QStringLiteral("%1 marked as spam").arg(spam);
    return parts.join(QStringLiteral(", "));
}

AutomaticCheck::AutomaticCheck(CheckCycle &cycle, DeletionPass &deletion, MessageListModel &list,
                               GeneralSettings &settings, SettingsStore &store, TickSource &clock, Alarm &alarm,
                               DeletionLog &log, AutomaticView &view, std::unique_ptr<DelayTimer> retryTimer)
    : m_cycle(cycle), m_deletion(deletion), m_list(list), m_settings(settings), m_store(store), m_clock(clock),
      m_alarm(alarm), m_log(log), m_view(view), m_retry(retryTimer ? std::move(retryTimer) : SystemDelayTimers().make())
{
    m_retry->onTimeout = [this] { newMailNoticed(); };
    CheckHooks &hooks = m_cycle.hooks();
    hooks.isTimerEnabled = [this] { return m_clock.isActive(); };
    hooks.setTimerEnabled = [this](bool enabled) { setTimerActive(enabled); };
    hooks.stopAlarm = [this] { stopAlarm(); };
    m_clock.onTick = [this] { Timer1Timer(); };
}

AutomaticCheck::~AutomaticCheck()
{
    m_clock.onTick = nullptr;
    CheckHooks &hooks = m_cycle.hooks();
    hooks.isTimerEnabled = nullptr;
    hooks.setTimerEnabled = nullptr;
    hooks.stopAlarm = nullptr;
}

QString AutomaticCheck::countdownCaption(int minutes)
{
    return Title + QStringLiteral(" - next e-mail check in ") + QString::number(minutes)
           + QStringLiteral(" minute%1").arg(minutes == 1 ? QString() : QStringLiteral("s"));
}

void AutomaticCheck::setTimerActive(bool active)
{
    // A tick while a check, a delete pass or a download talks to the server
    // would start a check on the busy client. Whoever holds the server
    // restores the timer once it is done. A watch's hold leaves the count
    // running: only the pass waits for it.
    m_clock.setActive(active && (m_watchHolds > 0 || !m_cycle.isServerHeld()));
}

void AutomaticCheck::stopAlarm()
{
    m_alarm.playAlarmSound(false);
}

void AutomaticCheck::start(bool automatic, int minutes)
{
    minutesLeft = minutes;
    UpdateAutomaticCaptions(automatic, minutesLeft);
    tellWatchedMailboxes();
}

void AutomaticCheck::tellWatchedMailboxes()
{
    if (watchMailboxes)
        watchMailboxes(m_settings.automatic ? passMailboxes() : QList<int>());
}

void AutomaticCheck::UpdateAutomaticCaptions(bool automatic, int minutes)
{
    setTimerActive(automatic);
    m_view.showCaption(automatic ? countdownCaption(minutes) : Title);
    m_view.setAutomaticChecked(automatic);
    UpdateTrayIcons(automatic);
}

void AutomaticCheck::UpdateTrayIcons(bool automatic)
{
    m_view.setTrayAnimated(automatic);
}

void AutomaticCheck::Timer1Timer()
{
    // A check pumps events while it waits; a tick arriving then must not
    // start a second one.
    if (m_inTick)
        return;
    const QScopedValueRollback<bool> inTick(m_inTick, true);

    --minutesLeft;
    UpdateAutomaticCaptions(m_settings.automatic, m_settings.minutes);
    if (minutesLeft <= 0 && m_cycle.isServerHeld()) {
        // A watch is talking to its server further up this stack: the pass
        // would run inside its waits.
        m_view.showCaption(CheckingCaption);
        m_retry->start(NoticeRetry);
        return;
    }
    if (minutesLeft <= 0 && !passNow())
        return;
    resumeCountdown();
}

void AutomaticCheck::newMailNoticed()
{
    if (!m_settings.automatic)
        return;
    // Whatever holds the timer holds the notice: a pass now would run
    // inside that work, or on a busy client.
    if (m_inTick || !m_clock.isActive() || m_cycle.isServerHeld()) {
        m_retry->start(NoticeRetry);
        return;
    }
    const QScopedValueRollback<bool> inTick(m_inTick, true);
    if (passNow())
        resumeCountdown();
}

std::shared_ptr<void> AutomaticCheck::holdServerForWatch()
{
    if (m_inTick || m_cycle.isServerHeld())
        return nullptr;
    return std::make_shared<WatchHold>(*this);
}

bool AutomaticCheck::passNow()
{
    // This pass answers every notice of new mail so far.
    m_retry->stop();
    m_view.showCaption(CheckingCaption);
    setTimerActive(false);
    // A failure was shown; the timer stays off until a command re-arms it,
    // and the next tick then checks at once.
    if (!runAutomaticPass())
        return false;
    minutesLeft = m_settings.minutes;
    return true;
}

void AutomaticCheck::resumeCountdown()
{
    m_view.showCaption(countdownCaption(minutesLeft));
    setTimerActive(true);
}

bool AutomaticCheck::runAutomaticPass()
{
    return m_settings.deleteWithoutConfirmation ? cleanMailboxes() : checkForMail();
}

bool AutomaticCheck::mailboxConfigured(int n) const
{
    const CheckHooks &hooks = m_cycle.hooks();
    if (!hooks.loadMailbox)
        return false;
    const MailboxLogin login = hooks.loadMailbox(n);
    return !login.server.isEmpty() && !login.user.isEmpty();
}

QList<int> AutomaticCheck::passMailboxes() const
{
    if (!m_settings.deleteWithoutConfirmation || !m_settings.killAll)
        return {m_cycle.currentMailbox};
    QList<int> mailboxes;
    for (int n = 1; n <= kMailboxCount; ++n) {
        if (mailboxConfigured(n))
            mailboxes << n;
    }
    return mailboxes;
}

bool AutomaticCheck::cleanMailboxes()
{
    AutomaticFindings findings{.spamDeleted = true};
    for (int n : passMailboxes()) {
        if (!m_cycle.checkMailbox(n))
            return false;
        const bool anyMarked = m_list.markedCount() > 0;
        if (!m_deletion.btDeleteClick())
            return false;
        // The delete pass lists the mailbox again: what is left is waiting.
        if (anyMarked)
            findings.spam += m_deletion.lastDeleted();
        findings.waiting += m_list.count();
    }
    m_cycle.loadMailbox(m_settings.defaultMailbox);
    reportFindings(findings);
    return true;
}

void AutomaticCheck::reportFindings(const AutomaticFindings &findings)
{
    if (!findings.isEmpty() && onMailFound)
        onMailFound(findings);
}

bool AutomaticCheck::checkForMail()
{
    if (!m_cycle.checkMailbox(m_cycle.currentMailbox))
        return false;
    if (m_list.count() > 0) {
        m_view.showMainWindow();
        if (m_settings.alarm)
            m_alarm.playAlarmSound(true);
        reportFindings({.waiting = m_list.count(), .spam = m_list.markedCount()});
    }
    return true;
}

void AutomaticCheck::EnableAutomatic1Click(bool enable)
{
    if (!saveAutomatic(m_store, enable))
        m_view.showError(m_store.errorString());
    // Switching off forgets the count; switching on keeps it.
    if (!enable)
        minutesLeft = m_settings.minutes;
    m_settings.automatic = enable;
    UpdateAutomaticCaptions(enable, m_settings.minutes);
    m_log.automaticMode(enable);
    tellWatchedMailboxes();
}

void AutomaticCheck::btGeneralClick(const std::function<void()> &showModal)
{
    stopAlarm();
    setTimerActive(false);
    showModal();
    UpdateAutomaticCaptions(m_settings.automatic, m_settings.minutes);
    m_cycle.currentMailbox = m_settings.defaultMailbox;
    minutesLeft = m_settings.minutes;
    // Mailboxes and the mode may have changed.
    tellWatchedMailboxes();
}

void AutomaticCheck::btSpamSetupClick(const std::function<void()> &showModal)
{
    stopAlarm();
    const bool wasActive = m_clock.isActive();
    setTimerActive(false);
    showModal();
    setTimerActive(wasActive);
}

void AutomaticCheck::Show1Click()
{
    m_view.showMainWindow();
    m_cycle.btListClick();
    if (m_settings.automatic)
        setTimerActive(true);
}
