#include <string>

#include "platform/com/error_text.h"
#include "platform/com/oaidl.h"
#include "platform/com/registry.h"

base::Result<> CheckClassRegistry() {
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return {};
    std::string why = TakeErrorInfoText();
    if (why.empty()) why = "error " + std::to_string(status);
    return base::FailRegistry(
        "cannot read the class registry " + RegistryFilePath() + ": " + why +
            "\nrepair or remove that file, or set OLE_REGISTRY to another one",
        status);
}
