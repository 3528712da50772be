// A control of every member kind the dispatch map offers, for the framework's tests.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/com/objidl.h"
#include "platform/ctl/olecontrol.h"
#include "tests/platform/ctl/dispatch_helpers.h"

// {A1B2C3D4-0001-4000-8000-00000000C0DE}
inline constexpr CLSID CLSID_TestCtrl = {
    0xA1B2C3D4, 0x0001, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};
// {A1B2C3D4-0002-4000-8000-00000000C0DE}
inline constexpr IID IID_DTestCtrl = {
    0xA1B2C3D4, 0x0002, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};

enum TestDispid : DISPID {
    kLong = 1,
    kShort,
    kReal,
    kText,
    kReadOnly,
    kWriteOnly,
    kPing,
    kCount,
    kThrow,
    kThrowBadAlloc,
    kFlag,
};

class CTestCtrl : public COleControl {
public:
    CTestCtrl() { InitializeIIDs(&IID_DTestCtrl, nullptr); }

    LONG GetLong() const { return m_long; }
    void SetLong(LONG v) {
        ++sets;
        m_long = v;
        SetModifiedFlag();
    }
    SHORT GetShort() const { return m_short; }
    void SetShort(SHORT v) {
        ++sets;
        m_short = v;
    }
    DOUBLE GetReal() const { return m_real; }
    void SetReal(DOUBLE v) {
        ++sets;
        m_real = v;
    }
    BSTR GetText() const { return SysAllocStringLen(m_text.data(), UINT(m_text.size())); }
    void SetText(BSTR v) {
        ++sets;
        m_text.assign(v ? v : u"", v ? SysStringLen(v) : 0);
    }
    AfxBool GetFlag() const { return {m_flag}; }
    void SetFlag(AfxBool v) {
        ++sets;
        m_flag = v.value;
    }
    LONG GetReadOnly() {
        ++gets;
        return 42;
    }
    void SetWriteOnly(LONG v) {
        ++sets;
        m_long = v;
    }
    void Ping() { ++pings; }
    LONG Count() { return ++pings; }
    void Throw() { throw std::runtime_error("handler failed"); }
    void ThrowBadAlloc() { throw std::bad_alloc(); }

    void DoPropExchange(CPropExchange* pPX) override {
        ExchangeVersion(pPX, MAKELONG(3, 2));
        COleControl::DoPropExchange(pPX);
        PX_Long(pPX, "Long", m_long, 5);
        PX_Short(pPX, "Short", m_short, 7);
    }

    int sets = 0;
    int gets = 0;
    int pings = 0;
    LONG m_long = 5;
    SHORT m_short = 7;
    DOUBLE m_real = 0;
    VARIANT_BOOL m_flag = VARIANT_FALSE;
    std::u16string m_text;

protected:
    const AFX_DISPMAP& GetDispatchMap() const override {
        static constexpr AFX_DISPMAP_ENTRY entries[] = {
            AfxDispProperty<&CTestCtrl::GetLong, &CTestCtrl::SetLong>(kLong, "Long"),
            AfxDispProperty<&CTestCtrl::GetShort, &CTestCtrl::SetShort>(kShort, "Short"),
            AfxDispProperty<&CTestCtrl::GetReal, &CTestCtrl::SetReal>(kReal, "Real"),
            AfxDispProperty<&CTestCtrl::GetText, &CTestCtrl::SetText>(kText, "Text"),
            AfxDispPropertyGet<&CTestCtrl::GetReadOnly>(kReadOnly, "ReadOnly"),
            AfxDispPropertyPut<&CTestCtrl::SetWriteOnly>(kWriteOnly, "WriteOnly"),
            AfxDispMethod<&CTestCtrl::Ping>(kPing, "Ping"),
            AfxDispMethod<&CTestCtrl::Count>(kCount, "Count"),
            AfxDispMethod<&CTestCtrl::Throw>(kThrow, "Throw"),
            AfxDispMethod<&CTestCtrl::ThrowBadAlloc>(kThrowBadAlloc, "ThrowBadAlloc"),
            AfxDispProperty<&CTestCtrl::GetFlag, &CTestCtrl::SetFlag>(kFlag, "Flag"),
        };
        static constexpr AFX_DISPMAP map = AfxMakeDispatchMap(entries);
        return map;
    }
    REFCLSID GetControlClassID() const override { return CLSID_TestCtrl; }
    std::uint16_t GetUserTypeNameID() const override { return 1; }
    DWORD GetControlMiscStatus() const override { return 0x20591; }
};

// A new test control held by one reference.
inline CTestCtrl* NewTestCtrl() {
    auto* c = new CTestCtrl();
    c->AddRef();
    return c;
}
