#include "benchutil.h"

#include "settings/settingsstore.h"
#include "support/dovecotserver.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <stdexcept>

namespace bench {

void printFigure(const QString &name, double value, const QString &unit, int decimals)
{
    QTextStream out(stdout);
    out << name << ' ' << QString::number(value, 'f', decimals) << ' ' << unit << Qt::endl;
}

double peakMemoryMiB()
{
    // VmHWM, not getrusage's maxrss: Linux carries the maxrss of the image
    // a process replaced at exec over, so a child started by a large parent
    // would report the parent's size.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0; // "123456 kB"
    return 0;
}

std::optional<int> intOption(const QStringList &args, const QString &name)
{
    const qsizetype at = args.indexOf(name);
    if (at < 0)
        return std::nullopt;
    const int value = args.value(at + 1).toInt();
    return value > 0 ? value : 0;
}

std::optional<QString> textOption(const QStringList &args, const QString &name)
{
    const qsizetype at = args.indexOf(name);
    if (at < 0)
        return std::nullopt;
    return args.value(at + 1);
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void storeMailbox(const QString &settingsFile, const DovecotServer &server, const QString &address,
                  MailProtocol protocol)
{
    SettingsStore store(settingsFile);
    GeneralSettings settings;
    settings.ReadSettings(store);
    settings.readServerSettings(store);
    MailboxConfig &mailbox = settings.mailboxes[0];
    mailbox.server = address;
    mailbox.mailbox = server.userName();
    mailbox.password = server.password();
    mailbox.security = MailSecurity::None;
    mailbox.protocol = protocol;
    mailbox.keepPasswordInFile = true;
    if (!settings.SaveSettings(store) || !settings.saveServerSettings(store).ok())
        throw std::runtime_error("cannot store the mailbox settings");
}

} // namespace bench
