// The learner's memory and its training rule: counts that follow learning
// and never go below zero, train-on-error, and the key a learnt message is
// known by. (The store's failed batches put changes back: tst_learningstore.)

#include "learning/learner.h"
#include "learning/training.h"
#include "mail/packedheaders.h"

#include <QTest>

namespace {

const QStringList kSpammy{QStringLiteral("subject:cheap"), QStringLiteral("from-domain:pills.example")};
const QStringList kHammy{QStringLiteral("subject:minutes"), QStringLiteral("list-id:team")};

} // namespace

class TestLearner : public QObject
{
    Q_OBJECT

private slots:
    void countsFollowLearning()
    {
        Learner learner;
        learner.learn({"a", "b"}, Label::Spam);
        learner.learn({"b", "c"}, Label::Ham);
        QCOMPARE(learner.counts("b"), (TokenCounts{1, 1}));
        const quint64 revision = learner.revision();
        learner.unlearn({"a", "b"}, Label::Spam);
        QVERIFY(learner.revision() != revision);
        // Never below zero; a token learnt from nothing is dropped, an unknown one not made up.
        learner.unlearn({"b", "x"}, Label::Spam);
        QCOMPARE(learner.tokens(), (QHash<QString, TokenCounts>{{"b", {0, 1}}, {"c", {0, 1}}}));
        QCOMPARE(learner.spamMessages(), 0u);
        QCOMPARE(learner.hamMessages(), 1u);
    }

    void trainsOnError_data()
    {
        QTest::addColumn<int>("learnt"); // messages of each kind learnt before
        QTest::addColumn<QStringList>("tokens");
        QTest::addColumn<bool>("spam");
        QTest::addColumn<bool>("worth");
        QTest::newRow("no verdicts yet: right anyway") << 19 << kSpammy << true << true;
        QTest::newRow("confidently right spam") << 20 << kSpammy << true << false;
        QTest::newRow("confidently right ham") << 20 << kHammy << false << false;
        QTest::newRow("wrong") << 20 << kSpammy << false << true;
        QTest::newRow("unsure") << 20 << QStringList{"subject:new"} << true << true;
    }

    void trainsOnError()
    {
        QFETCH(int, learnt);
        QFETCH(QStringList, tokens);
        QFETCH(bool, spam);
        QFETCH(bool, worth);
        Learner learner;
        for (int i = 0; i < learnt; ++i) {
            learner.learn(kSpammy, Label::Spam);
            learner.learn(kHammy, Label::Ham);
        }
        QCOMPARE(worthLearning(learner, tokens, spam ? Label::Spam : Label::Ham, Cutoffs()), worth);
    }

    void aMessageHasOneKeyWhereverItCameFrom()
    {
        const QByteArray key = learnedMessageKey(headerBlockLines("Subject: hi\r\nFrom: a@example.org\r\n\r\n"));
        QCOMPARE(key.size(), 16);
        QCOMPARE(learnedMessageKey(headerBlockLines("Subject: hi\nFrom: a@example.org\n\nbody\n")), key);
        QVERIFY(learnedMessageKey(headerBlockLines("Subject: hi\r\nFrom: b@example.org\r\n")) != key);
    }
};

QTEST_GUILESS_MAIN(TestLearner)
#include "tst_learner.moc"
