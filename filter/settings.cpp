#include "filter/settings.h"

#include "filter/text.h"
#include "filter/trap.h"

#include <algorithm>

namespace skerrow {

std::string regRead(platform::Platform& p, platform::RegistryRoot root, const std::string& subKey,
                    const std::string& name) {
    auto value = attempt([&] { return p.readValue(root, subKey, name); });
    if (!value || !*value)
        return {};
    // The stored text ends at its first NUL, as a registry string does.
    const std::string& text = **value;
    return text.substr(0, text.find('\0'));
}

void regWrite(platform::Platform& p, platform::RegistryRoot root, const std::string& subKey,
              const std::string& name, const std::string& value) {
    trap([&] { p.writeValue(root, subKey, name, value); });
}

int shellOpen(platform::Platform& p, const std::string& target) {
    return attempt([&] { return p.shellOpen(target); }).value_or(0);
}

std::string getUserName(platform::Platform& p) {
    static const std::string nobody(100, 'X');
    auto name = attempt([&] { return p.userName(); });
    if (!name || !*name || (*name)->empty())
        return nobody;
    const std::string raw = (*name)->substr(0, (*name)->find('\0'));
    // The system's buffer holds 99 characters and a NUL: a longer name
    // leaves it untouched, as no name does, and is never cut (a cut name
    // could be another user's).
    const auto characters = std::count_if(raw.begin(), raw.end(), [](char c) { return (c & 0xC0) != 0x80; });
    if (characters > 99)
        return nobody;
    return trimSpaces(raw);
}

std::string getSystemDir(platform::Platform& p) {
    auto dir = attempt([&] { return p.systemDirectory(); });
    if (!dir || !*dir)
        return {};
    const std::string& raw = **dir;
    return raw.substr(0, raw.find('\0'));
}

} // namespace skerrow
