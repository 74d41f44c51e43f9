// A check outside the desktop session (cron, SSH: no session bus) of a
// stored mailbox whose password an earlier OK moved to the desktop keyring:
// the console check says so and how to get out, and takes the password
// from MAILSIEVE_PASSWORD when it is set.

#include "app/consolecheck.h"
#include "settings/generalsettings.h"
#include "support/scriptedpop3server.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

class TestHeadlessCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qunsetenv("DISPLAY");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        qputenv("DBUS_SESSION_BUS_ADDRESS",
                "unix:path=" + QFile::encodeName(m_runtime.filePath(QStringLiteral("no-bus"))));
    }

    void keyringPasswordOutOfReach_data()
    {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("nothing set") << QString() << 1;
        QTest::newRow("MAILSIEVE_PASSWORD") << QStringLiteral("secret") << 0;
    }

    void keyringPasswordOutOfReach()
    {
        QFETCH(QString, environment);
        QFETCH(int, exitCode);
        QTemporaryDir home;
        qputenv("MAILSIEVE_HOME", QFile::encodeName(home.path()));
        if (environment.isEmpty())
            qunsetenv("MAILSIEVE_PASSWORD");
        else
            qputenv("MAILSIEVE_PASSWORD", environment.toUtf8());
        ScriptedPop3Server server;
        QVERIFY(server.listen());
        {
            // What an OK leaves while the keyring answers: no "Passwd1".
            SettingsStore store(home.filePath(QStringLiteral("mailsieve.conf")));
            store.setValue(SettingsStore::Server, QStringLiteral("Server1"), server.address());
            store.setValue(SettingsStore::Server, QStringLiteral("Mailbox1"), QStringLiteral("user"));
            store.setValue(SettingsStore::Server, QStringLiteral("Security1"), QStringLiteral("None"));
            QVERIFY(store.save());
        }

        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        QCOMPARE(runConsoleCheck({QStringLiteral("mailsieve"), QStringLiteral("--check")}, outStream, errStream),
                 exitCode);
        errStream.flush();
        if (exitCode == 0) {
            QVERIFY2(server.commands().contains(QStringLiteral("PASS secret")), qPrintable(err));
            return;
        }
        QVERIFY2(err.contains(QStringLiteral("mailsieve: ")
                              + unreachableKeyringText(1, QStringLiteral("user"), server.address())),
                 qPrintable(err));
        QCOMPARE(server.connectionCount(), 0);
    }

private:
    QTemporaryDir m_runtime;
};

QTEST_GUILESS_MAIN(TestHeadlessCheck)
#include "tst_headlesscheck.moc"
