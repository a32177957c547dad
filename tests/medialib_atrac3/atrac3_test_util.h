// Shared by the ATRAC3 encoder tests: generated PCM, encoding a whole buffer,
// and decoding the encoder's output with the ffmpeg command's atrac3 decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "medialib/codecs/atrac3/atrac3_encoder.h"

namespace atrac3test {

// Interleaved stereo (or `channels`) PCM: a tone plus noise at `level`
// (1.0 = full scale), reproducible from `seed`.
std::vector<int16_t> TonePlusNoise(size_t samples, int channels, double level, uint32_t seed);

// Encodes all of `pcm` in one call and finishes.
std::vector<uint8_t> EncodeAll(medialib::atrac3::Encoder& encoder, const std::vector<int16_t>& pcm,
                               int channels);

struct Decoded {
    std::vector<int16_t> pcm;  // interleaved stereo
    std::string messages;      // everything ffmpeg printed at warning level or above
    int exit_code = -1;
};

// Writes the frames into an ATRAC3 RIFF/WAVE file and decodes it with ffmpeg.
Decoded DecodeWithFfmpeg(const medialib::atrac3::Encoder& encoder, const std::vector<uint8_t>& frames,
                         uint64_t source_samples);

// SNR in dB of decoded channel `channel` against the source channel, after
// removing the encoder delay and FFmpeg's inversion.
double AlignedSnr(const std::vector<int16_t>& source, int source_channels, int source_channel,
                  const Decoded& decoded, int channel);

}  // namespace atrac3test
