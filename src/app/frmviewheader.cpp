#include "app/frmviewheader.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmViewHeader::TfrmViewHeader(Mode mode, QWidget *parent) : QDialog(parent), m_mode(mode)
{
    setWindowTitle(mode == Mode::LogFile ? QStringLiteral("View log file") : QStringLiteral("View Selected Headers"));
    resize(640, 460);

    m_lblTitle = new QLabel(titleOf(mode), this);
    QFont bold = m_lblTitle->font();
    bold.setBold(true);
    m_lblTitle->setFont(bold);

    // Plain text: mail is shown as the characters it holds, never as markup.
    m_memo = new QPlainTextEdit(this);
    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setReadOnly(true);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_memo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    // Enter closes through the default button, Escape through reject().
    m_btOK = new QPushButton(QStringLiteral("OK"), this);
    m_btOK->setDefault(true);
    m_btOK->setAutoDefault(true);
    connect(m_btOK, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btOK);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblTitle);
    layout->addWidget(m_memo, 1);
    layout->addLayout(buttons);
    m_btOK->setFocus();
}

QString TfrmViewHeader::titleOf(Mode mode)
{
    switch (mode) {
    case Mode::Headers:
        return QStringLiteral("Contents of selected e-mail headers");
    case Mode::Reasons:
        return QStringLiteral("Reasons that e-mail is marked or not marked");
    case Mode::Body:
        return QStringLiteral("Contents of e-mail");
    case Mode::LogFile:
        return QStringLiteral("Contents of the log file");
    }
    return {};
}

void TfrmViewHeader::setLines(const QStringList &lines)
{
    m_memo->setPlainText(lines.join(QLatin1Char('\n')));
}

QString TfrmViewHeader::text() const
{
    return m_memo->toPlainText();
}
