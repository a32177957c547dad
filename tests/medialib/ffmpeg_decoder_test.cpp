// The decoder over streams whose frames change format part-way: a run of MPEG
// frames may switch channel layout or sample rate (two files joined end to
// end), and the output must keep the format the stream started with.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "container_fixtures.h"
#include "medialib/ffmpeg/decoder.h"

namespace {

namespace fs = std::filesystem;
using medialib::MemorySource;
using medialib::ff::DecodeAll;

// Two MP3 files without Xing or ID3 header, joined byte for byte.
std::vector<uint8_t> JoinedMp3(const fs::path& dir, const std::string& first_args, double first_seconds,
                               const std::string& second_args, double second_seconds) {
    const std::string plain = " -c:a libmp3lame -write_xing 0 -id3v2_version 0";
    const fs::path a = dir / "a.mp3", b = dir / "b.mp3";
    if (!fixtures::MakeTone(a, first_args + plain, first_seconds) ||
        !fixtures::MakeTone(b, second_args + plain, second_seconds))
        return {};
    std::vector<uint8_t> bytes = testsupport::ReadBytes(a);
    const std::vector<uint8_t> tail = testsupport::ReadBytes(b);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

// Root mean square of one channel over interleaved frames [from, to).
double ChannelRms(const medialib::ff::DecodedAudio& audio, int channel, size_t from, size_t to) {
    double sum = 0;
    const auto ch = static_cast<size_t>(audio.channels);
    for (size_t f = from; f < to; ++f) {
        const double v = audio.samples[f * ch + static_cast<size_t>(channel)];
        sum += v * v;
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

struct FormatChange {
    const char* name;
    const char* first;
    const char* second;
    int rate_a, rate_b;  // of the parts; the output has the one the stream was opened with
    int channels;        // of the output: the first part's
};

class DecoderFormatChange : public ::testing::TestWithParam<FormatChange> {};

TEST_P(DecoderFormatChange, OutputKeepsTheFirstFormatAndHoldsBothParts) {
    CQ_REQUIRE_FFMPEG();
    testsupport::ScopedTempDir dir;
    const FormatChange& c = GetParam();
    const std::vector<uint8_t> bytes = JoinedMp3(dir.path(), c.first, 0.1, c.second, 1.0);
    ASSERT_FALSE(bytes.empty());

    auto src = MemorySource(bytes);
    const auto audio = DecodeAll(*src);
    ASSERT_TRUE(audio.has_value());
    const int rate = audio->sample_rate;
    EXPECT_TRUE(rate == c.rate_a || rate == c.rate_b) << rate;
    EXPECT_EQ(audio->channels, c.channels);
    ASSERT_EQ(audio->samples.size() % static_cast<size_t>(c.channels), 0u);
    const size_t frames = audio->samples.size() / static_cast<size_t>(c.channels);
    // 1.1 s of audio in all at the output rate (encoder delay and padding
    // add a few MPEG frames to each part).
    EXPECT_GT(frames, static_cast<size_t>(1.05 * rate)) << frames;
    EXPECT_LT(frames, static_cast<size_t>(1.3 * rate)) << frames;
    // The second part is a full-scale tone in every output channel.
    const size_t mid = frames / 2;
    for (int ch = 0; ch < c.channels; ++ch) EXPECT_GT(ChannelRms(*audio, ch, mid, mid + 4410), 0.03) << ch;
}

INSTANTIATE_TEST_SUITE_P(
    Mp3, DecoderFormatChange,
    ::testing::Values(FormatChange{"StereoThenMono", "-ac 2 -ar 44100", "-ac 1 -ar 44100", 44100, 44100, 2},
                      FormatChange{"MonoThenStereo", "-ac 1 -ar 44100", "-ac 2 -ar 44100", 44100, 44100, 1},
                      FormatChange{"RateDrops", "-ac 2 -ar 44100", "-ac 2 -ar 22050", 44100, 22050, 2},
                      FormatChange{"RateAndLayout", "-ac 1 -ar 22050", "-ac 2 -ar 48000", 22050, 48000, 1}),
    [](const ::testing::TestParamInfo<FormatChange>& info) { return std::string(info.param.name); });

}  // namespace
