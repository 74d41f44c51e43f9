// Feeds the known spammer list: the input after its first byte is
// "known.lst"; the first byte's low bit sorts the list in the C locale
// (code point order) or in English (the collator). Every loaded entry must
// be found again by bisection, and the list saved from the editor's text
// must load back unchanged.

#include "fuzzsupport.h"

#include "rules/knownlist.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QLocale locale = (data[0] & 1) ? QLocale(QLocale::English, QLocale::UnitedStates) : QLocale::c();
    writeFuzzFile(KnownSpammerList::fileName(),
                  QByteArrayView(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)));

    KnownSpammerList list(locale);
    if (!list.LoadUpKnownList(fuzzFolder()).ok)
        return 0;
    // Bounded: the searches alone would make a long list slow to fuzz.
    for (int i = 0; i < std::min(list.count(), 64); ++i) {
        // Only an entry's first ComparedLength characters take part in a search.
        const QString compared = list.entry(i).left(KnownSpammerList::ComparedLength);
        requirePromise(list.findKnown(compared) >= 0, "every entry is found by bisection");
        list.isInKnownList(list.entry(i));
    }

    requirePromise(list.saveFromEditorText(list.entries().join(u'\n'), fuzzFolder()).ok,
                   "the list can be saved from the editor's text");
    KnownSpammerList reloaded(locale);
    requirePromise(reloaded.LoadUpKnownList(fuzzFolder()).ok, "a saved list loads");
    requirePromise(reloaded.entries() == list.entries(), "a saved list loads as it was");
    return 0;
}
