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

    bool Read(AVPacket* packet) override { return blk_ ? ReadBlk(packet) : ReadFixed(packet); }

    bool Seek(int64_t ms) override {
        const int64_t sample = av_rescale(std::max<int64_t>(ms, 0), stream_.info.sample_rate, 1000);
        const int64_t frame = std::max<int64_t>(sample / samples_per_packet_ - kPrerollFrames, 0);
        if (!blk_) {
            next_ = std::min(frame, fixed_packets_);
            return next_ < fixed_packets_;
        }
        // The packet offsets are learnt by walking the headers from the last
        // one known.
        next_ = std::min<int64_t>(frame, static_cast<int64_t>(blk_offsets_.size()) - 1);
        while (next_ < frame) {
            uint64_t payload = 0;
            if (!BlkAt(blk_offsets_[static_cast<size_t>(next_)], &payload)) return false;
            ++next_;
        }
        return BlkAt(blk_offsets_[static_cast<size_t>(next_)], nullptr);
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
            blk_ = true;
            blk_offsets_.push_back(stream_.audio_start);
        } else {
            return false;  // MP3 in EA3 is FFmpeg's
        }
        if (!blk_) {
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
        } else {
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

    // Checks the BLK packet at `offset`; its payload size into `payload` and
    // the next packet's offset remembered. False at the end or at damage.
    bool BlkAt(uint64_t offset, uint64_t* payload) {
        const uint64_t end = bytes_.Size();
        uint8_t head[kBlkHeaderSize];
        if (offset >= end || end - offset < kBlkHeaderSize) return false;
        if (bytes_.ReadAt(offset, head, sizeof(head)) != sizeof(head)) return false;
        if (std::memcmp(head, "BLK", 3) != 0) return false;  // also the zero tag that ends the stream
        const uint64_t size = openmg::ReadBe16(head + 4);
        if (size == 0 || size > end - offset - kBlkHeaderSize) return false;
        if (payload) *payload = size;
        if (static_cast<size_t>(next_) + 1 == blk_offsets_.size())
            blk_offsets_.push_back(offset + kBlkHeaderSize + size);
        return true;
    }

    bool ReadBlk(AVPacket* packet) {
        if (next_ < 0 || static_cast<size_t>(next_) >= blk_offsets_.size()) return false;
        const uint64_t offset = blk_offsets_[static_cast<size_t>(next_)];
        uint64_t payload = 0;
        if (!BlkAt(offset, &payload)) return false;
        if (!FillPacket(packet, offset + kBlkHeaderSize, static_cast<size_t>(payload))) return false;
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
    // BLK packets: offsets of the packets known so far (the first always).
    bool blk_ = false;
    std::vector<uint64_t> blk_offsets_;
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
