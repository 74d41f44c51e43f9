#pragma once
// The known spammer list: e-mail addresses and bare domain names, kept in
// ascending order of a case-insensitive comparison in the user's locale and
// searched by bisection. Its file is "known.lst", one entry per line.

#include "rules/revision.h"

#include <QCollator>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

struct KnownMatch
{
    bool found = false;
    QString kind; // "E-mail" or "Domain"
    QString matched; // the sender address or its domain
};

struct KnownListResult
{
    bool ok = true;
    QString error;
};

class KnownSpammerList
{
public:
    explicit KnownSpammerList(const QLocale &locale = QLocale());
    ~KnownSpammerList();
    KnownSpammerList(KnownSpammerList &&) noexcept;
    KnownSpammerList &operator=(KnownSpammerList &&) noexcept;

    static constexpr int ComparedLength = 80;

    int count() const;
    QString entry(int index) const;
    QStringList entries() const;

    void clear();
    // Each entry goes to its sorted position; duplicates stay.
    void add(const QString &entry);
    void setEntries(const QStringList &entries);

    // Index of an entry whose first 80 characters equal the key in the list's
    // comparison, or -1.
    int findKnown(const QString &key) const;
    // The whole address first, then the domain after its first "@".
    KnownMatch isInKnownList(const QString &sender) const;

    // Empties the list and fills it from "known.lst" in the folder; a missing
    // file leaves it empty without an error.
    KnownListResult LoadUpKnownList(const QString &folder);
    // Rebuilds the list from the text of the list editor and writes
    // "known.lst" when that file exists. A run of lines equal but for case
    // keeps its first line; empty lines and addresses whose user part is
    // empty or only digits and underscores are dropped.
    KnownListResult saveFromEditorText(const QString &text, const QString &folder);

    static bool hasNumericUserPart(const QString &line);
    static QString fileName() { return QStringLiteral("known.lst"); }

    // Changes with every change of the entries.
    quint64 revision() const { return revision_.value(); }
    // The locale whose comparison the list uses.
    QLocale locale() const { return collator_.locale(); }

private:
    class Key;
    struct Entry;
    Key makeKey(QStringView text) const;
    void sortEntries();

    QCollator collator_;
    bool plainOrder_ = false; // the C locale: case-folded code point order
    std::vector<Entry> entries_;
    Revision revision_;
};
