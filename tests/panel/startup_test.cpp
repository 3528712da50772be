// The window's port objects placed as a form host places a control: the client site first, then
// the stored stream; never activated; closed, the site taken back and released when the window
// lets them go. A recording stand-in for the control is registered as Pinbus's class object.
#include "panel/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/objidl.h"
#include "platform/com/oleidl.h"

namespace {

// Answers what the window asks of a control and writes each call down ("Load 22 bytes").
class PlacedControl final : public IDispatch, public IOleObject, public IPersistStreamInit {
public:
    explicit PlacedControl(std::vector<std::string>* log) : log_(log) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch) *ppv = static_cast<IDispatch*>(this);
        if (riid == IID_IOleObject) *ppv = static_cast<IOleObject*>(this);
        if (riid == IID_IPersistStreamInit) *ppv = static_cast<IPersistStreamInit*>(this);
        if (riid == IID_IOleObject || riid == IID_IPersistStreamInit)
            log_->push_back(riid == IID_IOleObject ? "QueryInterface IOleObject"
                                                   : "QueryInterface IPersistStreamInit");
        if (!*ppv) return E_NOINTERFACE;
        ++refs;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--refs == 0) log_->push_back("released");
        return refs;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
        log_->push_back(site ? "SetClientSite" : "SetClientSite null");
        if (site && refuseSite) return E_FAIL;
        if (site) site->AddRef();
        if (site_) site_->Release();
        site_ = site;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override {
        return Note("SetHostNames");
    }
    HRESULT STDMETHODCALLTYPE Close(DWORD option) override {
        return Note("Close " + std::to_string(option));
    }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND,
                                     LPCRECT) override {
        return Note("DoVerb " + std::to_string(verb));
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Update() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return Note("SetExtent"); }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
        *status = 0x20591;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override {
        std::string bytes(64, '\0');
        ULONG read = 0;
        stream->Read(bytes.data(), ULONG(bytes.size()), &read);
        bytes.resize(read);
        loaded = bytes;
        return Note("Load " + std::to_string(read) + " bytes");
    }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return Note("Save"); }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitNew() override { return Note("InitNew"); }

    ULONG refs = 0;
    bool refuseSite = false;
    std::string loaded;
    IOleClientSite* site_ = nullptr;

private:
    HRESULT Note(const std::string& call) {
        log_->push_back(call);
        return S_OK;
    }
    std::vector<std::string>* log_;
};

// Pinbus's class object for the test's life: each creation hands out the next control.
class Factory final : public IClassFactory {
public:
    explicit Factory(std::vector<PlacedControl*> controls) : controls_(std::move(controls)) {
        EXPECT_EQ(CoRegisterClassObject(panel::CLSID_PinbusCtrl, this, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie_),
                  S_OK);
    }
    ~Factory() { CoRevokeClassObject(cookie_); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        if (next_ == controls_.size()) return E_OUTOFMEMORY;
        return static_cast<IDispatch*>(controls_[next_++])->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::vector<PlacedControl*> controls_;
    std::size_t next_ = 0;
    DWORD cookie_ = 0;
};

TEST(Startup, PortObjectsGetTheirSiteBeforeTheirStreamAndCloseWhenLetGo) {
    std::vector<std::string> log1, log2;
    PlacedControl pinbus1(&log1), pinbus2(&log2);
    Factory factory({&pinbus1, &pinbus2});
    {
        base::Result<panel::PortObjects> objects = panel::CreatePortObjects("");
        ASSERT_TRUE(objects) << objects.message();
        const std::vector<std::string> placed{"QueryInterface IOleObject", "SetClientSite",
                                              "QueryInterface IPersistStreamInit", "Load 22 bytes"};
        EXPECT_EQ(log1, placed);
        EXPECT_EQ(log2, placed);
        EXPECT_EQ(pinbus1.loaded, std::string(panel::kPinbusStoredStream.begin(),
                                              panel::kPinbusStoredStream.end()));
        EXPECT_EQ(objects->pinbus1.Get(), static_cast<IDispatch*>(&pinbus1));
        EXPECT_EQ(objects->pinbus2.Get(), static_cast<IDispatch*>(&pinbus2));
        log1.clear();
        log2.clear();
        // Moved on, as the session moves them in: the objects stay placed.
        panel::PortObjects held = std::move(objects).value();
        EXPECT_TRUE(log1.empty());
    }
    const std::vector<std::string> letGo{"QueryInterface IOleObject", "Close 1",
                                         "SetClientSite null", "released"};
    EXPECT_EQ(log1, letGo);
    EXPECT_EQ(log2, letGo);
    EXPECT_EQ(pinbus1.site_, nullptr);
}

TEST(Startup, AControlThatWillNotTakeItsSiteIsNotLoaded) {
    std::vector<std::string> log1, log2;
    PlacedControl pinbus1(&log1), pinbus2(&log2);
    pinbus1.refuseSite = true;
    Factory factory({&pinbus1, &pinbus2});
    base::Result<panel::PortObjects> objects = panel::CreatePortObjects("");
    ASSERT_FALSE(objects);
    EXPECT_EQ(objects.message(),
              "the port object Pinbus1 cannot be placed on the window (0x80004005)");
    EXPECT_EQ(log1,
              (std::vector<std::string>{"QueryInterface IOleObject", "SetClientSite", "released"}));
    EXPECT_TRUE(log2.empty());
}

}  // namespace
