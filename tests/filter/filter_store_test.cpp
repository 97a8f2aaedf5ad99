#include "filter/filter_store.h"

#include "tests/support/world.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>

namespace skerrow {
namespace {

using test::World;

TEST(ListOperations, AddAppendsUntrimmedAndRefusesBlankDuplicateSeparatorLineBreakAndFallback) {
    const FilterList start{"a@x.com"};
    struct Case {
        const char* value;
        std::vector<std::string> expected;
    } cases[] = {
        {"b@x.com", {"a@x.com", "b@x.com"}},
        {" b@x.com ", {"a@x.com", " b@x.com "}},
        {"   ", {"a@x.com"}},
        {"", {"a@x.com"}},
        {"a@x.com", {"a@x.com"}},
        {"A@x.com", {"a@x.com", "A@x.com"}},
        {"x;boss@company.com", {"a@x.com"}},
        {"x@y.com\r\nboss@company.com", {"a@x.com"}},
        {"x@y.com\nboss@company.com", {"a@x.com"}},
        {"tab\t@y.com", {"a@x.com"}},
        {"unknown-sender@sender.invalid", {"a@x.com"}},
        {"*@sender.invalid", {"a@x.com"}},
    };
    for (const Case& c : cases) {
        const FilterList result = addToArray(start, c.value);
        EXPECT_EQ(result.entries(), c.expected) << c.value;
        EXPECT_EQ(start.entries(), std::vector<std::string>{"a@x.com"}) << "the argument must not change";
    }
}

TEST(ListOperations, DeleteRemovesEveryEqualEntryAndMembershipIsExact) {
    const FilterList list(std::vector<std::string>{"a", "b", "a", ""});
    EXPECT_EQ(delFromArray(list, "a").entries(), (std::vector<std::string>{"b", ""}));
    const FilterList only = delFromArray(FilterList{"a"}, "a");
    EXPECT_TRUE(only.empty());
    EXPECT_FALSE(isInArray(only, ""));
    EXPECT_TRUE(isInArray(list, ""));
}

// Entries of every length up to the hash's eight-byte steps and past them,
// each beside neighbours that differ from it in one byte only, appended
// after a run of duplicates such as a list file may hold.
TEST(ListOperations, MembershipIsExactForEntriesThatDifferInOneByte) {
    std::vector<std::string> entries;
    for (std::size_t size = 1; size <= 26; ++size)
        for (std::size_t at = 0; at < size; ++at) {
            std::string entry(size, 'a');
            entry[at] = 'b';
            entries.push_back(entry);
        }
    FilterList list(std::vector<std::string>(40, "dup"));
    for (std::size_t i = 0; i < entries.size(); i += 2)
        list = addToArray(std::move(list), entries[i]);
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(isInArray(list, entries[i]), i % 2 == 0) << entries[i];
    EXPECT_FALSE(isInArray(list, std::string(26, 'a')));
    EXPECT_TRUE(isInArray(list, "dup"));
    EXPECT_EQ(list.size(), 40 + (entries.size() + 1) / 2);
}

// Appending many at once must give the list that one addToArray after
// another gives: same order, blanks and separators refused, duplicates
// within the batch and against the list left out, through index rebuilds.
TEST(ListOperations, AppendingManyAtOnceEqualsAppendingOneByOne) {
    std::mt19937 random(11);
    const auto value = [&] {
        switch (random() % 12) {
        case 0:
            return std::string();
        case 1:
            return std::string("  ");
        case 2:
            return "x;" + std::to_string(random() % 5) + "@y.com";
        default:
            return "a" + std::to_string(random() % 700) + "@x.com";
        }
    };
    FilterList oneByOne{"a1@x.com", "a1@x.com", "dup@x.com"};
    FilterList batched = oneByOne;
    for (int round = 0; round < 12; ++round) {
        std::vector<std::string> batch(random() % 300);
        for (auto& v : batch) {
            v = value();
            oneByOne = addToArray(std::move(oneByOne), v);
        }
        batched.appendEach(std::move(batch));
        ASSERT_EQ(batched.entries(), oneByOne.entries()) << "round " << round;
    }
    EXPECT_GT(batched.size(), 400u) << "the rounds must have appended enough to rebuild the index";
}

TEST(ListFile, ParsesShortLongAndOddFiles) {
    struct Case {
        std::string text;
        FilterLists expected;
    } cases[] = {
        {"a;b\r\n*@x.com\r\n", {{"a", "b"}, {"*@x.com"}, {}, {}}},
        {"a;;b\n\n\nlast", {{"a", "", "b"}, {}, {}, {"last"}}},
        {"1\r\n2\r\n3\r\n4\r\n5\r\n", {{"1"}, {"2"}, {"3"}, {"4"}}},
        {std::string("a\0b;c\r\n", 7), {{std::string("a\0b", 3), "c"}, {}, {}, {}}},
        {";\r\n", {{"", ""}, {}, {}, {}}},
        {"", {}},
        {"\r\r\n", {{"\r"}, {}, {}, {}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseListFile(c.text), c.expected) << c.text;
}

// A very long line loads whole.
TEST(ListFile, RoundTripKeepsOrderDuplicatesAndBlanks) {
    FilterLists lists{FilterList(std::vector<std::string>{"b", "a", "b"}), {"*@x.com"}, {}, {" sp "}};
    for (int i = 0; i < 50000; ++i)
        lists.enemyemail = addToArray(std::move(lists.enemyemail), "user" + std::to_string(i) + "@example.com");
    EXPECT_EQ(parseListFile(formatListFile(lists)), lists);
}

TEST(LoadFilter, MissingFileIsCreatedEmptyAndListsAreReplacedWholeByEachLine) {
    World w;
    w.v.friendemail = FilterList{"stale@x.com"};
    EXPECT_TRUE(loadFilter(w.v));
    EXPECT_EQ(w.platform.files.at(w.listFile()), "");
    EXPECT_EQ(w.v.lists(), FilterLists{});
    w.platform.files[w.listFile()] = "f@x.com\r\n*@friend.com\r\ne@y.com\r\n*@spam.com\r\n";
    EXPECT_TRUE(loadFilter(w.v));
    EXPECT_EQ(w.v.lists(), (FilterLists{{"f@x.com"}, {"*@friend.com"}, {"e@y.com"}, {"*@spam.com"}}));
    EXPECT_EQ(readFilterLine(w.v, 3), FilterList{"e@y.com"});
    EXPECT_TRUE(readFilterLine(w.v, 5).empty());
}

TEST(LoadFilter, UnreadableFileGivesEmptyListsThatNeverReplaceIt) {
    World w;
    const std::string kept = "f@x.com\r\n\r\n\r\n\r\n";
    w.platform.files[w.listFile()] = kept;
    w.platform.faults().failAlways("Platform.readTextFile");
    EXPECT_FALSE(loadFilter(w.v));
    EXPECT_TRUE(w.v.friendemail.empty());
    w.v.enemyemail = addToArray(w.v.enemyemail, "new@spam.com");
    saveFilter(w.v);
    EXPECT_EQ(w.platform.files.at(w.listFile()), kept);
}

// The file as loaded, this process's changes, the file as another process
// left it meanwhile (nothing: removed), and the file after the save.
TEST(SaveFilter, AppliesThisProcesssChangesToWhatIsStoredNow) {
    struct Case {
        const char* what;
        const char* loaded;
        std::function<void(Varient&)> change;
        std::optional<std::string> storedNow;
        std::optional<std::string> saved;
    } cases[] = {
        {"alone: the lists as in memory, in their order", "a@x.com;b@x.com\r\n\r\n\r\n\r\n",
         [](Varient& v) {
             v.friendemail = delFromArray(v.friendemail, "a@x.com");
             v.friendemail = addToArray(v.friendemail, "a@x.com");
         },
         "a@x.com;b@x.com\r\n\r\n\r\n\r\n", "b@x.com;a@x.com\r\n\r\n\r\n\r\n"},
        {"another process added and removed entries meanwhile", "a@x.com;b@x.com\r\n\r\nx@spam.com\r\n\r\n",
         [](Varient& v) {
             v.friendemail = delFromArray(v.friendemail, "a@x.com");
             v.enemyemail = addToArray(v.enemyemail, "y@spam.com");
         },
         "a@x.com;b@x.com;c@x.com\r\n\r\n\r\n*@junk.com\r\n", "b@x.com;c@x.com\r\n\r\ny@spam.com\r\n*@junk.com\r\n"},
        {"nothing changed: the file is not rewritten", "a@x.com\n", [](Varient&) {}, "a@x.com\n", "a@x.com\n"},
        {"the same change made meanwhile: the file is not rewritten", "a@x.com\n",
         [](Varient& v) { v.enemyemail = addToArray(v.enemyemail, "a@x.com"); },
         "a@x.com\n\na@x.com\r\n", "a@x.com\n\na@x.com\r\n"},
        {"removed meanwhile: not made again", "", [](Varient& v) { v.friendemail = addToArray(v.friendemail, "a@x.com"); },
         std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        World w;
        w.platform.files[w.listFile()] = c.loaded;
        ASSERT_TRUE(loadFilter(w.v)) << c.what;
        c.change(w.v);
        w.platform.files.erase(w.listFile());
        if (c.storedNow)
            w.platform.files[w.listFile()] = *c.storedNow;
        EXPECT_EQ(saveFilter(w.v), c.saved.has_value()) << c.what;
        const auto file = w.platform.files.find(w.listFile());
        EXPECT_EQ(file == w.platform.files.end() ? std::nullopt : std::optional(file->second), c.saved) << c.what;
    }
}

// The path falls back to the separator and a hundred "X" for the name.
TEST(SaveFilter, NoDataFolderMeansNoListFileAnywhere) {
    World w;
    w.platform.systemDir.reset();
    w.platform.user.reset();
    EXPECT_EQ(listFilePath(w.v), "\\" + std::string(100, 'X'));
    EXPECT_FALSE(loadFilter(w.v));
    w.v.friendemail = addToArray(w.v.friendemail, "a@x.com");
    EXPECT_FALSE(saveFilter(w.v));
    EXPECT_TRUE(w.platform.files.empty());
}

TEST(SaveFilter, FailedWriteKeepsTheOldContentAndTheChangesForTheNextSave) {
    World w;
    w.platform.files[w.listFile()] = "old\r\n\r\n\r\n\r\n";
    loadFilter(w.v);
    w.platform.faults().failOnce("Platform.replaceTextFile");
    w.v.friendemail = FilterList{"new@x.com"};
    EXPECT_FALSE(saveFilter(w.v));
    EXPECT_EQ(w.platform.files.at(w.listFile()), "old\r\n\r\n\r\n\r\n");
    EXPECT_TRUE(saveFilter(w.v));
    EXPECT_EQ(w.platform.files.at(w.listFile()), "new@x.com\r\n\r\n\r\n\r\n");
}

// A large book is read in batches; entries and duplicates across the
// batches' edges come out as from one long list.
TEST(ImportAddressBook, LargeBooksKeepOrderAcrossBatches) {
    World w;
    std::vector<std::string> book;
    const auto contacts = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            book.push_back("c" + std::to_string(i) + "@x.com");
    };
    contacts(0, 400);
    contacts(0, 200);
    contacts(400, 800);
    // Each once, in order, but for the one that cannot be read.
    std::vector<std::string> expected(book.begin(), book.begin() + 400);
    expected.insert(expected.end(), book.begin() + 600, book.end());
    expected.erase(expected.begin() + 300);
    w.host.addAddressList("Contacts", book);
    w.host.faults().failAlwaysFor("AddressEntry.Address", "c300@x.com");
    importAddressBook(w.v, w.app());
    EXPECT_EQ(w.v.friendemail.entries(), expected);
}

TEST(ImportAddressBook, SkipsWhatCannotBeReadAndKeepsTheRest) {
    World w;
    w.host.addAddressList("Contacts", {"a@x.com", "bad@x.com", "c@x.com"});
    w.host.addAddressList("Global", {"/o=corp/cn=boss"}); // taken as it is
    w.host.faults().failAlwaysFor("AddressEntry.Address", "bad@x.com");
    w.host.faults().failOnce("AddressList.AddressEntries");
    importAddressBook(w.v, w.app());
    // The first list's entries failed once as a whole; the second was read.
    EXPECT_EQ(w.v.friendemail.entries(), (std::vector<std::string>{"/o=corp/cn=boss"}));
    w.host.faults().clearAll();
    w.host.faults().failAlwaysFor("AddressEntry.Address", "bad@x.com");
    importAddressBook(w.v, w.app());
    EXPECT_EQ(w.v.friendemail.entries(), (std::vector<std::string>{"a@x.com", "c@x.com", "/o=corp/cn=boss"}));
}

} // namespace
} // namespace skerrow
