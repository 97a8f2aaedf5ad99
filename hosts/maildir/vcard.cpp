#include "hosts/maildir/vcard.h"

#include "addin/host/host.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>

namespace skerrow::maildir {

namespace {

namespace fs = std::filesystem;

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Positions of `separator` outside double-quoted parameter values.
std::vector<std::size_t> splitPoints(std::string_view text, char separator, std::size_t limit = std::string_view::npos) {
    std::vector<std::size_t> points;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size() && points.size() < limit; ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == separator && !quoted)
            points.push_back(i);
    }
    return points;
}

struct Property {
    std::string_view name;
    std::vector<std::string_view> parameters;
    std::string_view value;
};

std::optional<Property> parseProperty(std::string_view line) {
    const auto colon = splitPoints(line, ':', 1);
    if (colon.empty())
        return std::nullopt;
    const std::string_view head = line.substr(0, colon[0]);
    Property property;
    property.value = line.substr(colon[0] + 1);
    const auto semicolons = splitPoints(head, ';');
    property.name = head.substr(0, semicolons.empty() ? head.size() : semicolons[0]);
    for (std::size_t i = 0; i < semicolons.size(); ++i) {
        const std::size_t end = i + 1 < semicolons.size() ? semicolons[i + 1] : head.size();
        property.parameters.push_back(head.substr(semicolons[i] + 1, end - semicolons[i] - 1));
    }
    // "item1.EMAIL": the group prefix names a set of related properties.
    if (const auto dot = property.name.rfind('.'); dot != std::string_view::npos)
        property.name.remove_prefix(dot + 1);
    return property;
}

bool quotedPrintable(const std::vector<std::string_view>& parameters) {
    return std::any_of(parameters.begin(), parameters.end(), [](std::string_view p) {
        return sameText(p, "ENCODING=QUOTED-PRINTABLE") || sameText(p, "QUOTED-PRINTABLE");
    });
}

std::string decodeQuotedPrintable(std::string_view text) {
    std::string out(text.size() + 4, '\0');
    int state = 0;
    guint32 save = 0;
    const std::size_t n = g_mime_encoding_quoted_decode_step(reinterpret_cast<const unsigned char*>(text.data()),
                                                            text.size(), reinterpret_cast<unsigned char*>(out.data()),
                                                            &state, &save);
    out.resize(n);
    return out;
}

std::string unescape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            out += next == 'n' || next == 'N' ? '\n' : next;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// Content lines with folding undone: a line starting with a space or tab
// continues the one before, and in vCard 2.1 a quoted-printable value
// ending in "=" goes on in the next line.
std::vector<std::string> contentLines(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::vector<std::string> lines;
    bool softBreak = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos)
            nl = text.size();
        std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (softBreak && !lines.empty()) {
            lines.back().pop_back(); // the "="
            lines.back().append(line);
        } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty()) {
            lines.back().append(line.substr(1));
        } else {
            lines.emplace_back(line);
        }
        softBreak = false;
        if (!lines.back().empty() && lines.back().back() == '=') {
            const auto property = parseProperty(lines.back());
            softBreak = property && quotedPrintable(property->parameters);
        }
    }
    return lines;
}

void collectAddresses(std::string_view text, std::vector<std::string>& addresses) {
    for (const std::string& line : contentLines(text)) {
        const auto property = parseProperty(line);
        if (!property || !sameText(property->name, "EMAIL"))
            continue;
        std::string value = quotedPrintable(property->parameters) ? decodeQuotedPrintable(property->value)
                                                                  : std::string(property->value);
        value = trimmed(unescape(value));
        if (value.size() >= 7 && sameText(std::string_view(value).substr(0, 7), "mailto:"))
            value = trimmed(std::string_view(value).substr(7));
        if (!value.empty())
            addresses.push_back(std::move(value));
    }
}

std::string readWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw host::HostError("cannot read the address book " + file.string());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw host::HostError("cannot read the address book " + file.string());
    return text;
}

} // namespace

std::vector<std::string> readContactAddresses(const std::string& path) {
    std::vector<std::string> addresses;
    std::error_code error;
    if (!fs::is_directory(path, error)) {
        collectAddresses(readWhole(path), addresses);
        return addresses;
    }
    std::vector<fs::path> files;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const fs::path& file = it->path();
        const std::string name = file.filename().string();
        if (!name.starts_with(".") && name.size() > 4 && sameText(name.substr(name.size() - 4), ".vcf") &&
            it->is_regular_file())
            files.push_back(file);
    }
    if (error)
        throw host::HostError("cannot read the address book folder " + path + ": " + error.message());
    std::sort(files.begin(), files.end());
    for (const auto& file : files)
        collectAddresses(readWhole(file), addresses);
    return addresses;
}

} // namespace skerrow::maildir
