// Pictures of the main window after a check and of every page of the General
// settings window, each checked to lay out inside its window (nothing cut
// off), also under a dark palette and, in a second run of this program, at
// 200 % scale; support/screenshots.h says how to keep the pictures.

#include "app/appfixture.h"
#include "app/frmmain.h"
#include "app/markpictures.h"
#include "app/programcore.h"
#include "settings/frmgeneral.h"
#include "settings/ruleeditorwidgets.h"
#include "support/screenshots.h"
#include "support/scriptedpop3server.h"
#include "support/scriptedprompts.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace appfixture;

namespace {

// A dark desktop theme for as long as it lives: Fusion with a dark palette,
// as a user's dark colour scheme gives it.
class DarkTheme
{
public:
    DarkTheme() : m_palette(QApplication::palette()), m_style(QApplication::style()->name())
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(45, 45, 48));
        dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::AlternateBase, QColor(40, 40, 44));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        dark.setColor(QPalette::Button, QColor(55, 55, 60));
        dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
        dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        QApplication::setPalette(dark);
    }
    ~DarkTheme()
    {
        QApplication::setStyle(QStyleFactory::create(m_style));
        QApplication::setPalette(m_palette);
    }

private:
    QPalette m_palette;
    QString m_style;
};

// Device pixels of picture with a lightness above 150: text drawn light
// on a dark ground.
int lightPixels(const QImage &picture)
{
    int light = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            light += QColor(picture.pixel(x, y)).lightness() > 150;
    }
    return light;
}

} // namespace

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
        storeSettings(
            [&](GeneralSettings &s) { storeMailbox(s, 1, server.address(), server.user(), server.password()); });
        storeRules(home.path());
    }

    void mainWindowAfterACheck() { mainWindowPicture(QStringLiteral("main-window")); }

    void mainWindowUnderADarkPalette()
    {
        const DarkTheme dark;
        mainWindowPicture(QStringLiteral("main-window-dark"), [](TfrmMain &window) {
            // The header strip takes the palette's ground, and its title and
            // tagline its text colour: light writing on a dark strip.
            QWidget *strip = window.findChild<QWidget *>(QStringLiteral("headerStrip"));
            QVERIFY(strip);
            const QImage stripPicture = strip->grab().toImage();
            QCOMPARE(QColor(stripPicture.pixel(2, 2)), QApplication::palette().color(QPalette::Base));
            QVERIFY(lightPixels(window.lblTitle()->grab().toImage()) > 20);
        });
    }

    void generalSettingsPages() { generalSettingsPictures(QString()); }

    void generalSettingsUnderADarkPalette()
    {
        const DarkTheme dark;
        generalSettingsPictures(QStringLiteral("-dark"));
    }

    // The same pictures at 200 %: this program run again with Qt's scale
    // factor, so that every size the windows work out is the doubled one.
    void atDoubleScale()
    {
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QSKIP("this run is the scaled one");
        QProcess scaled;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        scaled.setProcessEnvironment(environment);
        scaled.setProcessChannelMode(QProcess::MergedChannels);
        scaled.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("mainWindowAfterACheck"), QStringLiteral("generalSettingsPages"),
                      QStringLiteral("mainWindowUnderADarkPalette"), QStringLiteral("scaleIsDouble")});
        QVERIFY(scaled.waitForFinished(300000));
        const QString output = QString::fromLocal8Bit(scaled.readAll());
        QVERIFY2(scaled.exitStatus() == QProcess::NormalExit && scaled.exitCode() == 0, qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("PASS   : TestScreens::scaleIsDouble")), qPrintable(output));
    }

    void scaleIsDouble()
    {
        if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QSKIP("only in the scaled run");
        QWidget probe;
        probe.show();
        QVERIFY(QTest::qWaitForWindowExposed(&probe));
        QCOMPARE(probe.devicePixelRatio(), 2.0);
    }

private:
    // The main window after a check of 20 messages, shown, checked and
    // pictured as name; then looked at by inspect.
    void mainWindowPicture(const QString &name, const std::function<void(TfrmMain &)> &inspect = {})
    {
        ProgramCore core(home.path());
        QCOMPARE(core.load(), QStringList());
        ScriptedPrompts prompts;
        TfrmMain window(core, prompts);
        window.FormCreate(readStartupSettings(core.store));
        window.btListClick();
        QCOMPARE(window.ListView1()->model()->rowCount(), 20);
        QVERIFY(prompts.asked.isEmpty());
        screenshots::save(window, name);
        if (inspect && !QTest::currentTestFailed())
            inspect(window);
    }

    // Every page of the General settings window, pictured with suffix.
    void generalSettingsPictures(const QString &suffix)
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
            screenshots::save(window, QStringLiteral("general-%1-%2%3")
                                          .arg(i + 1)
                                          .arg(pages->tabText(i).remove(QLatin1Char('&')).replace(' ', '-'), suffix));
        }
    }
};

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
