// The user's side of the Windows clipboard: text put there and read back.
#pragma once

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>

namespace skerrow::test {

// Another program may hold the clipboard for a moment.
inline bool openClipboard() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::OpenClipboard(nullptr))
            return true;
        ::Sleep(10);
    }
    return false;
}

inline void copyText(const std::wstring& text) {
    if (!openClipboard())
        return;
    ::EmptyClipboard();
    const SIZE_T size = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, size);
    std::memcpy(::GlobalLock(memory), text.c_str(), size);
    ::GlobalUnlock(memory);
    ::SetClipboardData(CF_UNICODETEXT, memory);
    ::CloseClipboard();
}

inline std::optional<std::wstring> clipboardText() {
    if (!openClipboard())
        return std::nullopt;
    std::optional<std::wstring> text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        text = static_cast<const wchar_t*>(::GlobalLock(data));
        ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    return text;
}

} // namespace skerrow::test
