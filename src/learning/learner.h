#pragma once
// What the learner learnt, in memory: each token's spam and ham counts and
// the number of messages of each kind. Messages are learnt from their
// tokens (headerTokens); the same tokens unlearn them. Where the counts are
// kept between runs is the store's business (LearningStore).

#include "learning/classifier.h"

#include <QHash>

enum class Label { Spam, Ham };

class Learner : public TokenStatistics
{
public:
    // Until it learnt this many of each kind the learner gives no verdict.
    static constexpr quint32 MinimumMessages = 20;

    TokenCounts counts(const QString &token) const override;
    quint32 spamMessages() const override { return m_spam; }
    quint32 hamMessages() const override { return m_ham; }
    int tokenCount() const { return int(m_tokens.size()); }
    bool givesVerdicts() const { return m_spam >= MinimumMessages && m_ham >= MinimumMessages; }

    // One message of label with these (distinct) tokens; unlearn takes one
    // back (counts never go below zero).
    void learn(const QStringList &tokens, Label label);
    void unlearn(const QStringList &tokens, Label label);

    // Replaces everything: what the store loaded.
    void reset(QHash<QString, TokenCounts> tokens, quint32 spamMessages, quint32 hamMessages);
    // Puts back the counts these tokens and the totals had before changes
    // the store did not take; a token without counts is dropped.
    void restore(const QHash<QString, TokenCounts> &tokens, quint32 spamMessages, quint32 hamMessages);
    const QHash<QString, TokenCounts> &tokens() const { return m_tokens; }

    // Changes with every change of the counts: a kept score is stale after it.
    quint64 revision() const { return m_revision; }

private:
    quint32 &messagesOf(Label label) { return label == Label::Spam ? m_spam : m_ham; }

    QHash<QString, TokenCounts> m_tokens;
    quint32 m_spam = 0;
    quint32 m_ham = 0;
    quint64 m_revision = 0;
};
