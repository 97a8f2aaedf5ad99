// Interface ids and dispatch ids of the mail client's object model that
// late binding cannot look up by name: the event interfaces, whose members
// the client calls on our sinks by number, and the interfaces we ask for.
// Values as published in the Outlook 2000 (msoutl9.olb) and Office 2000
// (mso9.dll) type libraries, unchanged in later versions.
#pragma once

#include <windows.h>

namespace skerrow::outlook::ids {

// Outlook's _Application: the interface that marks the mail client's
// application object. {00063001-0000-0000-C000-000000000046}
inline constexpr GUID IID_OutlookApplication = {
    0x00063001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// dispinterface ApplicationEvents {0006304E-0000-0000-C000-000000000046}
inline constexpr GUID DIID_ApplicationEvents = {
    0x0006304E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr DISPID dispidNewMail = 0xF003;

// dispinterface ExplorerEvents {0006304F-0000-0000-C000-000000000046}
inline constexpr GUID DIID_ExplorerEvents = {
    0x0006304F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr DISPID dispidSelectionChange = 0xF007;
inline constexpr DISPID dispidExplorerClose = 0xF008;

// Office's dispinterface _CommandBarButtonEvents
// {000C0351-0000-0000-C000-000000000046}: Click(Ctrl, CancelDefault).
inline constexpr GUID DIID_CommandBarButtonEvents = {
    0x000C0351, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr DISPID dispidClick = 1;

// Item classes (OlObjectClass) and the type names they go by.
inline constexpr int olMail = 43;

} // namespace skerrow::outlook::ids
