// Write a file_info as an ID3v2 tag through the host's service and read it
// back: every field name of the frame table, multi-values, non-ASCII text,
// custom fields and ReplayGain come back unchanged.
#include <gtest/gtest.h>

#include <cstring>

#include "id3v2_test_util.h"

namespace {

using id3test::ExpectSameInfo;
using id3test::TagServiceTest;

TEST_F(TagServiceTest, HostRegistersTheService) {
    service_ptr_t<tag_processor_id3v2> service;
    ASSERT_NO_THROW(service = tag_processor_id3v2::g_get());
    EXPECT_TRUE(service.is_valid());
    EXPECT_EQ(host.Services<tag_processor_id3v2>().size(), 1u);
}

// One row of the name-to-frame table per case.
class FrameTableRow : public TagServiceTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FrameTableRow, OneValueAndTwoValuesComeBack) {
    file_info_impl info;
    info.meta_set(GetParam(), "Value one");
    ExpectSameInfo(info, RoundTrip(info));
    // Track and disc numbers take the multi-value path through TXXX; every
    // other row keeps both strings in its own frame.
    info.meta_add(GetParam(), "Value two");
    ExpectSameInfo(info, RoundTrip(info));
}

INSTANTIATE_TEST_SUITE_P(AllNames, FrameTableRow,
                         ::testing::Values("title", "artist", "album", "album artist", "conductor",
                                           "remixed by", "composer", "lyricist", "original artist",
                                           "publisher", "copyright", "encoded by", "bpm", "isrc", "date",
                                           "original release date", "genre", "grouping", "subtitle",
                                           "language", "titlesort", "artistsort", "tracknumber", "discnumber",
                                           "comment", "lyrics", "mood", "totaltracks", "totaldiscs"),
                         [](const auto& p) {
                             std::string name = p.param;
                             for (char& c : name) {
                                 if (c == ' ') c = '_';
                             }
                             return name;
                         });

TEST_F(TagServiceTest, FullRecordWithNonAsciiCustomFieldsAndReplayGain) {
    file_info_impl info;
    info.meta_set("Title", "Ünïcödé — 日本語のタイトル");
    info.meta_set("ARTIST", "Björk");
    info.meta_add("artist", "坂本龍一");
    info.meta_set("album", "Album 🎵");
    info.meta_set("tracknumber", "3");
    info.meta_set("totaltracks", "12");
    info.meta_set("discnumber", "1");
    info.meta_set("totaldiscs", "2");
    info.meta_set("date", "2001-05-17");
    info.meta_set("genre", "Electronic");
    info.meta_add("genre", "Ambient");
    info.meta_set("comment", "line one\nline two");
    info.meta_set("lyrics", "ラララ\r\nla la");
    info.meta_set("mood", "calm");
    info.meta_add("mood", "dreamy");
    info.meta_set("My Custom Field", "x=y; z");
    replaygain_info rg;
    rg.m_track_gain = -6.5f;
    rg.m_track_peak = 0.987654f;
    rg.m_album_gain = 1.25f;
    rg.m_album_peak = 1.0f;
    info.set_replaygain(rg);

    const file_info_impl back = RoundTrip(info);
    ExpectSameInfo(info, back);
    EXPECT_EQ(back.info_get_count(), 0u);
}

TEST_F(TagServiceTest, ReplayGainValuesAloneAndPartly) {
    file_info_impl info;
    replaygain_info rg;
    rg.m_album_peak = 0.5f;
    rg.m_track_gain = 0.0f;
    info.set_replaygain(rg);
    const file_info_impl back = RoundTrip(info);
    EXPECT_EQ(back.meta_get_count(), 0u);
    EXPECT_EQ(back.get_replaygain(), rg);

    // Arbitrary floats come back to the stored precision.
    rg.m_track_gain = -12.3456f;
    rg.m_track_peak = 0.1234567f;
    info.set_replaygain(rg);
    const replaygain_info got = RoundTrip(info).get_replaygain();
    EXPECT_NEAR(got.m_track_gain, -12.35f, 1e-4);
    EXPECT_NEAR(got.m_track_peak, 0.123457f, 1e-6);
}

TEST_F(TagServiceTest, NumberPairsThatDoNotFitOneFrameStayExact) {
    file_info_impl info;
    info.meta_set("tracknumber", "3/12");  // a slash of its own
    info.meta_set("totaldiscs", "4");      // a total without its number
    ExpectSameInfo(info, RoundTrip(info));

    file_info_impl two_totals;
    two_totals.meta_set("tracknumber", "1");
    two_totals.meta_set("totaltracks", "9");
    two_totals.meta_add("totaltracks", "10");
    ExpectSameInfo(two_totals, RoundTrip(two_totals));
}

TEST_F(TagServiceTest, EmptyValuesAreNotStoredAndReplayGainNamesInMetaAreLeftOut) {
    file_info_impl info;
    info.meta_set("title", "");
    info.meta_set("artist", "A");
    info.meta_add("artist", "");
    info.meta_set("replaygain_track_gain", "+3.00 dB");  // not a metadata field of the tag
    file_info_impl expected;
    expected.meta_set("artist", "A");
    ExpectSameInfo(expected, RoundTrip(info));
}

TEST_F(TagServiceTest, ReadReplacesMetadataAndReplayGainButKeepsTechnicalInfo) {
    file_info_impl source;
    source.meta_set("title", "New");
    WriteTag("a.tag", source);

    file_info_impl target;
    target.meta_set("title", "Old");
    target.meta_set("stale", "x");
    replaygain_info rg;
    rg.m_album_gain = 3;
    target.set_replaygain(rg);
    target.info_set("codec", "ATRAC3");
    target.set_length(12.5);
    file_ptr f;
    filesystem::g_open_read(f, HostPath("a.tag").c_str(), abort);
    tag_processor_id3v2::g_get()->read(f, target, abort);
    ExpectSameInfo(source, target);
    EXPECT_STREQ(target.info_get("codec"), "ATRAC3");
    EXPECT_EQ(target.get_length(), 12.5);
}

TEST_F(TagServiceTest, DataAfterTheTagIsIgnoredOnRead) {
    file_info_impl info;
    info.meta_set("title", "T");
    file_ptr f;
    filesystem::g_open_write_new(f, HostPath("t.tag").c_str(), abort);
    tag_processor_id3v2::g_get()->write(f, info, no_temp, abort);
    const uint64_t tag_size = f->get_position(abort);
    EXPECT_EQ(tag_size, f->get_size(abort));
    f->seek_ex(0, file::seek_from_eof, abort);
    const char trailer[] = "\0\0/\0X\0.\0O\0M\0A\0\0\0ID3 more junk";
    f->write(trailer, sizeof(trailer), abort);
    f.release();
    ExpectSameInfo(info, ReadTag("t.tag"));
}

TEST_F(TagServiceTest, WriteReplacesAnOldTagAndKeepsWhatFollows) {
    file_info_impl big;
    for (int i = 0; i < 200; ++i)
        big.meta_set(("field" + std::to_string(i)).c_str(), std::string(50, 'v').c_str());
    WriteTag("m.bin", big);
    const std::vector<uint8_t> audio = {0xFF, 0xFB, 0x90, 0x00, 1, 2, 3, 4, 5};
    {
        auto bytes = testsupport::ReadBytes(dir / "m.bin");
        bytes.insert(bytes.end(), audio.begin(), audio.end());
        testsupport::WriteBytes(dir / "m.bin", bytes);
    }
    file_info_impl small;
    small.meta_set("title", "short");
    file_ptr f;
    filesystem::g_open(f, HostPath("m.bin").c_str(), filesystem::open_mode_write_existing, abort);
    tag_processor_id3v2::g_get()->write(f, small, no_temp, abort);
    const uint64_t tag_end = f->get_position(abort);
    f.release();

    const auto bytes = testsupport::ReadBytes(dir / "m.bin");
    ASSERT_EQ(bytes.size(), tag_end + audio.size());
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), bytes.begin() + static_cast<long>(tag_end)));
    ExpectSameInfo(small, ReadTag("m.bin"));

    // A file without a tag keeps its whole content behind the new one.
    testsupport::WriteBytes(dir / "plain.bin", audio);
    filesystem::g_open(f, HostPath("plain.bin").c_str(), filesystem::open_mode_write_existing, abort);
    tag_processor_id3v2::g_get()->write(f, small, no_temp, abort);
    EXPECT_EQ(f->get_size(abort), f->get_position(abort) + audio.size());
}

TEST_F(TagServiceTest, TagStartsWithId3AndIsVersion24) {
    file_info_impl info;
    info.meta_set("title", "x");
    WriteTag("v.tag", info);
    const auto bytes = testsupport::ReadBytes(dir / "v.tag");
    ASSERT_GE(bytes.size(), 10u);
    EXPECT_EQ(std::memcmp(bytes.data(), "ID3", 3), 0);
    EXPECT_EQ(bytes[3], 4);
}

}  // namespace
