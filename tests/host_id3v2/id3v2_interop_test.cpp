// The tags of the host's service as another reader sees them (TagLib's own
// file reader on an MP3 file that starts with the tag), and tags of other
// writers (ID3v2.3, lower-case ReplayGain names, described comments) as the
// service reads them.
#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>

#include <cstdlib>
#include <memory>

#include "id3v2_test_util.h"

namespace {

using id3test::ExpectSameInfo;
using id3test::TagServiceTest;

// A short MP3 stream without any tag, made by the ffmpeg program.
bool MakeBareMp3(const std::filesystem::path& out) {
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i anullsrc=r=44100:cl=mono -t 0.3 "
        "-c:a libmp3lame -b:a 64k -id3v2_version 0 -write_xing 0 -f mp3 '" +
        out.string() + "'";
    return std::system(command.c_str()) == 0 && std::filesystem::exists(out) &&
           std::filesystem::file_size(out) > 0;
}

TEST_F(TagServiceTest, TagLibFileReaderSeesTheFieldsInFrontOfMp3Frames) {
    if (!MakeBareMp3(dir / "bare.mp3")) GTEST_SKIP() << "the ffmpeg program cannot make an MP3 here";
    file_info_impl info;
    info.meta_set("title", "Título");
    info.meta_set("artist", "First");
    info.meta_add("artist", "Second");
    info.meta_set("album", "Album");
    info.meta_set("album artist", "Various");
    info.meta_set("date", "1999");
    info.meta_set("genre", "Jazz");
    info.meta_set("tracknumber", "7");
    info.meta_set("totaltracks", "11");
    info.meta_set("discnumber", "2");
    info.meta_set("composer", "Someone");
    info.meta_set("comment", "Nice");
    info.meta_set("lyrics", "words");
    info.meta_set("mood", "Happy");
    replaygain_info rg;
    rg.m_track_gain = -6.5f;
    rg.m_track_peak = 0.75f;
    rg.m_album_gain = 2.0f;
    rg.m_album_peak = 0.987654f;
    info.set_replaygain(rg);

    WriteTag("tagged.mp3", info);
    auto bytes = testsupport::ReadBytes(dir / "tagged.mp3");
    const auto audio = testsupport::ReadBytes(dir / "bare.mp3");
    bytes.insert(bytes.end(), audio.begin(), audio.end());
    testsupport::WriteBytes(dir / "tagged.mp3", bytes);

    const TagLib::FileRef ref((dir / "tagged.mp3").c_str());
    ASSERT_FALSE(ref.isNull());
    ASSERT_NE(ref.tag(), nullptr);
    EXPECT_EQ(ref.tag()->title().to8Bit(true), "Título");
    EXPECT_EQ(ref.tag()->album().to8Bit(true), "Album");
    EXPECT_EQ(ref.tag()->year(), 1999u);
    EXPECT_EQ(ref.tag()->genre().to8Bit(true), "Jazz");
    EXPECT_EQ(ref.tag()->track(), 7u);
    EXPECT_EQ(ref.tag()->comment().to8Bit(true), "Nice");

    const TagLib::PropertyMap props = ref.file()->properties();
    const auto values = [&](const char* key) {
        std::vector<std::string> out;
        if (props.contains(key)) {
            for (const auto& v : props[key]) out.push_back(v.to8Bit(true));
        }
        return out;
    };
    EXPECT_EQ(values("ARTIST"), (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(values("ALBUMARTIST"), (std::vector<std::string>{"Various"}));
    EXPECT_EQ(values("TRACKNUMBER"), (std::vector<std::string>{"7/11"}));
    EXPECT_EQ(values("DISCNUMBER"), (std::vector<std::string>{"2"}));
    EXPECT_EQ(values("COMPOSER"), (std::vector<std::string>{"Someone"}));
    EXPECT_EQ(values("LYRICS"), (std::vector<std::string>{"words"}));
    EXPECT_EQ(values("MOOD"), (std::vector<std::string>{"Happy"}));
    EXPECT_EQ(values("REPLAYGAIN_TRACK_GAIN"), (std::vector<std::string>{"-6.50 dB"}));
    EXPECT_EQ(values("REPLAYGAIN_TRACK_PEAK"), (std::vector<std::string>{"0.750000"}));
    EXPECT_EQ(values("REPLAYGAIN_ALBUM_GAIN"), (std::vector<std::string>{"2.00 dB"}));
    EXPECT_EQ(values("REPLAYGAIN_ALBUM_PEAK"), (std::vector<std::string>{"0.987654"}));

    // The audio behind the tag is still found.
    ASSERT_NE(ref.audioProperties(), nullptr);
    EXPECT_EQ(ref.audioProperties()->sampleRate(), 44100);

    // And the service reads its own tag from the combined file.
    ExpectSameInfo(info, ReadTag("tagged.mp3"));
}

TEST_F(TagServiceTest, ReadsTagsOfOtherWriters) {
    using namespace TagLib::ID3v2;
    Tag tag;
    auto text = [&](const char* id, const char* value) {
        auto* frame = new TextIdentificationFrame(TagLib::ByteVector(id), TagLib::String::UTF16);
        frame->setText(TagLib::String(value, TagLib::String::UTF8));
        tag.addFrame(frame);
    };
    text("TIT2", "Old title");
    text("TYER", "1987");
    text("TRCK", "04/10");
    text("TPOS", "1/1");
    auto* described = new CommentsFrame(TagLib::String::Latin1);
    described->setDescription("iTunNORM");
    described->setText(" 0000 0001");
    tag.addFrame(described);
    auto* comment = new CommentsFrame(TagLib::String::Latin1);
    comment->setText("plain comment");
    tag.addFrame(comment);
    tag.addFrame(new UserTextIdentificationFrame("replaygain_track_gain", TagLib::StringList("+1.5 dB"),
                                                 TagLib::String::Latin1));
    tag.addFrame(new UserTextIdentificationFrame("REPLAYGAIN_ALBUM_GAIN", TagLib::StringList("-3dB"),
                                                 TagLib::String::Latin1));
    tag.addFrame(new UserTextIdentificationFrame("REPLAYGAIN_TRACK_PEAK", TagLib::StringList("not a number"),
                                                 TagLib::String::Latin1));
    auto* picture = new AttachedPictureFrame;
    picture->setPicture(TagLib::ByteVector(100, 'p'));
    tag.addFrame(picture);
    const TagLib::ByteVector data = tag.render(v3);
    testsupport::WriteBytes(dir / "v23.tag", std::vector<uint8_t>(data.begin(), data.end()));
    ASSERT_EQ(data[3], 3);

    const file_info_impl info = ReadTag("v23.tag");
    EXPECT_STREQ(info.meta_get("title", 0), "Old title");
    EXPECT_STREQ(info.meta_get("date", 0), "1987");
    EXPECT_STREQ(info.meta_get("tracknumber", 0), "04");
    EXPECT_STREQ(info.meta_get("totaltracks", 0), "10");
    EXPECT_STREQ(info.meta_get("discnumber", 0), "1");
    EXPECT_STREQ(info.meta_get("totaldiscs", 0), "1");
    EXPECT_EQ(info.meta_get_count_by_name("comment"), 1u);
    EXPECT_STREQ(info.meta_get("comment", 0), "plain comment");
    EXPECT_EQ(info.meta_get_count(), 7u);
    const replaygain_info rg = info.get_replaygain();
    EXPECT_FLOAT_EQ(rg.m_track_gain, 1.5f);
    EXPECT_FLOAT_EQ(rg.m_album_gain, -3.0f);
    EXPECT_FALSE(rg.is_track_peak_present());
    EXPECT_FALSE(rg.is_album_peak_present());
}

}  // namespace
