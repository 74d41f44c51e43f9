#include "mail/mailerrors.h"

EMailsieveError::EMailsieveError(const QString &message)
    : m_message(message), m_utf8(message.toUtf8())
{
}

EMailboxChangedError::EMailboxChangedError()
    : EMailsieveError(QStringLiteral("The mailbox has changed since it was listed. Please check it again."))
{
}
