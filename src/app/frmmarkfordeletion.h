#pragma once
// "Mark e-mail for deletion": the selected messages' subjects and senders,
// and on OK a check-mark rule for each subject and each sender, on top of
// their tables.

#include "rules/quickadd.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QPushButton;
class QTableWidget;

class TfrmMarkForDeletion : public QDialog
{
    Q_OBJECT
public:
    // The dialog's list holds 250 rows with its heading row: at most 249
    // messages, the first ones selected; the others get no rules.
    static constexpr int MaxMessages = 249;

    struct Message
    {
        QString subject;
        QString from;
    };

    explicit TfrmMarkForDeletion(RuleSet &rules, QWidget *parent = nullptr);

    // Lists the messages in order, at most MaxMessages.
    void setMessages(const QList<Message> &messages);
    // The rules of one message, as the two check boxes choose.
    void addToList(const QString &subject, const QString &sender);
    // Adds the rules of every listed message with a subject, saves, closes.
    void btOKClick();

    // Savesettings of the rule tables.
    std::function<void()> saveRules;

    QTableWidget *grid() const { return m_grid; }
    QCheckBox *cbSubjects() const { return m_cbSubjects; }
    QCheckBox *cbSenders() const { return m_cbSenders; }
    QPushButton *btOK() const { return m_btOK; }
    QPushButton *btCancel() const { return m_btCancel; }

private:
    RuleSet &m_rules;
    QTableWidget *m_grid;
    QCheckBox *m_cbSubjects;
    QCheckBox *m_cbSenders;
    QPushButton *m_btOK;
    QPushButton *m_btCancel;
};
