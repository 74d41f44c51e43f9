#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Kept for the whole run: QCoreApplication holds on to argc and argv.
int applicationArgc = 0;
char **applicationArgv = nullptr;

} // namespace

// libFuzzer calls this once before the first input.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    applicationArgc = *argc;
    applicationArgv = *argv;
    static QCoreApplication application(applicationArgc, applicationArgv);
    return 0;
}

QString fuzzFolder()
{
    static const QTemporaryDir folder(QDir::temp().filePath(QStringLiteral("mailsieve-fuzz-XXXXXX")));
    requirePromise(folder.isValid(), "a temporary folder can be made");
    return folder.path();
}

QString writeFuzzFile(const QString &name, QByteArrayView bytes)
{
    const QString path = QDir(fuzzFolder()).filePath(name);
    // Removed first: truncating in place makes the file system flush each time.
    QFile::remove(path);
    QFile file(path);
    requirePromise(file.open(QIODevice::WriteOnly), "the temporary folder is writable");
    file.write(bytes.data(), bytes.size());
    return path;
}

void requirePromise(bool holds, const char *promise)
{
    if (holds)
        return;
    std::fprintf(stderr, "Broken promise: %s\n", promise);
    std::abort();
}
