// The dial-up component over NetworkManager, with nmcli played by a fake
// that keeps a small table of connections and answers like the real client.

#include "mail/dialup.h"
#include "mail/dialupnetworkmanager.h"
#include "mail/dialupprocess.h"
#include "mail/mailerrors.h"

#include <QTimer>
#include <QtTest>

namespace {

class FakeNmcli : public CommandRunner
{
public:
    struct Connection
    {
        QString name;
        QString type;
        bool active = false;
        QString bluetoothType; // "dun" or "panu" for a bluetooth connection
    };
    enum class DialOutcome { Connects, Fails, NeverAnswers };

    QList<Connection> connections;
    bool installed = true;
    bool daemonRunning = true;
    DialOutcome outcome = DialOutcome::Connects;
    QStringList calls; // "up NAME", "down NAME", "abort"
    QString passwordFileText;

    bool available(const QString &program) const override { return installed && program == QLatin1String("nmcli"); }

    CommandResult run(const QString &, const QStringList &args, int) override
    {
        CommandResult result;
        result.started = true;
        if (!daemonRunning) {
            result.exitCode = 8;
            result.errorOutput = "Error: NetworkManager is not running.\n";
            return result;
        }
        result.exitCode = 0;
        if (args.value(0) == QLatin1String("-g")) { // -g bluetooth.type connection show id NAME
            if (const Connection *c = find(args.last()))
                result.output = c->bluetoothType.toUtf8() + "\n";
            return result;
        }
        if (args.value(0) == QLatin1String("-t")) {
            const bool activeOnly = args.contains(QStringLiteral("--active"));
            for (const Connection &c : connections) {
                if (activeOnly && !c.active)
                    continue;
                QString name = c.name;
                name.replace(QLatin1String("\\"), QLatin1String("\\\\"))
                    .replace(QLatin1String(":"), QLatin1String("\\:"));
                result.output += (name + QLatin1Char(':') + c.type).toUtf8();
                if (activeOnly)
                    result.output += ":activated";
                result.output += "\n";
            }
            return result;
        }
        if (args.value(1) == QLatin1String("down")) {
            calls << QStringLiteral("down ") + args.value(3);
            if (Connection *c = find(args.value(3)))
                c->active = false;
        }
        return result;
    }

    std::unique_ptr<RunningCommand> start(const QString &, const QStringList &args,
                                          std::function<void(const CommandResult &)> finished) override
    {
        const QString name = args.value(3);
        calls << QStringLiteral("up ") + name;
        if (args.contains(QStringLiteral("passwd-file"))) {
            QFile file(args.last());
            if (file.open(QIODevice::ReadOnly))
                passwordFileText = QString::fromUtf8(file.readAll());
        }
        auto command = std::make_unique<Pending>(this);
        if (outcome == DialOutcome::NeverAnswers)
            return command;
        Pending *pending = command.get();
        QTimer::singleShot(20, pending->context.get(), [this, name, finished] {
            CommandResult result;
            result.started = true;
            result.exitCode = outcome == DialOutcome::Connects ? 0 : 4;
            if (outcome == DialOutcome::Connects)
                find(name)->active = true;
            else
                result.errorOutput = "Error: Connection activation failed: No carrier.\n";
            finished(result);
        });
        return command;
    }

    bool isActive(const QString &name) { return find(name) && find(name)->active; }

private:
    struct Pending : RunningCommand
    {
        explicit Pending(FakeNmcli *runner) : owner(runner) {}
        void abort() override
        {
            if (context) {
                owner->calls << QStringLiteral("abort");
                context.reset();
            }
        }
        FakeNmcli *owner;
        std::unique_ptr<QObject> context = std::make_unique<QObject>();
    };

    Connection *find(const QString &name)
    {
        for (Connection &c : connections)
            if (c.name == name)
                return &c;
        return nullptr;
    }
};

} // namespace

class TestDialUp : public QObject
{
    Q_OBJECT

private:
    FakeNmcli nm;
    void init3G()
    {
        nm = FakeNmcli();
        nm.connections = {{QStringLiteral("Wired connection 1"), QStringLiteral("802-3-ethernet"), true, {}},
                          {QStringLiteral("Vodafone: Prepaid"), QStringLiteral("gsm"), false, {}},
                          {QStringLiteral("dsl"), QStringLiteral("pppoe"), false, {}},
                          {QStringLiteral("Phone DUN"), QStringLiteral("bluetooth"), false, QStringLiteral("dun")},
                          {QStringLiteral("Phone PAN"), QStringLiteral("bluetooth"), false, QStringLiteral("panu")},
                          {QStringLiteral("Home WiFi"), QStringLiteral("802-11-wireless"), true, {}}};
    }

private slots:
    void init() { init3G(); }

    void entriesAreTheDialUpConnectionsSortedByName()
    {
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        QCOMPARE(ras.Entries(), (QStringList{QStringLiteral("dsl"), QStringLiteral("Phone DUN"),
                                             QStringLiteral("Vodafone: Prepaid")}));
    }

    void withoutNetworkManagerThereAreNoEntriesAndNothingIsDialled()
    {
        nm.installed = false;
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        QStringList shown;
        ras.OnServiceError = [&](const QString &m) { shown << m; };
        QVERIFY(ras.Entries().isEmpty());
        ras.setService(QStringLiteral("dsl"));
        QCOMPARE(shown, QStringList{TagRas::NoDialUpText});
        QVERIFY(ras.Service().isEmpty());
        ras.EnsureConnected();
        ras.ConnectionClosed();
        QVERIFY(nm.calls.isEmpty());
    }

    void serviceSetterRefusesUnknownNamesAndChangesWhileUp()
    {
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        QStringList shown;
        ras.OnServiceError = [&](const QString &m) { shown << m; };
        ras.setService(QStringLiteral("dsl"));
        QCOMPARE(ras.Service(), QStringLiteral("dsl"));
        ras.setService(QStringLiteral("Home WiFi"));
        QCOMPARE(shown, QStringList{TagRas::InvalidServiceText});
        QVERIFY(ras.Service().isEmpty());

        ras.setService(QStringLiteral("dsl"));
        ras.EnsureConnected();
        ras.setService(QStringLiteral("Phone DUN"));
        QCOMPARE(shown.last(), TagRas::AlreadyUpText);
        QCOMPARE(ras.Service(), QStringLiteral("dsl"));
        ras.setService(QString());
        QVERIFY(ras.Service().isEmpty());
    }

    void dialsBeforeTheCheckAndHangsUpAfterIt()
    {
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        QStringList statuses;
        int disconnected = 0;
        ras.OnStatusChange = [&](const QString &s) { statuses << s; };
        ras.OnDisconnected = [&] { ++disconnected; };
        ras.setService(QStringLiteral("Vodafone: Prepaid"));

        ras.EnsureConnected();
        QVERIFY(ras.LineUp());
        QVERIFY(ras.Dialled());
        QVERIFY(nm.isActive(QStringLiteral("Vodafone: Prepaid")));
        QCOMPARE(statuses, (QStringList{QStringLiteral("Dialling Vodafone: Prepaid..."), QStringLiteral("Connected")}));

        ras.ConnectionClosed();
        QCOMPARE(nm.calls,
                 (QStringList{QStringLiteral("up Vodafone: Prepaid"), QStringLiteral("down Vodafone: Prepaid")}));
        QVERIFY(!nm.isActive(QStringLiteral("Vodafone: Prepaid")));
        QVERIFY(!ras.LineUp());
        QCOMPARE(disconnected, 1);
    }

    void aConnectionAlreadyUpIsUsedAndLeftUp()
    {
        nm.connections[2].active = true; // the user brought "dsl" up
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        int disconnected = 0;
        ras.OnDisconnected = [&] { ++disconnected; };
        ras.setService(QStringLiteral("dsl"));
        ras.EnsureConnected();
        QVERIFY(ras.LineUp());
        QVERIFY(!ras.Dialled());
        ras.ConnectionClosed();
        QVERIFY(nm.calls.isEmpty());
        QVERIFY(nm.isActive(QStringLiteral("dsl")));
        QCOMPARE(disconnected, 0);
    }

    void withoutForceServiceAnyDialUpLineThatIsUpWillDo()
    {
        nm.connections[3].active = true; // "Phone DUN"
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        ras.setService(QStringLiteral("dsl"));
        ras.ForceService = false;
        ras.EnsureConnected();
        QCOMPARE(ras.connection(), QStringLiteral("Phone DUN"));
        ras.ConnectionClosed();
        QVERIFY(nm.calls.isEmpty());

        ras.ForceService = true;
        ras.EnsureConnected();
        QCOMPARE(nm.calls, QStringList{QStringLiteral("up dsl")});
    }

    void noServiceMeansNoDialling()
    {
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        ras.EnsureConnected();
        QVERIFY(ras.LineUp());
        ras.ConnectionClosed();
        QVERIFY(nm.calls.isEmpty());
    }

    void aFailedDialRaisesTheSystemTextAndTakesTheLineDown()
    {
        nm.outcome = FakeNmcli::DialOutcome::Fails;
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        ras.setService(QStringLiteral("dsl"));
        try {
            ras.EnsureConnected();
            QFAIL("no error");
        } catch (const ERASError &e) {
            QCOMPARE(e.message(), QStringLiteral("Error: Connection activation failed: No carrier."));
        }
        QCOMPARE(nm.calls, (QStringList{QStringLiteral("up dsl"), QStringLiteral("down dsl")}));
        QVERIFY(!ras.LineUp());
    }

    void aDialThatNeverAnswersTimesOutAndIsStopped()
    {
        nm.outcome = FakeNmcli::DialOutcome::NeverAnswers;
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        ras.setTimeOut(1);
        ras.setService(QStringLiteral("dsl"));
        QVERIFY_THROWS_EXCEPTION(ETimedOutError, ras.EnsureConnected());
        QCOMPARE(nm.calls,
                 (QStringList{QStringLiteral("up dsl"), QStringLiteral("abort"), QStringLiteral("down dsl")}));
    }

    void closingDuringTheDialCancelsIt()
    {
        nm.outcome = FakeNmcli::DialOutcome::NeverAnswers;
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        ras.setService(QStringLiteral("dsl"));
        QTimer::singleShot(50, &ras, [&] { ras.ConnectionClosed(); });
        try {
            ras.EnsureConnected();
            QFAIL("no error");
        } catch (const ECanceledError &e) {
            QCOMPARE(e.message(), QStringLiteral("Operation has been canceled"));
        }
        QCOMPARE(nm.calls.last(), QStringLiteral("down dsl"));
    }

    void aDaemonThatCannotBeAskedRaisesRasError()
    {
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        ras.setService(QStringLiteral("dsl"));
        nm.daemonRunning = false;
        QVERIFY_THROWS_EXCEPTION(ERASError, ras.EnsureConnected());
    }

    void thePasswordGoesToNetworkManagerInAFileNotOnTheCommandLine()
    {
        NetworkManagerDialUp backend(nm);
        TagRas ras(backend);
        ras.setService(QStringLiteral("dsl"));
        ras.Password = QStringLiteral("s3cret");
        ras.EnsureConnected();
        QCOMPARE(nm.passwordFileText, QStringLiteral("pppoe.password:s3cret\n"));
        QCOMPARE(nm.calls.first(), QStringLiteral("up dsl"));
    }

    void errorTextFallsBackToTheNumber()
    {
        QCOMPARE(TagRas::errorText(631, QString()), QStringLiteral("RAS error no 631"));
        QCOMPARE(TagRas::errorText(1, QStringLiteral(" busy \n")), QStringLiteral("busy"));
    }

    void terseLinesKeepEscapedColons()
    {
        QCOMPARE(NetworkManagerDialUp::splitTerseLine(QStringLiteral("a\\:b\\\\c:gsm")),
                 (QStringList{QStringLiteral("a:b\\c"), QStringLiteral("gsm")}));
    }
};

QTEST_GUILESS_MAIN(TestDialUp)
#include "tst_dialup.moc"
