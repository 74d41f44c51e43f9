#pragma once
// "mailsieve --check": the check cycle without a window. Checks one mailbox
// with the stored settings and rules and prints one line per message and
// the totals line.

#include "app/checkcycle.h"

#include <QStringList>
#include <QTextStream>

class DelayTimers;

// The console's side of a check: no window, no tray; the error text is
// kept for standard error.
class ConsoleCheckView : public CheckView
{
public:
    QString errorText() const { return m_error; }
    // The warnings shown since the last call, for standard error.
    QStringList takeWarnings() { return std::exchange(m_warnings, {}); }

    void setStatusText(const QString &) override {}
    bool isMainWindowVisible() const override { return false; }
    void showProgress(const QString &, const QString &) override {}
    void setProgressMessage(const QString &) override {}
    void hideProgress() override {}
    void disableAllButtons() override {}
    void enableAllButtons() override {}
    void setExitLook(const QString &, bool) override {}
    void updateListPicture() override {}
    void setTrayMenuEnabled(bool) override {}
    void showCanceledTrayIcon() override {}
    void showError(const QString &text) override { m_error = text; }
    void showWarning(const QString &text) override { m_warnings << text; }
    void closeMainWindow() override {}
    void hideToTray() override {}

private:
    QString m_error;
    QStringList m_warnings;
};

// One list row as printed: index, mark (-1..3), size, sender, subject and
// Date column, separated by tabs; every control character inside a field
// (tabs and line breaks too) becomes a space, so every message stays one
// line and no header text can send the terminal an escape sequence.
QString consoleRowLine(int index, const MessageEntry &row);

// True when there is any argument besides the program's name and the Qt
// toolkit's own options: the window starts without them (also when a
// session manager restarts it with -session), --version needs no display
// and a mistyped option is reported instead of opening the window.
bool wantsConsole(const QStringList &arguments);

// Runs the command line and returns the exit code: 0 after a completed
// check, --help or --version, 1 when the check failed (the error text on
// err), 2 for a usage error (the reason and the usage on err), 3 when
// --delete deleted the marked messages and then the mailbox could not be
// listed again. The toolkit's options are left out. timers time the pause
// before a refused listing is tried again (the event loop's when null).
int runConsoleCheck(const QStringList &arguments, QTextStream &out, QTextStream &err, DelayTimers *timers = nullptr);
