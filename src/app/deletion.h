#pragma once
// The delete pass: the rows marked for deletion (check marks and known
// spammers) are deleted on the server of the mailbox listed last, each
// deletion the server confirmed is recorded in the log and added to the
// spam counter, and then the mailbox is listed again or the user's mail
// program is started to fetch what is left. Also "Launch e-mail program".
//
// No deletion goes unrecorded: when the log cannot be opened nothing is
// sent, and records the log cannot take are listed in the error box.
//
// A plain class like CheckCycle: the busy look, the status texts and the
// fresh listing go through the same cycle and view.

#include "app/checkcycle.h"

#include <QMap>

#include <chrono>
#include <functional>
#include <optional>

class DelayTimers;
class DeletionLog;
class EMailsieveError;
class Prompts;

struct DeletionHooks
{
    // Writes the "General" section (the spam counter); false when that
    // failed and was reported.
    std::function<bool()> saveGeneralSettings;
    // Starts the mail program; false when it could not be started.
    std::function<bool(const QString &program)> startProgram;
    // UpdateAutomaticCaptions with the live mode and minutes (re-arms the
    // timer in automatic mode).
    std::function<void()> updateAutomaticCaptions;
    // The pass was committed, recorded and counted, with this many
    // deletions; called before the mailbox is listed again.
    std::function<void(int deleted)> committed;
    // The timer of the pause before a refused listing is tried again; the
    // event loop's when null.
    DelayTimers *timers = nullptr;
};

class DeletionPass
{
public:
    // prompts asks the confirmation; without one (the command line) the
    // pass runs unattended, as in automatic mode.
    DeletionPass(CheckCycle &cycle, MailboxClients &clients, MessageListModel &list, GeneralSettings &settings,
                 CheckView &view, DeletionLog &log, Prompts *prompts, DeletionHooks hooks = {});
    ~DeletionPass();
    DeletionPass(const DeletionPass &) = delete;
    DeletionPass &operator=(const DeletionPass &) = delete;

    static inline const QString NothingMarkedText = QStringLiteral("There were no messages marked to delete!");
    static inline const QString ConfirmText = QStringLiteral("Really delete messages from server?");
    static inline const QString NoMailProgramText =
        QStringLiteral("Mail program not specified in the general settings. ");
    static inline const QString LaunchFailedText = QStringLiteral("Unable to launch mail program. ");
    // Some servers remove the deleted messages only after answering QUIT, so
    // a listing started at once may be refused; it is tried once more after
    // this pause.
    static constexpr std::chrono::milliseconds RelistingPause{1000};

    static QString deletedText(int deleted);
    // The listing after a committed pass failed: the deletions stand.
    static QString listingFailedText(int deleted, const QString &error);

    // A pass runs; a second one started meanwhile returns at once.
    bool deleting() const { return m_deleting; }
    // Messages the last committed pass deleted.
    int lastDeleted() const { return m_lastDeleted; }

    // "Delete marked messages": false when the pass failed (the error box
    // was shown and the timer stays off).
    bool btDeleteClick();
    bool DeleteMessages();
    // OnDeleting: the status text before each DELE.
    void msRemotePOP1Deleting(int num);
    // "Launch e-mail program".
    void btLaunchClick();
    // Starts the given mail program; on success the list is emptied, since
    // the mail program fetches the messages. Nothing while the server is
    // held.
    void launchMailProgram(const QString &program);

private:
    bool unattended() const;
    // Flagging, ProcessMarks, records, counter and the fresh listing, with
    // the server held: whether the mail program is to start, or nothing
    // after a failure that was reported.
    std::optional<bool> passOnServer(int total, int marked);
    // Flags the rows marked for deletion on the client and returns them as
    // listed, by row: the records describe them whatever happens to the
    // list meanwhile.
    QMap<int, MessageEntry> flagMarkedRows();
    // ProcessMarks; false after reporting its failure.
    bool processMarks();
    // Logs a failure that the client's OnError did not log already.
    void logFailure(const EMailsieveError &e, int reportsBefore);
    // Writes a record of each flagged row the server deleted; their number.
    int recordDeletions(const QMap<int, MessageEntry> &flagged);
    // The fresh listing after the pass, a refused one tried once more unless
    // the user cancels meanwhile; the error text when it failed (logged, not
    // shown).
    std::optional<QString> listAgain();
    // Waits for the pause while the event loop runs.
    void pause(std::chrono::milliseconds span);
    void finishPass(int deleted);
    void setTimerEnabled(bool enabled);

    CheckCycle &m_cycle;
    MailboxClients &m_clients;
    MessageListModel &m_list;
    GeneralSettings &m_settings;
    CheckView &m_view;
    DeletionLog &m_log;
    Prompts *m_prompts;
    DeletionHooks m_hooks;
    bool m_deleting = false;
    int m_lastDeleted = 0;
};
