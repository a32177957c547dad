// MP3 specifics: detection, ID3v1 kept in step, picture kinds.
#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <algorithm>

#include "container_fixtures.h"
#include "medialib/detect/dispatch.h"
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

// Adds an APIC frame holding a small PNG picture marked by `mark`.
void AddPngPicture(TagLib::ID3v2::Tag& tag, TagLib::ID3v2::AttachedPictureFrame::Type type, const char* desc,
                   uint8_t mark) {
    auto* frame = new TagLib::ID3v2::AttachedPictureFrame();
    frame->setType(type);
    frame->setDescription(desc);
    frame->setMimeType("image/png");
    const auto png = fixtures::PngBytes(mark);
    frame->setPicture(
        TagLib::ByteVector(reinterpret_cast<const char*>(png.data()), static_cast<unsigned>(png.size())));
    tag.addFrame(frame);
}

// APIC pictures that no attribute shows (an "Other" scan beside a real front
// cover, a second leaflet page beside the liner-notes picture) are kept when
// the tag is saved; only the ones read as attributes are replaced.
TEST(Mp3Pictures, PicturesNotReadAsAttributesSurviveASave) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path mp3 = dir / "apic.mp3";
    ASSERT_TRUE(fixtures::MakeTone(mp3, "-c:a libmp3lame"));
    using TagLib::ID3v2::AttachedPictureFrame;
    const auto add = AddPngPicture;
    {
        TagLib::MPEG::File file(mp3.c_str());
        ASSERT_TRUE(file.isValid());
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
        add(*tag, AttachedPictureFrame::FrontCover, "", 1);
        add(*tag, AttachedPictureFrame::Other, "scan", 2);
        add(*tag, AttachedPictureFrame::LeafletPage, "LinerNotesPicture", 3);
        add(*tag, AttachedPictureFrame::LeafletPage, "page 2", 4);
        ASSERT_TRUE(file.save());
    }
    auto file = OpenMediaFile(mp3);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->Attributes().at(attr::Jacket).size(), 1u);
    AttributeSet tags = file->Attributes();
    tags[attr::Title] = {u"Saved"};
    ASSERT_TRUE(file->Save(mp3, tags));

    TagLib::MPEG::File reread(mp3.c_str(), false);
    ASSERT_TRUE(reread.hasID3v2Tag());
    std::vector<std::string> descriptions;
    for (TagLib::ID3v2::Frame* frame : reread.ID3v2Tag()->frameList("APIC")) {
        descriptions.push_back(static_cast<AttachedPictureFrame*>(frame)->description().to8Bit(true));
    }
    std::sort(descriptions.begin(), descriptions.end());
    EXPECT_EQ(descriptions, (std::vector<std::string>{"", "LinerNotesPicture", "page 2", "scan"}));

    // Without a front cover the "Other" picture and the leaflet page are
    // what the lists show: removing them removes those frames.
    {
        TagLib::MPEG::File edit(mp3.c_str());
        ASSERT_TRUE(edit.isValid());
        TagLib::ID3v2::Tag* tag = edit.ID3v2Tag(true);
        tag->removeFrames("APIC");
        add(*tag, AttachedPictureFrame::Other, "scan", 2);
        add(*tag, AttachedPictureFrame::LeafletPage, "page 2", 4);
        ASSERT_TRUE(edit.save());
    }
    auto stand_ins = OpenMediaFile(mp3);
    ASSERT_TRUE(stand_ins);
    ASSERT_EQ(stand_ins->Attributes().count(attr::Jacket), 1u);
    ASSERT_EQ(stand_ins->Attributes().count(attr::LinerNotesPicture), 1u);
    tags = stand_ins->Attributes();
    tags.erase(attr::Jacket);
    tags.erase(attr::LinerNotesPicture);
    ASSERT_TRUE(stand_ins->Save(mp3, tags));
    auto emptied = OpenMediaFile(mp3);
    ASSERT_TRUE(emptied);
    EXPECT_EQ(emptied->Attributes().count(attr::Jacket), 0u);
    EXPECT_EQ(emptied->Attributes().count(attr::LinerNotesPicture), 0u);
}

// A save that changes no picture leaves the APIC frames as they are, although
// the lists read from them have moved kinds up and kept one of each.
TEST(Mp3Pictures, ASaveThatChangesNoPictureKeepsEveryFrame) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path mp3 = dir / "frames.mp3";
    ASSERT_TRUE(fixtures::MakeTone(mp3, "-c:a libmp3lame"));
    using TagLib::ID3v2::AttachedPictureFrame;
    const auto write_frames =
        [&](std::initializer_list<std::pair<AttachedPictureFrame::Type, const char*>> frames) {
            TagLib::MPEG::File file(mp3.c_str());
            ASSERT_TRUE(file.isValid());
            TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
            tag->removeFrames("APIC");
            uint8_t mark = 1;
            for (const auto& [type, desc] : frames) AddPngPicture(*tag, type, desc, mark++);
            ASSERT_TRUE(file.save());
        };
    const auto frames_now = [&] {
        std::vector<std::pair<int, std::string>> out;
        TagLib::MPEG::File file(mp3.c_str(), false);
        if (!file.hasID3v2Tag()) return out;
        for (TagLib::ID3v2::Frame* frame : file.ID3v2Tag()->frameList("APIC")) {
            const auto* apic = static_cast<AttachedPictureFrame*>(frame);
            out.emplace_back(apic->type(), apic->description().to8Bit(true));
        }
        return out;
    };
    const auto save_title = [&](const char16_t* title) {
        auto file = OpenMediaFile(mp3);
        ASSERT_TRUE(file);
        AttributeSet tags = file->Attributes();
        tags[attr::Title] = {title};
        ASSERT_TRUE(file->Save(mp3, tags));
    };

    // A lone back cover reads as the first jacket; it stays a back cover.
    write_frames({{AttachedPictureFrame::BackCover, "back"}});
    save_title(u"One");
    EXPECT_EQ(frames_now(),
              (std::vector<std::pair<int, std::string>>{{AttachedPictureFrame::BackCover, "back"}}));

    // Two front covers read as one jacket; the second is not dropped.
    write_frames({{AttachedPictureFrame::FrontCover, "first"}, {AttachedPictureFrame::FrontCover, "second"}});
    save_title(u"Two");
    EXPECT_EQ(frames_now().size(), 2u);

    // Changing the list writes the list: the second front cover goes.
    auto file = OpenMediaFile(mp3);
    ASSERT_TRUE(file);
    AttributeSet tags = file->Attributes();
    ASSERT_EQ(tags[attr::Jacket].size(), 1u);
    tags[attr::Jacket].emplace_back(std::in_place_type<std::shared_ptr<PictureData>>,
                                    fixtures::Picture("image/png", fixtures::PngBytes(9)));
    ASSERT_TRUE(file->Save(mp3, tags));
    const auto written = frames_now();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].first, AttachedPictureFrame::FrontCover);
    EXPECT_EQ(written[1].first, AttachedPictureFrame::BackCover);
}

}  // namespace
