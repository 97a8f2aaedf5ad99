// The message loop the Windows tests run while windows do their work.
#pragma once

#include <windows.h>

namespace skerrow::test {

// Dispatches what is queued (a keyboard hook sees it on the way) for about
// the given time.
inline void pump(int milliseconds = 50) {
    const DWORD until = ::GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(5);
    } while (static_cast<int>(until - ::GetTickCount()) > 0);
}

} // namespace skerrow::test
