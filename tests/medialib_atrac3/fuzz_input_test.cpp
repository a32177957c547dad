// Fuzz-style input for the encoder (run under the sanitizer build as well):
// random PCM in random chunk sizes, extremes, non-finite floats and odd
// lengths. Every run must give whole frames of valid units, as many as the
// delay rule says.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "medialib/codecs/atrac3/atrac3_encoder.h"

namespace {

using medialib::atrac3::Encoder;
using medialib::atrac3::Mode;

void ExpectValidFrames(const Encoder& encoder, const std::vector<uint8_t>& out, uint64_t samples) {
    const size_t fb = static_cast<size_t>(encoder.frame_bytes());
    ASSERT_EQ(out.size() % fb, 0u);
    const uint64_t expected = samples == 0 ? 0 : (samples + Encoder::kDelaySamples + 1023) / 1024;
    EXPECT_EQ(out.size() / fb, expected);
    for (size_t f = 0; f < out.size(); f += fb) {
        ASSERT_EQ(out[f] >> 2, 0x28) << "frame " << f / fb;
        if (encoder.joint_stereo()) {
            // Second unit, stored from the last byte: weighting off (0, 7),
            // matrix selectors of bands 0 and 1 never 2.
            const uint8_t last = out[f + fb - 1];
            ASSERT_EQ(last >> 4, 0x7);
            ASSERT_NE((last >> 2) & 3, 2);
            ASSERT_NE(last & 3, 2);
        } else {
            ASSERT_EQ(out[f + fb / 2] >> 2, 0x28);
        }
    }
}

TEST(Atrac3FuzzInput, RandomPcmInRandomChunks) {
    std::mt19937 rng(12345);
    const Mode modes[] = {Mode::Lp2, Mode::Kbps105, Mode::Lp4};
    for (int run = 0; run < 12; ++run) {
        const int channels = 1 + static_cast<int>(rng() % 8);
        Encoder encoder(modes[run % 3], channels);
        std::vector<uint8_t> out;
        uint64_t total = 0;
        const int kind = run % 4;
        for (int chunk = 0; chunk < 6; ++chunk) {
            const size_t n = rng() % 3000;  // includes 0 and odd sizes
            std::vector<int16_t> pcm(n * static_cast<size_t>(channels));
            for (size_t i = 0; i < pcm.size(); ++i) {
                switch (kind) {
                    case 0:
                        pcm[i] = static_cast<int16_t>(rng());
                        break;
                    case 1:
                        pcm[i] = (rng() & 1) ? std::numeric_limits<int16_t>::max()
                                             : std::numeric_limits<int16_t>::min();
                        break;
                    case 2:
                        pcm[i] = (i / channels) % 700 < 3 ? -32768 : 0;  // sparse full-scale clicks
                        break;
                    default:
                        pcm[i] = static_cast<int16_t>(static_cast<int>(rng() % 7) - 3);
                        break;
                }
            }
            encoder.Encode(pcm.data(), n, out);
            total += n;
        }
        encoder.Finish(out);
        EXPECT_EQ(encoder.input_samples(), total);
        ExpectValidFrames(encoder, out, total);
    }
}

TEST(Atrac3FuzzInput, NonFiniteAndHugeFloats) {
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              1e30f,
                              -1e30f,
                              1.0f,
                              -1.0f,
                              0.0f};
    for (Mode mode : {Mode::Lp2, Mode::Lp4}) {
        Encoder encoder(mode, 2);
        std::vector<float> pcm(2 * 4099);
        for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = specials[(i * 7 + i / 13) % 8];
        std::vector<uint8_t> out;
        encoder.EncodeFloat(pcm.data(), 4099, out);
        encoder.Finish(out);
        ExpectValidFrames(encoder, out, 4099);
    }
}

TEST(Atrac3FuzzInput, FinishIsIdempotentAndEmptyInputWritesNothing) {
    Encoder encoder(Mode::Lp2, 2);
    std::vector<uint8_t> out;
    encoder.Finish(out);
    encoder.Finish(out);
    EXPECT_TRUE(out.empty());
    EXPECT_THROW(encoder.Encode(nullptr, 0, out), std::logic_error);
    EXPECT_THROW(Encoder(Mode::Lp2, 0), std::invalid_argument);
    EXPECT_THROW(Encoder(Mode::Lp2, 9), std::invalid_argument);
}

}  // namespace
