#include "options/options.h"

#include "addin/forms.h"
#include "filter/filter_store.h"
#include "tests/support/world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace skerrow {
namespace {

using Texts = std::vector<std::string>;
enum Target { ApprovedEmail, ApprovedDomain, BlockedEmail, BlockedDomain };

struct OpenOptions {
    test::World w;
    Options& o = w.v.forms().optionsWindow();

    explicit OpenOptions(FilterLists lists) {
        w.v.setLists(std::move(lists));
        o.load();
    }
    Texts keys(const std::string& view) {
        Texts result;
        for (const ui::ListRow& row : o.control(view).rows)
            result.push_back(row.key);
        return result;
    }
    void pick(const std::string& view, const std::string& entry) {
        const Texts shown = keys(view);
        o.userSelectRow(view, static_cast<int>(std::find(shown.begin(), shown.end(), entry) - shown.begin()));
    }
    void add(Target target, const std::string& text) {
        o.userClick("Option1", target);
        o.userType("Text1", text);
        o.userClick("Command7");
    }
    FilterLists committed() {
        o.userClick("Command1");
        return w.v.lists();
    }
};

TEST(Options, OpensOnTheStoredListsHidingEachExampleOnlyInItsOwnList) {
    const FilterLists stored{{"support@corvalle.example", "a@x.com", "a@x.com", "offers@junk-mail.example"},
                             {"*@corvalle.example", "*@x.com"},
                             {"offers@junk-mail.example", "b@y.com", "Support@corvalle.example"},
                             {"*@bulk-mail.example", "*@corvalle.example"}};
    OpenOptions win(stored);

    EXPECT_EQ(win.keys("ListView1"), (Texts{"a@x.com", "offers@junk-mail.example", "*@x.com"}));
    EXPECT_EQ(win.keys("ListView2"), (Texts{"b@y.com", "Support@corvalle.example", "*@corvalle.example"}));
    EXPECT_FALSE(win.o.control("Command8").enabled);
    EXPECT_EQ(win.committed(), stored);
}

TEST(Options, AddMovesTheEntryFromTheOppositeListOrRefusesItsForm) {
    struct Case {
        Target target;
        std::string text;
        FilterLists before;
        FilterLists after;
        const char* message; // nullptr: accepted
        bool refusedByTheList = false; // Apply stays as it was
    } cases[] = {
        {ApprovedEmail, "a@x.com", {{"z@z.com"}, {}, {"a@x.com"}, {}}, {{"z@z.com", "a@x.com"}, {}, {}, {}}, nullptr},
        {ApprovedDomain, "x.com", {{}, {}, {}, {"*@x.com"}}, {{}, {"*@x.com"}, {}, {}}, nullptr},
        {BlockedEmail, "a@x.com", {{"a@x.com"}, {}, {"a@x.com"}, {}}, {{}, {}, {"a@x.com"}, {}}, nullptr},
        {BlockedDomain, "x.com", {{}, {"*@x.com"}, {}, {}}, {{}, {}, {}, {"*@x.com"}}, nullptr},
        {ApprovedEmail, " A@x.com ", {}, {{" A@x.com "}, {}, {}, {}}, nullptr},
        {ApprovedEmail, "*@x.com", {}, {{"*@x.com"}, {}, {}, {}}, nullptr},
        {ApprovedEmail, "a@x.com;b@y.com", {}, {}, nullptr, true},
        {ApprovedEmail, "nobody", {}, {}, "Please enter e-mail address."},
        {BlockedEmail, "", {}, {}, "Please enter e-mail address."},
        {ApprovedDomain, "*@x.com", {}, {}, "Please enter domain name."},
        {BlockedDomain, "", {}, {}, "Please enter domain name."},
    };
    for (const Case& c : cases) {
        OpenOptions win(c.before);
        win.add(c.target, c.text);
        SCOPED_TRACE(testing::Message() << c.target << " '" << c.text << "'");
        EXPECT_EQ(win.o.control("Command9").enabled, !c.message && !c.refusedByTheList);
        std::vector<test::ShownBox> boxes;
        if (c.message)
            boxes.push_back({c.message, ui::Buttons::OK, ui::Icon::None, "Skerrow"});
        EXPECT_EQ(win.w.dialogs.boxes, boxes);
        EXPECT_EQ(win.o.control("Text1").caption, c.message ? "" : c.text) << "emptied when refused";
        EXPECT_TRUE(!c.message || win.o.focus() == "Text1") << win.o.focus();
        EXPECT_EQ(win.committed(), c.after);
    }
}

TEST(Options, DeleteTakesTheSelectedEntryOfTheClickedListBackIntoTheText) {
    struct Case {
        const char* view;
        const char* entry;
        FilterLists after;
        const char* text;
    } cases[] = {
        {"ListView1", "a@x.com", {{}, {"*@x.com"}, {"b@y.com"}, {"*@y.com"}}, "a@x.com"},
        {"ListView1", "*@x.com", {{"a@x.com"}, {}, {"b@y.com"}, {"*@y.com"}}, "x.com"},
        {"ListView2", "b@y.com", {{"a@x.com"}, {"*@x.com"}, {}, {"*@y.com"}}, "b@y.com"},
        {"ListView2", "*@y.com", {{"a@x.com"}, {"*@x.com"}, {"b@y.com"}, {}}, "y.com"},
    };
    for (const Case& c : cases) {
        OpenOptions win({{"a@x.com"}, {"*@x.com"}, {"b@y.com"}, {"*@y.com"}});
        win.pick(c.view, c.entry);
        win.o.userClick("Command8");
        EXPECT_EQ(win.o.control("Text1").caption, c.text);
        EXPECT_EQ(win.committed(), c.after) << c.entry;
    }
}

TEST(Options, DeleteStaysOnTheBlockedListAfterAMoveFromApproved) {
    OpenOptions win({{"a@x.com", "c@x.com"}, {}, {"b@y.com"}, {}});
    win.pick("ListView1", "a@x.com");
    win.pick("ListView2", "b@y.com");
    win.o.userClick("Command6");                // moves the Approved selection
    win.o.control("ListView2").selectedRow = 1; // arrowed down to a@x.com
    win.o.userClick("Command8");
    EXPECT_EQ(win.committed(), (FilterLists{{"c@x.com"}, {}, {"b@y.com"}, {}}));
}

TEST(Options, MovesGoByTheEntrysFormAndNeedASelection) {
    OpenOptions win({{"*@odd.com"}, {}, {"b@y.com"}, {"*@y.com"}});
    win.o.userClick("Command5");
    win.o.userClick("Command6");
    EXPECT_FALSE(win.o.control("Command9").enabled) << "no selection, no move";

    win.pick("ListView2", "*@y.com");
    win.o.userClick("Command5");
    win.pick("ListView2", "b@y.com");
    win.o.userClick("Command5");
    // Taken for a domain: Delete finds it in no list, and a move adds it to
    // the blocked domains without taking it out of the approved addresses.
    win.pick("ListView1", "*@odd.com");
    win.o.userClick("Command8");
    win.pick("ListView1", "*@odd.com");
    win.o.userClick("Command6");

    EXPECT_EQ(win.committed(), (FilterLists{{"*@odd.com", "b@y.com"}, {"*@y.com"}, {}, {"*@odd.com"}}));
}

TEST(Options, CancelDropsWhatApplyHasNotCommitted) {
    OpenOptions win({{"z@z.com"}, {}, {}, {}});
    win.w.v.environmentLoaded = win.w.v.listsSafeToStore = true;
    win.w.platform.files[win.w.listFile()] = "";
    win.add(ApprovedEmail, "a@x.com");
    win.o.userClick("Command9");
    EXPECT_FALSE(win.o.control("Command9").enabled);
    win.add(BlockedEmail, "b@y.com");
    win.add(ApprovedDomain, "y.com");
    win.o.userClick("Command2");

    EXPECT_FALSE(win.o.isLoaded());
    EXPECT_EQ(win.w.v.lists(), (FilterLists{{"z@z.com", "a@x.com"}, {}, {}, {}}));
    // Apply stored what it committed at once.
    EXPECT_EQ(parseListFile(win.w.platform.files.at(win.w.listFile())), win.w.v.lists());
}

TEST(Options, ARestoreReplacesTheWorkingCopyWhenTheTabStripGetsTheFocus) {
    struct Case {
        const char* what;
        std::optional<std::string> chosen;
        bool copyFails;
        Texts shownAfterTabClick;
    } cases[] = {
        {"restored", "C:\\saved.flt", false, {"saved@x.com"}},
        {"dialog cancelled", std::nullopt, false, {"old@x.com", "unapplied@x.com"}},
        {"copy failed", "C:\\saved.flt", true, {"old@x.com", "unapplied@x.com"}},
    };
    for (const Case& c : cases) {
        OpenOptions win({{"old@x.com"}, {}, {}, {}});
        win.w.platform.files[win.w.listFile()] = "old@x.com\r\n\r\n\r\n\r\n";
        win.w.platform.files["C:\\saved.flt"] = "saved@x.com\r\n\r\n\r\n\r\n";
        win.add(ApprovedEmail, "unapplied@x.com");
        win.w.dialogs.openAnswers = {c.chosen};
        if (c.copyFails)
            win.w.platform.faults().failAlways("Platform.copyFile");

        win.o.userClick("Command4");
        EXPECT_EQ(win.keys("ListView1"), (Texts{"old@x.com", "unapplied@x.com"})) << c.what;
        win.o.userSelectTab("SSTab1", 1);
        EXPECT_EQ(win.keys("ListView1"), c.shownAfterTabClick) << c.what;
    }
}

TEST(Options, OkRightAfterARestoreKeepsTheRestoredLists) {
    OpenOptions win({{"old@x.com"}, {}, {}, {}});
    win.w.platform.files["C:\\saved.flt"] = "saved@x.com\r\n\r\n*@junk.com\r\n\r\n";
    win.w.dialogs.openAnswers = {"C:\\saved.flt"};
    win.o.userClick("Command4");
    EXPECT_EQ(win.committed(), (FilterLists{{"saved@x.com"}, {}, {"*@junk.com"}, {}}));
}

} // namespace
} // namespace skerrow
