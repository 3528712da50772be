// IDispatch::Invoke and GetIDsOfNames of the framework with any member, flags, parameter block
// and argument variants (BSTRs, references into a local array, variant references), on a test
// control with every kind of member and on the port access control; and IPersistStreamInit::Load
// of any bytes. No input may crash, leak or misuse memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/com/memory_stream.h"
#include "platform/com/objidl.h"
#include "platform/portio/portio.h"
#include "portctl/port_access.h"
#include "tests/platform/ctl/test_control.h"

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    template <typename T>
    T Value() {
        T v{};
        std::uint8_t bytes[sizeof(T)];
        for (auto& b : bytes) b = Byte();
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }
    std::size_t Left() const { return size_ - pos_; }
    const std::uint8_t* Rest() const { return data_ + pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Swallows every port cycle: the fuzzer never reaches a real or simulated port.
class NullBackend : public portio::Backend {
public:
    std::uint8_t In8(std::uint16_t) override { return 0xA5; }
    std::uint16_t In16(std::uint16_t) override { return 0x8001; }
    void Out8(std::uint16_t, std::uint8_t) override {}
    void Out16(std::uint16_t, std::uint16_t) override {}
};

constexpr VARTYPE kTypes[] = {VT_EMPTY,   VT_NULL,    VT_I2,      VT_I4,       VT_R4,    VT_R8,
                              VT_CY,      VT_DATE,    VT_BSTR,    VT_DISPATCH, VT_ERROR, VT_BOOL,
                              VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1,       VT_UI1,   VT_UI2,
                              VT_UI4,     VT_I8,      VT_UI8,     VT_INT,      VT_UINT,  VT_VOID};

// The arguments of one call and everything they point at, freed when the call is over.
struct Arguments {
    std::vector<VARIANT> args;
    // What VT_VARIANT|VT_BYREF points at: two per nesting level, so that a variant never
    // refers to itself (its own vt read as a BSTR would be the harness's fault, not the callee's).
    VARIANT targets[6];
    std::uint64_t storage[8];    // what VT_xx|VT_BYREF points at
    BSTR storedStrings[8] = {};  // BSTRs referred to from storage
    std::vector<BSTR> strings;

    ~Arguments() {
        for (BSTR s : strings) SysFreeString(s);
    }

    BSTR String(Input& in) {
        std::size_t n = in.Byte() % 12;
        std::u16string text;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t c = in.Byte();
            text.push_back(c < 0xC0 ? char16_t(c) : char16_t(0xD800 + c));  // include surrogates
        }
        BSTR s = SysAllocStringLen(text.data(), UINT(text.size()));
        strings.push_back(s);
        return s;
    }

    // A plain (non-reference) value of type vt.
    void Plain(Input& in, VARIANT* v, VARTYPE vt) {
        VariantInit(v);
        v->vt = vt;
        switch (vt) {
            case VT_BSTR:
                v->bstrVal = in.Byte() % 8 ? String(in) : nullptr;
                break;
            case VT_DISPATCH:
            case VT_UNKNOWN:
            case VT_VARIANT:
            case VT_DECIMAL:
            case VT_VOID:
                v->llVal = 0;
                break;
            default:
                v->llVal = in.Value<std::int64_t>();
        }
    }

    void Make(Input& in, VARIANT* v, int depth) {
        std::uint8_t kind = in.Byte();
        VARTYPE vt = kTypes[kind % (sizeof kTypes / sizeof kTypes[0])];
        if (kind & 0x80) vt = static_cast<VARTYPE>(in.Value<std::uint16_t>() & ~VT_BYREF);
        const bool byref = kind & 0x40;
        if (!byref) {
            bool knownType = false;
            for (VARTYPE t : kTypes) knownType = knownType || t == vt;
            Plain(in, v, knownType ? vt : VT_EMPTY);
            if (!knownType) v->vt = vt;  // unknown types carry no value
            return;
        }
        VariantInit(v);
        v->vt = static_cast<VARTYPE>(vt | VT_BYREF);
        std::uint8_t slot = in.Byte();
        if (slot % 16 == 0) {
            v->byref = nullptr;
        } else if (vt == VT_VARIANT) {
            VARIANT* target = &targets[2 * depth + slot % 2];
            if (depth < 2)
                Make(in, target, depth + 1);
            else
                Plain(in, target, VT_I4);
            v->pvarVal = target;
        } else if (vt == VT_BSTR) {
            BSTR* s = &storedStrings[slot % 8];
            *s = String(in);
            v->pbstrVal = s;
        } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
            storage[slot % 8] = 0;  // a null object
            v->byref = &storage[slot % 8];
        } else {
            storage[slot % 8] = in.Value<std::uint64_t>();
            v->byref = &storage[slot % 8];
        }
    }
};

constexpr DISPID kIds[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, -1, -3, DISPID_ABOUTBOX, 12};
constexpr DISPID kNames[] = {DISPID_PROPERTYPUT, DISPID_PROPERTYPUT, 0, 1, -1};

void FuzzInvoke(IDispatch* d, Input& in, bool portControl) {
    std::uint8_t pick = in.Byte();
    DISPID id = pick & 0x80 ? in.Value<DISPID>() : kIds[pick % (sizeof kIds / sizeof kIds[0])];
    // The port control's About box would wait for a user.
    if (portControl && id == DISPID_ABOUTBOX) id = 4;
    const WORD flags = in.Byte() & 0x0F;
    const std::uint8_t shape = in.Byte();
    Arguments a;
    const UINT cArgs = in.Byte() % 4;
    const UINT cNamed = in.Byte() % 4;
    a.args.resize(cArgs);
    for (UINT i = 0; i < cArgs; ++i) a.Make(in, &a.args[i], 0);
    std::vector<DISPID> named(cNamed);
    for (UINT i = 0; i < cNamed; ++i) named[i] = kNames[in.Byte() % 5];

    DISPPARAMS params{shape & 0x01 ? nullptr : a.args.data(), shape & 0x02 ? nullptr : named.data(),
                      cArgs, cNamed};
    if (cArgs == 0) params.rgvarg = nullptr;
    if (cNamed == 0) params.rgdispidNamedArgs = nullptr;
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info;
    UINT argErr = 0;
    HRESULT hr = d->Invoke(id, shape & 0x04 ? IID_IDispatch : IID_NULL, 0, flags,
                           shape & 0x08 ? nullptr : &params, shape & 0x10 ? nullptr : &result,
                           shape & 0x20 ? nullptr : &info, shape & 0x40 ? nullptr : &argErr);
    if (SUCCEEDED(hr)) VariantClear(&result);
    // A refused argument is named by its index, which must be one of the arguments.
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) && !(shape & 0x40) && argErr >= cArgs)
        __builtin_trap();
}

void FuzzNames(IDispatch* d, Input& in) {
    Arguments a;
    UINT count = 1 + in.Byte() % 3;
    std::vector<LPOLESTR> names(count);
    for (auto& n : names) n = in.Byte() % 8 ? a.String(in) : nullptr;
    std::vector<DISPID> ids(count);
    d->GetIDsOfNames(IID_NULL, names.data(), count, 0, ids.data());
}

void FuzzLoad(IDispatch* d, Input& in) {
    ComPtr<IPersistStreamInit> persist;
    if (FAILED(d->QueryInterface(IID_IPersistStreamInit, persist.ReleaseAndGetVoidAddress())))
        __builtin_trap();
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnMemory(in.Rest(), ULONG(in.Left()), &stream))) return;
    if (persist->Load(stream.Get()) == S_OK) {
        ComPtr<IStream> out;
        if (FAILED(CreateStreamOnMemory(nullptr, 0, &out))) return;
        persist->Save(out.Get(), TRUE);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool installed = [] {
        portio::InstallBackendForTesting(std::make_unique<NullBackend>());
        return true;
    }();
    (void)installed;
    Input in(data, size);
    const std::uint8_t mode = in.Byte();
    IDispatch* d = nullptr;
    const bool portControl = mode & 1;
    if (portControl) {
        auto* c = new CPinbusCtrl();
        c->AddRef();
        d = c;
    } else {
        d = NewTestCtrl();
    }
    switch ((mode >> 1) % 4) {
        case 0:
        case 1:
            while (in.Left() > 0) FuzzInvoke(d, in, portControl);
            break;
        case 2:
            FuzzNames(d, in);
            break;
        default:
            FuzzLoad(d, in);
            break;
    }
    d->Release();
    return 0;
}
