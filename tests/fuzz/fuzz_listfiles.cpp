// Feeds the rule files: the first input byte chooses one of the four list
// files ("subj.lst", "header.lst", "from.lst", "except.lst") or the rule
// options file "mailsieve.ini"; the rest is that file. What loads is saved
// and loaded again, and must come back the same.

#include "fuzzsupport.h"

#include "rules/listfiles.h"

#include <QDir>

#include <cstddef>
#include <cstdint>

namespace {

void roundTripTable(RuleTable which, QByteArrayView file)
{
    RuleList table(which);
    if (!loadRuleList(table, writeFuzzFile(listFileName(which), file)))
        return;
    const QString savedPath = QDir(fuzzFolder()).filePath(QStringLiteral("saved.lst"));
    QString error;
    requirePromise(saveRuleList(table, savedPath, error), "a loaded table can be saved");
    RuleList reloaded(which);
    requirePromise(loadRuleList(reloaded, savedPath), "a saved table loads");
    requirePromise(reloaded == table, "a saved table loads as it was");
}

void roundTripOptions(QByteArrayView file)
{
    const QString path = writeFuzzFile(ruleOptionsFileName(), file);
    RuleSet rules;
    QString error;
    if (!readRuleOptions(rules, path, error))
        return;
    requirePromise(saveRuleOptions(rules, path, error), "read rule options can be saved");
    RuleSet reloaded;
    requirePromise(readRuleOptions(reloaded, path, error), "saved rule options read");
    requirePromise(reloaded.sizeRules == rules.sizeRules && reloaded.knownListEnabled == rules.knownListEnabled,
                   "saved rule options read as they were");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView file(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const int choice = data[0] % (std::size(AllRuleTables) + 1);
    if (choice < int(std::size(AllRuleTables)))
        roundTripTable(AllRuleTables[choice], file);
    else
        roundTripOptions(file);
    return 0;
}
