// The control inside a host: its persistent stream, reset, status, type name, verbs and pages.
#include "platform/com/combase.h"
#include "platform/com/memory_storage.h"
#include "platform/com/memory_stream.h"
#include "tests/portctl/pinbus_fixture.h"
#include "tests/support/variant.h"

namespace {

using EmbeddingTest = PinbusTest;

// The extent until a host sets one: the 24 x 22 pixel picture in HIMETRIC (635 x 582).
const std::string kNewObjectStream =
    Hex("00 00 01 00 7b 02 00 00 46 02 00 00 00 00 00 00 78 03 00 00 08 00");
// What Lensbay's form holds for each of its two port objects.
const std::string kFormStream =
    Hex("00 00 01 00 3d 04 00 00 69 03 00 00 00 00 00 00 78 03 00 00 08 00");

TEST_F(EmbeddingTest, NewObjectStream) {
    auto c = NewControl();
    EXPECT_EQ(Save(c), kNewObjectStream);
    SIZEL size{1085, 873};
    ASSERT_EQ(Ole(c)->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(Save(c), kFormStream);
    ULARGE_INTEGER max{};
    ASSERT_EQ(Persist(c)->GetSizeMax(&max), S_OK);
    EXPECT_EQ(max.QuadPart, 22u);
    CLSID clsid{};
    ASSERT_EQ(Persist(c)->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Pinbus);
}

TEST_F(EmbeddingTest, FormStreamLoadsAndSavesUnchanged) {
    auto c = NewControl(false);
    ASSERT_EQ(Load(c, kFormStream), S_OK);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    EXPECT_EQ(GetI4(c.Get(), kAddress), 0x378);
    EXPECT_EQ(GetI2(c.Get(), kBits), 8);
    SIZEL size{};
    ASSERT_EQ(Ole(c)->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, 1085);
    EXPECT_EQ(size.cy, 873);
    EXPECT_EQ(Save(c), kFormStream);
}

TEST_F(EmbeddingTest, StoredValuesAreTakenUnchecked) {
    auto c = NewControl();
    // Bits 12, Address -1, an unknown version and a stock mask: all taken as they are.
    ASSERT_EQ(Load(c, Hex("07 00 09 00 01 00 00 00 02 00 00 00 ff 00 00 00 ff ff ff ff 0c 00")),
              S_OK);
    EXPECT_EQ(GetI2(c.Get(), kBits), 12);
    EXPECT_EQ(GetI4(c.Get(), kAddress), -1);
    // A later save writes the current version and no stock properties.
    EXPECT_EQ(Save(c), Hex("00 00 01 00 01 00 00 00 02 00 00 00 00 00 00 00 ff ff ff ff 0c 00"));
}

TEST_F(EmbeddingTest, ShortOrFailingStreamsChangeNothing) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x278)), S_OK);
    const std::string before = Save(c, FALSE);
    EXPECT_TRUE(FAILED(Load(c, kFormStream.substr(0, 21))));
    EXPECT_TRUE(FAILED(Load(c, "")));
    EXPECT_EQ(Save(c, FALSE), before);
    EXPECT_EQ(Persist(c)->IsDirty(), S_OK);
    EXPECT_EQ(Persist(c)->Load(nullptr), E_POINTER);

    // A longer stream: 22 bytes are read and the rest is left for the host.
    ComPtr<IStream> stream;
    const std::string longer = kFormStream + "more";
    ASSERT_EQ(CreateStreamOnMemory(longer.data(), ULONG(longer.size()), &stream), S_OK);
    ASSERT_EQ(Persist(c)->Load(stream.Get()), S_OK);
    char rest[8] = {};
    ULONG read = 0;
    ASSERT_EQ(stream->Read(rest, sizeof rest, &read), S_FALSE);
    EXPECT_EQ(std::string(rest, read), "more");
}

TEST_F(EmbeddingTest, SaveLeavesTheStreamJustPastTheState) {
    auto c = NewControl();
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
    ASSERT_EQ(Persist(c)->Save(stream.Get(), TRUE), S_OK);
    ASSERT_EQ(stream->Write("X", 1, nullptr), S_OK);
    std::string bytes;
    ASSERT_TRUE(GetMemoryStreamBytes(stream.Get(), &bytes));
    EXPECT_EQ(bytes, kNewObjectStream + "X");
}

TEST_F(EmbeddingTest, ResetRestoresTheDefaults) {
    auto c = NewControl();
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(0x3BC)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(16)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kValue, VarI4(5)), S_OK);
    ASSERT_EQ(Persist(c)->InitNew(), S_OK);
    EXPECT_EQ(GetI4(c.Get(), kAddress), 0x378);
    EXPECT_EQ(GetI2(c.Get(), kBits), 8);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);

    // Also after a load of other values.
    ASSERT_EQ(Load(c, Hex("00 00 01 00 3d 04 00 00 69 03 00 00 00 00 00 00 bc 02 00 00 10 00")),
              S_OK);
    ASSERT_EQ(Persist(c)->InitNew(), S_OK);
    EXPECT_EQ(GetI4(c.Get(), kAddress), 0x378);
    EXPECT_EQ(GetI2(c.Get(), kBits), 8);
}

TEST_F(EmbeddingTest, StatusTypeNamePagesAndVerbs) {
    auto c = NewControl();
    auto ole = Ole(c);
    DWORD misc = 0;
    ASSERT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(misc, 132497u);
    EXPECT_EQ(misc, OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INVISIBLEATRUNTIME |
                        OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                        OLEMISC_RECOMPOSEONRESIZE);

    LPOLESTR name = nullptr;
    ASSERT_EQ(ole->GetUserType(USERCLASSTYPE_FULL, &name), S_OK);
    EXPECT_EQ(std::u16string(name), u"Pinbus Control");
    CoTaskMemFree(name);

    // The one page, in an array the caller frees, the same on every request.
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(c.As(IID_ISpecifyPropertyPages, std::addressof(specify)), S_OK);
    for (int request = 0; request < 2; ++request) {
        CAUUID pages{0, nullptr};
        ASSERT_EQ(specify->GetPages(&pages), S_OK);
        ASSERT_EQ(pages.cElems, 1u);
        EXPECT_EQ(pages.pElems[0], CLSID_PinbusPropPage);
        CoTaskMemFree(pages.pElems);
    }

    // The standard verbs, then the properties verb, and nothing past it.
    ComPtr<IEnumOLEVERB> verbs;
    ASSERT_EQ(ole->EnumVerbs(&verbs), S_OK);
    std::vector<LONG> order;
    OLEVERB verb{};
    ULONG fetched = 0;
    while (verbs->Next(1, &verb, &fetched) == S_OK) {
        order.push_back(verb.lVerb);
        if (verb.lVerb == OLEIVERB_PROPERTIES) {
            EXPECT_EQ(std::u16string(verb.lpszVerbName), u"&Properties...");
            EXPECT_EQ(verb.grfAttribs,
                      DWORD(OLEVERBATTRIB_ONCONTAINERMENU | OLEVERBATTRIB_NEVERDIRTIES));
        }
        CoTaskMemFree(verb.lpszVerbName);
    }
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(order, (std::vector<LONG>{0, -1, -2, -3, -4, -5, -6, -7}));
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    EXPECT_TRUE(cycles.empty());
}

}  // namespace

// Kept in a container's storage and in a memory block: the 22 bytes of the stream, in the
// storage's stream "Contents"; and what quick activation answers for Pinbus.
namespace {

const std::string kPutStream =  // Address 956, Bits 16, the form's extent
    Hex("00 00 01 00 3d 04 00 00 69 03 00 00 00 00 00 00 bc 03 00 00 10 00");

ComPtr<IPersistStorage> Storage(const ComPtr<IDispatch>& control) {
    ComPtr<IPersistStorage> storage;
    EXPECT_EQ(control.As(IID_IPersistStorage, std::addressof(storage)), S_OK);
    return storage;
}
ComPtr<IPersistMemory> Memory(const ComPtr<IDispatch>& control) {
    ComPtr<IPersistMemory> memory;
    EXPECT_EQ(control.As(IID_IPersistMemory, std::addressof(memory)), S_OK);
    return memory;
}

TEST_F(EmbeddingTest, StorageAndMemoryHoldTheStreamsBytes) {
    auto c = NewControl(false);
    ComPtr<IStorage> storage;
    ASSERT_EQ(CreateStorageOnMemory(&storage), S_OK);
    ASSERT_EQ(Storage(c)->InitNew(storage.Get()), S_OK);
    SIZEL size{1085, 873};
    ASSERT_EQ(Ole(c)->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kAddress, VarI4(956)), S_OK);
    ASSERT_EQ(PutProp(c.Get(), kBits, VarI2(16)), S_OK);
    ASSERT_EQ(Storage(c)->Save(storage.Get(), TRUE), S_OK);
    ASSERT_EQ(Storage(c)->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(Storage(c)->IsDirty(), S_FALSE);
    ComPtr<IStream> contents;
    ASSERT_EQ(
        storage->OpenStream(u"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &contents),
        S_OK);
    std::string bytes;
    ASSERT_TRUE(GetMemoryStreamBytes(contents.Get(), &bytes));
    contents.Reset();
    EXPECT_EQ(bytes, kPutStream);
    EXPECT_EQ(Save(c), kPutStream);

    std::string block(22, '\0');
    ULONG max = 0;
    ASSERT_EQ(Memory(c)->GetSizeMax(&max), S_OK);
    EXPECT_EQ(max, 22u);
    ASSERT_EQ(Memory(c)->Save(block.data(), TRUE, ULONG(block.size())), S_OK);
    EXPECT_EQ(block, kPutStream);

    // Restored into new objects, from the storage and from the block.
    auto fromStorage = NewControl(false);
    ASSERT_EQ(Storage(fromStorage)->Load(storage.Get()), S_OK);
    EXPECT_EQ(GetI4(fromStorage.Get(), kAddress), 956);
    EXPECT_EQ(GetI2(fromStorage.Get(), kBits), 16);
    EXPECT_EQ(Storage(fromStorage)->Load(storage.Get()), CO_E_ALREADYINITIALIZED);
    auto fromMemory = NewControl(false);
    ASSERT_EQ(Memory(fromMemory)->Load(block.data(), ULONG(block.size())), S_OK);
    EXPECT_EQ(Save(fromMemory), kPutStream);
    EXPECT_TRUE(cycles.empty());
}

TEST_F(EmbeddingTest, QuickActivationAnswersTheStatusAndConnectsTheEvents) {
    auto c = NewControl(false);
    ComPtr<IQuickActivate> quick;
    ASSERT_EQ(c.As(IID_IQuickActivate, std::addressof(quick)), S_OK);
    struct EventSink final : CountedObject {
        STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
            *ppv = nullptr;
            if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
            *ppv = static_cast<IDispatch*>(this);
            ++refs;
            return S_OK;
        }
    } events;
    QACONTAINER qa{};
    qa.cbSize = sizeof qa;
    qa.pUnkEventSink = &events;
    QACONTROL answer{};
    answer.cbSize = sizeof answer;
    ASSERT_EQ(quick->QuickActivate(&qa, &answer), S_OK);
    EXPECT_EQ(answer.dwMiscStatus, 0x20591u);
    EXPECT_EQ(answer.dwViewStatus, DWORD(VIEWSTATUS_OPAQUE));
    EXPECT_NE(answer.dwEventCookie, 0u);
    EXPECT_EQ(answer.dwPropNotifyCookie, 0u);
    ASSERT_EQ(Persist(c)->InitNew(), S_OK);  // quick activation does not initialise
    EXPECT_EQ(Save(c), kNewObjectStream);
    ComPtr<IConnectionPointContainer> points;
    ASSERT_EQ(c.As(IID_IConnectionPointContainer, std::addressof(points)), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(points->FindConnectionPoint(IID_DPinbusEvents, &point), S_OK);
    ASSERT_EQ(point->Unadvise(answer.dwEventCookie), S_OK);
    EXPECT_EQ(events.refs, 1u);
}

}  // namespace
