// The seam where encoders of fixed-size frames (ATRAC3, ATRAC3plus) plug into
// the conversion engine.
//
// A FrameEncoder takes interleaved 16-bit PCM at 44 100 Hz and appends whole
// codec frames; the engine decodes and resamples the source, feeds the
// encoder and writes its frames with the same OpenMG and RIFF writers that
// re-wrap existing ATRAC streams. Adding an encoder is one adapter class over
// it and one line in MakeFrameEncoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace medialib::conversion {

class FrameEncoder {
  public:
    virtual ~FrameEncoder() = default;
    virtual int frame_bytes() const = 0;
    virtual int samples_per_frame() const = 0;  // per channel
    virtual int channels() const = 0;           // coded channels
    virtual bool joint_stereo() const = 0;
    // Appends the whole frames that `frames` more sample frames complete.
    virtual void Encode(const int16_t* interleaved, size_t frames, std::vector<uint8_t>& out) = 0;
    // Appends the last frames, padding the final one with silence.
    virtual void Finish(std::vector<uint8_t>& out) = 0;
};

inline constexpr int kFrameEncoderRate = 44100;

// The encoder of this build for `codec` (codec:: numbers) at `bit_rate`
// (0: the codec's usual rate) for `input_channels` of input; null when this
// build has none (ATRAC3 and ATRAC3plus today).
std::unique_ptr<FrameEncoder> MakeFrameEncoder(int32_t codec, int32_t bit_rate, int input_channels);

}  // namespace medialib::conversion
