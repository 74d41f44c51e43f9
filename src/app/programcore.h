#pragma once
// The objects that live for the whole run, shared by the main window and the
// command-line check: the settings store and the live general settings, the
// rule set, the mailbox clients (POP3 and IMAP), the memory of earlier
// checks (the message store), the message list and the marking decision
// over them.

#include "app/checkcycle.h"
#include "app/listmarkingsource.h"
#include "app/mailboxclients.h"
#include "app/mailboxmemory.h"
#include "app/messagelearner.h"
#include "app/messagelist.h"
#include "mail/dialup.h"
#include "mail/dialupnetworkmanager.h"
#include "mail/dialupprocess.h"
#include "rules/marking.h"
#include "rules/rulelist.h"
#include "settings/generalsettings.h"
#include "settings/passwordvault.h"
#include "settings/settingsstore.h"
#include "signin/accesstokens.h"
#include "signin/oauthsignin.h"

#include <QStringList>
#include <memory>

class ProgramCore
{
public:
    // folder is the program's folder (rule lists, known list, mailsieve.ini).
    explicit ProgramCore(const QString &folder);
    ProgramCore(const ProgramCore &) = delete;
    ProgramCore &operator=(const ProgramCore &) = delete;

    // The start-up reads: general and mailbox settings, the rule tables with
    // their options, the known spammer list. Returns what could not be read,
    // one message each; whatever did load is in use.
    QStringList load();

    // The check's links to the store, the rules and their files. A stored
    // mailbox whose password is kept in a keyring this session cannot reach
    // takes the one in MAILSIEVE_PASSWORD when that is set.
    CheckHooks checkHooks();

    // Writes the rule tables (their hit counters) and the rule options.
    QStringList saveRules();

    // The General settings were stored: what the message store kept of
    // mailboxes no longer configured goes. The warning when it could not.
    QString forgetRemovedMailboxes();

    // Hands the stored dial-up entry to the dial-up line, so every check
    // (also one from the command line) dials it first.
    void useStoredDialUpEntry();

    // The browser sign-in of an OAuth 2.0 mailbox; its refresh token is kept
    // for the later checks. openBrowser shows the provider's page (the
    // desktop's browser when empty).
    SignInResult signIn(const MailboxLogin &login, std::function<bool(const QUrl &)> openBrowser = {});

    // Mailbox passwords go to the desktop keyring when there is one; call
    // before load(). Not done by default: a test's settings must never
    // reach a developer's real keyring. Without a session bus the keyring
    // answers at once and the settings file is used.
    void useDesktopKeyring();

    const QString folder;
    const QString iniPath;
    // Declared before the store, which refers to it.
    std::unique_ptr<PasswordVault> keyring;
    SettingsStore store;
    // Fresh access tokens for the mailboxes that sign in with OAuth 2.0.
    AccessTokens accessTokens{store};
    GeneralSettings settings;
    RuleSet rules;
    // The dial-up line the client brings up before it connects; declared
    // before the client so it outlives the client's last Close.
    ProcessRunner dialUpRunner;
    NetworkManagerDialUp dialUpBackend{dialUpRunner};
    TagRas ras{dialUpBackend};
    MailboxClients clients;
    // What earlier checks listed, in "mailsieve.db" of the program's folder;
    // the window's checks and the command line's share the file.
    MailboxMemory memory;
    // Judges what the rules leave unmarked and learns from what the user
    // does; it keeps its counts in the memory's file.
    MessageLearner learner{memory.store(), rules.learning};
    // The client of the loaded mailbox.
    RemoteMailbox &client() { return clients.current(); }
    MessageListModel list;
    ListMarkingSource markingSource;
    MarkingEngine marking;
};
