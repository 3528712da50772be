// The type-library description parser of the resource compiler: no text crashes it, and a
// description it accepts always makes a library the binary format can store.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "generators/rescomp/rescomp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto description = rescomp::ParseTypeLibraryDescription(text, "fuzz.odl")) {
        // What parses must serialise, and its identity header must come out whole.
        if (!typelib::SerializeTypeLibrary(description->lib)) std::abort();
        if (rescomp::GenerateIdentityHeader(description->lib, description->identity, "fuzz.odl")
                .empty())
            std::abort();
    }
    (void)rescomp::CompileResourceScript(text, "fuzz.rsrc", "/nonexistent");
    return 0;
}
