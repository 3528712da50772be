// The control inside a host: its persistent stream, reset, status, type name, verbs and pages.
#include "platform/com/combase.h"
#include "platform/com/memory_stream.h"
#include "tests/portctl/pinbus_fixture.h"

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
