// A storage in memory, for keeping objects through IPersistStorage without a file: what a
// compound file's storage does for streams, without its file format.
#pragma once

#include "platform/com/objidl.h"

// A new, empty storage in memory. It holds streams (no nested storages: CreateStorage and
// OpenStorage answer STG_E_INVALIDFUNCTION) and its class; the streams it hands out are memory
// streams over its own bytes (GetMemoryStreamBytes reads them). As in a compound file, element
// names are 1 to 31 characters without '\', '/', ':' or '!', streams are opened with
// STGM_SHARE_EXCLUSIVE and one stream is open at most once at a time (STG_E_ACCESSDENIED).
COM_EXPORT HRESULT CreateStorageOnMemory(IStorage** ppstg);
