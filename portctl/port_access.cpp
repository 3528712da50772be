#include "portctl/port_access.h"

#include "platform/ctl/dialogs.h"
#include "platform/portio/port_addresses.h"
#include "platform/portio/portio.h"
#include "portctl/resource_ids.h"

CPinbusCtrl::CPinbusCtrl() {
    InitializeIIDs(&IID_DPinbus, &IID_DPinbusEvents);
    InitializeTypeLib(LIBID_PINBUSLib, VERMAJOR_PINBUSLib, VERMINOR_PINBUSLib);
    SetInitialSize(24, 22);  // the toolbox picture's size
}

const AFX_DISPMAP& CPinbusCtrl::GetDispatchMap() const {
    static constexpr AFX_DISPMAP_ENTRY entries[] = {
        AfxDispProperty<&CPinbusCtrl::GetAddress, &CPinbusCtrl::SetAddress>(DISPID_DPinbus_Address,
                                                                            NAME_DPinbus_Address),
        AfxDispProperty<&CPinbusCtrl::GetBits, &CPinbusCtrl::SetBits>(DISPID_DPinbus_Bits,
                                                                      NAME_DPinbus_Bits),
        AfxDispProperty<&CPinbusCtrl::GetValue, &CPinbusCtrl::SetValue>(DISPID_DPinbus_Value,
                                                                        NAME_DPinbus_Value),
        AfxDispMethod<&CPinbusCtrl::AboutBox>(DISPID_DPinbus_AboutBox, NAME_DPinbus_AboutBox),
    };
    static constexpr AFX_DISPMAP map = AfxMakeDispatchMap(entries);
    return map;
}

REFCLSID CPinbusCtrl::GetControlClassID() const { return CLSID_Pinbus; }
std::uint16_t CPinbusCtrl::GetUserTypeNameID() const { return IDS_PINBUS; }
DWORD CPinbusCtrl::GetControlMiscStatus() const { return _dwPinbusOleMisc; }

const CLSID* CPinbusCtrl::GetPropPageIDs(ULONG* count) {
    static constexpr CLSID pages[] = {CLSID_PinbusPropPage};
    *count = 1;
    return pages;
}

const AFX_OLEVERB* CPinbusCtrl::GetVerbMap(ULONG* count) {
    static constexpr AFX_OLEVERB verbs[] = {
        {OLEIVERB_PROPERTIES, "&Properties...",
         OLEVERBATTRIB_ONCONTAINERMENU | OLEVERBATTRIB_NEVERDIRTIES, &COleControl::OnProperties},
    };
    *count = 1;
    return verbs;
}

void CPinbusCtrl::DoPropExchange(CPropExchange* pPX) {
    ExchangeVersion(pPX, MAKELONG(VERMINOR_PINBUSLib, VERMAJOR_PINBUSLib));
    COleControl::DoPropExchange(pPX);
    // A loaded Bits is taken as stored; Value then uses 16-bit cycles unless it is 8.
    PX_Long(pPX, NAME_DPinbus_Address, m_address, portio::kPortBase);
    PX_Short(pPX, NAME_DPinbus_Bits, m_bits, 8);
}

void CPinbusCtrl::SetAddress(LONG address) {
    m_address = address;
    SetModifiedFlag();
}

void CPinbusCtrl::SetBits(SHORT bits) {
    // Any other width is ignored without an error, as hosts expect.
    if (bits != 8 && bits != 16) return;
    m_bits = bits;
    SetModifiedFlag();
}

void CPinbusCtrl::ThrowPortFault() {
    throw COleDispatchException(portio::TakeCycleFault(), E_FAIL);
}

void CPinbusCtrl::AboutBox() {
    // Whatever the dialog's outcome (even when it cannot be shown), the call just returns.
    AfxDoModalDialog(GetInstanceHandle(), IDD_ABOUTBOX_PINBUS);
}

void CPinbusCtrl::OnDraw(CDC* pDC, const RECT& rcBounds, const RECT&) {
    // The bitmap is loaded anew for every paint and lent to the picture, which goes first; nothing
    // is kept between paints.
    CBitmap bitmap;
    BITMAP bmp{};
    CPictureHolder picture;
    if (!bitmap.LoadBitmap(GetInstanceHandle(), IDB_PINBUS) || !bitmap.GetBitmap(&bmp) ||
        !picture.CreateFromBitmap(&bitmap, FALSE))
        return;
    RECT wBounds = rcBounds;
    if (pDC->IsMetafile()) wBounds = RECT{0, 0, bmp.bmWidth, bmp.bmHeight};
    picture.Render(pDC, rcBounds, wBounds);
}
