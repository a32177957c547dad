// The 96-byte "EA3" audio header of OpenMG files and what it says about the
// audio stream that follows it.
//
// The header names the codec with one byte and packs the stream parameters
// into the next three bytes; ATRAC3, ATRAC3plus and LPCM streams are runs of
// fixed-size frames, so their length follows from the payload size. AAL
// streams are runs of "BLK" packets, which are walked to count them (the
// header's own count and duration are only a fallback for a damaged stream);
// MP3 streams carry their duration in the header. The encryption id says
// whether the payload is plain; protected content keeps its technical values
// but is not decodable.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "medialib/core/container.h"

namespace medialib::openmg {

inline constexpr size_t kEa3HeaderSize = 96;

// OpenMG codec ids as stored in byte 32 of the header.
enum class OmaCodec : uint8_t {
    Atrac3 = 0x00,
    Atrac3Plus = 0x01,
    Mp3 = 0x03,
    Lpcm = 0x04,
    Wma = 0x05,
    AalNoBase = 0x20,
    AalAtrac3Plus = 0x21,
    AalAtrac3 = 0x22,
};

inline constexpr uint16_t kEidPlain = 0xFFFF;
inline constexpr uint16_t kEidPlainCopied = 0xFF80;

struct Ea3Header {
    uint8_t version = 1;
    uint16_t eid = kEidPlain;  // encryption id
    std::array<uint8_t, 20> content_id{};
    uint8_t codec_id = 0;
    uint32_t params = 0;        // 24 bits
    uint32_t duration_ms = 0;   // AAL and MP3 only
    uint32_t packet_count = 0;  // AAL: BLK packets, MP3: MPEG frames
    uint8_t base_codec_id = 0;  // AAL only
    uint32_t base_params = 0;   // AAL only, 24 bits
};

// True when the bytes start with "EA3", a header size of 96 follows and the
// span holds the whole header.
bool IsEa3Header(std::span<const uint8_t> bytes);

// Parses a header; nullopt when IsEa3Header fails.
std::optional<Ea3Header> ParseEa3Header(std::span<const uint8_t> bytes);

// Renders a header (96 bytes). Fields not in Ea3Header are zero.
std::array<uint8_t, kEa3HeaderSize> RenderEa3Header(const Ea3Header& header);

// Plain (not encrypted or scrambled) payload.
bool IsPlainEid(uint16_t eid);

// What the stream holds, computed from the header and the payload.
struct StreamInfo {
    int32_t codec = -1;  // codec number of the library (codec:: values), -1 unknown
    int32_t sample_rate = 0;
    int32_t channels = 0;
    int32_t bits_per_sample = 0;
    int64_t total_samples = 0;  // per channel; 0 when unknown
    double seconds = 0;
    int32_t bit_rate = 0;       // bits per second, 0 when unknown
    int32_t base_bit_rate = 0;  // AAL: nominal bit rate of the base layer
    uint32_t frame_size = 0;    // bytes per frame for fixed-frame codecs
    bool decodable = false;     // plain payload of a codec FFmpeg decodes
};

// Computes the stream description of the payload that starts at
// `audio_start` in `src`. nullopt when the codec id is unknown or its
// parameters are invalid (a damaged or unsupported file). Reads at most a few
// bytes per AAL packet; never reads past the source's end.
std::optional<StreamInfo> DescribeStream(const ByteSource& src, uint64_t audio_start,
                                         const Ea3Header& header);

// Parameter helpers, also used by the demo writer.
int32_t AtracSampleRate(uint32_t params);  // 0 for an invalid index
uint32_t Atrac3Params(int32_t sample_rate, uint32_t frame_size,
                      bool joint_stereo);  // 0 when not representable

}  // namespace medialib::openmg
