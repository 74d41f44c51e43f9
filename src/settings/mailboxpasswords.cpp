#include "settings/mailboxpasswords.h"

#include "settings/passwordvault.h"
#include "settings/scramble.h"
#include "settings/settingsstore.h"

#include <algorithm>

namespace {

QString passwordValueName(int n)
{
    return QStringLiteral("Passwd%1").arg(n);
}

// Some mailbox of the table signs in to the account with its password.
bool needsPassword(const MailboxTable &table, const QString &entry)
{
    return std::any_of(table.begin(), table.end(), [&](const MailboxConfig &mailbox) {
        return !isOAuth(mailbox.signIn) && passwordEntryName(mailbox.server, mailbox.mailbox) == entry;
    });
}

// True when the settings file need not hold the password. An empty one
// leaves the account's entry alone: the window may show it empty because
// the keyring did not answer when it was read, and a configured mailbox
// without a password is refused anyway.
bool keepInKeyring(PasswordVault &vault, const QString &entry, const QString &password)
{
    if (password.isEmpty())
        return true;
    return !entry.isEmpty() && vault.write(entry, password);
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

QString readMailboxPassword(const SettingsStore &store, int n, const QString &server, const QString &user)
{
    const QString scrambled = store.value(SettingsStore::Server, passwordValueName(n));
    PasswordVault *vault = store.passwordVault();
    const QString entry = passwordEntryName(server, user);
    if (!scrambled.isEmpty() || !vault || entry.isEmpty())
        return UnscramblePassword(scrambled, passwordKey(n));
    return vault->read(entry).secret;
}

void writeMailboxPassword(SettingsStore &store, const MailboxConfig &mailbox, const QString &previousEntry,
                          const MailboxTable &table)
{
    const int n = mailbox.number;
    // A mailbox that signs in with a token keeps no password, not even one
    // typed before the switch; its account's entry goes below once no
    // mailbox signs in to it with the password.
    const QString password = isOAuth(mailbox.signIn) ? QString() : mailbox.password;
    PasswordVault *vault = store.passwordVault();
    if (!vault || !keepInKeyring(*vault, passwordEntryName(mailbox.server, mailbox.mailbox), password)) {
        store.setValue(SettingsStore::Server, passwordValueName(n), ScramblePassword(password, passwordKey(n)));
        return;
    }
    store.remove(SettingsStore::Server, passwordValueName(n));
    if (!previousEntry.isEmpty() && !needsPassword(table, previousEntry))
        vault->remove(previousEntry);
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
