#include "app/desktopwindows.h"

#include "app/learnfromfolders.h"
#include "app/programcore.h"
#include "app/trustedserverproposal.h"
#include "settings/learningpage.h"

namespace {

TfrmGeneral::Links generalLinks(ProgramCore &core, Prompts &prompts, const MailImport &mailImport)
{
    TfrmGeneral::Links links{core.settings, core.store, prompts, core.folder};
    links.dialUp = &core.ras;
    links.mailImport = &mailImport;
    links.headerRules = &core.rules.HeaderRules;
    return links;
}

} // namespace

DesktopWindows::DesktopWindows(ProgramCore &core, Prompts &prompts, DesktopDevices devices)
    : commands(std::move(devices.commands)), mailImport(platformSettings, *commands), frmMain(core, prompts),
      frmOptionsMain(core.rules, core.folder, core.settings, prompts, &frmMain),
      frmGeneral(generalLinks(core, prompts, mailImport), &frmMain),
      automation(core, frmMain, frmGeneral, frmOptionsMain, prompts, std::move(devices.automatic)),
      helpOpener(&frmMain), inspection(frmMain, core, prompts, helpOpener)
{
    frmGeneral.saveRules = [this] { return frmOptionsMain.Savesettings(); };
    frmGeneral.signIn = [&core](const MailboxLogin &login) { return core.signIn(login).error; };
    frmGeneral.mailboxesSaved = [&core] { return core.forgetRemovedMailboxes(); };
    frmGeneral.trustedServerProposal = [&core](int mailbox) {
        return lastCheckTrustedServer(core.settings.mailboxes.at(mailbox - 1), core.clients, core.memory.store());
    };
    LearningPage &learning = *frmOptionsMain.learningPage;
    learning.learnedCounts = [&core] {
        const std::optional<LearntCounts> counts = core.learner.counts();
        return counts ? LearnedCounts{counts->spamMessages, counts->hamMessages, int(counts->tokens)} : LearnedCounts{};
    };
    learning.learnFromFolders = [this, &core, &prompts] {
        learnFromFolders(core.learner, prompts, frmOptionsMain.runDialog, sortedMailClient(core), &frmOptionsMain);
    };
    attachHelp(inspection.help(), frmOptionsMain, frmGeneral);
}

void DesktopWindows::FormCreate(const StartupSettings &startup)
{
    frmMain.FormCreate(startup);
    automation.FormCreate(startup);
}
