#pragma once
// The general settings and the 12 mailboxes, as read from and written to
// the settings store. One GeneralSettings lives for the whole run in
// ProgramCore; the General settings window edits it, and the rest of the
// program reads its live values.
//
// Section "General": Logfile, Mailer, AlarmFile, Automatic, Ask, Kill,
// Minutes, Launch, Exit, Alarm, Repeat, RAS, Count, SysTray, KillAll (and
// Points, the About window's own value).
// Section "Server": Which, and for each mailbox n = 1..12: Server<n>,
// Mailbox<n>, Passwd<n> (scrambled under passwordKey(n); only while no
// desktop keyring holds the password, see mailboxpasswords.h), Security<n>,
// Fingerprint<n>, Auth<n> (the sign-in method), and for the OAuth 2.0
// methods OAuthClient<n> and the client secret (kept like the password:
// OAuthSecretScrambled<n>, or in the clear as OAuthSecret<n> when empty or
// written by an earlier version), for "OAuth 2.0 (other)" also
// OAuthAuthorize<n>, OAuthToken<n> and OAuthScope<n>; Protocol<n>, and for
// an IMAP mailbox Folder<n>, Remove<n> and JunkFolder<n>. KeepPassword<n>
// and PlainTextPassword<n> are written only as "1", and TrustedServer<n>
// only when set: a file without them reads and saves as it did before they
// existed.

#include "settings/settingsstore.h"

#include "mail/tlssecurity.h"
#include "settings/signinmethod.h"

#include <QString>

#include <array>
#include <optional>

class RemoteMailbox;

constexpr int kMailboxCount = 12;

// How the connection to a mailbox's server is protected.
enum class MailSecurity { SslTls, StartTls, None };
// "SSL/TLS", "STARTTLS", "None": the stored texts.
QString mailSecurityName(MailSecurity security);
// The stored text, any letter case; nothing for an unknown text.
std::optional<MailSecurity> mailSecurityFromName(const QString &name);

// The protocol a mailbox is checked with: "POP3" (also for a missing
// value) or "IMAP".
enum class MailProtocol { Pop3, Imap };
QString mailProtocolName(MailProtocol protocol);
std::optional<MailProtocol> mailProtocolFromName(const QString &name);
// What removing spam does on an IMAP server: "Move to folder" or "Delete".
enum class SpamRemoval { MoveToFolder, Delete };
QString spamRemovalName(SpamRemoval removal);
std::optional<SpamRemoval> spamRemovalFromName(const QString &name);

// The folder an IMAP mailbox checks: INBOX when none is named.
QString imapFolderOrInbox(const QString &folder);
// Whether two names mean the same IMAP folder: INBOX in any letter case is
// the one inbox, every other name is compared exactly.
bool isSameImapFolder(const QString &a, const QString &b);

struct MailboxConfig
{
    int number = 0; // 1..12
    QString server;
    QString mailbox; // user name on the server
    QString password; // plain; in the keyring or scrambled in the store
    MailSecurity security = MailSecurity::SslTls;
    QString fingerprint; // SHA-256 of a certificate the user trusts, hex; empty for none
    SignInMethod signIn = SignInMethod::Password;
    OAuthClientConfig oauth; // as stored; effectiveOAuthConfig gives what is used
    // IMAP only: the folder checked, what removing spam does there, and the
    // folder spam is moved to (empty: the server's Junk folder, found by
    // its special use or its name).
    MailProtocol protocol = MailProtocol::Pop3;
    QString folder = QStringLiteral("INBOX");
    SpamRemoval removal = SpamRemoval::MoveToFolder;
    QString junkFolder;
    // "Keep this password in the settings file": the password and the OAuth
    // client secret stay scrambled in the file even with a keyring, so a
    // check outside the desktop session (cron, SSH) can read them.
    bool keepPasswordInFile = false;
    // "Send my password without encryption": the user allowed it to a
    // server beyond the local network that offers no TLS.
    bool plainTextPassword = false;
    // The authserv-id of the user's receiving server: its
    // Authentication-Results and spam verdicts are believed (see
    // receivingserver.h). Empty: none are.
    QString trustedServer;
    // When read: the mailbox's secret is kept in a keyring that did not
    // answer, so it is empty here though it exists.
    bool secretUnreachable = false;

    // The mailbox is in use when both its server and its user name are set.
    bool isConfigured() const { return !server.isEmpty() && !mailbox.isEmpty(); }
};

using MailboxTable = std::array<MailboxConfig, kMailboxCount>;

// The fields of a mailbox table entry that a save check can point at.
enum class MailboxField {
    None,
    Server,
    UserName,
    Password,
    ClientId,
    ClientSecret,
    AuthorizationUrl,
    TokenUrl,
    Scope,
    SignIn,
    Folder,
    JunkFolder,
    TrustedServer
};

struct ServerSaveResult
{
    int mailbox = 0; // the first mailbox that failed its check, 0 when all passed
    MailboxField field = MailboxField::None; // where the window puts the focus
    QString message; // the check's message for the error box
    QString writeError; // the store could not be written
    bool refused = false; // a text no mailbox may hold: nothing at all was written

    bool validationFailed() const { return mailbox != 0; }
    bool ok() const { return mailbox == 0 && writeError.isEmpty(); }
};

class GeneralSettings
{
public:
    GeneralSettings();

    // Section "General". Member initializers are the defaults for values
    // missing from the store.
    QString logFile;
    QString mailProgram;
    QString alarmFile;
    bool automatic = false;
    bool askBeforeDelete = true;
    bool deleteWithoutConfirmation = false;
    int minutes = 10; // as stored; the window keeps it to 2..600 for display
    bool launchAfterDelete = true;
    bool exitWhenEmpty = false;
    bool alarm = true;
    bool repeatAlarm = true;
    int dialUpIndex = 0; // 0 = no dial-up; k = k-th dial-up entry
    QString spamCount = QStringLiteral("0"); // decimal text
    bool startInTray = false;
    bool killAll = true; // automatic deletion checks every configured mailbox
    bool notify = true; // an automatic check that finds mail also notifies the desktop

    // Section "Server".
    int defaultMailbox = 1; // 1..12
    MailboxTable mailboxes;

    // Each operation re-reads the store first, so values others wrote in
    // the meantime (the About window's score, say) are kept. The bool ones
    // return false with store.errorString() when the file could not be
    // read or written.
    bool ReadSettings(SettingsStore &store);
    bool SaveSettings(SettingsStore &store) const;
    bool readServerSettings(SettingsStore &store);
    // Writes "Which" and mailbox after mailbox; stops after the first
    // mailbox that fails its check (its values are written, the later
    // mailboxes are not) and names it and the field to correct. A table
    // with a text that checkMailboxText refuses is not written at all.
    ServerSaveResult saveServerSettings(SettingsStore &store) const;

    // The user trusts the certificate with this fingerprint for mailbox n:
    // kept here and written to the store at once (only that value), so a
    // later check and a later save of the window both keep it. False with
    // store.errorString() when the store could not be written.
    bool trustCertificate(SettingsStore &store, int n, const QString &fingerprint);

    // Adds a deletion run's count to spamCount.
    void addToSpamCount(int deleted);
    // dialUpIndex when it names one of entryCount dial-up entries, else 0.
    int dialUpIndexWithin(int entryCount) const;
};

// The first problem of one mailbox entry, in the order a user fixes them:
// a server without a user name, a user name without a server, an IMAP
// mailbox that signs in with APOP or moves spam to the folder it checks, a
// configured mailbox without a password, or for OAuth 2.0 without a client
// ID (and for "OAuth 2.0 (other)" without usable endpoints or a scope).
ServerSaveResult checkMailbox(const MailboxConfig &mailbox);

// A text of the entry that could end or split a command line or an OAuth
// request: a server or user name, an OAuth value or an IMAP folder name
// with a control character, a password with CR, LF or NUL. Such a text was pasted or
// planted, not typed, and sent as it is it would add commands of its own.
// Also a trusted server that is not one name: a control character, or a
// blank inside (blanks around it are trimmed when it is stored).
ServerSaveResult checkMailboxText(const MailboxConfig &mailbox);

// The mailbox would send its password itself over a connection without TLS.
bool sendsPasswordInPlainText(const MailboxConfig &mailbox);

// The environment variable a check outside the desktop session may take a
// stored mailbox's password from when the keyring holding it cannot be
// reached (and the console check's --server mailbox its password).
inline const QString PasswordVariable = QStringLiteral("MAILSIEVE_PASSWORD");
// What a check says when mailbox n's password is kept in a keyring this
// session cannot reach: the mailbox, and the ways out.
QString unreachableKeyringText(int n, const QString &user, const QString &server);

// What signing in to mailbox n needs, read straight from the store (the
// password from the keyring or unscrambled; none for OAuth 2.0). Empty for a
// missing value or n outside 1..12.
struct MailboxLogin
{
    int number = 0; // 1..12; 0 for a mailbox that is not stored
    QString server;
    QString user;
    QString password;
    MailSecurity security = MailSecurity::SslTls;
    QString fingerprint;
    SignInMethod signIn = SignInMethod::Password;
    OAuthClientConfig oauth; // effective: a provider's endpoints already filled in
    MailProtocol protocol = MailProtocol::Pop3;
    QString folder = QStringLiteral("INBOX");
    SpamRemoval removal = SpamRemoval::MoveToFolder;
    QString junkFolder;
    // Why the password is empty although the mailbox has one: the text a
    // check shows instead of asking for one; empty otherwise.
    QString missingPasswordText;
    bool plainTextPassword = false;
};
MailboxLogin GetRemotePOPSettings(SettingsStore &store, int n);
// The same for a mailbox entry as it is, stored or not.
MailboxLogin mailboxLogin(const MailboxConfig &mailbox);
// The same, loaded into the client (applyMailboxLogin).
MailboxLogin GetRemotePOPSettings(SettingsStore &store, int n, RemoteMailbox &client);
// Server, UserName, Password (and why it is missing), the TLS mode, the
// trusted certificate, the sign-in method and the plain-text allowance (the
// access tokens come from the program's own source).
// The IMAP folder options are the IMAP client's own; its caller sets them.
void applyMailboxLogin(const MailboxLogin &login, RemoteMailbox &client);
// The client's TLS mode for a security choice.
TlsMode tlsModeFor(MailSecurity security);

// The number (1..12) of the first mailbox whose server and user name equal
// the given ones without regard to case; 0 when none does or the server is
// empty.
int serverToIndex(const MailboxTable &mailboxes, const QString &server, const QString &user);

// The values the main window reads itself at start-up.
struct StartupSettings
{
    bool startInTray = false;
    bool automatic = false;
    int minutes = 10;
    int defaultMailbox = 1;
};
StartupSettings readStartupSettings(SettingsStore &store);

// The tray menu's automatic switch: writes "Automatic" only.
bool saveAutomatic(SettingsStore &store, bool automatic);

// The About window's pastime score, "Points".
int readPoints(SettingsStore &store);
bool savePoints(SettingsStore &store, int points);
