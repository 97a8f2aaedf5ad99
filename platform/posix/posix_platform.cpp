#include "platform/posix/posix_platform.h"

#include "filter/text.h"

#include "platform/posix/settings_file.h"
#include "resources/bitmaps.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace skerrow::posix {

namespace {

// A settings file beyond this is not ours; it is refused rather than read
// into memory or overwritten.
constexpr std::size_t largestSettingsFile = 16u << 20;

[[noreturn]] void fail(const std::string& what, const std::string& path, int error = errno) {
    throw std::system_error(error, std::generic_category(), what + " " + path);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Closing can report a failed write-back, so callers that wrote check it.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

Descriptor openFile(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return Descriptor(fd);
}

// Opens a file to read without blocking (a FIFO in its place would stop us
// for good) and takes only a regular file.
Descriptor openRegularFile(const std::string& path) {
    Descriptor in = openFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (in.get() < 0)
        fail("cannot open", path);
    struct stat st;
    if (::fstat(in.get(), &st) != 0)
        fail("cannot read", path);
    if (!S_ISREG(st.st_mode))
        fail("not a regular file:", path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    return in;
}

void writeAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot write", path);
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Calls sink with each chunk read until the end of the file.
void readChunks(int fd, const std::string& path, const std::function<void(std::string_view)>& sink) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot read", path);
        }
        if (n == 0)
            return;
        sink({buffer, static_cast<std::size_t>(n)});
    }
}

std::string readAll(int fd, const std::string& path, std::size_t limit = std::string::npos) {
    std::string text;
    readChunks(fd, path, [&](std::string_view chunk) {
        if (chunk.size() > limit - text.size())
            fail("too large:", path, EFBIG);
        text += chunk;
    });
    return text;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p; true when the folder is there at the end.
bool makeDirectories(const std::string& path, mode_t mode) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (!part.empty() && ::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return false;
        if (end == std::string::npos)
            break;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The temporary file that replaceFile writes beside a file named base.
std::string temporaryPrefix(const std::string& base) {
    return "." + base + ".tmp-";
}

// Temporaries of base left by a process that died before renaming them: a
// name of our own pattern whose process is gone. Those of a live process
// (a save under way) stay.
void removeStaleTemporaries(const std::string& dir, const std::string& base) {
    DIR* folder = ::opendir(dir.c_str());
    if (!folder)
        return;
    const std::string prefix = temporaryPrefix(base);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix))
            continue;
        const std::string_view rest = name.substr(prefix.size());
        const auto dash = rest.find('-');
        const std::string_view pid = rest.substr(0, dash);
        const std::string_view count = dash == std::string_view::npos ? std::string_view{} : rest.substr(dash + 1);
        const auto digits = [](std::string_view text) {
            return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string_view::npos;
        };
        if (!digits(pid) || !digits(count))
            continue;
        const long id = std::stol(std::string(pid));
        if (id <= 0 || id > INT_MAX || id == ::getpid() || ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH)
            continue;
        ::unlinkat(::dirfd(folder), entry->d_name, 0);
    }
    ::closedir(folder);
}

// Replaces path whole with what fill writes: the text goes to a temporary
// file beside it, reaches the disk, and is renamed over the old one, so a
// failure or a crash at any point leaves the old file as it was. A file we
// may not write is refused, as it would be if written in place.
void replaceFile(const std::string& path, mode_t newFileMode, const std::function<void(int)>& fill) {
    std::string target = path;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    const bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode))
        fail("cannot replace", target, EISDIR);
    if (existed && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        fail("cannot replace", target);

    const std::string dir = directoryOf(target);
    const std::string base = target.substr(target.rfind('/') + 1);
    removeStaleTemporaries(dir, base);
    static std::atomic<unsigned> counter{0};
    std::string temp;
    Descriptor out(-1);
    for (int attempt = 0; out.get() < 0; ++attempt) {
        temp = dir + "/" + temporaryPrefix(base) + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        out = openFile(temp, O_WRONLY | O_CREAT | O_EXCL, newFileMode);
        if (out.get() < 0 && (errno != EEXIST || attempt == 100))
            fail("cannot create a temporary file for", target);
    }
    try {
        fill(out.get());
        if (existed && ::fchmod(out.get(), st.st_mode & 07777) != 0)
            fail("cannot set the mode of", temp);
        if (::fsync(out.get()) != 0)
            fail("cannot flush", temp);
        if (out.close() != 0)
            fail("cannot close", temp);
        if (::rename(temp.c_str(), target.c_str()) != 0)
            fail("cannot replace", target);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    // The rename itself reaches the disk with the folder; a folder that
    // cannot be flushed still holds the new file.
    Descriptor folder = openFile(dir, O_RDONLY | O_DIRECTORY);
    if (folder.get() >= 0)
        ::fsync(folder.get());
}

std::optional<std::string> environmentFolder(const char* name) {
    const char* value = std::getenv(name);
    // A relative path is not valid here and is ignored.
    if (value && value[0] == '/')
        return value;
    return std::nullopt;
}

std::optional<passwd> userEntry(std::string& buffer) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    buffer.resize(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry;
    passwd* found = nullptr;
    for (;;) {
        const int error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || !found)
            return std::nullopt;
        return entry;
    }
}

std::optional<std::string> homeFolder() {
    if (auto home = environmentFolder("HOME"))
        return home;
    std::string buffer;
    const auto entry = userEntry(buffer);
    if (entry && entry->pw_dir && entry->pw_dir[0] == '/')
        return std::string(entry->pw_dir);
    return std::nullopt;
}

std::optional<std::string> xdgFolder(const char* variable, const char* fallbackUnderHome) {
    if (auto dir = environmentFolder(variable))
        return *dir + "/skerrow";
    if (auto home = homeFolder())
        return *home + fallbackUnderHome + "/skerrow";
    return std::nullopt;
}

// The settings file's text; nothing when there is none.
std::optional<std::string> readSettingsText(const std::string& path) {
    Descriptor in = openFile(path, O_RDONLY | O_NONBLOCK);
    if (in.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        fail("cannot open", path);
    }
    return readAll(in.get(), path, largestSettingsFile);
}

} // namespace

PosixPlatform::PosixPlatform(std::optional<std::string> configDir, std::optional<std::string> dataDir)
    : configDir_(std::move(configDir)), dataDir_(std::move(dataDir)) {}

std::optional<std::string> PosixPlatform::configDir() const {
    return configDir_ ? configDir_ : xdgFolder("XDG_CONFIG_HOME", "/.config");
}

std::optional<std::string> PosixPlatform::dataDir() const {
    return dataDir_ ? dataDir_ : xdgFolder("XDG_DATA_HOME", "/.local/share");
}

std::optional<std::string> PosixPlatform::settingsPath() const {
    auto dir = configDir();
    if (!dir)
        return std::nullopt;
    return *dir + "/settings";
}

std::optional<std::string> PosixPlatform::readValue(platform::RegistryRoot root, const std::string& subKey,
                                                    const std::string& name) {
    const auto path = settingsPath();
    if (!path)
        return std::nullopt;
    const auto text = readSettingsText(*path);
    if (!text)
        return std::nullopt;
    const Settings settings = parseSettings(*text);
    const auto key = settings.keys.find({root, subKey});
    if (key == settings.keys.end())
        return std::nullopt;
    const auto value = key->second.find(name);
    if (value == key->second.end())
        return std::nullopt;
    return value->second;
}

void PosixPlatform::writeValue(platform::RegistryRoot root, const std::string& subKey, const std::string& name,
                               const std::string& value) {
    // The file could not give such text back.
    if (!isValidUtf8(subKey) || !isValidUtf8(name) || !isValidUtf8(value))
        throw std::invalid_argument("setting is not UTF-8 text");
    const auto dir = configDir();
    if (!dir)
        throw std::runtime_error("no home folder for the settings");
    if (!makeDirectories(*dir, 0700))
        fail("cannot create", *dir);
    const std::string path = *dir + "/settings";
    const auto text = readSettingsText(path);
    // Lines we cannot read may still matter to someone: they are kept.
    const std::string newText = withSetting(text.value_or(std::string()), root, subKey, name, value);
    if (text && newText == *text)
        return;
    replaceFile(path, 0600, [&](int fd) { writeAll(fd, newText, path); });
}

int PosixPlatform::shellOpen(const std::string& target) {
    const char* fromEnvironment = std::getenv("SKERROW_OPENER");
    std::string opener = fromEnvironment && *fromEnvironment ? fromEnvironment : "xdg-open";
    std::string argument = !target.empty() && target.front() == '-' ? "./" + target : target;
    char* argv[] = {opener.data(), argument.data(), nullptr};

    // The opener must not inherit the host's blocked or caught signals.
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0)
        return shellOpenFailed;
    sigset_t signals;
    sigemptyset(&signals);
    ::posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    ::posix_spawnattr_setsigdefault(&attributes, &signals);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // Not waiting for the opener, yet leaving no zombie: a short-lived child
    // starts it and exits at once, so the opener is adopted and reaped by
    // init, and we reap just that child, by its pid, never touching the
    // host's other children. Everything is prepared before the fork; the
    // child only spawns and _exits. Its exit code tells whether the opener
    // could be started.
    const pid_t child = ::fork();
    if (child == 0) {
        pid_t opened;
        const int error = ::posix_spawnp(&opened, argv[0], nullptr, &attributes, argv, environ);
        ::_exit(error == 0 ? 0 : 127);
    }
    ::posix_spawnattr_destroy(&attributes);
    if (child < 0)
        return shellOpenFailed;
    int status = 0;
    pid_t reaped;
    do
        reaped = ::waitpid(child, &status, 0);
    while (reaped < 0 && errno == EINTR);
    // ECHILD: the host ignores SIGCHLD, so the system reaped the child and
    // its verdict is lost; the fork worked, so assume the spawn did too.
    if (reaped < 0)
        return errno == ECHILD ? shellOpenStarted : shellOpenFailed;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? shellOpenStarted : shellOpenFailed;
}

std::optional<std::string> PosixPlatform::userName() {
    std::string buffer;
    const auto entry = userEntry(buffer);
    if (!entry || !entry->pw_name || !entry->pw_name[0])
        return std::nullopt;
    return std::string(entry->pw_name);
}

std::optional<std::string> PosixPlatform::systemDirectory() {
    auto dir = dataDir();
    if (!dir || !makeDirectories(*dir, 0700))
        return std::nullopt;
    return dir;
}

bool PosixPlatform::fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string PosixPlatform::readTextFile(const std::string& path) {
    Descriptor in = openRegularFile(path);
    return readAll(in.get(), path);
}

void PosixPlatform::createEmptyFile(const std::string& path) {
    // No O_TRUNC: a file that is already there keeps its content. O_NONBLOCK
    // keeps a FIFO in its place from blocking us.
    Descriptor out = openFile(path, O_WRONLY | O_CREAT | O_NOCTTY | O_NONBLOCK, 0666);
    if (out.get() < 0)
        fail("cannot create", path);
}

void PosixPlatform::replaceTextFile(const std::string& path, const std::string& text) {
    replaceFile(path, 0666, [&](int fd) { writeAll(fd, text, path); });
}

void PosixPlatform::copyFile(const std::string& from, const std::string& to) {
    Descriptor in = openRegularFile(from);
    replaceFile(to, 0666, [&](int fd) {
        readChunks(in.get(), from, [&](std::string_view chunk) { writeAll(fd, chunk, to); });
    });
}

namespace {

class HeldLock : public platform::FolderLock {
public:
    explicit HeldLock(Descriptor file) : file_(std::move(file)) {}
    // Closing the file lets the lock go.

private:
    Descriptor file_;
};

} // namespace

std::unique_ptr<platform::FolderLock> PosixPlatform::lockFolder(const std::string& folder) {
    const std::string path = folder + "/" + lockFileName;
    Descriptor file = openFile(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if (file.get() < 0)
        fail("cannot open the lock file", path);
    // A holder keeps the lock for one read and write of small files; one
    // that keeps it far longer has hung, and the caller tries again later.
    const auto giveUp = std::chrono::steady_clock::now() + lockWait;
    while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            fail("cannot lock", path);
        if (std::chrono::steady_clock::now() >= giveUp)
            fail("still locked by another process:", path, EWOULDBLOCK);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::make_unique<HeldLock>(std::move(file));
}

std::vector<std::uint8_t> PosixPlatform::loadBitmap(int id) {
    auto bytes = resources::bitmapResource(id);
    if (bytes.empty())
        throw std::runtime_error("no bitmap " + std::to_string(id));
    return bytes;
}

std::string PosixPlatform::generalDate(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    if (!localtime_r(&t, &local))
        throw std::runtime_error("the time cannot be shown in local time");
    // The date format of the environment's locale (LC_ALL, LC_TIME, LANG),
    // as the desktop's other programs show dates; one that is not installed
    // leaves the C locale's, as it does for them.
    std::string key;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG", "LOCPATH"}) {
        const char* value = std::getenv(variable);
        key.append(value ? value : "").push_back('\0');
    }
    if (!timeLocale_ || key != timeLocaleKey_) {
        timeLocale_.reset();
        locale_t locale = newlocale(LC_TIME_MASK, "", nullptr);
        if (!locale)
            locale = newlocale(LC_TIME_MASK, "C", nullptr);
        if (!locale)
            fail("cannot open the locale for", "dates");
        timeLocale_ = std::shared_ptr<void>(locale, [](void* opened) { freelocale(static_cast<locale_t>(opened)); });
        timeLocaleKey_ = std::move(key);
    }
    // Wide characters, so that the result is the same whatever the
    // locale's character set.
    wchar_t wide[256];
    const std::size_t length = wcsftime_l(wide, std::size(wide), L"%x %X", &local, static_cast<locale_t>(timeLocale_.get()));
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        appendUtf8(text, static_cast<char32_t>(wide[i]));
    return text;
}

} // namespace skerrow::posix
