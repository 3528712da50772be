// Where a module's file is, for the module's own file name and its resources. The resources are
// read from the ELF file in both builds (ModuleImageFile, module.cpp); the file name the class
// registry and LoadTypeLib see is the build's own (AfxGetModuleFileName: the ELF file natively,
// module_file_name.cpp; under Wine the PE module the loader mapped, platform/wine).
#pragma once

#include <string>

#include "platform/ctl/module.h"

// The ELF file that holds `instance` (null: the main program), its links resolved.
bool ModuleImageFile(HINSTANCE instance, std::string* path);
