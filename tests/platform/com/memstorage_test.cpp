// The storage in memory: streams by name as a compound file keeps them (names, sharing modes,
// one opening at a time), their bytes shared with the storage, and the storage's class.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/com_ptr.h"
#include "platform/com/memory_storage.h"
#include "platform/com/memory_stream.h"

namespace {

constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kOpen = STGM_READ | STGM_SHARE_EXCLUSIVE;

class MemoryStorageTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CreateStorageOnMemory(&storage), S_OK); }
    std::string Bytes(const OLECHAR* name) {
        ComPtr<IStream> stream;
        EXPECT_EQ(storage->OpenStream(name, nullptr, kOpen, 0, &stream), S_OK);
        std::string bytes;
        if (stream) {
            EXPECT_TRUE(GetMemoryStreamBytes(stream.Get(), &bytes));
        }
        return bytes;
    }
    ComPtr<IStorage> storage;
};

TEST_F(MemoryStorageTest, StreamsByNameKeepTheirBytes) {
    ComPtr<IStream> stream;
    ASSERT_EQ(storage->CreateStream(u"Contents", kCreate, 0, 0, &stream), S_OK);
    ASSERT_EQ(stream->Write("\x01\x02\x03", 3, nullptr), S_OK);
    stream.Reset();
    // Names compare without regard to case, as in a compound file.
    EXPECT_EQ(Bytes(u"CONTENTS"), "\x01\x02\x03");
    // Created again without STGM_CREATE: refused; with it: emptied.
    EXPECT_EQ(storage->CreateStream(u"contents", STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream),
              STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(stream.Get(), nullptr);
    ASSERT_EQ(storage->CreateStream(u"Contents", kCreate, 0, 0, &stream), S_OK);
    stream.Reset();
    EXPECT_EQ(Bytes(u"Contents"), "");

    EXPECT_EQ(storage->OpenStream(u"Other", nullptr, kOpen, 0, &stream), STG_E_FILENOTFOUND);
    ASSERT_EQ(storage->RenameElement(u"Contents", u"Other"), S_OK);
    EXPECT_EQ(storage->OpenStream(u"Contents", nullptr, kOpen, 0, &stream), STG_E_FILENOTFOUND);
    ASSERT_EQ(storage->OpenStream(u"Other", nullptr, kOpen, 0, &stream), S_OK);
    stream.Reset();
    ASSERT_EQ(storage->DestroyElement(u"other"), S_OK);
    EXPECT_EQ(storage->DestroyElement(u"other"), STG_E_FILENOTFOUND);
}

TEST_F(MemoryStorageTest, NamesModesAndOneOpeningAtATime) {
    ComPtr<IStream> stream;
    EXPECT_EQ(storage->CreateStream(u"", kCreate, 0, 0, &stream), STG_E_INVALIDNAME);
    EXPECT_EQ(storage->CreateStream(u"a/b", kCreate, 0, 0, &stream), STG_E_INVALIDNAME);
    EXPECT_EQ(storage->CreateStream(std::u16string(32, u'x').c_str(), kCreate, 0, 0, &stream),
              STG_E_INVALIDNAME);
    EXPECT_EQ(storage->CreateStream(std::u16string(31, u'x').c_str(), kCreate, 0, 0, &stream),
              S_OK);
    EXPECT_EQ(storage->CreateStream(nullptr, kCreate, 0, 0, &stream), STG_E_INVALIDPOINTER);
    EXPECT_EQ(storage->CreateStream(u"s", kCreate, 0, 0, nullptr), STG_E_INVALIDPOINTER);
    // Streams are opened for exclusive use only.
    EXPECT_EQ(storage->CreateStream(u"s", STGM_CREATE | STGM_READWRITE, 0, 0, &stream),
              STG_E_INVALIDFLAG);
    EXPECT_EQ(storage->CreateStream(u"s", STGM_CREATE | STGM_READWRITE | STGM_SHARE_DENY_NONE, 0, 0,
                                    &stream),
              STG_E_INVALIDFLAG);

    ComPtr<IStream> first;
    ASSERT_EQ(storage->CreateStream(u"s", kCreate, 0, 0, &first), S_OK);
    EXPECT_EQ(storage->OpenStream(u"s", nullptr, kOpen, 0, &stream), STG_E_ACCESSDENIED);
    EXPECT_EQ(storage->CreateStream(u"s", kCreate, 0, 0, &stream), STG_E_ACCESSDENIED);
    EXPECT_EQ(storage->DestroyElement(u"s"), STG_E_ACCESSDENIED);
    first.Reset();
    EXPECT_EQ(storage->OpenStream(u"s", nullptr, kOpen, 0, &stream), S_OK);
}

TEST_F(MemoryStorageTest, ClassStatAndCopy) {
    constexpr CLSID kClass = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
    ASSERT_EQ(storage->SetClass(kClass), S_OK);
    ASSERT_EQ(storage->SetStateBits(0xF0, 0x30), S_OK);
    STATSTG stat{};
    ASSERT_EQ(storage->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.type, DWORD(STGTY_STORAGE));
    EXPECT_EQ(stat.clsid, kClass);
    EXPECT_EQ(stat.grfStateBits, 0x30u);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(storage->Stat(nullptr, STATFLAG_NONAME), STG_E_INVALIDPOINTER);

    ComPtr<IStream> stream;
    ASSERT_EQ(storage->CreateStream(u"Contents", kCreate, 0, 0, &stream), S_OK);
    ASSERT_EQ(stream->Write("abc", 3, nullptr), S_OK);
    stream.Reset();
    ComPtr<IStorage> copy;
    ASSERT_EQ(CreateStorageOnMemory(&copy), S_OK);
    ASSERT_EQ(storage->CopyTo(0, nullptr, nullptr, copy.Get()), S_OK);
    ASSERT_EQ(copy->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.clsid, kClass);
    ComPtr<IStream> copied;
    ASSERT_EQ(copy->OpenStream(u"Contents", nullptr, kOpen, 0, &copied), S_OK);
    std::string bytes;
    ASSERT_TRUE(GetMemoryStreamBytes(copied.Get(), &bytes));
    EXPECT_EQ(bytes, "abc");

    // Nested storages are not kept.
    ComPtr<IStorage> nested;
    EXPECT_EQ(storage->CreateStorage(u"Sub", kCreate, 0, 0, &nested), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(nested.Get(), nullptr);
}

}  // namespace
