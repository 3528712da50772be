// IStream over memory: reads, writes, seeks, sizes, copies, locks, status and clones.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/com/memory_stream.h"
#include "platform/com/objidl.h"
#include "tests/platform/com/failing_stream.h"

namespace {

ComPtr<IStream> Make(const std::string& bytes) {
    ComPtr<IStream> s;
    EXPECT_EQ(CreateStreamOnMemory(bytes.data(), static_cast<ULONG>(bytes.size()), &s), S_OK);
    return s;
}

std::string BytesOf(IStream* s) {
    std::string bytes;
    EXPECT_TRUE(GetMemoryStreamBytes(s, &bytes));
    return bytes;
}

ULONGLONG SeekTo(IStream* s, LONGLONG offset, DWORD origin, HRESULT expect = S_OK) {
    ULARGE_INTEGER pos{~0ull};
    EXPECT_EQ(s->Seek(LARGE_INTEGER{offset}, origin, &pos), expect);
    return pos.QuadPart;
}

TEST(MemoryStream, ShortReadsAnswerSFalseWithTheCount) {
    auto s = Make("abcdef");
    char buf[8] = {};
    ULONG got = 99;
    EXPECT_EQ(s->Read(buf, 4, &got), S_OK);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(s->Read(buf, 8, &got), S_FALSE);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buf, 2), "ef");
    EXPECT_EQ(s->Read(buf, 1, &got), S_FALSE);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(s->Read(buf, 0, nullptr), S_OK);
    EXPECT_EQ(s->Read(nullptr, 1, &got), STG_E_INVALIDPOINTER);
}

TEST(MemoryStream, SeeksFromEachOriginAndRefusesNegativePositions) {
    auto s = Make("0123456789");
    EXPECT_EQ(SeekTo(s.Get(), 3, STREAM_SEEK_SET), 3u);
    EXPECT_EQ(SeekTo(s.Get(), 2, STREAM_SEEK_CUR), 5u);
    EXPECT_EQ(SeekTo(s.Get(), -1, STREAM_SEEK_END), 9u);
    EXPECT_EQ(SeekTo(s.Get(), -4, STREAM_SEEK_CUR), 5u);
    SeekTo(s.Get(), -6, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION);
    SeekTo(s.Get(), -11, STREAM_SEEK_END, STG_E_INVALIDFUNCTION);
    SeekTo(s.Get(), 0, 3, STG_E_INVALIDFUNCTION);
    ASSERT_EQ(s->Seek(LARGE_INTEGER{INT64_MAX}, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(s->Seek(LARGE_INTEGER{1}, STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(SeekTo(s.Get(), 0, STREAM_SEEK_CUR), static_cast<ULONGLONG>(INT64_MAX));
    // A failed seek leaves the position where it was; far past the end a write is refused.
    ULONG put = 7;
    EXPECT_EQ(s->Write("x", 1, &put), STG_E_MEDIUMFULL);
    EXPECT_EQ(put, 0u);
    EXPECT_EQ(BytesOf(s.Get()), "0123456789");
}

TEST(MemoryStream, WritesGrowTheStreamAndFillGapsWithZeros) {
    ComPtr<IStream> s;
    ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &s), S_OK);
    ULONG put = 0;
    EXPECT_EQ(s->Write("abc", 3, &put), S_OK);
    EXPECT_EQ(put, 3u);
    SeekTo(s.Get(), 5, STREAM_SEEK_SET);
    EXPECT_EQ(s->Write("z", 1, nullptr), S_OK);
    EXPECT_EQ(BytesOf(s.Get()), std::string("abc\0\0z", 6));
    SeekTo(s.Get(), 1, STREAM_SEEK_SET);
    EXPECT_EQ(s->Write("XY", 2, nullptr), S_OK);  // overwrites in place
    EXPECT_EQ(BytesOf(s.Get()), std::string("aXY\0\0z", 6));

    EXPECT_EQ(s->SetSize(ULARGE_INTEGER{2}), S_OK);
    EXPECT_EQ(BytesOf(s.Get()), "aX");
    EXPECT_EQ(SeekTo(s.Get(), 0, STREAM_SEEK_CUR), 3u);  // SetSize leaves the position alone
    EXPECT_EQ(s->SetSize(ULARGE_INTEGER{4}), S_OK);
    EXPECT_EQ(BytesOf(s.Get()), std::string("aX\0\0", 4));
    EXPECT_EQ(s->SetSize(ULARGE_INTEGER{1ull << 40}), STG_E_MEDIUMFULL);
    EXPECT_EQ(s->Commit(0), S_OK);
    EXPECT_EQ(s->Revert(), S_OK);
    EXPECT_EQ(BytesOf(s.Get()), std::string("aX\0\0", 4));
    EXPECT_EQ(s->Write(nullptr, 1, nullptr), STG_E_INVALIDPOINTER);
}

TEST(MemoryStream, ClonesShareBytesButNotPosition) {
    auto s = Make("hello");
    SeekTo(s.Get(), 2, STREAM_SEEK_SET);
    ComPtr<IStream> c;
    ASSERT_EQ(s->Clone(&c), S_OK);
    EXPECT_EQ(SeekTo(c.Get(), 0, STREAM_SEEK_CUR), 2u);
    EXPECT_EQ(c->Write("LL", 2, nullptr), S_OK);
    EXPECT_EQ(BytesOf(s.Get()), "heLLo");
    EXPECT_EQ(SeekTo(s.Get(), 0, STREAM_SEEK_CUR), 2u);
    s.Reset();  // the clone keeps the bytes alive
    EXPECT_EQ(BytesOf(c.Get()), "heLLo");
}

TEST(MemoryStream, InterfacesAndForeignStreams) {
    auto s = Make("");
    ComPtr<IUnknown> unk;
    EXPECT_EQ(s.As(IID_IUnknown, std::addressof(unk)), S_OK);
    ComPtr<ISequentialStream> seq;
    EXPECT_EQ(s.As(IID_ISequentialStream, std::addressof(seq)), S_OK);
    ComPtr<IPersist> persist;
    EXPECT_EQ(s.As(IID_IPersist, std::addressof(persist)), E_NOINTERFACE);
    EXPECT_EQ(CreateStreamOnMemory("x", 1, nullptr), E_POINTER);
    IStream* raw = reinterpret_cast<IStream*>(1);
    EXPECT_EQ(CreateStreamOnMemory(nullptr, 3, &raw), E_INVALIDARG);
    EXPECT_EQ(raw, nullptr);

    FailingReadStream foreign("ab");
    std::string bytes;
    EXPECT_FALSE(GetMemoryStreamBytes(&foreign, &bytes));
    EXPECT_FALSE(GetMemoryStreamBytes(nullptr, &bytes));
    char buf[4];
    ULONG got = 0;
    EXPECT_EQ(foreign.Read(buf, 4, &got), STG_E_READFAULT);
    EXPECT_EQ(got, 2u);
}

TEST(MemoryStream, CopyToMovesFromThePositionIntoTheTarget) {
    auto s = Make("0123456789");
    SeekTo(s.Get(), 2, STREAM_SEEK_SET);
    auto target = Make("ab");
    SeekTo(target.Get(), 1, STREAM_SEEK_SET);
    ULARGE_INTEGER read{~0ull}, written{~0ull};
    EXPECT_EQ(s->CopyTo(target.Get(), ULARGE_INTEGER{3}, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 3u);
    EXPECT_EQ(written.QuadPart, 3u);
    EXPECT_EQ(BytesOf(target.Get()), "a234");
    EXPECT_EQ(SeekTo(s.Get(), 0, STREAM_SEEK_CUR), 5u);
    EXPECT_EQ(SeekTo(target.Get(), 0, STREAM_SEEK_CUR), 4u);

    // More than is left copies what is left; at the end, nothing.
    EXPECT_EQ(s->CopyTo(target.Get(), ULARGE_INTEGER{~0ull}, &read, nullptr), S_OK);
    EXPECT_EQ(read.QuadPart, 5u);
    EXPECT_EQ(BytesOf(target.Get()), "a23456789");
    EXPECT_EQ(s->CopyTo(target.Get(), ULARGE_INTEGER{4}, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 0u);
    EXPECT_EQ(written.QuadPart, 0u);
    EXPECT_EQ(s->CopyTo(nullptr, ULARGE_INTEGER{1}, &read, &written), STG_E_INVALIDPOINTER);
}

TEST(MemoryStream, CopyToAClonePastTheEndGrowsTheSharedBytes) {
    // The clone's writes reallocate the very bytes being copied.
    const std::string text(100000, 'q');
    auto s = Make(text);
    ComPtr<IStream> c;
    ASSERT_EQ(s->Clone(&c), S_OK);
    SeekTo(c.Get(), 0, STREAM_SEEK_END);
    ULARGE_INTEGER read{}, written{};
    EXPECT_EQ(s->CopyTo(c.Get(), ULARGE_INTEGER{text.size()}, &read, &written), S_OK);
    EXPECT_EQ(written.QuadPart, text.size());
    EXPECT_EQ(BytesOf(s.Get()), text + text);
}

TEST(MemoryStream, CopyToAFailingTargetStopsWithItsAnswer) {
    auto s = Make("abc");
    FailingReadStream full;  // takes every write
    ULARGE_INTEGER read{}, written{};
    EXPECT_EQ(s->CopyTo(&full, ULARGE_INTEGER{2}, &read, &written), S_OK);
    EXPECT_EQ(full.written(), "ab");

    auto small = Make("");
    ASSERT_EQ(small->Seek(LARGE_INTEGER{0xFFFFFFFFll}, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(s->CopyTo(small.Get(), ULARGE_INTEGER{1}, &read, &written), STG_E_MEDIUMFULL);
    EXPECT_EQ(read.QuadPart, 1u);  // read, but not written
    EXPECT_EQ(written.QuadPart, 0u);
}

TEST(MemoryStream, StatGivesTheSizeAndNoLocksOrName) {
    auto s = Make("abc");
    STATSTG stat;
    std::memset(&stat, 0xCC, sizeof stat);
    ASSERT_EQ(s->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(stat.type, DWORD(STGTY_STREAM));
    EXPECT_EQ(stat.cbSize.QuadPart, 3u);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(stat.grfLocksSupported, 0u);
    EXPECT_EQ(stat.grfMode, STGM_READWRITE);
    EXPECT_EQ(stat.clsid, GUID_NULL);

    ASSERT_EQ(s->Seek(LARGE_INTEGER{10}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(s->Write("z", 1, nullptr), S_OK);
    ASSERT_EQ(s->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 11u);
    EXPECT_EQ(s->Stat(nullptr, STATFLAG_DEFAULT), STG_E_INVALIDPOINTER);
    EXPECT_EQ(s->Stat(&stat, 8), STG_E_INVALIDFLAG);

    EXPECT_EQ(s->LockRegion(ULARGE_INTEGER{0}, ULARGE_INTEGER{1}, LOCK_WRITE),
              STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->UnlockRegion(ULARGE_INTEGER{0}, ULARGE_INTEGER{1}, LOCK_WRITE),
              STG_E_INVALIDFUNCTION);
}

}  // namespace
