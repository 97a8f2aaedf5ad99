#include "platform/memory/memory_platform.h"

#include "resources/bitmaps.h"

#include <cstdio>
#include <stdexcept>

namespace skerrow::memory {

namespace {

std::tuple<int, std::string> keyOf(platform::RegistryRoot root, const std::string& subKey) {
    return {static_cast<int>(root), subKey};
}

} // namespace

MemoryPlatform::MemoryPlatform() = default;

std::optional<std::string> MemoryPlatform::readValue(platform::RegistryRoot root, const std::string& subKey,
                                                     const std::string& name) {
    faults_.check("Platform.readValue", name);
    return value(root, subKey, name);
}

void MemoryPlatform::writeValue(platform::RegistryRoot root, const std::string& subKey, const std::string& name,
                                const std::string& value) {
    faults_.check("Platform.writeValue", name);
    setValue(root, subKey, name, value);
}

int MemoryPlatform::shellOpen(const std::string& target) {
    faults_.check("Platform.shellOpen", target);
    opened.push_back(target);
    return 42;
}

std::optional<std::string> MemoryPlatform::userName() {
    faults_.check("Platform.userName");
    return user;
}

std::optional<std::string> MemoryPlatform::systemDirectory() {
    faults_.check("Platform.systemDirectory");
    return systemDir;
}

bool MemoryPlatform::fileExists(const std::string& path) {
    faults_.check("Platform.fileExists", path);
    return files.contains(path);
}

std::string MemoryPlatform::readTextFile(const std::string& path) {
    faults_.check("Platform.readTextFile", path);
    auto found = files.find(path);
    if (found == files.end())
        throw std::runtime_error("file not found: " + path);
    return found->second;
}

void MemoryPlatform::createEmptyFile(const std::string& path) {
    faults_.check("Platform.createEmptyFile", path);
    files[path].clear();
}

void MemoryPlatform::replaceTextFile(const std::string& path, const std::string& text) {
    faults_.check("Platform.replaceTextFile", path);
    files[path] = text;
}

void MemoryPlatform::copyFile(const std::string& from, const std::string& to) {
    faults_.check("Platform.copyFile", to);
    auto source = files.find(from);
    if (source == files.end())
        throw std::runtime_error("file not found: " + from);
    files[to] = source->second;
}

class MemoryPlatform::Lock : public platform::FolderLock {
public:
    Lock(std::set<std::string>& held, std::string folder) : held_(held), folder_(std::move(folder)) {}
    ~Lock() override { held_.erase(folder_); }

private:
    std::set<std::string>& held_;
    std::string folder_;
};

std::unique_ptr<platform::FolderLock> MemoryPlatform::lockFolder(const std::string& folder) {
    faults_.check("Platform.lockFolder", folder);
    if (!lockedFolders_.insert(folder).second)
        throw std::runtime_error("folder locked by another holder: " + folder);
    return std::make_unique<Lock>(lockedFolders_, folder);
}

std::vector<std::uint8_t> MemoryPlatform::loadBitmap(int id) {
    faults_.check("Platform.loadBitmap", std::to_string(id));
    auto bytes = resources::bitmapResource(id);
    if (bytes.empty())
        throw std::runtime_error("no bitmap resource " + std::to_string(id));
    return bytes;
}

std::string MemoryPlatform::generalDate(std::chrono::system_clock::time_point when) {
    faults_.check("Platform.generalDate");
    // One fixed format in UTC, the same on every machine the tests run on.
    using namespace std::chrono;
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{floor<seconds>(when - day)};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return text;
}

bool MemoryPlatform::keyExists(platform::RegistryRoot root, const std::string& subKey) const {
    return keys_.contains(keyOf(root, subKey));
}

std::optional<std::string> MemoryPlatform::value(platform::RegistryRoot root, const std::string& subKey,
                                                 const std::string& name) const {
    auto key = keys_.find(keyOf(root, subKey));
    if (key == keys_.end())
        return std::nullopt;
    auto found = key->second.find(name);
    if (found == key->second.end())
        return std::nullopt;
    return found->second;
}

void MemoryPlatform::setValue(platform::RegistryRoot root, const std::string& subKey, const std::string& name,
                              const std::string& value) {
    keys_[keyOf(root, subKey)][name] = value;
}

} // namespace skerrow::memory
