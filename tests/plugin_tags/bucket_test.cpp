// The pieces of the profile store that work without the disk: the bucket of a
// key path, the trailer bytes, and finding the stored path in a window.
#include <gtest/gtest.h>

#include "platform/text/text.h"
#include "plugin/tags/profile_store.h"
#include "side_tag_fixture.h"

namespace {

using corvina::ProfileBucketOf;
using corvina::ProfileTrailer;
using corvina::StoredKeyPathIn;

TEST(ProfileBucket, KnownPathsAndTheDriveLeftOut) {
    // \MUSIC\ + TRACK + .OMA add up to 1209 = 0x4B9; 0x04 + 0xB9 = 0xBD.
    EXPECT_EQ(ProfileBucketOf(u"D:\\MUSIC\\TRACK.OMA"), 0xBDu);
    EXPECT_EQ(ProfileBucketOf(u"E:\\MUSIC\\TRACK.OMA"), 0xBDu);
    EXPECT_EQ(ProfileBucketOf(u"\\MUSIC\\TRACK.OMA"), 0xBDu);
    // "/" separates too and counts with its own code unit.
    EXPECT_EQ(ProfileBucketOf(u"D:/MUSIC/TRACK.OMA"),
              ((1209 - 2 * 0x5C + 2 * 0x2F) >> 8) + ((1209 - 2 * 0x5C + 2 * 0x2F) & 0xFF));
    // The sum of both bytes wraps at 256: 0x01 + 0xFF = 0x100 -> 0x00.
    EXPECT_EQ(ProfileBucketOf(u"X"), 0x58u);
    EXPECT_EQ(ProfileBucketOf(u"\u01FF"), 0x00u);
    EXPECT_EQ(ProfileBucketOf(u"\u0300\u0300"), 0x06u);  // 0x600: only bits 8-15 count
}

TEST(ProfileBucket, NoKeyNoBucket) {
    EXPECT_FALSE(ProfileBucketOf(nullptr));
    EXPECT_FALSE(ProfileBucketOf(u""));
}

TEST(ProfileBucket, LongPathsSplitInsteadOfFailing) {
    // A folder of 300 units did not fit the Windows 256-unit buffers; it now
    // has a bucket, computed by the same sum.
    const std::u16string folder = u"\\" + std::u16string(298, u'F') + u"\\";
    const std::u16string key = u"D:" + folder + u"TRACK.OMA";
    uint32_t sum = 0;
    for (char16_t c : folder + u"TRACK.OMA") sum += c;
    EXPECT_EQ(ProfileBucketOf(key.c_str()), (((sum >> 8) & 0xFF) + (sum & 0xFF)) % 256);
    const std::u16string huge = u"/" + std::u16string(5000, u'N') + u".OMA";
    EXPECT_TRUE(ProfileBucketOf(huge.c_str()).has_value());
}

TEST(ProfileTrailerBytes, ZerosAroundLittleEndianUnits) {
    EXPECT_EQ(ProfileTrailer(u"A\u00C9\u65E5"),
              (std::vector<uint8_t>{0, 0, 0x41, 0, 0xC9, 0, 0xE5, 0x65, 0, 0}));
    EXPECT_EQ(ProfileTrailer(nullptr), (std::vector<uint8_t>{0, 0, 0, 0}));
}

std::vector<uint8_t> Window(const std::vector<uint8_t>& head, const std::u16string& path) {
    std::vector<uint8_t> out = head;
    const auto trailer = ProfileTrailer(path.c_str());
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
}

TEST(StoredKeyPath, FoundBetweenZeroUnits) {
    bool more = true;
    auto path = StoredKeyPathIn(Window({'x', 'y'}, u"/A/B.OMA"), false, more);
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, u"/A/B.OMA");
    EXPECT_FALSE(more);
}

TEST(StoredKeyPath, RefusedWithoutTerminatorOrPath) {
    bool more = true;
    std::vector<uint8_t> no_end = Window({'x', 'y'}, u"/A");
    no_end.back() = 'z';
    EXPECT_FALSE(StoredKeyPathIn(no_end, false, more));
    EXPECT_FALSE(more);
    EXPECT_FALSE(StoredKeyPathIn(Window({'x', 'y'}, u""), false, more));  // 00 00 00 00
    EXPECT_FALSE(more);
    EXPECT_FALSE(StoredKeyPathIn({}, false, more));
}

TEST(StoredKeyPath, PathReachingTheWindowStartAsksForMore) {
    bool more = false;
    // The window starts inside the path: its beginning is missing.
    std::vector<uint8_t> cut = Window({}, u"/LONG/PATH.OMA");
    cut.erase(cut.begin(), cut.begin() + 4);
    EXPECT_FALSE(StoredKeyPathIn(cut, false, more));
    EXPECT_TRUE(more);
    // The whole file without a zero before the path has no trailer at all.
    EXPECT_FALSE(StoredKeyPathIn(cut, true, more));
    EXPECT_FALSE(more);
}

class StoredFile : public sidetagtest::SideTagStore {};

TEST_F(StoredFile, ExistsWithoutRegardToCaseButNotAsFolder) {
    const auto audio = MakeAudio("Music/Mixed Case/Song.oma");
    EXPECT_TRUE(corvina::StoredFileExists(platform::Utf8ToUtf16(audio.string())));
    EXPECT_TRUE(corvina::StoredFileExists(KeyOf(audio)));
    EXPECT_FALSE(corvina::StoredFileExists(KeyOf(audio.parent_path())));  // a folder
    EXPECT_FALSE(corvina::StoredFileExists(KeyOf(dir / "Music/Mixed Case/Gone.oma")));
    EXPECT_FALSE(corvina::StoredFileExists(u"D:\\MUSIC\\TRACK.OMA"));
    EXPECT_FALSE(corvina::StoredFileExists(u""));
}

TEST_F(StoredFile, NamesWhoseUpperCaseDoesNotFoldBackStillExist) {
    // Dotless i upper-cases to I, and I folds to a dotted i: the key path of
    // this file does not equal its name without regard to case, yet it names it.
    const auto audio = MakeAudio("Music/K\u0131rm\u0131z\u0131/\u0131\u015F\u0131k.oma");
    ASSERT_EQ(KeyOf(audio).find(u'\u0131'), std::u16string::npos);
    EXPECT_TRUE(corvina::StoredFileExists(KeyOf(audio)));
}

}  // namespace
