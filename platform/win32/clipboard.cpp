#include "platform/win32/clipboard.h"

#include <cstring>
#include <string>
#include <vector>

namespace skerrow::win32 {

namespace {

// Another program may hold the clipboard for a moment.
bool openClipboard(HWND owner) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::OpenClipboard(owner))
            return true;
        ::Sleep(10);
    }
    return false;
}

class OpenedClipboard {
public:
    explicit OpenedClipboard(HWND owner) : open_(openClipboard(owner)) {}
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;
    ~OpenedClipboard() {
        if (open_)
            ::CloseClipboard();
    }
    bool isOpen() const { return open_; }

private:
    bool open_;
};

HGLOBAL globalCopy(const void* data, std::size_t size) {
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
    if (!memory)
        return nullptr;
    if (void* target = ::GlobalLock(memory)) {
        std::memcpy(target, data, size);
        ::GlobalUnlock(memory);
        return memory;
    }
    ::GlobalFree(memory);
    return nullptr;
}

} // namespace

// One format of the user's clipboard, copied out so that it outlives the
// clipboard's own data.
struct Win32Clipboard::Kept {
    enum class Kind { Memory, Bitmap, EnhancedMetafile, MetafilePicture };
    struct Entry {
        UINT format = 0;
        Kind kind = Kind::Memory;
        std::vector<char> bytes; // Memory, and the METAFILEPICT of a MetafilePicture
        HANDLE handle = nullptr; // Bitmap, EnhancedMetafile, the HMETAFILE of a MetafilePicture
    };
    std::vector<Entry> entries;

    Kept() = default;
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
    ~Kept() {
        for (const Entry& entry : entries)
            release(entry);
    }

    static void release(const Entry& entry) {
        if (!entry.handle)
            return;
        switch (entry.kind) {
        case Kind::Bitmap: ::DeleteObject(entry.handle); break;
        case Kind::EnhancedMetafile: ::DeleteEnhMetaFile(static_cast<HENHMETAFILE>(entry.handle)); break;
        case Kind::MetafilePicture: ::DeleteMetaFile(static_cast<HMETAFILE>(entry.handle)); break;
        case Kind::Memory: break;
        }
    }

    // Copies the clipboard's data in format; false for data that cannot be
    // copied without its owner (owner display, private handles, palettes,
    // which the system makes again from a bitmap).
    bool take(UINT format) {
        if (format == CF_OWNERDISPLAY || format == CF_PALETTE ||
            (format >= CF_PRIVATEFIRST && format <= CF_PRIVATELAST) ||
            (format >= CF_GDIOBJFIRST && format <= CF_GDIOBJLAST))
            return false;
        HANDLE data = ::GetClipboardData(format);
        if (!data)
            return false;
        Entry entry;
        entry.format = format;
        switch (format) {
        case CF_BITMAP:
        case CF_DSPBITMAP:
            entry.kind = Kind::Bitmap;
            entry.handle = ::CopyImage(data, IMAGE_BITMAP, 0, 0, 0);
            break;
        case CF_ENHMETAFILE:
        case CF_DSPENHMETAFILE:
            entry.kind = Kind::EnhancedMetafile;
            entry.handle = ::CopyEnhMetaFileW(static_cast<HENHMETAFILE>(data), nullptr);
            break;
        case CF_METAFILEPICT:
        case CF_DSPMETAFILEPICT: {
            entry.kind = Kind::MetafilePicture;
            const auto* picture = static_cast<const METAFILEPICT*>(::GlobalLock(data));
            if (!picture)
                return false;
            METAFILEPICT copy = *picture;
            ::GlobalUnlock(data);
            copy.hMF = ::CopyMetaFileW(copy.hMF, nullptr);
            entry.handle = copy.hMF;
            const char* raw = reinterpret_cast<const char*>(&copy);
            entry.bytes.assign(raw, raw + sizeof copy);
            break;
        }
        default: {
            const SIZE_T size = ::GlobalSize(data);
            const char* raw = size ? static_cast<const char*>(::GlobalLock(data)) : nullptr;
            if (!raw)
                return false;
            entry.bytes.assign(raw, raw + size);
            ::GlobalUnlock(data);
            break;
        }
        }
        if (entry.kind != Kind::Memory && !entry.handle)
            return false;
        entries.push_back(std::move(entry));
        return true;
    }

    // Hands every entry to the open, emptied clipboard, which owns what it
    // accepts.
    void give() {
        for (Entry& entry : entries) {
            HANDLE data = nullptr;
            switch (entry.kind) {
            case Kind::Memory: data = globalCopy(entry.bytes.data(), entry.bytes.size()); break;
            case Kind::Bitmap:
            case Kind::EnhancedMetafile: data = entry.handle; break;
            case Kind::MetafilePicture: data = globalCopy(entry.bytes.data(), entry.bytes.size()); break;
            }
            if (!data)
                continue;
            if (::SetClipboardData(entry.format, data)) {
                if (entry.kind != Kind::Memory)
                    entry.handle = nullptr;
            } else if (entry.kind == Kind::Memory || entry.kind == Kind::MetafilePicture) {
                ::GlobalFree(data);
            }
        }
    }
};

Win32Clipboard::Win32Clipboard() = default;

Win32Clipboard::~Win32Clipboard() {
    kept_.reset();
    if (owner_)
        ::DestroyWindow(owner_);
}

HWND Win32Clipboard::owner() {
    // Data set by a clipboard opened without an owner window may be
    // refused; a message-only window owns it instead.
    if (!owner_)
        owner_ = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return owner_;
}

void Win32Clipboard::setBitmap(const host::Bitmap& image) {
    constexpr std::size_t fileHeader = 14;
    if (image.size() < fileHeader + sizeof(BITMAPINFOHEADER) || image[0] != 'B' || image[1] != 'M')
        throw host::HostError("not a BMP file");
    OpenedClipboard clipboard(owner());
    if (!clipboard.isOpen())
        throw host::HostError("the clipboard is busy");
    if (!kept_) {
        auto kept = std::make_unique<Kept>();
        for (UINT format = ::EnumClipboardFormats(0); format; format = ::EnumClipboardFormats(format))
            kept->take(format);
        kept_ = std::move(kept);
    }
    // The packed DIB is what follows the file header; the system offers it
    // as CF_BITMAP too.
    HGLOBAL dib = globalCopy(image.data() + fileHeader, image.size() - fileHeader);
    if (!dib || !::EmptyClipboard() || !::SetClipboardData(CF_DIB, dib)) {
        if (dib)
            ::GlobalFree(dib);
        throw host::HostError("cannot put the bitmap on the clipboard");
    }
}

void Win32Clipboard::restore() noexcept {
    if (!kept_)
        return;
    std::unique_ptr<Kept> kept = std::move(kept_);
    try {
        OpenedClipboard clipboard(owner());
        if (!clipboard.isOpen() || !::EmptyClipboard())
            return;
        kept->give();
    } catch (...) {
    }
}

} // namespace skerrow::win32
