// The add-in-wide state: one object per connected add-in, owned by
// startLoad and handed to every routine, so that several add-ins can live
// side by side (as they do in the tests).
#pragma once

#include "filter/filter_store.h"
#include "addin/host/platform.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace skerrow {

namespace host {
class Application;
class MailItem;
class MessagingSession;
class ObjectFactory;
class Clipboard;
} // namespace host
namespace ui {
class Dialogs;
class WindowManager;
} // namespace ui

class Forms;

// What the add-in needs of the world besides the host application. The
// references outlive the add-in.
struct Services {
    platform::Platform& platform;
    host::ObjectFactory& objects;
    host::Clipboard& clipboard;
    ui::Dialogs& dialogs;
    ui::WindowManager& windows;
};

// Counters stop at the largest signed 16-bit value: one more is dropped.
inline void bump(std::int16_t& counter) {
    if (counter < INT16_MAX)
        ++counter;
}

class Varient {
public:
    explicit Varient(Services services);
    ~Varient();
    Varient(const Varient&) = delete;
    Varient& operator=(const Varient&) = delete;

    Services services;

    std::shared_ptr<host::Application> globalApplication;
    std::shared_ptr<host::MessagingSession> messagingSession;
    std::string ownAddress;
    // The user's other SMTP addresses, lower case: the directory's where
    // ownAddress is a directory name, and the mail accounts'. The
    // own-address rule looks for any of these and ownAddress.
    std::vector<std::string> moreOwnAddresses;
    // What Check Spam's purge has just found, for the suspect count and the
    // review window's first list, which follow with the same lists: the
    // mails it judged and kept (held, so that no address is reused; in
    // address order), and the senders of those that are unread suspects.
    // The window's purge judges only the other mails; its list takes these.
    struct JudgedMails {
        std::vector<std::shared_ptr<host::MailItem>> kept;
        std::unordered_map<const host::MailItem*, std::string> suspects;
        bool wasKept(const host::MailItem* mail) const;
    };
    JudgedMails lastPurge;
    std::int16_t deletedThisPass = 0;
    std::int16_t totalDeleted = 0;
    bool newMailPending = false;
    bool environmentLoaded = false;
    // The lists were read from the list file in this connection (or it was
    // missing and was made empty), so storing them cannot lose any.
    bool listsSafeToStore = false;
    // The lists and the total as this process last read or stored them:
    // what differs from these is this process's own change, which the next
    // store applies to whatever another process has stored meanwhile.
    FilterLists storedLists;
    std::int16_t storedTotal = 0;

    platform::RegistryRoot settingsRoot = platform::RegistryRoot::CurrentUser;
    std::string settingsKey;
    std::string installationFolder;
    std::string listFileUserName;

    FilterList friendemail;
    FilterList frienddomain;
    FilterList enemyemail;
    FilterList enemydomain;

    FilterLists lists() const { return {friendemail, frienddomain, enemyemail, enemydomain}; }
    void setLists(FilterLists lists);

    // The single instances of the add-in's windows.
    Forms& forms() { return *forms_; }

private:
    std::unique_ptr<Forms> forms_;
};

} // namespace skerrow
