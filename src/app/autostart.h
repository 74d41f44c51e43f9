#pragma once
// "Start Mailsieve when I log in": an entry in the user's XDG autostart
// folder ($XDG_CONFIG_HOME/autostart, else ~/.config/autostart) that the
// desktop runs at log-in. The entry is written or removed; nothing else in
// that folder is touched.

#include <QString>

class AutostartEntry
{
public:
    static inline const QString FileName = QStringLiteral("io.github.mailsieve.Mailsieve.desktop");

    // program: the executable the desktop starts. configHome: the XDG
    // configuration folder; empty takes the user's.
    explicit AutostartEntry(const QString &program, const QString &configHome = {});

    // $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
    static QString userConfigHome();
    // The entry's text for program, its Exec line quoted as desktop
    // entries require.
    static QString entryText(const QString &program);

    QString filePath() const;
    // The entry is there and the desktop has not been told to skip it
    // (Hidden=true, or switched off in GNOME's own key).
    bool isEnabled() const;
    // Writes or removes the entry; false with errorString() on failure.
    bool setEnabled(bool enabled);
    QString errorString() const { return m_error; }

private:
    QString m_program;
    QString m_configHome;
    QString m_error;
};
