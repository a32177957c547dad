#include "medialib/convert/converter.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "library/media_ids.h"
#include "medialib/convert/frame_encoder.h"
#include "medialib/convert/work_output.h"
#include "medialib/core/atomic_save.h"
#include "medialib/core/container.h"
#include "medialib/detect/dispatch.h"
#include "medialib/ffmpeg/decoder.h"
#include "medialib/ffmpeg/encoder.h"
#include "medialib/ffmpeg/ffmpeg_raii.h"
#include "medialib/openmg/byte_order.h"
#include "medialib/openmg/ea3_header.h"
#include "medialib/openmg/ea3_tag.h"
#include "medialib/openmg/ea3_writer.h"
#include "medialib/riff/wav_stream.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace medialib::conversion {
namespace {

using openmg::Ea3Header;
using openmg::OmaCodec;

bool IsOpenMgContainer(int32_t c) {
    return c == container::Omg || c == container::ProtectedOma || c == container::Oma || c == container::Kdr;
}

// An ATRAC stream of the source, as whole frames that can be copied.
struct AtracFrames {
    int32_t codec = 0;  // codec::Atrac3 or codec::Atrac3Plus
    int32_t sample_rate = 0;
    int32_t channels = 0;
    uint32_t frame_bytes = 0;
    bool joint_stereo = false;
    uint32_t params = 0;  // EA3 codec parameters
    int32_t bit_rate = 0;
    bool aal = false;  // frames are the base layer at the start of each BLK payload
    uint64_t offset = 0;
    uint64_t size = 0;
};

uint32_t FramesPerCodec(int32_t codec) { return codec == codec::Atrac3 ? 1024 : 2048; }

int32_t NominalRate(const AtracFrames& f) {
    return static_cast<int32_t>(static_cast<int64_t>(f.sample_rate) * f.frame_bytes * 8 /
                                FramesPerCodec(f.codec));
}

std::optional<AtracFrames> FromEa3(uint8_t codec_id, uint32_t params) {
    AtracFrames f;
    f.sample_rate = openmg::AtracSampleRate(params);
    if (f.sample_rate == 0) return std::nullopt;
    f.params = params;
    if (codec_id == static_cast<uint8_t>(OmaCodec::Atrac3)) {
        f.codec = codec::Atrac3;
        f.channels = 2;
        f.frame_bytes = (params & 0x3FF) * 8;
        f.joint_stereo = (params >> 17) & 1;
    } else if (codec_id == static_cast<uint8_t>(OmaCodec::Atrac3Plus)) {
        static constexpr int32_t kChannels[8] = {0, 1, 2, 3, 4, 6, 7, 8};
        f.codec = codec::Atrac3Plus;
        f.channels = kChannels[(params >> 10) & 7];
        f.frame_bytes = (params & 0x3FF) * 8 + 8;
    } else {
        return std::nullopt;
    }
    if (f.frame_bytes == 0 || f.channels == 0) return std::nullopt;
    f.bit_rate = NominalRate(f);
    return f;
}

// The ATRAC frames of a plain OpenMG file or an ATRAC3 RIFF file.
std::optional<AtracFrames> FindAtracFrames(const ByteSource& src) {
    uint8_t head[openmg::kEa3HeaderSize] = {};
    const size_t got = src.ReadAt(0, head, sizeof(head));
    uint64_t header_offset = 0;
    if (const auto total = openmg::Ea3TagTotalSize(std::span(head, got))) {
        header_offset = *total;
    } else if (!openmg::IsEa3Header(std::span(head, got))) {
        const auto riff = riff::FindAtrac3InRiff(src);
        if (!riff) return std::nullopt;
        AtracFrames f;
        f.codec = codec::Atrac3;
        f.sample_rate = static_cast<int32_t>(riff->format.sample_rate);
        f.channels = riff->format.channels;
        f.frame_bytes = riff->format.block_align;
        f.joint_stereo = riff->format.joint_stereo;
        f.params = openmg::Atrac3Params(f.sample_rate, f.frame_bytes, f.joint_stereo);
        if (f.params == 0 || f.channels != 2) return std::nullopt;
        f.bit_rate = NominalRate(f);
        f.offset = riff->data_offset;
        f.size = riff->data_size;
        return f;
    }
    uint8_t bytes[openmg::kEa3HeaderSize];
    if (src.ReadAt(header_offset, bytes, sizeof(bytes)) != sizeof(bytes)) return std::nullopt;
    const auto header = openmg::ParseEa3Header(bytes);
    // Protected content is never taken apart, whatever its codec.
    if (!header || !openmg::IsPlainEid(header->eid)) return std::nullopt;
    const uint64_t start = header_offset + openmg::kEa3HeaderSize;
    const uint64_t payload = src.Size() > start ? src.Size() - start : 0;
    if (header->codec_id == static_cast<uint8_t>(OmaCodec::AalAtrac3) ||
        header->codec_id == static_cast<uint8_t>(OmaCodec::AalAtrac3Plus)) {
        const uint8_t base = header->codec_id == static_cast<uint8_t>(OmaCodec::AalAtrac3)
                                 ? static_cast<uint8_t>(OmaCodec::Atrac3)
                                 : static_cast<uint8_t>(OmaCodec::Atrac3Plus);
        auto f = FromEa3(base, header->base_params);
        if (!f) return std::nullopt;
        f->aal = true;
        f->offset = start;
        f->size = payload;
        return f;
    }
    auto f = FromEa3(header->codec_id, header->params);
    if (!f) return std::nullopt;
    f->offset = start;
    f->size = payload - payload % f->frame_bytes;
    return f;
}

// Calls `each` with every frame in order; `progress` with the share done.
template <typename Each>
bool ForEachFrame(const ByteSource& src, const AtracFrames& f, Each&& each, const ProgressFn& progress) {
    std::vector<uint8_t> frame(f.frame_bytes);
    const uint64_t end = f.offset + f.size;
    uint64_t offset = f.offset;
    int last_percent = -1;
    while (offset < end) {
        uint64_t next;
        if (f.aal) {
            uint8_t blk[24];
            if (end - offset < sizeof(blk) || src.ReadAt(offset, blk, sizeof(blk)) != sizeof(blk)) break;
            if (blk[0] == 0 && blk[1] == 0 && blk[2] == 0) break;
            if (std::memcmp(blk, "BLK", 3) != 0) return false;
            const uint64_t payload = openmg::ReadBe16(blk + 4);
            if (payload > end - offset - sizeof(blk)) return false;  // cut off inside a packet
            if (payload < f.frame_bytes) return false;
            if (src.ReadAt(offset + sizeof(blk), frame.data(), frame.size()) != frame.size()) return false;
            next = offset + sizeof(blk) + payload;
        } else {
            if (src.ReadAt(offset, frame.data(), frame.size()) != frame.size()) return false;
            next = offset + f.frame_bytes;
        }
        if (!each(frame)) return false;
        offset = next;
        const int percent = static_cast<int>((offset - f.offset) * 100 / (f.size ? f.size : 1));
        if (percent != last_percent && progress) progress(last_percent = percent);
    }
    return true;
}

// Writes fixed-size ATRAC frames into a new OpenMG or RIFF file.
class AtracFileWriter {
  public:
    AtracFileWriter(int fd, int32_t container, const AtracFrames& stream)
        : fd_(fd), riff_(container == container::Wav), stream_(stream) {}

    bool Start() {
        if (riff_) {
            if (stream_.codec != codec::Atrac3) return false;  // no RIFF form for ATRAC3plus here
            auto header = riff::RenderWavHeader(Format(), 0, 0);
            return header && WriteAll(fd_, header->data(), header->size());
        }
        Ea3Header h;
        h.codec_id =
            static_cast<uint8_t>(stream_.codec == codec::Atrac3 ? OmaCodec::Atrac3 : OmaCodec::Atrac3Plus);
        h.params = stream_.params;
        const auto start = openmg::RenderNewFileStart(h);
        return start && WriteAll(fd_, start->data(), start->size());
    }
    bool Append(const uint8_t* data, size_t size) {
        data_bytes_ += size;
        return WriteAll(fd_, data, size);
    }
    bool Finish() {
        if (!riff_) return true;
        const uint64_t samples = data_bytes_ / stream_.frame_bytes * FramesPerCodec(stream_.codec);
        auto header = riff::RenderWavHeader(Format(), data_bytes_, samples);
        if (!header) return false;
        if (data_bytes_ & 1) {
            const uint8_t pad = 0;
            if (!WriteAll(fd_, &pad, 1)) return false;
        }
        return ::pwrite(fd_, header->data(), header->size(), 0) == static_cast<ssize_t>(header->size());
    }

  private:
    riff::WavStreamFormat Format() const {
        riff::WavStreamFormat f;
        f.format_tag = riff::kFormatAtrac3;
        f.channels = static_cast<uint16_t>(stream_.channels);
        f.sample_rate = static_cast<uint32_t>(stream_.sample_rate);
        f.bits_per_sample = 0;
        f.block_align = static_cast<uint16_t>(stream_.frame_bytes);
        f.joint_stereo = stream_.joint_stereo;
        return f;
    }
    int fd_;
    bool riff_;
    AtracFrames stream_;
    uint64_t data_bytes_ = 0;
};

// Interleaved float PCM converted to another rate and channel count.
class Resampler {
  public:
    bool Open(int in_rate, int in_channels, int out_rate, int out_channels) {
        out_channels_ = out_channels;
        AVChannelLayout in{}, out{};
        av_channel_layout_default(&in, in_channels);
        av_channel_layout_default(&out, out_channels);
        SwrContext* s = nullptr;
        const int rc = swr_alloc_set_opts2(&s, &out, AV_SAMPLE_FMT_FLT, out_rate, &in, AV_SAMPLE_FMT_FLT,
                                           in_rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        av_channel_layout_uninit(&out);
        swr_.reset(s);
        return rc >= 0 && swr_init(s) >= 0;
    }
    // Converts `frames` frames (none: drains) into `out` (replaced).
    bool Run(const float* in, size_t frames, std::vector<float>& out) {
        const int max = swr_get_out_samples(swr_.get(), static_cast<int>(frames));
        if (max < 0) return false;
        out.resize(static_cast<size_t>(max) * out_channels_);
        auto* dst = reinterpret_cast<uint8_t*>(out.data());
        const auto* src = reinterpret_cast<const uint8_t*>(in);
        const int got = swr_convert(swr_.get(), &dst, max, frames ? &src : nullptr, static_cast<int>(frames));
        if (got < 0) return false;
        out.resize(static_cast<size_t>(got) * out_channels_);
        return true;
    }

  private:
    ff::SwrPtr swr_;
    int out_channels_ = 0;
};

inline int32_t ToInt(float v, int bits) {
    const float scale = bits == 24 ? 8388608.0f : 32768.0f;
    const float x = v * scale;
    if (!(x == x)) return 0;  // NaN from a damaged stream must not reach the integer conversion
    if (x <= -scale) return static_cast<int32_t>(-scale);
    if (x >= scale - 1) return static_cast<int32_t>(scale - 1);
    return static_cast<int32_t>(std::lrintf(x));  // to nearest, ties to even, as FFmpeg rounds
}

// Decodes the source and hands blocks of interleaved float PCM (at the wanted
// rate and channel count, or the source's own when those are 0) to `each`.
template <typename Each>
bool DecodeBlocks(const ByteSource& src, int rate, int channels, int64_t total_ms, Each&& each,
                  const ProgressFn& progress) {
    auto decoder = ff::AudioDecoder::Open(src);
    if (!decoder) return false;
    const int in_rate = decoder->sample_rate();
    const int in_channels = decoder->channels();
    if (rate == 0) rate = in_rate;
    if (channels == 0) channels = in_channels;
    std::optional<Resampler> resampler;
    if (rate != in_rate || channels != in_channels) {
        resampler.emplace();
        if (!resampler->Open(in_rate, in_channels, rate, channels)) return false;
    }
    std::vector<float> block, converted;
    uint64_t done_frames = 0;
    int last_percent = -1;
    for (;;) {
        block.clear();
        if (!decoder->Next(block)) break;
        const size_t frames = block.size() / static_cast<size_t>(in_channels);
        done_frames += frames;
        if (resampler) {
            if (!resampler->Run(block.data(), frames, converted)) return false;
            if (!each(converted.data(), converted.size() / static_cast<size_t>(channels), rate, channels))
                return false;
        } else if (!each(block.data(), frames, rate, channels)) {
            return false;
        }
        if (progress && total_ms > 0) {
            const int percent = static_cast<int>(
                std::min<int64_t>(99, static_cast<int64_t>(done_frames * 1000 / in_rate) * 100 / total_ms));
            if (percent != last_percent) progress(last_percent = percent);
        }
    }
    if (resampler) {
        if (!resampler->Run(nullptr, 0, converted)) return false;
        if (!converted.empty() &&
            !each(converted.data(), converted.size() / static_cast<size_t>(channels), rate, channels))
            return false;
    }
    return done_frames > 0;
}

int32_t AttributeNumber(const OpenedFile& file, uint32_t id) {
    const auto it = file.Attributes().find(id);
    if (it == file.Attributes().end() || it->second.empty()) return 0;
    const auto* n = std::get_if<int32_t>(&it->second.front());
    return n ? *n : 0;
}

// What the source is.
struct SourceInfo {
    int32_t container = 0;
    int32_t codec = -1;
    bool decodable = false;
    int32_t bits = 0;
    int32_t bit_rate = 0;
    int64_t duration_ms = 0;
};

bool WritePcmWav(const ByteSource& src, const SourceInfo& info, int fd, const ProgressFn& progress) {
    const int bits = info.bits > 16 ? 24 : 16;
    const int bytes = bits / 8;
    riff::WavStreamFormat format;
    uint64_t data_bytes = 0;
    std::vector<uint8_t> out;
    bool started = false;
    const auto each = [&](const float* pcm, size_t frames, int rate, int channels) {
        if (!started) {
            format.channels = static_cast<uint16_t>(channels);
            format.sample_rate = static_cast<uint32_t>(rate);
            format.bits_per_sample = static_cast<uint16_t>(bits);
            format.block_align = static_cast<uint16_t>(channels * bytes);
            const auto header = riff::RenderWavHeader(format, 0, 0);
            if (!header || !WriteAll(fd, header->data(), header->size())) return false;
            started = true;
        }
        const size_t count = frames * static_cast<size_t>(channels);
        out.resize(count * static_cast<size_t>(bytes));
        for (size_t i = 0; i < count; ++i) {
            const int32_t v = ToInt(pcm[i], bits);
            for (int b = 0; b < bytes; ++b) out[i * bytes + b] = static_cast<uint8_t>(v >> (8 * b));
        }
        data_bytes += out.size();
        return WriteAll(fd, out.data(), out.size());
    };
    if (!DecodeBlocks(src, 0, 0, info.duration_ms, each, progress) || !started) return false;
    if (data_bytes & 1) {
        const uint8_t pad = 0;
        if (!WriteAll(fd, &pad, 1)) return false;
    }
    const auto header = riff::RenderWavHeader(format, data_bytes, 0);
    return header && ::pwrite(fd, header->data(), header->size(), 0) == static_cast<ssize_t>(header->size());
}

// OpenMG LPCM is 44.1 kHz stereo 16-bit big-endian: the layout every reader assumes.
bool WritePcmOpenMg(const ByteSource& src, const SourceInfo& info, int fd, const ProgressFn& progress) {
    Ea3Header h;
    h.codec_id = static_cast<uint8_t>(OmaCodec::Lpcm);
    const auto start = openmg::RenderNewFileStart(h);
    if (!start || !WriteAll(fd, start->data(), start->size())) return false;
    std::vector<uint8_t> out;
    const auto each = [&](const float* pcm, size_t frames, int, int) {
        out.resize(frames * 4);
        for (size_t i = 0; i < frames * 2; ++i)
            openmg::WriteBe16(&out[i * 2], static_cast<uint16_t>(ToInt(pcm[i], 16)));
        return WriteAll(fd, out.data(), out.size());
    };
    return DecodeBlocks(src, 44100, 2, info.duration_ms, each, progress);
}

bool WriteEncoded(const ByteSource& src, const SourceInfo& info, int fd, const char* muxer,
                  const char* encoder, int32_t bit_rate, const ProgressFn& progress) {
    std::unique_ptr<ff::EncodeWriter> writer;
    const auto each = [&](const float* pcm, size_t frames, int rate, int channels) {
        if (!writer) {
            writer = ff::EncodeWriter::Open(fd, {muxer, encoder, rate, channels, bit_rate});
            if (!writer) return false;
        }
        return writer->Write(pcm, frames);
    };
    return DecodeBlocks(src, 0, 0, info.duration_ms, each, progress) && writer && writer->Finish();
}

// ATRAC from PCM through a plugged-in frame encoder.
bool WriteThroughFrameEncoder(const ByteSource& src, const SourceInfo& info, int fd, int32_t container,
                              int32_t codec, int32_t bit_rate, const ProgressFn& progress) {
    const int channels = 2;
    auto encoder = MakeFrameEncoder(codec, bit_rate, channels);
    if (!encoder) return false;
    AtracFrames stream;
    stream.codec = codec;
    stream.sample_rate = kFrameEncoderRate;
    stream.channels = encoder->channels();
    stream.frame_bytes = static_cast<uint32_t>(encoder->frame_bytes());
    stream.joint_stereo = encoder->joint_stereo();
    stream.params = codec == codec::Atrac3
                        ? openmg::Atrac3Params(kFrameEncoderRate, stream.frame_bytes, stream.joint_stereo)
                        : openmg::Atrac3PlusParams(kFrameEncoderRate, stream.channels, stream.frame_bytes);
    if (stream.params == 0) return false;
    AtracFileWriter writer(fd, container, stream);
    if (!writer.Start()) return false;
    std::vector<int16_t> pcm16;
    std::vector<uint8_t> frames;
    const auto each = [&](const float* pcm, size_t count, int, int) {
        pcm16.resize(count * channels);
        for (size_t i = 0; i < pcm16.size(); ++i) pcm16[i] = static_cast<int16_t>(ToInt(pcm[i], 16));
        frames.clear();
        encoder->Encode(pcm16.data(), count, frames);
        return writer.Append(frames.data(), frames.size());
    };
    if (!DecodeBlocks(src, kFrameEncoderRate, channels, info.duration_ms, each, progress)) return false;
    frames.clear();
    encoder->Finish(frames);
    return writer.Append(frames.data(), frames.size()) && writer.Finish();
}

// A wanted ATRAC rate that the source's frames already have (nominal table
// rates differ a little from the exact ones: 132000 vs 132300).
bool SameAtracRate(int32_t wanted, int32_t actual) {
    if (wanted == 0) return true;
    const int64_t diff = std::llabs(static_cast<int64_t>(wanted) - actual);
    return diff * 50 <= actual;  // within 2 %
}

}  // namespace

const char* ExtensionFor(int32_t c) {
    switch (c) {
        case container::Omg:
            return ".omg";
        case container::ProtectedOma:
        case container::Oma:
            return ".oma";
        case container::Kdr:
            return ".kdr";
        case container::Wav:
            return ".wav";
        case container::ThreeGp:
            return ".3gp";
        case container::Mp3:
            return ".mp3";
        default:
            return "";
    }
}

Result Convert(const Request& request, const ProgressFn& progress) {
    Result result;
    try {
        const int32_t wanted_container =
            static_cast<int32_t>(static_cast<uint32_t>(request.format_code) >> 16);
        const int32_t wanted_codec = request.format_code & 0xFFFF;
        const char* extension = ExtensionFor(wanted_container);
        if (*extension == 0) return result;

        std::error_code ec;
        if (!std::filesystem::is_directory(request.work_folder, ec)) return result;
        SweepStaleOutputs(request.work_folder);

        const std::unique_ptr<OpenedFile> opened = OpenMediaFile(request.source);
        const std::unique_ptr<ByteSource> src = OpenFileSource(request.source);
        if (!opened || !src) return result;
        SourceInfo info;
        info.container = opened->Container();
        info.codec = opened->Codec();
        info.decodable = opened->Decodable();
        info.bits = AttributeNumber(*opened, attr::BitDepth);
        info.bit_rate = AttributeNumber(*opened, attr::BitRate);
        info.duration_ms = AttributeNumber(*opened, attr::MilliSecond);
        if (!info.decodable) return result;  // protected or unknown audio
        const std::optional<AtracFrames> atrac = FindAtracFrames(*src);

        // The codec to make: 0 lets the engine choose.
        int32_t codec = wanted_codec;
        if (codec == 0) {
            if (wanted_container == container::Wav)
                codec = codec::Pcm;
            else if (wanted_container == container::ThreeGp)
                codec = codec::AacLc;
            else if (wanted_container == container::Mp3)
                codec = codec::Mp3;
            else if (atrac)
                codec = atrac->codec;
            else
                return result;
        }

        WorkOutput output(request.work_folder);
        if (!output.valid()) return result;
        const int fd = output.fd();
        bool written = false;
        const bool atrac_target = codec == codec::Atrac3 || codec == codec::Atrac3Plus;
        const bool atrac_container =
            IsOpenMgContainer(wanted_container) || wanted_container == container::Wav;

        if (atrac_target && atrac_container) {
            if (atrac && atrac->codec == codec && SameAtracRate(request.bit_rate, atrac->bit_rate)) {
                AtracFrames stream = *atrac;
                AtracFileWriter writer(fd, wanted_container, stream);
                written = writer.Start() &&
                          ForEachFrame(
                              *src, stream,
                              [&](const std::vector<uint8_t>& frame) {
                                  return writer.Append(frame.data(), frame.size());
                              },
                              progress) &&
                          writer.Finish();
            } else {
                written = WriteThroughFrameEncoder(*src, info, fd, wanted_container, codec, request.bit_rate,
                                                   progress);
            }
        } else if (codec == codec::Pcm && wanted_container == container::Wav) {
            written = WritePcmWav(*src, info, fd, progress);
        } else if (codec == codec::Pcm && IsOpenMgContainer(wanted_container)) {
            written = WritePcmOpenMg(*src, info, fd, progress);
        } else if (codec == codec::AacLc && wanted_container == container::ThreeGp) {
            int32_t rate = request.bit_rate;
            if (rate == 0) rate = info.codec == codec::AacLc && info.bit_rate > 0 ? info.bit_rate : 128000;
            written = WriteEncoded(*src, info, fd, "3gp", "aac", rate, progress);
        } else if (codec == codec::Mp3 && wanted_container == container::Mp3) {
            int32_t rate = request.bit_rate;
            if (rate == 0) rate = info.codec == codec::Mp3 && info.bit_rate > 0 ? info.bit_rate : 192000;
            written = WriteEncoded(*src, info, fd, "mp3", "libmp3lame", rate, progress);
        }
        if (!written) return result;

        std::string base = request.source.stem().string();
        if (base.empty()) base = "converted";
        result.output = output.Publish(base, extension);
        if (result.output.empty()) return result;
        if (progress) progress(100);
        result.ok = true;
        result.format_code = request.format_code;
        return result;
    } catch (...) {
        return Result{};
    }
}

}  // namespace medialib::conversion
