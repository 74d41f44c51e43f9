#pragma once
// The marking decision: which mark a listed message gets from the rules,
// raising the hit counters of the rules that match and, in ExplainMode,
// collecting one explanation line per matching rule.

#include "learning/classifier.h"
#include "mail/headers.h"
#include "rules/markingmemo.h"
#include "rules/markstate.h"
#include "rules/rulelist.h"
#include "rules/serverfindings.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// The listed messages as the marking decision reads them.
class MarkingSource
{
public:
    virtual ~MarkingSource() = default;
    virtual int rowCount() const = 0;
    virtual QString subject(int row) const = 0;
    virtual QString sender(int row) const = 0; // the bare address
    virtual QString size(int row) const = 0; // octets as decimal text
    virtual MarkState mark(int row) const = 0;
    virtual void setMark(int row, MarkState mark) = 0;
    virtual TmsHeaders headerLines(int row) const = 0;
    // The number (1 to 12) of the configured mailbox being checked, 0 when none.
    virtual int serverToIndex() const = 0;
    // The name of that mailbox's receiving server, whose findings are
    // believed; empty (the default): none are.
    virtual QString trustedServer() const { return {}; }
};

// The learner as the marking decision asks it, for rows the rules leave
// without a mark.
class SpamLearner
{
public:
    virtual ~SpamLearner() = default;
    // False until it learnt enough to give verdicts.
    virtual bool givesVerdicts() const = 0;
    // Names what it knows now: decisions kept under another state are
    // decided afresh.
    virtual QByteArray state() const = 0;
    // trustedServer names the mailbox's receiving server, whose findings
    // are clues as well.
    virtual Classification classify(const TmsHeaders &headers, const QString &trustedServer,
                                    const Cutoffs &cutoffs) const = 0;
};

class MarkingEngine
{
public:
    MarkingEngine(RuleSet &rules, MarkingSource &source);

    // index >= 0 marks that row, index < 0 every row. A row starts from the
    // mark it has.
    void MarkForDeletion(int index);

    // Decisions kept from earlier checks are laid on the rows instead of
    // running the rules again, and new ones are handed to the memo. Null
    // (the default): the rules run for every row.
    void setMemo(MarkingMemo *memo) { memo_ = memo; }
    // The learner that judges what the rules leave unmarked, when the
    // options let it; null (the default): none.
    void setLearner(const SpamLearner *learner) { learner_ = learner; }

    // In ExplainMode every test runs, the scans never stop early, no hit is
    // counted and whyAdd records lines.
    bool explainMode() const { return explainMode_; }
    void setExplainMode(bool on) { explainMode_ = on; }
    QStringList &memoWhy() { return memoWhy_; }
    const QStringList &memoWhy() const { return memoWhy_; }
    // ExplainMode's notes that are no matching rule: an exception that did
    // not apply because DMARC did not pass. Cleared with each row.
    const QStringList &notes() const { return notes_; }

    void whyAdd(bool isDelete, const QString &name, const QString &operatorText, const QString &pattern, bool caseFlag);
    void whyExcept(const QString &name, const QString &operatorText, const QString &pattern, bool caseFlag);

    // The single tests; those that set del tell whether their match asks for
    // a check mark (true) or a question mark (false).
    bool qIsInException(int row, const QString &subject, const QString &sender);
    bool tooBigSmall(const QString &size, bool &del);
    bool qMarkThisSubject(const QString &subject, bool &del);
    bool qmarkThisSender(const QString &sender, bool &del);
    bool qMarkThisHeader(int row, bool &del);

    static QString knownSpammerText(const QString &matched);

private:
    void markRow(int row);
    // The rules' mark for row, which starts from mark.
    MarkState decide(int row, MarkState mark);
    // The header lines of the row being decided, read once.
    const TmsHeaders &headersOf(int row);
    // What its receiving server found, read once.
    const ServerFindings &findingsOf(int row);
    // Whether the server operator what matches row; shown tells what the
    // server wrote.
    bool serverOperatorMatches(int row, const QString &what, const QString &pattern, QString &shown);
    // An exception row asking for DMARC accepts sender's message.
    bool dmarcAllows(int row, const QString &sender, const QString &pattern);
    // The learner's mark for a row the rules left without one.
    MarkState learnerMark(int row);
    // The learner takes part in decisions now.
    bool learnerDecides() const;
    // decide, with the hits it matched; countHits false leaves the counters
    // as they are (a decision made ahead of its time).
    MarkOutcome decideAndRecord(int row, MarkState from, bool countHits);
    void BumpUpGrid(RuleList &table, int row);
    // Keeps a scan going after a matching row unless that row asks for a
    // check mark outside ExplainMode.
    bool scanGoesOn(bool matchedRowDel) const { return explainMode_ || !matchedRowDel; }

    RuleSet &rules_;
    MarkingSource &source_;
    MarkingMemo *memo_ = nullptr;
    const SpamLearner *learner_ = nullptr;
    std::optional<std::pair<int, TmsHeaders>> rowHeaders_; // of the row being decided
    std::optional<std::pair<int, ServerFindings>> rowFindings_; // of the row being decided
    RuleSetFingerprint fingerprint_;
    QList<RuleHit> *countedHits_ = nullptr; // the decision being kept records its hits here
    bool countsHits_ = true;
    bool explainMode_ = false;
    bool exceptionExplain_ = false;
    QStringList memoWhy_;
    QStringList notes_;
};
