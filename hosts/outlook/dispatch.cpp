#include "hosts/outlook/dispatch.h"

#include "platform/win32/codepage.h"

#include <cstdio>
#include <vector>

namespace skerrow::outlook {

namespace {

std::string hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

} // namespace

ComError::ComError(const std::string& what, HRESULT result)
    : host::HostError(what + " (" + hex(result) + ")"), result_(result) {}

void check(HRESULT result, const std::string& what) {
    if (FAILED(result))
        throw ComError(what, result);
}

std::wstring toWide(const std::string& utf8) {
    return win32::codepage::utf8ToWide(utf8);
}

std::string toUtf8(const wchar_t* text, std::size_t length) {
    return win32::codepage::wideToUtf8(std::wstring_view(text, length));
}

std::string toUtf8(BSTR text) {
    return text ? toUtf8(text, ::SysStringLen(text)) : std::string();
}

Bstr::Bstr(const std::string& utf8) {
    const std::wstring wide = toWide(utf8);
    s_ = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!s_)
        throw ComError("out of memory for a string", E_OUTOFMEMORY);
}

Variant::Variant(const Variant& other) {
    ::VariantInit(&v_);
    check(::VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)), "copying a value");
}

Variant::Variant(Variant&& other) noexcept {
    v_ = other.v_;
    ::VariantInit(&other.v_);
}

Variant& Variant::operator=(Variant other) noexcept {
    std::swap(v_, other.v_);
    return *this;
}

Variant::Variant(bool value) {
    ::VariantInit(&v_);
    v_.vt = VT_BOOL;
    v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

Variant::Variant(int value) : Variant(static_cast<long>(value)) {}

Variant::Variant(long value) {
    ::VariantInit(&v_);
    v_.vt = VT_I4;
    v_.lVal = value;
}

Variant::Variant(double value) {
    ::VariantInit(&v_);
    v_.vt = VT_R8;
    v_.dblVal = value;
}

Variant::Variant(const std::string& utf8) {
    ::VariantInit(&v_);
    const std::wstring wide = toWide(utf8);
    v_.bstrVal = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!v_.bstrVal)
        throw ComError("out of memory for a string", E_OUTOFMEMORY);
    v_.vt = VT_BSTR;
}

Variant::Variant(IDispatch* object) {
    ::VariantInit(&v_);
    v_.vt = VT_DISPATCH;
    v_.pdispVal = object;
    if (object)
        object->AddRef();
}

Variant Variant::missing() {
    Variant result;
    result.v_.vt = VT_ERROR;
    result.v_.scode = DISP_E_PARAMNOTFOUND;
    return result;
}

Variant Variant::date(host::Date when) {
    Variant result;
    result.v_.vt = VT_DATE;
    result.v_.date = toVariantTime(when);
    return result;
}

std::string Variant::toString() const {
    if (isEmpty())
        return {};
    if (v_.vt == VT_BSTR)
        return toUtf8(v_.bstrVal);
    Variant text;
    check(::VariantChangeType(&text.v_, const_cast<VARIANT*>(&v_), 0, VT_BSTR), "reading a text");
    return toUtf8(text.v_.bstrVal);
}

int Variant::toInt() const {
    Variant number;
    check(::VariantChangeType(&number.v_, const_cast<VARIANT*>(&v_), 0, VT_I4), "reading a number");
    return number.v_.lVal;
}

bool Variant::toBool() const {
    Variant flag;
    check(::VariantChangeType(&flag.v_, const_cast<VARIANT*>(&v_), 0, VT_BOOL), "reading a flag");
    return flag.v_.boolVal != VARIANT_FALSE;
}

host::Date Variant::toDate() const {
    Variant date;
    check(::VariantChangeType(&date.v_, const_cast<VARIANT*>(&v_), 0, VT_DATE), "reading a date");
    return fromVariantTime(date.v_.date);
}

ComPtr<IDispatch> Variant::toDispatch() const {
    const VARIANT* v = &v_;
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal)
        v = v->pvarVal;
    switch (v->vt) {
    case VT_EMPTY:
    case VT_NULL: return {};
    case VT_DISPATCH: return ComPtr<IDispatch>(v->pdispVal);
    case VT_DISPATCH | VT_BYREF: return ComPtr<IDispatch>(v->ppdispVal ? *v->ppdispVal : nullptr);
    case VT_UNKNOWN: return ComPtr<IUnknown>(v->punkVal).as<IDispatch>(IID_IDispatch);
    default: throw ComError("not an object", DISP_E_TYPEMISMATCH);
    }
}

host::Date fromVariantTime(DATE date) {
    SYSTEMTIME local;
    SYSTEMTIME universal;
    FILETIME file;
    if (!::VariantTimeToSystemTime(date, &local) || !::TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) ||
        !::SystemTimeToFileTime(&universal, &file))
        throw ComError("not a date", DISP_E_OVERFLOW);
    // FILETIME counts 100 ns from 1601, the clock's epoch is 1970.
    const long long ticks = static_cast<long long>(file.dwHighDateTime) << 32 | file.dwLowDateTime;
    constexpr long long from1601To1970 = 116444736000000000LL;
    return host::Date(std::chrono::duration_cast<host::Date::duration>(
        std::chrono::duration<long long, std::ratio<1, 10000000>>(ticks - from1601To1970)));
}

DATE toVariantTime(host::Date when) {
    constexpr long long from1601To1970 = 116444736000000000LL;
    const long long ticks =
        std::chrono::duration_cast<std::chrono::duration<long long, std::ratio<1, 10000000>>>(when.time_since_epoch())
            .count() +
        from1601To1970;
    FILETIME file{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal;
    SYSTEMTIME local;
    DATE date = 0;
    if (!::FileTimeToSystemTime(&file, &universal) || !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local) ||
        !::SystemTimeToVariantTime(&local, &date))
        throw ComError("not a date", DISP_E_OVERFLOW);
    return date;
}

DISPID Dispatch::id(const char* name) const {
    if (!object_)
        throw ComError(std::string(name) + ": nothing", E_POINTER);
    std::wstring wide = toWide(name);
    LPOLESTR names[] = {wide.data()};
    DISPID dispid = DISPID_UNKNOWN;
    check(object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid), name);
    return dispid;
}

bool Dispatch::has(const char* name) const {
    try {
        id(name);
        return true;
    } catch (const ComError&) {
        return false;
    }
}

Variant Dispatch::invoke(const char* name, WORD flags, std::initializer_list<Variant> arguments, bool put) const {
    const DISPID dispid = id(name);
    // Invoke takes the arguments last to first.
    std::vector<VARIANT> reversed;
    reversed.reserve(arguments.size());
    for (auto it = arguments.end(); it != arguments.begin();)
        reversed.push_back(*(--it)->get());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{reversed.data(), put ? &putId : nullptr, static_cast<UINT>(reversed.size()), put ? 1u : 0u};
    Variant result;
    EXCEPINFO exception{};
    UINT badArgument = 0;
    HRESULT hr = object_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                                 put ? nullptr : result.get(), &exception, &badArgument);
    if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        std::string what = name;
        if (exception.bstrDescription)
            what += ": " + toUtf8(exception.bstrDescription);
        // An error given only by its code is an interface error from 0x200 on.
        const HRESULT code = exception.scode
                                 ? exception.scode
                                 : static_cast<HRESULT>(exception.wCode ? 0x80040200 + exception.wCode : E_FAIL);
        ::SysFreeString(exception.bstrSource);
        ::SysFreeString(exception.bstrDescription);
        ::SysFreeString(exception.bstrHelpFile);
        throw ComError(what, code);
    }
    check(hr, name);
    return result;
}

Variant Dispatch::get(const char* name, std::initializer_list<Variant> arguments) const {
    return invoke(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments, false);
}

void Dispatch::put(const char* name, const Variant& value) const {
    invoke(name, DISPATCH_PROPERTYPUT, {value}, true);
}

void Dispatch::putRef(const char* name, const Variant& value) const {
    invoke(name, DISPATCH_PROPERTYPUTREF, {value}, true);
}

} // namespace skerrow::outlook
