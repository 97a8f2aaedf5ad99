#include "options/options.h"

#include "addin/forms.h"
#include "tests/support/world.h"

#include <gtest/gtest.h>

#include <optional>

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
        c.w.v.setLists({{"other@z.com"}, {"*@z.com"}, {}, {}});
        ASSERT_TRUE(c.o.restoreFilter());

        EXPECT_EQ(c.w.v.lists(), lists) << file;
        EXPECT_EQ(c.w.dialogs.filters, (std::vector<std::string>{filter, filter}));
        EXPECT_EQ(c.w.dialogs.boxes,
                  (std::vector<test::ShownBox>{
                      {"User data backed up successfully", ui::Buttons::OK, ui::Icon::Exclamation, " Backup Settings to File "},
                      {"User data restored successfully", ui::Buttons::OK, ui::Icon::Exclamation, " Restore Settings "}}));
    }
}

TEST(FilterBackup, BackupHoldsTheCommittedListsNotUnappliedEdits) {
    Connected c("a@x.com\r\n\r\n\r\n\r\n");
    c.o.userType("Text1", "unapplied@x.com");
    c.o.userClick("Command7");
    c.w.dialogs.saveAnswers = {"C:\\typed without extension"};
    c.o.userClick("Command3");
    EXPECT_EQ(c.w.platform.files.at("C:\\typed without extension"), "a@x.com\r\n\r\n\r\n\r\n");
}

// A cancelled dialog reports success, a failure does not; neither shows a
// box, and both leave the files and the lists as they were. Only a backup
// stores the lists, before its copy.
TEST(FilterBackup, CancelsAndFailuresChangeNothing) {
    const struct {
        const char* what;
        bool backup;
        std::optional<std::string> answer;
        const char* fault;
        bool noDataFolder, result, saved;
    } cases[] = {
        {"backup cancelled", true, std::nullopt, nullptr, false, true, false},
        {"restore cancelled", false, std::nullopt, nullptr, false, true, false},
        {"backup copy failed", true, chosen, "Platform.copyFile", false, false, true},
        {"restore copy failed", false, chosen, "Platform.copyFile", false, false, false},
        {"restore of a missing file", false, "C:\\missing.flt", nullptr, false, false, false},
        {"backup without a data folder", true, chosen, nullptr, true, false, false},
        {"restore without a data folder", false, chosen, nullptr, true, false, false},
    };
    for (const auto& k : cases) {
        Connected c("a@x.com\r\n*@x.com\r\n\r\n\r\n");
        c.w.v.friendemail = {"changed@x.com"};
        c.w.platform.files[chosen] = "b@x.com\r\n\r\n\r\n\r\n";
        if (k.fault)
            c.w.platform.faults().failAlways(k.fault);
        if (k.noDataFolder)
            c.w.platform.systemDir.reset();
        (k.backup ? c.w.dialogs.saveAnswers : c.w.dialogs.openAnswers) = {k.answer};
        auto files = c.w.platform.files;
        if (k.saved)
            files[c.w.listFile()] = "changed@x.com\r\n*@x.com\r\n\r\n\r\n";

        EXPECT_EQ(k.backup ? c.o.backupFilter() : c.o.restoreFilter(), k.result) << k.what;
        EXPECT_EQ(c.w.platform.files, files) << k.what;
        EXPECT_EQ(c.w.v.lists(), (FilterLists{{"changed@x.com"}, {"*@x.com"}, {}, {}})) << k.what;
        EXPECT_TRUE(c.w.dialogs.boxes.empty()) << k.what;
    }
}

TEST(FilterBackup, ARestoredFileThatCannotBeReadIsAFailure) {
    Connected c("a@x.com\r\n\r\n\r\n\r\n");
    c.w.platform.files[chosen] = "b@x.com\r\n\r\n\r\n\r\n";
    c.w.platform.faults().failAlways("Platform.readTextFile");
    c.w.dialogs.openAnswers = {chosen};
    EXPECT_FALSE(c.o.restoreFilter());
    EXPECT_TRUE(c.w.dialogs.boxes.empty());
}

} // namespace
} // namespace skerrow
