#include "dll/registration.h"

#include "dll/extensibility.h"

#include <shlwapi.h>

namespace skerrow::com {

namespace {

HKEY rootOf(Scope scope) {
    return scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring classesKey(const std::wstring& below) {
    return L"Software\\Classes\\" + below;
}

LONG setString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    HKEY opened = nullptr;
    LONG result = ::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = ::RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    ::RegCloseKey(opened);
    return result;
}

LONG setNumber(HKEY root, const std::wstring& key, const wchar_t* name, DWORD value) {
    HKEY opened = nullptr;
    LONG result = ::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = ::RegSetValueExW(opened, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    ::RegCloseKey(opened);
    return result;
}

// SHDeleteKeyW rather than RegDeleteTreeW, which the Windows of Outlook
// 2000's days lack. A key that is not there is no failure.
LONG removeTree(HKEY root, const std::wstring& key) {
    const LONG result = static_cast<LONG>(::SHDeleteKeyW(root, key.c_str()));
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

// Whether the DLL of the other bitness is registered: its CLSID key lives in
// the other registry view. On 32-bit Windows there is one view, which no
// longer holds the key.
bool registeredInOtherView(HKEY root, const std::wstring& clsidKey) {
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, (clsidKey + L"\\InprocServer32").c_str(), 0, KEY_READ | otherView, &opened) !=
        ERROR_SUCCESS)
        return false;
    ::RegCloseKey(opened);
    return true;
}

} // namespace

HRESULT registerServer(Scope scope, const std::wstring& dllPath) {
    const HKEY root = rootOf(scope);
    const std::wstring clsidKey = classesKey(std::wstring(L"CLSID\\") + startLoadClassID);
    const std::wstring progIDKey = classesKey(startLoadProgID);
    const LONG results[] = {
        setString(root, clsidKey, nullptr, L"startLoad"),
        setString(root, clsidKey + L"\\InprocServer32", nullptr, dllPath),
        setString(root, clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"),
        setString(root, clsidKey + L"\\ProgID", nullptr, startLoadProgID),
        setString(root, progIDKey, nullptr, L"startLoad"),
        setString(root, progIDKey + L"\\CLSID", nullptr, startLoadClassID),
        setString(root, addinKey, L"FriendlyName", addinFriendlyName),
        setString(root, addinKey, L"Description", addinDescription),
        setNumber(root, addinKey, L"LoadBehavior", addinLoadBehavior),
        // The add-in shows windows, so it must not load for a command-line start.
        setNumber(root, addinKey, L"CommandLineSafe", 0),
    };
    for (LONG result : results) {
        if (result != ERROR_SUCCESS) {
            unregisterServer(scope);
            return HRESULT_FROM_WIN32(static_cast<DWORD>(result));
        }
    }
    return S_OK;
}

HRESULT unregisterServer(Scope scope) {
    const HKEY root = rootOf(scope);
    const std::wstring clsidKey = classesKey(std::wstring(L"CLSID\\") + startLoadClassID);
    LONG result = removeTree(root, clsidKey);
    if (result == ERROR_SUCCESS && !registeredInOtherView(root, clsidKey)) {
        result = removeTree(root, classesKey(startLoadProgID));
        if (result == ERROR_SUCCESS)
            result = removeTree(root, addinKey);
    }
    return result == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(result));
}

} // namespace skerrow::com
