// The text viewer: its caption and the title of each mode, text shown as
// the characters it holds, and OK, Enter and Escape closing it.

#include "app/frmviewheader.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class TestFrmViewHeader : public QObject
{
    Q_OBJECT

private slots:
    void titlesOfTheThreeModes_data()
    {
        QTest::addColumn<TfrmViewHeader::Mode>("mode");
        QTest::addColumn<QString>("title");
        QTest::newRow("headers") << TfrmViewHeader::Mode::Headers << "Contents of selected e-mail headers";
        QTest::newRow("reasons") << TfrmViewHeader::Mode::Reasons << "Reasons that e-mail is marked or not marked";
        QTest::newRow("body") << TfrmViewHeader::Mode::Body << "Contents of e-mail";
    }

    void titlesOfTheThreeModes()
    {
        QFETCH(TfrmViewHeader::Mode, mode);
        QFETCH(QString, title);
        TfrmViewHeader viewer(mode);
        QCOMPARE(viewer.windowTitle(), QStringLiteral("View Selected Headers"));
        QCOMPARE(viewer.lblTitle()->text(), title);
        QCOMPARE(viewer.btOK()->text(), QStringLiteral("OK"));
        QVERIFY(viewer.Memo1()->isReadOnly());
        QCOMPARE(viewer.Memo1()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }

    void markupIsShownAsText()
    {
        TfrmViewHeader viewer(TfrmViewHeader::Mode::Body);
        const QStringList lines = {"<html><body onload=\"x()\">", "<img src=\"http://tracker.example/p.gif\">",
                                   "<b>bold</b> &amp; ", "", "last"};
        viewer.setLines(lines);
        QCOMPARE(viewer.text().split(u'\n'), lines);
        QCOMPARE(viewer.Memo1()->document()->blockCount(), 5);
    }

    void okEnterAndEscapeClose_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("enter") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("escape") << int(Qt::Key_Escape) << int(QDialog::Rejected);
        QTest::newRow("ok") << 0 << int(QDialog::Accepted);
    }

    void okEnterAndEscapeClose()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        TfrmViewHeader viewer(TfrmViewHeader::Mode::Headers);
        viewer.setLines({"a", "b"});
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
        if (key == 0)
            viewer.btOK()->click();
        else
            QTest::keyClick(viewer.Memo1(), Qt::Key(key));
        QVERIFY(!viewer.isVisible());
        QCOMPARE(viewer.result(), result);
    }
};

QTEST_MAIN(TestFrmViewHeader)
#include "tst_frmviewheader.moc"
