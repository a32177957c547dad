// MP3 specifics: detection, ID3v1 kept in step, picture kinds.
#include <gtest/gtest.h>

#include "container_fixtures.h"
#include "medialib/core/dispatch.h"
#include "medialib/mpeg/mp3_file.h"

namespace {

using namespace medialib;
namespace fs = std::filesystem;

TEST(Mp3Check, AcceptsId3OrAFrameHeader) {
    const uint8_t id3[] = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 10};
    const uint8_t frame[] = {0xFF, 0xFB, 0x90, 0x64};
    const uint8_t bad_rate[] = {0xFF, 0xFB, 0x9C, 0x64};
    const uint8_t text[] = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    EXPECT_TRUE(LooksLikeMp3(id3));
    EXPECT_TRUE(LooksLikeMp3(frame));
    EXPECT_FALSE(LooksLikeMp3(bad_rate));
    EXPECT_FALSE(LooksLikeMp3(text));
}

TEST(Mp3Check, AnId3TagInFrontOfNoAudioIsNotAnMp3) {
    std::vector<uint8_t> bytes = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 10};
    bytes.resize(2000, 0x41);
    auto src = MemorySource(bytes);
    EXPECT_FALSE(OpenMediaSource(*src, "fake.mp3"));
}

TEST(Mp3Id3v1, IsRefreshedFromTheNewValues) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path mp3 = dir / "v1.mp3";
    ASSERT_TRUE(fixtures::MakeTone(mp3, "-c:a libmp3lame -write_id3v1 1 -metadata title=Old"));
    auto file = OpenMediaFile(mp3);
    ASSERT_TRUE(file);
    AttributeSet tags;
    tags[attr::Title] = {u"Fresh"};
    ASSERT_TRUE(file->Save(mp3, tags));
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(mp3);
    ASSERT_GT(bytes.size(), 128u);
    const std::string v1(bytes.end() - 128, bytes.end());
    ASSERT_EQ(v1.substr(0, 3), "TAG");
    EXPECT_EQ(v1.substr(3, 5), "Fresh");
}

TEST(Mp3Pictures, JacketPositionsKeepTheirKinds) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path mp3 = dir / "pics.mp3";
    ASSERT_TRUE(fixtures::MakeTone(mp3, "-c:a libmp3lame"));
    AttributeSet tags;
    ValueList five;
    for (uint8_t i = 0; i < 6; ++i) five.emplace_back(fixtures::Picture("image/png", fixtures::PngBytes(i)));
    tags[attr::Jacket] = five;
    auto file = OpenMediaFile(mp3);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Save(mp3, tags));
    auto reopened = OpenMediaFile(mp3);
    ASSERT_TRUE(reopened);
    const ValueList& got = reopened->Attributes().at(attr::Jacket);
    ASSERT_EQ(got.size(), 5u) << "a jacket list holds five kinds";
    for (size_t i = 0; i < 5; ++i) EXPECT_TRUE(SameValue(got[i], five[i])) << i;
}

}  // namespace
