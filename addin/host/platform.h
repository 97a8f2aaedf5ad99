// The operating system as the add-in sees it: a per-user settings store,
// the shell, the user and system names, files, the button bitmaps and the
// user's date format.
// Every call may throw (std::exception); the add-in's own routines trap.
// Text is UTF-8 on this side; an implementation converts at its edge.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skerrow::platform {

// Held from the moment lockFolder returns it until it is destroyed.
class FolderLock {
public:
    virtual ~FolderLock() = default;
};

// Registry roots the add-in names.
enum class RegistryRoot { CurrentUser, LocalMachine };

class Platform {
public:
    virtual ~Platform() = default;

    // Settings: string values under a key of a root. readValue gives nothing
    // for a missing key or value and creates neither.
    virtual std::optional<std::string> readValue(RegistryRoot root, const std::string& subKey,
                                                 const std::string& name) = 0;
    // Creates the key when missing.
    virtual void writeValue(RegistryRoot root, const std::string& subKey, const std::string& name,
                            const std::string& value) = 0;

    // Opens a document or web address the way the desktop does; does not
    // wait. Returns the shell's code, above 32 for success.
    virtual int shellOpen(const std::string& target) = 0;

    // The login name, or nothing when the system gives none.
    virtual std::optional<std::string> userName() = 0;
    // The folder that holds the list files, or nothing.
    virtual std::optional<std::string> systemDirectory() = 0;
    virtual char pathSeparator() const = 0;

    // Files. Texts are UTF-8 here whatever the file's own code page.
    virtual bool fileExists(const std::string& path) = 0;
    virtual std::string readTextFile(const std::string& path) = 0;
    virtual void createEmptyFile(const std::string& path) = 0;
    // Replaces the file whole: the old content stays if anything fails.
    virtual void replaceTextFile(const std::string& path, const std::string& text) = 0;
    // Copies bytes; the target is replaced whole or left as it was.
    virtual void copyFile(const std::string& from, const std::string& to) = 0;
    // An advisory lock on the folder, shared by every process of ours that
    // stores files there: waits a few seconds while another one holds it,
    // then throws. Not reentrant: a process takes it once at a time.
    virtual std::unique_ptr<FolderLock> lockFolder(const std::string& folder) = 0;

    // The bytes of a BMP file for bitmap resource id (200, 400, ...).
    virtual std::vector<std::uint8_t> loadBitmap(int id) = 0;

    // A time in the system's general date format as the user has it: the
    // short date, a blank and the long time, in local time.
    virtual std::string generalDate(std::chrono::system_clock::time_point when) = 0;
};

} // namespace skerrow::platform
