#pragma once
// A command button of the main window's header strip: picture above a
// caption that is set on two lines, broken at the space nearest its
// middle, so that eight buttons fit a window of ordinary width. The
// caption itself (text(), what screen readers read) stays one line.

#include <QToolButton>

class CommandButton : public QToolButton
{
    Q_OBJECT
public:
    explicit CommandButton(QWidget *parent = nullptr);

    // "Delete marked messages" -> "Delete marked\nmessages"; one word stays.
    static QString twoLineCaption(const QString &caption);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QStyleOptionToolButton twoLineOption() const;
};
