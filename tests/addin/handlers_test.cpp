#include "tests/addin/addin_fixture.h"

#include "addin/forms.h"
#include "filter/addfilter.h"

#include <gtest/gtest.h>

namespace skerrow {
namespace {

using test::Client;
using test::Connected;

// One message per item that is no mail; a mail already in Deleted Items
// stays there. Without a selection nothing happens.
TEST(IsSpam, SelectedMailsAreBlacklistedInOrderAndDeleted) {
    Connected c;
    auto a = c.mail("a@x.com");
    auto b = c.mail("b@y.com");
    auto gone = c.mail("d@z.com");
    gone->Delete();
    c.host.explorer()->select({});
    c.click(c.addin->cmdIsSpamToolButton);
    c.host.explorer()->selectNothing();
    c.click(c.addin->cmdIsSpamToolButton);
    c.host.explorer()->select({a, c.host.inbox()->addOther("MeetingItem"), b, gone});
    c.click(c.addin->cmdIsSpamToolButton);
    EXPECT_EQ(c.v().enemyemail.entries(), (std::vector<std::string>{"a@x.com", "b@y.com", "d@z.com"}));
    EXPECT_EQ(c.host.deletedItems()->mails().size(), 3u);
    EXPECT_EQ(c.v().totalDeleted, 2);
    EXPECT_EQ(c.dialogs.boxes, (std::vector<test::ShownBox>{
                                   {"Please select a mail item.", ui::Buttons::OK, ui::Icon::Exclamation, "Skerrow"}}));
    EXPECT_TRUE(c.host.eventFailures.empty());
}

TEST(IsOrNotSpam, KindsAreComparedExactly) {
    Connected c;
    auto a = c.mail("a@x.com");
    c.host.explorer()->select({a});
    c.addin->IsOrNotSpam_PublicClick("isspam");
    EXPECT_EQ(c.v().lists(), FilterLists{});
    c.addin->IsOrNotSpam_PublicClick("NotSpam");
    EXPECT_EQ(c.v().friendemail.entries(), std::vector<std::string>{"a@x.com"});
}

TEST(Help, OpensTheHelpFileGluedToTheInstallationFolder) {
    for (const char* appPath : {"C:\\Program Files\\Skerrow\\", "C:\\Program Files\\Skerrow"}) {
        Client c;
        c.markInstalled();
        c.setSetting("AppPath", appPath);
        c.connect();
        std::dynamic_pointer_cast<memory::MemoryButton>(c.addin->cmdHelp)->click();
        EXPECT_EQ(c.platform.opened, std::vector<std::string>{std::string(appPath) + "skerrow.chm"});
    }
}

// Each command opens its window; the three entry commands each for its list.
TEST(Commands, OpenTheirWindows) {
    Connected c;
    c.host.explorer()->select({c.mail("a@x.com")});
    std::vector<std::string> lists;
    c.windows.onModal("addFilter", [&](ui::Window&) { lists.push_back(c.v().forms().addFilterDialog().AddFilterObjectName); });
    for (const auto& button : {c.addin->cmdOptions, c.addin->cmdAboutCorvalle, c.addin->cmdCheckSpam,
                               c.addin->cmdAddFriendToolButton, c.addin->cmdAddFriendDomain, c.addin->cmdAddEnemyDomain})
        c.click(button);
    EXPECT_EQ(c.windows.shown, (std::vector<std::string>{"modal:Options", "modal:about", "modeless:CheckSpamFrm",
                                                         "modal:addFilter", "modal:addFilter", "modal:addFilter"}));
    EXPECT_EQ(lists, (std::vector<std::string>{"friendemail", "frienddomain", "enemydomain"}));
}

} // namespace
} // namespace skerrow
