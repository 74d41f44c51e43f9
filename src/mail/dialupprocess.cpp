#include "mail/dialupprocess.h"

#include <QProcess>
#include <QStandardPaths>

namespace {

CommandResult resultOf(QProcess &process)
{
    CommandResult result;
    result.started = true;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAllStandardOutput();
    result.errorOutput = process.readAllStandardError();
    return result;
}

class RunningProcess : public RunningCommand
{
public:
    RunningProcess(const QString &program, const QStringList &args,
                   const std::function<void(const CommandResult &)> &finished)
    {
        QObject::connect(&m_process, &QProcess::finished, [this, finished] { finished(resultOf(m_process)); });
        QObject::connect(&m_process, &QProcess::errorOccurred, [this, finished](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return; // the other errors end in finished()
            CommandResult result;
            result.errorOutput = m_process.errorString().toUtf8();
            finished(result);
        });
        m_process.start(program, args);
    }

    ~RunningProcess() override { abort(); }

    void abort() override
    {
        m_process.disconnect();
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(1000);
        }
    }

private:
    QProcess m_process;
};

} // namespace

bool ProcessRunner::available(const QString &program) const
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

CommandResult ProcessRunner::run(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(timeoutMs)) {
        CommandResult result;
        result.errorOutput = process.errorString().toUtf8();
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        CommandResult result = resultOf(process);
        result.exitCode = -1;
        result.errorOutput += "\n" + program.toUtf8() + " did not answer in time";
        return result;
    }
    return resultOf(process);
}

std::unique_ptr<RunningCommand> ProcessRunner::start(const QString &program, const QStringList &args,
                                                     std::function<void(const CommandResult &)> finished)
{
    return std::make_unique<RunningProcess>(program, args, finished);
}
