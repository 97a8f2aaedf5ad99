// The mail client as the add-in sees it: the objects and operations it calls,
// nothing more. Adapters (in memory, over a Maildir, over COM) implement it.
//
// Conventions for every class here:
// - "Nothing" is a null std::shared_ptr.
// - Every call may throw HostError (or anything derived from std::exception);
//   the add-in traps failures where its behaviour says, step by step.
// - Objects are shared: the host keeps its own references, the add-in holds
//   the ones it needs for as long as it needs them.
// - Everything runs on one thread, the host's user-interface thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace skerrow::host {

class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Dropping a subscription stops the events it delivers.
class EventConnection {
public:
    virtual ~EventConnection() = default;
};
using Subscription = std::unique_ptr<EventConnection>;

// An event handler may throw; the host decides what a failed handler means
// (COM passes it back as the event's result, the Linux hosts record it).
using EventHandler = std::function<void()>;

using Date = std::chrono::system_clock::time_point;

// Any host object. The connection hands the add-in one of these and the
// add-in finds out whether it is the mail client's application.
class Object {
public:
    virtual ~Object() = default;
};

class Folder;
class MailItem;
class Explorer;
class Namespace;
class CommandBars;
class CommandBarControl;
class CommandBarButton;
class Message;

// Default folder kinds of GetDefaultFolder.
inline constexpr int olFolderDeletedItems = 3;
inline constexpr int olFolderInbox = 6;

// Control kinds of CommandBarControls::Add.
inline constexpr int msoControlButton = 1;
inline constexpr int msoControlPopup = 10;

// Button styles.
inline constexpr int msoButtonIcon = 1;
inline constexpr int msoButtonIconAndCaption = 3;

// Command bar positions.
inline constexpr int msoBarTop = 1;

// PR_TRANSPORT_MESSAGE_HEADERS: the internet headers as received.
inline constexpr std::uint32_t prTransportMessageHeaders = 0x007D001E;

inline constexpr const char* mailItemTypeName = "MailItem";

// Anything that sits in a folder: a mail, a meeting request, a report...
class Item : public Object {
public:
    // "MailItem" for mails; other kinds say what they are.
    virtual std::string typeName() = 0;
    // The mail this item is, or null: cheaper than a dynamic cast in walks
    // over every item of a folder.
    virtual MailItem* mailItem() noexcept { return nullptr; }
};

class MailItem : public Item {
public:
    MailItem* mailItem() noexcept override { return this; }
    virtual std::string EntryID() = 0;
    virtual std::shared_ptr<Folder> Parent() = 0;
    virtual std::string Subject() = 0;
    virtual std::string Body() = 0;
    virtual std::string HTMLBody() = 0;
    virtual std::string To() = 0;
    virtual bool UnRead() = 0;
    virtual Date ReceivedTime() = 0;
    // Whether the mail's text as the purge searches it (the transport
    // headers followed directly by the HTML body, or by the plain body when
    // there is no HTML) holds needle, letter case aside; nothing when the
    // host cannot tell without the texts. A host that searched the texts
    // ahead need not keep them.
    virtual std::optional<bool> TextContains(std::string_view /*needle*/) { return std::nullopt; }
    // Moves the mail to Deleted Items; in Deleted Items it removes it for good.
    virtual void Delete() = 0;
};

// The object, or HostError when it is nothing: chained calls through a host
// that answers "nothing" fail like any other host call.
template <typename T>
const std::shared_ptr<T>& must(const std::shared_ptr<T>& object) {
    if (!object)
        throw HostError("nothing");
    return object;
}

// The item as a mail when its type name says it is one, otherwise nothing.
// Never throws: an item whose type cannot be read is not a mail.
std::shared_ptr<MailItem> asMailItem(const std::shared_ptr<Item>& item) noexcept;
// The same, taking over the caller's reference.
std::shared_ptr<MailItem> asMailItem(std::shared_ptr<Item>&& item) noexcept;

class Folder : public Object {
public:
    // A snapshot of the items in the folder's order: deleting one of them
    // while walking the snapshot does not disturb the walk.
    virtual std::vector<std::shared_ptr<Item>> Items() = 0;
    virtual int ItemCount() = 0;
    // The folder's default value, its display name.
    virtual std::string Name() = 0;
    virtual std::string StoreID() = 0;
    // A hint from a walk over a snapshot of this folder: it reaches item
    // soon. A host that can start fetching what a walk reads of an item
    // does so; the item is not touched and nothing is reported.
    virtual void readAhead(const Item* /*item*/) noexcept {}
    // A host may hold deletions back to send many in one command: this
    // sends them and names the mails among them that could not be deleted
    // after all (Delete having returned). A host that deletes at once has none.
    virtual std::vector<const MailItem*> settleDeletions() { return {}; }
};

class Recipient : public Object {
public:
    virtual std::string Address() = 0;
    // The SMTP address of a directory (Exchange) user, whose Address is a
    // directory name; empty where the host knows none.
    virtual std::string SmtpAddress() { return {}; }
};

// An entry of an address book, or the sender of a message.
class AddressEntry : public Object {
public:
    virtual std::string Address() = 0;
};

class AddressList : public Object {
public:
    virtual std::vector<std::shared_ptr<AddressEntry>> AddressEntries() = 0;
};

class Namespace : public Object {
public:
    virtual std::shared_ptr<Recipient> CurrentUser() = 0;
    virtual std::shared_ptr<Folder> GetDefaultFolder(int kind) = 0;
    virtual std::vector<std::shared_ptr<AddressList>> AddressLists() = 0;
    // The SMTP addresses of the profile's mail accounts; none where the
    // host keeps no accounts.
    virtual std::vector<std::string> AccountAddresses() { return {}; }
};

class Selection : public Object {
public:
    virtual int Count() = 0;
    // Positions count from 1.
    virtual std::shared_ptr<host::Item> Item(int position) = 0;
};

class Explorer : public Object {
public:
    virtual std::shared_ptr<CommandBars> GetCommandBars() = 0;
    virtual std::shared_ptr<Selection> GetSelection() = 0;
    virtual std::shared_ptr<Folder> CurrentFolder() = 0;
    virtual Subscription onClose(EventHandler handler) = 0;
    virtual Subscription onSelectionChange(EventHandler handler) = 0;
};

class Application : public Object {
public:
    virtual std::shared_ptr<Explorer> ActiveExplorer() = 0;
    virtual std::shared_ptr<Item> CreateItem(int type) = 0;
    virtual std::shared_ptr<Namespace> GetNamespace(const std::string& type) = 0;
    virtual Subscription onNewMail(EventHandler handler) = 0;
    // How many main windows are open; -1 where the host cannot tell.
    virtual int ExplorerCount() { return -1; }
};

class CommandBarControls : public Object {
public:
    virtual int Count() = 0;
    // Type msoControlButton gives a CommandBarButton, msoControlPopup a
    // CommandBarPopup. Temporary controls vanish when the host ends.
    virtual std::shared_ptr<CommandBarControl> Add(int type, bool temporary) = 0;
};

class CommandBarControl : public Object {
public:
    virtual std::string Caption() = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual bool BeginGroup() = 0;
    virtual void setBeginGroup(bool begin) = 0;
    virtual bool Enabled() = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool Visible() = 0;
    virtual void setVisible(bool visible) = 0;
    virtual std::string TooltipText() = 0;
    virtual void setTooltipText(const std::string& text) = 0;
};

class CommandBarPopup : public virtual CommandBarControl {
public:
    virtual std::shared_ptr<CommandBarControls> Controls() = 0;
};

// A face image: the bytes of a BMP file.
using Bitmap = std::vector<std::uint8_t>;

class CommandBarButton : public virtual CommandBarControl {
public:
    // The button and the host's cancel-default flag, which handlers leave alone.
    using ClickHandler = std::function<void(CommandBarButton& button, bool& cancelDefault)>;

    virtual int Style() = 0;
    virtual void setStyle(int style) = 0;
    // Takes the face image from the clipboard.
    virtual void PasteFace() = 0;
    // Hosts whose buttons take a picture directly return true and leave the
    // clipboard alone; the default is the clipboard route.
    virtual bool setPicture(const Bitmap& /*face*/) { return false; }
    virtual Subscription onClick(ClickHandler handler) = 0;
};

class CommandBar : public Object {
public:
    virtual std::string Name() = 0;
    virtual std::shared_ptr<CommandBarControls> Controls() = 0;
    virtual void Delete() = 0;
    virtual bool Visible() = 0;
    virtual void setVisible(bool visible) = 0;
    virtual int Position() = 0;
    virtual void setPosition(int position) = 0;
};

class CommandBars : public Object {
public:
    virtual int Count() = 0;
    // Positions count from 1.
    virtual std::shared_ptr<CommandBar> Item(int position) = 0;
    // A toolbar made by name only stays in the host's layout after it ends.
    virtual std::shared_ptr<CommandBar> Add(const std::string& name) = 0;
};

// The system clipboard, in bitmap format: the route by which faces reach
// the buttons of hosts that offer nothing else.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual void setBitmap(const Bitmap& image) = 0;
};

class Field : public Object {
public:
    virtual std::string Value() = 0;
    // The same text, shared rather than copied: hosts that keep it as text
    // already spare the purge a copy of every mail's header block.
    virtual std::shared_ptr<const std::string> SharedValue() { return std::make_shared<const std::string>(Value()); }
    // Whether the text holds needle, letter case aside as the purge compares;
    // nothing when the host cannot tell without the text. A host that
    // searched every header block as it read it need not keep the blocks.
    virtual std::optional<bool> Contains(std::string_view /*needle*/) { return std::nullopt; }
};

class Message : public Object {
public:
    virtual std::shared_ptr<AddressEntry> Sender() = 0;
    // The field with that property tag, or nothing when the message has none.
    virtual std::shared_ptr<Field> Fields(std::uint32_t propertyTag) = 0;
};

// The CDO session, opened by the add-in beside the host's own objects.
class MessagingSession : public Object {
public:
    virtual void Logon(const std::string& profileName, const std::string& password, bool showDialog,
                       bool newSession) = 0;
    virtual void Logoff() = 0;
    virtual std::shared_ptr<Message> GetMessage(const std::string& entryID, const std::string& storeID) = 0;
};

// Creates COM-style objects by class name; a class that is not there gives
// nothing (or throws).
class ObjectFactory {
public:
    virtual ~ObjectFactory() = default;
    virtual std::shared_ptr<Object> CreateObject(const std::string& className) = 0;
};

} // namespace skerrow::host
