// ATRAC3 encoder: 44 100 Hz interleaved 16-bit PCM in, constant-size ATRAC3
// frames out (the bitstream that FFmpeg's atrac3 decoder and Sony's players
// read), at LP2 (384-byte frames, 132 kbit/s, two independent channels),
// 105 kbit/s (304 bytes) and LP4 (192 bytes, 66 kbit/s, joint stereo).
//
// Signal path per channel and frame of 1024 samples: a two-stage QMF tree
// into four bands of 256 samples; gain control on attacks (against
// pre-echo); a 512-sample windowed MDCT per band; a psychoacoustic model
// whose masking thresholds drive the quantiser choice per subband under the
// exact bit budget; Huffman or constant-length mantissas, whichever is
// smaller. LP4 codes the sum and half-difference of the channels.
//
// Channels: stereo input is coded as is. Mono input is coded as joint stereo
// with an empty difference unit, so the one channel gets nearly the whole
// frame and both decoded channels carry it. More than two channels are mixed
// down to stereo first (centre and surround channels at -3 dB into both
// sides, LFE left out, scaled so the mix cannot exceed full scale), using
// the usual WAVE channel order for 3 to 8 channels.
//
// Delay: the decoded signal lags the input by delay_samples() = 1162
// samples (one MDCT hop plus the QMF tree). Finish() writes frames until the
// last input sample has left the decoder: ceil((N + 1162) / 1024) frames
// for N input samples per channel. The coefficients carry the polarity of
// Sony's decoders; FFmpeg's decoder outputs the signal inverted.
//
// An Encoder is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace medialib::atrac3 {

enum class Mode { Lp2, Kbps105, Lp4 };  // 384, 304, 192 bytes per frame; Lp4 joint stereo

struct EncoderOptions {
    bool gain_control = true;      // off only to measure what it brings
    bool matrix_selectors = true;  // joint stereo: L or R alone for one-sided bands
};

class Encoder {
  public:
    // input_channels: 1 to 8. Throws std::invalid_argument otherwise.
    explicit Encoder(Mode mode, int input_channels);
    Encoder(Mode mode, int input_channels, const EncoderOptions& options);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    int frame_bytes() const;
    int channels() const;  // coded channels: always 2
    bool joint_stereo() const;
    int delay_samples() const;  // encoder delay to declare to a decoder for gapless playback
    static constexpr int kSamplesPerFrame = 1024;
    static constexpr int kDelaySamples = 1162;

    // Bytes per second of the stream (for container headers).
    int bytes_per_second() const;
    // Input samples per channel taken so far, and frames written so far.
    uint64_t input_samples() const;
    uint64_t frames_written() const;

    // `interleaved` holds `frames` samples per input channel. Appends every
    // frame that is complete to `out`.
    void Encode(const int16_t* interleaved, size_t frames, std::vector<uint8_t>& out);
    // The same for float samples with full scale 1.0 (values beyond are kept,
    // the coder has 6 dB of headroom; NaN and infinities are read as 0).
    void EncodeFloat(const float* interleaved, size_t frames, std::vector<uint8_t>& out);
    // Flushes the tail and padding: writes frames until the last input sample
    // has left the decoder. Further Encode calls are not allowed afterwards.
    void Finish(std::vector<uint8_t>& out);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Bytes per frame of a mode.
int FrameBytes(Mode mode);

}  // namespace medialib::atrac3
