// The message list tells its views of rows that arrive one by one in
// batches that grow with the list: a tree view lays out every row again
// after each insertion it sees, once per row would be quadratic.

#include "app/messagelist.h"

#include <QTest>

namespace {

MessageEntry entry(int i)
{
    return {QStringLiteral("Subject %1").arg(i), QStringLiteral("a@b.example"), QStringLiteral("100"), {}};
}

} // namespace

class TestMessageList : public QObject
{
    Q_OBJECT

private slots:
    void manyRowsReachTheViewsInFewBatches()
    {
        MessageListModel list;
        QList<int> batchEnds;
        connect(&list, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex &, int first, int last) {
            QCOMPARE(first, batchEnds.isEmpty() ? 0 : batchEnds.last() + 1);
            batchEnds << last;
        });
        constexpr int rows = 10000;
        for (int i = 0; i < rows; ++i)
            list.addRow(entry(i));
        QCOMPARE(list.count(), rows);
        QCOMPARE(batchEnds.mid(0, 3), (QList<int>{0, 1, 2})); // a short list shows each row at once
        QVERIFY2(batchEnds.size() < 100, qPrintable(QString::number(batchEnds.size())));

        // A mark set on a row the views do not know yet shows with the row.
        list.setMark(rows - 1, MarkState::Check);
        QCOMPARE(list.markedCount(), 1);
        list.showAddedRows();
        QCOMPARE(list.rowCount(), rows);
        QCOMPARE(batchEnds.last(), rows - 1);
        QCOMPARE(list.index(rows - 1, 0).data().toString(), QStringLiteral("Subject 9999"));
        QVERIFY(list.index(rows - 1, 0).data(Qt::DecorationRole).isValid());
    }

    void rowTextsKeepNoRoomToGrow()
    {
        const MessageEntry row =
            MessageEntry::fromHeaders({"Subject: =?utf-8?Q?Gr=C3=BC=C3=9Fe?= aus M\u00fcnchen",
                                       "From: Jane Roe <jane@example.org>", "Date: Sat, 05 Jun 1999 10:22:05 -0400"},
                                      1234);
        for (const QString &text : {row.Subject, row.Sender, row.Size, row.Date})
            QCOMPARE(text.capacity(), text.size());
    }

    void heldRowsShowAfterAShortDelay()
    {
        MessageListModel list;
        for (int i = 0; i < 20; ++i)
            list.addRow(entry(i));
        QVERIFY(list.rowCount() < 20);
        QTRY_COMPARE_WITH_TIMEOUT(list.rowCount(), 20, 10 * MessageListModel::ShowDelay);
        list.clear();
        QCOMPARE(list.rowCount(), 0);
    }
};

QTEST_MAIN(TestMessageList)
#include "tst_messagelist.moc"
