#include "app/programcore.h"

#include "rules/knownlist.h"
#include "rules/listfiles.h"

#include <QDir>

namespace {

// A check outside the desktop session cannot reach the keyring: the
// password set in the environment stands in for the one kept there.
MailboxLogin withPasswordFromEnvironment(MailboxLogin login)
{
    if (login.missingPasswordText.isEmpty())
        return login;
    const QString password = qEnvironmentVariable(qPrintable(PasswordVariable));
    if (!password.isEmpty()) {
        login.password = password;
        login.missingPasswordText.clear();
    }
    return login;
}

} // namespace

ProgramCore::ProgramCore(const QString &programFolder)
    : folder(programFolder), iniPath(QDir(programFolder).filePath(ruleOptionsFileName())),
      memory(QDir(programFolder).filePath(MessageStore::FileName)),
      markingSource(
          list, [this]() -> const RemoteMailbox & { return clients.current(); }, settings.mailboxes),
      marking(rules, markingSource)
{
    for (RemoteMailbox *client : clients.all())
        client->setRAS(&ras);
    marking.setMemo(&memory);
    marking.setLearner(&learner);
    memory.learn = [this](const QList<Lesson> &lessons) {
        learner.teach(lessons);
        return learner.takeWarning();
    };
    memory.trustedServerOf = [this](const StoreAccount &account) {
        const int n = serverToIndex(settings.mailboxes, account.server, account.user);
        return n > 0 ? settings.mailboxes.at(n - 1).trustedServer : QString();
    };
}

QStringList ProgramCore::load()
{
    QStringList problems;
    if (!settings.ReadSettings(store) || !settings.readServerSettings(store))
        problems << store.errorString();
    problems << store.problems();
    useStoredDialUpEntry();
    problems << readSettings(rules, folder).errors;
    const KnownListResult known = rules.knownList.LoadUpKnownList(folder);
    if (!known.ok)
        problems << known.error;
    return problems;
}

void ProgramCore::useDesktopKeyring()
{
    keyring = std::make_unique<PasswordVault>();
    store.setPasswordVault(keyring.get());
}

void ProgramCore::useStoredDialUpEntry()
{
    if (settings.dialUpIndex < 1)
        return; // no dial-up: the system is not even asked for its entries
    const QStringList entries = ras.Entries();
    const int entry = settings.dialUpIndexWithin(int(entries.size()));
    if (entry > 0)
        ras.setService(entries.at(entry - 1));
}

QStringList ProgramCore::saveRules()
{
    return Savesettings(rules, folder).errors;
}

SignInResult ProgramCore::signIn(const MailboxLogin &login, std::function<bool(const QUrl &)> openBrowser)
{
    OAuthSignIn flow(store);
    if (openBrowser)
        flow.openBrowser = std::move(openBrowser);
    return flow.run(login);
}

CheckHooks ProgramCore::checkHooks()
{
    CheckHooks hooks;
    hooks.loadMailbox = [this](int n) { return withPasswordFromEnvironment(GetRemotePOPSettings(store, n)); };
    hooks.accessToken = [this](const MailboxLogin &login) { return accessTokens.fresh(login); };
    hooks.markForDeletion = [this](int index) { marking.MarkForDeletion(index); };
    hooks.memory = &memory;
    return hooks;
}

QString ProgramCore::forgetRemovedMailboxes()
{
    QList<StoreAccount> configured;
    for (const MailboxConfig &mailbox : settings.mailboxes) {
        if (mailbox.isConfigured())
            configured << storeAccount(mailboxLogin(mailbox));
    }
    memory.keepOnlyAccounts(configured);
    return memory.takeWarning();
}
