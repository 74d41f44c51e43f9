#pragma once
// A Prompts that records every question and answers from a script, so tests
// can check the exact texts shown and drive yes/no and file choices.

#include "settings/prompts.h"

#include <QList>
#include <QQueue>
#include <QStringList>
#include <functional>

class ScriptedPrompts : public Prompts
{
public:
    enum class Kind { Information, Error, Warning, YesNo, OpenFile, SaveFile };
    struct Asked
    {
        Kind kind;
        QString text; // the message, or the caption of a file dialog
    };

    // Answers used in order; when a queue is empty the defaults apply
    // (No for a question, cancel for a file dialog).
    QQueue<bool> yesNoAnswers;
    QQueue<QString> fileAnswers;
    // Called after each prompt is recorded, while the caller waits as it
    // would on a modal box.
    std::function<void(const Asked &)> onAsked;

    QList<Asked> asked;

    QStringList textsOf(Kind kind) const;
    void clear() { asked.clear(); }

    void information(const QString &text) override;
    void error(const QString &text) override;
    void warning(const QString &text) override;
    bool askYesNo(const QString &text) override;
    QString openFileName(const QString &caption, const QString &folder, const QString &filter) override;
    QString saveFileName(const QString &caption, const QString &folder, const QString &filter) override;

private:
    void record(Kind kind, const QString &text);
};
