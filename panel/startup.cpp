#include "panel/startup.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/com/combase.h"
#include "platform/com/error_text.h"
#include "platform/com/guid_text.h"
#include "platform/com/memory_stream.h"
#include "platform/com/oaidl.h"
#include "platform/com/objidl.h"
#include "platform/com/oleidl.h"
#include "platform/ui/display.h"

namespace panel {
namespace {

bool Set(const EnvLookup& getenv, const char* name) {
    const char* value = getenv(name);
    return value && *value;
}

// The running program's folder with its trailing slash, or "" when it cannot be read.
std::string ExecutableDirectory() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    std::string dir(path, static_cast<std::size_t>(n));
    const auto slash = dir.rfind('/');
    if (slash == std::string::npos) return "";
    dir.erase(slash + 1);
    return dir;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A path as a shell takes it: as it is when it holds only characters no shell reads specially,
// else in single quotes (a quote within as '\'').
std::string ShellWord(const std::string& path) {
    const bool plain = !path.empty() && std::all_of(path.begin(), path.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+,:@%=", c);
    });
    if (plain) return path;
    std::string quoted = "'";
    for (const char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The registration program as the user can type it: "regsvr" where the search path finds the one
// beside this program or beside the control (an installed Lensbay), else that one by its path (a
// build's bin folder, from any host of the control), else "regsvr".
std::string RegsvrCommand(const std::string& ocx_path) {
    std::string dirs[2] = {ExecutableDirectory(), ""};
    if (const auto slash = ocx_path.rfind('/'); slash != std::string::npos)
        dirs[1] = ocx_path.substr(0, slash + 1);
    std::string beside;
    struct stat mine {};
    for (const std::string& dir : dirs) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "regsvr";
        if (::stat(candidate.c_str(), &mine) == 0 && S_ISREG(mine.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            beside = candidate;
            break;
        }
    }
    if (beside.empty()) return "regsvr";
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string folder(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (folder.empty()) continue;  // the working directory: not what a user means by PATH
        const std::string found_path = folder + "/regsvr";
        struct stat found {};
        if (::stat(found_path.c_str(), &found) != 0 || !S_ISREG(found.st_mode) ||
            ::access(found_path.c_str(), X_OK) != 0)
            continue;
        // The first one the search path finds is the one a typed "regsvr" runs.
        if (found.st_dev == mine.st_dev && found.st_ino == mine.st_ino) return "regsvr";
        break;
    }
    return ShellWord(beside);
}

// The window's site for one port object: where a control asks for its container. The window has
// no document to save, no moniker and nothing to show the object in.
class FormSite final : public IOleClientSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOleClientSite) return E_NOINTERFACE;
        *ppv = static_cast<IOleClientSite*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** ppmk) override {
        if (ppmk) *ppmk = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** ppContainer) override {
        if (ppContainer) *ppContainer = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

private:
    ~FormSite() = default;
    std::atomic<ULONG> refs_{1};
};

HRESULT CreateOne(ComPtr<IDispatch>* out, ComPtr<IUnknown>* placed, PinbusStep* failed) {
    ComPtr<IOleClientSite> site;
    site.Attach(new FormSite);
    return CreateLoadedPinbus(nullptr, site.Get(), out, placed, failed);
}

}  // namespace

HRESULT CreateLoadedPinbus(IClassFactory* factory, IOleClientSite* site, ComPtr<IDispatch>* out,
                           ComPtr<IUnknown>* placed, PinbusStep* failed) {
    PinbusStep step = PinbusStep::kCreate;
    ComPtr<IDispatch> object;
    HRESULT hr =
        factory ? factory->CreateInstance(nullptr, IID_IDispatch, object.ReleaseAndGetVoidAddress())
                : CoCreateInstance(CLSID_PinbusCtrl, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   object.ReleaseAndGetVoidAddress());
    // Placed first: the control asks for its site before it is loaded.
    if (SUCCEEDED(hr) && site) {
        step = PinbusStep::kPlace;
        ComPtr<IOleObject> ole;
        hr = object.As(IID_IOleObject, std::addressof(ole));
        if (SUCCEEDED(hr)) hr = ole->SetClientSite(site);
        if (SUCCEEDED(hr) && placed) *placed = ComPtr<IUnknown>(ole.Get());
    }
    if (SUCCEEDED(hr)) {
        step = PinbusStep::kLoad;
        ComPtr<IPersistStreamInit> persist;
        hr = object.As(IID_IPersistStreamInit, std::addressof(persist));
        ComPtr<IStream> stream;
        if (SUCCEEDED(hr)) {
            hr = CreateStreamOnMemory(kPinbusStoredStream.data(),
                                      static_cast<ULONG>(kPinbusStoredStream.size()), &stream);
        }
        if (SUCCEEDED(hr)) hr = persist->Load(stream.Get());
    }
    if (FAILED(hr)) {
        if (failed) *failed = step;
        return hr;
    }
    *out = std::move(object);
    return S_OK;
}

PortObjects& PortObjects::operator=(PortObjects&& other) noexcept {
    if (this != &other) {
        Close();
        pinbus1 = std::move(other.pinbus1);
        pinbus2 = std::move(other.pinbus2);
        placed_[0] = std::move(other.placed_[0]);
        placed_[1] = std::move(other.placed_[1]);
    }
    return *this;
}

PortObjects::~PortObjects() { Close(); }

void PortObjects::Close() {
    // As a form lets its controls go: closed, then their site taken back, then released.
    for (ComPtr<IUnknown>& placed : placed_) {
        ComPtr<IOleObject> ole;
        if (placed && SUCCEEDED(placed.As(IID_IOleObject, std::addressof(ole)))) {
            ole->Close(OLECLOSE_NOSAVE);
            ole->SetClientSite(nullptr);
        }
        placed.Reset();
    }
    pinbus1.Reset();
    pinbus2.Reset();
}

base::Result<PortObjects> CreatePortObjects(const std::string& ocx_path) {
    PortObjects objects;
    ComPtr<IDispatch>* slots[] = {std::addressof(objects.pinbus1), std::addressof(objects.pinbus2)};
    const char* names[] = {"Pinbus1", "Pinbus2"};
    for (int i = 0; i < 2; ++i) {
        PinbusStep failed = PinbusStep::kCreate;
        const HRESULT hr = CreateOne(slots[i], std::addressof(objects.placed_[i]), &failed);
        if (SUCCEEDED(hr)) continue;
        std::string detail = TakeErrorInfoText();
        std::string message;
        if (failed == PinbusStep::kCreate) {
            message = "cannot create the port object " + std::string(names[i]) +
                      ": the Pinbus control " + GuidToString(CLSID_PinbusCtrl) +
                      (hr == REGDB_E_CLASSNOTREG ? " is not registered"
                                                 : " is registered but will not load") +
                      " (" + HresultToString(hr) + ")";
            if (!detail.empty()) message += ": " + detail;
            message +=
                "\nregister it with: " + RegsvrCommand(ocx_path) + " " +
                (ocx_path.empty() ? std::string("/path/to/PINBUS.OCX") : ShellWord(ocx_path));
        } else if (failed == PinbusStep::kPlace) {
            message = "the port object " + std::string(names[i]) +
                      " cannot be placed on the window (" + HresultToString(hr) + ")";
        } else {
            message = "the port object " + std::string(names[i]) +
                      " would not load its stored properties (" + HresultToString(hr) + ")";
        }
        return base::FailNotRegistered(std::move(message));
    }
    return objects;
}

std::string PinbusBesideExecutable() {
    const std::string dir = ExecutableDirectory();
    if (dir.empty()) return "";
    std::string ocx = dir + "PINBUS.OCX";
    if (!IsRegularFile(ocx)) return "";
    return ocx;
}

std::string FindPinbus(const std::string& private_dir) {
    std::string beside = PinbusBesideExecutable();
    if (!beside.empty()) return beside;
    const std::string dir = ExecutableDirectory();
    if (dir.empty()) return "";
    const std::string candidate = dir + private_dir + "/PINBUS.OCX";
    char resolved[PATH_MAX];
    if (!::realpath(candidate.c_str(), resolved) || !IsRegularFile(resolved)) return "";
    return resolved;
}

DisplayPlan PlanDisplay(const EnvLookup& getenv) {
    DisplayPlan plan;
    plan.available = ui::DisplayAvailable(getenv);
    const char* platform = getenv("QT_QPA_PLATFORM");
    const std::string name = platform ? platform : "";
    // Lists of platforms fall back by themselves; Wayland sessions are Qt's own business.
    plan.check_x_server =
        name.empty() ? !Set(getenv, "WAYLAND_DISPLAY") : name.substr(0, name.find(':')) == "xcb";
    plan.boxes_visible = name.rfind("offscreen", 0) != 0 && name.rfind("minimal", 0) != 0;
    const char* display = getenv("DISPLAY");
    plan.display = display ? display : "";
    return plan;
}

}  // namespace panel
