#pragma once
// The program's help: one HTML page shipped in the program's folder
// ("help/mailsieve.html"), opened in the user's browser at a topic anchor.
// Opening goes through HelpOpener so tests see the address without a browser.

#include <QString>
#include <QUrl>

class Prompts;
class TfrmGeneral;
class TfrmOptionsMain;

class HelpOpener
{
public:
    virtual ~HelpOpener() = default;
    // False when the desktop could not open it.
    virtual bool openUrl(const QUrl &url) = 0;
};

// QDesktopServices: the user's browser.
class DesktopHelpOpener : public HelpOpener
{
public:
    bool openUrl(const QUrl &url) override;
};

// The help page in folder; topic 0 is the page's top, any other number the
// anchor "topic<n>" (100 the Spam settings, 200 the General settings).
QString helpFilePath(const QString &folder);
QUrl helpUrl(const QString &folder, int topic);

class HelpCommand
{
public:
    static inline const QString FailureText = QStringLiteral("Unable to open help file - mailsieve.html.");

    HelpCommand(const QString &folder, HelpOpener &opener, Prompts &prompts);

    // Opens the page at topic; a missing page or a failed opening gets the
    // error box. Returns whether it opened.
    bool show(int topic = 0);

private:
    QString m_folder;
    HelpOpener &m_opener;
    Prompts &m_prompts;
};

// The Help buttons of the Spam settings and General settings windows open
// their topics of the page.
void attachHelp(HelpCommand &help, TfrmOptionsMain &spamSettings, TfrmGeneral &generalSettings);
