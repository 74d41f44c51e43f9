// What a Linux desktop expects of the program: the log-in entry of the
// XDG autostart folder, the single-instance socket in the session's
// runtime folder, the window's place kept between runs, and the log file
// shown by the program itself where the desktop cannot open it.

#include "app/autostart.h"
#include "app/frmviewheader.h"
#include "app/logfileviewer.h"
#include "app/singleinstance.h"
#include "app/windowplacement.h"
#include "support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

// The value of key in a desktop entry's text.
QString entryValue(const QString &text, const QString &key)
{
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    }
    return {};
}

// Runs fn with the environment variable name set to value (unset when
// value is null), and puts it back afterwards.
template <typename Fn>
void withEnvironment(const char *name, const QByteArray &value, Fn fn)
{
    const bool had = qEnvironmentVariableIsSet(name);
    const QByteArray old = qgetenv(name);
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
    fn();
    if (had)
        qputenv(name, old);
    else
        qunsetenv(name);
}

} // namespace

class TestDesktopManners : public QObject
{
    Q_OBJECT

private slots:
    // The log-in entry.
    void autostartFolderFollowsXdgConfigHome();
    void autostartEntryIsWrittenAndRemoved();
    void autostartExecLineQuotesThePath();
    void autostartEntrySwitchedOffByTheDesktopCountsAsOff();
    void autostartEntryThatCannotBeWrittenSaysSo();

    // One instance.
    void instanceSocketLivesInTheRuntimeFolder();
    void instanceSocketWithoutARuntimeFolder();

    // The window's place.
    void windowPlaceIsStoredAndRestored();
    void missingOrForeignPlaceFileLeavesTheWindowAlone();

    // The log file.
    void logFileGoesToTheDesktopFirst();
    void logFileFallsBackToTheTextViewer();
    void longLogShowsItsNewestWholeLines();
    void unreadableLogFails();
};

void TestDesktopManners::autostartFolderFollowsXdgConfigHome()
{
    withEnvironment("XDG_CONFIG_HOME", "/srv/config", [] {
        QCOMPARE(AutostartEntry::userConfigHome(), QStringLiteral("/srv/config"));
        QCOMPARE(AutostartEntry(QStringLiteral("/usr/bin/mailsieve")).filePath(),
                 QStringLiteral("/srv/config/autostart/io.github.mailsieve.Mailsieve.desktop"));
    });
    // Relative and empty values are ignored, as the base-directory rules say.
    for (const QByteArray &ignored : {QByteArray("relative/config"), QByteArray(""), QByteArray()}) {
        withEnvironment("XDG_CONFIG_HOME", ignored, [] {
            QCOMPARE(AutostartEntry::userConfigHome(), QDir::homePath() + QStringLiteral("/.config"));
        });
    }
}

void TestDesktopManners::autostartEntryIsWrittenAndRemoved()
{
    QTemporaryDir config;
    AutostartEntry entry(QStringLiteral("/opt/mailsieve/bin/mailsieve"), config.path());
    QVERIFY(!entry.isEnabled());
    // Removing what is not there is no failure.
    QVERIFY(entry.setEnabled(false));

    QVERIFY2(entry.setEnabled(true), qPrintable(entry.errorString()));
    QVERIFY(entry.isEnabled());
    const QString text =
        QString::fromUtf8(readFile(config.filePath(QStringLiteral("autostart/") + AutostartEntry::FileName)));
    QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QCOMPARE(entryValue(text, QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(entryValue(text, QStringLiteral("Name")), QStringLiteral("Mailsieve"));
    QCOMPARE(entryValue(text, QStringLiteral("Exec")), QStringLiteral("\"/opt/mailsieve/bin/mailsieve\""));
    QCOMPARE(entryValue(text, QStringLiteral("Icon")), QStringLiteral("io.github.mailsieve.Mailsieve"));

    // Another file of the folder is not the program's to touch.
    const QString other = config.filePath(QStringLiteral("autostart/other.desktop"));
    QVERIFY(writeFile(other, "[Desktop Entry]\nType=Application\nExec=other\n"));
    QVERIFY(entry.setEnabled(false));
    QVERIFY(!entry.isEnabled());
    QVERIFY(!QFileInfo::exists(entry.filePath()));
    QVERIFY(QFileInfo::exists(other));
}

void TestDesktopManners::autostartExecLineQuotesThePath()
{
    // Inside quotes ", `, $ and \ take a backslash, % is doubled, and the
    // key's own string escapes double every backslash once more.
    const QString text = AutostartEntry::entryText(QStringLiteral("/home/a b/100% \"mail\"/$x`y`\\z"));
    QCOMPARE(entryValue(text, QStringLiteral("Exec")),
             QStringLiteral("\"/home/a b/100%% \\\\\"mail\\\\\"/\\\\$x\\\\`y\\\\`\\\\\\\\z\""));
}

void TestDesktopManners::autostartEntrySwitchedOffByTheDesktopCountsAsOff()
{
    QTemporaryDir config;
    AutostartEntry entry(QStringLiteral("/usr/bin/mailsieve"), config.path());
    QVERIFY(entry.setEnabled(true));
    const QByteArray written = readFile(entry.filePath());
    for (const QByteArray &off : {QByteArray("Hidden=true\n"), QByteArray("X-GNOME-Autostart-enabled=false\n")}) {
        QVERIFY(writeFile(entry.filePath(), QByteArray(written).replace("X-GNOME-Autostart-enabled=true\n", off)));
        QVERIFY2(!entry.isEnabled(), off.constData());
    }
    // Ticking the box again writes a working entry.
    QVERIFY(entry.setEnabled(true));
    QVERIFY(entry.isEnabled());
}

void TestDesktopManners::autostartEntryThatCannotBeWrittenSaysSo()
{
    QTemporaryDir config;
    // A file where the autostart folder should be.
    QVERIFY(writeFile(config.filePath(QStringLiteral("autostart")), "not a folder"));
    AutostartEntry entry(QStringLiteral("/usr/bin/mailsieve"), config.path());
    QVERIFY(!entry.setEnabled(true));
    QVERIFY(entry.errorString().contains(AutostartEntry::FileName));
    QVERIFY(!entry.isEnabled());
}

void TestDesktopManners::instanceSocketLivesInTheRuntimeFolder()
{
    QTemporaryDir runtime, home;
    withEnvironment("XDG_RUNTIME_DIR", runtime.path().toUtf8(), [&] {
        SingleInstance first(home.path());
        QVERIFY(first.serverName().startsWith(runtime.path() + QLatin1Char('/')));
        QVERIFY(first.claim());
        QVERIFY(QFileInfo::exists(first.serverName()));
        // The socket is the user's alone.
        QCOMPARE(QFileInfo(first.serverName()).permissions() & (QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());

        QSignalSpy shown(&first, &SingleInstance::activationRequested);
        SingleInstance second(home.path());
        QCOMPARE(second.serverName(), first.serverName());
        QVERIFY(!second.claim());
        QTRY_COMPARE(shown.count(), 1);
    });
}

void TestDesktopManners::instanceSocketWithoutARuntimeFolder()
{
    QTemporaryDir home;
    const QString gone = home.filePath(QStringLiteral("no-such-folder"));
    for (const QByteArray &runtime : {QByteArray(), gone.toUtf8(), QByteArray("relative")}) {
        withEnvironment("XDG_RUNTIME_DIR", runtime, [&] {
            SingleInstance instance(home.path());
            QVERIFY2(!instance.serverName().contains(QLatin1Char('/')), qPrintable(instance.serverName()));
            QVERIFY(instance.claim());
        });
    }
}

void TestDesktopManners::windowPlaceIsStoredAndRestored()
{
    QTemporaryDir folder;
    WindowPlacement placement(folder.path());
    QCOMPARE(placement.filePath(), folder.filePath(QStringLiteral("window.conf")));
    QWidget window;
    window.setGeometry(40, 50, 333, 222);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(placement.save(window));
    QVERIFY(readFile(placement.filePath()).startsWith("Geometry="));

    QWidget later;
    QVERIFY(placement.restore(later));
    QCOMPARE(later.geometry(), window.geometry());
}

void TestDesktopManners::missingOrForeignPlaceFileLeavesTheWindowAlone()
{
    QTemporaryDir folder;
    WindowPlacement placement(folder.path());
    QWidget window;
    window.setGeometry(10, 20, 300, 200);
    const QRect before = window.geometry();
    QVERIFY(!placement.restore(window));
    for (const QByteArray &foreign :
         {QByteArray("width=300\n"), QByteArray("Geometry=!!not base64!!\n"), QByteArray("Geometry=aGVsbG8=\n")}) {
        QVERIFY(writeFile(placement.filePath(), foreign));
        QVERIFY2(!placement.restore(window), foreign.constData());
        QCOMPARE(window.geometry(), before);
    }
    // An unwritable folder is reported, not fatal.
    WindowPlacement nowhere(folder.filePath(QStringLiteral("missing/deeper")));
    QVERIFY(!nowhere.save(window));
}

void TestDesktopManners::logFileGoesToTheDesktopFirst()
{
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("log.txt"));
    QVERIFY(writeFile(log, "MAIL CHECK 3 msg(s)\r\n"));
    QStringList handed;
    int viewers = 0;
    LogFileViewer viewer(
        [&](const QString &path) {
            handed << path;
            return true;
        },
        nullptr, [&](TfrmViewHeader &) { ++viewers; });
    QVERIFY(viewer.open(log));
    QCOMPARE(handed, QStringList{log});
    QCOMPARE(viewers, 0);
    QVERIFY(!viewer.open(QStringLiteral("  ")));
}

void TestDesktopManners::logFileFallsBackToTheTextViewer()
{
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("log.txt"));
    QVERIFY(writeFile(log, "MAIL CHECK 3 msg(s)\r\nDELETED \x1b[31mred\r\n"));
    QStringList titles, captions;
    QString shown;
    LogFileViewer viewer([](const QString &) { return false; }, nullptr,
                         [&](TfrmViewHeader &window) {
                             titles << window.lblTitle()->text();
                             captions << window.windowTitle();
                             shown = window.text();
                         });
    QVERIFY(viewer.open(log));
    QCOMPARE(titles, QStringList{QStringLiteral("Contents of the log file")});
    QCOMPARE(captions, QStringList{QStringLiteral("View log file")});
    QCOMPARE(shown, QStringLiteral("MAIL CHECK 3 msg(s)\nDELETED  [31mred"));
}

void TestDesktopManners::longLogShowsItsNewestWholeLines()
{
    QTemporaryDir folder;
    const QString log = folder.filePath(QStringLiteral("log.txt"));
    QByteArray bytes;
    int lines = 0;
    while (bytes.size() <= LogFileViewer::MostShownBytes + 1000)
        bytes += QByteArrayLiteral("line ") + QByteArray::number(++lines) + QByteArrayLiteral(" of an old log\r\n");
    QVERIFY(writeFile(log, bytes));
    const std::optional<QStringList> shown = LogFileViewer::newestLines(log);
    QVERIFY(shown);
    QCOMPARE(shown->last(), QStringLiteral("line %1 of an old log").arg(lines));
    QVERIFY(shown->first().startsWith(QStringLiteral("line ")));
    QVERIFY(shown->first().endsWith(QStringLiteral(" of an old log")));
    QVERIFY(shown->size() < lines);
    QVERIFY(shown->join(QLatin1Char('\n')).size() <= LogFileViewer::MostShownBytes);
}

void TestDesktopManners::unreadableLogFails()
{
    QTemporaryDir folder;
    int viewers = 0;
    LogFileViewer viewer([](const QString &) { return false; }, nullptr, [&](TfrmViewHeader &) { ++viewers; });
    QVERIFY(!viewer.open(folder.filePath(QStringLiteral("never-written.txt"))));
    QCOMPARE(viewers, 0);
    QVERIFY(!LogFileViewer::newestLines(folder.path()));
}

QTEST_MAIN(TestDesktopManners)
#include "tst_desktopmanners.moc"
