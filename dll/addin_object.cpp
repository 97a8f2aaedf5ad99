#include "dll/addin_object.h"

#include "addin/host/host.h"
#include "dll/module.h"
#include "hosts/outlook/dispatch.h"

#include <cwchar>

namespace skerrow::com {

namespace {

struct Operation {
    const wchar_t* name;
    DISPID id;
};

constexpr Operation operations[] = {
    {L"OnConnection", dispidOnConnection},       {L"OnDisconnection", dispidOnDisconnection},
    {L"OnAddInsUpdate", dispidOnAddInsUpdate},   {L"OnStartupComplete", dispidOnStartupComplete},
    {L"OnBeginShutdown", dispidOnBeginShutdown},
};

// Argument i of an Invoke, counted from the first (Invoke passes them last
// to first); nothing when it is not there.
VARIANT* argument(DISPPARAMS* parameters, UINT i) {
    if (!parameters || i >= parameters->cArgs)
        return nullptr;
    VARIANT* v = &parameters->rgvarg[parameters->cArgs - 1 - i];
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal)
        v = v->pvarVal;
    return v;
}

IDispatch* objectArgument(DISPPARAMS* parameters, UINT i) {
    VARIANT* v = argument(parameters, i);
    if (!v)
        return nullptr;
    if (v->vt == VT_DISPATCH)
        return v->pdispVal;
    if (v->vt == (VT_DISPATCH | VT_BYREF))
        return v->ppdispVal ? *v->ppdispVal : nullptr;
    return nullptr;
}

int numberArgument(DISPPARAMS* parameters, UINT i) {
    VARIANT* v = argument(parameters, i);
    if (!v)
        return 0;
    VARIANT number;
    ::VariantInit(&number);
    if (FAILED(::VariantChangeType(&number, v, 0, VT_I4)))
        return 0;
    return number.lVal;
}

SAFEARRAY** arrayArgument(DISPPARAMS* parameters, UINT i) {
    VARIANT* v = argument(parameters, i);
    if (v && (v->vt & VT_ARRAY) && (v->vt & VT_BYREF))
        return v->pparray;
    return nullptr;
}

} // namespace

AddInObject::AddInObject()
    : addin_(std::make_unique<startLoad>(Services{platform_, objects_, clipboard_, dialogs_, windows_})) {
    ++liveObjects;
}

AddInObject::~AddInObject() {
    addin_.reset();
    --liveObjects;
}

HRESULT AddInObject::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IDTExtensibility2)) {
        *out = static_cast<IDTExtensibility2*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG AddInObject::AddRef() {
    return static_cast<ULONG>(++references_);
}

ULONG AddInObject::Release() {
    const long left = --references_;
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT AddInObject::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT AddInObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info)
        *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT AddInObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids)
        return E_POINTER;
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        // Only the operation's name is known, none of its argument names.
        for (const Operation& operation : operations) {
            if (i == 0 && names[i] && ::_wcsicmp(names[i], operation.name) == 0)
                ids[i] = operation.id;
        }
        if (ids[i] == DISPID_UNKNOWN)
            result = DISP_E_UNKNOWNNAME;
    }
    return result;
}

HRESULT AddInObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                            UINT*) {
    if (!(flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    if (parameters && parameters->cNamedArgs > 0)
        return DISP_E_NONAMEDARGS;
    if (result)
        ::VariantInit(result);
    switch (id) {
    case dispidOnConnection:
        return OnConnection(objectArgument(parameters, 0), static_cast<ext_ConnectMode>(numberArgument(parameters, 1)),
                            objectArgument(parameters, 2), arrayArgument(parameters, 3));
    case dispidOnDisconnection:
        return OnDisconnection(static_cast<ext_DisconnectMode>(numberArgument(parameters, 0)),
                               arrayArgument(parameters, 1));
    case dispidOnAddInsUpdate: return OnAddInsUpdate(arrayArgument(parameters, 0));
    case dispidOnStartupComplete: return OnStartupComplete(arrayArgument(parameters, 0));
    case dispidOnBeginShutdown: return OnBeginShutdown(arrayArgument(parameters, 0));
    default: return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT AddInObject::OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                                  SAFEARRAY**) {
    // The custom values are no use to the add-in.
    skerrow::IDTExtensibility2::CustomValues none;
    try {
        outlook::HostOptions options;
        options.afterPasteFace = [this] { clipboard_.restore(); };
        auto application = outlook::wrapConnectionObject(Application, options);
        auto instance = outlook::wrapConnectionObject(AddInInst);
        // Only the connection makes a messaging session; the client is
        // lent for that long.
        objects_.lendApplication(Application);
        addin_->OnConnection(application, ConnectMode, instance, none);
    } catch (...) {
    }
    objects_.lendApplication(nullptr);
    // Whatever happened on the way, the user's clipboard is theirs again.
    clipboard_.restore();
    return S_OK;
}

HRESULT AddInObject::OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY**) {
    skerrow::IDTExtensibility2::CustomValues none;
    try {
        addin_->OnDisconnection(RemoveMode, none);
        return S_OK;
    } catch (const outlook::ComError& error) {
        return error.result();
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT AddInObject::OnAddInsUpdate(SAFEARRAY**) {
    skerrow::IDTExtensibility2::CustomValues none;
    try {
        addin_->OnAddInsUpdate(none);
    } catch (...) {
    }
    return S_OK;
}

HRESULT AddInObject::OnStartupComplete(SAFEARRAY**) {
    skerrow::IDTExtensibility2::CustomValues none;
    try {
        addin_->OnStartupComplete(none);
    } catch (...) {
    }
    return S_OK;
}

HRESULT AddInObject::OnBeginShutdown(SAFEARRAY**) {
    skerrow::IDTExtensibility2::CustomValues none;
    try {
        addin_->OnBeginShutdown(none);
    } catch (...) {
    }
    return S_OK;
}

} // namespace skerrow::com
