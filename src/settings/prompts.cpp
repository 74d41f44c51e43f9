#include "settings/prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
const QString kTitle = QStringLiteral("Mailsieve");
}

void DialogPrompts::information(const QString &text)
{
    QMessageBox::information(m_parent, kTitle, text);
}

void DialogPrompts::error(const QString &text)
{
    QMessageBox::critical(m_parent, kTitle, text);
}

void DialogPrompts::warning(const QString &text)
{
    QMessageBox::warning(m_parent, kTitle, text);
}

bool DialogPrompts::askYesNo(const QString &text)
{
    return QMessageBox::question(m_parent, kTitle, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QString DialogPrompts::openFileName(const QString &caption, const QString &folder, const QString &filter)
{
    return QFileDialog::getOpenFileName(m_parent, caption, folder, filter);
}

QString DialogPrompts::saveFileName(const QString &caption, const QString &folder, const QString &filter)
{
    return QFileDialog::getSaveFileName(m_parent, caption, folder, filter);
}
