// The encoder's frames in a RIFF/WAVE file, decoded by the ffmpeg command's
// atrac3 decoder: no message at warning level, the length of the source plus
// the declared delay rounded up to whole frames, and the source back after
// the delay (inverted: the encoder keeps the polarity of Sony's decoders).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "medialib_atrac3/atrac3_test_util.h"

namespace {

using medialib::atrac3::Encoder;
using medialib::atrac3::Mode;

size_t ExpectedFrames(size_t samples) {
    return (samples + Encoder::kDelaySamples + Encoder::kSamplesPerFrame - 1) / Encoder::kSamplesPerFrame;
}

class FfmpegDecodeTest : public ::testing::TestWithParam<Mode> {};

TEST_P(FfmpegDecodeTest, StereoComesBackAfterTheDelay) {
    const size_t n = 44100;
    const auto pcm = atrac3test::TonePlusNoise(n, 2, 1.0, 1);
    Encoder encoder(GetParam(), 2);
    const auto frames = atrac3test::EncodeAll(encoder, pcm, 2);
    ASSERT_EQ(frames.size(), ExpectedFrames(n) * static_cast<size_t>(encoder.frame_bytes()));
    const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, frames, n);
    EXPECT_EQ(decoded.exit_code, 0);
    EXPECT_EQ(decoded.messages, "");
    EXPECT_EQ(decoded.pcm.size(), ExpectedFrames(n) * 1024 * 2);
    // Tone at -6 dBFS with noise 14 dB below it: every rate keeps both channels.
    EXPECT_GT(atrac3test::AlignedSnr(pcm, 2, 0, decoded, 0), 10.0);
    EXPECT_GT(atrac3test::AlignedSnr(pcm, 2, 1, decoded, 1), 10.0);
}

TEST_P(FfmpegDecodeTest, TonesComeBackThroughTonalComponents) {
    // Steady tones are sent as tonal components (a subband alone stops at
    // about 34 dB): well above that means FFmpeg reads and adds them.
    const size_t n = 30000;
    std::vector<int16_t> pcm(n * 2);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        const double v = 9000.0 * std::sin(2 * M_PI * 440.0 * t) + 7000.0 * std::sin(2 * M_PI * 2637.0 * t);
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(std::lround(v));
    }
    Encoder encoder(GetParam(), 2);
    const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, atrac3test::EncodeAll(encoder, pcm, 2), n);
    EXPECT_EQ(decoded.messages, "");
    EXPECT_GT(atrac3test::AlignedSnr(pcm, 2, 0, decoded, 0), 45.0);
}

TEST_P(FfmpegDecodeTest, MonoFillsBothChannels) {
    const size_t n = 30000;
    const auto pcm = atrac3test::TonePlusNoise(n, 1, 1.0, 2);
    Encoder encoder(GetParam(), 1);
    EXPECT_TRUE(encoder.joint_stereo());
    EXPECT_EQ(encoder.channels(), 2);
    const auto frames = atrac3test::EncodeAll(encoder, pcm, 1);
    const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, frames, n);
    EXPECT_EQ(decoded.messages, "");
    ASSERT_EQ(decoded.pcm.size(), ExpectedFrames(n) * 1024 * 2);
    for (size_t i = 0; i < decoded.pcm.size(); i += 2) ASSERT_EQ(decoded.pcm[i], decoded.pcm[i + 1]) << i;
    EXPECT_GT(atrac3test::AlignedSnr(pcm, 1, 0, decoded, 0), 13.0);
}

TEST_P(FfmpegDecodeTest, SilenceStaysSilent) {
    const size_t n = 10000;
    const std::vector<int16_t> pcm(n * 2, 0);
    Encoder encoder(GetParam(), 2);
    const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, atrac3test::EncodeAll(encoder, pcm, 2), n);
    EXPECT_EQ(decoded.messages, "");
    ASSERT_EQ(decoded.pcm.size(), ExpectedFrames(n) * 1024 * 2);
    for (int16_t v : decoded.pcm) ASSERT_EQ(v, 0);
}

TEST_P(FfmpegDecodeTest, ClippingLoudInputDecodes) {
    // Full-scale square wave with full-scale noise, clipped: the largest
    // coefficients the encoder can meet.
    const size_t n = 20000;
    auto pcm = atrac3test::TonePlusNoise(n, 2, 8.0, 3);
    for (size_t i = 0; i < n; ++i) pcm[2 * i] = (i / 50) % 2 ? 32767 : -32768;
    Encoder encoder(GetParam(), 2);
    const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, atrac3test::EncodeAll(encoder, pcm, 2), n);
    EXPECT_EQ(decoded.exit_code, 0);
    EXPECT_EQ(decoded.messages, "");
    EXPECT_EQ(decoded.pcm.size(), ExpectedFrames(n) * 1024 * 2);
    EXPECT_GT(atrac3test::AlignedSnr(pcm, 2, 0, decoded, 0), 4.0);
}

TEST_P(FfmpegDecodeTest, VeryQuietInputStaysQuiet) {
    const size_t n = 20000;
    const auto pcm = atrac3test::TonePlusNoise(n, 2, 0.0002, 4);  // a few LSB
    Encoder encoder(GetParam(), 2);
    const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, atrac3test::EncodeAll(encoder, pcm, 2), n);
    EXPECT_EQ(decoded.messages, "");
    EXPECT_EQ(decoded.pcm.size(), ExpectedFrames(n) * 1024 * 2);
    for (int16_t v : decoded.pcm) ASSERT_LE(std::abs(v), 16);
}

TEST_P(FfmpegDecodeTest, OneFrameFile) {
    // Exactly one frame of input gives one frame before the tail is flushed;
    // a file of that single frame decodes to one frame of output.
    const auto pcm = atrac3test::TonePlusNoise(1024, 2, 1.0, 5);
    Encoder encoder(GetParam(), 2);
    std::vector<uint8_t> frames;
    encoder.Encode(pcm.data(), 1024, frames);
    ASSERT_EQ(frames.size(), static_cast<size_t>(encoder.frame_bytes()));
    const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, frames, 1024);
    EXPECT_EQ(decoded.messages, "");
    EXPECT_EQ(decoded.pcm.size(), 1024u * 2);
}

TEST_P(FfmpegDecodeTest, ShortestInputFlushesToTheDelay) {
    const auto pcm = atrac3test::TonePlusNoise(1, 2, 1.0, 8);
    Encoder encoder(GetParam(), 2);
    const auto frames = atrac3test::EncodeAll(encoder, pcm, 2);
    EXPECT_EQ(frames.size(), 2u * encoder.frame_bytes());
    const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, frames, 1);
    // FFmpeg's WAV reader distrusts a fact length below about two samples
    // per data byte (a heuristic for PCM-like formats) and says so; the
    // decoder itself has nothing to say.
    EXPECT_EQ(decoded.messages.find("atrac3"), std::string::npos) << decoded.messages;
    EXPECT_EQ(decoded.messages.find("rror"), std::string::npos) << decoded.messages;
    EXPECT_EQ(decoded.pcm.size(), 2048u * 2);
}

TEST_P(FfmpegDecodeTest, SixChannelsAreMixedToStereo) {
    const size_t n = 20000;
    const auto pcm = atrac3test::TonePlusNoise(n, 6, 0.5, 6);
    Encoder encoder(GetParam(), 6);
    const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, atrac3test::EncodeAll(encoder, pcm, 6), n);
    EXPECT_EQ(decoded.messages, "");
    EXPECT_EQ(decoded.pcm.size(), ExpectedFrames(n) * 1024 * 2);
}

INSTANTIATE_TEST_SUITE_P(AllRates, FfmpegDecodeTest, ::testing::Values(Mode::Lp2, Mode::Kbps105, Mode::Lp4),
                         [](const auto& info) {
                             switch (info.param) {
                                 case Mode::Lp2:
                                     return std::string("Lp2");
                                 case Mode::Kbps105:
                                     return std::string("Kbps105");
                                 default:
                                     return std::string("Lp4");
                             }
                         });

// LP4 material on one side only: matrix selector 1 sends left alone in the
// second unit's place, so the right channel stays silent instead of carrying
// the noise of both units, and the left channel gets the bits of both.
TEST(JointStereoTest, OneSidedBandsUseTheMatrix) {
    const size_t n = 30000;
    // Noise (no tone, which tonal components would carry anyway) on the left.
    std::vector<int16_t> pcm(n * 2, 0);
    uint32_t seed = 11;
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        pcm[2 * i] = static_cast<int16_t>(static_cast<int32_t>(seed) >> 19);  // about -12 dBFS
    }
    auto run = [&](bool matrix, double* right_rms) {
        medialib::atrac3::EncoderOptions options;
        options.matrix_selectors = matrix;
        Encoder encoder(Mode::Lp4, 2, options);
        const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, atrac3test::EncodeAll(encoder, pcm, 2), n);
        EXPECT_EQ(decoded.messages, "");
        double sum = 0.0;
        for (size_t i = 0; i < n; ++i) {
            const double r = decoded.pcm[(i + Encoder::kDelaySamples) * 2 + 1];
            sum += r * r;
        }
        *right_rms = std::sqrt(sum / n);
        return atrac3test::AlignedSnr(pcm, 2, 0, decoded, 0);
    };
    double right_with = 0.0;
    double right_without = 0.0;
    const double with = run(true, &right_with);
    const double without = run(false, &right_without);
    EXPECT_GT(with, without + 1.5);
    EXPECT_LT(right_with, 1.0);
    EXPECT_GT(right_without, 20.0);
}

// Castanet-like clicks after silence: the error before each click (pre-echo)
// is clearly lower with gain control than without.
TEST(GainControlTest, ClicksHaveLessPreEcho) {
    const size_t n = 44100;
    std::vector<int16_t> pcm(n * 2, 0);
    uint32_t seed = 7;
    std::vector<size_t> onsets;
    for (size_t start = 5000; start + 800 < n; start += 11025) {
        onsets.push_back(start);
        for (size_t i = 0; i < 800; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = (static_cast<int32_t>(seed) / 2147483648.0);
            const auto v = static_cast<int16_t>(26000.0 * noise * std::exp(-static_cast<double>(i) / 130.0));
            pcm[2 * (start + i)] = pcm[2 * (start + i) + 1] = v;
        }
    }
    auto pre_echo = [&](bool gain_control) {
        medialib::atrac3::EncoderOptions options;
        options.gain_control = gain_control;
        Encoder encoder(Mode::Lp2, 2, options);
        const auto decoded = atrac3test::DecodeWithFfmpeg(encoder, atrac3test::EncodeAll(encoder, pcm, 2), n);
        EXPECT_EQ(decoded.messages, "");
        double energy = 0.0;
        for (size_t onset : onsets) {
            for (size_t i = onset - 1000; i < onset - 8; ++i) {
                const double y = decoded.pcm[(i + Encoder::kDelaySamples) * 2];
                energy += y * y;
            }
        }
        return 10.0 * std::log10(energy + 1.0);
    };
    const double with = pre_echo(true);
    const double without = pre_echo(false);
    EXPECT_LT(with, without - 6.0) << "with " << with << " dB, without " << without << " dB";
    std::printf("pre-echo energy: %.1f dB with gain control, %.1f dB without\n", with, without);
}

}  // namespace
