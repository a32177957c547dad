// Integer PCM to the host's float samples, at the extremes of every width.
#include "host/sdk/audio_chunk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr unsigned kLeSigned = audio_chunk::FLAG_LITTLE_ENDIAN | audio_chunk::FLAG_SIGNED;      // 5
constexpr unsigned kLeUnsigned = audio_chunk::FLAG_LITTLE_ENDIAN | audio_chunk::FLAG_UNSIGNED;  // 9

std::vector<audio_sample> Convert(const std::vector<uint8_t>& bytes, unsigned bps, unsigned channels,
                                  unsigned flags) {
    audio_chunk_impl chunk;
    chunk.set_data_fixedpoint_ex(bytes.data(), bytes.size(), 48000, channels, bps, flags, 3);
    return {chunk.get_data(), chunk.get_data() + chunk.get_sample_count() * chunk.get_channels()};
}

TEST(AudioChunk, FlagValuesAreTheHostsOwn) {
    EXPECT_EQ(kLeSigned, 5u);
    EXPECT_EQ(kLeUnsigned, 9u);
    EXPECT_EQ(audio_chunk::channel_front_left | audio_chunk::channel_front_right | audio_chunk::channel_lfe,
              11u);
}

TEST(AudioChunk, EightBitIsUnsignedAround128) {
    const auto out = Convert({0x00, 0x80, 0xFF, 0x81}, 8, 1, kLeUnsigned);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], -1.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 127.0f / 128.0f);
    EXPECT_EQ(out[3], 1.0f / 128.0f);
}

TEST(AudioChunk, SixteenBitExtremes) {
    // -32768, 32767, 0, 1 little-endian
    const auto out = Convert({0x00, 0x80, 0xFF, 0x7F, 0x00, 0x00, 0x01, 0x00}, 16, 2, kLeSigned);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], -1.0f);
    EXPECT_EQ(out[1], 32767.0f / 32768.0f);
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_EQ(out[3], 1.0f / 32768.0f);
}

TEST(AudioChunk, TwentyFourBitExtremes) {
    // -8388608, 8388607, -1
    const auto out = Convert({0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}, 24, 1, kLeSigned);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], -1.0f);
    EXPECT_EQ(out[1], 8388607.0f / 8388608.0f);  // exactly representable
    EXPECT_EQ(out[2], -1.0f / 8388608.0f);
}

TEST(AudioChunk, ThirtyTwoBitExtremes) {
    // INT32_MIN, INT32_MAX, 256
    const auto out =
        Convert({0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x01, 0x00, 0x00}, 32, 1, kLeSigned);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], -1.0f);
    // 2147483647 / 2^31 lies closer to 1.0f than to any smaller float.
    EXPECT_EQ(out[1], 1.0f);
    EXPECT_EQ(out[2], 256.0f / 2147483648.0f);
}

TEST(AudioChunk, ConversionRoutinesApplyScale) {
    const int16_t in16[] = {-32768, 16384};
    audio_sample out16[2];
    audio_math::convert_from_int16(in16, 2, out16, 0.5f);
    EXPECT_EQ(out16[0], -0.5f);
    EXPECT_EQ(out16[1], 0.25f);
    const int32_t in32[] = {INT32_MIN, 1 << 30};
    audio_sample out32[2];
    audio_math::convert_from_int32(in32, 2, out32, 1.0f);
    EXPECT_EQ(out32[0], -1.0f);
    EXPECT_EQ(out32[1], 0.5f);
}

TEST(AudioChunk, FormatFieldsAndPartialFrames) {
    audio_chunk_impl chunk;
    const uint8_t bytes[7] = {0, 0, 0, 0, 0, 0, 9};  // one 16-bit stereo frame + 3 stray bytes
    chunk.set_data_fixedpoint_ex(bytes, 7, 44100, 2, 16, kLeSigned, 3);
    EXPECT_EQ(chunk.get_sample_count(), 1u);
    EXPECT_EQ(chunk.get_channels(), 2u);
    EXPECT_EQ(chunk.get_srate(), 44100u);
    EXPECT_EQ(chunk.get_channel_config(), 3u);
    EXPECT_DOUBLE_EQ(chunk.get_duration(), 1.0 / 44100);
}

TEST(AudioChunk, UnknownWidthGivesSilenceOfTheSameLength) {
    // 12-bit in two-byte containers: 3 frames of 1 channel, all silent.
    const auto out = Convert({0xFF, 0x7F, 0x00, 0x80, 0x12, 0x34}, 12, 1, kLeSigned);
    ASSERT_EQ(out.size(), 3u);
    for (audio_sample s : out) EXPECT_EQ(s, 0.0f);
}

TEST(AudioChunk, DegenerateInputGivesAnEmptyChunk) {
    audio_chunk_impl chunk;
    const uint8_t bytes[4] = {1, 2, 3, 4};
    chunk.set_data_fixedpoint_ex(bytes, 4, 44100, 0, 16, kLeSigned, 0);
    EXPECT_TRUE(chunk.is_empty());
    chunk.set_data_fixedpoint_ex(bytes, 4, 44100, 2, 0, kLeSigned, 0);
    EXPECT_TRUE(chunk.is_empty());
    chunk.set_data_fixedpoint_ex(nullptr, 4, 44100, 2, 16, kLeSigned, 0);
    EXPECT_TRUE(chunk.is_empty());
    chunk.set_data_fixedpoint_ex(bytes, 3, 44100, 2, 16, kLeSigned, 0);  // less than one frame
    EXPECT_TRUE(chunk.is_empty());
}

TEST(AudioChunk, BigEndianSigned16) {
    const auto out =
        Convert({0x80, 0x00, 0x40, 0x00}, 16, 1, audio_chunk::FLAG_BIG_ENDIAN | audio_chunk::FLAG_SIGNED);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], -1.0f);
    EXPECT_EQ(out[1], 0.5f);
}

}  // namespace
