// The per-user settings file that stands in for the registry: keys under a
// root, each holding named text values. The format is described at the top
// of settings_file.cpp.
#pragma once

#include "addin/host/platform.h"

#include <map>
#include <string>
#include <string_view>
#include <utility>

namespace skerrow::posix {

using SettingsValues = std::map<std::string, std::string>;

struct Settings {
    // A key stays even when it holds no values, as a registry key does.
    std::map<std::pair<platform::RegistryRoot, std::string>, SettingsValues> keys;
    friend bool operator==(const Settings&, const Settings&) = default;
};

// Texts must be valid UTF-8 to be stored: a line that is not is skipped.
bool isValidUtf8(std::string_view text);

// Never fails: lines that cannot be read are skipped, and the values after a
// header that cannot be read belong to no key.
Settings parseSettings(std::string_view text);
// The text with one value set: the line that gives it now is replaced, or a
// line is added at the end of its key (the key at the end of the text when
// there is none). Every other byte stays as it was.
std::string withSetting(std::string_view text, platform::RegistryRoot root, const std::string& subKey,
                        const std::string& name, const std::string& value);
// Canonical text: parseSettings gives back exactly the same settings.
std::string formatSettings(const Settings& settings);

} // namespace skerrow::posix
