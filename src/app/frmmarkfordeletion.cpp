#include "app/frmmarkfordeletion.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TfrmMarkForDeletion::TfrmMarkForDeletion(RuleSet &rules, QWidget *parent) : QDialog(parent), m_rules(rules)
{
    setWindowTitle(QStringLiteral("Mark e-mail for deletion"));
    resize(560, 380);

    auto *heading = new QLabel(QStringLiteral("Mark these messages to delete"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    m_grid = new QTableWidget(0, 2, this);
    m_grid->setHorizontalHeaderLabels({QStringLiteral("Subject"), QStringLiteral("From")});
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::NoSelection);
    m_grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_grid->verticalHeader()->setVisible(false);

    m_cbSubjects = new QCheckBox(QStringLiteral("Always &delete mail with these particular subject headings"), this);
    m_cbSenders = new QCheckBox(QStringLiteral("&Always delete mail from these particular senders"), this);
    m_cbSubjects->setChecked(true);
    m_cbSenders->setChecked(true);

    m_btOK = new QPushButton(QStringLiteral("OK"), this);
    m_btOK->setDefault(true);
    m_btCancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(m_btOK, &QPushButton::clicked, this, &TfrmMarkForDeletion::btOKClick);
    connect(m_btCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btOK);
    buttons->addWidget(m_btCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(m_grid, 1);
    layout->addWidget(m_cbSubjects);
    layout->addWidget(m_cbSenders);
    layout->addLayout(buttons);
}

void TfrmMarkForDeletion::setMessages(const QList<Message> &messages)
{
    const int rows = std::min<int>(int(messages.size()), MaxMessages);
    m_grid->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        m_grid->setItem(r, 0, new QTableWidgetItem(messages[r].subject));
        m_grid->setItem(r, 1, new QTableWidgetItem(messages[r].from));
    }
}

void TfrmMarkForDeletion::addToList(const QString &subject, const QString &sender)
{
    ::addToList(m_rules, subject, sender, {m_cbSubjects->isChecked(), m_cbSenders->isChecked()});
}

void TfrmMarkForDeletion::btOKClick()
{
    const auto text = [this](int row, int column) {
        const QTableWidgetItem *item = m_grid->item(row, column);
        return item ? item->text() : QString();
    };
    // A message without a subject gives no rule at all, not even its sender's.
    for (int r = 0; r < m_grid->rowCount(); ++r) {
        if (!text(r, 0).isEmpty())
            addToList(text(r, 0), text(r, 1));
    }
    if (saveRules)
        saveRules();
    accept();
}
