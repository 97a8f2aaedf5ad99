#include "platform/posix/posix_platform.h"
#include "platform/posix/settings_file.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::string_literals;
using namespace skerrow::test;
using skerrow::platform::RegistryRoot;
using skerrow::posix::PosixPlatform;

namespace {

const std::string key = "Software\\Corvalle\\Addins\\Skerrow\\";

// Every test gets a fresh folder and an environment of its own; every test
// of this program is one of these, so what the last one set goes unrestored.
class Posix : public ::testing::Test {
protected:
    void SetUp() override {
        dir = makeTempDir("skerrow-posix").string();
        for (const char* variable : variables)
            ::unsetenv(variable);
        ::setenv("HOME", (dir + "/home").c_str(), 1);
        ::tzset();
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string at(const std::string& name) const { return dir + "/" + name; }
    static mode_t modeOf(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }

    static constexpr const char* variables[] = {"HOME",   "XDG_CONFIG_HOME", "XDG_DATA_HOME", "SKERROW_OPENER",
                                                "LC_ALL", "LC_TIME",         "LANG",          "LOCPATH",
                                                "TZ"};
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

TEST_F(Posix, SettingsFileNamesKeyAndValuesAsTheyAreAndAMissOnlyReads) {
    PosixPlatform p(at("config"));
    EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, key, "AppPath"), std::nullopt);
    EXPECT_FALSE(fs::exists(at("config"))) << "reading created the folder";

    p.writeValue(RegistryRoot::CurrentUser, key, "AppPath", "/usr/share/skerrow/");
    p.writeValue(RegistryRoot::CurrentUser, key, "HaveAutoDeleteCount", "12");
    const std::string written = "[HKEY_CURRENT_USER\\Software\\Corvalle\\Addins\\Skerrow\\]\n"
                                "AppPath=/usr/share/skerrow/\n"
                                "HaveAutoDeleteCount=12\n";
    EXPECT_EQ(readFile(at("config/settings")), written);
    EXPECT_EQ(modeOf(at("config/settings")), 0600u);
    EXPECT_EQ(fileNames(at("config")), std::vector<std::string>{"settings"}) << "a temporary file was left";
    EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, key + "Sub\\", "AppPath"), std::nullopt);
    EXPECT_EQ(readFile(at("config/settings")), written);
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
        {"an escape the writer never writes", header + "App%50ath=x\n", std::nullopt},
        {"overlong UTF-8", header + "AppPath=\xc0\xaf\n", std::nullopt},
        {"a surrogate", header + "AppPath=\xed\xa0\x80\n", std::nullopt},
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
        writeFile(at("settings"), row.text);
        EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, "K", "AppPath"), row.appPath) << row.what;
    }
    writeFile(at("settings"), header + "AppPath=ok\n" + std::string(16u << 20, 'a'));
    EXPECT_THROW(p.readValue(RegistryRoot::CurrentUser, "K", "AppPath"), std::exception) << "over the size limit";
}

TEST_F(Posix, WritingASettingKeepsEveryOtherLineByteForByte) {
    const std::string header = "[HKEY_CURRENT_USER\\K]\r\n";
    const std::string latin1 = "AppPath=C:\\\\Programme\\\\Sk\xe9rrow\\\\\r\n";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"garbage\0\xff\n"s + header + latin1 + "Count=1\r\nKept=1\r\n",
         "garbage\0\xff\n"s + header + latin1 + "Count=2\nKept=1\r\n"},
        {header + latin1 + "[HKEY_CURRENT_USER\\Other]\nx=1\n",
         header + latin1 + "Count=2\n[HKEY_CURRENT_USER\\Other]\nx=1\n"},
        {"\xEF\xBB\xBF; a comment", "\xEF\xBB\xBF; a comment\n[HKEY_CURRENT_USER\\K]\nCount=2\n"},
    };
    PosixPlatform p(dir);
    for (const auto& [before, after] : rows) {
        writeFile(at("settings"), before);
        p.writeValue(RegistryRoot::CurrentUser, "K", "Count", "2");
        EXPECT_EQ(readFile(at("settings")), after);
        EXPECT_EQ(p.readValue(RegistryRoot::CurrentUser, "K", "Count"), "2");
    }
}

TEST_F(Posix, RefusedSettingWriteLeavesFileAsItWas) {
    PosixPlatform p(dir);
    p.writeValue(RegistryRoot::CurrentUser, key, "AppPath", "/a/");
    const std::string before = readFile(at("settings"));
    EXPECT_THROW(p.writeValue(RegistryRoot::CurrentUser, key, "AppPath", "caf\xe9"), std::invalid_argument);
    EXPECT_EQ(readFile(at("settings")), before);

    fs::create_directory(at("blocked"));
    fs::create_directory(at("blocked/settings"));
    PosixPlatform blocked(at("blocked"));
    EXPECT_THROW(blocked.writeValue(RegistryRoot::CurrentUser, key, "AppPath", "/a/"), std::exception);
    EXPECT_EQ(fileNames(at("blocked")), std::vector<std::string>{"settings"});
}

TEST_F(Posix, ReplaceTextFileReplacesWholeAndKeepsMode) {
    writeFile(at("list"), std::string(100, 'x'));
    ::chmod(at("list").c_str(), 0640);
    PosixPlatform p;
    p.replaceTextFile(at("list"), "a@b.example;c\r\n\r\n\r\n\r\n");
    EXPECT_EQ(readFile(at("list")), "a@b.example;c\r\n\r\n\r\n\r\n");
    EXPECT_EQ(modeOf(at("list")), 0640u);

    fs::create_symlink("list", at("link"));
    p.replaceTextFile(at("link"), "through the link");
    EXPECT_TRUE(fs::is_symlink(at("link")));
    EXPECT_EQ(readFile(at("list")), "through the link");
    EXPECT_EQ(fileNames(dir), (std::vector<std::string>{"link", "list"}));
}

TEST_F(Posix, AFileTheUserMayNotWriteIsNotReplaced) {
    writeFile(at("list"), "old");
    ::chmod(at("list").c_str(), 0444);
    // Root may write anything: the user here is one who may not (nobody,
    // owning the folder and the file, when we are root).
    const passwd* nobody = ::getpwnam("nobody");
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(!root || nobody);
    for (const auto& path : {dir, at("list")})
        ASSERT_TRUE(!root || ::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) == 0) << path;
    const pid_t child = ::fork();
    if (child == 0) {
        if (root && (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0))
            ::_exit(2);
        try {
            PosixPlatform().replaceTextFile(at("list"), "new");
        } catch (const std::system_error&) {
            ::_exit(0);
        }
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write was not refused";
    EXPECT_EQ(readFile(at("list")), "old");
}

TEST_F(Posix, ReplacingRemovesOnlyTheTemporariesOfProcessesThatAreGone) {
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone), alive = std::to_string(::getpid());
    const std::vector<std::string> kept = {".list.tmp-" + alive + "-7", ".list.tmp-1-3", ".list.tmp-" + dead + "-x",
                                           ".other.tmp-" + dead + "-0", "list"};
    for (const auto& name : kept)
        writeFile(at(name), "partial");
    writeFile(at(".list.tmp-" + dead + "-0"), "partial");
    PosixPlatform().replaceTextFile(at("list"), "new");
    auto expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(fileNames(dir), expected);
}

TEST_F(Posix, FolderLockMakesAnotherHolderWait) {
    PosixPlatform p;
    auto held = p.lockFolder(dir);
    PosixPlatform impatient;
    impatient.lockWait = std::chrono::milliseconds(0);
    EXPECT_THROW(impatient.lockFolder(dir), std::system_error);
    const pid_t child = ::fork();
    if (child == 0) {
        held.reset(); // the parent's lock stays: it is the parent's file
        try {
            const auto lock = PosixPlatform().lockFolder(dir);
            ::_exit(fs::exists(at("released")) ? 0 : 1);
        } catch (...) {
            ::_exit(2);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    writeFile(at("released"), "");
    held.reset();
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the lock did not make the other process wait";
}

TEST_F(Posix, CopyFileCopiesEveryByteOverALongerTargetAndAFailedReplaceOrCopyLeavesItAsItWas) {
    PosixPlatform p;
    writeFile(at("target"), "old");
    fs::create_directory(at("folder"));
    EXPECT_THROW(p.copyFile(at("missing"), at("target")), std::runtime_error);
    EXPECT_THROW(p.copyFile(at("folder"), at("target")), std::runtime_error) << "a folder has no bytes to copy";
    ::mkfifo(at("fifo").c_str(), 0600);
    EXPECT_THROW(p.copyFile(at("fifo"), at("target")), std::runtime_error) << "a FIFO is no backup (nor a wait)";
    EXPECT_THROW(p.copyFile(at("target"), at("folder")), std::runtime_error);
    EXPECT_THROW(p.replaceTextFile(at("folder"), "new"), std::runtime_error);
    EXPECT_THROW(p.replaceTextFile(at("nowhere/target"), "new"), std::runtime_error);
    EXPECT_THROW(p.copyFile(at("target"), at("nowhere/target")), std::runtime_error);
    EXPECT_EQ(readFile(at("target")), "old");
    EXPECT_TRUE(fs::is_directory(at("folder")));
    EXPECT_EQ(fileNames(dir), (std::vector<std::string>{"fifo", "folder", "target"})) << "a temporary file was left";

    std::string bytes = "line\r\n\0\xff\xfe binary"s;
    for (int i = 0; i < 20000; ++i)
        bytes += static_cast<char>(i * 7);
    writeFile(at("from"), bytes);
    writeFile(at("target"), std::string(bytes.size() * 2, 'z'));
    p.copyFile(at("from"), at("target"));
    EXPECT_EQ(readFile(at("target")), bytes);
}

TEST_F(Posix, CreateEmptyFileNeverTruncatesAndFileQueriesTellFilesFromFoldersAndMissing) {
    PosixPlatform p;
    p.createEmptyFile(at("new"));
    EXPECT_TRUE(p.fileExists(at("new")));
    EXPECT_EQ(readFile(at("new")), "");
    writeFile(at("kept"), "friend@example.com\r\n");
    p.createEmptyFile(at("kept"));
    EXPECT_EQ(readFile(at("kept")), "friend@example.com\r\n");
    EXPECT_THROW(p.createEmptyFile(at("nowhere/new")), std::runtime_error);

    writeFile(at("file"), "text ünïcode\n");
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

TEST_F(Posix, SystemDirectoryIsMadeForTheUserAloneAndIsNoneWhereAFileStands) {
    EXPECT_EQ(PosixPlatform().systemDirectory(), at("home/.local/share/skerrow"));
    EXPECT_EQ(modeOf(at("home/.local/share/skerrow")), 0700u);
    writeFile(at("file"), "");
    ::setenv("XDG_DATA_HOME", at("file").c_str(), 1);
    EXPECT_EQ(PosixPlatform().systemDirectory(), std::nullopt) << "a file stands where the folder must go";
}

TEST_F(Posix, GeneralDateIsTheEnvironmentsLocaleShortDateAndLongTimeInLocalTime) {
    // Two locales made here (their date part only, which is quick), so that
    // the test needs none installed.
    const std::string locales = at("locales");
    fs::create_directory(locales);
    for (const std::string name : {"en_US", "de_DE"}) {
        writeFile(at(name), "LC_TIME\ncopy \"" + name + "\"\nEND LC_TIME\n");
        const std::string made = locales + "/" + name + ".UTF-8";
        std::system(("localedef -c -i '" + at(name) + "' -f UTF-8 '" + made + "' >/dev/null 2>&1").c_str());
        ASSERT_TRUE(fs::exists(made + "/LC_TIME")) << "localedef (Debian package locales) made no " << name;
    }
    ::setenv("LOCPATH", locales.c_str(), 1);
    ::setenv("TZ", "EST5", 1); // five hours behind UTC, no summer time
    ::tzset();
    using namespace std::chrono;
    const auto when = sys_days{year{2003} / 4 / 5} + hours{12} + minutes{7} + seconds{8};
    const struct {
        const char* variable;
        const char* locale;
        const char* shown;
    } cases[] = {
        {"LC_ALL", "en_US.UTF-8", "04/05/2003 07:07:08 AM"},
        {"LANG", "de_DE.UTF-8", "05.04.2003 07:07:08"},
        {"LC_TIME", "xx_XX.UTF-8", "04/05/03 07:07:08"}, // none such: the C locale's, as for other programs
    };
    PosixPlatform p;
    for (const auto& c : cases) {
        for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"})
            ::unsetenv(variable);
        ::setenv(c.variable, c.locale, 1);
        EXPECT_EQ(p.generalDate(when), c.shown) << c.locale;
    }
}

// The opener records its arguments, NUL-separated, then renames the record
// into place so that a poll never sees half of it.
class ShellOpen : public Posix {
protected:
    void SetUp() override {
        Posix::SetUp();
        writeFile(at("opener"), "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + at("record.tmp") + "' && mv '" +
                                at("record.tmp") + "' '" + at("record") + "'\n");
        ::chmod(at("opener").c_str(), 0755);
        ::setenv("SKERROW_OPENER", at("opener").c_str(), 1);
    }
    // The arguments the opener got; "" when it never ran.
    std::string record() {
        for (int i = 0; i < 500 && !fs::exists(at("record")); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::string text = readFile(at("record"));
        fs::remove(at("record"));
        return text;
    }
};

TEST_F(ShellOpen, HostileTargetArrivesAsOneArgumentAndRunsNothing) {
    const std::string marker = at("pwned");
    // What the opener receives: the target itself, but for one it would take for an option.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"http://example.com/a b?x=1&y='2'", ""},
        {"\"q\"; touch " + marker + "; $(touch " + marker + ") `touch " + marker + "` | > " + marker, ""},
        {"--version", "./--version"},
    };
    PosixPlatform p;
    for (const auto& [target, received] : rows) {
        EXPECT_EQ(p.shellOpen(target), skerrow::posix::shellOpenStarted) << target;
        EXPECT_EQ(record(), (received.empty() ? target : received) + '\0') << target;
    }
    EXPECT_FALSE(fs::exists(marker)) << "the target ran a command";
}

TEST_F(ShellOpen, LeavesNoChildToReapAndAMissingOpenerFails) {
    EXPECT_EQ(PosixPlatform().shellOpen("x"), skerrow::posix::shellOpenStarted);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child of ours is still there";
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(record(), "x\0"s);

    ::setenv("SKERROW_OPENER", at("no-such-opener").c_str(), 1);
    EXPECT_EQ(PosixPlatform().shellOpen("x"), skerrow::posix::shellOpenFailed);
}

} // namespace
