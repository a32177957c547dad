#include "host/sdk/audio_chunk.h"

#include <algorithm>

namespace audio_math {

void convert_from_int16(const int16_t* in, size_t count, audio_sample* out, audio_sample scale) {
    const audio_sample factor = scale / static_cast<audio_sample>(0x8000);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<audio_sample>(in[i]) * factor;
}

void convert_from_int32(const int32_t* in, size_t count, audio_sample* out, audio_sample scale) {
    // Computed in double: an int32 does not fit a float's mantissa, and the
    // product must be rounded once, not twice.
    const double factor = static_cast<double>(scale) / 2147483648.0;
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<audio_sample>(static_cast<double>(in[i]) * factor);
}

}  // namespace audio_math

namespace {

// Reads one sample of `width` bytes as a signed value centred on zero.
int32_t ReadSample(const uint8_t* p, unsigned width, bool big_endian, bool is_signed) {
    uint32_t raw = 0;
    for (unsigned k = 0; k < width; ++k) {
        const unsigned shift = big_endian ? 8 * (width - 1 - k) : 8 * k;
        raw |= static_cast<uint32_t>(p[k]) << shift;
    }
    const unsigned bits = 8 * width;
    if (is_signed) {
        if (bits < 32 && (raw & (1u << (bits - 1)))) raw |= ~((1u << bits) - 1);  // sign-extend
        return static_cast<int32_t>(raw);
    }
    // Unsigned: flip the top bit to move the midpoint to zero.
    raw ^= 1u << (bits - 1);
    if (bits < 32 && (raw & (1u << (bits - 1)))) raw |= ~((1u << bits) - 1);
    return static_cast<int32_t>(raw);
}

}  // namespace

void audio_chunk::set_data_fixedpoint_ex(const void* data, size_t bytes, unsigned srate, unsigned channels,
                                         unsigned bps, unsigned flags, unsigned channel_config) {
    const unsigned width = (bps + 7) / 8;
    if (channels == 0 || width == 0 || data == nullptr) {
        set_data(nullptr, 0, channels, srate, channel_config);
        return;
    }
    const size_t frames = bytes / (static_cast<size_t>(width) * channels);
    const size_t count = frames * channels;
    std::vector<audio_sample> out(count, 0.0f);
    const auto* in = static_cast<const uint8_t*>(data);
    const bool big_endian = (flags & FLAG_BIG_ENDIAN) != 0;
    const bool is_signed = (flags & FLAG_SIGNED) ? true : (flags & FLAG_UNSIGNED) ? false : bps != 8;

    if (bps == 8 || bps == 16 || bps == 24 || bps == 32) {
        if (bps == 16 || bps == 32) {
            // Widths with a direct conversion routine go through it.
            std::vector<int32_t> wide;
            std::vector<int16_t> narrow;
            if (bps == 16)
                narrow.resize(count);
            else
                wide.resize(count);
            for (size_t i = 0; i < count; ++i) {
                const int32_t v = ReadSample(in + i * width, width, big_endian, is_signed);
                if (bps == 16)
                    narrow[i] = static_cast<int16_t>(v);
                else
                    wide[i] = v;
            }
            if (bps == 16)
                audio_math::convert_from_int16(narrow.data(), count, out.data(), 1.0f);
            else
                audio_math::convert_from_int32(wide.data(), count, out.data(), 1.0f);
        } else {
            const double factor = 1.0 / static_cast<double>(1u << (bps - 1));
            for (size_t i = 0; i < count; ++i) {
                const int32_t v = ReadSample(in + i * width, width, big_endian, is_signed);
                out[i] = static_cast<audio_sample>(v * factor);
            }
        }
    }
    // Any other width: `out` stays silent with the right length.
    set_data(out.data(), frames, channels, srate, channel_config);
}

void audio_chunk_impl::set_data(const audio_sample* data, size_t samples, unsigned channels, unsigned srate,
                                unsigned channel_config) {
    m_data.assign(data, data + (data ? samples * channels : 0));
    m_data.resize(samples * channels, 0.0f);
    m_samples = samples;
    m_channels = channels;
    m_srate = srate;
    m_channel_config = channel_config;
}

void audio_chunk_impl::reset() {
    m_data.clear();
    m_samples = 0;
    m_channels = 0;
    m_srate = 0;
    m_channel_config = 0;
}
