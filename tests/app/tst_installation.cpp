// The installed program: this build folder installed with `cmake --install`
// into a temporary prefix or, with MAILSIEVE_INSTALLED_PROGRAM set (the
// package check sets /usr/bin/mailsieve), an installed package, its files
// then looked for under the prefix of that program. Everything a desktop
// expects is there and valid, and the program runs without a display: it
// prints its version, refuses a wrong option, and checks a private Dovecot
// mailbox with the data it ships.

#include "app/appfixture.h"
#include "app/appicon.h"
#include "app/messagelist.h"
#include "support/dovecotserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace appfixture;

namespace {

const QStringList kIconSizes = {"16", "22", "24", "32", "48", "64", "128", "256"};

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a program to its end, without a display and in a plain locale.
Run runProgram(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &extra = QProcessEnvironment())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(extra);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("%1 did not end: %2").arg(program, process.errorString());
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The version of the newest release the AppStream file lists.
QString newestRelease(const QString &metainfo)
{
    QXmlStreamReader xml(readText(metainfo));
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("release"))
            return xml.attributes().value(QLatin1String("version")).toString();
    }
    return {};
}

} // namespace

class TestInstallation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void installsTheFiles_data();
    void installsTheFiles();
    void shipsNoDemoMailbox();
    void iconsHaveTheirSizes();
    void desktopEntryIsValidAndStartsTheProgram();
    void metainfoIsValidAndNamesThisVersion();
    void manualPageDocumentsEveryOption();

    void versionNeedsNoDisplay();
    void wrongOptionIsAUsageError();
    void checksADovecotMailboxWithTheShippedData();

private:
    QString file(const QString &relative) const { return m_prefix + QLatin1Char('/') + relative; }
    QString desktopFile() const { return file(QStringLiteral("share/applications/%1.desktop").arg(applicationId())); }
    QString metainfoFile() const { return file(QStringLiteral("share/metainfo/%1.metainfo.xml").arg(applicationId())); }

    QTemporaryDir m_installDir;
    QString m_prefix;
    QString m_program;
};

void TestInstallation::initTestCase()
{
    m_program = qEnvironmentVariable("MAILSIEVE_INSTALLED_PROGRAM");
    if (!m_program.isEmpty()) {
        m_prefix = QDir::cleanPath(QFileInfo(m_program).absolutePath() + QStringLiteral("/.."));
        return;
    }
    // This program lives in <build>/tests.
    const QString build = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    QVERIFY2(!cmake.isEmpty(), "cmake is not on the PATH");
    m_prefix = m_installDir.path();
    const Run install = runProgram(cmake, {QStringLiteral("--install"), build, QStringLiteral("--prefix"), m_prefix});
    QVERIFY2(install.exitCode == 0, qPrintable(install.out + install.err));
    m_program = file(QStringLiteral("bin/mailsieve"));
}

void TestInstallation::installsTheFiles_data()
{
    // Installed file, and the file of the source tree it is a copy of (none
    // for what the build makes).
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("source");
    const QString id = applicationId();
    const QList<std::pair<QString, QString>> files = {
        {QStringLiteral("bin/mailsieve"), QString()},
        {QStringLiteral("share/mailsieve/known.lst"), QStringLiteral("data/known.lst")},
        {QStringLiteral("share/mailsieve/help/mailsieve.html"), QStringLiteral("data/help/mailsieve.html")},
        {QStringLiteral("share/mailsieve/sounds/harptune.wav"), QStringLiteral("data/sounds/harptune.wav")},
        {QStringLiteral("share/applications/%1.desktop").arg(id), QStringLiteral("data/desktop/%1.desktop").arg(id)},
        {QStringLiteral("share/metainfo/%1.metainfo.xml").arg(id),
         QStringLiteral("data/desktop/%1.metainfo.xml").arg(id)},
        {QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(id),
         QStringLiteral("data/icons/%1.svg").arg(id)},
        {QStringLiteral("share/man/man1/mailsieve.1"), QStringLiteral("data/man/mailsieve.1")},
        {QStringLiteral("share/doc/mailsieve/README.md"), QStringLiteral("README.md")},
        {QStringLiteral("share/doc/mailsieve/LICENSE"), QStringLiteral("LICENSE")},
        {QStringLiteral("share/doc/mailsieve/CHANGELOG.md"), QStringLiteral("CHANGELOG.md")}};
    for (const auto &[installed, source] : files)
        QTest::newRow(qPrintable(installed)) << installed << source;
    for (const QString &size : kIconSizes) {
        const QString name = QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size, id);
        QTest::newRow(qPrintable(name)) << name << QString();
    }
}

void TestInstallation::installsTheFiles()
{
    QFETCH(QString, relative);
    QFETCH(QString, source);
    const QFileInfo info(file(relative));
    QVERIFY2(info.isFile(), qPrintable(info.filePath()));
    QCOMPARE(info.isExecutable(), relative.startsWith(QLatin1String("bin/")));
    if (source.isEmpty()) {
        QVERIFY2(info.size() > 0, qPrintable(info.filePath()));
        return;
    }
    QFile installed(info.filePath());
    QFile original(QStringLiteral(MAILSIEVE_SOURCE_DIR "/") + source);
    QVERIFY(installed.open(QIODevice::ReadOnly));
    QVERIFY2(original.open(QIODevice::ReadOnly), qPrintable(original.fileName()));
    QVERIFY2(installed.readAll() == original.readAll(), qPrintable(info.filePath()));
}

void TestInstallation::shipsNoDemoMailbox()
{
    QVERIFY(QFileInfo(file(QStringLiteral("share/mailsieve"))).isDir());
    QVERIFY(!QFileInfo::exists(file(QStringLiteral("share/mailsieve/demo"))));
}

void TestInstallation::iconsHaveTheirSizes()
{
    for (const QString &size : kIconSizes) {
        const QImage icon(file(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size, applicationId())));
        QCOMPARE(icon.size(), QSize(size.toInt(), size.toInt()));
        QVERIFY2(icon.hasAlphaChannel(), qPrintable(size));
        // Drawn, not blank: the corners stay clear and the middle is covered.
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
        QVERIFY2(qAlpha(icon.pixel(icon.width() / 2, icon.height() / 2)) > 200, qPrintable(size));
    }
}

void TestInstallation::desktopEntryIsValidAndStartsTheProgram()
{
    const Run validation = runProgram(QStringLiteral("desktop-file-validate"), {desktopFile()});
    QVERIFY2(validation.exitCode == 0, "desktop-file-validate (desktop-file-utils) failed or is missing");
    QCOMPARE(validation.out + validation.err, QString());

    const QString entry = readText(desktopFile());
    QVERIFY(entry.contains(QStringLiteral("\nIcon=%1\n").arg(applicationId())));
    QVERIFY(entry.contains(QStringLiteral("\nExec=mailsieve\n")));
}

void TestInstallation::metainfoIsValidAndNamesThisVersion()
{
    const Run validation = runProgram(QStringLiteral("appstreamcli"),
                                      {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfoFile()});
    QVERIFY2(validation.exitCode == 0,
             qPrintable(QStringLiteral("appstreamcli (appstream): ") + validation.out + validation.err));
    QVERIFY(readText(metainfoFile()).contains(QStringLiteral("<id>%1</id>").arg(applicationId())));

    const Run version = runProgram(m_program, {QStringLiteral("--version")});
    QCOMPARE(version.out.trimmed(), QStringLiteral("Mailsieve ") + newestRelease(metainfoFile()));
}

void TestInstallation::manualPageDocumentsEveryOption()
{
    QString page = readText(file(QStringLiteral("share/man/man1/mailsieve.1")));
    page.replace(QLatin1String("\\-"), QLatin1String("-"));
    const Run help = runProgram(m_program, {QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*"));
    QStringList options;
    for (const QRegularExpressionMatch &match : option.globalMatch(help.out))
        options << match.captured();
    options.removeDuplicates();
    QVERIFY2(options.size() >= 7, qPrintable(options.join(QLatin1Char(' '))));
    for (const QString &name : options)
        QVERIFY2(page.contains(name), qPrintable(name));
    QVERIFY(page.contains(QLatin1String("MAILSIEVE_PASSWORD")));
    QVERIFY(page.contains(QLatin1String("MAILSIEVE_HOME")));
}

void TestInstallation::versionNeedsNoDisplay()
{
    const Run run = runProgram(m_program, {QStringLiteral("--version")});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(QRegularExpression(QStringLiteral("^Mailsieve \\d+\\.\\d+\\.\\d+\\n$")).match(run.out).hasMatch(),
             qPrintable(run.out));
}

void TestInstallation::wrongOptionIsAUsageError()
{
    // Without a display a window would abort the program instead.
    const Run run = runProgram(m_program, {QStringLiteral("--bogus")});
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(QLatin1String("Unknown option: --bogus."))
                 && run.err.contains(QLatin1String("usage: mailsieve")),
             qPrintable(run.err));
}

void TestInstallation::checksADovecotMailboxWithTheShippedData()
{
    const int count = 8;
    DovecotServer dovecot;
    dovecot.addMessages(mailbox(count));
    MS_START_DOVECOT(dovecot);
    QTemporaryDir home;
    storeRules(home.path());

    QProcessEnvironment env;
    env.insert(QStringLiteral("MAILSIEVE_HOME"), home.path());
    env.insert(QStringLiteral("MAILSIEVE_PASSWORD"), dovecot.password());
    const Run run =
        runProgram(m_program,
                   {QStringLiteral("--check"), QStringLiteral("--server"), dovecot.server(), QStringLiteral("--user"),
                    dovecot.userName(), QStringLiteral("--security"), QStringLiteral("None")},
                   env);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));

    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), count + 1);
    int marked = 0;
    for (int i = 1; i <= count; ++i) {
        const QStringList fields = lines[i - 1].split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields[0], QString::number(i - 1));
        QCOMPARE(fields[1], QString::number(static_cast<int>(markOf(i))));
        QCOMPARE(fields[3], senderOf(i));
        QCOMPARE(fields[4], subjectOf(i));
        marked += isMarkedForDeletion(markOf(i)) ? 1 : 0;
    }
    QCOMPARE(lines.last(), QStringLiteral("Message Total: %1 Number Marked: %2").arg(count).arg(marked));

    // The first start seeded the program's folder from the installed data.
    for (const QString &shipped : {QStringLiteral("help/mailsieve.html"), QStringLiteral("sounds/harptune.wav")}) {
        QVERIFY2(QFileInfo(home.filePath(shipped)).size() > 0, qPrintable(shipped));
        QCOMPARE(QFileInfo(home.filePath(shipped)).size(),
                 QFileInfo(file(QStringLiteral("share/mailsieve/") + shipped)).size());
    }
}

QTEST_GUILESS_MAIN(TestInstallation)
#include "tst_installation.moc"
