#include "rules/ruletablemodel.h"

#include "settings/ruletableprinter.h"

#include <QAbstractItemModelTester>
#include <QFont>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

namespace {

void setRow(RuleList &table, int row, const QStringList &cells)
{
    for (int c = 0; c < cells.size(); ++c)
        table.setCell(c, row, cells[c]);
}

} // namespace

class TestRuleTableModel : public QObject
{
    Q_OBJECT

private slots:
    void showsTheRuleRowsUnderTheHeadings()
    {
        RuleList table(RuleTable::Sender);
        table.setRowCount(3);
        setRow(table, 1, {"", "Domain name", "Equals", "spam.com", "Yes", "12"});
        setRow(table, 2, {"", "E-mail address", "Contains", "offer", "No", "3"});
        setPicturesFromDel(table);
        RuleTableModel model(table);
        QAbstractItemModelTester tester(&model);

        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.columnCount(), 6);
        QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("Matches"));
        QCOMPARE(model.data(model.index(0, 3)).toString(), QStringLiteral("spam.com"));
        QCOMPARE(model.data(model.index(0, 0), RuleTableModel::MarkPictureRole).toInt(), int(MarkState::Check));
        QCOMPARE(model.data(model.index(1, 0), RuleTableModel::MarkPictureRole).toInt(), int(MarkState::Question));
        QVERIFY(model.data(model.index(0, 3), Qt::FontRole).value<QFont>().bold());
        QVERIFY(!model.data(model.index(0, 3), Qt::ForegroundRole).isValid());
        QVERIFY(!model.data(model.index(1, 3), Qt::FontRole).isValid());
        QCOMPARE(model.data(model.index(1, 3), Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::blue));
        QCOMPARE(model.data(model.index(0, 5), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    }

    void exceptionMatchesAreBoldAndHaveNoPicture()
    {
        RuleList table(RuleTable::Exception);
        setRow(table, 1, {"E-mail address", "Equals", "a@b.c", "No", "0"});
        RuleTableModel model(table);
        QVERIFY(model.data(model.index(0, 2), Qt::FontRole).value<QFont>().bold());
        QVERIFY(!model.data(model.index(0, 0), RuleTableModel::MarkPictureRole).isValid());
        QCOMPARE(model.data(model.index(0, 4), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
        // Written by the editor only: a typed "yes" would not be read.
        QVERIFY(!(model.flags(model.index(0, ExceptCol::DmarcOnly)) & Qt::ItemIsEditable));
    }

    // The exception table's DMARC column is shown and printed; the picture
    // column of the other tables is shown but not printed.
    void columnsShownAndPrinted_data()
    {
        QTest::addColumn<int>("table");
        QTest::addColumn<QString>("lastHeading");
        QTest::addColumn<int>("printedColumns");
        QTest::newRow("subject") << int(RuleTable::Subject) << "Hits" << 5;
        QTest::newRow("header") << int(RuleTable::Header) << "Hits" << 5;
        QTest::newRow("sender") << int(RuleTable::Sender) << "Hits" << 5;
        QTest::newRow("exception") << int(RuleTable::Exception) << "DMARC?" << 6;
    }

    void columnsShownAndPrinted()
    {
        QFETCH(int, table);
        QFETCH(QString, lastHeading);
        QFETCH(int, printedColumns);
        RuleList list(static_cast<RuleTable>(table));
        list.setCell(5, 1, "Yes");
        RuleTableModel model(list);
        QCOMPARE(model.columnCount(), 6);
        QCOMPARE(model.headerData(5, Qt::Horizontal).toString(), lastHeading);
        QCOMPARE(model.data(model.index(0, 5)).toString(), QStringLiteral("Yes"));

        const PrintedTable printed = printedTableOf(list, "Rules", {10, 20, 30, 40, 50, 60});
        QCOMPARE(printed.headings.size(), printedColumns);
        QCOMPARE(printed.headings.last(), lastHeading);
        QCOMPARE(printed.rows.at(0).size(), printedColumns);
        QCOMPARE(printed.rows.at(0).last(), QStringLiteral("Yes"));
        QCOMPARE(printed.columnWidths.last(), 60);
    }

    void onlyMatchesAndHitsAreEditable()
    {
        RuleList subject(RuleTable::Subject);
        RuleTableModel model(subject);
        QVERIFY(model.flags(model.index(0, 2)) & Qt::ItemIsEditable);
        QVERIFY(model.flags(model.index(0, 5)) & Qt::ItemIsEditable);
        QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable));
        QVERIFY(!model.setData(model.index(0, 4), "Yes"));

        RuleList header(RuleTable::Header);
        RuleTableModel headerModel(header);
        QVERIFY(!(headerModel.flags(headerModel.index(0, 2)) & Qt::ItemIsEditable));
    }

    void hitsTakeOnlyNonNegativeIntegers_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("007") << "007" << true;
        QTest::newRow("0") << "0" << true;
        QTest::newRow("max") << "2147483647" << true;
        QTest::newRow("too large") << "2147483648" << false;
        QTest::newRow("-1") << "-1" << false;
        QTest::newRow("1.5") << "1.5" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank") << " 1" << false;
    }

    void hitsTakeOnlyNonNegativeIntegers()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        RuleList table(RuleTable::Subject);
        table.setCell(SubjectCol::Hits, 1, "5");
        RuleTableModel model(table);
        QCOMPARE(model.setData(model.index(0, SubjectCol::Hits), typed), accepted);
        QCOMPARE(table.cell(SubjectCol::Hits, 1), accepted ? typed : QStringLiteral("5"));
    }

    // A typed subject or sender pattern of only blanks would mark nearly
    // every message.
    void typedPatternsNeedAVisibleCharacter_data()
    {
        QTest::addColumn<int>("table");
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        const QStringList subject{"", "Contains", "free", "No", "Yes", "0"};
        const QStringList sender{"", "E-mail address", "Starts with", "promo", "Yes", "0"};
        const QStringList address{"E-mail address", "Equals", "mum@home.example", "No", "0"};
        const QStringList exceptSubject{"Subject", "Contains", "minutes", "No", "0"};
        const auto add = [](const char *name, RuleTable table, const QStringList &cells, const QString &typed,
                            bool accepted) { QTest::newRow(name) << int(table) << cells << typed << accepted; };
        add("subject space", RuleTable::Subject, subject, " ", false);
        add("subject empty", RuleTable::Subject, subject, "", false);
        add("subject tab and CR LF", RuleTable::Subject, subject, "\t\r\n", false);
        add("subject word", RuleTable::Subject, subject, " win ", true);
        add("sender space", RuleTable::Sender, sender, " ", false);
        add("sender word", RuleTable::Sender, sender, "sales", true);
        // An exception can only keep a message: it takes any text.
        add("exception address space", RuleTable::Exception, address, " ", true);
        add("exception subject backspace", RuleTable::Exception, exceptSubject, "\b", true);
        add("exception address empty", RuleTable::Exception, address, "", true);
        add("exception address", RuleTable::Exception, address, "dad@home.example", true);
        // Operators without a pattern ignore the cell, so nothing is refused there.
        add("subject is blank", RuleTable::Subject, {"", "Is blank", "", "", "Yes", "0"}, "", true);
        add("sender all numeric", RuleTable::Sender, {"", "E-mail address", "All numeric", "", "Yes", "0"}, " ", true);
    }

    void typedPatternsNeedAVisibleCharacter()
    {
        QFETCH(int, table);
        QFETCH(QStringList, cells);
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        RuleList list(static_cast<RuleTable>(table));
        setRow(list, 1, cells);
        RuleTableModel model(list);
        const int matches = list.layout().matchesColumn;
        QCOMPARE(model.setData(model.index(0, matches), typed), accepted);
        QCOMPARE(list.cell(matches, 1), accepted ? typed : cells.at(matches));
    }

    void editsReachTheTableAndClearALoadError()
    {
        RuleList table(RuleTable::Subject);
        table.setLoadError("subj.lst, line 3: 'x' is not a valid integer value");
        RuleTableModel model(table);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QVERIFY(model.setData(model.index(0, SubjectCol::Matches), "free"));
        QCOMPARE(table.cell(SubjectCol::Matches, 1), QStringLiteral("free"));
        QVERIFY(table.loadError().isEmpty());
        QCOMPARE(changed.count(), 1);
    }

    void rowsInsertRemoveMoveAndSort()
    {
        RuleList table(RuleTable::Subject);
        RuleTableModel model(table);
        QAbstractItemModelTester tester(&model);
        QVERIFY(model.insertRows(1, 3));
        QCOMPARE(table.rowCount(), 5);
        const QStringList words{"b", "C", "a", "d"};
        for (int r = 0; r < 4; ++r) {
            table.setCell(SubjectCol::Matches, r + 1, words[r]);
            table.setCell(SubjectCol::Hits, r + 1, QString::number(10 - 3 * r));
            CheckGridAdv(table, r + 1, r == 0);
        }
        const auto column = [&](int c) {
            QStringList cells;
            for (int r = 1; r < table.rowCount(); ++r)
                cells.append(table.cell(c, r));
            return cells;
        };

        QVERIFY(model.moveRows({}, 0, 1, {}, 2)); // row 1 down one
        QCOMPARE(column(SubjectCol::Matches), QStringList({"C", "b", "a", "d"}));
        QCOMPARE(table.picture(2), MarkState::Check);
        QVERIFY(model.moveRows({}, 3, 1, {}, 0)); // last row to the top
        QCOMPARE(column(SubjectCol::Matches), QStringList({"d", "C", "b", "a"}));

        model.sort(SubjectCol::Matches);
        QCOMPARE(column(SubjectCol::Matches), QStringList({"a", "b", "C", "d"}));
        model.sort(SubjectCol::Hits);
        QCOMPARE(column(SubjectCol::Hits), QStringList({"1", "4", "7", "10"}));
        model.sort(SubjectCol::What); // not a sortable column
        QCOMPARE(column(SubjectCol::Hits), QStringList({"1", "4", "7", "10"}));

        QVERIFY(model.removeRows(0, 2));
        QCOMPARE(column(SubjectCol::Hits), QStringList({"7", "10"}));
        QVERIFY(!model.removeRows(1, 5));
    }

    void theMarkPicturesAreShownInColumnZero()
    {
        RuleList table(RuleTable::Header);
        table.setCell(HeaderCol::Del, 1, "Yes");
        setPicturesFromDel(table);
        RuleTableModel model(table);
        QPixmap check(4, 4);
        check.fill(Qt::green);
        model.setMarkPictures(QIcon(check), QIcon());
        QVERIFY(!model.data(model.index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
        QVERIFY(!model.data(model.index(0, 1), Qt::DecorationRole).isValid());
    }
};

QTEST_MAIN(TestRuleTableModel)
#include "tst_ruletablemodel.moc"
