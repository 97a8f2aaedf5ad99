// The operating system as Windows offers it: the per-user registry, the
// shell, the user and system names, the list file and the bitmap resources
// of the add-in's own file.
#pragma once

#include "addin/host/platform.h"

#include <optional>
#include <string>

#include <windows.h>

namespace skerrow::win32 {

// The file in a folder whose byte-range lock stands for the folder's lock.
inline constexpr const char* lockFileName = "~skerrow.lock";

// Where the list file may live. Nothing means the system's own folder.
struct ListFileFolders {
    // The Windows system directory (GetSystemDirectoryA).
    std::optional<std::string> system;
    // The user's own folder, used when the system directory cannot take the
    // list file (%APPDATA%\Corvalle\Skerrow).
    std::optional<std::string> fallback;
};

class Win32Platform : public platform::Platform {
public:
    // Bitmaps come from the resources of module; nullptr means the module
    // this code is linked into (the add-in DLL).
    explicit Win32Platform(ListFileFolders folders = {}, HMODULE module = nullptr);

    // RegOpenKeyA, RegQueryValueExA, RegCloseKey; text before the value's
    // first NUL, converted from the ANSI code page.
    std::optional<std::string> readValue(platform::RegistryRoot root, const std::string& subKey,
                                         const std::string& name) override;
    // RegCreateKeyA, RegSetValueExA (REG_SZ), RegCloseKey. Throws
    // std::system_error.
    void writeValue(platform::RegistryRoot root, const std::string& subKey, const std::string& name,
                    const std::string& value) override;
    // ShellExecuteA with the verb "open" and a normal window.
    int shellOpen(const std::string& target) override;
    // GetUserNameA into 100 characters; nothing when the system gives none.
    std::optional<std::string> userName() override;
    // The folder that holds the list file. That is the system directory,
    // unless the list file cannot be created or written there: then the
    // fallback folder takes it, seeded once with a copy of a list file that
    // the system directory already holds, and stays in use from then on.
    std::optional<std::string> systemDirectory() override;
    char pathSeparator() const override { return '\\'; }

    // Paths go to the wide entry points, so that a backup file named with
    // characters outside the ANSI code page can still be reached; the list
    // file's text is in the ANSI code page. File operations throw
    // std::system_error.
    bool fileExists(const std::string& path) override;
    std::string readTextFile(const std::string& path) override;
    void createEmptyFile(const std::string& path) override;
    // Writes a temporary file beside the target and moves it over the
    // target (MoveFileExW with MOVEFILE_REPLACE_EXISTING): a failure leaves
    // the old file whole. A read-only target is not replaced.
    void replaceTextFile(const std::string& path, const std::string& text) override;
    void copyFile(const std::string& from, const std::string& to) override;
    // LockFileEx on lockFileName in the folder, the file made (hidden) when
    // missing and kept; waits up to lockWaitMilliseconds for another holder.
    std::unique_ptr<platform::FolderLock> lockFolder(const std::string& folder) override;
    // The bitmap resource as the bytes of a BMP file. Throws
    // std::runtime_error for an id the module lacks.
    std::vector<std::uint8_t> loadBitmap(int id) override;
    // GetDateFormatW (short date) and GetTimeFormatW (long time) with the
    // user's default locale and settings, in the system's time zone.
    std::string generalDate(std::chrono::system_clock::time_point when) override;

    // The two candidate folders, nothing when the system names none.
    std::optional<std::string> systemFolder() const;
    std::optional<std::string> fallbackFolder() const;

    DWORD lockWaitMilliseconds = 10000;

private:
    ListFileFolders folders_;
    HMODULE module_;
};

} // namespace skerrow::win32
