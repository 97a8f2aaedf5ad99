// What a host over a mail store that is no mail client (a Maildir, an IMAP
// account) shows beside its folders: the user's address, the address books,
// the explorer, the new-mail event, and the application and session that
// hand them out. The Maildir and IMAP hosts share them.
#pragma once

#include "addin/host/host.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace skerrow::maildir {

// An address as an address-book entry, a sender or the current user.
template <class Interface>
class PlainAddress : public Interface {
public:
    explicit PlainAddress(std::string address) : address_(std::move(address)) {}
    std::string Address() override { return address_; }

private:
    std::string address_;
};

class AddressBook : public host::AddressList {
public:
    explicit AddressBook(const std::vector<std::string>& addresses) {
        for (const auto& address : addresses)
            entries_.push_back(std::make_shared<PlainAddress<host::AddressEntry>>(address));
    }
    std::vector<std::shared_ptr<host::AddressEntry>> AddressEntries() override { return entries_; }

private:
    std::vector<std::shared_ptr<host::AddressEntry>> entries_;
};

using HandlerList = std::vector<std::shared_ptr<host::EventHandler>>;

class HandlerConnection : public host::EventConnection {
public:
    HandlerConnection(const std::shared_ptr<HandlerList>& list, std::shared_ptr<host::EventHandler> handler)
        : list_(list), handler_(std::move(handler)) {}
    ~HandlerConnection() override {
        if (auto list = list_.lock())
            std::erase(*list, handler_);
    }

private:
    std::weak_ptr<HandlerList> list_;
    std::shared_ptr<host::EventHandler> handler_;
};

struct StoreParts {
    std::optional<std::string> address;
    std::vector<std::shared_ptr<host::AddressList>> addressLists;
    std::shared_ptr<host::Explorer> explorer;
    std::shared_ptr<HandlerList> newMailHandlers = std::make_shared<HandlerList>();
    std::vector<std::string> eventFailures;

    // Runs every handler; what one throws is kept, not passed on.
    void raiseNewMail() {
        // A handler may drop its own or another's subscription while we run.
        const HandlerList snapshot = *newMailHandlers;
        for (const auto& handler : snapshot) {
            if (std::find(newMailHandlers->begin(), newMailHandlers->end(), handler) == newMailHandlers->end())
                continue;
            try {
                (*handler)();
            } catch (const std::exception& e) {
                eventFailures.emplace_back(e.what());
            } catch (...) {
                eventFailures.emplace_back("unknown failure");
            }
        }
    }
};

// The Inbox or Deleted Items of the store.
using DefaultFolders = std::function<std::shared_ptr<host::Folder>(int kind)>;

class StoreNamespace : public host::Namespace {
public:
    StoreNamespace(std::shared_ptr<StoreParts> parts, DefaultFolders folders)
        : parts_(std::move(parts)), folders_(std::move(folders)) {}

    std::shared_ptr<host::Recipient> CurrentUser() override {
        if (!parts_->address)
            return nullptr;
        return std::make_shared<PlainAddress<host::Recipient>>(*parts_->address);
    }
    std::shared_ptr<host::Folder> GetDefaultFolder(int kind) override {
        if (kind == host::olFolderInbox || kind == host::olFolderDeletedItems)
            return folders_(kind);
        throw host::HostError("no default folder of kind " + std::to_string(kind));
    }
    std::vector<std::shared_ptr<host::AddressList>> AddressLists() override { return parts_->addressLists; }

private:
    std::shared_ptr<StoreParts> parts_;
    DefaultFolders folders_;
};

class StoreApplication : public host::Application {
public:
    // cannotCreate: why the store makes no new mails.
    StoreApplication(std::shared_ptr<StoreParts> parts, DefaultFolders folders, std::string cannotCreate)
        : parts_(parts), namespace_(std::make_shared<StoreNamespace>(std::move(parts), std::move(folders))),
          cannotCreate_(std::move(cannotCreate)) {}

    std::shared_ptr<host::Explorer> ActiveExplorer() override { return parts_->explorer; }
    std::shared_ptr<host::Item> CreateItem(int) override { throw host::HostError(cannotCreate_); }
    std::shared_ptr<host::Namespace> GetNamespace(const std::string& type) override {
        if (type != "MAPI")
            throw host::HostError("no namespace " + type);
        return namespace_;
    }
    host::Subscription onNewMail(host::EventHandler handler) override {
        auto entry = std::make_shared<host::EventHandler>(std::move(handler));
        parts_->newMailHandlers->push_back(entry);
        return std::make_unique<HandlerConnection>(parts_->newMailHandlers, std::move(entry));
    }

private:
    std::shared_ptr<StoreParts> parts_;
    std::shared_ptr<StoreNamespace> namespace_;
    std::string cannotCreate_;
};

// Opens a message of the store by its entry id.
using MessageOpener = std::function<std::shared_ptr<host::Message>(const std::string& entryID)>;

// The messaging session over the one store: it opens that store's messages
// once logged on.
class StoreSession : public host::MessagingSession {
public:
    StoreSession(std::string storeID, MessageOpener open) : storeID_(std::move(storeID)), open_(std::move(open)) {}

    void Logon(const std::string&, const std::string&, bool, bool) override { loggedOn_ = true; }
    void Logoff() override {
        if (!loggedOn_)
            throw host::HostError("the session is not logged on");
        loggedOn_ = false;
    }
    std::shared_ptr<host::Message> GetMessage(const std::string& entryID, const std::string& storeID) override {
        if (!loggedOn_)
            throw host::HostError("the session is not logged on");
        if (storeID != storeID_)
            throw host::HostError("no message store " + storeID);
        return open_(entryID);
    }

private:
    std::string storeID_;
    MessageOpener open_;
    bool loggedOn_ = false;
};

// Makes "MAPI.Session", the only class the add-in asks for.
class StoreObjectFactory : public host::ObjectFactory {
public:
    StoreObjectFactory(std::string storeID, MessageOpener open) : storeID_(std::move(storeID)), open_(std::move(open)) {}
    std::shared_ptr<host::Object> CreateObject(const std::string& className) override {
        if (className == "MAPI.Session")
            return std::make_shared<StoreSession>(storeID_, open_);
        return nullptr;
    }

private:
    std::string storeID_;
    MessageOpener open_;
};

// No clipboard to paste a button's face through: the face is dropped.
class NoClipboard : public host::Clipboard {
public:
    void setBitmap(const host::Bitmap&) override {}
};

} // namespace skerrow::maildir
