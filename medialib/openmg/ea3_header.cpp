#include "medialib/openmg/ea3_header.h"

#include <cstring>

#include "library/media_ids.h"
#include "medialib/openmg/byte_order.h"

namespace medialib::openmg {
namespace {

constexpr int32_t kAtracRates[8] = {32000, 44100, 48000, 88200, 96000, 0, 0, 0};
constexpr int32_t kAtrac3PlusChannels[8] = {0, 1, 2, 3, 4, 6, 7, 8};
constexpr int32_t kAalRates[4] = {44100, 48000, 96000, 0};

// LPCM layout that FFmpeg and the known writers assume for codec 4.
constexpr int32_t kLpcmRate = 44100;
constexpr int32_t kLpcmChannels = 2;

struct AtracStream {
    int32_t codec;
    int32_t rate;
    int32_t channels;
    uint32_t frame_size;
    uint32_t samples_per_frame;
};

std::optional<AtracStream> DescribeAtrac(uint8_t codec_id, uint32_t params) {
    const int32_t rate = AtracSampleRate(params);
    if (rate == 0) return std::nullopt;
    if (codec_id == static_cast<uint8_t>(OmaCodec::Atrac3)) {
        const uint32_t size = (params & 0x3FF) * 8;
        if (size == 0) return std::nullopt;
        return AtracStream{codec::Atrac3, rate, 2, size, 1024};
    }
    if (codec_id == static_cast<uint8_t>(OmaCodec::Atrac3Plus)) {
        const int32_t channels = kAtrac3PlusChannels[(params >> 10) & 7];
        if (channels == 0) return std::nullopt;
        return AtracStream{codec::Atrac3Plus, rate, channels, (params & 0x3FF) * 8 + 8, 2048};
    }
    return std::nullopt;
}

// Walks the BLK packets of an AAL payload; returns the number of well-formed
// packets before the end, a zero tag or the first damaged packet.
uint64_t CountAalPackets(const ByteSource& src, uint64_t offset) {
    const uint64_t end = src.Size();
    uint64_t count = 0;
    uint8_t head[24];
    while (offset < end && end - offset >= sizeof(head)) {
        if (src.ReadAt(offset, head, sizeof(head)) != sizeof(head)) break;
        if (head[0] == 0 && head[1] == 0 && head[2] == 0) break;
        if (std::memcmp(head, "BLK", 3) != 0) break;
        const uint64_t size = ReadBe16(head + 4);
        if (size > end - offset - sizeof(head)) break;
        offset += sizeof(head) + size;
        ++count;
    }
    return count;
}

constexpr int32_t kMp3Rates[4][3] = {
    {11025, 12000, 8000},   // MPEG 2.5
    {0, 0, 0},              // reserved
    {22050, 24000, 16000},  // MPEG 2
    {44100, 48000, 32000},  // MPEG 1
};
constexpr int32_t kMp3Layer3Kbps[2][16] = {
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},      // MPEG 2 / 2.5
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},  // MPEG 1
};

}  // namespace

bool IsEa3Header(std::span<const uint8_t> bytes) {
    return bytes.size() >= kEa3HeaderSize && std::memcmp(bytes.data(), "EA3", 3) == 0 &&
           ReadBe16(bytes.data() + 4) == kEa3HeaderSize;
}

std::optional<Ea3Header> ParseEa3Header(std::span<const uint8_t> bytes) {
    if (!IsEa3Header(bytes)) return std::nullopt;
    const uint8_t* p = bytes.data();
    Ea3Header h;
    h.version = p[3];
    h.eid = ReadBe16(p + 6);
    std::memcpy(h.content_id.data(), p + 12, h.content_id.size());
    h.codec_id = p[32];
    h.params = ReadBe24(p + 33);
    h.duration_ms = ReadBe32(p + 36);
    h.packet_count = ReadBe32(p + 40);
    h.base_codec_id = p[48];
    h.base_params = ReadBe24(p + 49);
    return h;
}

std::array<uint8_t, kEa3HeaderSize> RenderEa3Header(const Ea3Header& h) {
    std::array<uint8_t, kEa3HeaderSize> out{};
    std::memcpy(out.data(), "EA3", 3);
    out[3] = h.version;
    WriteBe16(out.data() + 4, kEa3HeaderSize);
    WriteBe16(out.data() + 6, h.eid);
    std::memcpy(out.data() + 12, h.content_id.data(), h.content_id.size());
    out[32] = h.codec_id;
    WriteBe24(out.data() + 33, h.params);
    WriteBe32(out.data() + 36, h.duration_ms);
    WriteBe32(out.data() + 40, h.packet_count);
    out[48] = h.base_codec_id;
    WriteBe24(out.data() + 49, h.base_params);
    return out;
}

bool IsPlainEid(uint16_t eid) { return eid == kEidPlain || eid == kEidPlainCopied; }

int32_t AtracSampleRate(uint32_t params) { return kAtracRates[(params >> 13) & 7]; }

uint32_t Atrac3Params(int32_t sample_rate, uint32_t frame_size, bool joint_stereo) {
    uint32_t index = 8;
    for (uint32_t i = 0; i < 8; ++i) {
        if (kAtracRates[i] != 0 && kAtracRates[i] == sample_rate) index = i;
    }
    if (index == 8 || frame_size == 0 || frame_size % 8 != 0 || frame_size / 8 > 0x3FF) return 0;
    return (joint_stereo ? 1u << 17 : 0u) | (index << 13) | (frame_size / 8);
}

std::optional<StreamInfo> DescribeStream(const ByteSource& src, uint64_t audio_start, const Ea3Header& h) {
    const uint64_t size = src.Size();
    const uint64_t payload = size > audio_start ? size - audio_start : 0;
    const bool plain = IsPlainEid(h.eid);
    StreamInfo info;
    info.bits_per_sample = 16;

    switch (h.codec_id) {
        case static_cast<uint8_t>(OmaCodec::Atrac3):
        case static_cast<uint8_t>(OmaCodec::Atrac3Plus): {
            const auto atrac = DescribeAtrac(h.codec_id, h.params);
            if (!atrac) return std::nullopt;
            info.codec = atrac->codec;
            info.sample_rate = atrac->rate;
            info.channels = atrac->channels;
            info.frame_size = atrac->frame_size;
            info.total_samples = static_cast<int64_t>(payload / atrac->frame_size) * atrac->samples_per_frame;
            info.bit_rate = static_cast<int32_t>(static_cast<int64_t>(atrac->rate) * atrac->frame_size * 8 /
                                                 atrac->samples_per_frame);
            info.decodable = plain;
            break;
        }
        case static_cast<uint8_t>(OmaCodec::Lpcm):
            info.codec = codec::Pcm;
            info.sample_rate = kLpcmRate;
            info.channels = kLpcmChannels;
            info.frame_size = kLpcmChannels * 2;
            info.total_samples = static_cast<int64_t>(payload / info.frame_size);
            info.bit_rate = kLpcmRate * kLpcmChannels * 16;
            info.decodable = plain;
            break;
        case static_cast<uint8_t>(OmaCodec::Mp3): {
            const uint32_t version = (h.params >> 14) & 3;
            const uint32_t layer = (h.params >> 12) & 3;
            const uint32_t rate_index = (h.params >> 6) & 3;
            if (layer == 0 || rate_index == 3 || version == 1) return std::nullopt;
            info.codec = codec::Mp3;
            info.sample_rate = kMp3Rates[version][rate_index];
            info.channels = ((h.params >> 4) & 3) == 3 ? 1 : 2;
            const int64_t per_frame = layer == 3 ? 384 : (layer == 2 || version == 3) ? 1152 : 576;
            if (h.duration_ms > 0) {
                info.total_samples = static_cast<int64_t>(h.duration_ms) * info.sample_rate / 1000;
            } else {
                info.total_samples = static_cast<int64_t>(h.packet_count) * per_frame;
            }
            const bool vbr = (h.params >> 20) & 1;
            const int32_t kbps = layer == 1 ? kMp3Layer3Kbps[version == 3 ? 1 : 0][(h.params >> 8) & 0xF] : 0;
            if (!vbr && kbps > 0) info.bit_rate = kbps * 1000;
            info.decodable = h.eid == kEidPlain;  // 0xFFFE marks a device-scrambled payload
            break;
        }
        case static_cast<uint8_t>(OmaCodec::Wma):
            info.codec = codec::Wma;  // layout unknown: described, never decoded
            info.bits_per_sample = 0;
            break;
        case static_cast<uint8_t>(OmaCodec::AalNoBase):
        case static_cast<uint8_t>(OmaCodec::AalAtrac3Plus):
        case static_cast<uint8_t>(OmaCodec::AalAtrac3): {
            const uint32_t block_bits = (h.params >> 22) & 3;
            const int32_t rate = kAalRates[(h.params >> 14) & 3];
            const uint32_t word_length = (h.params >> 12) & 3;
            if (block_bits == 3 || rate == 0) return std::nullopt;
            info.sample_rate = rate;
            info.bits_per_sample = word_length == 1 ? 24 : 16;
            uint32_t per_packet = 512u << block_bits;
            if (h.codec_id == static_cast<uint8_t>(OmaCodec::AalNoBase)) {
                info.codec = -1;  // no number exists for lossless without a base layer
                info.channels = static_cast<int32_t>((h.params >> 19) & 7);
            } else {
                const uint8_t base = h.codec_id == static_cast<uint8_t>(OmaCodec::AalAtrac3)
                                         ? static_cast<uint8_t>(OmaCodec::Atrac3)
                                         : static_cast<uint8_t>(OmaCodec::Atrac3Plus);
                const auto atrac = DescribeAtrac(base, h.base_params);
                if (!atrac) return std::nullopt;
                info.codec =
                    base == static_cast<uint8_t>(OmaCodec::Atrac3) ? codec::AalAtrac3 : codec::AalAtrac3Plus;
                info.channels = atrac->channels;
                per_packet = atrac->samples_per_frame;
                info.base_bit_rate = static_cast<int32_t>(static_cast<int64_t>(atrac->rate) *
                                                          atrac->frame_size * 8 / atrac->samples_per_frame);
                info.decodable = plain;
            }
            uint64_t packets = CountAalPackets(src, audio_start);
            if (packets == 0) packets = h.packet_count;
            info.total_samples = static_cast<int64_t>(packets) * per_packet;
            break;
        }
        default:
            return std::nullopt;
    }

    if (info.sample_rate > 0) info.seconds = static_cast<double>(info.total_samples) / info.sample_rate;
    if (info.bit_rate == 0 && info.seconds > 0) {
        const double rate = static_cast<double>(payload) * 8 / info.seconds;
        if (rate < 2.0e9) info.bit_rate = static_cast<int32_t>(rate);
    }
    return info;
}

}  // namespace medialib::openmg
