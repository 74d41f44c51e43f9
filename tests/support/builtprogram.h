#pragma once
// The mailsieve program of the build the tests belong to, for tests that run
// it as a user would.

#include <QCoreApplication>
#include <QFileInfo>
#include <QString>

// Its path, or empty when it is not built. The test programs live in
// tests/ of the build folder, the program in src/.
inline QString builtProgramPath()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate :
         {dir + QStringLiteral("/../src/mailsieve"), dir + QStringLiteral("/../../src/mailsieve")}) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}
