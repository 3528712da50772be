// The control inside a host: its persistent stream, reset, status, verbs, pages and picture.
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
    ASSERT_EQ(Embedding(c)->SetExtent(DVASPECT_CONTENT, &size), S_OK);
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
    ASSERT_EQ(Embedding(c)->GetExtent(DVASPECT_CONTENT, &size), S_OK);
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
    auto e = Embedding(c);
    DWORD misc = 0;
    ASSERT_EQ(e->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(misc, 132497u);
    EXPECT_EQ(misc, OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INVISIBLEATRUNTIME |
                        OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                        OLEMISC_RECOMPOSEONRESIZE);

    BSTR name = nullptr;
    ASSERT_EQ(e->GetUserType(&name), S_OK);
    EXPECT_EQ(std::u16string(name), u"Pinbus Control");
    SysFreeString(name);

    CLSID pages[2] = {};
    ULONG count = 0;
    ASSERT_EQ(e->GetPages(2, pages, &count), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(pages[0], CLSID_PinbusPropPage);
    // The list is served unchanged on every request.
    ASSERT_EQ(e->GetPages(0, nullptr, &count), S_OK);
    EXPECT_EQ(count, 1u);

    ULONG verbs = 0;
    ASSERT_EQ(e->GetVerbCount(&verbs), S_OK);
    bool properties = false;
    for (ULONG i = 0; i < verbs; ++i) {
        LONG verb = 0;
        DWORD attribs = 0;
        ASSERT_EQ(e->GetVerb(i, &verb, &name, &attribs), S_OK);
        if (verb == OLEIVERB_PROPERTIES) {
            properties = true;
            EXPECT_EQ(std::u16string(name), u"&Properties...");
            EXPECT_TRUE(attribs & OLEVERBATTRIB_ONCONTAINERMENU);
        }
        SysFreeString(name);
    }
    EXPECT_TRUE(properties);
    EXPECT_EQ(e->DoVerb(OLEIVERB_SHOW), S_OK);
    EXPECT_EQ(e->DoVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
    EXPECT_EQ(Persist(c)->IsDirty(), S_FALSE);
    EXPECT_TRUE(cycles.empty());
}

}  // namespace
