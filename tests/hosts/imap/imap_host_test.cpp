// The IMAP host against a real Dovecot, with Dovecot's own imap process as
// a second client checking what the host did.
#include "hosts/imap/imap_host.h"
#include "tests/app/app_fixture.h"
#include "tests/hosts/imap/dovecot_server.h"

#include <gtest/gtest.h>

#include <memory>

namespace skerrow::test {
namespace {

using Flags = std::set<std::string>;

imap::ImapOptions optionsFor(const Dovecot& server) {
    imap::ImapOptions o;
    o.connect.url = imap::parseImapUrl(server.url());
    o.connect.password = server.password;
    o.connect.caFile = server.caFile.string();
    o.connect.timeout = std::chrono::seconds(5);
    o.address = "me@home.example";
    return o;
}

std::shared_ptr<host::MailItem> byId(host::Folder& folder, const std::string& id) {
    for (const auto& item : folder.Items()) {
        auto mail = host::asMailItem(item);
        if (mail && mail->Subject() == id)
            return mail;
    }
    return nullptr;
}

class ImapHostTest : public ::testing::TestWithParam<DovecotSetup> {
protected:
    void SetUp() override {
        if (const auto why = Dovecot::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        server = std::make_unique<Dovecot>(GetParam());
    }
    std::unique_ptr<Dovecot> server;
};

// Reading sets no \Seen; Delete moves one message with its flags (by MOVE,
// or by COPY and UID EXPUNGE), leaves another client's \Deleted mail, and
// removes for good in Deleted Items.
TEST_P(ImapHostTest, DeletesOneMessageIntoTrashAndReadsWithoutMarkingSeen) {
    server->put("", "1700000001.A.host", mailFrom("amy@a.example", "unread", ownAddress, "Text for me@home.example\n"));
    server->put("", "1700000002.B.host", mailFrom("bob@b.example", "read-flagged"), "FS");
    server->put("", "1700000003.C.host", mailFrom("cat@c.example", "other-deleted"), "T");
    server->put("", "1700000005.E.host", mailFrom("eve@e.example", "vanishing"));
    server->put(".Lists", "1700000004.D.host", mailFrom("dan@d.example", "list"));
    server->imap({"SUBSCRIBE Lists"});

    imap::ImapHost host(optionsFor(*server));
    auto ns = host.application()->GetNamespace("MAPI");
    auto inbox = ns->GetDefaultFolder(host::olFolderInbox);
    auto trash = ns->GetDefaultFolder(host::olFolderDeletedItems);
    EXPECT_EQ(inbox->StoreID(), "amy@127.0.0.1");
    std::vector<std::string> names;
    for (const auto& folder : host.folders())
        names.push_back(folder->Name());
    EXPECT_EQ(names, (std::vector<std::string>{"Inbox", "Deleted Items", "Lists"}));
    ASSERT_EQ(inbox->ItemCount(), 4);

    auto unread = byId(*inbox, "unread");
    auto read = byId(*inbox, "read-flagged");
    auto vanishing = byId(*inbox, "vanishing");
    ASSERT_TRUE(unread && read && vanishing);
    EXPECT_TRUE(unread->UnRead());
    EXPECT_FALSE(read->UnRead());
    EXPECT_EQ(unread->Body(), "Text for me@home.example\n");
    auto session = std::dynamic_pointer_cast<host::MessagingSession>(host.objects().CreateObject("MAPI.Session"));
    session->Logon("", "", false, false);
    const auto message = session->GetMessage(unread->EntryID(), inbox->StoreID());
    EXPECT_EQ(message->Sender()->Address(), "amy@a.example");
    const std::string headers = message->Fields(host::prTransportMessageHeaders)->Value();
    EXPECT_NE(headers.find("Message-ID: <unread@test>"), std::string::npos) << headers;

    unread->Delete();
    read->Delete();
    vanishing->Delete();
    EXPECT_THROW(read->Delete(), host::HostError);
    // Another client takes one away before the deletions are sent: it was not moved.
    const std::string uid = vanishing->EntryID().substr(vanishing->EntryID().find('.') + 1);
    server->imap({"SELECT INBOX", "UID COPY " + uid + " Lists", "UID STORE " + uid + " +FLAGS (\\Deleted)",
                  "UID EXPUNGE " + uid});
    EXPECT_EQ(inbox->settleDeletions(), std::vector<const host::MailItem*>{vanishing.get()});
    EXPECT_EQ(inbox->ItemCount(), 1);
    EXPECT_EQ(server->mailbox("INBOX"), (std::map<std::string, Flags>{{"<other-deleted@test>", {"\\Deleted"}}}));
    EXPECT_EQ(server->mailbox(server->trash()),
              (std::map<std::string, Flags>{{"<unread@test>", {}},
                                            {"<read-flagged@test>", {"\\Flagged", "\\Seen"}}}));

    auto inTrash = byId(*trash, "read-flagged");
    ASSERT_TRUE(inTrash);
    inTrash->Delete();
    EXPECT_EQ(server->mailbox(server->trash()), (std::map<std::string, Flags>{{"<unread@test>", {}}}));
}

// A mailbox made again under the same name numbers its messages afresh:
// an item of the old one must not delete the new message with its UID,
// and the host says so.
TEST_P(ImapHostTest, RefusesToDeleteWhenTheMailboxWasMadeAgain) {
    server->put(".Lists", "1700000004.D.host", mailFrom("dan@d.example", "old"));
    imap::ImapHost host(optionsFor(*server));
    std::shared_ptr<host::Folder> lists;
    for (const auto& folder : host.folders())
        if (folder->Name() == "Lists")
            lists = folder;
    ASSERT_TRUE(lists);
    auto old = byId(*lists, "old");
    ASSERT_TRUE(old);
    const std::string oldEntry = old->EntryID();
    // The check walks the Inbox meanwhile: Lists is no longer selected.
    host.application()->GetNamespace("MAPI")->GetDefaultFolder(host::olFolderInbox)->Items();

    server->imap({"DELETE Lists", "CREATE Lists"});
    server->put(".Lists", "1700000009.N.host", mailFrom("eve@e.example", "new"));
    old->Delete();
    EXPECT_EQ(lists->settleDeletions(), std::vector<const host::MailItem*>{old.get()});
    const auto problem = host.lost();
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->find("made anew"), std::string::npos) << *problem;
    EXPECT_EQ(server->mailbox("Lists").count("<new@test>"), 1u);
    auto fresh = byId(*lists, "new");
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh->EntryID(), oldEntry);
}

INSTANTIATE_TEST_SUITE_P(Servers, ImapHostTest,
                         ::testing::Values(DovecotSetup{true, true, ""}, DovecotSetup{false, false, ""}),
                         [](const auto& info) {
                             return std::string(info.param.move ? "Move" : "CopyExpunge") +
                                    (info.param.trashFlag ? "SpecialUseTrash" : "TrashMadeOnDemand");
                         });

} // namespace
} // namespace skerrow::test
