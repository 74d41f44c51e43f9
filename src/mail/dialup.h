#pragma once
// The dial-up connection: TagRas brings the chosen connection up before the
// transport opens a socket and takes it down again after the socket closes,
// but only when it brought it up itself. A line the user (or the system)
// already had up is used and left alone.
//
// The system's connections are reached through a DialUpBackend: NetworkManager
// on Linux (mobile broadband, PPPoE and Bluetooth dial-up networking), or
// none, in which case there are no entries and nothing is ever dialled.

#include "mail/agsocket.h"
#include "mail/timecounter.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class DialUpBackend
{
public:
    virtual ~DialUpBackend() = default;

    // The names of the dial-up entries, in a stable order; empty when the
    // system has no dial-up support.
    virtual QStringList entries() = 0;
    // The dial-up entries that are up now. Throws ERASError when the system
    // cannot be asked.
    virtual QStringList activeEntries() = 0;
    virtual bool canDial() const = 0;

    // Starts bringing an entry up and returns at once. status reports
    // progress texts; finished reports the end: code 0 when the line is up,
    // otherwise the error number and the system's text (may be empty).
    // password, when not empty, is offered if the system asks for a secret.
    virtual void startDial(const QString &entry, const QString &password,
                           std::function<void(const QString &status)> status,
                           std::function<void(int code, const QString &error)> finished) = 0;
    // Gives up a dial in progress; no finished report follows.
    virtual void abortDial() = 0;
    // Takes an entry down. Returns the system's complaint, empty on success.
    virtual QString hangUp(const QString &entry) = 0;
};

// A system without dial-up support.
class NoDialUp : public DialUpBackend
{
public:
    QStringList entries() override { return {}; }
    QStringList activeEntries() override { return {}; }
    bool canDial() const override { return false; }
    void startDial(const QString &, const QString &, std::function<void(const QString &)>,
                   std::function<void(int, const QString &)>) override
    {
    }
    void abortDial() override {}
    QString hangUp(const QString &) override { return {}; }
};

class TagRas : public QObject, public DialUpHook
{
    Q_OBJECT
public:
    // Reads the entry list once.
    explicit TagRas(DialUpBackend &backend, QObject *parent = nullptr);
    ~TagRas() override;

    // The setter's complaints, shown by whoever wires OnServiceError.
    static inline const QString NoDialUpText =
        QStringLiteral("TagRas component was unable to detect\rRAS on your system.");
    static inline const QString AlreadyUpText =
        QStringLiteral("This property can be set only before\restablishing the connection");
    static inline const QString InvalidServiceText = QStringLiteral("Invalid service name");

    // The entry to use; empty means no dialling. The setter refuses names
    // that are not entries (see the texts above) and never throws.
    QString Service() const { return m_service; }
    void setService(const QString &name);
    // When false, any dial-up connection that is up counts as connected.
    bool ForceService = true;
    // Offered to the system when the entry asks for a secret.
    QString Password;
    int TimeOut() const { return m_timeCounter.TimeOut(); }
    void setTimeOut(int seconds) { m_timeCounter.setTimeOut(seconds); }

    // Refills the entry list and returns it.
    QStringList Entries();

    // Called by the transport: finds the connection up or dials it. Throws
    // ERASError, ECanceledError or ETimedOutError.
    void EnsureConnected() override;
    // Called by the transport when its socket is closed: takes down a line
    // this component dialled, and ends a dial that is still waiting.
    void ConnectionClosed() override;

    bool LineUp() const { return m_lineUp; }
    bool Dialled() const { return m_dialled; }
    // The connection in use, empty when none.
    QString connection() const { return m_connection; }

    // Events, each called only when assigned.
    std::function<void(const QString &RASStatusStr)> OnStatusChange;
    std::function<void()> OnDisconnected;
    // A modal error box with the setter's complaint.
    std::function<void(const QString &message)> OnServiceError;

    // "RAS error no " + code when the system gave no text.
    static QString errorText(int code, const QString &systemText);

private:
    bool takeActiveConnection();
    void dial();
    void HangUp();
    void showServiceError(const QString &message);

    DialUpBackend &m_backend;
    TTimeCounter m_timeCounter;
    QStringList m_entries;
    QString m_service;
    QString m_connection;
    bool m_lineUp = false;
    bool m_dialled = false;
    bool m_hangUpRequested = false;
    bool m_dialFinished = false;
    bool m_dialInProgress = false;
    int m_lastError = 0;
    QString m_lastErrorText;
};
