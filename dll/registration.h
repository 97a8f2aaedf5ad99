// What registering the DLL writes to the registry, and its removal.
#pragma once

#include <string>

#include <windows.h>

namespace skerrow::com {

// Where the class goes: Software\Classes of the current user (no
// administrator rights needed) or of the machine.
enum class Scope { User, Machine };

// The add-in entry the mail client reads, always the current user's.
inline constexpr const wchar_t* addinKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Skerrow.startLoad";
inline constexpr const wchar_t* addinFriendlyName = L"Skerrow";
inline constexpr const wchar_t* addinDescription = L"Skerrow Software for Outlook2000";
// Load at the host's next start-up.
inline constexpr DWORD addinLoadBehavior = 16;

// Writes the class (its CLSID key with InprocServer32 and ProgID, and the
// ProgID key) under scope's Software\Classes, and the add-in entry.
HRESULT registerServer(Scope scope, const std::wstring& dllPath);
// Removes those keys and nothing else: neither their parents nor the
// add-in's own settings.
HRESULT unregisterServer(Scope scope);

} // namespace skerrow::com
