#include "app/checkcycle.h"

#include "app/mailboxclients.h"
#include "app/mailboxmemory.h"
#include "mail/mailerrors.h"

#include <QScopeGuard>

namespace {

const QString kCancelCaption = QStringLiteral("Cancel");

bool isBlankText(const QString &text)
{
    return text.trimmed().isEmpty();
}

} // namespace

CheckCycle::CheckCycle(MailboxClients &clients, MessageListModel &list, const GeneralSettings &settings,
                       CheckView &view, CheckHooks hooks)
    : m_clients(clients), m_list(list), m_settings(settings), m_view(view), m_hooks(std::move(hooks))
{
    attachClientEvents();
}

CheckCycle::~CheckCycle()
{
    for (RemoteMailbox *client : m_clients.all()) {
        client->OnOpen = nullptr;
        client->OnUpdatingInfo = nullptr;
        client->OnNextInfoUpdated = nullptr;
        client->OnInfoUpdated = nullptr;
        client->OnTransferringData = nullptr;
        client->OnDataTransfered = nullptr;
        client->OnClosing = nullptr;
        client->OnClosed = nullptr;
        client->OnCancel = nullptr;
        client->OnError = nullptr;
        client->OnCertificateUntrusted = nullptr;
    }
}

void CheckCycle::attachClientEvents()
{
    for (RemoteMailbox *client : m_clients.all()) {
        client->OnOpen = [this] { msRemotePOP1Open(); };
        client->OnUpdatingInfo = [this] { msRemotePOP1UpdatingInfo(); };
        client->OnNextInfoUpdated = [this](int num) { msRemotePOP1NextInfoUpdated(num); };
        client->OnInfoUpdated = [this] { msRemotePOP1InfoUpdated(); };
        client->OnTransferringData = [this] { msRemotePOP1TransferringData(); };
        client->OnDataTransfered = [this] { msRemotePOP1DataTransfered(); };
        client->OnClosing = [this] { msRemotePOP1Closing(); };
        client->OnClosed = [this] { msRemotePOP1Closed(); };
        client->OnCancel = [this] { msRemotePOP1Cancel(); };
        client->OnError = [this](QString &msg) { msRemotePOP1Error(msg); };
        // Nobody is there to answer the question in an unattended check: the
        // certificate is refused, and the next check by hand asks.
        client->OnCertificateUntrusted = [this](const TlsFailure &failure) {
            return !unattended() && m_hooks.trustCertificate && m_hooks.trustCertificate(m_loadedMailbox, failure);
        };
    }
}

RemoteMailbox &CheckCycle::client()
{
    return m_clients.current();
}

void CheckCycle::btListClick()
{
    checkMailbox(currentMailbox);
}

bool CheckCycle::checkMailbox(int n)
{
    // Loading another mailbox would change the login under the running
    // operation.
    if (isServerHeld())
        return false;
    int mailbox = n;
    loadMailbox(mailbox);
    stopAlarm();
    if (mailboxSettingsMissing())
        return false;

    // Several mailboxes in manual mode: ask which one.
    if (!m_settings.automatic && otherMailboxConfigured() && m_hooks.chooseMailbox) {
        const std::optional<int> chosen = m_hooks.chooseMailbox(currentMailbox);
        if (!chosen)
            return false;
        currentMailbox = mailbox = *chosen;
    }

    loadMailbox(mailbox);
    const bool timerWasEnabled = m_hooks.isTimerEnabled && m_hooks.isTimerEnabled();
    if (m_hooks.setTimerEnabled)
        m_hooks.setTimerEnabled(false);

    m_list.clear();
    setBusyLook(true);
    m_view.disableAllButtons();
    if (m_view.isMainWindowVisible())
        m_view.showProgress(client().userName(), client().server());
    checking = true;
    if (!runHeaderPass())
        return false;

    finishCheck(timerWasEnabled);
    return true;
}

bool CheckCycle::mailboxSettingsMissing()
{
    QString problem;
    if (isBlankText(client().userName()))
        problem = QStringLiteral("You need to enter your e-mail username in the settings.");
    else if (isBlankText(client().server()))
        problem = QStringLiteral("You need to enter the name of your mail server in the settings.");
    if (problem.isEmpty())
        return false;
    m_view.showError(problem);
    if (m_hooks.openGeneralSettings)
        m_hooks.openGeneralSettings();
    return true;
}

bool CheckCycle::otherMailboxConfigured() const
{
    for (int i = 1; i < kMailboxCount; ++i) {
        if (!m_settings.mailboxes[i].server.isEmpty())
            return true;
    }
    return false;
}

bool CheckCycle::unattended() const
{
    return startInTray && m_settings.automatic;
}

bool CheckCycle::runHeaderPass()
{
    const ServerHold hold(*this);
    try {
        listMailbox();
    } catch (const ESignInNeededError &e) {
        // Only the user can sign in again; an unattended check leaves it
        // to the next check by hand.
        if (m_hooks.journal)
            m_hooks.journal->error(e.message(), client().userName(), client().server());
        if (unattended())
            return true;
        if (m_hooks.offerSignIn)
            m_hooks.offerSignIn(m_loadedMailbox, e.message());
        else
            m_view.showError(e.message());
        return false;
    } catch (const EMailsieveError &e) {
        // Unattended in the tray nobody is there to read a box: the check
        // goes on with what it listed and the next interval tries again.
        if (unattended())
            return true;
        // The window keeps its busy look until the user presses Cancel.
        m_view.showError(e.message());
        return false;
    }
    return true;
}

void CheckCycle::finishCheck(bool timerWasEnabled)
{
    checking = false;
    m_view.hideProgress();
    m_view.enableAllButtons();
    setBusyLook(false);
    m_view.updateListPicture();
    if (m_hooks.setTimerEnabled)
        m_hooks.setTimerEnabled(timerWasEnabled);

    if (m_hooks.journal)
        m_hooks.journal->mailCheck(m_list.count(), client().userName(), client().server());

    if (m_list.count() == 0 && !m_settings.automatic && m_settings.exitWhenEmpty) {
        if (startInTray)
            m_view.hideToTray();
        else
            m_view.closeMainWindow();
    }
    ShowTotalCount();
    // The totals stay readable; the user still learns the check went on
    // without the store.
    if (!m_storeWarning.isEmpty())
        m_view.setStatusText(totalCountText(m_list.count(), m_list.markedCount()) + QStringLiteral(" - ")
                             + m_storeWarning);
    if (m_hooks.saveRules)
        m_hooks.saveRules();
}

void CheckCycle::listMailbox()
{
    m_storeWarning.clear();
    MailboxMemory *memory = m_hooks.memory;
    if (!memory) {
        client().UpdateInfo();
        return;
    }
    memory->beginListing(m_account, client());
    // A listing that failed or was cancelled keeps the header blocks it
    // fetched, but tells nothing of the messages it did not reach.
    bool complete = false;
    const auto end = qScopeGuard([&] {
        memory->endListing(m_list, client(), complete);
        reportStoreWarning();
    });
    client().UpdateInfo();
    complete = true;
}

void CheckCycle::reportStoreWarning()
{
    const QString warning = m_hooks.memory->takeWarning();
    if (warning.isEmpty())
        return;
    m_storeWarning = warning;
    m_view.showWarning(warning);
    if (m_hooks.journal)
        m_hooks.journal->error(warning, client().userName(), client().server());
}

void CheckCycle::cancel(bool clearChecking)
{
    stopAlarm();
    client().Cancel();
    if (checking)
        m_list.clear();
    if (clearChecking)
        checking = false;
    // The client announces a cancel only while it works; after a failed
    // check it has nothing to cancel, and the window must still go idle.
    setBusyLook(false);
    m_view.updateListPicture();
    m_view.enableAllButtons();
    m_view.hideProgress();
}

void CheckCycle::setBusyLook(bool busy)
{
    m_busy = busy;
    const QString idle = startInTray ? QStringLiteral("Hide") : QStringLiteral("Goodbye");
    m_view.setExitLook(busy ? kCancelCaption : idle, busy);
}

CheckCycle::ServerHold::ServerHold(CheckCycle &cycle) : m_cycle(cycle)
{
    if (m_cycle.m_serverHolds++ == 0)
        m_cycle.m_view.setTrayMenuEnabled(false);
}

CheckCycle::ServerHold::~ServerHold()
{
    if (--m_cycle.m_serverHolds == 0)
        m_cycle.m_view.setTrayMenuEnabled(true);
}

void CheckCycle::loadMailbox(int n)
{
    const MailboxLogin login = m_hooks.loadMailbox ? m_hooks.loadMailbox(n) : MailboxLogin{};
    m_clients.load(login);
    m_account = storeAccount(login);
    RemoteMailbox &client = m_clients.current();
    client.accessTokenSource = nullptr;
    if (isOAuth(login.signIn) && m_hooks.accessToken)
        client.accessTokenSource = [source = m_hooks.accessToken, login] { return source(login); };
    m_loadedMailbox = n;
}

void CheckCycle::ShowTotalCount()
{
    m_view.setStatusText(totalCountText(m_list.count(), m_list.markedCount()));
}

QString CheckCycle::totalCountText(int total, int marked)
{
    return QStringLiteral("Message Total: ") + QString::number(total) + QStringLiteral(" Number Marked: ")
           + QString::number(marked);
}

void CheckCycle::stopAlarm()
{
    if (m_hooks.stopAlarm)
        m_hooks.stopAlarm();
}

void CheckCycle::markRows(int index)
{
    if (m_hooks.markForDeletion)
        m_hooks.markForDeletion(index);
    if (m_hooks.memory)
        m_hooks.memory->restoreUserMarks(m_list, client().Info(), index);
}

void CheckCycle::msRemotePOP1Open()
{
    m_view.setStatusText(QStringLiteral("Opening connection for %1 on %2").arg(client().userName(), client().server()));
}

void CheckCycle::msRemotePOP1UpdatingInfo()
{
    m_view.setStatusText(QStringLiteral("Updating headers"));
}

void CheckCycle::msRemotePOP1NextInfoUpdated(int num)
{
    const TmsRemoteInfoItem &item = client().Info().Items(num);
    m_list.addRow(MessageEntry::fromSummary(client().summaryOf(num), item.Size));
    const QString number = QString::number(num + 1);
    const QString total = QString::number(client().MessageCount());
    m_view.setStatusText(QStringLiteral("Getting message ") + number + QStringLiteral(" of ") + total
                         + QStringLiteral(" total waiting messages"));
    markRows(m_list.count() - 1);
    m_view.setProgressMessage(QStringLiteral("Message ") + number + QStringLiteral(" of ") + total);
}

void CheckCycle::msRemotePOP1InfoUpdated()
{
    m_list.showAddedRows();
    m_view.setStatusText(QString::number(client().Info().Count()) + QStringLiteral(" msg(s) for ") + client().userName()
                         + QStringLiteral(" on ") + client().server());
    markRows(-1);
    m_view.enableAllButtons();
    m_view.hideProgress();
}

void CheckCycle::msRemotePOP1TransferringData()
{
    m_view.setStatusText(QStringLiteral("Transferring data"));
}

void CheckCycle::msRemotePOP1DataTransfered()
{
    m_view.setStatusText(QStringLiteral("Data has been transfered"));
}

void CheckCycle::msRemotePOP1Closing()
{
    m_view.setStatusText(QStringLiteral("Closing connection"));
}

void CheckCycle::msRemotePOP1Closed()
{
    m_view.setStatusText(QStringLiteral("Connection closed"));
}

void CheckCycle::msRemotePOP1Cancel()
{
    m_view.setStatusText(QStringLiteral("Operation has been canceled"));
    setBusyLook(false);
    m_view.showCanceledTrayIcon();
    m_view.updateListPicture();
    if (m_hooks.journal)
        m_hooks.journal->canceled(client().userName(), client().server());
}

void CheckCycle::msRemotePOP1Error(const QString &msg)
{
    m_view.setStatusText(msg);
    m_view.updateListPicture();
    if (m_hooks.journal)
        m_hooks.journal->error(msg, client().userName(), client().server());
}
