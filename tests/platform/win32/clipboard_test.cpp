#include "platform/win32/clipboard.h"

#include "resources/bitmaps.h"
#include "tests/support/win32_clipboard.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include <windows.h>

using namespace skerrow::test;
using skerrow::win32::Win32Clipboard;

namespace {

struct Picture {
    LONG width = 0;
    LONG height = 0;
    COLORREF centre = CLR_INVALID;
    bool operator==(const Picture&) const = default;
};

// The clipboard's picture in bitmap format, as a command bar takes it.
std::optional<Picture> clipboardBitmap() {
    if (!openClipboard())
        return std::nullopt;
    std::optional<Picture> picture;
    if (auto bitmap = static_cast<HBITMAP>(::GetClipboardData(CF_BITMAP))) {
        BITMAP info{};
        ::GetObject(bitmap, sizeof info, &info);
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, bitmap);
        picture = Picture{info.bmWidth, info.bmHeight, ::GetPixel(dc, info.bmWidth / 2, info.bmHeight / 2)};
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
    }
    ::CloseClipboard();
    return picture;
}

// The size and centre pixel of a 24-bit bottom-up BMP file.
Picture pictureOf(const std::vector<std::uint8_t>& bmp) {
    const auto at = [&](std::size_t i) { return static_cast<std::uint32_t>(bmp[i]); };
    const std::uint32_t offset = at(10) | at(11) << 8 | at(12) << 16;
    const std::uint32_t width = at(18) | at(19) << 8;
    const std::uint32_t height = at(22) | at(23) << 8;
    const std::uint32_t stride = (width * 3 + 3) & ~3u;
    const std::size_t pixel = offset + (height - 1 - height / 2) * stride + (width / 2) * 3;
    return {static_cast<LONG>(width), static_cast<LONG>(height), RGB(bmp[pixel + 2], bmp[pixel + 1], bmp[pixel])};
}

// Bytes that are no bitmap are refused and keep nothing; the user's text
// comes back after the faces.
TEST(Win32Clipboard, TheUsersTextStaysThroughARefusalAndComesBackAfterTheFaces) {
    copyText(L"what the user copied: é€");
    Win32Clipboard clipboard;
    EXPECT_THROW(clipboard.setBitmap({'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'}), skerrow::host::HostError);
    EXPECT_FALSE(clipboard.hasKeptContent());
    // With nothing kept, restoring leaves the clipboard alone.
    clipboard.restore();
    EXPECT_EQ(clipboardText(), L"what the user copied: é€");

    clipboard.setBitmap(skerrow::resources::bitmapResource(skerrow::resources::isSpamFace));
    EXPECT_NE(clipboardText(), L"what the user copied: é€");
    // The second face must not take the first one's place as the user's content.
    clipboard.setBitmap(skerrow::resources::bitmapResource(skerrow::resources::addFriendFace));
    clipboard.restore();
    EXPECT_EQ(clipboardText(), L"what the user copied: é€");
    EXPECT_FALSE(clipboardBitmap().has_value());
    EXPECT_FALSE(clipboard.hasKeptContent());
}

// The picture is offered in bitmap format; a user's picture comes back
// after the faces, and an empty clipboard is left empty.
TEST(Win32Clipboard, APictureIsOfferedAsABitmapAndWhatWasThereComesBack) {
    ASSERT_TRUE(openClipboard());
    ::EmptyClipboard();
    ::CloseClipboard();
    Win32Clipboard mine;
    const auto banner = skerrow::resources::bitmapResource(skerrow::resources::makerBanner);
    mine.setBitmap(banner);
    EXPECT_EQ(clipboardBitmap(), pictureOf(banner));

    Win32Clipboard clipboard;
    clipboard.setBitmap(skerrow::resources::bitmapResource(skerrow::resources::isSpamFace));
    clipboard.restore();
    EXPECT_EQ(clipboardBitmap(), pictureOf(banner));
    mine.restore();
    ASSERT_TRUE(openClipboard());
    EXPECT_EQ(::CountClipboardFormats(), 0);
    ::CloseClipboard();
}

} // namespace
