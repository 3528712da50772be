// Any text: parsing must not crash; accepted text must survive write and re-read unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/com/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    reg::Key tree;
    if (const base::Result<> parsed = reg::ParseRegistryText(text, &tree); !parsed) {
        if (parsed.message().empty()) std::abort();  // a refusal always says where and why
        return 0;
    }
    std::string written = reg::WriteRegistryText(tree);
    reg::Key again;
    if (!reg::ParseRegistryText(written, &again)) std::abort();
    if (!(again == tree)) std::abort();
    if (reg::WriteRegistryText(again) != written) std::abort();
    return 0;
}
