#include "hosts/outlook/events.h"

#include <ocidl.h>
#include <olectl.h>

namespace skerrow::outlook {

namespace {

std::atomic<long> sinks{0};

class Sink : public IDispatch {
public:
    Sink(const IID& events, DISPID dispid, SinkHandler handler)
        : events_(events), dispid_(dispid), handler_(std::move(handler)) {
        ++sinks;
    }
    virtual ~Sink() { --sinks; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references_;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (result)
            ::VariantInit(result);
        if (dispid != dispid_)
            return S_OK;
        // The handler may drop the subscription that holds this sink.
        AddRef();
        HRESULT hr = S_OK;
        try {
            EventArguments arguments;
            if (parameters) {
                for (UINT i = parameters->cArgs; i > 0; --i)
                    arguments.push_back(&parameters->rgvarg[i - 1]);
            }
            handler_(arguments);
        } catch (const ComError& error) {
            hr = error.result();
        } catch (...) {
            hr = E_FAIL;
        }
        Release();
        return hr;
    }

private:
    IID events_;
    DISPID dispid_;
    SinkHandler handler_;
    long references_ = 1;
};

class Advised : public host::EventConnection {
public:
    Advised(ComPtr<IConnectionPoint> point, DWORD cookie) : point_(std::move(point)), cookie_(cookie) {}
    ~Advised() override { point_->Unadvise(cookie_); }

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_;
};

} // namespace

long liveSinks() {
    return sinks;
}

host::Subscription subscribe(const Dispatch& source, const IID& events, DISPID dispid, SinkHandler handler) {
    auto container = source.pointer().as<IConnectionPointContainer>(IID_IConnectionPointContainer);
    if (!container)
        throw ComError("the object raises no events", E_NOINTERFACE);
    ComPtr<IConnectionPoint> point;
    check(container->FindConnectionPoint(events, point.put()), "FindConnectionPoint");
    auto sink = ComPtr<IDispatch>::adopt(new Sink(events, dispid, std::move(handler)));
    DWORD cookie = 0;
    check(point->Advise(sink.get(), &cookie), "Advise");
    return std::make_unique<Advised>(std::move(point), cookie);
}

} // namespace skerrow::outlook
