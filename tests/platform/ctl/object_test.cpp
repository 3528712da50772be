// Object identity and reference counting, and persistence of COleControl.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/com/guid_text.h"
#include "platform/com/memory_stream.h"
#include "tests/platform/ctl/test_control.h"

namespace {

std::vector<IID> ServedIids() {
    return {IID_IUnknown,           IID_IDispatch,
            IID_DTestCtrl,          IID_IPersist,
            IID_IPersistStreamInit, IID_IOleObject,
            IID_IOleWindow,         IID_IOleInPlaceObject,
            IID_IViewObject,        IID_IViewObject2,
            IID_IOleControl,        IID_ISpecifyPropertyPages,
            IID_IPersistStorage,    IID_IPersistMemory,
            IID_IQuickActivate,     IID_IOleInPlaceActiveObject};
}

IUnknown* Query(IUnknown* from, REFIID iid) {
    void* p = nullptr;
    EXPECT_EQ(from->QueryInterface(iid, &p), S_OK) << GuidToString(iid);
    return static_cast<IUnknown*>(p);
}

IUnknown* Identity(IUnknown* from) {
    IUnknown* unk = Query(from, IID_IUnknown);
    unk->Release();
    return unk;
}

TEST(ObjectTest, QueryInterfaceRules) {
    CTestCtrl* ctrl = NewTestCtrl();
    IUnknown* identity = Identity(static_cast<IDispatch*>(ctrl));
    for (const IID& a : ServedIids()) {
        IUnknown* pa = Query(static_cast<IDispatch*>(ctrl), a);
        ASSERT_NE(pa, nullptr);
        // Identity: every interface leads to the same IUnknown.
        EXPECT_EQ(Identity(pa), identity);
        // Reflexive: an interface yields itself.
        IUnknown* self = Query(pa, a);
        EXPECT_EQ(self, pa);
        self->Release();
        for (const IID& b : ServedIids()) {
            // Symmetric and transitive: from any interface to any other and back.
            IUnknown* pb = Query(pa, b);
            IUnknown* back = Query(pb, a);
            EXPECT_EQ(back, pa);
            back->Release();
            pb->Release();
        }
        pa->Release();
    }
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(ctrl->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(ctrl->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
    EXPECT_EQ(ctrl->Release(), 0u);
}

TEST(ObjectTest, ReferenceCountingAndObjectCount) {
    AFX_MODULE_STATE* state = AfxGetModuleState();
    const long before = state->m_nObjectCount;
    CTestCtrl* ctrl = NewTestCtrl();
    EXPECT_EQ(state->m_nObjectCount, before + 1);
    IPersistStreamInit* persist = nullptr;
    ASSERT_EQ(ctrl->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)),
              S_OK);
    EXPECT_EQ(ctrl->AddRef(), 3u);
    EXPECT_EQ(ctrl->Release(), 2u);
    EXPECT_EQ(ctrl->Release(), 1u);
    EXPECT_EQ(state->m_nObjectCount, before + 1);
    // The last reference, through any interface, destroys the object.
    EXPECT_EQ(persist->Release(), 0u);
    EXPECT_EQ(state->m_nObjectCount, before);
}

// A stream that fails or runs short on demand, recording what it is asked.
class FakeStream : public IStream {
public:
    std::string data;
    std::size_t pos = 0;
    HRESULT readResult = S_OK;
    HRESULT writeResult = S_OK;
    ULONG writeLimit = ~0u;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (FAILED(readResult)) return readResult;
        ULONG n = static_cast<ULONG>(std::min<std::size_t>(cb, data.size() - pos));
        std::memcpy(pv, data.data() + pos, n);
        pos += n;
        if (pcbRead) *pcbRead = n;
        return n < cb ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* written) override {
        if (FAILED(writeResult)) return writeResult;
        ULONG n = std::min(cb, writeLimit);
        data.append(static_cast<const char*>(pv), n);
        if (written) *written = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
};

std::string Le32(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string Le16(WORD v) { return std::string(reinterpret_cast<const char*>(&v), 2); }

class PersistTest : public ::testing::Test {
protected:
    void SetUp() override {
        ctrl = NewTestCtrl();
        ASSERT_EQ(ctrl->InitNew(), S_OK);
    }
    void TearDown() override { ctrl->Release(); }
    std::string Saved(BOOL clearDirty = TRUE) {
        FakeStream s;
        EXPECT_EQ(ctrl->Save(&s, clearDirty), S_OK);
        return s.data;
    }
    // The stream form: version, extent, stock mask, then the properties in exchange order.
    static std::string Stream(DWORD version, LONG cx, LONG cy, LONG l, SHORT s) {
        return Le32(version) + Le32(cx) + Le32(cy) + Le32(0) + Le32(l) + Le16(s);
    }
    CTestCtrl* ctrl = nullptr;
};

TEST_F(PersistTest, SaveWritesTheExchangeInOrder) {
    SIZEL size{1085, 873};
    ASSERT_EQ(ctrl->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(Saved(), Stream(0x00020003, 1085, 873, 5, 7));
    ULARGE_INTEGER max{};
    EXPECT_EQ(ctrl->GetSizeMax(&max), S_OK);
    EXPECT_EQ(max.QuadPart, 22u);
    CLSID clsid{};
    EXPECT_EQ(ctrl->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TestCtrl);
}

TEST_F(PersistTest, ModifiedFlag) {
    EXPECT_EQ(ctrl->IsDirty(), S_FALSE);
    ASSERT_EQ(PutProp(ctrl, kLong, VarI4(9)), S_OK);
    EXPECT_EQ(ctrl->IsDirty(), S_OK);
    // Saving without clearing keeps the flag; saving with clearing clears it.
    Saved(FALSE);
    EXPECT_EQ(ctrl->IsDirty(), S_OK);
    Saved(TRUE);
    EXPECT_EQ(ctrl->IsDirty(), S_FALSE);
    ASSERT_EQ(PutProp(ctrl, kLong, VarI4(10)), S_OK);
    FakeStream s;
    s.data = Stream(0x00010000, 1, 2, 3, 4);
    ASSERT_EQ(ctrl->Load(&s), S_OK);
    EXPECT_EQ(ctrl->IsDirty(), S_FALSE);
    ASSERT_EQ(PutProp(ctrl, kLong, VarI4(11)), S_OK);
    ASSERT_EQ(ctrl->InitNew(), S_OK);
    EXPECT_EQ(ctrl->IsDirty(), S_FALSE);
}

TEST_F(PersistTest, LoadTakesStoredValuesAndStopsAfterThem) {
    FakeStream s;
    s.data = Stream(0x00010000, 1085, 873, 0x10378, 12) + "tail";
    ASSERT_EQ(ctrl->Load(&s), S_OK);
    EXPECT_EQ(s.pos, 22u);
    EXPECT_EQ(ctrl->m_long, 0x10378);
    EXPECT_EQ(ctrl->m_short, 12);
    EXPECT_EQ(ctrl->GetLoadedVersion(), 0x00010000u);
    SIZEL size{};
    ASSERT_EQ(ctrl->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, 1085);
    EXPECT_EQ(size.cy, 873);
    // A later save converts to the current version and keeps the rest.
    EXPECT_EQ(Saved(), Stream(0x00020003, 1085, 873, 0x10378, 12));
}

TEST_F(PersistTest, FailedLoadsLeaveTheObjectAsItWas) {
    ASSERT_EQ(PutProp(ctrl, kLong, VarI4(99)), S_OK);
    const std::string before = Saved(FALSE);

    FakeStream shortStream;
    shortStream.data = Stream(0x00010000, 1, 2, 3, 4).substr(0, 21);
    EXPECT_TRUE(FAILED(ctrl->Load(&shortStream)));

    FakeStream empty;
    EXPECT_TRUE(FAILED(ctrl->Load(&empty)));

    FakeStream broken;
    broken.data = Stream(0x00010000, 1, 2, 3, 4);
    broken.readResult = STG_E_READFAULT;
    EXPECT_EQ(ctrl->Load(&broken), STG_E_READFAULT);

    EXPECT_EQ(ctrl->Load(static_cast<IStream*>(nullptr)), E_POINTER);
    EXPECT_EQ(Saved(FALSE), before);
    EXPECT_EQ(ctrl->IsDirty(), S_OK);
}

TEST_F(PersistTest, FailedSavesReportAndKeepTheFlag) {
    ASSERT_EQ(PutProp(ctrl, kLong, VarI4(99)), S_OK);
    FakeStream failing;
    failing.writeResult = STG_E_MEDIUMFULL;
    EXPECT_EQ(ctrl->Save(&failing, TRUE), STG_E_MEDIUMFULL);
    FakeStream shortWrite;
    shortWrite.writeLimit = 10;
    EXPECT_EQ(ctrl->Save(&shortWrite, TRUE), STG_E_MEDIUMFULL);
    EXPECT_EQ(ctrl->IsDirty(), S_OK);
    EXPECT_EQ(ctrl->Save(static_cast<IStream*>(nullptr), TRUE), E_POINTER);
    EXPECT_EQ(ctrl->GetSizeMax(static_cast<ULARGE_INTEGER*>(nullptr)), E_POINTER);
    EXPECT_EQ(ctrl->GetClassID(nullptr), E_POINTER);
}

TEST_F(PersistTest, ResetRestoresDefaultsButKeepsTheExtent) {
    SIZEL size{500, 600};
    ASSERT_EQ(ctrl->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    ASSERT_EQ(PutProp(ctrl, kLong, VarI4(1)), S_OK);
    ASSERT_EQ(PutProp(ctrl, kShort, VarI2(2)), S_OK);
    ASSERT_EQ(ctrl->InitNew(), S_OK);
    EXPECT_EQ(Saved(), Stream(0x00020003, 500, 600, 5, 7));
}

TEST_F(PersistTest, MemoryStreamRoundTrip) {
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
    ctrl->m_long = -64648;
    ctrl->m_short = 16;
    ASSERT_EQ(ctrl->Save(stream.Get(), TRUE), S_OK);
    std::string bytes;
    ASSERT_TRUE(GetMemoryStreamBytes(stream.Get(), &bytes));
    EXPECT_EQ(bytes.size(), 22u);

    CTestCtrl* other = NewTestCtrl();
    ComPtr<IStream> in;
    ASSERT_EQ(CreateStreamOnMemory(bytes.data(), ULONG(bytes.size()), &in), S_OK);
    ASSERT_EQ(other->Load(in.Get()), S_OK);
    EXPECT_EQ(other->m_long, -64648);
    EXPECT_EQ(other->m_short, 16);
    other->Release();
}

}  // namespace
