#include "app/programcore.h"

#include "rules/knownlist.h"
#include "rules/listfiles.h"

#include <QDir>

ProgramCore::ProgramCore(const QString &folder)
    : folder(folder),
      iniPath(QDir(folder).filePath(ruleOptionsFileName())),
      markingSource(list, client, settings.mailboxes),
      marking(rules, markingSource)
{
    client.setRAS(&ras);
}

QStringList ProgramCore::load()
{
    QStringList problems;
    if (!settings.ReadSettings(store) || !settings.readServerSettings(store))
        problems << store.errorString();
    problems << store.problems();
    problems << readSettings(rules, folder).errors;
    const KnownListResult known = rules.knownList.LoadUpKnownList(folder);
    if (!known.ok)
        problems << known.error;
    return problems;
}

QStringList ProgramCore::saveRules()
{
    return Savesettings(rules, folder).errors;
}

CheckHooks ProgramCore::checkHooks()
{
    CheckHooks hooks;
    hooks.loadMailbox = [this](int n) { return GetRemotePOPSettings(store, n); };
    hooks.markForDeletion = [this](int index) { marking.MarkForDeletion(index); };
    return hooks;
}
