#include "medialib/riff/wav_stream.h"

#include <cstring>

namespace medialib::riff {
namespace {

void Le16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Le32(std::vector<uint8_t>& out, uint32_t v) {
    Le16(out, v & 0xFFFF);
    Le16(out, v >> 16);
}
void Tag(std::vector<uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }
uint32_t GetLe16(const uint8_t* p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }
uint32_t GetLe32(const uint8_t* p) { return GetLe16(p) | GetLe16(p + 2) << 16; }

}  // namespace

std::optional<std::vector<uint8_t>> RenderWavHeader(const WavStreamFormat& f, uint64_t data_bytes,
                                                    uint64_t samples) {
    const bool atrac = f.format_tag == kFormatAtrac3;
    const uint32_t fmt_size = atrac ? 32 : 16;
    const uint32_t fact_size = atrac ? 12 : 0;
    const uint64_t header = 12 + 8 + fmt_size + (atrac ? 8 + fact_size : 0) + 8;
    const uint64_t riff_size = header - 8 + data_bytes + (data_bytes & 1);
    if (riff_size > 0xFFFFFFFFull || samples > 0xFFFFFFFFull) return std::nullopt;

    std::vector<uint8_t> out;
    Tag(out, "RIFF");
    Le32(out, static_cast<uint32_t>(riff_size));
    Tag(out, "WAVE");
    Tag(out, "fmt ");
    Le32(out, fmt_size);
    Le16(out, f.format_tag);
    Le16(out, f.channels);
    Le32(out, f.sample_rate);
    const uint64_t byte_rate = atrac ? static_cast<uint64_t>(f.sample_rate) * f.block_align / 1024
                                     : static_cast<uint64_t>(f.sample_rate) * f.block_align;
    Le32(out, static_cast<uint32_t>(byte_rate));
    Le16(out, f.block_align);
    Le16(out, f.bits_per_sample);
    if (atrac) {
        // Extra format data as ATRAC3 decoders read it: 1, samples per
        // channel of a frame pair, the coding mode twice (1 = joint stereo), 1, 0.
        Le16(out, 14);
        Le16(out, 1);
        Le32(out, f.joint_stereo ? 0x1000 : 0x0800);
        Le16(out, f.joint_stereo ? 1 : 0);
        Le16(out, f.joint_stereo ? 1 : 0);
        Le16(out, 1);
        Le16(out, 0);
        Tag(out, "fact");
        Le32(out, fact_size);
        Le32(out, static_cast<uint32_t>(samples));
        Le32(out, 1024);  // frame length, as the ATRAC3 tools record it
        Le32(out, 1024);
    }
    Tag(out, "data");
    Le32(out, static_cast<uint32_t>(data_bytes));
    return out;
}

std::optional<Atrac3InRiff> FindAtrac3InRiff(const ByteSource& src) {
    uint8_t head[12];
    if (src.ReadAt(0, head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return std::nullopt;
    Atrac3InRiff found;
    bool have_fmt = false;
    uint64_t offset = 12;
    const uint64_t end = src.Size();
    while (offset + 8 <= end) {
        uint8_t chunk[8];
        if (src.ReadAt(offset, chunk, 8) != 8) break;
        const uint64_t size = GetLe32(chunk + 4);
        const uint64_t body = offset + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            uint8_t fmt[32] = {};
            const size_t got = src.ReadAt(body, fmt, size < 32 ? size : 32);
            if (got < 16 || GetLe16(fmt) != kFormatAtrac3) return std::nullopt;
            found.format.format_tag = kFormatAtrac3;
            found.format.channels = static_cast<uint16_t>(GetLe16(fmt + 2));
            found.format.sample_rate = GetLe32(fmt + 4);
            found.format.block_align = static_cast<uint16_t>(GetLe16(fmt + 12));
            found.format.bits_per_sample = 0;
            found.format.joint_stereo = got >= 26 && GetLe16(fmt + 24) != 0;
            have_fmt = found.format.block_align > 0;
        } else if (std::memcmp(chunk, "data", 4) == 0 && have_fmt) {
            const uint64_t available = end > body ? end - body : 0;
            const uint64_t bytes = size < available ? size : available;
            found.data_offset = body;
            found.data_size = bytes - bytes % found.format.block_align;
            return found;
        }
        offset = body + size + (size & 1);
    }
    return std::nullopt;
}

}  // namespace medialib::riff
