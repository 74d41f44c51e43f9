#include "mail/pop3client.h"

#include "mail/mailerrors.h"

#include <QSaveFile>
#include <limits>

namespace {

// The lines of a TOP reply's data block, split at CR LF, a lone CR or a lone
// LF; a NUL byte ends the text. A final line break adds no empty line.
TmsHeaders splitLines(QByteArrayView data)
{
    const qsizetype nul = data.indexOf('\0');
    if (nul >= 0)
        data = data.first(nul);
    TmsHeaders lines;
    qsizetype start = 0;
    for (qsizetype pos = 0; pos < data.size(); ++pos) {
        const char c = data[pos];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(decodeHeaderLine(data.sliced(start, pos - start)));
        if (c == '\r' && pos + 1 < data.size() && data[pos + 1] == '\n')
            ++pos;
        start = pos + 1;
    }
    if (start < data.size())
        lines.append(decodeHeaderLine(data.sliced(start)));
    return lines;
}

qint64 strictNumber(const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

} // namespace

TmsCustomPOP::TmsCustomPOP(QObject *parent) : TmsMailBase(parent)
{
    setServiceName(QStringLiteral("pop3"));
    setDefaultPort(110);
}

int TmsCustomPOP::ReplyCode(const QString &line) const
{
    if (line.startsWith(QLatin1Char('+')))
        return 1;
    if (line.startsWith(QLatin1Char('-')))
        return -1;
    return 0;
}

void TmsCustomPOP::CheckProperties()
{
    if (m_userName.isEmpty())
        raiseSocketErrorText(QStringLiteral("UserName property is required"));
    if (m_password.isEmpty())
        raiseSocketErrorText(QStringLiteral("Password property is required"));
}

void TmsCustomPOP::Open()
{
    CheckProperties();
    ResetState();
    TmsMailBase::Open();
}

void TmsCustomPOP::command(const QString &line)
{
    SendCommand(line);
    if (ReadReply() != 1)
        throw EServerError(lastReply());
}

void TmsCustomPOP::Login()
{
    ResetState();
    Connect();
    if (ReadReply() != 1)
        throw EServerError(lastReply());
    command(QStringLiteral("USER ") + m_userName);
    command(QStringLiteral("PASS ") + m_password);
    ReadStat();
}

void TmsCustomPOP::Logout()
{
    command(QStringLiteral("QUIT"));
}

void TmsCustomPOP::Disconnect()
{
    if (!Connected())
        return;
    try {
        Logout();
    } catch (...) {
        abandonSession();
        throw;
    }
    Close();
}

void TmsCustomPOP::abandonSession()
{
    if (Connected())
        Close();
}

void TmsCustomPOP::ConnectIfNeeded()
{
    if (Connected())
        return;
    Open();
    Login();
}

void TmsCustomPOP::ReadStat()
{
    command(QStringLiteral("STAT"));
    QString rest = lastReply().mid(4);
    const qsizetype space = rest.indexOf(QLatin1Char(' '));
    if (space < 0)
        return;
    const qint64 count = strictNumber(rest.left(space));
    if (count > std::numeric_limits<int>::max())
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(count));
    m_messageCount = static_cast<int>(count);
    rest.remove(0, space + 1);
    m_mailboxSize = strictNumber(rest.section(QLatin1Char(' '), 0, 0));
}

qint64 TmsCustomPOP::listedSize() const
{
    const QString rest = lastReply().mid(4);
    const qsizetype space = rest.indexOf(QLatin1Char(' '));
    const QString sizeText = (space < 0 ? rest : rest.mid(space + 1)).section(QLatin1Char(' '), 0, 0);
    bool ok = false;
    const qint64 size = sizeText.toLongLong(&ok);
    return ok && size >= 0 ? size : 0;
}

void TmsCustomPOP::FetchItemInfo(int i, TmsRemoteInfoItem &item)
{
    const QString number = QString::number(i + 1);
    command(QStringLiteral("LIST ") + number);
    item.Size = listedSize();
    command(QStringLiteral("TOP ") + number + QStringLiteral(" 1"));
    QByteArray data;
    ReceiveData(data, -1);
    item.Headers = splitLines(data);
    CutAtBody(item.Headers);
}

TmsRemotePOP::TmsRemotePOP(QObject *parent) : TmsCustomPOP(parent)
{
}

void TmsRemotePOP::setMessageDirectory(const QString &directory)
{
    m_messageDirectory = directory;
    if (!directory.isEmpty() && !directory.endsWith(QLatin1Char('/')))
        m_messageDirectory += QLatin1Char('/');
}

void TmsRemotePOP::ClearMarks(int i)
{
    TmsRemoteInfoItem &item = m_info.Items(i);
    item.DeleteMark = false;
    item.RetrieveMark = false;
}

void TmsRemotePOP::UpdateInfo()
{
    try {
        ConnectIfNeeded();
        if (OnUpdatingInfo)
            OnUpdatingInfo();
        m_info.Clear();
        const int count = MessageCount();
        for (int i = 0; i < count; ++i) {
            TmsRemoteInfoItem item;
            FetchItemInfo(i, item);
            m_info.Add(std::move(item));
            if (OnNextInfoUpdated)
                OnNextInfoUpdated(m_info.Count() - 1);
        }
        Disconnect();
    } catch (...) {
        abandonSession();
        throw;
    }
    if (OnInfoUpdated)
        OnInfoUpdated();
}

void TmsRemotePOP::ProcessMarks()
{
    m_committed = false;
    for (int i = 0; i < m_info.Count(); ++i)
        m_info.Items(i).Deleted = false;
    if (m_info.Count() == 0)
        return;
    try {
        ConnectIfNeeded();
        if (OnTransferringData)
            OnTransferringData();
        const int count = m_info.Count();
        for (int i = 0; i < count; ++i) {
            if (m_info.Items(i).RetrieveMark) {
                RecheckMessage(i);
                RetrieveMessage(i);
            }
            if (m_info.Items(i).DeleteMark) {
                RecheckMessage(i);
                DeleteMessage(i);
            }
        }
        if (OnDataTransfered)
            OnDataTransfered();
        Disconnect();
    } catch (...) {
        // Without QUIT the server rolls back every DELE of this session.
        abandonSession();
        throw;
    }
    m_committed = true;
}

void TmsRemotePOP::RecheckMessage(int i)
{
    TmsRemoteInfoItem current;
    FetchItemInfo(i, current);
    const TmsRemoteInfoItem &listed = m_info.Items(i);
    if (current.Size != listed.Size || current.Headers != listed.Headers)
        throw EMailboxChangedError();
}

void TmsRemotePOP::RetrieveMessage(int i)
{
    const QString number = QString::number(i + 1);
    command(QStringLiteral("LIST ") + number);
    const qint64 expected = listedSize();
    if (OnRetrieving)
        OnRetrieving(i);
    command(QStringLiteral("RETR ") + number);
    QByteArray contents;
    ReceiveData(contents, expected);
    SaveMessage(i, contents);
    if (OnRetrieved)
        OnRetrieved(i);
}

void TmsRemotePOP::DeleteMessage(int i)
{
    if (OnDeleting)
        OnDeleting(i);
    SendCommand(QStringLiteral("DELE ") + QString::number(i + 1));
    // A refused DELE leaves that message alone; the pass goes on.
    m_info.Items(i).Deleted = ReadReply() == 1;
}

void TmsRemotePOP::SaveMessage(int index, const QByteArray &contents)
{
    if (OnUserMessageSave) {
        OnUserMessageSave(index, contents);
        return;
    }
    const QString path = m_messageDirectory + QStringLiteral("msg_%1.eml").arg(index);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit())
        throw EFileError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}
