// Learning from mail the user already sorted: message files taught and
// taken back, and the junk folder and a named folder of an IMAP server.

#include "app/filelearning.h"
#include "app/programcore.h"
#include "support/scriptedimapserver.h"
#include "support/testfiles.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray mailFrom(const QByteArray &from, int i)
{
    return "From: " + from + "\r\nSubject: note " + QByteArray::number(i) + "\r\n\r\nbody\r\n";
}

} // namespace

class TestSortedMail : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<ProgramCore> core;
    QStringList problems;

    QList<quint32> learnt()
    {
        const std::optional<LearntCounts> counts = core->learner.counts();
        return counts ? QList<quint32>{counts->spamMessages, counts->hamMessages} : QList<quint32>();
    }

private slots:
    void init()
    {
        core = std::make_unique<ProgramCore>(home.path());
        problems.clear();
    }

    void filesTaughtAndTakenBack()
    {
        const QString folder = home.filePath(QStringLiteral("spam"));
        QVERIFY(QDir().mkpath(folder));
        for (int i = 0; i < 3; ++i)
            QVERIFY(writeFile(folder + QStringLiteral("/%1.eml").arg(i), mailFrom("a@spam.example", i)));
        QVERIFY(writeFile(folder + QStringLiteral("/junk.bin"), QByteArray("\x01\x02 not mail", 11)));
        const auto problem = [this](const QString &text) { problems << text; };
        const LearningRun taught = learnFromFiles(core->learner, {folder}, Label::Spam, false, problem);
        QVERIFY(taught.ok);
        QCOMPARE((QList<int>{taught.messages, taught.learned}), (QList<int>{3, 3}));
        QCOMPARE(problems.size(), 1); // the file that is no message
        QCOMPARE(learnt(), (QList<quint32>{3, 0}));
        const LearningRun back = learnFromFiles(core->learner, {folder}, Label::Spam, true, problem);
        QCOMPARE(back.learned, 3);
        QCOMPARE(learnt(), (QList<quint32>{0, 0}));
    }

    void junkAndNamedFolderOfTheServer()
    {
        ScriptedImapServer server;
        QVERIFY(server.listen());
        server.setMessages({mailFrom("a@spam.example", 1), mailFrom("b@spam.example", 2)}, QStringLiteral("Junk"));
        server.setMessages({mailFrom("c@work.example", 3), mailFrom("d@work.example", 4), mailFrom("e@w.example", 5)});
        ImapClient client;
        server.logIn(client);
        const auto problem = [this](const QString &text) { problems << text; };
        const LearningRun run =
            learnFromServer(core->learner, client, QString(), {QStringLiteral("INBOX"), QStringLiteral("Nowhere")}, 2, problem);
        QVERIFY(run.ok);
        QCOMPARE(learnt(), (QList<quint32>{2, 2}));
        QCOMPARE(problems.size(), 1); // the folder that is not there
        QCOMPARE(server.seenSettings(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSortedMail)
#include "tst_sortedmail.moc"
