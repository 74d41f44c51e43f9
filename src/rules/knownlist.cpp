#include "rules/knownlist.h"

#include "rules/textfile.h"
#include "rules/textmatch.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace {

constexpr qsizetype MaxDomainLength = 255;

bool isEmptyLine(const QString &line)
{
    return line.trimmed().isEmpty();
}

} // namespace

// A pre-computed comparison key: the locale's collation key, or for the C
// locale (which has no collation) the case-folded text in code point order,
// the same order QCollator::compare gives there.
class KnownSpammerList::Key
{
public:
    explicit Key(QCollatorSortKey key) : collated_(std::move(key)) {}
    explicit Key(QString folded) : folded_(std::move(folded)) {}

    int compare(const Key &other) const
    {
        return collated_ ? collated_->compare(*other.collated_) : folded_.compare(other.folded_);
    }

private:
    std::optional<QCollatorSortKey> collated_;
    QString folded_;
};

struct KnownSpammerList::Entry
{
    QString text;
    Key key; // of the first ComparedLength characters
};

KnownSpammerList::KnownSpammerList(const QLocale &locale)
    : collator_(locale), plainOrder_(locale.language() == QLocale::C)
{
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
}

KnownSpammerList::~KnownSpammerList() = default;
KnownSpammerList::KnownSpammerList(KnownSpammerList &&) noexcept = default;
KnownSpammerList &KnownSpammerList::operator=(KnownSpammerList &&) noexcept = default;

KnownSpammerList::Key KnownSpammerList::makeKey(QStringView text) const
{
    if (plainOrder_)
        return Key(text.toString().toCaseFolded());
    return Key(collator_.sortKey(text.toString()));
}

int KnownSpammerList::count() const
{
    return int(entries_.size());
}

QString KnownSpammerList::entry(int index) const
{
    return index >= 0 && index < count() ? entries_[index].text : QString();
}

QStringList KnownSpammerList::entries() const
{
    QStringList list;
    list.reserve(count());
    for (const Entry &e : entries_)
        list.append(e.text);
    return list;
}

void KnownSpammerList::clear()
{
    entries_.clear();
    revision_.bump();
}

void KnownSpammerList::add(const QString &entry)
{
    Entry e{entry, makeKey(QStringView(entry).left(ComparedLength))};
    const auto at = std::upper_bound(entries_.begin(), entries_.end(), e,
                                     [](const Entry &a, const Entry &b) { return a.key.compare(b.key) < 0; });
    entries_.insert(at, std::move(e));
    revision_.bump();
}

void KnownSpammerList::setEntries(const QStringList &entries)
{
    entries_.clear();
    entries_.reserve(entries.size());
    for (const QString &text : entries)
        entries_.push_back({text, makeKey(QStringView(text).left(ComparedLength))});
    sortEntries();
    revision_.bump();
}

void KnownSpammerList::sortEntries()
{
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry &a, const Entry &b) { return a.key.compare(b.key) < 0; });
}

int KnownSpammerList::findKnown(const QString &key) const
{
    const Key wanted = makeKey(key);
    int low = 0;
    int high = count() - 1;
    while (low <= high) {
        const int middle = (low + high) / 2;
        const int order = wanted.compare(entries_[middle].key);
        if (order == 0)
            return middle;
        if (order < 0)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return -1;
}

KnownMatch KnownSpammerList::isInKnownList(const QString &sender) const
{
    if (findKnown(sender) >= 0)
        return {true, QStringLiteral("E-mail"), sender};
    const qsizetype at = sender.indexOf(u'@');
    if (at < 0)
        return {};
    const QString domain = sender.mid(at + 1, MaxDomainLength);
    return {findKnown(domain) >= 0, QStringLiteral("Domain"), domain};
}

KnownListResult KnownSpammerList::LoadUpKnownList(const QString &folder)
{
    clear();
    const QString path = QDir(folder).filePath(fileName());
    if (!QFileInfo::exists(path))
        return {};
    QByteArray bytes;
    QString error;
    if (!readWholeFile(path, bytes, error))
        return {false, error};
    QStringList lines = splitLines(decodeFileText(bytes));
    lines.removeIf(isEmptyLine);
    setEntries(lines);
    return {};
}

bool KnownSpammerList::hasNumericUserPart(const QString &line)
{
    const qsizetype at = line.indexOf(u'@');
    return at >= 0 && countNumeric(QStringView(line).left(at)) == at;
}

KnownListResult KnownSpammerList::saveFromEditorText(const QString &text, const QString &folder)
{
    QStringList kept;
    QString previous;
    for (const QString &line : splitLines(text)) {
        const QString upper = foldCase(line);
        if (upper != previous && !isEmptyLine(line) && !hasNumericUserPart(line))
            kept.append(line);
        previous = upper;
    }
    setEntries(kept);

    const QString path = QDir(folder).filePath(fileName());
    if (!QFileInfo::exists(path))
        return {false, QStringLiteral("File %1 not found").arg(path)};
    QByteArray bytes;
    for (const Entry &e : entries_) {
        bytes += e.text.toUtf8();
        bytes += "\r\n";
    }
    QString error;
    if (!writeFileSafely(path, bytes, error))
        return {false, error};
    return {};
}
