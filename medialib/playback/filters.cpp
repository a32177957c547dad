#include "medialib/playback/filters.h"

#include <algorithm>
#include <cstring>

#include "medialib/ffmpeg/demuxer.h"
#include "medialib/ffmpeg/ffmpeg_raii.h"
#include "platform/com/memory.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace medialib::playback {
namespace {

// The private packet type between Source and Decoder.
constexpr GUID kSubtypePackets = platform::MakeGuid("{9A3C7E11-5B0D-4E7A-8C61-2F4B7A9D0E10}");
constexpr GUID kFormatPackets = platform::MakeGuid("{9A3C7E11-5B0D-4E7A-8C61-2F4B7A9D0E11}");

struct PacketFormat {
    const AVCodecParameters* parameters;  // owned by the Source's demuxer
    AVRational time_base;
    // Timestamp of the first sample the stream presents (after the priming
    // that the decoder skips; e.g. an MP3 encoder's delay), in time_base.
    int64_t start_pts;
};

// A media sample holding one FFmpeg packet (its bytes are the sample's).
class PacketSample final : public platform::graph::MediaSample {
  public:
    static PacketSample* Adopt(ff::PacketPtr packet) {
        auto* s = new PacketSample();
        s->packet_ = std::move(packet);
        return s;
    }
    AVPacket* packet() const { return packet_.get(); }
    HRESULT GetPointer(BYTE** buffer) override {
        if (!buffer) return E_POINTER;
        *buffer = packet_->data;
        return S_OK;
    }
    LONG GetActualDataLength() override { return packet_->size; }

  private:
    ff::PacketPtr packet_;
};

AM_MEDIA_TYPE PcmType(int rate, int channels) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = static_cast<ULONG>(channels * 2);
    auto* wf = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    if (!wf) return mt;
    *wf = WAVEFORMATEX{WAVE_FORMAT_PCM,
                       static_cast<WORD>(channels),
                       static_cast<DWORD>(rate),
                       static_cast<DWORD>(rate * channels * 2),
                       static_cast<WORD>(channels * 2),
                       16,
                       0};
    mt.pbFormat = reinterpret_cast<BYTE*>(wf);
    mt.cbFormat = sizeof(WAVEFORMATEX);
    return mt;
}

constexpr int64_t kPrerollFrames = 4;

// FFmpeg's demuxer as the packet reader of every container the engine does
// not cut itself.
class FfmpegReader final : public PacketReader {
  public:
    FfmpegReader(const ByteSource& bytes, std::unique_ptr<ff::Demuxer> demuxer)
        : bytes_(bytes), demuxer_(std::move(demuxer)) {}

    const AVCodecParameters* Parameters() const override { return stream()->codecpar; }
    AVRational TimeBase() const override { return stream()->time_base; }
    int64_t StartPts() const override {
        return stream()->start_time != AV_NOPTS_VALUE ? stream()->start_time : 0;
    }

    bool Read(AVPacket* packet) override {
        while (av_read_frame(demuxer_->format(), packet) >= 0) {
            if (packet->stream_index == demuxer_->audio_stream()) return true;
            av_packet_unref(packet);
        }
        return false;
    }

    int64_t DurationMs() const override {
        const AVFormatContext* fmt = demuxer_->format();
        const AVStream* st = stream();
        if (st->duration > 0 && st->time_base.den > 0)
            return av_rescale_q(st->duration, st->time_base, {1, 1000});
        if (fmt->duration > 0) return av_rescale(fmt->duration, 1000, AV_TIME_BASE);
        return 0;
    }

    bool Seek(int64_t ms) override {
        if (ms <= 0) {
            // The very start: a fresh demuxer, so that priming packets before
            // the first timestamp (which a timestamp seek would skip) are read
            // again and the decode equals a first play.
            if (auto fresh = ff::Demuxer::Open(bytes_);
                fresh && fresh->audio_stream() == demuxer_->audio_stream()) {
                demuxer_ = std::move(fresh);
                return true;
            }
        }
        const int index = demuxer_->audio_stream();
        const AVStream* st = stream();
        // A few codec frames early: the decoder's state (overlap, filter
        // history, an MP3 bit reservoir) is rebuilt by the time the wanted
        // position comes, and the decoder filter drops the audio before it.
        const int frame = st->codecpar->frame_size > 0 ? st->codecpar->frame_size : 1152;
        const int64_t preroll_ms =
            av_rescale(kPrerollFrames * frame, 1000, std::max(st->codecpar->sample_rate, 1));
        int64_t ts = av_rescale_q(std::max<int64_t>(ms - preroll_ms, 0), {1, 1000}, st->time_base);
        if (st->start_time != AV_NOPTS_VALUE) ts += st->start_time;
        return av_seek_frame(demuxer_->format(), index, ts, AVSEEK_FLAG_BACKWARD) >= 0 ||
               av_seek_frame(demuxer_->format(), index, ts, AVSEEK_FLAG_ANY) >= 0;
    }

  private:
    const AVStream* stream() const { return demuxer_->format()->streams[demuxer_->audio_stream()]; }
    const ByteSource& bytes_;
    std::unique_ptr<ff::Demuxer> demuxer_;
};

}  // namespace

std::unique_ptr<PacketReader> OpenFfmpegReader(const ByteSource& bytes) {
    auto demuxer = ff::Demuxer::Open(bytes);
    if (!demuxer) return nullptr;
    return std::make_unique<FfmpegReader>(bytes, std::move(demuxer));
}

// ---------------------------------------------------------------- Source

Source* Source::Create(std::unique_ptr<ByteSource> bytes) {
    std::unique_ptr<PacketReader> reader = OpenOpenMgReader(*bytes);
    if (!reader) reader = OpenFfmpegReader(*bytes);
    if (!reader) return nullptr;
    auto* s = new Source();
    s->bytes_ = std::move(bytes);
    s->reader_ = std::move(reader);
    return s;
}

HRESULT Source::QueryExtra(REFIID riid, void** object) {
    if (riid != platform::graph::IStreamSource::iid) return E_NOINTERFACE;
    *object = static_cast<platform::graph::IStreamSource*>(this);
    AddRef();
    return S_OK;
}

bool Source::GetOutputType(platform::graph::Pin*, int index, AM_MEDIA_TYPE* mt) {
    if (index != 0) return false;
    *mt = AM_MEDIA_TYPE{};
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = kSubtypePackets;
    mt->formattype = kFormatPackets;
    auto* f = static_cast<PacketFormat*>(CoTaskMemAlloc(sizeof(PacketFormat)));
    if (!f) return false;
    *f = PacketFormat{reader_->Parameters(), reader_->TimeBase(), reader_->StartPts()};
    mt->pbFormat = reinterpret_cast<BYTE*>(f);
    mt->cbFormat = sizeof(PacketFormat);
    return true;
}

HRESULT Source::Produce() {
    ff::PacketPtr packet = at_end_ ? nullptr : ff::MakePacket();
    if (packet && reader_->Read(packet.get())) {
        auto* sample = PacketSample::Adopt(std::move(packet));
        const HRESULT hr = out_->Deliver(sample);
        sample->Release();
        return FAILED(hr) ? hr : S_OK;
    }
    at_end_ = true;
    out_->DeliverEndOfStream();
    ended_ = true;
    return S_FALSE;
}

int64_t Source::DurationMs() const { return reader_->DurationMs(); }

void Source::Seek(int64_t ms) {
    at_end_ = !reader_->Seek(ms);
    ended_ = false;
}

void Source::SeekToEnd() {
    at_end_ = true;
    ended_ = false;
}

// ---------------------------------------------------------------- Decoder

struct Decoder::Codec {
    ff::CodecContextPtr context;
    ff::SwrPtr swr;
    ff::FramePtr frame;
    AVRational time_base{1, 1};
    int64_t start_pts = 0;
    // What the resampler was built for; a frame that differs rebuilds it.
    int in_format = -1;
    int in_rate = 0;
    AVChannelLayout in_layout{};
    ~Codec() { av_channel_layout_uninit(&in_layout); }
};

Decoder* Decoder::Create(int rate, int channels) {
    if (rate <= 0 || channels <= 0 || channels > 64) return nullptr;
    return new Decoder(rate, channels);
}

Decoder::Decoder(int rate, int channels) : FilterBase(CLSID_PlayerDecoder), rate_(rate), channels_(channels) {
    in_ = AddPin(PINDIR_INPUT, u"In");
    out_ = AddPin(PINDIR_OUTPUT, u"Out");
}

Decoder::~Decoder() = default;

HRESULT Decoder::CheckInputType(platform::graph::Pin* pin, const AM_MEDIA_TYPE* mt) {
    if (pin != in_ || mt->subtype != kSubtypePackets || mt->formattype != kFormatPackets ||
        mt->cbFormat != sizeof(PacketFormat))
        return S_FALSE;
    const auto* f = reinterpret_cast<const PacketFormat*>(mt->pbFormat);
    return avcodec_find_decoder(f->parameters->codec_id) ? S_OK : S_FALSE;
}

bool Decoder::GetOutputType(platform::graph::Pin* pin, int index, AM_MEDIA_TYPE* mt) {
    if (pin != out_ || index != 0) return false;
    *mt = PcmType(rate_, channels_);
    return mt->pbFormat != nullptr;
}

void Decoder::OnConnected(platform::graph::Pin* pin) {
    if (pin != in_) return;
    AM_MEDIA_TYPE mt = in_->ConnectionType();
    const auto* f = reinterpret_cast<const PacketFormat*>(mt.pbFormat);
    auto codec = std::make_unique<Codec>();
    const AVCodec* decoder = avcodec_find_decoder(f->parameters->codec_id);
    codec->context.reset(avcodec_alloc_context3(decoder));
    codec->time_base = f->time_base;
    codec->start_pts = f->start_pts;
    codec->frame = ff::MakeFrame();
    if (codec->context && codec->frame &&
        avcodec_parameters_to_context(codec->context.get(), f->parameters) >= 0) {
        codec->context->pkt_timebase = f->time_base;
        if (avcodec_open2(codec->context.get(), decoder, nullptr) >= 0) codec_ = std::move(codec);
    }
    FreeMediaType(mt);
}

void Decoder::Flush(int64_t skip_to_ms) {
    if (codec_) {
        avcodec_flush_buffers(codec_->context.get());
        codec_->swr.reset();
        codec_->in_format = -1;
    }
    pending_.clear();
    ended_ = false;
    frames_out_ = 0;
    skip_to_ms_ = skip_to_ms;
}

HRESULT Decoder::OnReceive(platform::graph::Pin*, IMediaSample* sample) {
    auto* packet = dynamic_cast<PacketSample*>(sample);
    if (!packet || !codec_) return E_UNEXPECTED;
    // A damaged packet is dropped; decoding goes on with the next one.
    const int rc = avcodec_send_packet(codec_->context.get(), packet->packet());
    if (rc < 0 && rc != AVERROR(EAGAIN)) return S_OK;
    const HRESULT hr = DrainFrames();
    if (FAILED(hr) || hr == S_FALSE) return hr;
    return DeliverPending(false);
}

HRESULT Decoder::OnEndOfStream(platform::graph::Pin*) {
    if (codec_) {
        avcodec_send_packet(codec_->context.get(), nullptr);
        DrainFrames();
        avcodec_flush_buffers(codec_->context.get());  // the decoder can take packets again after a seek
    }
    const HRESULT hr = DeliverPending(true);
    if (hr != S_OK) return hr;
    // Every sample has passed downstream; set before the end goes on, so that
    // whoever hears of the completion already sees the stream as ended.
    ended_ = true;
    return out_->DeliverEndOfStream();
}

HRESULT Decoder::DrainFrames() {
    Codec& c = *codec_;
    AVFrame* frame = c.frame.get();
    while (avcodec_receive_frame(c.context.get(), frame) == 0) {
        const bool same_input = c.swr && frame->format == c.in_format && frame->sample_rate == c.in_rate &&
                                av_channel_layout_compare(&frame->ch_layout, &c.in_layout) == 0;
        if (!same_input) {
            // Same channel count: keep the stream's own layout, so nothing is remixed.
            AVChannelLayout out_layout{};
            if (frame->ch_layout.nb_channels == channels_)
                av_channel_layout_copy(&out_layout, &frame->ch_layout);
            else
                av_channel_layout_default(&out_layout, channels_);
            SwrContext* s = nullptr;
            const int rc = swr_alloc_set_opts2(&s, &out_layout, AV_SAMPLE_FMT_S16, rate_, &frame->ch_layout,
                                               static_cast<AVSampleFormat>(frame->format), frame->sample_rate,
                                               0, nullptr);
            av_channel_layout_uninit(&out_layout);
            c.swr.reset(s);
            if (rc < 0 || swr_init(c.swr.get()) < 0) {
                c.swr.reset();
                av_frame_unref(frame);
                return E_FAIL;
            }
            c.in_format = frame->format;
            c.in_rate = frame->sample_rate;
            av_channel_layout_uninit(&c.in_layout);
            av_channel_layout_copy(&c.in_layout, &frame->ch_layout);
        }
        const int max_out = swr_get_out_samples(c.swr.get(), frame->nb_samples);
        if (max_out < 0) {
            av_frame_unref(frame);
            return E_FAIL;
        }
        const size_t start = pending_.size();
        pending_.resize(start + static_cast<size_t>(max_out) * channels_);
        auto* dst = reinterpret_cast<uint8_t*>(pending_.data() + start);
        const int got = swr_convert(c.swr.get(), &dst, max_out,
                                    const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        pending_.resize(start + static_cast<size_t>(std::max(got, 0)) * channels_);
        // After a seek, audio before the wanted position is dropped.
        if (skip_to_ms_ >= 0 && got > 0) {
            const int64_t pts = frame->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE) {
                const int64_t at = av_rescale_q(pts, c.time_base, {1, rate_});
                // Position 0 is the stream's first presented sample.
                const int64_t want =
                    av_rescale(skip_to_ms_, rate_, 1000) + av_rescale_q(c.start_pts, c.time_base, {1, rate_});
                const int64_t drop = std::min<int64_t>(std::max<int64_t>(want - at, 0), got);
                pending_.erase(pending_.begin() + static_cast<ptrdiff_t>(start),
                               pending_.begin() + static_cast<ptrdiff_t>(start + drop * channels_));
                if (drop < got) skip_to_ms_ = -1;
            } else {
                skip_to_ms_ = -1;
            }
        }
        av_frame_unref(frame);
    }
    return S_OK;
}

HRESULT Decoder::DeliverPending(bool all) {
    const size_t per_sample = static_cast<size_t>(kFramesPerSample) * channels_;
    size_t offset = 0;
    HRESULT hr = S_OK;
    while (hr == S_OK && (pending_.size() - offset >= per_sample || (all && pending_.size() > offset))) {
        const size_t count = std::min(per_sample, pending_.size() - offset);
        auto* sample = platform::graph::MediaSample::Create(count * sizeof(int16_t));
        std::memcpy(sample->buffer().data(), pending_.data() + offset, count * sizeof(int16_t));
        sample->SetActualDataLength(static_cast<LONG>(count * sizeof(int16_t)));
        const int64_t frames = static_cast<int64_t>(count) / channels_;
        REFERENCE_TIME start = frames_out_ * kUnitsPerSecond / rate_;
        REFERENCE_TIME end = (frames_out_ + frames) * kUnitsPerSecond / rate_;
        sample->SetTime(&start, &end);
        frames_out_ += frames;
        offset += count;
        hr = out_->Deliver(sample);
        sample->Release();
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(offset));
    return hr;
}

// ---------------------------------------------------------------- AudioOutput

HRESULT AudioOutput::CheckInputType(platform::graph::Pin*, const AM_MEDIA_TYPE* mt) {
    if (mt->majortype != MEDIATYPE_Audio || mt->subtype != MEDIASUBTYPE_PCM ||
        mt->formattype != FORMAT_WaveFormatEx || mt->cbFormat < sizeof(WAVEFORMATEX))
        return S_FALSE;
    return S_OK;
}

}  // namespace medialib::playback
