#pragma once
// What every libFuzzer harness shares: a QCoreApplication for the whole run,
// one private temporary folder for the files a harness writes, and a check
// that turns a broken promise of the code under test into a crash libFuzzer
// records.

#include <QByteArrayView>
#include <QString>

// The run's own temporary folder; removed when the fuzzer exits normally.
QString fuzzFolder();

// Writes bytes to a file of that name in fuzzFolder() and returns its path.
QString writeFuzzFile(const QString &name, QByteArrayView bytes);

// Aborts with the promise's text on stderr when it does not hold.
void requirePromise(bool holds, const char *promise);
