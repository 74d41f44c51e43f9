#pragma once
// A private Secret Service for tests: its own D-Bus session bus and a
// gnome-keyring-daemon on it, unlocked with a test password, with HOME and
// the XDG folders in a temporary folder, so the developer's keyring is never
// touched. Works as root and as an ordinary user.
//
// start() points this process's DBUS_SESSION_BUS_ADDRESS at the private bus.
// GLib (and so QtKeychain's libsecret) connects to the session bus once per
// process and ends the process when that bus goes away: so there is one
// private bus per test program, started before anything asks for a
// keyring, and it is ended by the kernel when the test program ends, not by
// this object. The keyring daemon on it can be stopped, but the Secret
// Service library of this process would not take up a new one.

#include <QString>
#include <QTemporaryDir>

#include <memory>

class QProcess;

class SecretService
{
public:
    SecretService();
    ~SecretService();
    SecretService(const SecretService &) = delete;
    SecretService &operator=(const SecretService &) = delete;

    // gnome-keyring-daemon and dbus-daemon are installed.
    static bool available();
    // MAILSIEVE_REQUIRE_KEYRING=1, or when that is not set
    // MAILSIEVE_REQUIRE_DOVECOT=1 (scripts/test): a missing or failing
    // Secret Service is a test failure.
    static bool required();

    // Starts the bus (the first time) and the keyring daemon, and waits until
    // the daemon owns org.freedesktop.secrets; false with errorString().
    bool start();
    // Ends the keyring daemon; the bus stays, with no Secret Service on it.
    void stopKeyring();
    bool isKeyringRunning() const;
    // Stops the keyring daemon's clock (SIGSTOP) or lets it run on: a
    // keyring that takes D-Bus calls and never answers them.
    void freezeKeyring(bool frozen);

    QString busAddress() const { return m_busAddress; }
    QString errorString() const { return m_error; }

private:
    bool startBus();
    bool startKeyring();
    bool secretsOwned() const;
    bool fail(const QString &message);

    QTemporaryDir m_dir;
    QString m_busAddress;
    std::unique_ptr<QProcess> m_keyring;
    QString m_error;
};

// For Qt Test functions: starts the service or ends the test function, with
// a failure when it is required and a skip otherwise.
#define MS_START_SECRET_SERVICE(service)                                                                               \
    do {                                                                                                               \
        if (!(service).start()) {                                                                                      \
            if (SecretService::required())                                                                             \
                QFAIL(qPrintable((service).errorString()));                                                            \
            QSKIP(qPrintable((service).errorString()));                                                                \
        }                                                                                                              \
    } while (false)
