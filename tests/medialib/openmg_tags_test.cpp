// Writing OpenMG tags: round trips of every writable attribute on copies of
// the real samples and on generated files, the SonicStage frame form, frames
// kept verbatim, pictures in both jacket lists, audio bytes untouched, and
// failed writes that leave the original byte for byte.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "medialib/core/atomic_save.h"
#include "medialib/openmg/ea3_header.h"
#include "medialib/openmg/ea3_tag.h"
#include "openmg_test_util.h"

namespace {

using namespace medialib;
using omgtest::Int;
using omgtest::Open;
using omgtest::Picture;
using omgtest::Text;

DateValue Date(const char16_t* text) {
    const auto d = openmg::ParseOmgDate(text);
    EXPECT_TRUE(d.has_value()) << "bad test date";
    return d.value_or(DateValue{});
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

const std::vector<uint8_t> kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 4, 5, 0xFF, 0xD9};
const std::vector<uint8_t> kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                                   0,    0,   0,   0,   'I',  'E',  'N',  'D'};
const std::vector<uint8_t> kGif = Bytes("GIF89a-not-really-a-gif");

// One value for every attribute the handler stores, with text outside
// Latin-1 and outside the BMP.
AttributeSet FullTagSet() {
    AttributeSet t;
    t[attr::Title] = {std::u16string(u"Tïtle ☃ \U0001D11E")};
    t[attr::SortTitle] = {std::u16string(u"Title, sorted")};
    t[attr::Subtitle] = {std::u16string(u"Sübtitle")};
    t[attr::SortSubtitle] = {std::u16string(u"Subtitle sort")};
    t[attr::Artist] = {std::u16string(u"アーティスト")};
    t[attr::SortArtist] = {std::u16string(u"Artist sort")};
    t[attr::ArtistURL] = {std::u16string(u"http://example.com/artist?id=1")};
    t[attr::Album] = {std::u16string(u"Albüm")};
    t[attr::AlbumAlt] = {std::u16string(u"Albüm")};
    t[attr::SortAlbum] = {std::u16string(u"Album sort")};
    t[attr::AlbumArtist] = {std::u16string(u"Album Artist")};
    t[attr::SortAlbumArtist] = {std::u16string(u"Album Artist sort")};
    t[attr::Genre] = {std::u16string(u"Ambient")};
    t[attr::Composer] = {std::u16string(u"Composer")};
    t[attr::Lyricist] = {std::u16string(u"Lyricist")};
    t[attr::TrackNumber] = {int32_t{7}};
    t[attr::TrackNumberAlt] = {int32_t{7}};
    t[attr::TotalTracks] = {int32_t{12}};
    t[attr::ReleaseYear] = {std::u16string(u"1999")};
    t[attr::Release] = {Date(u"1999/05/06 07:08:09")};
    t[attr::Import] = {Date(u"2024/02/29 23:59:58")};
    t[attr::LyricsText] = {std::u16string(u"line one\r\nline twö\r\n")};
    t[attr::LinerNotesText] = {std::u16string(u"Liner nötes")};
    t[attr::LyricsPicture] = {Picture("text/plain", Bytes("lyrics as a text object"))};
    t[attr::LinerNotesPicture] = {Picture("image/png", kPng)};
    t[attr::Jacket] = {Picture("image/jpeg", kJpeg), Picture("image/png", kPng)};
    t[attr::JacketAlt] = {Picture("image/gif", kGif)};
    return t;
}

bool SameValues(const ValueList& a, const ValueList& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto* pa = std::get_if<std::shared_ptr<PictureData>>(&a[i]);
        const auto* pb = std::get_if<std::shared_ptr<PictureData>>(&b[i]);
        if (pa && pb) {
            if (!*pa || !*pb || !(**pa == **pb)) return false;
        } else if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

// Tag attributes of a file (technical ids left out).
AttributeSet TagsOf(const OpenedFile& f) {
    AttributeSet out;
    for (const auto& [id, values] : f.Attributes()) {
        if (openmg::AllTagAttributeIds().count(id)) out[id] = values;
    }
    return out;
}

void ExpectStored(const AttributeSet& written, const OpenedFile& reread) {
    const AttributeSet got = TagsOf(reread);
    for (const auto& [id, values] : written) {
        if (!reread.CanStore(id)) {
            EXPECT_EQ(got.count(id), 0u) << "id 0x" << std::hex << id << " is not storable but came back";
            continue;
        }
        auto it = got.find(id);
        ASSERT_NE(it, got.end()) << "id 0x" << std::hex << id << " lost";
        EXPECT_TRUE(SameValues(values, it->second)) << "id 0x" << std::hex << id << " changed";
    }
    for (const auto& [id, values] : got) {
        EXPECT_EQ(written.count(id), 1u) << "id 0x" << std::hex << id << " appeared from nowhere";
    }
}

// Copies of every real OMA sample and a generated file.
class WritableFile : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() == "generated") {
            path_ = dir_ / "generated.oma";
            ASSERT_TRUE(openmg::WriteDemoOma(path_, 0.3));
            return;
        }
        const auto sample = testsupport::SamplePath(GetParam());
        if (sample.empty()) GTEST_SKIP() << "real sample '" << GetParam() << "' not found";
        path_ = dir_ / GetParam();
        testsupport::CopyWritable(sample, path_);
    }
    testsupport::ScopedTempDir dir_;
    std::filesystem::path path_;
};

TEST_P(WritableFile, EveryAttributeRoundTripsAndTheAudioStaysByteIdentical) {
    const auto audio = omgtest::AudioPart(path_);
    const AttributeSet tags = FullTagSet();
    {
        const auto file = Open(path_);
        ASSERT_NE(file, nullptr);
        for (const auto& [id, values] : tags) EXPECT_TRUE(file->CanStore(id)) << std::hex << id;
        ASSERT_TRUE(file->Save(path_, tags));
        ExpectStored(tags, *file);  // the object shows what it wrote
    }
    const auto reread = Open(path_);
    ASSERT_NE(reread, nullptr);
    ExpectStored(tags, *reread);
    EXPECT_EQ(omgtest::AudioPart(path_), audio);
    EXPECT_EQ(Int(*reread, attr::Size), static_cast<int32_t>(std::filesystem::file_size(path_)));

    // Changing one field keeps every other one.
    AttributeSet changed = TagsOf(*reread);
    changed[attr::Title] = {std::u16string(u"Second title")};
    ASSERT_TRUE(reread->Save(path_, changed));
    ExpectStored(changed, *Open(path_));

    // Writing no tag values removes them all; the audio is still the same.
    ASSERT_TRUE(reread->Save(path_, {}));
    EXPECT_TRUE(TagsOf(*Open(path_)).empty());
    EXPECT_EQ(omgtest::AudioPart(path_), audio);
}

TEST_P(WritableFile, DecodesToTheSameSamplesAfterATagChange) {
    if (!omgtest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    const std::string decode = "ffmpeg -v error -i " + omgtest::Quote(path_) + " -f s16le -";
    const auto before = omgtest::Run(decode);
    ASSERT_TRUE(before.has_value());
    const auto file = Open(path_);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->Save(path_, FullTagSet()));
    const auto after = omgtest::Run(decode);
    ASSERT_TRUE(after.has_value());
    EXPECT_FALSE(before->empty());
    EXPECT_TRUE(*before == *after);
}

TEST_P(WritableFile, FfprobeReadsTheWrittenTextTags) {
    if (!omgtest::HaveFfmpeg()) GTEST_SKIP() << "ffprobe not installed";
    AttributeSet tags;
    tags[attr::Title] = {std::u16string(u"Probe Title")};
    tags[attr::Artist] = {std::u16string(u"Probe Ärtist")};
    tags[attr::Album] = {std::u16string(u"Probe Album")};
    tags[attr::TrackNumber] = {int32_t{4}};
    ASSERT_TRUE(Open(path_)->Save(path_, tags));
    const auto probe = omgtest::Run("ffprobe -v error -show_entries format_tags " + omgtest::Quote(path_));
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(omgtest::ProbeField(*probe, "TAG:title"), "Probe Title");
    EXPECT_EQ(omgtest::ProbeField(*probe, "TAG:artist"), "Probe Ärtist");
    EXPECT_EQ(omgtest::ProbeField(*probe, "TAG:album"), "Probe Album");
    EXPECT_EQ(omgtest::ProbeField(*probe, "TAG:OMG_TRACK"), "4");
}

INSTANTIATE_TEST_SUITE_P(OpenMg, WritableFile,
                         ::testing::Values("generated", "pronom_03-Untitled-3_atrac3plus.oma",
                                           "pronom_02-Untitled-2_aal_atrac3.oma",
                                           "atracdencU_test_atrac3_132k_noid3.oma",
                                           "atracdencU_sine1k_atrac3plus_mono_128k_noid3.oma"),
                         [](const auto& info) {
                             std::string name = info.param.substr(0, info.param.find('.'));
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

// .omg and .kdr copies: what the format lacks is refused and not written.
TEST(OpenMgTags, OmgAndKdrStoreOnlyTheirFields) {
    testsupport::ScopedTempDir dir;
    for (const char* name : {"x.omg", "x.kdr"}) {
        const auto path = dir / name;
        ASSERT_TRUE(openmg::WriteDemoOma(path, 0.1));
        const auto file = Open(path);
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(file->Save(path, FullTagSet()));
        const auto reread = Open(path);
        ExpectStored(FullTagSet(), *reread);
        EXPECT_EQ(Text(*reread, attr::Title), u"Tïtle ☃ \U0001D11E") << name;
    }
    EXPECT_EQ(Open(dir / "x.omg")->Attributes().count(attr::LyricsText), 0u);
    EXPECT_EQ(Open(dir / "x.kdr")->Attributes().count(attr::Composer), 0u);
}

// A frame of the body of a tag, found by id (and TXXX/GEOB description prefix).
std::vector<uint8_t> FrameBody(const std::vector<openmg::TagFrame>& frames, const std::string& id,
                               const std::vector<uint8_t>& body_prefix = {}) {
    for (const auto& f : frames) {
        if (f.id != id) continue;
        std::vector<uint8_t> body(f.bytes.begin() + 10, f.bytes.end());
        if (body.size() >= body_prefix.size() &&
            std::equal(body_prefix.begin(), body_prefix.end(), body.begin())) {
            return body;
        }
    }
    return {};
}

std::vector<uint8_t> Utf16Be(const std::u16string& s) {
    std::vector<uint8_t> out;
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c >> 8));
        out.push_back(static_cast<uint8_t>(c));
    }
    return out;
}

std::vector<openmg::TagFrame> FramesOf(const std::filesystem::path& path) {
    const auto bytes = testsupport::ReadBytes(path);
    return openmg::SplitEa3Tag(std::span(bytes).first(omgtest::Ea3Offset(bytes)));
}

TEST(OpenMgTags, FramesHaveTheSonicStageForm) {
    CQ_REQUIRE_SAMPLE(sample, "pronom_03-Untitled-3_atrac3plus.oma");
    testsupport::ScopedTempDir dir;
    const auto path = dir / "s.oma";
    testsupport::CopyWritable(sample, path);
    AttributeSet tags;
    tags[attr::Title] = {std::u16string(u"New")};
    tags[attr::TrackNumber] = {int32_t{7}};
    tags[attr::Jacket] = {Picture("image/jpeg", kJpeg)};
    ASSERT_TRUE(Open(path)->Save(path, tags));

    const auto bytes = testsupport::ReadBytes(path);
    const uint8_t header[] = {'e', 'a', '3', 3, 0, 0, 0, 0, 0x17, 0x76};
    EXPECT_TRUE(std::equal(std::begin(header), std::end(header), bytes.begin()));
    EXPECT_EQ(omgtest::Ea3Offset(bytes), 0x0C00u);
    const auto frames = FramesOf(path);

    std::vector<uint8_t> title = {2};
    const auto utf = Utf16Be(u"New");
    title.insert(title.end(), utf.begin(), utf.end());
    EXPECT_EQ(FrameBody(frames, "TIT2"), title);

    std::vector<uint8_t> track = {2};
    for (const auto& part : {Utf16Be(u"OMG_TRACK"), std::vector<uint8_t>{0, 0}, Utf16Be(u"7")}) {
        track.insert(track.end(), part.begin(), part.end());
    }
    EXPECT_EQ(FrameBody(frames, "TXXX", {2, 0, 'O', 0, 'M', 0, 'G', 0, '_', 0, 'T', 0, 'R'}), track);

    std::vector<uint8_t> cover = {2};
    for (const auto& part : {Bytes("image/jpeg"), std::vector<uint8_t>{0, 0, 0}, Utf16Be(u"OMG_TDFCA"),
                             std::vector<uint8_t>{0, 0}, kJpeg}) {
        cover.insert(cover.end(), part.begin(), part.end());
    }
    EXPECT_EQ(FrameBody(frames, "GEOB", {2, 'i'}), cover);
}

// Sony's DRM and info objects, TLEN and unknown TXXX frames survive every
// write byte for byte.
TEST(OpenMgTags, FramesWithoutAnAttributeAreKeptVerbatim) {
    CQ_REQUIRE_SAMPLE(sample, "pronom_03-Untitled-3_atrac3plus.oma");
    testsupport::ScopedTempDir dir;
    const auto path = dir / "s.oma";
    testsupport::CopyWritable(sample, path);
    const auto original = FramesOf(path);
    std::vector<std::vector<uint8_t>> foreign;
    for (const auto& f : original) {
        if (f.id == "TLEN" || f.id == "GEOB") foreign.push_back(f.bytes);
    }
    const auto asgtm = FrameBody(original, "TXXX", {2, 0, 'O', 0, 'M', 0, 'G', 0, '_', 0, 'A', 0, 'S'});
    ASSERT_EQ(foreign.size(), 3u);  // TLEN, GEOB OMG_BKLSI, GEOB OMG_OLINF
    ASSERT_FALSE(asgtm.empty());

    for (const AttributeSet& tags : {FullTagSet(), AttributeSet{}}) {
        ASSERT_TRUE(Open(path)->Save(path, tags));
        const auto now = FramesOf(path);
        for (const auto& bytes : foreign) {
            EXPECT_TRUE(std::any_of(now.begin(), now.end(), [&](const auto& f) { return f.bytes == bytes; }));
        }
        EXPECT_EQ(FrameBody(now, "TXXX", {2, 0, 'O', 0, 'M', 0, 'G', 0, '_', 0, 'A', 0, 'S'}), asgtm);
    }
}

TEST(OpenMgTags, JacketListsSetReorderedAndRemoved) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "j.oma";
    ASSERT_TRUE(openmg::WriteDemoOma(path, 0.1));
    std::vector<std::shared_ptr<PictureData>> pics;
    for (int i = 0; i < 6; ++i) pics.push_back(Picture("image/jpeg", {0xFF, 0xD8, static_cast<uint8_t>(i)}));

    AttributeSet tags;
    tags[attr::Jacket] = {pics[0], pics[1], pics[2], pics[3], pics[4], pics[5]};
    tags[attr::JacketAlt] = {pics[5], pics[4]};
    ASSERT_TRUE(Open(path)->Save(path, tags));
    auto got = TagsOf(*Open(path));
    EXPECT_TRUE(
        SameValues(got[attr::Jacket], {pics[0], pics[1], pics[2], pics[3], pics[4]}));  // five at most
    EXPECT_TRUE(SameValues(got[attr::JacketAlt], {pics[5], pics[4]}));

    tags[attr::Jacket] = {pics[2], pics[0]};  // reordered: the disc picture becomes the front cover
    ASSERT_TRUE(Open(path)->Save(path, tags));
    got = TagsOf(*Open(path));
    EXPECT_TRUE(SameValues(got[attr::Jacket], {pics[2], pics[0]}));
    EXPECT_TRUE(SameValues(got[attr::JacketAlt], {pics[5], pics[4]}));
    const auto front = FrameBody(FramesOf(path), "GEOB", {2, 'i'});
    ASSERT_GE(front.size(), 3u);
    EXPECT_EQ(front.back(), 2);  // OMG_TDFCA, the first jacket object, holds picture 2

    tags.erase(attr::Jacket);
    ASSERT_TRUE(Open(path)->Save(path, tags));
    got = TagsOf(*Open(path));
    EXPECT_EQ(got.count(attr::Jacket), 0u);
    EXPECT_TRUE(SameValues(got[attr::JacketAlt], {pics[5], pics[4]}));
    tags.erase(attr::JacketAlt);
    ASSERT_TRUE(Open(path)->Save(path, tags));
    EXPECT_TRUE(FramesOf(path).empty());
}

// A tag that needs more than SonicStage's 3072 bytes grows and moves the
// audio; the audio bytes themselves stay the same.
TEST(OpenMgTags, LargePicturesGrowTheTag) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "big.oma";
    ASSERT_TRUE(openmg::WriteDemoOma(path, 0.2));
    const auto audio = omgtest::AudioPart(path);
    std::vector<uint8_t> big(300000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    AttributeSet tags;
    tags[attr::Jacket] = {Picture("image/png", big)};
    ASSERT_TRUE(Open(path)->Save(path, tags));
    EXPECT_GT(omgtest::Ea3Offset(testsupport::ReadBytes(path)), 300000u);
    EXPECT_EQ(omgtest::AudioPart(path), audio);
    const auto reread = Open(path);
    EXPECT_TRUE(SameValues(TagsOf(*reread)[attr::Jacket], {Picture("image/png", big)}));
    EXPECT_EQ(Int(*reread, attr::MilliSecond), 200);
}

TEST(OpenMgTags, ATagTooLargeToBeReadAgainIsNotWritten) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "huge.oma";
    ASSERT_TRUE(openmg::WriteDemoOma(path, 0.1));
    const auto before = testsupport::ReadBytes(path);
    // Four 17 MB covers: each alone is fine, together they pass what a reader takes.
    const std::vector<uint8_t> cover(17u << 20, 0x5A);
    AttributeSet tags;
    tags[attr::Jacket] = {Picture("image/png", cover), Picture("image/png", cover),
                          Picture("image/png", cover), Picture("image/png", cover)};
    EXPECT_FALSE(Open(path)->Save(path, tags));
    EXPECT_EQ(testsupport::ReadBytes(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    tags[attr::Jacket].resize(3);
    ASSERT_TRUE(Open(path)->Save(path, tags));
    ASSERT_NE(Open(path), nullptr);
    EXPECT_EQ(TagsOf(*Open(path))[attr::Jacket].size(), 3u);
}

// Builds an OMA file from raw ID3v2 frames (for tags as other writers make them).
std::vector<uint8_t> RawFrame(const char* id, const std::vector<uint8_t>& body, int major = 3) {
    // Sized up front: growing the 10-byte vector by insert trips a false
    // -Warray-bounds in GCC 12 at -O3.
    std::vector<uint8_t> f;
    f.reserve(10 + body.size());
    f.resize(10);
    std::memcpy(f.data(), id, 4);
    if (major == 4) {
        openmg::WriteSyncsafe(f.data() + 4, static_cast<uint32_t>(body.size()));
    } else {
        openmg::WriteBe32(f.data() + 4, static_cast<uint32_t>(body.size()));
    }
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

std::filesystem::path MakeOma(const testsupport::ScopedTempDir& dir,
                              const std::vector<std::vector<uint8_t>>& frames, int major = 3) {
    std::vector<uint8_t> body;
    for (const auto& f : frames) body.insert(body.end(), f.begin(), f.end());
    body.resize(body.size() + 64, 0);
    // Sized up front: growing a 10-byte vector by insert trips a false
    // -Warray-bounds in GCC 12 at -O2.
    std::vector<uint8_t> file;
    file.reserve(10 + body.size() + 96 + 44100 * 4);
    file.assign({'e', 'a', '3', static_cast<uint8_t>(major), 0, 0, 0, 0, 0, 0});
    openmg::WriteSyncsafe(file.data() + 6, static_cast<uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    openmg::Ea3Header header;
    header.codec_id = 4;
    const auto h = openmg::RenderEa3Header(header);
    file.insert(file.end(), h.begin(), h.end());
    file.resize(file.size() + 44100 * 4, 0);
    const auto path = dir / "raw.oma";
    testsupport::WriteBytes(path, file);
    return path;
}

TEST(OpenMgTags, TagsOfOtherWritersAreRead) {
    testsupport::ScopedTempDir dir;
    // FFmpeg's style: Latin-1 with terminator, UTF-16LE with BOM, TRCK, TYER, "(nn)" genre.
    const auto path =
        MakeOma(dir, {RawFrame("TIT2", {0, 'L', 'a', 't', 'i', 'n', 0}),
                      RawFrame("TPE1", {1, 0xFF, 0xFE, 'A', 0, 0xE9, 0, 0, 0}),
                      RawFrame("TRCK", {0, '5', '/', '9'}), RawFrame("TYER", {0, '2', '0', '0', '1'}),
                      RawFrame("TCON", {0, '(', '1', '7', ')'}), RawFrame("ZZZZ", {1, 2, 3})});
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Text(*file, attr::Title), u"Latin");
    EXPECT_EQ(Text(*file, attr::Artist), u"Aé");
    EXPECT_EQ(Int(*file, attr::TrackNumber), 5);
    EXPECT_EQ(Int(*file, attr::TotalTracks), 9);
    EXPECT_EQ(Text(*file, attr::ReleaseYear), u"2001");
    EXPECT_EQ(Text(*file, attr::Genre), u"Rock");

    // Rewriting keeps the unknown frame and turns the rest into the SonicStage form.
    AttributeSet tags = TagsOf(*file);
    ASSERT_TRUE(file->Save(path, tags));
    ExpectStored(tags, *Open(path));
    EXPECT_EQ(FrameBody(FramesOf(path), "ZZZZ"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(FrameBody(FramesOf(path), "TIT2").front(), 2);

    // A v2.4 tag: UTF-8 text and syncsafe frame sizes.
    const auto v24 = MakeOma(
        dir,
        {RawFrame("TIT2", {3, 0xC3, 0xA9, 't', 0xC3, 0xA9}, 4), RawFrame("TDRC", {3, '1', '9', '8', '8'}, 4),
         RawFrame("TXXX", {3, 'O', 'M', 'G', '_', 'T', 'R', 'A', 'C', 'K', 0, '1', '1'}, 4)},
        4);
    const auto f24 = Open(v24);
    ASSERT_NE(f24, nullptr);
    EXPECT_EQ(Text(*f24, attr::Title), u"été");
    EXPECT_EQ(Text(*f24, attr::ReleaseYear), u"1988");
    EXPECT_EQ(Int(*f24, attr::TrackNumber), 11);
    ASSERT_TRUE(f24->Save(v24, TagsOf(*f24)));
    EXPECT_EQ(testsupport::ReadBytes(v24)[3], 3);  // written back as ID3v2.3
    EXPECT_EQ(Text(*Open(v24), attr::Title), u"été");
}

TEST(OpenMgTags, APictureOnlyChangeKeepsEveryOtherFrameAsItWas) {
    testsupport::ScopedTempDir dir;
    const std::vector<std::vector<uint8_t>> text = {
        RawFrame("TXXX", {0, 'O', 'M', 'G', '_', 'T', 'R', 'A', 'C', 'K', 0, '5'}),
        RawFrame("TIT2", {0, 'L', 'a', 't', 'i', 'n'}), RawFrame("TRCK", {0, '5', '/', '9'}),
        RawFrame("ZZZZ", {1, 2, 3})};
    const auto path = MakeOma(dir, text);
    const auto before = FramesOf(path);
    const auto audio = omgtest::AudioPart(path);

    AttributeSet tags = TagsOf(*Open(path));
    tags[attr::Jacket] = {Picture("image/png", {1, 2, 3, 4})};
    ASSERT_TRUE(Open(path)->Save(path, tags));
    auto after = FramesOf(path);
    ASSERT_EQ(after.size(), before.size() + 1);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i].bytes, before[i].bytes) << before[i].id;
    EXPECT_EQ(after.back().id, "GEOB");
    EXPECT_EQ(omgtest::AudioPart(path), audio);
    ExpectStored(tags, *Open(path));

    // A text change renders the tag in the SonicStage form again.
    tags[attr::Title] = {std::u16string(u"New")};
    tags[attr::Jacket].clear();
    ASSERT_TRUE(Open(path)->Save(path, tags));
    after = FramesOf(path);
    EXPECT_EQ(FrameBody(after, "TIT2").front(), 2);
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const auto& f) { return f.id == "GEOB"; }), 0);
}

// APIC pictures of other writers: the front cover becomes the first jacket
// when the file has no cover object, and is written back as one.
TEST(OpenMgTags, ApicFrontCoverStandsInForTheCoverObject) {
    testsupport::ScopedTempDir dir;
    std::vector<uint8_t> other = {0, 'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 0x00, 0};
    other.insert(other.end(), kPng.begin(), kPng.end());
    std::vector<uint8_t> front = {0, 'i', 'm', 'a', 'g', 'e', '/', 'j', 'p', 'e', 'g', 0, 0x03, 0};
    front.insert(front.end(), kJpeg.begin(), kJpeg.end());
    const auto path = MakeOma(dir, {RawFrame("APIC", other), RawFrame("APIC", front)});
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    auto tags = TagsOf(*file);
    EXPECT_TRUE(SameValues(tags[attr::Jacket], {Picture("image/jpeg", kJpeg)}));

    ASSERT_TRUE(file->Save(path, tags));
    auto frames = FramesOf(path);
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const auto& f) { return f.id == "APIC"; }), 1);
    EXPECT_FALSE(FrameBody(frames, "GEOB", {2, 'i', 'm', 'a', 'g', 'e', '/', 'j'}).empty());
    EXPECT_TRUE(SameValues(TagsOf(*Open(path))[attr::Jacket], {Picture("image/jpeg", kJpeg)}));

    tags.erase(attr::Jacket);
    ASSERT_TRUE(Open(path)->Save(path, tags));
    // The remaining APIC (not a front cover) now stands in; removing it too empties the list.
    EXPECT_TRUE(SameValues(TagsOf(*Open(path))[attr::Jacket], {Picture("image/png", kPng)}));
    ASSERT_TRUE(Open(path)->Save(path, tags));
    EXPECT_EQ(TagsOf(*Open(path)).count(attr::Jacket), 0u);
}

TEST(OpenMgTags, EmptyTextAndValuesOfOtherTypes) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "e.oma";
    ASSERT_TRUE(openmg::WriteDemoOma(path, 0.1));
    AttributeSet tags;
    tags[attr::Title] = {std::u16string()};
    tags[attr::TrackNumber] = {std::u16string(u"08")};       // text that is a number
    tags[attr::Release] = {std::u16string(u"2005/01/01")};   // text that is a date
    tags[attr::Genre] = {int32_t{5}};                        // number as text
    tags[attr::TotalTracks] = {std::u16string(u"several")};  // not a number: nothing stored
    ASSERT_TRUE(Open(path)->Save(path, tags));
    const auto file = Open(path);
    EXPECT_EQ(Text(*file, attr::Title), u"");
    EXPECT_EQ(Int(*file, attr::TrackNumber), 8);
    EXPECT_EQ(std::get<DateValue>(*omgtest::Get(*file, attr::Release)), Date(u"2005/01/01 00:00:00"));
    EXPECT_EQ(Text(*file, attr::Genre), u"5");
    EXPECT_EQ(file->Attributes().count(attr::TotalTracks), 0u);
}

// An .omg file cannot store the total, but its TRCK frame still gives the
// track number when there is no OMG_TRACK: removing or changing the number
// must not leave that frame behind to bring the old number back.
TEST(OpenMgTags, TrckOfAnOmgFileDoesNotBringARemovedTrackNumberBack) {
    testsupport::ScopedTempDir dir;
    const auto raw = MakeOma(dir, {RawFrame("TIT2", {0, 'T'}), RawFrame("TRCK", {0, '3', '/', '9'})});
    const auto path = dir / "t.omg";
    std::filesystem::rename(raw, path);
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(Int(*file, attr::TrackNumber), 3);
    ASSERT_FALSE(file->CanStore(attr::TotalTracks));

    AttributeSet tags = TagsOf(*file);
    tags[attr::TrackNumber] = {int32_t{5}};
    tags[attr::TrackNumberAlt] = {int32_t{5}};
    ASSERT_TRUE(Open(path)->Save(path, tags));
    EXPECT_EQ(Int(*Open(path), attr::TrackNumber), 5);
    EXPECT_TRUE(FrameBody(FramesOf(path), "TRCK").empty()) << "a stale TRCK contradicts OMG_TRACK";

    tags.erase(attr::TrackNumber);
    tags.erase(attr::TrackNumberAlt);
    ASSERT_TRUE(Open(path)->Save(path, tags));
    EXPECT_EQ(Open(path)->Attributes().count(attr::TrackNumber), 0u);
}

// Values the tag cannot hold in a readable form (negative numbers, dates
// outside years 1..9999) are not written: a frame that reads back as nothing
// would be kept as a foreign frame and pile up with every save.
TEST(OpenMgTags, UnreadableValuesAreNotWritten) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "n.oma";
    ASSERT_TRUE(openmg::WriteDemoOma(path, 0.1));
    AttributeSet tags;
    tags[attr::TrackNumber] = {int32_t{-3}};
    tags[attr::TotalTracks] = {int32_t{-9}};
    tags[attr::Release] = {DateValue{-800000.0}};  // before year 1
    tags[attr::Import] = {DateValue{3000000.0}};   // after year 9999
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Open(path)->Save(path, tags));
    const auto frames = FramesOf(path);
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const auto& f) { return f.id == "TXXX"; }), 0);
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const auto& f) { return f.id == "TRCK"; }), 0);
    const auto file = Open(path);
    for (uint32_t id : {attr::TrackNumber, attr::TotalTracks, attr::Release, attr::Import}) {
        EXPECT_EQ(file->Attributes().count(id), 0u) << std::hex << id;
    }
}

// Track 0 is no track number, as in MP3 and MP4 files: not written, and a
// stored "0" (written before) reads as no track number.
TEST(OpenMgTags, TrackZeroIsNoTrackNumber) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "n.oma";
    ASSERT_TRUE(openmg::WriteDemoOma(path, 0.1));
    AttributeSet tags;
    tags[attr::TrackNumber] = {int32_t{0}};
    tags[attr::TotalTracks] = {int32_t{9}};
    ASSERT_TRUE(Open(path)->Save(path, tags));
    const auto frames = FramesOf(path);
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const auto& f) { return f.id == "TXXX"; }), 0);
    const auto file = Open(path);
    EXPECT_EQ(file->Attributes().count(attr::TrackNumber), 0u);
    EXPECT_EQ(file->Attributes().at(attr::TotalTracks).size(), 1u);
}

TEST(OpenMgTags, UrlsOutsideLatin1AreStoredAsPercentEscapes) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "u.oma";
    ASSERT_TRUE(openmg::WriteDemoOma(path, 0.1));
    AttributeSet tags;
    tags[attr::ArtistURL] = {std::u16string(u"http://example.com/Bj\u00F6rk")};
    ASSERT_TRUE(Open(path)->Save(path, tags));
    EXPECT_EQ(Text(*Open(path), attr::ArtistURL), u"http://example.com/Bj\u00F6rk") << "Latin-1 is kept";
    // One character beyond Latin-1 escapes every non-ASCII byte of the UTF-8
    // form; a lone surrogate becomes U+FFFD.
    tags[attr::ArtistURL] = {std::u16string(u"http://example.com/Bj\u00F6rk/\U0001F3B5") + char16_t{0xD800}};
    ASSERT_TRUE(Open(path)->Save(path, tags));
    EXPECT_EQ(Text(*Open(path), attr::ArtistURL), u"http://example.com/Bj%C3%B6rk/%F0%9F%8E%B5%EF%BF%BD");
}

TEST(OpenMgTags, DatesInSonyForm) {
    // 2005-01-01 is day 38353 of the OLE calendar.
    EXPECT_EQ(openmg::ParseOmgDate(u"2005/01/01 00:00:00")->days, 38353.0);
    EXPECT_EQ(openmg::ParseOmgDate(u"05/01/01")->days, 38353.0);
    EXPECT_EQ(openmg::ParseOmgDate(u"2005-01-01")->days, 38353.0);
    EXPECT_EQ(openmg::ParseOmgDate(u"2005")->days, 38353.0);
    EXPECT_DOUBLE_EQ(openmg::ParseOmgDate(u"1899/12/30 12:00:00")->days, 0.5);
    EXPECT_DOUBLE_EQ(openmg::ParseOmgDate(u"1899/12/29 06:00:00")->days, -1.25);
    EXPECT_EQ(openmg::FormatOmgDate(DateValue{38353.75}), u"2005/01/01 18:00:00");
    EXPECT_EQ(openmg::FormatOmgDate(DateValue{-1.25}), u"1899/12/29 06:00:00");
    EXPECT_EQ(openmg::FormatOmgDate(DateValue{1e300}), u"");
    for (const char16_t* bad : {u"", u"2005/13/01", u"2005/02/30", u"abc", u"2005/01/01 25:00:00", u"2005/01",
                                u"2005/01/271", u"2005/257/01"}) {
        EXPECT_FALSE(openmg::ParseOmgDate(bad).has_value())
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
    }
}

// Failing writes: the original stays byte for byte and no temporary file is left.
class FailedWrite : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_ / "f.oma";
        ASSERT_TRUE(openmg::WriteDemoOma(path_, 0.5));
        original_ = testsupport::ReadBytes(path_);
        file_ = Open(path_);
        ASSERT_NE(file_, nullptr);
    }
    void ExpectUntouched() {
        EXPECT_EQ(testsupport::ReadBytes(path_), original_);
        size_t entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path())) ++entries;
        EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
    }
    testsupport::ScopedTempDir dir_;
    std::filesystem::path path_;
    std::vector<uint8_t> original_;
    std::unique_ptr<OpenedFile> file_;
};

// Runs in the death-test child: exits 0 when Save reported the failure.
void SaveWithFileSizeLimit(OpenedFile& file, const std::filesystem::path& path) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::_Exit(file.Save(path, FullTagSet()) ? 1 : 0);
}

// Runs in the death-test child: exits 0 when the demo writer reported the
// failure.
void WriteDemoWithFileSizeLimit(const std::filesystem::path& path) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{65536, 65536};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::_Exit(openmg::WriteDemoOma(path, 2.0) ? 1 : 0);
}

// The demo writer replaces a file only once the new one is complete, and
// leaves nothing behind when it cannot write a new one.
TEST_F(FailedWrite, DemoWriterLeavesTheFileItCouldNotReplace) {
    EXPECT_EXIT(WriteDemoWithFileSizeLimit(path_), ::testing::ExitedWithCode(0), "");
    ExpectUntouched();
    EXPECT_EXIT(WriteDemoWithFileSizeLimit(dir_ / "new.oma"), ::testing::ExitedWithCode(0), "");
    ExpectUntouched();
}

TEST_F(FailedWrite, DiskFullHalfwayThrough) {
    // The file-size limit makes the write of the temporary file fail after
    // its first bytes, as a full disk would.
    EXPECT_EXIT(SaveWithFileSizeLimit(*file_, path_), ::testing::ExitedWithCode(0), "");
    ExpectUntouched();
}

TEST_F(FailedWrite, FailureBeforeTheRename) {
    // Stage 1: the new file is complete; stage 2: it is flushed and about to
    // replace the original.
    for (int stage : {1, 2}) {
        SetAtomicEditFaultForTesting(stage);
        const bool saved = file_->Save(path_, FullTagSet());
        SetAtomicEditFaultForTesting(0);
        EXPECT_FALSE(saved) << "stage " << stage;
        ExpectUntouched();
    }
    EXPECT_TRUE(file_->Save(path_, FullTagSet())) << "the hook is off again";
}

TEST_F(FailedWrite, ReadOnlyFile) {
    // Refused whoever saves, root included.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_read);
    EXPECT_FALSE(file_->Save(path_, FullTagSet()));
    ExpectUntouched();
}

TEST_F(FailedWrite, ReadOnlyFolder) {
    if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind root";
    std::filesystem::permissions(dir_.path(),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(file_->Save(path_, FullTagSet()));
    std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all);
    ExpectUntouched();
}

TEST_F(FailedWrite, FileReplacedOrRemovedSinceOpening) {
    testsupport::WriteBytes(path_, Bytes("RIFF....WAVEfmt "));
    original_ = testsupport::ReadBytes(path_);
    EXPECT_FALSE(file_->Save(path_, FullTagSet()));
    ExpectUntouched();
    std::filesystem::remove(path_);
    EXPECT_FALSE(file_->Save(path_, FullTagSet()));
}

}  // namespace
