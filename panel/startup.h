// Start-up of Lensbay: the two port objects created by class identity from the class registry,
// placed on the main window as a form host places a control and loaded from its stored layout,
// and the choice of front end.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/base/result.h"
#include "platform/com/oleauto.h"
#include "platform/ui/display.h"
#include "portctl/pinbus_identity.h"

struct IOleClientSite;

namespace panel {

// Pinbus's class identity, as its type-library description names it.
inline constexpr CLSID CLSID_PinbusCtrl = CLSID_Pinbus;

// The persistent stream the main window's layout holds for each port object: version 1.0,
// extent 1085 x 873 HIMETRIC, no stock properties, Address 0x378, Bits 8.
inline constexpr std::array<std::uint8_t, 22> kPinbusStoredStream = {
    0x00, 0x00, 0x01, 0x00, 0x3D, 0x04, 0x00, 0x00, 0x69, 0x03, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x78, 0x03, 0x00, 0x00, 0x08, 0x00};

// The window's two port objects. Each sits on a client site of the window's own; the window never
// activates them in place (the control is invisible while a form runs). Letting them go (the
// destructor, or assigning others) closes each, takes its site back, then releases it.
class PortObjects {
public:
    PortObjects() = default;
    PortObjects(PortObjects&&) noexcept = default;
    PortObjects& operator=(PortObjects&& other) noexcept;
    ~PortObjects();

    ComPtr<IDispatch> pinbus1;  // every write
    ComPtr<IDispatch> pinbus2;  // every read

private:
    friend base::Result<PortObjects> CreatePortObjects(const std::string& ocx_path);
    void Close();
    ComPtr<IUnknown> placed_[2];  // pinbus1 and pinbus2 once their site is set
};

// The steps of making one port object, for a failure's message.
enum class PinbusStep { kCreate, kPlace, kLoad };

// Makes one Pinbus object and loads it from kPinbusStoredStream (IPersistStreamInit::Load): the
// one way the programs, the tests and the benchmarks make one. `factory` makes it (null:
// CoCreateInstance of CLSID_PinbusCtrl through the class registry); with a `site`, the object is
// placed on it (IOleObject::SetClientSite) before it is loaded, as the control asks, and *placed
// (when given) receives it once placed. On failure the HRESULT, with *failed (when given) naming
// the step.
HRESULT CreateLoadedPinbus(IClassFactory* factory, IOleClientSite* site, ComPtr<IDispatch>* out,
                           ComPtr<IUnknown>* placed = nullptr, PinbusStep* failed = nullptr);

// Creates Pinbus1 and Pinbus2 with CoCreateInstance, places each on a client site of its own
// (IOleObject::SetClientSite, before anything else as the control asks) and loads it with
// IPersistStreamInit::Load from the stored stream. An error with a message that says what failed
// (the HRESULT and the loader's own text) and, when the class could not be created, how to
// register it: "register it with: regsvr PATH" with `ocx_path` (or a placeholder when empty).
base::Result<PortObjects> CreatePortObjects(const std::string& ocx_path);

// The path of PINBUS.OCX beside the running program, or "" when there is none.
std::string PinbusBesideExecutable();

// PINBUS.OCX as the start-up hint names it: beside the program (the build tree), else in
// `private_dir` relative to the program's folder (the installed private library folder); ""
// when neither has it.
std::string FindPinbus(const std::string& private_dir);

using EnvLookup = ui::EnvLookup;

// What the window front end needs to know of the display, read once from QT_QPA_PLATFORM,
// DISPLAY and WAYLAND_DISPLAY.
struct DisplayPlan {
    bool available = false;       // DisplayAvailable
    bool check_x_server = false;  // the X11 platform is the one Qt will load: reach it first
    bool boxes_visible = true;    // false on the offscreen and minimal platforms
    std::string display;          // DISPLAY
};
DisplayPlan PlanDisplay(const EnvLookup& getenv);

}  // namespace panel
