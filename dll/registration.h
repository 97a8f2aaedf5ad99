// What registering the DLL writes to the registry, and its removal.
#pragma once

#include <string>

#include <windows.h>

namespace skerrow::com {

// Where the class and the add-in entry go: under the current user (no
// administrator rights needed) or under the machine, for every user.
enum class Scope { User, Machine };

// The add-in entry the mail client reads, under the scope's root.
inline constexpr const wchar_t* addinKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Skerrow.startLoad";
inline constexpr const wchar_t* addinFriendlyName = L"Skerrow";
inline constexpr const wchar_t* addinDescription = L"Skerrow Software for Outlook2000";
// Load at every start-up: the add-in has no command of the client's own
// that could demand it later, so load on demand would never load it again.
inline constexpr DWORD addinLoadBehavior = 3;

// Writes the class (its CLSID key with InprocServer32 and ProgID, and the
// ProgID key) under scope's Software\Classes, and the add-in entry.
HRESULT registerServer(Scope scope, const std::wstring& dllPath);
// Removes the class's CLSID key of this DLL's own registry view. The ProgID
// key and the add-in entry, which 32- and 64-bit Windows may share between
// the views, go only when the other view holds no registration of the
// class. Never their parents nor the add-in's own settings.
HRESULT unregisterServer(Scope scope);

} // namespace skerrow::com
