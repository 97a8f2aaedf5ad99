#include "hosts/maildir/maildir_host.h"

#include "hosts/maildir/maildir_store.h"
#include "hosts/maildir/store_parts.h"
#include "hosts/maildir/vcard.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

namespace skerrow::maildir {

namespace {

constexpr const char* unreadableItemTypeName = "UnreadableItem";

// A field's start, as much as GMime is given: a giant field (a header line of
// a hundred megabytes) would take it minutes and gigabytes, and what is
// shown or the first sender mailbox stands at its start.
template <class Interpret>
auto forParser(const std::string& field, Interpret interpret) {
    constexpr std::size_t parsedFieldLimit = 64 * 1024;
    return field.size() <= parsedFieldLimit ? interpret(field) : interpret(field.substr(0, parsedFieldLimit));
}

std::string displayName(const std::string& dirName) {
    if (dirName.empty())
        return "Inbox";
    if (dirName == MaildirStore::trashDirName)
        return "Deleted Items";
    std::string name = dirName.substr(1);
    std::replace(name.begin(), name.end(), '.', '/');
    return name;
}

// The store's failures as the host's objects meet them.
struct FailureLog {
    std::vector<HostFailure> failures;
    std::set<std::pair<HostFailure::Kind, std::string>> seen;
    bool hideUndeletable = false;
    std::set<const FileRecord*> undeletable;
    std::vector<std::shared_ptr<FileRecord>> keptUndeletable; // so that no other record takes an address

    // The mails whose moves are under way, by their records; and those of
    // them whose moves failed, until the add-in settles its deletions.
    std::unordered_map<const FileRecord*, const host::MailItem*> deleting;
    std::vector<const host::MailItem*> unsettled;

    void note(HostFailure::Kind kind, const std::string& message) {
        if (seen.emplace(kind, message).second)
            failures.push_back({kind, message});
    }
    void noteUndeletable(const std::shared_ptr<FileRecord>& record, const StoreFailure& failure) {
        note(HostFailure::Kind::Move, failure.what());
        if (hideUndeletable && undeletable.insert(record.get()).second)
            keptUndeletable.push_back(record);
    }
    // Hears how the moves under way ended.
    void settle(MaildirStore& store) {
        for (const auto& move : store.settleMoves()) {
            if (const auto it = deleting.find(move.record.get()); it != deleting.end())
                unsettled.push_back(it->second);
            try {
                std::rethrow_exception(move.why);
            } catch (const StoreFailure& e) {
                noteUndeletable(move.record, e);
            } catch (const host::HostError&) {
                // moved or removed by another program meanwhile: nothing of ours failed
            }
        }
        deleting.clear();
    }
    // Runs step, noting a failure of the system as kind.
    template <class Step>
    auto noted(HostFailure::Kind kind, Step&& step) -> decltype(step()) {
        try {
            return step();
        } catch (const StoreFailure& e) {
            note(kind, e.what());
            throw;
        }
    }
};

class MaildirFolder;

class MaildirMailItem : public host::MailItem {
public:
    // The store and the failure log are the folder's: one item a message
    // keeps only what it must.
    MaildirMailItem(std::shared_ptr<MaildirFolder> folder, std::shared_ptr<FileRecord> record)
        : folder_(std::move(folder)), record_(std::move(record)) {}

    std::string typeName() override;
    std::string EntryID() override;
    std::shared_ptr<host::Folder> Parent() override;
    std::string Subject() override;
    std::string Body() override { return bodies()->plain; }
    std::string HTMLBody() override { return bodies()->html; }
    std::string To() override;
    bool UnRead() override;
    host::Date ReceivedTime() override { return store().received(state(), *record_); }
    std::optional<bool> TextContains(std::string_view needle) override {
        return store().textContains(state(), *record_, needle);
    }
    void Delete() override;
    void markRead() { store().markRead(state(), *record_); }
    void markUnread() { store().markUnread(state(), *record_); }
    const std::shared_ptr<FileRecord>& record() const { return record_; }

private:
    FolderState& state();
    MaildirStore& store();
    FailureLog& log();
    std::shared_ptr<HeaderData> headers() {
        return log().noted(HostFailure::Kind::Read, [&] { return store().headers(state(), *record_); });
    }
    std::shared_ptr<const MessageBodies> bodies() {
        return log().noted(HostFailure::Kind::Read, [&] { return store().bodies(state(), *record_); });
    }

    std::shared_ptr<MaildirFolder> folder_;
    std::shared_ptr<FileRecord> record_;
};

class MaildirFolder : public host::Folder, public std::enable_shared_from_this<MaildirFolder> {
public:
    MaildirFolder(std::shared_ptr<MaildirStore> store, std::shared_ptr<FolderState> state,
                  std::shared_ptr<FailureLog> log)
        : store_(std::move(store)), state_(std::move(state)), log_(std::move(log)) {}

    // A check walks the Inbox several times: the items of the last walk
    // are handed out again for the files still listed.
    std::vector<std::shared_ptr<host::Item>> Items() override {
        settle();
        const auto& records = scan();
        std::vector<std::shared_ptr<host::Item>> result;
        if (!keepItems_) {
            const Kept fresh = makeItems(records, {});
            result.assign(fresh.begin(), fresh.end());
        } else {
            if (itemsVersion_ != state_->listingVersion || items_.size() != records.size()) {
                items_ = makeItems(records, std::move(items_));
                itemsVersion_ = state_->listingVersion;
            }
            result.assign(items_.begin(), items_.end());
        }
        if (!log_->undeletable.empty())
            std::erase_if(result, [&](const auto& item) {
                return log_->undeletable.contains(static_cast<MaildirMailItem&>(*item).record().get());
            });
        return result;
    }
    int ItemCount() override {
        settle();
        const auto& records = scan();
        if (log_->undeletable.empty())
            return static_cast<int>(records.size());
        return static_cast<int>(std::count_if(records.begin(), records.end(), [&](const auto& record) {
            return !log_->undeletable.contains(record.get());
        }));
    }
    std::vector<const host::MailItem*> settleDeletions() override {
        log_->settle(*store_);
        return std::exchange(log_->unsettled, {});
    }
    std::string Name() override { return displayName(state_->dirName); }
    std::string StoreID() override { return store_->root(); }

    FolderState& state() { return *state_; }
    const std::shared_ptr<FolderState>& stateHandle() const { return state_; }
    MaildirStore& store() { return *store_; }
    FailureLog& log() { return *log_; }

    // A walk settles the moves under way; failures older than it are left
    // unheard, as their mails may be gone.
    void settle() {
        log_->settle(*store_);
        log_->unsettled.clear();
    }

    // Kept items point back at their folder: the host breaks that cycle
    // when it goes, and items are made afresh on every walk after that.
    void stopKeepingItems() {
        keepItems_ = false;
        items_.clear();
    }

private:
    using Kept = std::vector<std::shared_ptr<MaildirMailItem>>;

    const std::vector<std::shared_ptr<FileRecord>>& scan() {
        return log_->noted(HostFailure::Kind::Read,
                           [&]() -> const std::vector<std::shared_ptr<FileRecord>>& { return store_->scan(*state_); });
    }

    // Reuses the old items of records still listed. The records come in the
    // same order in every listing, so one pass over both finds them.
    Kept makeItems(const std::vector<std::shared_ptr<FileRecord>>& records, Kept old) {
        Kept items;
        items.reserve(records.size());
        auto self = shared_from_this();
        std::size_t next = 0;
        for (const auto& record : records) {
            while (next < old.size() && old[next]->record()->gone)
                ++next;
            if (next < old.size() && old[next]->record() == record)
                items.push_back(std::move(old[next++]));
            else
                items.push_back(std::make_shared<MaildirMailItem>(self, record));
        }
        return items;
    }

    std::shared_ptr<MaildirStore> store_;
    std::shared_ptr<FolderState> state_;
    std::shared_ptr<FailureLog> log_;
    bool keepItems_ = true;
    Kept items_;
    std::uint64_t itemsVersion_ = 0;
};

FolderState& MaildirMailItem::state() {
    return folder_->state();
}

MaildirStore& MaildirMailItem::store() {
    return folder_->store();
}

FailureLog& MaildirMailItem::log() {
    return folder_->log();
}

void MaildirMailItem::Delete() {
    try {
        store().removeSoon(state(), record_);
        log().deleting[record_.get()] = this;
    } catch (const StoreFailure& e) {
        log().noteUndeletable(record_, e);
        throw;
    }
}

std::string MaildirMailItem::EntryID() {
    // The add-in opens the message it has just asked the name of.
    store().noteNamed(folder_->stateHandle(), record_);
    return record_->unique;
}

std::string MaildirMailItem::typeName() {
    // Asked of every item on every walk: answer from the cache directly.
    if (!record_->gone && record_->headers)
        return record_->isMessage ? host::mailItemTypeName : unreadableItemTypeName;
    try {
        // Not noted: what is no mail is named by nonMailFiles.
        return store().headers(state(), *record_)->isMessage ? host::mailItemTypeName : unreadableItemTypeName;
    } catch (const host::HostError&) {
        // Moved away since the snapshot: it was a mail as far as anyone
        // knows, and its operations now fail one by one.
        if (record_->gone)
            return host::mailItemTypeName;
        return unreadableItemTypeName;
    }
}

std::shared_ptr<host::Folder> MaildirMailItem::Parent() {
    return folder_;
}

std::string MaildirMailItem::Subject() {
    auto data = headers();
    if (!data->subjectDecoded) {
        data->subject = data->subject ? forParser(*data->subject, decodeSubject) : std::string();
        data->subjectDecoded = true;
    }
    return *data->subject;
}

std::string MaildirMailItem::To() {
    auto data = headers();
    if (!data->toDecoded) {
        const auto field = log().noted(HostFailure::Kind::Read, [&] { return store().toField(state(), *record_); });
        data->to = field ? forParser(*field, displayAddresses) : std::string();
        data->toDecoded = true;
    }
    return *data->to;
}

bool MaildirMailItem::UnRead() {
    if (record_->gone)
        throw host::HostError("the message " + record_->unique + " is no longer in its folder");
    return record_->unread();
}

using Entry = PlainAddress<host::AddressEntry>;

// The header block, read when its text is asked for: the purge mostly
// asks only whether it names the user, which the store knows.
class HeaderField : public host::Field {
public:
    HeaderField(std::shared_ptr<MaildirStore> store, std::shared_ptr<FolderState> folder,
                std::shared_ptr<FileRecord> record, std::shared_ptr<FailureLog> log)
        : store_(std::move(store)), folder_(std::move(folder)), record_(std::move(record)), log_(std::move(log)) {}
    std::string Value() override { return *SharedValue(); }
    std::shared_ptr<const std::string> SharedValue() override {
        return log_->noted(HostFailure::Kind::Read, [&] { return store_->rawHeaders(*folder_, *record_); });
    }
    std::optional<bool> Contains(std::string_view needle) override {
        return log_->noted(HostFailure::Kind::Read, [&] { return store_->headersContain(*folder_, *record_, needle); });
    }

private:
    std::shared_ptr<MaildirStore> store_;
    std::shared_ptr<FolderState> folder_;
    std::shared_ptr<FileRecord> record_;
    std::shared_ptr<FailureLog> log_;
};

class MaildirMessage : public host::Message {
public:
    MaildirMessage(std::shared_ptr<MaildirStore> store, std::shared_ptr<FolderState> folder,
                   std::shared_ptr<FileRecord> record, std::shared_ptr<FailureLog> log)
        : store_(std::move(store)), folder_(std::move(folder)), record_(std::move(record)), log_(std::move(log)) {}

    std::shared_ptr<host::AddressEntry> Sender() override {
        auto data = log_->noted(HostFailure::Kind::Read, [&] { return store_->headers(*folder_, *record_); });
        if (!data->senderParsed) {
            data->from = data->from ? forParser(*data->from, senderAddress) : std::nullopt;
            data->senderParsed = true;
        }
        if (!data->from)
            throw host::HostError("the message " + record_->unique + " names no sender mailbox");
        return std::make_shared<Entry>(*data->from);
    }

    std::shared_ptr<host::Field> Fields(std::uint32_t propertyTag) override {
        if (propertyTag != host::prTransportMessageHeaders)
            return nullptr;
        return std::make_shared<HeaderField>(store_, folder_, record_, log_);
    }

private:
    std::shared_ptr<MaildirStore> store_;
    std::shared_ptr<FolderState> folder_;
    std::shared_ptr<FileRecord> record_;
    std::shared_ptr<FailureLog> log_;
};

} // namespace

// What the host's objects share. Folder objects are made once per folder,
// so that the add-in sees the same object for the same folder.
struct HostContext : StoreParts {
    std::shared_ptr<MaildirStore> store;
    std::map<std::string, std::shared_ptr<MaildirFolder>> folders;
    std::shared_ptr<FailureLog> log = std::make_shared<FailureLog>();

    std::shared_ptr<MaildirFolder> folder(const std::shared_ptr<FolderState>& state) {
        auto& slot = folders[state->dirName];
        if (!slot)
            slot = std::make_shared<MaildirFolder>(store, state, log);
        return slot;
    }
};

MaildirHost::MaildirHost(const MaildirOptions& options) : context_(std::make_shared<HostContext>()) {
    context_->store = std::make_shared<MaildirStore>(options.root);
    context_->address = options.address;
    if (options.address) // as the add-in will look for it
        context_->store->searchHeadersFor(foldCase(*options.address));
    if (options.readInboxAhead)
        context_->store->readAhead(*context_->store->inbox());
    context_->log->hideUndeletable = options.hideUndeletable;
    for (const auto& path : options.contacts)
        context_->addressLists.push_back(std::make_shared<AddressBook>(readContactAddresses(path)));
    application_ = std::make_shared<StoreApplication>(
        context_,
        [context = context_](int kind) -> std::shared_ptr<host::Folder> {
            return context->folder(kind == host::olFolderInbox ? context->store->inbox() : context->store->trash());
        },
        "a Maildir store cannot make new mails");
    objects_ = std::make_unique<StoreObjectFactory>(
        context_->store->root(), [store = context_->store, log = context_->log](const std::string& entryID) {
            auto [folder, record] = store->find(entryID);
            return std::make_shared<MaildirMessage>(store, std::move(folder), std::move(record), log);
        });
    clipboard_ = std::make_unique<NoClipboard>();
}

MaildirHost::~MaildirHost() {
    for (const auto& [dirName, folder] : context_->folders)
        folder->stopKeepingItems();
}

void MaildirHost::endWork() {
    context_->store->endWork();
}

const std::string& MaildirHost::storeID() const {
    return context_->store->root();
}

std::vector<std::shared_ptr<host::Folder>> MaildirHost::folders() {
    std::vector<std::shared_ptr<host::Folder>> result;
    auto states = context_->store->folders();
    // Inbox, Deleted Items, then the rest in the store's name order.
    std::stable_partition(states.begin() + 1, states.end(),
                          [](const auto& state) { return state->dirName == MaildirStore::trashDirName; });
    for (const auto& state : states)
        result.push_back(context_->folder(state));
    return result;
}

void MaildirHost::setExplorer(std::shared_ptr<host::Explorer> explorer) {
    context_->explorer = std::move(explorer);
}

void MaildirHost::markRead(const std::shared_ptr<host::MailItem>& mail) {
    auto own = std::dynamic_pointer_cast<MaildirMailItem>(mail);
    if (!own)
        throw host::HostError("not a mail of this Maildir");
    own->markRead();
}

void MaildirHost::markUnread(const std::shared_ptr<host::MailItem>& mail) {
    auto own = std::dynamic_pointer_cast<MaildirMailItem>(mail);
    if (!own)
        throw host::HostError("not a mail of this Maildir");
    own->markUnread();
}

void MaildirHost::raiseNewMail() {
    context_->raiseNewMail();
}

std::vector<HostFailure> MaildirHost::failures() const {
    std::vector<HostFailure> result = context_->log->failures;
    for (const auto& path : context_->store->refusedFolders())
        result.push_back({HostFailure::Kind::LinkedFolder, path + " is a symbolic link: not followed"});
    return result;
}

std::vector<NonMailFile> MaildirHost::nonMailFiles() {
    std::vector<NonMailFile> result;
    MaildirStore& store = *context_->store;
    FolderState& inbox = *store.inbox();
    std::vector<std::shared_ptr<FileRecord>> records;
    try {
        records = store.scan(inbox);
    } catch (const host::HostError&) {
        return result; // the Inbox itself cannot be read: reported among the failures
    }
    for (const auto& record : records) {
        try {
            if (!store.headers(inbox, *record)->isMessage)
                result.push_back({store.pathOf(inbox, *record) + ": no header field before its first empty line", false});
        } catch (const StoreFailure& e) {
            result.push_back({e.what(), true});
        } catch (const host::HostError&) {
            // Moved away meanwhile.
        }
    }
    return result;
}

const std::vector<std::string>& MaildirHost::eventFailures() const {
    return context_->eventFailures;
}

} // namespace skerrow::maildir
