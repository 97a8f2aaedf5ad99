// An operating system in memory: settings, files, shell and names, with
// fault injection. Used by the tests and the demo.
#pragma once

#include "addin/host/platform.h"
#include "hosts/memory/memory_host.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace skerrow::memory {

class MemoryPlatform : public platform::Platform {
public:
    MemoryPlatform();

    // Operation names for fault injection: "Platform.readValue",
    // "Platform.writeValue", "Platform.shellOpen", "Platform.userName",
    // "Platform.systemDirectory", "Platform.fileExists",
    // "Platform.readTextFile", "Platform.createEmptyFile",
    // "Platform.replaceTextFile", "Platform.copyFile", "Platform.lockFolder",
    // "Platform.loadBitmap", "Platform.generalDate"; the key is the path for
    // file operations (the target for copyFile, the folder for lockFolder), the
    // value name for settings, the target for shellOpen and the id for
    // loadBitmap. A failing write or copy leaves every file as it was.
    Faults& faults() { return faults_; }

    std::optional<std::string> readValue(platform::RegistryRoot root, const std::string& subKey,
                                         const std::string& name) override;
    void writeValue(platform::RegistryRoot root, const std::string& subKey, const std::string& name,
                    const std::string& value) override;
    int shellOpen(const std::string& target) override;
    std::optional<std::string> userName() override;
    std::optional<std::string> systemDirectory() override;
    char pathSeparator() const override { return '\\'; }
    bool fileExists(const std::string& path) override;
    std::string readTextFile(const std::string& path) override;
    void createEmptyFile(const std::string& path) override;
    void replaceTextFile(const std::string& path, const std::string& text) override;
    void copyFile(const std::string& from, const std::string& to) override;
    // One thread cannot wait for a holder: a folder already locked throws
    // at once, as another platform does when its wait runs out.
    std::unique_ptr<platform::FolderLock> lockFolder(const std::string& folder) override;
    std::vector<std::uint8_t> loadBitmap(int id) override;
    // "2003-04-05 07:07:08": UTC, whatever the machine's zone and locale.
    std::string generalDate(std::chrono::system_clock::time_point when) override;

    // What the tests set and read.
    std::optional<std::string> user = "tester";
    std::optional<std::string> systemDir = "C:\\WINDOWS\\system32";
    std::map<std::string, std::string> files;
    std::vector<std::string> opened; // every shellOpen target, in order
    bool keyExists(platform::RegistryRoot root, const std::string& subKey) const;
    std::optional<std::string> value(platform::RegistryRoot root, const std::string& subKey,
                                     const std::string& name) const;
    void setValue(platform::RegistryRoot root, const std::string& subKey, const std::string& name,
                  const std::string& value);

private:
    class Lock;
    Faults faults_;
    std::set<std::string> lockedFolders_;
    std::map<std::tuple<int, std::string>, std::map<std::string, std::string>> keys_;
};

} // namespace skerrow::memory
