#pragma once
// Fresh access tokens for mailboxes that sign in with OAuth 2.0: the stored
// refresh token is traded at the provider's token endpoint. Never opens a
// browser, so the unattended checks (tray, timer, console) can use it.

#include "settings/generalsettings.h"

#include <chrono>

class SettingsStore;

class AccessTokens
{
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{30000};

    explicit AccessTokens(SettingsStore &store, std::chrono::milliseconds timeout = DefaultTimeout);

    // A fresh access token for the mailbox. Throws ESignInNeededError
    // ("Sign in again to <account>") when no grant is stored or the
    // provider no longer accepts it, ELoginRefusedError when the provider
    // refuses the request for another reason (a wrong client ID, say), and
    // ESocketError when the provider cannot be reached in time or answers
    // nonsense. A new refresh token in the answer replaces the stored one.
    QString fresh(const MailboxLogin &login);

private:
    SettingsStore &m_store;
    std::chrono::milliseconds m_timeout;
};
