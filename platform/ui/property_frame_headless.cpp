// The property frame of a build without the GUI: there is no window to show it in.
#include "platform/com/olectl.h"

HRESULT OleCreatePropertyFrame(HWND, UINT, UINT, LPCOLESTR, ULONG, IUnknown**, ULONG, CLSID*, LCID,
                               DWORD, void*) {
    return E_FAIL;
}

HRESULT OleCreatePropertyFrameIndirect(LPOCPFIPARAMS lpParams) {
    if (!lpParams || lpParams->cbStructSize != sizeof(OCPFIPARAMS)) return E_INVALIDARG;
    return E_FAIL;
}
