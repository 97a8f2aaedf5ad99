#include "filter/checkspam.h"

#include "addin/host/host.h"
#include "addin/ui/dialogs.h"
#include "filter/filter_store.h"
#include "filter/sender.h"
#include "filter/text.h"
#include "filter/trap.h"
#include "filter/varient.h"
#include "review/checkspamfrm.h"
#include "addin/forms.h"
#include "addin/lifecycle.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <type_traits>
#include <unordered_set>
#include <utility>

namespace skerrow {

namespace {

std::shared_ptr<host::Folder> defaultFolder(const std::shared_ptr<host::Application>& application, int kind) {
    return attempt([&] { return host::must(host::must(application)->GetNamespace("MAPI"))->GetDefaultFolder(kind); }).value_or(nullptr);
}

// The folder's items, snapshot first, so that deleting during the walk
// still visits every remaining mail.
std::vector<std::shared_ptr<host::Item>> snapshotOf(const std::shared_ptr<host::Folder>& folder) {
    if (!folder)
        return {};
    return attempt([&] { return folder->Items(); }).value_or(std::vector<std::shared_ptr<host::Item>>{});
}

// Visits the mails of the snapshot in order, passing over items that are
// not mails. Each item is looked at when the walk reaches it, so a long
// walk reads every item once rather than twice, and the host hears a few
// items ahead which ones come next. A visit that answers false ends the walk.
template <typename Visit>
void forEachMail(const std::shared_ptr<host::Folder>& folder, Visit visit) {
    constexpr std::size_t readAheadDistance = 4;
    auto items = snapshotOf(folder);
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i + readAheadDistance < items.size())
            folder->readAhead(items[i + readAheadDistance].get());
        if (const auto mail = host::asMailItem(std::move(items[i]))) {
            if constexpr (std::is_same_v<decltype(visit(mail)), bool>) {
                if (!visit(mail))
                    return;
            } else {
                visit(mail);
            }
        }
    }
}

bool isDeletedItems(const std::shared_ptr<host::Application>& application,
                    const std::shared_ptr<host::Folder>& folder) {
    auto deleted = defaultFolder(application, host::olFolderDeletedItems);
    if (!deleted || !folder)
        throw host::HostError("no Deleted Items folder");
    if (deleted == folder)
        return true;
    // Hosts may hand out a fresh object for the same folder.
    return deleted->StoreID() == folder->StoreID() && deleted->Name() == folder->Name();
}

bool deleteMail(const std::shared_ptr<host::MailItem>& mail) {
    return mail && trap([&] { mail->Delete(); });
}

// The deleted mails whose deletion the host could not complete after
// Delete returned; all of them when it cannot say.
std::optional<std::unordered_set<const host::MailItem*>> unsettled(const std::shared_ptr<host::Folder>& folder) {
    if (!folder)
        return std::unordered_set<const host::MailItem*>{};
    return attempt([&] {
        const auto failed = folder->settleDeletions();
        return std::unordered_set<const host::MailItem*>(failed.begin(), failed.end());
    });
}

} // namespace

std::string checkSpamReport(std::int16_t deleted) {
    return "\r\n  Deleted " + std::to_string(deleted) + " spams.  \r\n\r\n";
}

bool isSuspect(const Varient& v, const std::string& senderAddress) {
    return !isInArray(v.friendemail, senderAddress) && !isInArray(v.frienddomain, domainKey(senderAddress));
}

namespace {

// The purge; judging, when given, gets the mails judged and kept, and the
// unread suspects among them.
void purge(Varient& v, const std::shared_ptr<host::Application>& application, Varient::JudgedMails* judging) {
    const Varient::JudgedMails& judged = v.lastPurge;
    v.deletedThisPass = 0;
    // Only SMTP addresses can occur in a mail; with none known, the rule
    // deletes nothing.
    std::vector<CaseInsensitiveSearch> ownAddresses;
    if (hasAt(v.ownAddress))
        ownAddresses.emplace_back(v.ownAddress);
    for (const std::string& address : v.moreOwnAddresses)
        if (hasAt(address) && address != v.ownAddress)
            ownAddresses.emplace_back(address);
    std::string senderDomain;
    std::vector<std::shared_ptr<host::MailItem>> deleted; // held: their addresses stay theirs
    const auto inbox = defaultFolder(application, host::olFolderInbox);
    forEachMail(inbox, [&](const std::shared_ptr<host::MailItem>& mail) {
        if (!judged.kept.empty() && judged.wasKept(mail.get()))
            return;
        const SessionMail opened(v.messagingSession, mail);
        const std::string sender = opened.senderAddress();
        domainKey(sender, senderDomain);
        const bool blacklisted =
            isInArray(v.enemyemail, sender) ||
            (isInArray(v.enemydomain, senderDomain) && !isInArray(v.friendemail, sender));
        if (blacklisted) {
            if (deleteMail(mail))
                deleted.push_back(mail);
            return;
        }
        // A mail the session cannot open is left alone: with the session
        // down, judging it by nothing would delete nearly every mail.
        std::optional<bool> addressed = true;
        for (const auto& search : ownAddresses)
            if (addressed = opened.textContains(search); !addressed || *addressed)
                break;
        if (addressed && !*addressed) {
            deleteMail(mail);
        } else if (addressed && judging) { // one that could not be read is judged again
            judging->kept.push_back(mail);
            if (attempt([&] { return mail->UnRead(); }).value_or(false) && isSuspect(v, sender))
                judging->suspects.emplace(mail.get(), sender);
        }
    });
    if (judging) // sorted by address: a set would take several times the memory per mail
        std::sort(judging->kept.begin(), judging->kept.end(),
                  [](const auto& a, const auto& b) { return std::less<>()(a.get(), b.get()); });
    // Only deletions that happened are counted.
    if (!deleted.empty())
        if (const auto failed = unsettled(inbox))
            for (const auto& mail : deleted)
                if (!failed->contains(mail.get())) {
                    bump(v.deletedThisPass);
                    bump(v.totalDeleted);
                }
    if (v.deletedThisPass != 0)
        storeChanges(v);
}

} // namespace

void purgeInbox(Varient& v, const std::shared_ptr<host::Application>& application) {
    purge(v, application, nullptr);
}

std::optional<std::string> suspectSender(Varient& v, const std::shared_ptr<host::MailItem>& mail,
                                         const Varient::JudgedMails& judged) {
    if (!attempt([&] { return mail->UnRead(); }).value_or(false))
        return std::nullopt;
    if (const auto it = judged.suspects.find(mail.get()); it != judged.suspects.end())
        return it->second;
    if (judged.wasKept(mail.get()))
        return std::nullopt;
    std::string sender = getSenderAddress(v.messagingSession, mail);
    if (!isSuspect(v, sender))
        return std::nullopt;
    return sender;
}

namespace {

std::int16_t countSuspectsAfter(Varient& v, const std::shared_ptr<host::Application>& application,
                                const Varient::JudgedMails& judged, std::int16_t enough) {
    std::int16_t count = 0;
    forEachMail(defaultFolder(application, host::olFolderInbox), [&](const std::shared_ptr<host::MailItem>& mail) {
        if (suspectSender(v, mail, judged))
            bump(count);
        return count < enough;
    });
    return count;
}

} // namespace

std::int16_t countSuspects(Varient& v, const std::shared_ptr<host::Application>& application) {
    return countSuspectsAfter(v, application, {}, std::numeric_limits<std::int16_t>::max());
}

void checkSpam(Varient& v, const std::shared_ptr<host::Application>& application) {
    auto inbox = defaultFolder(application, host::olFolderInbox);
    if (hasNonMailItems(v, application, inbox))
        return;
    Varient::JudgedMails judged;
    purge(v, application, &judged);
    // The window lists them all; whether there is one is all this needs.
    if (countSuspectsAfter(v, application, judged, 1) > 0) {
        // The lists stay as they were: the window's first list need not
        // judge these again.
        v.lastPurge = std::move(judged);
        trap([&] {
            CheckSpamFrm& review = v.forms().checkSpamFrm();
            review.checkFolder = inbox;
            review.checkApplication = application;
            review.showModeless();
        });
        v.lastPurge = {}; // a window already open did not purge
        return;
    }
    if (v.deletedThisPass != 0)
        trap([&] {
            v.services.dialogs.messageBox(checkSpamReport(v.deletedThisPass), ui::Buttons::OK, ui::Icon::Exclamation,
                                          checkSpamReportTitle);
        });
}

void markIsSpam(Varient& v, const std::shared_ptr<host::Application>& application,
                const std::shared_ptr<host::Folder>& folder, const std::string& entryID,
                const std::string& senderAddress) {
    // The fallback stands for every unresolved sender: listing it would
    // condemn all of their mail.
    if (senderAddress != fallbackSenderAddress) {
        if (isInArray(v.friendemail, senderAddress))
            v.friendemail = delFromArray(std::move(v.friendemail), senderAddress);
        v.enemyemail = addToArray(std::move(v.enemyemail), senderAddress);
    }
    if (attempt([&] { return isDeletedItems(application, folder); }).value_or(true))
        return;
    const auto mail = findMailByEntryID(v, application, folder, entryID);
    if (!deleteMail(mail))
        return;
    if (const auto failed = unsettled(folder); failed && !failed->contains(mail.get()))
        bump(v.totalDeleted);
}

void markNotSpam(Varient& v, const std::shared_ptr<host::Application>&, const std::shared_ptr<host::Folder>&,
                 const std::string&, const std::string& senderAddress) {
    if (senderAddress == fallbackSenderAddress)
        return;
    if (isInArray(v.enemyemail, senderAddress))
        v.enemyemail = delFromArray(std::move(v.enemyemail), senderAddress);
    v.friendemail = addToArray(std::move(v.friendemail), senderAddress);
}

std::shared_ptr<host::MailItem> findMailByEntryID(Varient&, const std::shared_ptr<host::Application>&,
                                                  const std::shared_ptr<host::Folder>& folder,
                                                  const std::string& entryID) {
    for (auto& item : snapshotOf(folder))
        if (auto mail = host::asMailItem(std::move(item)); mail && attempt([&] { return mail->EntryID(); }) == entryID)
            return mail;
    return nullptr;
}

void purgeHostNotices(Varient&, const std::shared_ptr<host::Application>& application) {
    forEachMail(defaultFolder(application, host::olFolderInbox), [&](const std::shared_ptr<host::MailItem>& mail) {
        const auto subject = attempt([&] { return mail->Subject(); });
        if (subject && subject->find(hostNoticeSubject) != std::string::npos)
            deleteMail(mail);
    });
}

} // namespace skerrow
