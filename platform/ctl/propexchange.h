// The persistence exchange: one DoPropExchange describes a control's persistent state, and the
// framework runs it to save, to load and to reset. In a stream the values follow one another in
// exchange order, little-endian, without names or padding.
#pragma once

#include <cstddef>
#include <string>

#include "platform/com/windef.h"
#include "platform/ctl/module.h"

class CTL_EXPORT CPropExchange {
public:
    enum class Direction { Save, Load, Reset };

    // Save appends to `bytes`; Load reads from it (it must hold at least the exchanged size;
    // missing bytes leave values as they are and make Failed() true); Reset uses the defaults.
    CPropExchange(Direction direction, std::string* bytes, DWORD dwVersion)
        : m_direction(direction), m_bytes(bytes), m_dwVersion(dwVersion) {}
    virtual ~CPropExchange() = default;
    CPropExchange(const CPropExchange&) = delete;
    CPropExchange& operator=(const CPropExchange&) = delete;

    BOOL IsLoading() const { return m_direction != Direction::Save; }
    Direction GetDirection() const { return m_direction; }
    // The version of the state being exchanged (the stored one while loading).
    DWORD GetVersion() const { return m_dwVersion; }
    void SetVersion(DWORD version) { m_dwVersion = version; }
    bool Failed() const { return m_bFailed; }

    // Exchanges `size` bytes of a little-endian integer property. Names serve named
    // persistence; the stream form has none.
    BOOL ExchangeInteger(const char* name, void* value, std::size_t size, const void* def);
    // Exchanges one property of type vtProp (VT_I2, VT_I4 or VT_UI4) under its name. The stream
    // form above serves it here; named persistence (propbag.h) serves it from a property bag.
    virtual BOOL ExchangeProp(const char* name, VARTYPE vtProp, void* pvProp,
                              const void* pvDefault);

protected:
    void SetFailed() { m_bFailed = true; }

private:
    Direction m_direction;
    std::string* m_bytes;
    std::size_t m_nPos = 0;
    DWORD m_dwVersion;
    bool m_bFailed = false;
};

CTL_EXPORT BOOL PX_Long(CPropExchange* pPX, const char* name, LONG& value, LONG def);
CTL_EXPORT BOOL PX_ULong(CPropExchange* pPX, const char* name, ULONG& value, ULONG def);
CTL_EXPORT BOOL PX_Short(CPropExchange* pPX, const char* name, SHORT& value, SHORT def);
