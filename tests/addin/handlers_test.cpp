#include "tests/addin/addin_fixture.h"

#include "filter/sender.h"

#include <gtest/gtest.h>

namespace skerrow {
namespace {

using test::Client;
using test::Connected;

TEST(IsSpam, TwoSelectedMailsAreBlacklistedAndDeletedInOrder) {
    Connected c;
    auto a = c.mail("a@x.com");
    auto b = c.mail("b@y.com");
    c.host.explorer()->select({a, b});
    c.click(c.addin->cmdIsSpamToolButton);
    EXPECT_EQ(c.v().enemyemail.entries(), (std::vector<std::string>{"a@x.com", "b@y.com"}));
    EXPECT_EQ(a->folder(), c.host.deletedItems());
    EXPECT_EQ(b->folder(), c.host.deletedItems());
    EXPECT_EQ(c.v().totalDeleted, 2);
    EXPECT_TRUE(c.dialogs.boxes.empty());
}

TEST(IsSpam, MailInDeletedItemsIsOnlyBlacklisted) {
    Connected c;
    auto a = c.mail("a@x.com");
    a->Delete();
    c.host.explorer()->showFolder(c.host.deletedItems());
    c.host.explorer()->select({a});
    c.click(c.addin->cmdIsSpamToolButton);
    EXPECT_TRUE(isInArray(c.v().enemyemail, "a@x.com"));
    EXPECT_EQ(a->folder(), c.host.deletedItems());
    EXPECT_EQ(c.v().totalDeleted, 0);
}

TEST(IsSpam, EachNonMailItemGetsOneMessageAndIsLeftAlone) {
    Connected c;
    auto a = c.mail("a@x.com");
    auto meeting = c.host.inbox()->addOther("MeetingItem");
    c.host.explorer()->select({meeting, a, c.host.inbox()->addOther("ReportItem")});
    c.click(c.addin->cmdIsSpamToolButton);
    EXPECT_EQ(a->folder(), c.host.deletedItems());
    ASSERT_EQ(c.dialogs.boxes.size(), 2u);
    for (const auto& box : c.dialogs.boxes) {
        EXPECT_EQ(box.text, "Please select a mail item.");
        EXPECT_EQ(box.icon, ui::Icon::Exclamation);
        EXPECT_EQ(box.buttons, ui::Buttons::OK);
        EXPECT_EQ(box.title, "Skerrow");
    }
    EXPECT_EQ(c.host.inbox()->ItemCount(), 2);
}

TEST(IsSpam, NothingSelectedOrNoSelectionDoesNothing) {
    Connected c;
    c.mail("a@x.com");
    c.host.explorer()->select({});
    c.click(c.addin->cmdIsSpamToolButton);
    c.host.explorer()->selectNothing();
    c.click(c.addin->cmdIsSpamToolButton);
    EXPECT_TRUE(c.v().enemyemail.empty());
    EXPECT_TRUE(c.dialogs.boxes.empty());
    EXPECT_TRUE(c.host.eventFailures.empty());
}

TEST(IsOrNotSpam, KindsAreComparedExactly) {
    Connected c;
    auto a = c.mail("a@x.com");
    c.host.explorer()->select({a, c.host.inbox()->addOther("MeetingItem")});
    c.addin->IsOrNotSpam_PublicClick("isspam");
    EXPECT_EQ(c.v().lists(), FilterLists{});
    EXPECT_EQ(a->folder(), c.host.inbox());
    EXPECT_EQ(c.dialogs.boxes.size(), 1u);
    c.addin->IsOrNotSpam_PublicClick("NotSpam");
    EXPECT_EQ(c.v().friendemail.entries(), std::vector<std::string>{"a@x.com"});
    EXPECT_EQ(a->folder(), c.host.inbox());
}

TEST(IsSpam, UnresolvedSenderStillDeletesButListsNothing) {
    Connected c;
    auto a = c.mail("a@x.com");
    a->spec().senderResolvable = false;
    c.host.explorer()->select({a});
    c.click(c.addin->cmdIsSpamToolButton);
    EXPECT_EQ(a->folder(), c.host.deletedItems());
    EXPECT_FALSE(isInArray(c.v().enemyemail, fallbackSenderAddress));
}

TEST(Help, OpensTheHelpFileGluedToTheInstallationFolder) {
    for (const char* appPath : {"C:\\Program Files\\Skerrow\\", "C:\\Program Files\\Skerrow"}) {
        Client c;
        c.markInstalled();
        c.setSetting("AppPath", appPath);
        c.connect();
        std::dynamic_pointer_cast<memory::MemoryButton>(c.addin->cmdHelp)->click();
        ASSERT_EQ(c.platform.opened.size(), 1u);
        EXPECT_EQ(c.platform.opened[0], std::string(appPath) + "skerrow.chm");
    }
}

TEST(Commands, OpenTheirWindows) {
    Connected c;
    c.mail("stranger@x.com");
    c.click(c.addin->cmdOptions);
    c.click(c.addin->cmdAboutCorvalle);
    c.click(c.addin->cmdCheckSpam);
    EXPECT_EQ(c.windows.shown, (std::vector<std::string>{"modal:Options", "modal:about", "modeless:CheckSpamFrm"}));
}

TEST(Commands, AddSenderButtonsOpenTheEntryDialogPerSelectedMail) {
    Connected c;
    auto a = c.mail("a@x.com");
    auto b = c.mail("b@y.com");
    c.host.explorer()->select({a, b});
    std::vector<std::string> prefilled;
    c.windows.onModal("addFilter", [&](ui::Window& w) {
        prefilled.push_back(w.control("Text1").caption);
        w.userClick("Command1");
    });
    c.click(c.addin->cmdAddFriendToolButton);
    c.click(c.addin->cmdAddEnemyDomain);
    EXPECT_EQ(prefilled, (std::vector<std::string>{"a@x.com", "b@y.com", "x.com", "y.com"}));
    EXPECT_EQ(c.v().lists(), (FilterLists{{"a@x.com", "b@y.com"}, {}, {}, {"*@x.com", "*@y.com"}}));
}

} // namespace
} // namespace skerrow
