// The COM face of the add-in: the host's add-in connection interface
// IDTExtensibility2 (as the AddInDesignerObjects type library declares it)
// and the identity of the class startLoad. The mail client, and the tests
// that play it, call the add-in through these.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace skerrow::com {

// {B65AD801-ABAF-11D0-BB8B-00A0C90F2744}
inline constexpr IID IID_IDTExtensibility2 = {
    0xB65AD801, 0xABAF, 0x11D0, {0xBB, 0x8B, 0x00, 0xA0, 0xC9, 0x0F, 0x27, 0x44}};

enum ext_ConnectMode : int {
    ext_cm_AfterStartup = 0,
    ext_cm_Startup = 1,
    ext_cm_External = 2,
    ext_cm_CommandLine = 3,
};

enum ext_DisconnectMode : int {
    ext_dm_HostShutdown = 0,
    ext_dm_UserClosed = 1,
};

// A dual interface: the vtable below after IDispatch's, and the same
// operations by dispatch id.
struct IDTExtensibility2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode,
                                                   IDispatch* AddInInst, SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) = 0;
};

inline constexpr DISPID dispidOnConnection = 1;
inline constexpr DISPID dispidOnDisconnection = 2;
inline constexpr DISPID dispidOnAddInsUpdate = 3;
inline constexpr DISPID dispidOnStartupComplete = 4;
inline constexpr DISPID dispidOnBeginShutdown = 5;

// The class startLoad: {DCEFE1B6-DA11-4302-8C74-4FA86F68C5E9}
inline constexpr CLSID CLSID_startLoad = {0xDCEFE1B6, 0xDA11, 0x4302, {0x8C, 0x74, 0x4F, 0xA8, 0x6F, 0x68, 0xC5, 0xE9}};
inline constexpr const wchar_t* startLoadClassID = L"{DCEFE1B6-DA11-4302-8C74-4FA86F68C5E9}";
// The project name and the class name joined by a point.
inline constexpr const wchar_t* startLoadProgID = L"Skerrow.startLoad";

} // namespace skerrow::com
