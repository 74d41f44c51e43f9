#include "settings/mailboxpasswords.h"

#include "settings/passwordvault.h"
#include "settings/scramble.h"
#include "settings/settingsstore.h"

#include <QStringList>

#include <algorithm>

namespace {

// One secret of a mailbox that lives in the keyring or, scrambled, in the
// settings file: the password, or the OAuth 2.0 client secret.
struct SecretSlot
{
    QString (*valueName)(int n);
    QString (*entryName)(const QString &server, const QString &user);
    bool (*usedBy)(SignInMethod method);
    QString (*of)(const MailboxConfig &mailbox);
};

const SecretSlot PasswordSlot{
    [](int n) { return QStringLiteral("Passwd%1").arg(n); },
    passwordEntryName,
    [](SignInMethod method) { return !isOAuth(method); },
    [](const MailboxConfig &mailbox) { return mailbox.password; },
};
const SecretSlot ClientSecretSlot{
    [](int n) { return QStringLiteral("OAuthSecretScrambled%1").arg(n); },
    clientSecretEntryName,
    isOAuth,
    [](const MailboxConfig &mailbox) { return mailbox.oauth.clientSecret; },
};

// Where earlier versions kept the client secret, in the clear.
QString clearClientSecretName(int n)
{
    return QStringLiteral("OAuthSecret%1").arg(n);
}

StoredSecret readSecret(const SettingsStore &store, const SecretSlot &slot, int n, const QString &server,
                        const QString &user)
{
    const QString scrambled = store.value(SettingsStore::Server, slot.valueName(n));
    if (!scrambled.isEmpty())
        return {UnscramblePassword(scrambled, passwordKey(n))};
    const QString entry = slot.entryName(server, user);
    if (entry.isEmpty())
        return {};
    PasswordVault *vault = store.passwordVault();
    if (!vault)
        return {QString(), true};
    const PasswordVault::Lookup found = vault->read(entry);
    return {found.secret, found.answer == PasswordVault::Answer::Unavailable};
}

// Some mailbox of the table keeps this secret of the account in the keyring.
bool keptInKeyring(const MailboxTable &table, const SecretSlot &slot, const QString &entry)
{
    return std::any_of(table.begin(), table.end(), [&](const MailboxConfig &mailbox) {
        return slot.usedBy(mailbox.signIn) && !mailbox.keepPasswordInFile
               && slot.entryName(mailbox.server, mailbox.mailbox) == entry;
    });
}

void forgetUnkept(PasswordVault &vault, const SecretSlot &slot, const QStringList &entries, const MailboxTable &table)
{
    for (const QString &entry : entries) {
        if (!entry.isEmpty() && !keptInKeyring(table, slot, entry))
            vault.remove(entry);
    }
}

// True when the settings file need not hold the secret. An empty one
// leaves the account's entry alone: the window may show it empty because
// the keyring did not answer when it was read, and a configured mailbox
// without a password is refused anyway.
bool keepInKeyring(PasswordVault &vault, const QString &entry, const QString &secret)
{
    if (secret.isEmpty())
        return true;
    return !entry.isEmpty() && vault.write(entry, secret);
}

void writeSecret(SettingsStore &store, const SecretSlot &slot, const MailboxConfig &mailbox,
                 const QString &previousEntry, const MailboxTable &table)
{
    const int n = mailbox.number;
    // A mailbox whose sign-in does not use the secret keeps none, not even
    // one typed before the switch; its account's entry goes below once no
    // mailbox keeps it in the keyring.
    const QString secret = slot.usedBy(mailbox.signIn) ? slot.of(mailbox) : QString();
    const QString entry = slot.entryName(mailbox.server, mailbox.mailbox);
    PasswordVault *vault = store.passwordVault();
    if (mailbox.keepPasswordInFile || !vault || !keepInKeyring(*vault, entry, secret)) {
        store.setValue(SettingsStore::Server, slot.valueName(n), ScramblePassword(secret, passwordKey(n)));
        // Kept in the file on purpose: a copy in the keyring would only go
        // stale. An empty one may be a keyring that did not answer.
        if (mailbox.keepPasswordInFile && vault && !secret.isEmpty())
            forgetUnkept(*vault, slot, {entry, previousEntry}, table);
        return;
    }
    store.remove(SettingsStore::Server, slot.valueName(n));
    forgetUnkept(*vault, slot, {previousEntry}, table);
}

// Some mailbox of the table signs in to the account with OAuth 2.0.
bool needsRefreshToken(const MailboxTable &table, const QString &entry)
{
    return std::any_of(table.begin(), table.end(), [&](const MailboxConfig &mailbox) {
        return isOAuth(mailbox.signIn) && refreshTokenEntryName(mailbox.server, mailbox.mailbox) == entry;
    });
}

} // namespace

QString refreshTokenEntryName(const QString &server, const QString &user)
{
    const QString account = passwordEntryName(server, user);
    return account.isEmpty() ? QString() : QStringLiteral("oauth2:") + account;
}

QString refreshTokenValueName(int n)
{
    return QStringLiteral("Token%1").arg(n);
}

void forgetStaleRefreshToken(SettingsStore &store, const MailboxConfig &mailbox, const MailboxConfig &previous,
                             const MailboxTable &table)
{
    // Only a mailbox stored with OAuth 2.0 can have a token kept: the others
    // cost no keyring call.
    if (!isOAuth(previous.signIn))
        return;
    const QString entry = refreshTokenEntryName(previous.server, previous.mailbox);
    if (isOAuth(mailbox.signIn) && refreshTokenEntryName(mailbox.server, mailbox.mailbox) == entry)
        return;
    store.remove(SettingsStore::Server, refreshTokenValueName(mailbox.number));
    PasswordVault *vault = store.passwordVault();
    if (vault && !entry.isEmpty() && !needsRefreshToken(table, entry))
        vault->remove(entry);
}

QString passwordEntryName(const QString &server, const QString &user)
{
    if (server.isEmpty() || user.isEmpty())
        return {};
    // Host names are the same in any letter case; user names need not be.
    return user + u'@' + server.toLower();
}

QString clientSecretEntryName(const QString &server, const QString &user)
{
    const QString account = passwordEntryName(server, user);
    return account.isEmpty() ? QString() : QStringLiteral("oauth2-client:") + account;
}

StoredSecret readMailboxPassword(const SettingsStore &store, int n, const QString &server, const QString &user)
{
    return readSecret(store, PasswordSlot, n, server, user);
}

StoredSecret readClientSecret(const SettingsStore &store, int n, const QString &server, const QString &user)
{
    if (store.value(SettingsStore::Server, ClientSecretSlot.valueName(n)).isEmpty()
        && store.contains(SettingsStore::Server, clearClientSecretName(n)))
        return {store.value(SettingsStore::Server, clearClientSecretName(n))};
    return readSecret(store, ClientSecretSlot, n, server, user);
}

void writeMailboxPassword(SettingsStore &store, const MailboxConfig &mailbox, const QString &previousEntry,
                          const MailboxTable &table)
{
    writeSecret(store, PasswordSlot, mailbox, previousEntry, table);
}

void writeClientSecret(SettingsStore &store, const MailboxConfig &mailbox, const MailboxConfig &previous,
                       const MailboxTable &table)
{
    const int n = mailbox.number;
    // Only a mailbox stored with OAuth 2.0 can have a secret kept: the
    // others cost no keyring call.
    const QString previousEntry =
        ClientSecretSlot.usedBy(previous.signIn) ? clientSecretEntryName(previous.server, previous.mailbox) : QString();
    const bool used = ClientSecretSlot.usedBy(mailbox.signIn);
    if (used && !mailbox.oauth.clientSecret.isEmpty()) {
        store.remove(SettingsStore::Server, clearClientSecretName(n));
        writeSecret(store, ClientSecretSlot, mailbox, previousEntry, table);
        return;
    }
    // No secret: said in the clear, as it always was, unless it is only
    // unknown because the keyring holding it did not answer.
    store.remove(SettingsStore::Server, ClientSecretSlot.valueName(n));
    if (used && !mailbox.secretUnreachable)
        store.setValue(SettingsStore::Server, clearClientSecretName(n), QString());
    else if (!used)
        store.remove(SettingsStore::Server, clearClientSecretName(n));
    if (PasswordVault *vault = store.passwordVault(); vault && !used && !previousEntry.isEmpty())
        forgetUnkept(*vault, ClientSecretSlot, {previousEntry}, table);
}

PasswordPlace passwordPlace(const SettingsStore &store)
{
    PasswordVault *vault = store.passwordVault();
    return vault && vault->isAvailable() ? PasswordPlace::Keyring : PasswordPlace::SettingsFile;
}

QString passwordPlaceText(PasswordPlace place)
{
    switch (place) {
    case PasswordPlace::Keyring:
        return QStringLiteral("Passwords are kept in the desktop keyring.");
    case PasswordPlace::SettingsFile:
        break;
    }
    return QStringLiteral("Passwords are kept scrambled in mailsieve.conf (no desktop keyring available).");
}
