#include "settings/mailimport.h"

#include "mail/dialupprocess.h"
#include "settings/scramble.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>

namespace {

const QString EudoraAppPath = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Eudora.exe");

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4 * 1024 * 1024); // settings files are small; a huge one is not read whole
}

} // namespace

// ---- Platform ----------------------------------------------------------------------

QString SystemPlatformSettings::profileValue(const QString &file, const QString &section, const QString &name) const
{
    return IniFile::read(file).value(section, name);
}

bool SystemPlatformSettings::fileExists(const QString &path) const
{
    return QFileInfo(path).isFile();
}

// ---- Windows mail programs ------------------------------------------------------------

bool CheckEudora(const PlatformSettings &platform, MailboxConfig &mailbox1)
{
    QString path = platform.registryValue(PlatformSettings::Root::LocalMachine, EudoraAppPath, QStringLiteral("Path"));
    if (path.isEmpty())
        return false;
    if (!path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('\\');
    path += QStringLiteral("Eudora.ini");
    if (!platform.fileExists(path))
        return false;
    const QString account = platform.profileValue(path, QStringLiteral("Settings"), QStringLiteral("POPAccount"));
    if (account.isEmpty())
        return false;
    const qsizetype at = account.indexOf(QLatin1Char('@'));
    if (at < 0) {
        mailbox1.server = account.left(255);
    } else {
        mailbox1.mailbox = account.left(at);
        mailbox1.server = account.mid(at + 1).left(255);
    }
    return true;
}

bool CheckNetscape(const PlatformSettings &platform, MailboxConfig &mailbox1)
{
    const QString user = platform.registryValue(PlatformSettings::Root::CurrentUser,
                                                QStringLiteral("SOFTWARE\\Netscape\\Netscape Navigator\\Mail"),
                                                QStringLiteral("POP Name"));
    if (user.isEmpty())
        return false;
    mailbox1.mailbox = user;
    const QString server = platform.registryValue(PlatformSettings::Root::CurrentUser,
                                                  QStringLiteral("SOFTWARE\\Netscape\\Netscape Navigator\\Services"),
                                                  QStringLiteral("POP_Server"));
    if (!server.isEmpty())
        mailbox1.server = server;
    return true;
}

QString GetMailPath(const PlatformSettings &platform)
{
    const QString eudora =
        platform.registryValue(PlatformSettings::Root::LocalMachine, EudoraAppPath, QStringLiteral("Path"));
    if (!eudora.isEmpty() && platform.fileExists(eudora))
        return eudora;
    const QString command =
        platform.registryValue(PlatformSettings::Root::LocalMachine,
                               QStringLiteral("SOFTWARE\\Classes\\mailto\\shell\\open\\command"), QString());
    const QString upper = command.toUpper();
    if (upper.contains(QLatin1String("RUNDLL32")))
        return command.left(qMax<qsizetype>(0, command.size() - 3)); // drops the trailing "%1" argument
    const qsizetype exe = upper.indexOf(QLatin1String("EXE"));
    if (exe >= 0)
        return command.left(exe + 3);
    return command;
}

// ---- INI files ------------------------------------------------------------------------

IniFile IniFile::parse(const QByteArray &text)
{
    IniFile ini;
    const QStringList lines = decodeUtf8OrLatin1(text).split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            ini.m_sections.append({line.mid(1, line.size() - 2).trimmed(), {}});
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || ini.m_sections.isEmpty())
            continue;
        ini.m_sections.last().values.append({line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
    }
    return ini;
}

IniFile IniFile::read(const QString &path)
{
    return parse(readSmallFile(path));
}

QStringList IniFile::sections() const
{
    QStringList names;
    for (const Section &section : m_sections)
        names << section.name;
    return names;
}

QString IniFile::value(const QString &section, const QString &name) const
{
    for (const Section &s : m_sections) {
        if (s.name.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        for (const auto &[key, value] : s.values)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
    }
    return {};
}

// ---- Thunderbird --------------------------------------------------------------------------

QString thunderbirdDefaultProfile(const QString &thunderbirdFolder)
{
    const QDir root(thunderbirdFolder);
    const IniFile profiles = IniFile::read(root.filePath(QStringLiteral("profiles.ini")));
    const QStringList sections = profiles.sections();

    // Newer Thunderbird keeps the default per installation, as a path below
    // the root folder (or an absolute one).
    for (const QString &section : sections) {
        if (!section.startsWith(QLatin1String("Install"), Qt::CaseInsensitive))
            continue;
        const QString path = profiles.value(section, QStringLiteral("Default"));
        if (!path.isEmpty())
            return QDir::cleanPath(root.filePath(path));
    }
    QString chosen;
    for (const QString &section : sections) {
        if (!section.startsWith(QLatin1String("Profile"), Qt::CaseInsensitive))
            continue;
        if (chosen.isEmpty() || profiles.value(section, QStringLiteral("Default")) == QLatin1String("1")) {
            const QString path = profiles.value(section, QStringLiteral("Path"));
            if (path.isEmpty())
                continue;
            const bool relative = profiles.value(section, QStringLiteral("IsRelative")) != QLatin1String("0");
            chosen = relative ? QDir::cleanPath(root.filePath(path)) : path;
            if (profiles.value(section, QStringLiteral("Default")) == QLatin1String("1"))
                break;
        }
    }
    return chosen;
}

namespace {

// A JavaScript string literal's body with its escapes resolved.
QString unescapeJsString(const QString &body)
{
    QString out;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= body.size()) {
            out += c;
            continue;
        }
        const QChar e = body.at(++i);
        if (e == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (e == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (e == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if ((e == QLatin1Char('u') || e == QLatin1Char('x')) && i + 1 < body.size()) {
            const int digits = e == QLatin1Char('u') ? 4 : 2;
            bool ok = false;
            const uint code = body.mid(i + 1, digits).toUInt(&ok, 16);
            if (ok && body.mid(i + 1, digits).size() == digits) {
                out += QChar(char16_t(code));
                i += digits;
            } else {
                out += e;
            }
        } else {
            out += e;
        }
    }
    return out;
}

// user_pref("name", value); lines: string values unescaped, numbers and
// booleans as written.
QHash<QString, QString> readUserPrefs(const QByteArray &prefsJs)
{
    static const QRegularExpression pref(
        QString::fromLatin1(R"re(^\s*user_pref\(\s*"((?:[^"\\]|\\.)*)"\s*,\s*("(?:[^"\\]|\\.)*"|[^)\s]+)\s*\)\s*;)re"));
    QHash<QString, QString> prefs;
    const QStringList lines = QString::fromUtf8(prefsJs).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = pref.match(line);
        if (!m.hasMatch())
            continue;
        QString value = m.captured(2);
        if (value.startsWith(QLatin1Char('"')))
            value = unescapeJsString(value.mid(1, value.size() - 2));
        prefs.insert(unescapeJsString(m.captured(1)), value);
    }
    return prefs;
}

// The server keys ("server3") in the order the user's accounts are listed;
// servers of no listed account follow in number order.
QStringList serverKeysInAccountOrder(const QHash<QString, QString> &prefs)
{
    QStringList keys;
    const QStringList accounts =
        prefs.value(QStringLiteral("mail.accountmanager.accounts")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &account : accounts) {
        const QString server = prefs.value(QStringLiteral("mail.account.%1.server").arg(account.trimmed()));
        if (!server.isEmpty() && !keys.contains(server))
            keys << server;
    }
    static const QRegularExpression typePref(QStringLiteral(R"(^mail\.server\.(server(\d+))\.type$)"));
    QMap<int, QString> byNumber;
    for (auto it = prefs.cbegin(); it != prefs.cend(); ++it) {
        const QRegularExpressionMatch m = typePref.match(it.key());
        if (m.hasMatch() && !keys.contains(m.captured(1)))
            byNumber.insert(m.captured(2).toInt(), m.captured(1));
    }
    keys << byNumber.values();
    return keys;
}

// A protocol Thunderbird names in "mail.server.<key>.type", with its plain
// and its TLS port.
struct AccountType
{
    const char *type;
    MailProtocol protocol;
    int plainPort;
    int tlsPort;
};

constexpr AccountType kAccountTypes[] = {{"pop3", MailProtocol::Pop3, 110, 995},
                                         {"imap", MailProtocol::Imap, 143, 993}};

const AccountType *accountType(const QString &type)
{
    for (const AccountType &known : kAccountTypes) {
        if (type == QLatin1String(known.type))
            return &known;
    }
    return nullptr;
}

} // namespace

std::optional<MailAccount> firstMailAccount(const QByteArray &prefsJs)
{
    const QHash<QString, QString> prefs = readUserPrefs(prefsJs);
    for (const QString &key : serverKeysInAccountOrder(prefs)) {
        const auto pref = [&](const QString &name) {
            return prefs.value(QStringLiteral("mail.server.%1.%2").arg(key, name));
        };
        const AccountType *type = accountType(pref(QStringLiteral("type")));
        if (!type)
            continue;
        // A host or user name changed after the account was made is kept
        // in the "real" preferences.
        QString host = pref(QStringLiteral("realhostname"));
        if (host.isEmpty())
            host = pref(QStringLiteral("hostname"));
        QString user = pref(QStringLiteral("realuserName"));
        if (user.isEmpty())
            user = pref(QStringLiteral("userName"));
        if (host.isEmpty())
            continue;

        MailAccount account;
        account.protocol = type->protocol;
        account.userName = user;
        bool hasSocketType = false;
        const int socketType = pref(QStringLiteral("socketType")).toInt(&hasSocketType);
        bool hasPort = false;
        const int port = pref(QStringLiteral("port")).toInt(&hasPort);
        if (hasSocketType)
            account.security = socketType == 3   ? MailSecurity::SslTls
                               : socketType == 0 ? MailSecurity::None
                                                 : MailSecurity::StartTls;
        else if (hasPort)
            account.security = port == type->tlsPort ? MailSecurity::SslTls : MailSecurity::None;
        account.server = host;
        if (hasPort && port > 0 && port <= 65535 && port != type->plainPort && port != type->tlsPort)
            account.server += QLatin1Char(':') + QString::number(port);
        return account;
    }
    return std::nullopt;
}

QStringList defaultThunderbirdFolders()
{
    const QString home = QDir::homePath();
    return {home + QStringLiteral("/.thunderbird"), home + QStringLiteral("/snap/thunderbird/common/.thunderbird"),
            home + QStringLiteral("/.var/app/org.mozilla.Thunderbird/.thunderbird")};
}

// ---- The desktop's mail program --------------------------------------------------------

QString desktopExecCommand(const QByteArray &desktopFile)
{
    const QString exec = IniFile::parse(desktopFile).value(QStringLiteral("Desktop Entry"), QStringLiteral("Exec"));
    QString command;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        if (exec.at(i) != QLatin1Char('%') || i + 1 >= exec.size()) {
            command += exec.at(i);
            continue;
        }
        if (exec.at(++i) == QLatin1Char('%'))
            command += QLatin1Char('%'); // the other codes stand for files, URLs and icons
    }
    return command.simplified();
}

QStringList defaultApplicationFolders()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList folders{dataHome + QStringLiteral("/applications")};
    for (const QString &dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << dir + QStringLiteral("/applications");
    return folders;
}

// ---- All together --------------------------------------------------------------------------

MailImport::MailImport(const PlatformSettings &platform, CommandRunner &runner, QStringList thunderbirdFolders,
                       QStringList applicationFolders)
    : m_platform(platform), m_runner(runner), m_thunderbirdFolders(std::move(thunderbirdFolders)),
      m_applicationFolders(std::move(applicationFolders))
{
}

void MailImport::importMailbox(MailboxConfig &mailbox1) const
{
    if (!mailbox1.server.isEmpty())
        return;
    CheckEudora(m_platform, mailbox1);
    if (mailbox1.server.isEmpty())
        CheckNetscape(m_platform, mailbox1);
    if (!mailbox1.server.isEmpty())
        return;
    if (const std::optional<MailAccount> account = thunderbirdAccount()) {
        mailbox1.protocol = account->protocol;
        mailbox1.server = account->server;
        mailbox1.mailbox = account->userName;
        if (account->security)
            mailbox1.security = *account->security;
    }
}

std::optional<MailAccount> MailImport::thunderbirdAccount() const
{
    for (const QString &folder : m_thunderbirdFolders) {
        const QString profile = thunderbirdDefaultProfile(folder);
        if (profile.isEmpty())
            continue;
        const QByteArray prefs = readSmallFile(QDir(profile).filePath(QStringLiteral("prefs.js")));
        if (const std::optional<MailAccount> account = firstMailAccount(prefs))
            return account;
    }
    return std::nullopt;
}

QString MailImport::mailtoHandler() const
{
    if (!m_runner.available(QStringLiteral("xdg-mime")))
        return {};
    const CommandResult result = m_runner.run(
        QStringLiteral("xdg-mime"),
        {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/mailto")}, 5000);
    const QString desktopId = QString::fromUtf8(result.output).trimmed();
    if (!result.succeeded() || desktopId.isEmpty() || desktopId.contains(QLatin1Char('/')))
        return {};
    for (const QString &folder : m_applicationFolders) {
        const QString path = QDir(folder).filePath(desktopId);
        if (QFileInfo(path).isFile())
            return desktopExecCommand(readSmallFile(path));
    }
    return {};
}

QString MailImport::detectMailProgram() const
{
    const QString registered = GetMailPath(m_platform);
    return registered.isEmpty() ? mailtoHandler() : registered;
}
