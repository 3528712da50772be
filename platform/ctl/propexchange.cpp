#include "platform/ctl/propexchange.h"

#include <cstring>

#include "platform/com/oleauto.h"

BOOL CPropExchange::ExchangeInteger(const char*, void* value, std::size_t size, const void* def) {
    // Values are kept in host order; the stream is little-endian on every host we build for.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "stream form assumes little-endian");
    switch (m_direction) {
        case Direction::Save:
            m_bytes->append(static_cast<const char*>(value), size);
            return TRUE;
        case Direction::Load:
            if (m_bFailed || m_bytes->size() - m_nPos < size) {
                m_bFailed = true;
                return FALSE;
            }
            std::memcpy(value, m_bytes->data() + m_nPos, size);
            m_nPos += size;
            return TRUE;
        case Direction::Reset:
            std::memcpy(value, def, size);
            return TRUE;
    }
    return FALSE;
}

BOOL CPropExchange::ExchangeProp(const char* name, VARTYPE vtProp, void* pvProp,
                                 const void* pvDefault) {
    switch (vtProp) {
        case VT_I2:
            return ExchangeInteger(name, pvProp, sizeof(SHORT), pvDefault);
        case VT_I4:
        case VT_UI4:
            return ExchangeInteger(name, pvProp, sizeof(LONG), pvDefault);
        default:
            m_bFailed = true;
            return FALSE;
    }
}

BOOL PX_Long(CPropExchange* pPX, const char* name, LONG& value, LONG def) {
    return pPX->ExchangeProp(name, VT_I4, &value, &def);
}

BOOL PX_ULong(CPropExchange* pPX, const char* name, ULONG& value, ULONG def) {
    return pPX->ExchangeProp(name, VT_UI4, &value, &def);
}

BOOL PX_Short(CPropExchange* pPX, const char* name, SHORT& value, SHORT def) {
    return pPX->ExchangeProp(name, VT_I2, &value, &def);
}
