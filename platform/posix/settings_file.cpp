// The settings file is UTF-8 text, one item a line, lines ended by LF (a CR
// right before the LF is dropped, so a file saved by a Windows editor still
// reads):
//
//   [HKEY_CURRENT_USER\Software\Corvalle\Addins\Skerrow\]
//   AppPath=/usr/share/skerrow/
//   HaveAutoDeleteCount=12
//
// - A header starts with "[" and ends with "]": the root's name, one
//   backslash, then the sub-key up to the line's last "]". Sub-keys are
//   registry paths full of backslashes, so those and "]" stay as they are.
// - A value line is the value's name, "=", then the value to the line's end;
//   the name ends at the first "=".
// - Sub-keys and names escape "%", LF, CR and NUL as %25, %0A, %0D and %00;
//   names also escape "=" as %3D and "[" as %5B, so that a name neither ends
//   early nor passes for a header. Values escape backslash, LF, CR and NUL
//   as \\, \n, \r and \0.
// - Skipped as corrupt: a line holding a raw NUL or invalid UTF-8, a bad
//   escape, a line that is neither header nor value, and every value after
//   a header that is corrupt or names an unknown root (they belong to no
//   key we know). Empty lines and a leading byte order mark are skipped.
// - A value written into a file changes the one line that gives it (or adds
//   a line to its key, or the key at the end); every other line stays
//   byte for byte, corrupt ones too. Read back, a key or value named twice
//   keeps its last value.
#include "platform/posix/settings_file.h"

#include <optional>

namespace skerrow::posix {

namespace {

using platform::RegistryRoot;

constexpr std::string_view currentUserName = "HKEY_CURRENT_USER";
constexpr std::string_view localMachineName = "HKEY_LOCAL_MACHINE";

std::string_view rootName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? currentUserName : localMachineName;
}

std::optional<RegistryRoot> rootNamed(std::string_view name) {
    if (name == currentUserName)
        return RegistryRoot::CurrentUser;
    if (name == localMachineName)
        return RegistryRoot::LocalMachine;
    return std::nullopt;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool percentEscaped(char c, bool isName) {
    return c == '%' || c == '\n' || c == '\r' || c == '\0' || (isName && (c == '=' || c == '['));
}

std::string percentEncode(std::string_view text, bool isName) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (percentEscaped(c, isName)) {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

// Only the escapes we write are accepted, so whatever decodes is written
// back the same way.
std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (text.size() - i < 3)
            return std::nullopt;
        const int high = hexDigit(text[i + 1]);
        const int low = hexDigit(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        const char c = static_cast<char>(high * 16 + low);
        if (!percentEscaped(c, true))
            return std::nullopt;
        out += c;
        i += 2;
    }
    return out;
}

std::string escapeValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += "\\0"; break;
        default: out += c;
        }
    }
    return out;
}

std::optional<std::string> unescapeValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '0': out += '\0'; break;
        default: return std::nullopt;
        }
    }
    return out;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        char32_t code;
        char32_t least;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

namespace {

using Key = std::pair<RegistryRoot, std::string>;

// What one line of the file says, and where it stands in the text.
struct SettingsLine {
    std::size_t begin; // first byte of the line
    std::size_t next;  // first byte after its line end
    enum { Other, Header, Value } kind;
    // A header: the key it opens, nothing when it cannot be read. Any other
    // line: the key of the last header read, nothing after one that could
    // not be.
    const Key* key;
    std::string name; // a value line's
    std::string value;
};

// Calls visit with every line that is not empty, in order.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    std::size_t at = text.substr(0, byteOrderMark.size()) == byteOrderMark ? byteOrderMark.size() : 0;
    std::optional<Key> current;
    while (at < text.size()) {
        const auto end = text.find('\n', at);
        std::string_view line = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        SettingsLine read{at, end == std::string_view::npos ? text.size() : end + 1, SettingsLine::Other, nullptr, {}, {}};
        at = read.next;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;

        const bool clean = line.find('\0') == std::string_view::npos && isValidUtf8(line);
        if (line.front() == '[') {
            current.reset();
            read.kind = SettingsLine::Header;
            if (clean && line.size() >= 2 && line.back() == ']') {
                const std::string_view inside = line.substr(1, line.size() - 2);
                const auto slash = inside.find('\\');
                const auto root = rootNamed(inside.substr(0, slash));
                auto subKey = percentDecode(slash == std::string_view::npos ? std::string_view{}
                                                                            : inside.substr(slash + 1));
                if (root && subKey)
                    current = Key{*root, std::move(*subKey)};
            }
            read.key = current ? &*current : nullptr;
            visit(read);
            continue;
        }
        read.key = current ? &*current : nullptr;
        const auto equals = line.find('=');
        if (clean && current && equals != std::string_view::npos) {
            auto name = percentDecode(line.substr(0, equals));
            auto value = unescapeValue(line.substr(equals + 1));
            if (name && value) {
                read.kind = SettingsLine::Value;
                read.name = std::move(*name);
                read.value = std::move(*value);
            }
        }
        visit(read);
    }
}

std::string headerLine(const Key& key) {
    return "[" + std::string(rootName(key.first)) + "\\" + percentEncode(key.second, false) + "]\n";
}

std::string valueLine(std::string_view name, std::string_view value) {
    return percentEncode(name, true) + "=" + escapeValue(value) + "\n";
}

} // namespace

Settings parseSettings(std::string_view text) {
    Settings settings;
    forEachLine(text, [&](const SettingsLine& line) {
        if (line.kind == SettingsLine::Header && line.key)
            settings.keys[*line.key];
        else if (line.kind == SettingsLine::Value)
            settings.keys[*line.key][line.name] = line.value;
    });
    return settings;
}

std::string withSetting(std::string_view text, RegistryRoot root, const std::string& subKey,
                        const std::string& name, const std::string& value) {
    const Key key{root, subKey};
    // The line that gives the value now (the last one that names it), else
    // the end of the key's last section.
    std::optional<std::pair<std::size_t, std::size_t>> valueAt;
    std::optional<std::size_t> sectionEnd;
    forEachLine(text, [&](const SettingsLine& line) {
        if (!line.key || *line.key != key)
            return;
        sectionEnd = line.next;
        if (line.kind == SettingsLine::Value && line.name == name)
            valueAt = {line.begin, line.next};
    });
    std::string out(text);
    if (valueAt)
        return out.replace(valueAt->first, valueAt->second - valueAt->first, valueLine(name, value));
    std::string added = valueLine(name, value);
    if (!sectionEnd)
        added = headerLine(key) + added;
    const std::size_t at = sectionEnd.value_or(out.size());
    if (at > 0 && out[at - 1] != '\n')
        added = "\n" + added;
    return out.insert(at, added);
}

std::string formatSettings(const Settings& settings) {
    std::string text;
    for (const auto& [key, values] : settings.keys) {
        text += headerLine(key);
        for (const auto& [name, value] : values)
            text += valueLine(name, value);
    }
    return text;
}

} // namespace skerrow
