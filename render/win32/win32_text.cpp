#include "render/win32/win32_text.h"

#include <windows.h>

namespace skerrow::win32 {

std::wstring widen(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string narrow(std::wstring_view utf16) {
    if (utf16.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), text.data(), length, nullptr,
                        nullptr);
    return text;
}

std::wstring withCrLf(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            out += L'\r';
        out += text[i];
    }
    return out;
}

std::wstring fileDialogFilter(std::string_view filter) {
    std::wstring out = widen(filter);
    for (wchar_t& c : out)
        if (c == L'|')
            c = L'\0';
    out += L'\0';
    out += L'\0';
    return out;
}

std::wstring localDateTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    // FILETIME counts 100-nanosecond steps from 1601-01-01.
    using ticks = duration<long long, std::ratio<1, 10'000'000>>;
    constexpr long long from1601To1970 = 11'644'473'600LL * 10'000'000LL;
    const long long count = duration_cast<ticks>(when.time_since_epoch()).count() + from1601To1970;
    if (count < 0)
        return {};
    FILETIME utc{static_cast<DWORD>(count & 0xFFFFFFFFLL), static_cast<DWORD>(count >> 32)};
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    if (!FileTimeToSystemTime(&utc, &universal) || !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return {};
    wchar_t date[128] = {};
    wchar_t time[128] = {};
    if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 128) ||
        !GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &local, nullptr, time, 128))
        return {};
    return std::wstring(date) + L" " + time;
}

} // namespace skerrow::win32
