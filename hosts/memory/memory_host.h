// A mail client that lives in memory: real folders, mails, explorers,
// command bars, address books and a messaging session, with fault
// injection so that every failure path of the add-in can be reached.
// Used by the tests, the benchmarks and the demo.
#pragma once

#include "addin/host/host.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace skerrow::memory {

// Named operations that can be made to fail: "Class.Operation", for example
// "MailItem.Delete", "Folder.Items", "Session.GetMessage",
// "Application.ActiveExplorer", "CommandBars.Add", "Button.PasteFace".
// Every operation of every class checks its name before it does anything.
// The names, with the key each one is checked with (none: empty):
//   Application.ActiveExplorer, .CreateItem, .GetNamespace, .onNewMail
//   Namespace.CurrentUser, .GetDefaultFolder, .AddressLists
//   Recipient.Address, AddressEntry.Address      key: the address
//   AddressList.AddressEntries                   key: the list's name
//   Folder.Items, .ItemCount, .Name, .StoreID, .settleDeletions
//                                                key: the folder's name
//   MailItem.EntryID, .Parent, .Subject, .Body, .HTMLBody, .To, .UnRead,
//     .ReceivedTime, .Delete                     key: the mail's EntryID
//   Item.typeName                    key: a mail's EntryID, else the type name
//   Explorer.GetCommandBars, .GetSelection, .CurrentFolder, .onClose,
//     .onSelectionChange
//   Selection.Count; Selection.Item              key: the position, "1"...
//   CommandBars.Count, .Item; CommandBars.Add    key: the new bar's name
//   CommandBar.Name, .Controls, .Delete, .Visible, .setVisible, .Position,
//     .setPosition                               key: the bar's name
//   Controls.Count, .Add          key: the owning bar's name ("" in a popup)
//   Control.Caption, .BeginGroup, .Enabled, .Visible, .TooltipText and
//     their setters .setCaption...               key: the control's caption
//     (for setCaption the caption being set)
//   Button.Style, .setStyle, .PasteFace, .onClick; Popup.Controls
//                                                key: the control's caption
//   Session.Logon (key: the profile name), Session.Logoff,
//     Session.GetMessage (key: the entry id)
//   Message.Sender, .Fields; Field.Value         key: the mail's entry id
//   Clipboard.setBitmap
//   Factory.CreateObject                         key: the class name
// Helpers for setting up a scene (addMail, deliver, select, click...) check
// nothing.
class Faults {
public:
    // The next call of the operation throws host::HostError, then it works again.
    void failOnce(const std::string& operation);
    // Every call throws until cleared.
    void failAlways(const std::string& operation);
    // Only calls on objects whose key (a mail's EntryID, a folder's or a
    // bar's name, a button's caption) equals key fail.
    void failAlwaysFor(const std::string& operation, const std::string& key);
    void clear(const std::string& operation);
    void clearAll();
    // Throws when the operation is set to fail; counts every call.
    void check(std::string_view operation, std::string_view key = {}) {
        // Inline, so that a host with no faults set and no counting pays
        // next to nothing for its checks.
        if (counting_ || !rules_.empty())
            checkSet(operation, key);
    }
    int calls(const std::string& operation) const;
    // Counting costs a look-up per call; benchmarks switch it off.
    void setCounting(bool on) { counting_ = on; }

private:
    void checkSet(std::string_view operation, std::string_view key);

    struct Rule {
        bool once = false;
        std::optional<std::string> key;
    };
    std::multimap<std::string, Rule, std::less<>> rules_;
    std::map<std::string, int, std::less<>> calls_;
    bool counting_ = true;
};

class MemoryHost;
class MemoryFolder;

// What a walk over the Inbox reads of every mail comes first, so that it
// touches few cache lines of each.
struct MailSpec {
    std::string entryID; // made up when empty
    std::string senderAddress;  // what the messaging session reports
    std::optional<std::string> headers; // field 0x007D001E; nothing: no such field
    bool senderResolvable = true; // false: the message has no sender
    bool openable = true; // false: the session cannot open the message
    bool unread = true;
    std::string subject;
    std::string body;
    std::string htmlBody;
    std::string to;
    host::Date received{};
};

class MemoryMailItem;

// Where an item sits in its folder's list, kept in the item itself so that
// moving or removing one costs no look-up in folders of 100,000 mails.
class MemoryStoredItem {
private:
    friend class MemoryFolder;
    std::size_t slot_ = 0;
};

// What the messaging session shows of a mail: its message, the message's
// sender and its headers field. They are parts of the mail item, handed out
// as pointers that keep the mail alive, so opening a message allocates
// nothing and reads the mail's state as it is at the time of the call.
class MemorySender : public host::AddressEntry {
public:
    explicit MemorySender(MemoryMailItem& mail) : mail_(mail) {}
    std::string Address() override;

private:
    MemoryMailItem& mail_;
};

class MemoryHeadersField : public host::Field {
public:
    explicit MemoryHeadersField(MemoryMailItem& mail) : mail_(mail) {}
    std::string Value() override;
    std::shared_ptr<const std::string> SharedValue() override;

private:
    MemoryMailItem& mail_;
};

class MemoryMessage : public host::Message {
public:
    explicit MemoryMessage(MemoryMailItem& mail) : mail_(mail) {}
    std::shared_ptr<host::AddressEntry> Sender() override;
    std::shared_ptr<host::Field> Fields(std::uint32_t propertyTag) override;

private:
    MemoryMailItem& mail_;
};

class MemoryMailItem : public host::MailItem,
                       public MemoryStoredItem,
                       public std::enable_shared_from_this<MemoryMailItem> {
public:
    MemoryMailItem(MemoryHost& host, MailSpec spec);
    std::string typeName() override;
    std::string EntryID() override;
    std::shared_ptr<host::Folder> Parent() override;
    std::string Subject() override;
    std::string Body() override;
    std::string HTMLBody() override;
    std::string To() override;
    bool UnRead() override;
    host::Date ReceivedTime() override;
    void Delete() override;

    MailSpec& spec() { return spec_; }
    MemoryHost& host() { return host_; }
    std::shared_ptr<MemoryFolder> folder() const;
    // The folder without taking a reference: folders live as long as the host.
    MemoryFolder* folderPointer() const { return folder_; }
    void setFolder(MemoryFolder* folder) { folder_ = folder; }
    // Starts fetching what a reader of the opened message reads first.
    void readAhead() const;
    // The message as the session opens it, owning the mail.
    static std::shared_ptr<host::Message> message(std::shared_ptr<MemoryMailItem> mail) {
        auto* message = &mail->message_;
        return {std::move(mail), message};
    }
    std::shared_ptr<host::AddressEntry> sender() { return {shared_from_this(), &sender_}; }
    std::shared_ptr<host::Field> headersField() { return {shared_from_this(), &headersField_}; }
    // Whether the host made the entry id: such mails are found by its number.
    bool numbered() const { return numbered_; }
    // The headers as the mail holds them, not a copy. A holder must let go
    // before the spec's headers are changed: it points into them.
    std::shared_ptr<const std::string> headersText() { return {shared_from_this(), &*spec_.headers}; }

private:
    MemoryHost& host_;
    MemoryFolder* folder_ = nullptr;
    bool numbered_ = false;
    MemoryMessage message_{*this};
    MemorySender sender_{*this};
    MemoryHeadersField headersField_{*this};
    MailSpec spec_;
};

// An item that is not a mail: a meeting request, a report, a contact.
class MemoryOtherItem : public host::Item, public MemoryStoredItem {
public:
    MemoryOtherItem(MemoryHost& host, std::string typeName);
    std::string typeName() override;

private:
    MemoryHost& host_;
    std::string typeName_;
};

class MemoryFolder : public host::Folder, public std::enable_shared_from_this<MemoryFolder> {
public:
    MemoryFolder(MemoryHost& host, std::string name, std::string storeID);
    std::vector<std::shared_ptr<host::Item>> Items() override;
    int ItemCount() override;
    std::string Name() override;
    std::string StoreID() override;
    void readAhead(const host::Item* item) noexcept override;
    // Deletes at once: nothing to settle, but it can fail as a host that
    // batches its deletions may.
    std::vector<const host::MailItem*> settleDeletions() override;

    std::shared_ptr<MemoryMailItem> addMail(MailSpec spec);
    std::shared_ptr<MemoryOtherItem> addOther(const std::string& typeName);
    // Moves the mail here from the folder it is in.
    void add(const std::shared_ptr<MemoryMailItem>& mail);
    void add(const std::shared_ptr<MemoryOtherItem>& item);
    void remove(const MemoryMailItem* mail);
    void remove(const MemoryOtherItem* item);
    std::vector<std::shared_ptr<host::Item>> contents() const;
    std::vector<std::shared_ptr<MemoryMailItem>> mails() const;
    std::shared_ptr<MemoryMailItem> mail(const std::string& entryID) const;
    const std::string& name() const { return name_; }
    const std::string& storeID() const { return storeID_; }

private:
    struct Slot {
        std::shared_ptr<host::Item> item;
        MemoryStoredItem* stored = nullptr;
    };
    void place(std::shared_ptr<host::Item> item, MemoryStoredItem& stored);
    bool unplace(const host::Item* item, MemoryStoredItem& stored);

    MemoryHost& host_;
    std::string name_;
    std::string storeID_;
    // In the folder's order, removed items leaving a hole until the holes
    // outnumber the items.
    std::vector<Slot> items_;
    std::size_t count_ = 0;
    // Mails whose entry id the test gave; the host's own ids lead to the
    // mail through their number.
    std::unordered_multimap<std::string, std::shared_ptr<MemoryMailItem>> byEntryID_;
};

class MemoryControl;
class MemoryCommandBar;

// Every property set on a control, in order, as "Property=value"
// ("Caption= &Corvalle", "BeginGroup=1", "Style=3", "PasteFace", ...).
using PropertyLog = std::vector<std::string>;

class MemoryControls : public host::CommandBarControls {
public:
    MemoryControls(MemoryHost& host, std::string ownerName);
    int Count() override;
    std::shared_ptr<host::CommandBarControl> Add(int type, bool temporary) override;

    const std::vector<std::shared_ptr<MemoryControl>>& all() const { return controls_; }
    void dropTemporary();
    // Adds a control without any fault check, for setting up a scene.
    std::shared_ptr<MemoryControl> addControl(int type, bool temporary);

private:
    MemoryHost& host_;
    std::string ownerName_;
    std::vector<std::shared_ptr<MemoryControl>> controls_;
};

class MemoryControl : public virtual host::CommandBarControl {
public:
    MemoryControl(MemoryHost& host, int type, bool temporary);
    std::string Caption() override;
    void setCaption(const std::string& caption) override;
    bool BeginGroup() override;
    void setBeginGroup(bool begin) override;
    bool Enabled() override;
    void setEnabled(bool enabled) override;
    bool Visible() override;
    void setVisible(bool visible) override;
    std::string TooltipText() override;
    void setTooltipText(const std::string& text) override;

    int type() const { return type_; }
    bool temporary() const { return temporary_; }
    const std::string& caption() const { return caption_; }
    const PropertyLog& log() const { return log_; }

protected:
    MemoryHost& host_;
    PropertyLog log_;

private:
    int type_;
    bool temporary_;
    std::string caption_;
    std::string tooltip_;
    bool beginGroup_ = false;
    bool enabled_ = true;
    bool visible_ = true;
};

class MemoryPopup : public MemoryControl, public host::CommandBarPopup {
public:
    MemoryPopup(MemoryHost& host, bool temporary);
    std::shared_ptr<host::CommandBarControls> Controls() override;
    std::shared_ptr<MemoryControls> controls() const { return controls_; }

private:
    std::shared_ptr<MemoryControls> controls_;
};

class MemoryButton : public MemoryControl, public host::CommandBarButton {
public:
    MemoryButton(MemoryHost& host, bool temporary);
    int Style() override;
    void setStyle(int style) override;
    void PasteFace() override;
    host::Subscription onClick(ClickHandler handler) override;

    // The user clicks the button; a handler's failure is recorded by the host.
    void click();
    const host::Bitmap& face() const { return face_; }
    int subscribers() const;

private:
    int style_ = 0;
    host::Bitmap face_;
    std::shared_ptr<std::vector<std::shared_ptr<ClickHandler>>> handlers_;
};

class MemoryCommandBar : public host::CommandBar {
public:
    MemoryCommandBar(MemoryHost& host, std::string name);
    std::string Name() override;
    std::shared_ptr<host::CommandBarControls> Controls() override;
    void Delete() override;
    bool Visible() override;
    void setVisible(bool visible) override;
    int Position() override;
    void setPosition(int position) override;

    std::shared_ptr<MemoryControls> controls() const { return controls_; }
    bool deleted() const { return deleted_; }

private:
    MemoryHost& host_;
    std::string name_;
    std::shared_ptr<MemoryControls> controls_;
    bool visible_ = false;
    int position_ = 0;
    bool deleted_ = false;
};

class MemoryCommandBars : public host::CommandBars {
public:
    explicit MemoryCommandBars(MemoryHost& host);
    int Count() override;
    std::shared_ptr<host::CommandBar> Item(int position) override;
    std::shared_ptr<host::CommandBar> Add(const std::string& name) override;

    // Bars in order; deleted bars are gone from here.
    std::vector<std::shared_ptr<MemoryCommandBar>> bars() const;
    // A toolbar left from an earlier run of the host.
    std::shared_ptr<MemoryCommandBar> addLeftover(const std::string& name, int controls = 0);
    void remove(const MemoryCommandBar* bar);
    // The host ends: temporary controls vanish, the bars stay.
    void endSession();

private:
    MemoryHost& host_;
    std::vector<std::shared_ptr<MemoryCommandBar>> bars_;
};

class MemorySelection : public host::Selection {
public:
    MemorySelection(MemoryHost& host, std::vector<std::shared_ptr<host::Item>> items);
    int Count() override;
    std::shared_ptr<host::Item> Item(int position) override;

private:
    MemoryHost& host_;
    std::vector<std::shared_ptr<host::Item>> items_;
};

class MemoryExplorer : public host::Explorer {
public:
    MemoryExplorer(MemoryHost& host, std::shared_ptr<MemoryCommandBars> bars);
    std::shared_ptr<host::CommandBars> GetCommandBars() override;
    std::shared_ptr<host::Selection> GetSelection() override;
    std::shared_ptr<host::Folder> CurrentFolder() override;
    host::Subscription onClose(host::EventHandler handler) override;
    host::Subscription onSelectionChange(host::EventHandler handler) override;

    std::shared_ptr<MemoryCommandBars> commandBars() const { return bars_; }
    // The user shows a folder (no event, as in the client) ...
    void showFolder(const std::shared_ptr<MemoryFolder>& folder);
    // ... and selects items in it: raises SelectionChange.
    void select(std::vector<std::shared_ptr<host::Item>> items);
    // No selection object at all (raises SelectionChange).
    void selectNothing();
    // The user closes the window: raises Close.
    void close();
    int selectionChangeSubscribers() const;

private:
    MemoryHost& host_;
    std::shared_ptr<MemoryCommandBars> bars_;
    std::shared_ptr<MemoryFolder> current_;
    std::optional<std::vector<std::shared_ptr<host::Item>>> selection_;
    std::shared_ptr<std::vector<std::shared_ptr<host::EventHandler>>> closeHandlers_;
    std::shared_ptr<std::vector<std::shared_ptr<host::EventHandler>>> selectionHandlers_;
};

class MemoryAddressEntry : public host::AddressEntry {
public:
    MemoryAddressEntry(MemoryHost& host, std::string address);
    std::string Address() override;

private:
    MemoryHost& host_;
    std::string address_;
};

class MemoryAddressList : public host::AddressList {
public:
    MemoryAddressList(MemoryHost& host, std::string name, std::vector<std::string> addresses);
    std::vector<std::shared_ptr<host::AddressEntry>> AddressEntries() override;
    const std::string& name() const { return name_; }

private:
    MemoryHost& host_;
    std::string name_;
    std::vector<std::shared_ptr<host::AddressEntry>> entries_;
};

class MemoryRecipient : public host::Recipient {
public:
    MemoryRecipient(MemoryHost& host, std::string address);
    std::string Address() override;

private:
    MemoryHost& host_;
    std::string address_;
};

class MemoryNamespace : public host::Namespace {
public:
    explicit MemoryNamespace(MemoryHost& host);
    std::shared_ptr<host::Recipient> CurrentUser() override;
    std::shared_ptr<host::Folder> GetDefaultFolder(int kind) override;
    std::vector<std::shared_ptr<host::AddressList>> AddressLists() override;

private:
    MemoryHost& host_;
};

class MemoryApplication : public host::Application {
public:
    explicit MemoryApplication(MemoryHost& host);
    std::shared_ptr<host::Explorer> ActiveExplorer() override;
    std::shared_ptr<host::Item> CreateItem(int type) override;
    std::shared_ptr<host::Namespace> GetNamespace(const std::string& type) override;
    host::Subscription onNewMail(host::EventHandler handler) override;
    int newMailSubscribers() const;

private:
    friend class MemoryHost;
    MemoryHost& host_;
    std::shared_ptr<std::vector<std::shared_ptr<host::EventHandler>>> newMailHandlers_;
};

class MemorySession : public host::MessagingSession {
public:
    explicit MemorySession(MemoryHost& host);
    void Logon(const std::string& profileName, const std::string& password, bool showDialog,
               bool newSession) override;
    void Logoff() override;
    // Finds the mail by entry id in the folders whose StoreID matches.
    std::shared_ptr<host::Message> GetMessage(const std::string& entryID, const std::string& storeID) override;

    struct LogonCall {
        std::string profileName;
        std::string password;
        bool showDialog;
        bool newSession;
    };
    std::vector<LogonCall> logons;
    int logoffs = 0;
    bool loggedOn = false;

private:
    MemoryHost& host_;
};

// Records the image put on it.
class MemoryClipboard : public host::Clipboard {
public:
    explicit MemoryClipboard(MemoryHost& host);
    void setBitmap(const host::Bitmap& image) override;
    const host::Bitmap& bitmap() const { return image_; }
    int writes = 0;

private:
    MemoryHost& host_;
    host::Bitmap image_;
};

// Creates "MAPI.Session" (a MemorySession of this host) unless removed.
class MemoryObjectFactory : public host::ObjectFactory {
public:
    explicit MemoryObjectFactory(MemoryHost& host);
    std::shared_ptr<host::Object> CreateObject(const std::string& className) override;
    bool offerSession = true;
    std::vector<std::shared_ptr<MemorySession>> sessions; // every one made

private:
    MemoryHost& host_;
};

// The whole client. One store (StoreID "memory-store") holding Inbox,
// Deleted Items and any further folders; one main window (explorer) with its
// command bars; the current user; address books.
class MemoryHost {
public:
    MemoryHost();
    ~MemoryHost();
    MemoryHost(const MemoryHost&) = delete;
    MemoryHost& operator=(const MemoryHost&) = delete;

    Faults& faults() { return faults_; }

    std::shared_ptr<MemoryApplication> application() const { return application_; }
    std::shared_ptr<MemoryNamespace> nameSpace() const { return namespace_; }
    std::shared_ptr<MemoryFolder> inbox() const { return inbox_; }
    std::shared_ptr<MemoryFolder> deletedItems() const { return deletedItems_; }
    // Further folders ("Calendar", "Sent Items", ...), made on first use.
    std::shared_ptr<MemoryFolder> folder(const std::string& name, const std::string& storeID = "memory-store");
    // The main window; nothing after closeExplorer or when started without one.
    std::shared_ptr<MemoryExplorer> explorer() const { return explorer_; }
    // Makes and activates a new main window sharing the command bars.
    std::shared_ptr<MemoryExplorer> openExplorer();
    // Started without a main window.
    void removeExplorer();
    std::shared_ptr<MemoryCommandBars> commandBars() const { return bars_; }
    MemoryClipboard& clipboard() { return *clipboard_; }
    MemoryObjectFactory& objects() { return *objects_; }

    // The current user's address; nothing gives no current user.
    void setCurrentUser(std::optional<std::string> address);
    std::optional<std::string> currentUser() const { return currentUser_; }
    void addAddressList(const std::string& name, std::vector<std::string> addresses);
    const std::vector<std::shared_ptr<MemoryAddressList>>& addressLists() const { return addressLists_; }

    // Delivers a mail to the Inbox and raises NewMail.
    std::shared_ptr<MemoryMailItem> deliver(MailSpec spec);
    void raiseNewMail();

    // The host ends: temporary controls vanish, toolbars stay.
    void endSession();

    // Failures that event handlers passed back to the host, in order.
    std::vector<std::string> eventFailures;
    // Runs an event handler as the host does: a failure is recorded.
    void runHandler(const host::EventHandler& handler);

    const std::vector<std::shared_ptr<MemoryFolder>>& allFolders() const { return folders_; }
    std::string nextEntryID();
    // Mails whose ids this host made, found by the number in the id.
    void remember(const std::shared_ptr<MemoryMailItem>& mail);
    std::shared_ptr<MemoryMailItem> numberedMail(std::string_view entryID) const;

private:
    Faults faults_;
    std::shared_ptr<MemoryApplication> application_;
    std::shared_ptr<MemoryNamespace> namespace_;
    std::shared_ptr<MemoryFolder> inbox_;
    std::shared_ptr<MemoryFolder> deletedItems_;
    std::vector<std::shared_ptr<MemoryFolder>> folders_;
    std::shared_ptr<MemoryCommandBars> bars_;
    std::shared_ptr<MemoryExplorer> explorer_;
    std::unique_ptr<MemoryClipboard> clipboard_;
    std::unique_ptr<MemoryObjectFactory> objects_;
    std::optional<std::string> currentUser_;
    std::vector<std::shared_ptr<MemoryAddressList>> addressLists_;
    int nextID_ = 1;
    std::vector<std::weak_ptr<MemoryMailItem>> numbered_;
};

} // namespace skerrow::memory
