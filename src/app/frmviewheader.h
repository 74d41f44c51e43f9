#pragma once
// The text viewer of the message list's commands: the header lines of the
// selected messages, the reasons for a message's mark, or the body of one
// message; also the log file where the desktop has no program to open it.
// Text only: nothing in it is rendered, fetched or run.

#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TfrmViewHeader : public QDialog
{
    Q_OBJECT
public:
    enum class Mode { Headers, Reasons, Body, LogFile };

    explicit TfrmViewHeader(Mode mode, QWidget *parent = nullptr);

    static QString titleOf(Mode mode);

    Mode mode() const { return m_mode; }
    void setLines(const QStringList &lines);
    QString text() const;

    QLabel *lblTitle() const { return m_lblTitle; }
    QPlainTextEdit *Memo1() const { return m_memo; }
    QPushButton *btOK() const { return m_btOK; }

private:
    Mode m_mode;
    QLabel *m_lblTitle;
    QPlainTextEdit *m_memo;
    QPushButton *m_btOK;
};
