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

DeletionLog::DeletionLog(const GeneralSettings &settings) : m_settings(settings)
{
}

DeletionLog::~DeletionLog() = default;

QString DeletionLog::dateTimeText(const QDateTime &when)
{
    const QLocale locale;
    return locale.toString(when.date(), QStringLiteral("ddd")) + QLatin1Char(' ')
           + locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
           + locale.toString(when.time(), QLocale::ShortFormat);
}

QString DeletionLog::stamp() const
{
    return dateTimeText(now());
}

QString DeletionLog::openFile()
{
    auto file = std::make_unique<QFile>(m_settings.logFile);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append))
        return file->errorString();
    m_file = std::move(file);
    return {};
}

QString DeletionLog::closeFile()
{
    m_file->close();
    const QString reason = m_file->error() != QFileDevice::NoError ? m_file->errorString() : QString();
    m_file.reset();
    return reason;
}

QString DeletionLog::OpenLogFile()
{
    if (m_file || isBlank(m_settings.logFile))
        return {};
    const QString reason = openFile();
    return reason.isEmpty() ? QString() : failureText(reason);
}

void DeletionLog::CloseLogFile()
{
    if (!m_file)
        return;
    const QString reason = closeFile();
    if (!reason.isEmpty())
        report(reason);
}

QString DeletionLog::failureText(const QString &reason) const
{
    return QStringLiteral("The log file %1 could not be written: %2")
        .arg(QDir::toNativeSeparators(m_settings.logFile), reason);
}

void DeletionLog::report(const QString &reason, const QString &more)
{
    if (onError)
        onError(failureText(reason) + more);
}

QString DeletionLog::append(const QStringList &lines)
{
    if (isBlank(m_settings.logFile))
        return {};
    const bool inGroup = m_file != nullptr;
    if (!inGroup) {
        if (const QString reason = openFile(); !reason.isEmpty())
            return reason;
    }
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLocal8Bit() + "\r\n";
    // Flushed at once, so a full disk is reported with the lines it lost.
    if (m_file->write(bytes) != bytes.size() || !m_file->flush()) {
        const QString reason = m_file->errorString();
        m_file.reset();
        return reason;
    }
    return inGroup ? QString() : closeFile();
}

void DeletionLog::writeEntry(const QStringList &lines)
{
    if (const QString reason = append(lines); !reason.isEmpty())
        report(reason);
}

void DeletionLog::mailCheck(int messageCount, const QString &userName, const QString &server)
{
    writeEntry({QStringLiteral("MAIL CHECK %1 msg(s) for \"%2\" on server %3 at %4")
                    .arg(messageCount)
                    .arg(printableText(userName), printableText(server), stamp())});
}

void DeletionLog::error(const QString &text, const QString &userName, const QString &server)
{
    ++m_errorReports;
    writeEntry({QStringLiteral("ERROR %1 FOR %2 ON %3 AT %4")
                    .arg(printableText(text), printableText(userName), printableText(server), stamp())});
}

void DeletionLog::canceled(const QString &userName, const QString &server)
{
    writeEntry({QStringLiteral("OPERATION CANCELED FOR %1 ON %2 AT %3")
                    .arg(printableText(userName), printableText(server), stamp())});
}

void DeletionLog::automaticMode(bool enabled)
{
    writeEntry({QStringLiteral("Automatic mode %1 at %2")
                    .arg(enabled ? QStringLiteral("enabled") : QStringLiteral("disabled"), stamp())});
}

QStringList DeletionLog::deletionRecord(const QString &server, const QString &userName, const MessageEntry &row,
                                        const QString &movedTo) const
{
    QStringList record{QStringLiteral("DELETE SPAM on ") + stamp(),
                       QStringLiteral("   Server:  ") + printableText(server) + QStringLiteral(" Mailbox: ")
                           + printableText(userName),
                       QStringLiteral("   Subject: ") + printableText(row.Subject),
                       QStringLiteral("   Sender:  ") + printableText(row.Sender),
                       QStringLiteral("   Size:    ") + printableText(row.Size) + QStringLiteral("  Date: ")
                           + printableText(row.Date)};
    if (!movedTo.isEmpty())
        record << QStringLiteral("   Moved to: ") + printableText(movedTo);
    return record;
}

void DeletionLog::deletedMessages(const QString &server, const QString &userName, const QList<MessageEntry> &rows,
                                  const QStringList &movedTo)
{
    if (rows.isEmpty())
        return;
    QStringList lines;
    for (qsizetype i = 0; i < rows.size(); ++i)
        lines << deletionRecord(server, userName, rows[i], movedTo.value(i));
    const QString reason = append(lines);
    if (reason.isEmpty())
        return;
    // The server has committed these deletions; the box is their only record.
    QStringList deleted;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const MessageEntry &row = rows[i];
        deleted << QStringLiteral("Sender: %1  Subject: %2  Date: %3")
                       .arg(printableText(row.Sender), printableText(row.Subject), printableText(row.Date));
        if (!movedTo.value(i).isEmpty())
            deleted.last() += QStringLiteral("  (moved to %1)").arg(printableText(movedTo.value(i)));
    }
    report(reason,
           QStringLiteral("\n\nThese messages were deleted from the server:\n") + deleted.join(QLatin1Char('\n')));
}
