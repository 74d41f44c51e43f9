#pragma once
// The check of one mailbox: log in, list every waiting message's size and
// header block, add a row per message and have the rules mark it, then
// report. A plain class: it talks to the screen through CheckView and to the
// rest of the program through CheckHooks, so the main window, the command
// line check and the tests all run this same code.

#include "app/messagelist.h"
#include "settings/generalsettings.h"
#include "store/storeaccount.h"

#include <QString>
#include <functional>
#include <optional>

class MailboxClients;
class MailboxMemory;
class RemoteMailbox;

// What a check shows. TfrmMain implements it with widgets; the command-line
// check with standard output.
class CheckView
{
public:
    virtual ~CheckView() = default;

    // Status panel 1.
    virtual void setStatusText(const QString &text) = 0;
    virtual bool isMainWindowVisible() const = 0;
    // The progress window: shown for a mailbox, its message line, hidden.
    virtual void showProgress(const QString &userName, const QString &server) = 0;
    virtual void setProgressMessage(const QString &text) = 0;
    virtual void hideProgress() = 0;
    // "Check e-mail" and "Settings and more" off, list buttons hidden,
    // tagline shown; and back (list buttons only when there are rows).
    virtual void disableAllButtons() = 0;
    virtual void enableAllButtons() = 0;
    // btExit gets caption; busy gives it the stop picture and Exit1
    // "Cancel", idle the leave pictures and Exit1 "Exit".
    virtual void setExitLook(const QString &caption, bool busy) = 0;
    // "Check e-mail"'s picture: up with rows, down without.
    virtual void updateListPicture() = 0;
    // The tray icon's right-click menu, off during a header pass.
    virtual void setTrayMenuEnabled(bool enabled) = 0;
    // The tray icon's picture after a cancel.
    virtual void showCanceledTrayIcon() = 0;
    virtual void showError(const QString &text) = 0;
    // Something the user should know that does not stop the check (the
    // message store could not be used): the status line, unless the view
    // has a better place.
    virtual void showWarning(const QString &text) { setStatusText(text); }
    // An empty mailbox with the "Exit" option: leave the program, or hide to
    // the tray when the program lives there.
    virtual void closeMainWindow() = 0;
    virtual void hideToTray() = 0;
};

// The lines a check adds to the log file; the log owner dates and formats
// them, and writes nothing while the log is closed or unnamed.
class CheckJournal
{
public:
    virtual ~CheckJournal() = default;
    virtual void mailCheck(int messageCount, const QString &userName, const QString &server) = 0;
    virtual void error(const QString &text, const QString &userName, const QString &server) = 0;
    virtual void canceled(const QString &userName, const QString &server) = 0;
};

// The parts of the program a check reaches beyond the client and the list.
// Every hook may be left empty; the check then skips that step.
struct CheckHooks
{
    // Server, user name and password of mailbox n (GetRemotePOPSettings).
    std::function<MailboxLogin(int n)> loadMailbox;
    // The mailbox chooser preset to the current mailbox: the chosen number,
    // or nothing on Cancel. The chooser also makes its answer the selected
    // default mailbox of the General settings window.
    std::function<std::optional<int>(int current)> chooseMailbox;
    // The rule engine's MarkForDeletion: row index, or -1 for every row.
    std::function<void(int index)> markForDeletion;
    // The "General settings" command.
    std::function<void()> openGeneralSettings;
    // The Spam settings window's Savesettings (rule tables with their hits).
    std::function<void()> saveRules;
    // Stops a playing alarm sound.
    std::function<void()> stopAlarm;
    // Timer1 of automatic mode.
    std::function<bool()> isTimerEnabled;
    std::function<void(bool enabled)> setTimerEnabled;
    // A server certificate of mailbox n failed verification: true when the
    // user trusts it (and it was stored). Empty: refused, and the check
    // fails with the certificate's details.
    std::function<bool(int n, const TlsFailure &failure)> trustCertificate;
    // A fresh OAuth 2.0 access token for the mailbox, asked at each login
    // of a mailbox that signs in with one (AccessTokens::fresh). It never
    // opens a browser; a grant that is gone throws ESignInNeededError.
    std::function<QString(const MailboxLogin &login)> accessToken;
    // A check by hand found that mailbox n must be signed in again; the
    // hook offers the sign-in (the message says which mailbox). Empty: the
    // message is shown as an error.
    std::function<void(int n, const QString &message)> offerSignIn;
    CheckJournal *journal = nullptr;
    // What earlier checks listed: each listing fetches only what is new
    // and the user's own marks come back. Null: every listing starts from
    // nothing.
    MailboxMemory *memory = nullptr;
};

class CheckCycle
{
public:
    CheckCycle(MailboxClients &clients, MessageListModel &list, const GeneralSettings &settings, CheckView &view,
               CheckHooks hooks = {});
    // The clients outlive the cycle: their events are let go.
    ~CheckCycle();
    CheckCycle(const CheckCycle &) = delete;
    CheckCycle &operator=(const CheckCycle &) = delete;

    // Main window state.
    int currentMailbox = 1; // the mailbox "Check e-mail" checks
    bool startInTray = false; // as read at start-up
    bool checking = false; // a header pass runs

    CheckHooks &hooks() { return m_hooks; }
    // The client of the loaded mailbox.
    RemoteMailbox &client();

    // "Check e-mail": checks currentMailbox.
    void btListClick();
    // One check of mailbox n, offering the chooser when allowed. Returns
    // false when the check ended without its report: settings missing,
    // chooser cancelled, or a failure shown in the error box.
    bool checkMailbox(int n);
    // The Cancel commands: btExit while it reads "Cancel" (clearChecking)
    // and the progress window's "Click to cancel" (not).
    void cancel(bool clearChecking);

    // The busy look of btExit and Exit1 during a check or delete pass.
    bool isBusy() const { return m_busy; }
    void setBusyLook(bool busy);

    // One conversation with the server at a time. A check, a delete pass or
    // a body download holds the server while it talks to it; meanwhile the
    // tray menu is off, and the commands that would start another
    // operation, empty the list or arm the timer do nothing.
    class ServerHold
    {
    public:
        explicit ServerHold(CheckCycle &cycle);
        ~ServerHold();
        ServerHold(const ServerHold &) = delete;
        ServerHold &operator=(const ServerHold &) = delete;

    private:
        CheckCycle &m_cycle;
    };
    bool isServerHeld() const { return m_serverHolds > 0; }

    // Loads mailbox n into the client (GetRemotePOPSettings): login,
    // security and trusted certificate.
    void loadMailbox(int n);
    // UpdateInfo of the loaded mailbox, with the memory of earlier checks
    // when there is one (also the listing after a delete pass).
    void listMailbox();
    void ShowTotalCount();
    // "Message Total: n Number Marked: m".
    static QString totalCountText(int total, int marked);

    // Client events.
    void msRemotePOP1Open();
    void msRemotePOP1UpdatingInfo();
    void msRemotePOP1NextInfoUpdated(int num);
    void msRemotePOP1InfoUpdated();
    void msRemotePOP1TransferringData();
    void msRemotePOP1DataTransfered();
    void msRemotePOP1Closing();
    void msRemotePOP1Closed();
    void msRemotePOP1Cancel();
    void msRemotePOP1Error(const QString &msg);

private:
    void attachClientEvents();
    bool mailboxSettingsMissing();
    bool otherMailboxConfigured() const;
    // The automatic check of a program that lives in the tray.
    bool unattended() const;
    bool runHeaderPass();
    void finishCheck(bool timerWasEnabled);
    void stopAlarm();
    // The rules mark the row (-1: every row); the user's own marks stay.
    void markRows(int index);
    // A problem of the message store goes to the status line and the log.
    void reportStoreWarning();

    MailboxClients &m_clients;
    MessageListModel &m_list;
    const GeneralSettings &m_settings;
    CheckView &m_view;
    CheckHooks m_hooks;
    int m_loadedMailbox = 0; // the mailbox whose login the client holds
    StoreAccount m_account; // the loaded mailbox, as the message store knows it
    QString m_storeWarning; // of the last listing
    bool m_busy = false;
    int m_serverHolds = 0;
};
