#include "filter/text.h"

#include <algorithm>
#include <cstring>

namespace skerrow {

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

namespace {

// A byte that is not part of well-formed UTF-8 stands for itself, marked so
// that it never equals a code point.
constexpr char32_t rawByte = 0x80000000u;

struct Unit {
    char32_t value;
    unsigned length;
};

// The character at p, or the single byte when what starts there is not
// well-formed UTF-8 within end.
Unit decodeAt(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = *p;
    if (lead < 0x80)
        return {lead, 1};
    unsigned length;
    char32_t code;
    char32_t least;
    if ((lead & 0xE0) == 0xC0)
        length = 2, code = lead & 0x1F, least = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, code = lead & 0x0F, least = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, code = lead & 0x07, least = 0x10000;
    else
        return {rawByte | lead, 1};
    if (static_cast<std::size_t>(end - p) < length)
        return {rawByte | lead, 1};
    for (unsigned k = 1; k < length; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return {rawByte | lead, 1};
        code = (code << 6) | (p[k] & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return {rawByte | lead, 1};
    return {code, length};
}

// The character that ends right before at, read back to its lead byte; the
// single byte when no well-formed character ends there. Splits text the way
// decodeAt does from the front.
Unit decodeBefore(const unsigned char* begin, const unsigned char* at) {
    const unsigned char last = at[-1];
    if (last < 0x80)
        return {last, 1};
    const unsigned char* lead = at - 1;
    while (lead > begin && at - lead < 4 && (*lead & 0xC0) == 0x80)
        --lead;
    const Unit unit = decodeAt(lead, at);
    if (!(unit.value & rawByte) && lead + unit.length == at)
        return unit;
    return {rawByte | last, 1};
}

char32_t fold(char32_t unit) {
    return unit & rawByte ? unit : simpleCaseFold(unit);
}

unsigned char foldAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

void appendUnit(std::string& out, char32_t unit) {
    if (unit & rawByte)
        out += static_cast<char>(unit & 0xFF);
    else
        appendUtf8(out, unit);
}

const unsigned char* bytesOf(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
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

std::string foldCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const unsigned char* p = bytesOf(text);
    const unsigned char* const end = p + text.size();
    while (p < end) {
        if (*p < 0x80) {
            out += static_cast<char>(foldAscii(*p++));
            continue;
        }
        const Unit unit = decodeAt(p, end);
        appendUnit(out, fold(unit.value));
        p += unit.length;
    }
    return out;
}

bool containsIgnoringCase(std::string_view haystack, std::string_view needle) {
    return CaseInsensitiveSearch(needle).foundIn(haystack);
}

CaseInsensitiveSearch::CaseInsensitiveSearch(std::string_view needle) : needle_(needle) {
    const unsigned char* p = bytesOf(needle);
    const unsigned char* const end = p + needle.size();
    while (p < end) {
        const Unit unit = decodeAt(p, end);
        const char32_t folded = fold(unit.value);
        // Only letters fold, and only two characters fold into ASCII
        // letters (KELVIN SIGN, LONG S): any other ASCII byte is itself
        // wherever it appears. "@" is rare in mail text, so it is the
        // anchor of choice.
        const bool anchorable = folded < 0x80 && !(folded >= 'a' && folded <= 'z');
        if (anchorable && (anchor_ == npos || (folded == '@' && units_[anchor_] != '@')))
            anchor_ = units_.size();
        units_.push_back(folded);
        // A folded character of several bytes comes from one of two bytes
        // at least; ASCII and stray bytes only from themselves.
        fewestBytes_ += folded < 0x80 || (folded & rawByte) ? 1 : 2;
        p += unit.length;
    }
}

// Whether the needle's units from unit on match the text from at.
bool CaseInsensitiveSearch::matchesFrom(const unsigned char* at, const unsigned char* end,
                                             std::size_t unit) const {
    for (; unit < units_.size(); ++unit) {
        if (at == end)
            return false;
        if (*at < 0x80) {
            if (foldAscii(*at) != units_[unit])
                return false;
            ++at;
            continue;
        }
        const Unit read = decodeAt(at, end);
        if (fold(read.value) != units_[unit])
            return false;
        at += read.length;
    }
    return true;
}

// Whether the needle's units before the anchor match the text that ends
// right before at.
bool CaseInsensitiveSearch::matchesBefore(const unsigned char* begin, const unsigned char* at) const {
    for (std::size_t unit = anchor_; unit-- > 0;) {
        if (at == begin)
            return false;
        if (at[-1] < 0x80) {
            if (foldAscii(at[-1]) != units_[unit])
                return false;
            --at;
            continue;
        }
        const Unit read = decodeBefore(begin, at);
        if (fold(read.value) != units_[unit])
            return false;
        at -= read.length;
    }
    return true;
}

bool CaseInsensitiveSearch::foundAcross(std::string_view head, std::string_view tail) const {
    const std::size_t m = needleSize();
    if (m < 2)
        return false;
    std::string seam(head.substr(head.size() - std::min(head.size(), m - 1)));
    seam += tail.substr(0, m - 1);
    return foundIn(seam);
}

bool CaseInsensitiveSearch::foundIn(std::string_view haystack) const {
    if (units_.empty())
        return true;
    if (haystack.size() < fewestBytes_)
        return false;
    const unsigned char* const begin = bytesOf(haystack);
    const unsigned char* const end = begin + haystack.size();
    if (anchor_ != npos) {
        const auto a = static_cast<unsigned char>(units_[anchor_]);
        for (const unsigned char* from = begin; from < end;) {
            const auto* hit = static_cast<const unsigned char*>(std::memchr(from, a, static_cast<std::size_t>(end - from)));
            if (!hit)
                return false;
            if (matchesFrom(hit + 1, end, anchor_ + 1) && matchesBefore(begin, hit))
                return true;
            from = hit + 1;
        }
        return false;
    }
    // Letters only: try every character's start.
    for (const unsigned char* at = begin; at < end; at += decodeAt(at, end).length)
        if (matchesFrom(at, end, 0))
            return true;
    return false;
}

} // namespace skerrow
