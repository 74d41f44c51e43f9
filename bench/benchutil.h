#pragma once
// Small helpers the benchmarks share: figures printed as "NAME VALUE UNIT"
// lines, the process's peak memory, and reading simple command-line options.

#include "settings/generalsettings.h"

#include <QString>
#include <QStringList>

#include <optional>

class DovecotServer;

namespace bench {

// One figure line on standard output, e.g. "header_pass.messages 2000 msg".
void printFigure(const QString &name, double value, const QString &unit, int decimals = 0);

// The largest resident set the process has had so far (VmHWM), in MiB.
double peakMemoryMiB();

// The value after option name in args ("--messages 500"); nullopt when the
// option is absent. A present option without a positive number gives 0.
std::optional<int> intOption(const QStringList &args, const QString &name);

// The text after option name in args ("--protocol imap"); nullopt when the
// option is absent, an empty text when nothing follows it.
std::optional<QString> textOption(const QStringList &args, const QString &name);

// The middle value of a set of measurements (the mean of the middle two for
// an even count); 0 for an empty set.
double median(QList<double> values);

// Stores mailbox 1 (the default) in the settings file at settingsFile:
// the test user of server, reached at address ("127.0.0.1:port", the
// server's own or a proxy's), without TLS, its password kept in the file.
// Throws std::runtime_error when the settings cannot be written.
void storeMailbox(const QString &settingsFile, const DovecotServer &server, const QString &address,
                  MailProtocol protocol);

} // namespace bench
