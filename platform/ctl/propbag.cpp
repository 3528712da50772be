#include "platform/ctl/propbag.h"

#include <cstring>

#include "platform/com/com_holders.h"
#include "platform/com/utf.h"
#include "platform/ctl/olecontrol.h"

HRESULT AfxConvertPropValue(const VARIANT& value, VARTYPE vtProp, void* out) {
    if (!out) return E_POINTER;
    if (vtProp != VT_I2 && vtProp != VT_I4 && vtProp != VT_UI4) return DISP_E_BADVARTYPE;
    CComVariant converted;
    HRESULT hr = VariantChangeType(&converted, &value, 0, vtProp);
    if (FAILED(hr)) return hr;
    if (vtProp == VT_I2)
        std::memcpy(out, &converted.iVal, sizeof(SHORT));
    else
        std::memcpy(out, &converted.lVal, sizeof(LONG));
    return S_OK;
}

BOOL CPropbagPropExchange::Stop(HRESULT hr) {
    m_hr = hr;
    SetFailed();
    return FALSE;
}

BOOL CPropbagPropExchange::ExchangeProp(const char* name, VARTYPE vtProp, void* pvProp,
                                        const void* pvDefault) {
    if (Failed()) return FALSE;
    const std::size_t size = vtProp == VT_I2 ? sizeof(SHORT) : sizeof(LONG);
    if (vtProp != VT_I2 && vtProp != VT_I4 && vtProp != VT_UI4) return Stop(DISP_E_BADVARTYPE);
    const std::u16string wideName = Utf8ToOle(name);
    CComVariant value;
    if (!IsLoading()) {
        value.vt = vtProp;
        std::memcpy(&value.llVal, pvProp, size);
        HRESULT hr = m_pPropBag->Write(wideName.c_str(), &value);
        return FAILED(hr) ? Stop(hr) : TRUE;
    }

    value.vt = vtProp;
    HRESULT hr = m_pPropBag->Read(wideName.c_str(), &value, m_pErrorLog);
    if (hr == E_INVALIDARG) {
        // Not in the bag: the property's default.
        VariantInit(&value);
        std::memcpy(pvProp, pvDefault, size);
        return TRUE;
    }
    if (FAILED(hr)) {
        VariantInit(&value);  // a failed Read leaves nothing the caller owns
        return Stop(hr);
    }
    // Converted into a buffer first: a value that does not convert changes nothing.
    alignas(LONG) unsigned char buffer[sizeof(LONG)];
    hr = AfxConvertPropValue(value, vtProp, buffer);
    if (FAILED(hr)) {
        if (m_pErrorLog) {
            EXCEPINFO info{};
            info.scode = hr;
            m_pErrorLog->AddError(wideName.c_str(), &info);
        }
        return Stop(hr);
    }
    std::memcpy(pvProp, buffer, size);
    return TRUE;
}

// ---------------------------------------------------------------- COleControl's named persistence

HRESULT COleControl::Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) {
    if (!pPropBag) return E_POINTER;
    try {
        // The state to fall back on when a property cannot be taken.
        std::string previous;
        MeasureState(&previous);
        const DWORD previousVersion = m_dwVersionLoaded;

        CPropbagPropExchange px(pPropBag, pErrorLog, TRUE);
        DoPropExchange(&px);
        if (px.Failed()) {
            CPropExchange restore(CPropExchange::Direction::Load, &previous, 0);
            DoPropExchange(&restore);
            m_dwVersionLoaded = previousVersion;
            return FAILED(px.GetResult()) ? px.GetResult() : E_FAIL;
        }
        m_bModified = false;
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}

HRESULT COleControl::Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL) {
    if (!pPropBag) return E_POINTER;
    try {
        // Every property is written whatever fSaveAllProperties says: none is left to a default.
        CPropbagPropExchange px(pPropBag, nullptr, FALSE);
        DoPropExchange(&px);
        if (px.Failed()) return FAILED(px.GetResult()) ? px.GetResult() : E_FAIL;
        if (fClearDirty) m_bModified = false;
        return S_OK;
    } catch (...) {
        return HresultFromCurrentException();
    }
}
