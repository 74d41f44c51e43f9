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

void TmsCustomPOP::setTlsMode(TlsMode mode)
{
    TmsMailBase::setTlsMode(mode);
    const bool implicit = mode == TlsMode::Implicit;
    setServiceName(implicit ? QStringLiteral("pop3s") : QStringLiteral("pop3"));
    setDefaultPort(implicit ? 995 : 110);
}

bool TmsCustomPOP::hasCapability(const QString &name) const
{
    return m_capabilities.contains(name.toUpper());
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

void TmsCustomPOP::requireOk()
{
    if (ReadReply() != 1)
        throw EServerError(lastReply());
}

void TmsCustomPOP::command(const QString &line)
{
    SendCommand(line);
    requireOk();
}

void TmsCustomPOP::Login()
{
    ResetState();
    m_capabilities.clear();
    m_replyReaders.clear();
    Connect();
    requireOk();
    ReadCapabilities();
    if (tlsMode() == TlsMode::StartTls)
        upgradeToTls();
    command(QStringLiteral("USER ") + m_userName);
    command(QStringLiteral("PASS ") + m_password);
    ReadStat();
}

void TmsCustomPOP::upgradeToTls()
{
    if (!hasCapability(QStringLiteral("STLS")))
        raiseTlsError(QStringLiteral("The server %1 does not offer STARTTLS (STLS), so the password was not sent. "
                                     "Choose SSL/TLS or None for this mailbox.")
                          .arg(hostPart()));
    command(QStringLiteral("STLS"));
    StartTls();
    // What the server said before the handshake may have been forged.
    ReadCapabilities();
}

void TmsCustomPOP::ReadCapabilities()
{
    m_capabilities.clear();
    SendCommand(QStringLiteral("CAPA"));
    if (ReadReply() != 1)
        return; // a server from before CAPA: one command at a time
    QByteArray data;
    ReceiveData(data, -1);
    for (const QByteArray &line : data.split('\n')) {
        const QByteArray name = line.trimmed().split(' ').value(0).toUpper();
        if (!name.isEmpty() && name != ".")
            m_capabilities << QString::fromLatin1(name);
    }
}

int TmsCustomPOP::window() const
{
    return m_pipeliningAllowed && hasCapability(QStringLiteral("PIPELINING")) ? PipelineWindow : 1;
}

void TmsCustomPOP::sendAhead(PipelinedCommand command)
{
    SendCommand(command.line);
    m_replyReaders.push_back(std::move(command.readReply));
}

void TmsCustomPOP::exchange(const std::vector<PipelinedCommand> &commands)
{
    const std::size_t window = static_cast<std::size_t>(this->window());
    auto next = commands.begin();
    for (;;) {
        QStringList batch;
        for (; next != commands.end() && m_replyReaders.size() < window; ++next) {
            batch << next->line;
            m_replyReaders.push_back(next->readReply);
        }
        if (!batch.isEmpty())
            SendCommands(batch);
        if (m_replyReaders.empty())
            return;
        const std::function<void()> readReply = std::move(m_replyReaders.front());
        m_replyReaders.pop_front();
        readReply();
    }
}

void TmsCustomPOP::appendFetch(std::vector<PipelinedCommand> &commands, int i,
                               const std::shared_ptr<TmsRemoteInfoItem> &item, std::function<void()> done)
{
    const QString number = QString::number(i + 1);
    commands.push_back({QStringLiteral("LIST ") + number, [this, item] {
                            requireOk();
                            item->Size = listedSize();
                        }});
    commands.push_back({QStringLiteral("TOP ") + number + QStringLiteral(" 1"), [this, item, done = std::move(done)] {
                            requireOk();
                            QByteArray data;
                            ReceiveData(data, -1);
                            item->Headers = splitLines(data);
                            CutAtBody(item->Headers);
                            done();
                        }});
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

void TmsCustomPOP::quitSession()
{
    Logout();
    Close();
}

void TmsCustomPOP::abandonSession()
{
    m_replyReaders.clear();
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
        std::vector<PipelinedCommand> commands;
        for (int i = 0; i < MessageCount(); ++i) {
            auto item = std::make_shared<TmsRemoteInfoItem>();
            appendFetch(commands, i, item, [this, item] {
                m_info.Add(std::move(*item));
                if (OnNextInfoUpdated)
                    OnNextInfoUpdated(m_info.Count() - 1);
            });
        }
        exchange(commands);
        quitSession();
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
    m_deleteAccepted.clear();
    for (int i = 0; i < m_info.Count(); ++i)
        m_info.Items(i).Deleted = false;
    if (m_info.Count() == 0)
        return;
    try {
        ConnectIfNeeded();
        if (OnTransferringData)
            OnTransferringData();
        std::vector<PipelinedCommand> commands;
        for (int i = 0; i < m_info.Count(); ++i) {
            if (m_info.Items(i).RetrieveMark) {
                RecheckMessage(commands, i, [] {});
                RetrieveMessage(commands, i);
            }
            if (m_info.Items(i).DeleteMark) {
                // DELE goes out only once the message proved to be the one listed.
                RecheckMessage(commands, i, [this, i] { DeleteMessage(i); });
            }
        }
        exchange(commands);
        if (OnDataTransfered)
            OnDataTransfered();
        quitSession();
    } catch (...) {
        // Without QUIT the server rolls back every DELE of this session.
        abandonSession();
        throw;
    }
    m_committed = true;
    for (const int i : m_deleteAccepted)
        m_info.Items(i).Deleted = true;
}

void TmsRemotePOP::RecheckMessage(std::vector<PipelinedCommand> &commands, int i, std::function<void()> checked)
{
    auto current = std::make_shared<TmsRemoteInfoItem>();
    appendFetch(commands, i, current, [this, i, current, checked = std::move(checked)] {
        const TmsRemoteInfoItem &listed = m_info.Items(i);
        if (current->Size != listed.Size || current->Headers != listed.Headers)
            throw EMailboxChangedError();
        checked();
    });
}

void TmsRemotePOP::RetrieveMessage(std::vector<PipelinedCommand> &commands, int i)
{
    const QString number = QString::number(i + 1);
    auto expected = std::make_shared<qint64>(0);
    commands.push_back({QStringLiteral("LIST ") + number, [this, i, expected] {
                            requireOk();
                            *expected = listedSize();
                            if (OnRetrieving)
                                OnRetrieving(i);
                        }});
    commands.push_back({QStringLiteral("RETR ") + number, [this, i, expected] {
                            requireOk();
                            QByteArray contents;
                            ReceiveData(contents, *expected);
                            SaveMessage(i, contents);
                            if (OnRetrieved)
                                OnRetrieved(i);
                        }});
}

void TmsRemotePOP::DeleteMessage(int i)
{
    if (OnDeleting)
        OnDeleting(i);
    sendAhead({QStringLiteral("DELE ") + QString::number(i + 1), [this, i] {
                   // A refused DELE leaves that message alone; the pass goes on.
                   if (ReadReply() == 1)
                       m_deleteAccepted.push_back(i);
               }});
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
