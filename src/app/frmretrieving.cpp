#include "app/frmretrieving.h"

#include "app/textline.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

MailAnimation::MailAnimation(QWidget *parent) : QWidget(parent)
{
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kFrames;
        update();
    });
}

void MailAnimation::start()
{
    m_frame = 0;
    m_timer.start();
    update();
}

void MailAnimation::stop()
{
    m_timer.stop();
}

void MailAnimation::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int h = height();
    // Server on the left, tray on the right.
    p.setBrush(QColor(90, 90, 110));
    p.drawRect(2, h / 4, 14, h / 2);
    p.setBrush(QColor(150, 110, 60));
    p.drawRect(width() - 22, h / 2, 20, h / 4);

    const int envelopeW = 22, envelopeH = 14;
    const int travel = width() - 40 - envelopeW;
    const int x = 18 + travel * m_frame / (kFrames - 1);
    const int y = h / 2 - envelopeH / 2 - (m_frame % 2 ? 2 : 0);
    p.setBrush(Qt::white);
    p.setPen(QColor(40, 40, 40));
    p.drawRect(x, y, envelopeW, envelopeH);
    p.drawLine(x, y, x + envelopeW / 2, y + envelopeH / 2);
    p.drawLine(x + envelopeW, y, x + envelopeW / 2, y + envelopeH / 2);
}

TfrmRetrieving::TfrmRetrieving(QWidget *parent)
    : QDialog(parent), lblTitle(new QLabel(this)), lblMsg(new TextLine({}, this)), anMail(new MailAnimation(this)),
      btCancel(new QPushButton(QStringLiteral("Click to cancel"), this))
{
    setWindowTitle(QStringLiteral("Retrieving ..."));
    setModal(false);
    lblTitle->setWordWrap(true);
    QFont bold = lblTitle->font();
    bold.setBold(true);
    lblTitle->setFont(bold);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addWidget(anMail, 0, Qt::AlignHCenter);
    layout->addWidget(lblMsg);
    layout->addWidget(btCancel, 0, Qt::AlignHCenter);
    setMinimumWidth(360);
    lblMsg->setAccessibleName(QStringLiteral("Progress"));
    anMail->setAccessibleName(QStringLiteral("Messages on their way from the server"));

    connect(btCancel, &QPushButton::clicked, this, &TfrmRetrieving::cancelClicked);
}

void TfrmRetrieving::showFor(const QString &userName, const QString &server)
{
    lblTitle->setText(QStringLiteral("Retrieving messages for mailbox ") + userName + QStringLiteral(" on server ")
                      + server);
    lblMsg->clear();
    anMail->start();
    show();
    raise();
}

void TfrmRetrieving::setMessage(const QString &text)
{
    lblMsg->setText(text);
}

QString TfrmRetrieving::title() const
{
    return lblTitle->text();
}

QString TfrmRetrieving::message() const
{
    return lblMsg->text();
}

void TfrmRetrieving::hideEvent(QHideEvent *event)
{
    anMail->stop();
    QDialog::hideEvent(event);
}
