#include "addin/lifecycle.h"
#include "addin/startload.h"
#include "filter/checkspam.h"
#include "filter/filter_store.h"
#include "filter/sender.h"
#include "filter/trap.h"

namespace skerrow {

using host::must;

void startLoad::globalApplication_NewMail() {
    v_.newMailPending = true;
}

// No trap of its own: a failing step of the automatic check ends the
// handler and the host gets the failure as the event's result.
void startLoad::m_objExplorer_SelectionChange() {
    if (v_.newMailPending) {
        const auto& application = must(v_.globalApplication);
        auto shown = must(must(application->ActiveExplorer())->CurrentFolder());
        auto inbox = must(must(application->GetNamespace("MAPI"))->GetDefaultFolder(host::olFolderInbox));
        // By display name: an Inbox of another store counts as the Inbox.
        if (shown->Name() == inbox->Name())
            checkSpam(v_, application);
    }
    updateButtonStates();
}

void startLoad::m_objExplorer_Close() {
    setExplorer(nullptr);
    // The closing window still counts. With the last one gone the host is
    // ending (and from Outlook 2010 on will not disconnect the add-in).
    const int open = attempt([&] { return must(v_.globalApplication)->ExplorerCount(); }).value_or(-1);
    if (open >= 0 && open <= 1)
        releaseHost();
}

void startLoad::resetButtonStates() {
    for (const auto* button : {&cmdAddFriendToolButton, &cmdAddEnemyDomain, &cmdIsSpamToolButton, &cmdAddFriendDomain})
        if (*button)
            (*button)->setEnabled(true);
}

void startLoad::updateButtonStates() {
    auto set = [](const std::shared_ptr<host::CommandBarButton>& button, bool enabled) {
        // An empty member (no toolbar was built) makes setting it a no-op.
        trap([&] {
            if (button)
                button->setEnabled(enabled);
        });
    };
    auto disableAll = [&] {
        set(cmdAddFriendToolButton, false);
        set(cmdAddFriendDomain, false);
        set(cmdAddEnemyDomain, false);
        set(cmdIsSpamToolButton, false);
    };

    trap([&] { resetButtonStates(); });
    // A selection or count that cannot be read counts as none: no command
    // may act on mails it cannot see.
    auto selection = attempt([&] { return must(must(v_.globalApplication)->ActiveExplorer())->GetSelection(); });
    if (!selection || !*selection) {
        disableAll();
        return;
    }
    const auto count = attempt([&] { return (*selection)->Count(); });
    if (!count || *count == 0) {
        disableAll();
        return;
    }
    if (*count >= 2)
        return;
    auto mail = host::asMailItem(attempt([&] { return (*selection)->Item(1); }).value_or(nullptr));
    if (!mail) {
        disableAll();
        return;
    }
    const std::string sender = getSenderAddress(v_.messagingSession, mail);
    if (isInArray(v_.enemyemail, sender)) {
        set(cmdAddFriendToolButton, true);
        set(cmdIsSpamToolButton, false);
    } else if (isInArray(v_.friendemail, sender)) {
        set(cmdAddFriendToolButton, false);
        set(cmdIsSpamToolButton, true);
    }
    const std::string key = domainKey(sender);
    if (isInArray(v_.enemydomain, key)) {
        set(cmdAddFriendDomain, true);
        set(cmdAddEnemyDomain, false);
    } else if (isInArray(v_.frienddomain, key)) {
        set(cmdAddFriendDomain, false);
        set(cmdAddEnemyDomain, true);
    }
}

} // namespace skerrow
