// Persistence: initialising, loading and saving the object through stream bytes, a property bag
// of NAME=VALUE pairs, a storage of ocxhost's and a memory block.
#include <string>

#include "platform/com/com_holders.h"
#include "platform/com/memory_storage.h"
#include "platform/com/memory_stream.h"
#include "platform/com/utf.h"
#include "tools/ocxhost/host.h"
#include "tools/text_property_bag.h"

namespace ocxhost {

namespace {

// The names of the properties an object could not take from a property bag.
class PropertyErrors final : public IErrorLog {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IErrorLog) return E_NOINTERFACE;
        *ppv = static_cast<IErrorLog*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE AddError(LPCOLESTR name, EXCEPINFO*) override {
        names += (names.empty() ? "" : " ") + (name ? OleToUtf8(name) : std::string("?"));
        return S_OK;
    }
    std::string names;
};

}  // namespace

Check Host::NeedPersist() const {
    if (auto c = NeedObject(); !c) return c;
    if (persist_) return {};
    return Error(E_NOINTERFACE, "the object has no stream persistence");
}

Outcome Host::InitNew(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedPersist(); !c) return c.error();
    HRESULT hr = persist_->InitNew();
    if (FAILED(hr)) return Error(hr);
    PlaceAfterInit();
    return std::string("S_OK");
}

Outcome Host::Load(const std::string& rest) {
    if (auto c = NeedPersist(); !c) return c.error();
    std::string bytes;
    if (!ParseHex(rest, &bytes)) return Refuse("bad hex: " + rest);
    ComPtr<IStream> stream;
    HRESULT hr = CreateStreamOnMemory(bytes.data(), static_cast<ULONG>(bytes.size()), &stream);
    if (FAILED(hr)) return Error(hr);
    hr = persist_->Load(stream.Get());
    if (FAILED(hr)) return Error(hr);
    PlaceAfterInit();
    return std::string("S_OK");
}

Outcome Host::Save(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedPersist(); !c) return c.error();
    ComPtr<IStream> stream;
    HRESULT hr = CreateStreamOnMemory(nullptr, 0, &stream);
    if (FAILED(hr)) return Error(hr);
    hr = persist_->Save(stream.Get(), TRUE);
    if (FAILED(hr)) return Error(hr);
    std::string bytes;
    if (!GetMemoryStreamBytes(stream.Get(), &bytes)) return Error(E_UNEXPECTED);
    return Hex(bytes);
}

Outcome Host::IsDirty(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    if (auto c = NeedPersist(); !c) return c.error();
    HRESULT hr = persist_->IsDirty();
    if (hr == S_OK) return std::string("S_OK");
    if (hr == S_FALSE) return std::string("S_FALSE");
    return Error(hr);
}

Check Host::NeedBag(ComPtr<IPersistPropertyBag>* bag) const {
    if (auto c = NeedObject(); !c) return c;
    HRESULT hr = object_.As(IID_IPersistPropertyBag, bag);
    if (FAILED(hr)) return Error(hr, "the object has no named persistence");
    return {};
}

Outcome Host::SaveBag(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    ComPtr<IPersistPropertyBag> persist;
    if (auto c = NeedBag(std::addressof(persist)); !c) return c.error();
    TextPropertyBag bag;
    HRESULT hr = persist->Save(&bag, TRUE, TRUE);
    if (FAILED(hr)) return Error(hr);
    std::string out;
    for (const std::string& line : bag.Lines()) out += (out.empty() ? "" : "\n") + line;
    return out.empty() ? std::string("no properties") : out;
}

Outcome Host::LoadBag(const std::string& rest) {
    ComPtr<IPersistPropertyBag> persist;
    if (auto c = NeedBag(std::addressof(persist)); !c) return c.error();
    TextPropertyBag bag;
    if (auto parsed = bag.Parse(rest); !parsed)
        return Refuse("bad property list: " + parsed.message());
    PropertyErrors log;
    HRESULT hr = persist->Load(&bag, &log);
    if (FAILED(hr)) return Error(hr, log.names);
    PlaceAfterInit();
    return std::string("S_OK");
}

}  // namespace ocxhost

namespace ocxhost {

// ---------------------------------------------------------------- storage and memory block

namespace {

constexpr OLECHAR kContents[] = u"Contents";

// The bytes of a storage's stream "Contents".
HRESULT ContentsOf(IStorage* storage, std::string* bytes) {
    ComPtr<IStream> stream;
    HRESULT hr =
        storage->OpenStream(kContents, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr)) return hr;
    return GetMemoryStreamBytes(stream.Get(), bytes) ? S_OK : E_UNEXPECTED;
}

}  // namespace

Check Host::NeedStorage(ComPtr<IPersistStorage>* persist) const {
    if (auto c = NeedObject(); !c) return c;
    HRESULT hr = object_.As(IID_IPersistStorage, persist);
    if (FAILED(hr)) return Error(hr, "the object has no storage persistence");
    return {};
}

Outcome Host::InitStorage(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    ComPtr<IPersistStorage> persist;
    if (auto c = NeedStorage(std::addressof(persist)); !c) return c.error();
    ComPtr<IStorage> storage;
    HRESULT hr = CreateStorageOnMemory(&storage);
    if (FAILED(hr)) return Error(hr);
    if (FAILED(hr = persist->InitNew(storage.Get()))) return Error(hr);
    storage_ = storage;
    PlaceAfterInit();
    return std::string("S_OK");
}

Outcome Host::LoadStorage(const std::string& rest) {
    ComPtr<IPersistStorage> persist;
    if (auto c = NeedStorage(std::addressof(persist)); !c) return c.error();
    std::string bytes;
    if (!ParseHex(rest, &bytes)) return Refuse("bad hex: " + rest);
    ComPtr<IStorage> storage;
    HRESULT hr = CreateStorageOnMemory(&storage);
    if (FAILED(hr)) return Error(hr);
    {
        ComPtr<IStream> stream;
        hr = storage->CreateStream(kContents, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                   0, 0, &stream);
        if (FAILED(hr)) return Error(hr);
        ULONG written = 0;
        hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
        if (FAILED(hr)) return Error(hr);
    }
    if (FAILED(hr = persist->Load(storage.Get()))) return Error(hr);
    storage_ = storage;
    PlaceAfterInit();
    return std::string("S_OK");
}

Outcome Host::SaveStorage(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    ComPtr<IPersistStorage> persist;
    if (auto c = NeedStorage(std::addressof(persist)); !c) return c.error();
    // Into the object's own storage ("save"), else into a new one ("save as"), which the object
    // then takes.
    const bool same = static_cast<bool>(storage_);
    ComPtr<IStorage> storage = storage_;
    HRESULT hr = S_OK;
    if (!same && FAILED(hr = CreateStorageOnMemory(&storage))) return Error(hr);
    if (FAILED(hr = persist->Save(storage.Get(), same ? TRUE : FALSE))) return Error(hr);
    if (FAILED(hr = persist->SaveCompleted(same ? nullptr : storage.Get()))) return Error(hr);
    storage_ = storage;
    std::string bytes;
    if (FAILED(hr = ContentsOf(storage.Get(), &bytes))) return Error(hr);
    return Hex(bytes);
}

Outcome Host::HandsOff(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    ComPtr<IPersistStorage> persist;
    if (auto c = NeedStorage(std::addressof(persist)); !c) return c.error();
    HRESULT hr = persist->HandsOffStorage();
    if (FAILED(hr)) return Error(hr);
    return std::string("S_OK");
}

Outcome Host::SaveCompleted(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    ComPtr<IPersistStorage> persist;
    if (auto c = NeedStorage(std::addressof(persist)); !c) return c.error();
    HRESULT hr = persist->SaveCompleted(storage_.Get());
    if (FAILED(hr)) return Error(hr);
    return std::string("S_OK");
}

Check Host::NeedMemory(ComPtr<IPersistMemory>* persist) const {
    if (auto c = NeedObject(); !c) return c;
    HRESULT hr = object_.As(IID_IPersistMemory, persist);
    if (FAILED(hr)) return Error(hr, "the object has no memory persistence");
    return {};
}

Outcome Host::SaveMemory(const std::string& rest) {
    if (auto c = NoArguments(rest); !c) return c.error();
    ComPtr<IPersistMemory> persist;
    if (auto c = NeedMemory(std::addressof(persist)); !c) return c.error();
    ULONG size = 0;
    HRESULT hr = persist->GetSizeMax(&size);
    if (FAILED(hr)) return Error(hr);
    std::string bytes(size, '\0');
    if (FAILED(hr = persist->Save(bytes.data(), TRUE, size))) return Error(hr);
    return Hex(bytes);
}

Outcome Host::LoadMemory(const std::string& rest) {
    ComPtr<IPersistMemory> persist;
    if (auto c = NeedMemory(std::addressof(persist)); !c) return c.error();
    std::string bytes;
    if (!ParseHex(rest, &bytes)) return Refuse("bad hex: " + rest);
    HRESULT hr = persist->Load(bytes.data(), static_cast<ULONG>(bytes.size()));
    if (FAILED(hr)) return Error(hr);
    PlaceAfterInit();
    return std::string("S_OK");
}

}  // namespace ocxhost
