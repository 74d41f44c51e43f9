// What the learner learnt, in the store, read back as by a program started
// afresh: once per label, relabelling, unlearning, train-on-error, another
// program's lessons, and failed batches. Its speed and size are measured by
// mailsieve-bench learning.

#include "store/learningstore.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray keyOf(int message)
{
    return QByteArray::number(message);
}

QStringList tokensOf(int message, const QString &kind = QStringLiteral("common"))
{
    return {kind, QStringLiteral("id:%1").arg(message)};
}

struct Session
{
    explicit Session(const QString &path) : store(path), learning(store, learner) {}
    MessageStore store;
    Learner learner;
    LearningStore learning;
};

struct Learnt
{
    QHash<QString, TokenCounts> tokens;
    quint32 spam = 0;
    quint32 ham = 0;
    bool operator==(const Learnt &) const = default;
};

Learnt learntBy(const Learner &learner)
{
    return {learner.tokens(), learner.spamMessages(), learner.hamMessages()};
}

// What a program started afresh loads.
Learnt learntIn(const QString &path)
{
    Session session(path);
    return session.learning.load() ? learntBy(session.learner) : Learnt{{{"failed", {}}}};
}

} // namespace

class TestLearningStore : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.emplace();
        m_path = m_dir->filePath(MessageStore::FileName);
    }

    // The window loaded what was learnt before a check from the command line
    // learnt more: the window's next lesson adds to that, and the other way
    // round.
    void whatAnotherProgramLearntStays()
    {
        Session window(m_path);
        Session console(m_path);
        QVERIFY(window.learning.load());
        QCOMPARE(console.learning.teach(keyOf(1), tokensOf(1), Label::Spam), Teaching::Learned);
        QCOMPARE(window.learning.teach(keyOf(2), tokensOf(2), Label::Ham), Teaching::Learned);
        QCOMPARE(window.learner.counts("common"), (TokenCounts{1, 1}));
        QCOMPARE(console.learning.teach(keyOf(2), tokensOf(2), Label::Spam), Teaching::Relabelled);
        QCOMPARE(learntIn(m_path), learntBy(console.learner));
        QCOMPARE(console.learner.counts("common"), (TokenCounts{2, 0}));
    }

    // One message taught, corrected and taken back, step by step; the file
    // follows the learner at every step.
    void aMessageTeachesOncePerLabel()
    {
        const struct
        {
            bool teach; // or unlearn
            Label label;
            int result; // Teaching or Unlearning
            TokenCounts counts; // of the message's token
        } steps[] = {
            {true, Label::Spam, int(Teaching::Learned), {1, 0}},
            {true, Label::Spam, int(Teaching::AlreadyKnown), {1, 0}},
            {false, Label::Ham, int(Unlearning::NotLearned), {1, 0}},
            {true, Label::Ham, int(Teaching::Relabelled), {0, 1}},
            {false, Label::Spam, int(Unlearning::NotLearned), {0, 1}},
            {false, Label::Ham, int(Unlearning::Unlearned), {0, 0}},
            {false, Label::Ham, int(Unlearning::NotLearned), {0, 0}},
        };
        Session session(m_path);
        QCOMPARE(session.learning.teach(keyOf(2), tokensOf(2), Label::Ham), Teaching::Learned);
        for (const auto &step : steps) {
            const int result = step.teach ? int(session.learning.teach(keyOf(1), tokensOf(1), step.label))
                                          : int(session.learning.unlearn(keyOf(1), tokensOf(1), step.label));
            QCOMPARE(result, step.result);
            QCOMPARE(session.learner.counts("id:1"), step.counts);
            QCOMPARE(session.learner.spamMessages(), step.counts.spam);
            QCOMPARE(learntIn(m_path), learntBy(session.learner));
        }
        QCOMPARE(session.learning.counts().value_or(LearntCounts()).tokens, 2);
    }

    void learnsOnlyWhatItGetsWrong()
    {
        Session session(m_path);
        const auto teach = [&](int message, bool spam, bool spammy = true) {
            return session.learning.teach(keyOf(message), tokensOf(message, spammy ? "spammy" : "hammy"),
                                          spam ? Label::Spam : Label::Ham, Cutoffs());
        };
        QCOMPARE(teach(0, false), Teaching::Learned);
        for (int message = 1; message < 40; ++message)
            QCOMPARE(teach(message, message % 2, message % 2), Teaching::Learned);
        QCOMPARE(teach(41, true), Teaching::NotWorthLearning);
        QCOMPARE(teach(42, false), Teaching::Learned);
        // The user's correction is learnt though the learner gets it right by now.
        QCOMPARE(teach(0, true), Teaching::Relabelled);
        QCOMPARE(learntIn(m_path), learntBy(session.learner));
        QCOMPARE(session.learner.spamMessages(), 21u);
    }

    void failedBatchLeavesFileAndLearnerAsBefore_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<bool>("failsAtOnce");
        QTest::newRow("writing the counts at the end") << "learned_tokens" << false;
        QTest::newRow("remembering a message") << "learned_messages" << true;
    }

    void failedBatchLeavesFileAndLearnerAsBefore()
    {
        QFETCH(QString, table);
        QFETCH(bool, failsAtOnce);
        Session session(m_path);
        QCOMPARE(session.learning.teach(keyOf(1), tokensOf(1), Label::Ham), Teaching::Learned);
        const Learnt before = learntBy(session.learner);
        QVERIFY(QSqlQuery(QSqlDatabase::database(session.store.connectionName()))
                    .exec(QStringLiteral("CREATE TRIGGER full BEFORE INSERT ON %1"
                                         " BEGIN SELECT RAISE(FAIL, 'database or disk is full'); END")
                              .arg(table)));
        QVERIFY(session.learning.beginBatch());
        // Taking a lesson back writes no new row: it changes the learner
        // before anything fails.
        QCOMPARE(session.learning.unlearn(keyOf(1), tokensOf(1), Label::Ham), Unlearning::Unlearned);
        const Teaching taught = failsAtOnce ? Teaching::Failed : Teaching::Learned;
        QCOMPARE(session.learning.teach(keyOf(2), tokensOf(2), Label::Spam), taught);
        QCOMPARE(session.learning.unlearn(keyOf(2), tokensOf(2), Label::Spam),
                 failsAtOnce ? Unlearning::Failed : Unlearning::Unlearned);
        QCOMPARE(session.learning.teach(keyOf(3), tokensOf(3), Label::Spam), taught);
        QVERIFY(!session.learning.commitBatch());
        QVERIFY2(session.learning.errorText().contains("full"), qPrintable(session.learning.errorText()));
        QCOMPARE(learntBy(session.learner), before);
        QCOMPARE(learntIn(m_path), before);
        QCOMPARE(session.learning.teach(keyOf(1), tokensOf(1), Label::Spam), Teaching::Failed);
        QCOMPARE(learntBy(session.learner), before);
    }

private:
    std::optional<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestLearningStore)
#include "tst_learningstore.moc"
