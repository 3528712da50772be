// A stand-in for Pinbus: Address, Bits and Value by DISPID, each Value access one cycle of the
// process's port I/O service. Puts are made the way hosts make them (the value as the named
// argument DISPID_PROPERTYPUT, riid IID_NULL). Optionally records every Invoke in a list shared by
// several objects, and makes the n-th Invoke of that list fail with DISP_E_EXCEPTION.
#pragma once

#include <string>
#include <vector>

#include "platform/com/oleauto.h"

namespace testing_support {

// One automation call made on a fake port object.
struct Invocation {
    std::string object;  // the object's name, e.g. "Pinbus1"
    DISPID dispid;
    WORD flags;
    bool named_put;  // one argument, named DISPID_PROPERTYPUT
    LONG value;      // the argument of a put
};

class FakePinbus final : public IDispatch {
public:
    // On the test's stack: counts its references and records nothing.
    FakePinbus() = default;
    // On the heap, owned by its references (starts with one, deleted by the last Release):
    // records each Invoke in *calls; the Invoke whose index in *calls equals *fail_at fails.
    static FakePinbus* New(std::string name, std::vector<Invocation>* calls, long* fail_at);
    virtual ~FakePinbus() = default;

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)
    (DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
     UINT*) override;

    ULONG refs() const { return refs_; }

private:
    FakePinbus(std::string name, std::vector<Invocation>* calls, long* fail_at)
        : name_(std::move(name)), calls_(calls), fail_at_(fail_at), refs_(1), owned_(true) {}
    std::string name_;
    std::vector<Invocation>* calls_ = nullptr;
    long* fail_at_ = nullptr;
    ULONG refs_ = 0;
    bool owned_ = false;
    LONG address_ = 0x378;
    SHORT bits_ = 8;
};

}  // namespace testing_support
