// ISO base media specifics: 3GPP asset boxes, capability of 3GP, HE-AAC.
#include "medialib/mp4/mp4_file.h"

#include <gtest/gtest.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>

#include "container_fixtures.h"
#include "medialib/detect/dispatch.h"
#include "medialib/mp4/asset_boxes.h"

namespace {

using namespace medialib;
namespace fs = std::filesystem;

TEST(Mp4AssetBoxes, ThreeGpTagsWrittenByFfmpegAreRead) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path gp = dir / "tagged.3gp";
    ASSERT_TRUE(fixtures::MakeTone(gp,
                                   "-c:a aac -f 3gp -metadata title=Titl -metadata artist=Perf "
                                   "-metadata author=Auth -metadata album=Albm -metadata genre=Gnre "
                                   "-metadata date=2003 -metadata track=4"));
    auto src = OpenFileSource(gp);
    ASSERT_TRUE(src);
    EXPECT_FALSE(ReadAssetBoxes(*src).empty());
    auto file = OpenMediaFile(gp);
    ASSERT_TRUE(file);
    EXPECT_EQ(fixtures::Text(*file, attr::Title), u"Titl");
    EXPECT_EQ(fixtures::Text(*file, attr::Artist), u"Perf");
    EXPECT_EQ(fixtures::Text(*file, attr::Composer), u"Auth");
    EXPECT_EQ(fixtures::Text(*file, attr::Album), u"Albm");
    EXPECT_EQ(fixtures::Text(*file, attr::Genre), u"Gnre");
    EXPECT_EQ(fixtures::Text(*file, attr::ReleaseYear), u"2003");

    // Once saved, removed values must not come back from the old boxes.
    AttributeSet tags;
    tags[attr::Title] = {u"New"};
    ASSERT_TRUE(file->Save(gp, tags));
    auto reopened = OpenMediaFile(gp);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(fixtures::Text(*reopened, attr::Title), u"New");
    EXPECT_EQ(fixtures::Text(*reopened, attr::Artist), u"<absent>");
    EXPECT_EQ(fixtures::Text(*reopened, attr::ReleaseYear), u"<absent>");
}

TEST(Mp4AssetBoxes, DamagedBoxTreesAreWalkedSafely) {
    // moov claiming more bytes than the file has, then a udta with a box whose
    // size is smaller than its header.
    const uint8_t bytes[] = {0,   0,   0,   12,  'f', 't', 'y', 'p', '3', 'g', 'p', '4',
                             0,   0,   1,   0,   'm', 'o', 'o', 'v', 0,   0,   0,   16,
                             'u', 'd', 't', 'a', 0,   0,   0,   3,   't', 'i', 't', 'l'};
    auto src = MemorySource(bytes);
    EXPECT_TRUE(ReadAssetBoxes(*src).empty());
    EXPECT_FALSE(OpenMediaSource(*src, "bad.3gp"));
}

// Another tagger may store more covers than the five jacket slots.
TEST(Mp4Pictures, CoversPastTheFifthSurviveASaveThatLeavesTheJacketsAlone) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path m4a = dir / "covers.m4a";
    ASSERT_TRUE(fixtures::MakeTone(m4a, "-c:a aac"));
    auto cover_count = [&] {
        TagLib::MP4::File file(m4a.c_str(), false);
        return file.tag() ? file.tag()->item("covr").toCoverArtList().size() : 0u;
    };
    {
        TagLib::MP4::File file(m4a.c_str(), false);
        ASSERT_TRUE(file.isValid() && file.tag());
        TagLib::MP4::CoverArtList covers;
        for (uint8_t i = 1; i <= 7; ++i) {
            const std::vector<uint8_t> jpeg = fixtures::JpegBytes(i);
            covers.append(TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::JPEG,
                                                TagLib::ByteVector(reinterpret_cast<const char*>(jpeg.data()),
                                                                   static_cast<unsigned>(jpeg.size()))));
        }
        file.tag()->setItem("covr", TagLib::MP4::Item(covers));
        ASSERT_TRUE(file.save());
    }
    ASSERT_EQ(cover_count(), 7u);

    auto file = OpenMediaFile(m4a);
    ASSERT_TRUE(file);
    AttributeSet tags = file->Attributes();
    ASSERT_EQ(tags[attr::Jacket].size(), 5u);
    tags[attr::Title] = {u"Only the title changes"};
    ASSERT_TRUE(file->Save(m4a, tags));
    EXPECT_EQ(cover_count(), 7u);

    // Changing the list itself writes what the list holds.
    auto reopened = OpenMediaFile(m4a);
    ASSERT_TRUE(reopened);
    tags = reopened->Attributes();
    tags[attr::Jacket].pop_back();
    ASSERT_TRUE(reopened->Save(m4a, tags));
    EXPECT_EQ(cover_count(), 4u);
}

TEST(Mp4Capabilities, ThreeGpRefusesWhatItsTagSetLacks) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path gp = dir / "a.3gp", m4a = dir / "a.m4a";
    ASSERT_TRUE(fixtures::MakeTone(gp, "-c:a aac -f 3gp"));
    ASSERT_TRUE(fixtures::MakeTone(m4a, "-c:a aac"));
    auto g = OpenMediaFile(gp);
    auto m = OpenMediaFile(m4a);
    ASSERT_TRUE(g && m);
    for (uint32_t id :
         {attr::Subtitle, attr::SortSubtitle, attr::Import, attr::LyricsText, attr::LinerNotesText}) {
        EXPECT_FALSE(g->CanStore(id)) << std::hex << id;
        EXPECT_TRUE(m->CanStore(id)) << std::hex << id;
    }
    EXPECT_TRUE(g->CanStore(attr::Title));
    EXPECT_TRUE(g->CanStore(attr::Jacket));
}

TEST(Mp4Codec, AacWithSbrSignalledIsHeAac) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path he = dir / "he.m4a";
    if (!fixtures::MakeTone(he, "-c:a aac -profile:a aac_he -b:a 48k")) {
        GTEST_SKIP() << "this ffmpeg cannot write an HE-AAC profile";
    }
    auto file = OpenMediaFile(he);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Codec(), codec::HeAac);
}

TEST(Mp4Check, NeedsAnFtypBox) {
    const uint8_t ftyp[] = {0, 0, 0, 16, 'f', 't', 'y', 'p', 'M', '4', 'A', ' ', 0, 0, 0, 0};
    const uint8_t other[] = {0, 0, 0, 16, 'm', 'd', 'a', 't', 'M', '4', 'A', ' ', 0, 0, 0, 0};
    EXPECT_TRUE(LooksLikeIsoBmff(ftyp));
    EXPECT_FALSE(LooksLikeIsoBmff(other));
}

}  // namespace
