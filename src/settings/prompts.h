#pragma once
// The questions and notices the program puts to the user. Windows and the
// check cycle talk to this interface, never to QMessageBox directly, so the
// same code runs under tests with a scripted answerer.

#include <QString>

class QWidget;

class Prompts
{
public:
    virtual ~Prompts() = default;

    virtual void information(const QString &text) = 0;
    virtual void error(const QString &text) = 0;
    virtual void warning(const QString &text) = 0;
    // True for Yes.
    virtual bool askYesNo(const QString &text) = 0;
    // The chosen path, or an empty text when the user cancelled.
    virtual QString openFileName(const QString &caption, const QString &folder, const QString &filter) = 0;
    virtual QString saveFileName(const QString &caption, const QString &folder, const QString &filter) = 0;
};

// Modal Qt dialogs, titled "Mailsieve", over the given parent window.
class DialogPrompts : public Prompts
{
public:
    explicit DialogPrompts(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParentWidget(QWidget *parent) { m_parent = parent; }

    void information(const QString &text) override;
    void error(const QString &text) override;
    void warning(const QString &text) override;
    bool askYesNo(const QString &text) override;
    QString openFileName(const QString &caption, const QString &folder, const QString &filter) override;
    QString saveFileName(const QString &caption, const QString &folder, const QString &filter) override;

private:
    QWidget *m_parent;
};
