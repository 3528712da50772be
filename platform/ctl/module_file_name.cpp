// The module's file name in the native build: the ELF file itself.
#include "platform/ctl/module.h"
#include "platform/ctl/module_image.h"

bool AfxGetModuleFileName(HINSTANCE instance, std::string* path) {
    return path && ModuleImageFile(instance, path);
}
