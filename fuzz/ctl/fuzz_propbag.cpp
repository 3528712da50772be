// Named persistence with any property-bag text, as ocxhost's loadbag hands it to a control:
// "NAME=VALUE;..." parsed into a bag of strings, then IPersistPropertyBag::Load on the port
// access control (through QueryInterface, as a host does). A load that fails changes nothing; a
// load that succeeds saves what a second control loads back to the same properties.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/ocidl.h"
#include "platform/portio/portio.h"
#include "portctl/port_access.h"
#include "tools/text_property_bag.h"

namespace {

class NullBackend : public portio::Backend {
public:
    std::uint8_t In8(std::uint16_t) override { return 0; }
    std::uint16_t In16(std::uint16_t) override { return 0; }
    void Out8(std::uint16_t, std::uint8_t) override {}
    void Out16(std::uint16_t, std::uint16_t) override {}
};

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

ComPtr<IPersistPropertyBag> NewControl() {
    auto* c = new CPinbusCtrl();
    ComPtr<IPersistPropertyBag> bag;
    Check(c->QueryInterface(IID_IPersistPropertyBag, bag.ReleaseAndGetVoidAddress()) == S_OK);
    Check(bag->InitNew() == S_OK);
    return bag;
}

std::vector<std::string> Saved(const ComPtr<IPersistPropertyBag>& control) {
    TextPropertyBag bag;
    Check(control->Save(&bag, FALSE, TRUE) == S_OK);
    return bag.Lines();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool installed = [] {
        portio::InstallBackendForTesting(std::make_unique<NullBackend>());
        return true;
    }();
    (void)installed;
    TextPropertyBag bag;
    if (!bag.Parse(std::string(reinterpret_cast<const char*>(data), size))) return 0;
    ComPtr<IPersistPropertyBag> control = NewControl();
    const std::vector<std::string> before = Saved(control);
    if (FAILED(control->Load(&bag, nullptr))) {
        Check(Saved(control) == before);
        return 0;
    }
    TextPropertyBag saved;
    Check(control->Save(&saved, TRUE, TRUE) == S_OK);
    ComPtr<IPersistPropertyBag> again = NewControl();
    Check(again->Load(&saved, nullptr) == S_OK);
    Check(Saved(again) == saved.Lines());
    return 0;
}
