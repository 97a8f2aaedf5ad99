#include "filter/sender.h"

#include "tests/support/world.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace skerrow {
namespace {

using test::World;

TEST(Domain, IsTheTrimmedTextAfterTheFirstAt) {
    struct Case {
        const char* address;
        const char* domain;
    } cases[] = {
        {"a@example.com", "example.com"},  {"a@b@example.com", "b@example.com"}, {"a@  example.com  ", "example.com"},
        {"  localonly  ", "localonly"},    {"", ""},                             {"a@", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(getDomain(c.address), c.domain) << c.address;
    EXPECT_EQ(domainKey("a@example.com"), "*@example.com");
    EXPECT_TRUE(hasDomainPrefix("x*@y"));
    EXPECT_FALSE(hasDomainPrefix("*y@"));
    EXPECT_TRUE(hasAt("@"));
    EXPECT_FALSE(hasAt("example.com"));
}

TEST(SenderAddress, IsWhatTheSessionReportsUntouched) {
    World w;
    auto mail = w.mail(" Odd.Case@Example.COM ");
    EXPECT_EQ(getSenderAddress(w.v.messagingSession, mail), " Odd.Case@Example.COM ");
}

TEST(SenderAddress, EveryFailedStepGivesTheFallback) {
    const char* faults[] = {"MailItem.EntryID", "MailItem.Parent", "Folder.StoreID", "Session.GetMessage",
                            "Message.Sender", "AddressEntry.Address"};
    for (const char* fault : faults) {
        World w;
        auto mail = w.mail("a@x.com");
        w.host.faults().failAlways(fault);
        EXPECT_EQ(getSenderAddress(w.v.messagingSession, mail), fallbackSenderAddress) << fault;
    }
    World w;
    auto unresolved = w.mail("a@x.com");
    unresolved->spec().senderResolvable = false;
    EXPECT_EQ(getSenderAddress(w.v.messagingSession, unresolved), fallbackSenderAddress);
    EXPECT_EQ(getSenderAddress(nullptr, w.mail("b@x.com")), fallbackSenderAddress);
    const std::string fallback = fallbackSenderAddress;
    EXPECT_EQ(std::count(fallback.begin(), fallback.end(), '@'), 1);
}

TEST(MailText, IsHeadersThenHtmlOrElsePlainBody) {
    World w;
    auto mail = w.mail("a@x.com");
    mail->spec().headers = "H:1\r\n\r\n";
    mail->spec().body = "plain";
    EXPECT_EQ(getMailText(mail, w.v.messagingSession), "H:1\r\n\r\nplain");
    mail->spec().htmlBody = "<p>html</p>";
    EXPECT_EQ(getMailText(mail, w.v.messagingSession), "H:1\r\n\r\n<p>html</p>");
    mail->spec().headers.reset(); // made locally: no internet headers
    EXPECT_EQ(getMailText(mail, w.v.messagingSession), "<p>html</p>");
    mail->spec().openable = false;
    EXPECT_EQ(getMailText(mail, w.v.messagingSession), "<p>html</p>");
}

TEST(MailText, SearchIgnoresAsciiCaseAndFindsAddressesAcrossTheSeam) {
    World w;
    auto mail = w.mail("a@x.com");
    mail->spec().headers = "To: John.Smith@Exa";
    mail->spec().body = "mple.com\r\n";
    const AsciiCaseInsensitiveSearch search("john.smith@example.com");
    EXPECT_EQ(mailTextContains(mail, w.v.messagingSession, search), std::optional<bool>(true));
    mail->spec().body = "nothing";
    EXPECT_EQ(mailTextContains(mail, w.v.messagingSession, search), std::optional<bool>(false));
    mail->spec().openable = false;
    EXPECT_EQ(mailTextContains(mail, w.v.messagingSession, search), std::nullopt);
}

TEST(NonMailItems, AreReportedOnceAndAnEmptyOrMailOnlyFolderIsNot) {
    World w;
    EXPECT_FALSE(hasNonMailItems(w.v, w.app(), w.host.inbox()));
    w.mail("a@x.com");
    EXPECT_FALSE(hasNonMailItems(w.v, w.app(), w.host.inbox()));
    EXPECT_TRUE(w.dialogs.boxes.empty());
    w.host.inbox()->addOther("MeetingItem");
    EXPECT_TRUE(hasNonMailItems(w.v, w.app(), w.host.inbox()));
    ASSERT_EQ(w.dialogs.boxes.size(), 1u);
    EXPECT_EQ(w.dialogs.boxes[0].text, "there are invail email in Inbox.Please delete it .");
    EXPECT_EQ(w.dialogs.boxes[0].icon, ui::Icon::None);
    EXPECT_EQ(w.dialogs.boxes[0].title, "Skerrow");
    w.host.faults().failOnce("Folder.ItemCount");
    EXPECT_FALSE(hasNonMailItems(w.v, w.app(), w.host.inbox()));
}

} // namespace
} // namespace skerrow
