#include "support/dovecotserver.h"

#include "mail/pop3client.h"
#include "mail/remotemailbox.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <vector>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

namespace {

// A program of Dovecot's, also where a PATH without the sbin folders misses it.
QString dovecotProgram(const QString &name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")});
    return found;
}

QString dovecotBinary()
{
    return dovecotProgram(QStringLiteral("dovecot"));
}

// The account the server's own processes and the mailbox run as. Dovecot
// refuses mail access as root, so a root caller hands everything to "nobody";
// anyone else runs the whole server as themselves.
struct ServerAccount
{
    QString user;
    QString group;
    uid_t uid = 0;
    gid_t gid = 0;
    bool valid = false;
};

ServerAccount serverAccount()
{
    ServerAccount account;
    const passwd *pw = geteuid() == 0 ? getpwnam("nobody") : getpwuid(geteuid());
    if (!pw)
        return account;
    const group *gr = getgrgid(pw->pw_gid);
    if (!gr)
        return account;
    account.user = QString::fromLocal8Bit(pw->pw_name);
    account.group = QString::fromLocal8Bit(gr->gr_name);
    account.uid = pw->pw_uid;
    account.gid = pw->pw_gid;
    account.valid = true;
    return account;
}

// Count distinct ports that were free a moment ago; none when there are not enough.
QList<quint16> freePorts(int count)
{
    // Held open together, so that no two probes get the same port.
    std::vector<std::unique_ptr<QTcpServer>> probes;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        probes.push_back(std::make_unique<QTcpServer>());
        if (!probes.back()->listen(QHostAddress::LocalHost, 0))
            return {};
        ports << probes.back()->serverPort();
    }
    return ports;
}

bool writeFile(const QString &fileName, const QByteArray &contents)
{
    QSaveFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() && file.commit();
}

// Dovecot's IMAP server, where Debian and most builds put it.
QString imapBinary()
{
    for (const char *candidate : {"/usr/lib/dovecot/imap", "/usr/libexec/dovecot/imap"})
        if (QFileInfo(QString::fromLatin1(candidate)).isExecutable())
            return QString::fromLatin1(candidate);
    return {};
}

// The SASL mechanisms whose secret is an OAuth 2.0 access token.
const QStringList tokenMechanisms{QStringLiteral("xoauth2"), QStringLiteral("oauthbearer")};

} // namespace

DovecotServer::DovecotServer() : m_dir(QDir::tempPath() + QStringLiteral("/mailsieve-dovecot-XXXXXX"))
{
    if (m_dir.isValid()) {
        // The server's unprivileged processes must reach their sockets below it.
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                                | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        for (const char *sub : {"mail/Maildir/cur", "mail/Maildir/new", "mail/Maildir/tmp", "run", "state"})
            QDir().mkpath(path(QString::fromLatin1(sub)));
    }
}

DovecotServer::~DovecotServer()
{
    stop();
}

bool DovecotServer::available()
{
    return !dovecotBinary().isEmpty();
}

bool DovecotServer::imapAvailable()
{
    return available() && !imapBinary().isEmpty();
}

bool DovecotServer::required()
{
    return qEnvironmentVariable("MAILSIEVE_REQUIRE_DOVECOT") == QLatin1String("1");
}

QString DovecotServer::path(const QString &relative) const
{
    return m_dir.filePath(relative);
}

QString DovecotServer::server() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QString DovecotServer::tlsServer() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_tlsPort);
}

QString DovecotServer::imapServer() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_imapPort);
}

QString DovecotServer::imapsServer() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_imapsPort);
}

void DovecotServer::setTlsIdentity(const QByteArray &certificatePem, const QByteArray &keyPem)
{
    m_tls = writeFile(path(QStringLiteral("tls-cert.pem")), certificatePem)
            && writeFile(path(QStringLiteral("tls-key.pem")), keyPem);
}

void DovecotServer::setAuthMechanisms(const QStringList &mechanisms)
{
    m_authMechanisms.clear();
    for (const QString &mechanism : mechanisms)
        m_authMechanisms << mechanism.toLower();
}

void DovecotServer::setOAuth2Introspection(const QUrl &introspectionUrl)
{
    m_introspectionUrl = introspectionUrl;
}

void DovecotServer::addMessage(const QByteArray &raw)
{
    writeFile(nextMessageFile(), raw);
    if (isRunning())
        handOverMaildir();
}

void DovecotServer::addMessages(const QList<QByteArray> &raws)
{
    for (const QByteArray &raw : raws)
        addMessage(raw);
}

QString DovecotServer::nextMessageFile()
{
    // Dovecot numbers new maildir files in the order of the time stamp that
    // starts their names, so increasing stamps keep the order of adding.
    const QString name =
        QStringLiteral("%1.M%2P1.mailsieve:2,").arg(1600000000 + m_nextFile).arg(m_nextFile, 6, 10, QLatin1Char('0'));
    ++m_nextFile;
    return path(QStringLiteral("mail/Maildir/cur/") + name);
}

bool DovecotServer::addMessages(int count, const std::function<QByteArray(int)> &messageAt)
{
    bool written = true;
    for (int i = 0; i < count && written; ++i) {
        QFile file(nextMessageFile());
        const QByteArray raw = messageAt(i);
        written = file.open(QIODevice::WriteOnly) && file.write(raw) == raw.size();
    }
    if (isRunning())
        handOverMaildir();
    return written;
}

QString DovecotServer::maildir(const QString &folder) const
{
    // Maildir++: every folder but INBOX is a dot-folder inside INBOX's.
    const QString inbox = path(QStringLiteral("mail/Maildir"));
    return folder.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0 ? inbox
                                                                            : inbox + QStringLiteral("/.") + folder;
}

QStringList DovecotServer::messageFileNames(const QString &folder) const
{
    QStringList names;
    for (const char *sub : {"/new", "/cur"}) {
        const QDir dir(maildir(folder) + QString::fromLatin1(sub));
        for (const QString &name : dir.entryList(QDir::Files))
            names << dir.filePath(name);
    }
    // Every name starts with its ten-digit time stamp: sort on the file name alone.
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return QFileInfo(a).fileName() < QFileInfo(b).fileName(); });
    return names;
}

bool DovecotServer::removeMessage(int index)
{
    const QStringList names = messageFileNames();
    return index >= 0 && index < names.size() && QFile::remove(names.at(index));
}

QList<QByteArray> DovecotServer::storedMessages() const
{
    return storedMessages(QStringLiteral("INBOX"));
}

int DovecotServer::storedMessageCount() const
{
    return int(messageFileNames().size());
}

QList<QByteArray> DovecotServer::storedMessages(const QString &folder) const
{
    QList<QByteArray> messages;
    for (const QString &name : messageFileNames(folder)) {
        QFile file(name);
        messages << (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return messages;
}

QList<bool> DovecotServer::seenFlags(const QString &folder) const
{
    QList<bool> seen;
    for (const QString &name : messageFileNames(folder)) {
        const QString fileName = QFileInfo(name).fileName();
        const qsizetype info = fileName.lastIndexOf(QLatin1String(":2,"));
        seen << (info >= 0 && fileName.mid(info + 3).contains(QLatin1Char('S')));
    }
    return seen;
}

std::optional<QByteArray> DovecotServer::doveadm(const QStringList &arguments) const
{
    QProcess tool;
    tool.start(dovecotProgram(QStringLiteral("doveadm")),
               QStringList{QStringLiteral("-c"), path(QStringLiteral("dovecot.conf"))} + arguments);
    if (!tool.waitForFinished(15000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}

quint32 DovecotServer::uidValidity(const QString &folder) const
{
    const auto output =
        doveadm({QStringLiteral("-f"), QStringLiteral("flow"), QStringLiteral("mailbox"), QStringLiteral("status"),
                 QStringLiteral("-u"), userName(), QStringLiteral("uidvalidity"), folder});
    if (!output)
        return 0;
    // "uidvalidity=1700000000"
    return output->trimmed().split('=').value(1).toUInt();
}

bool DovecotServer::setUidValidity(quint32 uidValidity, const QString &folder)
{
    return doveadm({QStringLiteral("mailbox"), QStringLiteral("update"), QStringLiteral("-u"), userName(),
                    QStringLiteral("--uid-validity"), QString::number(uidValidity), folder})
        .has_value();
}

void DovecotServer::handOverMaildir() const
{
    if (geteuid() != 0)
        return;
    const ServerAccount account = serverAccount();
    const auto hand = [&account](const QString &name) {
        return ::chown(QFile::encodeName(name).constData(), account.uid, account.gid) == 0;
    };
    const QString home = path(QStringLiteral("mail"));
    hand(home);
    QDirIterator it(home, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        hand(it.next());
}

bool DovecotServer::fail(const QString &message)
{
    m_error = message;
    const QString log = logText().trimmed();
    if (!log.isEmpty())
        m_error += QStringLiteral("\nDovecot log:\n") + log.right(2000);
    return false;
}

bool DovecotServer::writeConfig()
{
    const ServerAccount account = serverAccount();
    if (!account.valid)
        return fail(QStringLiteral("no account to run Dovecot as"));

    const QString passwdLine = QStringLiteral("%1:{PLAIN}%2:%3:%4::%5::\n")
                                   .arg(userName(), password())
                                   .arg(account.uid)
                                   .arg(account.gid)
                                   .arg(path(QStringLiteral("mail")));
    if (!writeFile(path(QStringLiteral("passwd")), passwdLine.toUtf8()))
        return fail(QStringLiteral("cannot write the passwd file"));

    // INBOX and a Junk folder marked for spam; a short check interval so
    // that IDLE reports a delivery at once even without inotify.
    const QString imapConfig = QStringLiteral(R"(namespace inbox {
  inbox = yes
  mailbox Junk {
    special_use = \Junk
    auto = create
  }
}
mailbox_idle_check_interval = 1 secs
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = @IMAPPORT@
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = @IMAPSPORT@
@LISTENERSSL@
  }
}
)");
    // No chroot and no privileged users: the same file works for root
    // (processes drop to "nobody") and for an ordinary user.
    QString config =
        QStringLiteral(R"(# Private server for Mailsieve tests
instance_name = mailsieve-test
base_dir = @DIR@/run
state_dir = @DIR@/state
log_path = @DIR@/dovecot.log
protocols = @PROTOCOLS@
listen = 127.0.0.1
@SSL@
auth_mechanisms = @MECHANISMS@
disable_plaintext_auth = no
auth_failure_delay = 0
# Says in the log why a login failed.
auth_verbose = yes
default_internal_user = @USER@
default_internal_group = @GROUP@
default_login_user = @USER@
first_valid_uid = 1
first_valid_gid = 1
mail_location = maildir:@DIR@/mail/Maildir
mail_fsync = never
pop3_uidl_format = %08Xu%08Xv
@IMAP@@PASSDB@userdb {
  driver = passwd-file
  args = username_format=%u @DIR@/passwd
}
service anvil {
  chroot =
  # No growing delays after the failed logins that tests make on purpose.
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = @PORT@
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = @TLSPORT@
@LISTENERSSL@
  }
}
)")
            .replace(QLatin1String("@PROTOCOLS@"), m_imapPort ? QStringLiteral("pop3 imap") : QStringLiteral("pop3"))
            .replace(QLatin1String("@IMAP@"), m_imapPort ? imapConfig : QString())
            .replace(QLatin1String("@IMAPPORT@"), QString::number(m_imapPort))
            .replace(QLatin1String("@IMAPSPORT@"), QString::number(m_imapsPort))
            .replace(QLatin1String("@PASSDB@"), passdbConfig())
            .replace(QLatin1String("@MECHANISMS@"), m_authMechanisms.join(QLatin1Char(' ')))
            .replace(QLatin1String("@DIR@"), m_dir.path())
            .replace(QLatin1String("@USER@"), account.user)
            .replace(QLatin1String("@GROUP@"), account.group)
            .replace(QLatin1String("@PORT@"), QString::number(m_port))
            .replace(QLatin1String("@TLSPORT@"), QString::number(m_tlsPort))
            .replace(QLatin1String("@LISTENERSSL@"), m_tls ? QStringLiteral("    ssl = yes") : QString())
            .replace(QLatin1String("@SSL@"),
                     m_tls ? QStringLiteral("ssl = yes\nssl_cert = <%1\nssl_key = <%2")
                                 .arg(path(QStringLiteral("tls-cert.pem")), path(QStringLiteral("tls-key.pem")))
                           : QStringLiteral("ssl = no"));
    if (!writeFile(path(QStringLiteral("dovecot.conf")), config.toUtf8()))
        return fail(QStringLiteral("cannot write the Dovecot configuration"));
    return m_introspectionUrl.isEmpty() || writeOAuth2Config();
}

QString DovecotServer::passdbConfig() const
{
    // With tokens, each secret goes to one database only: a password never
    // reaches the introspection endpoint, a token is never compared with
    // the password. "none" leaves the passwd file the lookups that check no
    // secret.
    QString passwordFilter;
    QString tokenPassdb;
    if (!m_introspectionUrl.isEmpty()) {
        QStringList passwordMechanisms = m_authMechanisms;
        passwordMechanisms.removeIf([](const QString &mechanism) { return tokenMechanisms.contains(mechanism); });
        passwordFilter =
            QStringLiteral("  mechanisms = %1\n")
                .arg(passwordMechanisms.isEmpty() ? QStringLiteral("none") : passwordMechanisms.join(QLatin1Char(' ')));
        tokenPassdb = QStringLiteral(R"(passdb {
  driver = oauth2
  mechanisms = %1
  args = @DIR@/oauth2.conf
}
)")
                          .arg(tokenMechanisms.join(QLatin1Char(' ')));
    }
    return QStringLiteral(R"(passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u @DIR@/passwd
%1}
)")
               .arg(passwordFilter)
           + tokenPassdb;
}

bool DovecotServer::writeOAuth2Config()
{
    // RFC 7662 token introspection. The bounded timeout keeps a silent
    // endpoint from holding a login (and its test) for long.
    const QString config = QStringLiteral(R"(introspection_url = %1
introspection_mode = post
username_attribute = username
active_attribute = active
active_value = true
timeout_msecs = 5000
)")
                               .arg(m_introspectionUrl.toString(QUrl::FullyEncoded));
    if (!writeFile(path(QStringLiteral("oauth2.conf")), config.toUtf8()))
        return fail(QStringLiteral("cannot write the OAuth 2.0 passdb configuration"));
    return true;
}

bool DovecotServer::launch()
{
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(dovecotBinary());
    m_process->setArguments({QStringLiteral("-F"), QStringLiteral("-c"), path(QStringLiteral("dovecot.conf"))});
    m_process->setStandardOutputFile(path(QStringLiteral("dovecot.out")), QIODevice::Append);
    m_process->setStandardErrorFile(path(QStringLiteral("dovecot.out")), QIODevice::Append);
#ifdef Q_OS_LINUX
    // A test program that dies without its destructor must not leave a server behind.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    m_process->start();
    if (!m_process->waitForStarted(5000)) {
        m_process.reset();
        return fail(QStringLiteral("cannot start %1").arg(dovecotBinary()));
    }
    return waitForGreeting(15000);
}

bool DovecotServer::waitForGreeting(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (m_process->waitForFinished(50) || m_process->state() == QProcess::NotRunning)
            return fail(QStringLiteral("Dovecot ended at start-up (exit code %1)").arg(m_process->exitCode()));
        if (greeting().startsWith("+OK") && (m_imapPort == 0 || imapGreeting().startsWith("* OK")))
            return true;
    }
    return fail(QStringLiteral("Dovecot did not greet on port %1").arg(m_port));
}

QByteArray DovecotServer::greeting() const
{
    return greetingOn(m_port);
}

QByteArray DovecotServer::imapGreeting() const
{
    return greetingOn(m_imapPort);
}

QByteArray DovecotServer::greetingOn(quint16 port) const
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    if (!probe.waitForConnected(500))
        return {};
    while (!probe.canReadLine() && probe.waitForReadyRead(1000)) {}
    return probe.readLine().trimmed();
}

bool DovecotServer::start()
{
    if (isRunning())
        return true;
    if (!m_dir.isValid())
        return fail(QStringLiteral("cannot create a temporary folder"));
    if (!available())
        return fail(QStringLiteral("dovecot is not installed (Debian packages dovecot-core and dovecot-pop3d)"));

    handOverMaildir();
    // Another program may take the probed port before Dovecot binds it: try a few.
    const bool imap = imapAvailable();
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QList<quint16> ports = freePorts(1 + (m_tls ? 1 : 0) + (imap ? 1 : 0) + (m_tls && imap ? 1 : 0));
        if (ports.isEmpty())
            return fail(QStringLiteral("no free port on 127.0.0.1"));
        qsizetype next = 0;
        m_port = ports[next++];
        m_tlsPort = m_tls ? ports[next++] : 0;
        m_imapPort = imap ? ports[next++] : 0;
        m_imapsPort = m_tls && imap ? ports[next++] : 0;
        if (!writeConfig())
            return false;
        if (launch())
            return true;
        stop();
        if (!logText().contains(QLatin1String("Address already in use")))
            return false;
    }
    return false;
}

void DovecotServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
}

bool DovecotServer::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString DovecotServer::logText() const
{
    QString text;
    for (const char *name : {"dovecot.out", "dovecot.log"}) {
        QFile file(path(QString::fromLatin1(name)));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

void DovecotServer::logIn(TmsRemotePOP &pop) const
{
    pop.setServer(server());
    pop.setUserName(userName());
    pop.setPassword(password());
}

void DovecotServer::logInImap(RemoteMailbox &client) const
{
    client.setServer(imapServer());
    client.setUserName(userName());
    client.setPassword(password());
}
