// The main window over the Maildir: what it shows of the folders and the
// mail, what reading does, and what its explorer tells the add-in.
#include "tests/app/desktop/desktop_fixture.h"

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

namespace skerrow::test {
namespace {

std::vector<std::string> folderLines(QTreeWidget& tree) {
    std::vector<std::string> lines;
    for (QTreeWidgetItemIterator it(&tree); *it; ++it) {
        std::string indent;
        for (QTreeWidgetItem* up = (*it)->parent(); up; up = up->parent())
            indent += "  ";
        lines.push_back(indent + (*it)->text(0).toStdString());
    }
    return lines;
}

TEST_F(DesktopTest, FolderTreeShowsInboxDeletedItemsThenTheOthersNested) {
    deliver("cur", "ann@example.org", "in the inbox", 5);
    deliver("cur", "ann@example.org", "about dev", 5, desktopUser, ".Lists.dev");
    deliver("cur", "ann@example.org", "archived", 5, desktopUser, ".Archive");
    start();
    EXPECT_EQ(folderLines(*window().folderTree()),
              (std::vector<std::string>{"Inbox (1)", "Deleted Items", "Archive (1)", "Lists", "  dev (1)"}));
    clickFolder(window(), "dev");
    EXPECT_EQ(subjects(window()), (std::vector<std::string>{"about dev"}));
    EXPECT_EQ(window().windowTitle(), "Lists/dev - Skerrow");
    ASSERT_NE(window().explorer()->CurrentFolder(), nullptr);
    EXPECT_EQ(window().explorer()->CurrentFolder()->Name(), "Lists/dev");
    clickFolder(window(), "Lists");
    EXPECT_EQ(window().explorer()->CurrentFolder()->Name(), "Lists/dev") << "a made-up parent shows nothing";
}

TEST_F(DesktopTest, MessageListShowsSubjectFromAndReceivedNewestFirstUnreadInBold) {
    const std::string cafeFile = deliver("cur", "Ann Example <ann@example.org>", "=?utf-8?q?Caf=C3=A9_tonight?=", 120);
    const std::string seen = deliver("cur", "bob@example.net", "already read", 60);
    fs::rename(maildir / "cur" / seen, maildir / "cur" / (seen + ":2,S"));
    deliver("new", "\"Smith, Carol\" <carol@example.com>", "fresh", 1);
    std::ofstream(maildir / "cur" / "5.not-a-message") << "\x01\x02 binary junk";
    start();
    const QAbstractItemModel& list = *window().messageList()->model();
    ASSERT_EQ(list.headerData(0, Qt::Horizontal), "Subject");
    EXPECT_EQ(list.headerData(1, Qt::Horizontal), "From");
    EXPECT_EQ(list.headerData(2, Qt::Horizontal), "Received");
    EXPECT_EQ(subjects(window()),
              (std::vector<std::string>{"fresh", "already read", "Café tonight", "(UnreadableItem)"}));

    const ListRow cafe = row(window(), "Café tonight");
    ASSERT_TRUE(cafe.index.isValid());
    EXPECT_EQ(cafe.text(desktop::FromColumn), "Ann Example <ann@example.org>");
    // The unique name starts with the seconds the file's time was set to.
    const QDateTime received = QDateTime::fromSecsSinceEpoch(std::stoll(cafeFile));
    EXPECT_EQ(cafe.text(desktop::ReceivedColumn), received.toString("dd/MM/yyyy HH:mm"))
        << "the file's time of arrival, in the British form the tests set";
    EXPECT_EQ(row(window(), "fresh").text(desktop::FromColumn), "\"Smith, Carol\" <carol@example.com>");
    EXPECT_TRUE(cafe.font(0).bold());
    EXPECT_FALSE(row(window(), "already read").font(0).bold());
    EXPECT_TRUE(row(window(), "(UnreadableItem)").font(0).italic());
    EXPECT_NE(window().statusBar()->findChild<QLabel*>()->text().indexOf("4 items, 2 unread"), -1);
}

TEST_F(DesktopTest, SelectionReachesTheExplorerInListOrderAndShowsTheOneMail) {
    deliver("cur", "ann@example.org", "older", 30, "Team <team@example.org>", "", "Line one\nLine two\n");
    deliver("cur", "bob@example.net", "newer", 10);
    std::ofstream(maildir / "cur" / "9.junk") << "\x01\x02";
    start();
    clickRow(window(), "older");
    auto selection = window().explorer()->GetSelection();
    ASSERT_EQ(selection->Count(), 1);
    EXPECT_EQ(host::asMailItem(selection->Item(1))->Subject(), "older");
    const QString text = window().readingPane()->toPlainText();
    EXPECT_TRUE(text.startsWith("From: ann@example.org\nTo: Team <team@example.org>\nSubject: older\n"))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith("\n\nLine one\nLine two\n")) << text.toStdString();

    clickRow(window(), "newer", Qt::ShiftModifier);
    selection = window().explorer()->GetSelection();
    ASSERT_EQ(selection->Count(), 2);
    EXPECT_EQ(host::asMailItem(selection->Item(1))->Subject(), "newer") << "top to bottom as shown";
    EXPECT_EQ(host::asMailItem(selection->Item(2))->Subject(), "older");
    EXPECT_TRUE(window().readingPane()->toPlainText().isEmpty()) << "two mails show no text";
    EXPECT_THROW(selection->Item(3), host::HostError);

    clickRow(window(), "(UnreadableItem)");
    selection = window().explorer()->GetSelection();
    ASSERT_EQ(selection->Count(), 1);
    EXPECT_EQ(host::asMailItem(selection->Item(1)), nullptr) << "what is no mail is handed over as it is";
}

TEST_F(DesktopTest, ReadingAMailMarksItReadOnceTheUserMovesOn) {
    const std::string first = deliver("new", "ann@example.org", "first", 30);
    const std::string second = deliver("cur", "bob@example.net", "second", 20);
    start();
    addin().newMailPending = false; // no automatic check in the way
    clickRow(window(), "first");
    settle();
    EXPECT_TRUE(row(window(), "first").font(0).bold()) << "still being read";
    EXPECT_EQ(fileNames(maildir / "new"), (std::vector<std::string>{first}));

    clickRow(window(), "second");
    EXPECT_EQ(fileNames(maildir / "cur"), (std::vector<std::string>{first + ":2,S", second}));
    EXPECT_TRUE(waitFor([&] { return !row(window(), "first").font(0).bold(); }));
    EXPECT_FALSE(addin().newMailPending) << "a mail leaving new/ is no arrival";

    quit();
    EXPECT_EQ(fileNames(maildir / "cur"), (std::vector<std::string>{first + ":2,S", second + ":2,S"}))
        << "closing the window ends the reading too";
}

TEST_F(DesktopTest, DeleteAndMarkAsReadOrUnreadActOnTheSelection) {
    const std::string one = deliver("cur", "ann@example.org", "one", 30);
    deliver("cur", "bob@example.net", "two", 20);
    const std::string three = deliver("cur", "carol@example.com", "three", 10);
    std::ofstream(maildir / "cur" / "5.junk") << "\x01\x02";
    start();
    addin().newMailPending = false; // no automatic check in the way
    const auto click = [&](const char* caption) { QTest::mouseClick(toolButton(window(), caption), Qt::LeftButton); };
    clickRow(window(), "three");
    click(desktop::markReadCaption);
    EXPECT_TRUE(fs::exists(maildir / "cur" / (three + ":2,S")));
    click(desktop::markUnreadCaption);
    clickRow(window(), "one");
    settle();
    EXPECT_TRUE(fs::exists(maildir / "cur" / (three + ":2,"))) << "marked unread while read, it stays unread";

    clickRow(window(), "two", Qt::ControlModifier);
    clickRow(window(), "(UnreadableItem)", Qt::ControlModifier);
    QTest::keyClick(window().messageList(), Qt::Key_Delete);
    EXPECT_TRUE(waitFor([&] { return subjects(window()) == std::vector<std::string>{"three"}; }));
    EXPECT_EQ(fileNames(maildir / ".Trash" / "cur").size(), 3u);

    // In Deleted Items the question comes first: No keeps the mail, Yes removes it.
    clickFolder(window(), "Deleted Items");
    for (const auto button : {QMessageBox::No, QMessageBox::Yes}) {
        clickRow(window(), "one");
        QTimer::singleShot(50, &window(), [button] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->button(button)->click();
        });
        click(desktop::deleteCaption);
        settle();
    }
    EXPECT_EQ(subjects(window()), (std::vector<std::string>{"two", "(UnreadableItem)"}));
    EXPECT_EQ(fileNames(maildir / ".Trash" / "cur").size(), 2u);
}

TEST_F(DesktopTest, SelectionOutlivesAnotherProgramMovingHundredsOfMailsAway) {
    std::vector<std::string> moved;
    for (int i = 0; i < 250; ++i)
        moved.push_back(deliver("cur", "ann@example.org", "bulk " + std::to_string(i), 30));
    deliver("cur", "bob@example.net", "keep", 20);
    start();
    addin().newMailPending = false;
    clickRow(window(), "keep");
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(maildir / ".Archive" / sub);
    for (const auto& name : moved)
        fs::rename(maildir / "cur" / name, maildir / ".Archive" / "cur" / name);
    ASSERT_TRUE(waitFor([&] { return subjects(window()) == std::vector<std::string>{"keep"}; }));
    auto selection = window().explorer()->GetSelection();
    ASSERT_EQ(selection->Count(), 1);
    EXPECT_EQ(host::asMailItem(selection->Item(1))->Subject(), "keep");
}

} // namespace
} // namespace skerrow::test
