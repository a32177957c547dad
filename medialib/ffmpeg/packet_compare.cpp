#include "medialib/ffmpeg/packet_compare.h"

#include <cstring>

#include "medialib/ffmpeg/demuxer.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace medialib::ff {
namespace {

// The next packet of the audio stream: 1 read, 0 end of stream, -1 failure.
int NextAudioPacket(const Demuxer& demuxer, AVPacket* packet) {
    for (;;) {
        av_packet_unref(packet);
        const int r = av_read_frame(demuxer.format(), packet);
        if (r == AVERROR_EOF) return 0;
        if (r < 0) return -1;
        if (packet->stream_index == demuxer.audio_stream()) return 1;
    }
}

bool SamePacket(const AVPacket* a, const AVPacket* b) {
    return a->pts == b->pts && a->dts == b->dts && a->duration == b->duration && a->flags == b->flags &&
           a->size == b->size &&
           (a->size == 0 || std::memcmp(a->data, b->data, static_cast<size_t>(a->size)) == 0);
}

}  // namespace

bool SameAudioPackets(const ByteSource& a, const ByteSource& b, const char* format_name) {
    const std::unique_ptr<Demuxer> first = Demuxer::Open(a, format_name);
    const std::unique_ptr<Demuxer> second = Demuxer::Open(b, format_name);
    if (!first || !second) return false;
    const PacketPtr pa = MakePacket();
    const PacketPtr pb = MakePacket();
    if (!pa || !pb) return false;
    for (;;) {
        const int ra = NextAudioPacket(*first, pa.get());
        const int rb = NextAudioPacket(*second, pb.get());
        if (ra < 0 || rb < 0 || ra != rb) return false;
        if (ra == 0) return true;
        if (!SamePacket(pa.get(), pb.get())) return false;
    }
}

}  // namespace medialib::ff
