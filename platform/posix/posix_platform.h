// The operating system as a POSIX desktop offers it: settings in a file
// under the user's configuration folder, documents opened with xdg-open,
// the list files in the user's data folder.
#pragma once

#include "addin/host/platform.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace skerrow::posix {

// What shellOpen returns, in the shell's terms (above 32 is success).
inline constexpr int shellOpenStarted = 42;
inline constexpr int shellOpenFailed = 2;
// The file in a folder whose flock stands for the folder's lock.
inline constexpr const char* lockFileName = ".skerrow.lock";

class PosixPlatform : public platform::Platform {
public:
    // The folder of the settings file defaults to $XDG_CONFIG_HOME/skerrow
    // and the system directory to $XDG_DATA_HOME/skerrow, both looked up at
    // each call; a folder given here is used instead.
    explicit PosixPlatform(std::optional<std::string> configDir = std::nullopt,
                           std::optional<std::string> dataDir = std::nullopt);

    // Both roots live in the one per-user file: there is no store the user
    // could write for the whole machine.
    std::optional<std::string> readValue(platform::RegistryRoot root, const std::string& subKey,
                                         const std::string& name) override;
    // Throws std::invalid_argument for text that is not UTF-8.
    void writeValue(platform::RegistryRoot root, const std::string& subKey, const std::string& name,
                    const std::string& value) override;
    // Starts the opener ($SKERROW_OPENER, else xdg-open) with the target as
    // its one argument; a target starting with "-" is passed as "./" and
    // the target, so that it cannot read as an option.
    int shellOpen(const std::string& target) override;
    std::optional<std::string> userName() override;
    // Created (mode 0700) when missing.
    std::optional<std::string> systemDirectory() override;
    char pathSeparator() const override { return '/'; }
    // True for anything there but a directory.
    bool fileExists(const std::string& path) override;
    // File operations throw std::system_error (a std::runtime_error).
    std::string readTextFile(const std::string& path) override;
    void createEmptyFile(const std::string& path) override;
    // A replaced file keeps its permission bits; a symbolic link stays and
    // the file it points to is replaced. A file the user may not write is
    // not replaced. Temporaries that a crashed process left beside the file
    // are removed.
    void replaceTextFile(const std::string& path, const std::string& text) override;
    void copyFile(const std::string& from, const std::string& to) override;
    // flock on lockFileName in the folder, the file made when missing and
    // kept; waits up to lockWait for another holder.
    std::unique_ptr<platform::FolderLock> lockFolder(const std::string& folder) override;
    std::vector<std::uint8_t> loadBitmap(int id) override;
    // The environment's locale's date ("%x") and time ("%X"), as UTF-8.
    std::string generalDate(std::chrono::system_clock::time_point when) override;

    // The settings file, or nothing when there is no home folder.
    std::optional<std::string> settingsPath() const;

    std::chrono::milliseconds lockWait{10000};

private:
    std::optional<std::string> configDir() const;
    std::optional<std::string> dataDir() const;

    std::optional<std::string> configDir_;
    std::optional<std::string> dataDir_;
    // The locale of dates, kept while the environment names the same one:
    // opening it costs more than formatting a date, and a review list
    // formats thousands.
    std::shared_ptr<void> timeLocale_;
    std::string timeLocaleKey_;
};

} // namespace skerrow::posix
