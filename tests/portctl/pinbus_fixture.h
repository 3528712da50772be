// PINBUS.OCX loaded as a host loads it, a port backend that records every cycle, and a registry
// of the test's own.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/memory_stream.h"
#include "platform/com/objidl.h"
#include "platform/com/ocidl.h"
#include "platform/com/oleidl.h"
#include "platform/portio/portio.h"
#include "portctl/resource_ids.h"
#include "tests/platform/ctl/dispatch_helpers.h"
#include "tests/support/temp_registry.h"

// One port cycle as the backend saw it.
struct Cycle {
    bool output;
    int width;
    std::uint16_t port;
    std::uint16_t value;
    bool operator==(const Cycle&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Cycle& c) {
    return os << (c.output ? "out" : "in") << c.width << " 0x" << std::hex << c.port << " 0x"
              << c.value << std::dec;
}

// Records cycles into a log the test owns; inputs answer what the test put on each port.
class RecordingBackend : public portio::Backend {
public:
    RecordingBackend(std::vector<Cycle>* log, std::map<std::uint16_t, std::uint16_t>* inputs)
        : log_(log), inputs_(inputs) {}
    std::uint8_t In8(std::uint16_t port) override {
        std::uint8_t v = static_cast<std::uint8_t>(Input(port));
        if (log_) log_->push_back({false, 8, port, v});
        return v;
    }
    std::uint16_t In16(std::uint16_t port) override {
        std::uint16_t v = Input(port);
        if (log_) log_->push_back({false, 16, port, v});
        return v;
    }
    void Out8(std::uint16_t port, std::uint8_t value) override {
        if (log_) log_->push_back({true, 8, port, value});
    }
    void Out16(std::uint16_t port, std::uint16_t value) override {
        if (log_) log_->push_back({true, 16, port, value});
    }

private:
    std::uint16_t Input(std::uint16_t port) {
        if (!inputs_) return 0xFFFF;
        auto it = inputs_->find(port);
        return it == inputs_->end() ? 0xFFFF : it->second;
    }
    std::vector<Cycle>* log_;
    std::map<std::uint16_t, std::uint16_t>* inputs_;
};

// The library, loaded once for the whole test program.
struct PinbusLibrary {
    using CanUnloadFn = HRESULT (*)();
    using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
    using RegisterFn = HRESULT (*)();

    static PinbusLibrary& Get() {
        static PinbusLibrary library;
        return library;
    }
    void* handle = nullptr;
    CanUnloadFn DllCanUnloadNow = nullptr;
    GetClassObjectFn DllGetClassObject = nullptr;
    RegisterFn DllRegisterServer = nullptr;
    RegisterFn DllUnregisterServer = nullptr;
    std::string path;

private:
    PinbusLibrary() {
        path = std::filesystem::canonical(PINBUS_OCX_PATH).string();
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        DllCanUnloadNow = reinterpret_cast<CanUnloadFn>(dlsym(handle, "DllCanUnloadNow"));
        DllGetClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
        DllRegisterServer = reinterpret_cast<RegisterFn>(dlsym(handle, "DllRegisterServer"));
        DllUnregisterServer = reinterpret_cast<RegisterFn>(dlsym(handle, "DllUnregisterServer"));
    }
};

class PinbusTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Dialogs show offscreen here whatever display the environment offers.
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        lib = &PinbusLibrary::Get();
        ASSERT_NE(lib->handle, nullptr) << dlerror();
        ASSERT_NE(lib->DllGetClassObject, nullptr);
        portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(&cycles, &inputs));
    }
    void TearDown() override {
        // Nothing may reach this test's log once it is gone.
        portio::InstallBackendForTesting(std::make_unique<RecordingBackend>(nullptr, nullptr));
    }

    // A new control as a host makes it: created through the class object, then initialised.
    ComPtr<IDispatch> NewControl(bool initialise = true) {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(lib->DllGetClassObject(CLSID_Pinbus, IID_IClassFactory,
                                         factory.ReleaseAndGetVoidAddress()),
                  S_OK);
        ComPtr<IDispatch> control;
        if (!factory) return control;
        EXPECT_EQ(
            factory->CreateInstance(nullptr, IID_IDispatch, control.ReleaseAndGetVoidAddress()),
            S_OK);
        if (control && initialise) {
            EXPECT_EQ(Persist(control)->InitNew(), S_OK);
        }
        return control;
    }
    static ComPtr<IPersistStreamInit> Persist(const ComPtr<IDispatch>& control) {
        ComPtr<IPersistStreamInit> persist;
        EXPECT_EQ(control.As(IID_IPersistStreamInit, std::addressof(persist)), S_OK);
        return persist;
    }
    static ComPtr<IOleObject> Ole(const ComPtr<IDispatch>& control) {
        ComPtr<IOleObject> ole;
        EXPECT_EQ(control.As(IID_IOleObject, std::addressof(ole)), S_OK);
        return ole;
    }
    static std::string Save(const ComPtr<IDispatch>& control, BOOL clearDirty = TRUE) {
        ComPtr<IStream> stream;
        EXPECT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
        EXPECT_EQ(Persist(control)->Save(stream.Get(), clearDirty), S_OK);
        std::string bytes;
        EXPECT_TRUE(GetMemoryStreamBytes(stream.Get(), &bytes));
        return bytes;
    }
    static HRESULT Load(const ComPtr<IDispatch>& control, const std::string& bytes) {
        ComPtr<IStream> stream;
        EXPECT_EQ(CreateStreamOnMemory(bytes.data(), ULONG(bytes.size()), &stream), S_OK);
        return Persist(control)->Load(stream.Get());
    }
    static LONG GetI4(IDispatch* d, DISPID id) {
        VARIANT r;
        EXPECT_EQ(GetProp(d, id, &r), S_OK);
        EXPECT_EQ(r.vt, VT_I4);
        return r.lVal;
    }
    static SHORT GetI2(IDispatch* d, DISPID id) {
        VARIANT r;
        EXPECT_EQ(GetProp(d, id, &r), S_OK);
        EXPECT_EQ(r.vt, VT_I2);
        return r.iVal;
    }

    PinbusLibrary* lib = nullptr;
    std::vector<Cycle> cycles;
    std::map<std::uint16_t, std::uint16_t> inputs;
};

constexpr DISPID kAddress = 1, kBits = 2, kValue = 3;

// Bytes from a hex text such as "00 00 01 00".
inline std::string Hex(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

using test_support::TempRegistry;
