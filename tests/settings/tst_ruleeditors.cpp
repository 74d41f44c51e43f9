// The cells each rule editor writes and reads, without any dialog.

#include "settings/ruleeditors.h"

#include "rules/rulelist.h"

#include <QtTest>

using namespace ruleeditors;

namespace {
RowCells row(std::initializer_list<const char *> texts)
{
    RowCells cells;
    for (const char *t : texts)
        cells << QString::fromUtf8(t);
    return cells;
}
} // namespace

class TestRuleEditors : public QObject
{
    Q_OBJECT

private slots:
    void operatorsShownDifferFromStored()
    {
        QCOMPARE(shownOperators(textOperatorCount), QStringList({"Contains", "Contains (whole word)",
                                                                 "Equals (exact match)", "Starts with", "Ends with"}));
        QCOMPARE(shownOperators(senderOperatorCount).size(), 10);
        QCOMPARE(storedOperator(2), QString("Equals"));
        QCOMPARE(storedOperator(5), QString("Is blank"));
        QCOMPARE(storedOperator(8), QString("50% numeric"));
        QCOMPARE(storedOperator(-1), QString());
        // Looked up exactly, and only among the entries an editor offers.
        QCOMPARE(operatorPosition("Equals", textOperatorCount), 2);
        QCOMPARE(operatorPosition("equals", textOperatorCount), -1);
        QCOMPARE(operatorPosition("Equals (exact match)", textOperatorCount), -1);
        QCOMPARE(operatorPosition("Is blank", textOperatorCount), -1);
        QCOMPARE(operatorPosition("Is blank", subjectOperatorCount), 5);
    }

    void trimmedTexts()
    {
        QCOMPARE(trimmedText(" \t free\x01 "), QString("free"));
        QCOMPARE(trimmedText("a b"), QString("a b"));
    }

    void subjectBlankOperatorDropsTypedPattern()
    {
        SubjectRule rule;
        rule.operatorPos = 5;
        rule.pattern = "typed while hidden";
        rule.caseSensitive = true;
        QVERIFY(!rule.problem());
        RowCells cells;
        rule.writeTo(cells);
        QCOMPARE(cells, row({"", "Is blank", "", "", "Yes", "0"}));

        rule.operatorPos = 6;
        rule.checkMark = false;
        rule.writeTo(cells);
        QCOMPARE(cells, row({"", "Is UPPERCASE", "", "", "No", "0"}));
    }

    void subjectPatternIsRequiredAndTrimmed()
    {
        SubjectRule rule;
        for (const char *blank : {"", "   ", "\r\n", "\t\t", "\b \x7f"}) {
            rule.pattern = blank;
            QCOMPARE(rule.problem().value_or(QString()),
                     QString("Please enter the text to look for in the subject line."));
        }
        rule.pattern = "  free money \r\n";
        QVERIFY(!rule.problem());
        RowCells cells = row({"", "", "", "", "", "17"});
        rule.writeTo(cells);
        QCOMPARE(cells, row({"", "Contains", "free money", "No", "Yes", "17"}));
    }

    void subjectFilledFromRow()
    {
        const SubjectRule rule = SubjectRule::fromRow(row({"", "Equals", "Hello", "Yes", "No", "4"}));
        QCOMPARE(rule.operatorPos, 2);
        QCOMPARE(rule.pattern, QString("Hello"));
        QVERIFY(rule.caseSensitive);
        QVERIFY(!rule.checkMark);

        // An unknown operator leaves the list without a choice; writing back keeps it.
        SubjectRule odd = SubjectRule::fromRow(row({"", "Sounds like", "x", "no", "yes", ""}));
        QCOMPARE(odd.operatorPos, -1);
        QVERIFY(!odd.caseSensitive && !odd.checkMark);
        RowCells cells = row({"", "Sounds like", "x", "no", "yes", ""});
        odd.writeTo(cells);
        QCOMPARE(cells, row({"", "Sounds like", "x", "No", "No", "0"}));
    }

    void headerMessageHeaderRule()
    {
        HeaderRule rule; // a new dialog: Message Header, Contains, "X-1"
        RowCells cells;
        rule.writeTo(cells);
        QCOMPARE(cells, row({"", "Contains", "X-1", "No", "Yes", "0"}));

        for (const char *blank : {"", " ", "\t", "\r\n"}) {
            rule.headerText = blank;
            QVERIFY2(rule.problem(), blank);
            QCOMPARE(rule.problem()->message, QString("The header text cannot be blank"));
            QCOMPARE(rule.problem()->field, HeaderRule::Field::HeaderText);
        }

        // Stored as typed, blanks included.
        rule.headerText = " X-Mailer: Floodgate ";
        rule.operatorPos = 3;
        rule.caseSensitive = true;
        rule.checkMark = false;
        rule.writeTo(cells);
        QCOMPARE(cells, row({"", "Starts with", " X-Mailer: Floodgate ", "Yes", "No", "0"}));
    }

    void headerReplyToRowRoundTrips()
    {
        const RowCells stored = row({"", "Sender", "does not match Reply-to", "No", "Yes", "9"});
        const HeaderRule rule = HeaderRule::fromRow(stored);
        QCOMPARE(rule.choice, HeaderChoice::ReplyToMismatch);
        QVERIFY(rule.headerText.isEmpty());
        QVERIFY(!rule.problem());
        RowCells cells = stored;
        rule.writeTo(cells);
        QCOMPARE(cells, stored);

        const HeaderRule equalsTo = HeaderRule::fromRow(row({"", "Sender", "equals To field", "No", "No", "1"}));
        QCOMPARE(equalsTo.choice, HeaderChoice::SenderEqualsTo);
        QVERIFY(!equalsTo.checkMark);
    }

    void headerToRuleTakesChosenMailbox()
    {
        HeaderRule rule;
        rule.choice = HeaderChoice::ToDoesNotContain;
        rule.toText = "me@example.org - MailBox #7";
        rule.mailbox = 3;
        rule.caseSensitive = true;
        RowCells cells;
        rule.writeTo(cells);
        QCOMPARE(cells, row({"", "To does not contain", "me@example.org - MailBox #3", "No", "Yes", "0"}));

        // Only the address before " - MailBox #" is looked for, so it must be there.
        for (const char *blank : {"", "  ", " - MailBox #7"}) {
            rule.toText = blank;
            QVERIFY2(rule.problem(), blank);
            QCOMPARE(rule.problem()->message, QString("The TO field cannot be blank"));
            QCOMPARE(rule.problem()->field, HeaderRule::Field::ToText);
        }
        rule.toText = " me@example.org ";
        QVERIFY(!rule.problem());
    }

    void headerToRowFilled()
    {
        const HeaderRule rule =
            HeaderRule::fromRow(row({"", "To does not contain", "me@example.org - MailBox #12", "No", "Yes", "2"}));
        QCOMPARE(rule.choice, HeaderChoice::ToDoesNotContain);
        QCOMPARE(rule.toText, QString("me@example.org"));
        QCOMPARE(rule.mailbox, 12);

        // Written while no mailbox was configured: no number, and nothing fails.
        for (const char *matches : {"me@example.org - MailBox #", "me@example.org - MailBox #x", "me@example.org"}) {
            const HeaderRule bare = HeaderRule::fromRow(row({"", "To does not contain", matches, "No", "Yes", ""}));
            QCOMPARE(bare.choice, HeaderChoice::ToDoesNotContain);
            QCOMPARE(bare.toText, QString("me@example.org"));
            QCOMPARE(bare.mailbox, 0);
        }
    }

    void headerServerFindings_data()
    {
        QTest::addColumn<QString>("finding");
        QTest::addColumn<QString>("typedLevel");
        QTest::addColumn<bool>("checkMark");
        QTest::addColumn<RowCells>("written");
        // Only "bulk level at least" keeps a level; Case is always "No".
        QTest::newRow("fails DMARC") << "fails DMARC"
                                     << "7" << true << row({"", "fails DMARC", "", "No", "Yes", "0"});
        QTest::newRow("fails DKIM") << "fails DKIM"
                                    << "" << false << row({"", "fails DKIM", "", "No", "No", "0"});
        QTest::newRow("fails SPF") << "fails SPF"
                                   << "" << true << row({"", "fails SPF", "", "No", "Yes", "0"});
        QTest::newRow("passes DMARC") << "passes DMARC"
                                      << "" << false << row({"", "passes DMARC", "", "No", "No", "0"});
        QTest::newRow("spam verdict") << "has a spam verdict"
                                      << "x" << true << row({"", "has a spam verdict", "", "No", "Yes", "0"});
        QTest::newRow("bulk level") << "bulk level at least"
                                    << " 6\t" << true << row({"", "bulk level at least", "6", "No", "Yes", "0"});
    }

    void headerServerFindings()
    {
        QFETCH(QString, finding);
        QFETCH(QString, typedLevel);
        QFETCH(bool, checkMark);
        QFETCH(RowCells, written);
        HeaderRule rule;
        rule.choice = HeaderChoice::ServerFinding;
        rule.findingPos = serverFindingPosition(finding);
        rule.bulkLevel = typedLevel;
        rule.caseSensitive = true;
        rule.checkMark = checkMark;
        QVERIFY(!rule.problem());
        RowCells cells;
        rule.writeTo(cells);
        QCOMPARE(cells, written);

        const HeaderRule back = HeaderRule::fromRow(cells);
        QCOMPARE(back.choice, HeaderChoice::ServerFinding);
        QCOMPARE(back.findingPos, rule.findingPos);
        QCOMPARE(back.checkMark, checkMark);
        back.writeTo(cells);
        QCOMPARE(cells, written);
    }

    void bulkLevelIsOneDigit_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("0") << "0" << true;
        QTest::newRow("9 with blanks") << " 9 " << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank") << " " << false;
        QTest::newRow("10") << "10" << false;
        QTest::newRow("-1") << "-1" << false;
        QTest::newRow("letter") << "x" << false;
        QTest::newRow("Arabic-Indic three") << QString(QChar(0x0663)) << false;
    }

    void bulkLevelIsOneDigit()
    {
        QFETCH(QString, level);
        QFETCH(bool, accepted);
        // As read back from a row, so a damaged file's level is refused on OK too.
        HeaderRule rule = HeaderRule::fromRow({"", "bulk level at least", level, "No", "Yes", "3"});
        QCOMPARE(rule.bulkLevel, level);
        QCOMPARE(!rule.problem(), accepted);
        if (!accepted) {
            QCOMPARE(rule.problem()->message, QString("The bulk level must be a number from 0 to 9"));
            QCOMPARE(rule.problem()->field, HeaderRule::Field::BulkLevel);
        }
        rule.findingPos = serverFindingPosition("fails DMARC"); // takes no level
        QVERIFY(!rule.problem());
    }

    void senderHalfNumericHasNoPattern()
    {
        SenderRule rule; // a new dialog: Domain name, Equals, check mark
        rule.operatorPos = 8;
        rule.pattern = "ignored";
        QVERIFY(!rule.problem());
        RowCells cells;
        rule.writeTo(cells);
        QCOMPARE(cells, row({"", "Domain name", "50% numeric", "", "Yes", "0"}));
    }

    void senderPatternRequiredAndTrimmed()
    {
        SenderRule rule;
        rule.emailAddress = true;
        for (const char *blank : {"", " \b", "\t"}) {
            rule.pattern = blank;
            QCOMPARE(rule.problem().value_or(QString()), QString("The Sender field cannot be left blank."));
        }
        rule.pattern = "  casino ";
        rule.checkMark = false;
        RowCells cells;
        rule.writeTo(cells);
        QCOMPARE(cells, row({"", "E-mail address", "Equals", "casino", "No", "0"}));
    }

    void senderFilledFromRow()
    {
        SenderRule rule = SenderRule::fromRow(row({"", "E-mail address", "Ends with", "biz", "Yes", "3"}));
        QVERIFY(rule.emailAddress);
        QCOMPARE(rule.operatorPos, 4);
        QCOMPARE(rule.pattern, QString("biz"));
        QVERIFY(rule.checkMark);

        rule = SenderRule::fromRow(row({"", "e-mail address", "All numeric", "leftover", "No", "3"}));
        QVERIFY(!rule.emailAddress);
        QCOMPARE(rule.operatorPos, 7);
        QVERIFY(rule.pattern.isEmpty());
        QVERIFY(!rule.checkMark);
    }

    void exceptionRules()
    {
        ExceptionRule rule; // a new dialog: the address line, subject operator Contains
        QCOMPARE(rule.problem().value_or(QString()), QString("The email line cannot be blank"));
        rule.address = " "; // only an empty field is refused
        QVERIFY(!rule.problem());
        RowCells cells;
        rule.writeTo(cells);
        QCOMPARE(cells, row({"E-mail address", "Equals", " ", "No", "0", ""}));
        rule.address = " joe@example.org "; // stored as typed
        QVERIFY(!rule.problem());
        rule.writeTo(cells);
        QCOMPARE(cells, row({"E-mail address", "Equals", " joe@example.org ", "No", "0", ""}));

        rule.kind = ExceptionKind::Domain;
        QCOMPARE(rule.problem().value_or(QString()), QString("The domain line cannot be blank"));
        rule.domain = "\t";
        QVERIFY(!rule.problem());
        rule.domain = "example.org";
        rule.caseSensitive = true; // stored for every kind of row
        rule.writeTo(cells);
        QCOMPARE(cells, row({"Domain name", "Equals", "example.org", "Yes", "0", ""}));

        rule.kind = ExceptionKind::Subject;
        QCOMPARE(rule.problem().value_or(QString()), QString("The subject line cannot be blank"));
        rule.subject = "  ";
        QVERIFY(!rule.problem());
        rule.subject = "Invoice";
        rule.operatorPos = 3;
        cells[4] = "41";
        rule.writeTo(cells);
        QCOMPARE(cells, row({"Subject", "Starts with", "Invoice", "Yes", "41", ""}));
    }

    void exceptionFilledFromRow()
    {
        ExceptionRule rule = ExceptionRule::fromRow(row({"Domain name", "Equals", "example.org", "No", "1"}));
        QCOMPARE(rule.kind, ExceptionKind::Domain);
        QCOMPARE(rule.domain, QString("example.org"));
        QCOMPARE(rule.operatorPos, 2);
        QVERIFY(!rule.dmarcOnly); // a row of the earlier five columns

        rule = ExceptionRule::fromRow(row({"Whatever", "Nonsense", "Hello", "Yes", ""}));
        QCOMPARE(rule.kind, ExceptionKind::Subject);
        QCOMPARE(rule.subject, QString("Hello"));
        QCOMPARE(rule.operatorPos, 0); // the list keeps "Contains"
        QVERIFY(rule.caseSensitive);
    }

    void exceptionDmarcOnly_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("dmarcOnly");
        QTest::addColumn<QString>("written");
        QTest::newRow("address") << int(ExceptionKind::Address) << true << "Yes";
        QTest::newRow("domain") << int(ExceptionKind::Domain) << true << "Yes";
        QTest::newRow("subject") << int(ExceptionKind::Subject) << true << ""; // DMARC speaks of the From domain
        QTest::newRow("off") << int(ExceptionKind::Address) << false << "";
    }

    void exceptionDmarcOnly()
    {
        QFETCH(int, kind);
        QFETCH(bool, dmarcOnly);
        QFETCH(QString, written);
        ExceptionRule rule;
        rule.kind = static_cast<ExceptionKind>(kind);
        rule.address = rule.domain = rule.subject = "example.org";
        rule.dmarcOnly = dmarcOnly;
        RowCells cells{"", "", "", "", "", "Yes"};
        rule.writeTo(cells);
        QCOMPARE(cells.size(), int(ExceptCol::Count));
        QCOMPARE(cells[ExceptCol::DmarcOnly], written);
        QCOMPARE(ExceptionRule::fromRow(cells).dmarcOnly, !written.isEmpty());
    }

    void importDropsOnlyImmediateRepeats()
    {
        QCOMPARE(importedLines("free\nfree\nFREE\nfree"), QStringList({"free", "FREE", "free"}));
        QCOMPARE(importedLines("a\r\nb\r\nb"), QStringList({"a", "b"}));
        // The line before the first counts as empty.
        QCOMPARE(importedLines("\nx"), QStringList({"x"}));
        QCOMPARE(importedLines(""), QStringList());
        // Long lines arrive whole, however the box wrapped them.
        const QString longLine(500, u'w');
        QCOMPARE(importedLines(longLine + "\nshort"), QStringList({longLine, "short"}));
    }

    void importedRows()
    {
        RowCells cells;
        writeImportedKeyword("  free \r", cells);
        QCOMPARE(cells, row({"", "Contains (whole word)", "free", "No", "Yes", ""}));
        cells.clear();
        writeImportedAddress(" a@b.c, d@e.f ", cells);
        QCOMPARE(cells, row({"E-mail address", "Equals", "a@b.c, d@e.f", "No", "", ""}));
    }

    void importSkipsLinesWithoutAVisibleCharacter()
    {
        RuleList keywords(RuleTable::Subject);
        QCOMPARE(importRules(keywords, {" free ", "\t", " \r", "", "win $"}, ImportKind::SubjectKeywords), 2);
        QCOMPARE(keywords.rowCount(), 3);
        QCOMPARE(rowCells(keywords, 1), row({"", "Contains (whole word)", "free", "No", "Yes", ""}));
        QCOMPARE(rowCells(keywords, 2), row({"", "Contains (whole word)", "win $", "No", "Yes", ""}));

        RuleList addresses(RuleTable::Exception);
        QCOMPARE(importRules(addresses, {"\t\t", "mum@home.example"}, ImportKind::ExceptionAddresses), 1);
        QCOMPARE(rowCells(addresses, 1), row({"E-mail address", "Equals", "mum@home.example", "No", "", ""}));
    }

    void mailboxEntries()
    {
        const MailboxChoice box{3, "joe", "pop.example.org:995"};
        QCOMPARE(headerMailboxEntry(box), QString("3) joe - server pop.example.org:995"));
        QCOMPARE(chooserMailboxEntry(box), QString("3) Mailbox joe - Server pop.example.org:995"));
        QCOMPARE(leadingMailboxNumber(chooserMailboxEntry(box)), 3);
        QCOMPARE(leadingMailboxNumber("12) x"), 12);
        QCOMPARE(leadingMailboxNumber("no number"), 0);
        QCOMPARE(leadingMailboxNumber(") x"), 0);
    }
};

QTEST_GUILESS_MAIN(TestRuleEditors)
#include "tst_ruleeditors.moc"
