#pragma once
// First use: what other mail programs already know about the user's
// mailbox and which program reads the user's mail.
//
// - Windows mail programs (Eudora, Netscape) and the registered mailto
//   command are read through PlatformSettings; on Linux it finds nothing.
// - On Linux the first POP3 or IMAP account of the default Thunderbird
//   profile fills mailbox 1, and the desktop's mailto handler gives the mail
//   program.
//
// Every step is silent: a missing file, key or value just ends that step.

#include "settings/generalsettings.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

class CommandRunner;

// Read-only look-ups in the system's settings.
class PlatformSettings
{
public:
    enum class Root { LocalMachine, CurrentUser };
    virtual ~PlatformSettings() = default;

    // A value of a registry key; name empty reads the key's default value.
    // Empty when the key or the value is missing.
    virtual QString registryValue(Root root, const QString &key, const QString &name) const = 0;
    // A value of an INI ("private profile") file; empty when missing.
    virtual QString profileValue(const QString &file, const QString &section, const QString &name) const = 0;
    virtual bool fileExists(const QString &path) const = 0;
};

// A system without a registry: the registry look-ups find nothing, files
// are read for real.
class SystemPlatformSettings : public PlatformSettings
{
public:
    QString registryValue(Root, const QString &, const QString &) const override { return {}; }
    QString profileValue(const QString &file, const QString &section, const QString &name) const override;
    bool fileExists(const QString &path) const override;
};

// ---- Windows mail programs ---------------------------------------------------

// Eudora's POP account ("user@server", or a server alone) into mailbox 1.
// Returns whether anything was filled in.
bool CheckEudora(const PlatformSettings &platform, MailboxConfig &mailbox1);
// Netscape Navigator's POP user name and server into mailbox 1.
bool CheckNetscape(const PlatformSettings &platform, MailboxConfig &mailbox1);
// Eudora's program path, else the registered mailto command cut after its
// program name; empty when neither is found.
QString GetMailPath(const PlatformSettings &platform);

// ---- INI files ----------------------------------------------------------------

// An INI file's sections in file order; names compare without regard to case.
class IniFile
{
public:
    static IniFile parse(const QByteArray &text);
    static IniFile read(const QString &path);

    QStringList sections() const;
    // Empty when the section or the name is missing.
    QString value(const QString &section, const QString &name) const;

private:
    struct Section
    {
        QString name;
        QList<QPair<QString, QString>> values;
    };
    QList<Section> m_sections;
};

// ---- Thunderbird ----------------------------------------------------------------

struct MailAccount
{
    MailProtocol protocol = MailProtocol::Pop3;
    QString server; // host, with ":port" when it is not one of the protocol's two
    QString userName;
    std::optional<MailSecurity> security;
};

// The folder of the default profile listed in <folder>/profiles.ini: the
// default of an installation, else the profile marked Default=1, else the
// first profile. Empty when there is none.
QString thunderbirdDefaultProfile(const QString &thunderbirdFolder);
// The first POP3 or IMAP account of a prefs.js, in the order of the account
// list.
std::optional<MailAccount> firstMailAccount(const QByteArray &prefsJs);
// ~/.thunderbird, and the snap and flatpak homes of Thunderbird.
QStringList defaultThunderbirdFolders();

// ---- The desktop's mail program -----------------------------------------------

// The command of a .desktop file's Exec line without its %-field codes.
QString desktopExecCommand(const QByteArray &desktopFile);
// $XDG_DATA_HOME/applications and each $XDG_DATA_DIRS entry's applications.
QStringList defaultApplicationFolders();

// ---- All together ------------------------------------------------------------------

class MailImport
{
public:
    MailImport(const PlatformSettings &platform, CommandRunner &runner,
               QStringList thunderbirdFolders = defaultThunderbirdFolders(),
               QStringList applicationFolders = defaultApplicationFolders());

    // Fills mailbox 1 from Eudora, Netscape or Thunderbird, the first that
    // gives a server, when mailbox 1 has no server yet.
    void importMailbox(MailboxConfig &mailbox1) const;
    // The registered Windows mail program, else the desktop's mailto handler.
    QString detectMailProgram() const;

    std::optional<MailAccount> thunderbirdAccount() const;
    QString mailtoHandler() const;

private:
    const PlatformSettings &m_platform;
    CommandRunner &m_runner;
    QStringList m_thunderbirdFolders;
    QStringList m_applicationFolders;
};
