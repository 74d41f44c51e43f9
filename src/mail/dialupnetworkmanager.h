#pragma once
// Dial-up through NetworkManager's command-line client: the mobile broadband
// (gsm, cdma), PPPoE and Bluetooth dial-up networking connections are the
// entries; "nmcli connection up" dials one and "nmcli connection down" hangs
// it up. Without nmcli there are no entries.

#include "mail/dialup.h"
#include "mail/dialupprocess.h"

#include <QHash>
#include <QTemporaryFile>

#include <memory>

class NetworkManagerDialUp : public DialUpBackend
{
public:
    explicit NetworkManagerDialUp(CommandRunner &runner);
    ~NetworkManagerDialUp() override;

    // Sorted by name without regard to case, so a stored entry number keeps
    // naming the same connection whatever NetworkManager lists first.
    QStringList entries() override;
    QStringList activeEntries() override;
    bool canDial() const override;
    void startDial(const QString &entry, const QString &password, std::function<void(const QString &status)> status,
                   std::function<void(int code, const QString &error)> finished) override;
    void abortDial() override;
    QString hangUp(const QString &entry) override;

    // One line of nmcli's terse output split at its unescaped colons.
    static QStringList splitTerseLine(const QString &line);

private:
    // name -> connection type of the dial-up connections nmcli lists.
    QHash<QString, QString> dialUpConnections(bool activeOnly);
    bool isDialUpNetworking(const QString &name, const QString &type);
    QString passwordSetting(const QString &entry) const;

    CommandRunner &m_runner;
    QHash<QString, QString> m_types;
    std::unique_ptr<RunningCommand> m_dialing;
    std::unique_ptr<QTemporaryFile> m_passwordFile;
};
