// Small text helpers shared by the filter routines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace skerrow {

// Without leading and trailing spaces (only the space character).
std::string trimSpaces(std::string_view text);
std::string_view trimSpacesView(std::string_view text);
// The code point's simple case folding (one code point for one; lower case
// for nearly every letter).
char32_t simpleCaseFold(char32_t c);
// UTF-8 text case-folded letter by letter (simple case folding, so "É"
// gives "é" and "ẞ" gives "ß"); bytes that are not well-formed UTF-8 are
// kept as they are.
std::string foldCase(std::string_view text);
// Appends the code point encoded as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);
// Finds needle in haystack ignoring letter case as foldCase folds it;
// an empty needle is found at once.
bool containsIgnoringCase(std::string_view haystack, std::string_view needle);

// A case-insensitive search prepared once for one needle and run over many
// texts: the purge looks for the user's address in every mail. Both texts
// are compared character by character after simple case folding; bytes
// that are not well-formed UTF-8 only match the same bytes.
class CaseInsensitiveSearch {
public:
    explicit CaseInsensitiveSearch(std::string_view needle);
    bool foundIn(std::string_view haystack) const;
    const std::string& needle() const { return needle_; }
    // The most bytes a match can take in a haystack: a caller that joins
    // two texts needs this many around the seam to find a match across it.
    std::size_t needleSize() const { return units_.size() * 4; }

    // Whether head followed directly by tail holds the needle near their
    // seam: with head and tail each searched alone, the matches across it.
    bool foundAcross(std::string_view head, std::string_view tail) const;

private:
    bool matchesFrom(const unsigned char* at, const unsigned char* end, std::size_t unit) const;
    bool matchesBefore(const unsigned char* begin, const unsigned char* at) const;

    // The needle's characters, folded; a byte that is not UTF-8 is kept as
    // a unit of its own that no character equals.
    std::vector<char32_t> units_;
    std::string needle_;
    // The fewest haystack bytes that can match (a folded letter may come
    // from a longer or a shorter encoding).
    std::size_t fewestBytes_ = 0;
    // A character that no case folding produces from another ('@' in an
    // address): the search runs memchr over its byte and compares around
    // each hit.
    std::size_t anchor_ = npos;
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
};

} // namespace skerrow
