#include "mail/mailerrors.h"

EMailsieveError::EMailsieveError(const QString &message) : m_message(message), m_utf8(message.toUtf8())
{
}

EMailboxChangedError::EMailboxChangedError()
    : EMailsieveError(QStringLiteral("The mailbox has changed since it was listed. Please check it again."))
{
}

ESignInNeededError::ESignInNeededError(const QString &account, const QString &reason)
    : EMailsieveError(QStringLiteral("Sign in again to %1").arg(account)
                      + (reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason))),
      m_account(account)
{
}
