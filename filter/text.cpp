#include "filter/text.h"

#include <cstring>

namespace skerrow {

namespace {
inline unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}
} // namespace

std::string trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::string toLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(fold(static_cast<unsigned char>(c)));
    return out;
}

bool containsIgnoringAsciiCase(std::string_view haystack, std::string_view needle) {
    return AsciiCaseInsensitiveSearch(needle).foundIn(haystack);
}

AsciiCaseInsensitiveSearch::AsciiCaseInsensitiveSearch(std::string_view needle) : needle_(toLowerAscii(needle)) {
    const std::size_t m = needle_.size();
    anchor_ = needle_.find('@');
    for (std::size_t i = 0; i < m && anchor_ == std::string::npos; ++i) {
        const auto c = static_cast<unsigned char>(needle_[i]);
        if (fold(c) == c && !(c >= 'a' && c <= 'z'))
            anchor_ = i;
    }
    // Without such a byte: Horspool over folded bytes.
    for (std::size_t& s : skip_)
        s = m;
    for (std::size_t i = 0; i + 1 < m; ++i) {
        const auto c = static_cast<unsigned char>(needle_[i]);
        skip_[c] = m - 1 - i;
        if (c >= 'a' && c <= 'z')
            skip_[c - 'a' + 'A'] = m - 1 - i;
    }
}

bool AsciiCaseInsensitiveSearch::foundIn(std::string_view haystack) const {
    const std::size_t m = needle_.size();
    if (m == 0)
        return true;
    const std::size_t n = haystack.size();
    if (n < m)
        return false;
    const auto* h = reinterpret_cast<const unsigned char*>(haystack.data());
    const auto* p = reinterpret_cast<const unsigned char*>(needle_.data());
    if (anchor_ != std::string::npos) {
        const unsigned char a = p[anchor_];
        const unsigned char* from = h + anchor_;
        const unsigned char* const last = h + (n - m) + anchor_; // the anchor's last possible place
        while (from <= last) {
            const auto* hit = static_cast<const unsigned char*>(std::memchr(from, a, static_cast<std::size_t>(last - from) + 1));
            if (!hit)
                return false;
            const unsigned char* start = hit - anchor_;
            std::size_t i = 0;
            while (i < m && fold(start[i]) == p[i])
                ++i;
            if (i == m)
                return true;
            from = hit + 1;
        }
        return false;
    }
    const unsigned char last = p[m - 1];
    std::size_t pos = 0;
    while (pos <= n - m) {
        const unsigned char c = h[pos + m - 1];
        if (fold(c) == last) {
            std::size_t i = 0;
            while (i + 1 < m && fold(h[pos + i]) == p[i])
                ++i;
            if (i + 1 >= m)
                return true;
        }
        pos += skip_[c];
    }
    return false;
}

} // namespace skerrow
