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

bool namesAccount(const MailboxTable &table, const QString &entry)
{
    return std::any_of(table.begin(), table.end(), [&](const MailboxConfig &mailbox) {
        return passwordEntryName(mailbox.server, mailbox.mailbox) == entry;
    });
}

// True when the settings file need not hold the password. An empty one
// leaves the account's entry alone: the window may show it empty because
// the keyring did not answer when it was read, and a configured mailbox
// without a password is refused anyway.
bool keepInKeyring(PasswordVault &vault, const MailboxConfig &mailbox)
{
    if (mailbox.password.isEmpty())
        return true;
    const QString entry = passwordEntryName(mailbox.server, mailbox.mailbox);
    return !entry.isEmpty() && vault.write(entry, mailbox.password);
}

} // namespace

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
    PasswordVault *vault = store.passwordVault();
    if (!vault || !keepInKeyring(*vault, mailbox)) {
        store.setValue(SettingsStore::Server, passwordValueName(n), ScramblePassword(mailbox.password, passwordKey(n)));
        return;
    }
    store.remove(SettingsStore::Server, passwordValueName(n));
    if (!previousEntry.isEmpty() && !namesAccount(table, previousEntry))
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
