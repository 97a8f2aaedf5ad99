// Small text helpers shared by the filter routines.
#pragma once

#include <string>
#include <string_view>

namespace skerrow {

// Without leading and trailing spaces (only the space character).
std::string trimSpaces(std::string_view text);
std::string_view trimSpacesView(std::string_view text);
std::string toLowerAscii(std::string_view text);
// Finds needle in haystack ignoring ASCII letter case; an empty needle is
// found at once.
bool containsIgnoringAsciiCase(std::string_view haystack, std::string_view needle);

// A case-insensitive search prepared once for one needle and run over many
// texts: the purge looks for the user's address in every mail.
class AsciiCaseInsensitiveSearch {
public:
    explicit AsciiCaseInsensitiveSearch(std::string_view needle);
    bool foundIn(std::string_view haystack) const;
    std::size_t needleSize() const { return needle_.size(); }

private:
    std::string needle_; // folded
    // A byte that letter case cannot change ('@' in an address): the
    // search runs memchr over it and compares around each hit.
    std::size_t anchor_ = std::string::npos;
    std::size_t skip_[256];
};

} // namespace skerrow
