#pragma once
// The user's settings: named sections ("General", "Server") of named text
// values, kept in one text file owned by the user.
//
// Location: $MAILSIEVE_HOME/mailsieve.conf when MAILSIEVE_HOME is set,
// otherwise <generic config folder>/mailsieve/mailsieve.conf (usually
// ~/.config/mailsieve/mailsieve.conf).
//
// File format (UTF-8, lines end with LF; CR LF is read as well):
//
//   # comment
//   [General]
//   Minutes=10
//   [Server]
//   Passwd1=%01K%3D%00x
//
// - A line "[name]" starts a section; "name=value" sets a value in the
//   current section. The value is everything after the first "=", spaces
//   included. Blank lines and lines starting with "#" are ignored.
// - In section and value names and in values, the bytes 0x00-0x1F and 0x7F
//   and the characters % = [ ] # are written as "%" and two hex digits, so
//   any text, a scrambled password with a zero byte, CR or LF included,
//   survives. Other characters are written as UTF-8.
// - A line that cannot be read (no "=", a bad "%" escape, a value under no
//   readable section heading) is skipped and listed in problems(); the rest
//   of the file is kept. The next save drops such lines.
//
// Section and value names are matched without regard to letter case, so
// "AlarmFile" and "Alarmfile" name one value. Writing keeps the spelling of
// the last write.
//
// Values are text: integers as decimal text (read also as hexadecimal after
// "0x"), booleans as "1" and "0". The file is written through QSaveFile, so
// a crash or a full disk leaves the previous file whole, and it is readable
// and writable by its owner only.
//
// Mailbox passwords go to the desktop keyring when the store is given one
// (setPasswordVault) and it answers; only without one are they kept in the
// file, scrambled (see mailboxpasswords.h).

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class PasswordVault;

class SettingsStore
{
public:
    static inline const QString General = QStringLiteral("General");
    static inline const QString Server = QStringLiteral("Server");

    // The user's store at its default location, loaded.
    SettingsStore();
    // The store in the given file, loaded.
    explicit SettingsStore(const QString &filePath);

    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    // Re-reads the file, dropping unsaved changes. A missing file is an
    // empty store, not an error. Returns false when the file exists but
    // cannot be read; saving is then refused so the file is not replaced by
    // an empty one.
    bool load();
    // Writes every section atomically. Returns false with errorString() set
    // when the file could not be written; the old file is then unchanged.
    bool save();
    QString errorString() const { return m_error; }
    // Lines skipped by the last load, as "line N: reason".
    QStringList problems() const { return m_problems; }

    bool contains(const QString &section, const QString &name) const;
    QString value(const QString &section, const QString &name, const QString &defaultValue = QString()) const;
    int intValue(const QString &section, const QString &name, int defaultValue) const;
    bool boolValue(const QString &section, const QString &name, bool defaultValue) const;

    void setValue(const QString &section, const QString &name, const QString &value);
    void setInt(const QString &section, const QString &name, int value);
    void setBool(const QString &section, const QString &name, bool value);
    // Drops the value; a missing one is no error.
    void remove(const QString &section, const QString &name);

    // Where this file's mailbox passwords are kept instead of in the file;
    // null (the default) keeps them in the file. Not owned.
    void setPasswordVault(PasswordVault *vault) { m_passwordVault = vault; }
    PasswordVault *passwordVault() const { return m_passwordVault; }

    // The file's text for the current values; what save() writes.
    QByteArray serialized() const;

private:
    struct Entry
    {
        QString name;
        QString value;
    };
    // Names are looked up through an index by their case-folded form, so a
    // load is one look-up per line, not a search of everything read so far.
    struct Section
    {
        QString name;
        QList<Entry> entries;
        QHash<QString, qsizetype> entryIndex;
    };

    static QString nameKey(const QString &name) { return name.toCaseFolded(); }
    const Entry *find(const QString &section, const QString &name) const;
    const Section *findSection(const QString &name) const;
    Section &sectionFor(const QString &name);
    void parse(const QByteArray &text);

    QString m_filePath;
    PasswordVault *m_passwordVault = nullptr;
    QList<Section> m_sections;
    QHash<QString, qsizetype> m_sectionIndex;
    QString m_error;
    QStringList m_problems;
    bool m_unreadable = false;
};

// A stored integer: hexadecimal digits after a leading "0x" or "0X" (when
// something follows it), otherwise decimal; defaultValue when the text is
// not a valid 32-bit integer.
int parseSettingInt(const QString &text, int defaultValue, bool *ok = nullptr);

// Escaping of names and values for the file, and its reverse; decoding
// returns false for a "%" not followed by two hex digits.
QByteArray escapeSettingText(const QString &text);
bool unescapeSettingText(QByteArrayView escaped, QString *text);
