// Where the program finds the files it ships - beside itself in a build
// folder, under the prefix it is installed in, in the XDG data folders - and
// the application icon made from them when the icon theme has none.

#include "app/appicon.h"
#include "app/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeIcon(const QString &root, int size, QColor colour)
{
    const QString folder = root + QStringLiteral("/icons/hicolor/%1x%1/apps").arg(size);
    QVERIFY(QDir().mkpath(folder));
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    QVERIFY(image.save(folder + QLatin1Char('/') + applicationId() + QStringLiteral(".png")));
}

} // namespace

class TestShippedFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dataIsLookedForBesideTheProgramThenUnderItsPrefixThenInTheXdgFolders();
    void aFolderReachedTwiceIsListedOnce();
    void iconFoldersFollowTheSameOrder();

    void iconComesFromTheShippedFilesWhenTheThemeHasNone();
    void iconTakesTheFirstFolderThatHasIt();
    void noIconAnywhereIsANullIcon();

private:
    QString programDir() const { return QCoreApplication::applicationDirPath(); }
    QString prefixShare() const { return QDir::cleanPath(programDir() + QStringLiteral("/../share")); }

    QTemporaryDir m_home;
    QTemporaryDir m_system;
    QTemporaryDir m_noTheme;
    QStringList m_themePaths;
};

void TestShippedFiles::init()
{
    // The XDG folders and the icon theme are the test's own.
    qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    qputenv("XDG_DATA_DIRS", m_system.path().toUtf8());
    m_themePaths = QIcon::themeSearchPaths();
    QIcon::setThemeSearchPaths({m_noTheme.path()});
}

void TestShippedFiles::cleanup()
{
    QIcon::setThemeSearchPaths(m_themePaths);
    for (const QTemporaryDir *dir : {&m_home, &m_system}) {
        for (const QFileInfo &entry : QDir(dir->path()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(entry.filePath()).removeRecursively();
    }
}

void TestShippedFiles::dataIsLookedForBesideTheProgramThenUnderItsPrefixThenInTheXdgFolders()
{
    QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("mailsieve"))));
    QVERIFY(QDir().mkpath(m_system.filePath(QStringLiteral("mailsieve"))));
    QVERIFY(QDir().mkpath(m_system.filePath(QStringLiteral("other"))));
    QCOMPARE(
        shippedDataFolders(),
        (QStringList{programDir() + QStringLiteral("/data"), prefixShare() + QStringLiteral("/mailsieve"),
                     m_home.filePath(QStringLiteral("mailsieve")), m_system.filePath(QStringLiteral("mailsieve"))}));
}

void TestShippedFiles::aFolderReachedTwiceIsListedOnce()
{
    // An installation in /usr is reached both from its prefix and from XDG_DATA_DIRS.
    qputenv("XDG_DATA_DIRS", (prefixShare() + QLatin1Char(':') + m_system.path()).toUtf8());
    const bool madeShare = !QFileInfo::exists(prefixShare());
    QVERIFY(QDir().mkpath(prefixShare() + QStringLiteral("/mailsieve")));
    QVERIFY(QDir().mkpath(m_system.filePath(QStringLiteral("mailsieve"))));
    const QStringList folders = shippedDataFolders();
    if (madeShare)
        QDir(prefixShare()).removeRecursively();
    QCOMPARE(folders, (QStringList{programDir() + QStringLiteral("/data"), prefixShare() + QStringLiteral("/mailsieve"),
                                   m_system.filePath(QStringLiteral("mailsieve"))}));
}

void TestShippedFiles::iconFoldersFollowTheSameOrder()
{
    QVERIFY(QDir().mkpath(m_system.filePath(QStringLiteral("icons"))));
    QVERIFY(QDir().mkpath(m_system.filePath(QStringLiteral("mailsieve"))));
    QCOMPARE(shippedIconFolders(),
             (QStringList{programDir() + QStringLiteral("/icons"), prefixShare() + QStringLiteral("/icons"),
                          m_system.filePath(QStringLiteral("icons"))}));
}

void TestShippedFiles::iconComesFromTheShippedFilesWhenTheThemeHasNone()
{
    writeIcon(m_system.path(), 16, Qt::red);
    writeIcon(m_system.path(), 48, Qt::blue);
    QVERIFY(QIcon::fromTheme(applicationId()).isNull());

    const QIcon icon = applicationIcon();
    QCOMPARE(icon.availableSizes(), (QList<QSize>{QSize(16, 16), QSize(48, 48)}));
    // Each size is drawn from its own file, not scaled from another.
    QCOMPARE(icon.pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
    QCOMPARE(icon.pixmap(48).toImage().pixelColor(24, 24), QColor(Qt::blue));
}

void TestShippedFiles::iconTakesTheFirstFolderThatHasIt()
{
    writeIcon(m_home.path(), 32, Qt::green);
    writeIcon(m_system.path(), 16, Qt::red);
    const QIcon icon = applicationIcon();
    QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
    QCOMPARE(icon.pixmap(32).toImage().pixelColor(16, 16), QColor(Qt::green));
}

void TestShippedFiles::noIconAnywhereIsANullIcon()
{
    QVERIFY(applicationIcon().isNull());
}

QTEST_MAIN(TestShippedFiles)
#include "tst_shippedfiles.moc"
