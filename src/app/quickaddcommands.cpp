#include "app/quickaddcommands.h"

#include "app/checkcycle.h"
#include "app/frmmarkfordeletion.h"
#include "app/manualmarks.h"
#include "app/programcore.h"
#include "rules/quickadd.h"
#include "rules/serverfindings.h"
#include "settings/prompts.h"

void QuickAddCommands::AddtoSPAMlist1Click()
{
    const std::optional<QList<int>> rows = m_links.selectionOrNotice();
    if (!rows)
        return;
    QList<TfrmMarkForDeletion::Message> messages;
    for (int row : *rows) {
        const MessageEntry &entry = m_links.core.list.entry(row);
        messages.append({entry.Subject, entry.Sender});
    }
    {
        TfrmMarkForDeletion dialog(m_links.core.rules, m_links.window);
        dialog.setMessages(messages);
        dialog.saveRules = [this] { saveRules(); };
        if (runDialog)
            runDialog(dialog);
        else
            dialog.exec();
    }
    // OK or Cancel, the list shows what the rules now say.
    m_marks.btRemarkClick();
}

void QuickAddCommands::AddtoExceptions1Click()
{
    const std::optional<QList<int>> rows = m_links.selectionOrNotice();
    if (!rows)
        return;
    int added = 0;
    ListMarkingSource &source = m_links.core.markingSource;
    for (int row : *rows) {
        const QString sender = m_links.core.list.entry(row).Sender;
        // A domain that publishes DMARC can prove its mail: its exception
        // asks for that proof, so a forged From line gets no free pass.
        const bool dmarcOnly =
            ServerFindings::of(source.headerLines(row), source.trustedServer()).senderPublishesDmarc(sender);
        added += addExceptionSender(m_links.core.rules.ExceptionRules, sender, dmarcOnly) ? 1 : 0;
    }
    if (added == 0) {
        m_links.prompts.information(NoSenderText);
        return;
    }
    saveRules();
    m_marks.btRemarkClick();
}

void QuickAddCommands::saveRules()
{
    if (m_links.cycle.hooks().saveRules)
        m_links.cycle.hooks().saveRules();
}
