// Damaged and hostile input to the tag service: the reader reports
// exception_io_data and leaves the record alone; no input crashes it.
#include <gtest/gtest.h>

#include <random>

#include "id3v2_test_util.h"

namespace {

using id3test::TagServiceTest;

class TagServiceBadInput : public TagServiceTest {
  protected:
    // Reads file `name` into a record holding one field; returns whether the
    // read succeeded, and checks that a failed read left the record alone.
    bool TryRead(const std::string& name) {
        file_info_impl info;
        info.meta_set("keep", "me");
        file_ptr f;
        filesystem::g_open_read(f, HostPath(name).c_str(), abort);
        try {
            tag_processor_id3v2::g_get()->read(f, info, abort);
            return true;
        } catch (const exception_io_data&) {
            EXPECT_STREQ(info.meta_get("keep", 0), "me");
            EXPECT_EQ(info.meta_get_count(), 1u);
            return false;
        }
    }
};

TEST_F(TagServiceBadInput, NotATag) {
    testsupport::WriteBytes(dir / "empty", {});
    testsupport::WriteText(dir / "short", "ID3");
    testsupport::WriteText(dir / "text", "This is not an ID3v2 tag at all");
    testsupport::WriteBytes(dir / "badsize", {'I', 'D', '3', 4, 0, 0, 0x80, 0, 0, 0});
    testsupport::WriteBytes(dir / "badversion", {'I', 'D', '3', 9, 0, 0, 0, 0, 0, 1, 0});
    for (const char* name : {"empty", "short", "text", "badsize", "badversion"}) {
        EXPECT_FALSE(TryRead(name)) << name;
    }
}

TEST_F(TagServiceBadInput, SizeBeyondTheEndOfTheFile) {
    // Claims 256 MB but holds a few bytes: refused without allocating it.
    testsupport::WriteBytes(dir / "huge",
                            {'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F, 'T', 'I', 'T', '2'});
    EXPECT_FALSE(TryRead("huge"));

    file_info_impl info;
    info.meta_set("title", "truncated");
    WriteTag("cut", info);
    auto bytes = testsupport::ReadBytes(dir / "cut");
    bytes.resize(bytes.size() / 2);
    testsupport::WriteBytes(dir / "cut", bytes);
    EXPECT_FALSE(TryRead("cut"));
}

TEST_F(TagServiceBadInput, FlippedBytesNeverCrash) {
    file_info_impl info;
    info.meta_set("title", "A title");
    info.meta_set("artist", "An artist");
    info.meta_set("mood", "calm");
    info.meta_set("comment", "a comment");
    replaygain_info rg;
    rg.m_track_gain = -1;
    info.set_replaygain(rg);
    WriteTag("good", info);
    const auto good = testsupport::ReadBytes(dir / "good");
    // Only the frames matter; the padding after them is zeros.
    size_t used = good.size();
    while (used > 10 && good[used - 1] == 0) --used;

    std::mt19937 random(1234);
    int read_ok = 0;
    for (int round = 0; round < 250; ++round) {
        auto bytes = good;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) {
            bytes[random() % used] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
        testsupport::WriteBytes(dir / "flipped", bytes);
        if (TryRead("flipped")) ++read_ok;
    }
    EXPECT_GT(read_ok, 0);  // most flips land in frame text and still parse
}

TEST_F(TagServiceBadInput, AbortedCallsThrowBeforeTouchingTheFile) {
    file_info_impl info;
    info.meta_set("title", "x");
    WriteTag("a", info);
    const auto before = testsupport::ReadBytes(dir / "a");
    abort_callback_impl aborting;
    aborting.abort();
    file_ptr f;
    filesystem::g_open(f, HostPath("a").c_str(), filesystem::open_mode_write_existing, abort);
    file_info_impl other;
    other.meta_set("title", "changed");
    EXPECT_THROW(tag_processor_id3v2::g_get()->write(f, other, no_temp, aborting), exception_aborted);
    EXPECT_THROW(tag_processor_id3v2::g_get()->read(f, other, aborting), exception_aborted);
    f.release();
    EXPECT_EQ(testsupport::ReadBytes(dir / "a"), before);
}

}  // namespace
