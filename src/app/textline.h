#pragma once
// A one-line text display for texts that change for every message of a
// check (the status panel, the progress window's message line). Unlike a
// QLabel, a new text only repaints the line: it never asks the layout to
// measure the window again, which for thousands of messages costs more than
// reading them. Screen readers find the text in its accessible description
// (its owner gives the line an accessible name).

#include <QWidget>

class TextLine : public QWidget
{
public:
    explicit TextLine(const QString &text = {}, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    void clear() { setText({}); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
};
