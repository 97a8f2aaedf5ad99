#include "platform/win32/win32_platform.h"

#include "filter/settings.h"
#include "platform/win32/codepage.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <shellapi.h>
#include <shlobj.h>

namespace skerrow::win32 {

using codepage::ansiToUtf8;
using codepage::utf8ToAnsi;
using codepage::utf8ToWide;
using codepage::wideToUtf8;

namespace {

[[noreturn]] void fail(const std::string& what, DWORD error = ::GetLastError()) {
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

HKEY rootKey(platform::RegistryRoot root) {
    return root == platform::RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_)
            ::RegCloseKey(key_);
    }
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~Handle() {
        if (valid())
            ::CloseHandle(handle_);
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    // Closing reports a failed write-back, so writers check it.
    bool close() { return valid() && ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0; }

private:
    HANDLE handle_;
};

Handle openFile(const std::string& path, DWORD access, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return Handle(::CreateFileW(utf8ToWide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                disposition, flags, nullptr));
}

bool isFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows refuses to write or replace such a file; saying so here keeps
// that true where the file system would let its owner write anyway.
bool isReadOnlyFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_READONLY);
}

bool isFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string readBytes(const std::string& path) {
    Handle in = openFile(path, GENERIC_READ, OPEN_EXISTING);
    if (!in.valid())
        fail("cannot open " + path);
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(in.get(), buffer, sizeof buffer, &read, nullptr))
            fail("cannot read " + path);
        if (read == 0)
            return bytes;
        bytes.append(buffer, read);
    }
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    return std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
}

// Puts bytes in place of path: a temporary file beside it takes them and
// reaches the disk, then replaces the old file in one move.
void replaceWith(const std::string& path, const std::string& bytes) {
    if (isReadOnlyFile(path))
        fail("cannot replace the read-only file " + path, ERROR_ACCESS_DENIED);
    const std::string name = path.substr(path.find_last_of("\\/") + 1);
    std::string temp;
    Handle out(INVALID_HANDLE_VALUE);
    for (int attempt = 0; !out.valid(); ++attempt) {
        temp = folderOf(path) + "\\~" + name + "." + uniqueSuffix() + ".tmp";
        out = Handle(::CreateFileW(utf8ToWide(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.valid() && (::GetLastError() != ERROR_FILE_EXISTS || attempt == 100))
            fail("cannot create a temporary file for " + path);
    }
    const std::wstring wideTemp = utf8ToWide(temp);
    try {
        std::size_t written = 0;
        while (written < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 20));
            DWORD done = 0;
            if (!::WriteFile(out.get(), bytes.data() + written, chunk, &done, nullptr))
                fail("cannot write " + temp);
            written += done;
        }
        if (!::FlushFileBuffers(out.get()))
            fail("cannot flush " + temp);
        if (!out.close())
            fail("cannot close " + temp);
        if (!::MoveFileExW(wideTemp.c_str(), utf8ToWide(path).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            fail("cannot replace " + path);
    } catch (...) {
        out.close();
        ::DeleteFileW(wideTemp.c_str());
        throw;
    }
}

// Whether the list file could be made or replaced in folder: a new file can
// be created there, and an existing list file can be opened for writing.
bool canHoldListFile(const std::string& folder, const std::string& name) {
    if (!isFolder(folder))
        return false;
    const std::string probe = folder + "\\~skerrow-probe-" + uniqueSuffix() + ".tmp";
    Handle created = openFile(probe, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
    if (!created.valid())
        return false;
    const std::string path = folder + "\\" + name;
    if (!isFile(path))
        return true;
    return !isReadOnlyFile(path) && openFile(path, GENERIC_WRITE, OPEN_EXISTING).valid();
}

// mkdir -p for a Windows path; true when the folder is there at the end.
bool makeFolders(const std::string& path) {
    for (std::size_t end = path.find_first_of("\\/", 3);; end = path.find_first_of("\\/", end + 1)) {
        const std::string part = path.substr(0, end);
        ::CreateDirectoryW(utf8ToWide(part).c_str(), nullptr);
        if (end == std::string::npos)
            break;
    }
    return isFolder(path);
}

HMODULE moduleOfThisCode() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&moduleOfThisCode), &module);
    return module;
}

// Bytes of a little-endian field of a BMP header.
template <typename T> void put(std::vector<std::uint8_t>& bytes, std::size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

} // namespace

Win32Platform::Win32Platform(ListFileFolders folders, HMODULE module)
    : folders_(std::move(folders)), module_(module ? module : moduleOfThisCode()) {}

std::optional<std::string> Win32Platform::readValue(platform::RegistryRoot root, const std::string& subKey,
                                                    const std::string& name) {
    Key key;
    if (::RegOpenKeyA(rootKey(root), utf8ToAnsi(subKey).c_str(), key.out()) != ERROR_SUCCESS)
        return std::nullopt;
    const std::string valueName = utf8ToAnsi(name);
    DWORD type = 0;
    DWORD size = 0;
    LONG result = ::RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size);
    std::string data;
    // The value may grow between the two calls; ask again until it fits.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        data.assign(size, '\0');
        result = ::RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                    &size);
        if (result == ERROR_SUCCESS) {
            data.resize(size);
            break;
        }
    }
    if (result == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    if (result != ERROR_SUCCESS)
        fail("cannot read " + name, static_cast<DWORD>(result));
    const auto nul = data.find('\0');
    if (nul == std::string::npos)
        return std::string();
    return ansiToUtf8(std::string_view(data).substr(0, nul));
}

void Win32Platform::writeValue(platform::RegistryRoot root, const std::string& subKey, const std::string& name,
                               const std::string& value) {
    Key key;
    LONG result = ::RegCreateKeyA(rootKey(root), utf8ToAnsi(subKey).c_str(), key.out());
    if (result != ERROR_SUCCESS)
        fail("cannot create " + subKey, static_cast<DWORD>(result));
    const std::string text = utf8ToAnsi(value);
    result = ::RegSetValueExA(key.get(), utf8ToAnsi(name).c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
    if (result != ERROR_SUCCESS)
        fail("cannot write " + name, static_cast<DWORD>(result));
}

int Win32Platform::shellOpen(const std::string& target) {
    const HINSTANCE result = ::ShellExecuteA(nullptr, "open", utf8ToAnsi(target).c_str(), "", "", SW_SHOWNORMAL);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

std::optional<std::string> Win32Platform::userName() {
    char buffer[100];
    std::memset(buffer, 'X', sizeof buffer);
    DWORD size = sizeof buffer;
    if (!::GetUserNameA(buffer, &size))
        return std::nullopt;
    const std::string_view text(buffer, sizeof buffer);
    const auto nul = text.find('\0');
    if (nul == std::string_view::npos || nul == 0)
        return std::nullopt;
    return ansiToUtf8(text.substr(0, nul));
}

std::optional<std::string> Win32Platform::systemFolder() const {
    if (folders_.system)
        return folders_.system;
    char buffer[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryA(buffer, MAX_PATH);
    if (length == 0 || length > MAX_PATH)
        return std::nullopt;
    return ansiToUtf8(std::string_view(buffer, length));
}

std::optional<std::string> Win32Platform::fallbackFolder() const {
    if (folders_.fallback)
        return folders_.fallback;
    wchar_t appData[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
        return std::nullopt;
    return wideToUtf8(appData) + "\\Corvalle\\Skerrow";
}

std::optional<std::string> Win32Platform::systemDirectory() {
    const auto system = systemFolder();
    const auto fallback = fallbackFolder();
    // The same name the add-in gives the list file.
    const std::string name = getUserName(*this);
    if (fallback && isFile(*fallback + "\\" + name))
        return fallback;
    if (system && canHoldListFile(*system, name))
        return system;
    if (!fallback || !makeFolders(*fallback))
        return system;
    if (system && isFile(*system + "\\" + name)) {
        // The stored lists move along; if they cannot, they stay readable
        // where they are.
        if (!::CopyFileW(utf8ToWide(*system + "\\" + name).c_str(), utf8ToWide(*fallback + "\\" + name).c_str(), TRUE))
            return system;
        ::SetFileAttributesW(utf8ToWide(*fallback + "\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    return fallback;
}

bool Win32Platform::fileExists(const std::string& path) {
    return isFile(path);
}

std::string Win32Platform::readTextFile(const std::string& path) {
    return ansiToUtf8(readBytes(path));
}

void Win32Platform::createEmptyFile(const std::string& path) {
    // OPEN_ALWAYS: a file that is already there keeps its content.
    Handle file = openFile(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (!file.valid())
        fail("cannot create " + path);
}

void Win32Platform::replaceTextFile(const std::string& path, const std::string& text) {
    replaceWith(path, utf8ToAnsi(text));
}

void Win32Platform::copyFile(const std::string& from, const std::string& to) {
    replaceWith(to, readBytes(from));
}

namespace {

class HeldLock : public platform::FolderLock {
public:
    explicit HeldLock(Handle file) : file_(std::move(file)) {}
    ~HeldLock() override {
        OVERLAPPED whole = {};
        ::UnlockFileEx(file_.get(), 0, MAXDWORD, MAXDWORD, &whole);
    }

private:
    Handle file_;
};

} // namespace

std::unique_ptr<platform::FolderLock> Win32Platform::lockFolder(const std::string& folder) {
    const std::string path = folder + "\\" + lockFileName;
    Handle file(::CreateFileW(utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file.valid())
        fail("cannot open the lock file " + path);
    // A holder keeps the lock for one read and write of small files; one
    // that keeps it far longer has hung, and the caller tries again later.
    for (DWORD waited = 0;; waited += 10) {
        OVERLAPPED whole = {};
        if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                         &whole))
            return std::make_unique<HeldLock>(std::move(file));
        const DWORD error = ::GetLastError();
        if (error != ERROR_LOCK_VIOLATION)
            fail("cannot lock " + path, error);
        if (waited >= lockWaitMilliseconds)
            fail("still locked by another process: " + path, error);
        ::Sleep(10);
    }
}

std::vector<std::uint8_t> Win32Platform::loadBitmap(int id) {
    HRSRC found = ::FindResourceW(module_, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    HGLOBAL loaded = found ? ::LoadResource(module_, found) : nullptr;
    const void* dib = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = found ? ::SizeofResource(module_, found) : 0;
    if (!dib || size < sizeof(BITMAPINFOHEADER))
        throw std::runtime_error("no bitmap " + std::to_string(id));

    // A bitmap resource is a BMP file without its file header: put it back.
    BITMAPINFOHEADER info;
    std::memcpy(&info, dib, sizeof info);
    std::uint32_t colours = info.biClrUsed;
    if (colours == 0 && info.biBitCount <= 8)
        colours = 1u << info.biBitCount;
    std::uint32_t masks = info.biSize == sizeof(BITMAPINFOHEADER) && info.biCompression == BI_BITFIELDS ? 12 : 0;
    constexpr std::size_t fileHeader = 14;
    std::vector<std::uint8_t> bytes(fileHeader + size);
    bytes[0] = 'B';
    bytes[1] = 'M';
    put<std::uint32_t>(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
    put<std::uint32_t>(bytes, 10, static_cast<std::uint32_t>(fileHeader + info.biSize + masks + colours * 4));
    std::memcpy(bytes.data() + fileHeader, dib, size);
    return bytes;
}

std::string Win32Platform::generalDate(std::chrono::system_clock::time_point when) {
    // FILETIME counts 100-nanosecond steps from 1601.
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
    constexpr std::int64_t from1601To1970 = 116444736000000000LL;
    const std::int64_t ticks = std::chrono::floor<Ticks>(when.time_since_epoch()).count() + from1601To1970;
    FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal{}, local{};
    if (ticks < 0 || !::FileTimeToSystemTime(&utc, &universal) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        fail("cannot convert the time to local time");
    // The user's own short date and long time, as the list views show dates.
    wchar_t date[128];
    wchar_t time[128];
    if (!::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, 128))
        fail("GetDateFormatW");
    if (!::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &local, nullptr, time, 128))
        fail("GetTimeFormatW");
    return wideToUtf8(date) + " " + wideToUtf8(time);
}

} // namespace skerrow::win32
