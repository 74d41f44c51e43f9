#pragma once
// "View selected message(s) headers" and "View body of one message": the
// header lines the check listed, and the body of one message fetched from
// the server in a session of its own.

#include "app/inspectionlinks.h"

#include <QStringList>

class MessageInspection
{
public:
    static constexpr qint64 SizeAskLimit = 50000;
    static inline const QString Stars = QString(38, QLatin1Char('*'));
    static inline const QString BusyText =
        QStringLiteral("Mailsieve is talking to the mail server.  Please wait until it has finished.");
    static inline const QString NotRetrievedText =
        QStringLiteral("The message could not be retrieved from the mail server.");
    static inline const QString OutOfStepText = QStringLiteral(
        "This message is no longer listed in the mail server's information.  Please check e-mail again.");

    explicit MessageInspection(const InspectionLinks &links);
    ~MessageInspection();
    MessageInspection(const MessageInspection &) = delete;
    MessageInspection &operator=(const MessageInspection &) = delete;

    void ViewHeader1Click();
    void ViewMessages1Click();
    // True while a body download runs.
    bool isDownloading() const { return m_downloading; }

    // The headers view of rows: per row a block framed by asterisk lines,
    // then the message's header lines as received.
    QStringList headersText(const QList<int> &rows) const;
    // "The message ... is quite large - n bytes. Are you sure ...?"
    static QString sizeQuestion(const QString &size);
    // Where message row is stored once downloaded.
    QString messagePath(int row) const;

    // Client events of a download.
    void msRemotePOP1Retrieving(int num);
    void msRemotePOP1Retrieved(int num);

private:
    bool sizeAccepted(int row) const;
    // Fetches message row in a session of its own; false when it failed
    // (the error box shown).
    bool download(int row);
    void clearClientMarks();

    const InspectionLinks &m_links;
    bool m_downloading = false;
    int m_retrieved = -1; // the message OnRetrieved announced in this download
};
