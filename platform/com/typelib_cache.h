// The process-wide type-library cache: the first request for a GUID loads the library through
// LoadRegTypeLib; later requests get the same object. Failures are not remembered, so a library
// registered later is found then.
#pragma once

#include "platform/com/typelib.h"

COM_EXPORT HRESULT GetCachedTypeLib(REFGUID libid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                    ITypeLib** pptlib);
// Empties the cache (tests).
COM_EXPORT void ClearTypeLibCache();
