#pragma once
// One running Mailsieve per program folder. The first instance listens on a
// local socket named after its folder, in $XDG_RUNTIME_DIR when the session
// has one; a later start finds it there, asks it to come to the front and
// ends.

#include <QLocalServer>
#include <QObject>

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &programFolder, QObject *parent = nullptr);

    // True when this is the only instance (it now listens); false when
    // another instance answered and has been asked to show itself.
    bool claim(); // true also when the guard itself cannot listen

    // The socket's full path, or a bare name Qt places in the temporary folder.
    QString serverName() const { return m_name; }

signals:
    // A second start asked this instance to come to the front.
    void activationRequested();

private:
    QString m_name;
    QLocalServer m_server;
};
