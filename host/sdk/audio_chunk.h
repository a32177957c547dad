// A block of decoded audio as the host plays it: interleaved floating-point
// samples in [-1, 1), a sample rate, a channel count and a channel mask.
//
// Decoders usually hold integer PCM; `set_data_fixedpoint_ex` converts it. The
// scale is 2^-(bits-1), so the most negative integer of each width maps to
// exactly -1.0 and zero to 0.0. Eight-bit data is unsigned with 128 as zero;
// wider data is signed. A width the host does not know gives silence of the
// same number of samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using audio_sample = float;

namespace audio_math {
// out[i] = in[i] * scale / 32768 for `count` samples. Buffers must not overlap.
void convert_from_int16(const int16_t* in, size_t count, audio_sample* out, audio_sample scale);
// out[i] = in[i] * scale / 2147483648 for `count` samples.
void convert_from_int32(const int32_t* in, size_t count, audio_sample* out, audio_sample scale);
}  // namespace audio_math

class audio_chunk {
  public:
    // Speaker flags of the channel mask.
    static constexpr unsigned channel_front_left = 1 << 0;
    static constexpr unsigned channel_front_right = 1 << 1;
    static constexpr unsigned channel_front_center = 1 << 2;
    static constexpr unsigned channel_lfe = 1 << 3;
    static constexpr unsigned channel_back_left = 1 << 4;
    static constexpr unsigned channel_back_right = 1 << 5;
    static constexpr unsigned channel_front_center_left = 1 << 6;
    static constexpr unsigned channel_front_center_right = 1 << 7;

    // Byte-order and sign flags of set_data_fixedpoint_ex.
    static constexpr unsigned FLAG_LITTLE_ENDIAN = 1;
    static constexpr unsigned FLAG_BIG_ENDIAN = 2;
    static constexpr unsigned FLAG_SIGNED = 4;
    static constexpr unsigned FLAG_UNSIGNED = 8;

    // Interleaved samples; get_sample_count() * get_channels() of them.
    virtual const audio_sample* get_data() const = 0;
    // Samples per channel.
    virtual size_t get_sample_count() const = 0;
    virtual unsigned get_channels() const = 0;
    virtual unsigned get_srate() const = 0;
    virtual unsigned get_channel_config() const = 0;
    // Replaces the content with `samples` frames of `channels` channels copied
    // from `data` (interleaved, may be null only when samples is 0).
    virtual void set_data(const audio_sample* data, size_t samples, unsigned channels, unsigned srate,
                          unsigned channel_config) = 0;
    virtual void reset() = 0;

    bool is_empty() const { return get_sample_count() == 0; }
    double get_duration() const {
        return get_srate() ? static_cast<double>(get_sample_count()) / get_srate() : 0.0;
    }

    // Converts `bytes` bytes of integer PCM at `data` (`bps` bits per sample,
    // `channels` interleaved channels, `flags` a combination of the FLAG_
    // values; with neither sign flag, 8-bit is unsigned and the rest signed)
    // and stores the result. A trailing partial frame is dropped. Zero channels
    // or zero bits give an empty chunk.
    void set_data_fixedpoint_ex(const void* data, size_t bytes, unsigned srate, unsigned channels,
                                unsigned bps, unsigned flags, unsigned channel_config);

  protected:
    audio_chunk() = default;
    ~audio_chunk() = default;
    audio_chunk(const audio_chunk&) = default;
    audio_chunk& operator=(const audio_chunk&) = default;
};

class audio_chunk_impl final : public audio_chunk {
  public:
    const audio_sample* get_data() const override { return m_data.data(); }
    size_t get_sample_count() const override { return m_samples; }
    unsigned get_channels() const override { return m_channels; }
    unsigned get_srate() const override { return m_srate; }
    unsigned get_channel_config() const override { return m_channel_config; }
    void set_data(const audio_sample* data, size_t samples, unsigned channels, unsigned srate,
                  unsigned channel_config) override;
    void reset() override;

  private:
    std::vector<audio_sample> m_data;
    size_t m_samples = 0;
    unsigned m_channels = 0;
    unsigned m_srate = 0;
    unsigned m_channel_config = 0;
};
