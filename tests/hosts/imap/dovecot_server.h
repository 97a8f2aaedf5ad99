// A real Dovecot IMAP server for the tests: a private configuration in a
// fresh folder under the build folder, TLS on a loopback port chosen now
// with a certificate made now, one passwd-file user whose Maildir is in
// that folder and owned by an unprivileged user (Dovecot refuses root).
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace skerrow::test {

namespace fs = std::filesystem;

// The IPv4 loopback address at that port (0: any free one, for bind).
sockaddr_in loopback(int port = 0);

struct DovecotSetup {
    bool move = true;       // offer MOVE
    bool trashFlag = true;  // a mailbox "Bin" flagged \Trash; else none
    std::string capability; // what CAPABILITY says, when not Dovecot's own
};

class Dovecot {
public:
    // Why no server can run here, or "" when one can.
    static std::string unavailable();

    explicit Dovecot(DovecotSetup setup = {});
    ~Dovecot();
    Dovecot(const Dovecot&) = delete;
    Dovecot& operator=(const Dovecot&) = delete;

    std::string url() const { return "imaps://" + user + "@127.0.0.1:" + std::to_string(port) + "/"; }
    std::string startTlsUrl() const { return "imap://" + user + "@127.0.0.1:" + std::to_string(plainPort) + "/"; }
    std::string trash() const { return setup_.trashFlag ? "Bin" : "Trash"; }

    // Writes a message file into a folder of the Maildir ("" the Inbox,
    // ".Lists"...), in new/ or, with flags, in cur/ ("ST"...).
    void put(const std::string& folder, const std::string& name, const std::string& content,
             const std::string& flags = "-");
    // Runs commands in one pre-authenticated session of Dovecot's own imap
    // process (another client); fails the test unless each completed.
    std::string imap(const std::vector<std::string>& commands) const;
    // Message-ID to flags (without \Recent) of every message in a mailbox,
    // after handing whatever the test wrote in the Maildir to Dovecot's user.
    std::map<std::string, std::set<std::string>> mailbox(const std::string& name) const;

    fs::path dir;
    fs::path caFile; // the server's self-signed certificate
    int port = 0;
    int plainPort = 0;
    std::string user = "amy";
    std::string password = "secret";

private:
    void chownAll() const;
    DovecotSetup setup_;
    pid_t pid_ = -1;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
};

} // namespace skerrow::test
