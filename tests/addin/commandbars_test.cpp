#include "tests/addin/addin_fixture.h"

#include "resources/bitmaps.h"

#include <gtest/gtest.h>

namespace skerrow {
namespace {

using test::Client;

std::vector<std::shared_ptr<memory::MemoryCommandBar>> barsNamed(Client& c, const std::string& name) {
    std::vector<std::shared_ptr<memory::MemoryCommandBar>> found;
    for (const auto& bar : c.host.commandBars()->bars())
        if (bar->Name() == name)
            found.push_back(bar);
    return found;
}

// Every control in order, with the properties set on it and the member
// that holds it.
TEST(Toolbar, LayoutPropertiesAndMembers) {
    Client c;
    c.connect();
    auto bars = barsNamed(c, "Corvalle");
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_TRUE(bars[0]->Visible());
    EXPECT_EQ(bars[0]->Position(), 1);

    struct Row {
        int type;
        std::vector<std::string> log;
        std::shared_ptr<host::CommandBarButton> member;
    };
    const auto expect = [](const auto& controls, const std::vector<Row>& rows) {
        ASSERT_EQ(controls.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(controls[i]->type(), rows[i].type) << i;
            EXPECT_TRUE(controls[i]->temporary()) << i;
            EXPECT_EQ(controls[i]->log(), rows[i].log) << i;
            EXPECT_EQ(std::dynamic_pointer_cast<host::CommandBarButton>(controls[i]), rows[i].member) << i;
        }
    };
    const auto& controls = bars[0]->controls()->all();
    expect(controls, {
        {10, {"Caption= &Corvalle", "Visible=1", "Enabled=1"}, nullptr},
        {1,
         {"Caption=Is &Spam", "TooltipText=Delete selected email,add email address to blacklist", "PasteFace", "Style=3",
          "Visible=1", "Enabled=1"},
         c.addin->cmdIsSpamToolButton},
        {1,
         {"Caption=A&dd Sender to Friends List", "TooltipText=Add sender email address to friends list", "PasteFace",
          "Style=3", "Visible=1", "Enabled=1"},
         c.addin->cmdAddFriendToolButton},
    });
    EXPECT_EQ(std::dynamic_pointer_cast<memory::MemoryButton>(controls[1])->face(), resources::bitmapResource(200));
    EXPECT_EQ(std::dynamic_pointer_cast<memory::MemoryButton>(controls[2])->face(), resources::bitmapResource(400));

    auto popup = std::dynamic_pointer_cast<memory::MemoryPopup>(controls[0]);
    ASSERT_TRUE(popup);
    expect(popup->controls()->all(), {
        {1, {"Caption=&Check Spam", "Style=1", "Visible=1"}, c.addin->cmdCheckSpam},
        {1, {"BeginGroup=1", "Caption=Add the Entire Domain to &Friends List", "Style=1", "Visible=1"},
         c.addin->cmdAddFriendDomain},
        {1, {"Caption=Add the Entire Domain to &Blacklist", "Style=1", "Visible=1", "Enabled=1"},
         c.addin->cmdAddEnemyDomain},
        {1, {"BeginGroup=1", "Caption=&Options", "Style=1", "Enabled=1", "Visible=1"}, c.addin->cmdOptions},
        {1, {"BeginGroup=1", "Caption=&Help", "Style=1", "Visible=1"}, c.addin->cmdHelp},
        {1, {"Caption=&About Corvalle", "Style=1", "Visible=1"}, c.addin->cmdAboutCorvalle},
    });
}

TEST(Toolbar, OnlyEmptyBarsNamedExactlyCorvalleAreRemoved) {
    Client c;
    c.host.commandBars()->addLeftover("Corvalle");
    c.host.commandBars()->addLeftover("Corvalle");
    c.host.commandBars()->addLeftover("corvalle");
    c.host.commandBars()->addLeftover("Corvalle", 2);
    c.host.commandBars()->addLeftover("Standard", 5);
    c.connect();
    std::vector<std::string> names;
    for (const auto& bar : c.host.commandBars()->bars())
        names.push_back(bar->Name() + "/" + std::to_string(bar->controls()->all().size()));
    EXPECT_EQ(names, (std::vector<std::string>{"corvalle/0", "Corvalle/2", "Standard/5", "Corvalle/3"}));
}

TEST(Toolbar, NoMainWindowMeansNoToolbarAndNewMailOnlySetsTheFlag) {
    Client c;
    c.host.removeExplorer();
    c.connect();
    EXPECT_TRUE(c.host.commandBars()->bars().empty());
    c.host.raiseNewMail();
    EXPECT_TRUE(c.v().newMailPending);
}

TEST(Toolbar, FailedFacePasteKeepsTheOtherProperties) {
    Client c;
    c.host.faults().failAlways("Button.PasteFace");
    c.connect();
    auto isSpam = std::dynamic_pointer_cast<memory::MemoryButton>(barsNamed(c, "Corvalle").at(0)->controls()->all()[1]);
    EXPECT_TRUE(isSpam->face().empty());
    EXPECT_EQ(isSpam->Caption(), "Is &Spam");
    EXPECT_EQ(isSpam->Style(), 3);
}

} // namespace
} // namespace skerrow
