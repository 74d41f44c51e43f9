// The help page: its address and topics, the page the program ships and
// seeds into its folder, and the Help buttons of the main window and of
// both settings windows.

#include "app/inspectionrig.h"
#include "app/programfolder.h"
#include "settings/frmgeneral.h"
#include "settings/frmoptionsmain.h"

#include <QAction>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBrowser>

using namespace appfixture;
using namespace inspectionrig;

namespace {

const QString ShippedPage = QStringLiteral(MAILSIEVE_DATA_DIR "/help/mailsieve.html");

QString shippedText()
{
    QFile file(ShippedPage);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList captures(const QString &text, const QString &pattern)
{
    QStringList found;
    QRegularExpressionMatchIterator it = QRegularExpression(pattern).globalMatch(text);
    while (it.hasNext())
        found << it.next().captured(1);
    return found;
}

} // namespace

class TestHelp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useUsEnglish(); }

    void topicsAreAnchorsOfThePage()
    {
        const QString folder = QStringLiteral("/home/u/.local/share/Mailsieve");
        QCOMPARE(helpUrl(folder, 0), QUrl(QStringLiteral("file:///home/u/.local/share/Mailsieve/help/mailsieve.html")));
        QCOMPARE(helpUrl(folder, 100).toString(),
                 QStringLiteral("file:///home/u/.local/share/Mailsieve/help/mailsieve.html#topic100"));
        QCOMPARE(helpUrl(QStringLiteral("/a b"), 200).fragment(), QStringLiteral("topic200"));
        QVERIFY(helpUrl(QStringLiteral("/a b"), 200).isLocalFile());
    }

    void shippedPageCoversTheProgram()
    {
        const QString page = shippedText();
        QVERIFY(!page.isEmpty());
        const QStringList ids = captures(page, QStringLiteral("id=\"([^\"]+)\""));
        QVERIFY(ids.contains(QStringLiteral("topic100")));
        QVERIFY(ids.contains(QStringLiteral("topic200")));
        // Every link inside the page leads somewhere.
        for (const QString &target : captures(page, QStringLiteral("href=\"#([^\"]+)\"")))
            QVERIFY2(ids.contains(target), qPrintable(target));
        for (const char *needed :
             {"SSL/TLS", "STARTTLS", "None", "Red check mark", "Blue question mark", "Yellow exception picture",
              "Grey check mark", "Subject rules", "Sender rules", "Header rules", "Exceptions", "Known spammers",
              "Automatic mode", "The log file", "View body of one message"})
            QVERIFY2(page.contains(QLatin1String(needed)), needed);
        // Nothing in it reaches out of the page.
        QVERIFY(!page.contains(QStringLiteral("<script")));
        QVERIFY(!page.contains(QStringLiteral("http")));
    }

    void seedingCopiesThePage()
    {
        QTemporaryDir folder;
        QCOMPARE(seedProgramFolder(folder.path(), {QStringLiteral(MAILSIEVE_DATA_DIR)}), QStringList());
        QFile copy(helpFilePath(folder.path()));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(copy.readAll()), shippedText());
    }

    void settingsWindowsOpenTheirTopics()
    {
        InspectionRig rig;
        rig.start(mailbox(1));
        QCOMPARE(seedProgramFolder(rig.home.path(), {QStringLiteral(MAILSIEVE_DATA_DIR)}), QStringList());
        TfrmOptionsMain spam(rig.core->rules, rig.home.path(), rig.core->settings, rig.prompts, rig.window.get());
        TfrmGeneral general(TfrmGeneral::Links{rig.core->settings, rig.core->store, rig.prompts, rig.home.path()},
                            rig.window.get());
        attachHelp(rig.commands->help(), spam, general);

        spam.btHelp->click();
        general.btHelp->click();
        QCOMPARE(rig.helpOpener.opened, QList<QUrl>({helpUrl(rig.home.path(), 100), helpUrl(rig.home.path(), 200)}));
        QVERIFY(rig.prompts.asked.isEmpty());
    }

    void mainHelpOpensThePageTopAndPausesTheTimer()
    {
        InspectionRig rig;
        rig.start(mailbox(1), [](GeneralSettings &s) { s.automatic = true; });
        QCOMPARE(seedProgramFolder(rig.home.path(), {QStringLiteral(MAILSIEVE_DATA_DIR)}), QStringList());
        rig.timerChanges.clear();
        rig.alarmStops = 0;
        rig.window->btHelp()->trigger();
        QCOMPARE(rig.helpOpener.opened, QList<QUrl>{helpUrl(rig.home.path(), 0)});
        QVERIFY(!rig.helpOpener.opened[0].hasFragment());
        QCOMPARE(rig.timerChanges, QList<bool>({false, true}));
        QCOMPARE(rig.alarmStops, 1);
    }

    void missingPageOrRefusedOpeningIsReported()
    {
        InspectionRig rig;
        rig.start(mailbox(1));
        // No page in the folder: the browser is not even asked.
        rig.window->btHelp()->trigger();
        QVERIFY(rig.helpOpener.opened.isEmpty());
        QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Error),
                 QStringList{QStringLiteral("Unable to open help file - mailsieve.html.")});

        QCOMPARE(seedProgramFolder(rig.home.path(), {QStringLiteral(MAILSIEVE_DATA_DIR)}), QStringList());
        rig.helpOpener.succeeds = false;
        QVERIFY(!rig.commands->help().show(100));
        QCOMPARE(rig.helpOpener.opened.size(), 1);
        QCOMPARE(rig.prompts.textsOf(ScriptedPrompts::Kind::Error).size(), 2);
    }

    void helpWindowShowsThePageAtItsTopic()
    {
        HelpWindow window;
        window.resize(600, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTextBrowser *page = window.browser();

        QVERIFY(window.load(helpUrl(QStringLiteral(MAILSIEVE_DATA_DIR), 0)));
        QCOMPARE(page->documentTitle(), QStringLiteral("Mailsieve help"));
        QVERIFY(page->toPlainText().contains(QStringLiteral("General settings window")));
        QCOMPARE(page->verticalScrollBar()->value(), 0);

        // A topic is scrolled to; the General settings topic is near the end.
        QVERIFY(window.load(helpUrl(QStringLiteral(MAILSIEVE_DATA_DIR), 200)));
        QTRY_VERIFY(page->verticalScrollBar()->value() > page->verticalScrollBar()->maximum() / 2);
        const int atTopic200 = page->verticalScrollBar()->value();
        QVERIFY(window.load(helpUrl(QStringLiteral(MAILSIEVE_DATA_DIR), 100)));
        QTRY_VERIFY(page->verticalScrollBar()->value() < atTopic200);
        QVERIFY(page->verticalScrollBar()->value() > 0);
    }

    void helpWindowFollowsTheContentsAndGoesBack()
    {
        HelpWindow window;
        window.resize(600, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTextBrowser *page = window.browser();
        QVERIFY(window.load(helpUrl(QStringLiteral(MAILSIEVE_DATA_DIR), 0)));
        QPushButton *back = nullptr;
        for (QPushButton *button : window.findChildren<QPushButton *>()) {
            if (button->text() == QStringLiteral("Back"))
                back = button;
        }
        QVERIFY(back);
        QVERIFY(!back->isEnabled());

        page->setSource(QUrl(QStringLiteral("#log")));
        QTRY_VERIFY(page->verticalScrollBar()->value() > 0);
        QVERIFY(back->isEnabled());
        back->click();
        QTRY_COMPARE(page->verticalScrollBar()->value(), 0);
    }

    void helpWindowRefusesAMissingPage()
    {
        QTemporaryDir empty;
        HelpWindow window;
        QVERIFY(!window.load(helpUrl(empty.path(), 0)));
        // Nor does the page shown before stand in for it.
        QVERIFY(window.load(helpUrl(QStringLiteral(MAILSIEVE_DATA_DIR), 0)));
        QVERIFY(!window.load(helpUrl(empty.path(), 0)));
        QVERIFY(!window.openUrl(helpUrl(empty.path(), 100)));
        QVERIFY(!window.isVisible());
    }

    void helpWindowKeepsTheLightPageReadableUnderADarkTheme()
    {
        QPalette dark;
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        dark.setColor(QPalette::Window, QColor(45, 45, 45));
        HelpWindow window;
        window.setPalette(dark);
        // The page's own text is dark grey; its ground stays light.
        QVERIFY(window.browser()->palette().color(QPalette::Base).lightness() > 200);
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
