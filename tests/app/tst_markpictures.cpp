// The four mark pictures of the message list: their names and descriptions
// for screen readers, their sharpness on scaled screens, and a difference
// in shape (not only in colour) between the two marks that delete.

#include "app/markpictures.h"
#include "app/messagelist.h"

#include <QImage>
#include <QTest>

namespace {

const MarkState AllMarks[] = {MarkState::Check, MarkState::Question, MarkState::Exception, MarkState::KnownSpammer};

// Pixels drawn (alpha above half) in one picture but not in the other.
int differingShapePixels(const QImage &a, const QImage &b)
{
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if ((qAlpha(a.pixel(x, y)) > 127) != (qAlpha(b.pixel(x, y)) > 127))
                ++differing;
        }
    }
    return differing;
}

int drawnPixels(const QImage &image)
{
    QImage empty(image.size(), QImage::Format_ARGB32);
    empty.fill(Qt::transparent);
    return differingShapePixels(image, empty);
}

} // namespace

class TestMarkPictures : public QObject
{
    Q_OBJECT

private slots:
    void namesAndDescriptions_data()
    {
        QTest::addColumn<MarkState>("mark");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("described");
        QTest::newRow("check") << MarkState::Check << QStringLiteral("Marked for deletion")
                               << QStringLiteral("deletes it");
        QTest::newRow("question") << MarkState::Question << QStringLiteral("Possible spam")
                                  << QStringLiteral("may be spam");
        QTest::newRow("exception") << MarkState::Exception << QStringLiteral("Accepted by an exception")
                                   << QStringLiteral("never deleted");
        QTest::newRow("known") << MarkState::KnownSpammer << QStringLiteral("Known spammer")
                               << QStringLiteral("known spammer list");
    }

    void namesAndDescriptions()
    {
        QFETCH(MarkState, mark);
        QFETCH(QString, name);
        QFETCH(QString, described);
        QCOMPARE(markName(mark), name);
        QVERIFY2(markDescription(mark).contains(described), qPrintable(markDescription(mark)));

        // The list's subject cell carries them for the screen reader.
        MessageListModel list;
        list.addRow({QStringLiteral("Cheap watches"), QStringLiteral("a@b.example"), QStringLiteral("10"), {}, mark});
        const QModelIndex subject = list.index(0, MessageListModel::SubjectColumn);
        QCOMPARE(subject.data(Qt::AccessibleTextRole).toString(), name + QStringLiteral(": Cheap watches"));
        QCOMPARE(subject.data(Qt::AccessibleDescriptionRole).toString(), markDescription(mark));
        QVERIFY(!list.index(0, MessageListModel::SenderColumn).data(Qt::AccessibleTextRole).isValid());
    }

    void unmarkedRowsHaveNoMarkText()
    {
        QCOMPARE(markName(MarkState::None), QString());
        QCOMPARE(markDescription(MarkState::None), QString());
        QVERIFY(markPictureAt(MarkState::None, 1).isNull());
        MessageListModel list;
        list.addRow(
            {QStringLiteral("Hello"), QStringLiteral("a@b.example"), QStringLiteral("10"), {}, MarkState::None});
        QVERIFY(!list.index(0, 0).data(Qt::AccessibleTextRole).isValid());
    }

    void marksChangeTheirTextWithThePicture()
    {
        MessageListModel list;
        list.addRow(
            {QStringLiteral("Hello"), QStringLiteral("a@b.example"), QStringLiteral("10"), {}, MarkState::None});
        QList<QList<int>> roles;
        connect(&list, &QAbstractItemModel::dataChanged, this,
                [&roles](const QModelIndex &, const QModelIndex &, const QList<int> &changed) { roles << changed; });
        list.setMark(0, MarkState::Question);
        QCOMPARE(roles.size(), 1);
        QVERIFY(roles.first().contains(Qt::AccessibleTextRole));
        QVERIFY(roles.first().contains(Qt::DecorationRole));
        QCOMPARE(list.index(0, 0).data(Qt::AccessibleTextRole).toString(), QStringLiteral("Possible spam: Hello"));
    }

    void picturesAreDrawnAtTheScreensScale()
    {
        for (MarkState mark : AllMarks) {
            const QPixmap single = markPictureAt(mark, 1);
            const QPixmap twice = markPictureAt(mark, 2);
            QCOMPARE(single.size(), QSize(16, 16));
            QCOMPARE(twice.size(), QSize(32, 32));
            QCOMPARE(twice.devicePixelRatio(), 2.0);
            QCOMPARE(twice.deviceIndependentSize(), QSizeF(16, 16));
            // Drawn anew, not blown up: the double picture has detail the
            // single one scaled up lacks.
            const QImage scaledUp = single.toImage().scaled(32, 32);
            QVERIFY(differingShapePixels(scaledUp, twice.toImage()) > 0);
        }
        QCOMPARE(markPictureAt(MarkState::Check, 1.5).size(), QSize(24, 24));
    }

    void deleteAndKnownSpammerMarksDifferInShape()
    {
        const QImage check = markPictureAt(MarkState::Check, 1).toImage();
        const QImage known = markPictureAt(MarkState::KnownSpammer, 1).toImage();
        QVERIFY(drawnPixels(check) > 10);
        // Grey versus red alone would leave the outlines alike; a quarter
        // of the drawn area must differ.
        QVERIFY2(
            differingShapePixels(check, known) > drawnPixels(check) / 4,
            qPrintable(QStringLiteral("%1 of %2").arg(differingShapePixels(check, known)).arg(drawnPixels(check))));
    }
};

QTEST_MAIN(TestMarkPictures)
#include "tst_markpictures.moc"
