#pragma once
// Where the refresh token of an OAuth 2.0 mailbox is kept: like a password
// (see mailboxpasswords.h), in the desktop keyring when one answers, as the
// entry "oauth2:<user name>@<server>", and otherwise scrambled in the
// settings file as "Token<n>" under passwordKey(n) (the names are in
// mailboxpasswords.h, which also forgets a token no mailbox needs). A
// mailbox that is not stored (number 0) has only the keyring.

#include "settings/generalsettings.h"

#include <QString>

class SettingsStore;

// "<user name> at <server>", the account as messages name it.
QString oauthAccountText(const MailboxLogin &login);

class RefreshTokens
{
public:
    explicit RefreshTokens(SettingsStore &store);

    // The mailbox's token; empty when none is kept. A scrambled one in the
    // settings file is read first: it was written while the keyring did not
    // answer, so it is newer than any entry there.
    QString read(const MailboxLogin &login);
    // Keeps the token (the settings file is saved at once); false with
    // errorString() when no place took it.
    bool write(const MailboxLogin &login, const QString &token);
    QString errorString() const { return m_error; }

private:
    SettingsStore &m_store;
    QString m_error;
};
