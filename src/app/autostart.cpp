#include "app/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// One argument of an Exec line: quoted, with the characters that stay
// special inside quotes escaped, and the field-code sign doubled.
QString execArgument(const QString &argument)
{
    QString quoted;
    for (QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    // The value of a desktop-entry key has its own escapes on top: a
    // backslash is written twice.
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool switchedOff(const QString &line)
{
    const QString key = line.section(QLatin1Char('='), 0, 0).trimmed();
    const QString value = line.section(QLatin1Char('='), 1).trimmed();
    return (key == QLatin1String("Hidden") && value == QLatin1String("true"))
           || (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"));
}

} // namespace

AutostartEntry::AutostartEntry(const QString &program, const QString &configHome)
    : m_program(program), m_configHome(configHome.isEmpty() ? userConfigHome() : configHome)
{
}

QString AutostartEntry::userConfigHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The base-directory rules ignore a relative path.
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString AutostartEntry::entryText(const QString &program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Mailsieve\n"
                          "Comment=Removes spam from the mail server before your mail program fetches it\n"
                          "Exec=%1\n"
                          "Icon=io.github.mailsieve.Mailsieve\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execArgument(program));
}

QString AutostartEntry::filePath() const
{
    return m_configHome + QStringLiteral("/autostart/") + FileName;
}

bool AutostartEntry::isEnabled() const
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    while (!file.atEnd()) {
        if (switchedOff(QString::fromUtf8(file.readLine())))
            return false;
    }
    return true;
}

bool AutostartEntry::setEnabled(bool enabled)
{
    m_error.clear();
    const QString path = filePath();
    if (!enabled) {
        if (!QFileInfo::exists(path) || QFile::remove(path))
            return true;
        m_error = QStringLiteral("Could not remove the log-in entry %1.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    QSaveFile file(path);
    const bool written = QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
                         && file.write(entryText(m_program).toUtf8()) >= 0 && file.commit();
    if (!written)
        m_error = QStringLiteral("Could not write the log-in entry %1: %2")
                      .arg(QDir::toNativeSeparators(path), file.errorString());
    return written;
}
