#pragma once
// The program's help: one HTML page shipped in the program's folder
// ("help/mailsieve.html"), shown at a topic anchor in the program's own
// help window, so it needs neither a browser nor a desktop that can start
// one. Opening goes through HelpOpener so tests see the address without a
// window.

#include <QDialog>
#include <QString>
#include <QUrl>

class Prompts;
class QPushButton;
class QTextBrowser;
class TfrmGeneral;
class TfrmOptionsMain;

class HelpOpener
{
public:
    virtual ~HelpOpener() = default;
    // False when the desktop could not open it.
    virtual bool openUrl(const QUrl &url) = 0;
};

// The help window: the page with its contents list and links between its
// topics, Back and Close. Shown modally, so it also answers over the
// settings windows' own modal dialogs; links that leave the page go to the
// desktop's browser.
class HelpWindow : public QDialog, public HelpOpener
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // Loads the page of url at its anchor; false when it cannot be read.
    bool load(const QUrl &url);
    // load, then shows the window until the user closes it.
    bool openUrl(const QUrl &url) override;

    QTextBrowser *browser() const { return m_browser; }

private:
    QTextBrowser *m_browser;
    QPushButton *m_back;
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
