#include "mail/dialup.h"

#include "mail/mailerrors.h"
#include "mail/socketerrors.h"

#include <QCoreApplication>

TagRas::TagRas(DialUpBackend &backend, QObject *parent) : QObject(parent), m_backend(backend)
{
    m_timeCounter.setTimeOut(120);
    m_entries = m_backend.entries();
}

TagRas::~TagRas()
{
    m_backend.abortDial();
    // A line we brought up is not left running after the program ends; the
    // event handlers may belong to windows already gone.
    OnStatusChange = nullptr;
    OnDisconnected = nullptr;
    HangUp();
}

QStringList TagRas::Entries()
{
    m_entries = m_backend.entries();
    return m_entries;
}

void TagRas::setService(const QString &name)
{
    if (name.isEmpty()) {
        m_service.clear();
        return;
    }
    if (Entries().isEmpty()) {
        showServiceError(NoDialUpText);
        return;
    }
    if (m_lineUp) {
        showServiceError(AlreadyUpText);
        return;
    }
    if (!m_entries.contains(name)) {
        showServiceError(InvalidServiceText);
        m_service.clear();
        return;
    }
    m_service = name;
}

void TagRas::showServiceError(const QString &message)
{
    if (OnServiceError)
        OnServiceError(message);
}

QString TagRas::errorText(int code, const QString &systemText)
{
    const QString text = systemText.trimmed();
    if (text.isEmpty())
        return QStringLiteral("RAS error no %1").arg(code);
    return text.left(256);
}

// A connection that is already up is used as it is. One we dialled earlier
// and still hold stays ours, so it is still taken down at the end.
bool TagRas::takeActiveConnection()
{
    const QStringList active = m_backend.activeEntries();
    QString taken;
    if (!m_service.isEmpty() && active.contains(m_service))
        taken = m_service;
    else if (!ForceService && !active.isEmpty())
        taken = active.first();
    if (taken.isEmpty())
        return false;
    if (!(m_dialled && taken == m_connection))
        m_dialled = false;
    m_connection = taken;
    return true;
}

void TagRas::EnsureConnected()
{
    if (takeActiveConnection() || m_service.isEmpty()) {
        m_lineUp = true;
        if (m_connection.isEmpty())
            m_dialled = false;
        return;
    }
    if (!m_backend.canDial())
        return; // the transport then connects over whatever network exists
    dial();
}

void TagRas::dial()
{
    m_dialled = true;
    m_connection.clear();
    m_lineUp = false;
    m_hangUpRequested = false;
    m_lastError = 0;
    m_lastErrorText.clear();
    m_timeCounter.Reset();
    m_dialFinished = false;
    m_backend.startDial(
        m_service, Password,
        [this](const QString &status) {
            if (OnStatusChange)
                OnStatusChange(status);
        },
        [this](int code, const QString &error) {
            m_dialFinished = true;
            if (code == 0) {
                m_lineUp = true;
                return;
            }
            m_lastError = code;
            m_lastErrorText = error;
        });

    m_dialInProgress = true;
    m_timeCounter.Start();
    while (!m_dialFinished && !m_hangUpRequested && !m_timeCounter.Expired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_timeCounter.Stop();
    m_dialInProgress = false;

    if (m_lineUp) {
        m_connection = m_service;
        return;
    }
    // Whatever ended the wait, the system may have started bringing the
    // line up: stop it and take it down so no half-made call stays open.
    if (!m_dialFinished)
        m_backend.abortDial();
    m_connection = m_service;
    HangUp();
    if (m_dialFinished)
        throw ERASError(errorText(m_lastError, m_lastErrorText));
    if (m_hangUpRequested)
        throw ECanceledError(socketErrorText(SocketError::Canceled));
    throw ETimedOutError(socketErrorText(SocketError::TimedOut));
}

void TagRas::HangUp()
{
    if (m_dialled && !m_connection.isEmpty() && !m_entries.isEmpty()) {
        const QString complaint = m_backend.hangUp(m_connection);
        if (!complaint.isEmpty() && OnStatusChange)
            OnStatusChange(complaint);
        if (OnDisconnected)
            OnDisconnected();
    }
    m_dialled = false;
    m_lineUp = false;
    m_connection.clear();
}

void TagRas::ConnectionClosed()
{
    // A dial still waiting ends with ECanceledError and cleans up itself.
    if (!m_dialInProgress)
        HangUp();
    m_hangUpRequested = true;
}
