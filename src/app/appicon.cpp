#include "app/appicon.h"

#include "app/programfolder.h"

#include <QDir>
#include <QFileInfo>

QString applicationId()
{
    return QStringLiteral(MAILSIEVE_APP_ID);
}

QIcon applicationIcon()
{
    const QString id = applicationId();
    const QIcon themed = QIcon::fromTheme(id);
    if (!themed.isNull())
        return themed;
    // PNG only: loading the scalable SVG would need Qt's SVG plug-in.
    const QString file = QStringLiteral("/apps/") + id + QStringLiteral(".png");
    QIcon shipped;
    for (const QString &folder : shippedIconFolders()) {
        const QDir theme(folder + QStringLiteral("/hicolor"));
        for (const QString &size : theme.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString path = theme.filePath(size) + file;
            if (QFileInfo::exists(path))
                shipped.addFile(path);
        }
        if (!shipped.isNull())
            break;
    }
    return shipped;
}
