#include "medialib/ffmpeg/probe.h"

#include "medialib/ffmpeg/demuxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace medialib::ff {
namespace {

constexpr int kMaxSbrCoreRate = 24000;

AudioCodec Classify(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_MP3:
            return AudioCodec::Mp3;
        case AV_CODEC_ID_MP1:
        case AV_CODEC_ID_MP2:
            return AudioCodec::MpegLayer12;
        case AV_CODEC_ID_AAC:
            return AudioCodec::Aac;
        case AV_CODEC_ID_ATRAC3:
            return AudioCodec::Atrac3;
        case AV_CODEC_ID_ATRAC3P:
            return AudioCodec::Atrac3Plus;
        case AV_CODEC_ID_ATRAC3AL:
            return AudioCodec::Atrac3Al;
        case AV_CODEC_ID_ATRAC3PAL:
            return AudioCodec::Atrac3PlusAl;
        default:
            break;
    }
    if (id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT) return AudioCodec::Pcm;  // PCM block
    return AudioCodec::Unknown;
}

// The first audio object type of an AudioSpecificConfig: 5 (SBR) and 29 (PS)
// mark explicitly signalled HE-AAC (v1/v2). FFmpeg only fills the profile when
// its decoder could open the stream, so the config is read here directly.
bool SignalsSbrOrPs(const AVCodecParameters* par) {
    if (!par->extradata || par->extradata_size < 2) return false;
    const uint8_t* d = par->extradata;
    int aot = d[0] >> 3;
    if (aot == 31) aot = 32 + (((d[0] & 7) << 3) | (d[1] >> 5));
    return aot == 5 || aot == 29;
}

// Whether the AudioSpecificConfig is plain AAC-LC whose only extension, if
// any, says that SBR is absent (FFmpeg's own encoder writes that extension).
// Anything else may turn on SBR where the reported rate does not show it.
bool ConfigRulesOutSbr(const AVCodecParameters* par) {
    if (!par->extradata || par->extradata_size < 2) return false;
    const uint8_t* d = par->extradata;
    const size_t bits = static_cast<size_t>(par->extradata_size) * 8;
    size_t at = 0;
    auto get = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++at) v = (v << 1) | ((d[at / 8] >> (7 - at % 8)) & 1);
        return v;
    };
    auto left = [&] { return bits - at; };
    if (get(5) != 2) return false;              // AAC-LC
    if (get(4) == 15 && left() >= 24) get(24);  // an explicit rate
    if (left() < 4 + 3) return false;
    get(4);                         // channel configuration
    if (get(3) != 0) return false;  // 1024 frames, no core coder, no extension flag
    if (left() < 16) return true;   // no sync extension
    if (get(11) != 0x2B7 || get(5) != 5 || left() < 1) return false;
    return get(1) == 0;  // sbrPresentFlag
}

// AAC with implicit SBR (or PS) says "LC" in its AudioSpecificConfig; only the
// decoder finds the extension in the bit stream, and then reports a doubled
// output rate or a second channel for a mono core. Decode a few packets to see.
void DetectImplicitSbr(AVFormatContext* fmt, int stream, StreamInfo& info) {
    const AVCodecParameters* par = fmt->streams[stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return;
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), par) < 0 ||
        avcodec_open2(ctx.get(), codec, nullptr) < 0)
        return;
    PacketPtr pkt = MakePacket();
    FramePtr frame = MakeFrame();
    if (!pkt || !frame) return;
    for (int packets = 0; packets < 8 && av_read_frame(fmt, pkt.get()) >= 0;) {
        const bool ours = pkt->stream_index == stream;
        if (ours) {
            ++packets;
            avcodec_send_packet(ctx.get(), pkt.get());
        }
        av_packet_unref(pkt.get());
        if (!ours) continue;
        if (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
            if (frame->sample_rate > par->sample_rate ||
                frame->ch_layout.nb_channels > par->ch_layout.nb_channels) {
                info.he_aac = true;
                info.sample_rate = frame->sample_rate;
                info.channels = frame->ch_layout.nb_channels;
            }
            return;
        }
    }
}

}  // namespace

bool ProbeStream(const ByteSource& source, StreamInfo& info, const char* format_name, ProbeChecks checks) {
    info = StreamInfo{};
    std::unique_ptr<Demuxer> demuxer = Demuxer::Open(source, format_name);
    if (!demuxer) return false;
    AVFormatContext* fmt = demuxer->format();
    const AVStream* st = fmt->streams[demuxer->audio_stream()];
    const AVCodecParameters* par = st->codecpar;

    info.codec = Classify(par->codec_id);
    info.codec_name = avcodec_get_name(par->codec_id);
    info.format_name = fmt->iformat && fmt->iformat->name ? fmt->iformat->name : "";
    info.sample_rate = par->sample_rate > 0 ? par->sample_rate : 0;
    info.channels = par->ch_layout.nb_channels > 0 ? par->ch_layout.nb_channels : 0;
    if (info.codec == AudioCodec::Pcm) {
        info.bits_per_sample = par->bits_per_coded_sample > 0 ? par->bits_per_coded_sample
                                                              : av_get_bits_per_sample(par->codec_id);
    }

    if (st->duration > 0 && st->time_base.den > 0) {
        info.duration_ms = av_rescale_q(st->duration, st->time_base, AVRational{1, 1000});
    } else if (fmt->duration > 0) {
        info.duration_ms = av_rescale(fmt->duration, 1000, AV_TIME_BASE);
    }
    info.bit_rate = par->bit_rate > 0 ? par->bit_rate : 0;
    if (info.bit_rate == 0 && fmt->bit_rate > 0) info.bit_rate = fmt->bit_rate;

    if (info.codec == AudioCodec::Aac) {
        info.he_aac =
            par->profile == FF_PROFILE_AAC_HE || par->profile == FF_PROFILE_AAC_HE_V2 || SignalsSbrOrPs(par);
        // Implicit SBR doubles a core rate of at most 24 kHz; a faster core
        // plays at its own rate, and decoding packets to see that is waste.
        // A config longer than the plain two bytes may carry a backward-
        // compatible extension that says SBR is present (FFmpeg then reports
        // the doubled rate already): only the decoder tells what plays.
        const bool sbr_possible =
            par->sample_rate <= kMaxSbrCoreRate || !ConfigRulesOutSbr(par) || checks == ProbeChecks::All;
        if (!info.he_aac && sbr_possible) DetectImplicitSbr(fmt, demuxer->audio_stream(), info);
    }
    return info.sample_rate > 0 && info.channels > 0;
}

}  // namespace medialib::ff
