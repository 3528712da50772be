#include "tests/support/fake_pinbus.h"

#include <cstdint>

#include "platform/portio/portio.h"

namespace testing_support {

FakePinbus* FakePinbus::New(std::string name, std::vector<Invocation>* calls, long* fail_at) {
    return new FakePinbus(std::move(name), calls, fail_at);
}

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

ULONG FakePinbus::Release() {
    const ULONG left = --refs_;
    if (left == 0 && owned_) delete this;
    return left;
}

HRESULT FakePinbus::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT FakePinbus::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO*, UINT*) {
    Invocation call{name_, dispid, flags, false, 0};
    const bool put = flags == DISPATCH_PROPERTYPUT;
    if (put && params && params->cArgs == 1) {
        call.named_put = params->cNamedArgs == 1 && params->rgdispidNamedArgs &&
                         params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
        VARIANT v;
        VariantInit(&v);
        if (FAILED(VariantChangeType(&v, &params->rgvarg[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
        call.value = v.lVal;
    }
    long index = -1;
    if (calls_ != nullptr) {
        index = static_cast<long>(calls_->size());
        calls_->push_back(call);
    }
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (fail_at_ != nullptr && *fail_at_ == index) return DISP_E_EXCEPTION;
    if (put && !call.named_put) return DISP_E_PARAMNOTOPTIONAL;
    const auto port = static_cast<std::uint16_t>(address_ & 0xFFFF);
    switch (dispid) {
        case 1:
            if (put) address_ = call.value;
            if (!put && result) {
                result->vt = VT_I4;
                result->lVal = address_;
            }
            return S_OK;
        case 2:
            if (put && (call.value == 8 || call.value == 16))
                bits_ = static_cast<SHORT>(call.value);
            if (!put && result) {
                result->vt = VT_I2;
                result->iVal = bits_;
            }
            return S_OK;
        case 3:
            if (put) {
                if (bits_ == 8) {
                    portio::Out8(port, static_cast<std::uint8_t>(call.value));
                } else {
                    portio::Out16(port, static_cast<std::uint16_t>(call.value));
                }
            } else {
                const LONG v = bits_ == 8 ? portio::In8(port) : portio::In16(port);
                if (result) {
                    result->vt = VT_I4;
                    result->lVal = v;
                }
            }
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

}  // namespace testing_support
