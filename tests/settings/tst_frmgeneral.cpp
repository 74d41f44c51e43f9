// The General settings window, driven offscreen: what it shows at a first
// start, its OK and Cancel, the first-use import and first-run header rule,
// the dial-up list and the smaller commands.

#include "mail/dialup.h"
#include "mail/dialupprocess.h"
#include "rules/rulelist.h"
#include "rules/ruletexts.h"
#include "settings/frmgeneral.h"
#include "settings/frmimapoptions.h"
#include "settings/frmoauth.h"
#include "settings/mailimport.h"
#include "support/fakexdgmime.h"
#include "support/scriptedprompts.h"
#include "support/testfiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <memory>

using Kind = ScriptedPrompts::Kind;

namespace {

const QString Fixtures = QStringLiteral(MAILSIEVE_SOURCE_DIR "/tests/support/fixtures/thunderbird");

class ListedEntries : public NoDialUp
{
public:
    QStringList names;
    QStringList entries() override { return names; }
};

// One window over a private store and program folder.
struct Setup
{
    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("mailsieve.conf"))};
    GeneralSettings settings;
    ScriptedPrompts prompts;
    RuleSet rules;
    int rulesSaved = 0;
    std::unique_ptr<TfrmGeneral> window;

    // Values written to the store before the window is made.
    void stored(const QString &section, const QString &name, const QString &value)
    {
        store.setValue(section, name, value);
        QVERIFY(store.save());
    }

    TfrmGeneral &make(TagRas *dialUp = nullptr, const MailImport *import = nullptr)
    {
        window = std::make_unique<TfrmGeneral>(
            TfrmGeneral::Links{settings, store, prompts, dir.path(), dialUp, import, &rules.HeaderRules});
        window->saveRules = [this] {
            ++rulesSaved;
            return true;
        };
        return *window;
    }

    // What the store holds now, read afresh from the file.
    QString onDisk(const QString &section, const QString &name)
    {
        SettingsStore fresh(store.filePath());
        return fresh.contains(section, name) ? fresh.value(section, name) : QStringLiteral("<missing>");
    }
};

// Every control's value as text, to compare two moments of the window.
QStringList controlValues(TfrmGeneral &w)
{
    QStringList values;
    for (QLineEdit *edit : w.findChildren<QLineEdit *>())
        values << edit->text();
    for (QAbstractButton *button : w.findChildren<QAbstractButton *>())
        if (button->isCheckable())
            values << (button->text() + (button->isChecked() ? QStringLiteral(":on") : QStringLiteral(":off")));
    for (QComboBox *combo : w.findChildren<QComboBox *>())
        values << combo->currentText();
    values << QString::number(w.seMinutes->value()) << w.lblCount->text();
    return values;
}

// Picks an entry of a row's combo box as the user would.
void choose(QComboBox *combo, const QString &text)
{
    const int index = combo->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// Clicks opener, which shows a Dialog of w, and hands the dialog to use
// while it is shown; what use leaves open is cancelled.
template <class Dialog>
void withDialog(TfrmGeneral &w, QAbstractButton *opener, const std::function<void(Dialog &)> &use)
{
    bool shown = false;
    QTimer::singleShot(0, &w, [&] {
        auto *dialog = w.findChild<Dialog *>();
        if (!dialog)
            return;
        shown = dialog->isVisible();
        use(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    opener->click();
    QVERIFY(shown);
}

void withOAuthDialog(TfrmGeneral &w, int n, const std::function<void(TfrmOAuth &)> &use)
{
    withDialog(w, w.row(n).btOAuth, use);
}

void withImapDialog(TfrmGeneral &w, int n, const std::function<void(TfrmImapOptions &)> &use)
{
    withDialog(w, w.row(n).btImap, use);
}

void fillMailbox(TfrmGeneral &w, int n, const QString &server, const QString &user)
{
    w.row(n).edServe->setText(server);
    w.row(n).edMailbox->setText(user);
}

} // namespace

class TestFrmGeneral : public QObject
{
    Q_OBJECT

private slots:
    void firstStartShowsTheDefaults()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        QCOMPARE(w.windowTitle(), QStringLiteral("General settings"));
        QCOMPARE(w.pages->currentWidget(), w.tsMailboxes);
        w.show();
        QVERIFY(w.rbManual->isChecked());
        QVERIFY(w.cbAsk->isChecked());
        QVERIFY(w.cbLaunch->isChecked());
        QVERIFY(!w.cbExit->isChecked());
        QVERIFY(!w.cbKill->isChecked());
        QVERIFY(w.cbKillAll->isChecked());
        QVERIFY(w.cbAlarm->isChecked());
        QVERIFY(w.cbRepeat->isChecked());
        QVERIFY(!w.cbSysTray->isChecked());
        QCOMPARE(w.seMinutes->value(), 10);
        QCOMPARE(w.lblCount->text(), QStringLiteral("0"));
        QCOMPARE(w.cbConnection->count(), 1);
        QCOMPARE(w.cbConnection->currentText(), QStringLiteral("None"));
        QVERIFY(w.row(1).rbDefault->isChecked());
        for (const auto &r : w.mailboxRows) {
            QVERIFY(r.edServe->text().isEmpty() && r.edMailbox->text().isEmpty() && r.edPasswd->text().isEmpty());
            QCOMPARE(r.cbSecurity->currentText(), QStringLiteral("SSL/TLS"));
        }
        QCOMPARE(w.edAlarmFile->text(), s.dir.filePath(QStringLiteral("sounds/harptune.wav")));
        QCOMPARE(w.edLogFile->text(), s.dir.filePath(QStringLiteral("logfile.txt")));
        QVERIFY(w.edMailer->text().isEmpty());
        QVERIFY(s.prompts.asked.isEmpty());
        // No user name yet: no header rule, and the window still waits to make it.
        QCOMPARE(s.rules.HeaderRules.cell(HeaderCol::What, 1), QString());
        QCOMPARE(s.rulesSaved, 0);
        QVERIFY(w.firstRun());
    }

    void panelsFollowTheModeAndTheKillBox()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        QVERIFY(!w.panelManual->isHidden());
        QVERIFY(w.panelAutomatic->isHidden());
        w.rbAutomatic->setChecked(true);
        QVERIFY(w.panelManual->isHidden());
        QVERIFY(!w.panelAutomatic->isHidden());
        QVERIFY(w.cbKillAll->isHidden());
        QVERIFY(!w.panelSound->isHidden());
        w.cbKill->click();
        QVERIFY(!w.cbKillAll->isHidden());
        QVERIFY(w.panelSound->isHidden());
    }

    void okStopsAtTheFirstBadMailboxAndFocusesIt()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        QApplication::setActiveWindow(&w);
        w.row(1).edServe->setText(QStringLiteral("pop.one.example"));
        w.row(1).edMailbox->setText(QStringLiteral("one"));
        w.row(1).edPasswd->setText(QStringLiteral("pw1"));
        w.row(2).edServe->setText(QStringLiteral("pop.two.example"));
        w.row(5).edMailbox->setText(QStringLiteral("five"));
        w.pages->setCurrentWidget(w.tsLogfile);

        w.btOK->click();
        QCOMPARE(s.prompts.textsOf(Kind::Error),
                 QStringList{QStringLiteral("Mailbox 2 has a server pop.two.example but no mailbox")});
        QVERIFY(w.isVisible());
        QCOMPARE(w.pages->currentWidget(), w.tsMailboxes);
        QVERIFY(w.row(2).edMailbox->hasFocus());
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Server2")), QStringLiteral("pop.two.example"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Mailbox5")), QStringLiteral("<missing>"));

        // Corrected, the same window saves and closes.
        s.prompts.clear();
        w.row(2).edMailbox->setText(QStringLiteral("two"));
        w.row(2).edPasswd->setText(QStringLiteral("pw2"));
        w.row(5).edServe->setText(QStringLiteral("pop.five.example"));
        w.row(5).edPasswd->setText(QStringLiteral("pw5"));
        w.btOK->click();
        QVERIFY(s.prompts.textsOf(Kind::Error).isEmpty());
        QVERIFY(!w.isVisible());
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Mailbox5")), QStringLiteral("five"));
    }

    void okTellsTheProgramOnlyOnceEveryMailboxIsStored()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        QStringList stored;
        w.mailboxesSaved = [&] {
            stored << s.settings.mailboxes[0].server;
            return QStringLiteral("The message store kept the removed mailboxes");
        };
        w.show();
        w.row(1).edServe->setText(QStringLiteral("pop.one.example"));
        w.btOK->click(); // no user name: nothing is handed on
        QVERIFY(stored.isEmpty());
        w.row(1).edMailbox->setText(QStringLiteral("one"));
        w.row(1).edPasswd->setText(QStringLiteral("pw1"));
        s.prompts.clear();
        w.btOK->click();
        QCOMPARE(stored, QStringList{QStringLiteral("pop.one.example")});
        QCOMPARE(s.prompts.textsOf(Kind::Warning),
                 QStringList{QStringLiteral("The message store kept the removed mailboxes")});
        QCOMPARE(w.result(), int(QDialog::Accepted));
    }

    void okRefusesTextsThatCouldAddCommands_data()
    {
        QTest::addColumn<int>("column"); // 0 server, 1 user name, 2 password, 3 trusted server
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("server") << 0 << QStringLiteral("pop.three.example\r\nQUIT")
                                << QStringLiteral("The server name of mailbox 3 must not contain line breaks, "
                                                  "tabs, NUL or other control characters.");
        QTest::newRow("user name") << 1 << QStringLiteral("three\nDELE 1")
                                   << QStringLiteral("The user name of mailbox 3 must not contain line breaks, "
                                                     "tabs, NUL or other control characters.");
        QTest::newRow("password") << 2 << QStringLiteral("pw") + QChar(0) + QStringLiteral("3")
                                  << QStringLiteral("The password of mailbox 3 must not contain line breaks or "
                                                    "NUL characters.");
        QTest::newRow("trusted server") << 3 << QStringLiteral("mx.google.com\nmx.example.com")
                                        << QStringLiteral("The trusted server of mailbox 3 must be one name, without "
                                                          "blanks, line breaks, tabs or other control characters.");
    }

    void okRefusesTextsThatCouldAddCommands()
    {
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(QString, message);
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        QApplication::setActiveWindow(&w);
        w.row(1).edServe->setText(QStringLiteral("pop.one.example"));
        w.row(1).edMailbox->setText(QStringLiteral("one"));
        w.row(1).edPasswd->setText(QStringLiteral("pw1"));
        const std::array<QLineEdit *, 4> fields{w.row(3).edServe, w.row(3).edMailbox, w.row(3).edPasswd,
                                                w.row(3).edTrustedServer};
        const QStringList clean{QStringLiteral("pop.three.example"), QStringLiteral("three"), QStringLiteral("pw3"),
                                QString()};
        for (int c = 0; c < 4; ++c)
            fields[c]->setText(c == column ? text : clean[c]);
        w.pages->setCurrentWidget(w.tsLogfile);

        w.btOK->click();
        QCOMPARE(s.prompts.textsOf(Kind::Error), QStringList{message});
        QVERIFY(w.isVisible());
        QCOMPARE(w.pages->currentWidget(), w.tsMailboxes);
        QVERIFY(fields[column]->hasFocus());
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Server1")), QStringLiteral("<missing>"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Server3")), QStringLiteral("<missing>"));

        // Corrected, the same window saves and closes.
        s.prompts.clear();
        fields[column]->setText(clean[column]);
        w.btOK->click();
        QVERIFY(s.prompts.textsOf(Kind::Error).isEmpty());
        QVERIFY(!w.isVisible());
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Server3")), QStringLiteral("pop.three.example"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Mailbox3")), QStringLiteral("three"));
    }

    void firstRunRuleWaitsForAUserNameTheStoreAccepts()
    {
        Setup s;
        const int rowsBefore = s.rules.HeaderRules.rowCount();
        TfrmGeneral &w = s.make();
        w.show();
        w.row(1).edServe->setText(QStringLiteral("pop.me.example"));
        w.row(1).edMailbox->setText(QStringLiteral("me\r\n"));
        w.row(1).edPasswd->setText(QStringLiteral("secret"));
        w.btOK->click();
        QCOMPARE(s.prompts.textsOf(Kind::Error).size(), 1);
        QCOMPARE(s.rules.HeaderRules.rowCount(), rowsBefore);
        QCOMPARE(s.rulesSaved, 0);
        QVERIFY(w.firstRun());

        w.row(1).edMailbox->setText(QStringLiteral("me"));
        w.btOK->click();
        QCOMPARE(s.rules.HeaderRules.rowCount(), rowsBefore + 1);
        QCOMPARE(s.rules.HeaderRules.cell(HeaderCol::Matches, 1), QStringLiteral("me - MailBox #1"));
        QCOMPARE(s.rulesSaved, 1);
    }

    void overDeletionWarningOnlyWhenKillIsNewlySwitchedOnInAutomaticMode()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        w.rbAutomatic->setChecked(true);
        w.cbKill->click();
        w.btOK->click();
        QCOMPARE(s.prompts.textsOf(Kind::Warning), QStringList{TfrmGeneral::OverDeleteWarning});
        QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("Kill")), QStringLiteral("1"));

        s.prompts.clear();
        w.show();
        w.btOK->click();
        QVERIFY(s.prompts.asked.isEmpty());

        // Switched on in manual mode: it does nothing there, so no warning.
        Setup manual;
        TfrmGeneral &m = manual.make();
        m.show();
        m.cbKill->setChecked(true);
        m.btOK->click();
        QVERIFY(manual.prompts.textsOf(Kind::Warning).isEmpty());
    }

    void notificationSwitchIsStoredAsNotify()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        QVERIFY(w.cbNotify->isChecked()); // on by default
        w.cbNotify->click();
        w.btOK->click();
        QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("Notify")), QStringLiteral("0"));
        QVERIFY(!s.settings.notify);
    }

    void startAtLoginIsSwitchedOnlyWhenChangedAndAccepted()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        QVERIFY(w.cbStartAtLogin->isHidden()); // nothing to switch without the hooks
        w.btCancel->click();

        bool enabled = false;
        QList<bool> switched;
        QString problem;
        w.startsAtLogin = [&] { return enabled; };
        w.setStartAtLogin = [&](bool on) {
            switched << on;
            if (problem.isEmpty())
                enabled = on;
            return problem;
        };
        w.show();
        QVERIFY(!w.cbStartAtLogin->isHidden());
        QVERIFY(!w.cbStartAtLogin->isChecked());
        w.btOK->click();
        QVERIFY(switched.isEmpty());

        w.show();
        w.cbStartAtLogin->click();
        w.btCancel->click();
        QVERIFY(switched.isEmpty());

        w.show();
        w.cbStartAtLogin->click();
        w.btOK->click();
        QCOMPARE(switched, QList<bool>{true});
        QVERIFY(enabled);

        problem = QStringLiteral("Cannot write the autostart entry");
        w.show();
        QVERIFY(w.cbStartAtLogin->isChecked());
        w.cbStartAtLogin->click();
        w.btOK->click();
        QCOMPARE(switched, (QList<bool>{true, false}));
        QCOMPARE(s.prompts.textsOf(Kind::Error), QStringList{problem});
    }

    void restartMessageOnlyWhenTheTrayOptionChangedAndIsAccepted()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        w.cbSysTray->click();
        w.btCancel->click();
        QVERIFY(s.prompts.asked.isEmpty());
        QVERIFY(!w.cbSysTray->isChecked());
        QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("SysTray")), QStringLiteral("<missing>"));

        w.show();
        w.cbSysTray->click();
        w.btOK->click();
        QCOMPARE(s.prompts.textsOf(Kind::Information), QStringList{TfrmGeneral::RestartMessage});
        QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("SysTray")), QStringLiteral("1"));

        s.prompts.clear();
        w.show();
        w.btOK->click();
        QVERIFY(s.prompts.asked.isEmpty());
    }

    void cancelRestoresEveryControlFromTheStore()
    {
        Setup s;
        s.stored(SettingsStore::General, QStringLiteral("Automatic"), QStringLiteral("1"));
        s.stored(SettingsStore::General, QStringLiteral("Minutes"), QStringLiteral("25"));
        s.stored(SettingsStore::General, QStringLiteral("Count"), QStringLiteral("42"));
        s.stored(SettingsStore::General, QStringLiteral("Mailer"), QStringLiteral("mutt"));
        s.stored(SettingsStore::Server, QStringLiteral("Which"), QStringLiteral("3"));
        s.stored(SettingsStore::Server, QStringLiteral("Server3"), QStringLiteral("pop.three.example"));
        s.stored(SettingsStore::Server, QStringLiteral("Mailbox3"), QStringLiteral("three"));
        s.stored(SettingsStore::Server, QStringLiteral("Security3"), QStringLiteral("STARTTLS"));
        TfrmGeneral &w = s.make();
        w.show();
        const QStringList before = controlValues(w);
        QVERIFY(w.row(3).rbDefault->isChecked());
        QCOMPARE(w.row(3).cbSecurity->currentText(), QStringLiteral("STARTTLS"));

        // Change every kind of control, the counter included.
        for (QLineEdit *edit : w.findChildren<QLineEdit *>())
            edit->setText(edit->text() + QStringLiteral("x"));
        for (QAbstractButton *button : w.findChildren<QAbstractButton *>())
            if (button->isCheckable() && !qobject_cast<QRadioButton *>(button))
                button->toggle();
        w.rbManual->setChecked(true);
        w.row(7).rbDefault->setChecked(true);
        w.row(3).cbSecurity->setCurrentIndex(2);
        w.seMinutes->setValue(99);
        s.prompts.yesNoAnswers.enqueue(true);
        w.btResetCounter->click();
        QVERIFY(controlValues(w) != before);

        w.btCancel->click();
        QCOMPARE(w.result(), int(QDialog::Rejected));
        // Cancel shows the stored values; the paths filled in at showing
        // time are not stored, so they come back empty until the next show.
        QCOMPARE(w.edAlarmFile->text(), QString());
        QCOMPARE(w.edLogFile->text(), QString());
        w.show();
        QCOMPARE(controlValues(w), before);
        QCOMPARE(s.settings.spamCount, QStringLiteral("42"));
        QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("Count")), QStringLiteral("42"));
    }

    void thunderbirdAccountFillsMailbox1AndMakesTheHeaderRule()
    {
        Setup s;
        SystemPlatformSettings platform;
        FakeXdgMime xdg(QStringLiteral("org.mozilla.Thunderbird.desktop"));
        MailImport import(platform, xdg, {Fixtures + QStringLiteral("/home/.thunderbird")},
                          {Fixtures + QStringLiteral("/applications")});
        TfrmGeneral &w = s.make(nullptr, &import);
        w.show();
        QCOMPARE(w.row(1).edServe->text(), QStringLiteral("imap.example.org"));
        QCOMPARE(w.row(1).edMailbox->text(), QStringLiteral("jane"));
        QCOMPARE(w.row(1).cbProtocol->currentText(), mailProtocolName(MailProtocol::Imap));
        QCOMPARE(w.row(1).cbSecurity->currentText(), QStringLiteral("SSL/TLS"));
        QCOMPARE(w.edMailer->text(), QStringLiteral("thunderbird"));

        const RuleList &header = s.rules.HeaderRules;
        QCOMPARE(header.cell(HeaderCol::What, 1), QString(RuleText::ToDoesNotContain));
        QCOMPARE(header.cell(HeaderCol::Matches, 1), QStringLiteral("jane - MailBox #1"));
        QCOMPARE(header.cell(HeaderCol::Case, 1), QString(RuleText::No));
        QCOMPARE(header.cell(HeaderCol::Del, 1), QString(RuleText::Yes));
        QCOMPARE(header.cell(HeaderCol::Hits, 1), QStringLiteral("0"));
        QCOMPARE(header.picture(1), MarkState::Check);
        QCOMPARE(s.rulesSaved, 1);
        QVERIFY(!w.firstRun());
        // Nothing is stored until OK.
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Server1")), QStringLiteral("<missing>"));
    }

    void firstRunRuleWaitsForAUserNameAndIsMadeOnce()
    {
        Setup s;
        const int rowsBefore = s.rules.HeaderRules.rowCount();
        TfrmGeneral &w = s.make();
        w.show();
        QCOMPARE(s.rules.HeaderRules.rowCount(), rowsBefore);

        w.row(1).edServe->setText(QStringLiteral("pop.me.example"));
        w.row(1).edMailbox->setText(QStringLiteral("me"));
        w.row(1).edPasswd->setText(QStringLiteral("secret"));
        w.btOK->click();
        QCOMPARE(s.rules.HeaderRules.rowCount(), rowsBefore + 1);
        QCOMPARE(s.rules.HeaderRules.cell(HeaderCol::Matches, 1), QStringLiteral("me - MailBox #1"));
        QCOMPARE(s.rulesSaved, 1);

        w.show();
        w.btOK->click();
        QCOMPARE(s.rules.HeaderRules.rowCount(), rowsBefore + 1);
        QCOMPARE(s.rulesSaved, 1);
    }

    void aConfiguredMailbox1MeansNoFirstRunRule()
    {
        Setup s;
        s.stored(SettingsStore::Server, QStringLiteral("Server1"), QStringLiteral("pop.x"));
        s.stored(SettingsStore::Server, QStringLiteral("Mailbox1"), QStringLiteral("x"));
        TfrmGeneral &w = s.make();
        QVERIFY(!w.firstRun());
        w.show();
        QCOMPARE(s.rulesSaved, 0);
    }

    void minutesOutsideTheRangeShowClampedAndAreStoredOnlyOnOk()
    {
        {
            Setup s;
            s.stored(SettingsStore::General, QStringLiteral("Minutes"), QStringLiteral("1"));
            TfrmGeneral &w = s.make();
            w.show();
            QCOMPARE(w.seMinutes->value(), 2);
            w.btCancel->click();
            s.window.reset(); // program end saves the general values
            QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("Minutes")), QStringLiteral("1"));
        }
        Setup s;
        s.stored(SettingsStore::General, QStringLiteral("Minutes"), QStringLiteral("0x2710")); // 10000
        TfrmGeneral &w = s.make();
        w.show();
        QCOMPARE(w.seMinutes->value(), 600);
        QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("Minutes")), QStringLiteral("0x2710"));
        w.btOK->click();
        QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("Minutes")), QStringLiteral("600"));
        QCOMPARE(s.settings.minutes, 600);
    }

    void connectionListAndTheStoredEntry()
    {
        ListedEntries backend;
        backend.names = {QStringLiteral("dsl"), QStringLiteral("Mobile")};
        {
            Setup s;
            s.stored(SettingsStore::General, QStringLiteral("RAS"), QStringLiteral("2"));
            TagRas ras(backend);
            TfrmGeneral &w = s.make(&ras);
            QCOMPARE(w.cbConnection->count(), 3);
            QCOMPARE(w.cbConnection->itemText(0), QStringLiteral("None"));
            QCOMPARE(w.cbConnection->currentText(), QStringLiteral("Mobile"));
            QCOMPARE(ras.Service(), QStringLiteral("Mobile"));

            // Choosing another one and cancelling stores nothing.
            w.show();
            w.cbConnection->setCurrentIndex(1);
            w.btCancel->click();
            QCOMPARE(w.cbConnection->currentIndex(), 2);
            s.window.reset();
            QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("RAS")), QStringLiteral("2"));
        }
        Setup s;
        s.stored(SettingsStore::General, QStringLiteral("RAS"), QStringLiteral("7"));
        TagRas ras(backend);
        TfrmGeneral &w = s.make(&ras);
        QCOMPARE(w.cbConnection->currentIndex(), 0);
        QVERIFY(ras.Service().isEmpty());
        QVERIFY(s.prompts.asked.isEmpty());
    }

    void testButtonPlaysAndStopsTheSound()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        QStringList played;
        int stopped = 0;
        w.playAlarmSound = [&](const QString &file, bool repeat) { played << file + (repeat ? " loop" : " once"); };
        w.stopAlarmSound = [&] { ++stopped; };
        w.show();
        const QString sound = s.dir.filePath(QStringLiteral("ding.wav"));
        QFile file(sound);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        w.edAlarmFile->setText(sound);

        w.btTest->click();
        QCOMPARE(w.btTest->text(), QStringLiteral("Stop"));
        QCOMPARE(played, QStringList{sound + " loop"});
        w.btTest->click();
        QCOMPARE(w.btTest->text(), QStringLiteral("Test"));
        QCOMPARE(stopped, 1);

        w.cbRepeat->setChecked(false);
        w.btTest->click();
        QCOMPARE(w.btTest->text(), QStringLiteral("Test"));
        QCOMPARE(played.last(), sound + " once");

        w.edAlarmFile->setText(s.dir.filePath(QStringLiteral("missing.wav")));
        w.btTest->click();
        QCOMPARE(played.size(), 2);
    }

    void logCommandsAndCounter()
    {
        Setup s;
        s.stored(SettingsStore::General, QStringLiteral("Count"), QStringLiteral("17"));
        TfrmGeneral &w = s.make();
        QStringList opened;
        bool openWorks = false;
        w.openFile = [&](const QString &path) {
            opened << path;
            return openWorks;
        };
        w.show();
        const QString log = w.edLogFile->text();
        w.btViewLog->click();
        QCOMPARE(opened, QStringList{log});
        QCOMPARE(s.prompts.textsOf(Kind::Error), QStringList{QStringLiteral("Unable to open log file. ")});
        openWorks = true;
        w.btViewLog->click();
        QCOMPARE(s.prompts.textsOf(Kind::Error).size(), 1);

        QFile file(log);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        w.btClearLog->click(); // answered No
        QVERIFY(QFile::exists(log));
        s.prompts.yesNoAnswers.enqueue(true);
        w.btClearLog->click();
        QVERIFY(!QFile::exists(log));
        s.prompts.yesNoAnswers.enqueue(true);
        w.btClearLog->click(); // nothing there any more: nothing to report
        QCOMPARE(s.prompts.textsOf(Kind::YesNo).last(), QStringLiteral("Really clear out log file?"));
        QCOMPARE(s.prompts.textsOf(Kind::Error).size(), 1);

        QCOMPARE(w.lblCount->text(), QStringLiteral("17"));
        w.btResetCounter->click(); // No
        QCOMPARE(w.lblCount->text(), QStringLiteral("17"));
        s.prompts.yesNoAnswers.enqueue(true);
        w.btResetCounter->click();
        QCOMPARE(s.prompts.textsOf(Kind::YesNo).last(), QStringLiteral("Really reset spam counter?"));
        QCOMPARE(w.lblCount->text(), QStringLiteral("0"));
        QVERIFY(w.SaveSettings());
        QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("Count")), QStringLiteral("0"));
    }

    void browseButtonsReplaceThePathAndAddTheExtension()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        s.prompts.fileAnswers << QStringLiteral("/sounds/bell") << QStringLiteral("/logs/spam")
                              << QStringLiteral("/usr/bin/claws-mail");
        w.btBrowseSound->click();
        w.btBrowseLog->click();
        w.btBrowseMailer->click();
        QCOMPARE(w.edAlarmFile->text(), QStringLiteral("/sounds/bell.wav"));
        QCOMPARE(w.edLogFile->text(), QStringLiteral("/logs/spam.txt"));
        QCOMPARE(w.edMailer->text(), QStringLiteral("/usr/bin/claws-mail"));
        QCOMPARE(s.prompts.textsOf(Kind::OpenFile).first(), QStringLiteral("Sound files"));
        QCOMPARE(s.prompts.textsOf(Kind::SaveFile).size(), 1);

        const QString before = w.edLogFile->text();
        w.btBrowseLog->click(); // cancelled
        QCOMPARE(w.edLogFile->text(), before);
    }

    void helpAndLaunchGoToTheProgram()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        int topic = 0;
        QString launched;
        w.showHelp = [&](int t) { topic = t; };
        w.launchMailProgram = [&](const QString &program) { launched = program; };
        w.show();
        w.edMailer->setText(QStringLiteral("evolution"));
        w.btHelp->click();
        w.btLaunch->click();
        QCOMPARE(topic, 200);
        QCOMPARE(launched, QStringLiteral("evolution"));
    }

    void fieldsShowTheButtonColourUntilTheyHaveTheFocus()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        QApplication::setActiveWindow(&w);
        QLineEdit *server = w.row(3).edServe;
        const QPalette normal = QApplication::palette(server);
        QCOMPARE(server->palette().color(QPalette::Base), normal.color(QPalette::Button));
        server->setFocus();
        QCOMPARE(server->palette().color(QPalette::Base), normal.color(QPalette::Base));
        w.row(3).edMailbox->setFocus();
        QCOMPARE(server->palette().color(QPalette::Base), normal.color(QPalette::Button));
        QCOMPARE(w.seMinutes->palette().color(QPalette::Base), normal.color(QPalette::Button));
    }

    void okStoresTheSecurityAndTheAllMailboxesChoice()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        w.row(4).edServe->setText(QStringLiteral("pop.four.example:110"));
        w.row(4).edMailbox->setText(QStringLiteral("four"));
        w.row(4).edPasswd->setText(QStringLiteral("pw"));
        w.row(4).cbSecurity->setCurrentText(QStringLiteral("None"));
        w.row(4).rbDefault->setChecked(true);
        w.cbKillAll->setChecked(false);
        w.btOK->click();
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Security4")), QStringLiteral("None"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Which")), QStringLiteral("4"));
        QCOMPARE(s.onDisk(SettingsStore::General, QStringLiteral("KillAll")), QStringLiteral("0"));
        QCOMPARE(s.settings.defaultMailbox, 4);
        QCOMPARE(s.settings.mailboxes[3].security, MailSecurity::None);
    }

    // ---- Sign-in ----

    void signInColumnStandsBesideSecurity()
    {
        Setup s;
        s.stored(SettingsStore::Server, QStringLiteral("Server3"), QStringLiteral("pop.gmail.com:995"));
        s.stored(SettingsStore::Server, QStringLiteral("Mailbox3"), QStringLiteral("ann@gmail.com"));
        s.stored(SettingsStore::Server, QStringLiteral("Auth3"), QStringLiteral("OAuth 2.0 (Google)"));
        TfrmGeneral &w = s.make();
        w.show();
        const QStringList methods = {QStringLiteral("Password"),
                                     QStringLiteral("Password (SASL PLAIN)"),
                                     QStringLiteral("APOP"),
                                     QStringLiteral("OAuth 2.0 (Google)"),
                                     QStringLiteral("OAuth 2.0 (Microsoft)"),
                                     QStringLiteral("OAuth 2.0 (other)")};
        for (int n = 1; n <= kMailboxCount; ++n) {
            auto &r = w.row(n);
            QStringList shown;
            for (int i = 0; i < r.cbSignIn->count(); ++i)
                shown << r.cbSignIn->itemText(i);
            QCOMPARE(shown, methods);
            QVERIFY(r.cbSignIn->x() > r.cbSecurity->x());
            QVERIFY(r.btOAuth->x() > r.cbSignIn->x());
            const bool google = n == 3;
            QCOMPARE(r.cbSignIn->currentText(), google ? methods[3] : methods[0]);
            QCOMPARE(r.btOAuth->isEnabled(), google);
            QCOMPARE(r.edPasswd->isEnabled(), !google);
        }
    }

    void pickingAProviderFillsServerAndSecurityAndDropsThePassword()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        auto &r = w.row(2);
        fillMailbox(w, 2, QStringLiteral("pop.old.example"), QStringLiteral("ann@outlook.com"));
        r.edPasswd->setText(QStringLiteral("old password"));
        choose(r.cbSecurity, QStringLiteral("STARTTLS"));

        choose(r.cbSignIn, QStringLiteral("OAuth 2.0 (Microsoft)"));
        QCOMPARE(r.edServe->text(), QStringLiteral("outlook.office365.com:995"));
        QCOMPARE(r.cbSecurity->currentText(), QStringLiteral("SSL/TLS"));
        QVERIFY(r.edPasswd->text().isEmpty());
        QVERIFY(!r.edPasswd->isEnabled());
        QVERIFY(r.btOAuth->isEnabled());

        choose(r.cbSignIn, QStringLiteral("OAuth 2.0 (Google)"));
        QCOMPARE(r.edServe->text(), QStringLiteral("pop.gmail.com:995"));

        // Other methods leave the server as it is.
        r.edServe->setText(QStringLiteral("pop.mine.example"));
        choose(r.cbSignIn, QStringLiteral("OAuth 2.0 (other)"));
        QCOMPARE(r.edServe->text(), QStringLiteral("pop.mine.example"));
        choose(r.cbSignIn, QStringLiteral("APOP"));
        QCOMPARE(r.edServe->text(), QStringLiteral("pop.mine.example"));
        QVERIFY(r.edPasswd->isEnabled());
        QVERIFY(!r.btOAuth->isEnabled());
        QVERIFY(s.prompts.asked.isEmpty());
    }

    void noneWithAPasswordMethodWarns()
    {
        Setup s;
        s.stored(SettingsStore::Server, QStringLiteral("Server4"), QStringLiteral("192.168.1.2"));
        s.stored(SettingsStore::Server, QStringLiteral("Mailbox4"), QStringLiteral("me"));
        s.stored(SettingsStore::Server, QStringLiteral("Security4"), QStringLiteral("None"));
        TfrmGeneral &w = s.make();
        w.show();
        QVERIFY(s.prompts.asked.isEmpty()); // what is stored is not picked

        auto &r = w.row(3);
        const QString warning = TfrmGeneral::PlainTextWarning.arg(3);
        QVERIFY(warning.startsWith(QStringLiteral("Mailbox 3: the password will go out in plain text.")));
        choose(r.cbSecurity, QStringLiteral("None"));
        QCOMPARE(s.prompts.textsOf(Kind::Warning), QStringList{warning});
        choose(r.cbSignIn, QStringLiteral("APOP"));
        choose(r.cbSecurity, QStringLiteral("None"));
        QCOMPARE(s.prompts.asked.size(), 1); // a digest is no password
        choose(r.cbSignIn, QStringLiteral("Password (SASL PLAIN)"));
        QCOMPARE(s.prompts.textsOf(Kind::Warning), (QStringList{warning, warning}));
        choose(r.cbSecurity, QStringLiteral("STARTTLS"));
        choose(r.cbSignIn, QStringLiteral("Password"));
        QCOMPARE(s.prompts.asked.size(), 2);
    }

    void plainTextIsAllowedOnlyOnceConfirmed_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("stored");
        QTest::newRow("confirmed") << true << "1";
        QTest::newRow("declined") << false << "<missing>";
    }

    void plainTextIsAllowedOnlyOnceConfirmed()
    {
        QFETCH(bool, answer);
        QFETCH(QString, stored);
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        auto &r = w.row(6);
        fillMailbox(w, 6, QStringLiteral("pop.public.example"), QStringLiteral("me"));
        r.edPasswd->setText(QStringLiteral("pw"));
        QCOMPARE(r.cbPlainText->text(), QStringLiteral("Send my password without encryption"));
        QVERIFY(!r.cbPlainText->isEnabled()); // SSL/TLS
        choose(r.cbSecurity, QStringLiteral("None"));
        QVERIFY(r.cbPlainText->isEnabled());
        choose(r.cbSignIn, QStringLiteral("APOP"));
        QVERIFY(!r.cbPlainText->isEnabled()); // a digest is no password
        choose(r.cbSignIn, QStringLiteral("Password"));
        s.prompts.clear();

        s.prompts.yesNoAnswers.enqueue(answer);
        r.cbPlainText->click();
        QCOMPARE(s.prompts.textsOf(Kind::YesNo), QStringList{TfrmGeneral::PlainTextQuestion.arg(6)});
        QVERIFY(TfrmGeneral::PlainTextQuestion.contains(QStringLiteral("without any encryption")));
        QCOMPARE(r.cbPlainText->isChecked(), answer);
        w.btOK->click();
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("PlainTextPassword6")), stored);
        QCOMPARE(s.settings.mailboxes[5].plainTextPassword, answer);

        // Clearing it asks nothing.
        s.prompts.clear();
        r.cbPlainText->setChecked(true);
        r.cbPlainText->click();
        QVERIFY(!r.cbPlainText->isChecked());
        QVERIFY(s.prompts.asked.isEmpty());
    }

    void keepPasswordInTheFileIsStoredPerMailbox()
    {
        Setup s;
        s.stored(SettingsStore::Server, QStringLiteral("KeepPassword2"), QStringLiteral("1"));
        TfrmGeneral &w = s.make();
        w.show();
        for (int n = 1; n <= kMailboxCount; ++n) {
            QCOMPARE(w.row(n).cbKeepPassword->text(), QStringLiteral("Keep this password in the settings file"));
            QCOMPARE(w.row(n).cbKeepPassword->isChecked(), n == 2);
            QVERIFY(w.row(n).cbKeepPassword->isVisibleTo(w.tsMailboxes));
        }
        fillMailbox(w, 5, QStringLiteral("pop.example.org"), QStringLiteral("me"));
        w.row(5).edPasswd->setText(QStringLiteral("pw"));
        w.row(5).cbKeepPassword->click();
        w.row(2).cbKeepPassword->click();
        w.btOK->click();
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("KeepPassword5")), QStringLiteral("1"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("KeepPassword2")), QStringLiteral("<missing>"));
        QVERIFY(s.settings.mailboxes[4].keepPasswordInFile);
    }

    void oauthDialogValuesAreStoredOnOk()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        fillMailbox(w, 5, QStringLiteral("127.0.0.1:1995"), QStringLiteral("ann"));
        w.row(5).edPasswd->setText(QStringLiteral("typed first"));
        choose(w.row(5).cbSecurity, QStringLiteral("None"));
        choose(w.row(5).cbSignIn, QStringLiteral("OAuth 2.0 (other)"));
        withOAuthDialog(w, 5, [](TfrmOAuth &d) {
            QVERIFY(!d.edAuthorizationUrl->isReadOnly() && !d.edTokenUrl->isReadOnly() && !d.edScope->isReadOnly());
            QVERIFY(d.edAuthorizationUrl->text().isEmpty());
            d.edClientId->setText(QStringLiteral(" mailsieve-test "));
            d.edAuthorizationUrl->setText(QStringLiteral("http://127.0.0.1:8123/authorize"));
            d.edTokenUrl->setText(QStringLiteral("http://127.0.0.1:8123/token"));
            d.edScope->setText(QStringLiteral("pop3"));
            d.btOK->click();
        });
        // Cancel keeps what the row had.
        withOAuthDialog(w, 5, [](TfrmOAuth &d) {
            QCOMPARE(d.edClientId->text(), QStringLiteral("mailsieve-test"));
            d.edScope->setText(QStringLiteral("changed"));
            d.btCancel->click();
        });
        w.btOK->click();
        QVERIFY2(s.prompts.textsOf(Kind::Error).isEmpty(), qPrintable(s.prompts.textsOf(Kind::Error).join(u'\n')));
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Auth5")), QStringLiteral("OAuth 2.0 (other)"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("OAuthClient5")), QStringLiteral("mailsieve-test"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("OAuthSecret5")), QString()); // none: as ever
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("OAuthAuthorize5")),
                 QStringLiteral("http://127.0.0.1:8123/authorize"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("OAuthToken5")),
                 QStringLiteral("http://127.0.0.1:8123/token"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("OAuthScope5")), QStringLiteral("pop3"));
        QVERIFY(s.onDisk(SettingsStore::Server, QStringLiteral("Passwd5")).isEmpty());
        QCOMPARE(GetRemotePOPSettings(s.store, 5).oauth.scope, QStringLiteral("pop3"));
    }

    void providerDialogShowsItsOwnEndpoints()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        choose(w.row(1).cbSignIn, QStringLiteral("OAuth 2.0 (Google)"));
        withOAuthDialog(w, 1, [](TfrmOAuth &d) {
            const OAuthProvider google = *oauthProvider(SignInMethod::OAuthGoogle);
            QCOMPARE(d.edAuthorizationUrl->text(), google.authorizationUrl);
            QCOMPARE(d.edTokenUrl->text(), google.tokenUrl);
            QCOMPARE(d.edScope->text(), QStringLiteral("https://mail.google.com/"));
            QVERIFY(d.edAuthorizationUrl->isReadOnly() && d.edTokenUrl->isReadOnly() && d.edScope->isReadOnly());
            QVERIFY(!d.edClientId->isReadOnly());
            QVERIFY(d.lblRegistration->text().contains(google.registrationHelp));
            QVERIFY(d.lblRegistration->openExternalLinks());
            QVERIFY(d.btSignIn->isHidden()); // no sign-in without the program's hook
        });
    }

    void signInGetsTheRowsEffectiveLogin()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        QList<MailboxLogin> logins;
        QString answer;
        w.signIn = [&](const MailboxLogin &login) {
            logins << login;
            return answer;
        };
        w.show();
        fillMailbox(w, 6, QString(), QStringLiteral("ann@gmail.com"));
        choose(w.row(6).cbSignIn, QStringLiteral("OAuth 2.0 (Google)"));
        withOAuthDialog(w, 6, [&](TfrmOAuth &d) {
            QVERIFY(!d.btSignIn->isHidden());
            d.btSignIn->click(); // no client ID yet: said, not tried
            QCOMPARE(d.lblResult->text(), QStringLiteral("Mailbox 6 - there is no OAuth client ID set"));
            d.edClientId->setText(QStringLiteral("id-6"));
            d.btSignIn->click();
            QCOMPARE(d.lblResult->text(), QStringLiteral("Signed in."));
            answer = QStringLiteral("The provider refused\nthe code");
            d.btSignIn->click();
            QCOMPARE(d.lblResult->text(), QStringLiteral("The provider refused the code"));
        });
        QCOMPARE(logins.size(), 2);
        const MailboxLogin &login = logins.first();
        QCOMPARE(login.number, 6);
        QCOMPARE(login.server, QStringLiteral("pop.gmail.com:995"));
        QCOMPARE(login.user, QStringLiteral("ann@gmail.com"));
        QCOMPARE(login.security, MailSecurity::SslTls);
        QCOMPARE(login.signIn, SignInMethod::OAuthGoogle);
        QCOMPARE(login.oauth.clientId, QStringLiteral("id-6"));
        QCOMPARE(login.oauth.tokenUrl, oauthProvider(SignInMethod::OAuthGoogle)->tokenUrl);
        QVERIFY(login.password.isEmpty());
        // The dialog was cancelled: the row keeps no client ID, and nothing was stored.
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Auth6")), QStringLiteral("<missing>"));
    }

    void okWithoutAClientIdPointsAtTheOAuthButton()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        QApplication::setActiveWindow(&w);
        fillMailbox(w, 7, QString(), QStringLiteral("ann@outlook.com"));
        choose(w.row(7).cbSignIn, QStringLiteral("OAuth 2.0 (Microsoft)"));
        w.pages->setCurrentWidget(w.tsLogfile);
        w.btOK->click();
        QCOMPARE(s.prompts.textsOf(Kind::Error),
                 QStringList{QStringLiteral("Mailbox 7 - there is no OAuth client ID set")});
        QVERIFY(w.isVisible());
        QCOMPARE(w.pages->currentWidget(), w.tsMailboxes);
        QVERIFY(w.row(7).btOAuth->hasFocus());
    }

    // ---- Protocol and IMAP options ----

    void protocolColumnStandsBeforeSecurity()
    {
        Setup s;
        s.stored(SettingsStore::Server, QStringLiteral("Server2"), QStringLiteral("imap.example.org"));
        s.stored(SettingsStore::Server, QStringLiteral("Mailbox2"), QStringLiteral("ann"));
        s.stored(SettingsStore::Server, QStringLiteral("Protocol2"), QStringLiteral("IMAP"));
        TfrmGeneral &w = s.make();
        w.show();
        for (int n = 1; n <= kMailboxCount; ++n) {
            auto &r = w.row(n);
            QCOMPARE(r.cbProtocol->count(), 2);
            QCOMPARE(r.cbProtocol->itemText(0), QStringLiteral("POP3"));
            QCOMPARE(r.cbProtocol->itemText(1), QStringLiteral("IMAP"));
            QVERIFY(r.cbProtocol->x() > r.edPasswd->x() && r.cbProtocol->x() < r.cbSecurity->x());
            QVERIFY(r.btImap->x() > r.btOAuth->x());
            QCOMPARE(r.cbProtocol->currentText(), n == 2 ? QStringLiteral("IMAP") : QStringLiteral("POP3"));
            QCOMPARE(r.btImap->isEnabled(), n == 2);
        }
        choose(w.row(3).cbProtocol, QStringLiteral("IMAP"));
        QVERIFY(w.row(3).btImap->isEnabled());
        choose(w.row(2).cbProtocol, QStringLiteral("POP3"));
        QVERIFY(!w.row(2).btImap->isEnabled());

        // Cancel shows the stored choices again.
        w.reject();
        QCOMPARE(w.row(2).cbProtocol->currentText(), QStringLiteral("IMAP"));
        QCOMPARE(w.row(3).cbProtocol->currentText(), QStringLiteral("POP3"));
    }

    void imapDialogValuesAreStoredOnOk()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        fillMailbox(w, 4, QStringLiteral("imap.example.org"), QStringLiteral("ann"));
        w.row(4).edPasswd->setText(QStringLiteral("pw"));
        choose(w.row(4).cbProtocol, QStringLiteral("IMAP"));
        withImapDialog(w, 4, [](TfrmImapOptions &d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("Mailbox 4: IMAP"));
            QCOMPARE(d.edFolder->text(), QStringLiteral("INBOX"));
            QVERIFY(d.rbMoveToFolder->isChecked());
            QVERIFY(d.edJunkFolder->text().isEmpty());
            QCOMPARE(d.edJunkFolder->placeholderText(), QStringLiteral("the server's Junk folder"));
            d.edFolder->setText(QStringLiteral(" Lists/Qt "));
            d.edJunkFolder->setText(QStringLiteral("Spam"));
            d.btOK->click();
        });
        // Cancel keeps what the row had.
        withImapDialog(w, 4, [](TfrmImapOptions &d) {
            QCOMPARE(d.edFolder->text(), QStringLiteral("Lists/Qt"));
            QCOMPARE(d.edJunkFolder->text(), QStringLiteral("Spam"));
            d.rbDelete->click();
            QVERIFY(!d.edJunkFolder->isEnabled());
            d.edFolder->clear();
            d.btCancel->click();
        });
        w.btOK->click();
        QVERIFY2(s.prompts.textsOf(Kind::Error).isEmpty(), qPrintable(s.prompts.textsOf(Kind::Error).join(u'\n')));
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Protocol4")), QStringLiteral("IMAP"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Folder4")), QStringLiteral("Lists/Qt"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Remove4")), QStringLiteral("Move to folder"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("JunkFolder4")), QStringLiteral("Spam"));
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("Protocol5")), QStringLiteral("POP3"));
        QCOMPARE(GetRemotePOPSettings(s.store, 4).junkFolder, QStringLiteral("Spam"));
    }

    void okPointsAtWhatAnImapMailboxGetsWrong()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        QApplication::setActiveWindow(&w);
        auto &r = w.row(3);
        fillMailbox(w, 3, QStringLiteral("imap.example.org"), QStringLiteral("ann"));
        r.edPasswd->setText(QStringLiteral("pw"));
        choose(r.cbSignIn, QStringLiteral("APOP"));
        choose(r.cbProtocol, QStringLiteral("IMAP"));
        w.pages->setCurrentWidget(w.tsLogfile);
        w.btOK->click();
        QCOMPARE(s.prompts.textsOf(Kind::Error),
                 QStringList{QStringLiteral("Mailbox 3 - APOP is a POP3 sign-in; choose another for an IMAP mailbox")});
        QVERIFY(w.isVisible());
        QCOMPARE(w.pages->currentWidget(), w.tsMailboxes);
        QVERIFY(r.cbSignIn->hasFocus());

        s.prompts.clear();
        choose(r.cbSignIn, QStringLiteral("Password"));
        withImapDialog(w, 3, [](TfrmImapOptions &d) {
            d.edJunkFolder->setText(QStringLiteral("inbox"));
            d.btOK->click();
        });
        QApplication::setActiveWindow(&w); // the closed dialog does not hand it back offscreen
        w.btOK->click();
        QCOMPARE(s.prompts.textsOf(Kind::Error),
                 QStringList{QStringLiteral("Mailbox 3 - spam cannot be moved to inbox, the folder being checked; "
                                            "choose another folder")});
        QVERIFY(w.isVisible());
        QVERIFY(r.btImap->hasFocus());
    }

    // ---- Trusted server ----

    void trustedServerRoundTripsAndOlderFilesStayWithoutIt()
    {
        Setup s;
        s.stored(SettingsStore::Server, QStringLiteral("Server3"), QStringLiteral("pop.three.example"));
        s.stored(SettingsStore::Server, QStringLiteral("Mailbox3"), QStringLiteral("three"));
        TfrmGeneral &w = s.make();
        w.show();
        w.row(3).edPasswd->setText(QStringLiteral("pw3"));
        w.btOK->click(); // a file from before the value: none is written
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QVERIFY(!readFile(s.store.filePath()).contains("TrustedServer"));

        w.show();
        w.row(3).edTrustedServer->setText(QStringLiteral(" mx.google.com "));
        w.btOK->click();
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("TrustedServer3")), QStringLiteral("mx.google.com"));
        QCOMPARE(s.settings.mailboxes[2].trustedServer, QStringLiteral("mx.google.com"));

        w.show(); // read back from the store
        QCOMPARE(w.row(3).edTrustedServer->text(), QStringLiteral("mx.google.com"));
        QVERIFY(w.row(4).edTrustedServer->text().isEmpty());
        w.row(3).edTrustedServer->clear();
        w.btOK->click();
        QCOMPARE(s.onDisk(SettingsStore::Server, QStringLiteral("TrustedServer3")), QStringLiteral("<missing>"));
    }

    void presetsFillTheTrustedServer_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("name");
        QTest::newRow("Gmail") << "Gmail (mx.google.com)"
                               << "mx.google.com";
        QTest::newRow("Microsoft") << "Microsoft 365 / Outlook.com"
                                   << "protection.outlook.com";
        QTest::newRow("none") << "None" << QString();
    }

    void presetsFillTheTrustedServer()
    {
        QFETCH(QString, caption);
        QFETCH(QString, name);
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        auto &r = w.row(6);
        r.edTrustedServer->setText(QStringLiteral("mx.example.com"));
        const QList<QAction *> presets = r.btTrustedPresets->menu()->actions();
        const auto preset = std::find_if(presets.begin(), presets.end(),
                                         [&](const QAction *action) { return action->text() == caption; });
        QVERIFY(preset != presets.end());
        (*preset)->trigger();
        QCOMPARE(r.edTrustedServer->text(), name);
        QVERIFY(w.row(5).edTrustedServer->text().isEmpty());
    }

    void proposeFillsTheFieldOrSaysThereIsNothing_data()
    {
        QTest::addColumn<QString>("proposal");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("told");
        QTest::newRow("a name") << "mx.google.com"
                                << "mx.google.com" << QStringList();
        QTest::newRow("nothing") << QString() << "mx.example.com" << QStringList{TfrmGeneral::NothingToPropose.arg(4)};
    }

    void proposeFillsTheFieldOrSaysThereIsNothing()
    {
        QFETCH(QString, proposal);
        QFETCH(QString, shown);
        QFETCH(QStringList, told);
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        QVERIFY(w.row(4).btPropose->isHidden()); // nothing to ask
        w.hide();
        QList<int> asked;
        w.trustedServerProposal = [&](int mailbox) {
            asked << mailbox;
            return proposal;
        };
        w.show();
        QVERIFY(!w.row(4).btPropose->isHidden());
        w.row(4).edTrustedServer->setText(QStringLiteral("mx.example.com"));
        w.row(4).btPropose->click();
        QCOMPARE(asked, QList<int>{4});
        QCOMPARE(w.row(4).edTrustedServer->text(), shown);
        QCOMPARE(s.prompts.textsOf(Kind::Information), told);
    }

    void pickingAProviderChecksItsPopServer()
    {
        Setup s;
        TfrmGeneral &w = s.make();
        w.show();
        auto &r = w.row(2);
        choose(r.cbProtocol, QStringLiteral("IMAP"));
        choose(r.cbSignIn, QStringLiteral("OAuth 2.0 (Google)"));
        QCOMPARE(r.edServe->text(), QStringLiteral("pop.gmail.com:995"));
        QCOMPARE(r.cbProtocol->currentText(), QStringLiteral("POP3"));
        QVERIFY(!r.btImap->isEnabled());
    }
};

QTEST_MAIN(TestFrmGeneral)
#include "tst_frmgeneral.moc"
