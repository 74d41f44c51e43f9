// Renders every page of the Spam settings window and every rule dialog, and
// checks that each lays out within its window at its own size hint (nothing
// cut off); support/screenshots.h says how to keep the pictures.

#include "app/markpictures.h"
#include "rules/listfiles.h"
#include "settings/frmalwaysaccept.h"
#include "settings/frmheaders.h"
#include "settings/frmimportspam.h"
#include "settings/frmoptionsfrom.h"
#include "settings/frmoptionsmain.h"
#include "settings/frmoptionssubject.h"
#include "settings/frmwhichmailbox.h"
#include "settings/generalsettings.h"
#include "support/screenshots.h"
#include "support/scriptedprompts.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace ruleeditors;
using screenshots::save;

class TestSpamSettingsScreens : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    ScriptedPrompts prompts;

    static MailboxTable twoMailboxes()
    {
        MailboxTable boxes;
        for (int i = 0; i < kMailboxCount; ++i)
            boxes[i].number = i + 1;
        boxes[0].server = QStringLiteral("pop.example.org");
        boxes[0].mailbox = QStringLiteral("ann");
        boxes[2].server = QStringLiteral("mail.example.net:995");
        boxes[2].mailbox = QStringLiteral("bob.smith");
        return boxes;
    }

    void fillSampleRules(RuleSet &rules)
    {
        auto add = [](RuleList &table, const auto &rule, const QString &hits) {
            const int row = makeAppendTarget(table);
            RowCells cells = rowCells(table, row);
            rule.writeTo(cells);
            cells[table.layout().hitsColumn] = hits;
            setRowCells(table, row, cells);
            if (table.layout().hasPicture)
                CheckGridAdv(table, row, cells[table.layout().delColumn] == "Yes");
        };
        const QStringList words{"free", "make money", "XXX", "lottery", "guaranteed"};
        for (int i = 0; i < words.size(); ++i) {
            SubjectRule rule;
            rule.operatorPos = i % 3;
            rule.pattern = words[i];
            rule.checkMark = i % 2 == 0;
            add(rules.SubjectRules, rule, QString::number(i * 7));
        }
        HeaderRule header;
        add(rules.HeaderRules, header, "3");
        header.choice = HeaderChoice::ReplyToMismatch;
        header.checkMark = false;
        add(rules.HeaderRules, header, "12");
        SenderRule sender;
        sender.pattern = "casino.example";
        add(rules.SenderRules, sender, "1");
        sender.operatorPos = 7;
        add(rules.SenderRules, sender, "40");
        ExceptionRule except;
        except.address = "friend@example.org";
        add(rules.ExceptionRules, except, "5");
        QVERIFY(Savesettings(rules, folder.path()).ok());
        QFile known(QDir(folder.path()).filePath("known.lst"));
        QVERIFY(known.open(QIODevice::WriteOnly));
        known.write("bulk.example\r\nmailer.example\r\nspam.example\r\n");
    }

private slots:
    void initTestCase() { setRuleMarkPictureSource(markPicture); }

    void spamSettingsPages()
    {
        RuleSet rules;
        fillSampleRules(rules);
        GeneralSettings general;
        TfrmOptionsMain window(rules, folder.path(), general, prompts);
        window.show();
        window.resize(window.sizeHint());
        const QStringList names{"subject", "headers", "sender", "size", "exceptions", "blacklist", "learning"};
        for (int i = 0; i < window.pages->count(); ++i) {
            window.pages->setCurrentIndex(i);
            save(window, "spamsettings-" + QString::number(i + 1) + "-" + names[i]);
        }
        // Still tidy when made larger.
        window.resize(window.width() * 3 / 2, window.height() * 3 / 2);
        window.pages->setCurrentIndex(0);
        save(window, "spamsettings-subject-large");
        QVERIFY(prompts.asked.isEmpty());
    }

    void ruleDialogs()
    {
        {
            TfrmOptionsSubject dialog(prompts);
            dialog.setRule(SubjectRule{});
            save(dialog, "editor-subject");
        }
        {
            TfrmHeaders dialog(mailboxesWithServer(twoMailboxes()), prompts);
            dialog.setRule(HeaderRule{});
            save(dialog, "editor-header");
            dialog.rbToNotContain->click();
            save(dialog, "editor-header-to");
        }
        {
            TfrmOptionsFROM dialog(prompts);
            dialog.setRule(SenderRule{});
            save(dialog, "editor-sender");
        }
        {
            TfrmAlwaysAccept dialog(prompts);
            save(dialog, "editor-exception");
            dialog.rbSubject->click();
            save(dialog, "editor-exception-subject");
        }
        {
            TfrmImportSpam dialog("Import spam keywords");
            dialog.memo->setPlainText("free\nmake money fast\nlottery");
            save(dialog, "import");
        }
        {
            TfrmWhichMailbox dialog(mailboxesWithServer(twoMailboxes()), 3);
            save(dialog, "whichmailbox");
        }
    }
};

QTEST_MAIN(TestSpamSettingsScreens)
#include "tst_spamsettingsscreens.moc"
