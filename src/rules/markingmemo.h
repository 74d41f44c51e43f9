#pragma once
// What the rules made of a message, kept so that a later check need not ask
// them again. A listed message's subject, sender, size and header block never
// change, so while the rule set is the same (the same fingerprint), the
// marking decision gives the same mark and matches the same rules: the kept
// outcome is laid on the row and the same hit counters move, as if the rules
// had run. Any edit of the rules, of the known list or of the size rules
// gives another fingerprint and every message is decided afresh.

#include "rules/markstate.h"
#include "rules/rulelist.h"

#include <QByteArray>
#include <QList>

#include <optional>

// A rule row whose hit counter the decision raised.
struct RuleHit
{
    RuleTable table = RuleTable::Subject;
    int row = 0;
    bool operator==(const RuleHit &) const = default;
};

// One decision: the mark it gave and the hits it counted, in order.
struct MarkOutcome
{
    MarkState mark = MarkState::None;
    QList<RuleHit> hits;
    bool operator==(const MarkOutcome &) const = default;
};

// The decisions kept for one message under one rule set, one for each mark
// the row started from (a check decides each row twice, the second time
// from the mark of the first). The bytes are what the message store keeps.
class MarkingRecord
{
public:
    // More hits than this in one decision are not kept (the rules then run).
    static constexpr int MaxHits = 255;

    // The record in bytes; an empty record for bytes it cannot read.
    static MarkingRecord fromBytes(const QByteArray &bytes);
    QByteArray toBytes() const;
    bool isEmpty() const { return m_outcomes.isEmpty(); }

    std::optional<MarkOutcome> outcome(const QByteArray &fingerprint, MarkState from) const;
    // Keeps outcome for from; under another fingerprint the record starts
    // afresh.
    void keep(const QByteArray &fingerprint, MarkState from, const MarkOutcome &outcome);

private:
    QByteArray m_fingerprint;
    QList<std::pair<MarkState, MarkOutcome>> m_outcomes;
};

// The kept decisions of the rows being listed.
class MarkingMemo
{
public:
    virtual ~MarkingMemo() = default;
    // The decision kept for row's message starting from mark from, if any.
    virtual std::optional<MarkOutcome> recall(int row, const QByteArray &fingerprint, MarkState from) = 0;
    // The rules decided row's message.
    virtual void keep(int row, const QByteArray &fingerprint, MarkState from, const MarkOutcome &outcome) = 0;
};

// The fingerprint of everything the decision of a row reads besides the
// row itself: the rule tables but their hit counters and pictures, the size
// rules, the known list when it is on (with the locale it compares in), the
// mailbox being checked ("To does not contain" rows name it), and the
// learner's options and state while it gives verdicts (learner: empty when
// it does not). Worked out again only when one of them changed.
// The mailbox a decision is made for, as far as the rules read it.
struct MailboxContext
{
    int serverToIndex = 0;
    QString trustedServer;
    bool operator==(const MailboxContext &) const = default;
};

class RuleSetFingerprint
{
public:
    const QByteArray &of(const RuleSet &rules, const MailboxContext &mailbox, const QByteArray &learner);

private:
    struct Inputs
    {
        quint64 tables[4] = {};
        quint64 knownList = 0;
        SizeRules sizeRules;
        bool knownListEnabled = false;
        MailboxContext mailbox;
        LearningOptions learning;
        QByteArray learner;
        bool operator==(const Inputs &) const = default;
    };
    static Inputs inputsOf(const RuleSet &rules, const MailboxContext &mailbox, const QByteArray &learner);
    static QByteArray compute(const RuleSet &rules, const Inputs &inputs);

    std::optional<Inputs> m_inputs;
    QByteArray m_fingerprint;
};
