#include "app/deletion.h"

#include "app/delaytimer.h"
#include "app/deletionlog.h"
#include "app/mailboxclients.h"
#include "app/mailboxmemory.h"
#include "mail/mailerrors.h"
#include "mail/socketerrors.h"
#include "settings/prompts.h"

#include <QEventLoop>

DeletionPass::DeletionPass(CheckCycle &cycle, MailboxClients &clients, MessageListModel &list,
                           GeneralSettings &settings, CheckView &view, DeletionLog &log, Prompts *prompts,
                           DeletionHooks hooks)
    : m_cycle(cycle), m_clients(clients), m_list(list), m_settings(settings), m_view(view), m_log(log),
      m_prompts(prompts), m_hooks(std::move(hooks))
{
    for (RemoteMailbox *client : m_clients.all())
        client->OnDeleting = [this](int num) { msRemotePOP1Deleting(num); };
}

QString DeletionPass::deletedText(int deleted)
{
    return QStringLiteral("There were ") + QString::number(deleted) + QStringLiteral(" messages deleted");
}

QString DeletionPass::listingFailedText(int deleted, const QString &error)
{
    return deletedText(deleted) + QStringLiteral(", but the mailbox could not be listed again: ") + error;
}

DeletionPass::~DeletionPass()
{
    for (RemoteMailbox *client : m_clients.all())
        client->OnDeleting = nullptr;
}

bool DeletionPass::unattended() const
{
    return m_settings.automatic || !m_prompts;
}

void DeletionPass::setTimerEnabled(bool enabled)
{
    if (m_cycle.hooks().setTimerEnabled)
        m_cycle.hooks().setTimerEnabled(enabled);
}

bool DeletionPass::btDeleteClick()
{
    if (m_cycle.hooks().stopAlarm)
        m_cycle.hooks().stopAlarm();
    setTimerEnabled(false);
    if (!DeleteMessages())
        return false;
    if (m_hooks.updateAutomaticCaptions)
        m_hooks.updateAutomaticCaptions();
    return true;
}

bool DeletionPass::DeleteMessages()
{
    // A second pass, or one started while a check or a download talks to
    // the server, returns at once.
    if (m_deleting || m_cycle.isServerHeld())
        return true;
    m_deleting = true;
    const int total = m_list.count();
    const int marked = m_list.markedCount();
    const bool ask = !unattended() && m_settings.askBeforeDelete;
    if (marked == 0) {
        if (ask)
            m_prompts->information(NothingMarkedText);
        m_deleting = false;
        return true;
    }
    if (ask && !m_prompts->askYesNo(ConfirmText)) {
        m_deleting = false;
        return true;
    }
    // Nothing goes to the server unless its deletions can be recorded.
    if (const QString failure = m_log.OpenLogFile(); !failure.isEmpty()) {
        m_view.showError(failure);
        m_deleting = false;
        return false;
    }

    const std::optional<bool> launch = passOnServer(total, marked);
    m_deleting = false;
    if (!launch)
        return false;
    if (*launch)
        btLaunchClick();
    return true;
}

std::optional<bool> DeletionPass::passOnServer(int total, int marked)
{
    const CheckCycle::ServerHold hold(m_cycle);
    const QMap<int, MessageEntry> flagged = flagMarkedRows();
    m_view.disableAllButtons();
    m_cycle.setBusyLook(true);
    const bool processed = processMarks();
    const int deleted = processed ? recordDeletions(flagged) : 0;
    m_log.CloseLogFile();
    if (!processed) {
        // The rows keep their marks for another try; the window stays busy
        // until the user presses Cancel.
        return std::nullopt;
    }
    // Before the fresh listing, which takes every message it misses for
    // one gone by other hands.
    if (m_cycle.hooks().memory)
        m_cycle.hooks().memory->recordRemoved(m_clients.current());
    m_settings.addToSpamCount(deleted);
    if (m_hooks.saveGeneralSettings)
        m_hooks.saveGeneralSettings();
    // The deletions stand whatever happens next: they are reported first.
    m_lastDeleted = deleted;
    m_view.setStatusText(deletedText(deleted));
    if (m_hooks.committed)
        m_hooks.committed(deleted);

    m_list.clear();
    // Mail left to read goes to the mail program instead of a new listing;
    // after a refused deletion the user sees the mailbox again.
    const bool launch = !unattended() && m_settings.launchAfterDelete && total > marked && deleted == marked;
    const std::optional<QString> listingFailure = launch ? std::nullopt : listAgain();
    finishPass(deleted);
    if (listingFailure) {
        m_view.showError(listingFailedText(deleted, *listingFailure));
        return std::nullopt;
    }
    return launch;
}

QMap<int, MessageEntry> DeletionPass::flagMarkedRows()
{
    // Every item is set afresh: marks taken off after an earlier failed
    // pass must not delete anything now.
    QMap<int, MessageEntry> flagged;
    TmsRemoteInfo &info = m_clients.current().Info();
    for (int i = 0; i < info.Count(); ++i) {
        TmsRemoteInfoItem &item = info.Items(i);
        item.DeleteMark = i < m_list.count() && isMarkedForDeletion(m_list.mark(i));
        item.RetrieveMark = false;
        if (item.DeleteMark)
            flagged.insert(i, m_list.entry(i));
    }
    return flagged;
}

bool DeletionPass::processMarks()
{
    const int reportsBefore = m_log.errorReports();
    try {
        m_clients.current().ProcessMarks();
    } catch (const EMailsieveError &e) {
        logFailure(e, reportsBefore);
        m_view.showError(e.message());
        return false;
    }
    return true;
}

void DeletionPass::logFailure(const EMailsieveError &e, int reportsBefore)
{
    // Socket failures were logged through OnError already; a refused
    // command or a changed mailbox is logged here.
    if (m_log.errorReports() == reportsBefore)
        m_log.error(e.message(), m_clients.current().userName(), m_clients.current().server());
}

int DeletionPass::recordDeletions(const QMap<int, MessageEntry> &flagged)
{
    // Only what the server committed was removed (POP3: a DELE it accepted
    // in a session it ended with QUIT); the records follow the server, not
    // the intent.
    const RemoteMailbox &client = m_clients.current();
    if (!client.committed())
        return 0;
    QList<MessageEntry> deleted;
    QStringList movedTo;
    for (auto row = flagged.cbegin(); row != flagged.cend(); ++row) {
        const TmsRemoteInfoItem &item = client.Info().Items(row.key());
        if (item.Deleted) {
            deleted << row.value();
            movedTo << item.MovedTo;
        }
    }
    m_log.deletedMessages(client.server(), client.userName(), deleted, movedTo);
    return static_cast<int>(deleted.size());
}

std::optional<QString> DeletionPass::listAgain()
{
    const int reportsBefore = m_log.errorReports();
    try {
        for (int attempt = 1;; ++attempt) {
            try {
                m_cycle.listMailbox();
                return std::nullopt;
            } catch (const EServerError &) {
                // A server that removes the deleted files only after its
                // answer to QUIT may still miss them ("-ERR Can't open the
                // message file - it's gone!"): a refusal is tried once more
                // after a pause, from an empty list.
                if (attempt == 2)
                    throw;
            }
            m_list.clear();
            pause(RelistingPause);
            // Cancel pressed meanwhile: no second try.
            if (!m_cycle.isBusy())
                throw ECanceledError(socketErrorText(SocketError::Canceled));
        }
    } catch (const EMailsieveError &e) {
        logFailure(e, reportsBefore);
        return e.message();
    }
}

void DeletionPass::pause(std::chrono::milliseconds span)
{
    static SystemDelayTimers eventLoopTimers;
    const std::unique_ptr<DelayTimer> timer = (m_hooks.timers ? *m_hooks.timers : eventLoopTimers).make();
    QEventLoop loop;
    bool over = false;
    timer->onTimeout = [&] {
        over = true;
        loop.quit();
    };
    timer->start(span);
    if (!over)
        loop.exec();
}

void DeletionPass::finishPass(int deleted)
{
    m_view.enableAllButtons();
    m_cycle.setBusyLook(false);
    m_view.setStatusText(deletedText(deleted));
    m_view.updateListPicture();
}

void DeletionPass::msRemotePOP1Deleting(int num)
{
    m_view.setStatusText(QStringLiteral("Deleting ") + QString::number(num + 1));
}

void DeletionPass::btLaunchClick()
{
    setTimerEnabled(false);
    if (m_cycle.hooks().stopAlarm)
        m_cycle.hooks().stopAlarm();
    launchMailProgram(m_settings.mailProgram);
    if (m_settings.automatic)
        setTimerEnabled(true);
}

void DeletionPass::launchMailProgram(const QString &program)
{
    // Emptying the list under a running operation would lose what it
    // reports; the mail program can wait for it.
    if (m_cycle.isServerHeld())
        return;
    if (program.trimmed().isEmpty()) {
        m_view.showError(NoMailProgramText);
        return;
    }
    if (!m_hooks.startProgram || !m_hooks.startProgram(program)) {
        m_view.showError(LaunchFailedText);
        return;
    }
    m_view.disableAllButtons();
    m_list.clear();
    m_view.enableAllButtons();
}
