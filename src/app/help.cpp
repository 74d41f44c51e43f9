#include "app/help.h"

#include "settings/frmgeneral.h"
#include "settings/frmoptionsmain.h"
#include "settings/prompts.h"

#include <QDesktopServices>
#include <QFileInfo>

bool DesktopHelpOpener::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

QString helpFilePath(const QString &folder)
{
    return folder + QStringLiteral("/help/mailsieve.html");
}

QUrl helpUrl(const QString &folder, int topic)
{
    QUrl url = QUrl::fromLocalFile(helpFilePath(folder));
    if (topic != 0)
        url.setFragment(QStringLiteral("topic%1").arg(topic));
    return url;
}

HelpCommand::HelpCommand(const QString &folder, HelpOpener &opener, Prompts &prompts)
    : m_folder(folder), m_opener(opener), m_prompts(prompts)
{
}

bool HelpCommand::show(int topic)
{
    // A browser handed a missing file still "opens" it, to show its own error
    // page; the user should hear from us instead.
    const bool opened = QFileInfo(helpFilePath(m_folder)).isFile() && m_opener.openUrl(helpUrl(m_folder, topic));
    if (!opened)
        m_prompts.error(FailureText);
    return opened;
}

void attachHelp(HelpCommand &help, TfrmOptionsMain &spamSettings, TfrmGeneral &generalSettings)
{
    spamSettings.showHelp = [&help](int topic) { help.show(topic); };
    generalSettings.showHelp = [&help](int topic) { help.show(topic); };
}
