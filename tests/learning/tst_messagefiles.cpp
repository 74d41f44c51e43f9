// Message files read for learning: a message file, a folder, a maildir and
// an mbox give their header blocks in name order; a huge line is cut to the
// bound; what cannot be read is reported and the walk goes on.

#include "learning/messagefiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

using Files = QMap<QString, QByteArray>;

struct Walk
{
    bool ok = false;
    QStringList names; // relative to the folder
    QList<QByteArray> blocks;
    QStringList problems;
};

Walk walk(const QTemporaryDir &dir, const QString &path)
{
    Walk result;
    const QString prefix = dir.path() + u'/';
    result.ok = readMessageFiles(
        prefix + path,
        [&](const MessageFileEntry &entry) {
            result.names << entry.name.mid(prefix.size());
            result.blocks << entry.headerBlock;
        },
        [&](const QString &text) { result.problems << text.mid(prefix.size()); });
    return result;
}

void write(const QTemporaryDir &dir, const Files &files)
{
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        QVERIFY(QDir(dir.path()).mkpath(QFileInfo(file.key()).path()));
        QFile out(dir.filePath(file.key()));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file.value()) == file.value().size());
    }
}

const QByteArray HugeLine = "X-Long: " + QByteArray(4 * MessageFiles::MaxHeaderBytes, 'a');
// Read in pieces of the bound, its line end would pass for an empty line.
const QByteArray BoundLine = QByteArray(MessageFiles::MaxHeaderBytes, 'b') + '\n';

} // namespace

class TestMessageFiles : public QObject
{
    Q_OBJECT

private slots:
    void readsHeaderBlocks_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<QByteArray>>("blocks");

        QTest::newRow("message file") << Files{{"m.eml", "Subject: a\r\nFrom: b@x.org\r\n\r\nbody\r\nX: y\r\n"}}
                                      << "m.eml" << QStringList{"m.eml"}
                                      << QList<QByteArray>{"Subject: a\r\nFrom: b@x.org\r\n"};
        QTest::newRow("folder, subfolders not entered")
            << Files{{"f/b.eml", "Subject: b\n\nbody\n"}, {"f/a.eml", "Subject: a\n\n"}, {"f/sub/c", "Subject: c\n"}}
            << "f" << QStringList{"f/a.eml", "f/b.eml"} << QList<QByteArray>{"Subject: a\n", "Subject: b\n"};
        QTest::newRow("maildir: cur, then new, never tmp") << Files{{"md/cur/9:2,S", "Subject: seen\n\n"},
                                                                    {"md/new/1", "Subject: new\n"},
                                                                    {"md/tmp/0", "Subject: t\n"}}
                                                           << "md" << QStringList{"md/cur/9:2,S", "md/new/1"}
                                                           << QList<QByteArray>{"Subject: seen\n", "Subject: new\n"};
        QTest::newRow("mbox") << Files{{"box", "From a@x.org Mon Jan  1 00:00:00 2024\nSubject: one\n\n>From x\ntext\n"
                                               "From me, in the body\n\nFrom b@x.org Mon Jan  1 00:00:01 2024\r\n"
                                               "Subject: two\r\nReceived: by x\r\n\r\nbody\r\n\r\n"
                                               "From c@x.org Mon Jan  1 00:00:02 2024\nSubject: three\n"}}
                              << "box" << QStringList{"box:1", "box:2", "box:3"}
                              << QList<QByteArray>{"Subject: one\n", "Subject: two\r\nReceived: by x\r\n",
                                                   "Subject: three\n"};
        QTest::newRow("no empty line") << Files{{"h", "Subject: all\nX-A: b"}} << "h" << QStringList{"h"}
                                       << QList<QByteArray>{"Subject: all\nX-A: b"};
        QTest::newRow("huge line cut") << Files{{"h", HugeLine + "\nSubject: lost\n"}} << "h" << QStringList{"h"}
                                       << QList<QByteArray>{HugeLine.first(MessageFiles::MaxHeaderBytes)};
        QTest::newRow("huge body lines in an mbox")
            << Files{{"box",
                      "From a\nSubject: one\n\n" + BoundLine + "From me\n" + HugeLine + "\n\nFrom b\nSubject: two\n"}}
            << "box" << QStringList{"box:1", "box:2"} << QList<QByteArray>{"Subject: one\n", "Subject: two\n"};
    }

    void readsHeaderBlocks()
    {
        QFETCH(Files, files);
        QFETCH(QString, path);
        QFETCH(QStringList, names);
        QFETCH(QList<QByteArray>, blocks);
        QTemporaryDir dir;
        write(dir, files);
        const Walk result = walk(dir, path);
        QVERIFY(result.ok);
        QCOMPARE(result.problems, QStringList());
        QCOMPARE(result.names, names);
        QCOMPARE(result.blocks, blocks);
    }

    void reportsWhatCannotBeReadAndGoesOn()
    {
        QTemporaryDir dir;
        write(dir, {{"f/b.eml", "Subject: b\n"}, {"f/d.txt", "an index, not mail\n"}});
        QVERIFY(QFile::link(dir.filePath("gone"), dir.filePath("f/a.eml")));
        QCOMPARE(mkfifo(qPrintable(dir.filePath("f/c.pipe")), 0600), 0);
        const Walk result = walk(dir, "f");
        QVERIFY(result.ok);
        QCOMPARE(result.names, QStringList{"f/b.eml"});
        const QStringList starts = {"f/a.eml: No such file", "f/c.pipe: not a regular", "f/d.txt: not a message"};
        QCOMPARE(result.problems.size(), starts.size());
        for (qsizetype i = 0; i < starts.size(); ++i)
            QVERIFY2(result.problems[i].startsWith(starts[i]), qPrintable(result.problems[i]));

        const Walk missing = walk(dir, "nothing here");
        QVERIFY(!missing.ok);
        QCOMPARE(missing.problems.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestMessageFiles)
#include "tst_messagefiles.moc"
