// Saving the known spammer list from the text of its editor: a line is
// dropped as a repeat when it equals, but for letter case, the line just
// before it in the editor, whether or not that line was kept.

#include "rules/knownlist.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

class TestKnownListEditor : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QStringList saved(const QString &text)
    {
        QFile file(dir.filePath(KnownSpammerList::fileName()));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot create the known list file");
        file.close();
        KnownSpammerList list(QLocale::c());
        const KnownListResult result = list.saveFromEditorText(text, dir.path());
        if (!result.ok)
            qWarning("%s", qPrintable(result.error));
        QStringList entries = list.entries();
        // Entries equal but for case may stand in any order among themselves.
        std::sort(entries.begin(), entries.end());
        return entries;
    }

private slots:
    void aDroppedLineStillCountsAsTheLineBefore()
    {
        // The numeric address and the empty line are dropped, yet each is the
        // line before the next spam.com, which therefore stays.
        QCOMPARE(saved("spam.com\n12345@x.com\nSPAM.com\n\nspam.com\n"),
                 QStringList({"SPAM.com", "spam.com", "spam.com"}));
    }

    void onlyTheImmediateRepeatGoes()
    {
        QCOMPARE(saved("bulk.net\nBULK.NET\nbulk.net\nspam.com\nbulk.net\n"),
                 QStringList({"bulk.net", "bulk.net", "spam.com"}));
        // The line before the first line counts as empty.
        QCOMPARE(saved("\n\nx.com\n"), QStringList({"x.com"}));
    }
};

QTEST_GUILESS_MAIN(TestKnownListEditor)
#include "tst_knownlisteditor.moc"
