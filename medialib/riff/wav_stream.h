// The audio stream of a RIFF/WAVE file at the byte level, for the conversion
// engine: rendering the header of a new PCM or ATRAC3 file (format tag
// 0x0270, 14 bytes of extra format data and a "fact" chunk), and finding the
// ATRAC3 frames of an existing one.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "medialib/core/container.h"

namespace medialib::riff {

inline constexpr uint16_t kFormatPcm = 0x0001;
inline constexpr uint16_t kFormatAtrac3 = 0x0270;

struct WavStreamFormat {
    uint16_t format_tag = kFormatPcm;
    uint16_t channels = 2;
    uint32_t sample_rate = 44100;
    uint16_t bits_per_sample = 16;  // 0 for ATRAC3
    uint16_t block_align = 4;       // bytes per sample frame (PCM) or per codec frame (ATRAC3)
    bool joint_stereo = false;      // ATRAC3 only
};

// Header bytes (everything before the data bytes) of a file holding
// `data_bytes` of audio; for ATRAC3 `samples` is the sample count per channel
// stored in the fact chunk. The size does not depend on `data_bytes`, so the
// header can be written first and rewritten when the length is known.
// nullopt when the sizes do not fit the 32-bit RIFF fields.
std::optional<std::vector<uint8_t>> RenderWavHeader(const WavStreamFormat& format, uint64_t data_bytes,
                                                    uint64_t samples);

// An ATRAC3 stream found in a RIFF/WAVE file.
struct Atrac3InRiff {
    WavStreamFormat format;
    uint64_t data_offset = 0;
    uint64_t data_size = 0;  // whole frames only
};

// Finds the fmt and data chunks of a RIFF/WAVE ATRAC3 file; nullopt when the
// source is no such file.
std::optional<Atrac3InRiff> FindAtrac3InRiff(const ByteSource& src);

}  // namespace medialib::riff
