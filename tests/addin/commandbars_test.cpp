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

TEST(Toolbar, LayoutAndPropertiesAreSetInOrder) {
    Client c;
    c.connect();
    auto bars = barsNamed(c, "Corvalle");
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_TRUE(bars[0]->Visible());
    EXPECT_EQ(bars[0]->Position(), 1);

    const auto& controls = bars[0]->controls()->all();
    ASSERT_EQ(controls.size(), 3u);
    struct Row {
        int type;
        std::vector<std::string> log;
    } toolbar[] = {
        {10, {"Caption= &Corvalle", "Visible=1", "Enabled=1"}},
        {1,
         {"Caption=Is &Spam", "TooltipText=Delete selected email,add email address to blacklist", "PasteFace", "Style=3",
          "Visible=1", "Enabled=1"}},
        {1,
         {"Caption=A&dd Sender to Friends List", "TooltipText=Add sender email address to friends list", "PasteFace",
          "Style=3", "Visible=1", "Enabled=1"}},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(controls[i]->type(), toolbar[i].type) << i;
        EXPECT_TRUE(controls[i]->temporary()) << i;
        EXPECT_EQ(controls[i]->log(), toolbar[i].log) << i;
    }

    auto popup = std::dynamic_pointer_cast<memory::MemoryPopup>(controls[0]);
    ASSERT_TRUE(popup);
    const std::vector<std::vector<std::string>> menu = {
        {"Caption=&Check Spam", "Style=1", "Visible=1"},
        {"BeginGroup=1", "Caption=Add the Entire Domain to &Friends List", "Style=1", "Visible=1"},
        {"Caption=Add the Entire Domain to &Blacklist", "Style=1", "Visible=1", "Enabled=1"},
        {"BeginGroup=1", "Caption=&Options", "Style=1", "Enabled=1", "Visible=1"},
        {"BeginGroup=1", "Caption=&Help", "Style=1", "Visible=1"},
        {"Caption=&About Corvalle", "Style=1", "Visible=1"},
    };
    const auto& items = popup->controls()->all();
    ASSERT_EQ(items.size(), menu.size());
    for (std::size_t i = 0; i < menu.size(); ++i) {
        EXPECT_EQ(items[i]->type(), 1);
        EXPECT_TRUE(items[i]->temporary());
        EXPECT_EQ(items[i]->log(), menu[i]) << i;
    }
}

TEST(Toolbar, ButtonsCarryTheirFacesAndTheMembersHoldTheButtons) {
    Client c;
    c.connect();
    auto controls = barsNamed(c, "Corvalle").at(0)->controls()->all();
    auto items = std::dynamic_pointer_cast<memory::MemoryPopup>(controls[0])->controls()->all();
    items.insert(items.end(), controls.begin() + 1, controls.end());
    const std::shared_ptr<host::CommandBarButton> members[] = {
        c.addin->cmdCheckSpam, c.addin->cmdAddFriendDomain, c.addin->cmdAddEnemyDomain, c.addin->cmdOptions,
        c.addin->cmdHelp,      c.addin->cmdAboutCorvalle,   c.addin->cmdIsSpamToolButton, c.addin->cmdAddFriendToolButton};
    for (std::size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(std::dynamic_pointer_cast<host::CommandBarButton>(items[i]), members[i]) << i;
    EXPECT_EQ(std::dynamic_pointer_cast<memory::MemoryButton>(controls[1])->face(), resources::bitmapResource(200));
    EXPECT_EQ(std::dynamic_pointer_cast<memory::MemoryButton>(controls[2])->face(), resources::bitmapResource(400));
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

TEST(Toolbar, NoMainWindowMeansNoToolbarAndEmptyMembers) {
    Client c;
    c.host.removeExplorer();
    c.connect();
    EXPECT_TRUE(c.host.commandBars()->bars().empty());
    EXPECT_FALSE(c.addin->cmdIsSpamToolButton);
    EXPECT_FALSE(c.addin->cmdCheckSpam);
    EXPECT_FALSE(c.addin->m_objExplorer);
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
