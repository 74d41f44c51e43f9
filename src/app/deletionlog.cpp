#include "app/deletionlog.h"

#include "mail/printabletext.h"

#include <QDir>
#include <QLocale>

namespace {

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

} // namespace

DeletionLog::DeletionLog(const GeneralSettings &settings) : m_settings(settings) {}

DeletionLog::~DeletionLog() = default;

QString DeletionLog::dateTimeText(const QDateTime &when)
{
    const QLocale locale;
    return locale.toString(when.date(), QStringLiteral("ddd")) + QLatin1Char(' ')
           + locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
           + locale.toString(when.time(), QLocale::ShortFormat);
}

QString DeletionLog::oneLine(QString text)
{
    return printableText(std::move(text));
}

QString DeletionLog::stamp() const
{
    return dateTimeText(now());
}

void DeletionLog::OpenLogFile()
{
    if (m_file || isBlank(m_settings.logFile))
        return;
    auto file = std::make_unique<QFile>(m_settings.logFile);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail(file->errorString());
        return;
    }
    m_file = std::move(file);
}

void DeletionLog::CloseLogFile()
{
    if (!m_file)
        return;
    m_file->close();
    const bool failed = m_file->error() != QFileDevice::NoError;
    const QString reason = m_file->errorString();
    m_file.reset();
    if (failed)
        fail(reason);
}

void DeletionLog::fail(const QString &reason)
{
    m_file.reset();
    if (onError)
        onError(QStringLiteral("The log file %1 could not be written: %2")
                    .arg(QDir::toNativeSeparators(m_settings.logFile), reason));
}

void DeletionLog::writeLines(const QStringList &lines)
{
    if (!m_file)
        return;
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLocal8Bit() + "\r\n";
    // Flushed at once, so a full disk is reported with the line it lost.
    if (m_file->write(bytes) != bytes.size() || !m_file->flush())
        fail(m_file->errorString());
}

void DeletionLog::writeEntry(const QStringList &lines)
{
    if (m_file) {
        writeLines(lines);
        return;
    }
    OpenLogFile();
    writeLines(lines);
    CloseLogFile();
}

void DeletionLog::mailCheck(int messageCount, const QString &userName, const QString &server)
{
    writeEntry({QStringLiteral("MAIL CHECK %1 msg(s) for \"%2\" on server %3 at %4")
                    .arg(messageCount)
                    .arg(oneLine(userName), oneLine(server), stamp())});
}

void DeletionLog::error(const QString &text, const QString &userName, const QString &server)
{
    ++m_errorReports;
    writeEntry({QStringLiteral("ERROR %1 FOR %2 ON %3 AT %4")
                    .arg(oneLine(text), oneLine(userName), oneLine(server), stamp())});
}

void DeletionLog::canceled(const QString &userName, const QString &server)
{
    writeEntry({QStringLiteral("OPERATION CANCELED FOR %1 ON %2 AT %3")
                    .arg(oneLine(userName), oneLine(server), stamp())});
}

void DeletionLog::automaticMode(bool enabled)
{
    writeEntry({QStringLiteral("Automatic mode %1 at %2")
                    .arg(enabled ? QStringLiteral("enabled") : QStringLiteral("disabled"), stamp())});
}

void DeletionLog::deletedMessage(const QString &server, const QString &userName, const MessageEntry &row)
{
    writeLines({QStringLiteral("DELETE SPAM on ") + stamp(),
                QStringLiteral("   Server:  ") + oneLine(server) + QStringLiteral(" Mailbox: ") + oneLine(userName),
                QStringLiteral("   Subject: ") + oneLine(row.Subject),
                QStringLiteral("   Sender:  ") + oneLine(row.Sender),
                QStringLiteral("   Size:    ") + oneLine(row.Size) + QStringLiteral("  Date: ") + oneLine(row.Date)});
}
