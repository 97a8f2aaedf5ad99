#include "platform/win32/codepage.h"

#include <climits>
#include <stdexcept>

#include <windows.h>

namespace skerrow::win32::codepage {

namespace {

int checkedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX))
        throw std::length_error("text too long to convert");
    return static_cast<int>(size);
}

std::wstring toWide(UINT page, std::string_view text) {
    if (text.empty())
        return {};
    const int length = checkedLength(text.size());
    const int needed = ::MultiByteToWideChar(page, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        throw std::runtime_error("text does not convert to UTF-16");
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(page, 0, text.data(), length, wide.data(), needed);
    return wide;
}

std::string fromWide(UINT page, std::wstring_view text) {
    if (text.empty())
        return {};
    const int length = checkedLength(text.size());
    // UTF-8 takes no default character; the ANSI pages take "?".
    const char* unmappable = page == CP_UTF8 ? nullptr : "?";
    const int needed = ::WideCharToMultiByte(page, 0, text.data(), length, nullptr, 0, unmappable, nullptr);
    if (needed <= 0)
        throw std::runtime_error("text does not convert from UTF-16");
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(page, 0, text.data(), length, narrow.data(), needed, unmappable, nullptr);
    return narrow;
}

} // namespace

std::wstring utf8ToWide(std::string_view text) {
    return toWide(CP_UTF8, text);
}

std::string wideToUtf8(std::wstring_view text) {
    return fromWide(CP_UTF8, text);
}

std::string utf8ToAnsi(std::string_view text) {
    return fromWide(CP_ACP, toWide(CP_UTF8, text));
}

std::string ansiToUtf8(std::string_view text) {
    return fromWide(CP_UTF8, toWide(CP_ACP, text));
}

} // namespace skerrow::win32::codepage
