// The type-library description parser of the resource compiler: no text crashes it, and a
// description it accepts always makes a library the binary format can store.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "generators/rescomp/rescomp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    typelib::LibraryData lib;
    std::string error;
    if (rescomp::ParseTypeLibraryDescription(text, "fuzz.odl", &lib, &error)) {
        std::string bytes;
        if (!typelib::SerializeTypeLibrary(lib, &bytes, &error)) std::abort();
    }
    std::vector<ResourceEntry> entries;
    rescomp::CompileResourceScript(text, "fuzz.rsrc", "/nonexistent", &entries, nullptr, &error);
    return 0;
}
