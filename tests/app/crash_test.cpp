// `skerrow check` killed at any moment: no message is lost, duplicated or
// changed, and the list and settings files are old or new, never partial.
#include "tests/app/app_fixture.h"

#include <signal.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

namespace skerrow::test {
namespace {

TEST_F(CheckTest, KilledAtAnyMomentItLosesNoMailAndLeavesItsFilesWhole) {
    writeLists({"pal@friends.example"}, {}, {"spammer@junk.example"}, {"*@junk.example"});
    ASSERT_EQ(check({"--address", ownAddress}).status, 0); // the settings file, as a user has it
    const fs::path settings = configHome / "skerrow" / "settings";
    const std::string oldLists = readFile(listFile());
    const std::string oldSettings = readFile(settings);

    std::map<std::string, std::string> mails; // by Message-ID
    std::set<std::string> junk;                // what a whole run moves to .Trash
    for (int i = 0; i < 3000; ++i) {
        const std::string id = "<m" + std::to_string(i) + "@test>";
        const char* senders[] = {"spammer@junk.example", "bulk@junk.example", "pal@friends.example", "who@else.example"};
        const std::string text =
            mailText({std::string("From: ") + senders[i % 4], std::string("To: ") + (i % 5 ? ownAddress : "x@else.example"),
                      "Subject: mail " + std::to_string(i), "Message-ID: " + id},
                     "Body of mail " + std::to_string(i) + ".\n");
        const std::string name = std::to_string(1700000000 + i) + ".M" + std::to_string(i) + ".host";
        put(i % 3 ? "new" : "cur", i % 3 ? name : name + ":2,S", text);
        mails[id] = text;
        if (i % 4 < 2 || i % 5 == 0)
            junk.insert(id);
    }

    auto verify = [&](const std::string& when) {
        const auto places = locate();
        EXPECT_EQ(places.size(), mails.size()) << when;
        for (const auto& [id, where] : places) {
            ASSERT_EQ(where.size(), 1u) << when << ": " << id << " in " << where.size() << " places";
            ASSERT_TRUE(mails.contains(id)) << when << ": " << where[0];
            EXPECT_EQ(readFile(maildir / where[0]), mails[id]) << when << ": " << where[0];
        }
        EXPECT_EQ(readFile(listFile()), oldLists) << when;
        const std::string now = readFile(settings);
        if (now != oldSettings) { // a newer whole file: every line ended, the total there
            EXPECT_TRUE(now.ends_with('\n')) << when << ": " << now;
            EXPECT_TRUE(setting("HaveAutoDeleteCount").has_value()) << when << ": " << now;
        }
    };

    const std::vector<std::string> argv{SKERROW_BINARY, "check", "--maildir", maildir.string(), "--address", ownAddress};
    std::mt19937 random(20261207);
    int killed = 0;
    int windowMs = 400; // shrinks when runs end before their kill
    // Rounds until enough kills: a faster program ends more runs unkilled.
    for (int round = 0; round < 40 && killed < 8; ++round) {
        const pid_t pid = startProgram(argv, environment(), "/dev/null", "/dev/null");
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % windowMs));
        ::kill(pid, SIGKILL);
        if (waitProgram(pid) == 128 + SIGKILL)
            ++killed;
        else
            windowMs = std::max(5, windowMs / 2);
        verify("after run " + std::to_string(round));
    }
    EXPECT_GE(killed, 6) << "too few runs were killed while working";
    RecordProperty("killed", killed);

    const Outcome last = check({"--address", ownAddress});
    EXPECT_EQ(last.status, 0) << last.err;
    verify("after a whole run");
    for (const auto& [id, where] : locate())
        EXPECT_EQ(where.at(0).starts_with(".Trash/cur/"), junk.contains(id)) << where.at(0);
}

} // namespace
} // namespace skerrow::test
