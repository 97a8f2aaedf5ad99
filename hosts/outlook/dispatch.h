// Late binding over IDispatch: names resolved with GetIDsOfNames, calls made
// with Invoke, text converted between UTF-8 and BSTR. Every failed HRESULT
// becomes a ComError, which the add-in traps as a host failure.
#pragma once

#include "addin/host/host.h"

#include <initializer_list>
#include <string>
#include <utility>

#include <windows.h>
#include <oaidl.h>

// windows.h makes GetMessage a macro, and the host interface's messaging
// session has a member of that name: the Win32 function is GetMessageW here.
#undef GetMessage

namespace skerrow::outlook {

class ComError : public host::HostError {
public:
    ComError(const std::string& what, HRESULT result);
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

// Throws ComError for a failed result.
void check(HRESULT result, const std::string& what);

// An owning interface pointer.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    // Takes a reference of its own.
    explicit ComPtr(T* p) : p_(p) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() {
        if (p_)
            p_->Release();
    }
    // Adopts a reference the caller already owns.
    static ComPtr adopt(T* p) {
        ComPtr result;
        result.p_ = p;
        return result;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held first.
    T** put() {
        *this = ComPtr();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    // The same object through another interface, or nothing.
    template <class U> ComPtr<U> as(const IID& iid) const {
        ComPtr<U> result;
        if (p_)
            p_->QueryInterface(iid, result.putVoid());
        return result;
    }

private:
    T* p_ = nullptr;
};

// A VARIANT that clears itself.
class Variant {
public:
    Variant() { ::VariantInit(&v_); }
    Variant(const Variant& other);
    Variant(Variant&& other) noexcept;
    Variant& operator=(Variant other) noexcept;
    ~Variant() { ::VariantClear(&v_); }

    Variant(bool value);
    Variant(int value);
    Variant(long value);
    Variant(double value);
    Variant(const std::string& utf8);
    Variant(const char* utf8) : Variant(std::string(utf8)) {}
    Variant(IDispatch* object);
    // An optional argument left out.
    static Variant missing();
    static Variant date(host::Date when);

    std::string toString() const;
    int toInt() const;
    bool toBool() const;
    host::Date toDate() const;
    // Nothing for an empty or null reference; throws for anything else
    // that is not an object.
    ComPtr<IDispatch> toDispatch() const;
    bool isEmpty() const { return v_.vt == VT_EMPTY || v_.vt == VT_NULL; }

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }

private:
    VARIANT v_;
};

std::wstring toWide(const std::string& utf8);
std::string toUtf8(const wchar_t* text, std::size_t length);
std::string toUtf8(BSTR text);
// A BSTR that frees itself.
class Bstr {
public:
    explicit Bstr(const std::string& utf8);
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { ::SysFreeString(s_); }
    BSTR get() const { return s_; }

private:
    BSTR s_;
};

// Local time of a DATE and back, as the mail client's dates are kept.
host::Date fromVariantTime(DATE date);
DATE toVariantTime(host::Date when);

// An object reached by late binding.
class Dispatch {
public:
    Dispatch() = default;
    explicit Dispatch(ComPtr<IDispatch> object) : object_(std::move(object)) {}

    IDispatch* get() const { return object_.get(); }
    const ComPtr<IDispatch>& pointer() const { return object_; }
    explicit operator bool() const { return static_cast<bool>(object_); }

    // Whether the object knows the name.
    bool has(const char* name) const;
    // A property, or a method called for its result, with arguments in
    // their declared order (Variant::missing() for one left out).
    Variant get(const char* name, std::initializer_list<Variant> arguments = {}) const;
    Variant call(const char* name, std::initializer_list<Variant> arguments = {}) const { return get(name, arguments); }
    void put(const char* name, const Variant& value) const;
    // Sets an object property by reference (Set x.Picture = ...).
    void putRef(const char* name, const Variant& value) const;

private:
    DISPID id(const char* name) const;
    Variant invoke(const char* name, WORD flags, std::initializer_list<Variant> arguments, bool put) const;

    ComPtr<IDispatch> object_;
};

} // namespace skerrow::outlook
