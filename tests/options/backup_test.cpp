#include "options/options.h"

#include "addin/forms.h"
#include "tests/support/world.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace skerrow {
namespace {

constexpr const char* chosen = "C:\\My Documents\\lists.flt";
constexpr const char* filter = "anti filter(*.flt)|*.flt";

// A connected add-in, whose lists were read from the list file.
struct Connected {
    test::World w;
    Options& o = w.v.forms().optionsWindow();

    explicit Connected(const std::string& listFile) {
        w.platform.files[w.listFile()] = listFile;
        EXPECT_TRUE(loadFilter(w.v));
    }
};

TEST(FilterBackup, RoundTripGivesBackTheListsExactly) {
    const FilterLists cases[] = {
        {{"a@x.com", "b@x.com"}, {}, {"c@y.com"}, {"*@y.com"}},
        {{"a@x.com", "a@x.com", "support@corvalle.example"}, {"*@corvalle.example"}, {"a@x.com"}, {}},
        {},
    };
    for (const FilterLists& lists : cases) {
        Connected c("stale\r\n");
        c.w.v.setLists(lists);
        c.w.dialogs.saveAnswers = {chosen};
        c.w.dialogs.openAnswers = {chosen};

        ASSERT_TRUE(c.o.backupFilter());
        const std::string file = c.w.platform.files.at(chosen);
        EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 4) << file;
        c.w.v.setLists({{"other@z.com"}, {"*@z.com"}, {}, {}});
        ASSERT_TRUE(c.o.restoreFilter());

        EXPECT_EQ(c.w.v.lists(), lists) << file;
        EXPECT_EQ(c.w.dialogs.filters, (std::vector<std::string>{filter, filter}));
        ASSERT_EQ(c.w.dialogs.boxes.size(), 2u);
        EXPECT_EQ(c.w.dialogs.boxes[0].text, "User data backed up successfully");
        EXPECT_EQ(c.w.dialogs.boxes[0].title, " Backup Settings to File ");
        EXPECT_EQ(c.w.dialogs.boxes[1].text, "User data restored successfully");
        EXPECT_EQ(c.w.dialogs.boxes[1].title, " Restore Settings ");
        for (const test::ShownBox& box : c.w.dialogs.boxes) {
            EXPECT_EQ(box.icon, ui::Icon::Exclamation);
            EXPECT_EQ(box.buttons, ui::Buttons::OK);
        }
    }
}

TEST(FilterBackup, RestoreTakesAnyFileAndMissingLinesEmptyTheirLists) {
    Connected c("a@x.com\r\n*@x.com\r\nb@y.com\r\n*@y.com\r\n");
    c.w.platform.files["C:\\two lines.txt"] = "new@x.com;other@x.com\r\n\r\n";
    c.w.dialogs.openAnswers = {"C:\\two lines.txt"};
    EXPECT_TRUE(c.o.restoreFilter());
    EXPECT_EQ(c.w.v.lists(), (FilterLists{{"new@x.com", "other@x.com"}, {}, {}, {}}));
}

TEST(FilterBackup, BackupHoldsTheCommittedListsNotUnappliedEdits) {
    Connected c("a@x.com\r\n\r\n\r\n\r\n");
    c.o.userType("Text1", "unapplied@x.com");
    c.o.userClick("Command7");
    c.w.dialogs.saveAnswers = {"C:\\typed without extension"};
    c.o.userClick("Command3");
    EXPECT_EQ(c.w.platform.files.at("C:\\typed without extension"), "a@x.com\r\n\r\n\r\n\r\n");
}

TEST(FilterBackup, CancelledDialogsReportSuccessAndDoNothing) {
    Connected c("a@x.com\r\n\r\n\r\n\r\n");
    c.w.v.friendemail = {"changed@x.com"};
    const auto files = c.w.platform.files;
    EXPECT_TRUE(c.o.backupFilter());
    EXPECT_TRUE(c.o.restoreFilter());
    EXPECT_EQ(c.w.platform.files, files) << "not even saved";
    EXPECT_EQ(c.w.v.friendemail, FilterList{"changed@x.com"});
    EXPECT_TRUE(c.w.dialogs.boxes.empty());
}

TEST(FilterBackup, AFailedRestoreCopyLeavesListFileAndListsAsTheyWere) {
    for (const bool chosenExists : {true, false}) {
        const std::string listFile = "a@x.com\r\n*@x.com\r\n\r\n\r\n";
        Connected c(listFile);
        if (chosenExists) {
            c.w.platform.files[chosen] = "\r\n\r\n\r\n\r\n";
            c.w.platform.faults().failAlways("Platform.copyFile");
        }
        c.w.dialogs.openAnswers = {chosen};

        EXPECT_FALSE(c.o.restoreFilter());
        EXPECT_EQ(c.w.platform.files.at(c.w.listFile()), listFile);
        EXPECT_EQ(c.w.v.lists(), (FilterLists{{"a@x.com"}, {"*@x.com"}, {}, {}}));
        EXPECT_TRUE(c.w.dialogs.boxes.empty());
    }
}

TEST(FilterBackup, WithoutADataFolderNothingIsCopiedEitherWay) {
    Connected c("a@x.com\r\n\r\n\r\n\r\n");
    c.w.platform.systemDir.reset();
    c.w.platform.files[chosen] = "b@x.com\r\n\r\n\r\n\r\n";
    c.w.dialogs.openAnswers = {chosen};
    c.w.dialogs.saveAnswers = {"C:\\backup.flt"};
    const auto files = c.w.platform.files;
    EXPECT_FALSE(c.o.restoreFilter());
    EXPECT_FALSE(c.o.backupFilter());
    EXPECT_EQ(c.w.platform.files, files);
}

TEST(FilterBackup, ARestoredFileThatCannotBeReadIsAFailure) {
    Connected c("a@x.com\r\n\r\n\r\n\r\n");
    c.w.platform.files[chosen] = "b@x.com\r\n\r\n\r\n\r\n";
    c.w.platform.faults().failAlways("Platform.readTextFile");
    c.w.dialogs.openAnswers = {chosen};
    EXPECT_FALSE(c.o.restoreFilter());
    EXPECT_TRUE(c.w.dialogs.boxes.empty());
}

TEST(FilterBackup, AFailedBackupLeavesNoFileUnderTheChosenName) {
    Connected c("a@x.com\r\n\r\n\r\n\r\n");
    c.w.v.friendemail = {"a@x.com", "b@x.com"};
    c.w.platform.faults().failAlwaysFor("Platform.copyFile", chosen);
    c.w.dialogs.saveAnswers = {chosen};

    EXPECT_FALSE(c.o.backupFilter());
    EXPECT_FALSE(c.w.platform.files.contains(chosen));
    EXPECT_TRUE(c.w.dialogs.boxes.empty());
    EXPECT_EQ(c.w.platform.files.at(c.w.listFile()), "a@x.com;b@x.com\r\n\r\n\r\n\r\n") << "saved before the copy";
}

} // namespace
} // namespace skerrow
