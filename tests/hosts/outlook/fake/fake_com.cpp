#include "tests/hosts/outlook/fake/fake_com.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include <olectl.h>

namespace skerrow::fake {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), n);
    return text;
}

std::string utf8(const wchar_t* text, int length) {
    if (!text || length == 0)
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), n, nullptr, nullptr);
    if (length < 0 && !result.empty())
        result.pop_back();
    return result;
}

Value Value::of(const VARIANT& v) {
    Value value;
    ::VariantCopyInd(&value.v_, const_cast<VARIANT*>(&v));
    return value;
}

Value::Value(bool b) : Value() {
    v_.vt = VT_BOOL;
    v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
}

Value::Value(int n) : Value() {
    v_.vt = VT_I4;
    v_.lVal = n;
}

Value::Value(const std::string& text) : Value() {
    const std::wstring w = wide(text);
    v_.vt = VT_BSTR;
    v_.bstrVal = ::SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

Value::Value(const Ref& object) : Value(static_cast<IDispatch*>(object.get())) {}

Value::Value(IDispatch* object) : Value() {
    v_.vt = VT_DISPATCH;
    v_.pdispVal = object;
    if (object)
        object->AddRef();
}

Value Value::date(double variantTime) {
    Value value;
    value.v_.vt = VT_DATE;
    value.v_.date = variantTime;
    return value;
}

Value Value::as(VARTYPE type) const {
    Value converted;
    if (FAILED(::VariantChangeType(&converted.v_, const_cast<VARIANT*>(&v_), VARIANT_ALPHABOOL, type)))
        throw Failure{DISP_E_TYPEMISMATCH};
    return converted;
}

std::string Value::text() const {
    try {
        const Value converted = as(VT_BSTR);
        return utf8(converted.v_.bstrVal, static_cast<int>(::SysStringLen(converted.v_.bstrVal)));
    } catch (const Failure&) {
        return "<type " + std::to_string(v_.vt) + ">";
    }
}

void Value::moveTo(VARIANT* out) {
    if (!out)
        return;
    *out = v_;
    ::VariantInit(&v_);
}

// One connection point: the sinks advised for one event interface.
class FakeObject::Point : public IConnectionPoint {
public:
    Point(FakeObject& owner, const IID& events) : owner_(owner), events_(events) {}
    virtual ~Point() {
        for (auto& [cookie, sink] : sinks_)
            sink->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
            *out = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The point lives as long as its object.
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }

    // Neither the add-in nor the host asks these.
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
    // As Office does, the sink is asked for the event interface itself.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie)
            return E_POINTER;
        IDispatch* events = nullptr;
        if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(&events))) || !events)
            return CONNECT_E_CANNOTCONNECT;
        *cookie = ++lastCookie_;
        sinks_[*cookie] = events;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        auto found = sinks_.find(cookie);
        if (found == sinks_.end())
            return CONNECT_E_NOCONNECTION;
        IDispatch* sink = found->second;
        sinks_.erase(found);
        sink->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    const IID& events() const { return events_; }
    int count() const { return static_cast<int>(sinks_.size()); }

    std::vector<HRESULT> raise(DISPID dispid, std::vector<VARIANT>& arguments) {
        // Sinks unadvised by an earlier one are skipped.
        const auto snapshot = sinks_;
        std::vector<HRESULT> results;
        for (const auto& [cookie, sink] : snapshot) {
            if (!sinks_.count(cookie))
                continue;
            sink->AddRef();
            std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
            DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
            VARIANT result;
            ::VariantInit(&result);
            results.push_back(sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result,
                                           nullptr, nullptr));
            ::VariantClear(&result);
            sink->Release();
        }
        return results;
    }

private:
    FakeObject& owner_;
    IID events_;
    std::map<DWORD, IDispatch*> sinks_; // by cookie, so in the order advised
    DWORD lastCookie_ = 0;
};

FakeObject::FakeObject(std::string typeName) : typeName_(std::move(typeName)) {
}

FakeObject::~FakeObject() = default;

Ref FakeObject::make(std::string typeName) {
    return Ref(new FakeObject(std::move(typeName)), [](FakeObject* object) { object->Release(); });
}

std::string FakeObject::lower(const std::string& name) {
    std::string result = name;
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

void FakeObject::property(const std::string& name, Getter get, Setter set) {
    members_.push_back({name, std::move(get), std::move(set)});
}

void FakeObject::raises(const IID& events) {
    points_.push_back(std::make_unique<Point>(*this, events));
}

FakeObject::Point* FakeObject::point(const IID& events) const {
    for (const auto& point : points_)
        if (IsEqualIID(point->events(), events))
            return point.get();
    return nullptr;
}

std::vector<HRESULT> FakeObject::raise(const IID& events, DISPID dispid, std::vector<VARIANT> arguments) {
    if (!point(events))
        throw std::logic_error("the object raises no such events");
    return point(events)->raise(dispid, arguments);
}

int FakeObject::sinkCount(const IID& events) const {
    return point(events) ? point(events)->count() : 0;
}

HRESULT FakeObject::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch))
        *out = static_cast<IDispatch*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPointContainer) && !points_.empty())
        *out = static_cast<IConnectionPointContainer*>(this);
    else if (std::any_of(extra_.begin(), extra_.end(), [&](const IID& e) { return IsEqualIID(e, iid); }))
        *out = static_cast<IDispatch*>(this);
    if (!*out)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG FakeObject::Release() {
    const long left = --references_;
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

HRESULT FakeObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    *info = nullptr;
    if (typeName_.empty() || index != 0)
        return DISP_E_BADINDEX;
    // Type information of a type library made on the spot, as OLE
    // Automation makes it: only its name matters here.
    ICreateTypeLib2* library = nullptr;
    HRESULT result = ::CreateTypeLib2(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, L"fake.tlb", &library);
    if (FAILED(result))
        return result;
    std::wstring name = wide(typeName_);
    ICreateTypeInfo* made = nullptr;
    result = library->CreateTypeInfo(name.data(), TKIND_DISPATCH, &made);
    if (SUCCEEDED(result)) {
        result = made->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(info));
        made->Release();
    }
    library->Release();
    return result;
}

HRESULT FakeObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        const std::string name = lower(utf8(names[i]));
        for (std::size_t m = 0; m < members_.size(); ++m)
            if (i == 0 && lower(members_[m].name) == name)
                ids[i] = static_cast<DISPID>(m + 1);
        if (ids[i] == DISPID_UNKNOWN)
            result = DISP_E_UNKNOWNNAME;
    }
    return result;
}

HRESULT FakeObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                           EXCEPINFO* exception, UINT*) {
    if (result)
        ::VariantInit(result);
    if (id < 1 || static_cast<std::size_t>(id) > members_.size())
        return DISP_E_MEMBERNOTFOUND;
    // The member may replace the table while it runs.
    const Member member = members_[static_cast<std::size_t>(id - 1)];
    Arguments arguments;
    const UINT count = parameters ? parameters->cArgs : 0;
    const UINT named = parameters ? parameters->cNamedArgs : 0;
    for (UINT i = count; i > 0; --i)
        arguments.push_back(Value::of(parameters->rgvarg[i - 1]));
    const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    if (put && (named != 1 || parameters->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT || count < 1))
        return DISP_E_PARAMNOTOPTIONAL;
    if (!put && named > 0)
        return DISP_E_NONAMEDARGS;
    calls_.push_back(put ? member.name + "=" + arguments.back().text() : member.name);
    if (put ? !member.set : !member.get)
        return DISP_E_MEMBERNOTFOUND;
    HRESULT failed = S_OK;
    try {
        if (put)
            member.set(arguments.back());
        else
            member.get(arguments).moveTo(result);
        return S_OK;
    } catch (const Failure& f) {
        failed = f.result;
    }
    if (exception) {
        *exception = EXCEPINFO{};
        exception->scode = failed;
        exception->bstrSource = ::SysAllocString(L"Fake");
        exception->bstrDescription = ::SysAllocString(wide(member.name + " failed").c_str());
    }
    return DISP_E_EXCEPTION;
}

HRESULT FakeObject::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
    *out = point(iid);
    if (!*out)
        return CONNECT_E_NOCONNECTION;
    (*out)->AddRef();
    return S_OK;
}

class RegisteredClass::Factory : public IClassFactory {
public:
    explicit Factory(std::function<Ref()> make) : make_(std::move(make)) {}
    virtual ~Factory() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as its registration.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Ref object = make_();
        return object->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::function<Ref()> make_;
};

RegisteredClass::RegisteredClass(const CLSID& clsid, const std::wstring& progID, std::function<Ref()> make)
    : factory_(new Factory(std::move(make))), progID_(progID) {
    ::CoRegisterClassObject(clsid, factory_, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    wchar_t text[64];
    ::StringFromGUID2(clsid, text, 64);
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + progID + L"\\CLSID").c_str(), nullptr, REG_SZ,
                      text, static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

RegisteredClass::~RegisteredClass() {
    ::CoRevokeClassObject(cookie_);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + progID_).c_str());
    delete factory_;
}

} // namespace skerrow::fake
