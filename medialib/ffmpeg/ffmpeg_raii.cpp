#include "medialib/ffmpeg/ffmpeg_raii.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

namespace medialib::ff {

void FormatContextDeleter::operator()(AVFormatContext* p) const { avformat_close_input(&p); }
void CodecContextDeleter::operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
void PacketDeleter::operator()(AVPacket* p) const { av_packet_free(&p); }
void FrameDeleter::operator()(AVFrame* p) const { av_frame_free(&p); }
void SwrDeleter::operator()(SwrContext* p) const { swr_free(&p); }
void IoContextDeleter::operator()(AVIOContext* p) const {
    if (!p) return;
    av_freep(&p->buffer);  // avio may have replaced the buffer it was given
    avio_context_free(&p);
}

PacketPtr MakePacket() { return PacketPtr(av_packet_alloc()); }
FramePtr MakeFrame() { return FramePtr(av_frame_alloc()); }

}  // namespace medialib::ff
