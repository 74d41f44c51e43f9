#pragma once
// The progress window shown during a check or a download: who is being
// checked, which message is being read, a small animation and "Click to cancel".

#include <QDialog>
#include <QTimer>

class QLabel;
class TextLine;
class QPushButton;

// Ten frames, 300 ms apart: a letter flying from the server to the desk.
class MailAnimation : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kFrames = 10;
    static constexpr int kFrameMs = 300;

    explicit MailAnimation(QWidget *parent = nullptr);
    void start();
    void stop();
    bool isRunning() const { return m_timer.isActive(); }
    int frame() const { return m_frame; }
    QSize sizeHint() const override { return {160, 40}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer m_timer;
    int m_frame = 0;
};

class TfrmRetrieving : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmRetrieving(QWidget *parent = nullptr);

    // Shows the window (non-modal) for the given mailbox, with an empty
    // message line and the animation running.
    void showFor(const QString &userName, const QString &server);
    void setMessage(const QString &text);

    QString title() const;
    QString message() const;
    MailAnimation *animation() const { return anMail; }
    QPushButton *cancelButton() const { return btCancel; }

signals:
    void cancelClicked();

protected:
    void hideEvent(QHideEvent *event) override;
    // Escape and the close box would hide the window behind the user's back
    // while the check runs on; only "Click to cancel" ends it.
    void reject() override {}

private:
    QLabel *lblTitle;
    TextLine *lblMsg;
    MailAnimation *anMail;
    QPushButton *btCancel;
};
