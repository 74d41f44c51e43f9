#pragma once
// The main window offscreen with the inspection commands attached, over a
// scripted mailbox (or any POP3 server): viewers and the quick-add dialog
// are recorded instead of shown, the alarm and the timer hooks count, and
// help addresses are caught instead of opening a browser.

#include "app/appfixture.h"
#include "app/frmmain.h"
#include "app/help.h"
#include "app/inspectionmenu.h"
#include "app/programcore.h"
#include "support/scriptedpop3server.h"
#include "support/scriptedprompts.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QTreeView>

namespace inspectionrig {

class RecordingHelpOpener : public HelpOpener
{
public:
    QList<QUrl> opened;
    bool succeeds = true;
    bool openUrl(const QUrl &url) override
    {
        opened << url;
        return succeeds;
    }
};

struct ShownViewer
{
    TfrmViewHeader::Mode mode;
    QString title;
    QStringList lines;
};

struct InspectionRig
{
    QTemporaryDir home;
    ScriptedPop3Server server;
    std::unique_ptr<ProgramCore> core;
    ScriptedPrompts prompts;
    std::unique_ptr<TfrmMain> window;
    RecordingHelpOpener helpOpener;
    std::unique_ptr<InspectionCommands> commands;

    QList<ShownViewer> viewers;
    int alarmStops = 0;
    bool timerEnabled = false;
    QList<bool> timerChanges;

    InspectionRig() { qputenv("MAILSIEVE_HOME", home.path().toUtf8()); }

    // Starts the program over the scripted server holding messages.
    void start(const QList<QByteArray> &messages, const std::function<void(GeneralSettings &)> &edit = {})
    {
        server.setMessages(messages);
        QVERIFY(server.listen());
        startOn(server.address(), server.user(), server.password(), edit);
    }

    void startOn(const QString &address, const QString &user, const QString &password,
                 const std::function<void(GeneralSettings &)> &edit = {})
    {
        appfixture::storeSettings([&](GeneralSettings &s) {
            appfixture::storeMailbox(s, 1, address, user, password);
            if (edit)
                edit(s);
        });
        appfixture::storeRules(home.path());
        core = std::make_unique<ProgramCore>(home.path());
        QCOMPARE(core->load(), QStringList());
        window = std::make_unique<TfrmMain>(*core, prompts);
        window->FormCreate(readStartupSettings(core->store));
        commands = std::make_unique<InspectionCommands>(*window, *core, prompts, helpOpener);
        commands->links().runViewer = [this](TfrmViewHeader &viewer) {
            viewers << ShownViewer{viewer.mode(), viewer.lblTitle()->text(), viewer.text().split(QLatin1Char('\n'))};
        };
        CheckHooks &hooks = window->cycle().hooks();
        hooks.stopAlarm = [this] { ++alarmStops; };
        hooks.isTimerEnabled = [this] { return timerEnabled; };
        hooks.setTimerEnabled = [this](bool on) {
            timerEnabled = on;
            timerChanges << on;
        };
    }

    void check()
    {
        window->btListClick();
        QVERIFY(!window->cycle().checking);
    }

    void select(const QList<int> &rows)
    {
        QItemSelectionModel *selection = window->ListView1()->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(core->list.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QString totals() const { return window->statusPanel(1); }
    QList<MarkState> marks() const
    {
        QList<MarkState> all;
        for (int row = 0; row < core->list.count(); ++row)
            all << core->list.mark(row);
        return all;
    }
};

} // namespace inspectionrig
