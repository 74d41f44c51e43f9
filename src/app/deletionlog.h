#pragma once
// The log file: every line the program records about checks, errors,
// cancels, switches of automatic mode and deleted messages, in fixed
// layouts dated in the user's locale. The file is opened before a group of
// lines and closed right after, so other programs may read or clear it in
// between; it is only ever appended to. With a blank file name nothing is
// written and nothing is reported.

#include "app/checkcycle.h"

#include <QDateTime>
#include <QFile>
#include <QString>

#include <functional>
#include <memory>

class DeletionLog : public CheckJournal
{
public:
    explicit DeletionLog(const GeneralSettings &settings);
    ~DeletionLog() override;

    // The current time; tests put a fixed one here.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    // A file that cannot be opened or written: the message names the file
    // and the system's reason. Logging never stops the command it serves,
    // except the delete pass, which needs the file (OpenLogFile).
    std::function<void(const QString &message)> onError;

    // Opens the file named by the "Logfile" setting for appending, creating
    // it when missing. Does nothing when already open or the name is blank.
    // Empty when it is open or nothing is to be written; else the message
    // naming the file and the system's reason, for the caller to report.
    QString OpenLogFile();
    void CloseLogFile();
    bool logOpen() const { return m_file != nullptr; }

    // CheckJournal: one line each, written whether or not a group is open.
    void mailCheck(int messageCount, const QString &userName, const QString &server) override;
    void error(const QString &text, const QString &userName, const QString &server) override;
    void canceled(const QString &userName, const QString &server) override;
    void automaticMode(bool enabled);
    // The five-line record of each deleted message, into the open log (or
    // opened for them); a message an IMAP server moved to a folder instead
    // (movedTo, by row; empty for a deleted one) gets a sixth line naming
    // the folder. When they cannot be written the report lists sender,
    // subject and date of every one: no deletion goes unrecorded.
    void deletedMessages(const QString &server, const QString &userName, const QList<MessageEntry> &rows,
                         const QStringList &movedTo = {});

    // How many error reports reached the log so far, written or not (a
    // blank log name writes none): lets a command tell whether a failure
    // was already reported through the client's OnError.
    int errorReports() const { return m_errorReports; }

    // "ddd ddddd t": short day name, short date and short time of the
    // user's locale.
    static QString dateTimeText(const QDateTime &when);

private:
    // Appends the lines to the open file, or opens it for them and closes
    // it again. The system's reason when that failed (the file is then
    // closed), else empty; nothing is written under a blank name.
    QString append(const QStringList &lines);
    // One entry of lines; a failure is reported.
    void writeEntry(const QStringList &lines);
    // Each returns the system's reason of a failure, else empty.
    QString openFile();
    QString closeFile();
    // The file and the reason; onError gets it with what else the user
    // must know.
    QString failureText(const QString &reason) const;
    void report(const QString &reason, const QString &more = {});
    QStringList deletionRecord(const QString &server, const QString &userName, const MessageEntry &row,
                               const QString &movedTo) const;
    QString stamp() const;

    const GeneralSettings &m_settings;
    std::unique_ptr<QFile> m_file;
    int m_errorReports = 0;
};
