#include "settings/generalsettings.h"

#include "settings/mailboxpasswords.h"

#include "mail/pop3client.h"
#include "mail/remotemailbox.h"

#include <algorithm>
#include <utility>

namespace {

const QString Automatic = QStringLiteral("Automatic");
const QString Which = QStringLiteral("Which");
const QString Minutes = QStringLiteral("Minutes");
const QString Ras = QStringLiteral("RAS");
const QString Count = QStringLiteral("Count");
const QString Points = QStringLiteral("Points");

struct TextValue
{
    QString name;
    QString GeneralSettings::*field;
};
struct BoolValue
{
    QString name;
    bool GeneralSettings::*field;
};

// The defaults of these values are the member initializers of GeneralSettings.
const TextValue kTextValues[] = {
    {QStringLiteral("Logfile"), &GeneralSettings::logFile},
    {QStringLiteral("Mailer"), &GeneralSettings::mailProgram},
    {QStringLiteral("AlarmFile"), &GeneralSettings::alarmFile},
};
const BoolValue kBoolValues[] = {
    {Automatic, &GeneralSettings::automatic},
    {QStringLiteral("Ask"), &GeneralSettings::askBeforeDelete},
    {QStringLiteral("Kill"), &GeneralSettings::deleteWithoutConfirmation},
    {QStringLiteral("Launch"), &GeneralSettings::launchAfterDelete},
    {QStringLiteral("Exit"), &GeneralSettings::exitWhenEmpty},
    {QStringLiteral("Alarm"), &GeneralSettings::alarm},
    {QStringLiteral("Repeat"), &GeneralSettings::repeatAlarm},
    {QStringLiteral("SysTray"), &GeneralSettings::startInTray},
    {QStringLiteral("KillAll"), &GeneralSettings::killAll},
    {QStringLiteral("Notify"), &GeneralSettings::notify},
};

// The stored texts of a choice, matched in any letter case when read.
template <typename Choice>
struct ChoiceName
{
    Choice choice;
    const char *name;
};

const ChoiceName<MailSecurity> kSecurityNames[] = {
    {MailSecurity::SslTls, "SSL/TLS"}, {MailSecurity::StartTls, "STARTTLS"}, {MailSecurity::None, "None"}};
const ChoiceName<MailProtocol> kProtocolNames[] = {{MailProtocol::Pop3, "POP3"}, {MailProtocol::Imap, "IMAP"}};
const ChoiceName<SpamRemoval> kRemovalNames[] = {{SpamRemoval::MoveToFolder, "Move to folder"},
                                                 {SpamRemoval::Delete, "Delete"}};

template <typename Choice, std::size_t N>
QString choiceName(const ChoiceName<Choice> (&names)[N], Choice choice)
{
    for (const ChoiceName<Choice> &entry : names) {
        if (entry.choice == choice)
            return QString::fromLatin1(entry.name);
    }
    return QString::fromLatin1(names[0].name);
}

template <typename Choice, std::size_t N>
std::optional<Choice> choiceFromName(const ChoiceName<Choice> (&names)[N], const QString &name)
{
    for (const ChoiceName<Choice> &entry : names) {
        if (name.trimmed().compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.choice;
    }
    return std::nullopt;
}

QString mailboxValue(const char *name, int n)
{
    return QLatin1String(name) + QString::number(n);
}

bool isMailboxNumber(int n)
{
    return n >= 1 && n <= kMailboxCount;
}

int readDefaultMailbox(const SettingsStore &store)
{
    const int which = store.intValue(SettingsStore::Server, Which, 1);
    return isMailboxNumber(which) ? which : 1;
}

MailSecurity readSecurity(const SettingsStore &store, int n)
{
    const QString key = mailboxValue("Security", n);
    if (store.contains(SettingsStore::Server, key)) {
        // An unreadable choice falls back to the safe one rather than plain text.
        return mailSecurityFromName(store.value(SettingsStore::Server, key)).value_or(MailSecurity::SslTls);
    }
    // Mailboxes stored before the choice existed were checked without TLS.
    const bool stored = !store.value(SettingsStore::Server, mailboxValue("Server", n)).isEmpty()
                        || !store.value(SettingsStore::Server, mailboxValue("Mailbox", n)).isEmpty();
    return stored ? MailSecurity::None : MailSecurity::SslTls;
}

// A missing or unreadable choice is the USER/PASS sign-in that every
// mailbox used before there was a choice.
SignInMethod readSignIn(const SettingsStore &store, int n)
{
    return signInMethodFromName(store.value(SettingsStore::Server, mailboxValue("Auth", n)))
        .value_or(SignInMethod::Password);
}

// The OAuth 2.0 values of a mailbox: each is kept only for the methods that
// use it, and all but the client secret must be set for those. The secret
// is kept like the password (mailboxpasswords.h), not as a plain value.
struct OAuthValue
{
    const char *name;
    QString OAuthClientConfig::*field;
    MailboxField mailboxField;
    const char *label;
    bool otherOnly; // a provider's own for Google and Microsoft
    bool required;
    bool secret;
};
const OAuthValue kOAuthValues[] = {
    {"OAuthClient", &OAuthClientConfig::clientId, MailboxField::ClientId, "client ID", false, true, false},
    {"OAuthSecret", &OAuthClientConfig::clientSecret, MailboxField::ClientSecret, "client secret", false, false, true},
    {"OAuthAuthorize", &OAuthClientConfig::authorizationUrl, MailboxField::AuthorizationUrl, "authorization URL", true,
     true, false},
    {"OAuthToken", &OAuthClientConfig::tokenUrl, MailboxField::TokenUrl, "token URL", true, true, false},
    {"OAuthScope", &OAuthClientConfig::scope, MailboxField::Scope, "scope", true, true, false},
};

// The mailbox's choices that only a "1" stores: an older file without them
// reads as unticked and saves back unchanged.
struct FlagValue
{
    const char *name;
    bool MailboxConfig::*field;
};
const FlagValue kFlagValues[] = {
    {"KeepPassword", &MailboxConfig::keepPasswordInFile},
    {"PlainTextPassword", &MailboxConfig::plainTextPassword},
};

bool keepsOAuthValue(const OAuthValue &value, SignInMethod method)
{
    return isOAuth(method) && (!value.otherOnly || method == SignInMethod::OAuthOther);
}

// A missing or unreadable protocol is POP3, which every mailbox used before
// there was a choice.
MailProtocol readProtocol(const SettingsStore &store, int n)
{
    return mailProtocolFromName(store.value(SettingsStore::Server, mailboxValue("Protocol", n)))
        .value_or(MailProtocol::Pop3);
}

// The IMAP options, kept only for an IMAP mailbox. An unreadable removal
// choice moves rather than destroys.
void readImapOptions(const SettingsStore &store, MailboxConfig &mailbox)
{
    const int n = mailbox.number;
    mailbox.folder = imapFolderOrInbox(store.value(SettingsStore::Server, mailboxValue("Folder", n)));
    mailbox.removal = spamRemovalFromName(store.value(SettingsStore::Server, mailboxValue("Remove", n)))
                          .value_or(SpamRemoval::MoveToFolder);
    mailbox.junkFolder = store.value(SettingsStore::Server, mailboxValue("JunkFolder", n));
}

void writeImapOptions(SettingsStore &store, const MailboxConfig &mailbox)
{
    const int n = mailbox.number;
    const bool imap = mailbox.protocol == MailProtocol::Imap;
    const std::pair<const char *, QString> values[] = {
        {"Folder", imapFolderOrInbox(mailbox.folder)},
        {"Remove", spamRemovalName(mailbox.removal)},
        {"JunkFolder", mailbox.junkFolder},
    };
    for (const auto &[name, text] : values) {
        if (imap)
            store.setValue(SettingsStore::Server, mailboxValue(name, n), text);
        else
            store.remove(SettingsStore::Server, mailboxValue(name, n));
    }
}

bool isEndpoint(const OAuthValue &value)
{
    return value.mailboxField == MailboxField::AuthorizationUrl || value.mailboxField == MailboxField::TokenUrl;
}

MailboxConfig readMailbox(const SettingsStore &store, int n)
{
    MailboxConfig mailbox;
    mailbox.number = n;
    mailbox.server = store.value(SettingsStore::Server, mailboxValue("Server", n));
    mailbox.mailbox = store.value(SettingsStore::Server, mailboxValue("Mailbox", n));
    mailbox.security = readSecurity(store, n);
    mailbox.fingerprint = store.value(SettingsStore::Server, mailboxValue("Fingerprint", n));
    mailbox.trustedServer = store.value(SettingsStore::Server, mailboxValue("TrustedServer", n)).trimmed();
    mailbox.signIn = readSignIn(store, n);
    mailbox.protocol = readProtocol(store, n);
    if (mailbox.protocol == MailProtocol::Imap)
        readImapOptions(store, mailbox);
    for (const FlagValue &v : kFlagValues)
        mailbox.*v.field = store.boolValue(SettingsStore::Server, mailboxValue(v.name, n), false);
    // A mailbox that signs in with a token has no password to look up, and
    // one that signs in with a password no client secret.
    if (isOAuth(mailbox.signIn)) {
        const StoredSecret secret = readClientSecret(store, n, mailbox.server, mailbox.mailbox);
        mailbox.oauth.clientSecret = secret.text;
        mailbox.secretUnreachable = secret.unreachable;
    } else {
        const StoredSecret password = readMailboxPassword(store, n, mailbox.server, mailbox.mailbox);
        mailbox.password = password.text;
        mailbox.secretUnreachable = password.unreachable;
    }
    for (const OAuthValue &v : kOAuthValues) {
        if (keepsOAuthValue(v, mailbox.signIn) && !v.secret)
            mailbox.oauth.*v.field = store.value(SettingsStore::Server, mailboxValue(v.name, n));
    }
    return mailbox;
}

void writeMailbox(SettingsStore &store, const MailboxConfig &mailbox, const MailboxTable &table)
{
    const int n = mailbox.number;
    // What the store held before: the secrets kept for it may have to go.
    MailboxConfig previous;
    previous.number = n;
    previous.server = store.value(SettingsStore::Server, mailboxValue("Server", n));
    previous.mailbox = store.value(SettingsStore::Server, mailboxValue("Mailbox", n));
    previous.signIn = readSignIn(store, n);
    writeMailboxPassword(store, mailbox, passwordEntryName(previous.server, previous.mailbox), table);
    forgetStaleRefreshToken(store, mailbox, previous, table);
    store.setValue(SettingsStore::Server, mailboxValue("Server", n), mailbox.server);
    store.setValue(SettingsStore::Server, mailboxValue("Mailbox", n), mailbox.mailbox);
    store.setValue(SettingsStore::Server, mailboxValue("Security", n), mailSecurityName(mailbox.security));
    store.setValue(SettingsStore::Server, mailboxValue("Fingerprint", n), mailbox.fingerprint);
    store.setValue(SettingsStore::Server, mailboxValue("Auth", n), signInMethodName(mailbox.signIn));
    store.setValue(SettingsStore::Server, mailboxValue("Protocol", n), mailProtocolName(mailbox.protocol));
    writeImapOptions(store, mailbox);
    for (const OAuthValue &v : kOAuthValues) {
        if (v.secret)
            writeClientSecret(store, mailbox, previous, table);
        else if (keepsOAuthValue(v, mailbox.signIn))
            store.setValue(SettingsStore::Server, mailboxValue(v.name, n), mailbox.oauth.*v.field);
        else
            store.remove(SettingsStore::Server, mailboxValue(v.name, n));
    }
    for (const FlagValue &v : kFlagValues) {
        if (mailbox.*v.field)
            store.setBool(SettingsStore::Server, mailboxValue(v.name, n), true);
        else
            store.remove(SettingsStore::Server, mailboxValue(v.name, n));
    }
    if (const QString trusted = mailbox.trustedServer.trimmed(); trusted.isEmpty())
        store.remove(SettingsStore::Server, mailboxValue("TrustedServer", n));
    else
        store.setValue(SettingsStore::Server, mailboxValue("TrustedServer", n), trusted);
}

ServerSaveResult failedCheck(int n, MailboxField field, const QString &message)
{
    ServerSaveResult result;
    result.mailbox = n;
    result.field = field;
    result.message = message;
    return result;
}

// The first OAuth 2.0 value the configured mailbox lacks or cannot use.
ServerSaveResult checkOAuthValues(const MailboxConfig &mailbox)
{
    const int n = mailbox.number;
    for (const OAuthValue &v : kOAuthValues) {
        if (!keepsOAuthValue(v, mailbox.signIn))
            continue;
        const QString text = mailbox.oauth.*v.field;
        const QString label = QLatin1String(v.label);
        if (v.required && text.trimmed().isEmpty()) {
            return failedCheck(n, v.mailboxField,
                               QStringLiteral("Mailbox %1 - there is no OAuth %2 set").arg(n).arg(label));
        }
        if (isEndpoint(v) && !isAcceptableOAuthEndpoint(text)) {
            return failedCheck(n, v.mailboxField,
                               QStringLiteral("Mailbox %1 - the OAuth %2 must start with https:// "
                                              "(http:// only for a server on this computer)")
                                   .arg(n)
                                   .arg(label));
        }
    }
    return {};
}

// What only an IMAP mailbox can get wrong: a sign-in of POP3's own, and
// spam moved into the very folder it was found in.
ServerSaveResult checkImapOptions(const MailboxConfig &mailbox)
{
    const int n = mailbox.number;
    if (mailbox.protocol != MailProtocol::Imap)
        return {};
    if (mailbox.signIn == SignInMethod::Apop) {
        return failedCheck(n, MailboxField::SignIn,
                           QStringLiteral("Mailbox %1 - APOP is a POP3 sign-in; choose another for an IMAP "
                                          "mailbox")
                               .arg(n));
    }
    if (mailbox.removal == SpamRemoval::MoveToFolder && !mailbox.junkFolder.isEmpty()
        && isSameImapFolder(mailbox.junkFolder, imapFolderOrInbox(mailbox.folder))) {
        return failedCheck(n, MailboxField::JunkFolder,
                           QStringLiteral("Mailbox %1 - spam cannot be moved to %2, the folder being "
                                          "checked; choose another folder")
                               .arg(n)
                               .arg(mailbox.junkFolder));
    }
    return {};
}

// The counter as a number; text that is not one counts as 0.
qint64 spamCountValue(const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (ok)
        return value;
    return parseSettingInt(text, 0);
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

// An authserv-id is one token: a blank inside would make a name no server writes.
bool isOneName(const QString &text)
{
    const QString name = text.trimmed();
    return !hasControlCharacter(text) && std::none_of(name.begin(), name.end(), [](QChar c) { return c.isSpace(); });
}

} // namespace

QString mailSecurityName(MailSecurity security)
{
    return choiceName(kSecurityNames, security);
}

std::optional<MailSecurity> mailSecurityFromName(const QString &name)
{
    return choiceFromName(kSecurityNames, name);
}

QString mailProtocolName(MailProtocol protocol)
{
    return choiceName(kProtocolNames, protocol);
}

std::optional<MailProtocol> mailProtocolFromName(const QString &name)
{
    return choiceFromName(kProtocolNames, name);
}

QString spamRemovalName(SpamRemoval removal)
{
    return choiceName(kRemovalNames, removal);
}

std::optional<SpamRemoval> spamRemovalFromName(const QString &name)
{
    return choiceFromName(kRemovalNames, name);
}

QString imapFolderOrInbox(const QString &folder)
{
    return folder.trimmed().isEmpty() ? QStringLiteral("INBOX") : folder;
}

bool isSameImapFolder(const QString &a, const QString &b)
{
    const QString inbox = QStringLiteral("INBOX");
    if (a.compare(inbox, Qt::CaseInsensitive) == 0)
        return b.compare(inbox, Qt::CaseInsensitive) == 0;
    return a == b;
}

GeneralSettings::GeneralSettings()
{
    for (int i = 0; i < kMailboxCount; ++i)
        mailboxes[i].number = i + 1;
}

bool GeneralSettings::ReadSettings(SettingsStore &store)
{
    const bool loaded = store.load();
    const GeneralSettings defaults;
    for (const TextValue &v : kTextValues)
        this->*v.field = store.value(SettingsStore::General, v.name, defaults.*v.field);
    for (const BoolValue &v : kBoolValues)
        this->*v.field = store.boolValue(SettingsStore::General, v.name, defaults.*v.field);
    minutes = store.intValue(SettingsStore::General, Minutes, defaults.minutes);
    const int ras = store.intValue(SettingsStore::General, Ras, defaults.dialUpIndex);
    dialUpIndex = ras >= 0 ? ras : 0;
    spamCount = QString::number(spamCountValue(store.value(SettingsStore::General, Count, defaults.spamCount)));
    return loaded;
}

bool GeneralSettings::SaveSettings(SettingsStore &store) const
{
    store.load();
    for (const TextValue &v : kTextValues)
        store.setValue(SettingsStore::General, v.name, this->*v.field);
    for (const BoolValue &v : kBoolValues)
        store.setBool(SettingsStore::General, v.name, this->*v.field);
    store.setInt(SettingsStore::General, Minutes, minutes);
    store.setInt(SettingsStore::General, Ras, dialUpIndex);
    store.setValue(SettingsStore::General, Count, spamCount);
    return store.save();
}

bool GeneralSettings::readServerSettings(SettingsStore &store)
{
    const bool loaded = store.load();
    defaultMailbox = readDefaultMailbox(store);
    for (MailboxConfig &mailbox : mailboxes)
        mailbox = readMailbox(store, mailbox.number);
    return loaded;
}

ServerSaveResult GeneralSettings::saveServerSettings(SettingsStore &store) const
{
    for (const MailboxConfig &mailbox : mailboxes) {
        if (ServerSaveResult refused = checkMailboxText(mailbox); refused.refused)
            return refused;
    }
    store.load();
    store.setInt(SettingsStore::Server, Which, isMailboxNumber(defaultMailbox) ? defaultMailbox : 1);
    ServerSaveResult result;
    for (const MailboxConfig &mailbox : mailboxes) {
        writeMailbox(store, mailbox, mailboxes);
        result = checkMailbox(mailbox);
        if (result.validationFailed())
            break;
    }
    if (!store.save())
        result.writeError = store.errorString();
    return result;
}

void GeneralSettings::addToSpamCount(int deleted)
{
    spamCount = QString::number(spamCountValue(spamCount) + deleted);
}

int GeneralSettings::dialUpIndexWithin(int entryCount) const
{
    return dialUpIndex >= 1 && dialUpIndex <= entryCount ? dialUpIndex : 0;
}

ServerSaveResult checkMailbox(const MailboxConfig &mailbox)
{
    const int n = mailbox.number;
    if (!mailbox.server.isEmpty() && mailbox.mailbox.isEmpty()) {
        return failedCheck(n, MailboxField::UserName,
                           QStringLiteral("Mailbox %1 has a server %2 but no mailbox").arg(n).arg(mailbox.server));
    }
    if (mailbox.server.isEmpty() && !mailbox.mailbox.isEmpty()) {
        return failedCheck(n, MailboxField::Server,
                           QStringLiteral("Mailbox %1 %2 has a blank server").arg(n).arg(mailbox.mailbox));
    }
    if (!mailbox.isConfigured())
        return {};
    if (ServerSaveResult imap = checkImapOptions(mailbox); imap.validationFailed())
        return imap;
    if (isOAuth(mailbox.signIn))
        return checkOAuthValues(mailbox);
    if (mailbox.password.isEmpty())
        return failedCheck(n, MailboxField::Password, QStringLiteral("Mailbox %1 - there is no password set").arg(n));
    return {};
}

ServerSaveResult checkMailboxText(const MailboxConfig &mailbox)
{
    const int n = mailbox.number;
    auto refused = [n](MailboxField field, const QString &message) {
        ServerSaveResult result = failedCheck(n, field, message);
        result.refused = true;
        return result;
    };
    auto controlCharacters = [n](const QString &what) {
        return QStringLiteral("The %1 of mailbox %2 must not contain line breaks, tabs, NUL or other control "
                              "characters.")
            .arg(what)
            .arg(n);
    };
    if (hasControlCharacter(mailbox.server))
        return refused(MailboxField::Server, controlCharacters(QStringLiteral("server name")));
    if (hasControlCharacter(mailbox.mailbox))
        return refused(MailboxField::UserName, controlCharacters(QStringLiteral("user name")));
    if (TmsCustomPOP::breaksCommandLine(mailbox.password)) {
        return refused(MailboxField::Password,
                       QStringLiteral("The password of mailbox %1 must not contain line breaks or NUL "
                                      "characters.")
                           .arg(n));
    }
    for (const OAuthValue &v : kOAuthValues) {
        if (keepsOAuthValue(v, mailbox.signIn) && hasControlCharacter(mailbox.oauth.*v.field))
            return refused(v.mailboxField, controlCharacters(QStringLiteral("OAuth ") + QLatin1String(v.label)));
    }
    if (mailbox.protocol == MailProtocol::Imap) {
        if (hasControlCharacter(mailbox.folder))
            return refused(MailboxField::Folder, controlCharacters(QStringLiteral("IMAP folder")));
        if (hasControlCharacter(mailbox.junkFolder))
            return refused(MailboxField::JunkFolder, controlCharacters(QStringLiteral("spam folder")));
    }
    if (!isOneName(mailbox.trustedServer)) {
        return refused(MailboxField::TrustedServer,
                       QStringLiteral("The trusted server of mailbox %1 must be one name, without blanks, line "
                                      "breaks, tabs or other control characters.")
                           .arg(n));
    }
    return {};
}

bool sendsPasswordInPlainText(const MailboxConfig &mailbox)
{
    return mailbox.security == MailSecurity::None && sendsPassword(mailbox.signIn);
}

QString unreachableKeyringText(int n, const QString &user, const QString &server)
{
    return QStringLiteral("Mailbox %1 (%2 at %3): its password is kept in the desktop keyring, which this "
                          "session cannot reach. Run the check inside the desktop session, set %4 to the "
                          "password, or tick \"Keep this password in the settings file\" for this mailbox in "
                          "the General settings.")
        .arg(QString::number(n), user, server, PasswordVariable);
}

MailboxLogin GetRemotePOPSettings(SettingsStore &store, int n)
{
    if (!isMailboxNumber(n))
        return {};
    store.load();
    return mailboxLogin(readMailbox(store, n));
}

MailboxLogin mailboxLogin(const MailboxConfig &mailbox)
{
    MailboxLogin login;
    login.number = mailbox.number;
    login.server = mailbox.server;
    login.user = mailbox.mailbox;
    login.password = isOAuth(mailbox.signIn) ? QString() : mailbox.password;
    if (!isOAuth(mailbox.signIn) && login.password.isEmpty() && mailbox.secretUnreachable)
        login.missingPasswordText = unreachableKeyringText(mailbox.number, mailbox.mailbox, mailbox.server);
    login.plainTextPassword = mailbox.plainTextPassword;
    login.security = mailbox.security;
    login.fingerprint = mailbox.fingerprint;
    login.signIn = mailbox.signIn;
    login.oauth = effectiveOAuthConfig(mailbox.signIn, mailbox.oauth);
    login.protocol = mailbox.protocol;
    login.folder = imapFolderOrInbox(mailbox.folder);
    login.removal = mailbox.removal;
    login.junkFolder = mailbox.junkFolder;
    return login;
}

MailboxLogin GetRemotePOPSettings(SettingsStore &store, int n, RemoteMailbox &client)
{
    const MailboxLogin login = GetRemotePOPSettings(store, n);
    applyMailboxLogin(login, client);
    return login;
}

void applyMailboxLogin(const MailboxLogin &login, RemoteMailbox &client)
{
    client.setServer(login.server);
    client.setUserName(login.user);
    client.setPassword(login.password);
    client.setMissingPasswordText(login.missingPasswordText);
    client.setPlainTextAllowed(login.plainTextPassword);
    client.setTlsMode(tlsModeFor(login.security));
    client.setTrustedFingerprint(login.fingerprint);
    client.setAuthMethod(authMethodFor(login.signIn));
}

TlsMode tlsModeFor(MailSecurity security)
{
    switch (security) {
    case MailSecurity::SslTls:
        return TlsMode::Implicit;
    case MailSecurity::StartTls:
        return TlsMode::StartTls;
    case MailSecurity::None:
        break;
    }
    return TlsMode::None;
}

bool GeneralSettings::trustCertificate(SettingsStore &store, int n, const QString &fingerprint)
{
    if (!isMailboxNumber(n))
        return false;
    mailboxes[n - 1].fingerprint = fingerprint;
    store.load();
    store.setValue(SettingsStore::Server, mailboxValue("Fingerprint", n), fingerprint);
    return store.save();
}

int serverToIndex(const MailboxTable &mailboxes, const QString &server, const QString &user)
{
    if (server.isEmpty())
        return 0;
    for (const MailboxConfig &mailbox : mailboxes) {
        if (mailbox.server.compare(server, Qt::CaseInsensitive) == 0
            && mailbox.mailbox.compare(user, Qt::CaseInsensitive) == 0)
            return mailbox.number;
    }
    return 0;
}

StartupSettings readStartupSettings(SettingsStore &store)
{
    GeneralSettings general;
    general.ReadSettings(store);
    return {general.startInTray, general.automatic, general.minutes, readDefaultMailbox(store)};
}

bool saveAutomatic(SettingsStore &store, bool automatic)
{
    store.load();
    store.setBool(SettingsStore::General, Automatic, automatic);
    return store.save();
}

int readPoints(SettingsStore &store)
{
    store.load();
    return store.intValue(SettingsStore::General, Points, 0);
}

bool savePoints(SettingsStore &store, int points)
{
    store.load();
    store.setInt(SettingsStore::General, Points, points);
    return store.save();
}
