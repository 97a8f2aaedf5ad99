// `skerrow check` and `skerrow watch` on an IMAP account of a real Dovecot
// (and watch on a Maildir), from the command line to what another IMAP
// client sees afterwards.
#ifdef SKERROW_WITH_IMAP_TESTS
#include "tests/app/app_fixture.h"
#include "tests/hosts/imap/dovecot_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

namespace skerrow::test {
namespace {

using Flags = std::set<std::string>;
using Clock = std::chrono::steady_clock;

// Passes a loopback TCP connection through to a port, hanging up once the
// server has sent cutAfter bytes on the connections chosen to be cut.
class CuttingProxy {
public:
    CuttingProxy(int target, std::size_t cutAfter, int connectionsToCut)
        : target_(target), cutAfter_(cutAfter), toCut_(connectionsToCut) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback();
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~CuttingProxy() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    int port = 0;

private:
    void serve() {
        std::vector<std::thread> pipes;
        int accepted = 0;
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept(listener_, nullptr, nullptr);
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in address = loopback(target_);
            ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            const bool cut = toCut_ < 0 || accepted++ < toCut_;
            pipes.emplace_back([this, client, server, cut] { pass(client, server, cut); });
        }
        for (auto& t : pipes)
            t.join();
    }
    void pass(int client, int server, bool cut) {
        std::size_t fromServer = 0;
        char buffer[16384];
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        for (bool open = true; open && !stop_ && !(cut && fromServer > cutAfter_);) {
            if (::poll(fds, 2, 50) <= 0)
                continue;
            for (int i = 0; i < 2 && open; ++i) {
                if (!fds[i].revents)
                    continue;
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                open = n > 0 && ::write(fds[1 - i].fd, buffer, static_cast<std::size_t>(n)) == n;
                if (open && i == 1)
                    fromServer += static_cast<std::size_t>(n);
            }
        }
        ::close(client);
        ::close(server);
    }

    int target_;
    std::size_t cutAfter_;
    int toCut_; // -1: every connection
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class ImapAccountTest : public CheckTest {
protected:
    void SetUp() override {
        CheckTest::SetUp();
        if (const auto why = Dovecot::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        server = std::make_unique<Dovecot>();
    }
    void TearDown() override {
        server.reset();
        CheckTest::TearDown();
    }
    Outcome checkImap(const std::vector<std::string>& args, const std::string& password = "secret") const {
        std::vector<std::string> argv{SKERROW_BINARY, "check"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto env = environment();
        if (!password.empty())
            env.push_back("SKERROW_IMAP_PASSWORD=" + password);
        return runProgram(argv, env);
    }
    std::unique_ptr<Dovecot> server;
};

TEST_F(ImapAccountTest, CheckPurgesIntoTrashKeepsUnreadAndListsSuspects) {
    writeLists({"pal@friends.example"}, {}, {"spammer@junk.example"}, {"*@bad.example"});
    server->put("", "1700000001.A.host", mailFrom("spammer@junk.example", "junk"));
    server->put("", "1700000002.B.host", mailFrom("bulk@bad.example", "bad-domain"), "FS");
    server->put("", "1700000003.C.host", mailFrom("who@else.example", "not-for-me", "list@lists.example"), "S");
    server->put("", "1700000004.D.host", mailFrom("amy@strangers.example", "stranger"));
    server->put("", "1700000005.E.host",
                mailFrom("bob@strangers.example", "body-names-me", "list@lists.example", "Dear me@home.example\n"));
    server->put("", "1700000006.F.host", mailFrom("pal@friends.example", "friend"));

    const Outcome run = checkImap({"--imap", server->url(), "--ca-file", server->caFile.string(), "--address", ownAddress});

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::set<std::string> listed;
    for (const auto& row : parseReview(run.out).rows)
        listed.insert(row.subject);
    EXPECT_EQ(listed, (std::set<std::string>{"stranger", "body-names-me"}));
    EXPECT_EQ(server->mailbox("Bin"), (std::map<std::string, Flags>{{"<junk@test>", {}},
                                                                    {"<bad-domain@test>", {"\\Flagged", "\\Seen"}},
                                                                    {"<not-for-me@test>", {"\\Seen"}}}));
    // Nothing the check read is marked seen.
    EXPECT_EQ(server->mailbox("INBOX"), (std::map<std::string, Flags>{
                                            {"<stranger@test>", {}}, {"<body-names-me@test>", {}}, {"<friend@test>", {}}}));
    EXPECT_EQ(setting("HaveAutoDeleteCount"), "2");
}

// The check on the server's own Maildir: Dovecot must list the moved mail in
// Trash with its flags and agree on which mail is unread.
TEST_F(ImapAccountTest, DovecotSeesTheMaildirCheckedAsTheCheckSawIt) {
    maildir = server->dir / "Maildir";
    writeLists({"pal@friends.example"}, {}, {"spammer@junk.example"}, {"*@bad.example"});
    put("new", "1700000001.A.host", mailFrom("spammer@junk.example", "new-junk"));
    put("cur", "1700000002.B.host,S=200:2,FR", mailFrom("bulk@bad.example", "answered-flagged-junk"));
    put("cur", "1700000003.C.host:2,RS", mailFrom("spammer@junk.example", "read-answered-junk"));
    put("cur", "1700000004.D.host:2,S", mailFrom("who@strangers.example", "read-not-for-me", "list@lists.example"));
    put("new", "1700000005.E.host", mailFrom("amy@strangers.example", "unread-new"));
    put("cur", "1700000006.F.host:2,F", mailFrom("bob@strangers.example", "unread-flagged"));
    put("cur", "1700000007.G.host", mailFrom("cat@strangers.example", "unread-no-info"));
    put("cur", "1700000008.H.host:2,S", mailFrom("dan@strangers.example", "read-stranger"));
    put("new", "1700000009.I.host", mailFrom("pal@friends.example", "unread-friend"));

    const Outcome run = check({"--address", ownAddress});

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(server->mailbox("Trash"), (std::map<std::string, Flags>{
                                            {"<new-junk@test>", {}},
                                            {"<answered-flagged-junk@test>", {"\\Answered", "\\Flagged"}},
                                            {"<read-answered-junk@test>", {"\\Answered", "\\Seen"}},
                                            {"<read-not-for-me@test>", {"\\Seen"}}}));
    // Dovecot's unseen mail is what the check listed for review and the friend's.
    std::set<std::string> unseen, unread{"<unread-friend@test>"};
    const auto inbox = server->mailbox("INBOX");
    for (const auto& [id, flags] : inbox)
        if (!flags.count("\\Seen"))
            unseen.insert(id);
    for (const auto& row : parseReview(run.out).rows)
        unread.insert("<" + row.subject + "@test>");
    EXPECT_EQ(unseen, unread);
    EXPECT_EQ(inbox.size(), 5u);
}

TEST_F(ImapAccountTest, ConnectionFailuresSayWhatInOneLine) {
    const std::string ca = server->caFile.string();
    const std::string unreachable = "imaps://amy@127.0.0.1:" + std::to_string(server->plainPort + 1) + "/";
    const Dovecot older(DovecotSetup{true, true, "IMAP4 IDLE"});
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string password;
        int status;
        std::string said; // in the one line on stderr; "" for none
    } cases[] = {
        {"STARTTLS, password from a command", {"--imap", server->startTlsUrl(), "--ca-file", ca,
                                               "--password-command", "/bin/echo secret"}, "", 0, ""},
        {"wrong password", {"--imap", server->url(), "--ca-file", ca}, "wrong", 1, "refused the login of amy"},
        {"self-signed without --ca-file", {"--imap", server->url()}, "secret", 1, "is not trusted"},
        {"STARTTLS without --ca-file", {"--imap", server->startTlsUrl()}, "secret", 1, "is not trusted"},
        {"nobody listening", {"--imap", unreachable, "--ca-file", ca}, "secret", 1, "cannot reach 127.0.0.1"},
        {"no IMAP4rev1", {"--imap", older.url(), "--ca-file", older.caFile.string()}, "secret", 1,
         "is not an IMAP4rev1 server"},
        {"failing password command", {"--imap", server->url(), "--ca-file", ca, "--password-command", "/bin/false"},
         "", 1, "password command"},
    };
    for (const auto& c : cases) {
        const Outcome run = checkImap(c.args, c.password);
        EXPECT_EQ(run.status, c.status) << c.what << ": " << run.err;
        if (c.said.empty()) {
            EXPECT_EQ(run.err, "") << c.what;
            continue;
        }
        EXPECT_NE(run.err.find(c.said), std::string::npos) << c.what << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << ": " << run.err;
    }
}

TEST_F(ImapAccountTest, ConnectionCutMidFetchIsOpenedAgainOnceThenNothingMoves) {
    writeLists({}, {}, {"spammer@junk.example"}, {});
    // Enough header text that the fetch runs far past the login.
    const std::string padding = "X-Padding: " + std::string(900, 'p');
    for (int i = 0; i < 150; ++i)
        server->put("", "17000001" + std::to_string(100 + i) + ".P.host",
                    mailText({"From: spammer@junk.example", "To: " + std::string(ownAddress), padding,
                              "Message-ID: <junk" + std::to_string(i) + "@test>"},
                             "Hi.\n"),
                    "S");
    // Every connection cut: the pass fails and nothing is moved. The first
    // only: it is opened again and the pass completes.
    for (const int cut : {-1, 1}) {
        CuttingProxy proxy(server->port, 60000, cut);
        const Outcome run = checkImap({"--imap", "imaps://amy@127.0.0.1:" + std::to_string(proxy.port) + "/",
                                       "--ca-file", server->caFile.string(), "--address", ownAddress});
        EXPECT_EQ(run.status, cut < 0 ? 1 : 0) << run.err;
        EXPECT_EQ(run.err.find("lost") != std::string::npos, cut < 0) << run.err;
        EXPECT_EQ(server->mailbox("Bin").size(), cut < 0 ? 0u : 150u);
        EXPECT_EQ(server->mailbox("INBOX").size(), cut < 0 ? 150u : 0u);
    }
}

// Kills a program left running when the test stops early.
struct Running {
    ~Running() {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0)
            waitProgram(pid);
    }
    pid_t pid;
};

// Waits up to the limit for the text in the file.
bool waitForText(const fs::path& file, const std::string& text, std::chrono::milliseconds limit) {
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
        if (readFile(file).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(ImapAccountTest, WatchPurgesNewMailWithinASecondAndStoresOnStop) {
    for (const bool imap : {true, false}) {
        SCOPED_TRACE(imap ? "IMAP IDLE" : "Maildir inotify");
        writeLists({}, {}, {"spammer@junk.example"}, {});
        std::vector<std::string> args{SKERROW_BINARY, "watch", "--address", ownAddress};
        if (imap)
            args.insert(args.end(), {"--imap", server->url(), "--ca-file", server->caFile.string()});
        else
            args.insert(args.end(), {"--maildir", maildir.string()});
        auto env = environment();
        env.push_back("SKERROW_IMAP_PASSWORD=secret");
        const fs::path out = dir / "watch.out", err = dir / "watch.err";
        Running watch{startProgram(args, env, out, err)};
        ASSERT_TRUE(waitForText(out, "Watching", std::chrono::seconds(10))) << readFile(err);

        const auto delivered = Clock::now();
        if (imap)
            server->put("", "1700000101.W.host", mailFrom("spammer@junk.example", "watched-junk"));
        else
            put("new", "1700000101.W.host", mailFrom("spammer@junk.example", "watched-junk"));
        ASSERT_TRUE(waitForText(out, "deleted 1", std::chrono::seconds(5))) << readFile(err);
        EXPECT_LE(Clock::now() - delivered, std::chrono::seconds(1));
        if (imap)
            EXPECT_EQ(server->mailbox("Bin").count("<watched-junk@test>"), 1u);
        else
            EXPECT_EQ(files(".Trash/cur").size(), 1u);

        // Stopping stores the total and the lists.
        ::kill(watch.pid, SIGTERM);
        EXPECT_EQ(waitProgram(std::exchange(watch.pid, -1)), 0) << readFile(err);
        EXPECT_EQ(readFile(err), "");
        EXPECT_EQ(setting("HaveAutoDeleteCount"), "1");
        EXPECT_EQ(readFile(listFile()), "\r\n\r\nspammer@junk.example\r\n\r\n");
        fs::remove(configHome / "skerrow" / "settings");
    }
}

} // namespace
} // namespace skerrow::test
#endif
