// The memory host must behave like the mail client wherever the add-in
// relies on it: deletion, snapshots, the messaging session, events, command
// bars and the named faults.
#include "hosts/memory/memory_host.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace skerrow::memory {
namespace {

using host::HostError;

std::vector<std::string> entryIDs(const MemoryFolder& folder) {
    std::vector<std::string> ids;
    for (const auto& mail : folder.mails())
        ids.push_back(mail->spec().entryID);
    return ids;
}

MailSpec mailFrom(const std::string& sender) {
    MailSpec spec;
    spec.senderAddress = sender;
    spec.headers = "From: " + sender + "\r\n\r\n";
    return spec;
}

// ---- Folders and mails ----

TEST(MemoryMail, DeleteMovesToDeletedItemsThenRemovesForGood) {
    MemoryHost host;
    host.deletedItems()->addMail({});
    auto mail = host.inbox()->addMail(mailFrom("a@x.com"));

    mail->Delete();
    EXPECT_EQ(host.inbox()->ItemCount(), 0);
    EXPECT_EQ(entryIDs(*host.deletedItems()).back(), mail->EntryID()) << "moved mails go to the end";
    EXPECT_EQ(mail->Parent(), host.deletedItems());

    mail->Delete();
    EXPECT_EQ(host.deletedItems()->ItemCount(), 1);
    EXPECT_EQ(mail->Parent(), nullptr);
    EXPECT_THROW(mail->Delete(), HostError) << "a mail deleted for good cannot be deleted again";
}

TEST(MemoryMail, DeletingWhileWalkingASnapshotVisitsEveryMail) {
    MemoryHost host;
    for (int i = 0; i < 5; ++i)
        host.inbox()->addMail({});
    const auto before = entryIDs(*host.inbox());

    int visited = 0;
    for (const auto& item : host.inbox()->Items()) {
        host::asMailItem(item)->Delete();
        ++visited;
    }
    EXPECT_EQ(visited, 5);
    EXPECT_EQ(host.inbox()->ItemCount(), 0);
    EXPECT_EQ(entryIDs(*host.deletedItems()), before);
}

TEST(MemoryMail, OtherItemsAreNotMailsAndNewItemsLieInNoFolder) {
    MemoryHost host;
    host.inbox()->addOther("MeetingItem");
    host.inbox()->addMail({});
    auto items = host.inbox()->Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->typeName(), "MeetingItem");
    EXPECT_EQ(host::asMailItem(items[0]), nullptr);
    EXPECT_NE(host::asMailItem(items[1]), nullptr);

    auto made = host::asMailItem(host.application()->CreateItem(0));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->Parent(), nullptr);
    EXPECT_EQ(host.inbox()->ItemCount(), 2);
    EXPECT_THROW(host.application()->CreateItem(1), HostError);
    EXPECT_THROW(host.application()->GetNamespace("OTHER"), HostError);
    EXPECT_EQ(host.application()->GetNamespace("MAPI")->GetDefaultFolder(host::olFolderDeletedItems),
              host.deletedItems());
}

// Removals leave holes that are squeezed out once they outnumber the items;
// through all of it the order holds and every mail is found by its id,
// whether the host made the id or the test gave it.
TEST(MemoryMail, FoldersKeepOrderAndFindMailsThroughManyRemovals) {
    MemoryHost host;
    std::vector<std::shared_ptr<MemoryMailItem>> mails;
    for (int i = 0; i < 12; ++i) {
        MailSpec spec = mailFrom("s" + std::to_string(i) + "@x.com");
        if (i % 3 == 0)
            spec.entryID = "given-" + std::to_string(i);
        mails.push_back(host.inbox()->addMail(spec));
        if (i == 5)
            host.inbox()->addOther("MeetingItem");
    }
    // Keeps 1, 4, 7, 10: eight of twelve mails go, forcing a squeeze.
    std::vector<std::string> kept, moved;
    for (int i = 0; i < 12; ++i) {
        if (i % 3 == 1) {
            kept.push_back(mails[i]->EntryID());
            continue;
        }
        mails[i]->Delete();
        moved.push_back(mails[i]->EntryID());
    }
    EXPECT_EQ(entryIDs(*host.inbox()), kept);
    EXPECT_EQ(host.inbox()->ItemCount(), 5) << "four mails and the meeting";
    EXPECT_EQ(host.inbox()->Items()[2]->typeName(), "MeetingItem") << "between mails 4 and 7, as added";
    EXPECT_EQ(entryIDs(*host.deletedItems()), moved);

    for (const auto& mail : mails) {
        const bool inInbox = mail->folder() == host.inbox();
        EXPECT_EQ(host.inbox()->mail(mail->EntryID()) == mail, inInbox) << mail->EntryID();
        EXPECT_EQ(host.deletedItems()->mail(mail->EntryID()) == mail, !inInbox) << mail->EntryID();
    }
    // Removed for good from Deleted Items: gone from every look-up.
    mails[0]->Delete();
    mails[2]->Delete();
    EXPECT_EQ(host.deletedItems()->mail("given-0"), nullptr);
    EXPECT_EQ(host.deletedItems()->mail(mails[2]->EntryID()), nullptr);
    EXPECT_EQ(host.deletedItems()->ItemCount(), 6);
    MemorySession session(host);
    session.Logon("profile", "", false, false);
    EXPECT_THROW(session.GetMessage("given-0", "memory-store"), HostError);
    EXPECT_THROW(session.GetMessage(mails[2]->EntryID(), "memory-store"), HostError);
    EXPECT_EQ(session.GetMessage("given-3", "memory-store")->Sender()->Address(), "s3@x.com");
    EXPECT_EQ(session.GetMessage(mails[4]->EntryID(), "memory-store")->Sender()->Address(), "s4@x.com");

    // A squeezed folder still takes new items at the end.
    auto late = host.inbox()->addMail(mailFrom("late@x.com"));
    EXPECT_EQ(entryIDs(*host.inbox()).back(), late->EntryID());
    host.inbox()->remove(mails[7].get());
    EXPECT_EQ(entryIDs(*host.inbox()), (std::vector<std::string>{kept[0], kept[1], kept[3], late->EntryID()}));
}

// An item that calls itself a mail is one only if it is one.
TEST(MemoryMail, OnlyRealMailsPassAsMails) {
    struct Impostor : host::Item {
        std::string typeName() override { return host::mailItemTypeName; }
    };
    EXPECT_EQ(host::asMailItem(std::make_shared<Impostor>()), nullptr);
    EXPECT_EQ(host::asMailItem(std::shared_ptr<host::Item>()), nullptr);

    MemoryHost host;
    std::shared_ptr<host::Item> item = host.inbox()->addMail({});
    host.faults().failOnce("Item.typeName");
    EXPECT_EQ(host::asMailItem(item), nullptr) << "a type that cannot be read is not a mail";
    auto mail = host::asMailItem(std::move(item));
    ASSERT_NE(mail, nullptr);
    EXPECT_EQ(item, nullptr) << "the reference was handed over";
    EXPECT_EQ(mail->Parent(), host.inbox());
}

// ---- Faults ----

TEST(MemoryFaults, FailOnceFailsTheNextCallOnlyAndEveryCallCounts) {
    MemoryHost host;
    host.faults().failOnce("Folder.ItemCount");
    EXPECT_THROW(host.inbox()->ItemCount(), HostError);
    EXPECT_EQ(host.inbox()->ItemCount(), 0);
    EXPECT_EQ(host.faults().calls("Folder.ItemCount"), 2);
    EXPECT_EQ(host.faults().calls("Folder.Items"), 0);
}

TEST(MemoryFaults, FailAlwaysLastsUntilCleared) {
    MemoryHost host;
    host.faults().failAlways("Application.ActiveExplorer");
    EXPECT_THROW(host.application()->ActiveExplorer(), HostError);
    EXPECT_THROW(host.application()->ActiveExplorer(), HostError);
    host.faults().clear("Application.ActiveExplorer");
    EXPECT_EQ(host.application()->ActiveExplorer(), host.explorer());
}

TEST(MemoryFaults, FailAlwaysForHitsOnlyTheObjectWithThatKey) {
    MemoryHost host;
    auto stuck = host.inbox()->addMail({});
    auto other = host.inbox()->addMail({});
    host.faults().failAlwaysFor("MailItem.Delete", stuck->EntryID());

    EXPECT_THROW(stuck->Delete(), HostError);
    EXPECT_EQ(stuck->Parent(), host.inbox()) << "a failed delete leaves the mail where it was";
    other->Delete();
    EXPECT_EQ(other->Parent(), host.deletedItems());
}

// Every operation checks its own name: a misspelt name would make a fault
// that a test sets silently harmless.
TEST(MemoryFaults, EveryOperationChecksItsName) {
    struct Row {
        const char* operation;
        std::function<void(MemoryHost&)> call;
    };
    auto mail = [](MemoryHost& h) { return h.inbox()->mails().front(); };
    auto session = [](MemoryHost& h) {
        auto s = std::make_shared<MemorySession>(h);
        s->Logon("p", "", false, false);
        return s;
    };
    auto bar = [](MemoryHost& h) { return h.commandBars()->bars().front(); };
    auto button = [](MemoryHost& h) {
        return std::dynamic_pointer_cast<MemoryButton>(h.commandBars()->bars().front()->controls()->all().front());
    };
    const std::vector<Row> rows = {
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
        {"Session.GetMessage", [=](MemoryHost& h) { session(h)->GetMessage(mail(h)->spec().entryID, "memory-store"); }},
        {"Message.Sender", [=](MemoryHost& h) { session(h)->GetMessage(mail(h)->spec().entryID, "memory-store")->Sender(); }},
        {"Message.Fields", [=](MemoryHost& h) { session(h)->GetMessage(mail(h)->spec().entryID, "memory-store")->Fields(host::prTransportMessageHeaders); }},
        {"Field.Value", [=](MemoryHost& h) { session(h)->GetMessage(mail(h)->spec().entryID, "memory-store")->Fields(host::prTransportMessageHeaders)->Value(); }},
        {"Clipboard.setBitmap", [](MemoryHost& h) { h.clipboard().setBitmap({1}); }},
        {"Factory.CreateObject", [](MemoryHost& h) { h.objects().CreateObject("MAPI.Session"); }},
    };
    auto scene = [](MemoryHost& h) {
        h.setCurrentUser("me@x.com");
        h.addAddressList("Contacts", {"a@x.com"});
        h.inbox()->addMail(mailFrom("a@x.com"));
        h.commandBars()->addLeftover("Bar", 1);
    };
    for (const Row& row : rows) {
        MemoryHost working;
        scene(working);
        EXPECT_NO_THROW(row.call(working)) << row.operation << " fails without a fault";
        MemoryHost failing;
        scene(failing);
        failing.faults().failAlways(row.operation);
        EXPECT_THROW(row.call(failing), HostError) << row.operation << " does not check its name";
    }
}

// ---- Messaging session ----

TEST(MemorySession, GetMessageFindsTheMailByEntryAndStoreID) {
    MemoryHost host;
    auto mail = host.folder("Archive", "other-store")->addMail(mailFrom("a@x.com"));
    MemorySession session(host);
    session.Logon("profile", "", false, false);

    EXPECT_EQ(session.GetMessage(mail->EntryID(), "other-store")->Sender()->Address(), "a@x.com");
    EXPECT_THROW(session.GetMessage(mail->EntryID(), "memory-store"), HostError) << "wrong store";
    EXPECT_THROW(session.GetMessage("mem-999", "other-store"), HostError) << "no such entry";
    mail->spec().openable = false;
    EXPECT_THROW(session.GetMessage(mail->EntryID(), "other-store"), HostError) << "unopenable";
}

TEST(MemorySession, WorksOnlyBetweenLogonAndLogoff) {
    MemoryHost host;
    auto mail = host.inbox()->addMail(mailFrom("a@x.com"));
    MemorySession session(host);
    EXPECT_THROW(session.GetMessage(mail->EntryID(), "memory-store"), HostError);
    EXPECT_THROW(session.Logoff(), HostError);

    session.Logon("profile", "", false, false);
    EXPECT_NE(session.GetMessage(mail->EntryID(), "memory-store"), nullptr);
    session.Logoff();
    EXPECT_EQ(session.logoffs, 1);
    EXPECT_THROW(session.GetMessage(mail->EntryID(), "memory-store"), HostError);
}

TEST(MemorySession, SenderAndHeadersMayBeMissing) {
    MemoryHost host;
    MailSpec spec = mailFrom("a@x.com");
    spec.senderResolvable = false;
    spec.headers.reset();
    auto mail = host.inbox()->addMail(spec);
    MemorySession session(host);
    session.Logon("profile", "", false, false);
    auto message = session.GetMessage(mail->EntryID(), "memory-store");

    EXPECT_THROW(message->Sender(), HostError);
    EXPECT_EQ(message->Fields(host::prTransportMessageHeaders), nullptr);
    mail->spec().headers = "Received: by x\r\n";
    EXPECT_EQ(message->Fields(host::prTransportMessageHeaders)->Value(), "Received: by x\r\n");
    EXPECT_EQ(message->Fields(0x0037001E), nullptr) << "only the header tag is held";
}

// The session's objects are parts of the mail: the headers are shared, not
// copied, and whatever the add-in holds keeps the mail alive after the
// host has let it go.
TEST(MemorySession, OpenedMessagesShareTheHeadersAndKeepTheMailAlive) {
    MemoryHost host;
    MemorySession session(host);
    session.Logon("profile", "", false, false);
    auto mail = host.inbox()->addMail(mailFrom("a@x.com"));
    const std::string id = mail->EntryID();
    auto message = session.GetMessage(id, "memory-store");
    auto field = message->Fields(host::prTransportMessageHeaders);
    auto shared = field->SharedValue();
    EXPECT_EQ(shared.get(), &*mail->spec().headers) << "no copy";
    EXPECT_EQ(field->Value(), "From: a@x.com\r\n\r\n");
    host.faults().failOnce("Field.Value");
    EXPECT_THROW(field->SharedValue(), HostError);

    auto sender = message->Sender();
    mail->Delete();
    mail->Delete();
    mail.reset();
    EXPECT_EQ(host.deletedItems()->ItemCount(), 0);
    message.reset();
    field.reset();
    EXPECT_EQ(sender->Address(), "a@x.com") << "the sender still holds the mail";
    EXPECT_EQ(*shared, "From: a@x.com\r\n\r\n");
    EXPECT_THROW(session.GetMessage(id, "memory-store"), HostError);
}

TEST(MemorySession, FactoryOffersOnlyMapiSessions) {
    MemoryHost host;
    EXPECT_NE(std::dynamic_pointer_cast<host::MessagingSession>(host.objects().CreateObject("MAPI.Session")),
              nullptr);
    EXPECT_EQ(host.objects().CreateObject("Word.Application"), nullptr);
    host.objects().offerSession = false;
    EXPECT_EQ(host.objects().CreateObject("MAPI.Session"), nullptr);
    EXPECT_EQ(host.objects().sessions.size(), 1u);
}

// ---- Events ----

TEST(MemoryEvents, DroppingTheSubscriptionStopsTheEvents) {
    MemoryHost host;
    int newMail = 0;
    auto subscription = host.application()->onNewMail([&] { ++newMail; });
    host.deliver({});
    subscription.reset();
    host.deliver({});
    EXPECT_EQ(newMail, 1);
    EXPECT_EQ(host.application()->newMailSubscribers(), 0);
    EXPECT_EQ(host.inbox()->ItemCount(), 2);
}

TEST(MemoryEvents, FailedHandlersAreRecordedAndTheOthersStillRun) {
    MemoryHost host;
    int runs = 0;
    auto a = host.explorer()->onSelectionChange([] { throw std::runtime_error("boom"); });
    auto b = host.explorer()->onSelectionChange([] { throw 7; });
    auto c = host.explorer()->onSelectionChange([&] { ++runs; });
    host.explorer()->select({host.inbox()->addMail({})});
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(host.eventFailures, (std::vector<std::string>{"boom", "unknown failure"}));
}

TEST(MemoryEvents, AHandlerDroppedByAnEarlierOneIsNotCalled) {
    MemoryHost host;
    host::Subscription second;
    int secondRuns = 0;
    auto first = host.explorer()->onClose([&] { second.reset(); });
    second = host.explorer()->onClose([&] { ++secondRuns; });
    host.explorer()->close();
    EXPECT_EQ(secondRuns, 0);
}

TEST(MemoryEvents, SubscriptionsMayOutliveTheHost) {
    std::shared_ptr<MemoryApplication> application;
    host::Subscription toApplication;
    host::Subscription toExplorer;
    {
        MemoryHost host;
        application = host.application();
        toApplication = application->onNewMail([] {});
        toExplorer = host.explorer()->onClose([] {});
    }
    toExplorer.reset(); // its explorer is gone with the host
    toApplication.reset();
    EXPECT_EQ(application->newMailSubscribers(), 0);
}

TEST(MemoryEvents, SelectionMayBeEmptyOrNothing) {
    MemoryHost host;
    EXPECT_EQ(host.explorer()->GetSelection()->Count(), 0);
    auto mail = host.inbox()->addMail({});
    host.explorer()->select({mail});
    auto selection = host.explorer()->GetSelection();
    EXPECT_EQ(selection->Item(1), mail);
    EXPECT_THROW(selection->Item(2), HostError);
    host.explorer()->selectNothing();
    EXPECT_EQ(host.explorer()->GetSelection(), nullptr);
}

TEST(MemoryEvents, AnOldExplorerStillRaisesItsOwnEvents) {
    MemoryHost host;
    auto old = host.explorer();
    int closes = 0;
    auto subscription = old->onClose([&] { ++closes; });
    host.removeExplorer();
    EXPECT_EQ(host.application()->ActiveExplorer(), nullptr);
    auto fresh = host.openExplorer();
    EXPECT_EQ(host.application()->ActiveExplorer(), fresh);
    EXPECT_EQ(fresh->CurrentFolder(), host.inbox());
    fresh->close();
    old->close();
    EXPECT_EQ(closes, 1);
}

// ---- Command bars ----

TEST(MemoryCommandBars, EndSessionKeepsBarsAndDropsTemporaryControls) {
    MemoryHost host;
    auto bars = host.explorer()->GetCommandBars();
    auto bar = std::dynamic_pointer_cast<MemoryCommandBar>(bars->Add("Corvalle"));
    auto temporaryPopup = std::dynamic_pointer_cast<host::CommandBarPopup>(bar->Controls()->Add(host::msoControlPopup, true));
    temporaryPopup->Controls()->Add(host::msoControlButton, true);
    auto keptPopup = std::dynamic_pointer_cast<host::CommandBarPopup>(bar->Controls()->Add(host::msoControlPopup, false));
    keptPopup->Controls()->Add(host::msoControlButton, true);
    keptPopup->Controls()->Add(host::msoControlButton, false);
    bar->Controls()->Add(host::msoControlButton, true);

    host.endSession();
    ASSERT_EQ(bars->Count(), 1);
    EXPECT_EQ(bars->Item(1), bar);
    EXPECT_EQ(bar->Controls()->Count(), 1);
    EXPECT_EQ(keptPopup->Controls()->Count(), 1) << "temporary controls go at every depth";
}

TEST(MemoryCommandBars, DeletedBarsLeaveTheOneBasedCollection) {
    MemoryHost host;
    auto first = host.commandBars()->addLeftover("Corvalle");
    host.commandBars()->addLeftover("Other", 2);
    auto bars = host.explorer()->GetCommandBars();
    EXPECT_EQ(bars->Item(1)->Controls()->Count(), 0);
    EXPECT_EQ(bars->Item(2)->Controls()->Count(), 2);

    first->Delete();
    ASSERT_EQ(bars->Count(), 1);
    EXPECT_EQ(bars->Item(1)->Name(), "Other");
    EXPECT_THROW(bars->Item(2), HostError);
    EXPECT_THROW(first->Name(), HostError) << "a deleted bar is gone";
    EXPECT_THROW(bars->Item(1)->Controls()->Add(4, true), HostError) << "no such control type";
}

TEST(MemoryCommandBars, ButtonsLogTheirPropertiesAndTakeTheClipboardFace) {
    MemoryHost host;
    auto bar = host.commandBars()->Add("Corvalle");
    auto button = std::dynamic_pointer_cast<host::CommandBarButton>(bar->Controls()->Add(host::msoControlButton, true));
    auto memory = std::dynamic_pointer_cast<MemoryButton>(button);
    ASSERT_NE(memory, nullptr);

    EXPECT_THROW(button->PasteFace(), HostError) << "the clipboard is empty";
    host.clipboard().setBitmap({0x42, 0x4D});
    button->setCaption("Is &Spam");
    button->PasteFace();
    button->setStyle(host::msoButtonIconAndCaption);
    button->setBeginGroup(false);
    button->setVisible(true);
    EXPECT_EQ(memory->log(), (PropertyLog{"Caption=Is &Spam", "PasteFace", "Style=3", "BeginGroup=0", "Visible=1"}));
    EXPECT_EQ(memory->face(), (host::Bitmap{0x42, 0x4D}));
    EXPECT_EQ(button->Caption(), "Is &Spam");
}

TEST(MemoryCommandBars, ClickRunsHandlersWithCancelDefaultClear) {
    MemoryHost host;
    auto button = std::dynamic_pointer_cast<MemoryButton>(
        host.commandBars()->Add("Corvalle")->Controls()->Add(host::msoControlButton, true));
    std::vector<bool> seen;
    auto failing = button->onClick([&](host::CommandBarButton& clicked, bool& cancel) {
        seen.push_back(cancel);
        EXPECT_EQ(&clicked, static_cast<host::CommandBarButton*>(button.get()));
        throw std::runtime_error("handler failed");
    });
    auto working = button->onClick([&](host::CommandBarButton&, bool& cancel) { seen.push_back(cancel); });
    button->click();
    EXPECT_EQ(seen, (std::vector<bool>{false, false}));
    EXPECT_EQ(host.eventFailures, (std::vector<std::string>{"handler failed"}));
    failing.reset();
    EXPECT_EQ(button->subscribers(), 1);
}

} // namespace
} // namespace skerrow::memory
