// file_info semantics and the UTF-8 comparison it relies on.
#include "host/sdk/file_info.h"

#include <gtest/gtest.h>

#include "host/sdk/text.h"

namespace {

TEST(StricmpUtf8, ComparesWithoutCaseAcrossScripts) {
    EXPECT_EQ(stricmp_utf8("oma", "OMA"), 0);
    EXPECT_EQ(stricmp_utf8("OmG", "omg"), 0);
    EXPECT_EQ(stricmp_utf8("Ärger", "äRGER"), 0);  // Latin-1 letters
    EXPECT_EQ(stricmp_utf8("ΑΛΦΑ", "αλφα"), 0);    // Greek
    EXPECT_LT(stricmp_utf8("abc", "abd"), 0);
    EXPECT_GT(stricmp_utf8("abcd", "ABC"), 0);
    EXPECT_LT(stricmp_utf8("", "a"), 0);
    EXPECT_NE(stricmp_utf8("3gp", "3g"), 0);
}

TEST(StricmpUtf8, HandlesNullAndInvalidBytes) {
    EXPECT_EQ(stricmp_utf8(static_cast<const char*>(nullptr), nullptr), 0);
    EXPECT_LT(stricmp_utf8(nullptr, "a"), 0);
    EXPECT_GT(stricmp_utf8("a", nullptr), 0);
    // A broken sequence equals only itself and never a real letter.
    EXPECT_EQ(stricmp_utf8("a\xC3", "A\xC3"), 0);
    EXPECT_NE(stricmp_utf8("\xC3", "C"), 0);
    EXPECT_NE(stricmp_utf8("\xFF", "\xFE"), 0);
}

TEST(FileInfoMeta, NamesAreCaseInsensitiveAndKeepPosition) {
    file_info_impl info;
    EXPECT_EQ(info.meta_set("Title", "One"), 0u);
    EXPECT_EQ(info.meta_set("artist", "A"), 1u);
    EXPECT_EQ(info.meta_find("TITLE"), 0u);
    EXPECT_STREQ(info.meta_get("tItLe", 0), "One");

    // meta_set on an existing name replaces all its values in place.
    info.meta_add("title", "Two");
    EXPECT_EQ(info.meta_get_count_by_name("title"), 2u);
    EXPECT_EQ(info.meta_set("TITLE", "Three"), 0u);
    ASSERT_EQ(info.meta_get_count(), 2u);
    EXPECT_EQ(info.meta_enum_value_count(0), 1u);
    EXPECT_STREQ(info.meta_enum_value(0, 0), "Three");
    EXPECT_STREQ(info.meta_enum_name(1), "artist");
}

TEST(FileInfoMeta, MultiValuesAndRemoval) {
    file_info_impl info;
    info.meta_add("artist", "A");
    info.meta_add("ARTIST", "B");
    info.meta_add("genre", "G");
    ASSERT_EQ(info.meta_get_count(), 2u);
    EXPECT_EQ(info.meta_get_count_by_name("Artist"), 2u);
    EXPECT_STREQ(info.meta_get("artist", 1), "B");
    EXPECT_EQ(info.meta_get("artist", 2), nullptr);
    EXPECT_EQ(info.meta_get("missing", 0), nullptr);

    info.meta_remove_field("ARTIST");
    EXPECT_FALSE(info.meta_exists("artist"));
    ASSERT_EQ(info.meta_get_count(), 1u);
    info.meta_remove_field("not there");  // no effect, no failure
    EXPECT_EQ(info.meta_get_count(), 1u);
    info.meta_remove_all();
    EXPECT_EQ(info.meta_get_count(), 0u);
}

TEST(FileInfoMeta, RejectsNullAndEmptyInsteadOfCrashing) {
    file_info_impl info;
    EXPECT_EQ(info.meta_set(nullptr, "x"), file_info::npos);
    EXPECT_EQ(info.meta_set("title", nullptr), file_info::npos);
    EXPECT_EQ(info.meta_set("", "x"), file_info::npos);
    EXPECT_EQ(info.meta_add("title", nullptr), file_info::npos);
    EXPECT_EQ(info.info_set(nullptr, "x"), file_info::npos);
    EXPECT_EQ(info.meta_get_count(), 0u);
    EXPECT_EQ(info.meta_find(nullptr), file_info::npos);
    info.meta_remove_field(nullptr);
    // An empty value is a value.
    EXPECT_NE(info.meta_set("comment", ""), file_info::npos);
    EXPECT_STREQ(info.meta_get("comment", 0), "");
}

TEST(FileInfoTechnical, SetIntBitrateReplaceAndRemove) {
    file_info_impl info;
    info.info_set_int("samplerate", 44100);
    info.info_set_bitrate(127);
    info.info_set("codec", "ATRAC3");
    info.info_set("CODEC", "ATRAC3plus");
    ASSERT_EQ(info.info_get_count(), 3u);
    EXPECT_STREQ(info.info_get("SampleRate"), "44100");
    EXPECT_STREQ(info.info_get("bitrate"), "127");
    EXPECT_STREQ(info.info_get("codec"), "ATRAC3plus");
    info.info_set_int("big", -9000000000LL);
    EXPECT_STREQ(info.info_get("big"), "-9000000000");
    info.info_remove("Codec");
    EXPECT_EQ(info.info_get("codec"), nullptr);
    EXPECT_EQ(info.info_get_count(), 3u);
}

TEST(FileInfoReplayGain, UnsetUntilGivenAndCopiedWithEverything) {
    file_info_impl info;
    EXPECT_TRUE(info.get_replaygain().is_empty());
    replaygain_info rg;
    rg.m_track_gain = -6.5f;
    rg.m_album_peak = 0.0f;  // zero is a real peak, not "unset"
    info.set_replaygain(rg);
    EXPECT_TRUE(info.get_replaygain().is_track_gain_present());
    EXPECT_TRUE(info.get_replaygain().is_album_peak_present());
    EXPECT_FALSE(info.get_replaygain().is_album_gain_present());
    EXPECT_FALSE(info.get_replaygain().is_track_peak_present());
    EXPECT_FALSE(info.get_replaygain().is_empty());

    info.set_length(3.25);
    info.meta_add("artist", "A");
    info.meta_add("artist", "B");
    info.info_set("codec", "PCM");
    file_info_impl copy(static_cast<const file_info&>(info));
    EXPECT_EQ(copy.get_replaygain(), info.get_replaygain());
    EXPECT_DOUBLE_EQ(copy.get_length(), 3.25);
    EXPECT_EQ(copy.meta_get_count_by_name("artist"), 2u);
    EXPECT_STREQ(copy.info_get("codec"), "PCM");

    info.reset();
    EXPECT_EQ(info.meta_get_count(), 0u);
    EXPECT_EQ(info.info_get_count(), 0u);
    EXPECT_TRUE(info.get_replaygain().is_empty());
    EXPECT_EQ(info.get_length(), 0.0);
}

}  // namespace
