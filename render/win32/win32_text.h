// Text between the window models (UTF-8) and the W functions of Windows
// (UTF-16), and the few text forms the standard controls want.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace skerrow::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// A multi-line edit control breaks lines only at CR LF.
std::wstring withCrLf(std::wstring_view text);

// "description|pattern[|description|pattern...]" as the file dialogs take
// it: every part ended by a NUL, and one more NUL after the last.
std::wstring fileDialogFilter(std::string_view filter);

// The user's short date and long time, in local time.
std::wstring localDateTime(std::chrono::system_clock::time_point when);

} // namespace skerrow::win32
