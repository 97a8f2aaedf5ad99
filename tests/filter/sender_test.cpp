#include "filter/sender.h"

#include "tests/support/world.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

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
    // The purge writes every mail's key into one reused text: a longer
    // earlier key must not leave anything behind.
    std::string reused = "*@a-much-longer-domain-than-any-case.example";
    for (const Case& c : cases) {
        EXPECT_EQ(getDomain(c.address), c.domain) << c.address;
        domainKey(c.address, reused);
        EXPECT_EQ(reused, "*@" + std::string(c.domain)) << c.address;
    }
    EXPECT_TRUE(hasDomainPrefix("x*@y"));
    EXPECT_FALSE(hasDomainPrefix("*y@"));
    EXPECT_TRUE(hasAt("@"));
}

// What the session reports is taken untouched; every failed step gives the
// fallback.
TEST(SenderAddress, IsWhatTheSessionReportsOrTheFallback) {
    World w;
    EXPECT_EQ(getSenderAddress(w.v.messagingSession, w.mail(" Odd.Case@Example.COM ")), " Odd.Case@Example.COM ");
    auto unresolved = w.mail("a@x.com");
    unresolved->spec().senderResolvable = false;
    EXPECT_EQ(getSenderAddress(w.v.messagingSession, unresolved), fallbackSenderAddress);
    EXPECT_EQ(getSenderAddress(nullptr, w.mail("b@x.com")), fallbackSenderAddress);
    for (const char* fault : {"MailItem.EntryID", "MailItem.Parent", "Folder.StoreID", "Session.GetMessage",
                              "Message.Sender", "AddressEntry.Address"}) {
        World failing;
        auto mail = failing.mail("a@x.com");
        failing.host.faults().failAlways(fault);
        EXPECT_EQ(getSenderAddress(failing.v.messagingSession, mail), fallbackSenderAddress) << fault;
    }
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
    const CaseInsensitiveSearch search("john.smith@example.com");
    EXPECT_EQ(mailTextContains(mail, w.v.messagingSession, search), std::optional<bool>(true));
    mail->spec().body = "nothing";
    EXPECT_EQ(mailTextContains(mail, w.v.messagingSession, search), std::optional<bool>(false));
    mail->spec().openable = false;
    EXPECT_EQ(mailTextContains(mail, w.v.messagingSession, search), std::nullopt);
}

// The search against the obvious one on random texts: letters in both
// cases (also letters of two and three bytes, one of which folds to an
// ASCII letter), bytes that are not UTF-8, "@" and near misses around it,
// needles with and without "@".
TEST(MailText, SearchAgreesWithAPlainSearchOnRandomTexts) {
    const auto folded = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"\u00c9", "\u00e9"}, {"\u212a", "k"}})
            for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at))
                text.replace(at, from.size(), to);
        return text;
    };
    const std::vector<std::string> alphabet = {"a", "b", "k", "A", "K", "@", ".", "-", "\xc1", "\xe0", "\x80", "\xff",
                                               "[", "`", "{", "Z", "z", "\u00c9", "\u00e9", "\u212a"};
    std::mt19937 random(7);
    const auto randomText = [&](std::size_t size) {
        std::string text;
        for (std::size_t i = 0; i < size; ++i)
            text += alphabet[random() % alphabet.size()];
        return text;
    };
    int found = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string needle = randomText(1 + random() % 20);
        std::string haystack = randomText(random() % 40);
        if (round % 2 == 0) {
            // Plant the needle in another case, sometimes spoiled by one byte.
            std::string planted = needle;
            for (char& c : planted)
                if (random() % 2 && c >= 'a' && c <= 'z')
                    c = static_cast<char>(c - 'a' + 'A');
            if (random() % 3 == 0)
                planted[random() % planted.size()] = '\xc1';
            haystack += planted;
        }
        haystack += randomText(random() % 40);
        const bool expected = folded(haystack).find(folded(needle)) != std::string::npos;
        EXPECT_EQ(CaseInsensitiveSearch(needle).foundIn(haystack), expected)
            << "needle \"" << needle << "\" in \"" << haystack << "\"";
        found += expected;
    }
    EXPECT_GT(found, 1000) << "the texts must hold the needle often enough to test finding it";
}

TEST(NonMailItems, AreReportedOnceAndAnEmptyOrMailOnlyFolderIsNot) {
    World w;
    EXPECT_FALSE(hasNonMailItems(w.v, w.app(), w.host.inbox()));
    w.mail("a@x.com");
    EXPECT_FALSE(hasNonMailItems(w.v, w.app(), w.host.inbox()));
    EXPECT_TRUE(w.dialogs.boxes.empty());
    w.host.inbox()->addOther("MeetingItem");
    EXPECT_TRUE(hasNonMailItems(w.v, w.app(), w.host.inbox()));
    EXPECT_EQ(w.dialogs.boxes, (std::vector<test::ShownBox>{{"there are invail email in Inbox.Please delete it .",
                                                              ui::Buttons::OK, ui::Icon::None, "Skerrow"}}));
    w.host.faults().failOnce("Folder.ItemCount");
    EXPECT_FALSE(hasNonMailItems(w.v, w.app(), w.host.inbox()));
}

} // namespace
} // namespace skerrow
