// RIFF/WAVE specifics: Sony's ATRAC3 .at3 file, RIFF INFO fallback and mirror.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <sstream>

#include "container_fixtures.h"
#include "medialib/detect/dispatch.h"
#include "medialib/ffmpeg/decoder.h"
#include "medialib/riff/wav_file.h"

namespace {

using namespace medialib;
namespace fs = std::filesystem;

std::map<std::string, std::string> FfprobeStream(const fs::path& p) {
    std::map<std::string, std::string> out;
    std::istringstream in(
        fixtures::Capture("ffprobe -v error -select_streams a:0 -show_entries "
                          "stream=codec_name,sample_rate,channels,bit_rate,duration "
                          "-of default=nw=1 '" +
                          p.string() + "'"));
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

TEST(RiffAtrac3, RealSampleOpensWithTheValuesFfprobeReports) {
    CQ_REQUIRE_SAMPLE(sample, "atracdencU_sine1k_at3tool_atrac3_66k_riff.at3");
    CQ_REQUIRE_FFMPEG();
    auto file = OpenMediaFile(sample);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Container(), container::Wav);
    EXPECT_EQ(file->Codec(), codec::Atrac3);
    const auto probe = FfprobeStream(sample);
    ASSERT_EQ(probe.at("codec_name"), "atrac3");
    EXPECT_EQ(fixtures::Int(*file, attr::Frequency), std::stoi(probe.at("sample_rate")));
    EXPECT_EQ(fixtures::Int(*file, attr::Channel), std::stoi(probe.at("channels")));
    EXPECT_EQ(fixtures::Int(*file, attr::BitRate), std::stoi(probe.at("bit_rate")));
    EXPECT_NEAR(fixtures::Int(*file, attr::MilliSecond), std::stod(probe.at("duration")) * 1000, 1.0);
    EXPECT_EQ(fixtures::Int(*file, attr::Duration), 5);
    EXPECT_EQ(fixtures::Int(*file, attr::BitDepth), -1) << "a lossy stream has no bit depth";
    EXPECT_TRUE(file->Decodable());
    auto src = OpenFileSource(sample);
    auto audio = ff::DecodeAll(*src);
    ASSERT_TRUE(audio);
    EXPECT_NEAR(static_cast<double>(audio->samples.size()) / audio->channels / audio->sample_rate, 5.0, 0.1);
}

TEST(RiffAtrac3, TagsWrittenIntoACopyLeaveTheAtracStreamIntact) {
    CQ_REQUIRE_SAMPLE(sample, "atracdencU_sine1k_at3tool_atrac3_66k_riff.at3");
    testsupport::ScopedTempDir dir;
    const fs::path copy = dir / "sine.at3";
    fs::copy_file(sample, copy);
    fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);  // samples are read-only
    auto before = ff::DecodeAll(*OpenFileSource(copy));
    auto file = OpenMediaFile(copy);
    ASSERT_TRUE(file);
    AttributeSet tags;
    tags[attr::Title] = {u"Sine"};
    tags[attr::Jacket] = {fixtures::Picture("image/png", fixtures::PngBytes(9))};
    ASSERT_TRUE(file->Save(copy, tags));
    auto reopened = OpenMediaFile(copy);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->Codec(), codec::Atrac3);
    fixtures::ExpectStored(*reopened, tags);
    auto after = ff::DecodeAll(*OpenFileSource(copy));
    ASSERT_TRUE(before && after);
    EXPECT_TRUE(before->samples == after->samples);
}

TEST(RiffInfo, IsReadWithoutAnId3ChunkAndMirroredOnSave) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path wav = dir / "info.wav";
    ASSERT_TRUE(
        fixtures::MakeTone(wav, "-c:a pcm_s16le -metadata title=InfoTitle -metadata artist=InfoArtist"));
    auto file = OpenMediaFile(wav);
    ASSERT_TRUE(file);
    EXPECT_EQ(fixtures::Text(*file, attr::Title), u"InfoTitle");
    EXPECT_EQ(fixtures::Text(*file, attr::Artist), u"InfoArtist");

    AttributeSet tags;
    tags[attr::Title] = {u"New title"};
    ASSERT_TRUE(file->Save(wav, tags));
    // Other readers of RIFF INFO see the new title and no stale artist.
    const std::string probed = fixtures::Capture(
        "ffprobe -v error -show_entries format_tags -of default=nw=1 '" + wav.string() + "'");
    EXPECT_NE(probed.find("title=New title"), std::string::npos) << probed;
    EXPECT_EQ(probed.find("InfoArtist"), std::string::npos) << probed;
}

TEST(RiffCheck, NeedsRiffAndWave) {
    const uint8_t good[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    const uint8_t avi[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '};
    EXPECT_TRUE(LooksLikeWav(good));
    EXPECT_FALSE(LooksLikeWav(avi));
    EXPECT_FALSE(LooksLikeWav(std::span<const uint8_t>(good, 8)));
    auto src = MemorySource(good);
    EXPECT_FALSE(OpenMediaSource(*src, "x.wav")) << "a bare header is not a readable file";
}

}  // namespace

namespace {

using namespace medialib;
namespace fs = std::filesystem;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void PutLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A LIST chunk that claims more bytes than the file holds, with an INFO item
// claiming a gigabyte: the file is read with the memory its bytes need.
TEST(RiffDamage, ListChunkPastTheEndCostsNoMoreThanTheFile) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const fs::path wav = dir / "t.wav";
    ASSERT_TRUE(
        fixtures::MakeTone(wav, "-c:a pcm_s16le -metadata title=Title -metadata artist=Artist", 0.05));
    std::vector<uint8_t> bytes = testsupport::ReadBytes(wav);
    const std::string text(bytes.begin(), bytes.end());
    const size_t list = text.find("LIST"), data = text.find("data"), inam = text.find("INAM");
    ASSERT_NE(list, std::string::npos);
    ASSERT_NE(inam, std::string::npos);
    ASSERT_LT(list, data);
    // The LIST chunk moved behind the audio, as damaged files have it, and
    // cut: its size and the title's say far more than is there.
    const size_t list_size = 8 + Le32(bytes, list + 4);
    std::vector<uint8_t> moved(bytes.begin() + static_cast<long>(list),
                               bytes.begin() + static_cast<long>(list + list_size));
    bytes.erase(bytes.begin() + static_cast<long>(list), bytes.begin() + static_cast<long>(list + list_size));
    PutLe32(moved, 4, 0x7FFFFF00u);
    PutLe32(moved, inam - list + 4, 0x40000000u);
    moved.resize(moved.size() - 2);
    bytes.insert(bytes.end(), moved.begin(), moved.end());

    const long before = PeakRssKb();
    auto src = MemorySource(bytes);
    const auto file = OpenWav(*src, "t.wav");
    ASSERT_NE(file, nullptr) << "the audio before the damaged chunk is readable";
    EXPECT_EQ(fixtures::Int(*file, attr::Frequency), 44100);
    const auto audio = ff::DecodeAll(*src);
    ASSERT_TRUE(audio.has_value());
    EXPECT_GT(audio->samples.size(), 2000u);
    EXPECT_LT(PeakRssKb() - before, 256 * 1024) << "kB more at peak";
}

}  // namespace
