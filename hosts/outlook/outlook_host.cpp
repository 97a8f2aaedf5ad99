#include "hosts/outlook/outlook_host.h"

#include "hosts/outlook/events.h"
#include "hosts/outlook/outlook_ids.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include <objbase.h>
#include <olectl.h>

namespace skerrow::outlook {

namespace {

using Options = std::shared_ptr<const HostOptions>;

// CDO's answer for a field the message does not have.
constexpr HRESULT cdoNotFound = static_cast<HRESULT>(0x8004010F);

// Address books longer than this are not walked on the client's thread:
// a global address list of a large company would freeze the start-up.
constexpr int largestAddressList = 10000;

// The SMTP address of a directory user, through GetExchangeUser (Outlook
// 2007 and later); empty where the entry offers none.
std::string exchangeSmtpAddress(const Dispatch& entry) {
    if (!entry || !entry.has("GetExchangeUser"))
        return {};
    try {
        Dispatch user(entry.call("GetExchangeUser").toDispatch());
        return user ? user.get("PrimarySmtpAddress").toString() : std::string();
    } catch (const ComError&) {
        return {};
    }
}

Dispatch objectOf(const Variant& value) {
    return Dispatch(value.toDispatch());
}

// The members of a collection, from 1 to its Count.
std::vector<Dispatch> membersOf(const Dispatch& collection, int count) {
    std::vector<Dispatch> members;
    members.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (int i = 1; i <= count; ++i)
        members.push_back(objectOf(collection.get("Item", {i})));
    return members;
}

std::vector<Dispatch> membersOf(const Dispatch& collection) {
    return membersOf(collection, collection.get("Count").toInt());
}

template <class T, class... Rest> std::shared_ptr<T> adapt(const Variant& value, Rest&&... rest) {
    Dispatch object = objectOf(value);
    if (!object)
        return nullptr;
    return std::make_shared<T>(std::move(object), std::forward<Rest>(rest)...);
}

class PlainObject : public host::Object, public ComObject {
public:
    using ComObject::ComObject;
};

class ComAddressEntry : public host::AddressEntry, public ComObject {
public:
    using ComObject::ComObject;
    std::string Address() override { return dispatch().get("Address").toString(); }
};

class ComRecipient : public host::Recipient, public ComObject {
public:
    using ComObject::ComObject;
    std::string Address() override { return dispatch().get("Address").toString(); }
    std::string SmtpAddress() override {
        if (!dispatch().has("AddressEntry"))
            return {};
        return exchangeSmtpAddress(objectOf(dispatch().get("AddressEntry")));
    }
};

// An address book's entry: a directory user's address is its SMTP address
// where the client can tell it, not the directory name nobody mails from.
class ComBookEntry : public host::AddressEntry, public ComObject {
public:
    using ComObject::ComObject;
    std::string Address() override {
        std::string address = dispatch().get("Address").toString();
        if (!address.empty() && address.front() == '/') {
            std::string smtp = exchangeSmtpAddress(dispatch());
            if (!smtp.empty())
                return smtp;
        }
        return address;
    }
};

class ComAddressList : public host::AddressList, public ComObject {
public:
    using ComObject::ComObject;
    std::vector<std::shared_ptr<host::AddressEntry>> AddressEntries() override {
        std::vector<std::shared_ptr<host::AddressEntry>> entries;
        Dispatch all = objectOf(dispatch().get("AddressEntries"));
        const int count = all.get("Count").toInt();
        if (count > largestAddressList)
            return entries;
        for (Dispatch& entry : membersOf(all, count))
            entries.push_back(entry ? std::make_shared<ComBookEntry>(std::move(entry)) : nullptr);
        return entries;
    }
};

class ComFolder;

// Every item is read through the mail item's operations; its type name
// tells the add-in whether it is a mail.
class ComItem : public host::MailItem, public ComObject {
public:
    using ComObject::ComObject;
    std::string typeName() override { return itemTypeName(dispatch()); }
    std::string EntryID() override { return dispatch().get("EntryID").toString(); }
    std::shared_ptr<host::Folder> Parent() override;
    std::string Subject() override { return dispatch().get("Subject").toString(); }
    std::string Body() override { return dispatch().get("Body").toString(); }
    std::string HTMLBody() override { return dispatch().get("HTMLBody").toString(); }
    std::string To() override { return dispatch().get("To").toString(); }
    bool UnRead() override { return dispatch().get("UnRead").toBool(); }
    host::Date ReceivedTime() override { return dispatch().get("ReceivedTime").toDate(); }
    void Delete() override { dispatch().call("Delete"); }
};

class ComFolder : public host::Folder, public ComObject {
public:
    using ComObject::ComObject;
    std::vector<std::shared_ptr<host::Item>> Items() override {
        std::vector<std::shared_ptr<host::Item>> items;
        for (Dispatch& item : membersOf(objectOf(dispatch().get("Items"))))
            items.push_back(item ? std::make_shared<ComItem>(std::move(item)) : nullptr);
        return items;
    }
    int ItemCount() override { return objectOf(dispatch().get("Items")).get("Count").toInt(); }
    std::string Name() override { return dispatch().get("Name").toString(); }
    std::string StoreID() override { return dispatch().get("StoreID").toString(); }
};

std::shared_ptr<host::Folder> ComItem::Parent() {
    return adapt<ComFolder>(dispatch().get("Parent"));
}

class ComNamespace : public host::Namespace, public ComObject {
public:
    using ComObject::ComObject;
    std::shared_ptr<host::Recipient> CurrentUser() override {
        return adapt<ComRecipient>(dispatch().get("CurrentUser"));
    }
    std::shared_ptr<host::Folder> GetDefaultFolder(int kind) override {
        return adapt<ComFolder>(dispatch().call("GetDefaultFolder", {kind}));
    }
    std::vector<std::shared_ptr<host::AddressList>> AddressLists() override {
        std::vector<std::shared_ptr<host::AddressList>> lists;
        for (Dispatch& list : membersOf(objectOf(dispatch().get("AddressLists"))))
            lists.push_back(list ? std::make_shared<ComAddressList>(std::move(list)) : nullptr);
        return lists;
    }
    // Accounts came with Outlook 2007; earlier clients have none to offer.
    std::vector<std::string> AccountAddresses() override {
        std::vector<std::string> addresses;
        if (!dispatch().has("Accounts"))
            return addresses;
        for (const Dispatch& account : membersOf(objectOf(dispatch().get("Accounts"))))
            if (account)
                addresses.push_back(account.get("SmtpAddress").toString());
        return addresses;
    }
};

class ComSelection : public host::Selection, public ComObject {
public:
    using ComObject::ComObject;
    int Count() override { return dispatch().get("Count").toInt(); }
    std::shared_ptr<host::Item> Item(int position) override {
        return adapt<ComItem>(dispatch().get("Item", {position}));
    }
};

// Command bar controls.
class ComControl : public virtual host::CommandBarControl, public ComObject {
public:
    ComControl(Dispatch object, Options options) : ComObject(std::move(object)), options_(std::move(options)) {}
    std::string Caption() override { return dispatch().get("Caption").toString(); }
    void setCaption(const std::string& caption) override { dispatch().put("Caption", caption); }
    bool BeginGroup() override { return dispatch().get("BeginGroup").toBool(); }
    void setBeginGroup(bool begin) override { dispatch().put("BeginGroup", begin); }
    bool Enabled() override { return dispatch().get("Enabled").toBool(); }
    void setEnabled(bool enabled) override { dispatch().put("Enabled", enabled); }
    bool Visible() override { return dispatch().get("Visible").toBool(); }
    void setVisible(bool visible) override { dispatch().put("Visible", visible); }
    std::string TooltipText() override { return dispatch().get("TooltipText").toString(); }
    void setTooltipText(const std::string& text) override { dispatch().put("TooltipText", text); }

protected:
    const Options& options() const { return options_; }

private:
    Options options_;
};

class ComControls : public host::CommandBarControls, public ComObject {
public:
    ComControls(Dispatch object, Options options) : ComObject(std::move(object)), options_(std::move(options)) {}
    int Count() override { return dispatch().get("Count").toInt(); }
    std::shared_ptr<host::CommandBarControl> Add(int type, bool temporary) override;

private:
    Options options_;
};

class ComPopup : public ComControl, public host::CommandBarPopup {
public:
    using ComControl::ComControl;
    std::shared_ptr<host::CommandBarControls> Controls() override {
        return adapt<ComControls>(dispatch().get("Controls"), options());
    }
};

// A face image as a picture object the button can take.
ComPtr<IDispatch> pictureOf(const host::Bitmap& face) {
    constexpr std::size_t fileHeader = 14;
    if (face.size() < fileHeader + sizeof(BITMAPINFOHEADER) || face[0] != 'B' || face[1] != 'M')
        throw ComError("not a BMP file", E_INVALIDARG);
    std::uint32_t offset;
    std::memcpy(&offset, face.data() + 10, sizeof offset);
    if (offset >= face.size())
        throw ComError("not a BMP file", E_INVALIDARG);
    const auto* info = reinterpret_cast<const BITMAPINFO*>(face.data() + fileHeader);
    HDC screen = ::GetDC(nullptr);
    HBITMAP bitmap = ::CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT, face.data() + offset, info, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    if (!bitmap)
        throw ComError("cannot make the face", E_FAIL);
    PICTDESC description{};
    description.cbSizeofstruct = sizeof description;
    description.picType = PICTYPE_BITMAP;
    description.bmp.hbitmap = bitmap;
    ComPtr<IDispatch> picture;
    // The picture owns the bitmap from here on.
    const HRESULT hr = ::OleCreatePictureIndirect(&description, IID_IPictureDisp, TRUE, picture.putVoid());
    if (FAILED(hr)) {
        ::DeleteObject(bitmap);
        throw ComError("OleCreatePictureIndirect", hr);
    }
    return picture;
}

class ComButton : public ComControl, public host::CommandBarButton, public std::enable_shared_from_this<ComButton> {
public:
    using ComControl::ComControl;
    int Style() override { return dispatch().get("Style").toInt(); }
    void setStyle(int style) override { dispatch().put("Style", style); }
    void PasteFace() override {
        struct Restore {
            const Options& options;
            ~Restore() {
                if (options && options->afterPasteFace)
                    options->afterPasteFace();
            }
        } restore{options()};
        dispatch().call("PasteFace");
    }
    // Office 2000's buttons have no Picture; later ones take the face
    // directly and the clipboard is left alone.
    bool setPicture(const host::Bitmap& face) override {
        if (!dispatch().has("Picture"))
            return false;
        try {
            dispatch().putRef("Picture", Variant(pictureOf(face).get()));
            return true;
        } catch (const ComError&) {
            return false;
        }
    }
    host::Subscription onClick(ClickHandler handler) override {
        std::weak_ptr<ComButton> self = weak_from_this();
        return subscribe(dispatch(), ids::DIID_CommandBarButtonEvents, ids::dispidClick,
                         [self, handler = std::move(handler)](const EventArguments& arguments) {
                             auto button = self.lock();
                             if (!button)
                                 return;
                             // Click(Ctrl, CancelDefault): the flag comes by reference.
                             VARIANT* flag = arguments.size() >= 2 ? arguments[1] : nullptr;
                             bool cancel = flag && flag->vt == (VT_BOOL | VT_BYREF) && flag->pboolVal &&
                                           *flag->pboolVal != VARIANT_FALSE;
                             handler(*button, cancel);
                             if (flag && flag->vt == (VT_BOOL | VT_BYREF) && flag->pboolVal)
                                 *flag->pboolVal = cancel ? VARIANT_TRUE : VARIANT_FALSE;
                         });
    }
};

std::shared_ptr<host::CommandBarControl> ComControls::Add(int type, bool temporary) {
    // Add(Type, Id, Parameter, Before, Temporary)
    Variant added =
        dispatch().call("Add", {type, Variant::missing(), Variant::missing(), Variant::missing(), temporary});
    if (type == host::msoControlPopup)
        return adapt<ComPopup>(added, options_);
    if (type == host::msoControlButton)
        return adapt<ComButton>(added, options_);
    return adapt<ComControl>(added, options_);
}

class ComCommandBar : public host::CommandBar, public ComObject {
public:
    ComCommandBar(Dispatch object, Options options) : ComObject(std::move(object)), options_(std::move(options)) {}
    std::string Name() override { return dispatch().get("Name").toString(); }
    std::shared_ptr<host::CommandBarControls> Controls() override {
        return adapt<ComControls>(dispatch().get("Controls"), options_);
    }
    void Delete() override { dispatch().call("Delete"); }
    bool Visible() override { return dispatch().get("Visible").toBool(); }
    void setVisible(bool visible) override { dispatch().put("Visible", visible); }
    int Position() override { return dispatch().get("Position").toInt(); }
    void setPosition(int position) override { dispatch().put("Position", position); }

private:
    Options options_;
};

class ComCommandBars : public host::CommandBars, public ComObject {
public:
    ComCommandBars(Dispatch object, Options options) : ComObject(std::move(object)), options_(std::move(options)) {}
    int Count() override { return dispatch().get("Count").toInt(); }
    std::shared_ptr<host::CommandBar> Item(int position) override {
        return adapt<ComCommandBar>(dispatch().get("Item", {position}), options_);
    }
    // Add(Name, Position, MenuBar, Temporary) with the name only.
    std::shared_ptr<host::CommandBar> Add(const std::string& name) override {
        return adapt<ComCommandBar>(dispatch().call("Add", {name}), options_);
    }

private:
    Options options_;
};

host::Subscription onEvent(const Dispatch& source, const IID& events, DISPID dispid, host::EventHandler handler) {
    return subscribe(source, events, dispid, [handler = std::move(handler)](const EventArguments&) { handler(); });
}

class ComExplorer : public host::Explorer, public ComObject {
public:
    ComExplorer(Dispatch object, Options options) : ComObject(std::move(object)), options_(std::move(options)) {}
    std::shared_ptr<host::CommandBars> GetCommandBars() override {
        return adapt<ComCommandBars>(dispatch().get("CommandBars"), options_);
    }
    std::shared_ptr<host::Selection> GetSelection() override {
        return adapt<ComSelection>(dispatch().get("Selection"));
    }
    std::shared_ptr<host::Folder> CurrentFolder() override { return adapt<ComFolder>(dispatch().get("CurrentFolder")); }
    host::Subscription onClose(host::EventHandler handler) override {
        return onEvent(dispatch(), ids::DIID_ExplorerEvents, ids::dispidExplorerClose, std::move(handler));
    }
    host::Subscription onSelectionChange(host::EventHandler handler) override {
        return onEvent(dispatch(), ids::DIID_ExplorerEvents, ids::dispidSelectionChange, std::move(handler));
    }

private:
    Options options_;
};

class ComApplication : public host::Application, public ComObject {
public:
    ComApplication(Dispatch object, Options options) : ComObject(std::move(object)), options_(std::move(options)) {}
    std::shared_ptr<host::Explorer> ActiveExplorer() override {
        return adapt<ComExplorer>(dispatch().call("ActiveExplorer"), options_);
    }
    std::shared_ptr<host::Item> CreateItem(int type) override {
        return adapt<ComItem>(dispatch().call("CreateItem", {type}));
    }
    std::shared_ptr<host::Namespace> GetNamespace(const std::string& type) override {
        return adapt<ComNamespace>(dispatch().call("GetNamespace", {type}));
    }
    host::Subscription onNewMail(host::EventHandler handler) override {
        return onEvent(dispatch(), ids::DIID_ApplicationEvents, ids::dispidNewMail, std::move(handler));
    }
    int ExplorerCount() override { return objectOf(dispatch().get("Explorers")).get("Count").toInt(); }

private:
    Options options_;
};

// The CDO session and its messages.
class ComField : public host::Field, public ComObject {
public:
    using ComObject::ComObject;
    std::string Value() override { return dispatch().get("Value").toString(); }
};

class ComMessage : public host::Message, public ComObject {
public:
    using ComObject::ComObject;
    std::shared_ptr<host::AddressEntry> Sender() override { return adapt<ComAddressEntry>(dispatch().get("Sender")); }
    std::shared_ptr<host::Field> Fields(std::uint32_t propertyTag) override {
        Dispatch fields = objectOf(dispatch().get("Fields"));
        try {
            return adapt<ComField>(fields.get("Item", {static_cast<long>(propertyTag)}));
        } catch (const ComError& error) {
            if (error.result() == cdoNotFound)
                return nullptr;
            throw;
        }
    }
};

class ComSession : public host::MessagingSession, public ComObject {
public:
    using ComObject::ComObject;
    void Logon(const std::string& profileName, const std::string& password, bool showDialog, bool newSession) override {
        dispatch().call("Logon", {profileName, password, showDialog, newSession});
    }
    void Logoff() override { dispatch().call("Logoff"); }
    std::shared_ptr<host::Message> GetMessage(const std::string& entryID, const std::string& storeID) override {
        return adapt<ComMessage>(dispatch().call("GetMessage", {entryID, storeID}));
    }
};

// The same session over the client's own object model (Outlook 2003 and
// later), for clients without CDO. What each client offers is found by
// asking the item for the member, never by the client's version.
std::string propertyTag(std::uint32_t tag) {
    char text[64];
    std::snprintf(text, sizeof text, "http://schemas.microsoft.com/mapi/proptag/0x%08lX",
                  static_cast<unsigned long>(tag));
    return text;
}

// A text property of the item through its PropertyAccessor (2007 and
// later); the Unicode tag where the 8-bit one fails. Nothing when neither
// is there.
std::optional<std::string> textProperty(const Dispatch& item, std::uint32_t tag) {
    if (!item.has("PropertyAccessor"))
        return std::nullopt;
    Dispatch accessor = objectOf(item.get("PropertyAccessor"));
    std::vector<std::uint32_t> tags{tag};
    constexpr std::uint32_t stringType = 0x001E;
    constexpr std::uint32_t unicodeType = 0x001F;
    if ((tag & 0xFFFF) == stringType)
        tags.push_back((tag & 0xFFFF0000u) | unicodeType);
    for (std::uint32_t t : tags) {
        try {
            return accessor.call("GetProperty", {propertyTag(t)}).toString();
        } catch (const ComError&) {
        }
    }
    return std::nullopt;
}

// PR_SENDER_SMTP_ADDRESS, kept by the stores of Outlook 2007 and later.
constexpr std::uint32_t prSenderSmtpAddress = 0x5D01001F;

class ItemSender : public host::AddressEntry {
public:
    explicit ItemSender(Dispatch item) : item_(std::move(item)) {}
    // SenderEmailAddress of an internet sender; a directory sender's SMTP
    // address; otherwise a failure, so that the caller falls back.
    std::string Address() override {
        const std::string type = item_.get("SenderEmailType").toString();
        if (type == "SMTP")
            return item_.get("SenderEmailAddress").toString();
        if (type == "EX") {
            if (item_.has("Sender")) {
                std::string smtp = exchangeSmtpAddress(objectOf(item_.get("Sender")));
                if (!smtp.empty())
                    return smtp;
            }
            if (auto smtp = textProperty(item_, prSenderSmtpAddress); smtp && !smtp->empty())
                return *smtp;
        }
        throw ComError("the sender has no internet address", cdoNotFound);
    }

private:
    Dispatch item_;
};

class TextField : public host::Field {
public:
    explicit TextField(std::string value) : value_(std::make_shared<const std::string>(std::move(value))) {}
    std::string Value() override { return *value_; }
    std::shared_ptr<const std::string> SharedValue() override { return value_; }

private:
    std::shared_ptr<const std::string> value_;
};

class ItemMessage : public host::Message, public ComObject {
public:
    using ComObject::ComObject;
    std::shared_ptr<host::AddressEntry> Sender() override { return std::make_shared<ItemSender>(dispatch()); }
    // Any failure means the item has no such field.
    std::shared_ptr<host::Field> Fields(std::uint32_t propertyTag) override {
        auto value = textProperty(dispatch(), propertyTag);
        return value ? std::make_shared<TextField>(std::move(*value)) : nullptr;
    }
};

class ObjectModelSession : public host::MessagingSession, public ComObject {
public:
    using ComObject::ComObject; // the namespace
    void Logon(const std::string&, const std::string&, bool, bool) override {}
    void Logoff() override {}
    std::shared_ptr<host::Message> GetMessage(const std::string& entryID, const std::string& storeID) override {
        return adapt<ItemMessage>(dispatch().call("GetItemFromID", {entryID, storeID}));
    }
};

} // namespace

std::shared_ptr<host::MessagingSession> objectModelSession(IDispatch* application) {
    Dispatch client{ComPtr<IDispatch>(application)};
    return adapt<ObjectModelSession>(client.call("GetNamespace", {"MAPI"}));
}

std::string classTypeName(int objectClass) {
    switch (objectClass) {
    case 26: return "AppointmentItem";
    case 40: return "ContactItem";
    case 41: return "DocumentItem";
    case 42: return "JournalItem";
    case ids::olMail: return "MailItem";
    case 44: return "NoteItem";
    case 45: return "PostItem";
    case 46: return "ReportItem";
    case 47: return "RemoteItem";
    case 48: return "TaskItem";
    case 49: return "TaskRequestItem";
    case 50: return "TaskRequestUpdateItem";
    case 51: return "TaskRequestAcceptItem";
    case 52: return "TaskRequestDeclineItem";
    case 53:
    case 54:
    case 55:
    case 56:
    case 57: return "MeetingItem";
    case 69: return "DistListItem";
    default: return {};
    }
}

std::string itemTypeName(const Dispatch& item) {
    if (!item)
        throw ComError("typeName: nothing", E_POINTER);
    UINT count = 0;
    ComPtr<ITypeInfo> info;
    if (SUCCEEDED(item.get()->GetTypeInfoCount(&count)) && count > 0 &&
        SUCCEEDED(item.get()->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put())) && info) {
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)) && name) {
            std::string text = toUtf8(name);
            ::SysFreeString(name);
            if (!text.empty() && text.front() == '_')
                text.erase(0, 1);
            if (!text.empty())
                return text;
        }
    }
    const int objectClass = item.get("Class").toInt();
    std::string name = classTypeName(objectClass);
    return name.empty() ? "Object" : name;
}

std::shared_ptr<host::Object> wrapConnectionObject(IDispatch* object, HostOptions options) {
    if (!object)
        return nullptr;
    Dispatch dispatch{ComPtr<IDispatch>(object)};
    auto shared = std::make_shared<const HostOptions>(std::move(options));
    if (dispatch.pointer().as<IUnknown>(ids::IID_OutlookApplication))
        return std::make_shared<ComApplication>(std::move(dispatch), std::move(shared));
    return std::make_shared<PlainObject>(std::move(dispatch));
}

std::shared_ptr<host::Object> ComObjectFactory::CreateObject(const std::string& className) {
    const bool session = className == "MAPI.Session";
    CLSID clsid;
    ComPtr<IDispatch> object;
    if (SUCCEEDED(::CLSIDFromProgID(toWide(className).c_str(), &clsid))) {
        const HRESULT made = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                                IID_IDispatch, object.putVoid());
        if (FAILED(made) && !(session && application_))
            check(made, "CoCreateInstance " + className);
    }
    if (session && object)
        return std::make_shared<ComSession>(Dispatch(std::move(object)));
    if (session && application_)
        return objectModelSession(application_.get());
    if (!object)
        return nullptr;
    return std::make_shared<PlainObject>(Dispatch(std::move(object)));
}

} // namespace skerrow::outlook
