#pragma once
// The General settings window: the 12 mailboxes and the default one, the
// dial-up connection, manual or automatic checking, start-up in the tray,
// the deletion log and the spam counter, and the user's mail program.
//
// It edits the run-long GeneralSettings: the controls are filled from it at
// creation, at each showing and on Cancel (both after re-reading the store),
// and written back to it and to the store on OK. At program end the
// destructor saves the "General" section once more.
//
// On first use it fills mailbox 1 and the mail program from other mail
// programs and adds a header rule that protects mailbox 1's own address.

#include "settings/frmimapoptions.h"
#include "settings/generalsettings.h"

#include <QDialog>

#include <array>
#include <functional>

class MailImport;
class Prompts;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QToolButton;
class QWidget;
class RuleList;
class SettingsStore;
class TagRas;

class TfrmGeneral : public QDialog
{
    Q_OBJECT

public:
    struct Links
    {
        GeneralSettings &settings;
        SettingsStore &store;
        Prompts &prompts;
        // The program's folder: the default sound and log files lie there.
        QString programFolder;
        // The dial-up component; null for none. Its Service is set here once,
        // at creation, from the stored connection.
        TagRas *dialUp = nullptr;
        // Other mail programs' settings for the first use; null for none.
        const MailImport *mailImport = nullptr;
        // The header rules the first-run rule goes into; null for none.
        RuleList *headerRules = nullptr;
    };

    explicit TfrmGeneral(const Links &links, QWidget *parent = nullptr);
    ~TfrmGeneral() override;

    // What the window asks of the program around it; each is called only
    // when assigned.
    // Plays the alarm sound file, looping when repeat is set.
    std::function<void(const QString &file, bool repeat)> playAlarmSound;
    std::function<void()> stopAlarmSound;
    // Opens a file with the desktop's application for it; false on failure.
    std::function<bool(const QString &path)> openFile;
    // The main window's "Launch e-mail program" with the given command line.
    std::function<void(const QString &program)> launchMailProgram;
    std::function<void(int topic)> showHelp;
    // Saves the rule tables and the rule settings file (the Spam settings
    // window's Savesettings); false when that failed.
    std::function<bool()> saveRules;
    // Whether the program starts when the user logs in, and the switch for
    // it (an error text, empty on success). The box is hidden without them.
    std::function<bool()> startsAtLogin;
    std::function<QString(bool on)> setStartAtLogin;
    // The OAuth 2.0 sign-in of a mailbox as its row stands (not yet
    // stored): an error text, empty on success. The OAuth dialog offers
    // "Sign in" only when this is assigned.
    std::function<QString(const MailboxLogin &login)> signIn;
    // OK stored every mailbox: the program forgets what it kept of
    // mailboxes no longer configured (a warning text, empty when done).
    std::function<QString()> mailboxesSaved;
    // The trusted server the last check of a mailbox proposes (from its
    // newest Authentication-Results); empty when there is none. "Propose"
    // is hidden without it.
    std::function<QString(int mailbox)> trustedServerProposal;

    static constexpr int helpTopic = 200;
    static constexpr int minMinutes = 2;
    static constexpr int maxMinutes = 600;

    static inline const QString OverDeleteWarning =
        QStringLiteral("Just a warning that you selected to automatically delete marked messages without "
                       "confirmation.  It is possible to OVER delete by using this setting.");
    static inline const QString RestartMessage =
        QStringLiteral("Exit and restart for the Start Up changes to take effect.");
    static inline const QString ViewLogFailed = QStringLiteral("Unable to open log file. ");
    static inline const QString ClearLogQuestion = QStringLiteral("Really clear out log file?");
    static inline const QString ResetCounterQuestion = QStringLiteral("Really reset spam counter?");
    static inline const QString PlainTextWarning =
        QStringLiteral("Mailbox %1: the password will go out in plain text.  Choose None only for a server on this "
                       "computer or your local network.");
    static inline const QString KeepPasswordCaption = QStringLiteral("Keep this password in the settings file");
    static inline const QString PlainTextCaption = QStringLiteral("Send my password without encryption");
    static inline const QString PlainTextQuestion = QStringLiteral(
        "Mailbox %1: Mailsieve will send your password without any encryption to a server beyond this "
        "computer and your local network.  Anyone on the way (a public Wi-Fi, your provider, the networks "
        "between) can read it and then use your mailbox.  Allow this only when the server offers no "
        "encryption at all, and better ask your provider for SSL/TLS or STARTTLS.\n\n"
        "Send the password without encryption?");
    static inline const QString TrustedServerHint = QStringLiteral(
        "The name your receiving server writes in the Authentication-Results lines of your mail.  Mailsieve "
        "believes only that server's findings (SPF, DKIM, DMARC, spam verdicts); left empty, it believes none.  "
        "Microsoft writes no name there: for protection.outlook.com Mailsieve believes only results above the "
        "Received line of a host under protection.outlook.com.");
    static inline const QString NothingToPropose =
        QStringLiteral("There is no name to propose: no message of mailbox %1 that the last check listed carries "
                       "Authentication-Results.  Check mailbox %1, then press Propose again.");

    // Saves the "General" section from the live settings (the deletion run
    // calls it after raising the counter); reports a failed write.
    bool SaveSettings();
    // "&View log file"; the main window's View log command runs it too.
    void btViewLogClick();

    // The default sound and log files in the program's folder.
    QString defaultAlarmFile() const;
    QString defaultLogFile() const;

    // ---- Controls, by page ----
    QTabWidget *pages = nullptr;
    QWidget *tsMailboxes = nullptr;
    QWidget *tsConnection = nullptr;
    QWidget *tsAutomatic = nullptr;
    QWidget *tsStartUp = nullptr;
    QWidget *tsLogfile = nullptr;
    QWidget *tsMailProgram = nullptr;

    struct MailboxRow
    {
        QRadioButton *rbDefault = nullptr;
        QLineEdit *edServe = nullptr;
        QLineEdit *edMailbox = nullptr;
        QLineEdit *edPasswd = nullptr;
        QComboBox *cbProtocol = nullptr;
        QComboBox *cbSecurity = nullptr;
        QComboBox *cbSignIn = nullptr;
        QPushButton *btOAuth = nullptr; // the OAuth 2.0 values; enabled for those methods
        QPushButton *btImap = nullptr; // the IMAP options; enabled for an IMAP mailbox
        // "Keep this password in the settings file"
        QCheckBox *cbKeepPassword = nullptr;
        // "Send my password without encryption"; enabled while Security is
        // None and the sign-in sends the password, ticked only once confirmed
        QCheckBox *cbPlainText = nullptr;
        // The receiving server whose Authentication-Results are believed,
        // with common providers' names and the last check's proposal.
        QLineEdit *edTrustedServer = nullptr;
        QToolButton *btTrustedPresets = nullptr;
        QPushButton *btPropose = nullptr;
        OAuthClientConfig oauth; // as the OAuth dialog left them, kept on OK
        ImapOptions imap; // as the IMAP dialog left them, kept on OK
    };
    std::array<MailboxRow, kMailboxCount> mailboxRows;
    MailboxRow &row(int mailbox) { return mailboxRows.at(mailbox - 1); }
    // Where the passwords are kept: the desktop keyring or the settings file.
    QLabel *lblPasswordPlace = nullptr;

    QComboBox *cbConnection = nullptr;

    QRadioButton *rbManual = nullptr;
    QRadioButton *rbAutomatic = nullptr;
    QWidget *panelManual = nullptr;
    QCheckBox *cbAsk = nullptr;
    QCheckBox *cbLaunch = nullptr;
    QCheckBox *cbExit = nullptr;
    QWidget *panelAutomatic = nullptr;
    QSpinBox *seMinutes = nullptr;
    QCheckBox *cbKill = nullptr;
    QCheckBox *cbKillAll = nullptr;
    QWidget *panelSound = nullptr;
    QCheckBox *cbAlarm = nullptr;
    QCheckBox *cbRepeat = nullptr;
    QLineEdit *edAlarmFile = nullptr;
    QPushButton *btBrowseSound = nullptr;
    QPushButton *btTest = nullptr;

    QCheckBox *cbSysTray = nullptr;
    QCheckBox *cbStartAtLogin = nullptr;
    QCheckBox *cbNotify = nullptr;

    QLineEdit *edLogFile = nullptr;
    QPushButton *btBrowseLog = nullptr;
    QPushButton *btViewLog = nullptr;
    QPushButton *btClearLog = nullptr;
    QLabel *lblCount = nullptr;
    QPushButton *btResetCounter = nullptr;

    QLineEdit *edMailer = nullptr;
    QPushButton *btBrowseMailer = nullptr;
    QPushButton *btLaunch = nullptr;

    QPushButton *btOK = nullptr;
    QPushButton *btCancel = nullptr;
    QPushButton *btHelp = nullptr;

    // The window's own state (see the class comment).
    bool killWhenShown() const { return m_killWhenShown; }
    bool trayWhenShown() const { return m_trayWhenShown; }
    bool firstRun() const { return m_firstRun; }

    // The commands behind the buttons.
    void btOKClick();
    void reject() override;
    void btTestClick();
    void btClearLogClick();
    void btResetCounterClick();
    void btBrowseSoundClick();
    void btBrowseLogClick();
    void btBrowseMailerClick();
    // The user picked a sign-in method or a security choice in a row.
    void signInChosen(int mailbox);
    void securityChosen(int mailbox);
    // The user ticked or cleared "Send my password without encryption".
    void plainTextClicked(int mailbox);
    // "OAuth..." of a row: its dialog, modal.
    void btOAuthClick(int mailbox);
    // "IMAP..." of a row: its dialog, modal.
    void btImapClick(int mailbox);
    // "Propose" of a row: the last check's trusted server into its field.
    void btProposeClick(int mailbox);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildMailboxesPage();
    QWidget *buildConnectionPage();
    QWidget *buildAutomaticPage();
    QWidget *buildStartUpPage();
    QWidget *buildLogfilePage();
    QWidget *buildMailProgramPage();
    void colourOnFocus();

    void fillConnectionList();
    void showGeneralSettings();
    void showServerSettings();
    void takeGeneralSettings();
    void takeServerSettings();
    void updatePanels();
    void prepareForShowing();
    void addFirstRunRule();
    void focusMailboxField(int mailbox, MailboxField field);
    MailboxConfig rowMailbox(int mailbox) const;
    void updateSignInControls(int mailbox);
    void updateProtocolControls(int mailbox);
    void updatePlainTextControl(int mailbox);
    void warnOfPlainText(int mailbox);
    void addTrustedServerControls(int mailbox, QHBoxLayout &line);

    GeneralSettings &m_settings;
    SettingsStore &m_store;
    Prompts &m_prompts;
    const QString m_programFolder;
    TagRas *m_dialUp;
    const MailImport *m_mailImport;
    RuleList *m_headerRules;

    bool m_killWhenShown = false;
    bool m_trayWhenShown = false;
    bool m_firstRun = false;
};
