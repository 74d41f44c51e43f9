#include "support/secretservice.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

namespace {

const QByteArray TestPassword = "test";

// A session bus without service activation: nothing starts behind the
// test's back, and a stopped keyring stays stopped.
QByteArray busConfig(const QString &socketPath)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path="
           + socketPath.toUtf8()
           + "</listen>\n"
             "  <auth>EXTERNAL</auth>\n"
             "  <policy context=\"default\">\n"
             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
             "    <allow eavesdrop=\"true\"/>\n"
             "    <allow own=\"*\"/>\n"
             "  </policy>\n"
             "</busconfig>\n";
}

// Starts the program so that the kernel ends it when this process ends
// (PR_SET_PDEATHSIG); nothing here waits for it or kills it. Its output
// goes to the log file.
bool startTiedToThisProcess(const QString &program, const QStringList &arguments, const QString &log)
{
    const QByteArray logPath = QFile::encodeName(log);
    QList<QByteArray> args{program.toLocal8Bit()};
    for (const QString &argument : arguments)
        args << argument.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) // the parent ended before prctl took effect
            _exit(1);
        const int output = open(logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (output >= 0) {
            dup2(output, STDOUT_FILENO);
            dup2(output, STDERR_FILENO);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    return true;
}

} // namespace

SecretService::SecretService() = default;

SecretService::~SecretService()
{
    stopKeyring();
}

bool SecretService::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty()
           && !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()
           && !QStandardPaths::findExecutable(QStringLiteral("dbus-send")).isEmpty();
}

bool SecretService::required()
{
    const QString keyring = qEnvironmentVariable("MAILSIEVE_REQUIRE_KEYRING");
    if (!keyring.isEmpty())
        return keyring == QLatin1String("1");
    return qEnvironmentVariable("MAILSIEVE_REQUIRE_DOVECOT") == QLatin1String("1");
}

bool SecretService::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool SecretService::start()
{
    if (!available())
        return fail(QStringLiteral("the Secret Service is not installed (Debian packages gnome-keyring and dbus)"));
    if (!m_dir.isValid())
        return fail(QStringLiteral("cannot create a temporary folder"));
    if (m_busAddress.isEmpty() && !startBus())
        return false;
    return isKeyringRunning() || startKeyring();
}

bool SecretService::startBus()
{
    static bool started = false;
    if (started)
        return fail(QStringLiteral("a test program can start one private session bus only"));
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    const QString socket = m_dir.filePath(QStringLiteral("bus"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(busConfig(socket)) < 0)
        return fail(QStringLiteral("cannot write %1").arg(config));
    file.close();
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (!startTiedToThisProcess(daemon, {QStringLiteral("--nofork"), QStringLiteral("--config-file=") + config},
                                m_dir.filePath(QStringLiteral("bus.log"))))
        return fail(QStringLiteral("cannot start dbus-daemon"));
    started = true;
    m_busAddress = QStringLiteral("unix:path=") + socket;
    const QDeadlineTimer deadline(10000);
    while (!QFile::exists(socket)) {
        if (deadline.hasExpired())
            return fail(QStringLiteral("dbus-daemon did not open %1").arg(socket));
        QThread::msleep(20);
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
    return true;
}

bool SecretService::startKeyring()
{
    const QString home = m_dir.filePath(QStringLiteral("home"));
    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    if (!QDir().mkpath(home) || !QDir().mkpath(runtime)
        || !QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return fail(QStringLiteral("cannot create the keyring's folders in %1").arg(m_dir.path()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));

    m_keyring = std::make_unique<QProcess>();
    m_keyring->setProcessEnvironment(environment);
    m_keyring->setProcessChannelMode(QProcess::MergedChannels);
    m_keyring->start(
        QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")),
        {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!m_keyring->waitForStarted(5000))
        return fail(QStringLiteral("cannot start gnome-keyring-daemon: ") + m_keyring->errorString());
    // --unlock reads the login keyring's password up to the end of input.
    m_keyring->write(TestPassword);
    m_keyring->waitForBytesWritten(5000);
    m_keyring->closeWriteChannel();

    const QDeadlineTimer deadline(10000);
    while (!secretsOwned()) {
        if (m_keyring->state() == QProcess::NotRunning || deadline.hasExpired()) {
            const QString output = QString::fromLocal8Bit(m_keyring->readAll());
            stopKeyring();
            return fail(QStringLiteral("gnome-keyring-daemon did not take org.freedesktop.secrets: ") + output);
        }
        QThread::msleep(50);
    }
    return true;
}

bool SecretService::secretsOwned() const
{
    QProcess ask;
    ask.start(QStandardPaths::findExecutable(QStringLiteral("dbus-send")),
              {QStringLiteral("--bus=") + m_busAddress, QStringLiteral("--print-reply"),
               QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
               QStringLiteral("org.freedesktop.DBus.NameHasOwner"), QStringLiteral("string:org.freedesktop.secrets")});
    return ask.waitForFinished(5000) && ask.exitCode() == 0 && ask.readAllStandardOutput().contains("boolean true");
}

void SecretService::stopKeyring()
{
    if (!m_keyring)
        return;
    freezeKeyring(false); // a stopped process would not see the terminate
    m_keyring->terminate();
    if (!m_keyring->waitForFinished(5000))
        m_keyring->kill();
    m_keyring->waitForFinished(5000);
    m_keyring.reset();
}

void SecretService::freezeKeyring(bool frozen)
{
    if (m_keyring)
        ::kill(pid_t(m_keyring->processId()), frozen ? SIGSTOP : SIGCONT);
}

bool SecretService::isKeyringRunning() const
{
    return m_keyring && m_keyring->state() == QProcess::Running;
}
