// Text at the Win32 edge: UTF-8 inside the program, UTF-16 for the wide
// entry points and COM strings, the ANSI code page for the "A" entry points
// and the list file.
#pragma once

#include <string>
#include <string_view>

namespace skerrow::win32::codepage {

// Invalid UTF-8 sequences become U+FFFD rather than failing.
std::wstring utf8ToWide(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string wideToUtf8(std::wstring_view text);

// Characters the ANSI code page lacks become "?", as the system's own
// conversion writes them: such text cannot survive the round trip.
std::string utf8ToAnsi(std::string_view text);
std::string ansiToUtf8(std::string_view text);

} // namespace skerrow::win32::codepage
