// The doubles' promise that every other test relies on: a fault set by name
// reaches its operation.
#include "hosts/memory/memory_host.h"

#include <gtest/gtest.h>

#include <functional>

namespace skerrow::memory {
namespace {

using host::HostError;

// A fault whose tests would pass without it (the start-up's every-step
// test asks only that the connection survives; a mail whose text cannot be
// read is kept like one that names the user) must reach its operation, or a
// misspelt name leaves those tests passing vacuously. Every other fault a
// test sets changes what that test sees, and it fails when the fault is lost.
TEST(MemoryFaults, FaultsNoTestCanSeeReachTheirOperation) {
    auto mail = [](MemoryHost& h) { return h.inbox()->mails().front(); };
    auto bar = [](MemoryHost& h) { return h.commandBars()->bars().front(); };
    auto button = [=](MemoryHost& h) {
        return std::dynamic_pointer_cast<MemoryButton>(bar(h)->controls()->all().front());
    };
    const std::vector<std::pair<const char*, std::function<void(MemoryHost&)>>> rows = {
        {"Application.ActiveExplorer", [](MemoryHost& h) { h.application()->ActiveExplorer(); }},
        {"Namespace.CurrentUser", [](MemoryHost& h) { h.nameSpace()->CurrentUser(); }},
        {"Namespace.AddressLists", [](MemoryHost& h) { h.nameSpace()->AddressLists(); }},
        {"Recipient.Address", [](MemoryHost& h) { h.nameSpace()->CurrentUser()->Address(); }},
        {"MailItem.Subject", [=](MemoryHost& h) { mail(h)->Subject(); }},
        {"MailItem.Body", [=](MemoryHost& h) { mail(h)->Body(); }},
        {"MailItem.HTMLBody", [=](MemoryHost& h) { mail(h)->HTMLBody(); }},
        {"Explorer.GetCommandBars", [](MemoryHost& h) { h.explorer()->GetCommandBars(); }},
        {"CommandBars.Count", [](MemoryHost& h) { h.commandBars()->Count(); }},
        {"CommandBars.Item", [](MemoryHost& h) { h.commandBars()->Item(1); }},
        {"CommandBars.Add", [](MemoryHost& h) { h.commandBars()->Add("New"); }},
        {"CommandBar.setVisible", [=](MemoryHost& h) { bar(h)->setVisible(true); }},
        {"CommandBar.setPosition", [=](MemoryHost& h) { bar(h)->setPosition(host::msoBarTop); }},
        {"Controls.Add", [=](MemoryHost& h) { bar(h)->controls()->Add(host::msoControlButton, true); }},
        {"Control.setCaption", [=](MemoryHost& h) { button(h)->setCaption("x"); }},
        {"Button.setStyle", [=](MemoryHost& h) { button(h)->setStyle(host::msoButtonIcon); }},
        {"Popup.Controls", [](MemoryHost& h) { MemoryPopup(h, true).Controls(); }},
        {"Session.Logon", [](MemoryHost& h) { MemorySession(h).Logon("p", "", false, false); }},
        {"Field.Value",
         [=](MemoryHost& h) {
             auto session = std::make_shared<MemorySession>(h);
             session->Logon("p", "", false, false);
             session->GetMessage(mail(h)->spec().entryID, "memory-store")->Fields(host::prTransportMessageHeaders)->Value();
         }},
        {"Clipboard.setBitmap", [](MemoryHost& h) { h.clipboard().setBitmap({1}); }},
        {"Factory.CreateObject", [](MemoryHost& h) { h.objects().CreateObject("MAPI.Session"); }},
    };
    auto scene = [](MemoryHost& h) {
        h.setCurrentUser("me@x.com");
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

} // namespace
} // namespace skerrow::memory
