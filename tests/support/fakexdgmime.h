#pragma once
// xdg-mime as a test plays it: "xdg-mime query default
// x-scheme-handler/mailto" answers the desktop file of the mail program.

#include "mail/dialupprocess.h"

#include <QString>
#include <QStringList>

class FakeXdgMime : public CommandRunner
{
public:
    explicit FakeXdgMime(QString desktopFile = {}) : handler(std::move(desktopFile)) {}

    QString handler;
    bool installed = true;

    bool available(const QString &program) const override { return installed && program == QLatin1String("xdg-mime"); }
    CommandResult run(const QString &, const QStringList &args, int) override
    {
        CommandResult result;
        result.started = true;
        result.exitCode = args
                                  == QStringList{QStringLiteral("query"), QStringLiteral("default"),
                                                 QStringLiteral("x-scheme-handler/mailto")}
                              ? 0
                              : 1;
        result.output = handler.toUtf8() + "\n";
        return result;
    }
    std::unique_ptr<RunningCommand> start(const QString &, const QStringList &,
                                          std::function<void(const CommandResult &)>) override
    {
        return nullptr;
    }
};
