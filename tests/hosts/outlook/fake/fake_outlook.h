// A mail client of our own, made of fake COM objects shaped like Outlook
// 2000's object model, Office 2000's command bars and CDO's session, or
// like today's Outlook (2016 to Microsoft 365), which has no CDO but
// SenderEmailAddress, PropertyAccessor, GetExchangeUser and Accounts: what
// the COM host and the DLL are tested against. The scene is plain data the
// test sets up and inspects; the objects read and change it.
#pragma once

#include "tests/hosts/outlook/fake/fake_com.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skerrow::fake {

// As the type libraries publish them; typed in here apart from the
// adapter's own table, so that a wrong number there fails the tests.
namespace published {
// {00063001-0000-0000-C000-000000000046} _Application
inline const IID outlookApplication = {0x00063001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {0006304E-...} ApplicationEvents, NewMail 0xF003
inline const IID applicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr DISPID newMail = 0xF003;
// {0006304F-...} ExplorerEvents, SelectionChange 0xF007, Close 0xF008
inline const IID explorerEvents = {0x0006304F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr DISPID selectionChange = 0xF007;
inline constexpr DISPID explorerClose = 0xF008;
// {000C0351-...} _CommandBarButtonEvents, Click 1
inline const IID buttonEvents = {0x000C0351, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr DISPID click = 1;
} // namespace published

// What the client answers for an item or a field it does not have.
inline constexpr HRESULT notFound = static_cast<HRESULT>(0x8004010F);

// The CLSID the fake messaging session is registered under as "MAPI.Session".
// {5D0C1C8E-3B1A-4C55-9A7E-8E0B5B6D2F11}
inline const CLSID fakeSessionClass = {0x5D0C1C8E, 0x3B1A, 0x4C55, {0x9A, 0x7E, 0x8E, 0x0B, 0x5B, 0x6D, 0x2F, 0x11}};

struct FolderData;

struct MailData {
    std::string entryID;
    std::string subject;
    std::string sender;                 // what the session reports as the sender's address
    std::string senderType = "SMTP";    // SenderEmailType: "EX" for a directory sender
    std::optional<std::string> headers; // the transport headers field; nothing: no such field
    std::string body;
    std::string htmlBody;
    std::string to;
    bool unread = true;
    double received = 0; // DATE, local time
    // How the item tells its kind: type information named typeName, else
    // its Class.
    std::string typeName = "_MailItem";
    int itemClass = 43;
    FolderData* folder = nullptr;
    Ref object; // made on first use, then the same object every time
};
using Mail = std::shared_ptr<MailData>;

struct FolderData {
    std::string name;
    std::string storeID;
    std::vector<Mail> items;
    Ref object;
};

struct ControlData {
    int type = 1;
    bool temporary = false;
    std::string caption;
    std::string tooltip;
    bool beginGroup = false;
    bool enabled = true;
    bool visible = true;
    int style = 0;
    std::vector<std::shared_ptr<ControlData>> controls; // a popup's
    // Every property set, in order, as passed: "Caption= &Corvalle", "Style=3", and
    // "PasteFace" when it took the clipboard's bitmap, "Picture" when set.
    std::vector<std::string> log;
    Ref object;
};
using Control = std::shared_ptr<ControlData>;

struct BarData {
    std::string name;
    bool visible = false;
    int position = 0;
    std::vector<Control> controls;
    Ref object;
};
using Bar = std::shared_ptr<BarData>;

class FakeOutlook {
public:
    // office2000: Outlook 2000, its buttons without a Picture property;
    // otherwise today's Outlook.
    explicit FakeOutlook(bool office2000 = true);
    FakeOutlook(const FakeOutlook&) = delete;
    FakeOutlook& operator=(const FakeOutlook&) = delete;

    // The scene.
    std::string currentUser = "Me@Home.example";
    // Today's face: directory names and the SMTP addresses GetExchangeUser
    // gives for them; the SMTP addresses of the profile's accounts.
    std::map<std::string, std::string> directory;
    std::vector<std::string> accounts;
    // Main windows open; the one that closes still counts in its Close.
    int explorers = 1;
    std::vector<std::vector<std::string>> addressLists;
    FolderData inbox{"Inbox", "store-1", {}, {}};
    FolderData deletedItems{"Deleted Items", "store-1", {}, {}};
    std::vector<Bar> bars;
    std::vector<Mail> selection;
    bool selectionIsNothing = false;
    FolderData* currentFolder = &inbox;
    bool hasExplorer = true;

    // The messaging session's log: "Logon(mspr,,False,False)", "Logoff", ...
    std::vector<std::string> sessionLog;
    // Logoff fails with this result when set.
    HRESULT logoffFailure = S_OK;

    Mail addMail(FolderData& folder, MailData mail);
    // Every mail of every folder.
    Mail findMail(const std::string& entryID) const;
    Bar bar(const std::string& name) const;
    // The first control with that caption, searched through popups too.
    Control control(const std::string& caption) const;

    // The objects the add-in is handed and reaches.
    IDispatch* application() const { return application_.get(); }
    FakeObject& applicationObject() const { return *application_.get(); }
    FakeObject& explorerObject() const { return *explorer_.get(); }

    // Events as the client raises them; the sinks' results.
    std::vector<HRESULT> newMail() { return application_->raise(published::applicationEvents, published::newMail); }
    std::vector<HRESULT> selectionChange() {
        return explorer_->raise(published::explorerEvents, published::selectionChange);
    }
    std::vector<HRESULT> closeExplorer();
    // Click(Ctrl, CancelDefault) on the button with that caption.
    std::vector<HRESULT> click(const std::string& caption, VARIANT_BOOL* cancelDefault = nullptr);

    // A messaging session object, as "MAPI.Session" makes them.
    Ref makeSession();

private:
    Ref folderObject(FolderData& folder);
    // An address entry; today's answers GetExchangeUser for directory names.
    Ref addressEntry(const std::string& address);
    Ref mailObject(const Mail& mail);
    Ref controlsObject(std::vector<Control>& controls);
    Ref controlObjectFor(const Control& control);
    Ref barObject(const Bar& bar);

    bool office2000_;
    Ref application_;
    Ref namespace_;
    Ref explorer_;
    Ref commandBars_;
    int nextEntry_ = 1;
};

} // namespace skerrow::fake
