#include "tests/panel_qt/fake_pinbus.h"

#include "platform/portio/portio.h"

namespace testing_support {

HRESULT FakePinbus::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT FakePinbus::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT FakePinbus::Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO*, UINT*) {
    const auto port = static_cast<std::uint16_t>(address_ & 0xFFFF);
    if (flags & DISPATCH_PROPERTYPUT) {
        if (params == nullptr || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        VARIANT v;
        VariantInit(&v);
        if (FAILED(VariantChangeType(&v, &params->rgvarg[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
        switch (member) {
            case 1:
                address_ = v.lVal;
                return S_OK;
            case 2:
                if (v.lVal == 8 || v.lVal == 16) bits_ = static_cast<SHORT>(v.lVal);
                return S_OK;
            case 3:
                if (bits_ == 16) {
                    portio::Out16(port, static_cast<std::uint16_t>(v.lVal));
                } else {
                    portio::Out8(port, static_cast<std::uint8_t>(v.lVal));
                }
                return S_OK;
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }
    if (flags & DISPATCH_PROPERTYGET) {
        if (result == nullptr) return E_POINTER;
        VariantInit(result);
        result->vt = VT_I4;
        switch (member) {
            case 1:
                result->lVal = address_;
                return S_OK;
            case 2:
                result->lVal = bits_;
                return S_OK;
            case 3:
                result->lVal = bits_ == 16 ? portio::In16(port) : portio::In8(port);
                return S_OK;
            default:
                result->vt = VT_EMPTY;
                return DISP_E_MEMBERNOTFOUND;
        }
    }
    return DISP_E_MEMBERNOTFOUND;
}

}  // namespace testing_support
