#include "tests/hosts/imap/dovecot_server.h"

#include "tests/app/app_fixture.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace skerrow::test {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

namespace {

const fs::path dovecotBinary = "/usr/sbin/dovecot";
const fs::path imapBinary = "/usr/lib/dovecot/imap";

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback();
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free port");
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

std::string Dovecot::unavailable() {
    if (!fs::exists(dovecotBinary) || !fs::exists(imapBinary))
        return "Dovecot is not installed (Debian package dovecot-imapd)";
    if (!findProgram("openssl"))
        return "openssl is not installed";
    if (::geteuid() != 0)
        return "Dovecot serves other users' mail only when started as root";
    if (!::getpwnam("nobody") || !::getgrnam("nogroup") || !::getpwnam("dovenull") || !::getpwnam("dovecot"))
        return "the users nobody, dovenull and dovecot are needed";
    return "";
}

Dovecot::Dovecot(DovecotSetup setup) : setup_(setup) {
    fs::create_directories(SKERROW_TEST_WORK);
    dir = makeTempDir("dovecot", SKERROW_TEST_WORK);
    // Dovecot's login and mail processes run unprivileged: they must reach in.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    uid_ = ::getpwnam("nobody")->pw_uid;
    gid_ = ::getgrnam("nogroup")->gr_gid;
    for (const char* sub : {"Maildir/cur", "Maildir/new", "Maildir/tmp", "home", "index"})
        fs::create_directories(dir / sub);
    chownAll();

    caFile = dir / "cert.pem";
    const Outcome made =
        runProgram({findProgram("openssl")->string(), "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1", "-keyout", (dir / "key.pem").string(), "-out", caFile.string()},
                   {"PATH=/usr/bin:/bin"});
    if (made.status != 0)
        throw std::runtime_error("openssl: " + made.err);

    // Tests run in parallel: another server may take a port between our
    // look and Dovecot's bind, so a failed start picks new ones.
    for (int attempt = 1;; ++attempt) {
        port = freePort();
        plainPort = freePort();
        writeFile(dir / "passwd", user + ":{PLAIN}" + password + "::::::\n");
        const auto in = [&](const char* name) { return (dir / name).string(); };
        std::string conf =
            "base_dir = " + in("run") + "\nstate_dir = " + in("state") + "\nlog_path = " + in("log") +
            "\nprotocols = imap\nlisten = 127.0.0.1\nssl = yes\nssl_cert = <" + caFile.string() +
            "\nssl_key = <" + in("key.pem") +
            "\ndisable_plaintext_auth = yes\nauth_mechanisms = plain login\n"
            "default_login_user = dovenull\ndefault_internal_user = dovecot\n"
            "service imap-login {\n  inet_listener imap {\n    port = " + std::to_string(plainPort) +
            "\n  }\n  inet_listener imaps {\n    port = " + std::to_string(port) + "\n    ssl = yes\n  }\n}\n"
            "passdb {\n  driver = passwd-file\n  args = " + in("passwd") + "\n}\n"
            "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup home=" + in("home") + "\n}\n"
            "mail_uid = nobody\nmail_gid = nogroup\nmail_location = maildir:" + in("Maildir") + ":INDEX=" +
            in("index") + "\nnamespace inbox {\n  inbox = yes\n  separator = /\n" +
            (setup.trashFlag ? "  mailbox Bin {\n    special_use = \\Trash\n    auto = create\n  }\n}\n" : "}\n");
        if (!setup.capability.empty())
            conf += "imap_capability = " + setup.capability + "\n";
        else if (!setup.move)
            conf += "imap_capability = IMAP4rev1 LITERAL+ SASL-IR LOGIN-REFERRALS ID ENABLE IDLE UIDPLUS\n";
        writeFile(dir / "dovecot.conf", conf);

        pid_ = startProgram({dovecotBinary.string(), "-F", "-c", (dir / "dovecot.conf").string()},
                            {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}, dir / "dovecot.out", dir / "dovecot.err");
        for (int i = 0; i < 100 && !(accepts(port) && accepts(plainPort)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (accepts(port) && accepts(plainPort))
            break;
        ::kill(pid_, SIGTERM);
        waitProgram(std::exchange(pid_, -1));
        if (attempt == 3)
            throw std::runtime_error("dovecot did not start: " + readFile(dir / "log"));
    }
}

Dovecot::~Dovecot() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        waitProgram(pid_);
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

void Dovecot::chownAll() const {
    ::lchown(dir.c_str(), 0, 0);
    for (const char* sub : {"Maildir", "home", "index"}) {
        ::lchown((dir / sub).c_str(), uid_, gid_);
        for (const auto& entry : fs::recursive_directory_iterator(dir / sub))
            ::lchown(entry.path().c_str(), uid_, gid_);
    }
}

void Dovecot::put(const std::string& folder, const std::string& name, const std::string& content,
                  const std::string& flags) {
    const fs::path box = dir / "Maildir" / folder;
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(box / sub);
    writeFile(box / "tmp" / name, content);
    for (const fs::path& p : {box, box / "cur", box / "new", box / "tmp", box / "tmp" / name})
        ::lchown(p.c_str(), uid_, gid_);
    // Delivered whole, as a mail server does.
    fs::rename(box / "tmp" / name, flags == "-" ? box / "new" / name : box / "cur" / (name + ":2," + flags));
}

std::string Dovecot::imap(const std::vector<std::string>& commands) const {
    std::string script;
    for (std::size_t i = 0; i < commands.size(); ++i)
        script += "a" + std::to_string(i) + " " + commands[i] + "\r\n";
    script += "z LOGOUT\r\n";
    // Through a pipe: Dovecot's imap polls its input, which a file cannot be.
    writeFile(dir / "script", script);
    const Outcome run = runProgram({"/bin/sh", "-c", "cat \"$0\" | exec \"$1\" -c \"$2\"", (dir / "script").string(),
                                    imapBinary.string(), (dir / "dovecot.conf").string()},
                                   {"USER=" + user, "HOME=" + (dir / "home").string(), "PATH=/usr/bin:/bin"});
    EXPECT_EQ(run.status, 0) << run.err;
    for (std::size_t i = 0; i < commands.size(); ++i)
        EXPECT_NE(run.out.find("\r\na" + std::to_string(i) + " OK"), std::string::npos) << commands[i] << " failed:\n"
                                                                                        << run.out;
    return run.out;
}

std::map<std::string, std::set<std::string>> Dovecot::mailbox(const std::string& name) const {
    chownAll(); // what a test wrote as root
    const std::string out = imap({"EXAMINE " + name, "UID FETCH 1:* (FLAGS BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])"});
    std::map<std::string, std::set<std::string>> box;
    static const std::regex fetch(R"(^\* \d+ FETCH \(.*FLAGS \(([^)]*)\))");
    static const std::regex messageId(R"(^Message-ID: *([^\r]*))", std::regex::icase);
    std::smatch m;
    std::optional<std::set<std::string>> current;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, m, fetch)) {
            current.emplace();
            std::istringstream words(m[1].str());
            for (std::string flag; words >> flag;)
                if (flag != "\\Recent")
                    current->insert(flag);
        } else if (current && std::regex_search(line, m, messageId)) {
            box[m[1]] = *current;
            current.reset();
        }
    }
    return box;
}

} // namespace skerrow::test
