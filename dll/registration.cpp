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
        setString(HKEY_CURRENT_USER, addinKey, L"FriendlyName", addinFriendlyName),
        setString(HKEY_CURRENT_USER, addinKey, L"Description", addinDescription),
        setNumber(HKEY_CURRENT_USER, addinKey, L"LoadBehavior", addinLoadBehavior),
        // The add-in shows windows, so it must not load for a command-line start.
        setNumber(HKEY_CURRENT_USER, addinKey, L"CommandLineSafe", 0),
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
    const LONG results[] = {
        removeTree(root, classesKey(std::wstring(L"CLSID\\") + startLoadClassID)),
        removeTree(root, classesKey(startLoadProgID)),
        removeTree(HKEY_CURRENT_USER, addinKey),
    };
    for (LONG result : results) {
        if (result != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(static_cast<DWORD>(result));
    }
    return S_OK;
}

} // namespace skerrow::com
