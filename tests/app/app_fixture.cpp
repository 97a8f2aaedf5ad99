#include "tests/app/app_fixture.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace skerrow::test {

namespace {

[[noreturn]] void failWith(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// As the tests write it: one line, no other case.
std::string messageIdOf(const fs::path& path) {
    const std::string text = readFile(path);
    const auto field = text.find("Message-ID: ");
    return field == std::string::npos ? "" : text.substr(field + 12, text.find_first_of("\r\n", field) - field - 12);
}

} // namespace

pid_t startProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                   const fs::path& out, const fs::path& err, const fs::path& input) {
    // A peer that hangs up (the IMAP tests' proxy writes to sockets) must not kill us.
    static std::once_flag ignoreBrokenPipes;
    std::call_once(ignoreBrokenPipes, [] { ::signal(SIGPIPE, SIG_IGN); });
    // Opened in the child, so that a program started by another thread at
    // the same moment holds none of them open.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The child gets the ordinary SIGPIPE back.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> args = argv, env = environment;
    auto argp = pointers(args);
    auto envp = pointers(env);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        errno = spawned;
        failWith("cannot start " + argv[0]);
    }
    return pid;
}

// Its output goes to files, so that it never waits for us.
Outcome runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                   const fs::path& input) {
    const fs::path scratch = makeTempDir("skerrow-output");
    const int status = waitProgram(startProgram(argv, environment, scratch / "out", scratch / "err", input));
    Outcome outcome{status, readFile(scratch / "out"), readFile(scratch / "err")};
    fs::remove_all(scratch);
    return outcome;
}

int waitProgram(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            failWith("waitpid");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string mailFrom(const std::string& sender, const std::string& subject, const std::string& to,
                     const std::string& body) {
    return mailText({"From: " + sender, "To: " + to, "Subject: " + subject, "Message-ID: <" + subject + "@test>"}, body);
}

std::optional<fs::path> findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string d; std::getline(dirs, d, ':');)
        if (::access((fs::path(d) / name).c_str(), X_OK) == 0)
            return fs::path(d) / name;
    return std::nullopt;
}

Review parseReview(const std::string& out) {
    Review review;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line) && !line.starts_with("== "))
        continue; // the window starts after its caption
    while (std::getline(lines, line)) {
        if (!line.starts_with("    ") && !line.starts_with("[x] ")) {
            review.labels.push_back(line);
            continue;
        }
        line = line.substr(4);
        const auto first = line.find(" | ");
        const auto second = line.rfind(" | ");
        if (first == std::string::npos || second == first)
            throw std::runtime_error("not a review row: " + line);
        review.rows.push_back({line.substr(0, first), line.substr(first + 3, second - first - 3), line.substr(second + 3)});
    }
    return review;
}

void CheckTest::SetUp() {
    dir = makeTempDir("skerrow-app");
    maildir = dir / "Maildir";
    configHome = dir / "config";
    dataHome = dir / "data";
    freshStart();
}

void CheckTest::TearDown() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

void CheckTest::freshStart() {
    for (const auto& path : {maildir, dataHome, configHome})
        fs::remove_all(path);
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(maildir / sub);
}

fs::path CheckTest::put(const std::string& where, const std::string& name, const std::string& content) {
    const fs::path path = maildir / where / name;
    writeFile(path, content);
    return path;
}

std::vector<std::string> CheckTest::files(const std::string& where) const {
    return fileNames(maildir / where);
}

fs::path CheckTest::listFile() const {
    return dataHome / "skerrow" / ::getpwuid(::geteuid())->pw_name;
}

void CheckTest::writeLists(const std::vector<std::string>& friends, const std::vector<std::string>& friendDomains,
                           const std::vector<std::string>& enemies, const std::vector<std::string>& enemyDomains) {
    std::string text;
    for (const auto* list : {&friends, &friendDomains, &enemies, &enemyDomains}) {
        for (std::size_t i = 0; i < list->size(); ++i)
            text += (i ? ";" : "") + (*list)[i];
        text += "\r\n";
    }
    writeFile(listFile(), text);
}

std::optional<std::string> CheckTest::setting(const std::string& name) const {
    std::istringstream lines(readFile(configHome / "skerrow" / "settings"));
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(name + "="))
            return line.substr(name.size() + 1);
    return std::nullopt;
}

std::vector<std::string> CheckTest::environment() const {
    std::vector<std::string> env;
    // Sanitizer and locale settings pass; nothing that could lead to the
    // user's own settings, lists or address.
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "HOME" && name != "EMAIL" && name != "XDG_CONFIG_HOME" && name != "XDG_DATA_HOME")
            env.push_back(entry);
    }
    env.push_back("HOME=" + dir.string());
    env.push_back("XDG_CONFIG_HOME=" + configHome.string());
    env.push_back("XDG_DATA_HOME=" + dataHome.string());
    return env;
}

Outcome CheckTest::check(const std::vector<std::string>& args, bool withMaildir) const {
    std::vector<std::string> argv{SKERROW_BINARY, "check"};
    if (withMaildir)
        argv.insert(argv.end(), {"--maildir", maildir.string()});
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, environment());
}

std::map<std::string, std::vector<std::string>> CheckTest::locate() const {
    std::map<std::string, std::vector<std::string>> places;
    for (const char* where : {"new", "cur", ".Trash/new", ".Trash/cur"})
        for (const auto& name : files(where))
            places[messageIdOf(maildir / where / name)].push_back(std::string(where) + "/" + name);
    return places;
}

} // namespace skerrow::test
