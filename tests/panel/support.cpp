#include "tests/panel/support.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "panel/bitmap_file.h"
#include "panel/file_io.h"
#include "panel/startup.h"
#include "platform/base/little_endian.h"
#include "platform/com/objidl.h"

namespace panel_test {
namespace {

std::string Hex(unsigned v, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, v);
    return text;
}

std::string PortName(std::uint16_t port) {
    switch (port) {
        case 0x378:
            return "data";
        case 0x37A:
            return "control";
        case 0x77A:
            return "ecr";
        default:
            return "port " + Hex(port, 4);
    }
}

bool IsPortCycle(const std::string& entry) {
    return entry.rfind("control ", 0) == 0 || entry.rfind("data ", 0) == 0 ||
           entry.rfind("ecr ", 0) == 0 || entry.rfind("read ", 0) == 0 ||
           entry.rfind("port ", 0) == 0;
}

}  // namespace

std::uint8_t RecordingBackend::In8(std::uint16_t port) {
    log_->push_back("read " + PortName(port));
    if (port != 0x378) return 0xFF;
    return source_(reads_++);
}

std::uint16_t RecordingBackend::In16(std::uint16_t port) {
    log_->push_back("read16 " + PortName(port));
    return 0xFFFF;
}

void RecordingBackend::Out8(std::uint16_t port, std::uint8_t value) {
    log_->push_back(PortName(port) + " " + Hex(value, 2));
}

void RecordingBackend::Out16(std::uint16_t port, std::uint16_t value) {
    log_->push_back(PortName(port) + " word " + Hex(value, 4));
}

void TestMonitor::SetHeightTwips(int twips) {
    log_->push_back("monitor height " + std::to_string(twips));
}

void TestMonitor::SetWidthTwips(int twips) {
    log_->push_back("monitor width " + std::to_string(twips));
}

bool TestMonitor::LoadPicture(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    const bool ok = panel::ReadWholeFile(path, &bytes).ok() &&
                    panel::IsLoadableBitmap(bytes.data(), bytes.size());
    log_->push_back("monitor load " + path + (ok ? " picture" : " nopicture"));
    return ok;
}

void TestUi::MessageBox(const std::string& title, const std::string& text) {
    log_->push_back("box " + title + ": " + text);
    if (on_box) on_box(title, text);
}

void TestUi::SetWaitCursor(bool wait) { log_->push_back(wait ? "cursor wait" : "cursor default"); }

std::string ObjectsName(const testing::TestParamInfo<Objects>& info) {
    return info.param == Objects::kFake ? "FakePinbus" : "RealPinbus";
}

IDispatch* CreateRealPinbus(std::string* why) {
    static void* module = [] {
        const std::string path = std::string(LENSBAY_BIN_DIR) + "/PINBUS.OCX";
        return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }();
    if (!module) {
        *why = "PINBUS.OCX is not built";
        return nullptr;
    }
    using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(::dlsym(module, "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    if (!get || FAILED(get(panel::CLSID_PinbusCtrl, IID_IClassFactory,
                           factory.ReleaseAndGetVoidAddress()))) {
        *why = "PINBUS.OCX hands out no class object";
        return nullptr;
    }
    ComPtr<IDispatch> object;
    if (FAILED(panel::CreateLoadedPinbus(factory.Get(), nullptr, std::addressof(object)))) {
        *why = "the Pinbus object could not be created and loaded";
        return nullptr;
    }
    return object.Detach();
}

TempDir::TempDir() {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) previous_ = cwd;
    if (path().empty()) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    if (::chdir(path().c_str()) != 0) ADD_FAILURE() << "chdir " << path() << " failed";
}

TempDir::~TempDir() {
    if (!previous_.empty() && ::chdir(previous_.c_str()) != 0) ADD_FAILURE() << "chdir back";
}

void PanelRig::SetUp() {
    dir_ = std::make_unique<TempDir>();
    SetReadSource(nullptr);
    if (GetParam() == Objects::kFake) {
        pinbus1_ = FakePinbus::New("Pinbus1", &calls_, &fail_at_);
        pinbus2_ = FakePinbus::New("Pinbus2", &calls_, &fail_at_);
        return;
    }
    std::string why;
    pinbus1_ = CreateRealPinbus(&why);
    pinbus2_ = pinbus1_ ? CreateRealPinbus(&why) : nullptr;
    if (!pinbus2_) GTEST_SKIP() << why;
}

void PanelRig::TearDown() {
    if (pinbus1_) pinbus1_->Release();
    if (pinbus2_) pinbus2_->Release();
    pinbus1_ = pinbus2_ = nullptr;
    portio::ResetForTesting();
    dir_.reset();
}

void PanelRig::SetReadSource(ReadSource source) {
    source_ = source ? std::move(source) : [](std::uint64_t n) {
        return panel::ReverseBits(static_cast<std::uint8_t>(n % 251));
    };
    portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(&log_, source_));
}

Log PanelRig::Events() const {
    Log events;
    for (const auto& entry : log_)
        if (!IsPortCycle(entry)) events.push_back(entry);
    return events;
}

Log PanelRig::Writes() const {
    Log writes;
    for (const auto& entry : log_)
        if (IsPortCycle(entry) && entry.rfind("read ", 0) != 0) writes.push_back(entry);
    return writes;
}

bool ReadFile(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::uint32_t Le32At(const std::string& bytes, std::size_t at) {
    if (bytes.size() < at + 4) return 0xDEADBEEF;
    return base::GetLe32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at);
}

}  // namespace panel_test
