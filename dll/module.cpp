// The entry points of the COM in-process server.
#include "dll/addin_object.h"
#include "dll/extensibility.h"
#include "dll/module.h"
#include "dll/registration.h"
#include "hosts/outlook/events.h"

#include <cwchar>
#include <new>
#include <string>

#include <objbase.h>
#include <olectl.h>

namespace skerrow::com {

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

namespace {

HMODULE thisModule = nullptr;

// Makes startLoad objects. Static: the DLL's lock count keeps it alive.
class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // References to the factory hold the server, as a lock does.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++serverLocks); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--serverLocks); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        AddInObject* object = nullptr;
        try {
            object = new AddInObject();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
        const HRESULT result = object->QueryInterface(iid, out);
        object->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ++serverLocks;
        else
            --serverLocks;
        return S_OK;
    }
};

ClassFactory factory;

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(thisModule, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

} // namespace skerrow::com

using namespace skerrow::com;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_startLoad))
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() {
    return liveObjects == 0 && serverLocks == 0 && skerrow::outlook::liveSinks() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    const std::wstring path = modulePath();
    if (path.empty())
        return SELFREG_E_CLASS;
    return SUCCEEDED(registerServer(Scope::User, path)) ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    return SUCCEEDED(unregisterServer(Scope::User)) ? S_OK : SELFREG_E_CLASS;
}

// regsvr32 /i:machine (with /n, alone) registers for the whole machine;
// "user" or nothing registers for the current user.
STDAPI DllInstall(BOOL install, PCWSTR commandLine) {
    Scope scope = Scope::User;
    if (commandLine && ::_wcsicmp(commandLine, L"machine") == 0)
        scope = Scope::Machine;
    else if (commandLine && *commandLine && ::_wcsicmp(commandLine, L"user") != 0)
        return E_INVALIDARG;
    if (!install)
        return SUCCEEDED(unregisterServer(scope)) ? S_OK : SELFREG_E_CLASS;
    const std::wstring path = modulePath();
    if (path.empty())
        return SELFREG_E_CLASS;
    return SUCCEEDED(registerServer(scope, path)) ? S_OK : SELFREG_E_CLASS;
}

} // extern "C"
