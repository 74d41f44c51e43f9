// Feeds the settings store: the input is "mailsieve.conf". The store loads
// it, answers a few typed reads, saves, and the saved file must load to the
// same values.

#include "fuzzsupport.h"

#include "settings/settingsstore.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = writeFuzzFile(QStringLiteral("mailsieve.conf"),
                                       QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    SettingsStore store(path);
    for (const QString &name : {QStringLiteral("Minutes"), QStringLiteral("Server1"), QStringLiteral("Passwd1")}) {
        store.value(SettingsStore::Server, name);
        store.intValue(SettingsStore::General, name, -1);
        store.boolValue(SettingsStore::General, name, false);
    }
    if (!store.save())
        return 0;
    const SettingsStore reloaded(path);
    requirePromise(reloaded.problems().isEmpty(), "a saved file loads without problems");
    requirePromise(reloaded.serialized() == store.serialized(), "a saved file loads to the same values");
    return 0;
}
