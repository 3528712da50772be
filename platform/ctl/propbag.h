// Named persistence: the control's DoPropExchange run over a host's property bag, each property
// under its exchange name and as its declared type (VT_I2, VT_I4, VT_UI4).
//   Load: a property the bag lacks (E_INVALIDARG from Read) takes its default; a value that
//         cannot be converted to the property's type, or any other failure of Read, stops the
//         exchange with that HRESULT (and a conversion failure is added to the error log).
//   Save: every property is written; the first failure of Write stops the exchange.
#pragma once

#include "platform/com/ocidl.h"
#include "platform/ctl/propexchange.h"

class CTL_EXPORT CPropbagPropExchange final : public CPropExchange {
public:
    CPropbagPropExchange(IPropertyBag* pPropBag, IErrorLog* pErrorLog, BOOL bLoading)
        : CPropExchange(bLoading ? Direction::Load : Direction::Save, nullptr, 0),
          m_pPropBag(pPropBag),
          m_pErrorLog(pErrorLog) {}

    BOOL ExchangeProp(const char* name, VARTYPE vtProp, void* pvProp,
                      const void* pvDefault) override;
    // S_OK, or the failure that stopped the exchange.
    HRESULT GetResult() const { return m_hr; }

private:
    BOOL Stop(HRESULT hr);

    IPropertyBag* m_pPropBag;
    IErrorLog* m_pErrorLog;
    HRESULT m_hr = S_OK;
};

// A bag's value converted to a property type (VT_I2, VT_I4 or VT_UI4) with the Automation rules:
// numbers round half to even, DISP_E_OVERFLOW out of range, DISP_E_TYPEMISMATCH for what is no
// number. `out` must hold the type's size.
CTL_EXPORT HRESULT AfxConvertPropValue(const VARIANT& value, VARTYPE vtProp, void* out);
