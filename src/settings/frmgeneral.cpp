#include "settings/frmgeneral.h"

#include "mail/dialup.h"
#include "settings/frmoauth.h"
#include "settings/mailboxpasswords.h"
#include "settings/mailimport.h"
#include "settings/mailimportheaderrule.h"
#include "settings/prompts.h"
#include "settings/settingsstore.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString TestCaption = QStringLiteral("Test");
const QString StopCaption = QStringLiteral("Stop");

QLabel *paragraph(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

// Receiving servers a user can pick instead of typing: the name their
// Authentication-Results carry (Microsoft's carry none, see the hint).
struct TrustedServerPreset
{
    const char *caption;
    const char *name;
};
const TrustedServerPreset kTrustedServerPresets[] = {
    {"Gmail (mx.google.com)", "mx.google.com"},
    {"Microsoft 365 / Outlook.com", "protection.outlook.com"},
    {"None", ""},
};

QPushButton *browseButton(const QString &hint)
{
    auto *button = new QPushButton(QStringLiteral("..."));
    button->setToolTip(hint);
    button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 28);
    return button;
}

// A file name from a dialog gets the default extension when it has none.
QString withDefaultSuffix(const QString &path, const QString &suffix)
{
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + suffix;
}

// Text and number fields show the button-face colour and turn to the usual
// field colour while they have the input focus, so the field being typed
// in stands out.
class FocusColouring : public QObject
{
public:
    using QObject::QObject;

    void watch(QWidget *field)
    {
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        field->setPalette(palette);
        field->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
            auto *field = static_cast<QWidget *>(watched);
            QPalette palette = field->palette();
            const QPalette normal = QApplication::palette(field);
            palette.setColor(QPalette::Base, event->type() == QEvent::FocusIn ? normal.color(QPalette::Base)
                                                                              : normal.color(QPalette::Button));
            field->setPalette(palette);
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

TfrmGeneral::TfrmGeneral(const Links &links, QWidget *parent)
    : QDialog(parent), m_settings(links.settings), m_store(links.store), m_prompts(links.prompts),
      m_programFolder(links.programFolder), m_dialUp(links.dialUp), m_mailImport(links.mailImport),
      m_headerRules(links.headerRules)
{
    setWindowTitle(QStringLiteral("General settings"));

    auto *heading = new QLabel(QStringLiteral("General Settings"));
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.4);
    heading->setFont(headingFont);

    pages = new QTabWidget;
    pages->addTab(tsMailboxes = buildMailboxesPage(), QStringLiteral("Mailboxes"));
    pages->addTab(tsConnection = buildConnectionPage(), QStringLiteral("Connection"));
    pages->addTab(tsAutomatic = buildAutomaticPage(), QStringLiteral("Automatic"));
    pages->addTab(tsStartUp = buildStartUpPage(), QStringLiteral("Start Up"));
    pages->addTab(tsLogfile = buildLogfilePage(), QStringLiteral("Logfile"));
    pages->addTab(tsMailProgram = buildMailProgramPage(), QStringLiteral("Mail program"));

    auto *buttons = new QDialogButtonBox;
    btOK = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    btCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    btHelp = buttons->addButton(QStringLiteral("Help"), QDialogButtonBox::HelpRole);
    btOK->setDefault(true);
    // The box's own accepted/rejected signals are not used: OK may keep the
    // window open, and Cancel restores the controls first.
    connect(btOK, &QPushButton::clicked, this, &TfrmGeneral::btOKClick);
    connect(btCancel, &QPushButton::clicked, this, &TfrmGeneral::reject);
    connect(btHelp, &QPushButton::clicked, this, [this] {
        if (showHelp)
            showHelp(helpTopic);
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(pages, 1);
    layout->addWidget(buttons);
    setMinimumSize(640, 500);
    resize(1100, 560);

    // Creation, in this order: focus colouring, the general settings, the
    // connection list and the dial-up entry in use, the mailboxes.
    colourOnFocus();
    if (!m_settings.ReadSettings(m_store))
        m_prompts.error(m_store.errorString());
    fillConnectionList();
    showGeneralSettings();
    pages->setCurrentWidget(tsMailboxes);
    if (!m_settings.readServerSettings(m_store))
        m_prompts.error(m_store.errorString());
    showServerSettings();
    const MailboxConfig &first = m_settings.mailboxes[0];
    m_firstRun = first.server.isEmpty() && first.mailbox.isEmpty();
}

TfrmGeneral::~TfrmGeneral()
{
    // Program end: the counter and the other general values are kept.
    m_settings.SaveSettings(m_store);
}

QString TfrmGeneral::defaultAlarmFile() const
{
    return QDir(m_programFolder).filePath(QStringLiteral("sounds/harptune.wav"));
}

QString TfrmGeneral::defaultLogFile() const
{
    return QDir(m_programFolder).filePath(QStringLiteral("logfile.txt"));
}

// ---- Pages ------------------------------------------------------------------------

QWidget *TfrmGeneral::buildMailboxesPage()
{
    auto *grid = new QGridLayout;
    const QStringList headings = {QString(),
                                  QStringLiteral("Server"),
                                  QStringLiteral("User Name/Mailbox"),
                                  QStringLiteral("Password"),
                                  QStringLiteral("Protocol"),
                                  QStringLiteral("Security"),
                                  QStringLiteral("Sign-in")};
    for (int column = 1; column < headings.size(); ++column)
        grid->addWidget(new QLabel(headings[column]), 0, column);

    auto *defaultGroup = new QButtonGroup(this);
    for (int n = 1; n <= kMailboxCount; ++n) {
        MailboxRow &r = row(n);
        r.rbDefault = new QRadioButton(QStringLiteral("Mailbox %1").arg(n));
        defaultGroup->addButton(r.rbDefault, n);
        r.edServe = new QLineEdit;
        r.edMailbox = new QLineEdit;
        r.edPasswd = new QLineEdit;
        r.edPasswd->setEchoMode(QLineEdit::Password);
        r.edPasswd->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"
        r.cbProtocol = new QComboBox;
        for (MailProtocol protocol : {MailProtocol::Pop3, MailProtocol::Imap})
            r.cbProtocol->addItem(mailProtocolName(protocol), QVariant::fromValue(int(protocol)));
        r.cbProtocol->setToolTip(QStringLiteral("How Mailsieve talks to the server"));
        r.cbSecurity = new QComboBox;
        for (MailSecurity security : {MailSecurity::SslTls, MailSecurity::StartTls, MailSecurity::None})
            r.cbSecurity->addItem(mailSecurityName(security), QVariant::fromValue(int(security)));
        r.cbSecurity->setToolTip(QStringLiteral("How the connection to the server is protected"));
        r.cbSignIn = new QComboBox;
        for (SignInMethod method : {SignInMethod::Password, SignInMethod::SaslPlain, SignInMethod::Apop,
                                    SignInMethod::OAuthGoogle, SignInMethod::OAuthMicrosoft, SignInMethod::OAuthOther})
            r.cbSignIn->addItem(signInMethodName(method), QVariant::fromValue(int(method)));
        r.cbSignIn->setToolTip(QStringLiteral("How Mailsieve proves to the server who you are"));
        r.btOAuth = new QPushButton(QStringLiteral("OAuth..."));
        r.btOAuth->setToolTip(QStringLiteral("Client ID and sign-in for OAuth 2.0"));
        r.btImap = new QPushButton(QStringLiteral("IMAP..."));
        r.btImap->setToolTip(QStringLiteral("The folder to check and what removing spam does"));
        connect(r.cbSecurity, &QComboBox::activated, this, [this, n] { securityChosen(n); });
        connect(r.cbSignIn, &QComboBox::activated, this, [this, n] { signInChosen(n); });
        connect(r.cbSignIn, &QComboBox::currentIndexChanged, this, [this, n] { updateSignInControls(n); });
        connect(r.btOAuth, &QPushButton::clicked, this, [this, n] { btOAuthClick(n); });
        connect(r.cbProtocol, &QComboBox::currentIndexChanged, this, [this, n] { updateProtocolControls(n); });
        connect(r.btImap, &QPushButton::clicked, this, [this, n] { btImapClick(n); });
        r.cbKeepPassword = new QCheckBox(KeepPasswordCaption);
        r.cbKeepPassword->setToolTip(QStringLiteral(
            "Scrambled in mailsieve.conf rather than in the desktop keyring, so a check outside the desktop "
            "session (cron, SSH) can read it"));
        r.cbPlainText = new QCheckBox(PlainTextCaption);
        r.cbPlainText->setToolTip(QStringLiteral("Only for a server that offers no encryption at all"));
        connect(r.cbPlainText, &QCheckBox::clicked, this, [this, n] { plainTextClicked(n); });
        connect(r.cbSecurity, &QComboBox::currentIndexChanged, this, [this, n] { updatePlainTextControl(n); });
        // Each mailbox takes two lines: its fields, then its options.
        const int line = 2 * n - 1;
        grid->addWidget(r.rbDefault, line, 0);
        grid->addWidget(r.edServe, line, 1);
        grid->addWidget(r.edMailbox, line, 2);
        grid->addWidget(r.edPasswd, line, 3);
        grid->addWidget(r.cbProtocol, line, 4);
        grid->addWidget(r.cbSecurity, line, 5);
        grid->addWidget(r.cbSignIn, line, 6);
        grid->addWidget(r.btOAuth, line, 7);
        grid->addWidget(r.btImap, line, 8);
        // The options line ends in the trusted server: one box, so the
        // columns above stay as narrow as their own fields.
        auto *options = new QHBoxLayout;
        options->addWidget(r.cbKeepPassword);
        options->addWidget(r.cbPlainText);
        options->addSpacing(12);
        addTrustedServerControls(n, *options);
        grid->addLayout(options, line + 1, 1, 1, 8);
        updateSignInControls(n);
        updateProtocolControls(n);
    }
    row(1).rbDefault->setChecked(true);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);
    grid->setColumnStretch(3, 2);

    auto *rows = new QWidget;
    rows->setLayout(grid);
    auto *scroll = new QScrollArea;
    scroll->setWidget(rows);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);

    lblPasswordPlace = new QLabel;
    lblPasswordPlace->setWordWrap(true);

    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(scroll, 1);
    layout->addWidget(lblPasswordPlace);
    layout->addWidget(paragraph(
        QStringLiteral("Enter the name of your POP or IMAP server, your user name (mailbox) on that server and your "
                       "password.  Your internet service provider supplies them.  The selected mailbox is the "
                       "default one.")));
    return page;
}

// The server that checked the mail on its way in: its name, a menu of
// common providers' names, and the last check's proposal.
void TfrmGeneral::addTrustedServerControls(int mailbox, QHBoxLayout &line)
{
    MailboxRow &r = row(mailbox);
    r.edTrustedServer = new QLineEdit;
    r.edTrustedServer->setToolTip(TrustedServerHint);
    r.edTrustedServer->setAccessibleName(QStringLiteral("Trusted server of mailbox %1").arg(mailbox));
    r.btTrustedPresets = new QToolButton;
    r.btTrustedPresets->setArrowType(Qt::DownArrow);
    r.btTrustedPresets->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }")); // one arrow
    r.btTrustedPresets->setToolTip(QStringLiteral("The name of a common provider's receiving server"));
    r.btTrustedPresets->setPopupMode(QToolButton::InstantPopup);
    auto *presets = new QMenu(r.btTrustedPresets);
    for (const TrustedServerPreset &preset : kTrustedServerPresets) {
        const QString name = QString::fromLatin1(preset.name);
        connect(presets->addAction(QString::fromLatin1(preset.caption)), &QAction::triggered, this,
                [field = r.edTrustedServer, name] { field->setText(name); });
    }
    r.btTrustedPresets->setMenu(presets);
    r.btPropose = new QPushButton(QStringLiteral("Propose"));
    r.btPropose->setToolTip(QStringLiteral(
        "The name in the topmost Authentication-Results of this mailbox's newest message of the last check"));
    connect(r.btPropose, &QPushButton::clicked, this, [this, mailbox] { btProposeClick(mailbox); });
    auto *label = new QLabel(QStringLiteral("Trusted server"));
    label->setBuddy(r.edTrustedServer);
    label->setToolTip(TrustedServerHint);
    line.addWidget(label);
    line.addWidget(r.edTrustedServer, 1);
    line.addWidget(r.btTrustedPresets);
    line.addWidget(r.btPropose);
}

QWidget *TfrmGeneral::buildConnectionPage()
{
    cbConnection = new QComboBox; // choose-only
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(QStringLiteral("Specify a default connection to the internet:")));
    cbConnection->setMinimumWidth(cbConnection->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 36);
    auto *choice = new QHBoxLayout;
    choice->addWidget(cbConnection);
    choice->addStretch(1);
    layout->addLayout(choice);
    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Select 'none' if you do not dial in to the internet.")));
    layout->addStretch(1);
    return page;
}

QWidget *TfrmGeneral::buildAutomaticPage()
{
    rbManual = new QRadioButton(QStringLiteral("Check e-mail manually"));
    rbAutomatic = new QRadioButton(QStringLiteral("Check e-mail unattended or automatically"));
    connect(rbManual, &QRadioButton::toggled, this, &TfrmGeneral::updatePanels);

    // Manual checking.
    panelManual = new QGroupBox;
    cbAsk = new QCheckBox(QStringLiteral("When deleting messages interactively, ask for confirmation"));
    cbLaunch = new QCheckBox(QStringLiteral("After deleting spam, launch e-mail program if there is e-mail to read"));
    cbExit = new QCheckBox(QStringLiteral("If no mail is on the server, exit after checking e-mail"));
    auto *manual = new QVBoxLayout(panelManual);
    manual->addWidget(paragraph(QStringLiteral("These options only apply if checking e-mail manually.  "
                                               "They do not apply when e-mail is checked automatically.")));
    manual->addWidget(cbAsk);
    manual->addWidget(cbLaunch);
    manual->addWidget(cbExit);
    manual->addStretch(1);

    // Automatic checking.
    panelAutomatic = new QGroupBox;
    seMinutes = new QSpinBox;
    seMinutes->setRange(minMinutes, maxMinutes);
    seMinutes->setSingleStep(1);
    cbKill = new QCheckBox(QStringLiteral("Delete spam automatically - no confirmation?"));
    connect(cbKill, &QCheckBox::clicked, this, &TfrmGeneral::updatePanels);
    cbKillAll = new QCheckBox(QStringLiteral("Check and automatically delete spam from ALL mailboxes?"));
    cbKillAll->setToolTip(QStringLiteral("If not checked, only the default mail box will be checked"));

    panelSound = new QGroupBox;
    cbAlarm = new QCheckBox(QStringLiteral("&Play this sound file if there is e-mail on the server"));
    cbRepeat = new QCheckBox(QStringLiteral("Repeat the alarm until keypress or mouse click?"));
    edAlarmFile = new QLineEdit;
    btBrowseSound = browseButton(QStringLiteral("Browse for sound file"));
    btTest = new QPushButton(TestCaption);
    connect(btBrowseSound, &QPushButton::clicked, this, &TfrmGeneral::btBrowseSoundClick);
    connect(btTest, &QPushButton::clicked, this, &TfrmGeneral::btTestClick);
    auto *soundFile = new QHBoxLayout;
    soundFile->addWidget(edAlarmFile, 1);
    soundFile->addWidget(btBrowseSound);
    soundFile->addWidget(btTest);
    auto *sound = new QVBoxLayout(panelSound);
    sound->addWidget(cbAlarm);
    sound->addWidget(cbRepeat);
    sound->addLayout(soundFile);

    auto *interval = new QHBoxLayout;
    interval->addWidget(new QLabel(QStringLiteral("Check for mail every ")));
    interval->addWidget(seMinutes);
    interval->addWidget(new QLabel(QStringLiteral("minutes")));
    interval->addStretch(1);
    auto *automatic = new QVBoxLayout(panelAutomatic);
    automatic->addLayout(interval);
    automatic->addWidget(cbKill);
    automatic->addWidget(cbKillAll);
    cbNotify = new QCheckBox(QStringLiteral("Show a desktop &notification when an automatic check finds e-mail"));
    automatic->addWidget(cbNotify);
    automatic->addWidget(panelSound);
    automatic->addStretch(1);

    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(
        paragraph(QStringLiteral("Mailsieve can run unattended and may delete e-mail without confirmation.")));
    layout->addWidget(rbManual);
    layout->addWidget(rbAutomatic);
    layout->addWidget(panelManual, 1);
    layout->addWidget(panelAutomatic, 1);
    return page;
}

QWidget *TfrmGeneral::buildStartUpPage()
{
    cbSysTray = new QCheckBox(QStringLiteral("Start Mailsieve up in the system tray?"));
    cbStartAtLogin = new QCheckBox(QStringLiteral("Start Mailsieve when I log in"));
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(cbSysTray);
    layout->addWidget(cbStartAtLogin);
    layout->addSpacing(8);
    layout->addWidget(paragraph(
        QStringLiteral("With this option the main Mailsieve screen is not shown the next time Mailsieve starts: "
                       "Mailsieve starts up in the system tray instead.")));
    layout->addSpacing(6);
    layout->addWidget(paragraph(QStringLiteral("To open Mailsieve, right click on its icon in the system tray.")));
    layout->addSpacing(6);
    layout->addWidget(paragraph(
        QStringLiteral("This option is useful for checking e-mail in the background.  It takes effect the next "
                       "time Mailsieve is launched.")));
    layout->addStretch(1);
    return page;
}

QWidget *TfrmGeneral::buildLogfilePage()
{
    edLogFile = new QLineEdit;
    btBrowseLog = browseButton(QStringLiteral("Browse for log file"));
    btViewLog = new QPushButton(QStringLiteral("&View log file"));
    btClearLog = new QPushButton(QStringLiteral("&Clear log file"));
    lblCount = new QLabel;
    lblCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblCount->setMinimumWidth(lblCount->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));
    btResetCounter = new QPushButton(QStringLiteral("&Reset counter"));
    connect(btBrowseLog, &QPushButton::clicked, this, &TfrmGeneral::btBrowseLogClick);
    connect(btViewLog, &QPushButton::clicked, this, &TfrmGeneral::btViewLogClick);
    connect(btClearLog, &QPushButton::clicked, this, &TfrmGeneral::btClearLogClick);
    connect(btResetCounter, &QPushButton::clicked, this, &TfrmGeneral::btResetCounterClick);

    auto *path = new QHBoxLayout;
    path->addWidget(edLogFile, 1);
    path->addWidget(btBrowseLog);
    auto *logButtons = new QHBoxLayout;
    logButtons->addWidget(btViewLog);
    logButtons->addWidget(btClearLog);
    logButtons->addStretch(1);
    auto *counter = new QHBoxLayout;
    counter->addWidget(lblCount);
    counter->addWidget(new QLabel(QStringLiteral("Spams have been deleted up till now")));
    counter->addStretch(1);
    counter->addWidget(btResetCounter);

    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(QStringLiteral("Store results in log file:")));
    layout->addLayout(path);
    layout->addLayout(logButtons);
    layout->addSpacing(8);
    layout->addWidget(paragraph(QStringLiteral(
        "Each deleted e-mail is recorded in the log file, stamped with the date and time of its deletion.")));
    layout->addSpacing(8);
    layout->addLayout(counter);
    layout->addStretch(1);
    return page;
}

QWidget *TfrmGeneral::buildMailProgramPage()
{
    edMailer = new QLineEdit;
    btBrowseMailer = browseButton(QStringLiteral("Find mail program"));
    btLaunch = new QPushButton(QStringLiteral("Launch mail program"));
    connect(btBrowseMailer, &QPushButton::clicked, this, &TfrmGeneral::btBrowseMailerClick);
    connect(btLaunch, &QPushButton::clicked, this, [this] {
        if (launchMailProgram)
            launchMailProgram(edMailer->text());
    });

    auto *path = new QHBoxLayout;
    path->addWidget(edMailer, 1);
    path->addWidget(btBrowseMailer);
    auto *launch = new QHBoxLayout;
    launch->addWidget(btLaunch);
    launch->addStretch(1);

    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(QStringLiteral("Mail program path/name:")));
    layout->addLayout(path);
    layout->addLayout(launch);
    layout->addSpacing(8);
    layout->addWidget(paragraph(QStringLiteral("Mailsieve does not support AOL or Compuserve mail.  Sorry.")));
    layout->addStretch(1);
    return page;
}

void TfrmGeneral::colourOnFocus()
{
    auto *colouring = new FocusColouring(this);
    for (QLineEdit *field : findChildren<QLineEdit *>()) {
        // The line edits inside spin and combo boxes follow their owner.
        if (!qobject_cast<QSpinBox *>(field->parentWidget()) && !qobject_cast<QComboBox *>(field->parentWidget()))
            colouring->watch(field);
    }
    colouring->watch(seMinutes);
}

// ---- Controls and settings ---------------------------------------------------------

void TfrmGeneral::fillConnectionList()
{
    cbConnection->clear();
    cbConnection->addItem(QStringLiteral("None"));
    const QStringList entries = m_dialUp ? m_dialUp->Entries() : QStringList();
    cbConnection->addItems(entries);
    const int index = m_settings.dialUpIndexWithin(int(entries.size()));
    cbConnection->setCurrentIndex(index);
    if (index > 0 && m_dialUp) {
        if (!m_dialUp->OnServiceError)
            m_dialUp->OnServiceError = [this](const QString &message) { m_prompts.error(message); };
        m_dialUp->setService(entries.at(index - 1));
    }
}

void TfrmGeneral::showGeneralSettings()
{
    const GeneralSettings &s = m_settings;
    edLogFile->setText(s.logFile);
    edMailer->setText(s.mailProgram);
    edAlarmFile->setText(s.alarmFile);
    (s.automatic ? rbAutomatic : rbManual)->setChecked(true);
    cbAsk->setChecked(s.askBeforeDelete);
    cbKill->setChecked(s.deleteWithoutConfirmation);
    cbKillAll->setChecked(s.killAll);
    seMinutes->setValue(s.minutes); // a stored value outside 2..600 shows as the nearest bound
    cbLaunch->setChecked(s.launchAfterDelete);
    cbExit->setChecked(s.exitWhenEmpty);
    cbAlarm->setChecked(s.alarm);
    cbRepeat->setChecked(s.repeatAlarm);
    lblCount->setText(s.spamCount);
    cbSysTray->setChecked(s.startInTray);
    cbNotify->setChecked(s.notify);
    cbStartAtLogin->setVisible(bool(startsAtLogin));
    cbStartAtLogin->setChecked(startsAtLogin && startsAtLogin());
    cbConnection->setCurrentIndex(s.dialUpIndexWithin(cbConnection->count() - 1));
    updatePanels();
}

void TfrmGeneral::showServerSettings()
{
    // A stored default outside 1..12 keeps the selection the window had.
    if (m_settings.defaultMailbox >= 1 && m_settings.defaultMailbox <= kMailboxCount)
        row(m_settings.defaultMailbox).rbDefault->setChecked(true);
    for (const MailboxConfig &mailbox : m_settings.mailboxes) {
        MailboxRow &r = row(mailbox.number);
        r.edServe->setText(mailbox.server);
        r.edMailbox->setText(mailbox.mailbox);
        r.edPasswd->setText(mailbox.password);
        r.cbProtocol->setCurrentIndex(r.cbProtocol->findData(int(mailbox.protocol)));
        r.cbSecurity->setCurrentIndex(r.cbSecurity->findData(int(mailbox.security)));
        r.cbSignIn->setCurrentIndex(r.cbSignIn->findData(int(mailbox.signIn)));
        r.cbKeepPassword->setChecked(mailbox.keepPasswordInFile);
        r.cbPlainText->setChecked(mailbox.plainTextPassword);
        r.edTrustedServer->setText(mailbox.trustedServer);
        r.btPropose->setVisible(bool(trustedServerProposal));
        r.oauth = mailbox.oauth;
        r.imap = ImapOptions::of(mailbox);
        updateSignInControls(mailbox.number);
    }
}

void TfrmGeneral::takeGeneralSettings()
{
    GeneralSettings &s = m_settings;
    s.logFile = edLogFile->text();
    s.mailProgram = edMailer->text();
    s.alarmFile = edAlarmFile->text();
    s.automatic = rbAutomatic->isChecked();
    s.askBeforeDelete = cbAsk->isChecked();
    s.deleteWithoutConfirmation = cbKill->isChecked();
    s.killAll = cbKillAll->isChecked();
    s.minutes = seMinutes->value();
    s.launchAfterDelete = cbLaunch->isChecked();
    s.exitWhenEmpty = cbExit->isChecked();
    s.alarm = cbAlarm->isChecked();
    s.repeatAlarm = cbRepeat->isChecked();
    s.dialUpIndex = cbConnection->currentIndex();
    s.spamCount = lblCount->text();
    s.startInTray = cbSysTray->isChecked();
    s.notify = cbNotify->isChecked();
}

void TfrmGeneral::takeServerSettings()
{
    for (int n = 1; n <= kMailboxCount; ++n) {
        m_settings.mailboxes[n - 1] = rowMailbox(n);
        if (row(n).rbDefault->isChecked())
            m_settings.defaultMailbox = n;
    }
}

// The row as a mailbox entry; the trusted certificate is not shown, so it
// is the one the settings hold.
MailboxConfig TfrmGeneral::rowMailbox(int mailbox) const
{
    const MailboxRow &r = mailboxRows.at(mailbox - 1);
    MailboxConfig config = m_settings.mailboxes[mailbox - 1];
    config.server = r.edServe->text();
    config.mailbox = r.edMailbox->text();
    config.password = r.edPasswd->text();
    config.security = MailSecurity(r.cbSecurity->currentData().toInt());
    config.signIn = SignInMethod(r.cbSignIn->currentData().toInt());
    config.oauth = r.oauth;
    config.protocol = MailProtocol(r.cbProtocol->currentData().toInt());
    r.imap.applyTo(config);
    config.keepPasswordInFile = r.cbKeepPassword->isChecked();
    config.plainTextPassword = r.cbPlainText->isChecked();
    config.trustedServer = r.edTrustedServer->text().trimmed();
    return config;
}

// A token stands in for the password: the field is off and empty, and the
// OAuth values are reachable.
void TfrmGeneral::updateSignInControls(int mailbox)
{
    MailboxRow &r = row(mailbox);
    const bool token = isOAuth(SignInMethod(r.cbSignIn->currentData().toInt()));
    if (token)
        r.edPasswd->clear();
    r.edPasswd->setEnabled(!token);
    r.btOAuth->setEnabled(token);
    updatePlainTextControl(mailbox);
}

// The allowance matters only where the password would go in plain text;
// elsewhere it stays as stored, but cannot be changed.
void TfrmGeneral::updatePlainTextControl(int mailbox)
{
    MailboxRow &r = row(mailbox);
    if (!r.cbPlainText || !r.cbSecurity)
        return; // the row is still being built
    r.cbPlainText->setEnabled(MailSecurity(r.cbSecurity->currentData().toInt()) == MailSecurity::None
                              && sendsPassword(SignInMethod(r.cbSignIn->currentData().toInt())));
}

void TfrmGeneral::updateProtocolControls(int mailbox)
{
    MailboxRow &r = row(mailbox);
    r.btImap->setEnabled(MailProtocol(r.cbProtocol->currentData().toInt()) == MailProtocol::Imap);
}

void TfrmGeneral::updatePanels()
{
    const bool manual = rbManual->isChecked();
    panelManual->setVisible(manual);
    panelAutomatic->setVisible(!manual);
    cbKillAll->setVisible(cbKill->isChecked());
    panelSound->setVisible(!cbKill->isChecked());
}

// ---- Showing ---------------------------------------------------------------------------

void TfrmGeneral::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        prepareForShowing();
    QDialog::showEvent(event);
}

void TfrmGeneral::prepareForShowing()
{
    if (!m_settings.readServerSettings(m_store))
        m_prompts.error(m_store.errorString());
    MailboxConfig &first = m_settings.mailboxes[0];
    if (first.server.isEmpty() && m_mailImport)
        m_mailImport->importMailbox(first);
    if (m_settings.mailProgram.isEmpty() && m_mailImport)
        m_settings.mailProgram = m_mailImport->detectMailProgram();
    if (m_settings.alarmFile.isEmpty())
        m_settings.alarmFile = defaultAlarmFile();
    if (m_settings.logFile.isEmpty())
        m_settings.logFile = defaultLogFile();
    showGeneralSettings();
    showServerSettings();
    lblPasswordPlace->setText(passwordPlaceText(passwordPlace(m_store)));
    m_killWhenShown = cbKill->isChecked();
    m_trayWhenShown = cbSysTray->isChecked();
    addFirstRunRule();
}

// The rule is made once mailbox 1 has a user name: at the first showing
// when another mail program gave one, else at the first OK that stores one.
// A rule without an address would protect nothing; nor is it made while
// the store refuses mailbox 1 (a line break in the name would split the
// rule's line in the list file).
void TfrmGeneral::addFirstRunRule()
{
    if (!m_firstRun || !m_headerRules)
        return;
    const QString user = m_settings.mailboxes[0].mailbox;
    if (user.trimmed().isEmpty() || checkMailboxText(m_settings.mailboxes[0]).refused)
        return;
    AddMyselfFromPopToHeader(*m_headerRules, user);
    if (saveRules && !saveRules())
        return; // tried again at the next showing or OK
    m_firstRun = false;
}

// ---- Buttons ---------------------------------------------------------------------------

void TfrmGeneral::btOKClick()
{
    if (cbKill->isChecked() && !m_killWhenShown && rbAutomatic->isChecked())
        m_prompts.warning(OverDeleteWarning);
    if (cbSysTray->isChecked() != m_trayWhenShown)
        m_prompts.information(RestartMessage);
    // Later OKs in this showing compare with what is now accepted.
    m_killWhenShown = cbKill->isChecked();
    m_trayWhenShown = cbSysTray->isChecked();

    takeGeneralSettings();
    if (!SaveSettings())
        return;
    if (startsAtLogin && setStartAtLogin && cbStartAtLogin->isChecked() != startsAtLogin()) {
        if (const QString problem = setStartAtLogin(cbStartAtLogin->isChecked()); !problem.isEmpty())
            m_prompts.error(problem);
    }

    takeServerSettings();
    const ServerSaveResult result = m_settings.saveServerSettings(m_store);
    if (!result.writeError.isEmpty()) {
        m_prompts.error(result.writeError);
        return;
    }
    addFirstRunRule(); // mailbox 1 is always stored before any check
    if (result.validationFailed()) {
        m_prompts.error(result.message);
        focusMailboxField(result.mailbox, result.field);
        return; // the user corrects the entry and presses OK again
    }
    if (mailboxesSaved) {
        if (const QString problem = mailboxesSaved(); !problem.isEmpty())
            m_prompts.warning(problem);
    }
    accept();
}

void TfrmGeneral::focusMailboxField(int mailbox, MailboxField field)
{
    pages->setCurrentWidget(tsMailboxes);
    MailboxRow &r = row(mailbox);
    QWidget *target = nullptr;
    switch (field) {
    case MailboxField::Server:
        target = r.edServe;
        break;
    case MailboxField::UserName:
        target = r.edMailbox;
        break;
    case MailboxField::None:
    case MailboxField::Password:
        target = r.edPasswd;
        break;
    case MailboxField::ClientId:
    case MailboxField::ClientSecret:
    case MailboxField::AuthorizationUrl:
    case MailboxField::TokenUrl:
    case MailboxField::Scope:
        target = r.btOAuth; // the values are in its dialog
        break;
    case MailboxField::SignIn:
        target = r.cbSignIn;
        break;
    case MailboxField::Folder:
    case MailboxField::JunkFolder:
        target = r.btImap;
        break;
    case MailboxField::TrustedServer:
        target = r.edTrustedServer;
        break;
    }
    target->setFocus(Qt::OtherFocusReason);
}

void TfrmGeneral::reject()
{
    if (!m_settings.ReadSettings(m_store) || !m_settings.readServerSettings(m_store))
        m_prompts.error(m_store.errorString());
    showGeneralSettings();
    showServerSettings();
    QDialog::reject();
}

bool TfrmGeneral::SaveSettings()
{
    if (m_settings.SaveSettings(m_store))
        return true;
    m_prompts.error(m_store.errorString());
    return false;
}

void TfrmGeneral::btTestClick()
{
    const QString file = edAlarmFile->text();
    const bool exists = !file.isEmpty() && QFileInfo(file).isFile();
    if (btTest->text() == TestCaption) {
        if (cbRepeat->isChecked())
            btTest->setText(StopCaption);
        if (exists && playAlarmSound)
            playAlarmSound(file, cbRepeat->isChecked());
    } else {
        btTest->setText(TestCaption);
        if (exists && stopAlarmSound)
            stopAlarmSound();
    }
}

void TfrmGeneral::btViewLogClick()
{
    const QString file = edLogFile->text();
    if (file.isEmpty() || !openFile || !openFile(file))
        m_prompts.error(ViewLogFailed);
}

void TfrmGeneral::btClearLogClick()
{
    if (!m_prompts.askYesNo(ClearLogQuestion))
        return;
    const QString file = edLogFile->text();
    if (!file.isEmpty() && QFileInfo::exists(file) && !QFile::remove(file))
        m_prompts.error(QStringLiteral("Unable to clear the log file %1.").arg(QDir::toNativeSeparators(file)));
}

void TfrmGeneral::btResetCounterClick()
{
    if (!m_prompts.askYesNo(ResetCounterQuestion))
        return;
    lblCount->setText(QStringLiteral("0"));
    m_settings.spamCount = QStringLiteral("0"); // stored with the next SaveSettings
}

void TfrmGeneral::btBrowseSoundClick()
{
    const QString chosen = m_prompts.openFileName(QStringLiteral("Sound files"), edAlarmFile->text(),
                                                  QStringLiteral("Sound files (*.wav);;All files (*)"));
    if (!chosen.isEmpty())
        edAlarmFile->setText(withDefaultSuffix(chosen, QStringLiteral(".wav")));
}

void TfrmGeneral::btBrowseLogClick()
{
    const QString chosen = m_prompts.saveFileName(QStringLiteral("Log file"), edLogFile->text(),
                                                  QStringLiteral("Text files (*.txt);;All files (*)"));
    if (!chosen.isEmpty())
        edLogFile->setText(withDefaultSuffix(chosen, QStringLiteral(".txt")));
}

void TfrmGeneral::btBrowseMailerClick()
{
    // Programs on Linux have no ".exe"; that filter is kept for Windows ones.
    const QString chosen = m_prompts.openFileName(QStringLiteral("Mail program"), edMailer->text(),
                                                  QStringLiteral("All files (*);;Program files (*.exe)"));
    if (!chosen.isEmpty())
        edMailer->setText(chosen);
}

// ---- Sign-in -------------------------------------------------------------------------

void TfrmGeneral::signInChosen(int mailbox)
{
    MailboxRow &r = row(mailbox);
    // A provider's POP3 server is its documented one, always over TLS.
    if (const std::optional<OAuthProvider> provider = oauthProvider(SignInMethod(r.cbSignIn->currentData().toInt()))) {
        r.edServe->setText(provider->server);
        r.cbProtocol->setCurrentIndex(r.cbProtocol->findData(int(MailProtocol::Pop3)));
        r.cbSecurity->setCurrentIndex(r.cbSecurity->findData(int(MailSecurity::SslTls)));
    }
    warnOfPlainText(mailbox);
}

void TfrmGeneral::securityChosen(int mailbox)
{
    warnOfPlainText(mailbox);
}

// Only a warning: the POP3 client itself refuses to send a password in
// plain text to a server beyond this computer and the local network.
void TfrmGeneral::warnOfPlainText(int mailbox)
{
    if (sendsPasswordInPlainText(rowMailbox(mailbox)))
        m_prompts.warning(PlainTextWarning.arg(mailbox));
}

void TfrmGeneral::plainTextClicked(int mailbox)
{
    QCheckBox *box = row(mailbox).cbPlainText;
    if (box->isChecked() && !m_prompts.askYesNo(PlainTextQuestion.arg(mailbox)))
        box->setChecked(false);
}

void TfrmGeneral::btOAuthClick(int mailbox)
{
    const MailboxConfig config = rowMailbox(mailbox);
    TfrmOAuth dialog(mailbox, config.signIn, config.oauth, this);
    if (signIn) {
        dialog.signIn = [this, config](const OAuthClientConfig &oauth) {
            MailboxConfig signingIn = config;
            signingIn.oauth = oauth;
            // What the sign-in cannot do without, said as the OK would say it.
            if (const ServerSaveResult problem = checkMailboxText(signingIn); problem.validationFailed())
                return problem.message;
            if (!signingIn.isConfigured())
                return QStringLiteral("Mailbox %1 needs a server and a user name first.").arg(signingIn.number);
            if (const ServerSaveResult problem = checkMailbox(signingIn); problem.validationFailed())
                return problem.message;
            return signIn(mailboxLogin(signingIn));
        };
    }
    if (dialog.exec() == QDialog::Accepted)
        row(mailbox).oauth = dialog.config();
}

void TfrmGeneral::btImapClick(int mailbox)
{
    TfrmImapOptions dialog(mailbox, row(mailbox).imap, this);
    if (dialog.exec() == QDialog::Accepted)
        row(mailbox).imap = dialog.options();
}

void TfrmGeneral::btProposeClick(int mailbox)
{
    const QString proposal = trustedServerProposal ? trustedServerProposal(mailbox) : QString();
    if (proposal.isEmpty())
        m_prompts.information(NothingToPropose.arg(mailbox));
    else
        row(mailbox).edTrustedServer->setText(proposal);
}
