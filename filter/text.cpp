#include "filter/text.h"

#include <cstdint>
#include <cstring>

namespace skerrow {

namespace {
inline unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// fold() on eight bytes at once. Each byte's low seven bits are compared
// with 'A' and 'Z' by adding to them, which cannot carry into the next
// byte; bytes with the high bit set are left alone.
inline std::uint64_t foldWord(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    const std::uint64_t low7 = word & ~highs;
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * ones;
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * ones;
    const std::uint64_t upper = atLeastA & ~aboveZ & ~word & highs;
    return word | (upper >> 2);
}

// Whether the m bytes at text, folded, are the folded needle.
bool equalsFolded(const unsigned char* text, const unsigned char* needle, std::size_t m) {
    std::size_t i = 0;
    for (; i + 8 <= m; i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, text + i, 8);
        std::memcpy(&b, needle + i, 8);
        if (foldWord(a) != b)
            return false;
    }
    for (; i < m; ++i)
        if (fold(text[i]) != needle[i])
            return false;
    return true;
}
} // namespace

std::string trimSpaces(std::string_view text) {
    return std::string(trimSpacesView(text));
}

std::string_view trimSpacesView(std::string_view text) {
    std::size_t first = 0;
    std::size_t end = text.size();
    while (first < end && text[first] == ' ')
        ++first;
    while (end > first && text[end - 1] == ' ')
        --end;
    return text.substr(first, end - first);
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
            if (equalsFolded(hit - anchor_, p, m))
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
