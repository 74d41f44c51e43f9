#include "settings/settingsstore.h"

#include "mail/mimecodecs.h"
#include "settings/scramble.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <optional>

namespace {

bool needsEscape(char c)
{
    const auto byte = quint8(c);
    return byte < 0x20 || byte == 0x7F || c == '%' || c == '=' || c == '[' || c == ']' || c == '#';
}

} // namespace

QByteArray escapeSettingText(const QString &text)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        if (needsEscape(c)) {
            out += '%';
            out += hex[quint8(c) >> 4];
            out += hex[quint8(c) & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

bool unescapeSettingText(QByteArrayView escaped, QString *text)
{
    QByteArray bytes;
    bytes.reserve(escaped.size());
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c != '%') {
            bytes += c;
            continue;
        }
        if (i + 2 >= escaped.size())
            return false;
        const int high = hexDigitValue(escaped[i + 1]);
        const int low = hexDigitValue(escaped[i + 2]);
        if (high < 0 || low < 0)
            return false;
        bytes += char(high * 16 + low);
        i += 2;
    }
    *text = storedBytesToText(bytes);
    return true;
}

int parseSettingInt(const QString &text, int defaultValue, bool *ok)
{
    bool valid = false;
    int result = 0;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        // Digits only: QString::toInt would also take a second "0x" or a sign.
        const QStringView digits = QStringView(text).mid(2);
        const bool allHex = std::all_of(digits.begin(), digits.end(), [](QChar c) {
            return c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f');
        });
        if (allHex)
            result = digits.toInt(&valid, 16);
    } else {
        result = text.toInt(&valid, 10);
    }
    if (ok)
        *ok = valid;
    return valid ? result : defaultValue;
}

SettingsStore::SettingsStore() : SettingsStore(defaultFilePath())
{
}

SettingsStore::SettingsStore(const QString &filePath) : m_filePath(filePath)
{
    load();
}

QString SettingsStore::defaultFilePath()
{
    const QString home = qEnvironmentVariable("MAILSIEVE_HOME");
    if (!home.isEmpty())
        return QDir(home).filePath(QStringLiteral("mailsieve.conf"));
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("mailsieve/mailsieve.conf"));
}

bool SettingsStore::load()
{
    m_sections.clear();
    m_sectionIndex.clear();
    m_problems.clear();
    m_error.clear();
    m_unreadable = false;
    QFile file(m_filePath);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        m_unreadable = true;
        m_error = QStringLiteral("Cannot read settings file %1: %2").arg(m_filePath, file.errorString());
        return false;
    }
    parse(file.readAll());
    return true;
}

void SettingsStore::parse(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    // Sections are looked up by name: a pointer would dangle when the list grows.
    std::optional<QString> current;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        const auto problem = [&](const char *reason) {
            m_problems << QStringLiteral("line %1: %2").arg(i + 1).arg(QLatin1String(reason));
        };
        QString name;
        if (trimmed.startsWith('[')) {
            // The values under an unreadable heading are skipped too: their
            // section is unknown.
            current.reset();
            if (!trimmed.endsWith(']') || !unescapeSettingText(trimmed.mid(1, trimmed.size() - 2).trimmed(), &name)
                || name.isEmpty())
                problem("unreadable section heading");
            else
                current = sectionFor(name).name;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        QString value;
        if (equals < 0)
            problem("no '=' after the value name");
        else if (!current)
            problem("value outside a readable section");
        else if (!unescapeSettingText(line.left(equals).trimmed(), &name)
                 || !unescapeSettingText(QByteArrayView(line).sliced(equals + 1), &value))
            problem("bad % escape");
        else if (name.isEmpty())
            problem("empty value name");
        else
            setValue(*current, name, value);
    }
}

bool SettingsStore::save()
{
    if (m_unreadable) {
        m_error = QStringLiteral("Settings file %1 was not readable; not replacing it").arg(m_filePath);
        return false;
    }
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath())) {
        m_error = QStringLiteral("Cannot create the folder %1").arg(info.absolutePath());
        return false;
    }
    const QByteArray content = serialized();
    QSaveFile file(m_filePath);
    const auto fail = [&](const QString &reason) {
        file.cancelWriting();
        m_error = QStringLiteral("Cannot write settings file %1: %2").arg(m_filePath, reason);
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // Passwords kept here are only scrambled, so nobody else may read the file.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return fail(file.errorString());
    // A full disk can show up as a short write without an error.
    const qint64 written = file.write(content);
    if (written != content.size()) {
        return fail(
            written < 0
                ? file.errorString()
                : QStringLiteral("only %1 of %2 bytes written; is the disk full?").arg(written).arg(content.size()));
    }
    if (!file.commit())
        return fail(file.errorString());
    m_error.clear();
    return true;
}

QByteArray SettingsStore::serialized() const
{
    QByteArray out = "# Mailsieve settings. Special characters are written as %XX.\n";
    for (const Section &section : m_sections) {
        out += '[' + escapeSettingText(section.name) + "]\n";
        for (const Entry &entry : section.entries)
            out += escapeSettingText(entry.name) + '=' + escapeSettingText(entry.value) + '\n';
    }
    return out;
}

const SettingsStore::Section *SettingsStore::findSection(const QString &name) const
{
    const auto at = m_sectionIndex.constFind(nameKey(name));
    return at == m_sectionIndex.cend() ? nullptr : &m_sections[*at];
}

const SettingsStore::Entry *SettingsStore::find(const QString &section, const QString &name) const
{
    const Section *s = findSection(section);
    if (!s)
        return nullptr;
    const auto at = s->entryIndex.constFind(nameKey(name));
    return at == s->entryIndex.cend() ? nullptr : &s->entries[*at];
}

SettingsStore::Section &SettingsStore::sectionFor(const QString &name)
{
    const QString key = nameKey(name);
    auto at = m_sectionIndex.constFind(key);
    if (at == m_sectionIndex.cend()) {
        at = m_sectionIndex.insert(key, m_sections.size());
        m_sections.append(Section{name, {}, {}});
    }
    return m_sections[*at];
}

bool SettingsStore::contains(const QString &section, const QString &name) const
{
    return find(section, name) != nullptr;
}

QString SettingsStore::value(const QString &section, const QString &name, const QString &defaultValue) const
{
    const Entry *entry = find(section, name);
    return entry ? entry->value : defaultValue;
}

int SettingsStore::intValue(const QString &section, const QString &name, int defaultValue) const
{
    const Entry *entry = find(section, name);
    return entry ? parseSettingInt(entry->value, defaultValue) : defaultValue;
}

bool SettingsStore::boolValue(const QString &section, const QString &name, bool defaultValue) const
{
    return intValue(section, name, defaultValue ? 1 : 0) != 0;
}

void SettingsStore::setValue(const QString &section, const QString &name, const QString &value)
{
    Section &s = sectionFor(section);
    const QString key = nameKey(name);
    const auto at = s.entryIndex.constFind(key);
    if (at != s.entryIndex.cend()) {
        s.entries[*at] = Entry{name, value};
        return;
    }
    s.entryIndex.insert(key, s.entries.size());
    s.entries.append(Entry{name, value});
}

void SettingsStore::remove(const QString &section, const QString &name)
{
    const auto sectionAt = m_sectionIndex.constFind(nameKey(section));
    if (sectionAt == m_sectionIndex.cend())
        return;
    Section &s = m_sections[*sectionAt];
    const auto at = s.entryIndex.constFind(nameKey(name));
    if (at == s.entryIndex.cend())
        return;
    s.entries.removeAt(*at);
    s.entryIndex.clear();
    for (qsizetype i = 0; i < s.entries.size(); ++i)
        s.entryIndex.insert(nameKey(s.entries[i].name), i);
}

void SettingsStore::setInt(const QString &section, const QString &name, int value)
{
    setValue(section, name, QString::number(value));
}

void SettingsStore::setBool(const QString &section, const QString &name, bool value)
{
    setValue(section, name, value ? QStringLiteral("1") : QStringLiteral("0"));
}
