#include "learning/learner.h"

namespace {

quint32 &countOf(TokenCounts &counts, Label label)
{
    return label == Label::Spam ? counts.spam : counts.ham;
}

} // namespace

TokenCounts Learner::counts(const QString &token) const
{
    return m_tokens.value(token);
}

void Learner::learn(const QStringList &tokens, Label label)
{
    for (const QString &token : tokens)
        ++countOf(m_tokens[token], label);
    ++messagesOf(label);
    ++m_revision;
}

void Learner::unlearn(const QStringList &tokens, Label label)
{
    for (const QString &token : tokens) {
        const auto found = m_tokens.find(token);
        if (found == m_tokens.end())
            continue;
        quint32 &count = countOf(*found, label);
        if (count > 0)
            --count;
        if (*found == TokenCounts())
            m_tokens.erase(found);
    }
    quint32 &messages = messagesOf(label);
    if (messages > 0)
        --messages;
    ++m_revision;
}

void Learner::reset(QHash<QString, TokenCounts> tokens, quint32 spamMessages, quint32 hamMessages)
{
    m_tokens = std::move(tokens);
    m_spam = spamMessages;
    m_ham = hamMessages;
    ++m_revision;
}

void Learner::restore(const QHash<QString, TokenCounts> &tokens, quint32 spamMessages, quint32 hamMessages)
{
    for (auto token = tokens.cbegin(); token != tokens.cend(); ++token) {
        if (token.value() == TokenCounts())
            m_tokens.remove(token.key());
        else
            m_tokens.insert(token.key(), token.value());
    }
    m_spam = spamMessages;
    m_ham = hamMessages;
    ++m_revision;
}
