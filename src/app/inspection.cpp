#include "app/inspection.h"

#include "app/checkcycle.h"
#include "app/programcore.h"
#include "app/savedmessage.h"
#include "mail/mailerrors.h"
#include "settings/prompts.h"

#include <QFile>
#include <QScopedValueRollback>

MessageInspection::MessageInspection(const InspectionLinks &links) : m_links(links)
{
    for (RemoteMailbox *client : links.core.clients.all()) {
        client->OnRetrieving = [this](int num) { msRemotePOP1Retrieving(num); };
        client->OnRetrieved = [this](int num) { msRemotePOP1Retrieved(num); };
    }
}

MessageInspection::~MessageInspection()
{
    for (RemoteMailbox *client : m_links.core.clients.all()) {
        client->OnRetrieving = nullptr;
        client->OnRetrieved = nullptr;
    }
}

void MessageInspection::ViewHeader1Click()
{
    CommandPause pause(m_links);
    if (const std::optional<QList<int>> rows = m_links.selectionOrNotice())
        m_links.showViewer(TfrmViewHeader::Mode::Headers, headersText(*rows));
}

QStringList MessageInspection::headersText(const QList<int> &rows) const
{
    const MessageListModel &list = m_links.core.list;
    const RemoteMailbox &client = m_links.core.client();
    QStringList lines;
    for (int row : rows) {
        const MessageEntry &entry = list.entry(row);
        lines << Stars << QStringLiteral("Subject : ") + entry.Subject + QStringLiteral(" Sender : ") + entry.Sender
              << Stars;
        lines << client.headersOf(row).lines();
    }
    return lines;
}

void MessageInspection::ViewMessages1Click()
{
    CommandPause pause(m_links);
    const std::optional<int> row = m_links.oneSelectedRow();
    if (!row)
        return;
    // One client, one conversation: a check, a delete pass or another
    // download holds it, or a failed one waits for Cancel.
    if (m_links.cycle.isServerHeld() || m_links.cycle.isBusy() || m_links.cycle.checking) {
        m_links.prompts.information(BusyText);
        return;
    }
    if (*row >= m_links.core.client().Info().Count()) {
        m_links.prompts.error(OutOfStepText);
        return;
    }
    if (!sizeAccepted(*row))
        return;
    // The file takes the form in which this protocol delivers a message.
    const MailProtocol protocol = m_links.core.clients.protocol();
    if (!download(*row)) {
        // The window waits for "Click to cancel"; the timer stays off until
        // a command turns it on again.
        pause.keepTimerOff();
        return;
    }
    if (m_retrieved != *row) {
        m_links.prompts.error(NotRetrievedText);
        return;
    }
    m_links.showViewer(TfrmViewHeader::Mode::Body, savedMessageBody(messagePath(*row), protocol));
}

QString MessageInspection::sizeQuestion(const QString &size)
{
    return QStringLiteral("The message you have selected to view is quite large - ") + size
           + QStringLiteral(" bytes. Are you sure you wish to download and view it?");
}

bool MessageInspection::sizeAccepted(int row) const
{
    const QString size = m_links.core.list.entry(row).Size;
    return size.toLongLong() <= SizeAskLimit || m_links.prompts.askYesNo(sizeQuestion(size));
}

QString MessageInspection::messagePath(int row) const
{
    return m_links.core.folder + QStringLiteral("/msg_%1.eml").arg(row);
}

bool MessageInspection::download(int row)
{
    RemoteMailbox &client = m_links.core.client();
    CheckView &view = m_links.view;
    // Delete flags left by a delete pass that was cut short must not turn
    // this download into a deletion; a file of an earlier run must not pass
    // for this message.
    clearClientMarks();
    QFile::remove(messagePath(row));
    m_retrieved = -1;
    client.MarkForRetrieve(row);
    client.setMessageDirectory(m_links.core.folder);

    view.disableAllButtons();
    view.showProgress(client.userName(), client.server());
    const CheckCycle::ServerHold hold(m_links.cycle);
    const QScopedValueRollback<bool> downloading(m_downloading, true);
    try {
        client.ProcessMarks();
    } catch (const EMailsieveError &e) {
        clearClientMarks();
        // Status text and log line came with OnError; the progress window
        // stays until "Click to cancel".
        view.showError(e.message());
        return false;
    }
    view.hideProgress();
    view.enableAllButtons();
    clearClientMarks();
    return true;
}

void MessageInspection::clearClientMarks()
{
    RemoteMailbox &client = m_links.core.client();
    for (int i = 0; i < client.Info().Count(); ++i)
        client.ClearMarks(i);
}

void MessageInspection::msRemotePOP1Retrieving(int num)
{
    m_links.view.setStatusText(QStringLiteral("Retrieving ") + QString::number(num + 1));
}

void MessageInspection::msRemotePOP1Retrieved(int num)
{
    m_retrieved = num;
    m_links.view.setStatusText(QStringLiteral("Message ") + QString::number(num + 1) + QStringLiteral(" retrieved"));
}
