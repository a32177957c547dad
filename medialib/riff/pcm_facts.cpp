#include "medialib/riff/pcm_facts.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace medialib::riff {
namespace {

constexpr int kMaxChunks = 64;
// FFmpeg looks for an IEC 61937 (S/PDIF) burst in this much of the data of
// a PCM file and reports the compressed stream when it finds one.
constexpr size_t kBurstProbeBytes = 64 * 1024;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The GUID tail shared by the PCM and float sub-formats (after the 16-bit tag
// and 2 zero bytes).
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// FFmpeg's name for the PCM layout, or null when the quick path does not take it.
const char* PcmCodecName(bool is_float, int bits) {
    if (is_float) return bits == 32 ? "pcm_f32le" : bits == 64 ? "pcm_f64le" : nullptr;
    switch (bits) {
        case 8:
            return "pcm_u8";
        case 16:
            return "pcm_s16le";
        case 24:
            return "pcm_s24le";
        case 32:
            return "pcm_s32le";
        case 64:
            return "pcm_s64le";
        default:
            return nullptr;
    }
}

bool HoldsBurstPreamble(const ByteSource& src, uint64_t data_at, uint64_t data_size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(data_size, kBurstProbeBytes));
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[want]);  // not zeroed: filled by the read
    const size_t got = src.ReadAt(data_at, buffer.get(), want);
    if (got != want) return true;
    // Pa Pb sync words 0xF872 0x4E1F, in either byte order, at any offset:
    // 72 F8 1F 4E or F8 72 4E 1F. Both hold 0x1F; memchr finds those fast.
    const uint8_t* p = buffer.get();
    const uint8_t* end = p + got;
    for (const uint8_t* at = p; at < end;) {
        const auto* hit = static_cast<const uint8_t*>(std::memchr(at, 0x1F, static_cast<size_t>(end - at)));
        if (!hit) break;
        const size_t i = static_cast<size_t>(hit - p);
        if (i >= 2 && i + 1 < got && p[i - 2] == 0x72 && p[i - 1] == 0xF8 && p[i + 1] == 0x4E) return true;
        if (i >= 3 && p[i - 3] == 0xF8 && p[i - 2] == 0x72 && p[i - 1] == 0x4E) return true;
        at = hit + 1;
    }
    return false;
}

}  // namespace

bool ReadPcmFacts(const ByteSource& src, StreamInfo& info) {
    const uint64_t size = src.Size();
    uint8_t head[12];
    if (src.ReadAt(0, head, sizeof head) != sizeof head || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    bool have_fmt = false, have_data = false, is_float = false;
    int channels = 0, bits = 0;
    uint32_t rate = 0, byte_rate = 0;
    uint64_t data_at = 0, data_size = 0;
    uint64_t pos = 12;
    for (int chunks = 0; pos < size; ++chunks) {
        uint8_t chunk[8];
        if (chunks >= kMaxChunks || size - pos < 8 || src.ReadAt(pos, chunk, 8) != 8) return false;
        const uint64_t length = Le32(chunk + 4);
        if (length > size - pos - 8) return false;
        const uint64_t body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (have_fmt || have_data || length < 16 || length > 64) return false;
            uint8_t fmt[64];
            if (src.ReadAt(body, fmt, length) != length) return false;
            const uint16_t tag = Le16(fmt);
            channels = Le16(fmt + 2);
            rate = Le32(fmt + 4);
            byte_rate = Le32(fmt + 8);
            const uint16_t block_align = Le16(fmt + 12);
            bits = Le16(fmt + 14);
            if (tag == 0xFFFE) {
                // WAVE_FORMAT_EXTENSIBLE: cbSize 22, valid bits, channel mask, sub-format GUID.
                if (length < 40 || Le16(fmt + 16) < 22 || Le16(fmt + 18) != bits ||
                    std::memcmp(fmt + 26, kGuidTail, sizeof kGuidTail) != 0 || fmt[25] != 0)
                    return false;
                const uint8_t sub = fmt[24];
                if (sub != 1 && sub != 3) return false;
                is_float = sub == 3;
            } else if (tag == 1 || tag == 3) {
                is_float = tag == 3;
            } else {
                return false;
            }
            if (channels == 0 || rate == 0 || byte_rate == 0 || block_align == 0 ||
                !PcmCodecName(is_float, bits))
                return false;
            have_fmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!have_fmt || have_data || length == 0) return false;
            have_data = true;
            data_at = body;
            data_size = length;
        }
        pos = body + length + (length & 1);  // chunks start at even offsets
    }
    if (!have_fmt || !have_data) return false;
    const uint64_t samples = data_size * 8 / (static_cast<uint64_t>(channels) * static_cast<uint64_t>(bits));
    if (samples == 0 || HoldsBurstPreamble(src, data_at, data_size)) return false;

    info = StreamInfo{};
    info.codec = AudioCodec::Pcm;
    info.codec_name = PcmCodecName(is_float, bits);
    info.format_name = "wav";
    info.sample_rate = static_cast<int>(rate);
    info.channels = channels;
    info.bits_per_sample = bits;
    // FFmpeg counts the length in 1/rate units and rounds it to milliseconds.
    info.duration_ms = static_cast<int64_t>((samples * 1000 + rate / 2) / rate);
    info.bit_rate = static_cast<int64_t>(byte_rate) * 8;
    return true;
}

}  // namespace medialib::riff
