// CPinbusCtrl: the port access control. A host sets the port (Address) and the access width
// (Bits), then every read of Value is one port input and every write one port output.
#pragma once

#include "platform/ctl/olecontrol.h"
#include "platform/portio/port_addresses.h"
#include "platform/portio/port_claim.h"
#include "platform/portio/portio.h"

class CPinbusCtrl : public COleControl {
public:
    CPinbusCtrl();

    // Automation members of _DPinbus.
    LONG GetAddress() const { return m_address; }
    void SetAddress(LONG address);
    SHORT GetBits() const { return m_bits; }
    void SetBits(SHORT bits);
    // Inline, so that the dispatch map's entry runs the cycle without a further call.
    LONG GetValue() {
        const std::int32_t value =
            m_bits == 8 ? portio::CheckedIn8(Port()) : portio::CheckedIn16(Port());
        if (value < 0) [[unlikely]]
            ThrowPortFault();
        return value;
    }
    void SetValue(LONG value) {
        const bool done =
            m_bits == 8 ? portio::CheckedOut8(Port(), static_cast<std::uint8_t>(value & 0xFF))
                        : portio::CheckedOut16(Port(), static_cast<std::uint16_t>(value & 0xFFFF));
        if (!done) [[unlikely]]
            ThrowPortFault();
        SetModifiedFlag();
    }
    void AboutBox();

    void DoPropExchange(CPropExchange* pPX) override;
    void OnDraw(CDC* pDC, const RECT& rcBounds, const RECT& rcInvalid) override;

protected:
    const AFX_DISPMAP& GetDispatchMap() const override;
    REFCLSID GetControlClassID() const override;
    std::uint16_t GetUserTypeNameID() const override;
    DWORD GetControlMiscStatus() const override;
    // The picture fills the bounds: the container need not draw beneath it.
    DWORD GetViewStatus() const override { return VIEWSTATUS_OPAQUE; }
    const CLSID* GetPropPageIDs(ULONG* count) override;
    const AFX_OLEVERB* GetVerbMap(ULONG* count) override;

private:
    // A cycle the port service refuses (a port the backend does not present, a failing driver
    // call) fails the automation call with the service's reason; the port is not touched.
    [[noreturn, gnu::cold]] static void ThrowPortFault();
    std::uint16_t Port() const { return static_cast<std::uint16_t>(m_address & 0xFFFF); }

    LONG m_address = portio::kPortBase;  // only the low 16 bits address the port
    SHORT m_bits = 8;                    // 8: byte access; anything else: 16-bit access
    // The object's share of its process's claim of the port: the first cycle of the process
    // claims the port (a port another process holds fails the call with the holder's name), and
    // the claim is given up when the process's last object and session are gone.
    portio::PortUser m_portUser;
};
