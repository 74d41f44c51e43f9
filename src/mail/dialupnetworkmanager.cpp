#include "mail/dialupnetworkmanager.h"

#include "mail/dialup.h"
#include "mail/mailerrors.h"

#include <algorithm>

namespace {

const QString Nmcli = QStringLiteral("nmcli");
constexpr int QueryTimeoutMs = 10000;
constexpr int HangUpTimeoutMs = 20000;

// nmcli's errors start with "Error: "; the first line says what went wrong.
QString complaintOf(const CommandResult &result)
{
    const QString text = QString::fromUtf8(result.errorOutput).trimmed();
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

} // namespace

NetworkManagerDialUp::NetworkManagerDialUp(CommandRunner &runner) : m_runner(runner)
{
}

NetworkManagerDialUp::~NetworkManagerDialUp()
{
    abortDial();
}

QStringList NetworkManagerDialUp::splitTerseLine(const QString &line)
{
    QStringList fields(QString{});
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\\') && i + 1 < line.size())
            fields.last() += line.at(++i);
        else if (c == QLatin1Char(':'))
            fields.append(QString());
        else
            fields.last() += c;
    }
    return fields;
}

bool NetworkManagerDialUp::isDialUpNetworking(const QString &name, const QString &type)
{
    static const QStringList lineTypes = {QStringLiteral("gsm"), QStringLiteral("cdma"), QStringLiteral("pppoe")};
    if (lineTypes.contains(type))
        return true;
    if (type != QLatin1String("bluetooth"))
        return false;
    // A Bluetooth connection is either dial-up networking or a personal area network.
    const CommandResult kind =
        m_runner.run(Nmcli,
                     {QStringLiteral("-g"), QStringLiteral("bluetooth.type"), QStringLiteral("connection"),
                      QStringLiteral("show"), QStringLiteral("id"), name},
                     QueryTimeoutMs);
    return kind.succeeded() && QString::fromUtf8(kind.output).trimmed() == QLatin1String("dun");
}

QHash<QString, QString> NetworkManagerDialUp::dialUpConnections(bool activeOnly)
{
    QStringList args = {QStringLiteral("-t"), QStringLiteral("-f"),
                        activeOnly ? QStringLiteral("NAME,TYPE,STATE") : QStringLiteral("NAME,TYPE"),
                        QStringLiteral("connection"), QStringLiteral("show")};
    if (activeOnly)
        args << QStringLiteral("--active");
    const CommandResult result = m_runner.run(Nmcli, args, QueryTimeoutMs);
    if (!result.succeeded()) {
        if (activeOnly)
            throw ERASError(TagRas::errorText(result.exitCode, complaintOf(result)));
        return {};
    }
    QHash<QString, QString> connections;
    const QStringList lines = QString::fromUtf8(result.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList fields = splitTerseLine(line);
        if (fields.size() < (activeOnly ? 3 : 2) || fields[0].isEmpty())
            continue;
        if (activeOnly && fields[2] != QLatin1String("activated"))
            continue; // still coming up or going down
        if (isDialUpNetworking(fields[0], fields[1]))
            connections.insert(fields[0], fields[1]);
    }
    return connections;
}

QStringList NetworkManagerDialUp::entries()
{
    if (!canDial())
        return {};
    m_types = dialUpConnections(false);
    QStringList names = m_types.keys();
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

QStringList NetworkManagerDialUp::activeEntries()
{
    if (!canDial())
        return {};
    QStringList names = dialUpConnections(true).keys();
    names.sort(Qt::CaseInsensitive);
    return names;
}

bool NetworkManagerDialUp::canDial() const
{
    return m_runner.available(Nmcli);
}

QString NetworkManagerDialUp::passwordSetting(const QString &entry) const
{
    const QString type = m_types.value(entry);
    if (type == QLatin1String("cdma") || type == QLatin1String("pppoe"))
        return type + QStringLiteral(".password");
    return QStringLiteral("gsm.password"); // mobile broadband and Bluetooth dial-up
}

void NetworkManagerDialUp::startDial(const QString &entry, const QString &password,
                                     std::function<void(const QString &status)> status,
                                     std::function<void(int code, const QString &error)> finished)
{
    abortDial();
    QStringList args = {QStringLiteral("connection"), QStringLiteral("up"), QStringLiteral("id"), entry};
    if (!password.isEmpty()) {
        // Handed over in an owner-only file, never on the command line.
        m_passwordFile = std::make_unique<QTemporaryFile>();
        if (m_passwordFile->open()) {
            m_passwordFile->write((passwordSetting(entry) + QLatin1Char(':') + password + QLatin1Char('\n')).toUtf8());
            m_passwordFile->flush();
            args << QStringLiteral("passwd-file") << m_passwordFile->fileName();
        }
    }
    if (status)
        status(QStringLiteral("Dialling %1...").arg(entry));
    m_dialing = m_runner.start(Nmcli, args, [this, status, finished](const CommandResult &result) {
        // Reported from the event loop, after start() has returned.
        m_passwordFile.reset();
        if (result.succeeded()) {
            if (status)
                status(QStringLiteral("Connected"));
            finished(0, {});
            return;
        }
        finished(result.exitCode < 0 ? 1 : result.exitCode, complaintOf(result));
    });
}

void NetworkManagerDialUp::abortDial()
{
    if (m_dialing)
        m_dialing->abort();
    m_dialing.reset();
    m_passwordFile.reset();
}

QString NetworkManagerDialUp::hangUp(const QString &entry)
{
    const CommandResult result = m_runner.run(
        Nmcli, {QStringLiteral("connection"), QStringLiteral("down"), QStringLiteral("id"), entry}, HangUpTimeoutMs);
    if (result.succeeded())
        return {};
    const QString complaint = complaintOf(result);
    return complaint.isEmpty() ? QStringLiteral("Could not hang up %1").arg(entry) : complaint;
}
