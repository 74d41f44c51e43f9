#include "rules/listfiles.h"
#include "rules/marking.h"
#include "rules/ruletexts.h"
#include "support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

void setRow(RuleList &table, int row, const QStringList &cells)
{
    for (int c = 0; c < cells.size(); ++c)
        table.setCell(c, row, cells[c]);
}

const QByteArray ElevenLines = "6,2\r\n1,0,What\r\n2,0,Matches\r\n3,0,Case\r\n4,0,Del?\r\n5,0,Hits\r\n"
                               "1,1,Contains\r\n2,1,free\r\n3,1,No\r\n4,1,Yes\r\n5,1,12\r\n";

// One listed message, as the marking decision reads it.
class OneMessage : public MarkingSource
{
public:
    OneMessage(const QString &subject, const QString &sender) : subject_(subject), sender_(sender) {}
    int rowCount() const override { return 1; }
    QString subject(int) const override { return subject_; }
    QString sender(int) const override { return sender_; }
    QString size(int) const override { return QStringLiteral("1000"); }
    MarkState mark(int) const override { return mark_; }
    void setMark(int, MarkState mark) override { mark_ = mark; }
    TmsHeaders headerLines(int) const override { return {"From: " + sender_, "Subject: " + subject_}; }
    int serverToIndex() const override { return 1; }

private:
    QString subject_;
    QString sender_;
    MarkState mark_ = MarkState::None;
};

} // namespace

class TestListFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }

private slots:
    void init()
    {
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(name));
    }

    // File format and round trip

    void writesTheDocumentedLayoutByteForByte()
    {
        RuleList table(RuleTable::Subject);
        setRow(table, 1, {"", "Contains", "free", "No", "Yes", "12"});
        QCOMPARE(serializeRuleList(table), ElevenLines);
    }

    void readsTheDocumentedLayout()
    {
        QVERIFY(writeFile(path("subj.lst"), ElevenLines));
        RuleList table(RuleTable::Subject);
        QVERIFY(loadRuleList(table, path("subj.lst")));
        QCOMPARE(table.rowCount(), 2);
        QCOMPARE(table.cell(SubjectCol::Matches, 1), QStringLiteral("free"));
        QCOMPARE(table.cell(SubjectCol::Hits, 1), QStringLiteral("12"));
        QCOMPARE(table.picture(1), MarkState::Check);
        QCOMPARE(serializeRuleList(table), ElevenLines);
    }

    void roundTripKeepsCommasLineBreaksAndEmptyRows()
    {
        RuleList table(RuleTable::Header);
        table.setRowCount(5);
        setRow(table, 1, {"", "Contains", "a,b,,c", "Yes", "No", "3"});
        setRow(table, 3, {"", "Equals", "line one\r\nline two\nthree\r", "No", "Yes", ""});
        setRow(table, 4, {"", "Ends with", QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac"), "No", "Yes", "0"});
        QString error;
        QVERIFY(saveRuleList(table, path("header.lst"), error));
        QVERIFY(!readFile(path("header.lst")).contains("\n2,2"));

        RuleList loaded(RuleTable::Header);
        QVERIFY(loadRuleList(loaded, path("header.lst")));
        QCOMPARE(loaded.rowCount(), 5);
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 6; ++c)
                QCOMPARE(loaded.cell(c, r), table.cell(c, r));
        QCOMPARE(loaded.picture(2), MarkState::Question);
        QCOMPARE(loaded.picture(3), MarkState::Check);
    }

    void tabAndBackspaceComeBackAsLineBreaks()
    {
        RuleList table(RuleTable::Subject);
        table.setCell(SubjectCol::Matches, 1, "a\tb\bc");
        QString error;
        QVERIFY(saveRuleList(table, path("subj.lst"), error));
        QVERIFY(loadRuleList(table, path("subj.lst")));
        QCOMPARE(table.cell(SubjectCol::Matches, 1), QStringLiteral("a\rb\nc"));
    }

    void readsWindows1252Files()
    {
        QVERIFY(writeFile(path("subj.lst"), "6,2\r\n2,1,caf\xe9 \x80\r\n"));
        RuleList table(RuleTable::Subject);
        QVERIFY(loadRuleList(table, path("subj.lst")));
        QCOMPARE(table.cell(2, 1), QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac"));
    }

    void extraColumnsAreCutAndCtrlZEndsTheFile()
    {
        QVERIFY(writeFile(path("except.lst"), "8,2\r\n7,1,gone\r\n2,1,kept\r\n\x1a"
                                              "9,9,garbage\r\n"));
        RuleList table(RuleTable::Exception);
        QVERIFY(loadRuleList(table, path("except.lst")));
        QCOMPARE(table.columnCount(), 6);
        QCOMPARE(table.cell(2, 1), QStringLiteral("kept"));
        // The DMARC column is written only while a rule uses it.
        QVERIFY(serializeRuleList(table).startsWith("5,2\r\n"));
        table.setCell(ExceptCol::DmarcOnly, 1, QStringLiteral("Yes"));
        QVERIFY(serializeRuleList(table).startsWith("6,2\r\n"));
        QVERIFY(serializeRuleList(table).endsWith("5,0,DMARC?\r\n2,1,kept\r\n5,1,Yes\r\n"));
    }

    void emptyFirstLineKeepsTheTableSize()
    {
        QVERIFY(writeFile(path("from.lst"), "\r\n3,3,x\r\n"));
        RuleList table(RuleTable::Sender);
        table.setRowCount(4);
        QVERIFY(loadRuleList(table, path("from.lst")));
        QCOMPARE(table.rowCount(), 4);
        QCOMPARE(table.cell(3, 3), QStringLiteral("x"));
    }

    // A save that changes nothing leaves each file as it was: a file in the
    // form this program writes, and one it would write otherwise.
    void anUnchangedSaveLeavesTheFileAsItWas_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("asWritten"); // the form this program writes
        QTest::newRow("subject, documented") << "subj.lst" << ElevenLines << true;
        QTest::newRow("exception, interior empty row")
            << "except.lst"
            << QByteArray("5,4\r\n0,0,What\r\n1,0,Condition\r\n2,0,Matches\r\n3,0,Case?\r\n4,0,Hits\r\n"
                          "0,1,Subject\r\n1,1,Contains\r\n2,1,a, b\r\n3,1,No\r\n"
                          "0,3,E-mail address\r\n2,3,x@y.org\r\n4,3,7\r\n")
            << true;
        QTest::newRow("sender, only the empty rule row")
            << "from.lst" << QByteArray("6,2\r\n1,0,What\r\n2,0,Condition\r\n3,0,Matches\r\n4,0,Del?\r\n5,0,Hits\r\n")
            << true;
        QByteArray large = "6,3001\r\n1,0,What\r\n2,0,Matches\r\n3,0,Case\r\n4,0,Del?\r\n5,0,Hits\r\n";
        for (int r = 1; r <= 3000; ++r)
            large += QStringLiteral("1,%1,Contains\r\n2,%1,word %1\r\n4,%1,Yes\r\n").arg(r).toUtf8();
        QTest::newRow("header, 3000 rules") << "header.lst" << large << true;
        QTest::newRow("subject, empty last rows")
            << "subj.lst"
            << QByteArray("6,4\r\n1,0,What\r\n2,0,Matches\r\n3,0,Case\r\n4,0,Del?\r\n5,0,Hits\r\n"
                          "1,1,Is blank\r\n4,1,No\r\n")
            << true;
        QTest::newRow("Windows-1252, no headings") << "subj.lst" << QByteArray("6,2\r\n2,1,caf\xe9\r\n") << false;
        QTest::newRow("LF line ends") << "from.lst" << QByteArray("6,3\n1,1,Domain name\n") << false;
        QTest::newRow("cells out of order") << "except.lst" << QByteArray("5,3\r\n2,2,b\r\n2,1,a\r\n") << false;
        QTest::newRow("more columns declared") << "header.lst" << QByteArray("8,2\r\n7,1,gone\r\n") << false;
        QTest::newRow("options with blanks and other keys")
            << "mailsieve.ini"
            << QByteArray("[Smaller]\r\nQSmaller = 0\r\nNum=5\r\nCheck=1\r\n[Larger]\r\nQLarger=0\r\nNum=20000\r\n"
                          "Check=1\r\n; kept\r\n[Known]\r\nQMonitor=0\r\nOther=x")
            << false;
    }

    void anUnchangedSaveLeavesTheFileAsItWas()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, asWritten);
        QVERIFY(writeFile(path(name), bytes));
        RuleSet rules;
        QVERIFY(readSettings(rules, dir.path()).ok());
        QVERIFY(Savesettings(rules, dir.path()).ok());
        QCOMPARE(readFile(path(name)), bytes);
        for (RuleTable which : AllRuleTables)
            if (asWritten && listFileName(which) == name)
                QCOMPARE(serializeRuleList(rules.table(which)), bytes);
    }

    // The learner's options go to "mailsieve.ini" once they differ from the
    // defaults (an earlier file saves unchanged, above) and come back as
    // written; values that do not fit together give the defaults.
    void learningOptionsComeBackAsWritten()
    {
        RuleSet rules;
        rules.learning = {false, 0.1, 0.8, true, 0.99};
        QVERIFY(Savesettings(rules, dir.path()).ok());
        RuleSet read;
        QVERIFY(readSettings(read, dir.path()).ok());
        QVERIFY(read.learning == rules.learning);
        const QString ini = path(ruleOptionsFileName());
        QVERIFY(writeFile(ini, readFile(ini).replace("HamCutoff=0.1", "HamCutoff=0.95")));
        QVERIFY(readSettings(read, dir.path()).ok());
        QVERIFY(read.learning == LearningOptions());
    }

    // What an earlier version left in the program folder: a sparse exception
    // table (40 rows, an address on row 30 and a subject of one blank on
    // row 35) and tables whose last rows are empty.
    void anEarlierProgramFolderKeepsEveryException_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<MarkState>("mark");
        QTest::addColumn<int>("exceptionRow");
        QTest::addColumn<QString>("hits"); // of that row after the mark
        QTest::newRow("address on row 30") << "free gift"
                                           << "Boss@work.example" << MarkState::Exception << 30 << "3";
        QTest::newRow("blank subject on row 35") << "free offer"
                                                 << "x@spam.example" << MarkState::Exception << 35 << "1";
        QTest::newRow("no exception") << "free"
                                      << "x@spam.example" << MarkState::Check << 30 << "2";
    }

    void anEarlierProgramFolderKeepsEveryException()
    {
        QFETCH(QString, subject);
        QFETCH(QString, sender);
        QFETCH(MarkState, mark);
        QFETCH(int, exceptionRow);
        QFETCH(QString, hits);
        const QHash<QString, QByteArray> folder{
            {"except.lst", "5,40\r\n0,0,What\r\n1,0,Condition\r\n2,0,Matches\r\n3,0,Case?\r\n4,0,Hits\r\n"
                           "0,30,E-mail address\r\n1,30,Equals\r\n2,30,boss@work.example\r\n3,30,No\r\n4,30,2\r\n"
                           "0,35,Subject\r\n1,35,Contains\r\n2,35, \r\n3,35,No\r\n4,35,0\r\n"},
            {"subj.lst", "6,21\r\n1,0,What\r\n2,0,Matches\r\n3,0,Case\r\n4,0,Del?\r\n5,0,Hits\r\n"
                         "1,1,Contains\r\n2,1,free\r\n3,1,No\r\n4,1,Yes\r\n5,1,0\r\n"},
            {"from.lst", "6,3\r\n1,0,What\r\n2,0,Condition\r\n3,0,Matches\r\n4,0,Del?\r\n5,0,Hits\r\n"},
            {"header.lst", "6,2\r\n1,0,What\r\n2,0,Matches\r\n3,0,Case\r\n4,0,Del?\r\n5,0,Hits\r\n"},
            {"mailsieve.ini", "[Smaller]\r\nQSmaller=0\r\nNum=5\r\nCheck=1\r\n[Larger]\r\nQLarger=0\r\n"
                              "Num=20000\r\nCheck=1\r\n[Known]\r\nQMonitor=0\r\n"}};
        for (auto file = folder.begin(); file != folder.end(); ++file)
            QVERIFY(writeFile(path(file.key()), file.value()));
        RuleSet rules;
        QVERIFY(readSettings(rules, dir.path()).ok());
        QCOMPARE(rules.ExceptionRules.rowCount(), 40);
        QCOMPARE(rules.SubjectRules.rowCount(), 21);
        QVERIFY(Savesettings(rules, dir.path()).ok());
        for (auto file = folder.begin(); file != folder.end(); ++file)
            QCOMPARE(readFile(path(file.key())), file.value());

        OneMessage message(subject, sender);
        MarkingEngine(rules, message).MarkForDeletion(0);
        QCOMPARE(message.mark(0), mark);
        QCOMPARE(rules.ExceptionRules.cell(ExceptCol::Hits, exceptionRow), hits);
        QVERIFY(Savesettings(rules, dir.path()).ok());
        QVERIFY(readFile(path("except.lst")).startsWith("5,40\r\n"));
        QVERIFY(readFile(path("subj.lst")).startsWith("6,21\r\n"));
        RuleSet reloaded;
        QVERIFY(readSettings(reloaded, dir.path()).ok());
        QVERIFY(reloaded.ExceptionRules == rules.ExceptionRules);
        QVERIFY(reloaded.SubjectRules == rules.SubjectRules);
    }

    // The table takes the size on line 1, empty rows included, up to the
    // fixed limit; columns stop at the table's fixed width.
    void declaredSizeIsKept_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("lastCell"); // column 2 of the last row
        QTest::newRow("the largest size, no cells")
            << QStringLiteral("6,%1\r\n").arg(MaxListFileRows).toUtf8() << MaxListFileRows << QString();
        QTest::newRow("cells up to row 3, row 2 empty")
            << QByteArray("6,5\r\n2,3,last\r\n1,3,Contains\r\n2,1,first\r\n") << 5 << QString();
        QTest::newRow("empty and cut cells")
            << QByteArray("8,9\r\n2,1,kept\r\n1,5,\r\n7,6,gone\r\n2,8,last\r\n") << 9 << "last";
        QTest::newRow("huge column dropped")
            << QByteArray("2000000000,2\r\n1999999999,1,gone\r\n2,1,kept\r\n") << 2 << "kept";
        QTest::newRow("fewer rows than the lines") << QByteArray("6,1\r\n2,0,heading\r\n") << 1 << "Matches";
    }

    void declaredSizeIsKept()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, rows);
        QFETCH(QString, lastCell);
        QVERIFY(writeFile(path("subj.lst"), bytes));
        RuleSet rules;
        QVERIFY(readSettings(rules, dir.path()).ok());
        const RuleList &table = rules.SubjectRules;
        QCOMPARE(table.columnCount(), 6);
        QCOMPARE(table.rowCount(), rows);
        QCOMPARE(table.cell(2, rows - 1), lastCell);

        // Written again, the table keeps the size it was read with, and the
        // next start reads the same table.
        QVERIFY(QFile::remove(path("subj.lst")));
        QVERIFY(Savesettings(rules, dir.path()).ok());
        QVERIFY(readFile(path("subj.lst")).startsWith(QStringLiteral("6,%1\r\n").arg(rows).toUtf8()));
        RuleSet reloaded;
        QVERIFY(readSettings(reloaded, dir.path()).ok());
        QVERIFY(reloaded.SubjectRules == table);
    }

    void headingsAreRestoredAfterALoad_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("exception table of one column") << "except.lst" << QByteArray("1,2\r\n");
        QTest::newRow("subject headings overwritten") << "subj.lst" << QByteArray("6,2\r\n0,0,x\r\n1,0,Hits\r\n");
        QTest::newRow("header without heading lines") << "header.lst" << QByteArray("6,2\r\n1,1,Equals\r\n");
        QTest::newRow("sender, empty first line") << "from.lst" << QByteArray("\r\n3,0,\r\n");
    }

    void headingsAreRestoredAfterALoad()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QVERIFY(writeFile(path(name), bytes));
        RuleSet rules;
        for (RuleTable which : AllRuleTables)
            rules.table(which).setCell(0, 0, "stale");
        QVERIFY(readSettings(rules, dir.path()).ok());
        for (RuleTable which : AllRuleTables) {
            const RuleList &table = rules.table(which);
            QCOMPARE(table.columnCount(), table.layout().columns);
            for (int c = 0; c < table.columnCount(); ++c)
                QCOMPARE(table.cell(c, 0), table.layout().headings[c]);
        }
    }

    void missingFileGivesHeadingsAndOneEmptyRow()
    {
        RuleList table(RuleTable::Subject);
        table.setRowCount(7);
        table.setCell(2, 5, "edited");
        QVERIFY(loadRuleList(table, path("subj.lst")));
        QCOMPARE(table.rowCount(), 2);
        QCOMPARE(table.cell(2, 0), QStringLiteral("Matches"));
        QVERIFY(table.cell(1, 1).isEmpty());
    }

    void reloadDropsCellsTheFileDoesNotName()
    {
        QVERIFY(writeFile(path("subj.lst"), ElevenLines));
        RuleList table(RuleTable::Subject);
        QVERIFY(loadRuleList(table, path("subj.lst")));
        table.setCell(SubjectCol::Case, 1, QString());
        table.setCell(SubjectCol::Picture, 1, "typed");
        QVERIFY(loadRuleList(table, path("subj.lst")));
        QCOMPARE(serializeRuleList(table), ElevenLines);
    }

    // Tolerated line breaks

    void emptyLinesAndLfOnlyLineEndsAreRead()
    {
        QVERIFY(writeFile(path("subj.lst"), "6,2\n1,1,Contains\n\n2,1,free\r\n\r\n"));
        RuleList table(RuleTable::Subject);
        QVERIFY(loadRuleList(table, path("subj.lst")));
        QVERIFY(table.loadError().isEmpty());
        QCOMPARE(table.cell(1, 1), QStringLiteral("Contains"));
        QCOMPARE(table.cell(2, 1), QStringLiteral("free"));
    }

    // Load failures

    void loadFailures_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("size not numeric") << QByteArray("6;2\r\n") << "line 1: '6;2' is not a valid integer value";
        QTest::newRow("rows missing") << QByteArray("6\r\n") << "line 1: '' is not a valid integer value";
        QTest::newRow("cell column") << QByteArray("6,2\r\nx,1,a\r\n") << "line 2: 'x' is not a valid integer value";
        QTest::newRow("cell row") << QByteArray("6,2\r\n1, 1,a\r\n") << "line 2: ' 1' is not a valid integer value";
        QTest::newRow("one comma") << QByteArray("6,2\r\n1,1\r\n") << "line 2: '' is not a valid integer value";
        QTest::newRow("outside") << QByteArray("6,2\r\n1,2,a\r\n")
                                 << "line 2: cell 1,2 lies outside the table of 6 columns and 2 rows";
        QTest::newRow("no rows") << QByteArray("6,0\r\n") << "line 1: a table of 6 columns and 0 rows is not possible";
        // A few bytes must not claim memory for millions of rows.
        QTest::newRow("a million rows")
            << QByteArray("64,1000000\r\n1,1,a\r\n")
            << "line 1: a table of 1000000 rows is more than the 100000 a list file may hold";
        QTest::newRow("one row too many")
            << QStringLiteral("6,%1\r\n").arg(MaxListFileRows + 1).toUtf8()
            << QStringLiteral("line 1: a table of %1 rows is more than the %2 a list file may hold")
                   .arg(MaxListFileRows + 1)
                   .arg(MaxListFileRows);
        QTest::newRow("largest integer")
            << QByteArray("2147483647,2147483647\r\n2,1,a\r\n")
            << "line 1: a table of 2147483647 rows is more than the 100000 a list file may hold";
        QTest::newRow("long text cut") << (QByteArray("6,2\r\n") + QByteArray(100000, '7') + "\x1b]0;x\a,1,a\r\n")
                                       << "line 2: '" + QString(40, u'7') + "...' is not a valid integer value";
        QTest::newRow("control characters")
            << QByteArray("6,2\r\n1,\x1b[2J,a\r\n") << "line 2: ' [2J' is not a valid integer value";
    }

    void loadFailures()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QVERIFY(writeFile(path("subj.lst"), bytes));
        RuleList table(RuleTable::Subject);
        table.setCell(SubjectCol::What, 1, "Contains");
        const RuleList before = table;
        QVERIFY(!loadRuleList(table, path("subj.lst")));
        QVERIFY2(table.loadError().endsWith(message), qPrintable(table.loadError()));
        QVERIFY(table.loadError().contains("subj.lst"));
        QVERIFY(table == before); // nothing half-read
    }

    void aFailedTableDoesNotStopTheOthers()
    {
        QVERIFY(writeFile(path("subj.lst"), "garbage\r\n"));
        QVERIFY(writeFile(path("from.lst"), "6,2\r\n1,1,Domain name\r\n"));
        QVERIFY(writeFile(path("mailsieve.ini"), "[Known]\r\nQMonitor=1\r\n"));
        RuleSet rules;
        const RuleFilesResult result = readSettings(rules, dir.path());
        QCOMPARE(result.errors.size(), 1);
        QCOMPARE(result.errors.first(), rules.SubjectRules.loadError());
        QCOMPARE(rules.SenderRules.cell(1, 1), QStringLiteral("Domain name"));
        QVERIFY(rules.knownListEnabled);
    }

    void aTableThatFailedToLoadIsNotSaved()
    {
        const QByteArray damaged = "6,3\r\n1,1,Contains\r\n2,1,free\r\n1,x,Equals\r\n2,2,precious\r\n";
        QVERIFY(writeFile(path("subj.lst"), damaged));
        RuleSet rules;
        readSettings(rules, dir.path());
        QCOMPARE(rules.SubjectRules.loadError(),
                 QDir::toNativeSeparators(path("subj.lst")) + ", line 4: 'x' is not a valid integer value");

        rules.SubjectRules.bumpHits(1); // a marking run is no edit
        RuleFilesResult result = Savesettings(rules, dir.path());
        QCOMPARE(result.errors.size(), 1);
        QVERIFY(result.errors.first().contains("not saved"));
        QCOMPARE(readFile(path("subj.lst")), damaged);
        QVERIFY(QFileInfo::exists(path("header.lst")));

        // The user edits the table: it replaces the file, which is set aside
        // first, and only the first time.
        rules.SubjectRules.setCell(SubjectCol::What, 1, "Equals");
        result = Savesettings(rules, dir.path());
        QCOMPARE(result.errors,
                 QStringList{QDir::toNativeSeparators(path("subj.lst")) + " could not be loaded; it was kept as "
                             + QDir::toNativeSeparators(path("subj.lst.bad"))
                             + " and replaced by the rules as edited"});
        QCOMPARE(readFile(path("subj.lst.bad")), damaged);
        QVERIFY(readFile(path("subj.lst")).contains("1,1,Equals"));
        rules.SubjectRules.setCell(SubjectCol::What, 1, "Contains");
        QVERIFY(Savesettings(rules, dir.path()).ok());
        QCOMPARE(readFile(path("subj.lst.bad")), damaged);
    }

    void anUnreadableFileThatCannotBeSetAsideIsNotSavedOver()
    {
        const QByteArray damaged = "6,2\r\nbroken\r\n";
        QVERIFY(writeFile(path("subj.lst"), damaged));
        QDir(dir.path()).mkpath("subj.lst.bad/inside"); // a folder no copy can replace
        RuleSet rules;
        readSettings(rules, dir.path());
        rules.SubjectRules.setCell(SubjectCol::What, 1, "Equals");
        const RuleFilesResult result = Savesettings(rules, dir.path());
        QCOMPARE(result.errors.size(), 1);
        QVERIFY2(result.errors.first().contains("was not saved"), qPrintable(result.errors.first()));
        QCOMPARE(readFile(path("subj.lst")), damaged);
    }

    void cellsOfRowsAndColumnsWithManyDigitsLandInPlace()
    {
        // Row numbers with a 9 and of two and three digits, as a parser that
        // reads one digit or stops at 9 would get them wrong.
        QByteArray bytes = "6,120\r\n";
        for (int row = 119; row >= 1; --row)
            bytes += QStringLiteral("1,%1,Contains\r\n2,%1,row %1\r\n5,%1,%1\r\n").arg(row).toUtf8();
        QVERIFY(writeFile(path("subj.lst"), bytes));
        RuleSet rules;
        QVERIFY(readSettings(rules, dir.path()).ok());
        const RuleList &table = rules.SubjectRules;
        QCOMPARE(table.rowCount(), 120);
        for (const int row : {9, 10, 19, 90, 99, 119}) {
            QCOMPARE(table.cell(2, row), QStringLiteral("row %1").arg(row));
            QCOMPARE(table.cell(5, row), QString::number(row));
        }
        QCOMPARE(table.cell(3, 99), QString());
    }

    void aSuccessfulReloadClearsTheLoadError()
    {
        QVERIFY(writeFile(path("subj.lst"), "bad\r\n"));
        RuleSet rules;
        readSettings(rules, dir.path());
        QCOMPARE(rules.SubjectRules.loadError(),
                 QDir::toNativeSeparators(path("subj.lst")) + ", line 1: 'bad' is not a valid integer value");
        QVERIFY(writeFile(path("subj.lst"), ElevenLines));
        QVERIFY(readSettings(rules, dir.path()).ok());
        QVERIFY(rules.SubjectRules.loadError().isEmpty());
    }

    void aFailedWriteKeepsThePreviousFile()
    {
        QVERIFY(writeFile(path("subj.lst"), ElevenLines));
        QDir(dir.path()).mkdir("header.lst"); // a folder where the file should be
        RuleSet rules;
        rules.SubjectRules.setCell(SubjectCol::What, 1, "Equals");
        const RuleFilesResult result = Savesettings(rules, dir.path());
        QCOMPARE(result.errors.size(), 1);
        QVERIFY(result.errors.first().contains("header.lst"));
        QVERIFY(readFile(path("subj.lst")).contains("1,1,Equals"));
        QVERIFY(QFileInfo(path("header.lst")).isDir());
    }

    // Rule options

    void optionsDefaultWhenMissingOrUnreadable()
    {
        QVERIFY(writeFile(path("mailsieve.ini"),
                          "[Smaller]\r\nQSmaller=yes\r\nNum=0x10\r\n[Larger]\r\nnum = 300 \r\nCheck=0\r\n"));
        RuleSet rules;
        QString error;
        QVERIFY(readRuleOptions(rules, path("mailsieve.ini"), error));
        QCOMPARE(rules.sizeRules.smallerEnabled, false);
        QCOMPARE(rules.sizeRules.smallerLimit, 16);
        QCOMPARE(rules.sizeRules.smallerCheck, true);
        QCOMPARE(rules.sizeRules.largerLimit, 300);
        QCOMPARE(rules.sizeRules.largerCheck, false);
        QCOMPARE(rules.knownListEnabled, false);
    }

    void optionsAreWrittenInOrderAndOtherContentIsKept()
    {
        RuleSet rules;
        rules.sizeRules = {true, 100, false, true, 5000000000, true};
        rules.knownListEnabled = true;
        QString error;
        QVERIFY(saveRuleOptions(rules, path("mailsieve.ini"), error));
        QCOMPARE(readFile(path("mailsieve.ini")),
                 QByteArray("[Smaller]\r\nQSmaller=1\r\nNum=100\r\nCheck=0\r\n[Larger]\r\nQLarger=1\r\n"
                            "Num=5000000000\r\nCheck=1\r\n[Known]\r\nQMonitor=1\r\n"));

        QVERIFY(writeFile(path("mailsieve.ini"), "; note\r\n[known]\r\nOther=7\r\n\r\n[Extra]\r\nA=1\r\n"));
        QVERIFY(saveRuleOptions(rules, path("mailsieve.ini"), error));
        const QByteArray text = readFile(path("mailsieve.ini"));
        QVERIFY(text.startsWith("; note\r\n[known]\r\nOther=7\r\nQMonitor=1\r\n\r\n[Extra]\r\nA=1\r\n"));
        RuleSet reread;
        QVERIFY(readRuleOptions(reread, path("mailsieve.ini"), error));
        QVERIFY(reread.sizeRules == rules.sizeRules);
        QVERIFY(reread.knownListEnabled);
    }
};

QTEST_GUILESS_MAIN(TestListFiles)
#include "tst_listfiles.moc"
