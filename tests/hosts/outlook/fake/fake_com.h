// Building blocks of a fake COM object model: objects answering IDispatch
// by name, with type information, extra interfaces and connection points,
// as Outlook's and Office's objects do.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#undef GetMessage

namespace skerrow::fake {

class FakeObject;
// Owning pointer to a fake object: its copies share one reference.
using Ref = std::shared_ptr<FakeObject>;

// A VARIANT that clears itself, for the fake's own use.
class Value {
public:
    Value() { ::VariantInit(&v_); }
    Value(Value&& other) noexcept : v_(other.v_) { ::VariantInit(&other.v_); }
    ~Value() { ::VariantClear(&v_); }
    // A copy of v, references followed.
    static Value of(const VARIANT& v);

    Value(bool b);
    Value(int n);
    Value(const std::string& utf8);
    Value(const char* utf8) : Value(std::string(utf8)) {}
    Value(IDispatch* object);
    Value(const Ref& object);
    static Value date(double variantTime);

    std::string text() const;
    long number() const { return as(VT_I4).v_.lVal; }
    bool flag() const { return as(VT_BOOL).v_.boolVal != VARIANT_FALSE; }
    IDispatch* object() const { return v_.vt == VT_DISPATCH ? v_.pdispVal : nullptr; }
    bool isMissing() const { return v_.vt == VT_ERROR && v_.scode == DISP_E_PARAMNOTFOUND; }

    const VARIANT& get() const { return v_; }
    // Hands the value over to an out-parameter.
    void moveTo(VARIANT* out);

private:
    // Throws a type mismatch when the value has no such form.
    Value as(VARTYPE type) const;
    VARIANT v_;
};

std::wstring wide(const std::string& utf8);
std::string utf8(const wchar_t* text, int length = -1);

// What a fake member throws to fail with a result.
struct Failure {
    HRESULT result;
};

using Arguments = std::vector<Value>;

// An object whose members are functions. Names are matched without regard
// to case, as Visual Basic's late binding does.
class FakeObject : public IDispatch, public IConnectionPointContainer {
public:
    using Getter = std::function<Value(const Arguments&)>;
    using Setter = std::function<void(const Value&)>;

    // typeName: what its type information is called ("_MailItem"); empty
    // for an object with none.
    static Ref make(std::string typeName = {});

    void method(const std::string& name, Getter call) { property(name, std::move(call)); }
    void property(const std::string& name, Getter get, Setter set = {});
    // An interface id the object also answers (as IDispatch).
    void answers(const IID& iid) { extra_.push_back(iid); }
    // A connection point for events of interface events.
    void raises(const IID& events);

    // Calls member dispid on every advised sink of events, arguments first
    // to last; the results of the sinks' Invoke.
    std::vector<HRESULT> raise(const IID& events, DISPID dispid, std::vector<VARIANT> arguments = {});
    int sinkCount(const IID& events) const;
    // Every member called, in order: "Name" for a get or a call, "Name="
    // and the value's text for a put.
    const std::vector<std::string>& calls() const { return calls_; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = typeName_.empty() ? 0 : 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO* exception, UINT* badArgument) override;
    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

    long references() const { return references_; }

private:
    explicit FakeObject(std::string typeName);
    virtual ~FakeObject();
    static std::string lower(const std::string& name);

    struct Member {
        std::string name;
        Getter get;
        Setter set;
    };
    class Point;
    Point* point(const IID& events) const;

    long references_ = 1;
    std::string typeName_;
    std::vector<Member> members_; // dispid = position + 1
    std::vector<IID> extra_;
    std::vector<std::unique_ptr<Point>> points_;
    std::vector<std::string> calls_;
};

// A class object that makes instances with make, registered for the
// process (CoRegisterClassObject) and under a ProgID of the machine's
// classes while it lives.
class RegisteredClass {
public:
    RegisteredClass(const CLSID& clsid, const std::wstring& progID, std::function<Ref()> make);
    ~RegisteredClass();
    RegisteredClass(const RegisteredClass&) = delete;
    RegisteredClass& operator=(const RegisteredClass&) = delete;

private:
    class Factory;
    Factory* factory_;
    DWORD cookie_ = 0;
    std::wstring progID_;
};

} // namespace skerrow::fake
