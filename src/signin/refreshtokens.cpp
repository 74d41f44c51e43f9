#include "signin/refreshtokens.h"

#include "settings/mailboxpasswords.h"
#include "settings/passwordvault.h"
#include "settings/scramble.h"
#include "settings/settingsstore.h"

namespace {

bool isStoredMailbox(int n)
{
    return n >= 1 && n <= kMailboxCount;
}

} // namespace

QString oauthAccountText(const MailboxLogin &login)
{
    return QStringLiteral("%1 at %2").arg(login.user, login.server);
}

RefreshTokens::RefreshTokens(SettingsStore &store) : m_store(store)
{
}

QString RefreshTokens::read(const MailboxLogin &login)
{
    // Another run (a console sign-in, the window) may have written it.
    m_store.load();
    if (isStoredMailbox(login.number)) {
        const QString scrambled = m_store.value(SettingsStore::Server, refreshTokenValueName(login.number));
        if (!scrambled.isEmpty())
            return UnscramblePassword(scrambled, passwordKey(login.number));
    }
    PasswordVault *vault = m_store.passwordVault();
    const QString entry = refreshTokenEntryName(login.server, login.user);
    if (!vault || entry.isEmpty())
        return {};
    return vault->read(entry).secret;
}

bool RefreshTokens::write(const MailboxLogin &login, const QString &token)
{
    m_error.clear();
    PasswordVault *vault = m_store.passwordVault();
    const QString entry = refreshTokenEntryName(login.server, login.user);
    const bool inKeyring = vault && !entry.isEmpty() && vault->write(entry, token);
    if (!isStoredMailbox(login.number)) {
        if (!inKeyring)
            m_error = QStringLiteral("no desktop keyring answered, and the mailbox is not stored");
        return inKeyring;
    }
    m_store.load();
    const QString valueName = refreshTokenValueName(login.number);
    if (inKeyring && !m_store.contains(SettingsStore::Server, valueName))
        return true;
    // A copy left in the file would be read before the keyring's.
    if (inKeyring)
        m_store.remove(SettingsStore::Server, valueName);
    else
        m_store.setValue(SettingsStore::Server, valueName, ScramblePassword(token, passwordKey(login.number)));
    if (m_store.save())
        return true;
    m_error = m_store.errorString();
    return false;
}
