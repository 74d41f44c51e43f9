#include "app/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

const QStringList kNotSeeded = {QStringLiteral("icons"), QStringLiteral("demo")};

// Copies source to target file by file, keeping whatever is already there.
bool copyMissing(const QFileInfo &source, const QString &target)
{
    if (source.isDir()) {
        if (!QDir().mkpath(target))
            return false;
        bool ok = true;
        const QFileInfoList entries =
            QDir(source.filePath()).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries)
            ok = copyMissing(entry, target + QLatin1Char('/') + entry.fileName()) && ok;
        return ok;
    }
    if (QFileInfo::exists(target))
        return true;
    // QFile::copy writes to a temporary file and renames it, so a half
    // copied file never takes the place of a shipped one.
    return QFile::copy(source.filePath(), target)
           && QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

// Where shipped files are looked for: beside the executable under
// buildName (a build folder), then under installedName in the data folder
// of the prefix the executable runs from (an installation outside the XDG
// data folders still finds its own files), then in the XDG data folders.
QStringList shippedFolders(const QString &buildName, const QString &installedName)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    QStringList folders{programDir + QLatin1Char('/') + buildName,
                        QDir::cleanPath(programDir + QStringLiteral("/" MAILSIEVE_DATA_FROM_BIN "/") + installedName)};
    folders << QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, installedName,
                                         QStandardPaths::LocateDirectory);
    folders.removeDuplicates();
    return folders;
}

} // namespace

QString programFolder()
{
    QString folder = qEnvironmentVariable("MAILSIEVE_HOME");
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    folder = QDir::cleanPath(QDir(folder).absolutePath());
    QDir().mkpath(folder);
    return folder;
}

QString programFile(const QString &name)
{
    return programFolder() + QLatin1Char('/') + name;
}

QStringList shippedDataFolders()
{
    return shippedFolders(QStringLiteral("data"), QStringLiteral("mailsieve"));
}

QStringList shippedIconFolders()
{
    return shippedFolders(QStringLiteral("icons"), QStringLiteral("icons"));
}

QStringList seedProgramFolder(const QString &folder, const QStringList &sources)
{
    QStringList failed;
    QStringList seen;
    for (const QString &source : sources) {
        const QFileInfoList entries =
            QDir(source).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QFileInfo &entry : entries) {
            const QString name = entry.fileName();
            // The first folder that ships a name wins; hidden placeholders stay.
            if (seen.contains(name) || kNotSeeded.contains(name) || name.startsWith(QLatin1Char('.')))
                continue;
            seen << name;
            if (!copyMissing(entry, folder + QLatin1Char('/') + name))
                failed << name;
        }
    }
    return failed;
}

void removeDownloadedMessages(const QString &folder)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral("msg_\\d+\\.eml")));
    const QStringList names = QDir(folder).entryList({QStringLiteral("msg_*.eml")}, QDir::Files);
    for (const QString &name : names) {
        if (pattern.match(name).hasMatch())
            QFile::remove(folder + QLatin1Char('/') + name);
    }
}
