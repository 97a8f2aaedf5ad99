// The add-in's toolbar as the main window shows it: its layout, the
// commands that follow the selection, and the bars kept between sessions.
#include "tests/app/desktop/desktop_fixture.h"

#include "addin/startload.h"
#include "resources/bitmaps.h"

#include <QMenu>
#include <QTest>

namespace skerrow::test {
namespace {

// What the bar shows from left to right: the visible tool buttons.
std::vector<QToolButton*> shownButtons(QToolBar& bar) {
    std::vector<QToolButton*> buttons;
    for (QAction* action : bar.actions())
        if (action->isVisible())
            if (auto* button = qobject_cast<QToolButton*>(bar.widgetForAction(action)))
                buttons.push_back(button);
    return buttons;
}

// The popup menu as the user sees it, separators as "-".
std::vector<std::string> menuLines(QMenu& menu) {
    std::vector<std::string> lines;
    for (QAction* action : menu.actions())
        if (action->isVisible())
            lines.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    return lines;
}

QImage faceImage(int resource) {
    const auto bytes = resources::bitmapResource(resource);
    QImage image;
    image.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "BMP");
    return image.convertToFormat(QImage::Format_RGB32);
}

TEST_F(DesktopTest, ToolbarShowsThePopupAndTheTwoFaceButtonsAtTheTop) {
    start();
    ASSERT_EQ(toolBars(window(), toolbarName).size(), 1u);
    QToolBar* bar = toolBars(window(), toolbarName).front();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(window().toolBarArea(bar), Qt::TopToolBarArea);

    const auto buttons = shownButtons(*bar);
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(buttons[0]->text().toStdString(), popupCaption);
    ASSERT_NE(buttons[0]->menu(), nullptr);
    EXPECT_EQ(buttons[0]->popupMode(), QToolButton::InstantPopup);

    const struct {
        const char* caption;
        const char* tooltip;
        int face;
    } faceButtons[] = {
        {isSpamCaption, isSpamTooltip, resources::isSpamFace},
        {addFriendCaption, addFriendTooltip, resources::addFriendFace},
    };
    for (std::size_t i = 0; i < 2; ++i) {
        QToolButton* button = buttons[i + 1];
        const auto& expected = faceButtons[i];
        EXPECT_EQ(button->text().toStdString(), expected.caption);
        EXPECT_EQ(button->toolTip().toStdString(), expected.tooltip);
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextBesideIcon) << expected.caption;
        EXPECT_EQ(button->icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_RGB32),
                  faceImage(expected.face))
            << expected.caption << " shows another face";
        EXPECT_LT(buttons[i]->x(), button->x()) << "left to right in the order made";
    }

    EXPECT_EQ(menuLines(*buttons[0]->menu()),
              (std::vector<std::string>{checkSpamCaption, "-", addFriendDomainCaption, addEnemyDomainCaption, "-",
                                        optionsCaption, "-", helpCaption, aboutCaption}));
    for (QAction* action : buttons[0]->menu()->actions())
        EXPECT_TRUE(action->icon().isNull()) << action->text().toStdString() << ": menu items have no face";
}

TEST_F(DesktopTest, CommandsFollowTheSenderOfTheOneSelectedMail) {
    // The decision itself is the add-in's; here, that a button and a menu
    // item each show both states, and that an emptied selection reaches them.
    writeListFile({"", "*@friends.example", "winner@lottery.example", ""});
    const struct {
        const char* sender;
        bool isSpam, addFriend, addFriendDomain, addEnemyDomain;
    } rows[] = {
        // sender                   Is Spam  Add Sender  Domain to Friends  Domain to Blacklist
        {"winner@lottery.example", false, true, true, true},
        {"pal@friends.example", true, true, false, true},
    };
    int minutes = 100;
    for (const auto& row : rows)
        deliver("cur", row.sender, row.sender, minutes--);
    start();
    auto states = [&] {
        return std::vector<bool>{toolButton(window(), isSpamCaption)->isEnabled(),
                                 toolButton(window(), addFriendCaption)->isEnabled(),
                                 menuItem(window(), addFriendDomainCaption)->isEnabled(),
                                 menuItem(window(), addEnemyDomainCaption)->isEnabled()};
    };
    for (const auto& row : rows) {
        clickRow(window(), row.sender);
        EXPECT_EQ(states(), (std::vector<bool>{row.isSpam, row.addFriend, row.addFriendDomain, row.addEnemyDomain}))
            << "one mail from " << row.sender;
    }
    clickFolder(window(), "Deleted Items");
    EXPECT_EQ(window().selection().size(), 0u);
    EXPECT_EQ(states(), (std::vector<bool>{false, false, false, false})) << "nothing selected";
    EXPECT_TRUE(menuItem(window(), checkSpamCaption)->isEnabled()) << "the other commands are never disabled";
}

TEST_F(DesktopTest, AccessKeyOfIsSpamActsOnTheSelectedMail) {
    deliver("cur", "Deals Weekly <newsletter@deals.example>", "This week's deals", 40);
    start();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    clickRow(window(), "This week's deals");
    QTest::keyClick(window().messageList(), Qt::Key_S, Qt::AltModifier);
    // A button pressed by its access key comes up a moment later.
    EXPECT_TRUE(waitFor([&] { return isInArray(addin().enemyemail, "newsletter@deals.example"); }));
    EXPECT_TRUE(waitFor([&] { return subjects(window()).empty(); }));
}

TEST_F(DesktopTest, KeptBarsComeBackAndGoBackToTheFileWithTheNewBar) {
    // One name a line, whatever the line ends; blank lines are no bars.
    writeFile(configDir / "toolbars", "Corvalle\r\nCorvalle\n\nMy Bar\ncorvalle");
    start();
    ASSERT_EQ(toolBars(window(), toolbarName).size(), 1u) << "the kept empty bars are removed";
    QToolBar* bar = toolBars(window(), toolbarName).front();
    EXPECT_EQ(shownButtons(*bar).size(), 3u);

    quit();
    EXPECT_EQ(readFile(configDir / "toolbars"), "My Bar\ncorvalle\nCorvalle\n");
    EXPECT_TRUE(shownButtons(*bar).empty()) << "temporary controls end with the session";
    EXPECT_THROW(session().addin().cmdIsSpamToolButton->Caption(), host::HostError);
}

} // namespace
} // namespace skerrow::test
