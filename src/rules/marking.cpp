#include "rules/marking.h"

#include "learning/cluetext.h"
#include "rules/ruletexts.h"
#include "rules/textmatch.h"

#include <QScopeGuard>

#include <algorithm>
#include <optional>

namespace {

// A "To does not contain" pattern: the address text, " - MailBox #" and the
// mailbox number.
struct ToRule
{
    QString address;
    std::optional<int> mailbox; // empty when the number is not a decimal integer
};

ToRule parseToRule(const QString &pattern)
{
    const qsizetype marker = pattern.indexOf(RuleText::MailBoxMarker);
    if (marker < 0)
        return {};
    ToRule rule{pattern.left(marker), std::nullopt};
    const QString number = pattern.mid(marker + RuleText::MailBoxMarker.size()).trimmed();
    const bool digitsOnly = std::all_of(number.begin(), number.end(), isDigitChar);
    bool ok = false;
    const int n = number.toInt(&ok);
    if (digitsOnly && ok)
        rule.mailbox = n;
    return rule;
}

// The header values the special header rows read, fetched once per message
// and only when a row asks for them.
class HeaderValues
{
public:
    explicit HeaderValues(const TmsHeaders &headers) : headers_(headers) {}

    const QString &to() { return value(to_, "To:"); }
    const QString &replyTo() { return value(replyTo_, "Reply-to:"); }
    const QString &fromAddress()
    {
        if (!fromAddress_)
            fromAddress_ = senderAddress(headers_);
        return *fromAddress_;
    }
    const QString &toAddress()
    {
        if (!toAddress_)
            toAddress_ = headerAddress(headers_, QStringLiteral("To:")).Address;
        return *toAddress_;
    }

private:
    const QString &value(std::optional<QString> &cache, const char *name)
    {
        if (!cache)
            cache = GetHeaderValue(headers_, QString::fromLatin1(name));
        return *cache;
    }

    const TmsHeaders &headers_;
    std::optional<QString> to_, replyTo_, fromAddress_, toAddress_;
};

bool isYes(const QString &cell)
{
    return cell == RuleText::Yes;
}

// The header operators that read what the receiving server found.
bool isServerOperator(const QString &what)
{
    return what == RuleText::FailsDmarc || what == RuleText::PassesDmarc || what == RuleText::FailsDkim
           || what == RuleText::FailsSpf || what == RuleText::HasSpamVerdict || what == RuleText::BulkLevelAtLeast;
}

} // namespace

MarkingEngine::MarkingEngine(RuleSet &rules, MarkingSource &source) : rules_(rules), source_(source)
{
}

void MarkingEngine::MarkForDeletion(int index)
{
    if (index >= 0) {
        if (index < source_.rowCount())
            markRow(index);
        return;
    }
    for (int row = 0; row < source_.rowCount(); ++row)
        markRow(row);
}

void MarkingEngine::markRow(int row)
{
    const MarkState from = source_.mark(row);
    // Explanations always come from the rules themselves.
    if (!memo_ || explainMode_) {
        source_.setMark(row, decide(row, from));
        return;
    }
    const QByteArray &fingerprint = fingerprint_.of(rules_, {source_.serverToIndex(), source_.trustedServer()},
                                                    learnerDecides() ? learner_->state() : QByteArray());
    if (const std::optional<MarkOutcome> kept = memo_->recall(row, fingerprint, from)) {
        for (const RuleHit &hit : kept->hits)
            rules_.table(hit.table).bumpHits(hit.row);
        source_.setMark(row, kept->mark);
        return;
    }
    const MarkOutcome outcome = decideAndRecord(row, from, true);
    source_.setMark(row, outcome.mark);
    memo_->keep(row, fingerprint, from, outcome);
    // A check decides every row once more when its listing is complete,
    // starting from this mark. Decided now, while the row's header block is
    // at hand, that decision is kept with the hits it will count then.
    if (outcome.mark != from)
        memo_->keep(row, fingerprint, outcome.mark, decideAndRecord(row, outcome.mark, false));
}

MarkOutcome MarkingEngine::decideAndRecord(int row, MarkState from, bool countHits)
{
    MarkOutcome outcome;
    countedHits_ = &outcome.hits;
    countsHits_ = countHits;
    outcome.mark = decide(row, from);
    countedHits_ = nullptr;
    countsHits_ = true;
    return outcome;
}

const TmsHeaders &MarkingEngine::headersOf(int row)
{
    if (!rowHeaders_ || rowHeaders_->first != row)
        rowHeaders_.emplace(row, source_.headerLines(row));
    return rowHeaders_->second;
}

const ServerFindings &MarkingEngine::findingsOf(int row)
{
    if (!rowFindings_ || rowFindings_->first != row)
        rowFindings_.emplace(row, ServerFindings::of(headersOf(row), source_.trustedServer()));
    return rowFindings_->second;
}

MarkState MarkingEngine::decide(int row, MarkState mark)
{
    // The header rows and the learner read the same lines, once.
    rowHeaders_.reset();
    rowFindings_.reset();
    notes_.clear();
    const auto forget = qScopeGuard([this] {
        rowHeaders_.reset();
        rowFindings_.reset();
    });
    const QString subject = source_.subject(row);
    const QString sender = source_.sender(row);
    if (qIsInException(row, subject, sender))
        return MarkState::Exception;

    bool del = false;
    if (tooBigSmall(source_.size(row), del))
        mark = del ? MarkState::Check : MarkState::Question;

    // A check mark ends the evaluation outside ExplainMode; a question mark
    // never replaces a check mark.
    const auto goesOn = [&] { return explainMode_ || mark != MarkState::Check; };
    const auto take = [&](bool matched) {
        if (!matched)
            return;
        if (del)
            mark = MarkState::Check;
        else if (mark != MarkState::Check)
            mark = MarkState::Question;
    };
    if (goesOn())
        take(qMarkThisSubject(subject, del));
    if (goesOn())
        take(qmarkThisSender(sender, del));
    if (goesOn())
        take(qMarkThisHeader(row, del));
    if (goesOn() && rules_.knownListEnabled) {
        const KnownMatch known = rules_.knownList.isInKnownList(sender);
        if (known.found) {
            if (mark != MarkState::Check)
                mark = MarkState::KnownSpammer;
            whyAdd(true, known.kind, knownSpammerText(known.matched), QString(), false);
        }
    }
    if (mark == MarkState::None && learnerDecides())
        mark = learnerMark(row);
    return mark;
}

bool MarkingEngine::learnerDecides() const
{
    return learner_ && rules_.learning.enabled && learner_->givesVerdicts();
}

MarkState MarkingEngine::learnerMark(int row)
{
    const LearningOptions &options = rules_.learning;
    const Classification verdict =
        learner_->classify(headersOf(row), source_.trustedServer(), Cutoffs{options.hamCutoff, options.spamCutoff});
    const bool spam = verdict.verdict == Verdict::Spam;
    const bool deletes = spam && options.markForDeletion && verdict.score >= options.deletionScore;
    if (explainMode_) {
        const QString verdictText = spam                              ? QStringLiteral("spam")
                                    : verdict.verdict == Verdict::Ham ? QStringLiteral("not spam")
                                                                      : QStringLiteral("unsure");
        const QString prefix = deletes ? QStringLiteral("Delete   : ")
                               : spam  ? QStringLiteral("Question : ")
                                       : QStringLiteral("Learner  : ");
        memoWhy_.append(QStringLiteral("%1 Learner's score %2: %3")
                            .arg(prefix, QString::number(verdict.score, 'f', 4), verdictText));
        for (const auto &[label, clues] : {std::pair{QStringLiteral("For spam"), &verdict.spamClues},
                                           std::pair{QStringLiteral("Against"), &verdict.hamClues}}) {
            for (const Clue &clue : *clues)
                memoWhy_.append(QStringLiteral("    %1: %2, %3")
                                    .arg(label, clueText(clue), QString::number(clue.probability, 'f', 3)));
        }
    }
    return deletes ? MarkState::Check : spam ? MarkState::Question : MarkState::None;
}

void MarkingEngine::BumpUpGrid(RuleList &table, int row)
{
    if (explainMode_)
        return;
    if (countsHits_)
        table.bumpHits(row);
    if (countedHits_)
        countedHits_->append({table.table(), row});
}

bool MarkingEngine::qIsInException(int row, const QString &subject, const QString &sender)
{
    RuleList &table = rules_.ExceptionRules;
    for (int r = 1; r < table.rowCount(); ++r) {
        const QString &what = table.cell(ExceptCol::What, r);
        if (what.isEmpty())
            continue;
        const QString &pattern = table.cell(ExceptCol::Matches, r);
        // Taken as written, as matchExceptSubject does: an exception can only
        // keep a message.
        bool matched = false;
        if (what == RuleText::DomainName || what == RuleText::EmailAddress) {
            matched = what == RuleText::DomainName ? textEndsWith(sender, pattern, false)
                                                   : textStartsWith(sender, pattern, false);
            const bool dmarcOnly = isYes(table.cell(ExceptCol::DmarcOnly, r));
            matched = matched && (!dmarcOnly || dmarcAllows(row, sender, pattern));
            if (matched)
                whyExcept(dmarcOnly ? what + QStringLiteral(" (DMARC passed)") : what, RuleText::Equals, pattern,
                          false);
        } else {
            const QString &op = table.cell(ExceptCol::Condition, r);
            const bool caseFlag = isYes(table.cell(ExceptCol::Case, r));
            matched = matchExceptSubject(subject, op, pattern, caseFlag);
            if (matched)
                whyExcept(RuleText::Subject, op, pattern, caseFlag);
        }
        if (matched) {
            BumpUpGrid(table, r);
            return true;
        }
    }
    return false;
}

bool MarkingEngine::dmarcAllows(int row, const QString &sender, const QString &pattern)
{
    const QString dmarc = findingsOf(row).resultFor(u"dmarc", sender);
    if (dmarc == u"pass")
        return true;
    if (explainMode_) {
        const QString why = source_.trustedServer().trimmed().isEmpty()
                                ? QStringLiteral("no trusted server is set for this mailbox")
                            : dmarc.isEmpty() ? QStringLiteral("the trusted server wrote no DMARC result for it")
                                              : QStringLiteral("the trusted server says dmarc=%1").arg(dmarc);
        notes_ << QStringLiteral("Not used : the exception for \"%1\" accepts only mail that passes DMARC, and %2")
                      .arg(pattern, why);
    }
    return false;
}

bool MarkingEngine::serverOperatorMatches(int row, const QString &what, const QString &pattern, QString &shown)
{
    const ServerFindings &findings = findingsOf(row);
    const QString sender = source_.sender(row);
    const auto authResult = [&](QStringView method, QStringView wanted) {
        const QString result = findings.resultFor(method, sender);
        shown = QStringLiteral("%1=%2 (Authentication-Results of %3)")
                    .arg(method.toString(), result, source_.trustedServer().trimmed());
        return result == wanted;
    };
    if (what == RuleText::FailsDmarc)
        return authResult(u"dmarc", u"fail");
    if (what == RuleText::PassesDmarc)
        return authResult(u"dmarc", u"pass");
    if (what == RuleText::FailsDkim)
        return authResult(u"dkim", u"fail");
    if (what == RuleText::FailsSpf)
        return authResult(u"spf", u"fail");
    const ServerVerdict &verdict = findings.verdict;
    if (what == RuleText::HasSpamVerdict) {
        shown = verdict.spamField.left(160);
        return !verdict.spamField.isEmpty();
    }
    // bulk level at least N: N a single digit, as the editor writes it.
    const QString level = pattern.trimmed();
    if (level.size() != 1 || !isDigitChar(level[0]) || !verdict.bulkLevel)
        return false;
    shown = QStringLiteral("%1, %2").arg(level, verdict.bulkField.left(160));
    return *verdict.bulkLevel >= level[0].unicode() - u'0';
}

bool MarkingEngine::tooBigSmall(const QString &sizeText, bool &del)
{
    bool ok = false;
    const qint64 size = sizeText.toLongLong(&ok, 10);
    if (!ok)
        return false;
    const SizeRules &rules = rules_.sizeRules;
    if (rules.smallerEnabled && size < rules.smallerLimit) {
        del = rules.smallerCheck;
        whyAdd(del, QStringLiteral("Size"), QStringLiteral("smaller than"), QString::number(rules.smallerLimit), false);
        return true;
    }
    if (rules.largerEnabled && size > rules.largerLimit) {
        del = rules.largerCheck;
        whyAdd(del, QStringLiteral("Size"), QStringLiteral("larger than"), QString::number(rules.largerLimit), false);
        return true;
    }
    return false;
}

bool MarkingEngine::qMarkThisSubject(const QString &subject, bool &del)
{
    RuleList &table = rules_.SubjectRules;
    bool matched = false;
    bool anyDel = false;
    for (int r = 1; r < table.rowCount(); ++r) {
        const QString &op = table.cell(SubjectCol::What, r);
        if (op.isEmpty())
            break;
        const QString &pattern = table.cell(SubjectCol::Matches, r);
        const bool rowDel = isYes(table.cell(SubjectCol::Del, r));
        const bool caseFlag = isYes(table.cell(SubjectCol::Case, r));
        if (!matchSubject(subject, op, pattern, caseFlag))
            continue;
        BumpUpGrid(table, r);
        matched = true;
        anyDel |= rowDel;
        whyAdd(rowDel, RuleText::Subject, op, operatorShowsPattern(op) ? pattern : QString(), caseFlag);
        if (!scanGoesOn(rowDel))
            break;
    }
    del = anyDel;
    return matched;
}

bool MarkingEngine::qmarkThisSender(const QString &sender, bool &del)
{
    RuleList &table = rules_.SenderRules;
    bool matched = false;
    bool anyDel = false;
    for (int r = 1; r < table.rowCount(); ++r) {
        const QString &what = table.cell(SenderCol::What, r);
        if (what.isEmpty())
            break;
        const QString &op = table.cell(SenderCol::Condition, r);
        const QString &pattern = table.cell(SenderCol::Matches, r);
        const bool rowDel = isYes(table.cell(SenderCol::Del, r));
        if (!matchSender(sender, what, op, pattern))
            continue;
        BumpUpGrid(table, r);
        matched = true;
        anyDel |= rowDel;
        const QString name = what == RuleText::DomainName ? RuleText::DomainName : RuleText::EmailAddress;
        whyAdd(rowDel, name, op, operatorShowsPattern(op) ? pattern : QString(), false);
        if (!scanGoesOn(rowDel))
            break;
    }
    del = anyDel;
    return matched;
}

bool MarkingEngine::qMarkThisHeader(int row, bool &del)
{
    RuleList &table = rules_.HeaderRules;
    const TmsHeaders &headers = headersOf(row);
    HeaderValues values(headers);
    bool matched = false;
    bool anyDel = false;
    for (int r = 1; r < table.rowCount(); ++r) {
        const QString &what = table.cell(HeaderCol::What, r);
        if (what.isEmpty())
            break;
        const QString &pattern = table.cell(HeaderCol::Matches, r);
        const bool rowDel = isYes(table.cell(HeaderCol::Del, r));
        const bool caseFlag = isYes(table.cell(HeaderCol::Case, r));
        bool stop = false;
        const auto hit = [&](const QString &name, const QString &op, const QString &shown) {
            BumpUpGrid(table, r);
            matched = true;
            anyDel |= rowDel;
            whyAdd(rowDel, name, op, shown, caseFlag);
            stop = !scanGoesOn(rowDel);
        };

        if (what == RuleText::ToDoesNotContain) {
            // A row with an empty address would catch every message of its mailbox.
            const ToRule rule = parseToRule(pattern);
            if (rule.mailbox && *rule.mailbox == source_.serverToIndex() && !isEmptyPattern(rule.address)) {
                const QString &to = values.to();
                if (!to.isEmpty() && !textContains(to, rule.address, false))
                    hit(QStringLiteral("Header \"%1\"").arg(to), what, rule.address);
            }
        } else if (what == RuleText::Sender && pattern == RuleText::DoesNotMatchReplyTo) {
            const QString &replyTo = values.replyTo();
            const QString &from = values.fromAddress();
            if (!replyTo.isEmpty() && !textContains(replyTo, from, false) && !textContains(from, replyTo, false))
                hit(QStringLiteral("Header"), what, replyTo + u' ' + RuleText::DoesNotMatchReplyTo + u' ' + from);
        } else if (what == RuleText::Sender) {
            const QString &to = values.toAddress();
            const QString &from = values.fromAddress();
            if (!to.isEmpty() && (textContains(to, from, false) || textContains(from, to, false)))
                hit(QStringLiteral("Header"), what, to + u' ' + RuleText::EqualsToField + u' ' + from);
        } else if (isServerOperator(what)) {
            QString shown;
            if (serverOperatorMatches(row, what, pattern, shown))
                hit(QStringLiteral("Header"), what, shown);
        } else {
            for (const QString &line : headers) {
                if (matchHeaderLine(line, what, pattern, caseFlag))
                    hit(QStringLiteral("Header"), what, pattern);
                if (stop)
                    break;
            }
        }
        // Once any row has matched, the next check-mark row ends the scan.
        if (stop || (matched && !explainMode_ && rowDel))
            break;
    }
    if (matched)
        del = anyDel;
    return matched;
}

QString MarkingEngine::knownSpammerText(const QString &matched)
{
    return QStringLiteral("\"%1\" is on the KNOWN SPAMMER BLACKLIST (you may edit if this is in error)").arg(matched);
}

void MarkingEngine::whyAdd(bool isDelete, const QString &name, const QString &operatorText, const QString &pattern,
                           bool caseFlag)
{
    if (!explainMode_)
        return;
    const QString prefix = exceptionExplain_ ? QStringLiteral("Exception : ")
                           : isDelete        ? QStringLiteral("Delete   : ")
                                             : QStringLiteral("Question : ");
    if (pattern.isEmpty()) {
        memoWhy_.append(QStringLiteral("%1 %2 %3").arg(prefix, name, operatorText));
        return;
    }
    const QString caseSuffix = caseFlag ? QStringLiteral(" (Case Sensitive)") : QString();
    memoWhy_.append(QStringLiteral("%1 %2 %3 \"%4\" %5").arg(prefix, name, operatorText, pattern, caseSuffix));
}

void MarkingEngine::whyExcept(const QString &name, const QString &operatorText, const QString &pattern, bool caseFlag)
{
    exceptionExplain_ = true;
    whyAdd(false, name, operatorText, pattern, caseFlag);
    exceptionExplain_ = false;
}
