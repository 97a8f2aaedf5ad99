// Whole sessions as a user goes through them: start, mail arrives, the
// Inbox is checked, the review window is used, the program ends and starts
// again.
#include "tests/app/desktop/desktop_fixture.h"

#include "addin/startload.h"

#include <QLabel>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QTest>

namespace skerrow::test {
namespace {

std::vector<std::string> reviewRows(QTreeView& list) {
    std::vector<std::string> rows;
    for (int i = 0; i < list.model()->rowCount(); ++i)
        rows.push_back(list.model()->index(i, 0).data().toString().toStdString() + " | " +
                       list.model()->index(i, 1).data().toString().toStdString());
    return rows;
}

TEST_F(DesktopTest, FullSessionKeepsTheVerdictsAndTheTotalAcrossARestart) {
    writeListFile({"", "", "", "*@spam.example"});
    deliver("cur", "Mary Jones <mary@example.org>", "Lunch on Friday?", 50);
    deliver("cur", "Deals Weekly <newsletter@deals.example>", "This week's deals", 40);
    deliver("cur", "Carol White <colleague@partner.example>", "Meeting notes", 30);
    const fs::path contacts = dir / "contacts.vcf";
    writeFile(contacts, "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:mary@example.org\r\nEND:VCARD\r\n");

    start({contacts.string()});
    EXPECT_FALSE(addin().newMailPending) << "mail that a client has seen is no new mail";

    // Mail arrives from a blacklisted domain.
    deliver("new", "Watch Outlet <promo@spam.example>", "Cheap watches", 1);
    ASSERT_TRUE(waitFor([&] { return addin().newMailPending; })) << "NewMail never came";
    ASSERT_TRUE(waitFor([&] {
        return subjects(window()) == std::vector<std::string>{"Cheap watches", "Meeting notes", "This week's deals",
                                                              "Lunch on Friday?"};
    }));

    // A click in the Inbox: the purge, then the review window.
    clickRow(window(), "Lunch on Friday?");
    ASSERT_TRUE(waitFor([&] { return checkSpamView() != nullptr; })) << "the Check Spam window did not open";
    QWidget* review = checkSpamView();
    auto* list = review->findChild<QTreeView*>("ListView1");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(review->findChild<QLabel*>("Label1")->text(), "Deleted 1 spams.");
    EXPECT_EQ(reviewRows(*list), (std::vector<std::string>{"Meeting notes | colleague@partner.example",
                                                            "This week's deals | newsletter@deals.example"}));
    settle();
    EXPECT_EQ(subjects(window()), (std::vector<std::string>{"Meeting notes", "This week's deals", "Lunch on Friday?"}))
        << "the deleted mail left the Inbox on the screen";
    screenshot(window(), "main-window.png");
    screenshot(window(), "check-spam.png", review);

    // Tick the newsletter as the user does (click, Space), Is Spam: its
    // sender is blacklisted, the mail goes.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(1, 0)).center());
    QTest::keyClick(list, Qt::Key_Space);
    QTest::mouseClick(review->findChild<QPushButton*>("Command1"), Qt::LeftButton);
    EXPECT_EQ(reviewRows(*list), (std::vector<std::string>{"Meeting notes | colleague@partner.example"}));
    QTest::mouseClick(review->findChild<QPushButton*>("Command4"), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return checkSpamView() == nullptr; }));
    EXPECT_FALSE(addin().newMailPending) << "closing the review window ends the automatic checks";

    quit();
    EXPECT_EQ(readFile(listFile()), "mary@example.org\r\n\r\nnewsletter@deals.example\r\n*@spam.example\r\n");
    EXPECT_NE(readFile(configDir / "settings").find("HaveAutoDeleteCount=2"), std::string::npos);
    EXPECT_TRUE(session().events().failures().empty()) << session().events().failures().front();

    start(); // reads back what it stored
    EXPECT_EQ(addin().totalDeleted, 2);
    EXPECT_TRUE(isInArray(addin().enemyemail, "newsletter@deals.example"));
}

TEST_F(DesktopTest, MailInNewAtStartArrivesThenAndGetMailFindsWhatCameSince) {
    deliver("new", "Carol White <colleague@partner.example>", "Waiting since yesterday", 600);
    start();
    EXPECT_TRUE(addin().newMailPending) << "unseen mail at start is new mail";
    addin().newMailPending = false;

    // Get Mail, pressed before the file notification has been handled.
    deliver("new", "Dan <dan@partner.example>", "Just now", 0);
    QToolButton* getMail = toolButton(window(), desktop::getMailCaption);
    ASSERT_NE(getMail, nullptr);
    QTest::mouseClick(getMail, Qt::LeftButton);
    EXPECT_TRUE(addin().newMailPending);
    EXPECT_TRUE(waitFor([&] { return subjects(window()).size() == 2; }));

    // Nothing new: Get Mail raises nothing.
    addin().newMailPending = false;
    QTest::mouseClick(getMail, Qt::LeftButton);
    settle();
    EXPECT_FALSE(addin().newMailPending);
}

TEST_F(DesktopTest, NewWindowIsNotWatchedAndClosingTheFirstEndsTheWatch) {
    deliver("cur", "Deals Weekly <newsletter@deals.example>", "This week's deals", 40);
    start();
    QToolButton* newWindow = toolButton(window(), desktop::newWindowCaption);
    ASSERT_NE(newWindow, nullptr);
    QTest::mouseClick(newWindow, Qt::LeftButton);
    ASSERT_EQ(session().windows().size(), 2u);
    desktop::MainWindow& second = *session().windows()[1];
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
    settle();
    EXPECT_EQ(second.explorer()->selectionChangeSubscribers(), 0u);
    EXPECT_EQ(window().explorer()->selectionChangeSubscribers(), 1u);
    EXPECT_TRUE(toolBars(second, toolbarName).empty());

    addin().newMailPending = true;
    clickRow(second, "This week's deals");
    settle();
    EXPECT_EQ(checkSpamView(), nullptr) << "the add-in does not watch the second window";

    // The first window closes: Close reaches the add-in, the program goes on,
    // and the closed window's explorer fails every call.
    auto explorer = window().explorer();
    window().close();
    EXPECT_EQ(session().addin().m_objExplorer, nullptr);
    EXPECT_THROW(explorer->GetSelection(), host::HostError);
    EXPECT_THROW(explorer->CurrentFolder(), host::HostError);
    EXPECT_THROW(explorer->GetCommandBars(), host::HostError);
    EXPECT_FALSE(session().ended());
    clickRow(second, "This week's deals", Qt::ControlModifier);
    clickRow(second, "This week's deals", Qt::ControlModifier);
    settle();
    EXPECT_EQ(checkSpamView(), nullptr);
    second.close();
    EXPECT_TRUE(session().ended());
    EXPECT_EQ(session().host().application()->ActiveExplorer(), nullptr);
}

TEST_F(DesktopTest, SelectionChangesSetOffDuringAModalCommandWaitUntilItReturns) {
    const std::string deals = deliver("cur", "Deals Weekly <newsletter@deals.example>", "This week's deals", 40);
    start();
    clickRow(window(), "This week's deals");
    QToolButton* isSpam = toolButton(window(), isSpamCaption);
    ASSERT_TRUE(isSpam->isEnabled());

    bool sawInside = false, enabledInside = false, pendingInside = false, acted = false;
    auto* watch = new QTimer(&window());
    QObject::connect(watch, &QTimer::timeout, watch, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (!acted) {
            acted = true;
            // No second tick while the wait below spins the event loop.
            watch->stop();
            // Another program takes the selected mail away, and mail arrives.
            fs::remove(maildir / "cur" / deals);
            deliver("new", "Dan <dan@partner.example>", "Just now", 0);
            sawInside = waitFor([&] { return subjects(window()) == std::vector<std::string>{"Just now"}; });
            pendingInside = addin().newMailPending;
            enabledInside = isSpam->isEnabled();
            watch->start(10);
        }
        if (QWidget* still = QApplication::activeModalWidget())
            QTest::keyClick(still, Qt::Key_Escape); // again at the next tick if it is still open
    });
    watch->start(10);
    menuItem(window(), optionsCaption)->trigger();
    delete watch;
    ASSERT_TRUE(sawInside) << "the list was not refreshed while the Options window was open";
    EXPECT_TRUE(pendingInside) << "NewMail comes at once";
    EXPECT_TRUE(enabledInside) << "SelectionChange must wait for the command to return";
    EXPECT_TRUE(waitFor([&] { return !isSpam->isEnabled(); })) << "the emptied selection reached the add-in";
}

TEST_F(DesktopTest, HandlerFailuresAreRecordedAndTheOtherHandlersStillRun) {
    deliver("cur", "Deals Weekly <newsletter@deals.example>", "This week's deals", 40);
    start();
    auto failing = window().explorer()->onSelectionChange([] { throw host::HostError("selection handler broke"); });
    auto failingClick = session().addin().cmdIsSpamToolButton->onClick(
        [](host::CommandBarButton&, bool&) { throw std::runtime_error("click handler broke"); });
    clickRow(window(), "This week's deals");
    QTest::mouseClick(toolButton(window(), isSpamCaption), Qt::LeftButton);
    EXPECT_TRUE(isInArray(addin().enemyemail, "newsletter@deals.example")) << "the add-in's own handler ran";
    EXPECT_TRUE(waitFor([&] { return subjects(window()).empty(); }));
    const auto& failures = session().events().failures();
    EXPECT_NE(std::find(failures.begin(), failures.end(), "SelectionChange: selection handler broke"), failures.end());
    EXPECT_NE(std::find(failures.begin(), failures.end(), "Click: click handler broke"), failures.end());
}

} // namespace
} // namespace skerrow::test
