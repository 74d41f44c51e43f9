#pragma once
// Where a mailbox's password and OAuth 2.0 client secret are kept.
//
// With a desktop keyring that answers (SettingsStore::passwordVault), the
// password of a configured mailbox is an entry of the keyring named after
// its account, "<user name>@<server in lower case>" under the service
// "Mailsieve", and the settings file holds no "Passwd<n>" value. The
// account, not the mailbox number, names the entry: a second settings file
// (another MAILSIEVE_HOME, the demo) that lists the same account shares its
// password, and one for another account cannot overwrite it.
//
// Without a keyring, when it refuses an entry, or when the mailbox keeps
// its password in the file ("KeepPassword<n>", for checks outside the
// desktop session), the password stays in the settings file as
// "Passwd<n>", scrambled under passwordKey(n). A scrambled value in the
// file is read first: it is either older than the keyring (and then moves
// there at the next save) or was written while the keyring did not answer,
// and so newer than any entry there.
//
// The client secret of an OAuth 2.0 mailbox is kept the same way: the entry
// "oauth2-client:<user name>@<server>", else "OAuthSecretScrambled<n>".
// Earlier versions kept it in the clear as "OAuthSecret<n>": such a value
// is still read, and the next save moves a non-empty one. No secret at all
// is still written as an empty "OAuthSecret<n>", as it always was.

#include "settings/generalsettings.h"

// The keyring entry of an account; empty when server or user name is empty.
QString passwordEntryName(const QString &server, const QString &user);
QString clientSecretEntryName(const QString &server, const QString &user);

// A secret as read. Empty with unreachable set when the file does not hold
// it and the keyring that would did not answer (or there is none).
struct StoredSecret
{
    QString text;
    bool unreachable = false;
};

// Mailbox n's password and client secret, for the server and user name
// stored with it.
StoredSecret readMailboxPassword(const SettingsStore &store, int n, const QString &server, const QString &user);
StoredSecret readClientSecret(const SettingsStore &store, int n, const QString &server, const QString &user);

// Keeps the mailbox's password: in the keyring, removing "Passwd<n>" from
// the store, or else scrambled in the store. An empty password in the
// keyring's care leaves the keyring as it is. previousEntry is the entry of
// the account the mailbox named before this save: when no mailbox of the
// table keeps a password for it in the keyring any more, it is removed
// there; so is the mailbox's own entry once its password is kept in the
// file. A mailbox that signs in with OAuth 2.0 needs and keeps no password,
// so its account's entry goes the same way.
void writeMailboxPassword(SettingsStore &store, const MailboxConfig &mailbox, const QString &previousEntry,
                          const MailboxTable &table);
// The same for the client secret of an OAuth 2.0 mailbox (the other
// mailboxes keep none); previous is the mailbox as stored before this save.
void writeClientSecret(SettingsStore &store, const MailboxConfig &mailbox, const MailboxConfig &previous,
                       const MailboxTable &table);

// The OAuth 2.0 refresh token of an account is kept like a password: the
// keyring entry "oauth2:<user name>@<server>" (empty when server or user name
// is empty), else the scrambled value "Token<n>" of the mailbox.
QString refreshTokenEntryName(const QString &server, const QString &user);
QString refreshTokenValueName(int n);

// A mailbox saved with another account or sign-in than stored before
// (previous) no longer needs the refresh token kept for it: "Token<n>" goes,
// and so does the keyring entry of the previous account once no mailbox of
// the table signs in to it with OAuth 2.0.
void forgetStaleRefreshToken(SettingsStore &store, const MailboxConfig &mailbox, const MailboxConfig &previous,
                             const MailboxTable &table);

enum class PasswordPlace { Keyring, SettingsFile };
// Where a save would put the passwords now: asks the keyring whether it answers.
PasswordPlace passwordPlace(const SettingsStore &store);
// The General settings window's line about it.
QString passwordPlaceText(PasswordPlace place);
