// Pictures of the main window after a check and of every page of the General
// settings window, each checked to lay out inside its window (nothing cut
// off); support/screenshots.h says how to keep the pictures.

#include "app/appfixture.h"
#include "app/frmmain.h"
#include "app/markpictures.h"
#include "app/programcore.h"
#include "settings/frmgeneral.h"
#include "settings/ruleeditorwidgets.h"
#include "support/scriptedpop3server.h"
#include "support/scriptedprompts.h"
#include "support/screenshots.h"

#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace appfixture;

class TestScreens : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    ScriptedPop3Server server;

private slots:
    void initTestCase()
    {
        useUsEnglish();
        setRuleMarkPictureSource(markPicture);
        qputenv("MAILSIEVE_HOME", home.path().toUtf8());
        server.setMessages(mailbox(20));
        QVERIFY(server.listen());
        storeSettings([&](GeneralSettings &s) {
            storeMailbox(s, 1, server.address(), server.user(), server.password());
        });
        storeRules(home.path());
    }

    void mainWindowAfterACheck()
    {
        ProgramCore core(home.path());
        QCOMPARE(core.load(), QStringList());
        ScriptedPrompts prompts;
        TfrmMain window(core, prompts);
        window.FormCreate(readStartupSettings(core.store));
        window.resize(820, 520);
        window.btListClick();
        QCOMPARE(window.ListView1()->model()->rowCount(), 20);
        QVERIFY(prompts.asked.isEmpty());
        screenshots::save(window, QStringLiteral("main-window"));
    }

    void generalSettingsPages()
    {
        SettingsStore store;
        GeneralSettings settings;
        QVERIFY(settings.ReadSettings(store));
        QVERIFY(settings.readServerSettings(store));
        ScriptedPrompts prompts;
        TfrmGeneral window(TfrmGeneral::Links{settings, store, prompts, home.path()});
        QTabWidget *pages = window.findChild<QTabWidget *>();
        QVERIFY(pages);
        QCOMPARE(pages->count(), 6);
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            screenshots::save(window, QStringLiteral("general-%1-%2")
                                          .arg(i + 1)
                                          .arg(pages->tabText(i).remove(QLatin1Char('&')).replace(' ', '-')));
        }
    }
};

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
