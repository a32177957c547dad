#include "medialib/ffmpeg/decoder.h"

#include "medialib/ffmpeg/demuxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace medialib::ff {

struct AudioDecoder::Impl {
    std::unique_ptr<Demuxer> demuxer;
    CodecContextPtr codec;
    SwrPtr swr;
    PacketPtr packet;
    FramePtr frame;
    int stream = -1;
    int rate = 0;
    int channels = 0;
    bool input_done = false;
    // The frame format the converter was set up for. A stream may change it
    // part-way (MPEG frames of another layout or rate after a join, implicit
    // SBR/PS); the converter is then rebuilt for the new input and keeps
    // producing the output format the stream was opened with.
    int swr_rate = 0;
    int swr_format = -1;
    AVChannelLayout swr_layout{};

    ~Impl() { av_channel_layout_uninit(&swr_layout); }

    bool SameInput(const AVFrame& f) const {
        return f.sample_rate == swr_rate && f.format == swr_format &&
               av_channel_layout_compare(&f.ch_layout, &swr_layout) == 0;
    }

    // Runs the converter and appends what it gives to `out`; a null `in`
    // flushes the samples it still holds.
    bool Run(std::vector<float>& out, const uint8_t** in, int in_samples) {
        const int max_out = swr_get_out_samples(swr.get(), in_samples);
        if (max_out < 0) return false;
        if (max_out == 0) return true;
        const size_t start = out.size();
        out.resize(start + static_cast<size_t>(max_out) * static_cast<size_t>(channels));
        auto* dst = reinterpret_cast<uint8_t*>(out.data() + start);
        const int got = swr_convert(swr.get(), &dst, max_out, in, in_samples);
        if (got < 0) {
            out.resize(start);
            return false;
        }
        out.resize(start + static_cast<size_t>(got) * static_cast<size_t>(channels));
        return true;
    }

    void ResetConverter() {
        swr.reset();
        av_channel_layout_uninit(&swr_layout);
        swr_rate = 0;
        swr_format = -1;
    }

    bool Convert(std::vector<float>& out) {
        if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0 || frame->nb_samples < 0)
            return false;
        if (swr && !SameInput(*frame)) {
            // What the old converter still buffers belongs before this frame.
            if (!Run(out, nullptr, 0)) return false;
            ResetConverter();
        }
        if (!swr) {
            AVChannelLayout out_layout{};
            av_channel_layout_default(&out_layout, channels);
            SwrContext* s = nullptr;
            const int rc = swr_alloc_set_opts2(&s, &out_layout, AV_SAMPLE_FMT_FLT, rate, &frame->ch_layout,
                                               static_cast<AVSampleFormat>(frame->format), frame->sample_rate,
                                               0, nullptr);
            av_channel_layout_uninit(&out_layout);
            swr.reset(s);
            if (rc < 0 || swr_init(swr.get()) < 0) {
                swr.reset();
                return false;
            }
            if (av_channel_layout_copy(&swr_layout, &frame->ch_layout) < 0) {
                ResetConverter();
                return false;
            }
            swr_rate = frame->sample_rate;
            swr_format = frame->format;
        }
        return Run(out, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    }
};

AudioDecoder::AudioDecoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
AudioDecoder::~AudioDecoder() = default;

std::unique_ptr<AudioDecoder> AudioDecoder::Open(const ByteSource& source) {
    auto impl = std::make_unique<Impl>();
    impl->demuxer = Demuxer::Open(source);
    if (!impl->demuxer) return nullptr;
    impl->stream = impl->demuxer->audio_stream();
    const AVCodecParameters* par = impl->demuxer->format()->streams[impl->stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return nullptr;
    impl->codec.reset(avcodec_alloc_context3(codec));
    if (!impl->codec || avcodec_parameters_to_context(impl->codec.get(), par) < 0 ||
        avcodec_open2(impl->codec.get(), codec, nullptr) < 0)
        return nullptr;
    impl->packet = MakePacket();
    impl->frame = MakeFrame();
    if (!impl->packet || !impl->frame) return nullptr;
    impl->rate = par->sample_rate;
    impl->channels = par->ch_layout.nb_channels;
    if (impl->rate <= 0 || impl->channels <= 0 || impl->channels > 64) return nullptr;
    return std::unique_ptr<AudioDecoder>(new AudioDecoder(std::move(impl)));
}

int AudioDecoder::sample_rate() const { return impl_->rate; }
int AudioDecoder::channels() const { return impl_->channels; }

bool AudioDecoder::Next(std::vector<float>& out) {
    Impl& d = *impl_;
    for (;;) {
        const int rc = avcodec_receive_frame(d.codec.get(), d.frame.get());
        if (rc == 0) {
            // A stream whose layout or rate changes mid-way keeps the channel
            // count and rate it was opened with; the converter mixes to them.
            const bool ok = d.Convert(out);
            av_frame_unref(d.frame.get());
            if (!ok) return false;
            return true;
        }
        if (rc == AVERROR_EOF) return false;
        if (rc != AVERROR(EAGAIN)) return false;
        if (d.input_done) return false;
        const int read = av_read_frame(d.demuxer->format(), d.packet.get());
        if (read < 0) {
            d.input_done = true;
            avcodec_send_packet(d.codec.get(), nullptr);  // drain
            continue;
        }
        if (d.packet->stream_index == d.stream) {
            // A damaged packet is dropped; decoding goes on with the next one.
            avcodec_send_packet(d.codec.get(), d.packet.get());
        }
        av_packet_unref(d.packet.get());
    }
}

bool AudioDecoder::Seek(double seconds) {
    Impl& d = *impl_;
    const AVStream* st = d.demuxer->format()->streams[d.stream];
    const int64_t ts = av_rescale_q(static_cast<int64_t>(seconds * AV_TIME_BASE), AVRational{1, AV_TIME_BASE},
                                    st->time_base);
    if (av_seek_frame(d.demuxer->format(), d.stream, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(d.codec.get());
    d.ResetConverter();
    d.input_done = false;
    return true;
}

std::optional<DecodedAudio> DecodeAll(const ByteSource& source, size_t max_frames) {
    std::unique_ptr<AudioDecoder> dec = AudioDecoder::Open(source);
    if (!dec) return std::nullopt;
    DecodedAudio audio;
    audio.sample_rate = dec->sample_rate();
    audio.channels = dec->channels();
    const size_t limit = max_frames * static_cast<size_t>(audio.channels);
    while (audio.samples.size() < limit && dec->Next(audio.samples)) {
    }
    if (audio.samples.size() > limit) audio.samples.resize(limit);
    return audio;
}

}  // namespace medialib::ff
