// The main window on an IMAP account of a real Dovecot.
#ifdef SKERROW_DESKTOP_IMAP
#include "tests/app/desktop/desktop_fixture.h"
#include "tests/app/app_fixture.h"
#include "tests/hosts/imap/dovecot_server.h"

#include "hosts/imap/imap_host.h"

namespace skerrow::test {
namespace {

TEST_F(DesktopTest, ImapInboxShowsMailNoticesArrivalsByIdleAndChecksOnTheNextSelection) {
    if (const auto why = Dovecot::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    Dovecot server;
    server.put("", "1700000001.A.host", mailFrom("Mary <mary@example.org>", "lunch", desktopUser), "S");
    server.put("", "1700000002.B.host", mailFrom("Carol <carol@partner.example>", "notes", desktopUser));
    writeListFile({"", "", "", "*@spam.example"});
    auto account = std::make_shared<imap::ImapOptions>();
    account->connect.url = imap::parseImapUrl(server.url());
    account->connect.caFile = server.caFile.string();
    account->connect.password = server.password;
    account->address = desktopUser;
    imap = account;

    start();
    ASSERT_TRUE(waitFor([&] { return subjects(window()).size() == 2; }));
    EXPECT_FALSE(addin().newMailPending);

    server.put("", "1700000003.C.host", mailFrom("Outlet <promo@spam.example>", "watches", desktopUser));
    ASSERT_TRUE(waitFor([&] { return addin().newMailPending; })) << "IDLE told of no new mail";
    ASSERT_TRUE(waitFor([&] { return subjects(window()).size() == 3; }));

    // Reading the unread mail and moving on marks it read on the server;
    // the selection in the Inbox sets off the check.
    clickRow(window(), "notes");
    ASSERT_TRUE(waitFor([&] { return checkSpamView() != nullptr; })) << "the automatic check did not run";
    EXPECT_EQ(server.mailbox(server.trash()), (std::map<std::string, std::set<std::string>>{{"<watches@test>", {}}}));
    clickRow(window(), "lunch");
    EXPECT_EQ(server.mailbox("INBOX"), (std::map<std::string, std::set<std::string>>{
                                           {"<lunch@test>", {"\\Seen"}}, {"<notes@test>", {"\\Seen"}}}));
    quit();
    EXPECT_TRUE(session().events().failures().empty()) << session().events().failures().front();
}

} // namespace
} // namespace skerrow::test
#endif
