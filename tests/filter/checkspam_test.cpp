#include "filter/checkspam.h"

#include "filter/sender.h"
#include "filter/text.h"
#include "tests/support/world.h"

#include <gtest/gtest.h>

namespace skerrow {
namespace {

using test::World;

bool inInbox(World& w, const std::shared_ptr<memory::MemoryMailItem>& mail) {
    return mail->folder() == w.host.inbox();
}

// One mail from the sender, read or unread, addressed to the user or not,
// against one set of lists: whether the count takes it for a suspect (before
// any purge) and what the purge makes of it.
TEST(Classification, RulesTable) {
    struct Case {
        const char* what;
        FilterLists lists;
        const char* sender;
        bool unread;
        bool addressedToUser;
        bool deleted;
        bool counted;
        bool suspect;
    } cases[] = {
        {"stranger, unread", {}, "s@x.com", true, true, false, false, true},
        {"stranger, read", {}, "s@x.com", false, true, false, false, false},
        {"blacklisted address", {{}, {}, {"s@x.com"}, {}}, "s@x.com", false, true, true, true, false},
        {"blacklisted address beats friend", {{"s@x.com"}, {}, {"s@x.com"}, {}}, "s@x.com", true, true, true, true, false},
        {"blacklisted domain", {{}, {}, {}, {"*@x.com"}}, "s@x.com", true, true, true, true, true},
        {"friend address beats blacklisted domain", {{"s@x.com"}, {}, {}, {"*@x.com"}}, "s@x.com", true, true, false, false, false},
        {"friend domain does not beat blacklisted domain", {{}, {"*@x.com"}, {}, {"*@x.com"}}, "s@x.com", true, true, true, true, false},
        {"both rules: deleted and counted once", {{}, {}, {"s@x.com"}, {"*@x.com"}}, "s@x.com", true, true, true, true, true},
        {"list look-ups are case-sensitive", {{}, {}, {"S@x.com"}, {}}, "s@x.com", true, true, false, false, true},
        {"friend domain, unread", {{}, {"*@x.com"}, {}, {}}, "s@x.com", true, true, false, false, false},
        {"not addressed to the user, friend", {{"s@x.com"}, {}, {}, {}}, "s@x.com", true, false, true, false, false},
    };
    for (const Case& c : cases) {
        World w;
        w.v.setLists(c.lists);
        auto mail = w.mail(c.sender, "subject", c.unread);
        if (!c.addressedToUser) {
            mail->spec().headers = "From: " + std::string(c.sender) + "\r\n\r\n";
            mail->spec().body = "to someone else";
        }
        EXPECT_EQ(countSuspects(w.v, w.app()), c.suspect ? 1 : 0) << c.what;
        purgeInbox(w.v, w.app());
        EXPECT_EQ(!inInbox(w, mail), c.deleted) << c.what;
        EXPECT_EQ(w.v.deletedThisPass, c.counted ? 1 : 0) << c.what;
    }
}

// The user's address as the host gives it, lower-cased as at connection,
// against the To line of a mail: whether the mail is taken as addressed to
// the user (and kept).
TEST(OwnAddressRule, IgnoresLetterCaseOverUnicode) {
    struct Case {
        const char* user;
        const char* to;
        bool kept;
    } cases[] = {
        {"john.smith@example.com", "John.Smith@Example.COM", true},
        {"JOSÉ@example.com", "josé@example.com", true},
        {"josé@example.com", "Mail for JOSÉ@EXAMPLE.COM", true},
        {"jose@example.com", "josé@example.com", false},
        {"anna@MÜNCHEN.de", "anna@münchen.DE", true},
        {"ΣΟΦΊΑ@example.gr", "σοφία@example.gr", true},
        {"kate@example.com", "\u212Aate@example.com", true}, // KELVIN SIGN folds to "k"
        {"straße@example.de", "STRASSE@example.de", false},   // simple folding keeps "ß"
        {"ⱥb@x.com", "Ⱥb@x.com", true},                       // folds to a longer encoding
        {"\xe9t\xe9@example.fr", "\xe9T\xe9@example.fr", true}, // not UTF-8: bytes as they are
        {"\xe9t\xe9@example.fr", "\xc9T\xc9@example.fr", false},
        {"ÉLODIE", "to élodie", true},                         // no "@" to anchor on
        {"", "other@y.com", true},                              // unknown: nothing is deleted
    };
    for (const Case& c : cases) {
        World w;
        w.v.ownAddress = foldCase(c.user);
        auto mail = w.mail("s@x.com");
        mail->spec().headers = std::string("To: ") + c.to + "\r\n\r\n";
        mail->spec().body = "hi";
        purgeInbox(w.v, w.app());
        EXPECT_EQ(inInbox(w, mail), c.kept) << c.user << " / " << c.to;
    }
}

TEST(OwnAddressRule, MailThatCannotBeOpenedOrReadIsLeftAloneButLocalMailIsJudgedByItsBody) {
    World w;
    auto unreadable = w.mail("s@x.com");
    unreadable->spec().openable = false;
    auto unreadText = w.mail("r@x.com");
    for (const char* part : {"Field.Value", "MailItem.HTMLBody", "MailItem.Body"})
        w.host.faults().failAlwaysFor(part, unreadText->EntryID());
    auto local = w.mail("t@x.com");
    local->spec().headers.reset();
    local->spec().body = "no address here";
    auto localToUser = w.mail("u@x.com");
    localToUser->spec().headers.reset();
    localToUser->spec().htmlBody = "<a href='mailto:john.smith@example.com'>me</a>";
    purgeInbox(w.v, w.app());
    EXPECT_TRUE(inInbox(w, unreadable));
    EXPECT_TRUE(inInbox(w, unreadText));
    EXPECT_FALSE(inInbox(w, local));
    EXPECT_TRUE(inInbox(w, localToUser));
    EXPECT_EQ(w.v.deletedThisPass, 0);
}

TEST(Purge, WalksEveryMailWhileDeletingAndPassesOverOtherItems) {
    World w;
    w.v.enemydomain = FilterList{"*@spam.com"};
    std::vector<std::shared_ptr<memory::MemoryMailItem>> spam;
    for (int i = 0; i < 5; ++i) {
        spam.push_back(w.mail("s" + std::to_string(i) + "@spam.com"));
        w.host.inbox()->addOther("ReportItem");
    }
    auto kept = w.mail("friend@pals.com");
    const int typeReads = w.host.faults().calls("Item.typeName");
    purgeInbox(w.v, w.app());
    for (const auto& mail : spam)
        EXPECT_FALSE(inInbox(w, mail));
    EXPECT_TRUE(inInbox(w, kept));
    EXPECT_EQ(w.v.deletedThisPass, 5);
    EXPECT_EQ(w.host.inbox()->ItemCount(), 6);
    EXPECT_EQ(w.host.faults().calls("Item.typeName") - typeReads, 11) << "every item is looked at once";
}

TEST(Purge, CountsOnlyDeletionsThatHappenedAndSaturates) {
    World w;
    w.v.enemyemail = FilterList{"s@spam.com"};
    auto stuck = w.mail("s@spam.com");
    auto gone = w.mail("s@spam.com");
    w.host.faults().failAlwaysFor("MailItem.Delete", stuck->EntryID());
    w.v.totalDeleted = 32767;
    purgeInbox(w.v, w.app());
    EXPECT_TRUE(inInbox(w, stuck));
    EXPECT_FALSE(inInbox(w, gone));
    EXPECT_EQ(w.v.deletedThisPass, 1);
    EXPECT_EQ(w.v.totalDeleted, 32767);
    w.host.faults().clearAll();
    w.host.faults().failOnce("Folder.settleDeletions"); // the host cannot say what it moved
    purgeInbox(w.v, w.app());
    EXPECT_EQ(w.v.deletedThisPass, 0);
}

// A failed step skips what needs it and nothing more; nothing escapes. A
// mail whose headers cannot be read is not judged by the own-address rule.
TEST(Purge, FailuresOfTheHostAreTrapped) {
    const struct {
        const char* fault;
        bool spamGone, wantedGone;
    } cases[] = {
        {"Application.GetNamespace", false, false}, {"Namespace.GetDefaultFolder", false, false},
        {"Folder.Items", false, false},             {"Session.GetMessage", false, false},
        {"MailItem.HTMLBody", true, false},         {"MailItem.Body", true, false},
        {"Field.Value", true, false},
    };
    for (const auto& c : cases) {
        World w;
        w.v.enemyemail = FilterList{"s@spam.com"};
        auto spam = w.mail("s@spam.com");
        auto wanted = w.mail("friend@x.com");
        w.host.faults().failAlways(c.fault);
        EXPECT_NO_THROW(purgeInbox(w.v, w.app())) << c.fault;
        EXPECT_EQ(!inInbox(w, spam), c.spamGone) << c.fault;
        EXPECT_EQ(!inInbox(w, wanted), c.wantedGone) << c.fault;
        EXPECT_EQ(w.v.deletedThisPass, c.spamGone ? 1 : 0) << c.fault;
        EXPECT_NO_THROW(countSuspects(w.v, w.app())) << c.fault;
        EXPECT_NO_THROW(checkSpam(w.v, w.app())) << c.fault;
    }
}

// A second run has neither suspects nor deletions: it shows nothing.
TEST(CheckSpam, ReportsDeletionsWhenNoSuspectIsLeft) {
    World w;
    w.v.enemyemail = FilterList{"s@spam.com"};
    w.mail("s@spam.com");
    w.mail("s@spam.com");
    w.mail("friend@x.com", "read", false);
    checkSpam(w.v, w.app());
    EXPECT_EQ(w.dialogs.boxes, (std::vector<test::ShownBox>{{"\r\n  Deleted 2 spams.  \r\n\r\n", ui::Buttons::OK,
                                                              ui::Icon::Exclamation, " Check Spam "}}));
    checkSpam(w.v, w.app());
    EXPECT_EQ(w.dialogs.boxes.size(), 1u);
    EXPECT_TRUE(w.windows.shown.empty());
}

// The fallback address stands for every unresolved sender: its mail goes,
// but it is never listed.
TEST(Verdicts, IsSpamMovesTheSenderAndCountsOnlyARealDeletion) {
    World w;
    w.v.friendemail = FilterList{"s@x.com"};
    auto mail = w.mail("s@x.com");
    auto unresolved = w.mail("x@x.com");
    markIsSpam(w.v, w.app(), w.host.inbox(), mail->EntryID(), "s@x.com");
    markIsSpam(w.v, w.app(), w.host.inbox(), unresolved->EntryID(), fallbackSenderAddress);
    EXPECT_EQ(w.v.lists(), (FilterLists{{}, {}, {"s@x.com"}, {}}));
    EXPECT_FALSE(inInbox(w, mail));
    EXPECT_FALSE(inInbox(w, unresolved));
    EXPECT_EQ(w.v.totalDeleted, 2);
    EXPECT_EQ(w.v.deletedThisPass, 0);

    auto stuck = w.mail("u@x.com");
    w.host.faults().failAlways("MailItem.Delete");
    markIsSpam(w.v, w.app(), w.host.inbox(), stuck->EntryID(), "u@x.com");
    EXPECT_EQ(w.v.totalDeleted, 2);
    EXPECT_TRUE(isInArray(w.v.enemyemail, "u@x.com"));
}

// Deleted Items as the host's own object, as a second object for the same
// folder of the same store (hosts may hand out a fresh one each time), and
// when it cannot be looked up: the mail stays, the sender is blacklisted.
TEST(Verdicts, IsSpamInDeletedItemsOnlyBlacklists) {
    for (const char* how : {"same object", "second object", "no lookup"}) {
        World w;
        auto folder = w.host.deletedItems();
        if (how == std::string("second object"))
            folder = std::make_shared<memory::MemoryFolder>(w.host, "Deleted Items", "memory-store");
        auto mail = folder->addMail({});
        if (how == std::string("no lookup"))
            w.host.faults().failAlways("Namespace.GetDefaultFolder");
        markIsSpam(w.v, w.app(), folder, mail->EntryID(), "s@x.com");
        EXPECT_EQ(mail->folder(), folder) << how;
        EXPECT_EQ(w.v.totalDeleted, 0) << how;
        EXPECT_TRUE(isInArray(w.v.enemyemail, "s@x.com")) << how;
    }
}

TEST(Verdicts, NotSpamMakesAFriendAndLeavesTheMail) {
    World w;
    w.v.enemyemail = FilterList{"s@x.com"};
    auto mail = w.mail("s@x.com");
    markNotSpam(w.v, w.app(), w.host.inbox(), mail->EntryID(), "s@x.com");
    EXPECT_EQ(w.v.lists(), (FilterLists{{"s@x.com"}, {}, {}, {}}));
    EXPECT_TRUE(inInbox(w, mail));
}

TEST(FindMail, ComparesEntryIdsExactly) {
    World w;
    w.mail("a@x.com");
    EXPECT_EQ(findMailByEntryID(w.v, w.app(), w.host.inbox(), "MEM-1"), nullptr);
}

} // namespace
} // namespace skerrow
