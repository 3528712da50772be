// How an in-process server's initialisation answers the loader, as DllMain's result does. A
// library whose initialisation failed says so (with any address inside it) while it is being
// loaded; the loader then refuses it and lets it go again. `failed` false takes the mark back
// (when the library is unloaded). (Under Wine the loader learns it from DllMain: nothing to tell.)
#pragma once

#include "platform/com/wtypes.h"

COM_EXPORT void CoSetLibraryInitFailed(const void* addressInLibrary, bool failed);
