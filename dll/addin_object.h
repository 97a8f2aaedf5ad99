// The creatable class startLoad as COM sees it: IDTExtensibility2 over the
// add-in, with the Win32 platform, the COM object factory, the clipboard
// and the Win32 windows as its services.
#pragma once

#include "addin/startload.h"
#include "dll/extensibility.h"
#include "hosts/outlook/outlook_host.h"
#include "platform/win32/clipboard.h"
#include "platform/win32/win32_platform.h"
#include "render/win32/win32_renderer.h"

#include <atomic>
#include <memory>

namespace skerrow::com {

// No exception and no failure leaves an operation, but for the failure to
// log the messaging session off, which OnDisconnection returns.
class AddInObject final : public IDTExtensibility2 {
public:
    AddInObject();
    ~AddInObject();
    AddInObject(const AddInObject&) = delete;
    AddInObject& operator=(const AddInObject&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, for hosts that call through it: the five operations by
    // name and by their dispatch ids.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO* exception, UINT* badArgument) override;

    // IDTExtensibility2
    HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                                           SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY** custom) override;
    HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY** custom) override;

private:
    std::atomic<long> references_{1};
    win32::Win32Platform platform_;
    outlook::ComObjectFactory objects_;
    win32::Win32Clipboard clipboard_;
    win32::Win32Dialogs dialogs_;
    win32::Win32WindowManager windows_;
    // Last, so that it goes first: it holds references to the services.
    std::unique_ptr<startLoad> addin_;
};

} // namespace skerrow::com
