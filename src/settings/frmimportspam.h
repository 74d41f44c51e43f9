#pragma once
// The import dialog: a pasted or typed list of lines, one rule per line.

#include "settings/ruleeditorwidgets.h"

#include <QStringList>

class QPlainTextEdit;

class TfrmImportSpam : public RuleEditorDialog
{
    Q_OBJECT

public:
    // title: "Import spam keywords" or "Import e-mail addresses".
    explicit TfrmImportSpam(const QString &title, QWidget *parent = nullptr);

    // The lines as typed, without immediate repeats; set by OK.
    QStringList lines() const { return lines_; }

    QPlainTextEdit *const memo;

protected:
    bool checkInput() override;

private:
    QStringList lines_;
};
