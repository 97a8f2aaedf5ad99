#include "tests/app/app_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

namespace {

// Runs argv with stdin from the file, or fed the text through a pipe.
Outcome run(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const fs::path* file, const std::string* text) {
    // A program that exits without reading its input must not kill us.
    static std::once_flag ignoreBrokenPipes;
    std::call_once(ignoreBrokenPipes, [] { ::signal(SIGPIPE, SIG_IGN); });

    // Close-on-exec, so that a program started by another thread at the
    // same moment does not hold our pipes open.
    int out[2], err[2], in[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || (text && ::pipe2(in, O_CLOEXEC) != 0))
        failWith("pipe");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (text)
        ::posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    else
        ::posix_spawn_file_actions_addopen(&actions, 0, file->c_str(), O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    ::posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // The child gets the ordinary SIGPIPE back.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> args = argv;
    std::vector<std::string> env = environment;
    auto argp = pointers(args);
    auto envp = pointers(env);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (text)
        ::close(in[0]);
    if (spawned != 0) {
        ::close(out[0]);
        ::close(err[0]);
        if (text)
            ::close(in[1]);
        errno = spawned;
        failWith("cannot start " + argv[0]);
    }

    Outcome outcome;
    std::array<pollfd, 3> fds{pollfd{out[0], POLLIN, 0}, pollfd{err[0], POLLIN, 0}, pollfd{in[1], POLLOUT, 0}};
    std::array<std::string*, 2> sinks{&outcome.out, &outcome.err};
    std::size_t written = 0;
    if (text && text->empty()) {
        ::close(in[1]);
        fds[2].fd = -1;
    }
    char buffer[65536];
    while (fds[0].fd >= 0 || fds[1].fd >= 0 || fds[2].fd >= 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            failWith("poll");
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) {
            const ssize_t n = ::write(fds[2].fd, text->data() + written, text->size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if ((n < 0 && errno != EINTR && errno != EAGAIN) || written == text->size()) {
                ::close(fds[2].fd); // done, or the program stopped reading
                fds[2].fd = -1;
            }
        }
        for (std::size_t i = 0; i < sinks.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            failWith("waitpid");
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

} // namespace

Outcome runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                   const fs::path& input) {
    return run(argv, environment, &input, nullptr);
}

Outcome runProgramWithInput(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                            const std::string& text) {
    return run(argv, environment, nullptr, &text);
}

std::optional<fs::path> findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return ::access(name.c_str(), X_OK) == 0 ? std::optional<fs::path>(name) : std::nullopt;
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    for (std::string d; std::getline(dirs, d, ':');) {
        const fs::path candidate = fs::path(d.empty() ? "." : d) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

std::string loginName() {
    const passwd* entry = ::getpwuid(::geteuid());
    if (!entry || !entry->pw_name)
        throw std::runtime_error("no login name");
    return entry->pw_name;
}

std::string messageIdOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break;
        if (line.size() > 11 && ::strncasecmp(line.c_str(), "Message-ID:", 11) == 0) {
            const auto start = line.find_first_not_of(' ', 11);
            return start == std::string::npos ? "" : line.substr(start);
        }
    }
    return "";
}

std::string flagsOf(const std::string& fileName) {
    const auto info = fileName.find(":2,");
    return info == std::string::npos ? "" : fileName.substr(info + 3);
}

Review parseReview(const std::string& out) {
    Review review;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
        if (startsWith(line, "== ")) {
            review.shown = true;
            break;
        }
    while (std::getline(lines, line)) {
        if (!startsWith(line, "    ") && !startsWith(line, "[x] ")) {
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
    std::string pattern = (fs::temp_directory_path() / "skerrow-app-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    maildir = dir / "Maildir";
    configHome = dir / "config";
    dataHome = dir / "data";
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(maildir / sub);
}

void CheckTest::TearDown() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
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
    return dataHome / "skerrow" / loginName();
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

std::vector<std::string> CheckTest::listLines() const {
    const std::string text = readFile(listFile());
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start != text.size())
        lines.push_back(text.substr(start)); // an unterminated rest shows up in the comparison
    return lines;
}

std::optional<std::string> CheckTest::setting(const std::string& name) const {
    std::istringstream lines(readFile(configHome / "skerrow" / "settings"));
    for (std::string line; std::getline(lines, line);)
        if (startsWith(line, name + "="))
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
