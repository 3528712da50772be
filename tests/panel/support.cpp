#include "tests/panel/support.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "panel/image_files.h"
#include "panel/startup.h"
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

HRESULT FakePinbus::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG FakePinbus::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT FakePinbus::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT FakePinbus::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO*, UINT*) {
    Invocation call{name_, dispid, flags, false, 0};
    const bool put = flags == DISPATCH_PROPERTYPUT;
    if (put && params && params->cArgs == 1) {
        call.named_put = params->cNamedArgs == 1 && params->rgdispidNamedArgs &&
                         params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
        VARIANT v;
        VariantInit(&v);
        if (FAILED(VariantChangeType(&v, &params->rgvarg[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
        call.value = v.lVal;
    }
    const long index = static_cast<long>(calls_->size());
    calls_->push_back(call);
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (*fail_at_ == index) return DISP_E_EXCEPTION;
    if (put && !call.named_put) return DISP_E_PARAMNOTOPTIONAL;
    const auto port = static_cast<std::uint16_t>(address_ & 0xFFFF);
    switch (dispid) {
        case 1:
            if (put) address_ = call.value;
            if (!put && result) {
                result->vt = VT_I4;
                result->lVal = address_;
            }
            return S_OK;
        case 2:
            if (put && (call.value == 8 || call.value == 16))
                bits_ = static_cast<SHORT>(call.value);
            if (!put && result) {
                result->vt = VT_I2;
                result->iVal = bits_;
            }
            return S_OK;
        case 3:
            if (put) {
                if (bits_ == 8) {
                    portio::Out8(port, static_cast<std::uint8_t>(call.value));
                } else {
                    portio::Out16(port, static_cast<std::uint16_t>(call.value));
                }
            } else {
                const LONG v = bits_ == 8 ? portio::In8(port) : portio::In16(port);
                if (result) {
                    result->vt = VT_I4;
                    result->lVal = v;
                }
            }
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
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
    ComPtr<IPersistStreamInit> persist;
    ComPtr<IStream> stream;
    if (FAILED(
            factory->CreateInstance(nullptr, IID_IDispatch, object.ReleaseAndGetVoidAddress())) ||
        FAILED(object.As(IID_IPersistStreamInit, std::addressof(persist))) ||
        FAILED(CreateStreamOnMemory(panel::kPinbusStoredStream.data(),
                                    static_cast<ULONG>(panel::kPinbusStoredStream.size()),
                                    &stream)) ||
        FAILED(persist->Load(stream.Get()))) {
        *why = "the Pinbus object could not be created and loaded";
        return nullptr;
    }
    return object.Detach();
}

TempDir::TempDir() {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) previous_ = cwd;
    char pattern[] = "/tmp/lensbay-panel-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    path_ = made;
    if (::chdir(path_.c_str()) != 0) ADD_FAILURE() << "chdir " << path_ << " failed";
}

TempDir::~TempDir() {
    if (!previous_.empty() && ::chdir(previous_.c_str()) != 0) ADD_FAILURE() << "chdir back";
    std::error_code ec;
    if (!path_.empty()) {
        // Directories made read-only by a test must become writable again to be removed.
        for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec)) {
            if (e.is_directory(ec)) {
                std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
            }
        }
        std::filesystem::remove_all(path_, ec);
    }
}

void PanelRig::SetUp() {
    dir_ = std::make_unique<TempDir>();
    SetReadSource(nullptr);
    if (GetParam() == Objects::kFake) {
        pinbus1_ = new FakePinbus("Pinbus1", &calls_, &fail_at_);
        pinbus2_ = new FakePinbus("Pinbus2", &calls_, &fail_at_);
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
    return panel::GetLe32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at);
}

}  // namespace panel_test
