// A minimal RIFF/WAVE writer for ATRAC3 frames (format tag 0x0270, the
// 14-byte codec extension and the `fact` chunk), enough for tests, the
// benchmarks and FFmpeg to read the encoder's output. It writes no tags; the
// product's containers (OpenMG, RIFF with tags) have their own writers.
#pragma once

#include <cstdint>
#include <vector>

namespace medialib::atrac3 {

struct At3WaveInfo {
    int frame_bytes = 384;
    bool joint_stereo = false;
    uint64_t source_samples = 0;  // per channel, before the encoder's delay
    int delay_samples = 1162;     // the encoder's delay as FFmpeg decodes it
};

// The whole file: header chunks and `frames` (whole frames back to back).
// The fact chunk holds the source length and the delay in the convention of
// Sony's decoders, which trim 69 samples more than the declared delay.
std::vector<uint8_t> MakeAt3Wave(const At3WaveInfo& info, const std::vector<uint8_t>& frames);

}  // namespace medialib::atrac3
