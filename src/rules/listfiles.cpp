#include "rules/listfiles.h"

#include "mail/printabletext.h"
#include "rules/textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

constexpr QChar EndOfFile(0x1A); // Ctrl-Z ends a text file
// Offending text quoted in an error is cut to this many characters.
constexpr qsizetype QuotedLength = 40;

bool parseIndex(QStringView text, int &value)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    bool ok = false;
    value = text.toInt(&ok);
    return ok;
}

QString notAnInteger(QStringView text)
{
    const bool cut = text.size() > QuotedLength;
    return QStringLiteral("'%1%2' is not a valid integer value")
        .arg(printableText(text.left(QuotedLength).toString()), cut ? QStringLiteral("...") : QString());
}

// Fills a fresh table (at its fixed width) from the text of a list file;
// gives an error text, empty on success, after which the table is half
// filled and must be dropped. The table takes the size on line 1, so empty
// rows, between the rules or after the last one, come back as they were
// saved; cells beyond the fixed width are dropped.
QString parseListText(QStringView text, RuleList &table)
{
    const qsizetype end = text.indexOf(EndOfFile);
    const QStringList lines = splitLines(end < 0 ? text : text.left(end));
    // Without a size line the table keeps its current size.
    int declaredColumns = table.columnCount();
    const auto lineError = [](qsizetype n, const QString &what) {
        return QStringLiteral("line %1: %2").arg(n + 1).arg(what);
    };
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QStringView line = lines[n];
        if (line.isEmpty())
            continue;
        const qsizetype comma1 = line.indexOf(u',');
        const QStringView first = comma1 < 0 ? line : line.left(comma1);
        int column = 0;
        if (!parseIndex(first, column))
            return lineError(n, notAnInteger(first));
        const QStringView rest = comma1 < 0 ? QStringView() : line.sliced(comma1 + 1);
        if (n == 0) {
            int rows = 0;
            if (!parseIndex(rest, rows))
                return lineError(n, notAnInteger(rest));
            if (column < 1 || rows < 1)
                return lineError(
                    n, QStringLiteral("a table of %1 columns and %2 rows is not possible").arg(column).arg(rows));
            if (rows > MaxListFileRows)
                return lineError(n, QStringLiteral("a table of %1 rows is more than the %2 a list file may hold")
                                        .arg(rows)
                                        .arg(MaxListFileRows));
            declaredColumns = column;
            table.setRowCount(rows);
            continue;
        }
        const qsizetype comma2 = rest.indexOf(u',');
        const QStringView second = comma2 < 0 ? QStringView() : rest.left(comma2);
        int row = 0;
        if (!parseIndex(second, row))
            return lineError(n, notAnInteger(second));
        if (column >= declaredColumns || row >= table.rowCount())
            return lineError(n, QStringLiteral("cell %1,%2 lies outside the table of %3 columns and %4 rows")
                                    .arg(column)
                                    .arg(row)
                                    .arg(declaredColumns)
                                    .arg(table.rowCount()));
        QString cell = rest.sliced(comma2 + 1).toString();
        cell.replace(u'\t', u'\r').replace(u'\b', u'\n');
        table.setCell(column, row, cell); // a column beyond the fixed width is dropped
    }
    return {};
}

// The few parts of the Windows private-profile format the rule options
// need: case-insensitive section and key names, "key=value" lines, and every
// other line kept as it is when a value is changed.
class IniText
{
public:
    explicit IniText(const QString &text) : lines_(splitLines(text)) {}

    std::optional<QString> value(QStringView section, QStringView key) const
    {
        const qsizetype at = findKey(section, key);
        if (at < 0)
            return std::nullopt;
        const QString &line = lines_[at];
        return line.mid(line.indexOf(u'=') + 1).trimmed();
    }

    void setValue(const QString &section, const QString &key, const QString &value)
    {
        const QString line = key + u'=' + value;
        const qsizetype at = findKey(section, key);
        if (at >= 0) {
            if (this->value(section, key) != value) // a line that reads the same stays as it is
                lines_[at] = line;
            return;
        }
        qsizetype header = findSection(section);
        if (header < 0) {
            lines_.append(u'[' + section + u']');
            lines_.append(line);
            return;
        }
        qsizetype last = header;
        for (qsizetype i = header + 1; i < lines_.size() && !isSectionLine(lines_[i]); ++i)
            if (!lines_[i].trimmed().isEmpty())
                last = i;
        lines_.insert(last + 1, line);
    }

    bool operator==(const IniText &) const = default;

    QByteArray toBytes() const
    {
        QByteArray bytes;
        for (const QString &line : lines_)
            bytes += line.toUtf8() + "\r\n";
        return bytes;
    }

private:
    static bool isSectionLine(const QString &line) { return line.trimmed().startsWith(u'['); }

    static QStringView sectionName(const QString &line)
    {
        const QStringView trimmed = QStringView(line).trimmed();
        const qsizetype close = trimmed.indexOf(u']');
        return trimmed.sliced(1, (close < 0 ? trimmed.size() : close) - 1).trimmed();
    }

    qsizetype findSection(QStringView section) const
    {
        for (qsizetype i = 0; i < lines_.size(); ++i)
            if (isSectionLine(lines_[i]) && sectionName(lines_[i]).compare(section, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }

    qsizetype findKey(QStringView section, QStringView key) const
    {
        const qsizetype header = findSection(section);
        if (header < 0)
            return -1;
        for (qsizetype i = header + 1; i < lines_.size() && !isSectionLine(lines_[i]); ++i) {
            const qsizetype eq = lines_[i].indexOf(u'=');
            if (eq >= 0 && QStringView(lines_[i]).left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
                return i;
        }
        return -1;
    }

    QStringList lines_;
};

// Decimal, or hexadecimal after "0x".
std::optional<qint64> readInteger(const IniText &ini, QStringView section, QStringView key)
{
    const std::optional<QString> text = ini.value(section, key);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const qint64 value = text->startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text->mid(2).toLongLong(&ok, 16)
                                                                                    : text->toLongLong(&ok, 10);
    return ok ? std::optional(value) : std::nullopt;
}

void readBool(const IniText &ini, QStringView section, QStringView key, bool &field)
{
    if (const std::optional<qint64> value = readInteger(ini, section, key))
        field = *value != 0;
}

void readLimit(const IniText &ini, QStringView section, QStringView key, qint64 &field)
{
    if (const std::optional<qint64> value = readInteger(ini, section, key))
        field = *value;
}

// A score from 0 to 1, as written by scoreText.
void readScore(const IniText &ini, QStringView section, QStringView key, double &field)
{
    const std::optional<QString> text = ini.value(section, key);
    bool ok = false;
    const double value = text ? text->toDouble(&ok) : 0;
    if (ok && value >= 0 && value <= 1)
        field = value;
}

QString scoreText(double score)
{
    return QString::number(score, 'g', 6);
}

// The learner's options; values that do not fit together leave all of them
// at their defaults.
LearningOptions readLearningOptions(const IniText &ini)
{
    LearningOptions options;
    readBool(ini, u"Learning", u"Learn", options.enabled);
    readScore(ini, u"Learning", u"HamCutoff", options.hamCutoff);
    readScore(ini, u"Learning", u"SpamCutoff", options.spamCutoff);
    readBool(ini, u"Learning", u"MarkForDeletion", options.markForDeletion);
    readScore(ini, u"Learning", u"DeletionScore", options.deletionScore);
    return options.isValid() ? options : LearningOptions();
}

QString boolText(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

QString listFileName(RuleTable table)
{
    switch (table) {
    case RuleTable::Subject:
        return QStringLiteral("subj.lst");
    case RuleTable::Header:
        return QStringLiteral("header.lst");
    case RuleTable::Sender:
        return QStringLiteral("from.lst");
    case RuleTable::Exception:
        break;
    }
    return QStringLiteral("except.lst");
}

QString ruleOptionsFileName()
{
    return QStringLiteral("mailsieve.ini");
}

QByteArray serializeRuleList(const RuleList &table)
{
    const int columns = storedColumnCount(table);
    QString text = QStringLiteral("%1,%2\r\n").arg(columns).arg(table.rowCount());
    for (int r = 0; r < table.rowCount(); ++r) {
        for (int c = 0; c < columns; ++c) {
            QString cell = table.cell(c, r);
            if (cell.isEmpty())
                continue;
            cell.replace(u'\r', u'\t').replace(u'\n', u'\b');
            text += QStringLiteral("%1,%2,").arg(c).arg(r) + cell + QStringLiteral("\r\n");
        }
    }
    return text.toUtf8();
}

bool loadRuleList(RuleList &table, const QString &path)
{
    RuleList loaded(table.table());
    if (QFileInfo::exists(path)) {
        loaded.setRowCount(table.rowCount());
        QByteArray bytes;
        QString error;
        if (!readWholeFile(path, bytes, error)) {
            table.setLoadError(error);
            return false;
        }
        error = parseListText(decodeFileText(bytes), loaded);
        if (!error.isEmpty()) {
            table.setLoadError(QStringLiteral("%1, %2").arg(QDir::toNativeSeparators(path), error));
            return false;
        }
    }
    loaded.setHeadings();
    setPicturesFromDel(loaded);
    table = loaded;
    return true;
}

bool saveRuleList(const RuleList &table, const QString &path, QString &error)
{
    return writeFileSafely(path, serializeRuleList(table), error);
}

bool readRuleOptions(RuleSet &rules, const QString &path, QString &error)
{
    SizeRules size;
    bool knownListEnabled = false;
    LearningOptions learning;
    if (QFileInfo::exists(path)) {
        QByteArray bytes;
        if (!readWholeFile(path, bytes, error))
            return false;
        const IniText ini(decodeFileText(bytes));
        readBool(ini, u"Smaller", u"QSmaller", size.smallerEnabled);
        readLimit(ini, u"Smaller", u"Num", size.smallerLimit);
        readBool(ini, u"Smaller", u"Check", size.smallerCheck);
        readBool(ini, u"Larger", u"QLarger", size.largerEnabled);
        readLimit(ini, u"Larger", u"Num", size.largerLimit);
        readBool(ini, u"Larger", u"Check", size.largerCheck);
        readBool(ini, u"Known", u"QMonitor", knownListEnabled);
        learning = readLearningOptions(ini);
    }
    rules.sizeRules = size;
    rules.knownListEnabled = knownListEnabled;
    rules.learning = learning;
    return true;
}

bool saveRuleOptions(const RuleSet &rules, const QString &path, QString &error)
{
    QByteArray bytes;
    if (QFileInfo::exists(path) && !readWholeFile(path, bytes, error))
        return false; // rewriting would lose what the file holds besides our keys
    const IniText stored(decodeFileText(bytes));
    IniText ini = stored;
    const SizeRules &size = rules.sizeRules;
    ini.setValue("Smaller", "QSmaller", boolText(size.smallerEnabled));
    ini.setValue("Smaller", "Num", QString::number(size.smallerLimit));
    ini.setValue("Smaller", "Check", boolText(size.smallerCheck));
    ini.setValue("Larger", "QLarger", boolText(size.largerEnabled));
    ini.setValue("Larger", "Num", QString::number(size.largerLimit));
    ini.setValue("Larger", "Check", boolText(size.largerCheck));
    ini.setValue("Known", "QMonitor", boolText(rules.knownListEnabled));
    // A file of a program without a learner gets the section only once the
    // user chose other values.
    const LearningOptions &learning = rules.learning;
    if (learning != LearningOptions() || readLearningOptions(stored) != LearningOptions()) {
        ini.setValue("Learning", "Learn", boolText(learning.enabled));
        ini.setValue("Learning", "HamCutoff", scoreText(learning.hamCutoff));
        ini.setValue("Learning", "SpamCutoff", scoreText(learning.spamCutoff));
        ini.setValue("Learning", "MarkForDeletion", boolText(learning.markForDeletion));
        ini.setValue("Learning", "DeletionScore", scoreText(learning.deletionScore));
    }
    if (ini == stored)
        return true; // the file holds these values already: it stays byte for byte
    return writeFileSafely(path, ini.toBytes(), error);
}

RuleFilesResult readSettings(RuleSet &rules, const QString &folder)
{
    const QDir dir(folder);
    RuleFilesResult result;
    for (RuleTable which : AllRuleTables) {
        RuleList &table = rules.table(which);
        if (!loadRuleList(table, dir.filePath(listFileName(which))))
            result.errors.append(table.loadError());
    }
    QString error;
    if (!readRuleOptions(rules, dir.filePath(ruleOptionsFileName()), error))
        result.errors.append(error);
    return result;
}

namespace {

// What a table's file holds before a save.
enum class StoredTable { Missing, Unreadable, Same, Different };

StoredTable storedTable(const RuleList &table, const QString &path)
{
    if (!QFileInfo::exists(path))
        return StoredTable::Missing;
    RuleList stored(table.table());
    if (!loadRuleList(stored, path))
        return StoredTable::Unreadable;
    return serializeRuleList(stored) == serializeRuleList(table) ? StoredTable::Same : StoredTable::Different;
}

// A list file that does not load is copied to "<name>.bad" before a save
// replaces it, so what the user had is never lost, only set aside. False
// when it could not be copied: the file must then not be written over.
bool keepUnreadableFile(const QString &path, QStringList &messages)
{
    const QString bad = path + QStringLiteral(".bad");
    QFile::remove(bad);
    if (!QFile::copy(path, bad)) {
        messages.append(QStringLiteral("%1 was not saved: it could not be loaded, and it could not be kept as %2")
                            .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(bad)));
        return false;
    }
    messages.append(QStringLiteral("%1 could not be loaded; it was kept as %2 and replaced by the rules as edited")
                        .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(bad)));
    return true;
}

// Writes one table unless its file already holds it: a file an earlier
// version wrote, or one in another encoding, stays as it is until a rule
// changes.
void saveTable(const RuleList &table, const QString &path, QStringList &messages)
{
    if (!table.loadError().isEmpty()) {
        messages.append(QStringLiteral("%1 was not saved because it could not be loaded: %2")
                            .arg(QDir::toNativeSeparators(path), table.loadError()));
        return;
    }
    switch (storedTable(table, path)) {
    case StoredTable::Same:
        return;
    case StoredTable::Unreadable:
        if (!keepUnreadableFile(path, messages))
            return;
        break;
    case StoredTable::Missing:
    case StoredTable::Different:
        break;
    }
    QString error;
    if (!saveRuleList(table, path, error))
        messages.append(error);
}

} // namespace

RuleFilesResult Savesettings(const RuleSet &rules, const QString &folder)
{
    const QDir dir(folder);
    RuleFilesResult result;
    for (RuleTable which : AllRuleTables)
        saveTable(rules.table(which), dir.filePath(listFileName(which)), result.errors);
    QString error;
    if (!saveRuleOptions(rules, dir.filePath(ruleOptionsFileName()), error))
        result.errors.append(error);
    return result;
}
