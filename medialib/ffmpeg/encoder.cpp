#include "medialib/ffmpeg/encoder.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "medialib/ffmpeg/ffmpeg_raii.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

namespace medialib::ff {
namespace {

constexpr int kIoBufferSize = 1 << 16;

int WritePacket(void* opaque, uint8_t* buf, int size) {
    const int fd = *static_cast<int*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, buf + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return AVERROR(errno ? errno : EIO);
        done += static_cast<int>(n);
    }
    return size;
}

int64_t SeekFd(void* opaque, int64_t offset, int whence) {
    const int fd = *static_cast<int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        const off_t here = ::lseek(fd, 0, SEEK_CUR);
        const off_t end = ::lseek(fd, 0, SEEK_END);
        ::lseek(fd, here, SEEK_SET);
        return end;
    }
    const off_t pos = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return pos < 0 ? AVERROR(errno) : pos;
}

struct FifoDeleter {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

// The closest rate the encoder takes (its list, or any rate when it has none).
int ChooseRate(const AVCodec* codec, int wanted) {
    if (!codec->supported_samplerates) return wanted;
    int best = 0;
    for (const int* r = codec->supported_samplerates; *r; ++r) {
        const int diff = *r > wanted ? *r - wanted : wanted - *r;
        const int best_diff = best > wanted ? best - wanted : wanted - best;
        if (best == 0 || diff < best_diff) best = *r;
    }
    return best;
}

AVSampleFormat ChooseFormat(const AVCodec* codec) {
    if (!codec->sample_fmts) return AV_SAMPLE_FMT_FLTP;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == AV_SAMPLE_FMT_FLTP) return *f;
    }
    return codec->sample_fmts[0];
}

}  // namespace

struct EncodeWriter::Impl {
    int fd = -1;
    IoContextPtr io;
    AVFormatContext* format = nullptr;  // freed below (output contexts are not closed as input ones)
    CodecContextPtr codec;
    SwrPtr swr;
    std::unique_ptr<AVAudioFifo, FifoDeleter> fifo;
    FramePtr frame;
    PacketPtr packet;
    AVStream* stream = nullptr;
    int64_t next_pts = 0;
    int input_channels = 0;
    int input_rate = 0;
    bool header_written = false;

    ~Impl() {
        if (format) avformat_free_context(format);
    }

    bool Drain(bool flush) {
        for (;;) {
            const int rc = avcodec_receive_packet(codec.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) return false;
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int wrc = av_interleaved_write_frame(format, packet.get());
            av_packet_unref(packet.get());
            if (wrc < 0) return false;
        }
        (void)flush;
    }

    // Sends whole encoder frames from the FIFO (and the rest at the end).
    bool SendFrames(bool at_end) {
        const int frame_size = codec->frame_size > 0 ? codec->frame_size : 1024;
        while (av_audio_fifo_size(fifo.get()) >= frame_size ||
               (at_end && av_audio_fifo_size(fifo.get()) > 0)) {
            const int n = std::min(frame_size, av_audio_fifo_size(fifo.get()));
            av_frame_unref(frame.get());
            frame->nb_samples = n;
            frame->format = codec->sample_fmt;
            frame->sample_rate = codec->sample_rate;
            if (av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout) < 0) return false;
            if (av_frame_get_buffer(frame.get(), 0) < 0) return false;
            if (av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->data), n) != n) return false;
            frame->pts = next_pts;
            next_pts += n;
            if (avcodec_send_frame(codec.get(), frame.get()) < 0) return false;
            if (!Drain(false)) return false;
        }
        return true;
    }

    bool Convert(const float* interleaved, size_t frames) {
        const int out_max = swr_get_out_samples(swr.get(), static_cast<int>(frames));
        if (out_max < 0) return false;
        if (out_max == 0) return true;
        std::vector<uint8_t*> planes(static_cast<size_t>(codec->ch_layout.nb_channels), nullptr);
        uint8_t** data = nullptr;
        int linesize = 0;
        if (av_samples_alloc_array_and_samples(&data, &linesize, codec->ch_layout.nb_channels, out_max,
                                               codec->sample_fmt, 0) < 0)
            return false;
        const auto* in = reinterpret_cast<const uint8_t*>(interleaved);
        const int got = frames ? swr_convert(swr.get(), data, out_max, &in, static_cast<int>(frames))
                               : swr_convert(swr.get(), data, out_max, nullptr, 0);
        bool ok = got >= 0;
        if (ok && got > 0) ok = av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(data), got) == got;
        av_freep(&data[0]);
        av_freep(&data);
        return ok;
    }
};

EncodeWriter::EncodeWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
EncodeWriter::~EncodeWriter() = default;

std::unique_ptr<EncodeWriter> EncodeWriter::Open(int fd, const EncodeSettings& s) {
    if (s.input_rate <= 0 || s.input_channels <= 0 || s.input_channels > 8) return nullptr;
    const AVCodec* enc = avcodec_find_encoder_by_name(s.encoder);
    const AVOutputFormat* muxer = av_guess_format(s.muxer, nullptr, nullptr);
    if (!enc || !muxer) return nullptr;

    auto impl = std::make_unique<Impl>();
    impl->fd = fd;
    impl->input_channels = s.input_channels;
    impl->input_rate = s.input_rate;
    if (avformat_alloc_output_context2(&impl->format, muxer, nullptr, nullptr) < 0 || !impl->format)
        return nullptr;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (!buffer) return nullptr;
    impl->io.reset(avio_alloc_context(buffer, kIoBufferSize, 1, &impl->fd, nullptr, WritePacket, SeekFd));
    if (!impl->io) {
        av_free(buffer);
        return nullptr;
    }
    impl->format->pb = impl->io.get();
    impl->format->flags |= AVFMT_FLAG_CUSTOM_IO;

    impl->codec.reset(avcodec_alloc_context3(enc));
    if (!impl->codec) return nullptr;
    AVCodecContext* c = impl->codec.get();
    c->sample_rate = ChooseRate(enc, s.input_rate);
    c->sample_fmt = ChooseFormat(enc);
    av_channel_layout_default(&c->ch_layout, s.input_channels > 2 ? 2 : s.input_channels);
    c->bit_rate = s.bit_rate > 0 ? s.bit_rate : 0;
    c->time_base = AVRational{1, c->sample_rate};
    if (impl->format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(c, enc, nullptr) < 0) return nullptr;

    impl->stream = avformat_new_stream(impl->format, nullptr);
    if (!impl->stream || avcodec_parameters_from_context(impl->stream->codecpar, c) < 0) return nullptr;
    impl->stream->time_base = c->time_base;

    AVChannelLayout in_layout{};
    av_channel_layout_default(&in_layout, s.input_channels);
    SwrContext* swr = nullptr;
    const int rc = swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, c->sample_rate, &in_layout,
                                       AV_SAMPLE_FMT_FLT, s.input_rate, 0, nullptr);
    av_channel_layout_uninit(&in_layout);
    impl->swr.reset(swr);
    if (rc < 0 || swr_init(swr) < 0) return nullptr;
    impl->fifo.reset(av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, 4096));
    impl->frame = MakeFrame();
    impl->packet = MakePacket();
    if (!impl->fifo || !impl->frame || !impl->packet) return nullptr;
    if (avformat_write_header(impl->format, nullptr) < 0) return nullptr;
    impl->header_written = true;
    return std::unique_ptr<EncodeWriter>(new EncodeWriter(std::move(impl)));
}

bool EncodeWriter::Write(const float* interleaved, size_t frames) {
    if (frames == 0) return true;
    return impl_->Convert(interleaved, frames) && impl_->SendFrames(false);
}

bool EncodeWriter::Finish() {
    Impl& d = *impl_;
    if (!d.Convert(nullptr, 0) || !d.SendFrames(true)) return false;
    if (avcodec_send_frame(d.codec.get(), nullptr) < 0 || !d.Drain(true)) return false;
    if (av_write_trailer(d.format) < 0) return false;
    avio_flush(d.io.get());
    return d.io->error >= 0;
}

}  // namespace medialib::ff
