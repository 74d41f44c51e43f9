// mailsieve-bench rules: marks a mailbox of synthetic but realistic messages
// against a rule set of realistic size and a large known spammer list.
//
//   rules.messages_per_second      marking throughput on one core (wall clock)
//   rules.messages_per_cpu_second  the same over the CPU time the thread used
//   rules.known_list_load_seconds  LoadUpKnownList of the whole list
//   rules.peak_memory              peak resident set of the process
//
// Options: --messages N (10000), --known N (100000 known-list entries).

#include "benchmarks.h"
#include "benchutil.h"

#include "rules/listfiles.h"
#include "rules/marking.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <time.h>

namespace {

struct BenchSizes
{
    int messages = 10000;
    int subjectRules = 500;
    int senderRules = 200;
    int headerRules = 50;
    int exceptions = 100;
    int knownEntries = 100000;
};

// Ordinary mail talks about work; spam uses its own vocabulary, which the
// rules are written against, so most messages pass every rule unmarked.
const QStringList HamWords = {
    "account", "action",   "agenda",  "approval", "budget",   "business", "call",   "draft",  "family",
    "friday",  "holiday",  "invoice", "meeting",  "minutes",  "monday",   "notes",  "order",  "photos",
    "project", "question", "report",  "review",   "schedule", "status",   "team",   "thanks", "travel",
    "update",  "weekend",  "lunch",   "plan",     "contract", "release",  "ticket", "backup", "server",
};
const QStringList SpamWords = {
    "amazing",    "bargain", "bonus",    "cash",   "casino",    "cheap",  "claim",  "click",     "credit",  "deal",
    "debt",       "diet",    "discount", "earn",   "exclusive", "free",   "gift",   "guarantee", "income",  "insurance",
    "investment", "limited", "loan",     "lowest", "money",     "offer",  "pills",  "prize",     "quote",   "rates",
    "refinance",  "save",    "special",  "trial",  "urgent",    "viagra", "winner", "lottery",   "replica", "casino",
};
const QStringList Domains = {"example.com",    "mail.example.org",   "bulkmailer.net",  "promo-deals.biz",
                             "university.edu", "corp.example.co.uk", "isp.example.net", "news.example.info"};

const QStringList SubjectOperators = {"Contains", "Contains (whole word)", "Equals", "Starts with", "Ends with"};
const QStringList SenderOperators = {"Contains",    "Equals",      "Contains (whole word)",
                                     "Ends with",   "Starts with", "Is UPPERCASE",
                                     "All numeric", "50% numeric", "First char numeric"};

class Generator
{
public:
    QString pick(const QStringList &list) { return list[int(random_.bounded(list.size()))]; }
    bool chance(int percent) { return int(random_.bounded(100)) < percent; }
    int number(int bound) { return int(random_.bounded(bound)); }

    QString word() { return pick(HamWords); }
    QString spamWord() { return pick(SpamWords); }
    QString phrase(int words, bool spam = false)
    {
        QStringList parts;
        for (int i = 0; i < words; ++i)
            parts.append(spam && chance(50) ? spamWord() : word());
        return parts.join(u' ');
    }
    QString user()
    {
        if (chance(10))
            return QString::number(100000 + number(900000));
        return word() + (chance(50) ? QString::number(number(100)) : QString()) + u'.' + word();
    }
    QString address() { return user() + u'@' + pick(Domains); }

private:
    QRandomGenerator random_{20240601};
};

struct BenchMessage
{
    QString subject;
    QString sender;
    QString size;
    MarkState mark = MarkState::None;
    TmsHeaders headers;
};

class BenchMailbox : public MarkingSource
{
public:
    std::vector<BenchMessage> rows;

    int rowCount() const override { return int(rows.size()); }
    QString subject(int row) const override { return rows[row].subject; }
    QString sender(int row) const override { return rows[row].sender; }
    QString size(int row) const override { return rows[row].size; }
    MarkState mark(int row) const override { return rows[row].mark; }
    void setMark(int row, MarkState mark) override { rows[row].mark = mark; }
    TmsHeaders headerLines(int row) const override { return rows[row].headers; }
    int serverToIndex() const override { return 1; }
};

BenchMessage makeMessage(Generator &gen, int n)
{
    BenchMessage m;
    const bool spam = gen.chance(30);
    m.subject = (gen.chance(15) ? QStringLiteral("Re: ") : QString()) + gen.phrase(2 + gen.number(6), spam);
    if (spam && gen.chance(15))
        m.subject = m.subject.toUpper();
    m.sender = gen.address();
    m.size = QString::number(800 + gen.number(60000));
    const QString host = gen.pick(Domains);
    m.headers = {
        "Return-Path: <" + m.sender + ">",
        "Received: from mx" + QString::number(gen.number(9)) + "." + host + " (mx." + host + " [192.0.2."
            + QString::number(gen.number(250)) + "])",
        "\tby pop.isp.example.net (Postfix) with ESMTP id 4F1A2" + QString::number(n),
        "\tfor <me@isp.example.net>; Sat, 5 Jun 1999 10:22:05 -0400",
        "Received: from localhost (localhost [127.0.0.1]) by mx." + host,
        "Message-ID: <" + QString::number(n) + "." + QString::number(gen.number(99999)) + "@" + host + ">",
        "Date: Sat, 5 Jun 1999 10:22:05 -0400",
        "From: \"" + gen.word() + " " + gen.word() + "\" <" + m.sender + ">",
        "To: " + (spam && gen.chance(30) ? gen.address() : QStringLiteral("me@isp.example.net")),
        "Subject: " + m.subject,
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=\"iso-8859-1\"",
        "Content-Transfer-Encoding: 7bit",
        QString::fromLatin1(gen.chance(3) ? "X-Mailer: Floodgate 6.0" : "X-Mailer: Microsoft Outlook Express 5.00"),
    };
    if (gen.chance(30)) // a spammer's Reply-To leads elsewhere
        m.headers.append("Reply-To: " + (spam ? gen.address() : m.sender));
    if (gen.chance(20))
        m.headers.append("X-Priority: " + QString::number(1 + gen.number(5)));
    return m;
}

void setRow(RuleList &table, int row, const QStringList &cells)
{
    for (int c = 0; c < cells.size(); ++c)
        table.setCell(c, row, cells[c]);
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("Yes") : QStringLiteral("No");
}

void makeRules(Generator &gen, RuleSet &rules, const BenchSizes &sizes)
{
    rules.SubjectRules.setRowCount(1 + sizes.subjectRules);
    for (int r = 1; r <= sizes.subjectRules; ++r) {
        const QString op = r % 97 == 0 ? QStringLiteral("Is UPPERCASE") : gen.pick(SubjectOperators);
        // Mostly multi-word patterns: a mailbox matches only a few of them.
        const QString pattern = op == "Is UPPERCASE"            ? QString()
                                : op == "Contains (whole word)" ? gen.spamWord()
                                                                : gen.spamWord() + " " + gen.spamWord();
        setRow(rules.SubjectRules, r, {"", op, pattern, yesNo(gen.chance(20)), yesNo(gen.chance(50)), "0"});
    }
    rules.SenderRules.setRowCount(1 + sizes.senderRules);
    for (int r = 1; r <= sizes.senderRules; ++r) {
        const QString what = gen.chance(50) ? QStringLiteral("Domain name") : QStringLiteral("E-mail address");
        const QString op = r % 50 == 0 ? gen.pick(SenderOperators) : gen.pick(SenderOperators.mid(0, 5));
        const QString pattern = what == "Domain name" ? gen.spamWord() + "." + gen.pick({"biz", "info", "ru", "cn"})
                                                      : gen.user() + "@" + gen.spamWord() + ".com";
        setRow(rules.SenderRules, r, {"", what, op, pattern, yesNo(gen.chance(60)), "0"});
    }
    rules.HeaderRules.setRowCount(1 + sizes.headerRules);
    setRow(rules.HeaderRules, 1, {"", "To does not contain", "me@isp.example.net - MailBox #1", "No", "No", "0"});
    setRow(rules.HeaderRules, 2, {"", "Sender", "does not match Reply-to", "No", "No", "0"});
    for (int r = 3; r <= sizes.headerRules; ++r) {
        const QString op = gen.pick(SubjectOperators);
        const QString pattern =
            op == "Starts with" ? "X-Mailer: " + gen.spamWord() : gen.spamWord() + " " + gen.spamWord();
        setRow(rules.HeaderRules, r, {"", op, pattern, yesNo(gen.chance(20)), yesNo(r % 10 == 0), "0"});
    }
    rules.ExceptionRules.setRowCount(1 + sizes.exceptions);
    for (int r = 1; r <= sizes.exceptions; ++r) {
        if (r % 3 == 0)
            setRow(rules.ExceptionRules, r, {"Subject", gen.pick(SubjectOperators), gen.phrase(3), "No", "0"});
        else if (r % 3 == 1)
            setRow(rules.ExceptionRules, r, {"E-mail address", "Equals", gen.address(), "No", "0"});
        else
            setRow(rules.ExceptionRules, r, {"Domain name", "Equals", gen.word() + ".example.edu", "No", "0"});
    }
    rules.sizeRules.largerEnabled = true;
    rules.sizeRules.largerLimit = 58000;
    rules.sizeRules.largerCheck = false;
    rules.knownListEnabled = true;
}

bool writeKnownList(Generator &gen, const QString &path, int entries)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray bytes;
    for (int i = 0; i < entries; ++i) {
        const QString entry = gen.chance(30)
                                  ? gen.spamWord() + QString::number(i) + "." + gen.pick({"biz", "info", "ru"})
                                  : gen.user() + QString::number(i) + "@" + gen.pick(Domains);
        bytes += entry.toUtf8() + "\r\n";
    }
    return file.write(bytes) == bytes.size();
}

// Time this thread ran on a core: on a busy machine the wall clock also
// counts the time spent waiting for one.
double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

} // namespace

bool writeBenchRuleFiles(const QString &folder)
{
    Generator gen;
    RuleSet rules;
    const BenchSizes sizes;
    makeRules(gen, rules, sizes);
    return Savesettings(rules, folder).ok()
           && writeKnownList(gen, QDir(folder).filePath(KnownSpammerList::fileName()), sizes.knownEntries);
}

int runRulesBench(const QStringList &args)
{
    QTextStream err(stderr);
    BenchSizes sizes;
    const std::optional<int> messages = bench::intOption(args, "--messages");
    const std::optional<int> knownEntries = bench::intOption(args, "--known");
    if (messages == 0 || knownEntries == 0) {
        err << "usage: mailsieve-bench rules [--messages N] [--known N]\n";
        return 2;
    }
    sizes.messages = messages.value_or(sizes.messages);
    sizes.knownEntries = knownEntries.value_or(sizes.knownEntries);

    Generator gen;
    RuleSet rules;
    makeRules(gen, rules, sizes);

    QTemporaryDir folder;
    if (!folder.isValid() || !writeKnownList(gen, folder.filePath(KnownSpammerList::fileName()), sizes.knownEntries)) {
        err << "cannot write the known spammer list to a temporary folder\n";
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    double cpuStart = threadCpuSeconds();
    const KnownListResult loaded = rules.knownList.LoadUpKnownList(folder.path());
    const double loadSeconds = timer.nsecsElapsed() / 1e9;
    const double loadCpuSeconds = threadCpuSeconds() - cpuStart;
    if (!loaded.ok || rules.knownList.count() != sizes.knownEntries) {
        err << "loading the known spammer list failed: " << loaded.error << "\n";
        return 1;
    }
    // Some senders are on the known list.
    const QStringList known = rules.knownList.entries();

    BenchMailbox mailbox;
    mailbox.rows.reserve(sizes.messages);
    for (int n = 0; n < sizes.messages; ++n) {
        BenchMessage message = makeMessage(gen, n);
        if (gen.chance(5))
            message.sender = known[gen.number(int(known.size()))];
        mailbox.rows.push_back(std::move(message));
    }

    MarkingEngine engine(rules, mailbox);
    timer.restart();
    cpuStart = threadCpuSeconds();
    for (int row = 0; row < mailbox.rowCount(); ++row)
        engine.MarkForDeletion(row);
    const double markSeconds = timer.nsecsElapsed() / 1e9;
    const double markCpuSeconds = threadCpuSeconds() - cpuStart;

    int marked = 0;
    for (const BenchMessage &m : mailbox.rows)
        marked += m.mark != MarkState::None;

    bench::printFigure("rules.messages", sizes.messages, "msg");
    bench::printFigure("rules.messages_marked", marked, "msg");
    bench::printFigure("rules.marking_seconds", markSeconds, "s", 3);
    bench::printFigure("rules.marking_cpu_seconds", markCpuSeconds, "s", 3);
    bench::printFigure("rules.messages_per_second", sizes.messages / markSeconds, "msg/s");
    bench::printFigure("rules.messages_per_cpu_second", sizes.messages / markCpuSeconds, "msg/s");
    bench::printFigure("rules.known_list_entries", rules.knownList.count(), "entries");
    bench::printFigure("rules.known_list_load_seconds", loadSeconds, "s", 3);
    bench::printFigure("rules.known_list_load_cpu_seconds", loadCpuSeconds, "s", 3);
    bench::printFigure("rules.peak_memory", bench::peakMemoryMiB(), "MiB", 1);
    return 0;
}
