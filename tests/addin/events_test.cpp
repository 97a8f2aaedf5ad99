#include "tests/addin/addin_fixture.h"

#include <gtest/gtest.h>

namespace skerrow {
namespace {

using test::Client;
using test::Connected;

struct States {
    bool addFriend, isSpam, addFriendDomain, addEnemyDomain;
    friend bool operator==(const States&, const States&) = default;
};

States states(Client& c) {
    return {c.addin->cmdAddFriendToolButton->Enabled(), c.addin->cmdIsSpamToolButton->Enabled(),
            c.addin->cmdAddFriendDomain->Enabled(), c.addin->cmdAddEnemyDomain->Enabled()};
}

std::ostream& operator<<(std::ostream& os, const States& s) {
    return os << s.addFriend << s.isSpam << s.addFriendDomain << s.addEnemyDomain;
}

TEST(ButtonStates, OneSelectedMailFollowsTheDecisionTables) {
    struct Case {
        const char* what;
        FilterLists lists;
        States expected;
    } cases[] = {
        {"on no list", {}, {true, true, true, true}},
        {"blacklisted address", {{}, {}, {"s@x.com"}, {}}, {true, false, true, true}},
        {"blacklisted and friend", {{"s@x.com"}, {}, {"s@x.com"}, {}}, {true, false, true, true}},
        {"friend only", {{"s@x.com"}, {}, {}, {}}, {false, true, true, true}},
        {"blacklisted domain", {{}, {}, {}, {"*@x.com"}}, {true, true, true, false}},
        {"domain on both", {{}, {"*@x.com"}, {}, {"*@x.com"}}, {true, true, true, false}},
        {"friend domain only", {{}, {"*@x.com"}, {}, {}}, {true, true, false, true}},
    };
    for (const Case& k : cases) {
        Connected c;
        c.v().setLists(k.lists);
        auto mail = c.mail("s@x.com");
        c.host.explorer()->select({mail});
        EXPECT_EQ(states(c), k.expected) << k.what;
        // Recomputed from scratch at every change.
        c.host.explorer()->select({c.mail("other@y.com")});
        EXPECT_EQ(states(c), (States{true, true, true, true})) << k.what;
    }
}

// A sender that cannot be looked up is the fallback, on no list.
TEST(ButtonStates, AllOffWithoutAReadableMailSelectionAndAllOnForTwoMailsOrAnUnknownSender) {
    Connected c;
    c.v().enemyemail = FilterList{"s@x.com"};
    auto a = c.mail("s@x.com");
    const States off{false, false, false, false}, on{true, true, true, true};
    c.host.explorer()->select({});
    EXPECT_EQ(states(c), off);
    c.host.explorer()->select({a, c.mail("s@x.com")});
    EXPECT_EQ(states(c), on);
    c.host.explorer()->selectNothing();
    EXPECT_EQ(states(c), off);
    c.host.explorer()->select({c.host.inbox()->addOther("MeetingItem")});
    EXPECT_EQ(states(c), off);
    c.host.faults().failAlways("Session.GetMessage");
    c.host.explorer()->select({a});
    EXPECT_EQ(states(c), on);
    for (const char* fault : {"Selection.Item", "Explorer.GetSelection", "Selection.Count"}) {
        c.host.faults().clearAll();
        c.host.explorer()->select({a}); // not all off: each fault must turn them off
        c.host.faults().failAlways(fault);
        c.host.explorer()->select({a});
        EXPECT_EQ(states(c), off) << fault;
    }
    EXPECT_TRUE(c.host.eventFailures.empty());
}

TEST(NewMail, OnlySetsTheFlagAndTheNextSelectionInTheInboxRunsTheCheck) {
    Connected c;
    c.v().enemydomain = FilterList{"*@spam.com"};
    auto spam = c.mail("a@spam.com");
    auto calendar = c.host.folder("Calendar");
    c.host.explorer()->showFolder(calendar);
    c.host.raiseNewMail();
    EXPECT_EQ(spam->folder(), c.host.inbox());
    c.host.explorer()->select({calendar->addOther("AppointmentItem")});
    EXPECT_EQ(spam->folder(), c.host.inbox()) << "no check outside the Inbox";

    c.host.explorer()->showFolder(c.host.inbox());
    c.host.explorer()->select({});
    EXPECT_EQ(spam->folder(), c.host.deletedItems());
    EXPECT_EQ(c.dialogs.boxes.size(), 1u);
    EXPECT_TRUE(c.v().newMailPending) << "the flag stays set until the review window closes";
}

TEST(SelectionChange, AFailingStepOfTheAutomaticCheckReachesTheHost) {
    Connected c;
    c.host.raiseNewMail();
    auto mail = c.mail("s@x.com");
    c.v().enemyemail = FilterList{"s@x.com"};
    c.host.faults().failOnce("Folder.Name");
    c.host.explorer()->select({mail});
    ASSERT_EQ(c.host.eventFailures.size(), 1u);
    EXPECT_EQ(mail->folder(), c.host.inbox()) << "no check ran";
    EXPECT_TRUE(c.addin->cmdIsSpamToolButton->Enabled()) << "the button states were not updated";
}

TEST(ExplorerClose, EndsTheWatchForGood) {
    Connected c;
    c.v().enemyemail = FilterList{"s@x.com"};
    auto mail = c.mail("s@x.com");
    c.host.explorer()->close();
    EXPECT_FALSE(c.addin->m_objExplorer);
    auto second = c.host.openExplorer();
    c.host.raiseNewMail();
    second->select({mail});
    EXPECT_EQ(mail->folder(), c.host.inbox());
    EXPECT_EQ(second->selectionChangeSubscribers(), 0);
}

} // namespace
} // namespace skerrow
