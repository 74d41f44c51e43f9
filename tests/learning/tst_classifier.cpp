// Scores from token counts: Robinson's probability with its unknown-word
// prior, Fisher's chi-square combining (values worked out by hand), the
// cut-offs, and the clues shown for a verdict.

#include "learning/classifier.h"

#include <QHash>
#include <QTest>

#include <cmath>

namespace {

class FakeStatistics : public TokenStatistics
{
public:
    FakeStatistics(quint32 spam, quint32 ham) : m_spam(spam), m_ham(ham) {}

    // Names the token t<n> for the n-th counts given.
    QStringList add(const QList<TokenCounts> &counts)
    {
        QStringList tokens;
        for (const TokenCounts &tokenCounts : counts) {
            tokens.append(QStringLiteral("t%1").arg(m_counts.size()));
            m_counts.insert(tokens.last(), tokenCounts);
        }
        return tokens;
    }

    TokenCounts counts(const QString &token) const override { return m_counts.value(token); }
    quint32 spamMessages() const override { return m_spam; }
    quint32 hamMessages() const override { return m_ham; }

private:
    QHash<QString, TokenCounts> m_counts;
    quint32 m_spam;
    quint32 m_ham;
};

QList<TokenCounts> repeated(TokenCounts counts, int times)
{
    return QList<TokenCounts>(times, counts);
}

} // namespace

class TestClassifier : public QObject
{
    Q_OBJECT

private slots:
    void scores_data()
    {
        QTest::addColumn<QList<TokenCounts>>("counts");
        QTest::addColumn<quint32>("spamMessages");
        QTest::addColumn<quint32>("hamMessages");
        QTest::addColumn<double>("expected");
        QTest::addColumn<double>("tolerance");

        QTest::newRow("no tokens") << QList<TokenCounts>{} << 10u << 10u << 0.5 << 0.0;
        QTest::newRow("unknown tokens") << repeated({0, 0}, 3) << 10u << 10u << 0.5 << 0.0;
        QTest::newRow("too weak to count") << QList<TokenCounts>{{1, 1}} << 10u << 10u << 0.5 << 0.0;
        // One token: the chi-square terms reduce to f and 1 - f, the score to f.
        QTest::newRow("one token scores f") << QList<TokenCounts>{{9, 1}} << 10u << 10u << 0.8827751196172249 << 1e-12;
        QTest::newRow("prior on one sighting")
            << QList<TokenCounts>{{1, 0}} << 10u << 10u << 0.8448275862068967 << 1e-12;
        QTest::newRow("empty totals") << QList<TokenCounts>{{1, 0}} << 0u << 0u << 0.8448275862068967 << 1e-12;
        QTest::newRow("counts weighed by totals")
            << QList<TokenCounts>{{1, 3}} << 100u << 10u << 0.07955781080101486 << 1e-12;
        QTest::newRow("two tokens") << QList<TokenCounts>{{9, 1}, {0, 4}} << 10u << 10u << 0.41387883955142446 << 1e-12;
        QTest::newRow("all spammy") << repeated({99, 0}, 10) << 100u << 100u << 1.0 << 1e-9;
        QTest::newRow("all hammy") << repeated({0, 99}, 10) << 100u << 100u << 0.0 << 1e-9;
        QTest::newRow("evenly mixed") << repeated({99, 0}, 5) + repeated({0, 99}, 5) << 100u << 100u << 0.5 << 1e-9;
        QTest::newRow("150 spammy, no underflow") << repeated({99, 0}, 150) << 100u << 100u << 1.0 << 1e-9;
        QTest::newRow("150 hammy, no underflow") << repeated({0, 4000000000u}, 150) << 1u << 4000000000u << 0.0 << 1e-9;
    }

    void scores()
    {
        QFETCH(QList<TokenCounts>, counts);
        QFETCH(quint32, spamMessages);
        QFETCH(quint32, hamMessages);
        QFETCH(double, expected);
        QFETCH(double, tolerance);
        FakeStatistics statistics(spamMessages, hamMessages);
        const double score = classify(statistics.add(counts), statistics).score;
        QVERIFY2(std::isfinite(score) && std::abs(score - expected) <= tolerance, qPrintable(QString::number(score)));
    }

    void verdictsAtTheCutoffs_data()
    {
        QTest::addColumn<double>("score");
        QTest::addColumn<Verdict>("verdict");

        QTest::newRow("below ham") << 0.1999 << Verdict::Ham;
        QTest::newRow("at ham") << 0.2 << Verdict::Unsure;
        QTest::newRow("below spam") << 0.8999 << Verdict::Unsure;
        QTest::newRow("at spam") << 0.9 << Verdict::Spam;
        QTest::newRow("extremes") << 0.0 << Verdict::Ham;
    }

    void verdictsAtTheCutoffs()
    {
        QFETCH(double, score);
        QFETCH(Verdict, verdict);
        QCOMPARE(verdictOf(score, Cutoffs{0.2, 0.9}), verdict);
    }

    void classifyAppliesTheCutoffs()
    {
        FakeStatistics statistics(10, 10);
        const QStringList tokens = statistics.add({{9, 1}}); // scores 0.8828
        QCOMPARE(classify(tokens, statistics, {0.2, 0.88}).verdict, Verdict::Spam);
        QCOMPARE(classify(tokens, statistics, {0.2, 0.9}).verdict, Verdict::Unsure);
        QCOMPARE(classify({}, statistics, {0.6, 0.9}).verdict, Verdict::Ham);
    }

    void strongestCluesFirst()
    {
        FakeStatistics statistics(100, 100);
        // t0 to t13 alternate spam and ham, each stronger than the one before.
        QList<TokenCounts> counts;
        for (quint32 n = 10; n <= 70; n += 10)
            counts << TokenCounts{n, 0} << TokenCounts{0, n};
        const QStringList tokens = statistics.add(counts + QList<TokenCounts>{{5, 5}});
        const Classification result = classify(tokens, statistics);

        const auto names = [](const QList<Clue> &clues) {
            QStringList list;
            for (const Clue &clue : clues)
                list << clue.token;
            return list;
        };
        QCOMPARE(names(result.spamClues), (QStringList{"t12", "t10", "t8", "t6", "t4"}));
        QCOMPARE(names(result.hamClues), (QStringList{"t13", "t11", "t9", "t7", "t5"}));
        QCOMPARE(result.spamClues[0].counts, (TokenCounts{70, 0}));
        QCOMPARE(result.hamClues[0].counts, (TokenCounts{0, 70}));
        QVERIFY(result.spamClues[0].probability > result.spamClues[4].probability);
        QVERIFY(result.hamClues[0].probability < result.hamClues[4].probability);
        QVERIFY(result.hamClues[4].probability < 0.5);
    }

    void onlyTheStrongestTokensCount()
    {
        FakeStatistics statistics(100, 100);
        // Three ham tokens, weaker than 150 spam tokens, are left out.
        const QStringList tokens = statistics.add(repeated({0, 3}, 3) + repeated({99, 0}, 150));
        const Classification result = classify(tokens, statistics);
        QVERIFY(result.hamClues.isEmpty());
        QCOMPARE(result.spamClues.size(), ChiSquare::ShownClues);
        QCOMPARE(result.spamClues[0].token, "t3");
    }
};

QTEST_GUILESS_MAIN(TestClassifier)
#include "tst_classifier.moc"
