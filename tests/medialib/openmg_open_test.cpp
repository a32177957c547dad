// Opening OpenMG content: technical values of every real sample (checked
// against ffprobe where FFmpeg reads the file, against the format's own
// facts where it does not), detection, container numbers and protection.
#include <algorithm>
#include <cmath>

#include "medialib/openmg/ea3_header.h"
#include "openmg_test_util.h"

namespace {

using namespace medialib;
using omgtest::Int;
using omgtest::Open;
using omgtest::Text;

struct SampleFacts {
    const char* file;
    int32_t codec;
    int32_t rate;
    int32_t channels;
    int32_t milliseconds;
    int32_t bit_rate;
    int32_t samples_per_frame;
    const char* ffprobe_codec;
};

// Bit rates follow from the frame size (rate * bytes * 8 / samples per frame).
const SampleFacts kSamples[] = {
    {"pronom_03-Untitled-3_atrac3plus.oma", codec::Atrac3Plus, 44100, 2, 17786, 192937, 2048, "atrac3p"},
    {"atracdencU_test_atrac3_132k_noid3.oma", codec::Atrac3, 44100, 2, 5016, 132300, 1024, "atrac3"},
    {"atracdencU_sine1k_atrac3plus_mono_128k_noid3.oma", codec::Atrac3Plus, 44100, 1, 5062, 130921, 2048,
     "atrac3p"},
};

class RealSample : public ::testing::TestWithParam<SampleFacts> {};

TEST_P(RealSample, TechnicalValuesAgreeWithTheStream) {
    const SampleFacts& facts = GetParam();
    CQ_REQUIRE_SAMPLE(path, facts.file);
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Container(), container::Oma);
    EXPECT_EQ(file->Codec(), facts.codec);
    EXPECT_TRUE(file->Decodable());
    EXPECT_EQ(Int(*file, attr::Format), container::Oma);
    EXPECT_EQ(Int(*file, attr::Codec), facts.codec);
    EXPECT_EQ(Int(*file, attr::Frequency), facts.rate);
    EXPECT_EQ(Int(*file, attr::Channel), facts.channels);
    EXPECT_EQ(Int(*file, attr::MilliSecond), facts.milliseconds);
    EXPECT_EQ(Int(*file, attr::Duration), static_cast<int32_t>(std::lround(facts.milliseconds / 1000.0)));
    EXPECT_EQ(Int(*file, attr::BitRate), facts.bit_rate);
    EXPECT_EQ(Int(*file, attr::BitDepth), 16);
    EXPECT_EQ(Int(*file, attr::BitDepthAlt), 16);
    EXPECT_EQ(Int(*file, attr::Size), static_cast<int32_t>(std::filesystem::file_size(path)));
    EXPECT_EQ(Text(*file, attr::Location), std::filesystem::absolute(path).lexically_normal().u16string());
    EXPECT_EQ(Text(*file, attr::Extension), u".oma");
    EXPECT_EQ(Int(*file, attr::BitRateAlt), -1);

    if (!omgtest::HaveFfmpeg()) GTEST_SKIP() << "ffprobe not installed";
    const auto probe =
        omgtest::Run("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration " +
                     omgtest::Quote(path));
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(omgtest::ProbeField(*probe, "codec_name"), facts.ffprobe_codec);
    EXPECT_EQ(std::stoi(omgtest::ProbeField(*probe, "sample_rate")), facts.rate);
    EXPECT_EQ(std::stoi(omgtest::ProbeField(*probe, "channels")), facts.channels);
    const double frame_seconds = static_cast<double>(facts.samples_per_frame) / facts.rate;
    EXPECT_NEAR(std::stod(omgtest::ProbeField(*probe, "duration")), Int(*file, attr::MilliSecond) / 1000.0,
                frame_seconds);
}

INSTANTIATE_TEST_SUITE_P(OpenMg, RealSample, ::testing::ValuesIn(kSamples));

TEST(OpenMgOpen, SonicStageTagsOfTheAtrac3PlusSample) {
    CQ_REQUIRE_SAMPLE(path, "pronom_03-Untitled-3_atrac3plus.oma");
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Text(*file, attr::Title), u"Untitled(3)");
    EXPECT_EQ(Text(*file, attr::Album), u"Star Trek");
    EXPECT_EQ(Text(*file, attr::AlbumAlt), u"Star Trek");
    EXPECT_EQ(Text(*file, attr::SortAlbum), u"Star Trek");
    EXPECT_EQ(Text(*file, attr::SortTitle), u"Untitled(3)");
    EXPECT_EQ(Int(*file, attr::TrackNumber), 3);
    EXPECT_EQ(Int(*file, attr::TrackNumberAlt), 3);
    EXPECT_EQ(file->Attributes().count(attr::Artist), 0u);
    EXPECT_EQ(file->Attributes().count(attr::Jacket), 0u);
}

// FFmpeg gives no duration for AAL; the packet walk must agree with FFmpeg's
// packet count and with the header's own duration (27200 ms, 1172 packets).
TEST(OpenMgOpen, AdvancedLosslessSample) {
    CQ_REQUIRE_SAMPLE(path, "pronom_02-Untitled-2_aal_atrac3.oma");
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Container(), container::Oma);  // E-ID 0xFF80 is plain
    EXPECT_EQ(file->Codec(), codec::AalAtrac3);
    EXPECT_TRUE(file->Decodable());
    EXPECT_EQ(Int(*file, attr::Frequency), 44100);
    EXPECT_EQ(Int(*file, attr::Channel), 2);
    EXPECT_EQ(Int(*file, attr::MilliSecond), 27214);  // 1172 * 1024 / 44100
    EXPECT_NEAR(Int(*file, attr::MilliSecond), 27200, 1024 * 1000 / 44100);
    EXPECT_EQ(Int(*file, attr::BitRateAlt), 132300);  // ATRAC3 base layer, 384-byte frames
    EXPECT_GT(Int(*file, attr::BitRate), 132300);
    EXPECT_EQ(Text(*file, attr::Title), u"Untitled(2)");
    EXPECT_EQ(Text(*file, attr::Album), u"Untitled");
    EXPECT_EQ(Int(*file, attr::TrackNumber), 2);

    if (!omgtest::HaveFfmpeg()) GTEST_SKIP() << "ffprobe not installed";
    const auto probe = omgtest::Run(
        "ffprobe -v error -count_packets -show_entries "
        "stream=codec_name,sample_rate,channels,nb_read_packets " +
        omgtest::Quote(path));
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(omgtest::ProbeField(*probe, "codec_name"), "atrac3al");
    EXPECT_EQ(omgtest::ProbeField(*probe, "sample_rate"), "44100");
    EXPECT_EQ(omgtest::ProbeField(*probe, "channels"), "2");
    EXPECT_EQ(omgtest::ProbeField(*probe, "nb_read_packets"), "1172");
}

TEST(OpenMgOpen, LegacyPackageGivesMetadataButNoAudio) {
    CQ_REQUIRE_SAMPLE(path, "pronom_02-Untitled-2_openmg_legacy.omg");
    const auto bytes = testsupport::ReadBytes(path);
    EXPECT_TRUE(LooksLikeOpenMg(bytes));
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Container(), container::Omg);
    EXPECT_EQ(file->Codec(), codec::Atrac3);
    EXPECT_FALSE(file->Decodable());
    EXPECT_EQ(Text(*file, attr::Title), u"Untitled(2)");
    EXPECT_EQ(Text(*file, attr::Artist), u"Unknown");
    EXPECT_EQ(Text(*file, attr::Album), u"Untitled");
    EXPECT_EQ(Text(*file, attr::Genre), u"Unknown");
    EXPECT_EQ(Int(*file, attr::TrackNumber), 2);
    // 449664 bytes of 384-byte frames: the same track as the AAL sample, 27.2 s.
    EXPECT_EQ(Int(*file, attr::MilliSecond), 27191);
    EXPECT_EQ(Int(*file, attr::Format), container::Omg);
    for (uint32_t id : {attr::Title, attr::Artist, attr::Jacket, attr::TrackNumber})
        EXPECT_FALSE(file->CanStore(id));

    testsupport::ScopedTempDir dir;
    const auto copy = dir / "legacy.omg";
    std::filesystem::copy_file(path, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);  // samples are read-only
    const auto reopened = Open(copy);
    ASSERT_NE(reopened, nullptr);
    AttributeSet tags;
    tags[attr::Title] = {std::u16string(u"changed")};
    EXPECT_FALSE(reopened->Save(copy, tags));
    EXPECT_EQ(testsupport::ReadBytes(copy), bytes);
}

// A package built here: XML with entities, UTF-8 text and a self-closing
// element, ten 384-byte frames.
std::vector<uint8_t> Ber(uint8_t tag, const std::vector<uint8_t>& content) {
    std::vector<uint8_t> out = {tag};
    if (content.size() < 0x80) {
        out.push_back(static_cast<uint8_t>(content.size()));
    } else {
        out.insert(out.end(),
                   {0x82, static_cast<uint8_t>(content.size() >> 8), static_cast<uint8_t>(content.size())});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

std::vector<uint8_t> Package(const std::string& xml) {
    // The vectors are sized up front: growing small ones by insert trips a
    // false -Warray-bounds in GCC 12 at -O3.
    std::vector<uint8_t> header;
    header.reserve(64);
    header.assign({0x30, 0x80});
    for (const auto& e :
         {Ber(0x06, {'f', 'o', 'p', 'e', 'n', 'M', 'G'}), Ber(0x02, {0x03, 0xEB}),
          Ber(0x04, std::vector<uint8_t>(20, 1)), Ber(0x02, {0x3F, 0x00}), Ber(0x02, {0x0F, 0x00}),
          Ber(0x02, {0}), Ber(0x02, {0x02, 0x03, 0xA0}), Ber(0x02, {0x01, 0x80}), Ber(0x02, {0})}) {
        header.insert(header.end(), e.begin(), e.end());
    }
    header.insert(header.end(), {0, 0});
    std::vector<uint8_t> out;
    out.reserve(header.size() + 3900 + xml.size() + 64);
    out.assign({0x30, 0x80});
    out.insert(out.end(), header.begin(), header.end());
    for (const auto& e :
         {Ber(0x04, std::vector<uint8_t>(8, 7)), Ber(0x04, std::vector<uint8_t>(3840, 0x55))}) {
        out.insert(out.end(), e.begin(), e.end());
    }
    std::vector<uint8_t> trailer;
    trailer.reserve(xml.size() + 64);
    trailer.assign({0x30, 0x80});
    const std::string name = "OMG:FRINGE:USR:user.xml";
    for (const auto& e : {Ber(0x04, {name.begin(), name.end()}), Ber(0x04, {xml.begin(), xml.end()})}) {
        trailer.insert(trailer.end(), e.begin(), e.end());
    }
    trailer.insert(trailer.end(), {0, 0});
    out.insert(out.end(), trailer.begin(), trailer.end());
    out.insert(out.end(), {0, 0});
    return out;
}

TEST(OpenMgOpen, LegacyPackageXmlDetails) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "p.omg";
    testsupport::WriteBytes(path, Package(R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- comment <title>not this</title> -->
<package version="2.0"><pid/><album><caption><title>Rock &amp; Roll &#x263A;</title></caption></album>
<tracklist><track number = '12'><description><genre>Café</genre></description>
<caption><title >A &lt;b&gt; &quot;c&quot;</title><artist role="principal">Ärtist</artist></caption>
<renditionlist><rendition format="audio/atrac3"/></renditionlist></track></tracklist></package>)"));
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Text(*file, attr::Album), u"Rock & Roll \u263A");
    EXPECT_EQ(Text(*file, attr::Title), u"A <b> \"c\"");
    EXPECT_EQ(Text(*file, attr::Artist), u"Ärtist");
    EXPECT_EQ(Text(*file, attr::Genre), u"Café");
    EXPECT_EQ(Int(*file, attr::TrackNumber), 12);
    EXPECT_EQ(Int(*file, attr::MilliSecond), 232);  // 10 frames of 1024 samples
    EXPECT_EQ(Int(*file, attr::BitRate), 132300);

    // Bytes that are not UTF-8 show as U+FFFD; the rest of the text stays.
    testsupport::WriteBytes(path, Package("<package><album><caption><title>Bad \xFF byte</title></caption>"
                                          "</album></package>"));
    const auto damaged = Open(path);
    ASSERT_NE(damaged, nullptr);
    EXPECT_EQ(Text(*damaged, attr::Album), u"Bad \uFFFD byte");

    // A package cut before its trailer is damaged: refused.
    auto bytes = Package("<package/>");
    // Erased rather than resized: GCC 12 with the sanitizers misreads the
    // shrinking resize as a huge memset (-Wstringop-overflow).
    bytes.erase(bytes.end() - 40, bytes.end());
    testsupport::WriteBytes(path, bytes);
    EXPECT_EQ(Open(path), nullptr);
}

// The header's payload length is an untrusted 64-bit integer: a length the
// file cannot hold must not give a huge (or overflowed) duration.
TEST(OpenMgOpen, LegacyPackageLengthBeyondTheFile) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "p.omg";
    auto bytes = Package(
        "<package><tracklist><track><renditionlist><rendition format=\"audio/atrac3\"/>"
        "</renditionlist></track></tracklist></package>");
    const std::vector<uint8_t> length = {0x02, 0x02, 0x0F, 0x00};  // 3840 bytes of audio
    auto at = std::search(bytes.begin(), bytes.end(), length.begin(), length.end());
    ASSERT_NE(at, bytes.end());
    at = bytes.erase(at, at + static_cast<long>(length.size()));
    const std::vector<uint8_t> huge = {0x02, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    bytes.insert(at, huge.begin(), huge.end());
    testsupport::WriteBytes(path, bytes);
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    // At most the whole file as 384-byte frames of 1024 samples at 44.1 kHz.
    const double longest_ms = static_cast<double>(bytes.size() / 384 * 1024) * 1000.0 / 44100;
    EXPECT_GT(Int(*file, attr::MilliSecond), 0);
    EXPECT_LE(Int(*file, attr::MilliSecond), longest_ms + 1);
}

TEST(OpenMgOpen, DetectionIsByContent) {
    CQ_REQUIRE_SAMPLE(riff, "atracdencU_sine1k_at3tool_atrac3_66k_riff.at3");
    const auto riff_bytes = testsupport::ReadBytes(riff);
    EXPECT_FALSE(LooksLikeOpenMg(riff_bytes));
    testsupport::ScopedTempDir dir;
    const auto named_oma = dir / "riff.oma";
    std::filesystem::copy_file(riff, named_oma);
    std::filesystem::permissions(named_oma, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);  // samples are read-only
    EXPECT_EQ(Open(named_oma), nullptr);                               // a RIFF file named .oma is not OpenMG

    const auto tagged = dir / "demo.bin";
    ASSERT_TRUE(openmg::WriteDemoOma(tagged, 0.5));
    EXPECT_TRUE(LooksLikeOpenMg(testsupport::ReadBytes(tagged)));
    const auto file = Open(tagged);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Container(), container::Oma);
    EXPECT_EQ(Text(*file, attr::Extension), u".bin");

    // File names are bytes: one that is not UTF-8 still opens, the bad byte
    // shown as U+FFFD; the extension is UTF-8 text with its ASCII letters in
    // lower case.
    const auto odd_name = dir / "b\377d.\303\226MA";  // 0xFF, then U+00D6 in UTF-8
    std::filesystem::copy_file(tagged, odd_name);
    std::filesystem::permissions(odd_name, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);  // samples are read-only
    const auto odd = Open(odd_name);
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(Text(*odd, attr::Extension), u".\u00D6ma");
    EXPECT_NE(Text(*odd, attr::Location).find(u"b\uFFFDd.\u00D6MA"), std::u16string::npos);

    const std::vector<uint8_t> junk = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(LooksLikeOpenMg(junk));
    EXPECT_FALSE(LooksLikeOpenMg({}));
}

// The same content under the four extensions: only the container number and
// the capability set change.
TEST(OpenMgOpen, ExtensionPicksTheContainerNumber) {
    CQ_REQUIRE_SAMPLE(path, "pronom_03-Untitled-3_atrac3plus.oma");
    testsupport::ScopedTempDir dir;
    const struct {
        const char* name;
        int32_t container;
    } cases[] = {{"a.oma", container::Oma},
                 {"a.AA3", container::Oma},
                 {"a.omg", container::Omg},
                 {"a.KDR", container::Kdr}};
    for (const auto& c : cases) {
        const auto copy = dir / c.name;
        std::filesystem::copy_file(path, copy);
        std::filesystem::permissions(copy, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);  // samples are read-only
        const auto file = Open(copy);
        ASSERT_NE(file, nullptr) << c.name;
        EXPECT_EQ(file->Container(), c.container) << c.name;
        EXPECT_EQ(Int(*file, attr::Format), c.container) << c.name;
        EXPECT_EQ(file->Codec(), codec::Atrac3Plus) << c.name;
        EXPECT_TRUE(file->CanStore(attr::Title)) << c.name;
        EXPECT_FALSE(file->CanStore(attr::Duration)) << c.name;
        EXPECT_FALSE(file->CanStore(attr::Size)) << c.name;
    }
    const auto omg = Open(dir / "a.omg");
    for (uint32_t id :
         {attr::SortAlbum, attr::TotalTracks, attr::Import, attr::LyricsText, attr::LinerNotesText}) {
        EXPECT_FALSE(omg->CanStore(id)) << std::hex << id;
    }
    EXPECT_TRUE(omg->CanStore(attr::Composer));
    EXPECT_EQ(omg->Attributes().count(attr::SortAlbum), 0u);  // the format lacks it: not reported
    const auto kdr = Open(dir / "a.KDR");
    for (uint32_t id :
         {attr::Subtitle, attr::SortSubtitle, attr::ArtistURL, attr::AlbumArtist, attr::SortAlbumArtist,
          attr::Composer, attr::Lyricist, attr::Release, attr::LyricsText, attr::LinerNotesText}) {
        EXPECT_FALSE(kdr->CanStore(id)) << std::hex << id;
    }
    EXPECT_TRUE(kdr->CanStore(attr::SortAlbum));
    EXPECT_TRUE(kdr->CanStore(attr::Jacket));
}

// Patches the E-ID of a copy of the ATRAC3 sample.
std::filesystem::path WithEid(const testsupport::ScopedTempDir& dir, const std::filesystem::path& sample,
                              const std::string& name, uint16_t eid) {
    auto bytes = testsupport::ReadBytes(sample);
    openmg::WriteBe16(bytes.data() + omgtest::Ea3Offset(bytes) + 6, eid);
    const auto out = dir / name;
    testsupport::WriteBytes(out, bytes);
    return out;
}

TEST(OpenMgOpen, ProtectedContentKeepsTechnicalValuesButIsNotDecodable) {
    CQ_REQUIRE_SAMPLE(path, "atracdencU_test_atrac3_132k_noid3.oma");
    testsupport::ScopedTempDir dir;
    const auto encrypted = Open(WithEid(dir, path, "enc.oma", 0x0001));
    ASSERT_NE(encrypted, nullptr);
    EXPECT_EQ(encrypted->Container(), container::ProtectedOma);
    EXPECT_FALSE(encrypted->Decodable());
    EXPECT_EQ(Int(*encrypted, attr::Frequency), 44100);
    EXPECT_EQ(Int(*encrypted, attr::MilliSecond), 5016);

    const auto copied = Open(WithEid(dir, path, "copied.oma", 0xFF80));
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->Container(), container::Oma);
    EXPECT_TRUE(copied->Decodable());

    const auto omg = Open(WithEid(dir, path, "enc.omg", 0x0001));
    ASSERT_NE(omg, nullptr);
    EXPECT_EQ(omg->Container(), container::Omg);
    EXPECT_FALSE(omg->Decodable());
}

// Bare EA3 headers for the codecs without a real sample: the header fields
// alone decide the description.
std::vector<uint8_t> BareFile(const openmg::Ea3Header& header, size_t payload) {
    const auto h = openmg::RenderEa3Header(header);
    // Sized up front: growing the header-sized vector trips a false
    // -Warray-bounds in GCC 12 at -O3.
    std::vector<uint8_t> bytes;
    bytes.reserve(h.size() + payload);
    bytes.assign(h.begin(), h.end());
    bytes.resize(bytes.size() + payload, 0);
    return bytes;
}

TEST(OpenMgOpen, CodecsWithoutRealSamples) {
    testsupport::ScopedTempDir dir;
    const auto open_bytes = [&](const std::vector<uint8_t>& bytes) {
        const auto p = dir / "x.oma";
        testsupport::WriteBytes(p, bytes);
        return Open(p);
    };
    openmg::Ea3Header mp3;
    mp3.codec_id = 3;
    mp3.params = 0x80D910;  // MPEG-1 layer III 128 kb/s, 44.1 kHz joint stereo
    mp3.duration_ms = 268747;
    mp3.packet_count = 10288;
    auto file = open_bytes(BareFile(mp3, 1000));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Codec(), codec::Mp3);
    EXPECT_EQ(Int(*file, attr::Frequency), 44100);
    EXPECT_EQ(Int(*file, attr::Channel), 2);
    EXPECT_EQ(Int(*file, attr::BitRate), 128000);
    EXPECT_EQ(Int(*file, attr::MilliSecond), 268747);
    EXPECT_TRUE(file->Decodable());
    mp3.eid = 0xFFFE;  // scrambled for a Walkman
    file = open_bytes(BareFile(mp3, 1000));
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->Decodable());
    EXPECT_EQ(file->Container(), container::ProtectedOma);

    openmg::Ea3Header lpcm;
    lpcm.codec_id = 4;
    file = open_bytes(BareFile(lpcm, 44100 * 4 * 2));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Codec(), codec::Pcm);
    EXPECT_EQ(Int(*file, attr::MilliSecond), 2000);
    EXPECT_EQ(Int(*file, attr::BitRate), 1411200);

    openmg::Ea3Header wma;
    wma.codec_id = 5;
    file = open_bytes(BareFile(wma, 100));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Codec(), codec::Wma);
    EXPECT_FALSE(file->Decodable());

    openmg::Ea3Header bad;
    bad.codec_id = 0;
    bad.params = 0x00A030;  // sample-rate index 5 does not exist
    EXPECT_EQ(open_bytes(BareFile(bad, 100)), nullptr);
    bad.params = 0x002000;  // frame size 0
    EXPECT_EQ(open_bytes(BareFile(bad, 100)), nullptr);
    bad.codec_id = 0x42;  // unknown codec
    bad.params = 0x002030;
    EXPECT_EQ(open_bytes(BareFile(bad, 100)), nullptr);
}

TEST(OpenMgOpen, DemoFileDecodesWithFfmpeg) {
    testsupport::ScopedTempDir dir;
    const auto path = dir / "demo.oma";
    openmg::DemoOmaOptions options;
    options.tags[attr::Title] = {std::u16string(u"Demo")};
    ASSERT_TRUE(openmg::WriteDemoOma(path, 1.5, options));
    const auto file = Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Codec(), codec::Pcm);
    EXPECT_EQ(Int(*file, attr::MilliSecond), 1500);
    EXPECT_EQ(Text(*file, attr::Title), u"Demo");
    EXPECT_EQ(omgtest::Ea3Offset(testsupport::ReadBytes(path)), 3072u);  // SonicStage layout

    if (!omgtest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    const auto probe = omgtest::Run(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration "
        "-show_entries format_tags=title " +
        omgtest::Quote(path));
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(omgtest::ProbeField(*probe, "codec_name"), "pcm_s16be");
    EXPECT_EQ(omgtest::ProbeField(*probe, "sample_rate"), "44100");
    EXPECT_EQ(omgtest::ProbeField(*probe, "channels"), "2");
    EXPECT_NEAR(std::stod(omgtest::ProbeField(*probe, "duration")), 1.5, 1024.0 / 44100);
    EXPECT_EQ(omgtest::ProbeField(*probe, "TAG:title"), "Demo");
    // Full decode: every sample comes out.
    const auto decoded = omgtest::Run("ffmpeg -v error -i " + omgtest::Quote(path) + " -f s16le -");
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->size(), 66150u * 4);
}

}  // namespace
