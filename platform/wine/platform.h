// The platform's own COM and OLE Automation (Wine's headers and DLLs) under the names the control
// framework and Pinbus include from platform/com/: the headers of include/platform/com/ stand in
// front of platform/com/'s in the Wine build's include path and all come here. Our own helpers
// keep headers of their own in platform/com/ (guid_text.h, utf.h, error_text.h, ...), which this
// build includes unchanged; platform.cpp implements those the stand-in implements on its own
// state. What is here is only what Wine's headers lack.
#pragma once

#include <string>
#include <utility>

// The framework's HINSTANCE is an address inside a module (module.h); the platform's own module
// handle type keeps its meaning under another name.
#define HINSTANCE PlatformHINSTANCE
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// The window API's A/W name macros would rename interface members of the same name.
#undef GetClassInfo
#undef RegSetValue
#undef LoadString
#include <oaidl.h>
#include <objidl.h>
#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#undef HINSTANCE

#define COM_EXPORT

#include "platform/com/com_ptr.h"
