// libFuzzer target: the ATRAC3 encoder over arbitrary PCM. The first byte
// picks the mode, the input channel count and the chunk size; the rest is
// 16-bit PCM fed in chunks (odd sizes included). The frame count must follow
// the delay rule whatever the samples are.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "medialib/codecs/atrac3/atrac3_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using medialib::atrac3::Encoder;
    using medialib::atrac3::Mode;
    if (size < 1) return 0;
    const uint8_t control = data[0];
    const Mode modes[3] = {Mode::Lp2, Mode::Kbps105, Mode::Lp4};
    const int channels = 1 + (control >> 2) % 8;
    const size_t chunk = 1 + (control >> 5) * 157;
    Encoder encoder(modes[(control & 3) % 3], channels);
    std::vector<int16_t> pcm((size - 1) / 2);
    if (!pcm.empty()) std::memcpy(pcm.data(), data + 1, pcm.size() * 2);
    const size_t frames = pcm.size() / static_cast<size_t>(channels);
    std::vector<uint8_t> out;
    for (size_t at = 0; at < frames; at += chunk) {
        const size_t n = frames - at < chunk ? frames - at : chunk;
        encoder.Encode(pcm.data() + at * channels, n, out);
    }
    encoder.Finish(out);
    const size_t expected = frames == 0 ? 0 : (frames + Encoder::kDelaySamples + 1023) / 1024;
    if (out.size() != expected * static_cast<size_t>(encoder.frame_bytes())) std::abort();
    return 0;
}
