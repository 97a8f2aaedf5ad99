// The parts of the Maildir benchmark (bench/maildir_bench.sh) that want C++:
//
//   maildir_bench generate MAILDIR LISTFILE [--messages N] [--seed S]
//       writes a Maildir of N messages (median about 8 KiB, 5% with a
//       500 KiB attachment, 5% from blacklisted addresses, 5% from
//       blacklisted domains, 30% unread, the user's address in the To header
//       of 90%) and a list file of 10,000 entries a list.
//   maildir_bench read-whole MAILDIR
//   maildir_bench read-headers MAILDIR
//       the two baselines: every message file of the Inbox read whole once,
//       or only up to the end of its header block; prints the wall and
//       processor seconds, the files and the bytes read.
//   maildir_bench run OUTFILE -- PROGRAM ARGS...
//       runs a program with its stdout in OUTFILE; prints its wall and
//       processor seconds, its peak resident memory in KiB (what
//       /usr/bin/time -v reports) and its exit status.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* ownAddress = "me@bench.example";
constexpr int listSize = 10000;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// ---- generate ----

const char* const words[] = {
    "the",     "meeting", "report",  "invoice", "schedule", "project", "update", "please", "review",  "attached",
    "thanks",  "regards", "monday",  "budget",  "draft",    "notes",   "team",   "client", "deadline", "quarter",
    "numbers", "agenda",  "call",    "tomorrow", "shipping", "order",  "account", "login", "question", "answer",
    "about",   "with",    "from",    "this",    "that",     "will",    "have",   "been",   "could",   "would"};

class Generator {
public:
    Generator(fs::path maildir, std::uint64_t seed) : maildir_(std::move(maildir)), random_(seed) {}

    void write(int messages, const fs::path& listFile);

private:
    std::string word() { return words[pick(std::size(words))]; }
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }
    std::string sentence(std::size_t length);
    std::string text(std::size_t bytes, const std::string& mention);
    // Base64 text in lines of 76, and a run of base64 letters without breaks.
    std::string base64(std::size_t bytes);
    std::string token(std::size_t letters);
    std::string headers(int i, const std::string& sender, bool addressed, std::uint64_t seconds);
    std::string message(int i, const std::string& sender, bool addressed, bool mentionedInBody, bool attachment,
                        std::size_t size, std::uint64_t seconds);

    fs::path maildir_;
    std::mt19937_64 random_;
};

std::string Generator::sentence(std::size_t length) {
    std::string s = word();
    s[0] = static_cast<char>(s[0] - 'a' + 'A');
    for (std::size_t i = 1; i < length; ++i) {
        s += ' ';
        s += word();
    }
    return s + ".";
}

// Plain text of about that many bytes in lines of at most 76; mention, when
// given, is put in somewhere in the middle.
std::string Generator::text(std::size_t bytes, const std::string& mention) {
    std::string out, line;
    bool mentioned = mention.empty();
    while (out.size() < bytes) {
        std::string s = sentence(4 + pick(10));
        if (!mentioned && out.size() >= bytes / 2) {
            s = "Write to " + mention + " about it.";
            mentioned = true;
        }
        if (line.size() + s.size() + 1 > 76) {
            out += line + "\n";
            line.clear();
            if (chance(0.15))
                out += "\n";
        }
        line += line.empty() ? s : " " + s;
    }
    return out + line + "\n";
}

std::string Generator::base64(std::size_t bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(bytes + bytes / 76 + 1);
    while (out.size() < bytes) {
        std::uint64_t bits = random_();
        for (int k = 0; k < 76; ++k) {
            if (k % 10 == 0)
                bits = random_();
            out += alphabet[bits & 63];
            bits >>= 6;
        }
        out += "\n";
    }
    return out;
}

std::string Generator::token(std::size_t letters) {
    std::string t = base64(letters);
    t.erase(std::remove(t.begin(), t.end(), '\n'), t.end());
    return t.substr(0, letters);
}

std::string Generator::headers(int i, const std::string& sender, bool addressed, std::uint64_t seconds) {
    char date[64];
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    const std::string senderDomain = sender.substr(sender.find('@') + 1);
    const std::string id = std::to_string(seconds) + "." + std::to_string(i) + "@" + senderDomain;
    std::string h;
    h += "Return-Path: <" + sender + ">\n";
    for (int hop = 0; hop < 3; ++hop)
        h += "Received: from mx" + std::to_string(pick(40)) + "." + senderDomain + " (mx" + std::to_string(hop) + "." +
             senderDomain + " [10." + std::to_string(pick(256)) + "." + std::to_string(pick(256)) + "." +
             std::to_string(pick(256)) + "])\n\tby mail" + std::to_string(hop) +
             ".bench.example (Postfix) with ESMTPS id " + token(12) + ";\n\t" + date + "\n";
    h += "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=" + senderDomain +
         "; s=s1;\n\th=from:to:subject:date:message-id; bh=" + token(44) + ";\n\tb=";
    const std::string signature = token(344);
    for (std::size_t k = 0; k < 344; k += 72)
        h += (k ? "\n\t " : "") + signature.substr(k, 72);
    h += "\n";
    h += "Authentication-Results: mail0.bench.example; dkim=pass header.d=" + senderDomain + "; spf=pass smtp.mailfrom=" +
         sender + "\n";
    const std::string name = word() + " " + word();
    h += "From: \"" + name + "\" <" + sender + ">\n";
    if (addressed)
        h += chance(0.3) ? "To: colleague@work.example, \"Me Myself\" <" + std::string(ownAddress) + ">\n"
                         : "To: \"Me Myself\" <" + std::string(ownAddress) + ">\n";
    else
        h += "To: list-" + std::to_string(pick(20)) + "@lists.example\n";
    if (chance(0.2))
        h += "Cc: " + word() + "@work.example, " + word() + "@home.example\n";
    h += chance(0.15) ? "Subject: =?UTF-8?Q?R=C3=A9union_" + word() + "?= " + sentence(3) + "\n"
                      : "Subject: " + sentence(2 + pick(6)) + "\n";
    h += std::string("Date: ") + date + "\n";
    h += "Message-ID: <" + id + ">\n";
    h += "MIME-Version: 1.0\n";
    h += "X-Mailer: BenchMail " + std::to_string(pick(9)) + "." + std::to_string(pick(9)) + "\n";
    if (chance(0.3))
        h += "List-Unsubscribe: <https://" + senderDomain + "/unsubscribe/" + token(24) + ">\n";
    return h;
}

std::string Generator::message(int i, const std::string& sender, bool addressed, bool mentionedInBody,
                               bool attachment, std::size_t size, std::uint64_t seconds) {
    std::string m = headers(i, sender, addressed, seconds);
    const std::size_t bodyBytes = size > m.size() + 200 ? size - m.size() : 200;
    const std::string mention = mentionedInBody ? ownAddress : "";
    if (attachment) {
        m += "Content-Type: multipart/mixed; boundary=\"=_mixed_" + std::to_string(i) + "\"\n\n";
        m += "--=_mixed_" + std::to_string(i) + "\nContent-Type: text/plain; charset=utf-8\n\n" + text(bodyBytes, mention);
        m += "--=_mixed_" + std::to_string(i) +
             "\nContent-Type: application/pdf; name=\"report.pdf\"\nContent-Transfer-Encoding: base64\n"
             "Content-Disposition: attachment; filename=\"report.pdf\"\n\n" +
             base64(500 * 1024);
        m += "--=_mixed_" + std::to_string(i) + "--\n";
    } else if (chance(0.3)) {
        const std::string plain = text(bodyBytes / 3, mention);
        m += "Content-Type: multipart/alternative; boundary=\"=_alt_" + std::to_string(i) + "\"\n\n";
        m += "--=_alt_" + std::to_string(i) + "\nContent-Type: text/plain; charset=utf-8\n\n" + plain;
        m += "--=_alt_" + std::to_string(i) + "\nContent-Type: text/html; charset=utf-8\n\n<html><body><p>" +
             text(bodyBytes * 2 / 3, mention) + "</p></body></html>\n";
        m += "--=_alt_" + std::to_string(i) + "--\n";
    } else {
        m += "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 7bit\n\n" + text(bodyBytes, mention);
    }
    return m;
}

void writeAll(const fs::path& path, const std::string& content, std::uint64_t seconds) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        fail("cannot create " + path.string());
    for (std::size_t done = 0; done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0)
            fail("cannot write " + path.string());
        done += static_cast<std::size_t>(n);
    }
    // The delivery time, as a mail server would have left it.
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ::futimens(fd, times);
    ::close(fd);
}

std::string listLine(const std::string& prefix, const std::string& suffix) {
    std::string line;
    for (int k = 0; k < listSize; ++k)
        line += (k ? ";" : "") + prefix + std::to_string(k) + suffix;
    return line + "\r\n";
}

void Generator::write(int messages, const fs::path& listFile) {
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(maildir_ / sub);
    fs::create_directories(listFile.parent_path());
    {
        // Friend addresses, friend domains, blacklisted addresses and domains.
        const std::string lists = listLine("friend", "@pals.example") + listLine("*@trusted", ".example") +
                                  listLine("spammer", "@junk.example") + listLine("*@spamdomain", ".example");
        std::FILE* out = std::fopen(listFile.c_str(), "wb");
        if (!out || std::fwrite(lists.data(), 1, lists.size(), out) != lists.size() || std::fclose(out) != 0)
            fail("cannot write " + listFile.string());
    }

    std::lognormal_distribution<double> sizes(std::log(7900.0), 0.5);
    std::uint64_t seconds = 1700000000;
    std::size_t total = 0;
    int counts[4] = {};
    for (int i = 0; i < messages; ++i) {
        seconds += 1 + pick(1200);
        // Who sends: 5% blacklisted addresses, 5% blacklisted domains, then
        // friends, friend domains and strangers.
        const double who = std::uniform_real_distribution<double>(0, 1)(random_);
        std::string sender;
        if (who < 0.05)
            sender = "spammer" + std::to_string(pick(listSize)) + "@junk.example";
        else if (who < 0.10)
            sender = word() + std::to_string(i) + "@spamdomain" + std::to_string(pick(listSize)) + ".example";
        else if (who < 0.45)
            sender = "friend" + std::to_string(pick(listSize)) + "@pals.example";
        else if (who < 0.60)
            sender = word() + "@trusted" + std::to_string(pick(listSize)) + ".example";
        else
            sender = word() + "." + word() + std::to_string(i) + "@elsewhere" + std::to_string(pick(500)) + ".example";
        const bool addressed = chance(0.90);
        // Of the rest, half name the user in the body (the check must read
        // it to keep them), half nowhere (deleted).
        const bool mentioned = !addressed && chance(0.5);
        const bool attachment = chance(0.05);
        const std::size_t size = static_cast<std::size_t>(std::clamp(sizes(random_), 1500.0, 200000.0));
        const std::string content = message(i, sender, addressed, mentioned, attachment, size, seconds);
        total += content.size();
        // Deleted by a list, kept, deleted for not naming the user.
        counts[who < 0.10 ? 0 : addressed || mentioned ? 1 : 2] += 1;
        counts[3] += attachment;

        const std::string unique = std::to_string(seconds) + ".M" + std::to_string(pick(1000000)) + "P" +
                                   std::to_string(1000 + pick(30000)) + "Q" + std::to_string(i) +
                                   ".benchhost,S=" + std::to_string(content.size());
        fs::path path;
        const double state = std::uniform_real_distribution<double>(0, 1)(random_);
        if (state < 0.15) // unread, not yet seen by any client
            path = maildir_ / "new" / unique;
        else if (state < 0.30) // unread, seen by a client
            path = maildir_ / "cur" / (unique + (chance(0.2) ? ":2,F" : ":2,"));
        else // read
            path = maildir_ / "cur" / (unique + (chance(0.1) ? ":2,RS" : chance(0.05) ? ":2,FS" : ":2,S"));
        writeAll(path, content, seconds);
    }
    std::printf("generated %d messages, %.1f MiB; blacklisted %d, kept by the rules %d, not naming the user %d, "
                "with attachment %d\n",
                messages, static_cast<double>(total) / (1024 * 1024), counts[0], counts[1], counts[2], counts[3]);
}

// ---- baselines ----

// Every message file of the Inbox, as (directory descriptor, name).
template <typename Visit> void eachMessage(const fs::path& maildir, Visit visit) {
    for (const char* sub : {"new", "cur"}) {
        const fs::path path = maildir / sub;
        DIR* d = ::opendir(path.c_str());
        if (!d)
            fail("cannot open " + path.string());
        const int dfd = ::dirfd(d);
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            visit(dfd, e->d_name);
        }
        ::closedir(d);
    }
}

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double cpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Our own processor time so far, user and system.
double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

int readWhole(const fs::path& maildir) {
    std::vector<char> buffer(1 << 20);
    std::size_t files = 0, bytes = 0;
    const double cpuStart = cpuSeconds();
    const auto start = Clock::now();
    eachMessage(maildir, [&](int dfd, const char* name) {
        const int fd = ::openat(dfd, name, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            fail(std::string("cannot open ") + name);
        for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
            bytes += static_cast<std::size_t>(n);
        ::close(fd);
        ++files;
    });
    std::printf("%.4f %.4f %zu %zu\n", seconds(start), cpuSeconds() - cpuStart, files, bytes);
    return 0;
}

int readHeaders(const fs::path& maildir) {
    constexpr std::size_t chunk = 4096; // a page: most header blocks fit
    std::string buffer;
    std::size_t files = 0, bytes = 0;
    const double cpuStart = cpuSeconds();
    const auto start = Clock::now();
    eachMessage(maildir, [&](int dfd, const char* name) {
        const int fd = ::openat(dfd, name, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            fail(std::string("cannot open ") + name);
        buffer.clear();
        std::size_t searched = 0;
        for (;;) {
            const std::size_t old = buffer.size();
            buffer.resize(old + chunk);
            const ssize_t n = ::read(fd, buffer.data() + old, chunk);
            buffer.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            if (n <= 0)
                break;
            const std::string_view seen(buffer);
            const std::size_t from = searched > 3 ? searched - 3 : 0;
            if (seen.find("\n\n", from) != std::string_view::npos || seen.find("\n\r\n", from) != std::string_view::npos)
                break;
            searched = buffer.size();
        }
        bytes += buffer.size();
        ::close(fd);
        ++files;
    });
    std::printf("%.4f %.4f %zu %zu\n", seconds(start), cpuSeconds() - cpuStart, files, bytes);
    return 0;
}

// ---- run ----

int run(const char* outFile, char** argv) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, outFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const auto start = Clock::now();
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        errno = spawned;
        fail(std::string("cannot start ") + argv[0]);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR)
            fail("wait4");
    const double elapsed = seconds(start);
    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.4f %.4f %ld %d\n", elapsed, cpuSeconds(usage), usage.ru_maxrss, exitStatus);
    return 0;
}

int usage() {
    std::fputs("usage: maildir_bench generate MAILDIR LISTFILE [--messages N] [--seed S]\n"
               "       maildir_bench read-whole MAILDIR | read-headers MAILDIR\n"
               "       maildir_bench run OUTFILE -- PROGRAM ARGS...\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "generate" && argc >= 4) {
            int messages = 50000;
            std::uint64_t seed = 1;
            for (int i = 4; i + 1 < argc; i += 2) {
                if (std::string(argv[i]) == "--messages")
                    messages = std::stoi(argv[i + 1]);
                else if (std::string(argv[i]) == "--seed")
                    seed = std::stoull(argv[i + 1]);
                else
                    return usage();
            }
            Generator(argv[2], seed).write(messages, argv[3]);
            return 0;
        }
        if (command == "read-whole" && argc == 3)
            return readWhole(argv[2]);
        if (command == "read-headers" && argc == 3)
            return readHeaders(argv[2]);
        if (command == "run" && argc >= 5 && std::string(argv[3]) == "--")
            return run(argv[2], argv + 4);
        return usage();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "maildir_bench: %s\n", e.what());
        return 1;
    }
}
