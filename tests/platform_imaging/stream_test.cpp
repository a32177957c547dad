// The memory stream: writing, reading, seeking, size, interfaces.
#include "platform/imaging/stream.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/unknown.h"

namespace {

ComPtr<IStream> NewStream() {
    IStream* raw = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &raw), S_OK);
    return ComPtr<IStream>::Adopt(raw);
}

ULONGLONG Size(IStream* s) {
    STATSTG stat{};
    EXPECT_EQ(s->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(stat.type, STGTY_STREAM);
    return stat.cbSize.QuadPart;
}

ULONGLONG SeekTo(IStream* s, LONGLONG offset, DWORD origin, HRESULT expected = S_OK) {
    LARGE_INTEGER move{};
    move.QuadPart = offset;
    ULARGE_INTEGER at{};
    EXPECT_EQ(s->Seek(move, origin, &at), expected);
    return at.QuadPart;
}

TEST(ImagingStream, WriteSeekReadAndStat) {
    auto s = NewStream();
    EXPECT_EQ(Size(s.Get()), 0u);
    ULONG n = 0;
    ASSERT_EQ(s->Write("abcdef", 6, &n), S_OK);
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(Size(s.Get()), 6u);

    // At the end nothing more can be read.
    char buf[16] = {};
    EXPECT_EQ(s->Read(buf, 4, &n), S_FALSE);
    EXPECT_EQ(n, 0u);

    EXPECT_EQ(SeekTo(s.Get(), 0, STREAM_SEEK_SET), 0u);
    EXPECT_EQ(s->Read(buf, 4, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "abcd");
    EXPECT_EQ(s->Read(buf, 10, &n), S_FALSE);  // a short read
    EXPECT_EQ(std::string(buf, n), "ef");

    EXPECT_EQ(SeekTo(s.Get(), -2, STREAM_SEEK_END), 4u);
    EXPECT_EQ(SeekTo(s.Get(), -1, STREAM_SEEK_CUR), 3u);
    ASSERT_EQ(s->Write("XYZ", 3, nullptr), S_OK);  // overwrites "def"
    EXPECT_EQ(Size(s.Get()), 6u);
    SeekTo(s.Get(), 0, STREAM_SEEK_SET);
    EXPECT_EQ(s->Read(buf, 6, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "abcXYZ");
}

TEST(ImagingStream, GapsAreZeroFilledAndBadSeeksRefused) {
    auto s = NewStream();
    EXPECT_EQ(SeekTo(s.Get(), 4, STREAM_SEEK_SET), 4u);
    EXPECT_EQ(Size(s.Get()), 0u);  // seeking alone does not grow it
    ASSERT_EQ(s->Write("z", 1, nullptr), S_OK);
    EXPECT_EQ(Size(s.Get()), 5u);
    SeekTo(s.Get(), 0, STREAM_SEEK_SET);
    char buf[5];
    ULONG n = 0;
    ASSERT_EQ(s->Read(buf, 5, &n), S_OK);
    EXPECT_EQ(std::memcmp(buf, "\0\0\0\0z", 5), 0);

    SeekTo(s.Get(), -1, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION);
    SeekTo(s.Get(), 0, 7, STG_E_INVALIDFUNCTION);
    SeekTo(s.Get(), 0x100000000ll, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION);
    EXPECT_EQ(SeekTo(s.Get(), 0, STREAM_SEEK_CUR), 5u);  // unchanged by the refusals

    ULARGE_INTEGER size{};
    size.QuadPart = 2;
    ASSERT_EQ(s->SetSize(size), S_OK);
    EXPECT_EQ(Size(s.Get()), 2u);
}

TEST(ImagingStream, InterfacesAndArguments) {
    auto s = NewStream();
    EXPECT_TRUE(s.As<IUnknown>());
    EXPECT_TRUE(s.As<ISequentialStream>());
    EXPECT_FALSE(s.As<IClassFactory>());
    EXPECT_EQ(s->Stat(nullptr, STATFLAG_NONAME), STG_E_INVALIDPOINTER);
    EXPECT_EQ(s->Write(nullptr, 3, nullptr), STG_E_INVALIDPOINTER);
    EXPECT_EQ(s->Write(nullptr, 0, nullptr), S_OK);

    IStream* out = reinterpret_cast<IStream*>(1);
    int global = 0;
    EXPECT_EQ(CreateStreamOnHGlobal(&global, TRUE, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, nullptr), E_POINTER);
}

}  // namespace
