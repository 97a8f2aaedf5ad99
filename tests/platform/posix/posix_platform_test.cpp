#include "platform/posix/posix_platform.h"
#include "platform/posix/settings_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;
using skerrow::platform::RegistryRoot;
using skerrow::posix::PosixPlatform;

namespace {

const std::string key = "Software\\Corvalle\\Addins\\Skerrow\\";

// Every test gets a fresh folder and its own environment.
class Posix : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/skerrow-posix-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
        for (const char* variable : variables)
            if (const char* value = std::getenv(variable))
                saved.emplace_back(variable, value);
        for (const char* variable : variables)
            ::unsetenv(variable);
        ::setenv("HOME", (dir + "/home").c_str(), 1);
    }
    void TearDown() override {
        fs::remove_all(dir);
        for (const char* variable : variables)
            ::unsetenv(variable);
        for (const auto& [variable, value] : saved)
            ::setenv(variable.c_str(), value.c_str(), 1);
    }
    std::string at(const std::string& name) const { return dir + "/" + name; }
    static void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string read(const std::string& path) {
        std::ostringstream bytes;
        bytes << std::ifstream(path, std::ios::binary).rdbuf();
        return bytes.str();
    }
    static std::vector<std::string> namesIn(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    static mode_t modeOf(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }

    static constexpr const char* variables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "SKERROW_OPENER"};
    std::vector<std::pair<std::string, std::string>> saved;
    std::string dir;
};

TEST_F(Posix, SettingsRoundTripWhateverTheyHold) {
    const std::string oddKey = "Software\\Odd]Key\\[x]\\%41\n";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"AppPath", "C:\\Program Files\\Skerrow\\"},
        {"", "the default value"},
        {"a=b", "=starts with equals"},
        {"[looks like a header]", "[HKEY_CURRENT_USER\\x]"},
        {"%25", "%41 and \\n as typed"},
        {"lines", "one\ntwo\r\nthree\r"},
        {"nul", "before\0after"s},
        {"Grüße", "日本語 ✓"},
        {"empty", ""},
        {"trailing", "ends with a backslash\\"},
    };
    {
        PosixPlatform p(at("config"));
        for (const auto& [name, value] : rows)
            p.writeValue(RegistryRoot::CurrentUser, oddKey, name, value);
        p.writeValue(RegistryRoot::LocalMachine, oddKey, "AppPath", "machine");
    }
    PosixPlatform p(at("config"));
    for (const auto& [name, value] : rows)
        EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, oddKey, name), value) << name;
    EXPECT_EQ(p.readValue(RegistryRoot::LocalMachine, oddKey, "AppPath"), "machine");
}

TEST_F(Posix, SettingsFileNamesKeyAndValuesAsTheyAre) {
    PosixPlatform p(at("config"));
    p.writeValue(RegistryRoot::CurrentUser, key, "AppPath", "/usr/share/skerrow/");
    p.writeValue(RegistryRoot::CurrentUser, key, "HaveAutoDeleteCount", "12");
    EXPECT_EQ(read(at("config/settings")), "[HKEY_CURRENT_USER\\Software\\Corvalle\\Addins\\Skerrow\\]\n"
                                           "AppPath=/usr/share/skerrow/\n"
                                           "HaveAutoDeleteCount=12\n");
    EXPECT_EQ(modeOf(at("config/settings")), 0600u);
    EXPECT_EQ(namesIn(at("config")), std::vector<std::string>{"settings"}) << "a temporary file was left";
}

TEST_F(Posix, SettingsLiveUnderXdgConfigHomeOrHome) {
    PosixPlatform().writeValue(RegistryRoot::CurrentUser, key, "AppPath", "/a/");
    EXPECT_TRUE(fs::exists(at("home/.config/skerrow/settings")));
    ::setenv("XDG_CONFIG_HOME", at("xdg").c_str(), 1);
    EXPECT_EQ(PosixPlatform().readValue(RegistryRoot::CurrentUser, key, "AppPath"), std::nullopt);
    PosixPlatform().writeValue(RegistryRoot::CurrentUser, key, "AppPath", "/b/");
    EXPECT_NE(read(at("xdg/skerrow/settings")).find("AppPath=/b/"), std::string::npos);
}

TEST_F(Posix, MissingSettingReadsNothingAndCreatesNothing) {
    PosixPlatform p(at("config"));
    EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, key, "AppPath"), std::nullopt);
    EXPECT_FALSE(fs::exists(at("config"))) << "reading created the folder";

    p.writeValue(RegistryRoot::CurrentUser, key, "AppPath", "/a/");
    const std::string before = read(at("config/settings"));
    EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, key, "Missing"), std::nullopt);
    EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, key + "Sub\\", "AppPath"), std::nullopt);
    EXPECT_EQ(p.readValue(RegistryRoot::LocalMachine, key, "AppPath"), std::nullopt);
    EXPECT_EQ(read(at("config/settings")), before);
}

struct CorruptFile {
    const char* what;
    std::string text;
    std::optional<std::string> appPath;
};

TEST_F(Posix, CorruptSettingsFileReadsWhatCanBeParsed) {
    const std::string header = "[HKEY_CURRENT_USER\\K]\n";
    const std::vector<CorruptFile> rows = {
        {"binary bytes", "\x7f" "ELF\0\0\x01\xff\xfe[]=\n\n=\\"s, std::nullopt},
        {"NUL in the line", header + "AppPath=a\0b\n"s, std::nullopt},
        {"invalid UTF-8", header + "AppPath=caf\xe9\n", std::nullopt},
        {"bad escape", header + "AppPath=c:\\dir\n", std::nullopt},
        {"cut in the escape", header + "AppPath=ends\\", std::nullopt},
        {"line without =", header + "AppPath\n", std::nullopt},
        {"value before any header", "AppPath=x\n" + header, std::nullopt},
        {"truncated header after a good one", header + "[HKEY_CURRENT_USER\\L\nAppPath=x\n", std::nullopt},
        {"unknown root after a good one", header + "[HKEY_USERS\\K]\nAppPath=x\n", std::nullopt},
        {"bad lines around a good one", header + "\xff\xff\nAppPath=ok\nnoise\n%zz=1\n", "ok"},
        {"huge line before a good one", header + std::string(3 << 20, 'a') + "\nAppPath=ok", "ok"},
        {"Windows line ends", "\xEF\xBB\xBF" + header + "AppPath=ok\r\n", "ok"},
        {"value named twice", header + "AppPath=old\nAppPath=new\n", "new"},
    };
    PosixPlatform p(dir);
    for (const auto& row : rows) {
        write(at("settings"), row.text);
        EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, "K", "AppPath"), row.appPath) << row.what;
    }
}

TEST_F(Posix, WriteOverCorruptFileKeepsWhatParsed) {
    write(at("settings"), "garbage\0\xff\n[HKEY_CURRENT_USER\\K]\nKept=1\n"s);
    PosixPlatform p(dir);
    p.writeValue(RegistryRoot::CurrentUser, "K", "Added", "2");
    EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, "K", "Kept"), "1");
    EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, "K", "Added"), "2");
}

TEST_F(Posix, RefusedSettingWriteLeavesFileAsItWas) {
    PosixPlatform p(dir);
    p.writeValue(RegistryRoot::CurrentUser, key, "AppPath", "/a/");
    const std::string before = read(at("settings"));
    EXPECT_THROW(p.writeValue(RegistryRoot::CurrentUser, key, "AppPath", "caf\xe9"), std::invalid_argument);
    EXPECT_EQ(read(at("settings")), before);

    fs::create_directory(at("blocked"));
    fs::create_directory(at("blocked/settings"));
    PosixPlatform blocked(at("blocked"));
    EXPECT_THROW(blocked.writeValue(RegistryRoot::CurrentUser, key, "AppPath", "/a/"), std::exception);
    EXPECT_EQ(namesIn(at("blocked")), std::vector<std::string>{"settings"});
}

TEST_F(Posix, ReplaceTextFileReplacesWholeAndKeepsMode) {
    write(at("list"), std::string(100, 'x'));
    ::chmod(at("list").c_str(), 0640);
    PosixPlatform p;
    p.replaceTextFile(at("list"), "a@b.example;c\r\n\r\n\r\n\r\n");
    EXPECT_EQ(read(at("list")), "a@b.example;c\r\n\r\n\r\n\r\n");
    EXPECT_EQ(modeOf(at("list")), 0640u);

    fs::create_symlink("list", at("link"));
    p.replaceTextFile(at("link"), "through the link");
    EXPECT_TRUE(fs::is_symlink(at("link")));
    EXPECT_EQ(read(at("list")), "through the link");
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"link", "list"}));
}

TEST_F(Posix, FailedReplaceOrCopyLeavesTargetAsItWas) {
    PosixPlatform p;
    write(at("target"), "old");
    fs::create_directory(at("folder"));
    EXPECT_THROW(p.copyFile(at("missing"), at("target")), std::runtime_error);
    EXPECT_THROW(p.copyFile(at("folder"), at("target")), std::runtime_error) << "a folder has no bytes to copy";
    ::mkfifo(at("fifo").c_str(), 0600);
    EXPECT_THROW(p.copyFile(at("fifo"), at("target")), std::runtime_error) << "a FIFO is no backup (nor a wait)";
    EXPECT_THROW(p.copyFile(at("target"), at("folder")), std::runtime_error);
    EXPECT_THROW(p.replaceTextFile(at("folder"), "new"), std::runtime_error);
    EXPECT_THROW(p.replaceTextFile(at("nowhere/target"), "new"), std::runtime_error);
    EXPECT_THROW(p.copyFile(at("target"), at("nowhere/target")), std::runtime_error);
    EXPECT_EQ(read(at("target")), "old");
    EXPECT_TRUE(fs::is_directory(at("folder")));
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"fifo", "folder", "target"})) << "a temporary file was left";
}

TEST_F(Posix, CopyFileCopiesEveryByteOverALongerTarget) {
    std::string bytes = "line\r\n\0\xff\xfe binary"s;
    for (int i = 0; i < 20000; ++i)
        bytes += static_cast<char>(i * 7);
    write(at("from"), bytes);
    write(at("to"), std::string(bytes.size() * 2, 'z'));
    PosixPlatform().copyFile(at("from"), at("to"));
    EXPECT_EQ(read(at("to")), bytes);
    EXPECT_EQ(read(at("from")), bytes);
}

TEST_F(Posix, CreateEmptyFileNeverTruncates) {
    PosixPlatform p;
    p.createEmptyFile(at("new"));
    EXPECT_TRUE(p.fileExists(at("new")));
    EXPECT_EQ(read(at("new")), "");
    write(at("kept"), "friend@example.com\r\n");
    p.createEmptyFile(at("kept"));
    EXPECT_EQ(read(at("kept")), "friend@example.com\r\n");
    EXPECT_THROW(p.createEmptyFile(at("nowhere/new")), std::runtime_error);
}

TEST_F(Posix, FileQueriesTellFilesFromFoldersAndMissing) {
    PosixPlatform p;
    write(at("file"), "text ünïcode\n");
    EXPECT_TRUE(p.fileExists(at("file")));
    EXPECT_FALSE(p.fileExists(dir));
    EXPECT_FALSE(p.fileExists(at("missing")));
    EXPECT_EQ(p.readTextFile(at("file")), "text ünïcode\n");
    try {
        p.readTextFile(at("missing"));
        ADD_FAILURE() << "reading a missing file did not throw";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(std::strerror(ENOENT)), std::string::npos) << e.what();
    }
}

TEST_F(Posix, SystemDirectoryIsMadeUnderXdgDataHomeOrHome) {
    EXPECT_EQ(PosixPlatform().systemDirectory(), at("home/.local/share/skerrow"));
    EXPECT_TRUE(fs::is_directory(at("home/.local/share/skerrow")));
    EXPECT_EQ(modeOf(at("home/.local/share/skerrow")), 0700u);

    ::setenv("XDG_DATA_HOME", at("data").c_str(), 1);
    EXPECT_EQ(PosixPlatform().systemDirectory(), at("data/skerrow"));
    EXPECT_TRUE(fs::is_directory(at("data/skerrow")));
    EXPECT_EQ(PosixPlatform().pathSeparator(), '/');

    write(at("file"), "");
    ::setenv("XDG_DATA_HOME", at("file").c_str(), 1);
    EXPECT_EQ(PosixPlatform().systemDirectory(), std::nullopt) << "a file stands where the folder must go";
}

TEST_F(Posix, UserNameAndBitmapsComeFromTheSystem) {
    PosixPlatform p;
    const passwd* entry = ::getpwuid(::geteuid());
    EXPECT_EQ(p.userName(), entry ? std::optional<std::string>(entry->pw_name) : std::nullopt);
    const auto face = p.loadBitmap(200);
    ASSERT_GE(face.size(), 2u);
    EXPECT_EQ(face[0], 'B');
    EXPECT_EQ(face[1], 'M');
    EXPECT_THROW(p.loadBitmap(999), std::runtime_error);
}

// The opener records its arguments, NUL-separated, then renames the record
// into place so that a poll never sees half of it.
class ShellOpen : public Posix {
protected:
    void SetUp() override {
        Posix::SetUp();
        write(at("opener"), "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + at("record.tmp") + "' && mv '" +
                                at("record.tmp") + "' '" + at("record") + "'\n");
        ::chmod(at("opener").c_str(), 0755);
        ::setenv("SKERROW_OPENER", at("opener").c_str(), 1);
    }
    std::optional<std::string> record() {
        for (int i = 0; i < 500 && !fs::exists(at("record")); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!fs::exists(at("record")))
            return std::nullopt;
        std::string text = read(at("record"));
        fs::remove(at("record"));
        return text;
    }
};

TEST_F(ShellOpen, HostileTargetArrivesAsOneArgumentAndRunsNothing) {
    const std::string marker = at("pwned");
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"/usr/share/skerrow/skerrow.chm", "/usr/share/skerrow/skerrow.chm"},
        {"http://example.com/a b?x=1&y='2'", "http://example.com/a b?x=1&y='2'"},
        {"\"q\"; touch " + marker + "; $(touch " + marker + ") `touch " + marker + "` | > " + marker,
         "\"q\"; touch " + marker + "; $(touch " + marker + ") `touch " + marker + "` | > " + marker},
        {"--version", "./--version"},
    };
    PosixPlatform p;
    for (const auto& [target, received] : rows) {
        EXPECT_EQ(p.shellOpen(target), skerrow::posix::shellOpenStarted) << target;
        EXPECT_EQ(record(), received + '\0') << target;
    }
    EXPECT_FALSE(fs::exists(marker)) << "the target ran a command";
}

TEST_F(ShellOpen, LeavesNoChildToReap) {
    EXPECT_EQ(PosixPlatform().shellOpen("x"), skerrow::posix::shellOpenStarted);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child of ours is still there";
    EXPECT_EQ(errno, ECHILD);
    EXPECT_TRUE(record());
}

TEST_F(ShellOpen, MissingOpenerFails) {
    ::setenv("SKERROW_OPENER", at("no-such-opener").c_str(), 1);
    EXPECT_EQ(PosixPlatform().shellOpen("x"), skerrow::posix::shellOpenFailed);
    ::setenv("SKERROW_OPENER", "skerrow-no-such-opener-on-path", 1);
    EXPECT_EQ(PosixPlatform().shellOpen("x"), skerrow::posix::shellOpenFailed);
}

} // namespace
