// COleControl in a container's storage and memory block, and quick activation: the same bytes as
// its stream, the storage's modes (normal, no-scribble, hands-off) and what QuickActivate takes
// and answers.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/guid_text.h"
#include "platform/com/memory_storage.h"
#include "platform/com/memory_stream.h"
#include "tests/platform/ctl/test_control.h"
#include "tests/support/recording_site.h"
#include "tests/support/variant.h"

namespace {

using test_support::RecordingAdviseSink;
using test_support::RecordingSite;

std::string Le32(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string Le16(WORD v) { return std::string(reinterpret_cast<const char*>(&v), 2); }

// The stream form of the test control: version, extent, stock mask, Long, Short.
std::string Stream(LONG cx, LONG cy, LONG l, SHORT s) {
    return Le32(0x00020003) + Le32(cx) + Le32(cy) + Le32(0) + Le32(l) + Le16(s);
}

ComPtr<IStorage> NewStorage() {
    ComPtr<IStorage> storage;
    EXPECT_EQ(CreateStorageOnMemory(&storage), S_OK);
    return storage;
}

// The bytes of a storage's stream "Contents" (empty when it has none).
std::string Contents(IStorage* storage) {
    ComPtr<IStream> stream;
    if (FAILED(storage->OpenStream(u"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                   &stream)))
        return {};
    std::string bytes;
    EXPECT_TRUE(GetMemoryStreamBytes(stream.Get(), &bytes));
    return bytes;
}

void PutContents(IStorage* storage, const std::string& bytes) {
    ComPtr<IStream> stream;
    ASSERT_EQ(storage->CreateStream(u"Contents", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0,
                                    0, &stream),
              S_OK);
    ASSERT_EQ(stream->Write(bytes.data(), ULONG(bytes.size()), nullptr), S_OK);
}

// A sink of the control's events: it speaks IDispatch.
struct EventSink final : CountedObject {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        ++refs;
        return S_OK;
    }
};

// {A1B2C3D4-0003-4000-8000-00000000C0DE}
constexpr IID IID_DTestEvents = {
    0xA1B2C3D4, 0x0003, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};

// The test control with an event interface and an opaque picture.
class CEventTestCtrl final : public CTestCtrl {
public:
    CEventTestCtrl() { InitializeIIDs(&IID_DTestCtrl, &IID_DTestEvents); }

protected:
    DWORD GetViewStatus() const override { return VIEWSTATUS_OPAQUE; }
};

class StorageTest : public ::testing::Test {
protected:
    void TearDown() override {
        ctrl->SetClientSite(nullptr);
        EXPECT_EQ(ctrl->Release(), 0u);
    }
    IPersistStorage* Storage(CTestCtrl* c = nullptr) { return c ? c : ctrl; }
    IPersistMemory* Memory() { return ctrl; }
    IPersistStreamInit* StreamPersist() { return ctrl; }
    std::string StreamBytes() {
        ComPtr<IStream> stream;
        EXPECT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
        EXPECT_EQ(StreamPersist()->Save(stream.Get(), FALSE), S_OK);
        std::string bytes;
        EXPECT_TRUE(GetMemoryStreamBytes(stream.Get(), &bytes));
        return bytes;
    }
    CTestCtrl* ctrl = NewTestCtrl();
};

TEST_F(StorageTest, TheStorageKeepsTheStreamsBytesInContents) {
    ComPtr<IStorage> storage = NewStorage();
    ASSERT_EQ(Storage()->InitNew(storage.Get()), S_OK);
    EXPECT_EQ(Storage()->IsDirty(), S_FALSE);
    EXPECT_EQ(Contents(storage.Get()), "");  // nothing written before a save
    SIZEL form{1085, 873};
    ASSERT_EQ(ctrl->SetExtent(DVASPECT_CONTENT, &form), S_OK);
    ctrl->SetLong(956);
    EXPECT_EQ(Storage()->IsDirty(), S_OK);

    RecordingAdviseSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(ctrl->Advise(&sink, &cookie), S_OK);
    ASSERT_EQ(Storage()->Save(storage.Get(), TRUE), S_OK);
    EXPECT_EQ(Storage()->IsDirty(), S_FALSE);
    const std::string saved = Contents(storage.Get());
    EXPECT_EQ(saved, Stream(1085, 873, 956, 7));
    EXPECT_EQ(saved, StreamBytes());
    EXPECT_TRUE(sink.calls.empty());
    ASSERT_EQ(Storage()->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(sink.calls, std::vector<std::string>{"OnSave"});
    ASSERT_EQ(ctrl->Unadvise(cookie), S_OK);

    // A second object loads what the first saved, and saves it again unchanged.
    CTestCtrl* other = NewTestCtrl();
    ASSERT_EQ(Storage(other)->Load(storage.Get()), S_OK);
    EXPECT_EQ(other->m_long, 956);
    EXPECT_EQ(Storage(other)->IsDirty(), S_FALSE);
    ComPtr<IStorage> copy = NewStorage();
    ASSERT_EQ(Storage(other)->Save(copy.Get(), FALSE), S_OK);
    EXPECT_EQ(Contents(copy.Get()), saved);
    EXPECT_EQ(other->Release(), 0u);
}

TEST_F(StorageTest, InitialisedOnceAndNoStorageWhileHandsOff) {
    ComPtr<IStorage> storage = NewStorage();
    EXPECT_EQ(Storage()->InitNew(nullptr), E_POINTER);
    EXPECT_EQ(Storage()->Load(nullptr), E_POINTER);
    EXPECT_EQ(Storage()->Save(nullptr, TRUE), E_POINTER);
    EXPECT_EQ(Storage()->SaveCompleted(nullptr), E_UNEXPECTED);  // no save to complete
    ASSERT_EQ(Storage()->InitNew(storage.Get()), S_OK);
    EXPECT_EQ(Storage()->InitNew(storage.Get()), CO_E_ALREADYINITIALIZED);
    PutContents(storage.Get(), Stream(10, 20, 30, 40));
    EXPECT_EQ(Storage()->Load(storage.Get()), CO_E_ALREADYINITIALIZED);
    EXPECT_EQ(ctrl->m_long, 5);

    // Saved into another storage without clearing the flag: no-scribble until completed.
    ctrl->SetLong(8);
    ComPtr<IStorage> other = NewStorage();
    ASSERT_EQ(Storage()->Save(other.Get(), FALSE), S_OK);
    EXPECT_EQ(Storage()->IsDirty(), S_OK);
    ASSERT_EQ(Storage()->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(Storage()->SaveCompleted(nullptr), E_UNEXPECTED);

    // Hands off: no storage until the container gives one; then saving works again.
    ASSERT_EQ(Storage()->HandsOffStorage(), S_OK);
    EXPECT_EQ(Storage()->Save(other.Get(), TRUE), E_UNEXPECTED);
    EXPECT_EQ(Storage()->IsDirty(), S_OK);
    EXPECT_EQ(Storage()->SaveCompleted(nullptr), E_INVALIDARG);
    ASSERT_EQ(Storage()->SaveCompleted(other.Get()), S_OK);
    ASSERT_EQ(Storage()->Save(other.Get(), TRUE), S_OK);
    EXPECT_EQ(Contents(other.Get()), Stream(2646, 1323, 8, 7));
    EXPECT_EQ(Storage()->IsDirty(), S_FALSE);

    // After a save, hands off, then the new storage: the usual "save as".
    ASSERT_EQ(Storage()->HandsOffStorage(), S_OK);
    ASSERT_EQ(Storage()->SaveCompleted(storage.Get()), S_OK);
}

TEST_F(StorageTest, AFailedLoadLeavesTheObjectAsItWasAndUninitialised) {
    ctrl->SetLong(77);
    ComPtr<IStorage> storage = NewStorage();
    EXPECT_EQ(Storage()->Load(storage.Get()), STG_E_FILENOTFOUND);
    PutContents(storage.Get(), Stream(10, 20, 30, 40).substr(0, 21));
    EXPECT_EQ(Storage()->Load(storage.Get()), STG_E_READFAULT);
    EXPECT_EQ(ctrl->m_long, 77);
    EXPECT_EQ(Storage()->IsDirty(), S_OK);

    PutContents(storage.Get(), Stream(10, 20, 30, 40));
    ASSERT_EQ(Storage()->Load(storage.Get()), S_OK);
    EXPECT_EQ(ctrl->m_long, 30);
    EXPECT_EQ(ctrl->m_short, 40);
    EXPECT_EQ(Storage()->IsDirty(), S_FALSE);
}

TEST_F(StorageTest, AStreamTheStorageWillNotGiveFailsTheSave) {
    ComPtr<IStorage> storage = NewStorage();
    ASSERT_EQ(Storage()->InitNew(storage.Get()), S_OK);
    PutContents(storage.Get(), "old");
    ComPtr<IStream> held;  // open elsewhere: the storage refuses a second opening
    ASSERT_EQ(storage->OpenStream(u"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &held),
              S_OK);
    ctrl->SetLong(9);
    EXPECT_EQ(Storage()->Save(storage.Get(), TRUE), STG_E_ACCESSDENIED);
    EXPECT_EQ(Storage()->IsDirty(), S_OK);
    EXPECT_EQ(Storage()->SaveCompleted(nullptr), E_UNEXPECTED);  // still in normal mode
    held.Reset();
    EXPECT_EQ(Contents(storage.Get()), "old");
}

TEST_F(StorageTest, MemoryHoldsTheStreamsBytesAndNeverWritesPastTheBlock) {
    ASSERT_EQ(Memory()->InitNew(), S_OK);
    ctrl->SetLong(956);
    ULONG size = 0;
    ASSERT_EQ(Memory()->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size, 22u);
    EXPECT_EQ(Memory()->GetSizeMax(nullptr), E_POINTER);

    std::string block(30, '\xCC');
    EXPECT_EQ(Memory()->Save(block.data(), TRUE, 21), STG_E_MEDIUMFULL);
    EXPECT_EQ(block, std::string(30, '\xCC'));
    EXPECT_EQ(Memory()->IsDirty(), S_OK);
    EXPECT_EQ(Memory()->Save(nullptr, TRUE, 30), E_POINTER);
    ASSERT_EQ(Memory()->Save(block.data(), FALSE, 30), S_OK);
    EXPECT_EQ(Memory()->IsDirty(), S_OK);
    EXPECT_EQ(block.substr(0, 22), StreamBytes());
    EXPECT_EQ(block.substr(22), std::string(8, '\xCC'));
    ASSERT_EQ(Memory()->Save(block.data(), TRUE, 22), S_OK);
    EXPECT_EQ(Memory()->IsDirty(), S_FALSE);

    // Loading: a short block or none changes nothing; a longer one is read for 22 bytes.
    std::string stored = Stream(10, 20, 12, 16) + "tail";
    EXPECT_EQ(Memory()->Load(stored.data(), 21), STG_E_READFAULT);
    EXPECT_EQ(Memory()->Load(nullptr, 22), E_POINTER);
    EXPECT_EQ(ctrl->m_long, 956);
    ctrl->SetModifiedFlag();
    ASSERT_EQ(Memory()->Load(stored.data(), ULONG(stored.size())), S_OK);
    EXPECT_EQ(ctrl->m_long, 12);
    EXPECT_EQ(ctrl->m_short, 16);
    EXPECT_EQ(Memory()->IsDirty(), S_FALSE);
    // Loading twice is fine, as with a stream.
    ASSERT_EQ(Memory()->Load(block.data(), 22), S_OK);
    EXPECT_EQ(ctrl->m_long, 956);
}

class QuickActivateTest : public ::testing::Test {
protected:
    void TearDown() override {
        ctrl->SetClientSite(nullptr);
        EXPECT_EQ(ctrl->Release(), 0u);
    }
    QACONTAINER Container() {
        QACONTAINER qa{};
        qa.cbSize = sizeof qa;
        qa.pClientSite = &site;
        qa.pAdviseSink = &sink;
        qa.pUnkEventSink = &events;
        qa.dwAmbientFlags = QACONTAINER_USERMODE | QACONTAINER_AUTOCLIP;
        return qa;
    }
    IQuickActivate* Quick() { return ctrl; }
    CEventTestCtrl* ctrl = [] {
        auto* c = new CEventTestCtrl();
        c->AddRef();
        return c;
    }();
    RecordingSite site;
    RecordingAdviseSink sink;
    EventSink events;
};

TEST_F(QuickActivateTest, TakesTheSiteAndSinksAndAnswersTheStatus) {
    QACONTAINER qa = Container();
    QACONTROL answer{};
    answer.cbSize = sizeof answer;
    answer.dwPropNotifyCookie = 0xDEAD;
    ASSERT_EQ(Quick()->QuickActivate(&qa, &answer), S_OK);
    EXPECT_EQ(answer.cbSize, sizeof(QACONTROL));
    DWORD misc = 0;
    ASSERT_EQ(ctrl->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(answer.dwMiscStatus, misc);
    EXPECT_EQ(answer.dwViewStatus, DWORD(VIEWSTATUS_OPAQUE));
    EXPECT_NE(answer.dwEventCookie, 0u);
    EXPECT_EQ(answer.dwPropNotifyCookie, 0u);
    EXPECT_EQ(answer.dwPointerActivationPolicy, 0u);
    EXPECT_EQ(ctrl->GetQuickAmbientFlags(), DWORD(QACONTAINER_USERMODE | QACONTAINER_AUTOCLIP));

    // The site is the control's; the advise sink is the view's; the event sink is connected.
    EXPECT_EQ(ctrl->GetClientSite(), static_cast<IOleClientSite*>(&site));
    IAdviseSink* viewSink = nullptr;
    DWORD aspects = 0, advf = 0;
    ASSERT_EQ(ctrl->GetAdvise(&aspects, &advf, &viewSink), S_OK);
    EXPECT_EQ(viewSink, static_cast<IAdviseSink*>(&sink));
    EXPECT_EQ(aspects, DWORD(DVASPECT_CONTENT));
    if (viewSink) viewSink->Release();
    EXPECT_GT(events.refs, 1u);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(ctrl->FindConnectionPoint(IID_DTestEvents, &point), S_OK);
    ASSERT_EQ(point->Unadvise(answer.dwEventCookie), S_OK);
    EXPECT_EQ(events.refs, 1u);

    // The content extent is the object's.
    SIZEL form{1085, 873};
    ASSERT_EQ(Quick()->SetContentExtent(&form), S_OK);
    SIZEL extent{};
    ASSERT_EQ(ctrl->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, 1085);
    SIZEL content{};
    ASSERT_EQ(Quick()->GetContentExtent(&content), S_OK);
    EXPECT_EQ(content.cy, 873);
    EXPECT_EQ(Quick()->SetContentExtent(nullptr), E_POINTER);
    EXPECT_EQ(Quick()->GetContentExtent(nullptr), E_POINTER);
}

TEST_F(QuickActivateTest, OlderShorterOrMissingStructures) {
    // A sink that does not take the events: no connection, cookie 0, the rest as usual.
    CountedObject deaf;
    QACONTAINER qa = Container();
    qa.pUnkEventSink = &deaf;
    qa.pAdviseSink = nullptr;
    // An older container: its QACONTAINER ends at pBindHost, its QACONTROL at the cookies; what
    // lies past its size is not written.
    qa.cbSize = offsetof(QACONTAINER, pOleControlSite);
    QACONTROL answer{};
    answer.cbSize = offsetof(QACONTROL, dwPointerActivationPolicy);
    answer.dwPointerActivationPolicy = 0xBEEF;
    ASSERT_EQ(Quick()->QuickActivate(&qa, &answer), S_OK);
    EXPECT_EQ(answer.dwEventCookie, 0u);
    EXPECT_EQ(answer.dwMiscStatus, 0x20591u);
    EXPECT_EQ(answer.dwPointerActivationPolicy, 0xBEEFu);
    EXPECT_EQ(deaf.refs, 1u);
    IAdviseSink* viewSink = reinterpret_cast<IAdviseSink*>(0x1);
    ASSERT_EQ(ctrl->GetAdvise(nullptr, nullptr, &viewSink), S_OK);
    EXPECT_EQ(viewSink, nullptr);

    qa.cbSize = offsetof(QACONTAINER, pOleControlSite) - 1;
    EXPECT_EQ(Quick()->QuickActivate(&qa, &answer), E_INVALIDARG);
    qa.cbSize = sizeof qa;
    answer.cbSize = offsetof(QACONTROL, dwPointerActivationPolicy) - 1;
    EXPECT_EQ(Quick()->QuickActivate(&qa, &answer), E_INVALIDARG);
    EXPECT_EQ(Quick()->QuickActivate(nullptr, &answer), E_POINTER);
    EXPECT_EQ(Quick()->QuickActivate(&qa, nullptr), E_POINTER);
}

// The platform's layouts, which a 32-bit host and a 64-bit host each lay out their own way.
TEST(QuickActivateLayout, ThePlatformsOffsets) {
    constexpr bool wide = sizeof(void*) == 8;
    EXPECT_EQ(offsetof(QACONTAINER, pClientSite), wide ? 8u : 4u);
    EXPECT_EQ(offsetof(QACONTAINER, dwAmbientFlags), wide ? 40u : 20u);
    EXPECT_EQ(offsetof(QACONTAINER, pFont), wide ? 56u : 32u);
    EXPECT_EQ(offsetof(QACONTAINER, hpal), wide ? 80u : 48u);
    EXPECT_EQ(offsetof(QACONTAINER, pOleControlSite), wide ? 96u : 56u);
    EXPECT_EQ(sizeof(QACONTAINER), wide ? 112u : 64u);
    EXPECT_EQ(offsetof(QACONTROL, dwPointerActivationPolicy), 20u);
    EXPECT_EQ(sizeof(QACONTROL), 24u);
}

}  // namespace
