#include "hosts/memory/memory_host.h"

#include "hosts/memory/events.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace skerrow::memory {

namespace {

constexpr const char* defaultStore = "memory-store";

} // namespace

// ---- Mail and other items ----

MemoryMailItem::MemoryMailItem(MemoryHost& host, MailSpec spec) : host_(host), spec_(std::move(spec)) {
    if (spec_.entryID.empty()) {
        spec_.entryID = host_.nextEntryID();
        numbered_ = true;
    }
}

std::string MemoryMailItem::typeName() {
    host_.faults().check("Item.typeName", spec_.entryID);
    // Walks ask each item its type first, then open the mail.
    readAhead();
    return host::mailItemTypeName;
}

std::string MemoryMailItem::EntryID() {
    host_.faults().check("MailItem.EntryID", spec_.entryID);
    return spec_.entryID;
}

std::shared_ptr<host::Folder> MemoryMailItem::Parent() {
    host_.faults().check("MailItem.Parent", spec_.entryID);
    return folder();
}

void MemoryMailItem::readAhead() const {
    // A walk that meets a mail opens its message and reads the sender and
    // the headers: start fetching them now so that the waits overlap
    // instead of adding up.
    __builtin_prefetch(&spec_.openable);
    __builtin_prefetch(spec_.senderAddress.data());
    if (spec_.headers) {
        const char* text = spec_.headers->data();
        const std::size_t size = spec_.headers->size();
        for (std::size_t offset = 0; offset < size && offset < 256; offset += 64)
            __builtin_prefetch(text + offset);
    }
}

std::shared_ptr<MemoryFolder> MemoryMailItem::folder() const {
    return folder_ ? folder_->shared_from_this() : nullptr;
}

std::string MemoryMailItem::Subject() {
    host_.faults().check("MailItem.Subject", spec_.entryID);
    return spec_.subject;
}

std::string MemoryMailItem::Body() {
    host_.faults().check("MailItem.Body", spec_.entryID);
    return spec_.body;
}

std::string MemoryMailItem::HTMLBody() {
    host_.faults().check("MailItem.HTMLBody", spec_.entryID);
    return spec_.htmlBody;
}

std::string MemoryMailItem::To() {
    host_.faults().check("MailItem.To", spec_.entryID);
    return spec_.to;
}

bool MemoryMailItem::UnRead() {
    host_.faults().check("MailItem.UnRead", spec_.entryID);
    return spec_.unread;
}

host::Date MemoryMailItem::ReceivedTime() {
    host_.faults().check("MailItem.ReceivedTime", spec_.entryID);
    return spec_.received;
}

void MemoryMailItem::Delete() {
    host_.faults().check("MailItem.Delete", spec_.entryID);
    // The folder may hold the last reference to this mail.
    const auto self = shared_from_this();
    auto from = folder();
    // A mail deleted for good, or never saved, is no longer in the store.
    if (!from)
        throw host::HostError("the item has been moved or deleted");
    if (from == host_.deletedItems()) {
        from->remove(this);
        folder_ = nullptr;
        return;
    }
    host_.deletedItems()->add(self);
}

MemoryOtherItem::MemoryOtherItem(MemoryHost& host, std::string typeName)
    : host_(host), typeName_(std::move(typeName)) {}

std::string MemoryOtherItem::typeName() {
    host_.faults().check("Item.typeName", typeName_);
    return typeName_;
}

// ---- Folders ----

MemoryFolder::MemoryFolder(MemoryHost& host, std::string name, std::string storeID)
    : host_(host), name_(std::move(name)), storeID_(std::move(storeID)) {}

std::vector<std::shared_ptr<host::Item>> MemoryFolder::Items() {
    host_.faults().check("Folder.Items", name_);
    return contents();
}

std::vector<const host::MailItem*> MemoryFolder::settleDeletions() {
    host_.faults().check("Folder.settleDeletions", name_);
    return {};
}

int MemoryFolder::ItemCount() {
    host_.faults().check("Folder.ItemCount", name_);
    return static_cast<int>(count_);
}

std::string MemoryFolder::Name() {
    host_.faults().check("Folder.Name", name_);
    return name_;
}

std::string MemoryFolder::StoreID() {
    host_.faults().check("Folder.StoreID", name_);
    return storeID_;
}

void MemoryFolder::readAhead(const host::Item* item) noexcept {
    // Items are made with make_shared, the reference counts just before the
    // object; a walk reads the counts and the object's first lines (type,
    // id, sender, headers, flags). Prefetching an address never faults.
    if (!item)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(item) - 16;
    for (std::uintptr_t line = 0; line < 4; ++line)
        __builtin_prefetch(reinterpret_cast<const void*>(start + 64 * line));
}

std::shared_ptr<MemoryMailItem> MemoryFolder::addMail(MailSpec spec) {
    auto mail = std::make_shared<MemoryMailItem>(host_, std::move(spec));
    add(mail);
    return mail;
}

std::shared_ptr<MemoryOtherItem> MemoryFolder::addOther(const std::string& typeName) {
    auto item = std::make_shared<MemoryOtherItem>(host_, typeName);
    add(item);
    return item;
}

void MemoryFolder::place(std::shared_ptr<host::Item> item, MemoryStoredItem& stored) {
    stored.slot_ = items_.size();
    items_.push_back({std::move(item), &stored});
    ++count_;
}

bool MemoryFolder::unplace(const host::Item* item, MemoryStoredItem& stored) {
    if (stored.slot_ >= items_.size() || items_[stored.slot_].item.get() != item)
        return false;
    items_[stored.slot_] = Slot{};
    --count_;
    if (items_.size() - count_ > count_) {
        std::erase_if(items_, [](const Slot& slot) { return !slot.item; });
        for (std::size_t i = 0; i < items_.size(); ++i)
            items_[i].stored->slot_ = i;
    }
    return true;
}

void MemoryFolder::add(const std::shared_ptr<MemoryMailItem>& mail) {
    if (auto* old = mail->folderPointer())
        old->remove(mail.get());
    mail->setFolder(this);
    if (mail->numbered())
        host_.remember(mail);
    else
        byEntryID_.emplace(mail->spec().entryID, mail);
    place(mail, *mail);
}

void MemoryFolder::add(const std::shared_ptr<MemoryOtherItem>& item) {
    place(item, *item);
}

void MemoryFolder::remove(const MemoryMailItem* mail) {
    auto* stored = const_cast<MemoryMailItem*>(mail);
    if (!unplace(mail, *stored) || mail->numbered())
        return;
    auto [first, last] = byEntryID_.equal_range(stored->spec().entryID);
    for (auto it = first; it != last; ++it)
        if (it->second.get() == mail) {
            byEntryID_.erase(it);
            break;
        }
}

void MemoryFolder::remove(const MemoryOtherItem* item) {
    unplace(item, *const_cast<MemoryOtherItem*>(item));
}

std::vector<std::shared_ptr<host::Item>> MemoryFolder::contents() const {
    std::vector<std::shared_ptr<host::Item>> result;
    result.reserve(count_);
    for (const auto& slot : items_)
        if (slot.item)
            result.push_back(slot.item);
    return result;
}

std::vector<std::shared_ptr<MemoryMailItem>> MemoryFolder::mails() const {
    std::vector<std::shared_ptr<MemoryMailItem>> result;
    for (const auto& slot : items_)
        if (auto mail = std::dynamic_pointer_cast<MemoryMailItem>(slot.item))
            result.push_back(std::move(mail));
    return result;
}

std::shared_ptr<MemoryMailItem> MemoryFolder::mail(const std::string& entryID) const {
    if (auto mail = host_.numberedMail(entryID); mail && mail->folderPointer() == this)
        return mail;
    auto found = byEntryID_.find(entryID);
    return found == byEntryID_.end() ? nullptr : found->second;
}

// ---- Selection and explorer ----

MemorySelection::MemorySelection(MemoryHost& host, std::vector<std::shared_ptr<host::Item>> items)
    : host_(host), items_(std::move(items)) {}

int MemorySelection::Count() {
    host_.faults().check("Selection.Count");
    return static_cast<int>(items_.size());
}

std::shared_ptr<host::Item> MemorySelection::Item(int position) {
    host_.faults().check("Selection.Item", std::to_string(position));
    if (position < 1 || position > static_cast<int>(items_.size()))
        throw host::HostError("no selected item at position " + std::to_string(position));
    return items_[static_cast<std::size_t>(position - 1)];
}

MemoryExplorer::MemoryExplorer(MemoryHost& host, std::shared_ptr<MemoryCommandBars> bars)
    : host_(host),
      bars_(std::move(bars)),
      selection_(std::vector<std::shared_ptr<host::Item>>{}),
      closeHandlers_(events::makeHandlers<host::EventHandler>()),
      selectionHandlers_(events::makeHandlers<host::EventHandler>()) {}

std::shared_ptr<host::CommandBars> MemoryExplorer::GetCommandBars() {
    host_.faults().check("Explorer.GetCommandBars");
    return bars_;
}

std::shared_ptr<host::Selection> MemoryExplorer::GetSelection() {
    host_.faults().check("Explorer.GetSelection");
    if (!selection_)
        return nullptr;
    return std::make_shared<MemorySelection>(host_, *selection_);
}

std::shared_ptr<host::Folder> MemoryExplorer::CurrentFolder() {
    host_.faults().check("Explorer.CurrentFolder");
    return current_;
}

host::Subscription MemoryExplorer::onClose(host::EventHandler handler) {
    host_.faults().check("Explorer.onClose");
    return events::subscribe(closeHandlers_, std::move(handler));
}

host::Subscription MemoryExplorer::onSelectionChange(host::EventHandler handler) {
    host_.faults().check("Explorer.onSelectionChange");
    return events::subscribe(selectionHandlers_, std::move(handler));
}

void MemoryExplorer::showFolder(const std::shared_ptr<MemoryFolder>& folder) {
    current_ = folder;
    selection_ = std::vector<std::shared_ptr<host::Item>>{};
}

void MemoryExplorer::select(std::vector<std::shared_ptr<host::Item>> items) {
    selection_ = std::move(items);
    MemoryHost& host = host_;
    events::raise(selectionHandlers_, [&host](const host::EventHandler& h) { host.runHandler(h); });
}

void MemoryExplorer::selectNothing() {
    selection_.reset();
    MemoryHost& host = host_;
    events::raise(selectionHandlers_, [&host](const host::EventHandler& h) { host.runHandler(h); });
}

void MemoryExplorer::close() {
    MemoryHost& host = host_;
    events::raise(closeHandlers_, [&host](const host::EventHandler& h) { host.runHandler(h); });
}

int MemoryExplorer::selectionChangeSubscribers() const {
    return static_cast<int>(selectionHandlers_->size());
}

// ---- Address books and the user ----

MemoryAddressEntry::MemoryAddressEntry(MemoryHost& host, std::string address)
    : host_(host), address_(std::move(address)) {}

std::string MemoryAddressEntry::Address() {
    host_.faults().check("AddressEntry.Address", address_);
    return address_;
}

MemoryAddressList::MemoryAddressList(MemoryHost& host, std::string name, std::vector<std::string> addresses)
    : host_(host), name_(std::move(name)) {
    for (auto& address : addresses)
        entries_.push_back(std::make_shared<MemoryAddressEntry>(host, std::move(address)));
}

std::vector<std::shared_ptr<host::AddressEntry>> MemoryAddressList::AddressEntries() {
    host_.faults().check("AddressList.AddressEntries", name_);
    return entries_;
}

MemoryRecipient::MemoryRecipient(MemoryHost& host, std::string address)
    : host_(host), address_(std::move(address)) {}

std::string MemoryRecipient::Address() {
    host_.faults().check("Recipient.Address", address_);
    return address_;
}

// ---- Namespace and application ----

MemoryNamespace::MemoryNamespace(MemoryHost& host) : host_(host) {}

std::shared_ptr<host::Recipient> MemoryNamespace::CurrentUser() {
    host_.faults().check("Namespace.CurrentUser");
    if (!host_.currentUser())
        return nullptr;
    return std::make_shared<MemoryRecipient>(host_, *host_.currentUser());
}

std::shared_ptr<host::Folder> MemoryNamespace::GetDefaultFolder(int kind) {
    host_.faults().check("Namespace.GetDefaultFolder");
    switch (kind) {
    case host::olFolderInbox:
        return host_.inbox();
    case host::olFolderDeletedItems:
        return host_.deletedItems();
    default:
        throw host::HostError("no default folder of kind " + std::to_string(kind));
    }
}

std::vector<std::shared_ptr<host::AddressList>> MemoryNamespace::AddressLists() {
    host_.faults().check("Namespace.AddressLists");
    return {host_.addressLists().begin(), host_.addressLists().end()};
}

MemoryApplication::MemoryApplication(MemoryHost& host)
    : host_(host), newMailHandlers_(events::makeHandlers<host::EventHandler>()) {}

std::shared_ptr<host::Explorer> MemoryApplication::ActiveExplorer() {
    host_.faults().check("Application.ActiveExplorer");
    return host_.explorer();
}

std::shared_ptr<host::Item> MemoryApplication::CreateItem(int type) {
    host_.faults().check("Application.CreateItem");
    constexpr int olMailItem = 0;
    if (type != olMailItem)
        throw host::HostError("cannot create items of type " + std::to_string(type));
    return std::make_shared<MemoryMailItem>(host_, MailSpec{});
}

std::shared_ptr<host::Namespace> MemoryApplication::GetNamespace(const std::string& type) {
    host_.faults().check("Application.GetNamespace");
    if (type != "MAPI")
        throw host::HostError("no namespace of type " + type);
    return host_.nameSpace();
}

host::Subscription MemoryApplication::onNewMail(host::EventHandler handler) {
    host_.faults().check("Application.onNewMail");
    return events::subscribe(newMailHandlers_, std::move(handler));
}

int MemoryApplication::newMailSubscribers() const {
    return static_cast<int>(newMailHandlers_->size());
}

// ---- Messaging session ----

std::shared_ptr<host::AddressEntry> MemoryMessage::Sender() {
    mail_.host().faults().check("Message.Sender", mail_.spec().entryID);
    if (!mail_.spec().senderResolvable)
        throw host::HostError("the message has no sender");
    return mail_.sender();
}

std::shared_ptr<host::Field> MemoryMessage::Fields(std::uint32_t propertyTag) {
    mail_.host().faults().check("Message.Fields", mail_.spec().entryID);
    if (propertyTag != host::prTransportMessageHeaders || !mail_.spec().headers)
        return nullptr;
    return mail_.headersField();
}

std::string MemorySender::Address() {
    mail_.host().faults().check("AddressEntry.Address", mail_.spec().senderAddress);
    return mail_.spec().senderAddress;
}

std::string MemoryHeadersField::Value() {
    return *SharedValue();
}

std::shared_ptr<const std::string> MemoryHeadersField::SharedValue() {
    mail_.host().faults().check("Field.Value", mail_.spec().entryID);
    // Headers removed after the field was handed out read as empty.
    static const auto none = std::make_shared<const std::string>();
    return mail_.spec().headers ? mail_.headersText() : none;
}

MemorySession::MemorySession(MemoryHost& host) : host_(host) {}

void MemorySession::Logon(const std::string& profileName, const std::string& password, bool showDialog,
                          bool newSession) {
    host_.faults().check("Session.Logon", profileName);
    logons.push_back({profileName, password, showDialog, newSession});
    loggedOn = true;
}

void MemorySession::Logoff() {
    host_.faults().check("Session.Logoff");
    if (!loggedOn)
        throw host::HostError("the session is not logged on");
    loggedOn = false;
    ++logoffs;
}

std::shared_ptr<host::Message> MemorySession::GetMessage(const std::string& entryID, const std::string& storeID) {
    host_.faults().check("Session.GetMessage", entryID);
    if (!loggedOn)
        throw host::HostError("the session is not logged on");
    if (auto mail = host_.numberedMail(entryID)) {
        const auto* folder = mail->folderPointer();
        if (folder && folder->storeID() == storeID && mail->spec().openable)
            return MemoryMailItem::message(std::move(mail));
    }
    for (const auto& folder : host_.allFolders()) {
        if (folder->storeID() != storeID)
            continue;
        auto mail = folder->mail(entryID);
        if (mail && mail->spec().openable)
            return MemoryMailItem::message(std::move(mail));
    }
    throw host::HostError("no message " + entryID + " in store " + storeID);
}

// ---- Clipboard and object factory ----

MemoryClipboard::MemoryClipboard(MemoryHost& host) : host_(host) {}

void MemoryClipboard::setBitmap(const host::Bitmap& image) {
    host_.faults().check("Clipboard.setBitmap");
    image_ = image;
    ++writes;
}

MemoryObjectFactory::MemoryObjectFactory(MemoryHost& host) : host_(host) {}

std::shared_ptr<host::Object> MemoryObjectFactory::CreateObject(const std::string& className) {
    host_.faults().check("Factory.CreateObject", className);
    if (className != "MAPI.Session" || !offerSession)
        return nullptr;
    auto session = std::make_shared<MemorySession>(host_);
    sessions.push_back(session);
    return session;
}

// ---- The host ----

MemoryHost::MemoryHost()
    : application_(std::make_shared<MemoryApplication>(*this)),
      namespace_(std::make_shared<MemoryNamespace>(*this)),
      inbox_(std::make_shared<MemoryFolder>(*this, "Inbox", defaultStore)),
      deletedItems_(std::make_shared<MemoryFolder>(*this, "Deleted Items", defaultStore)),
      folders_{inbox_, deletedItems_},
      bars_(std::make_shared<MemoryCommandBars>(*this)),
      clipboard_(std::make_unique<MemoryClipboard>(*this)),
      objects_(std::make_unique<MemoryObjectFactory>(*this)) {
    openExplorer();
}

MemoryHost::~MemoryHost() = default;

std::shared_ptr<MemoryFolder> MemoryHost::folder(const std::string& name, const std::string& storeID) {
    for (const auto& folder : folders_)
        if (folder->name() == name && folder->storeID() == storeID)
            return folder;
    auto made = std::make_shared<MemoryFolder>(*this, name, storeID);
    folders_.push_back(made);
    return made;
}

std::shared_ptr<MemoryExplorer> MemoryHost::openExplorer() {
    explorer_ = std::make_shared<MemoryExplorer>(*this, bars_);
    explorer_->showFolder(inbox_);
    return explorer_;
}

void MemoryHost::removeExplorer() {
    explorer_.reset();
}

void MemoryHost::setCurrentUser(std::optional<std::string> address) {
    currentUser_ = std::move(address);
}

void MemoryHost::addAddressList(const std::string& name, std::vector<std::string> addresses) {
    addressLists_.push_back(std::make_shared<MemoryAddressList>(*this, name, std::move(addresses)));
}

std::shared_ptr<MemoryMailItem> MemoryHost::deliver(MailSpec spec) {
    auto mail = inbox_->addMail(std::move(spec));
    raiseNewMail();
    return mail;
}

void MemoryHost::raiseNewMail() {
    events::raise(application_->newMailHandlers_, [this](const host::EventHandler& h) { runHandler(h); });
}

void MemoryHost::endSession() {
    bars_->endSession();
}

void MemoryHost::runHandler(const host::EventHandler& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        eventFailures.emplace_back(e.what());
    } catch (...) {
        eventFailures.emplace_back("unknown failure");
    }
}

std::string MemoryHost::nextEntryID() {
    return "mem-" + std::to_string(nextID_++);
}

namespace {
// The number of an id this host made ("mem-12"), or 0.
std::size_t idNumber(std::string_view entryID) {
    if (entryID.substr(0, 4) != "mem-" || entryID.size() < 5 || entryID.size() > 13)
        return 0;
    std::size_t n = 0;
    for (char c : entryID.substr(4)) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    return n;
}
} // namespace

void MemoryHost::remember(const std::shared_ptr<MemoryMailItem>& mail) {
    const std::size_t n = idNumber(mail->spec().entryID);
    if (n == 0 || n >= static_cast<std::size_t>(nextID_))
        return;
    if (numbered_.size() <= n)
        numbered_.resize(n + 1);
    numbered_[n] = mail;
}

std::shared_ptr<MemoryMailItem> MemoryHost::numberedMail(std::string_view entryID) const {
    const std::size_t n = idNumber(entryID);
    if (n == 0 || n >= numbered_.size())
        return nullptr;
    auto mail = numbered_[n].lock();
    return mail && mail->spec().entryID == entryID ? mail : nullptr;
}

} // namespace skerrow::memory
