#pragma once
// Running helper programs (nmcli, xdg-mime) behind a small interface, so the
// code that reads their output is tested with a scripted runner instead of
// the real system.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

struct CommandResult
{
    bool started = false; // the program could be run at all
    int exitCode = -1; // -1 when it crashed or was stopped
    QByteArray output;
    QByteArray errorOutput;

    bool succeeded() const { return started && exitCode == 0; }
};

// A command started with CommandRunner::start.
class RunningCommand
{
public:
    virtual ~RunningCommand() = default;
    // Stops the command; its finished callback is not called afterwards.
    virtual void abort() = 0;
};

class CommandRunner
{
public:
    virtual ~CommandRunner() = default;

    // Whether the program can be found on the search path.
    virtual bool available(const QString &program) const = 0;
    // Runs a short query to its end, waiting at most timeoutMs.
    virtual CommandResult run(const QString &program, const QStringList &args, int timeoutMs) = 0;
    // Starts a long command and returns at once; finished is called from the
    // event loop when the command ends. Destroying the handle aborts it.
    virtual std::unique_ptr<RunningCommand> start(const QString &program, const QStringList &args,
                                                  std::function<void(const CommandResult &)> finished) = 0;
};

// The real programs, through QProcess.
class ProcessRunner : public CommandRunner
{
public:
    bool available(const QString &program) const override;
    CommandResult run(const QString &program, const QStringList &args, int timeoutMs) override;
    std::unique_ptr<RunningCommand> start(const QString &program, const QStringList &args,
                                          std::function<void(const CommandResult &)> finished) override;
};
