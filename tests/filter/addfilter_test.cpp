#include "filter/addfilter.h"

#include "addin/forms.h"
#include "filter/filter_store.h"
#include "filter/sender.h"
#include "tests/support/world.h"

#include <gtest/gtest.h>

namespace skerrow {
namespace {

using test::World;

void select(World& w, std::vector<std::shared_ptr<host::Item>> items) {
    w.host.explorer()->showFolder(w.host.inbox());
    w.host.explorer()->select(std::move(items));
}

// The user replaces the prefilled text and confirms.
test::FakeWindowManager::Script typeAndConfirm(std::string text) {
    return [text](ui::Window& dialog) {
        dialog.userType("Text1", text);
        dialog.userClick("Command1");
        EXPECT_FALSE(dialog.isLoaded()) << "OK closes the dialog";
    };
}

TEST(AddFilter, ConfirmingPutsTheEntryOnItsListAndTakesItOffTheOpposite) {
    struct Case {
        const char* listKey;
        std::string typed;
        FilterLists before;
        FilterLists after;
    } cases[] = {
        {"friendemail", "amy@x.com", {{}, {}, {"amy@x.com", "b@y.com"}, {}}, {{"amy@x.com"}, {}, {"b@y.com"}, {}}},
        {"enemyemail", "amy@x.com", {{"amy@x.com"}, {}, {}, {}}, {{}, {}, {"amy@x.com"}, {}}},
        {"frienddomain", "x.com", {{}, {}, {}, {"*@x.com"}}, {{}, {"*@x.com"}, {}, {}}},
        {"enemydomain", "x.com", {{}, {"*@x.com"}, {}, {}}, {{}, {}, {}, {"*@x.com"}}},
        {"friendemail", " ", {}, {}},
        {"frienddomain", " ", {}, {{}, {"*@ "}, {}, {}}},
        {"enemydomain", "*@x.com", {}, {{}, {}, {}, {"*@*@x.com"}}},
        {"friendemail", "Amy@X.com ", {{}, {}, {"amy@x.com"}, {}}, {{"Amy@X.com "}, {}, {"amy@x.com"}, {}}},
        {"friendemail", "a@x.com;boss@y.com", {}, {}},
        {"blacklist", "x.com", {}, {}},
    };
    for (const Case& c : cases) {
        World w;
        w.v.setLists(c.before);
        // Loaded from a list file, so the lists may be stored.
        w.v.environmentLoaded = w.v.listsSafeToStore = true;
        w.platform.files[w.listFile()] = "";
        select(w, {w.mail("amy@x.com")});
        w.windows.onModal("addFilter", typeAndConfirm(c.typed));

        addSenderDialog(w.v, w.app(), c.listKey);

        EXPECT_EQ(w.v.lists(), c.after) << c.listKey << " '" << c.typed << "'";
        // Stored at once: the host may end without disconnecting the add-in.
        EXPECT_EQ(parseListFile(w.platform.files.at(w.listFile())), c.after) << c.listKey;
    }
}

// Prefilled with the sender's domain for a domain list (the address for an
// address list is the next test's). Without a selection or a main window
// nothing shows.
TEST(AddFilter, OneDialogPerSelectedMailPrefilledAndCancelDoesNotStopTheNext) {
    World w;
    std::vector<std::string> seen;
    auto record = [&](ui::Window& d) {
        EXPECT_EQ(d.caption, "Add Sender");
        EXPECT_EQ(w.v.forms().addFilterDialog().AddFilterObjectName, "enemydomain");
        seen.push_back(d.control("Text1").caption);
    };
    w.windows.onModal("addFilter", [&](ui::Window& d) { record(d); d.userDefault(); });
    w.windows.onModal("addFilter", [&](ui::Window& d) { record(d); d.userCancel(); });
    w.windows.onModal("addFilter", [&](ui::Window& d) { record(d); d.userClick("Command1"); });

    w.host.explorer()->selectNothing();
    addSenderDialog(w.v, w.app(), "enemydomain");
    select(w, {});
    addSenderDialog(w.v, w.app(), "enemydomain");
    select(w, {w.mail("amy@x.com"), w.host.inbox()->addOther("MeetingItem"), w.mail("bob@y.com"), w.mail("cat@z.com")});
    addSenderDialog(w.v, w.app(), "enemydomain");
    w.host.removeExplorer();
    addSenderDialog(w.v, w.app(), "enemydomain");

    EXPECT_EQ(seen, (std::vector<std::string>{"x.com", "y.com", "z.com"}));
    EXPECT_EQ(w.v.enemydomain, (FilterList{"*@x.com", "*@z.com"}));
}

TEST(AddFilter, OkFollowsTheTextAndIsOffAtEveryLoad) {
    World w;
    select(w, {w.mail("amy@x.com")});
    std::vector<std::string> steps;
    auto state = [&](ui::Window& d) {
        steps.push_back(std::string(d.control("Command1").enabled ? "on/" : "off/") + d.defaultButton);
    };
    w.windows.onModal("addFilter", [&](ui::Window& d) {
        EXPECT_EQ(d.control("Text1").caption, "amy@x.com");
        state(d);
        d.userType("Text1", "");
        state(d);
        d.userDefault(); // Enter now cancels
    });

    addSenderDialog(w.v, w.app(), "friendemail");
    addFilter& dialog = w.v.forms().addFilterDialog();
    dialog.load();
    state(dialog);

    EXPECT_EQ(steps, (std::vector<std::string>{"on/Command1", "off/Command2", "off/Command2"}));
    EXPECT_EQ(w.v.lists(), FilterLists{});
}

} // namespace
} // namespace skerrow
