// The engine's own reading of OpenMG audio for the player: the EA3 header says
// the codec, its parameters and where the payload starts (openmg/), and the
// payload is cut here into the packets FFmpeg's decoders take.
//
// - ATRAC3, ATRAC3plus: frames of the header's fixed size, back to back; a
//   partial frame at the end is not a frame and is left out.
// - LPCM: big-endian 16-bit stereo at 44.1 kHz, cut into packets of
//   kLpcmFramesPerPacket sample frames.
// - ATRAC Advanced Lossless with an ATRAC3 or ATRAC3plus base layer: "BLK"
//   packets of 24 header bytes (size at 4, packet index at 8) and a payload
//   that starts with one complete base-layer frame; the payload is the packet.
//   The lossless enhancement that follows it is not decoded by FFmpeg.
// - MP3 (plain only): MPEG audio frames, found by their headers (bytes that
//   are not a frame are skipped, up to 64 KiB); a cut last frame is handed on
//   as it is, since the decoder still decodes what it holds.
//
// Seeking is frame arithmetic (AAL: a walk over the packet headers, whose
// offsets are remembered). Transform codecs carry state from one frame to the
// next (the lapped transform's overlap, the synthesis filter bank's history,
// gain and stereo parameters), so a seek starts kPrerollFrames frames before
// the wanted one; the decoder filter drops the audio before the wanted
// position by timestamp, and what follows equals a decode from the start.
#include <algorithm>
#include <cstring>
#include <vector>

#include "medialib/openmg/byte_order.h"
#include "medialib/openmg/openmg_file.h"
#include "medialib/playback/packet_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

namespace medialib::playback {
namespace {

using openmg::OmaCodec;

constexpr int64_t kLpcmFramesPerPacket = 1024;
constexpr int64_t kPrerollFrames = 4;
constexpr uint64_t kBlkHeaderSize = 24;

void PutLe(uint8_t* p, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool Is(uint8_t id, OmaCodec codec) { return id == static_cast<uint8_t>(codec); }

// Speaker layouts by channel count: the ATRAC3plus channel ids 1..7 of the
// parameter word (mono, stereo, FL FR FC; FL FR FC BC; FL FR FC LFE BL BR;
// the same with BC; FL FR FC LFE BL BR SL SR).
AVChannelLayout LayoutFor(int channels) {
    uint64_t mask = 0;
    switch (channels) {
        case 1:
            mask = AV_CH_LAYOUT_MONO;
            break;
        case 2:
            mask = AV_CH_LAYOUT_STEREO;
            break;
        case 3:
            mask = AV_CH_LAYOUT_SURROUND;
            break;
        case 4:
            mask = AV_CH_LAYOUT_4POINT0;
            break;
        case 6:
            mask = AV_CH_LAYOUT_5POINT1_BACK;
            break;
        case 7:
            mask = AV_CH_LAYOUT_6POINT1_BACK;
            break;
        case 8:
            mask = AV_CH_LAYOUT_7POINT1;
            break;
        default:
            break;
    }
    AVChannelLayout layout{};
    if (mask == 0 || av_channel_layout_from_mask(&layout, mask) < 0)
        av_channel_layout_default(&layout, channels);
    return layout;
}

struct ParametersDeleter {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};

class OpenMgReader final : public PacketReader {
  public:
    static std::unique_ptr<OpenMgReader> Open(const ByteSource& bytes) {
        const auto stream = openmg::LocateEa3Stream(bytes);
        if (!stream || !stream->info.decodable) return nullptr;
        auto reader = std::unique_ptr<OpenMgReader>(new OpenMgReader(bytes, *stream));
        return reader->SetUp() ? std::move(reader) : nullptr;
    }

    const AVCodecParameters* Parameters() const override { return parameters_.get(); }
    AVRational TimeBase() const override { return {1, stream_.info.sample_rate}; }
    int64_t StartPts() const override { return 0; }
    int64_t DurationMs() const override {
        return av_rescale(stream_.info.total_samples, 1000, stream_.info.sample_rate);
    }

    bool Read(AVPacket* packet) override { return variable_ ? ReadVariable(packet) : ReadFixed(packet); }

    bool Seek(int64_t ms) override {
        const int64_t sample = av_rescale(std::max<int64_t>(ms, 0), stream_.info.sample_rate, 1000);
        const int64_t frame = std::max<int64_t>(sample / samples_per_packet_ - kPrerollFrames, 0);
        if (!variable_) {
            next_ = std::min(frame, fixed_packets_);
            return next_ < fixed_packets_;
        }
        // The packet offsets are learnt by walking the headers from the last
        // one known.
        next_ = std::min<int64_t>(frame, static_cast<int64_t>(offsets_.size()) - 1);
        Span span;
        while (next_ < frame) {
            if (!PacketAt(offsets_[static_cast<size_t>(next_)], &span)) return false;
            ++next_;
        }
        return PacketAt(offsets_[static_cast<size_t>(next_)], &span);
    }

  private:
    OpenMgReader(const ByteSource& bytes, const openmg::Ea3Stream& stream) : bytes_(bytes), stream_(stream) {}

    bool SetUp() {
        const openmg::StreamInfo& info = stream_.info;
        if (info.sample_rate <= 0 || info.channels <= 0) return false;
        parameters_.reset(avcodec_parameters_alloc());
        if (!parameters_) return false;
        AVCodecParameters* p = parameters_.get();
        p->codec_type = AVMEDIA_TYPE_AUDIO;
        p->sample_rate = info.sample_rate;
        p->bit_rate = info.bit_rate;
        const uint8_t id = stream_.header.codec_id;
        const uint64_t size = bytes_.Size();
        const uint64_t payload = size > stream_.audio_start ? size - stream_.audio_start : 0;
        if (Is(id, OmaCodec::Atrac3)) {
            // The decoder learns dual or joint stereo from the extra data of
            // the RIFF form: version 1, the sample rate, the coding mode twice
            // (non-zero: joint stereo) and a frame factor of 1.
            p->codec_id = AV_CODEC_ID_ATRAC3;
            p->ch_layout = LayoutFor(2);
            const uint16_t joint = (stream_.header.params >> 17) & 1;
            uint8_t extra[14] = {};
            PutLe(extra, 1, 2);
            PutLe(extra + 2, static_cast<uint32_t>(info.sample_rate), 4);
            PutLe(extra + 6, joint, 2);
            PutLe(extra + 8, joint, 2);
            PutLe(extra + 10, 1, 2);
            if (!SetExtradata(extra, sizeof(extra))) return false;
            samples_per_packet_ = 1024;
        } else if (Is(id, OmaCodec::Atrac3Plus)) {
            p->codec_id = AV_CODEC_ID_ATRAC3P;
            p->ch_layout = LayoutFor(info.channels);
            samples_per_packet_ = 2048;
        } else if (Is(id, OmaCodec::Lpcm)) {
            p->codec_id = AV_CODEC_ID_PCM_S16BE;
            p->ch_layout = LayoutFor(2);
            p->bits_per_coded_sample = 16;
            samples_per_packet_ = kLpcmFramesPerPacket;
        } else if (Is(id, OmaCodec::AalAtrac3) || Is(id, OmaCodec::AalAtrac3Plus)) {
            const bool atrac3 = Is(id, OmaCodec::AalAtrac3);
            p->codec_id = atrac3 ? AV_CODEC_ID_ATRAC3AL : AV_CODEC_ID_ATRAC3PAL;
            p->ch_layout = LayoutFor(atrac3 ? 2 : info.channels);
            samples_per_packet_ = atrac3 ? 1024 : 2048;
            variable_ = true;
            offsets_.push_back(stream_.audio_start);
        } else if (Is(id, OmaCodec::Mp3)) {
            p->codec_id = AV_CODEC_ID_MP3;
            p->ch_layout = LayoutFor(info.channels);
            variable_ = true;
            offsets_.push_back(stream_.audio_start);
            // The header's rate must be the frames' own; the first frame
            // gives the samples per packet.
            Span first;
            if (!PacketAt(stream_.audio_start, &first) || first.rate != info.sample_rate) return false;
            samples_per_packet_ = first.samples;
            offsets_.resize(1);
        } else {
            return false;
        }
        if (!variable_) {
            // Fixed-size frames: the block size comes from the header.
            const uint64_t frame_bytes = Is(id, OmaCodec::Lpcm)
                                             ? static_cast<uint64_t>(kLpcmFramesPerPacket) * info.frame_size
                                             : info.frame_size;
            if (frame_bytes == 0 || frame_bytes > (1u << 20)) return false;
            packet_bytes_ = frame_bytes;
            p->block_align = static_cast<int>(Is(id, OmaCodec::Lpcm) ? info.frame_size : frame_bytes);
            // LPCM: the last packet may be short, but holds whole sample frames.
            fixed_packets_ = static_cast<int64_t>(payload / frame_bytes);
            tail_bytes_ =
                Is(id, OmaCodec::Lpcm) ? (payload % frame_bytes) / info.frame_size * info.frame_size : 0;
            if (tail_bytes_) ++fixed_packets_;
        } else if (!Is(id, OmaCodec::Mp3)) {
            const uint32_t base_size = BaseFrameSize();
            if (base_size == 0) return false;
            p->block_align = static_cast<int>(base_size);
        }
        return true;
    }

    uint32_t BaseFrameSize() const {
        const uint32_t bp = stream_.header.base_params;
        if (Is(stream_.header.codec_id, OmaCodec::AalAtrac3)) return (bp & 0x3FF) * 8;
        return (bp & 0x3FF) * 8 + 8;
    }

    bool SetExtradata(const uint8_t* data, size_t n) {
        auto* extra = static_cast<uint8_t*>(av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!extra) return false;
        std::memcpy(extra, data, n);
        parameters_->extradata = extra;
        parameters_->extradata_size = static_cast<int>(n);
        return true;
    }

    bool FillPacket(AVPacket* packet, uint64_t offset, size_t n) {
        if (av_new_packet(packet, static_cast<int>(n)) < 0) return false;
        if (bytes_.ReadAt(offset, packet->data, n) != n) {
            av_packet_unref(packet);
            return false;
        }
        packet->pts = packet->dts = next_ * samples_per_packet_;
        packet->duration = samples_per_packet_;
        packet->stream_index = 0;
        return true;
    }

    bool ReadFixed(AVPacket* packet) {
        if (next_ >= fixed_packets_) return false;
        const bool last = next_ + 1 == fixed_packets_;
        const size_t n = last && tail_bytes_ ? tail_bytes_ : packet_bytes_;
        if (!FillPacket(packet, stream_.audio_start + static_cast<uint64_t>(next_) * packet_bytes_, n))
            return false;
        if (n != packet_bytes_) packet->duration = static_cast<int64_t>(n / stream_.info.frame_size);
        ++next_;
        return true;
    }

    // A packet of a stream of self-describing packets: where its bytes are
    // and where the next one starts.
    struct Span {
        uint64_t data = 0;
        uint64_t size = 0;
        uint64_t next = 0;
        int rate = 0;     // MPEG audio: the frame's sample rate
        int samples = 0;  // and samples per channel
    };

    // The packet that starts at `offset` (MPEG audio: at or after it, past
    // bytes that are not a frame); the next packet's offset is remembered.
    // False at the end of the stream or at damage.
    bool PacketAt(uint64_t offset, Span* span) {
        const bool found =
            Is(stream_.header.codec_id, OmaCodec::Mp3) ? MpegFrameAt(offset, span) : BlkAt(offset, span);
        if (found && static_cast<size_t>(next_) + 1 == offsets_.size()) offsets_.push_back(span->next);
        return found;
    }

    bool BlkAt(uint64_t offset, Span* span) {
        const uint64_t end = bytes_.Size();
        uint8_t head[kBlkHeaderSize];
        if (offset >= end || end - offset < kBlkHeaderSize) return false;
        if (bytes_.ReadAt(offset, head, sizeof(head)) != sizeof(head)) return false;
        if (std::memcmp(head, "BLK", 3) != 0) return false;  // also the zero tag that ends the stream
        const uint64_t size = openmg::ReadBe16(head + 4);
        if (size == 0 || size > end - offset - kBlkHeaderSize) return false;
        *span = Span{offset + kBlkHeaderSize, size, offset + kBlkHeaderSize + size, 0, 0};
        return true;
    }

    // An MPEG audio frame header: its frame length, rate and samples; false
    // for anything else (free-format frames included: no length to read).
    static bool MpegFrame(const uint8_t* h, Span* span) {
        static constexpr int kRates[4] = {44100, 48000, 32000, 0};
        static constexpr int kKbps[2][3][16] = {
            {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
             {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
             {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
            {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
             {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
             {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
        };
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
        const int version = (h[1] >> 3) & 3;  // 0: MPEG 2.5, 2: MPEG 2, 3: MPEG 1
        const int layer = 4 - ((h[1] >> 1) & 3);
        const int bitrate_index = h[2] >> 4;
        const int rate_index = (h[2] >> 2) & 3;
        if (version == 1 || layer == 4 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3)
            return false;
        const bool mpeg1 = version == 3;
        const int rate = kRates[rate_index] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
        const int kbps = kKbps[mpeg1 ? 0 : 1][layer - 1][bitrate_index];
        const int padding = (h[2] >> 1) & 1;
        uint64_t size = 0;
        if (layer == 1) {
            span->samples = 384;
            size = (12000ull * kbps / rate + padding) * 4;
        } else {
            span->samples = layer == 3 && !mpeg1 ? 576 : 1152;
            size = static_cast<uint64_t>(span->samples) / 8 * 1000 * kbps / rate + padding;
        }
        span->rate = rate;
        span->size = size;
        return size >= 4;
    }

    bool MpegFrameAt(uint64_t offset, Span* span) {
        // Bytes that are not a frame are skipped, but not without end.
        constexpr uint64_t kMaxSkip = 64 * 1024;
        const uint64_t end = bytes_.Size();
        uint8_t buffer[4096];
        for (uint64_t at = offset; at < end && at - offset < kMaxSkip;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buffer, end - at));
            const size_t got = bytes_.ReadAt(at, buffer, want);
            if (got < 4) return false;
            for (size_t i = 0; i + 4 <= got; ++i) {
                if (!MpegFrame(buffer + i, span)) continue;
                span->data = at + i;
                // A cut last frame goes to the decoder as it is, which
                // decodes what it holds.
                span->size = std::min(span->size, end - span->data);
                span->next = span->data + span->size;
                return true;
            }
            at += got - 3;
        }
        return false;
    }

    bool ReadVariable(AVPacket* packet) {
        if (next_ < 0 || static_cast<size_t>(next_) >= offsets_.size()) return false;
        Span span;
        if (!PacketAt(offsets_[static_cast<size_t>(next_)], &span)) return false;
        if (!FillPacket(packet, span.data, static_cast<size_t>(span.size))) return false;
        ++next_;
        return true;
    }

    const ByteSource& bytes_;
    openmg::Ea3Stream stream_;
    std::unique_ptr<AVCodecParameters, ParametersDeleter> parameters_;
    int64_t samples_per_packet_ = 0;
    int64_t next_ = 0;  // index of the next packet
    // Fixed-size frames.
    uint64_t packet_bytes_ = 0;
    int64_t fixed_packets_ = 0;
    size_t tail_bytes_ = 0;
    // Self-describing packets (AAL's BLK packets, MPEG audio frames): where
    // each packet known so far starts (the first always).
    bool variable_ = false;
    std::vector<uint64_t> offsets_;
};

}  // namespace

std::unique_ptr<PacketReader> OpenOpenMgReader(const ByteSource& bytes) {
    try {
        return OpenMgReader::Open(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace medialib::playback
