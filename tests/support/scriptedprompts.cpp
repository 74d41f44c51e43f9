#include "support/scriptedprompts.h"

QStringList ScriptedPrompts::textsOf(Kind kind) const
{
    QStringList texts;
    for (const Asked &a : asked) {
        if (a.kind == kind)
            texts << a.text;
    }
    return texts;
}

void ScriptedPrompts::record(Kind kind, const QString &text)
{
    asked.append({kind, text});
    if (onAsked)
        onAsked(asked.last());
}

void ScriptedPrompts::information(const QString &text)
{
    record(Kind::Information, text);
}
void ScriptedPrompts::error(const QString &text)
{
    record(Kind::Error, text);
}
void ScriptedPrompts::warning(const QString &text)
{
    record(Kind::Warning, text);
}

bool ScriptedPrompts::askYesNo(const QString &text)
{
    record(Kind::YesNo, text);
    return yesNoAnswers.isEmpty() ? false : yesNoAnswers.dequeue();
}

QString ScriptedPrompts::openFileName(const QString &caption, const QString &, const QString &)
{
    record(Kind::OpenFile, caption);
    return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
}

QString ScriptedPrompts::saveFileName(const QString &caption, const QString &, const QString &)
{
    record(Kind::SaveFile, caption);
    return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
}
