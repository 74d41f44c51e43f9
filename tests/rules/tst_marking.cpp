#include "rules/marking.h"
#include "support/markingrows.h"

#include <QTest>

#include <memory>

namespace {

QString hits(const RuleList &table, int row)
{
    return table.cell(table.layout().hitsColumn, row);
}

TmsHeaders headersOf(const QString &from, const QString &to, const QString &replyTo = QString())
{
    TmsHeaders headers{"Return-Path: <bounce@relay.example>",
                       "Received: from relay.example",
                       "From: " + from,
                       "To: " + to,
                       "Subject: hello",
                       "X-Mailer: Floodgate 6"};
    if (!replyTo.isEmpty())
        headers.append("Reply-To: " + replyTo);
    headers.append("Message-ID: <1@relay.example>");
    return headers;
}

// A learner that gives every message the same score.
class FixedLearner : public SpamLearner
{
public:
    double score = 0.5;
    bool ready = true;
    mutable int asked = 0;

    bool givesVerdicts() const override { return ready; }
    QByteArray state() const override { return QByteArray::number(score); }
    Classification classify(const TmsHeaders &, const QString &, const Cutoffs &cutoffs) const override
    {
        ++asked;
        return {score, verdictOf(score, cutoffs), {{"from-domain:spam.test", 0.99, {40, 0}}}, {}};
    }
};

// Every way the rules mark: an exception, each table, the size rules and
// the known list.
void setEveryKindOfRule(RuleSet &rules)
{
    setRules(rules.ExceptionRules, {{"E-mail address", "Equals", "friend@", "No", "0"}});
    setRules(rules.SubjectRules,
             {{"", "Contains", "offer", "No", "No", "0"}, {"", "Contains", "win", "No", "Yes", "0"}});
    setRules(rules.SenderRules, {{"", "Domain name", "Equals", "bulk.example", "No", "0"}});
    setRules(rules.HeaderRules, {{"", "Contains", "Floodgate", "No", "No", "0"}});
    rules.sizeRules = {false, 0, true, true, 5000, true};
    rules.knownListEnabled = true;
    rules.knownList.setEntries({"spam.example"});
}

QList<Message> everyKindOfMessage()
{
    return {Message{"win an offer", "friend@home.example"},
            Message{"win now", "a@b.example"},
            Message{"an offer", "x@bulk.example"},
            Message{"hello", "a@b.example", "1000", MarkState::None, {"X-Mailer: Floodgate"}},
            Message{"offer", "joe@spam.example"},
            Message{"big", "a@b.example", "9000"},
            Message{"hello", "a@b.example"}};
}

} // namespace

class TestMarking : public QObject
{
    Q_OBJECT

    RuleSet rules;
    FakeSource source;
    std::unique_ptr<MarkingEngine> engine;

    MarkState markOne(const Message &message)
    {
        source.rows = {message};
        engine->MarkForDeletion(0);
        return source.rows[0].mark;
    }

    MarkState markOne(const QString &subject, const QString &sender)
    {
        return markOne(Message{subject, sender, "1000", MarkState::None, headersOf(sender, "me@home.net")});
    }

private slots:
    void init()
    {
        rules = RuleSet();
        source = FakeSource();
        engine = std::make_unique<MarkingEngine>(rules, source);
    }

    // Exceptions

    void exceptionWinsOverEverythingAndCountsOnlyTheFirstRow()
    {
        setRules(rules.ExceptionRules,
                 {{"E-mail address", "Equals", "joe@", "No", "4"}, {"Domain name", "Equals", "spam.com", "No", "0"}});
        setRules(rules.SubjectRules, {{"", "Contains", "free", "No", "Yes", "0"}});
        rules.knownListEnabled = true;
        rules.knownList.add("spam.com");
        QCOMPARE(markOne("free stuff", "JOE@spam.com"), MarkState::Exception);
        QCOMPARE(hits(rules.ExceptionRules, 1), QStringLiteral("5"));
        QCOMPARE(hits(rules.ExceptionRules, 2), QStringLiteral("0"));
        QCOMPARE(hits(rules.SubjectRules, 1), QStringLiteral("0"));
    }

    void exceptionRows()
    {
        setRules(rules.ExceptionRules, {{"", "", "", "", ""},
                                        {"Domain name", "Equals", "friend.org", "No", ""},
                                        {"Subject", "Starts with", "Minutes", "Yes", ""},
                                        {"Other", "Contains", "invoice", "No", ""}});
        QCOMPARE(markOne("x", "a@mail.FRIEND.org"), MarkState::Exception); // empty row skipped
        QCOMPARE(markOne("x", "a@notfriend.org"), MarkState::Exception); // no dot boundary
        QCOMPARE(markOne("Minutes of Monday", "a@b.c"), MarkState::Exception);
        QCOMPARE(markOne("minutes of Monday", "a@b.c"), MarkState::None);
        QCOMPARE(markOne("Your INVOICE", "a@b.c"), MarkState::Exception); // other What reads as Subject
        QCOMPARE(hits(rules.ExceptionRules, 2), QStringLiteral("2"));
    }

    // An exception can only keep a message, so its pattern counts as written,
    // blanks and all, where a subject, header or sender row would match nothing.
    void exceptionRowsTakeTheirPatternAsWritten_data()
    {
        QTest::addColumn<QStringList>("exception");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<bool>("accepted");
        const QStringList emptyAddress{"E-mail address", "Equals", "", "No", "0"};
        const QStringList blankAddress{"E-mail address", "Equals", " ", "No", "0"};
        const QStringList tabDomain{"Domain name", "Equals", "\t", "No", "0"};
        const QStringList blankSubject{"Subject", "Contains", " ", "No", "0"};
        QTest::newRow("empty address, any sender") << emptyAddress << "free"
                                                   << "joe@spam.com" << true;
        QTest::newRow("empty domain, any sender") << QStringList{"Domain name", "Equals", "", "No", "0"} << "free"
                                                  << "joe@spam.com" << true;
        QTest::newRow("blank address, sender without it") << blankAddress << "free"
                                                          << "joe@spam.com" << false;
        QTest::newRow("blank address, sender starting so") << blankAddress << "free"
                                                           << " joe@spam.com" << true;
        QTest::newRow("tab domain, sender ending so") << tabDomain << "free"
                                                      << "joe@spam.com\t" << true;
        QTest::newRow("tab domain, other sender") << tabDomain << "free"
                                                  << "joe@spam.com" << false;
        QTest::newRow("subject of one blank") << blankSubject << "free stuff"
                                              << "joe@spam.com" << true;
        QTest::newRow("subject of one blank, none there") << blankSubject << "free"
                                                          << "joe@spam.com" << false;
        QTest::newRow("subject starting with nothing") << QStringList{"Subject", "Starts with", "", "No", "0"} << "free"
                                                       << "joe@spam.com" << true;
        QTest::newRow("subject containing nothing") << QStringList{"Subject", "Contains", "", "No", "0"} << "free"
                                                    << "joe@spam.com" << false;
    }

    void exceptionRowsTakeTheirPatternAsWritten()
    {
        QFETCH(QStringList, exception);
        QFETCH(QString, subject);
        QFETCH(QString, sender);
        QFETCH(bool, accepted);
        setRules(rules.ExceptionRules, {exception});
        setRules(rules.SubjectRules, {{"", "Contains", "free", "No", "Yes", "0"}});
        QCOMPARE(markOne(subject, sender), accepted ? MarkState::Exception : MarkState::Check);
        QCOMPARE(hits(rules.ExceptionRules, 1), QString::number(accepted));
    }

    // Rows that would mark nearly every message

    void blankPatternRowsMarkNothing()
    {
        setRules(rules.SubjectRules, {{"", "Contains", " ", "No", "Yes", "0"}, {"", "Equals", "", "No", "Yes", "0"}});
        setRules(rules.SenderRules, {{"", "E-mail address", "Contains", " ", "Yes", "0"},
                                     {"", "Domain name", "Starts with", "\r\n", "Yes", "0"}});
        setRules(rules.HeaderRules,
                 {{"", "Contains", " ", "No", "Yes", "0"}, {"", "Starts with", "\t", "No", "Yes", "0"}});
        Message message{"", "joe@example.org", "1000", MarkState::None,
                        headersOf("Joe <joe@example.org>", "me@home.net")};
        message.headers.insert(2, "\tby mx.home.net with ESMTP");
        QCOMPARE(markOne(message), MarkState::None);
        QCOMPARE(markOne("a b c", "a b@\r\nexample.org"), MarkState::None);
        for (const RuleList *table : {&rules.SubjectRules, &rules.SenderRules, &rules.HeaderRules})
            for (int r = 1; r < table->rowCount(); ++r)
                QCOMPARE(hits(*table, r), QStringLiteral("0"));
    }

    void numericSenderRowsPassNoTextWithoutDigits()
    {
        setRules(rules.SenderRules, {{"", "E-mail address", "All numeric", "", "Yes", "0"},
                                     {"", "E-mail address", "50% numeric", "", "Yes", "0"},
                                     {"", "Domain name", "All numeric", "", "Yes", "0"}});
        // A bounce ("MAILER-DAEMON <>") and a message without From have no address.
        QCOMPARE(markOne("Undelivered Mail Returned to Sender", ""), MarkState::None);
        QCOMPARE(markOne("hello", "@example.org"), MarkState::None);
        QCOMPARE(markOne("hello", "joe@"), MarkState::None);
        QCOMPARE(markOne("hello", "12345@example.org"), MarkState::Check);
        QCOMPARE(hits(rules.SenderRules, 1), QStringLiteral("1"));
        QCOMPARE(hits(rules.SenderRules, 2), QStringLiteral("0"));
        QCOMPARE(hits(rules.SenderRules, 3), QStringLiteral("0"));
    }

    void upperCaseSubjectsOfOtherScripts()
    {
        setRules(rules.SubjectRules, {{"", "Is UPPERCASE", "", "", "Yes", "0"}});
        QCOMPARE(markOne(QStringLiteral("\u0412\u0430\u0448\u0435 \u043f\u0438\u0441\u044c\u043c\u043e"), "a@b.c"),
                 MarkState::None);
        QCOMPARE(markOne(QStringLiteral("\u4f1a\u8bae\u901a\u77e5"), "a@b.c"), MarkState::None);
        QCOMPARE(markOne(QStringLiteral("\u03a3\u03b7\u03bc\u03b5\u03af\u03c9\u03c3\u03b7"), "a@b.c"), MarkState::None);
        QCOMPARE(markOne("!!! 100 %", "a@b.c"), MarkState::Check);
        QCOMPARE(markOne(QStringLiteral("\u0421\u041a\u0418\u0414\u041a\u0418 90%"), "a@b.c"), MarkState::Check);
    }

    // Precedence between the tests

    void questionSubjectThenCheckSender()
    {
        setRules(rules.SubjectRules, {{"", "Contains", "offer", "No", "No", "0"}});
        setRules(rules.SenderRules, {{"", "Domain name", "Equals", "spam.com", "Yes", "0"}});
        QCOMPARE(markOne("An offer", "joe@spam.com"), MarkState::Check);
        QCOMPARE(hits(rules.SubjectRules, 1), QStringLiteral("1"));
        QCOMPARE(hits(rules.SenderRules, 1), QStringLiteral("1"));
    }

    void checkSubjectStopsBeforeTheSender()
    {
        setRules(rules.SubjectRules, {{"", "Contains", "offer", "No", "Yes", "0"}});
        setRules(rules.SenderRules, {{"", "Domain name", "Equals", "spam.com", "No", "0"}});
        QCOMPARE(markOne("An offer", "joe@spam.com"), MarkState::Check);
        QCOMPARE(hits(rules.SenderRules, 1), QStringLiteral("0"));
    }

    void questionRowsUpToTheFirstCheckRowAreCounted()
    {
        setRules(rules.SubjectRules, {{"", "Contains", "free", "No", "No", "0"},
                                      {"", "Contains", "money", "No", "No", "0"},
                                      {"", "Contains", "now", "No", "Yes", "0"},
                                      {"", "Contains", "free", "No", "Yes", "0"}});
        QCOMPARE(markOne("free money now", "a@b.c"), MarkState::Check);
        QCOMPARE(hits(rules.SubjectRules, 1), QStringLiteral("1"));
        QCOMPARE(hits(rules.SubjectRules, 2), QStringLiteral("1"));
        QCOMPARE(hits(rules.SubjectRules, 3), QStringLiteral("1"));
        QCOMPARE(hits(rules.SubjectRules, 4), QStringLiteral("0"));
    }

    void anEmptyRuleRowEndsTheScan()
    {
        setRules(rules.SubjectRules, {{"", "", "", "", "", ""}, {"", "Contains", "free", "No", "Yes", "0"}});
        setRules(rules.SenderRules, {{"", "", "", "", "", ""}, {"", "Domain name", "Equals", "b.c", "Yes", ""}});
        QCOMPARE(markOne("free", "a@b.c"), MarkState::None);
    }

    void aQuestionNeverReplacesACheckExceptBySize()
    {
        setRules(rules.SubjectRules, {{"", "Contains", "free", "No", "No", "0"}});
        Message message{"free", "a@b.c", "1000", MarkState::Check, {}};
        QCOMPARE(markOne(message), MarkState::Check); // stopped at once: nothing counted
        QCOMPARE(hits(rules.SubjectRules, 1), QStringLiteral("0"));

        rules.sizeRules.largerEnabled = true;
        rules.sizeRules.largerLimit = 500;
        rules.sizeRules.largerCheck = false;
        QCOMPARE(markOne(message), MarkState::Question);
        QCOMPARE(hits(rules.SubjectRules, 1), QStringLiteral("1"));
    }

    void sizeLimitsAreStrict()
    {
        rules.sizeRules = {true, 100, true, true, 5000, false};
        QCOMPARE(markOne(Message{"", "a@b.c", "100"}), MarkState::None);
        QCOMPARE(markOne(Message{"", "a@b.c", "5000"}), MarkState::None);
        QCOMPARE(markOne(Message{"", "a@b.c", "99"}), MarkState::Check);
        QCOMPARE(markOne(Message{"", "a@b.c", "5001"}), MarkState::Question);
        QCOMPARE(markOne(Message{"", "a@b.c", "12k"}), MarkState::None);
    }

    void knownSpammerReplacesAnythingButACheck()
    {
        rules.knownListEnabled = true;
        rules.knownList.setEntries({"spam.com", "joe@bulk.net"});
        setRules(rules.SubjectRules, {{"", "Contains", "hi", "No", "No", ""}});
        QCOMPARE(markOne("hi", "x@SPAM.com"), MarkState::KnownSpammer);
        QCOMPARE(markOne("hello", "Joe@Bulk.net"), MarkState::KnownSpammer);
        QCOMPARE(markOne(Message{"", "x@spam.com", "1", MarkState::Check}), MarkState::Check);
        rules.knownListEnabled = false;
        QCOMPARE(markOne("", "x@spam.com"), MarkState::None);
    }

    void everyRowOrOneRow()
    {
        setRules(rules.SubjectRules, {{"", "Contains", "free", "No", "Yes", ""}});
        source.rows = {Message{"free"}, Message{"hello"}, Message{"FREE"}};
        engine->MarkForDeletion(-1);
        QCOMPARE(source.rows[0].mark, MarkState::Check);
        QCOMPARE(source.rows[1].mark, MarkState::None);
        QCOMPARE(source.rows[2].mark, MarkState::Check);
        engine->MarkForDeletion(3); // no such row
        QCOMPARE(hits(rules.SubjectRules, 1), QStringLiteral("2"));
    }

    // Header rules

    void threeHeaderRowsStopAfterTheCheckRow()
    {
        setRules(rules.HeaderRules, {{"", "Contains", "Floodgate", "No", "No", "0"},
                                     {"", "Contains", "nowhere-to-be-found", "No", "Yes", "0"},
                                     {"", "Starts with", "Message-ID:", "No", "Yes", "0"}});
        QCOMPARE(markOne("hi", "a@b.c"), MarkState::Question);
        QCOMPARE(hits(rules.HeaderRules, 1), QStringLiteral("1"));
        QCOMPARE(hits(rules.HeaderRules, 3), QStringLiteral("0"));

        source.rows[0].mark = MarkState::None;
        engine->setExplainMode(true);
        engine->MarkForDeletion(0);
        QCOMPARE(source.rows[0].mark, MarkState::Check);
        QCOMPARE(hits(rules.HeaderRules, 3), QStringLiteral("0"));
    }

    void aCheckHeaderRowThatDoesNotMatchLetsTheNextRowsBeTried()
    {
        setRules(rules.HeaderRules, {{"", "Contains", "nowhere-to-be-found", "No", "Yes", "0"},
                                     {"", "Contains", "Floodgate", "No", "No", "0"},
                                     {"", "Starts with", "Message-ID:", "No", "Yes", "0"},
                                     {"", "Contains", "relay", "No", "Yes", "0"}});
        QCOMPARE(markOne("hi", "a@b.c"), MarkState::Check);
        QCOMPARE(hits(rules.HeaderRules, 1), QStringLiteral("0"));
        QCOMPARE(hits(rules.HeaderRules, 2), QStringLiteral("1"));
        QCOMPARE(hits(rules.HeaderRules, 3), QStringLiteral("1"));
        QCOMPARE(hits(rules.HeaderRules, 4), QStringLiteral("0")); // after the matching check row

        // With only the non-matching check row before it, a question row still counts.
        setRules(rules.HeaderRules, {{"", "Contains", "nowhere-to-be-found", "No", "Yes", "0"},
                                     {"", "Contains", "Floodgate", "No", "No", "0"}});
        QCOMPARE(markOne("hi", "a@b.c"), MarkState::Question);
        QCOMPARE(hits(rules.HeaderRules, 2), QStringLiteral("1"));
    }

    void aQuestionHeaderRowCountsEveryMatchingLine()
    {
        setRules(rules.HeaderRules, {{"", "Contains", "relay.example", "No", "No", "0"}});
        QCOMPARE(markOne("hi", "a@b.c"), MarkState::Question);
        QCOMPARE(hits(rules.HeaderRules, 1), QStringLiteral("3")); // the last header line included
    }

    void toDoesNotContain()
    {
        setRules(rules.HeaderRules, {{"", "To does not contain", "me@home.net - MailBox #2", "No", "Yes", "0"}});
        const Message foreign{"hi", "a@b.c", "1", MarkState::None, headersOf("a@b.c", "other@x.org")};
        QCOMPARE(markOne(foreign), MarkState::None); // the rule is for mailbox 2, mailbox 1 is checked
        source.mailbox = 2;
        QCOMPARE(markOne(foreign), MarkState::Check);
        QCOMPARE(markOne(Message{"hi", "a@b.c", "1", MarkState::None, headersOf("a@b.c", "ME@Home.net")}),
                 MarkState::None);
        QCOMPARE(markOne(Message{"hi", "a@b.c", "1", MarkState::None, {"From: a@b.c"}}), MarkState::None);
        QCOMPARE(hits(rules.HeaderRules, 1), QStringLiteral("1"));
    }

    void toDoesNotContainWithoutAddressOrNumberMarksNothing()
    {
        setRules(rules.HeaderRules, {{"", "To does not contain", " - MailBox #1", "No", "Yes", "0"},
                                     {"", "To does not contain", "me@home.net - MailBox #", "No", "Yes", "0"},
                                     {"", "To does not contain", "me@home.net - MailBox #one", "No", "Yes", "0"},
                                     {"", "To does not contain", "1", "No", "Yes", "0"}});
        QCOMPARE(markOne(Message{"hi", "a@b.c", "1", MarkState::None, headersOf("a@b.c", "x@y.z")}), MarkState::None);
    }

    void senderConditions()
    {
        setRules(rules.HeaderRules, {{"", "Sender", "does not match Reply-to", "No", "No", "0"}});
        QCOMPARE(
            markOne(Message{"", "", "1", MarkState::None, headersOf("Joe <joe@a.com>", "me@home.net", "other@b.com")}),
            MarkState::Question);
        QCOMPARE(markOne(Message{"", "", "1", MarkState::None,
                                 headersOf("Joe <joe@a.com>", "me@home.net", "\"Joe\" <JOE@A.COM>")}),
                 MarkState::None);
        QCOMPARE(markOne(Message{"", "", "1", MarkState::None, headersOf("joe@a.com", "me@home.net")}),
                 MarkState::None); // no Reply-to

        setRules(rules.HeaderRules, {{"", "Sender", "equals To field", "No", "Yes", "0"}});
        QCOMPARE(markOne(Message{"", "", "1", MarkState::None, headersOf("\"Me\" <ME@home.net>", "Me <me@home.net>")}),
                 MarkState::Check);
        QCOMPARE(markOne(Message{"", "", "1", MarkState::None, headersOf("joe@a.com", "me@home.net")}),
                 MarkState::None);
    }

    // Explanations

    void explanationLines()
    {
        rules.sizeRules = {false, 5, true, true, 100, false};
        setRules(rules.SubjectRules,
                 {{"", "Contains", "free", "Yes", "Yes", "0"}, {"", "Is UPPERCASE", "", "", "No", "0"}});
        setRules(rules.SenderRules, {{"", "Domain name", "Ends with", "spam.com", "Yes", "0"},
                                     {"", "E-mail address", "All numeric", "ignored", "No", "0"}});
        setRules(rules.HeaderRules, {{"", "Sender", "does not match Reply-to", "Yes", "No", "0"}});
        rules.knownListEnabled = true;
        rules.knownList.add("spam.com");

        const auto allHits = [this] {
            QStringList cells;
            for (RuleTable table : AllRuleTables)
                for (int r = 1; r < rules.table(table).rowCount(); ++r)
                    cells.append(hits(rules.table(table), r));
            return cells;
        };
        const QStringList hitsBefore = allHits();
        engine->setExplainMode(true);
        markOne(Message{"free NOW", "123@spam.com", "2000", MarkState::None,
                        headersOf("123@spam.com", "me@home.net", "x@y.z")});
        const QStringList expected{
            "Question :  Size larger than \"100\" ",
            "Delete   :  Subject Contains \"free\"  (Case Sensitive)",
            "Delete   :  Domain name Ends with \"spam.com\" ",
            "Question :  E-mail address All numeric",
            "Question :  Header Sender \"x@y.z does not match Reply-to 123@spam.com\"  (Case Sensitive)",
            "Delete   :  Domain \"spam.com\" is on the KNOWN SPAMMER BLACKLIST (you may edit if this is in error)",
        };
        QCOMPARE(engine->memoWhy(), expected);
        QCOMPARE(source.rows[0].mark, MarkState::Check);
        QCOMPARE(allHits(), hitsBefore);
    }

    void anExceptionIsExplainedByOneLine()
    {
        setRules(rules.ExceptionRules,
                 {{"Subject", "Starts with", "Re:", "Yes", "0"}, {"E-mail address", "Equals", "joe@", "No", "0"}});
        setRules(rules.SubjectRules, {{"", "Contains", "free", "No", "Yes", "0"}});
        engine->setExplainMode(true);
        markOne("Re: free", "joe@x.com");
        QCOMPARE(engine->memoWhy(), QStringList{"Exception :  Subject Starts with \"Re:\"  (Case Sensitive)"});
        QCOMPARE(hits(rules.ExceptionRules, 1), QStringLiteral("0"));
    }

    void toDoesNotContainExplanation()
    {
        setRules(rules.HeaderRules, {{"", "To does not contain", "me@home.net - MailBox #1", "No", "Yes", "0"}});
        engine->setExplainMode(true);
        markOne(Message{"", "a@b.c", "1", MarkState::None, headersOf("a@b.c", "you@x.org")});
        QCOMPARE(engine->memoWhy(),
                 QStringList{"Delete   :  Header \"you@x.org\" To does not contain \"me@home.net\" "});
    }

    // Kept decisions

    // A check decides each row as it arrives and every row again at the end;
    // the second check lays the kept decisions on rows whose texts it never
    // reads, with the same marks and the same hits. An edited rule decides
    // afresh; a moved hit counter does not.
    void keptDecisionsMarkAndCountAsTheRulesDo()
    {
        const auto check = [this](MarkingMemo *memo, const QList<Message> &messages) {
            source.rows = messages;
            MarkingEngine marking(rules, source);
            marking.setMemo(memo);
            for (int row = 0; row < messages.size(); ++row)
                marking.MarkForDeletion(row);
            marking.MarkForDeletion(-1);
            QList<MarkState> marks;
            for (const Message &message : source.rows)
                marks << message.mark;
            return marks;
        };
        const auto allHits = [this] {
            QStringList counted;
            for (RuleTable table : AllRuleTables)
                for (int row = 1; row < rules.table(table).rowCount(); ++row)
                    counted << hits(rules.table(table), row);
            return counted;
        };
        setEveryKindOfRule(rules);
        const QList<MarkState> expected = check(nullptr, everyKindOfMessage());
        QCOMPARE(expected,
                 (QList<MarkState>{MarkState::Exception, MarkState::Check, MarkState::Question, MarkState::Question,
                                   MarkState::KnownSpammer, MarkState::Check, MarkState::None}));
        const QStringList onceHits = allHits();

        rules = RuleSet();
        setEveryKindOfRule(rules);
        RowMemo memo;
        QCOMPARE(check(&memo, everyKindOfMessage()), expected);
        QCOMPARE(allHits(), onceHits);
        // Each row's second decision was made with its first.
        QCOMPARE(memo.recalled, expected.size());

        const QList<Message> unread(expected.size(), Message{});
        memo.recalled = 0;
        QCOMPARE(check(&memo, unread), expected);
        QCOMPARE(memo.recalled, 2 * expected.size());
        for (int i = 0; i < onceHits.size(); ++i)
            QCOMPARE(allHits().at(i).toInt(), 2 * onceHits.at(i).toInt());

        rules.SubjectRules.setCell(SubjectCol::Matches, 2, QStringLiteral("prize"));
        QCOMPARE(check(&memo, unread), QList<MarkState>(expected.size(), MarkState::None));
    }

    // The learner judges only what the rules leave unmarked; a spam verdict
    // asks, and deletes only at the user's score.
    void theLearnerComesAfterTheRules_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<double>("score");
        QTest::addColumn<bool>("markForDeletion");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<MarkState>("mark");
        QTest::newRow("an exception") << "minutes" << 0.999 << true << true << MarkState::Exception;
        QTest::newRow("a rule's question") << "offer" << 0.001 << false << true << MarkState::Question;
        QTest::newRow("unmarked, spam") << "hello" << 0.95 << false << true << MarkState::Question;
        QTest::newRow("unmarked, unsure") << "hello" << 0.5 << true << true << MarkState::None;
        QTest::newRow("spam, below the deletion score") << "hello" << 0.99 << true << true << MarkState::Question;
        QTest::newRow("spam, at the deletion score") << "hello" << 0.995 << true << true << MarkState::Check;
        QTest::newRow("spam, learning off") << "hello" << 0.999 << false << false << MarkState::None;
    }

    void theLearnerComesAfterTheRules()
    {
        QFETCH(QString, subject);
        QFETCH(double, score);
        QFETCH(bool, markForDeletion);
        QFETCH(bool, ready);
        QFETCH(MarkState, mark);
        setRules(rules.ExceptionRules, {{"Subject", "Contains", "minutes", "No", "0"}});
        setRules(rules.SubjectRules, {{"", "Contains", "offer", "No", "No", "0"}});
        rules.learning.markForDeletion = markForDeletion;
        FixedLearner learner;
        learner.score = score;
        learner.ready = ready;
        engine->setLearner(&learner);
        QCOMPARE(markOne(subject, "a@b.example"), mark);
        QCOMPARE(learner.asked, subject == "hello" && ready ? 1 : 0);

        source.rows[0].mark = MarkState::None;
        engine->setExplainMode(true);
        engine->MarkForDeletion(0);
        const QString why = engine->memoWhy().join(u'\n');
        QCOMPARE(why.contains("From domain: spam.test (seen in 40 spam, 0 ham)"), learner.asked > 1);
    }

    void damagedRecordsKeepNothing_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<int>("changedByte");
        for (int cut : {1, 10, 17, 18, 20, 24})
            QTest::addRow("cut to %d bytes", cut) << cut << -1;
        QTest::newRow("another format") << 0 << 0;
        QTest::newRow("a mark out of range") << 0 << 18;
        QTest::newRow("a table out of range") << 0 << 21;
    }

    void damagedRecordsKeepNothing()
    {
        QFETCH(int, cut);
        QFETCH(int, changedByte);
        const QByteArray fingerprint(16, 'f');
        MarkingRecord record;
        record.keep(fingerprint, MarkState::None, {MarkState::Check, {{RuleTable::Subject, 2}}});
        QByteArray bytes = record.toBytes();
        QCOMPARE(MarkingRecord::fromBytes(bytes).outcome(fingerprint, MarkState::None)->hits.size(), 1);
        if (cut > 0)
            bytes.truncate(cut);
        if (changedByte >= 0)
            bytes[changedByte] = char(0x7f);
        QVERIFY(MarkingRecord::fromBytes(bytes).isEmpty());
    }

    // Hit counters

    void hitCounters()
    {
        setRules(rules.SubjectRules, {{"", "Contains", "a", "No", "No", "2147483647"},
                                      {"", "Contains", "a", "No", "No", "many"},
                                      {"", "Contains", "a", "No", "No", ""}});
        markOne("a", "x@y.z");
        QCOMPARE(hits(rules.SubjectRules, 1), QStringLiteral("2147483647"));
        QCOMPARE(hits(rules.SubjectRules, 2), QStringLiteral("1"));
        QCOMPARE(hits(rules.SubjectRules, 3), QStringLiteral("1"));
    }
};

QTEST_GUILESS_MAIN(TestMarking)
#include "tst_marking.moc"
