#include "platform/win32/win32_platform.h"

#include "filter/settings.h"
#include "resources/bitmaps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <windows.h>

using skerrow::platform::RegistryRoot;
using skerrow::win32::ListFileFolders;
using skerrow::win32::Win32Platform;

namespace {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with its files; one
// lives at a time.
class TempFolder {
public:
    TempFolder() {
        path_ = (fs::temp_directory_path() / ("skerrow-" + std::to_string(::GetCurrentProcessId()))).string();
        fs::create_directory(path_);
    }
    ~TempFolder() {
        // Read-only files would stop the removal.
        for (const auto& entry : fs::recursive_directory_iterator(path_))
            ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The folders the tests look into hold files only.
long filesIn(const std::string& folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

// A registry key of the test's own under HKEY_CURRENT_USER, removed after.
class TestKey {
public:
    TestKey() : name_("Software\\SkerrowTests\\Platform" + std::to_string(::GetCurrentProcessId())) {}
    ~TestKey() { ::RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str()); }
    const std::string& name() const { return name_; }
    // The value's type and raw bytes as the registry holds them.
    std::pair<DWORD, std::string> raw(const std::string& subKey, const std::string& value) const {
        HKEY key;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, (name_ + "\\" + subKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return {REG_NONE, "<no key>"};
        char data[512];
        DWORD type = 0;
        DWORD size = sizeof data;
        const LONG result =
            ::RegQueryValueExA(key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        ::RegCloseKey(key);
        if (result != ERROR_SUCCESS)
            return {REG_NONE, "<no value>"};
        return {type, std::string(data, size)};
    }

private:
    std::string name_;
};

// The add-in names its key with a trailing backslash.
TEST(Win32Settings, WritingCreatesTheKeyAndAnAnsiStringEndedByNulAndReadingStopsAtTheFirstNulAndCreatesNothing) {
    ASSERT_EQ(::GetACP(), 1252u) << "the expected bytes below are those of code page 1252";
    TestKey key;
    Win32Platform platform;
    const std::string skerrow = key.name() + "\\Addins\\Skerrow\\";
    EXPECT_EQ(platform.readValue(RegistryRoot::CurrentUser, key.name() + "\\Missing\\", "AppPath"), std::nullopt);
    EXPECT_EQ(key.raw("Missing", "AppPath").second, "<no key>");
    platform.writeValue(RegistryRoot::CurrentUser, skerrow, "AppPath", "C:\\Programme\\Café\\");
    EXPECT_EQ(key.raw("Addins\\Skerrow", "AppPath"),
              (std::pair<DWORD, std::string>{REG_SZ, {"C:\\Programme\\Caf\xe9\\\0", 19}}));
    EXPECT_EQ(platform.readValue(RegistryRoot::CurrentUser, skerrow, "AppPath"), "C:\\Programme\\Café\\");
    EXPECT_EQ(platform.readValue(RegistryRoot::CurrentUser, skerrow, "HaveAutoDeleteCount"), std::nullopt);
    // Texts stored by others, with a NUL inside or none at the end.
    const std::string stored = key.name() + "\\Addins\\Skerrow";
    ::RegSetKeyValueA(HKEY_CURRENT_USER, stored.c_str(), "Total", REG_SZ, "12\0" "34", 6);
    ::RegSetKeyValueA(HKEY_CURRENT_USER, stored.c_str(), "Unended", REG_BINARY, "99", 2);
    EXPECT_EQ(platform.readValue(RegistryRoot::CurrentUser, skerrow, "Total"), "12");
    EXPECT_EQ(platform.readValue(RegistryRoot::CurrentUser, skerrow, "Unended"), "");
}

// The user's own formats (as two locales write them), put in place the way
// the Regional Settings do it and restored afterwards.
TEST(Win32Names, GeneralDateIsTheUsersShortDateAndLongTime) {
    const LCTYPE parts[] = {LOCALE_SSHORTDATE, LOCALE_STIMEFORMAT};
    std::wstring saved[2];
    for (int i = 0; i < 2; ++i) {
        wchar_t text[80] = {};
        ASSERT_GT(::GetLocaleInfoW(LOCALE_USER_DEFAULT, parts[i], text, 80), 0);
        saved[i] = text;
    }
    // Noon UTC is that day wherever the machine is; minutes and seconds are
    // the same in every whole-hour zone.
    using namespace std::chrono;
    const auto when = sys_days{year{2003} / 4 / 5} + hours{12} + minutes{7} + seconds{8};
    const struct {
        const wchar_t* date;
        const wchar_t* time;
        const char* shown;
    } cases[] = {
        {L"M/d/yyyy", L"mm:ss", "4/5/2003 07:08"},
        {L"dd.MM.yyyy", L"mm' min 'ss", "05.04.2003 07 min 08"},
    };
    Win32Platform platform;
    for (const auto& c : cases) {
        ASSERT_TRUE(::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, c.date));
        ASSERT_TRUE(::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, c.time));
        EXPECT_EQ(platform.generalDate(when), c.shown);
    }
    for (int i = 0; i < 2; ++i)
        ::SetLocaleInfoW(LOCALE_USER_DEFAULT, parts[i], saved[i].c_str());
}

// Where the list file goes, by what the two folders hold.
TEST(Win32ListFileFolder, FollowsWhatTheFoldersAllow) {
    enum class SystemFolder { Writable, WritableWithListFile, NotAFolder, ReadOnlyListFile };
    enum class Fallback { Missing, HoldsListFile, CannotBeMade };
    enum class Chosen { System, Fallback };
    struct Case {
        const char* story;
        SystemFolder system;
        Fallback fallback;
        Chosen chosen;
        const char* fallbackContent; // nullptr: no list file there afterwards
    };
    const Case cases[] = {
        {"a writable system directory holds the list file", SystemFolder::Writable, Fallback::Missing, Chosen::System,
         nullptr},
        {"an existing list file there stays in use", SystemFolder::WritableWithListFile, Fallback::Missing,
         Chosen::System, nullptr},
        {"a system directory that cannot take files sends it to the user's folder", SystemFolder::NotAFolder,
         Fallback::Missing, Chosen::Fallback, nullptr},
        {"a list file that cannot be written there moves along, lists and all", SystemFolder::ReadOnlyListFile,
         Fallback::Missing, Chosen::Fallback, "old;lists\r\n"},
        {"once in the user's folder it stays there", SystemFolder::WritableWithListFile, Fallback::HoldsListFile,
         Chosen::Fallback, "moved\r\n"},
        {"with no user's folder either, the system directory is all there is", SystemFolder::NotAFolder,
         Fallback::CannotBeMade, Chosen::System, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        TempFolder root;
        const std::string system = root / "system32";
        const std::string fallback = root / "AppData\\Corvalle\\Skerrow";
        Win32Platform probe;
        const std::string name = skerrow::getUserName(probe);

        if (c.system == SystemFolder::NotAFolder) {
            writeBytes(system, "a file where the folder should be");
        } else {
            ::CreateDirectoryA(system.c_str(), nullptr);
            if (c.system != SystemFolder::Writable)
                writeBytes(system + "\\" + name, "old;lists\r\n");
            if (c.system == SystemFolder::ReadOnlyListFile)
                ::SetFileAttributesA((system + "\\" + name).c_str(), FILE_ATTRIBUTE_READONLY);
        }
        if (c.fallback == Fallback::HoldsListFile) {
            fs::create_directories(fallback);
            writeBytes(fallback + "\\" + name, "moved\r\n");
        } else if (c.fallback == Fallback::CannotBeMade) {
            writeBytes(root / "AppData", "a file where the folder should be");
        }

        Win32Platform platform(ListFileFolders{system, fallback});
        EXPECT_EQ(platform.systemDirectory(), c.chosen == Chosen::System ? system : fallback);
        if (c.fallbackContent)
            EXPECT_EQ(readBytes(fallback + "\\" + name), c.fallbackContent);
        else
            EXPECT_FALSE(fs::exists(fallback + "\\" + name));
        // The probe leaves nothing behind.
        if (c.system != SystemFolder::NotAFolder) {
            EXPECT_EQ(filesIn(system), c.system == SystemFolder::Writable ? 0 : 1);
        }
        // Asking again gives the same folder.
        EXPECT_EQ(platform.systemDirectory(), c.chosen == Chosen::System ? system : fallback);
    }
}

TEST(Win32Files, TheListFileIsReplacedInTheAnsiCodePageWithQuestionMarksForTheRestOrKeptWhenItCannotBe) {
    ASSERT_EQ(::GetACP(), 1252u);
    TempFolder folder;
    Win32Platform platform;
    const std::string path = folder / "user";
    platform.replaceTextFile(path, "josé@example.com;a@b.c\r\n\r\n\r\n\r\n");
    EXPECT_EQ(readBytes(path), "jos\xe9@example.com;a@b.c\r\n\r\n\r\n\r\n");
    EXPECT_EQ(platform.readTextFile(path), "josé@example.com;a@b.c\r\n\r\n\r\n\r\n");
    // Characters outside the code page are written as question marks.
    platform.replaceTextFile(path, "ивan@example.com");
    EXPECT_EQ(readBytes(path), "??an@example.com");
    // A file that cannot be written is kept, and no temporary file is left.
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_THROW(platform.replaceTextFile(path, "lost\r\n"), std::system_error);
    EXPECT_EQ(readBytes(path), "??an@example.com");
    EXPECT_EQ(filesIn(folder.path()), 1);
}

TEST(Win32Files, CreatingAnEmptyFileKeepsAnExistingOneAndAFolderOrAMissingFileIsNoFile) {
    TempFolder folder;
    Win32Platform platform;
    platform.createEmptyFile(folder / "new");
    EXPECT_TRUE(platform.fileExists(folder / "new"));
    EXPECT_EQ(readBytes(folder / "new"), "");
    writeBytes(folder / "old", "lists\r\n");
    platform.createEmptyFile(folder / "old");
    EXPECT_EQ(readBytes(folder / "old"), "lists\r\n");
    EXPECT_FALSE(platform.fileExists(folder.path()));
    EXPECT_FALSE(platform.fileExists(folder / "missing"));
    EXPECT_THROW(platform.readTextFile(folder / "missing"), std::system_error);
    EXPECT_THROW(platform.copyFile(folder / "missing.flt", folder / "old"), std::system_error);
    EXPECT_EQ(readBytes(folder / "old"), "lists\r\n");
}

TEST(Win32Files, CopyingReplacesTheTargetByteForByteAlsoUnderANameOutsideTheCodePage) {
    TempFolder folder;
    Win32Platform platform;
    const std::string bytes("a\0b\xe9\xff\r\n", 7);
    writeBytes(folder / "user", bytes);
    // A backup named by the user in a script the ANSI code page lacks.
    const std::string backup = folder / "\xe5\xa4\x87\xe4\xbb\xbd.flt";
    platform.copyFile(folder / "user", backup);
    platform.copyFile(folder / "user", backup);
    platform.copyFile(backup, folder / "restored");
    EXPECT_EQ(readBytes(folder / "restored"), bytes);
    EXPECT_EQ(filesIn(folder.path()), 3);
}

TEST(Win32Files, AFolderLockKeepsOtherHoldersOutUntilItIsReleased) {
    TempFolder folder;
    Win32Platform first, second;
    second.lockWaitMilliseconds = 0;
    auto held = first.lockFolder(folder.path());
    EXPECT_THROW(second.lockFolder(folder.path()), std::system_error);
    held.reset();
    EXPECT_NE(second.lockFolder(folder.path()), nullptr);
}

TEST(Win32Bitmaps, EachResourceComesBackAsTheBmpFileItWasMadeFrom) {
    Win32Platform platform;
    for (int id : {skerrow::resources::productPicture, skerrow::resources::makerBanner, skerrow::resources::isSpamFace,
                   skerrow::resources::addFriendFace}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(platform.loadBitmap(id), skerrow::resources::bitmapResource(id));
    }
    EXPECT_THROW(platform.loadBitmap(300), std::runtime_error);
}

} // namespace
