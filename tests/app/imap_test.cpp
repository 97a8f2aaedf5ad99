// Dovecot serving the Maildir that a check has worked on: what an IMAP
// client sees must agree with what the check did and with what it took
// for unread. Dovecot runs as its pre-authenticated stdio process with a
// config of its own; its index and control files stay outside the Maildir.
#include "tests/app/app_fixture.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <sstream>

namespace skerrow::test {
namespace {

const fs::path dovecotImap = "/usr/lib/dovecot/imap";

struct ImapMessage {
    std::set<std::string> flags; // without \Recent, which only says who saw it first
};

struct Mailbox {
    int messages = -1;
    int unseen = -1;
    std::map<std::string, ImapMessage> byMessageId;
};

class ImapTest : public CheckTest {
protected:
    void SetUp() override {
        CheckTest::SetUp();
        if (!fs::exists(dovecotImap))
            GTEST_SKIP() << dovecotImap << " is missing (Debian package dovecot-imapd)";
        // Dovecot will not give root mail access: it reads as nobody.
        const passwd* nobody = ::getpwnam("nobody");
        const group* nogroup = ::getgrnam("nogroup");
        if (!nobody || !nogroup)
            GTEST_SKIP() << "no user nobody or group nogroup to serve the Maildir as";
        uid = nobody->pw_uid;
        gid = nogroup->gr_gid;
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        fs::create_directories(dir / "dovecot");
        writeFile(dir / "dovecot" / "dovecot.conf",
                  "mail_location = maildir:" + maildir.string() + ":INDEX=" + (dir / "dovecot" / "index").string() +
                      ":CONTROL=" + (dir / "dovecot" / "control").string() + "\n" +
                      "namespace inbox {\n  inbox = yes\n  separator = /\n}\n"
                      "mail_uid = nobody\nmail_gid = nogroup\nssl = no\n"
                      "log_path = " + (dir / "dovecot" / "log").string() + "\n");
    }

    // Hands everything the check made (as root) over to Dovecot's user.
    void shareWithDovecot() {
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            ASSERT_EQ(::lchown(entry.path().c_str(), uid, gid), 0) << entry.path();
    }

    // One read-only session; fails the test unless every command completed.
    std::string imap(const std::vector<std::string>& commands) {
        std::string script;
        for (std::size_t i = 0; i < commands.size(); ++i)
            script += "a" + std::to_string(i) + " " + commands[i] + "\r\n";
        script += "z LOGOUT\r\n";
        const Outcome run = runProgramWithInput({dovecotImap.string(), "-c", (dir / "dovecot" / "dovecot.conf").string()},
                                                {"USER=" + loginName(), "HOME=" + (dir / "dovecot").string(),
                                                 "PATH=/usr/bin:/bin"},
                                                script);
        EXPECT_EQ(run.status, 0) << run.err << readFile(dir / "dovecot" / "log");
        for (std::size_t i = 0; i < commands.size(); ++i)
            EXPECT_NE(run.out.find("\r\na" + std::to_string(i) + " OK"), std::string::npos)
                << commands[i] << " failed:\n" << run.out << readFile(dir / "dovecot" / "log");
        return run.out;
    }

    // What an IMAP client sees of one mailbox, opened read-only.
    Mailbox mailbox(const std::string& name) {
        const std::string out = imap({"STATUS " + name + " (MESSAGES UNSEEN)", "EXAMINE " + name,
                                      "FETCH 1:* (FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])"});
        Mailbox box;
        static const std::regex status(R"(\* STATUS "?\w+"? \(MESSAGES (\d+) UNSEEN (\d+)\))");
        static const std::regex fetch(R"(^\* \d+ FETCH \(FLAGS \(([^)]*)\))");
        static const std::regex messageId(R"(^Message-ID: *(.*)$)", std::regex::icase);
        std::smatch m;
        if (std::regex_search(out, m, status)) {
            box.messages = std::stoi(m[1]);
            box.unseen = std::stoi(m[2]);
        }
        std::optional<ImapMessage> current;
        std::size_t start = 0;
        for (std::size_t end; (end = out.find("\r\n", start)) != std::string::npos; start = end + 2) {
            const std::string line = out.substr(start, end - start);
            if (std::regex_search(line, m, fetch)) {
                current.emplace();
                std::istringstream words(m[1].str());
                for (std::string flag; words >> flag;)
                    if (flag != "\\Recent")
                        current->flags.insert(flag);
            } else if (current && std::regex_search(line, m, messageId)) {
                box.byMessageId[m[1]] = *current;
                current.reset();
            }
        }
        return box;
    }

    // What the check took for unread: in new/, or without the S flag.
    std::set<std::string> unreadOnDisk(const std::string& folder) {
        std::set<std::string> ids;
        for (const char* sub : {"new", "cur"})
            for (const auto& name : files(folder + sub))
                if (std::string(sub) == "new" || flagsOf(name).find('S') == std::string::npos)
                    ids.insert(messageIdOf(maildir / (folder + sub) / name));
        return ids;
    }

    static std::set<std::string> unseenIn(const Mailbox& box) {
        std::set<std::string> ids;
        for (const auto& [id, message] : box.byMessageId)
            if (!message.flags.count("\\Seen"))
                ids.insert(id);
        return ids;
    }

    uid_t uid = 0;
    gid_t gid = 0;
};

std::string mail(const std::string& sender, const std::string& id, const std::string& to = ownAddress) {
    return mailText({"From: " + sender, "To: " + to, "Subject: " + id, "Message-ID: <" + id + "@imap.test>"}, "Hi.\n");
}

using Flags = std::set<std::string>;

TEST_F(ImapTest, DovecotListsMovedMailInTrashWithItsFlagsAndAgreesOnUnread) {
    writeLists({"pal@friends.example"}, {}, {"spammer@junk.example"}, {"*@bad.example"});
    put("new", "1700000001.A.host", mail("spammer@junk.example", "new-junk"));
    put("cur", "1700000002.B.host,S=200:2,FR", mail("bulk@bad.example", "answered-flagged-junk"));
    put("cur", "1700000003.C.host:2,RS", mail("spammer@junk.example", "read-answered-junk"));
    put("cur", "1700000004.D.host:2,S", mail("who@strangers.example", "read-not-for-me", "list@lists.example"));
    put("new", "1700000005.E.host", mail("amy@strangers.example", "unread-new"));
    put("cur", "1700000006.F.host:2,F", mail("bob@strangers.example", "unread-flagged"));
    put("cur", "1700000007.G.host", mail("cat@strangers.example", "unread-no-info"));
    put("cur", "1700000008.H.host:2,S", mail("dan@strangers.example", "read-stranger"));
    put("new", "1700000009.I.host", mail("pal@friends.example", "unread-friend"));

    const Outcome run = check({"--address", ownAddress});
    ASSERT_EQ(run.status, 0) << run.err;
    shareWithDovecot();

    const Mailbox trash = mailbox("Trash");
    EXPECT_EQ(trash.messages, 4);
    EXPECT_EQ(trash.byMessageId.size(), 4u);
    const std::map<std::string, Flags> trashed = {
        {"<new-junk@imap.test>", {}},
        {"<answered-flagged-junk@imap.test>", {"\\Answered", "\\Flagged"}},
        {"<read-answered-junk@imap.test>", {"\\Answered", "\\Seen"}},
        {"<read-not-for-me@imap.test>", {"\\Seen"}},
    };
    for (const auto& [id, flags] : trashed) {
        ASSERT_TRUE(trash.byMessageId.count(id)) << id << " is not in Trash";
        EXPECT_EQ(trash.byMessageId.at(id).flags, flags) << id;
    }
    EXPECT_EQ(trash.unseen, 2);

    const Mailbox inbox = mailbox("INBOX");
    EXPECT_EQ(inbox.messages, 5);
    const std::set<std::string> unread = unreadOnDisk("");
    EXPECT_EQ(unseenIn(inbox), unread);
    EXPECT_EQ(inbox.unseen, static_cast<int>(unread.size()));
    EXPECT_EQ(unseenIn(trash), unreadOnDisk(".Trash/"));
    // What the check listed for review is Dovecot's unseen mail less the friend's.
    std::set<std::string> reviewed;
    for (const auto& row : parseReview(run.out).rows)
        reviewed.insert("<" + row.subject + "@imap.test>");
    std::set<std::string> expected = unseenIn(inbox);
    expected.erase("<unread-friend@imap.test>");
    EXPECT_EQ(reviewed, expected);
}

TEST_F(ImapTest, DovecotThatIndexedTheMaildirFollowsALaterCheck) {
    writeLists({}, {}, {}, {});
    put("new", "1700000001.A.host", mail("amy@strangers.example", "amy-unread"));
    put("cur", "1700000002.B.host:2,FS", mail("bob@strangers.example", "bob-read"));
    put("cur", "1700000003.C.host:2,S", mail("cat@strangers.example", "cat-read"));
    ASSERT_EQ(check({"--address", ownAddress}).status, 0);
    shareWithDovecot();
    ASSERT_EQ(mailbox("INBOX").messages, 3);

    put("cur", "1700000004.D.host:2,S", mail("dan@elsewhere.example", "dan-read"));
    writeLists({"cat@strangers.example"}, {}, {"amy@strangers.example"}, {"*@strangers.example"});
    const Outcome later = check({"--address", ownAddress});
    ASSERT_EQ(later.status, 0) << later.err;
    EXPECT_EQ(later.out, "[Check Spam] Deleted 2 spams.\n");
    shareWithDovecot();

    const Mailbox trash = mailbox("Trash");
    EXPECT_EQ(trash.messages, 2);
    ASSERT_EQ(trash.byMessageId.size(), 2u);
    EXPECT_EQ(trash.byMessageId.at("<amy-unread@imap.test>").flags, Flags{});
    EXPECT_EQ(trash.byMessageId.at("<bob-read@imap.test>").flags, (Flags{"\\Flagged", "\\Seen"}));
    const Mailbox inbox = mailbox("INBOX");
    EXPECT_EQ(inbox.messages, 2);
    EXPECT_EQ(inbox.unseen, 0);
    EXPECT_EQ(inbox.byMessageId.size(), 2u);
    EXPECT_TRUE(inbox.byMessageId.count("<cat-read@imap.test>"));
    EXPECT_TRUE(inbox.byMessageId.count("<dan-read@imap.test>"));
}

} // namespace
} // namespace skerrow::test
