#include "app/help.h"

#include "settings/frmgeneral.h"
#include "settings/frmoptionsmain.h"
#include "settings/prompts.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

HelpWindow::HelpWindow(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Mailsieve Help"));
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("helpPage"));
    m_browser->setAccessibleName(QStringLiteral("Help page"));
    m_browser->setOpenLinks(true);
    m_browser->setOpenExternalLinks(true);
    // The page sets its own dark text for a light page; it keeps a light
    // page under a dark theme rather than turn unreadable.
    QPalette page = m_browser->palette();
    page.setColor(QPalette::Base, Qt::white);
    page.setColor(QPalette::Text, Qt::black);
    m_browser->setPalette(page);

    m_back = new QPushButton(QStringLiteral("Back"), this);
    m_back->setEnabled(false);
    connect(m_back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QPushButton::setEnabled);
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addStretch();
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_browser, 1);
    layout->addLayout(buttons);

    const QSize wanted(fontMetrics().averageCharWidth() * 90, fontMetrics().height() * 40);
    resize(screen() ? wanted.boundedTo(screen()->availableSize()) : wanted);
}

bool HelpWindow::load(const QUrl &url)
{
    // A page that cannot be read must not leave the last one standing.
    m_browser->clear();
    m_browser->clearHistory();
    m_browser->setSource(url, QTextDocument::HtmlResource);
    return !m_browser->document()->isEmpty();
}

bool HelpWindow::openUrl(const QUrl &url)
{
    if (!load(url))
        return false;
    exec();
    return true;
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
