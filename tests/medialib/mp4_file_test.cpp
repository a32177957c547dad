// ISO base media specifics: 3GPP asset boxes, capability of 3GP, HE-AAC.
#include "medialib/mp4/mp4_file.h"

#include <gtest/gtest.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>

#include <algorithm>

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

// A damaged box tree can make TagLib report a save that did not happen (a
// trak size read wrong) or that damaged the copy (an stco entry count
// trusted past its box zeroes the box after it). The copy is checked before
// it replaces the original: the save fails and the original stays.
TEST(Mp4Save, DamagedFilesAreRefusedNotCorrupted) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path good = dir / "good.m4a";
    ASSERT_TRUE(fixtures::MakeTone(good, "-c:a aac -metadata title=Old -metadata artist=Art", 0.3));
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(good);
    auto find = [&](const char* type) {
        const auto at = std::search(bytes.begin(), bytes.end(), type, type + 4);
        return static_cast<size_t>(at - bytes.begin());
    };
    auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    auto get32 = [&](size_t at) {
        return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
               (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
    };
    const size_t stco = find("stco");
    const size_t trak = find("trak");
    ASSERT_LT(stco, bytes.size());
    ASSERT_EQ(get32(stco + 8), 1u) << "one chunk expected in a short tone";

    std::vector<uint8_t> counted = bytes;
    put32(counted, stco + 8, 8);
    std::vector<uint8_t> sized = bytes;
    put32(sized, trak - 4, 2 * get32(trak - 4));
    for (const auto& [name, damaged] : {std::pair{"stco.m4a", counted}, std::pair{"trak.m4a", sized}}) {
        SCOPED_TRACE(name);
        const fs::path path = dir / name;
        testsupport::WriteBytes(path, damaged);
        auto file = OpenMediaFile(path);
        if (!file) continue;  // not even opened: nothing can be saved
        AttributeSet tags = file->Attributes();
        tags[attr::Title] = {u"X"};
        EXPECT_FALSE(file->Save(path, tags));
        EXPECT_TRUE(testsupport::ReadBytes(path) == damaged);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
                  std::string(name) == "stco.m4a" ? 2 : 3);
    }

    // The undamaged file saves, and keeps its audio.
    auto file = OpenMediaFile(good);
    ASSERT_TRUE(file);
    AttributeSet tags = file->Attributes();
    tags[attr::Title] = {u"X"};
    EXPECT_TRUE(file->Save(good, tags));
    EXPECT_EQ(fixtures::Text(*file, attr::Title), u"X");
    EXPECT_EQ(fixtures::Text(*file, attr::Artist), u"Art");
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
