// A port object for the tests: Address, Bits and Value by DISPID, each Value access one cycle
// of the process's port I/O service (the simulated board).
#pragma once

#include "platform/com/oleauto.h"

namespace testing_support {

class FakePinbus final : public IDispatch {
public:
    FakePinbus() = default;
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override { return --refs_; }  // lives on the test's stack
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)
    (DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
     UINT*) override;

    ULONG refs() const { return refs_; }

private:
    ULONG refs_ = 0;
    LONG address_ = 0x378;
    SHORT bits_ = 8;
};

}  // namespace testing_support
