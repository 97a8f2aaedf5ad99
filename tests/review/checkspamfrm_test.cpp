#include "review/checkspamfrm.h"

#include "addin/forms.h"
#include "filter/checkspam.h"
#include "review/mailbody.h"
#include "tests/support/world.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace skerrow {
namespace {

using Mails = std::vector<std::shared_ptr<memory::MemoryMailItem>>;
using Texts = std::vector<std::string>;

class CheckSpamFrmTest : public ::testing::Test {
protected:
    test::World w;
    CheckSpamFrm& form = w.v.forms().checkSpamFrm();

    // As checkSpam opens it.
    void open() {
        form.checkFolder = w.host.inbox();
        form.checkApplication = w.app();
        form.showModeless();
    }
    Texts column(std::size_t cell) {
        Texts texts;
        for (const ui::ListRow& row : form.control("ListView1").rows)
            texts.push_back(row.cells.at(cell).text);
        return texts;
    }
    Texts senders() { return column(1); }
    int rowOf(const std::string& subject) {
        const Texts subjects = column(0);
        return static_cast<int>(std::find(subjects.begin(), subjects.end(), subject) - subjects.begin());
    }
    // "x" ticked, "-" not; "r" when red.
    std::string ticks() {
        std::string marks;
        for (const ui::ListRow& row : form.control("ListView1").rows)
            marks += std::string(row.checked ? "x" : "-") + (row.colour == ui::red ? "r " : " ");
        return marks;
    }
};

TEST_F(CheckSpamFrmTest, ListsUnreadMailsOfNoFriendSortedBySenderAlsoAfterARebuild) {
    w.v.friendemail = {"pal@home.org"};
    w.v.frienddomain = {"*@friends.org"};
    w.mail("zed@spam.com", "late");
    w.mail("amy@spam.com", "early");
    w.mail("pal@home.org", "from a friend");
    w.mail("bob@friends.org", "from a friendly domain");
    w.mail("old@spam.com", "already read", false);
    w.host.inbox()->addOther("MeetingItem");
    open();

    // The dates and tooltips are checked as the renderer shows them.
    EXPECT_EQ(form.caption, "Check Spam");
    EXPECT_EQ(senders(), (Texts{"amy@spam.com", "zed@spam.com"}));
    EXPECT_EQ(column(0), (Texts{"early", "late"}));
    EXPECT_EQ(ticks(), "- - ");

    auto later = w.mail("abe@spam.com", "arrived later");
    form.userClick("Command5"); // nothing ticked: only a rebuild
    EXPECT_EQ(senders(), (Texts{"abe@spam.com", "amy@spam.com", "zed@spam.com"}));
    form.userCheckRow("ListView1", 0, true);
    form.userClick("Command5"); // Delete takes the ticked mail only
    EXPECT_FALSE(later->folder() == w.host.inbox());
    EXPECT_EQ(senders(), (Texts{"amy@spam.com", "zed@spam.com"}));
    EXPECT_EQ(w.v.lists(), (FilterLists{{"pal@home.org"}, {"*@friends.org"}, {}, {}}));
    EXPECT_EQ(w.v.totalDeleted, 0);
}

TEST_F(CheckSpamFrmTest, LabelsKeepTheCountsOfTheOpeningPass) {
    w.v.enemydomain = {"*@junk.com"};
    w.v.totalDeleted = 5;
    w.mail("a@junk.com", "condemned");
    w.mail("amy@spam.com", "suspect");
    checkSpam(w.v, w.app());
    ASSERT_EQ(w.windows.shown, Texts{"modeless:CheckSpamFrm"});
    EXPECT_TRUE(w.dialogs.boxes.empty()) << "suspects left: the window reports the deletions";

    form.userCheckRow("ListView1", 0, true);
    form.userClick("Command1");

    EXPECT_EQ(form.control("Label1").caption, "Deleted 1 spams.");
    EXPECT_EQ(form.control("Label3").caption, "A total of 6 spams have been deleted.");
    EXPECT_EQ(w.v.totalDeleted, 7);
}

TEST_F(CheckSpamFrmTest, TickingGroupsBySenderAndOnlyTheLastSenderIsRed) {
    w.mail("amy@spam.com", "a1");
    w.mail("bob@spam.com", "b1");
    w.mail("amy@spam.com", "a2");
    open(); // rows: a1, a2, b1

    form.userCheckRow("ListView1", rowOf("a2"), true);
    EXPECT_EQ(ticks(), "xr xr - ");
    form.userCheckRow("ListView1", rowOf("b1"), true);
    EXPECT_EQ(ticks(), "x x xr ");
    form.userCheckRow("ListView1", rowOf("a1"), false);
    EXPECT_EQ(ticks(), "- - x ");
}

TEST_F(CheckSpamFrmTest, SelectAllGoesByItsCaptionWhichARebuildKeeps) {
    w.mail("amy@spam.com", "a1");
    w.mail("bob@spam.com", "b1");
    w.mail("bob@spam.com", "b2");
    open();

    form.userCheckRow("ListView1", rowOf("a1"), true);
    form.userClick("Check2");
    EXPECT_EQ(ticks(), "xr x x ") << "a row ticked before stays ticked";
    form.userCheckRow("ListView1", rowOf("a1"), false);
    form.userClick("Command2"); // Not Spam for bob

    EXPECT_EQ(w.v.friendemail, FilterList{"bob@spam.com"});
    EXPECT_EQ(w.host.inbox()->mails().size(), 3u);
    EXPECT_EQ(senders(), Texts{"amy@spam.com"});
    EXPECT_EQ(ticks(), "- ");
    EXPECT_EQ(form.control("Check2").caption, "Select None");
    form.userClick("Check2");
    EXPECT_EQ(form.control("Check2").caption, "Select All");
}

// A mail that vanished or will not go still has its sender blacklisted;
// the rebuild purges the sender's other mails, read ones too.
TEST_F(CheckSpamFrmTest, IsSpamBlacklistsEveryTickedSenderAndTheRebuildPurges) {
    w.mail("amy@spam.com", "listed");
    w.mail("amy@spam.com", "read, so not listed", false);
    auto kept = w.mail("bob@spam.com", "kept");
    auto gone = w.mail("dan@spam.com", "vanishes");
    auto stuck = w.mail("cat@spam.com", "will not go");
    open();
    for (const char* subject : {"listed", "vanishes", "will not go"})
        form.userCheckRow("ListView1", rowOf(subject), true);
    w.host.inbox()->remove(gone.get());
    w.host.faults().failAlwaysFor("MailItem.Delete", stuck->EntryID());

    form.userClick("Command1");

    EXPECT_EQ(w.v.enemyemail, (FilterList{"amy@spam.com", "cat@spam.com", "dan@spam.com"}));
    EXPECT_EQ(w.host.inbox()->mails(), (Mails{kept, stuck}));
    EXPECT_EQ(w.v.totalDeleted, 2);
    EXPECT_EQ(senders(), (Texts{"bob@spam.com", "cat@spam.com"}));
}

// The viewer's labels double an "&" so that it shows instead of marking an
// access key; the date is as the platform writes it in the user's format.
TEST_F(CheckSpamFrmTest, DoubleClickShowsTheMailAndRebuildsWhenTheViewerCloses) {
    w.mail("bob@spam.com", "other");
    auto gone = w.mail("cat@spam.com", "gone");
    auto mail = w.mail("amy@spam.com", "Tom & Jerry");
    mail->spec().received = std::chrono::sys_days{std::chrono::year{2003} / 4 / 5};
    open();
    Texts seen;
    w.windows.onModal("mailbody", [&](ui::Window& viewer) {
        for (const char* label : {"Label5", "Label6", "Label7", "Label8", "Text1"})
            seen.push_back(viewer.control(label).caption);
        seen.push_back(viewer.caption);
        mail->spec().unread = false;
    });

    form.userDoubleClick("ListView1"); // no row selected yet
    form.userSelectRow("ListView1", rowOf("gone"));
    w.host.inbox()->remove(gone.get());
    form.userDoubleClick("ListView1"); // the row's mail is gone
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(senders(), (Texts{"amy@spam.com", "bob@spam.com", "cat@spam.com"})) << "no rebuild either";
    form.userSelectRow("ListView1", rowOf("Tom & Jerry"));
    form.userDoubleClick("ListView1");

    EXPECT_EQ(seen, (Texts{"amy@spam.com", "2003-04-05 00:00:00", "John Smith", "Tom && Jerry",
                           "Dear John,\r\nsome text.\r\n", "Tom & Jerry"}));
    EXPECT_EQ(senders(), Texts{"bob@spam.com"});
}

TEST_F(CheckSpamFrmTest, ClosingEndsThePendingCheckAndLetsGoOfFolderAndApplication) {
    w.mail("amy@spam.com");
    for (const char* way : {"Command4", "Esc", "close box"}) {
        w.v.newMailPending = true;
        open();
        if (way == std::string("Command4"))
            form.userClick("Command4");
        else if (way == std::string("Esc"))
            form.userCancel();
        else
            form.userClose();
        EXPECT_FALSE(form.isLoaded()) << way;
        EXPECT_FALSE(w.v.newMailPending) << way;
        EXPECT_EQ(form.checkFolder, nullptr) << way;
        EXPECT_EQ(form.checkApplication, nullptr) << way;
    }
}

} // namespace
} // namespace skerrow
