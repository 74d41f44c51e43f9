#include "app/learnfromfolders.h"

#include "settings/prompts.h"

#include "app/programcore.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// A path field with its two choosers: a folder (maildir, folder of message
// files) or a file (mbox, one message).
QLineEdit *addPathRow(QGridLayout *grid, int row, const QString &caption, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    auto *label = new QLabel(caption, parent);
    label->setBuddy(edit);
    auto *folder = new QPushButton(LearnFromFoldersDialog::tr("Folder..."), parent);
    auto *file = new QPushButton(LearnFromFoldersDialog::tr("File..."), parent);
    QObject::connect(folder, &QPushButton::clicked, parent, [edit, parent] {
        const QString chosen = QFileDialog::getExistingDirectory(parent, QString(), edit->text());
        if (!chosen.isEmpty())
            edit->setText(chosen);
    });
    QObject::connect(file, &QPushButton::clicked, parent, [edit, parent] {
        const QString chosen = QFileDialog::getOpenFileName(parent, QString(), edit->text());
        if (!chosen.isEmpty())
            edit->setText(chosen);
    });
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(folder, row, 2);
    grid->addWidget(file, row, 3);
    return edit;
}

} // namespace

LearnFromFoldersDialog::LearnFromFoldersDialog(const QString &server, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Learn from folders"));
    auto *intro = new QLabel(tr("Name mail you already sorted: a maildir or a folder of message files, or an mbox "
                                "or message file. Only the header lines are read."),
                             this);
    intro->setWordWrap(true);
    auto *grid = new QGridLayout;
    edSpam = addPathRow(grid, 0, tr("&Spam:"), this);
    edHam = addPathRow(grid, 1, tr("&Good mail:"), this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(grid);
    if (!server.isEmpty()) {
        gbServer = new QGroupBox(tr("From the server of %1: its Junk folder as spam").arg(server), this);
        gbServer->setCheckable(true);
        gbServer->setChecked(false);
        edHamFolders = new QLineEdit(QStringLiteral("INBOX"), gbServer);
        edNewest = new QSpinBox(gbServer);
        edNewest->setRange(1, 100000);
        edNewest->setValue(DefaultNewest);
        auto *form = new QFormLayout(gbServer);
        form->addRow(tr("Good mail in the &folders (separated by commas):"), edHamFolders);
        form->addRow(tr("The &newest messages of each folder:"), edNewest);
        layout->addWidget(gbServer);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("&Learn"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

SortedMailServer sortedMailClient(ProgramCore &core)
{
    const int mailbox = core.settings.defaultMailbox;
    const MailboxLogin login = GetRemotePOPSettings(core.store, mailbox);
    if (login.protocol != MailProtocol::Imap || login.server.isEmpty())
        return {};
    auto client = std::make_unique<ImapClient>();
    applyMailboxLogin(login, *client);
    client->setJunkFolder(login.junkFolder);
    client->setRAS(&core.ras);
    if (isOAuth(login.signIn))
        client->accessTokenSource = [&core, login] { return core.accessTokens.fresh(login); };
    return {std::move(client), core.settings.mailboxes.at(mailbox - 1).trustedServer};
}

void learnFromFolders(MessageLearner &learner, Prompts &prompts, const std::function<int(QDialog &)> &run,
                      SortedMailServer sorted, QWidget *parent)
{
    ImapClient *server = sorted.client.get();
    const QString serverName =
        server ? LearnFromFoldersDialog::tr("%1 at %2").arg(server->userName(), server->server()) : QString();
    LearnFromFoldersDialog dialog(serverName, parent);
    if (run(dialog) != QDialog::Accepted)
        return;
    QStringList said;
    QStringList problems;
    const auto problem = [&problems](const QString &text) {
        if (problems.size() < 10)
            problems << text;
    };
    for (const auto &[edit, label, name] : {std::tuple{dialog.edSpam, Label::Spam, QStringLiteral("spam")},
                                            std::tuple{dialog.edHam, Label::Ham, QStringLiteral("good mail")}}) {
        const QString path = edit->text().trimmed();
        if (path.isEmpty())
            continue;
        const LearningRun result = learnFromFiles(learner, {path}, label, false, problem);
        said << (result.ok ? LearnFromFoldersDialog::tr("Learned %1 of %2 messages as %3.")
                                 .arg(result.learned)
                                 .arg(result.messages)
                                 .arg(name)
                           : LearnFromFoldersDialog::tr("Nothing was learnt from %1.").arg(path));
    }
    if (dialog.gbServer && dialog.gbServer->isChecked()) {
        QStringList folders;
        for (const QString &folder : dialog.edHamFolders->text().split(u',', Qt::SkipEmptyParts))
            if (!folder.trimmed().isEmpty())
                folders << folder.trimmed();
        const LearningRun result =
            learnFromServer(learner, *server, sorted.trustedServer, folders, dialog.edNewest->value(), problem);
        said << (result.ok ? LearnFromFoldersDialog::tr("Learned %1 of %2 messages from the server.")
                                 .arg(result.learned)
                                 .arg(result.messages)
                           : LearnFromFoldersDialog::tr("Nothing was learnt from the server."));
    }
    if (said.isEmpty())
        return;
    const QString text = (said + problems).join(u'\n');
    if (problems.isEmpty())
        prompts.information(text);
    else
        prompts.warning(text);
}
