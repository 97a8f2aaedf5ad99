// The Windows clipboard as the add-in uses it: the route by which button
// faces reach an Office 2000 command bar, without losing what the user had
// copied.
#pragma once

#include "addin/host/host.h"

#include <memory>

#include <windows.h>

namespace skerrow::win32 {

class Win32Clipboard : public host::Clipboard {
public:
    Win32Clipboard();
    ~Win32Clipboard() override;
    Win32Clipboard(const Win32Clipboard&) = delete;
    Win32Clipboard& operator=(const Win32Clipboard&) = delete;

    // Takes a copy of what the clipboard holds (unless a copy is already
    // waiting to go back), then puts the BMP file's picture there in bitmap
    // format. Throws host::HostError when the clipboard cannot be had or
    // the bytes are no BMP file.
    void setBitmap(const host::Bitmap& image) override;

    // Puts back what setBitmap found, also an empty clipboard; does nothing
    // when no copy is waiting. Never throws: the copy is dropped when the
    // clipboard cannot be had.
    void restore() noexcept;
    bool hasKeptContent() const { return kept_ != nullptr; }

private:
    struct Kept;
    HWND owner();

    HWND owner_ = nullptr;
    std::unique_ptr<Kept> kept_;
};

} // namespace skerrow::win32
