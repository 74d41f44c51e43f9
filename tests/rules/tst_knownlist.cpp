#include "rules/knownlist.h"
#include "support/testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestKnownList : public QObject
{
    Q_OBJECT

private slots:
    // Lookups behave the same in the C locale and in a real one.
    void lookups_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("C") << QLocale::c();
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates);
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany);
    }

    void lookups()
    {
        QFETCH(QLocale, locale);
        KnownSpammerList list(locale);
        const QString longEntry = QString(80, u'a') + QStringLiteral("@tail.com");
        list.setEntries(
            {"zed@spam.org", "Bulk.Example", "joe@Spam.COM", "joe@spam.com", longEntry, "mm@x.net", "b@x.net"});
        QCOMPARE(list.count(), 7); // duplicates stay

        QCollator collator(locale);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        const QStringList sorted = list.entries();
        for (int i = 1; i < sorted.size(); ++i)
            QVERIFY2(collator.compare(sorted[i - 1].left(80), sorted[i].left(80)) <= 0, qPrintable(sorted.join(' ')));

        QVERIFY(list.findKnown("JOE@SPAM.com") >= 0);
        QVERIFY(list.findKnown("MM@X.NET") >= 0);
        QCOMPARE(list.findKnown("nobody@x.net"), -1);
        QVERIFY(list.findKnown(QString(80, u'A')) >= 0);
        QCOMPARE(list.findKnown(QString(79, u'a')), -1);
        QCOMPARE(list.findKnown(longEntry), -1); // the whole key is compared with 80 characters

        KnownMatch match = list.isInKnownList("Zed@Spam.org");
        QVERIFY(match.found);
        QCOMPARE(match.kind, QStringLiteral("E-mail"));
        QCOMPARE(match.matched, QStringLiteral("Zed@Spam.org"));

        match = list.isInKnownList("anyone@bulk.example");
        QVERIFY(match.found);
        QCOMPARE(match.kind, QStringLiteral("Domain"));
        QCOMPARE(match.matched, QStringLiteral("bulk.example"));

        match = list.isInKnownList("bulk.example.net");
        QVERIFY(!match.found);
        QVERIFY(!list.isInKnownList("anyone@mail.bulk.example").found);
    }

    void emptyListFindsNothing()
    {
        KnownSpammerList list;
        QCOMPARE(list.findKnown("x"), -1);
        QVERIFY(!list.isInKnownList("a@b").found);
    }

    void addKeepsOrder()
    {
        KnownSpammerList list(QLocale::c());
        for (const char *entry : {"m.com", "B.com", "a.com", "z.com", "c.com"})
            list.add(entry);
        QCOMPARE(list.entries(), QStringList({"a.com", "B.com", "c.com", "m.com", "z.com"}));
        QCOMPARE(list.findKnown("b.COM"), 1);
    }

    void loadReadsEveryLineEndAndSkipsEmptyLines()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("known.lst"), "b.com\r\n\r\na@x.com\nc.com\r \r\nd.com\r\n\r\n"));
        KnownSpammerList list(QLocale::c());
        list.add("stale.com");
        QVERIFY(list.LoadUpKnownList(dir.path()).ok);
        QCOMPARE(list.entries(), QStringList({"a@x.com", "b.com", "c.com", "d.com"}));
    }

    void loadTakesAnyBytes()
    {
        // Not UTF-8 (read as Windows-1252), a zero byte, a 1 MB line and many duplicates.
        QTemporaryDir dir;
        QByteArray bytes = QByteArrayLiteral("\xff\x00odd\rok.com\n") + QByteArray(1 << 20, 'a') + "@x.com\r\n";
        for (int i = 0; i < 10000; ++i)
            bytes += "dup.com\r\n";
        QVERIFY(writeFile(dir.filePath("known.lst"), bytes));
        KnownSpammerList list(QLocale::c());
        QVERIFY(list.LoadUpKnownList(dir.path()).ok);
        QCOMPARE(list.count(), 10003);
        QVERIFY(list.findKnown(QStringLiteral("OK.com")) >= 0);
        QVERIFY(list.findKnown(QString(80, u'a')) >= 0);
        QVERIFY(list.findKnown(QStringLiteral("\u00ff") + QChar(0) + QStringLiteral("odd")) >= 0);
    }

    void loadWithoutAFileLeavesTheListEmpty()
    {
        QTemporaryDir dir;
        KnownSpammerList list;
        list.add("stale.com");
        QVERIFY(list.LoadUpKnownList(dir.path()).ok);
        QCOMPARE(list.count(), 0);
    }

    void numericUserParts()
    {
        QVERIFY(KnownSpammerList::hasNumericUserPart("12345@x.com"));
        QVERIFY(KnownSpammerList::hasNumericUserPart("1_2_@x.com"));
        QVERIFY(KnownSpammerList::hasNumericUserPart("@x.com"));
        QVERIFY(!KnownSpammerList::hasNumericUserPart("a1@x.com"));
        QVERIFY(!KnownSpammerList::hasNumericUserPart("12345.com"));
    }

    void saveFromTheEditor()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("known.lst"), "old.com\r\n"));
        KnownSpammerList list(QLocale::c());
        const QString text = "\nzz.com\n12345@x.com\n1_2@x.com\n@x.com\nSpam.com\nSPAM.com\nspam.com\n\n"
                             "a1@x.com\nlast.com";
        const KnownListResult result = list.saveFromEditorText(text, dir.path());
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(list.entries(), QStringList({"a1@x.com", "last.com", "Spam.com", "zz.com"}));
        QCOMPARE(readFile(dir.filePath("known.lst")), QByteArray("a1@x.com\r\nlast.com\r\nSpam.com\r\nzz.com\r\n"));

        QVERIFY(list.saveFromEditorText("x.com\ny.com\n", dir.path()).ok);
        QCOMPARE(list.entries(), QStringList({"x.com", "y.com"}));
    }

    void saveWritesNothingWithoutAFile()
    {
        QTemporaryDir dir;
        KnownSpammerList list;
        const KnownListResult result = list.saveFromEditorText("x.com\n", dir.path());
        QVERIFY(!result.ok);
        QVERIFY(!QFile::exists(dir.filePath("known.lst")));
        QCOMPARE(list.entries(), QStringList({"x.com"}));
    }
};

QTEST_GUILESS_MAIN(TestKnownList)
#include "tst_knownlist.moc"
