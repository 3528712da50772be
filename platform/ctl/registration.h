// Registration helpers: the class-registry entries of an in-process control, of a property page,
// their removal, and the registration of a module's type library. Paths are the module's full
// path (from its instance handle); names come from the module's string resources.
#pragma once

#include <functional>

#include "platform/ctl/module.h"

// Flags of AfxOleRegisterControlClass.
constexpr UINT afxRegInsertable = 0x0001;
constexpr UINT afxRegApartmentThreading = 0x0002;

// Writes, under HKEY_CLASSES_ROOT:
//   CLSID\{clsid}                   = user type name (string idTypeName)
//     InprocServer32                = module path   (ThreadingModel "Apartment" only with
//                                                     afxRegApartmentThreading)
//     ProgID                        = progId
//     Control                         (key)
//     ToolboxBitmap32               = "<module path>, <idBitmap>"
//     MiscStatus                    = "0"
//     MiscStatus\1                  = dwMiscStatus in decimal (the content aspect)
//     TypeLib                       = {tlid}
//     Version                       = "<major>.<minor>"
//     Insertable                      (key, only with afxRegInsertable)
//   <progId>                        = user type name
//     CLSID                         = {clsid}
// Entries the flags rule out are removed, so registering again gives the same entries.
CTL_EXPORT BOOL AfxOleRegisterControlClass(HINSTANCE instance, REFCLSID clsid, const char* progId,
                                           std::uint16_t idTypeName, std::uint16_t idBitmap,
                                           UINT nRegFlags, DWORD dwMiscStatus, REFGUID tlid,
                                           WORD wVerMajor, WORD wVerMinor);
// CLSID\{clsid} = page name (string idTypeName), InprocServer32 = module path. No ProgID.
CTL_EXPORT BOOL AfxOleRegisterPropertyPageClass(HINSTANCE instance, REFCLSID clsid,
                                                std::uint16_t idTypeName);
// Removes CLSID\{clsid} and, when progId is given, the ProgID's key. Keys already gone count
// as removed.
CTL_EXPORT BOOL AfxOleUnregisterClass(REFCLSID clsid, const char* progId);

// Registers the type library held by the module's own file (its TYPELIB resource), which must
// be library `tlid`.
CTL_EXPORT BOOL AfxOleRegisterTypeLib(HINSTANCE instance, REFGUID tlid);
// Removes the registration of library `tlid` made for locale `lcid`; when the current module's
// file holds that library, the locale and system kind it was registered under (its own) instead.
CTL_EXPORT BOOL AfxOleUnregisterTypeLib(REFGUID tlid, WORD wVerMajor, WORD wVerMinor,
                                        LCID lcid = 0);

// Runs a module's whole registration or unregistration (`body`) as one change of the class
// registry: what it writes is kept in memory and written in one replacement of the file when it
// answers S_OK, and dropped otherwise. A registration whose write fails answers
// SELFREG_E_TYPELIB, the code of its first step, the type library, which like everything else
// is not written (the thread's error object says why). Nested inside another such call, the
// outer one writes.
CTL_EXPORT HRESULT AfxRegisterInOneChange(const std::function<HRESULT()>& body);
