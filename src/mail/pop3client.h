#pragma once
// The POP3 client: logs in to one mailbox, lists the size and header block of
// every waiting message (LIST n, TOP n 1) into Info, and in a later session
// retrieves (RETR) and deletes (DELE) the messages marked in Info.
//
// Every operation either completes with QUIT or, on any failure, drops the
// connection without QUIT, so the server commits no DELE of a failed pass.

#include "mail/agsocket.h"
#include "mail/headers.h"

#include <QByteArray>
#include <QString>
#include <vector>

struct TmsRemoteInfoItem
{
    bool DeleteMark = false;
    bool RetrieveMark = false;
    qint64 Size = 0;    // octets, from the reply to LIST; 0 when it held no number
    TmsHeaders Headers; // raw header lines, cut at the first empty line
    // Set when the server answered +OK to DELE in the last ProcessMarks; the
    // deletion took effect only if that pass was committed().
    bool Deleted = false;
};

// Index i describes message number i + 1 of the session that listed it.
class TmsRemoteInfo
{
public:
    int Count() const { return static_cast<int>(m_items.size()); }
    TmsRemoteInfoItem &Items(int i) { return m_items.at(i); }
    const TmsRemoteInfoItem &Items(int i) const { return m_items.at(i); }
    void Add(TmsRemoteInfoItem item) { m_items.push_back(std::move(item)); }
    void Clear() { m_items.clear(); }

private:
    std::vector<TmsRemoteInfoItem> m_items;
};

class TmsCustomPOP : public TmsMailBase
{
    Q_OBJECT
public:
    explicit TmsCustomPOP(QObject *parent = nullptr);

    QString userName() const { return m_userName; }
    void setUserName(const QString &name) { m_userName = name; }
    QString password() const { return m_password; }
    void setPassword(const QString &password) { m_password = password; }
    // From the last STAT reply; -1 until one was read.
    int MessageCount() const { return m_messageCount; }
    qint64 MailboxSize() const { return m_mailboxSize; }

    // "+" gives 1, "-" gives -1, anything else 0.
    int ReplyCode(const QString &line) const override;
    void Open() override;
    void Login() override;
    void Logout() override;
    // QUIT and close when a socket is open. A refused QUIT still closes.
    void Disconnect();

    virtual void SaveMessage(int index, const QByteArray &contents) = 0;
    // UserName and Password must be set.
    virtual void CheckProperties();

protected:
    void ConnectIfNeeded();
    void ReadStat();
    // LIST n and TOP n 1 of message i + 1 into item.
    void FetchItemInfo(int i, TmsRemoteInfoItem &item);
    // Sends the command and requires a "+" reply, else EServerError.
    void command(const QString &line);
    // The size a LIST reply gives, 0 when it holds no number.
    qint64 listedSize() const;
    // Drops the connection without QUIT, so nothing of the session is committed.
    void abandonSession();

private:
    QString m_userName;
    QString m_password;
    int m_messageCount = -1;
    qint64 m_mailboxSize = -1;
};

class TmsRemotePOP : public TmsCustomPOP
{
    Q_OBJECT
public:
    explicit TmsRemotePOP(QObject *parent = nullptr);

    TmsRemoteInfo &Info() { return m_info; }
    const TmsRemoteInfo &Info() const { return m_info; }

    // Retrieved messages go here as "msg_" + index + ".eml"; a non-empty
    // value always ends in "/".
    QString messageDirectory() const { return m_messageDirectory; }
    void setMessageDirectory(const QString &directory);

    // Lists every waiting message into Info, then quits.
    void UpdateInfo();
    void MarkForDelete(int i) { m_info.Items(i).DeleteMark = true; }
    void MarkForRetrieve(int i) { m_info.Items(i).RetrieveMark = true; }
    void ClearMarks(int i);
    // In a session of its own retrieves every retrieve-marked and deletes
    // every delete-marked message, each after RecheckMessage, then quits.
    // Throws EMailboxChangedError (without QUIT) when a message no longer
    // matches its item.
    void ProcessMarks();
    // The last ProcessMarks ended with a QUIT the server accepted: the items
    // with Deleted set are gone from the server.
    bool committed() const { return m_committed; }

    // OnUserMessageSave when assigned, else the file in messageDirectory().
    void SaveMessage(int index, const QByteArray &contents) override;

    // Events, each called only when assigned; num is the 0-based item index.
    std::function<void()> OnUpdatingInfo;
    std::function<void(int num)> OnNextInfoUpdated;
    std::function<void()> OnInfoUpdated;
    std::function<void()> OnTransferringData;
    std::function<void(int num)> OnRetrieving;
    std::function<void(int num)> OnRetrieved;
    std::function<void(int num)> OnDeleting;
    std::function<void()> OnDataTransfered;
    std::function<void(int num, const QByteArray &contents)> OnUserMessageSave;

protected:
    // Lists message i + 1 again; EMailboxChangedError when its size or header
    // block differs from item i.
    void RecheckMessage(int i);
    void RetrieveMessage(int i);
    void DeleteMessage(int i);

private:
    TmsRemoteInfo m_info;
    QString m_messageDirectory;
    bool m_committed = false;
};
