#include "hosts/outlook/outlook_host.h"

#include "hosts/outlook/events.h"
#include "tests/hosts/outlook/fake/fake_outlook.h"
#include "tests/support/win32_clipboard.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace skerrow;
using fake::FakeOutlook;
using fake::MailData;

namespace {

class OutlookHost : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override {
        // Every sink was unadvised by the subscriptions that went.
        EXPECT_EQ(outlook::liveSinks(), 0);
        ::CoUninitialize();
    }

    std::shared_ptr<host::Application> connect(outlook::HostOptions options = {}) {
        auto application = std::dynamic_pointer_cast<host::Application>(
            outlook::wrapConnectionObject(client.application(), std::move(options)));
        EXPECT_NE(application, nullptr);
        return application;
    }
    std::shared_ptr<host::Namespace> mapi() { return connect()->GetNamespace("MAPI"); }
    // A temporary button on a new "Corvalle" bar.
    static std::shared_ptr<host::CommandBarButton> newButton(host::Application& application) {
        auto bar = application.ActiveExplorer()->GetCommandBars()->Add("Corvalle");
        return std::dynamic_pointer_cast<host::CommandBarButton>(bar->Controls()->Add(host::msoControlButton, true));
    }

    FakeOutlook client;
};

TEST_F(OutlookHost, OnlyTheMailClientsApplicationIsAnApplication) {
    // Another program's object, with no Outlook interface behind it.
    fake::Ref other = fake::FakeObject::make("_Application");
    auto object = outlook::wrapConnectionObject(other.get());
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(std::dynamic_pointer_cast<host::Application>(object), nullptr);
    EXPECT_EQ(outlook::wrapConnectionObject(nullptr), nullptr);
}

// The default folders and the address books are read through the DLL's
// tests (Is Spam, the purge, the first run's import).
TEST_F(OutlookHost, TheNamespaceGivesTheUsersAddress) {
    EXPECT_EQ(mapi()->CurrentUser()->Address(), "Me@Home.example");
}

TEST_F(OutlookHost, AMailReadsWholeInUtf8AndItsDateInUniversalTime) {
    // 2024-03-10 14:30 local time, as Outlook keeps it.
    SYSTEMTIME local{2024, 3, 0, 10, 14, 30, 0, 0};
    double date = 0;
    ::SystemTimeToVariantTime(&local, &date);
    client.addMail(client.inbox, MailData{.subject = "Grüße — €5",
                                          .body = "plain",
                                          .htmlBody = "<b>html</b>",
                                          .to = "Me <me@home.example>",
                                          .unread = false,
                                          .received = date});
    auto items = mapi()->GetDefaultFolder(host::olFolderInbox)->Items();
    ASSERT_EQ(items.size(), 1u);
    auto mail = host::asMailItem(items[0]);
    ASSERT_NE(mail, nullptr);
    EXPECT_EQ(mail->Subject(), "Grüße — €5");
    EXPECT_EQ(mail->Body(), "plain");
    EXPECT_EQ(mail->HTMLBody(), "<b>html</b>");
    EXPECT_EQ(mail->To(), "Me <me@home.example>");
    EXPECT_FALSE(mail->UnRead());
    EXPECT_EQ(mail->Parent()->StoreID(), "store-1");

    SYSTEMTIME universal;
    ::TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal);
    std::tm expected{0, universal.wMinute, universal.wHour, universal.wDay, universal.wMonth - 1, universal.wYear - 1900};
    EXPECT_EQ(std::chrono::system_clock::to_time_t(mail->ReceivedTime()), _mkgmtime(&expected));
}

// How an item tells its kind, and what the add-in makes of it.
TEST_F(OutlookHost, AnItemsTypeNameComesFromItsTypeInformationElseFromItsClass) {
    struct Case {
        const char* typeName; // of the item's type information; "" for none
        int itemClass;
        const char* expected;
    };
    const Case cases[] = {
        {"_MailItem", 43, "MailItem"},
        {"", 43, "MailItem"},
        {"", 53, "MeetingItem"},
        {"", 46, "ReportItem"},
        {"_ContactItem", 43, "ContactItem"}, // the type information wins over the class
        {"", 26, "AppointmentItem"},
        {"", 999, "Object"},
    };
    for (const Case& c : cases)
        client.addMail(client.inbox, MailData{.typeName = c.typeName, .itemClass = c.itemClass});
    auto items = mapi()->GetDefaultFolder(host::olFolderInbox)->Items();
    ASSERT_EQ(items.size(), std::size(cases));
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(cases[i].expected);
        EXPECT_EQ(items[i]->typeName(), cases[i].expected);
        EXPECT_EQ(host::asMailItem(items[i]) != nullptr, std::string(cases[i].expected) == "MailItem");
    }
}

TEST_F(OutlookHost, DeletingMailsWhileWalkingTheSnapshotVisitsEveryOne) {
    for (int i = 0; i < 4; ++i)
        client.addMail(client.inbox, MailData{.subject = "mail " + std::to_string(i)});
    auto inbox = mapi()->GetDefaultFolder(host::olFolderInbox);
    EXPECT_EQ(inbox->ItemCount(), 4);
    for (const auto& item : inbox->Items())
        host::asMailItem(item)->Delete();
    EXPECT_EQ(inbox->ItemCount(), 0);
}

TEST_F(OutlookHost, AFailedCallIsAHostErrorCarryingTheClientsResult) {
    client.addMail(client.inbox, MailData{});
    auto item = host::asMailItem(mapi()->GetDefaultFolder(host::olFolderInbox)->Items().at(0));
    // Gone from the store behind the add-in's back.
    client.inbox.items.clear();
    try {
        item->Delete();
        FAIL() << "the failed Delete went unnoticed";
    } catch (const outlook::ComError& error) {
        EXPECT_EQ(error.result(), fake::notFound);
    }
}

TEST_F(OutlookHost, TheExplorerMayHaveNothingSelectedOrBeNothing) {
    auto application = connect();
    auto a = client.addMail(client.inbox, MailData{.entryID = "A"});
    auto b = client.addMail(client.inbox, MailData{.entryID = "B"});
    client.selection = {b, a};
    auto selection = application->ActiveExplorer()->GetSelection();
    ASSERT_EQ(selection->Count(), 2);
    EXPECT_EQ(host::asMailItem(selection->Item(1))->EntryID(), "B");
    EXPECT_EQ(host::asMailItem(selection->Item(2))->EntryID(), "A");

    client.selectionIsNothing = true;
    EXPECT_EQ(application->ActiveExplorer()->GetSelection(), nullptr);
    client.currentFolder = nullptr;
    EXPECT_EQ(application->ActiveExplorer()->CurrentFolder(), nullptr);
    client.hasExplorer = false;
    EXPECT_EQ(application->ActiveExplorer(), nullptr);
}

TEST_F(OutlookHost, CommandBarsAreAddedByNameAndControlsAsTemporaryByPosition) {
    auto bars = connect()->ActiveExplorer()->GetCommandBars();
    auto bar = bars->Add("Corvalle");
    // Add(Name, Position, MenuBar, Temporary) with the name alone.
    EXPECT_EQ(bars->Count(), 1);
    bar->setVisible(true);
    bar->setPosition(host::msoBarTop);
    EXPECT_EQ(bar->Name(), "Corvalle");
    EXPECT_TRUE(client.bar("Corvalle")->visible);
    EXPECT_EQ(client.bar("Corvalle")->position, 1);

    auto popup = std::dynamic_pointer_cast<host::CommandBarPopup>(bar->Controls()->Add(host::msoControlPopup, true));
    ASSERT_NE(popup, nullptr);
    popup->setCaption(" &Corvalle");
    auto item = std::dynamic_pointer_cast<host::CommandBarButton>(popup->Controls()->Add(host::msoControlButton, true));
    ASSERT_NE(item, nullptr);
    item->setBeginGroup(true);
    item->setCaption("&Options");
    item->setStyle(host::msoButtonIcon);
    item->setEnabled(false);
    item->setTooltipText("tip");

    auto& added = client.bar("Corvalle")->controls;
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0]->type, 10);
    EXPECT_TRUE(added[0]->temporary);
    ASSERT_EQ(added[0]->controls.size(), 1u);
    EXPECT_TRUE(added[0]->controls[0]->temporary);
    EXPECT_EQ(added[0]->controls[0]->log, (std::vector<std::string>{"BeginGroup=True", "Caption=&Options", "Style=1",
                                                                    "Enabled=False", "TooltipText=tip"}));
}

TEST_F(OutlookHost, AFacePastedThroughTheClipboardRunsTheHookAlsoWhenThePasteFails) {
    int hooks = 0;
    outlook::HostOptions options;
    options.afterPasteFace = [&] { ++hooks; };
    auto button = newButton(*connect(options));
    test::copyText(L"no picture");
    EXPECT_THROW(button->PasteFace(), host::HostError);
    EXPECT_EQ(hooks, 1);
}

TEST_F(OutlookHost, BytesThatMakeNoPictureLeaveTheFaceToTheClipboardRoute) {
    FakeOutlook later(/*office2000=*/false);
    auto button = newButton(
        *std::dynamic_pointer_cast<host::Application>(outlook::wrapConnectionObject(later.application())));
    EXPECT_FALSE(button->setPicture({'x'}));
}

TEST_F(OutlookHost, AFailingHandlerFailsTheEventForTheClientAndMayDropItsOwnSubscription) {
    auto explorer = connect()->ActiveExplorer();
    auto onSelection = explorer->onSelectionChange([] { throw outlook::ComError("failed", E_ACCESSDENIED); });
    host::Subscription onClose;
    int closes = 0;
    onClose = explorer->onClose([&] {
        ++closes;
        onClose.reset();
        throw std::runtime_error("failed");
    });
    // Each sink answers for its own member and lets the other pass.
    EXPECT_EQ(client.selectionChange(), (std::vector<HRESULT>{E_ACCESSDENIED, S_OK}));
    EXPECT_EQ(client.closeExplorer(), (std::vector<HRESULT>{S_OK, E_FAIL}));
    EXPECT_EQ(client.closeExplorer(), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(closes, 1);
}

TEST_F(OutlookHost, AClickGivesTheButtonAndCarriesTheCancelFlagBothWays) {
    auto button = newButton(*connect());
    button->setCaption("Is &Spam");
    std::string clicked;
    bool seenCancel = true;
    auto onClick = button->onClick([&](host::CommandBarButton& b, bool& cancel) {
        clicked = b.Caption();
        seenCancel = cancel;
        cancel = true;
    });
    VARIANT_BOOL cancel = VARIANT_FALSE;
    EXPECT_EQ(client.click("Is &Spam", &cancel), std::vector<HRESULT>{S_OK});
    EXPECT_EQ(clicked, "Is &Spam");
    EXPECT_FALSE(seenCancel);
    EXPECT_EQ(cancel, VARIANT_TRUE);
}

// CDO's session, created by its class name as the add-in creates it.
TEST_F(OutlookHost, TheMessagingSessionOpensAMailAsAMessageWithItsSenderAndHeadersOnlyWhileRegistered) {
    client.addMail(client.inbox,
                   MailData{.entryID = "E1", .sender = "josé@example.com", .headers = "To: me@home.example"});
    client.addMail(client.inbox, MailData{.entryID = "E2", .sender = "x@y.example"});
    outlook::ComObjectFactory factory;
    auto registered = std::make_unique<fake::RegisteredClass>(fake::fakeSessionClass, L"MAPI.Session",
                                                              [this] { return client.makeSession(); });
    auto session = std::dynamic_pointer_cast<host::MessagingSession>(factory.CreateObject("MAPI.Session"));
    ASSERT_NE(session, nullptr);
    auto message = session->GetMessage("E1", "store-1");
    EXPECT_EQ(message->Sender()->Address(), "josé@example.com");
    EXPECT_EQ(message->Fields(host::prTransportMessageHeaders)->Value(), "To: me@home.example");
    // A message without the field has nothing there, rather than failing.
    EXPECT_EQ(session->GetMessage("E2", "store-1")->Fields(host::prTransportMessageHeaders), nullptr);
    session.reset();
    registered.reset();
    EXPECT_EQ(factory.CreateObject("MAPI.Session"), nullptr);
}

} // namespace
