/* A small Windows client of Pinbus in C: it creates the control by its ProgID, sets the port's
   address, writes the control register and reads it back, all through IDispatch::Invoke with the
   DISPIDs of pinbus.h. Built with mingw-w64 for either kind of program:

     x86_64-w64-mingw32-gcc -I build/wine -o pinbus_example.exe \
         platform/wine/example/pinbus_example.c -lole32 -loleaut32 -luuid
     i686-w64-mingw32-gcc -I build/wine -o pinbus_example32.exe \
         platform/wine/example/pinbus_example.c -lole32 -loleaut32 -luuid

   Prints "control register: 8" (or the failing call and its HRESULT, with the control's reason
   where it gives one) and exits 0 on success. */
#include <ole2.h>
#include <pinbus.h>
#include <stdio.h>
#include <windows.h>

static HRESULT put(IDispatch* port, DISPID id, LONG value) {
    VARIANT arg;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params;
    VariantInit(&arg);
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = value;
    params.rgvarg = &arg;
    params.rgdispidNamedArgs = &named;
    params.cArgs = 1;
    params.cNamedArgs = 1;
    return port->lpVtbl->Invoke(port, id, &IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                &params, NULL, NULL, NULL);
}

static HRESULT get(IDispatch* port, DISPID id, VARIANT* result) {
    DISPPARAMS none = {NULL, NULL, 0, 0};
    EXCEPINFO error;
    HRESULT hr;
    memset(&error, 0, sizeof error);
    VariantInit(result);
    hr = port->lpVtbl->Invoke(port, id, &IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                              result, &error, NULL);
    if (hr == DISP_E_EXCEPTION && error.bstrDescription)
        fprintf(stderr, "%ls\n", error.bstrDescription);
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);
    return hr;
}

int main(void) {
    CLSID clsid;
    IDispatch* port = NULL;
    VARIANT value;
    HRESULT hr = CoInitialize(NULL);
    if (FAILED(hr)) return 1;
    VariantInit(&value);
    hr = CLSIDFromProgID(PROGID_Pinbus, &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IDispatch, (void**)&port);
    if (FAILED(hr)) {
        fprintf(stderr, "cannot create %ls: 0x%08lx\n", PROGID_Pinbus, (unsigned long)hr);
        CoUninitialize();
        return 1;
    }
    hr = put(port, DISPID_DPinbus_Address, 0x37A);
    if (SUCCEEDED(hr)) hr = put(port, DISPID_DPinbus_Value, 8);
    if (SUCCEEDED(hr)) hr = get(port, DISPID_DPinbus_Value, &value);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&value, &value, 0, VT_I4);
    if (SUCCEEDED(hr))
        printf("control register: %ld\n", (long)V_I4(&value));
    else
        fprintf(stderr, "a call failed: 0x%08lx\n", (unsigned long)hr);
    VariantClear(&value);
    port->lpVtbl->Release(port);
    CoUninitialize();
    return FAILED(hr) ? 1 : 0;
}
