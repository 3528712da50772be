// The type-information objects: ITypeLib and ITypeInfo over a library model (typelib_format.h).
// A dual interface shows two type-information objects, its dispatch view and its vtable view.
#pragma once

#include "platform/com/typelib.h"
#include "platform/com/typelib_format.h"

namespace typelib {

// A new type library object over `data`, holding one reference; its type-information objects
// live as long as it does.
ITypeLib* NewTypeLibObject(LibraryData data);

// The standard automation library as far as libraries refer to it (typelib_stdole.cpp): what a
// library that imports it is given when no copy of it is registered.
LibraryData StandardOleLibrary(const ImportData& imp);

}  // namespace typelib
