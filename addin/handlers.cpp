#include "addin/forms.h"
#include "addin/lifecycle.h"
#include "addin/startload.h"
#include "addin/ui/dialogs.h"
#include "filter/addfilter.h"
#include "filter/checkspam.h"
#include "filter/sender.h"
#include "filter/settings.h"
#include "filter/trap.h"
#include "options/options.h"
#include "review/about.h"

namespace skerrow {

using host::must;

void startLoad::cmdCheckSpam_Click() {
    checkSpam(v_, v_.globalApplication);
}

void startLoad::cmdAddFriendDomain_Click() {
    trap([&] { addSenderDialog(v_, v_.globalApplication, frienddomainKey); });
}

void startLoad::cmdAddEnemyDomain_Click() {
    trap([&] { addSenderDialog(v_, v_.globalApplication, enemydomainKey); });
}

void startLoad::cmdOptions_Click() {
    trap([&] { v_.forms().optionsWindow().showModal(); });
}

void startLoad::cmdHelp_Click() {
    // The folder is stored with its trailing separator; nothing is added.
    shellOpen(v_.services.platform, v_.installationFolder + helpFileName);
}

void startLoad::cmdAboutCorvalle_Click() {
    trap([&] { v_.forms().aboutBox().showModal(); });
}

void startLoad::cmdIsSpamToolButton_Click() {
    IsOrNotSpam_PublicClick("IsSpam");
}

void startLoad::cmdAddFriendToolButton_Click() {
    trap([&] { addSenderDialog(v_, v_.globalApplication, friendemailKey); });
}

void startLoad::IsOrNotSpam_PublicClick(const std::string& kind) {
    const auto& application = v_.globalApplication;
    auto selection = attempt([&] { return must(must(application)->ActiveExplorer())->GetSelection(); });
    if (!selection || !*selection)
        return;
    const int count = attempt([&] { return (*selection)->Count(); }).value_or(0);
    bool judged = false;
    for (int position = 1; position <= count; ++position) {
        auto item = attempt([&] { return (*selection)->Item(position); });
        if (!item || !*item)
            continue;
        auto mail = host::asMailItem(*item);
        if (!mail) {
            trap([&] {
                v_.services.dialogs.messageBox(selectMailMessage, ui::Buttons::OK, ui::Icon::Exclamation,
                                               ui::programTitle);
            });
            continue;
        }
        auto folder = attempt([&] { return mail->Parent(); }).value_or(nullptr);
        const std::string entryID = attempt([&] { return mail->EntryID(); }).value_or(std::string());
        const std::string sender = getSenderAddress(v_.messagingSession, mail);
        if (kind == "IsSpam")
            markIsSpam(v_, application, folder, entryID, sender);
        else if (kind == "NotSpam")
            markNotSpam(v_, application, folder, entryID, sender);
        judged = judged || kind == "IsSpam" || kind == "NotSpam";
    }
    if (judged)
        storeChanges(v_);
}

} // namespace skerrow
