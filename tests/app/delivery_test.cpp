// A delivery agent and a mail reader at work while checks run: maildrop
// writes into the Inbox, a reader marks mail read (new/ to cur/), and
// `skerrow check` runs again and again over the same Maildir.
#include "tests/app/app_fixture.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace skerrow::test {
namespace {

// Mail i by i % 4: from a blacklisted address, from a blacklisted domain, not
// addressed to the user, from a stranger. Only the last stays in the Inbox.
std::string deliveryText(int i) {
    const std::string n = std::to_string(i);
    const std::string senders[] = {"spammer" + std::to_string(i % 3) + "@junk.example", "bulk" + n + "@bad.example",
                                   "someone" + n + "@strangers.example", "someone" + n + "@strangers.example"};
    const std::string to = i % 4 == 2 ? "list@lists.example" : ownAddress;
    return mailText({"From: " + senders[i % 4], "To: " + to, "Subject: delivery " + n, "Message-ID: <" + n + "@delivery.test>"},
                    "Message " + n + ".\n" + std::string(static_cast<std::size_t>(i % 7) * 300, 'x') + "\n");
}

TEST_F(CheckTest, MailDeliveredAndReadWhileChecksRunEndsInInboxOrTrashExactlyOnce) {
    const auto maildrop = findProgram("maildrop");
    if (!maildrop)
        GTEST_SKIP() << "maildrop is not installed (Debian package maildrop)";
    constexpr int messages = 360;
    constexpr int deliverers = 2;

    writeLists({}, {}, {"spammer0@junk.example", "spammer1@junk.example", "spammer2@junk.example"}, {"*@bad.example"});
    const fs::path filter = dir / "maildroprc";
    writeFile(filter, "UMASK=\"022\"\nto \"" + maildir.string() + "/\"\n");
    fs::permissions(filter, fs::perms::owner_read | fs::perms::owner_write);
    for (int i = 0; i < messages; ++i)
        writeFile(dir / "outgoing" / std::to_string(i), deliveryText(i));

    std::atomic<int> deliverersLeft{deliverers};
    std::mutex failuresLock;
    std::vector<std::string> failures;
    auto fail = [&](std::string what) {
        std::lock_guard lock(failuresLock);
        failures.push_back(std::move(what));
    };

    std::vector<std::thread> threads;
    for (int d = 0; d < deliverers; ++d)
        threads.emplace_back([&, d] {
            for (int i = d; i < messages; i += deliverers) {
                const Outcome run = runProgram({maildrop->string(), filter.string()}, environment(),
                                               dir / "outgoing" / std::to_string(i));
                if (run.status != 0)
                    fail("maildrop of message " + std::to_string(i) + " exited " + std::to_string(run.status) + ": " + run.err);
            }
            --deliverersLeft;
        });
    // A mail reader: marks every other new mail read, as a client opening
    // it would (one rename from new/ to cur/ adding the S flag).
    threads.emplace_back([&] {
        std::size_t seen = 0;
        while (deliverersLeft > 0) {
            for (const auto& name : files("new"))
                if (seen++ % 2 == 0) {
                    std::error_code gone; // the check may have moved it first
                    fs::rename(maildir / "new" / name, maildir / "cur" / (name + ":2,S"), gone);
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    int checksDuringDelivery = 0;
    while (deliverersLeft > 0) {
        const Outcome run = check({"--address", ownAddress});
        if (run.status != 0 || !run.err.empty())
            fail("a check during delivery exited " + std::to_string(run.status) + ": " + run.err);
        ++checksDuringDelivery;
    }
    for (auto& thread : threads)
        thread.join();
    const Outcome last = check({"--address", ownAddress});

    EXPECT_EQ(failures, std::vector<std::string>{});
    ASSERT_EQ(last.status, 0) << last.err;
    EXPECT_GE(checksDuringDelivery, 2) << "the checks did not overlap the deliveries";
    RecordProperty("checks_during_delivery", checksDuringDelivery);

    // Each mail in one place: the Trash's for all but the strangers'.
    std::map<std::string, std::vector<std::string>> expected;
    int blacklisted = 0;
    for (int i = 0; i < messages; ++i) {
        blacklisted += i % 4 < 2;
        expected["<" + std::to_string(i) + "@delivery.test>"] = {i % 4 == 3 ? "Inbox" : "Trash"};
    }
    auto places = locate();
    for (auto& [id, where] : places)
        for (auto& place : where)
            place = place.starts_with(".Trash/") ? "Trash" : "Inbox";
    EXPECT_EQ(places, expected);
    EXPECT_EQ(files(".Trash/new"), std::vector<std::string>{}) << "mail moved to Trash goes to its cur/";
    EXPECT_EQ(setting("HaveAutoDeleteCount"), std::to_string(blacklisted))
        << "each blacklisted mail is counted once, by the check that moved it";
}

} // namespace
} // namespace skerrow::test
