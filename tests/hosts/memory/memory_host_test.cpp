// The doubles' two promises that every other test relies on: a fault set by
// name reaches its operation, and a folder's items are a snapshot.
#include "hosts/memory/memory_host.h"

#include <gtest/gtest.h>

#include <functional>

namespace skerrow::memory {
namespace {

using host::HostError;

// Every operation checks its own name: a misspelt name would make a fault
// that a test sets silently harmless.
TEST(MemoryFaults, EveryOperationChecksItsName) {
    auto mail = [](MemoryHost& h) { return h.inbox()->mails().front(); };
    auto session = [](MemoryHost& h) {
        auto s = std::make_shared<MemorySession>(h);
        s->Logon("p", "", false, false);
        return s;
    };
    auto message = [=](MemoryHost& h) { return session(h)->GetMessage(mail(h)->spec().entryID, "memory-store"); };
    auto bar = [](MemoryHost& h) { return h.commandBars()->bars().front(); };
    auto button = [](MemoryHost& h) {
        return std::dynamic_pointer_cast<MemoryButton>(h.commandBars()->bars().front()->controls()->all().front());
    };
    const std::vector<std::pair<const char*, std::function<void(MemoryHost&)>>> rows = {
        {"Application.ActiveExplorer", [](MemoryHost& h) { h.application()->ActiveExplorer(); }},
        {"Application.GetNamespace", [](MemoryHost& h) { h.application()->GetNamespace("MAPI"); }},
        {"Application.CreateItem", [](MemoryHost& h) { h.application()->CreateItem(0); }},
        {"Application.onNewMail", [](MemoryHost& h) { h.application()->onNewMail([] {}); }},
        {"Namespace.CurrentUser", [](MemoryHost& h) { h.nameSpace()->CurrentUser(); }},
        {"Namespace.GetDefaultFolder", [](MemoryHost& h) { h.nameSpace()->GetDefaultFolder(host::olFolderInbox); }},
        {"Namespace.AddressLists", [](MemoryHost& h) { h.nameSpace()->AddressLists(); }},
        {"Recipient.Address", [](MemoryHost& h) { h.nameSpace()->CurrentUser()->Address(); }},
        {"AddressList.AddressEntries", [](MemoryHost& h) { h.addressLists()[0]->AddressEntries(); }},
        {"AddressEntry.Address", [](MemoryHost& h) { h.addressLists()[0]->AddressEntries()[0]->Address(); }},
        {"Folder.Items", [](MemoryHost& h) { h.inbox()->Items(); }},
        {"Folder.ItemCount", [](MemoryHost& h) { h.inbox()->ItemCount(); }},
        {"Folder.Name", [](MemoryHost& h) { h.inbox()->Name(); }},
        {"Folder.StoreID", [](MemoryHost& h) { h.inbox()->StoreID(); }},
        {"Folder.settleDeletions", [](MemoryHost& h) { h.inbox()->settleDeletions(); }},
        {"Item.typeName", [=](MemoryHost& h) { mail(h)->typeName(); }},
        {"MailItem.EntryID", [=](MemoryHost& h) { mail(h)->EntryID(); }},
        {"MailItem.Parent", [=](MemoryHost& h) { mail(h)->Parent(); }},
        {"MailItem.Subject", [=](MemoryHost& h) { mail(h)->Subject(); }},
        {"MailItem.Body", [=](MemoryHost& h) { mail(h)->Body(); }},
        {"MailItem.HTMLBody", [=](MemoryHost& h) { mail(h)->HTMLBody(); }},
        {"MailItem.To", [=](MemoryHost& h) { mail(h)->To(); }},
        {"MailItem.UnRead", [=](MemoryHost& h) { mail(h)->UnRead(); }},
        {"MailItem.ReceivedTime", [=](MemoryHost& h) { mail(h)->ReceivedTime(); }},
        {"MailItem.Delete", [=](MemoryHost& h) { mail(h)->Delete(); }},
        {"Explorer.GetCommandBars", [](MemoryHost& h) { h.explorer()->GetCommandBars(); }},
        {"Explorer.GetSelection", [](MemoryHost& h) { h.explorer()->GetSelection(); }},
        {"Explorer.CurrentFolder", [](MemoryHost& h) { h.explorer()->CurrentFolder(); }},
        {"Explorer.onClose", [](MemoryHost& h) { h.explorer()->onClose([] {}); }},
        {"Explorer.onSelectionChange", [](MemoryHost& h) { h.explorer()->onSelectionChange([] {}); }},
        {"Selection.Count", [](MemoryHost& h) { h.explorer()->GetSelection()->Count(); }},
        {"Selection.Item", [=](MemoryHost& h) { MemorySelection(h, {mail(h)}).Item(1); }},
        {"CommandBars.Count", [](MemoryHost& h) { h.commandBars()->Count(); }},
        {"CommandBars.Item", [](MemoryHost& h) { h.commandBars()->Item(1); }},
        {"CommandBars.Add", [](MemoryHost& h) { h.commandBars()->Add("New"); }},
        {"CommandBar.Name", [=](MemoryHost& h) { bar(h)->Name(); }},
        {"CommandBar.Controls", [=](MemoryHost& h) { bar(h)->Controls(); }},
        {"CommandBar.Delete", [=](MemoryHost& h) { bar(h)->Delete(); }},
        {"CommandBar.Visible", [=](MemoryHost& h) { bar(h)->Visible(); }},
        {"CommandBar.setVisible", [=](MemoryHost& h) { bar(h)->setVisible(true); }},
        {"CommandBar.Position", [=](MemoryHost& h) { bar(h)->Position(); }},
        {"CommandBar.setPosition", [=](MemoryHost& h) { bar(h)->setPosition(host::msoBarTop); }},
        {"Controls.Count", [=](MemoryHost& h) { bar(h)->controls()->Count(); }},
        {"Controls.Add", [=](MemoryHost& h) { bar(h)->controls()->Add(host::msoControlButton, true); }},
        {"Control.Caption", [=](MemoryHost& h) { button(h)->Caption(); }},
        {"Control.setCaption", [=](MemoryHost& h) { button(h)->setCaption("x"); }},
        {"Control.BeginGroup", [=](MemoryHost& h) { button(h)->BeginGroup(); }},
        {"Control.setBeginGroup", [=](MemoryHost& h) { button(h)->setBeginGroup(true); }},
        {"Control.Enabled", [=](MemoryHost& h) { button(h)->Enabled(); }},
        {"Control.setEnabled", [=](MemoryHost& h) { button(h)->setEnabled(true); }},
        {"Control.Visible", [=](MemoryHost& h) { button(h)->Visible(); }},
        {"Control.setVisible", [=](MemoryHost& h) { button(h)->setVisible(true); }},
        {"Control.TooltipText", [=](MemoryHost& h) { button(h)->TooltipText(); }},
        {"Control.setTooltipText", [=](MemoryHost& h) { button(h)->setTooltipText("x"); }},
        {"Button.Style", [=](MemoryHost& h) { button(h)->Style(); }},
        {"Button.setStyle", [=](MemoryHost& h) { button(h)->setStyle(host::msoButtonIcon); }},
        {"Button.onClick", [=](MemoryHost& h) { button(h)->onClick([](host::CommandBarButton&, bool&) {}); }},
        {"Popup.Controls", [](MemoryHost& h) { MemoryPopup(h, true).Controls(); }},
        {"Session.Logon", [](MemoryHost& h) { MemorySession(h).Logon("p", "", false, false); }},
        {"Session.Logoff", [=](MemoryHost& h) { session(h)->Logoff(); }},
        {"Session.GetMessage", [=](MemoryHost& h) { message(h); }},
        {"Message.Sender", [=](MemoryHost& h) { message(h)->Sender(); }},
        {"Message.Fields", [=](MemoryHost& h) { message(h)->Fields(host::prTransportMessageHeaders); }},
        {"Field.Value", [=](MemoryHost& h) { message(h)->Fields(host::prTransportMessageHeaders)->Value(); }},
        {"Clipboard.setBitmap", [](MemoryHost& h) { h.clipboard().setBitmap({1}); }},
        {"Factory.CreateObject", [](MemoryHost& h) { h.objects().CreateObject("MAPI.Session"); }},
    };
    auto scene = [](MemoryHost& h) {
        h.setCurrentUser("me@x.com");
        h.addAddressList("Contacts", {"a@x.com"});
        h.inbox()->addMail({})->spec().headers = "From: a@x.com\r\n\r\n";
        h.commandBars()->addLeftover("Bar", 1);
    };
    for (const auto& [operation, call] : rows) {
        MemoryHost working;
        scene(working);
        EXPECT_NO_THROW(call(working)) << operation << " fails without a fault";
        MemoryHost failing;
        scene(failing);
        failing.faults().failAlways(operation);
        EXPECT_THROW(call(failing), HostError) << operation << " does not check its name";
    }
}

TEST(MemoryMail, DeletingWhileWalkingASnapshotVisitsEveryMail) {
    MemoryHost host;
    for (int i = 0; i < 5; ++i)
        host.inbox()->addMail({});

    int visited = 0;
    for (const auto& item : host.inbox()->Items()) {
        host::asMailItem(item)->Delete();
        ++visited;
    }
    EXPECT_EQ(visited, 5);
    EXPECT_EQ(host.inbox()->ItemCount(), 0);
    EXPECT_EQ(host.deletedItems()->ItemCount(), 5);
}

} // namespace
} // namespace skerrow::memory
